#include "workbook/storage/UXlsWorkbookGlobals.h"

#include "workbook/cells/UXlsFormulaParser.h"

#include <algorithm>

#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/Uxlsclientdata.h"
#include "workbook/storage/Uxlsstrings.h"

namespace kalmira {

namespace {

// Bits 0-1 of BOUNDSHEET's option byte: 0 visible, 1 hidden, 2 very hidden.
constexpr std::uint8_t VisibilityBits = 0x03;

std::vector<std::uint8_t> CheckedBoundSheet(std::vector<std::uint8_t> data) {
    if (data.size() < 8 || GetStrLen(false, data, 6) > static_cast<std::int64_t>(data.size()) - 6)
        Raise(ErrWrongExcelRecord, xlr_BOUNDSHEET);
    return data;
}

std::vector<std::uint8_t> BoundSheetData(std::uint32_t offset, std::uint16_t optionFlags, std::u16string_view name) {
    std::vector<std::uint8_t> data(6);
    SetLongWord(data, 0, offset);
    SetWord(data, 4, optionFlags);
    TExcelString(1, false, name).AppendTo(data, true);
    return data;
}

template <class T>
std::unique_ptr<T> Cast(std::unique_ptr<TBaseRecord>& record) {
    return std::unique_ptr<T>(static_cast<T*>(record.release()));
}

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A "." is allowed after the first character (Sales.2020), as spreadsheets
// allow it; the first character must be at least "A" anyway.
bool Forbidden(char16_t c) {
    return (c <= 47 && c != u'.') || (c >= 58 && c <= 62) || c == 64 || c == u'{' || c == u'}' || c == u'[' ||
           c == u']' || c == u'~' || c == 160 || (c >= 127 && c <= 191 && c != 181);
}

bool AllDigits(std::u16string_view text) { return std::all_of(text.begin(), text.end(), IsDigit); }

// A name of the sheet with the upper-cased text; a name without data has none.
bool SameName(const TNameRecord& name, int sheet, const std::u16string& upper) {
    return !name.Data.empty() && name.RangeSheet() == sheet && WideUpperCase98(name.Name()) == upper;
}

}  // namespace

// ---------------------------------------------------------------------------
// BOUNDSHEET and the sheet directory

TBoundSheetRecord::TBoundSheetRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedBoundSheet(std::move(data))) {}

TBoundSheetRecord::TBoundSheetRecord(std::uint16_t optionFlags, std::u16string_view name)
    : TRecordOf(xlr_BOUNDSHEET, BoundSheetData(0, optionFlags, name)) {}

std::u16string TBoundSheetRecord::GetSheetName() const {
    std::u16string text;
    std::int64_t size = 0;
    GetSimpleString(false, Data, 6, false, 0, text, size);
    return text;
}

void TBoundSheetRecord::SetSheetName(std::u16string_view name) {
    Data = BoundSheetData(GetOffset(), GetOptionFlags(), name);
}

void TBoundSheetList::Add(std::unique_ptr<TBoundSheetRecord> record) {
    FSheetNames.AddAsRead(record->GetSheetName());
    FBoundSheets.Add(std::move(record));
}

void TBoundSheetList::InsertSheet(int beforeSheet, std::uint16_t optionFlags, std::u16string_view name) {
    auto record = std::make_unique<TBoundSheetRecord>(optionFlags, u"");
    const std::u16string unique = FSheetNames.AddUniqueName(name);
    record->SetSheetName(unique);
    FBoundSheets.Insert(static_cast<std::size_t>(beforeSheet), std::move(record));
}

void TBoundSheetList::DeleteSheet(int index) {
    FSheetNames.DeleteSheet(Sheet(index).GetSheetName());
    FBoundSheets.Delete(static_cast<std::size_t>(index));
}

void TBoundSheetList::SetSheetName(int index, std::u16string_view name) {
    TBoundSheetRecord& record = Sheet(index);
    const std::u16string valid = TSheetNameList::MakeValidSheetName(name);
    FSheetNames.Rename(record.GetSheetName(), valid);
    FBoundSheets.Resize(record, [&] { record.SetSheetName(valid); });
}

