// The sheets of a workbook: the sheet base with its cached page-setup and
// window records and the settings read and written through them; the
// worksheet, whose records go into typed lists on load and come back in a
// fixed order; the chart sheet and the sheet kept as plain records.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workbook/cells/UXlsRangeRecords.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/drawing/UXlsEscher.h"
#include "workbook/storage/UXlsHyperLink.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/Uxlschart.h"
#include "workbook/storage/Uxlsclientdata.h"
#include "workbook/storage/Uxlsnotes.h"
#include "workbook/storage/Uxlscolinfo.h"
#include "workbook/storage/Uxlsotherrecords.h"
#include "workbook/storage/Uxlspagebreaks.h"
#include "workbook/storage/Uxlssections.h"

namespace kalmira {

class TWorkbookGlobals;
class TWorkSheet;

inline constexpr std::uint16_t xlr_MSODRAWING = 0xEC;
inline constexpr std::uint16_t xlr_OBJ = 0x5D;
inline constexpr std::uint16_t xlr_TXO = 0x1B6;

// Default column width units per character of DEFCOLWIDTH.
inline constexpr int DefColWidthAdapt = 293;

class TSheet : public TBaseSection {
public:
    explicit TSheet(TWorkbookGlobals* globals) : FWorkbookGlobals(globals) {}

    // Frees BOF, EOF and CODENAME and forgets every cached record.
    void Clear() override;
    // BOF, EOF and CODENAME.
    std::int64_t TotalSize() const override;

    // The sheet as a worksheet, or null: the workbook interface asks for
    // every cell it reads.
    virtual TWorkSheet* AsWorkSheet() { return nullptr; }
    // Forgets every cached record, then caches them again from the lists.
    virtual void FixCachePointers();
    virtual void SetPageHeaderFooter(TPageHeaderFooterRecord& record, std::u16string_view text) = 0;
    virtual void AddZoomRecord() = 0;
    virtual void AddOrRemovePane(bool) {}
    // A sheet of the same class on the same globals.
    std::unique_ptr<TSheet> CopyTo() const { return DoCopyTo(); }
    virtual std::unique_ptr<TSheet> DoCopyTo() const;
    virtual void InsertAndCopyRowsAndCols(int, int, int, int, int, int, int, int, const TSheetInfo&, bool) {}
    virtual void DeleteRowsAndCols(int, int, int, int, const TSheetInfo&) {}
    virtual void ArrangeInsertRowsAndCols(int, int, int, int, const TSheetInfo&) {}
    virtual void ArrangeCopySheet(const TSheetInfo&) {}
    // Manual page breaks below a row and right of a column.
    virtual void DeleteHPageBreak(int) {}
    virtual void DeleteVPageBreak(int) {}
    virtual void InsertHPageBreak(int) {}
    virtual void InsertVPageBreak(int) {}
    // Raises where ArrangeInsertRowsAndCols would refuse, changing nothing.
    virtual void CheckArrange(const TArrangeCheck&) const {}
    // The bytes SaveToStream writes, the cells' formulas dropping their
    // results when force is set.
    virtual std::int64_t FixTotalSize(bool) { return TotalSize(); }
    virtual void FixRows() {}

    // Merged cells (rows and columns from 0). Only a worksheet holds any:
    // elsewhere the setters do nothing, a cell's bounds are the cell and
    // the count is 0.
    virtual void MergeCells(int, int, int, int) {}
    virtual void UnMergeCells(int, int, int, int) {}
    virtual TXlsCellRange CellMergedBounds(int row, int col) const { return {col, row, col, row}; }
    // The index-th merged range in list order, all zero when there is none.
    virtual TXlsCellRange CellMergedList(int) const { return {0, 0, 0, 0}; }
    virtual int CellMergedListCount() const { return 0; }

