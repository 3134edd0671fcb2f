// The workbook interface over the BIFF8 workbook model: TXLSAdapter makes
// TXLSFile objects, which open, create and save workbook files. A file is
// read once; saving writes the new "Workbook" stream into a copy of the
// container as it was opened, so every other stream goes back unchanged.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workbook/api/UExcelAdapter.h"
#include "workbook/api/UKmrClipboard.h"
#include "workbook/api/UKmrRowComments.h"
#include "workbook/api/UTextDelim.h"
#include "workbook/api/Xlsbasetemplatestore.h"
#include "workbook/cells/UKmrTextMeasure.h"
#include "workbook/storage/UXlsWorkbook.h"

namespace kalmira {

// A set of save formats, indexed by the format's ordinal.
class TExcelSaveFormats {
public:
    TExcelSaveFormats() = default;
    TExcelSaveFormats(std::initializer_list<TExcelSaveFormatNative> formats) {
        for (auto f : formats) FBits.set(static_cast<std::size_t>(f));
    }
    bool Contains(TExcelSaveFormatNative f) const { return FBits.test(static_cast<std::size_t>(f)); }

private:
    std::bitset<4> FBits;
};

class TXLSAdapter : public TExcelAdapter {
public:
    TXLSAdapter() = default;

    // A new, unconnected TXLSFile made with this adapter's settings.
    std::unique_ptr<TExcelFile> GetWorkbook() override;

    // Files are asked of the store, when one is set, before the disk. The
    // reference clears itself when the store is destroyed.
    TXlsBaseTemplateStore* TemplateStore() const { return FTemplateStore.Get(); }
    void SetTemplateStore(TXlsBaseTemplateStore* store) { FTemplateStore = TTemplateStoreRef(store); }

    const TExcelSaveFormats& SaveFormat() const { return FSaveFormat; }
    void SetSaveFormat(TExcelSaveFormats formats) { FSaveFormat = formats; }

    // Copied into each new workbook object.
    bool AllowOverwritingFiles() const { return FAllowOverwritingFiles; }
    void SetAllowOverwritingFiles(bool value) { FAllowOverwritingFiles = value; }

    // The program's clipboard, handed to each new workbook object.
    const std::shared_ptr<IKmrClipboard>& Clipboard() const { return FClipboard; }
    void SetClipboard(std::shared_ptr<IKmrClipboard> clipboard) { FClipboard = std::move(clipboard); }

    // Delimited text: the encoding of the text formats Save writes.
    TTextEncoding TextEncoding() const { return FTextEncoding; }
    void SetTextEncoding(TTextEncoding encoding) { FTextEncoding = encoding; }

    // The text measuring handed to each new workbook object, for fitting
    // rows and columns to their texts.
    const TKmrTextMeasureFactory& TextMeasure() const { return FTextMeasure; }
    void SetTextMeasure(TKmrTextMeasureFactory factory) { FTextMeasure = std::move(factory); }

private:
    TTemplateStoreRef FTemplateStore;
    TExcelSaveFormats FSaveFormat{TExcelSaveFormatNative::snXLS};
    bool FAllowOverwritingFiles = false;
    std::shared_ptr<IKmrClipboard> FClipboard;
    TTextEncoding FTextEncoding = TTextEncoding::Utf8;
    TKmrTextMeasureFactory FTextMeasure;
};

// Every operation but Connect and Disconnect raises "There is no open file"
// while no model exists. Once its adapter is destroyed the object works on
// without one (it then saves the XLS format only).
class TXLSFile : public TExcelFile {
public:
    using TExcelFile::CopyToClipboard;

    explicit TXLSFile(TXLSAdapter* adapter, bool allowOverwritingFiles = false);
    ~TXLSFile() override;

    void Connect() override;
    void Disconnect() override;
    void OpenFile(const std::string& fileName) override;
    void OpenFileAndSearch(const std::string& fileName) override;
    // The empty-workbook template with sheetCount sheets (at least one).
    void NewFile(std::int32_t sheetCount) override;
    void LoadFromStream(TKmrStream& stream) override;
    void CloseFile() override;
    // Each format the adapter selects (the XLS one without an adapter), in
    // ordinal order; the first failure stops the loop. Streams handed in
    // stay the caller's.
    void Save(bool autoClose, const std::string& fileName, const TOnGetFileNameEvent& onGetFileName,
              const TOnGetOutStreamEvent& onGetOutStream, TKmrStream* dataStream) override;