void TBoundSheetList::Clear() {
    FSheetNames.Clear();
    FBoundSheets.Clear();
}

int TBoundSheetList::FindSheet(std::u16string_view name) const {
    const std::u16string upper = WideUpperCase98(name);
    for (int i = 0; i < Count(); ++i)
        if (WideUpperCase98(Sheet(i).GetSheetName()) == upper) return i;
    return -1;
}

// ---------------------------------------------------------------------------
// Loading and saving

TWorkbookGlobals::~TWorkbookGlobals() = default;

void TWorkbookGlobals::Clear() {
    TBaseSection::Clear();
    FSST.Clear();
    FReferences.Clear();
    FBoundSheets.Clear();
    FRecords.Clear();
    FNames.Clear();
    FDrawingGroup.Clear();
    FWindow1 = nullptr;
    F1904 = nullptr;
    FBookBool = nullptr;
    FPrecision = nullptr;
    FXF.Clear();
    FFonts.Clear();
    FFormats.Clear();
    FPalette = nullptr;
    FPaletteIndex = 0;
    FHasMacro = false;
    FDrawingsDropped = false;
    FIsXltTemplate = false;
    FCodeName.clear();
}

namespace {

// Hands the drawing group only its own records.
class TGroupRecordSource : public TSectionRecordSource {
public:
    using TSectionRecordSource::TSectionRecordSource;
    std::unique_ptr<TBaseRecord> Next() override {
        return FHeader.Id == xlr_MSODRAWINGGROUP ? TSectionRecordSource::Next() : nullptr;
    }
};

}  // namespace

void TWorkbookGlobals::LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                                      TSST&) {
    Clear();
    RegisterFormulaRecords();
    RegisterRecordClass(xlr_BOUNDSHEET, MakeRecord<TBoundSheetRecord>);
    RegisterRecordClass(xlr_SUPBOOK, MakeRecord<TSupBookRecord>);
    RegisterRecordClass(xlr_EXTERNNAME, MakeRecord<TExternNameRecord>);
    RegisterRecordClass(xlr_EXTERNNAME2, MakeRecord<TExternNameRecord>);
    RegisterRecordClass(xlr_EXTERNSHEET, MakeRecord<TExternSheetRecord>);
    std::uint16_t id;
    do {
        id = header.Id;
        auto record = LoadRecords(ole, header);
        if (id == xlr_MSODRAWINGGROUP) {
            LoadDrawingGroup(ole, header, std::move(record));
        } else {
            Dispatch(std::move(record));
        }
    } while (id != xlr_EOF);
    FBOF = std::move(first);
}

// A damaged drawing group costs the drawings, never the workbook: it is
// dropped with the group records after it, and the sheets drop theirs.
// The group reads only its own records, so no other is lost with it.
void TWorkbookGlobals::LoadDrawingGroup(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBaseRecord> record) {
    if (!FDrawingsDropped) {
        TGroupRecordSource source(ole, header);
        const std::int64_t left = source.StreamLeft();
        try {
            return FDrawingGroup.LoadFromStream(std::move(record), source, left);
        } catch (const Exception&) {
            FDrawingGroup.Clear();
            FDrawingsDropped = true;
        }
    }
    while (header.Id == xlr_MSODRAWINGGROUP || header.Id == xlr_CONTINUE) LoadRecords(ole, header);
}

// The record is freed when anything here fails before a list owns it.
void TWorkbookGlobals::Dispatch(std::unique_ptr<TBaseRecord> record) {
    const std::uint16_t id = record->Id;
    TBaseRecordList* typed = id == xlr_XF     ? static_cast<TBaseRecordList*>(&FXF)
                             : id == xlr_FONT   ? static_cast<TBaseRecordList*>(&FFonts)
                             : id == xlr_FORMAT ? static_cast<TBaseRecordList*>(&FFormats)
                                                : nullptr;
    // Number formats go before the XFs even when the file has none yet, so
    // that formats added later are written where they are counted. A
    // FORMAT after the first XF finds its place made already.
    const bool formatsPlaced = id == xlr_FORMAT && FXF.Count() > 0;
    if (id == xlr_XF && FXF.Count() == 0 && FFormats.Count() == 0)
        FRecords.Add(std::make_unique<TSubListRecord>(&FFormats));
    if (typed && typed->Count() == 0 && !formatsPlaced) FRecords.Add(std::make_unique<TSubListRecord>(typed));
    if (id == xlr_PALETTE) FPalette = static_cast<TPaletteRecord*>(record.get());
    if (id == xlr_OBPROJ) FHasMacro = true;
    if (id == xlr_CODENAME) FCodeName = static_cast<TCodeNameRecord&>(*record).GetSheetName();
    if (typed) typed->Add(std::move(record));
    else Take(std::move(record));
    if (id == xlr_XF || id == xlr_STYLE) FPaletteIndex = FRecords.Count();
}

