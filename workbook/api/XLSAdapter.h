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
#include "workbook/api/Xlsbasetemplatestore.h"
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

private:
    TTemplateStoreRef FTemplateStore;
    TExcelSaveFormats FSaveFormat{TExcelSaveFormatNative::snXLS};
    bool FAllowOverwritingFiles = false;
    std::shared_ptr<IKmrClipboard> FClipboard;
};

// Every operation but Connect and Disconnect raises "There is no open file"
// while no model exists. The adapter, when given, must outlive the object.
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

    void CopyToClipboard() override;
    void CopyToClipboard(const TXlsCellRange& range) override;
    void PasteFromClipboard(std::int32_t row, std::int32_t col) override;

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

    // The model, for the grid and code that needs it directly.
    TWorkbook& GetTWorkbook();
    // Pictures by row of the active sheet, as BeginSheet last built them.
    const TRowComments& Pictures() const { return *FPictures; }

private:
    TWorkbook& Book() const;
    void OpenFileAndOrSearch(const std::string& fileName, bool search);
    void OpenStream(TKmrStream& stream);
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
    // The row's ROW record, when it has one.
    TRowRecord* RowRecord(std::int32_t row) const;
    // The index-th note (from 0) of a row (from 1) of the active worksheet.
    const TNoteRecord& Note(std::int32_t row, std::int32_t index) const;
    // The drawing number of (row, index) as the picture operations take it.
    int PictureNumber(const TWorkSheet& sheet, std::int32_t row, std::int32_t index) const;
    void SaveFormatTo(TExcelSaveFormatNative format, const std::string& fileName, TKmrStream* stream,
                      bool refuseExisting);
    void SaveAsXls(const std::string& fileName, TKmrStream* dataStream, bool refuseExisting);

    TXLSAdapter* FAdapter;
    std::int32_t FActiveSheet = 0;
    std::unique_ptr<TWorkbook> FWorkbook;
    std::vector<std::uint8_t> FTemplate;
    std::int32_t FFirstColumn = 0, FLastColumn = 0;
    bool FAllowOverwritingFiles;
    bool FInvalidateFormulas = false;
    std::unique_ptr<TRowComments> FPictures = std::make_unique<TRowComments>();
    std::shared_ptr<IKmrClipboard> FClipboard;
};

}  // namespace kalmira