    // A file is replaced only by a complete new one; a failed save leaves
    // it as it was and leaves no new file.
    void SaveAsXls(const std::string& fileName, TKmrStream* dataStream);
    void SaveAsXls(TKmrStream& stream);
    // The active sheet as delimited text in the adapter's encoding (UTF-8
    // without an adapter).
    void SaveAsTextDelimited(const std::string& fileName, TKmrStream* dataStream, char delimiter);

    // Cells of the active sheet, rows and columns from 1. On a sheet that
    // is no worksheet getters give their default and setters do nothing.
    TVariant GetCellValue(std::int32_t row, std::int32_t col) override;
    void SetCellValue(std::int32_t row, std::int32_t col, const TVariant& value) override;
    TXlsCellValue GetCellValueX(std::int32_t row, std::int32_t col) override;
    void SetCellValueX(std::int32_t row, std::int32_t col, const TXlsCellValue& value) override;
    // Rich runs count their first character from 1 here.
    void GetCellValueX2(std::int32_t row, std::int32_t col, TXlsCellValue& value, TRTFRunList& runs) override;
    void AssignCellValueX2(std::int32_t row, std::int32_t col, const TXlsCellValue& value,
                           const TRTFRunList& runs) override;
    std::u16string GetCellFormula(std::int32_t row, std::int32_t col) override;
    void SetCellFormula(std::int32_t row, std::int32_t col, const std::u16string& formula) override;
    void SetCellFormulaX(std::int32_t row, std::int32_t col, const std::u16string& formula,
                         const TVariant& cachedResult) override;
    // Block columns count from the block's first column (SetBounds).
    TVariant GetCellData(std::int32_t row, std::int32_t blockCol) override;
    TXlsCellValue GetCellDataX(std::int32_t row, std::int32_t blockCol) override;
    void GetCellDataX2(std::int32_t row, std::int32_t blockCol, TXlsCellValue& value, TRTFRunList& runs) override;
    void AssignCellData(std::int32_t row, std::int32_t blockCol, const TVariant& value) override;
    void AssignCellDataX(std::int32_t row, std::int32_t blockCol, const TXlsCellValue& value) override;
    void AssignCellDataX2(std::int32_t row, std::int32_t blockCol, const TXlsCellValue& value,
                          const TRTFRunList& runs) override;

    std::int32_t MaxRow() override;
    std::int32_t MaxCol() override;
    bool IsEmptyRow(std::int32_t row) override;
    std::int32_t ColIndexCount(std::int32_t row) override;
    std::int32_t ColByIndex(std::int32_t row, std::int32_t index) override;
    std::int32_t ColIndex(std::int32_t row, std::int32_t col) override;
    std::int32_t GetCellFormat(std::int32_t row, std::int32_t col) override;
    // An XF outside the workbook's list is refused, nothing changed.
    void SetCellFormat(std::int32_t row, std::int32_t col, std::int32_t xf) override;