void TWorkbookGlobals::Take(std::unique_ptr<TBaseRecord> record) {
    switch (record->Id) {
        case xlr_BOF: Raise(ErrExcelInvalid);
        case xlr_BOUNDSHEET: return FBoundSheets.Add(Cast<TBoundSheetRecord>(record));
        case xlr_NAME: return FNames.Add(Cast<TNameRecord>(record));
        case xlr_EOF: FEOF = Cast<TEOFRecord>(record); return;
        case xlr_SST: FSST.Load(static_cast<TSSTRecord&>(*record)); return;
        case xlr_SUPBOOK: return FReferences.AddSupBook(Cast<TSupBookRecord>(record));
        case xlr_EXTERNNAME:
        case xlr_EXTERNNAME2: return FReferences.AddExternName(Cast<TExternNameRecord>(record));
        case xlr_XCT:
        case xlr_CRN: return FReferences.AddCachedValues(std::move(record));
        case xlr_EXTERNSHEET: return FReferences.AddExternRef(static_cast<TExternSheetRecord&>(*record));
        case xlr_WINDOW1: FWindow1 = static_cast<TWindow1Record*>(record.get()); break;
        case xlr_DATEMODE: F1904 = static_cast<T1904Record*>(record.get()); break;
        case xlr_BOOKBOOL: FBookBool = static_cast<TBookBoolRecord*>(record.get()); break;
        case xlr_PRECISION: FPrecision = static_cast<TPrecisionRecord*>(record.get()); break;
        case xlr_TEMPLATE: FIsXltTemplate = true; return;
        default:
            if (record->Is(rkIgnore)) return;
    }
    FRecords.Add(std::move(record));
}

void TWorkbookGlobals::SaveSections(TOle2File& ole, int sheetIndex) {
    if (!FBOF || !FEOF) Raise(ErrSectionNotLoaded);
    if (sheetIndex >= 0) CheckSheet(sheetIndex);
    FBOF->SaveToStream(ole);
    if (FIsXltTemplate) TTemplateRecord::SaveNewRecord(ole);
    FRecords.SaveToStream(ole);
    FBoundSheetsAt = ole.Position();
    if (sheetIndex >= 0) FBoundSheets.SaveRangeToStream(ole, sheetIndex);
    else FBoundSheets.SaveToStream(ole);
    FReferences.SaveToStream(ole);
    FNames.SaveToStream(ole);
    if (sheetIndex < 0) FDrawingGroup.SaveToStream(ole);
    FSST.SaveToStream(ole);
    FEOF->SaveToStream(ole);
}

void TWorkbookGlobals::SaveToStream(TOle2File& ole) { SaveSections(ole, -1); }

void TWorkbookGlobals::SaveRangeToStream(TOle2File& ole, int sheetIndex, const TXlsCellRange&) {
    if (sheetIndex < 0) CheckSheet(sheetIndex);
    SaveSections(ole, sheetIndex);
}

std::int64_t TWorkbookGlobals::SizeWithout(bool drawingGroup) const {
    return TBaseSection::TotalSize() + TTemplateRecord::GetSize(FIsXltTemplate) + FSST.TotalSize() +
           FReferences.TotalSize() + FRecords.GetTotalSize() + FNames.GetTotalSize() +
           (drawingGroup ? FDrawingGroup.TotalSize() : 0) + FXF.GetTotalSize() + FFonts.GetTotalSize() +
           FFormats.GetTotalSize();
}

std::int64_t TWorkbookGlobals::TotalSize() const { return SizeWithout(true) + FBoundSheets.TotalSize(); }

