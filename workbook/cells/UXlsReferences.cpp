#include "workbook/cells/UXlsReferences.h"

#include <algorithm>

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr std::uint16_t LocalMark = 0x0401;
constexpr std::uint16_t AddInMark = 0x3A01;
constexpr std::size_t EntrySize = 6;

// Path codes of an encoded book name.
constexpr char16_t PathVolume = 1, PathSameVolume = 2, PathDownDir = 3, PathUpDir = 4;

// The size of the BIFF8 string (2-byte count) at pos; -1 when it does not
// lie wholly inside the data.
std::int64_t StringSizeAt(std::span<const std::uint8_t> data, std::size_t pos) {
    try {
        const std::int64_t size = GetStrLen(true, data, pos);
        return size <= static_cast<std::int64_t>(data.size() - pos) ? size : -1;
    } catch (const Exception&) {
        return -1;
    }
}

bool IsMarked(const std::vector<std::uint8_t>& data, std::uint16_t mark) {
    return data.size() == 4 && GetWord(data, 2) == mark;
}

std::vector<std::uint8_t> CheckedSupBook(std::vector<std::uint8_t> data) {
    if (data.size() < 4) Raise(ErrWrongExcelRecord, xlr_SUPBOOK);
    if (IsMarked(data, LocalMark) || IsMarked(data, AddInMark)) return data;
    // The book name, then one string per sheet.
    std::size_t pos = 2;
    for (int i = 0; i <= GetWord(data, 0); ++i) {
        const std::int64_t size = pos < data.size() ? StringSizeAt(data, pos) : -1;
        if (size < 0) Raise(ErrWrongExcelRecord, xlr_SUPBOOK);
        pos += static_cast<std::size_t>(size);
    }
    return data;
}

std::vector<std::uint8_t> CheckedExternName(std::uint16_t id, std::vector<std::uint8_t> data) {
    if (data.size() < 8 || 8 + static_cast<std::size_t>(data[6]) * ((data[7] & 1) ? 2 : 1) > data.size())
        Raise(ErrWrongExcelRecord, id);
    return data;
}

std::vector<std::uint8_t> LocalSupBookData(std::uint16_t sheetCount) {
    std::vector<std::uint8_t> data(4);
    SetWord(data, 0, sheetCount);
    SetWord(data, 2, LocalMark);
    return data;
}

void AppendSeparator(std::u16string& path) {
    if (path.empty() || path.back() != u'\\') path += u'\\';
}

// An encoded path: volume, separators and up-levels become their texts.
// A separator right after one already written is not doubled.
std::u16string DecodePath(std::u16string_view code) {
    std::u16string path;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char16_t c = code[i];
        if (c == PathVolume) {
            if (i + 1 >= code.size()) continue;
            const char16_t volume = code[++i];
            if (volume == u'@') path += u"\\\\";
            else path += std::u16string{volume, u':', u'\\'};
        } else if (c == PathSameVolume || c == PathDownDir) {
            AppendSeparator(path);
        } else if (c == PathUpDir) {
            path += u"..\\";
        } else {
            path += c;
        }
    }
    return path;
}

std::u16string Quoted(std::u16string_view text) {
    std::u16string quoted = u"'";
    for (char16_t c : text) {
        quoted += c;
        if (c == u'\'') quoted += c;
    }
    return quoted + u"'!";
}

bool IsSheet(std::uint16_t sheet) { return sheet < WholeBookSheet; }

// An entry of the local book after count sheets are inserted at before, or
// -count deleted from there. A deleted end moves to the nearest surviving
// sheet of its span; only an entry that loses all its sheets is deleted.
TExternRef Shifted(TExternRef entry, int before, int count) {
    auto& first = entry.FirstSheet;
    auto& last = entry.LastSheet;
    if (count < 0) {
        const int after = before - count;  // the first sheet behind the deleted block
        auto deleted = [&](std::uint16_t s) { return IsSheet(s) && s >= before && s < after; };
        const bool firstGone = deleted(first), lastGone = deleted(last);
        if (firstGone && lastGone) {
            first = last = DeletedSheet;
        } else if (firstGone) {
            first = IsSheet(last) && last >= after ? static_cast<std::uint16_t>(after) : DeletedSheet;
        } else if (lastGone) {
            last = IsSheet(first) && first < before ? static_cast<std::uint16_t>(before - 1) : DeletedSheet;
        }
    }
    for (std::uint16_t* sheet : {&first, &last})
        if (IsSheet(*sheet) && *sheet >= before)
            *sheet = static_cast<std::uint16_t>(std::min(*sheet + count, MaxSheetIndex));
    return entry;
}

}  // namespace

