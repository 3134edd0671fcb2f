#include "workbook/storage/UXlsWorkbook.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlsotherrecords.h"

namespace kalmira {

namespace {

// A block of first..last copied copies times to dest must stay on the
// sheet (0..max); the products are taken in 64 bits.
void CheckCopyArguments(int first, int last, int dest, int copies, int max) {
    const long long block = static_cast<long long>(last) - first + 1;
    if (last < first || first < 0 || last > max || (first < dest && dest <= last) || copies < 0 || dest < 0 ||
        block * copies + dest > max)
        Raise(ErrBadCopyRows);
}

// The trailing run of digits of a sheet name, cut: the base and its number
// (-1 for none). A character at or above U+00FF stops the cut.
std::pair<std::u16string, long long> SplitTrailingNumber(const std::u16string& name) {
    std::size_t cut = name.size();
    while (cut > 0 && name[cut - 1] >= u'0' && name[cut - 1] <= u'9' && name.size() - cut < 18) --cut;
    if (cut == name.size()) return {name, -1};
    long long number = 0;
    for (std::size_t i = cut; i < name.size(); ++i) number = number * 10 + (name[i] - u'0');
    return {name.substr(0, cut), number};
}

std::u16string NumberText(long long number) {
    const std::string text = std::to_string(number);
    return std::u16string(text.begin(), text.end());
}

}  // namespace

TWorkbook::TWorkbook() : FGlobals(std::make_unique<TWorkbookGlobals>()) {}

TWorkbook::~TWorkbook() {
    FGlobals->SST().Abandon();
    FSheets.Clear();
}

// ---------------------------------------------------------------------------
// Loading

namespace {

std::unique_ptr<TBOFRecord> LoadBOF(TOle2File& ole, TRecordHeader& header) {
    auto record = LoadRecords(ole, header);
    return std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(record.release()));
}

}  // namespace

void TWorkbook::LoadGlobals(TOle2File& ole, TRecordHeader& header) {
    if (header.Id != xlr_BOF) Raise(ErrExcelInvalid);
    auto bof = LoadBOF(ole, header);
    if (bof->GetBOFType() != BOFGlobals) Raise(ErrExcelInvalid);
    FGlobals->LoadFromStream(ole, header, std::move(bof), FGlobals->SST());
}

namespace {

std::atomic<unsigned> LoadThreads{0};
std::atomic<std::int64_t> SmallestSection{256 * 1024};

// The processors this process may run on (a process pinned to one, or a
// container given a few, has fewer than the machine).
unsigned Processors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned ThreadsForLoad() {
    const unsigned set = LoadThreads.load(std::memory_order_relaxed);
    return set != 0 ? set : Processors();
}

}  // namespace

void TWorkbook::SetLoadThreads(unsigned threads, std::int64_t smallestSection) {
    LoadThreads.store(threads, std::memory_order_relaxed);
    SmallestSection.store(smallestSection, std::memory_order_relaxed);
}

// The sections are read in stream order; each goes to the sheet whose
// BOUNDSHEET gives its start, so sheets stay with their names whatever
// order the sections come in. Between sections only a stray EOF may
// stand; the zeros that pad the stream end it.
void TWorkbook::LoadSheets(TOle2File& ole, TRecordHeader& header) {
    FLoadedSideBySide = false;
    if (header.Id == xlr_BOF) {
        const std::int64_t first = ole.Position() - 4;
        if ((FLoadedSideBySide = LoadSheetsSideBySide(ole, header))) return;
        ole.Seek(first);
        ReadRecordHeader(ole, header);
    }
    const int named = FGlobals->GetSheetCount();
    std::map<std::int64_t, int> sheetAt;
    for (int i = 0; i < named; ++i)
        if (!sheetAt.emplace(FGlobals->GetSheetOffset(i), i).second) Raise(ErrExcelInvalid);  // one section, two sheets
    std::vector<std::unique_ptr<TSheet>> sheets(static_cast<std::size_t>(named));
    while (!ole.NextEof(3) && header.Id != 0) {
        const std::int64_t start = ole.Position() - 4;  // the header is read
        if (header.Id == xlr_EOF) {
            LoadRecords(ole, header);
            continue;
        }
        const auto at = sheetAt.find(start);
        if (header.Id != xlr_BOF || at == sheetAt.end()) Raise(ErrExcelInvalid);
        auto& slot = sheets[static_cast<std::size_t>(at->second)];
        auto bof = LoadBOF(ole, header);
        if (bof->GetBOFType() == BOFGlobals || slot) Raise(ErrExcelInvalid);
        slot = NewSheetOfType(FGlobals.get(), bof->GetBOFType());
        slot->LoadFromStream(ole, header, std::move(bof), FGlobals->SST());
    }
    // Offsets are laid out per BOUNDSHEET: every one needs its sheet.
    for (auto& sheet : sheets) {
        if (!sheet) Raise(ErrExcelInvalid);
        FSheets.Add(std::move(sheet));
    }
}