std::int64_t TWorkbookGlobals::TotalRangeSize(int sheetIndex, const TXlsCellRange&) const {
    CheckSheet(sheetIndex);
    return SizeWithout(false) + FBoundSheets.TotalRangeSize(sheetIndex);
}

// ---------------------------------------------------------------------------
// The sheet directory

void TWorkbookGlobals::CheckSheet(int index) const {
    if (index < 0 || index >= GetSheetCount()) Raise(ErrInvalidSheetNo, index, 0, GetSheetCount() - 1);
}

std::u16string TWorkbookGlobals::GetSheetName(int index) const {
    CheckSheet(index);
    return FBoundSheets.Sheet(index).GetSheetName();
}

void TWorkbookGlobals::SetSheetName(int index, std::u16string_view name) {
    CheckSheet(index);
    FBoundSheets.SetSheetName(index, name);
}

// Only bits 0-1 of the option byte say how a sheet shows; the other bits
// are reserved and kept as read. The state 3 has no meaning and shows.
TXlsSheetVisible TWorkbookGlobals::GetSheetVisible(int index) const {
    switch (GetSheetOptionFlags(index) & VisibilityBits) {
        case 1: return TXlsSheetVisible::sv_Hidden;
        case 2: return TXlsSheetVisible::sv_VeryHidden;
        default: return TXlsSheetVisible::sv_Visible;
    }
}

void TWorkbookGlobals::SetSheetVisible(int index, TXlsSheetVisible value) {
    CheckSheet(index);
    const std::uint8_t state = value == TXlsSheetVisible::sv_Hidden       ? 1
                               : value == TXlsSheetVisible::sv_VeryHidden ? 2
                                                                          : 0;
    std::uint8_t& options = FBoundSheets.Sheet(index).Data[4];
    options = static_cast<std::uint8_t>((options & ~VisibilityBits) | state);
}

std::uint16_t TWorkbookGlobals::GetSheetOptionFlags(int index) const {
    CheckSheet(index);
    return FBoundSheets.Sheet(index).GetOptionFlags();
}

std::uint32_t TWorkbookGlobals::GetSheetOffset(int index) const {
    CheckSheet(index);
    return FBoundSheets.Sheet(index).GetOffset();
}

void TWorkbookGlobals::SheetSetOffset(int index, std::uint32_t offset) {
    CheckSheet(index);
    FBoundSheets.Sheet(index).SetOffset(offset);
}

void TWorkbookGlobals::PatchSheetOffsets(TOle2File& ole, const std::vector<std::uint32_t>& offsets) {
    Assert(offsets.size() == static_cast<std::size_t>(GetSheetCount()), "UXlsWorkbookGlobals", "an offset per sheet");
    std::int64_t at = FBoundSheetsAt;
    for (int i = 0; i < GetSheetCount(); ++i) {
        TBoundSheetRecord& sheet = FBoundSheets.Sheet(i);
        sheet.SetOffset(offsets[static_cast<std::size_t>(i)]);
        ole.Patch(at + 4, sheet.Data.data(), 4);  // the offset leads the record's data
        at += sheet.TotalSize();
    }
}

// ---------------------------------------------------------------------------
// Settings and palette

int TWorkbookGlobals::GetActivesheet() const { return FWindow1 ? FWindow1->GetActiveSheet() : 0; }

void TWorkbookGlobals::SetActiveSheet(int sheet) {
    if (FWindow1) FWindow1->SetActiveSheet(static_cast<std::uint16_t>(sheet));
}

int TWorkbookGlobals::GetFirstSheetVisible() const { return FWindow1 ? FWindow1->GetFirstSheetVisible() : 0; }

void TWorkbookGlobals::SetFirstSheetVisible(int sheet) {
    if (FWindow1) FWindow1->SetFirstSheetVisible(static_cast<std::uint16_t>(sheet));
}

bool TWorkbookGlobals::GetIs1904() const { return F1904 && F1904->GetIs1904(); }

void TWorkbookGlobals::SetIs1904(bool value) {
    if (F1904) F1904->SetIs1904(value);
}