// ---------------------------------------------------------------------------
// EXTERNNAME and SUPBOOK

TExternNameRecord::TExternNameRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedExternName(id, std::move(data))) {}

std::u16string TExternNameRecord::Name() const {
    std::u16string text;
    std::int64_t size = 0;
    GetSimpleString(false, Data, 7, true, NameLength(), text, size);
    return text;
}

TSupBookRecord::TSupBookRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedSupBook(std::move(data))) {}

TSupBookRecord::TSupBookRecord(std::uint16_t sheetCount) : TRecordOf(xlr_SUPBOOK, LocalSupBookData(sheetCount)) {}

bool TSupBookRecord::IsLocal() const { return IsMarked(Data, LocalMark); }

bool TSupBookRecord::IsAddIn() const { return IsMarked(Data, AddInMark); }

void TSupBookRecord::InsertSheets(int count) {
    if (!IsLocal()) Raise(ErrExcelInvalid);
    IncWord(Data, 0, count, MaxSheetIndex);
}

void TSupBookRecord::AddExternName(std::unique_ptr<TExternNameRecord> name) {
    FExternNames.push_back(name.get());
    FFollowing.Add(std::move(name));
}

void TSupBookRecord::AddCachedValues(std::unique_ptr<TBaseRecord> record) { FFollowing.Add(std::move(record)); }

std::u16string TSupBookRecord::SheetName(int index, const TReferencesBook& book) const {
    if (index < 0 || index >= SheetCount() || IsAddIn()) return {};
    if (IsLocal()) return index < book.SheetCount() ? book.SheetName(index) : std::u16string();
    // Checked on load: the book name and every sheet name lie in the data.
    std::size_t pos = 2;
    for (int i = 0; i <= index; ++i) pos += static_cast<std::size_t>(GetStrLen(true, Data, pos));
    std::u16string text;
    std::int64_t size = 0;
    GetSimpleString(true, Data, pos, false, 0, text, size);
    return text;
}

std::u16string TSupBookRecord::BookName() const {
    if (IsLocal() || IsAddIn()) return {};
    std::u16string name;
    std::int64_t size = 0;
    GetSimpleString(true, Data, 2, false, 0, name, size);
    if (name.empty() || name[0] == 0 || name[0] == PathSameVolume) return {};
    if (name[0] == PathVolume) return DecodePath(std::u16string_view(name).substr(1));
    return name;
}

std::unique_ptr<TBaseRecord> TSupBookRecord::DoCopyTo() const {
    auto copy = TRecordOf::DoCopyTo();
    auto& book = static_cast<TSupBookRecord&>(*copy);
    for (std::size_t i = 0; i < FFollowing.Count(); ++i) {
        auto record = FFollowing.GetItems(i)->CopyTo();
        if (record->Id == xlr_EXTERNNAME || record->Id == xlr_EXTERNNAME2)
            book.FExternNames.push_back(static_cast<const TExternNameRecord*>(record.get()));
        book.FFollowing.Add(std::move(record));
    }
    return copy;
}

void TSupBookRecord::SaveToStream(TOle2File& ole) const {
    TRecordOf::SaveToStream(ole);
    FFollowing.SaveToStream(ole);
}

std::int64_t TSupBookRecord::TotalSize() const { return TRecordOf::TotalSize() + FFollowing.GetTotalSize(); }

std::int64_t TSupBookRecord::TotalSizeNoHeaders() const {
    std::int64_t size = TRecordOf::TotalSizeNoHeaders();
    for (std::size_t i = 0; i < FFollowing.Count(); ++i) size += FFollowing.GetItems(i)->TotalSizeNoHeaders();
    return size;
}

// ---------------------------------------------------------------------------
// EXTERNSHEET entries

void TExternRefList::Load(const TExternSheetRecord& record) {
    const TBaseRecord* at = &record;
    int pos = 0;
    std::uint8_t bytes[EntrySize];
    ReadMem(at, pos, 2, bytes);
    const std::size_t count = GetWord(bytes, 0);
    if (FRefs.size() + count > MaxCount) Raise(ErrTooManyEntries, FRefs.size() + count, MaxCount);
    std::vector<TExternRef> entries;
    entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        ReadMem(at, pos, EntrySize, bytes);
        entries.push_back({GetWord(bytes, 0), GetWord(bytes, 2), GetWord(bytes, 4)});
    }
    FRefs.insert(FRefs.end(), entries.begin(), entries.end());
}