    // Formats, fonts and typed text. Font indexes are those of XF records:
    // BIFF has no font 4, so 0-3 and 5 on name the font records 0-3 and 4
    // on. Replacing an entry outside the list is refused, nothing changed.
    std::int32_t FormatListCount() override;
    // An index outside the list reads XF 0.
    TKmrFormat GetFormatList(std::int32_t index) override;
    // A style XF stays a style.
    void SetFormatList(std::int32_t index, const TKmrFormat& format) override;
    std::int32_t AddFormat(const TKmrFormat& format) override;
    std::int32_t FontListCount() override;
    // Font 4 and indexes outside the list read font 0.
    TKmrFont GetFontList(std::int32_t index) override;
    // Font 4 is left alone.
    void SetFontList(std::int32_t index, const TKmrFont& font) override;
    std::int32_t AddFont(const TKmrFont& font) override;
    TUsedPaletteColors GetUsedPaletteColors() override;
    // The text as the user's locale settings read it (AnalyseCellString):
    // a number or date-time takes the format given, else the cell's, with
    // the number format that shows it; a boolean or a text takes the format
    // given, else keeps the cell's.
    void SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text, const std::u16string& dateFormat,
                       const std::u16string& timeFormat) override;
    void SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text, const TKmrFormat& format,
                       const std::u16string& dateFormat, const std::u16string& timeFormat) override;

    void InsertAndCopySheets(std::int32_t copyFrom, std::int32_t insertBefore, std::int32_t count) override;
    std::int32_t SheetCount() override;
    // The active sheet is stored as given; operations check it when they use it.
    std::int32_t GetActiveSheet() override;
    void SetActiveSheet(std::int32_t sheet) override;
    // The sheet selected when the file is opened, alone.
    void SelectSheet(std::int32_t sheet) override;
    bool IsWorksheet(std::int32_t sheet) override;
    std::u16string GetActiveSheetName() override;
    void SetActiveSheetName(const std::u16string& name) override;
    std::u16string GetActiveSheetCodeName() override;
    void SetActiveSheetCodeName(const std::u16string& codeName) override;
    TXlsSheetVisible GetActiveSheetVisible() override;
    void SetActiveSheetVisible(TXlsSheetVisible visible) override;
    // The sheet comes back empty, selected only when it is the selected one.
    void ClearSheet() override;
    // count sheets from the active one; at least one sheet stays. The
    // active sheet stays within the workbook and, when the selected sheet
    // went, becomes the selected one.
    void DeleteSheet(std::int32_t count) override;

    // Rows and columns of the active sheet; every sheet's references and the
    // names follow. A move the model refuses changes nothing; counts below
    // 1 delete nothing.
    void InsertAndCopyRows(std::int32_t firstRow, std::int32_t lastRow, std::int32_t destRow, std::int32_t count,
                           bool onlyFormulas) override;
    void InsertAndCopyCols(std::int32_t firstCol, std::int32_t lastCol, std::int32_t destCol, std::int32_t count,
                           bool onlyFormulas) override;
    void DeleteRows(std::int32_t row, std::int32_t count) override;
    void DeleteCols(std::int32_t col, std::int32_t count) override;
    // From the last row up, each row whose first cell reads as mark goes.
    void DeleteMarkedRows(const std::u16string& mark) override;

    // Row settings of the active sheet, heights in 1/20 point. Rows before
    // the first have the default height and no settings.
    std::int32_t GetRowHeight(std::int32_t row) override;
    std::int32_t GetRowHeightHiddenIsZero(std::int32_t row) override;
    void SetRowHeight(std::int32_t row, std::int32_t height) override;
    std::int32_t GetDefaultColWidth() override;
    std::int32_t GetDefaultRowHeight() override;
    bool GetAutoRowHeight(std::int32_t row) override;
    void SetAutoRowHeight(std::int32_t row, bool automatic) override;
    bool GetRowHidden(std::int32_t row) override;
    void SetRowHidden(std::int32_t row, bool hidden) override;
    std::int32_t GetRowFormat(std::int32_t row) override;
    // An XF outside the workbook's list is refused, nothing changed.
    void SetRowFormat(std::int32_t row, std::int32_t xf) override;

    // Hyperlinks, merged cells, columns, outlines and page breaks of the
    // active sheet. Links and names count from 1, merged ranges from 0
    // (their cells from 1); a link number outside 1..count raises "The index
    // "%d" of the property "HyperLinkIndex" is not in the range 1-%d". On a
    // sheet that is no worksheet the getters give their default and the
    // setters do nothing. A refused call changes nothing.
    std::int32_t GetRangeSheet(std::int32_t nameIndex) override;
    std::int32_t HyperLinkCount() override;
    THyperLink GetHyperLink(std::int32_t index) override;
    void SetHyperLink(std::int32_t index, const THyperLink& link) override;
    TXlsCellRange GetHyperLinkCellRange(std::int32_t index) override;
    void SetHyperLinkCellRange(std::int32_t index, const TXlsCellRange& range) override;
    void AddHyperLink(const TXlsCellRange& range, const THyperLink& link) override;
    void DeleteHyperLink(std::int32_t index) override;
    std::int32_t CellMergedListCount() override;
    TXlsCellRange GetCellMergedList(std::int32_t index) override;
    TXlsCellRange GetCellMergedBounds(std::int32_t row, std::int32_t col) override;
    void MergeCells(std::int32_t firstRow, std::int32_t firstCol, std::int32_t lastRow, std::int32_t lastCol) override;
    // Only a merged range with exactly these corners goes.
    void UnMergeCells(std::int32_t firstRow, std::int32_t firstCol, std::int32_t lastRow, std::int32_t lastCol) override;
    std::int32_t GetColumnWidth(std::int32_t col) override;
    std::int32_t GetColumnWidthHiddenIsZero(std::int32_t col) override;
    void SetColumnWidth(std::int32_t col, std::int32_t width) override;
    bool GetColumnHidden(std::int32_t col) override;
    // A column outside 1-256 is ignored.
    void SetColumnHidden(std::int32_t col, bool hidden) override;
    std::int32_t GetColumnFormat(std::int32_t col) override;
    void SetColumnFormat(std::int32_t col, std::int32_t xf) override;
    std::int32_t GetRowOutlineLevel(std::int32_t row) override;
    // Levels 0-7 on every row (column) from first to last, both ends checked
    // first; nothing when last is before first.
    void SetRowOutlineLevel(std::int32_t firstRow, std::int32_t lastRow, std::int32_t level) override;
    std::int32_t GetColOutlineLevel(std::int32_t col) override;
    void SetColOutlineLevel(std::int32_t firstCol, std::int32_t lastCol, std::int32_t level) override;
    // Breaks below a row and right of a column, the numbers passed unchanged.
    void InsertHPageBreak(std::int32_t row) override;
    void DeleteHPageBreak(std::int32_t row) override;
    bool HasHPageBreak(std::int32_t row) override;
    void InsertVPageBreak(std::int32_t col) override;
    void DeleteVPageBreak(std::int32_t col) override;
    bool HasVPageBreak(std::int32_t col) override;
    // From the last row up, each row whose first cell reads as mark ends its
    // page and the cell is emptied; the breaks are counted first.
    void MakePageBreaks(const std::u16string& mark) override;

    bool CanOptimizeRead() override;
    void RefreshPivotTables() override;
    void RefreshChartRanges(const std::u16string& rangeName) override;
    void ParseComments() override;
    void BeginSheet() override;
    void EndSheet(std::int32_t row) override;
    void PrepareBlockData(std::int32_t row1, std::int32_t col1, std::int32_t row2, std::int32_t col2) override;
    void PasteBlockData() override;
    // The block's columns are those of defined name nameIndex (from 1).
    void SetBounds(std::int32_t nameIndex) override;
    std::int32_t GetFirstColumn() override;
    std::int32_t CellCount(std::int32_t row) override;

    // ---- Sheet view, page setup, outline flags, workbook options, palette, names ----
    // Settings of the active sheet. Those a chart or other sheet kind
    // lacks give their default there and change nothing; the zoom as read,
    // the panes, header, footer and margins are any sheet's.
    bool GetShowGridLines() override;
    void SetShowGridLines(bool value) override;
    bool GetShowGridHeaders() override;
    void SetShowGridHeaders(bool value) override;
    std::int32_t GetSheetZoom() override;
    void SetSheetZoom(std::int32_t percent) override;
    // Rows above row and columns left of col are frozen: (1, 1) unfreezes.
    void FreezePanes(std::int32_t row, std::int32_t col) override;
    void GetFrozenPanes(std::int32_t& row, std::int32_t& col) override;
    // The split's positions pass unchanged; (0, 0) removes it.
    void SplitWindow(std::int32_t row, std::int32_t col) override;
    void GetSplitWindow(std::int32_t& row, std::int32_t& col) override;
    std::u16string GetPageHeader() override;
    void SetPageHeader(const std::u16string& text) override;
    std::u16string GetPageFooter() override;
    void SetPageFooter(const std::u16string& text) override;
    bool GetPrintGridLines() override;
    void SetPrintGridLines(bool value) override;
    TXlsMargins GetMargins() override;
    // Margins below 0 or not finite are refused, nothing changed.
    void SetMargins(const TXlsMargins& margins) override;
    std::int32_t GetPrintScale() override;
    void SetPrintScale(std::int32_t percent) override;
    bool GetPrintToFit() override;
    void SetPrintToFit(bool value) override;
    std::uint16_t GetPrintNumberOfHorizontalPages() override;
    void SetPrintNumberOfHorizontalPages(std::uint16_t pages) override;
    std::uint16_t GetPrintNumberOfVerticalPages() override;
    void SetPrintNumberOfVerticalPages(std::uint16_t pages) override;
    std::uint8_t GetPrintOptions() override;
    void SetPrintOptions(std::uint8_t options) override;
    bool GetPrintHCentered() override;
    void SetPrintHCentered(bool value) override;
    bool GetPrintVCentered() override;
    void SetPrintVCentered(bool value) override;
    std::int32_t GetPrintCopies() override;
    void SetPrintCopies(std::int32_t copies) override;
    std::int32_t GetPrintPaperSize() override;
    void SetPrintPaperSize(std::int32_t paperSize) override;
    std::int32_t GetPrintXResolution() override;
    void SetPrintXResolution(std::int32_t dpi) override;
    std::int32_t GetPrintYResolution() override;
    void SetPrintYResolution(std::int32_t dpi) override;
    TPrinterDriverSettings GetPrinterDriverSettings() override;
    void SetPrinterDriverSettings(const TPrinterDriverSettings& settings) override;
    bool GetOutlineSummaryRowsBelowDetail() override;
    void SetOutlineSummaryRowsBelowDetail(bool value) override;
    bool GetOutlineSummaryColsRightOfDetail() override;
    void SetOutlineSummaryColsRightOfDetail(bool value) override;
    bool GetOutlineAutomaticStyles() override;
    void SetOutlineAutomaticStyles(bool value) override;

    // The workbook's options; the reference style is that of the first
    // worksheet and is set on all of them.
    bool GetOptions1904Dates() override;
    void SetOptions1904Dates(bool value) override;
    bool GetOptionsR1C1() override;
    void SetOptionsR1C1(bool value) override;
    bool GetOptionsSaveExternalLinkValues() override;
    void SetOptionsSaveExternalLinkValues(bool value) override;
    bool GetOptionsPrecisionAsDisplayed() override;
    void SetOptionsPrecisionAsDisplayed(bool value) override;
    bool GetIsXltTemplate() override;
    void SetIsXltTemplate(bool value) override;
    bool GetInvalidateFormulas() override;
    void SetInvalidateFormulas(bool value) override;
    // Palette index i (1 to 56) is the workbook's colour i - 1.
    std::uint32_t GetColorPalette(std::int32_t index) override;
    void SetColorPalette(std::int32_t index, std::uint32_t color) override;

    // Defined names from 1; their bounds from 1, 0 where a name is no
    // cell range (setting them there changes nothing).
    std::int32_t GetExcelNameCount() override;
    std::u16string GetRangeName(std::int32_t nameIndex) override;
    std::int32_t GetRangeR1(std::int32_t nameIndex) override;
    std::int32_t GetRangeR2(std::int32_t nameIndex) override;
    std::int32_t GetRangeC1(std::int32_t nameIndex) override;
    std::int32_t GetRangeC2(std::int32_t nameIndex) override;
    void SetRangeR1(std::int32_t nameIndex, std::int32_t row) override;
    void SetRangeR2(std::int32_t nameIndex, std::int32_t row) override;
    void SetRangeC1(std::int32_t nameIndex, std::int32_t col) override;
    void SetRangeC2(std::int32_t nameIndex, std::int32_t col) override;

    // The same as AssignCellData.
    void AssignBlockData(std::int32_t row, std::int32_t blockCol, const TVariant& value) override;

    // Clipboard: a range of a worksheet travels as a BIFF8 workbook (the
    // globals and the sheet cut to the range) and as TAB-delimited text. A
    // range outside the sheet or with its last row or column before the
    // first (an empty sheet) is refused and puts nothing on the clipboard.
    // Without a clipboard from the adapter the three raise.
    void CopyToClipboard() override;
    void CopyToClipboard(const TXlsCellRange& range) override;
    void PasteFromClipboard(std::int32_t row, std::int32_t col) override;
    void CopyToClipboardFormat(const TXlsCellRange& range, std::u16string& text, TKmrStream* stream);
    // The cells of the first sheet of the copied workbook, with their
    // formats, placed with their top-left cell at (row, col).
    void PasteFromXlsClipboardFormat(std::int32_t row, std::int32_t col, TKmrStream& stream);

    // Defined names from formula text
    // A name of the active worksheet's workbook (nothing on another sheet
    // kind); its text is read with references absolute, on the name's sheet.
    void AddRange(TXlsNamedRange& range) override;

    // Pictures of the active sheet, numbered from 0 in the drawing's order;
    // a row from 1 turns a position among the pictures anchored on that row
    // (as BeginSheet listed them) into that number. Other sheet kinds have
    // none. Anchors come back with rows and columns from 1.
    std::int32_t GetPicturesCount(std::int32_t row) override;
    std::u16string GetPictureName(std::int32_t row, std::int32_t index) override;
    void GetPicture(std::int32_t row, std::int32_t index, TKmrStream& image, TXlsImgTypes& imageType,
                    TClientAnchor& anchor) override;
    // A number outside the pictures: "The index "%d" of the property
    // "ImageIndex" is not in the range %d-%d".
    void DeleteImage(std::int32_t index) override;
    // Shapes that keep their size or place go back to it after rows or
    // columns of the active sheet changed size or visibility.
    void RestoreObjectSizes();

    // ---- Adding, replacing and placing pictures ----
    // Places are anchors with rows and columns from 1: columns 1-256, rows
    // 1-65536, column offsets 0-1024 and row offsets 0-255, else "The index
    // "%d" of the property "%s" is not in the range %d-%d" naming the field
    // ("Col1" ... "Dy2") before anything changes. Equal images are stored
    // once; no bytes show the placeholder. Nothing on other sheet kinds.
    void AddImage(std::span<const std::uint8_t> image, TXlsImgTypes imageType, const TImageProperties& properties,
                  TKmrAnchorType anchorType) override;
    void AssignPicture(std::int32_t row, std::int32_t index, std::span<const std::uint8_t> image,
                       TXlsImgTypes imageType) override;
    void AssignPicture(std::int32_t row, std::int32_t index, std::span<const std::uint8_t> image,
                       TXlsImgTypes imageType, const TImageProperties& properties, TKmrAnchorType anchorType) override;
    void AssignPictureProperties(std::int32_t row, std::int32_t index, const TImageProperties& properties,
                                 TKmrAnchorType anchorType) override;
    // The picture shows the placeholder; a number outside the pictures as
    // for DeleteImage.
    void ClearImage(std::int32_t index) override;

    // ---- Autofilter ----
    // Drop-downs over columns col1..col2 of the row (from 1) of the active
    // worksheet, and the sheet's hidden built-in filter name over them; a
    // last column before the first removes the filter. Rows outside
    // 1-65536, columns outside 1-256: the index message ("Row", "Column",
    // counted from 0). Other sheet kinds: nothing, false, all -1.
    void SetAutoFilter(std::int32_t row, std::int32_t col1, std::int32_t col2) override;
    void RemoveAutoFilter() override;
    bool HasAutoFilter() override;
    // Whether the cell carries one of the filter's drop-downs.
    bool HasAutoFilter(std::int32_t row, std::int32_t col) override;
    // The filter name's range, from 1 (0 where there is none).
    TXlsCellRange GetAutoFilterRange() override;

    // Comments of the active sheet: rows and columns from 1, the notes of a
    // row from 0 by column. Unbound notes (no comment box) read empty.
    std::int32_t GetCommentsCount(std::int32_t row) override;
    // An index outside the row's notes: "The index "%d" of the property
    // "CommentIndex" is not in the range %d-%d".
    std::u16string GetCommentText(std::int32_t row, std::int32_t index) override;
    std::int32_t GetCommentColumn(std::int32_t row, std::int32_t index) override;
    std::u16string GetCellComment(std::int32_t row, std::int32_t col) override;
    // The text of a note; an empty text deletes it.
    void AssignComment(std::int32_t row, std::int32_t index, const std::u16string& text) override;
    // A note at the cell gets the text (empty: it goes); else a new note
    // with its box where the properties say (from 1, kept on the sheet).
    // Rows outside
    // 1-65536 or columns outside 1-256: "The index "%d" of the property
    // "Row" is not in the range 0-65535" ("Column", 0-255), counted from 0.
    void SetCellComment(std::int32_t row, std::int32_t col, const std::u16string& text,
                        const TImageProperties& box) override;

    // ---- Autofit ----
    // Rows (columns) of the active worksheet, from 1, fitted to their texts
    // as the adapter's text measuring gives them; nothing on another sheet
    // kind. Without text measuring "There is no text measuring to fit rows
    // and columns with", before anything changes. The workbook's form fits
    // every worksheet's rows; a sheet with drawing objects refuses it first.
    void AutofitRow(std::int32_t firstRow, std::int32_t lastRow, bool keepAutomatic, bool forced,
                    long double adjustment) override;
    void AutofitCol(std::int32_t firstCol, std::int32_t lastCol, bool ignoreStrings, long double adjustment) override;
    void AutofitRowsOnWorkbook(bool keepAutomatic, bool forced, long double adjustment) override;

    // The model, for the grid and code that needs it directly.
    TWorkbook& GetTWorkbook();
    // Pictures by row of the active sheet, built anew when the active sheet
    // or its rows changed since the last time.
    const TRowComments& Pictures() const;