    // The settings of the sheet; without their record the getters give
    // the defaults below and the setters change nothing.
    bool GetSelected() const;
    void SetSelected(bool value);
    bool GetShowGridLines() const;
    void SetShowGridLines(bool value);
    bool GetShowGridHeaders() const;
    void SetShowGridHeaders(bool value);
    bool GetPrintGridLines() const;
    void SetPrintGridLines(bool value);
    std::u16string GetPageHeader() const;
    void SetPageHeader(std::u16string_view text);
    std::u16string GetPageFooter() const;
    void SetPageFooter(std::u16string_view text);
    bool GetIsR1C1() const;
    void SetIsR1C1(bool value);
    int GetSheetZoom() const;
    // Without SCL one is added first (not on every kind of sheet).
    void SetSheetZoom(int zoom);
    bool GetWindow2Frozen() const;
    void SetWindow2Frozen(bool value);
    std::u16string GetCodeName() const;
    void SetCodeName(std::u16string_view name);
    int GetPrintNumberOfHorizontalPages() const;
    void SetPrintNumberOfHorizontalPages(int value);
    int GetPrintNumberOfVerticalPages() const;
    void SetPrintNumberOfVerticalPages(int value);
    // These five refuse values outside 0-65535 with "The index "%d" of
    // the property "%s" is not in the range %d-%d".
    int GetPrintScale() const;
    void SetPrintScale(int value);
    int GetPrintCopies() const;
    void SetPrintCopies(int value);
    int GetPrintPaperSize() const;
    void SetPrintPaperSize(int value);
    int GetPrintXResolution() const;
    void SetPrintXResolution(int value);
    int GetPrintYResolution() const;
    void SetPrintYResolution(int value);
    std::uint16_t GetPrintOptions() const;
    void SetPrintOptions(std::uint16_t value);
    bool GetPrintToFit() const;
    void SetPrintToFit(bool value);
    bool GetPrintHCentered() const;
    void SetPrintHCentered(bool value);
    bool GetPrintVCentered() const;
    void SetPrintVCentered(bool value);
    bool GetOutlineSummaryRowsBelowDetail() const;
    void SetOutlineSummaryRowsBelowDetail(bool value);
    bool GetOutlineSummaryColsRightOfDetail() const;
    void SetOutlineSummaryColsRightOfDetail(bool value);
    bool GetOutlineAutomaticStyles() const;
    void SetOutlineAutomaticStyles(bool value);
    TPrinterDriverSettings GetPrinterDriverSettings() const;
    // Non-empty settings replace every PLS by one before SETUP; empty ones
    // remove them.
    void SetPrinterDriverSettings(const TPrinterDriverSettings& settings);

    // Missing margin records are made; header and footer go into SETUP.
    TXlsMargins GetMargins() const;
    void SetMargins(const TXlsMargins& margins);

    // Frozen rows above Row and columns left of Col; (0, 0) unfreezes.
    void FreezePanes(int row, int col);
    // (row, column) of the frozen panes, or (0, 0).
    std::pair<int, int> GetFrozenPanes() const;
    // Split window at X columns and Y rows.
    void SplitWindow(int x, int y);
    // (column, row) of the split, or (0, 0).
    std::pair<int, int> GetSplitWindow() const;

    TWorkbookGlobals* Globals() const { return FWorkbookGlobals; }

protected:
    // The lists whose records are cached, the main list first.
    virtual std::vector<TBaseRecordList*> RecordLists() = 0;
    // A new, empty sheet of the class (the virtual constructor).
    virtual std::unique_ptr<TSheet> NewSheet(TWorkbookGlobals* globals) const = 0;
    void LoadCachePointers(TBaseRecord* record);
    // Runs a change of a record that may resize it in whichever list holds it.
    template <class Change>
    void ResizeRecord(const TBaseRecord& record, Change change);
    // Removes the record from its list (freeing it) and caches anew.
    void RemoveRecord(const TBaseRecord* record);
    void CheckSaved() const;
    void SaveCodeName(TOle2File& ole) const;