int TExternRefList::Add(const TExternRef& entry) {
    if (FRefs.size() >= MaxCount) Raise(ErrTooManyEntries, FRefs.size() + 1, MaxCount);
    FRefs.push_back(entry);
    return static_cast<int>(FRefs.size() - 1);
}

void TExternRefList::InsertSheets(int first, int count, int localSupBook) {
    for (TExternRef& entry : FRefs)
        if (entry.SupBook == localSupBook) entry = Shifted(entry, first, count);
}

void TExternRefList::Truncate(std::size_t count) {
    if (count < FRefs.size()) FRefs.resize(count);
}

// Every record but the last holds PerRecord entries; the first starts with
// the whole count, the CONTINUE records that follow carry none.
std::int64_t TExternRefList::Layout(TOle2File* ole) const {
    std::int64_t size = 0;
    for (std::size_t first = 0; first < FRefs.size(); first += PerRecord) {
        const std::size_t entries = std::min(PerRecord, FRefs.size() - first);
        const std::size_t countSize = first == 0 ? 2 : 0;
        size += 4 + static_cast<std::int64_t>(countSize + entries * EntrySize);
        if (!ole) continue;
        ole->WriteHeader(first == 0 ? xlr_EXTERNSHEET : xlr_CONTINUE,
                         static_cast<std::uint16_t>(countSize + entries * EntrySize));
        if (first == 0) ole->Write16(static_cast<std::uint16_t>(FRefs.size()));
        for (std::size_t i = first; i < first + entries; ++i) {
            ole->Write16(FRefs[i].SupBook);
            ole->Write16(FRefs[i].FirstSheet);
            ole->Write16(FRefs[i].LastSheet);
        }
    }
    return size;
}

// ---------------------------------------------------------------------------
// The references

void TReferences::Clear() {
    FSupBooks.Clear();
    FExternRefs.Clear();
    FLocalSupBook = -1;
}

void TReferences::AddSupBook(std::unique_ptr<TSupBookRecord> record) {
    const bool local = record->IsLocal();
    FSupBooks.Add(std::move(record));
    if (local) FLocalSupBook = static_cast<int>(FSupBooks.Count() - 1);
}

void TReferences::AddExternName(std::unique_ptr<TExternNameRecord> record) {
    if (FSupBooks.Count() == 0) Raise(ErrExcelInvalid);
    TSupBookRecord& last = *FSupBooks.GetItems(FSupBooks.Count() - 1);
    FSupBooks.Resize(last, [&] { last.AddExternName(std::move(record)); });
}

void TReferences::AddCachedValues(std::unique_ptr<TBaseRecord> record) {
    if (FSupBooks.Count() == 0) return;
    TSupBookRecord& last = *FSupBooks.GetItems(FSupBooks.Count() - 1);
    FSupBooks.Resize(last, [&] { last.AddCachedValues(std::move(record)); });
}

const TSupBookRecord* TReferences::SupBookOf(const TExternRef& entry) const {
    return entry.SupBook < FSupBooks.Count() ? FSupBooks.GetItems(entry.SupBook) : nullptr;
}

int TReferences::GetSheet(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FExternRefs.Count()) return -1;
    const TExternRef& entry = FExternRefs[static_cast<std::size_t>(index)];
    if (FLocalSupBook < 0 || entry.SupBook != FLocalSupBook || entry.FirstSheet != entry.LastSheet) return -1;
    const bool inBook = IsSheet(entry.FirstSheet) && entry.FirstSheet < FSupBooks.GetItems(entry.SupBook)->SheetCount();
    return inBook ? entry.FirstSheet : -1;
}

bool TReferences::IsLocalEntry(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= FExternRefs.Count() || FLocalSupBook < 0) return false;
    return FExternRefs[static_cast<std::size_t>(index)].SupBook == FLocalSupBook;
}

int TReferences::AddSheet(int sheetCount, int firstSheet, int lastSheet) {
    const auto first = static_cast<std::uint16_t>(firstSheet), last = static_cast<std::uint16_t>(lastSheet);
    if (FLocalSupBook >= 0) {
        const TExternRef wanted{static_cast<std::uint16_t>(FLocalSupBook), first, last};
        const auto& refs = FExternRefs.Items();
        const auto found = std::find(refs.begin(), refs.end(), wanted);
        if (found != refs.end()) return static_cast<int>(found - refs.begin());
        return FExternRefs.Add(wanted);
    }
    // A new local SUPBOOK goes last, so no entry read from the file can
    // point at it; its index must fit an entry, and the entry the list.
    if (FSupBooks.Count() >= TExternRefList::MaxCount)
        Raise(ErrTooManyEntries, FSupBooks.Count() + 1, TExternRefList::MaxCount);
    if (FExternRefs.Count() >= TExternRefList::MaxCount)
        Raise(ErrTooManyEntries, FExternRefs.Count() + 1, TExternRefList::MaxCount);
    AddSupBook(std::make_unique<TSupBookRecord>(static_cast<std::uint16_t>(sheetCount)));
    return FExternRefs.Add({static_cast<std::uint16_t>(FLocalSupBook), first, last});
}