private:
    TWorkbook& Book() const;
    void OpenFileAndOrSearch(const std::string& fileName, bool search);
    // fileName: the name the file was opened by, for the messages.
    void OpenStream(TKmrStream& stream, const std::string& fileName);
    // Where the active sheet is a worksheet, it; else none.
    TWorkSheet* ActiveWorkSheet() const;
    // The model index of the active sheet; one outside the workbook raises
    // "Sheet number "%d" invalid. Must be between %d and %d".
    int CheckedSheet() const;
    // The active sheet's cells, checked as above; none on another sheet kind.
    TCellList* Cells() const;
    // The cells' row list at the model row, when the row holds any.
    const TBaseRowColRecordList* Row(std::int32_t row) const;
    // XF index xf must name an XF record (-1 may mean "keep").
    void CheckXF(std::int32_t xf, bool keepAllowed) const;
    void SetValueAt(int row, int col, const TXlsCellValue& value, const TRTFRunList& runs);
    void GetValueAt(int row, int col, TXlsCellValue& value, TRTFRunList& runs) const;
    TWorkSheet* WorkSheet() const { return Cells() ? &FWorkbook->WorkSheets(FActiveSheet - 1) : nullptr; }
    // The active worksheet when it holds hyperlink index (from 1); else
    // the index is refused.
    TWorkSheet& LinkSheet(std::int32_t index) const;
    // The row's ROW record, when it has one.
    TRowRecord* RowRecord(std::int32_t row) const;
    // The index-th note (from 0) of a row (from 1) of the active worksheet.
    const TNoteRecord& Note(std::int32_t row, std::int32_t index) const;
    // The drawing number of (row, index) as the picture operations take it.
    int PictureNumber(const TWorkSheet& sheet, std::int32_t row, std::int32_t index) const;
    void SaveFormatTo(TExcelSaveFormatNative format, const std::string& fileName, TKmrStream* stream,
                      bool refuseExisting);
    void SaveAsXls(const std::string& fileName, TKmrStream* dataStream, bool refuseExisting);
    void SaveAsTextDelimited(const std::string& fileName, TKmrStream* dataStream, char delimiter,
                             bool refuseExisting);
    IKmrClipboard& Clipboard() const;

    // ---- Settings, workbook options and names ----
    // The active sheet whatever its kind, checked.
    TSheet& AnySheet() const {
        const int index = CheckedSheet();
        return FWorkbook->Sheet(index);
    }
    // A setting of the active sheet when it is a worksheet, else the default.
    template <class R, class D>
    R WorkSheetSetting(R (TSheet::*get)() const, D byDefault) const {
        const TWorkSheet* sheet = WorkSheet();
        return sheet ? (sheet->*get)() : static_cast<R>(byDefault);
    }
    // A change of a setting on a worksheet only.
    template <class V, class A>
    void ChangeWorkSheetSetting(void (TSheet::*set)(V), const A& value) {
        if (TWorkSheet* sheet = WorkSheet()) (sheet->*set)(value);
    }
    // Defined name nameIndex (from 1); another index raises.
    TNameRecord& NameAt(std::int32_t nameIndex) const;
    // One bound of a name, from 1.
    void SetNameBound(std::int32_t nameIndex, void (TNameRecord::*set)(int), std::int32_t value);

    TAdapterLink<TXLSAdapter> FAdapter;
    std::int32_t FActiveSheet = 0;
    std::unique_ptr<TWorkbook> FWorkbook;
    std::vector<std::uint8_t> FTemplate;
    // The records stream of FTemplate, as the opened file named it.
    std::u16string FStreamName = u"Workbook";
    std::int32_t FFirstColumn = 0, FLastColumn = 0;
    bool FAllowOverwritingFiles;
    bool FInvalidateFormulas = false;
    // The pictures by row of sheet FPicturesSheet (from 1; 0 when a change
    // of rows, sheets or heights left them to be listed again).
    mutable std::unique_ptr<TRowComments> FPictures = std::make_unique<TRowComments>();
    mutable std::int32_t FPicturesSheet = 0;
    std::shared_ptr<IKmrClipboard> FClipboard;
    TKmrTextMeasureFactory FTextMeasure;
    // A new measurer, or the refusal.
    std::unique_ptr<TKmrTextMeasure> NewTextMeasure() const;
};

}  // namespace kalmira