    TWorkbookGlobals* FWorkbookGlobals;
    TWindow2Record* FWindow2 = nullptr;
    TPageHeaderRecord* FPageHeader = nullptr;
    TPageFooterRecord* FPageFooter = nullptr;
    TPrintGridLinesRecord* FPrintGridLines = nullptr;
    TMarginRecord* FLeftMargin = nullptr;
    TMarginRecord* FRightMargin = nullptr;
    TMarginRecord* FTopMargin = nullptr;
    TMarginRecord* FBottomMargin = nullptr;
    TSetupRecord* FSetup = nullptr;
    TPlsRecord* FPrinterDriverSettings = nullptr;
    TWsBoolRecord* FWsBool = nullptr;
    TPrintCenteredRecord* FHCenter = nullptr;
    TPrintCenteredRecord* FVCenter = nullptr;
    TSCLRecord* FSCL = nullptr;
    TGutsRecord* FGuts = nullptr;
    TPaneRecord* FPane = nullptr;
    TAutoFilterInfoRecord* FAutoFilterInfo = nullptr;
    TRefModeRecord* FRefMode = nullptr;
    std::unique_ptr<TCodeNameRecord> FCodeName;

private:
    TMarginRecord*& MarginPointer(std::uint16_t id);
    void ForgetCachePointers();
};

// The DIMENSIONS of a loaded worksheet: first row, last row + 1 (32-bit),
// first column, last column + 1, reserved (16-bit).
using TDimensions = std::array<std::uint8_t, 14>;

class TWorkSheet : public TSheet {
public:
    explicit TWorkSheet(TWorkbookGlobals* globals);
    // The empty sheet of the template.
    TWorkSheet(TWorkbookGlobals* globals, TSST& sst);
    ~TWorkSheet() override;
    TWorkSheet* AsWorkSheet() final { return this; }

    void Clear() override;
    std::int64_t TotalSize() const override;
    std::int64_t TotalRangeSize(int sheetIndex, const TXlsCellRange& range) const override;
    // A failed load leaves the sheet cleared.
    void LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                        TSST& sst) override;
    void SaveToStream(TOle2File& ole) override;
    // Without drawing and notes; the page breaks, column settings, cells,
    // range records and hyperlinks inside the range.
    void SaveRangeToStream(TOle2File& ole, int sheetIndex, const TXlsCellRange& range) override;