std::u16string TReferences::GetSheetName(int index, const TReferencesBook& book) const {
    const auto count = static_cast<long long>(FExternRefs.Count());
    if (index < 0 || index >= count) Raise(ErrXlsIndexOutBounds, index, "Sheet Reference", 0, count);
    const TExternRef& entry = FExternRefs[static_cast<std::size_t>(index)];
    const TSupBookRecord* supBook = SupBookOf(entry);
    if (!supBook) return {};
    std::u16string text = supBook->SheetName(entry.FirstSheet, book);
    if (text.empty()) return {};
    if (entry.LastSheet != entry.FirstSheet) {
        const std::u16string last = supBook->SheetName(entry.LastSheet, book);
        if (last.empty()) return {};
        text += u':' + last;
    }
    const std::u16string bookName = supBook->BookName();
    if (!bookName.empty()) {
        const std::size_t split = bookName.find_last_of(u"\\:");
        const std::size_t folder = split == std::u16string::npos ? 0 : split + 1;
        text = bookName.substr(0, folder) + u'[' + bookName.substr(folder) + u']' + text;
    }
    return Quoted(text);
}

std::u16string TReferences::GetName(int externSheet, int nameIndex, const TReferencesBook& book) const {
    const TSupBookRecord* supBook = nullptr;
    if (externSheet >= 0) {
        const auto count = static_cast<long long>(FExternRefs.Count());
        if (externSheet >= count) Raise(ErrXlsIndexOutBounds, externSheet, "Sheet Reference", 0, count - 1);
        supBook = SupBookOf(FExternRefs[static_cast<std::size_t>(externSheet)]);
    }
    const bool local = externSheet < 0 || (supBook && supBook->IsLocal());
    // An entry whose SUPBOOK is outside the list has no names.
    const std::size_t count = local ? book.DefinedNames().Count() : supBook ? supBook->ExternNameCount() : 0;
    if (nameIndex < 0 || static_cast<std::size_t>(nameIndex) >= count)
        Raise(ErrXlsIndexOutBounds, nameIndex, "Name Index", 0, static_cast<long long>(count) - 1);
    const auto i = static_cast<std::size_t>(nameIndex);
    if (!local) return supBook->ExternName(i).Name();
    const TNameRecord& name = *book.DefinedNames().GetItems(i);
    return name.Data.empty() ? std::u16string() : name.Name();
}

void TReferences::InsertSheets(int before, int count, const std::function<void()>& change) {
    const TReferencesMark mark = Mark();
    const std::vector<TExternRef> entries = FExternRefs.Items();
    const int local = FLocalSupBook;
    // The count is checked (and refused) before any entry moves.
    if (local >= 0) FSupBooks.GetItems(static_cast<std::size_t>(local))->InsertSheets(count);
    FExternRefs.InsertSheets(before, count, local);
    if (!change) return;
    try {
        change();
    } catch (...) {
        Restore(mark);
        FExternRefs.Assign(entries);
        if (local >= 0) FSupBooks.GetItems(static_cast<std::size_t>(local))->InsertSheets(-count);
        throw;
    }
}

TReferencesMark TReferences::Mark() const {
    return {static_cast<int>(FExternRefs.Count()), static_cast<int>(FSupBooks.Count())};
}

void TReferences::Restore(const TReferencesMark& mark) {
    FExternRefs.Truncate(static_cast<std::size_t>(std::max(mark.ExternRefs, 0)));
    while (FSupBooks.Count() > static_cast<std::size_t>(std::max(mark.SupBooks, 0)))
        FSupBooks.Delete(FSupBooks.Count() - 1);
    if (FLocalSupBook < static_cast<int>(FSupBooks.Count())) return;
    FLocalSupBook = -1;
    for (std::size_t i = 0; i < FSupBooks.Count(); ++i)
        if (FSupBooks.GetItems(i)->IsLocal()) FLocalSupBook = static_cast<int>(i);
}

void TReferences::SaveToStream(TOle2File& ole) const {
    FSupBooks.SaveToStream(ole);
    FExternRefs.SaveToStream(ole);
}

}  // namespace kalmira