bool TWorkbookGlobals::GetPrecisionAsDisplayed() const { return FPrecision && FPrecision->GetPrecisionAsDisplayed(); }

void TWorkbookGlobals::SetPrecisionAsDisplayed(bool value) {
    if (FPrecision) FPrecision->SetPrecisionAsDisplayed(value);
}

bool TWorkbookGlobals::GetSaveExternalLinkValues() const {
    return FBookBool && FBookBool->GetSaveExternalLinkValues();
}

void TWorkbookGlobals::SetSaveExternalLinkValues(bool value) {
    if (FBookBool) FBookBool->SetSaveExternalLinkValues(value);
}

std::uint32_t TWorkbookGlobals::GetColorPalette(int index) const {
    return FPalette ? FPalette->GetColor(index) : StandardPalette(index);
}

void TWorkbookGlobals::SetColorPalette(int index, std::uint32_t color) {
    if (FPalette) return FPalette->SetColor(index, color);
    auto palette = std::make_unique<TPaletteRecord>();
    palette->SetColor(index, color);
    FPalette = palette.get();
    FRecords.Insert(std::min(FPaletteIndex, FRecords.Count()), std::move(palette));
}

// ---------------------------------------------------------------------------
// Sheets, rows and columns

TSheetInfo TWorkbookGlobals::SheetInfo(int insSheet, int formulaSheet, int sheetCount) {
    TSheetInfo info;
    info.InsSheet = insSheet;
    info.FormulaSheet = formulaSheet;
    info.GetSheet = [this](std::uint16_t index) { return FReferences.GetSheet(index); };
    info.SetSheet = [this, sheetCount](std::uint16_t sheet) {
        return static_cast<std::uint16_t>(FReferences.SetSheet(sheet, sheetCount));
    };
    return info;
}

void TWorkbookGlobals::InsertSheets(int copyFrom, int beforeSheet, int sheetCount, std::u16string_view name,
                                   std::uint16_t optionFlags) {
    if (sheetCount < 1) Raise(ErrXlsIndexOutBounds, sheetCount, "SheetCount", 1, 65535);
    if (beforeSheet < 0 || beforeSheet > GetSheetCount()) Raise(ErrInvalidSheetNo, beforeSheet, 0, GetSheetCount());
    // The names see the references moved; when they refuse, the references
    // go back. The directory cannot fail once checked, so it comes last.
    const int source = copyFrom < beforeSheet ? copyFrom : copyFrom + sheetCount;
    const TSheetInfo info = SheetInfo(-1, source, GetSheetCount() + sheetCount);
    FReferences.InsertSheets(beforeSheet, sheetCount,
                             [&] { FNames.InsertSheets(copyFrom, beforeSheet, info, sheetCount); });
    for (int i = 0; i < sheetCount; ++i) FBoundSheets.InsertSheet(beforeSheet, optionFlags, name);
}

void TWorkbookGlobals::DeleteSheets(int firstSheet, int sheetCount) {
    if (sheetCount < 1) return;
    if (FHasMacro) Raise(ErrCantDeleteSheetWithMacros);
    if (firstSheet < 0 || firstSheet > GetSheetCount() - sheetCount)
        Raise(ErrInvalidSheetNo, firstSheet < 0 ? firstSheet : static_cast<long long>(firstSheet) + sheetCount - 1, 0,
              GetSheetCount() - 1);
    const TNameRenumbering renumbering = NamesAfterDeletingSheets(firstSheet, sheetCount);
    FReferences.InsertSheets(firstSheet, -sheetCount,
                             [&] { FNames.DeleteSheets(firstSheet, sheetCount, renumbering); });
    for (int i = 0; i < sheetCount; ++i) FBoundSheets.DeleteSheet(firstSheet);
}

TNameRenumbering TWorkbookGlobals::NamesAfterDeletingSheets(int firstSheet, int sheetCount) {
    return {FNames.IndexesAfterDeletingSheets(firstSheet, sheetCount),
            [this](std::uint16_t index) { return FReferences.IsLocalEntry(index); }};
}