    void SetPageHeaderFooter(TPageHeaderFooterRecord& record, std::u16string_view text) override;
    void AddZoomRecord() override;
    void AddOrRemovePane(bool add) override;
    // The drawing is copied as a new drawing of the workbook; embedded OLE
    // objects refuse.
    std::unique_ptr<TSheet> DoCopyTo() const override;
    void InsertAndCopyRowsAndCols(int firstRow, int lastRow, int destRow, int rowCount, int firstCol, int lastCol,
                                  int destCol, int colCount, const TSheetInfo& info, bool onlyFormulas) override;
    void DeleteRowsAndCols(int row, int rowCount, int col, int colCount, const TSheetInfo& info) override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                  const TSheetInfo& info) override;
    void ArrangeCopySheet(const TSheetInfo& info) override;
    // A row break outside 0-65535 or a column break outside 0-255 is
    // refused ("Invalid Row (%d)", "Invalid Column (%d)"), and so is a
    // break added to a list of more than 1025 ("Too many manual Page
    // breaks for this sheet"); deleting or asking there does nothing.
    void DeleteHPageBreak(int row) override { FHPageBreaks.DeleteBreak(row); }
    void DeleteVPageBreak(int col) override { FVPageBreaks.DeleteBreak(col); }
    void InsertHPageBreak(int row) override { FHPageBreaks.AddBreak(row); }
    void InsertVPageBreak(int col) override { FVPageBreaks.AddBreak(col); }
    bool HasHPageBreak(int row) const { return FHPageBreaks.HasPageBreak(row); }
    bool HasVPageBreak(int col) const { return FVPageBreaks.HasPageBreak(col); }
    void CheckArrange(const TArrangeCheck& check) const override;
    std::int64_t FixTotalSize(bool force) override;
    void FixRows() override { FCells->FixRows(); }

    // Row1, Col1, Row2, Col2: the corners in either order, checked ("Invalid
    // Row (%d)", "Invalid Column (%d)"). The rectangle grows over every
    // merged range it meets; a single cell merges nothing.
    void MergeCells(int row1, int col1, int row2, int col2) override;
    // Removes the merged ranges with exactly these corners.
    void UnMergeCells(int row1, int col1, int row2, int col2) override;
    TXlsCellRange CellMergedBounds(int row, int col) const override;
    TXlsCellRange CellMergedList(int index) const override;
    int CellMergedListCount() const override;

    // Clears the sheet and loads the template's empty sheet in its place.
    void ClearValues();

    // Rows: height in 1/20 point (0 for a hidden row when asked), hidden
    // state, and the row's XF (-1 when the row is not formatted).
    int GetRowHeight(int row, bool hiddenIsZero) const;
    void SetRowHeight(int row, int height);
    bool GetRowHidden(int row) const;
    void SetRowHidden(int row, bool hidden);
    int GetRowFormat(int row) const;
    // The row's XF and that of every cell in it.
    void SetRowFormat(int row, int xf);

    // Columns 0-255 (others: "Invalid Column (%d)"): width in 1/256 of a
    // character (0 for a hidden column when asked), hidden state, XF (-1
    // without settings) and outline level. A column without settings gets
    // them (XF 15, the default width) when one is set. Widths outside
    // 0-65535, XFs outside the workbook's and levels outside 0-7 are
    // refused with "The index "%d" of the property "%s" is not in the
    // range %d-%d"; nothing changes.
    int GetColWidth(int col, bool hiddenIsZero) const;
    void SetColWidth(int col, int width);
    bool GetColHidden(int col) const;
    // Ignores a column outside 0-255. Shown again, a column of width 0
    // gets the default width.
    void SetColHidden(int col, bool hidden);
    int GetColFormat(int col) const;
    // The column's XF and that of every cell in it.
    void SetColFormat(int col, int xf);
    int GetColOutlineLevel(int col) const;
    void SetColOutlineLevel(int col, int level);
    int GetRowOutlineLevel(int row) const;
    void SetRowOutlineLevel(int row, int level);
    // A GUTS record without gutters before DEFAULTROWHEIGHT, when the sheet
    // has none.
    void EnsureGuts();
    const TGutsRecord* Guts() const { return FGuts; }

    const THPageBreakList& HPageBreaks() const { return FHPageBreaks; }
    const TVPageBreakList& VPageBreaks() const { return FVPageBreaks; }
    const TColInfoList& ColInfo() const { return FColInfo; }

    // The hyperlinks, numbered from 0 here; a number outside the list fails
    // with "The index "%d" of the property "HyperLinkIndex" is not in the
    // range 1-%d" (counted from 1). Ranges given are checked against the
    // sheet ("Invalid Row (%d)", "Invalid Column (%d)") and put in order.
    int HyperLinkCount() const { return static_cast<int>(FHLinks.Count()); }
    THyperLink GetHyperLink(int index) const { return FHLinks.Link(index).GetProperties(); }
    void SetHyperLink(int index, const THyperLink& link) { FHLinks.Link(index).SetProperties(link); }
    TXlsCellRange GetHyperLinkCellRange(int index) const { return FHLinks.Link(index).GetCellRange(); }
    void SetHyperLinkCellRange(int index, const TXlsCellRange& range);
    void AddHyperLink(const TXlsCellRange& range, const THyperLink& link);
    void DeleteHyperLink(int index);
    const THLinkList& HyperLinks() const { return FHLinks; }

    // The drawing: pictures, shapes and embedded charts. Row and column
    // changes move their anchors; RestoreObjectCoords puts the shapes that
    // keep their size or place back after widths or heights changed.
    const TDrawing& Drawing() const { return FDrawing; }
    TDrawing& Drawing() { return FDrawing; }
    void RestoreObjectCoords() { FDrawing.RestoreObjectCoords(FMeasure); }
    const TEscherSheet& Measure() const { return FMeasure; }
    // The comments, bound to their boxes in the drawing.
    const TNoteList& Notes() const { return FNotes; }
    // A new comment on the cell with its box where the properties say
    // (rows and columns from 0); the text of a comment, empty removing it.
    void AddNewComment(int row, int col, std::u16string_view text, const TImageProperties& box) {
        FNotes.AddNewComment(row, col, text, box, FDrawing, FMeasure);
    }
    // A new picture where the properties say (rows and columns from 0); the
    // workbook's drawing group must exist.
    void AddImage(std::span<const std::uint8_t> image, TXlsImgTypes type, const TImageProperties& properties,
                  TKmrAnchorType anchorType) {
        FDrawing.AddImage(image, type, properties, anchorType, FMeasure,
                          [](std::uint16_t id) { return TPlainClientData::NewPictureObj(id); });
    }
    // ---- Autofilter ----
    // Drop-downs over columns first..last of the row (from 0): the
    // AUTOFILTERINFO record (made before DEFCOLWIDTH or DIMENSIONS when
    // missing) and a button per column, replacing those there were.
    void SetAutoFilter(int row, int firstCol, int lastCol);
    // The filter records (0x9B, 0x9D, 0x9E) and buttons go.
    void RemoveAutoFilter();
    bool HasAutoFilter() const { return FAutoFilterInfo != nullptr; }
    void SetCommentText(const TNoteRecord& note, std::u16string_view text) {
        FNotes.SetText(note, text, FDrawing, FMeasure);
    }

    int DefColWidth() const { return FDefColWidth; }
    int DefRowHeight() const { return FDefRowHeight; }
    const TDimensions& Dimensions() const { return FDimensions; }
    TCells& Cells() { return *FCells; }
    const TCells& Cells() const { return *FCells; }

    // ---- Fitting rows and columns to their texts ----
    void RecalcRowHeights(TAutofitBook& book, TKmrTextMeasure& measure, int firstRow, int lastRow,
                          bool keepAutomatic, bool forced, long double adjustment) {
        FCells->CellList().RecalcRowHeights(book, measure, firstRow, lastRow, keepAutomatic, forced, adjustment);
    }
    void RecalcColWidths(TAutofitBook& book, TKmrTextMeasure& measure, int firstCol, int lastCol,
                         bool ignoreStrings, long double adjustment) {
        FCells->CellList().RecalcColWidths(book, measure, firstCol, lastCol, ignoreStrings, adjustment);
    }