namespace {
// A section that must not load beside others.
struct TLoadAlone {};
}  // namespace

// Worksheets whose sections follow each other from the read position on
// load on threads of their own, each through its own reader of the
// stream, which ends where the next section starts. The string table's
// counts are gathered per thread and made once all are done; what the
// sheets' drawings change in the drawing group is gathered per sheet and
// made in stream order. The record classes are registered before. Anything
// else (another kind of sheet, a gap between sections, small sections, a
// drawing dropped, any failure) gives false with nothing kept, and the
// sheets load one after the other, with that load's messages.
bool TWorkbook::LoadSheetsSideBySide(TOle2File& ole, TRecordHeader& header) {
    const int named = FGlobals->GetSheetCount();
    const unsigned threads = std::min<unsigned>(ThreadsForLoad(), static_cast<unsigned>(std::max(named, 0)));
    if (named < 2 || threads < 2) return false;
    struct TSection {
        std::int64_t Start = 0, End = 0;
        int Sheet = 0;
        TDrawingGroupChanges Drawings;
        std::unique_ptr<TSheet> Loaded;
    };
    std::vector<TSection> sections(static_cast<std::size_t>(named));
    for (int i = 0; i < named; ++i) {
        sections[static_cast<std::size_t>(i)].Start = FGlobals->GetSheetOffset(i);
        sections[static_cast<std::size_t>(i)].Sheet = i;
    }
    std::sort(sections.begin(), sections.end(), [](const TSection& a, const TSection& b) { return a.Start < b.Start; });
    const std::int64_t length = ole.Length();
    if (sections.front().Start != ole.Position() - 4) return false;
    for (std::size_t k = 0; k < sections.size(); ++k) {
        sections[k].End = k + 1 < sections.size() ? sections[k + 1].Start : length;
        if (sections[k].End - sections[k].Start < std::max<std::int64_t>(SmallestSection.load(std::memory_order_relaxed), 8))
            return false;
    }
    // Each a worksheet, by its BOF. The caller's reader is free to move:
    // whatever this gives, it is set again before it reads on.
    for (const TSection& section : sections) {
        std::uint8_t bof[8];
        ole.Seek(section.Start);
        ole.ReadMem(bof, sizeof bof);  // inside the stream: each section is longer
        if (GetWord(bof, 0) != xlr_BOF || GetWord(bof, 2) < 4 || GetWord(bof, 6) != BOFWorksheet) return false;
    }

    RegisterWorksheetRecordClasses();
    TSST& sst = FGlobals->SST();
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::unique_ptr<TSST::TDeferredRefs>> gathered(threads);
    // Sections in turn until none is left or one failed; a section ends
    // with its EOF, right where the next begins (the last: anywhere).
    auto work = [&](unsigned worker) noexcept {
        try {
            gathered[worker] = std::make_unique<TSST::TDeferredRefs>(sst);
            for (std::size_t k; !failed.load(std::memory_order_relaxed) && (k = next++) < sections.size();) {
                TSection& section = sections[k];
                // The sheet lives inside: a drawing that goes with it leaves
                // the changes unsound, never the group changed.
                const TDrawingGroupChanges::TGathering gathering(section.Drawings);
                const bool last = k + 1 == sections.size();
                // A reader that ends just past the next section's first header.
                const auto reader = ole.ReadingCopy(section.Start, last ? length : section.End + 4);
                if (!reader) throw TLoadAlone{};
                TRecordHeader at{};
                ReadRecordHeader(*reader, at);
                auto bof = LoadBOF(*reader, at);
                if (bof->GetBOFType() != BOFWorksheet) throw TLoadAlone{};
                auto sheet = NewSheetOfType(FGlobals.get(), BOFWorksheet);
                sheet->LoadFromStream(*reader, at, std::move(bof), sst);
                const std::int64_t end = reader->NextEof(3) && at.Id == 0 ? reader->Position() : reader->Position() - 4;
                if (!last && (end != section.End || at.Id != xlr_BOF)) throw TLoadAlone{};
                section.End = end;
                section.Loaded = std::move(sheet);
            }
            gathered[worker]->Stop();
        } catch (...) {
            if (gathered[worker]) gathered[worker]->Stop();
            failed = true;
        }
    };
    // Room for every thread first: a vector that failed to grow after a
    // thread started would leave that thread running and end the process.
    std::vector<std::thread> helpers;
    try {
        helpers.reserve(threads - 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (unsigned worker = 1; worker < threads; ++worker) {
        try {
            helpers.emplace_back(work, worker);
        } catch (const std::system_error&) {
            break;  // the threads there are do the rest
        }
    }
    work(0);
    for (std::thread& helper : helpers) helper.join();
    for (const auto& refs : gathered)
        if (refs) refs->Apply();
    if (failed) return false;  // the sheets loaded go, their references with them
    for (const TSection& section : sections)
        if (!section.Drawings.Sound()) return false;

    // After the last section, what the stream still holds: stray EOFs and
    // the padding, as in a load one after the other.
    try {
        ole.Seek(sections.back().End);
        ReadRecordHeader(ole, header);
        while (!ole.NextEof(3) && header.Id != 0) {
            if (header.Id != xlr_EOF) return false;
            LoadRecords(ole, header);
        }
    } catch (const Exception&) {
        return false;
    }
    // The sheets stay: only now do their drawings change the group.
    for (TSection& section : sections) section.Drawings.Apply();
    std::vector<std::unique_ptr<TSheet>> sheets(static_cast<std::size_t>(named));
    for (TSection& section : sections) sheets[static_cast<std::size_t>(section.Sheet)] = std::move(section.Loaded);
    for (auto& sheet : sheets) FSheets.Add(std::move(sheet));
    return true;
}

void TWorkbook::LoadFromStream(TOle2File& ole) {
    FSheets.Clear();
    FGlobals->Clear();
    RegisterFormulaRecords();
    try {
        TRecordHeader header{};
        ReadRecordHeader(ole, header);
        LoadGlobals(ole, header);
        LoadSheets(ole, header);
    } catch (...) {
        FSheets.Clear();
        FGlobals->Clear();
        throw;
    }
    // Every label has attached by its file index: the table may sort, which
    // it does when first it must (a lookup, a save), not for a workbook
    // that is only read.
    FGlobals->DrawingGroup().SortBlips();
}

// ---------------------------------------------------------------------------
// Saving

void TWorkbook::FixRows() {
    for (std::size_t i = 0; i < FSheets.Count(); ++i) FSheets.GetItems(i)->FixRows();
}

// In a workbook with macros every sheet needs a code name: its sheet name,
// numbered on past the names taken (compared in upper case).
void TWorkbook::FixCodeNames() {
    if (!FGlobals->HasMacro()) return;
    std::set<std::u16string> taken;
    if (!FGlobals->CodeName().empty()) taken.insert(WideUpperCase98(FGlobals->CodeName()));
    for (int i = 0; i < SheetCount(); ++i)
        if (const std::u16string name = Sheet(i).GetCodeName(); !name.empty()) taken.insert(WideUpperCase98(name));
    for (int i = 0; i < SheetCount(); ++i) {
        if (!Sheet(i).GetCodeName().empty()) continue;
        auto [base, number] = SplitTrailingNumber(FGlobals->GetSheetName(i));
        std::u16string name = number < 0 ? base : base + NumberText(number);
        while (taken.count(WideUpperCase98(name)) > 0) {
            number = number < 0 ? 1 : number + 1;
            name = base + NumberText(number);
        }
        Sheet(i).SetCodeName(name);
        taken.insert(WideUpperCase98(name));
    }
}

void TWorkbook::CheckVisible() const {
    bool anyVisible = false;
    for (int i = SheetCount() - 1; i >= 0; --i) {
        const bool visible = FGlobals->GetSheetVisible(i) == TXlsSheetVisible::sv_Visible;
        if (!visible && Sheet(i).GetSelected()) Raise(ErrHiddenSheetSelected);
        anyVisible = anyVisible || visible;
    }
    if (!anyVisible) Raise(ErrNoSheetVisible);
}

void TWorkbook::SaveToStream(TOle2File& ole, bool force) {
    // The checks come first: a refused save changes and writes nothing.
    if (FGlobals->GetSheetCount() != SheetCount()) Raise(ErrExcelInvalid);
    CheckVisible();
    FixCodeNames();
    // Each worksheet fixes its ROW records as it writes them.
    FGlobals->SST().FixRefs();
    // Saving with force drops the formulas' cached results first.
    if (force)
        for (int i = 0; i < SheetCount(); ++i) Sheet(i).FixTotalSize(true);
    for (int i = 0; i < SheetCount(); ++i)
        if (FGlobals->GetSheetVisible(i) == TXlsSheetVisible::sv_Visible) {
            FGlobals->SetFirstSheetVisible(i);
            break;
        }
    // A sheet's offset is where it starts, known as the sheets are written:
    // the BOUNDSHEET records before them get the offsets at the end.
    const std::int64_t origin = ole.Position();
    FGlobals->SaveToStream(ole);
    std::vector<std::uint32_t> offsets;
    for (int i = 0; i < SheetCount(); ++i) {
        const std::int64_t offset = ole.Position() - origin;
        if (offset > UINT32_MAX) Raise(ErrTooManyEntries, offset, UINT32_MAX);
        offsets.push_back(static_cast<std::uint32_t>(offset));
        Sheet(i).SaveToStream(ole);
    }
    FGlobals->PatchSheetOffsets(ole, offsets);
}

void TWorkbook::SaveRangeToStream(TOle2File& ole, int sheetIndex, const TXlsCellRange& range, bool) {
    CheckSheet(sheetIndex);
    FixCodeNames();
    FixRows();
    // FixRangeBoundSheetsOffset: the one sheet follows the cut globals.
    FGlobals->SST().FixRefs();
    const std::int64_t globals = FGlobals->TotalRangeSize(sheetIndex, range);
    FGlobals->SheetSetOffset(sheetIndex, static_cast<std::uint32_t>(globals));
    const std::int64_t size = globals + Sheet(sheetIndex).TotalRangeSize(sheetIndex, range);
    const std::int64_t origin = ole.Position();
    FGlobals->SaveRangeToStream(ole, sheetIndex, range);
    Assert(ole.Position() - origin == globals, "UXlsWorkbook", "the sheet does not start at its offset");
    Sheet(sheetIndex).SaveRangeToStream(ole, sheetIndex, range);
    Assert(ole.Position() - origin == size, "UXlsWorkbook", "written size differs from the computed size");
}

// ---------------------------------------------------------------------------
// Sheets

void TWorkbook::CheckSheet(int index) const {
    if (index < 0 || index >= SheetCount()) Raise(ErrInvalidSheetNo, index, 0, SheetCount() - 1);
}

TSheet& TWorkbook::Sheet(int index) const {
    CheckSheet(index);
    return *FSheets.GetItems(static_cast<std::size_t>(index));
}

bool TWorkbook::IsWorksheet(int index) const { return Sheet(index).AsWorkSheet() != nullptr; }

TWorkSheet& TWorkbook::WorkSheets(int index) const {
    auto* sheet = Sheet(index).AsWorkSheet();
    if (!sheet) Raise(ErrInvalidSheet, std::to_string(index));
    return *sheet;
}

void TWorkbook::SetActiveSheet(int sheet) {
    CheckSheet(sheet);
    for (int i = 0; i < SheetCount(); ++i) Sheet(i).SetSelected(false);
    FGlobals->SetActiveSheet(sheet);
    Sheet(sheet).SetSelected(true);
}

void TWorkbook::CheckSheetCount(long long sheets) {
    if (sheets > MaxSheets) Raise(ErrTooManyEntries, sheets, MaxSheets);
}

// The copies are made and checked before the directory changes; each is
// then told where it landed (the i-th ends at beforeSheet + count - 1 - i)
// while the original stays where the moved references say it is.
void TWorkbook::InsertSheets(int copyFrom, int beforeSheet, int count) {
    if (copyFrom >= SheetCount()) Raise(ErrInvalidSheetNo, copyFrom, -1, SheetCount() - 1);
    if (beforeSheet < 0 || beforeSheet > SheetCount()) Raise(ErrInvalidSheetNo, beforeSheet, 0, SheetCount());
    if (count < 1) return;
    CheckSheetCount(static_cast<long long>(SheetCount()) + count);
    std::vector<std::unique_ptr<TSheet>> added;
    for (int i = 0; i < count; ++i) {
        added.push_back(copyFrom < 0 ? std::make_unique<TWorkSheet>(FGlobals.get(), FGlobals->SST())
                                     : Sheet(copyFrom).CopyTo());
        added.back()->SetSelected(false);
    }
    // Without a sheet to insert the walk refuses what the real one would.
    if (copyFrom >= 0) added.front()->ArrangeCopySheet(TSheetInfo{});
    const std::uint16_t flags = copyFrom < 0 ? 0 : FGlobals->GetSheetOptionFlags(copyFrom);
    FGlobals->InsertSheets(copyFrom, beforeSheet, count, StringToWideStringNoCodePage(BaseSheetName), flags);
    const int source = copyFrom < beforeSheet ? copyFrom : copyFrom + count;
    for (int i = 0; i < count; ++i) {
        if (copyFrom >= 0) {
            TSheetInfo info = FGlobals->SheetInfo(beforeSheet + count - 1 - i, source);
            info.Names = &FGlobals->Names();
            added[static_cast<std::size_t>(i)]->ArrangeCopySheet(info);
        }
        FSheets.Insert(static_cast<std::size_t>(beforeSheet), std::move(added[static_cast<std::size_t>(i)]));
    }
}

void TWorkbook::DeleteSheets(int firstSheet, int count) {
    if (firstSheet < 0 || firstSheet > SheetCount()) Raise(ErrInvalidSheetNo, firstSheet, 0, SheetCount());
    count = std::min(count, SheetCount() - firstSheet);
    if (count < 1) return;
    // Names local to the deleted sheets go with them: the name tokens of
    // every sheet that stays follow the names' new places. The walk without
    // a renumbering refuses what the real one would, before anything moves.
    const TNameRenumbering renumbering = FGlobals->NamesAfterDeletingSheets(firstSheet, count);
    const bool renumber = renumbering.Changes();
    auto staying = [&](auto visit) {
        for (int i = 0; i < SheetCount(); ++i)
            if (i < firstSheet || i >= firstSheet + count) visit(Sheet(i));
    };
    if (renumber) staying([](TSheet& sheet) { sheet.ArrangeCopySheet(TSheetInfo{}); });
    const int active = FGlobals->GetActivesheet(), firstTab = FGlobals->GetFirstSheetVisible();
    FGlobals->DeleteSheets(firstSheet, count);
    if (renumber) {
        TSheetInfo info;
        info.Renumbering = &renumbering;
        staying([&](TSheet& sheet) { sheet.ArrangeCopySheet(info); });
    }
    for (int i = 0; i < count; ++i) {
        if (auto* sheet = dynamic_cast<TWorkSheet*>(&Sheet(firstSheet))) sheet->Clear();
        FSheets.Delete(static_cast<std::size_t>(firstSheet));
    }
    if (SheetCount() == 0) return;
    // A sheet behind the deleted ones moves back; one among them gives way
    // to the sheet that follows them.
    auto left = [&](int sheet) {
        const int moved = sheet >= firstSheet + count ? sheet - count : std::min(sheet, firstSheet);
        return std::clamp(moved, 0, SheetCount() - 1);
    };
    const int newActive = NearestVisible(left(active), true);
    if (active >= firstSheet || newActive != active) SetActiveSheet(newActive);
    // Looking on from a tab at or before the active sheet meets it at the
    // latest.
    FGlobals->SetFirstSheetVisible(NearestVisible(std::min(left(firstTab), newActive), true));
}

int TWorkbook::NearestVisible(int sheet, bool forward) const {
    auto shown = [&](int i) { return FGlobals->GetSheetVisible(i) == TXlsSheetVisible::sv_Visible; };
    for (int i = sheet; i >= 0 && i < SheetCount(); i += forward ? 1 : -1)
        if (shown(i)) return i;
    for (int i = sheet; i >= 0 && i < SheetCount(); i += forward ? -1 : 1)
        if (shown(i)) return i;
    return sheet;
}

void TWorkbook::CheckOthers(int target, int rowPos, int rowCount, int colPos, int colCount) {
    for (int i = 0; i < SheetCount(); ++i) {
        if (i == target) continue;
        const TSheetInfo info = FGlobals->SheetInfo(target, i);
        Sheet(i).CheckArrange(TArrangeCheck(rowPos, rowCount, colPos, colCount, info));
    }
    FGlobals->Names().CheckArrange(rowPos, rowCount, colPos, colCount, FGlobals->SheetInfo(target, target));
}

// Each other sheet adjusts its references into target as the sheet whose
// formulas they are.
void TWorkbook::ArrangeOthers(int target, int rowPos, int rowCount, int colPos, int colCount) {
    for (int i = 0; i < SheetCount(); ++i)
        if (i != target)
            Sheet(i).ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, FGlobals->SheetInfo(target, i));
}

void TWorkbook::InsertAndCopyRowsAndCols(int sheet, int firstRow, int lastRow, int destRow, int rowCount,
                                         int firstCol, int lastCol, int destCol, int colCount, bool onlyFormulas) {
    CheckCopyArguments(firstRow, lastRow, destRow, rowCount, 65535);
    CheckCopyArguments(firstCol, lastCol, destCol, colCount, 255);
    CheckSheet(sheet);
    const int rows = (lastRow - firstRow + 1) * rowCount, cols = (lastCol - firstCol + 1) * colCount;
    if (rows == 0 && cols == 0) return;
    CheckOthers(sheet, destRow, rows, destCol, cols);
    const TSheetInfo info = FGlobals->SheetInfo(sheet, sheet);
    // The target checks itself whole before it moves anything.
    Sheet(sheet).InsertAndCopyRowsAndCols(firstRow, lastRow, destRow, rowCount, firstCol, lastCol, destCol, colCount,
                                          info, onlyFormulas);
    ArrangeOthers(sheet, destRow, rows, destCol, cols);
    FGlobals->InsertAndCopyRowsAndCols(firstRow, lastRow, destRow, rowCount, firstCol, lastCol, destCol, colCount,
                                       info);
}

void TWorkbook::DeleteRowsAndCols(int sheet, int row, int rowCount, int col, int colCount) {
    CheckSheet(sheet);
    rowCount = std::max(rowCount, 0);
    colCount = std::max(colCount, 0);
    if (rowCount == 0 && colCount == 0) return;
    CheckRowAndCol(rowCount > 0 ? row : 0, colCount > 0 ? col : 0);
    CheckOthers(sheet, row, -rowCount, col, -colCount);
    const TSheetInfo info = FGlobals->SheetInfo(sheet, sheet);
    Sheet(sheet).DeleteRowsAndCols(row, rowCount, col, colCount, info);
    ArrangeOthers(sheet, row, -rowCount, col, -colCount);
    FGlobals->DeleteRowsAndCols(row, rowCount, col, colCount, info);
}

}  // namespace kalmira
