// One BIFF8 workbook stream in memory: the workbook globals and the list of
// sheet sections. Loading splits the stream into sections, saving lays out
// every sheet's offset from the computed sizes before the first byte is
// written; the operations that touch every sheet at once (inserting,
// copying and deleting sheets, rows and columns with their references)
// check everything they would change before they change anything.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/Uxlsbaselist.h"
#include "workbook/storage/Uxlssheet.h"

namespace kalmira {

// Sheet i of the list is BOUNDSHEET i of the globals.
class TSheetList : public TBaseList<TSheet> {
public:
    void Add(std::unique_ptr<TSheet> sheet) { DoAdd(std::move(sheet)); }
    void Insert(std::size_t index, std::unique_ptr<TSheet> sheet) { DoInsert(index, std::move(sheet)); }
    TSheet* GetItems(std::size_t index) const { return Items(index); }
    void SetItems(std::size_t index, std::unique_ptr<TSheet> sheet) { Slot(index) = std::move(sheet); }
    void Delete(std::size_t index) { DoDelete(index); }
    void Clear() { DoClear(); }
};

class TWorkbook {
public:
    TWorkbook();
    // The sheets go before the string table their labels point into.
    ~TWorkbook();
    TWorkbook(const TWorkbook&) = delete;
    TWorkbook& operator=(const TWorkbook&) = delete;

    // Reads the selected stream: the globals first, then sheet i from the
    // section at the offset of BOUNDSHEET i, whatever the sections' order.
    // A first record that is not the globals' BOF, another record between
    // sections (but a stray EOF or the zeros that end the stream), a
    // section no BOUNDSHEET names, a section cut short (by the stream's end
    // or a zero record id) or a BOUNDSHEET without its section: "Error
    // reading Excel records. File invalid". A failed load leaves the
    // workbook empty.
    void LoadFromStream(TOle2File& ole);
    // Writes the whole workbook at the stream's position; the bytes written
    // equal the size laid out, or the engine's assertion fails. Nothing is
    // written when the sheets' visibility does not allow a save.
    void SaveToStream(TOle2File& ole, bool force = false);
    // The globals and sheet sheetIndex cut to range (the clipboard's form).
    void SaveRangeToStream(TOle2File& ole, int sheetIndex, const TXlsCellRange& range, bool force = false);

    int GetActiveSheet() const { return FGlobals->GetActivesheet(); }
    // Only the active sheet stays selected.
    void SetActiveSheet(int sheet);
    bool GetIsXltTemplate() const { return FGlobals->IsXltTemplate(); }
    void SetIsXltTemplate(bool value) { FGlobals->SetIsXltTemplate(value); }

    int SheetCount() const { return static_cast<int>(FSheets.Count()); }
    TSheet& Sheet(int index) const;
    // Sheet index as a worksheet; another kind of sheet: "Invalid sheet: %s".
    TWorkSheet& WorkSheets(int index) const;
    bool IsWorksheet(int index) const;

    // count new sheets at beforeSheet: empty worksheets (copyFrom -1) or
    // copies of sheet copyFrom, none of them selected; counts below 1
    // change nothing. A count past MaxSheets is refused before any sheet
    // is made.
    void InsertSheets(int copyFrom, int beforeSheet, int count);
    // The local SUPBOOK counts the sheets and the EXTERNSHEET entries and
    // local names number them in 16-bit fields that stop at 65000: a
    // workbook of more sheets could not be written.
    static constexpr int MaxSheets = MaxSheetIndex;
    // "Too many entries for this kind of record (%d out of a maximum of %d)"
    // for a workbook of more than MaxSheets sheets.
    static void CheckSheetCount(long long sheets);
    // At most as many as there are from firstSheet on. The workbook window
    // stays on sheets that are left and shown: a deleted active sheet gives
    // way to the shown sheet nearest after it (else before it), which is
    // then the one selected, and the first tab shown moves with its sheet.
    void DeleteSheets(int firstSheet, int count);
    void InsertAndCopyRowsAndCols(int sheet, int firstRow, int lastRow, int destRow, int rowCount, int firstCol,
                                  int lastCol, int destCol, int colCount, bool onlyFormulas);
    void DeleteRowsAndCols(int sheet, int row, int rowCount, int col, int colCount);
    // A manual break below row (right of col) on that sheet; a sheet without
    // breaks (a chart sheet) ignores it.
    void InsertHPageBreak(int sheet, int row) { Sheet(sheet).InsertHPageBreak(row); }
    void InsertVPageBreak(int sheet, int col) { Sheet(sheet).InsertVPageBreak(col); }
    // Every sheet's ROW records cover its cells.
    void FixRows();

    TWorkbookGlobals& Globals() const { return *FGlobals; }

    // The most threads a load of the process uses for a workbook's
    // worksheets (0, the default: one a processor), and the least bytes
    // each section must hold for that (smaller ones load faster than a
    // thread starts). Whatever the numbers, a load gives the same workbook.
    static void SetLoadThreads(unsigned threads, std::int64_t smallestSection = 256 * 1024);
    // Whether the last load read the worksheets on several threads.
    bool LoadedSideBySide() const { return FLoadedSideBySide; }
    TSheetList& Sheets() { return FSheets; }

private:
    void CheckSheet(int index) const;
    void LoadGlobals(TOle2File& ole, TRecordHeader& header);
    void LoadSheets(TOle2File& ole, TRecordHeader& header);
    bool LoadSheetsSideBySide(TOle2File& ole, TRecordHeader& header);
    void FixCodeNames();
    void CheckVisible() const;
    // The shown sheet nearest to sheet, looking on first (else back); sheet
    // itself when none is shown.
    int NearestVisible(int sheet, bool forward) const;
    // Whatever every sheet but target and the names do when rows and
    // columns of target move, checked before the first change.
    void CheckOthers(int target, int rowPos, int rowCount, int colPos, int colCount);
    void ArrangeOthers(int target, int rowPos, int rowCount, int colPos, int colCount);

    std::unique_ptr<TWorkbookGlobals> FGlobals;
    bool FLoadedSideBySide = false;
    TSheetList FSheets;
};

}  // namespace kalmira