protected:
    std::vector<TBaseRecordList*> RecordLists() override { return {&FHead, &FTail}; }
    std::unique_ptr<TSheet> NewSheet(TWorkbookGlobals* globals) const override;

private:
    class TLoader;
    // Column widths and row heights in pixels for the drawing's anchors.
    class TMeasure : public TEscherSheet {
    public:
        explicit TMeasure(const TWorkSheet& sheet) : FSheet(sheet) {}
        double ColumnWidthPx(int column) const override;
        double RowHeightPx(int row) const override;

    private:
        const TWorkSheet& FSheet;
    };
    void LoadTemplate(TSST& sst);
    // The objects behind the drawing's shapes.
    template <class Visit>
    void ForEachObject(Visit visit) const;
    std::int64_t SizeWith(std::int64_t cells) const;
    // The settings of a valid column, made when missing.
    TColInfo& ColumnEntry(int col);
    void OutlineChanged();
    template <class Change>
    void ChangeCells(bool twoSteps, Change change);
    // Runs a change of the range records on a copy first: the copy refuses
    // what the real list would, before the cells move.
    template <class Change>
    std::unique_ptr<TRangeList> TriedRanges(Change change) const;
    template <class Visit>
    void ForEachMerged(Visit visit) const;

    TBaseRecordList FHead;
    TBaseRecordList FTail;
    THPageBreakList FHPageBreaks;
    TVPageBreakList FVPageBreaks;
    TDrawing FDrawing;
    TMeasure FMeasure{*this};
    std::unique_ptr<TCells> FCells;
    TRangeList FRanges;
    TNoteList FNotes;
    TColInfoList FColInfo;
    THLinkList FHLinks;
    int FDefRowHeight = 255;
    int FDefColWidth = 10 * DefColWidthAdapt;
    TDimensions FDimensions{};
};