void TWorkbookGlobals::InsertAndCopyRowsAndCols(int firstRow, int lastRow, int destRow, int rowCount, int firstCol,
                                                int lastCol, int destCol, int colCount, const TSheetInfo& info) {
    FNames.ArrangeInsertRowsAndCols(destRow, (lastRow - firstRow + 1) * rowCount, destCol,
                                    (lastCol - firstCol + 1) * colCount, info);
}

void TWorkbookGlobals::DeleteRowsAndCols(int row, int rowCount, int col, int colCount, const TSheetInfo& info) {
    FNames.ArrangeInsertRowsAndCols(row, -rowCount, col, -colCount, info);
}

// ---------------------------------------------------------------------------
// The cell storage's access

std::u16string TWorkbookGlobals::TAccess::GetSheetName(int externSheet) const {
    return G.FReferences.GetSheetName(externSheet, *this);
}

std::u16string TWorkbookGlobals::TAccess::GetName(int externSheet, int nameIndex) const {
    return G.FReferences.GetName(externSheet, nameIndex, *this);
}

int TWorkbookGlobals::TAccess::AddExternSheet(int firstSheet, int lastSheet) {
    G.CheckSheet(firstSheet);
    G.CheckSheet(lastSheet);
    return G.FReferences.AddSheet(G.GetSheetCount(), firstSheet, lastSheet);
}

// ---------------------------------------------------------------------------
// Defined names

bool TWorkbookGlobals::IsValidRangeName(std::u16string_view name, std::uint16_t& optionFlags) {
    if (name.empty() || name.size() > 254) return false;
    if (name == u"R" || name == u"r") return false;
    if (name.size() == 1 && name[0] < 14) {
        optionFlags |= NameBuiltIn;
        return true;
    }
    if (std::any_of(name.begin(), name.end(), Forbidden)) return false;
    if (name[0] < u'A') return false;
    if (!IsLetter(name[0])) return true;
    if (name.size() == 1) return true;
    if (!IsLetter(name[1])) return !AllDigits(name.substr(1));
    if (name.size() == 2) return true;
    return !AllDigits(name.substr(2));
}

void TWorkbookGlobals::AddName(const TXlsNamedRange& range) {
    if (range.RangeFormula.empty()) return AddName(range, {});
    TParseString parse(range.RangeFormula, FAccess, true, std::max(range.NameSheetIndex, 0), TFmReturnType::fmRef);
    parse.Parse();
    try {
        AddName(range, parse.Tokens());
    } catch (...) {
        parse.TakeBack();
        throw;
    }
}

void TWorkbookGlobals::AddName(const TXlsNamedRange& range, std::span<const std::uint8_t> tokens) {
    // A name of a sheet the workbook lacks would be dropped or refused by
    // every reader of the file.
    if (range.NameSheetIndex >= 0) CheckSheet(range.NameSheetIndex);
    TXlsNamedRange named = range;
    const bool valid = IsValidRangeName(named.Name, named.OptionFlags);
    const std::u16string upper = WideUpperCase98(named.Name);
    const int sheet = named.NameSheetIndex < 0 ? -1 : named.NameSheetIndex;
    for (std::size_t i = 0; i < FNames.Count(); ++i) {
        if (SameName(*FNames.GetItems(i), sheet, upper)) {
            FNames.SetItems(i, std::make_unique<TNameRecord>(named, tokens));
            return;
        }
    }
    if (!valid) Raise(ErrInvalidNameForARange, named.Name);
    auto record = std::make_unique<TNameRecord>(named, tokens);
    if (named.OptionFlags & NameBuiltIn) {
        for (std::size_t i = FRecords.Count(); i-- > 0;)
            if (FRecords.GetItems(i) && FRecords.GetItems(i)->Id == xlr_COUNTRY) {
                FRecords.Delete(i);
                break;
            }
    }
    FNames.Add(std::move(record));
}

TNameRecord* TWorkbookGlobals::GetName(int sheetIndex, std::u16string_view name) const {
    const std::u16string upper = WideUpperCase98(name);
    const int sheet = sheetIndex < 0 ? -1 : sheetIndex;
    for (std::size_t i = FNames.Count(); i-- > 0;) {
        if (SameName(*FNames.GetItems(i), sheet, upper)) return FNames.GetItems(i);
    }
    return nullptr;
}

}  // namespace kalmira