// A chart sheet: all its records in one chart record list.
class TKmrChart : public TSheet {
public:
    using TSheet::TSheet;

    void Clear() override;
    std::int64_t TotalSize() const override;
    std::int64_t TotalRangeSize(int, const TXlsCellRange&) const override { return TotalSize(); }
    void LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                        TSST& sst) override;
    void SaveToStream(TOle2File& ole) override;
    void SaveRangeToStream(TOle2File& ole, int, const TXlsCellRange&) override { SaveToStream(ole); }

    void SetPageHeaderFooter(TPageHeaderFooterRecord& record, std::u16string_view text) override;
    // A new SCL at the end of the list.
    void AddZoomRecord() override;
    std::unique_ptr<TSheet> DoCopyTo() const override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                  const TSheetInfo& info) override {
        FChartRecords.ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
    }
    void ArrangeCopySheet(const TSheetInfo& info) override { FChartRecords.ArrangeCopySheet(info); }
    void CheckArrange(const TArrangeCheck& check) const override { FChartRecords.CheckArrange(check); }

    const TChartRecordList& Records() const { return FChartRecords; }

protected:
    std::vector<TBaseRecordList*> RecordLists() override { return {&FChartRecords}; }
    std::unique_ptr<TSheet> NewSheet(TWorkbookGlobals* globals) const override;
    // Takes one record read at depth; false when the record was freed.
    void Take(std::unique_ptr<TBaseRecord> record, TSST& sst);

    TChartRecordList FChartRecords;
    // The last dimensions read.
    std::vector<std::uint8_t> FDimensions;
};

// A section of another kind (a macro sheet, a dialog): its records held and
// written back unchanged.
class TKmrUnsupportedSheet : public TKmrChart {
public:
    using TKmrChart::TKmrChart;
    void Clear() override;
    // Every record read goes to the list in order, but for BOF, EOF,
    // CODENAME and INDEX (stream positions, which the save moves).
    void LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                        TSST& sst) override;
    // The records, with CODENAME where it was read (before EOF when it was
    // not).
    void SaveToStream(TOle2File& ole) override;
    void AddZoomRecord() override {}

protected:
    std::unique_ptr<TSheet> NewSheet(TWorkbookGlobals* globals) const override;

private:
    // How many records of the list stood before the CODENAME read; none
    // when none was read.
    std::optional<std::size_t> FCodeNameAt;
};

// A new, empty sheet of the class a BOF of the type names: a worksheet, a
// chart sheet, or a sheet held as records; workbook globals are refused
// ("Error reading Excel records. File invalid").
std::unique_ptr<TSheet> NewSheetOfType(TWorkbookGlobals* globals, std::uint16_t bofType);

// The record classes a worksheet reads: registered before worksheets load
// on threads of their own.
void RegisterWorksheetRecordClasses();

// The workbook's chart sheets.
class TChartList : public TBaseList<TKmrChart> {
public:
    void Add(std::unique_ptr<TKmrChart> chart) { DoAdd(std::move(chart)); }
    TKmrChart* GetItems(std::size_t index) const { return Items(index); }
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void SaveToStream(TOle2File& ole) const;
};

}  // namespace kalmira
