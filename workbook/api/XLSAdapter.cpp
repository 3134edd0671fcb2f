#include "workbook/api/XLSAdapter.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

#include "workbook/api/UKmrCellString.h"
#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UKmrEmptySheet.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/UOle2Impl.h"

namespace kalmira {

namespace {

// The system's reason why a file cannot be read, with its name.
inline constexpr const char* ErrCantOpenFile = "Can't open the file \"%s\": %s";
inline constexpr const char* ErrNoClipboard = "There is no clipboard";
// A copied range: columns first to last, rows first to last, from 1.
inline constexpr const char* ErrInvalidCellRange = "Invalid cell range: columns %d to %d, rows %d to %d";
constexpr int MaxSheetRows = 65536, MaxSheetColumns = 256;

constexpr TExcelSaveFormatNative SaveOrder[] = {TExcelSaveFormatNative::snXLS, TExcelSaveFormatNative::snCSVComma,
                                                TExcelSaveFormatNative::snCSVSemiColon,
                                                TExcelSaveFormatNative::snTabDelimited};

// A position from 1 as the model counts it; the lowest stays itself rather
// than wrap.
int ModelIndex(std::int32_t n) { return n == INT32_MIN ? n : n - 1; }

bool FileExists(const std::string& name) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::status(name, error));
}

}  // namespace

std::unique_ptr<TExcelFile> TXLSAdapter::GetWorkbook() {
    return std::make_unique<TXLSFile>(this, FAllowOverwritingFiles);
}

TXLSFile::TXLSFile(TXLSAdapter* adapter, bool allowOverwritingFiles)
    : FAdapter(adapter),
      FAllowOverwritingFiles(allowOverwritingFiles),
      FClipboard(adapter ? adapter->Clipboard() : nullptr),
      FTextMeasure(adapter ? adapter->TextMeasure() : nullptr) {}

TXLSFile::~TXLSFile() = default;

TWorkbook& TXLSFile::Book() const {
    if (!FWorkbook) Raise(ErrNoOpenFile);
    return *FWorkbook;
}

TWorkbook& TXLSFile::GetTWorkbook() { return Book(); }

void TXLSFile::Connect() { FWorkbook = std::make_unique<TWorkbook>(); }

void TXLSFile::Disconnect() { FWorkbook.reset(); }

// ---------------------------------------------------------------------------
// Opening

void TXLSFile::OpenFile(const std::string& fileName) { OpenFileAndOrSearch(fileName, false); }

void TXLSFile::OpenFileAndSearch(const std::string& fileName) { OpenFileAndOrSearch(fileName, true); }

void TXLSFile::LoadFromStream(TKmrStream& stream) { OpenStream(stream, ""); }

void TXLSFile::OpenFileAndOrSearch(const std::string& fileName, bool search) {
    Book();
    if (TXlsBaseTemplateStore* store = FAdapter ? FAdapter->TemplateStore() : nullptr) {
        TKmrMemoryStream stored(store->GetStoredFile(Utf8ToUtf16(fileName)));
        return OpenStream(stored, fileName);
    }
    std::string name = fileName;
    if (search && FAdapter) name = SearchPathStr(FAdapter->BasePathToOpen(), fileName);
    else if (::access(name.c_str(), R_OK) != 0) Raise(ErrCantOpenFile, name, std::strerror(errno));
    TKmrFileStream in(name, TKmrFileStream::TMode::Read);
    OpenStream(in, fileName);
}

namespace {

// The BOF record ids of Excel 2, 3, 4 and of Excel 5 and later.
constexpr std::uint16_t BofBiff2 = 0x0009, BofBiff3 = 0x0209, BofBiff4 = 0x0409, BofBiff5 = 0x0809;
constexpr std::uint16_t VersionBiff8 = 0x0600;

enum class TBareRecords { None, Older, Biff8 };

// What a file with no container starts with: the BOF record of another
// Excel version (a file of Excel 4 or older holds its records with no
// container, and so may one of Excel 5), a bare records stream of this
// engine's version, or neither. The position is left where it was.
TBareRecords BareRecordsOf(TKmrStream& stream) {
    const std::int64_t start = stream.Position();
    std::uint8_t bof[6] = {};
    const std::size_t got = stream.Read(bof, sizeof bof);
    stream.Seek(start);
    const std::uint16_t id = GetWord(bof, 0);
    if (got < sizeof bof || GetWord(bof, 2) < 2) return TBareRecords::None;
    if (id == BofBiff2 || id == BofBiff3 || id == BofBiff4) return TBareRecords::Older;
    if (id != BofBiff5) return TBareRecords::None;
    return GetWord(bof, 4) == VersionBiff8 ? TBareRecords::Biff8 : TBareRecords::Older;
}

// A bare records stream, as other readers take it, is given the container
// of the empty workbook, so that it loads and saves as any workbook file.
std::vector<std::uint8_t> InEmptyContainer(TKmrStream& stream) {
    std::vector<std::uint8_t> records(static_cast<std::size_t>(stream.Size() - stream.Position()));
    records.resize(stream.Read(records.data(), records.size()));
    const auto empty = KmrEmptySheet();
    TKmrMemoryStream container(std::vector<std::uint8_t>(empty.begin(), empty.end()));
    TKmrMemoryStream out;
    TOle2File ole(&container);
    ole.PrepareForWrite(&out, Utf8ToUtf16(WorkbookStrS));
    ole.WriteMem(records.data(), records.size());
    ole.FinishStream();
    return out.TakeBytes();
}

// The records stream of a container: "Workbook", else "Book", the name
// Excel 5 gave it and some writers still give a stream of this version.
// Either is found whatever the case of its letters. A container with
// neither that holds an encrypted package (a later Excel's workbook saved
// with a password) is told so.
std::u16string RecordsStreamOf(const TOle2File& ole, const std::string& fileName) {
    for (const std::u16string_view name : {std::u16string_view(u"Workbook"), std::u16string_view(u"Book")})
        if (ole.HasStream(name)) return std::u16string(name);
    if (ole.HasStream(u"EncryptionInfo") && ole.HasStream(u"EncryptedPackage")) Raise(ErrFileIsPasswordProtected);
    Raise(ErrFileIsNotXLS, fileName);
}

}  // namespace

// The model and the template are made aside and taken over only when the
// whole file has loaded: a failed open leaves the open workbook as it was.
void TXLSFile::OpenStream(TKmrStream& stream, const std::string& fileName) {
    Book();
    auto book = std::make_unique<TWorkbook>();
    TKmrMemoryStream copy;  // outlives the container, which finishes into it
    TOle2File ole(&stream, true);
    if (ole.NotXls()) {
        switch (BareRecordsOf(stream)) {
            case TBareRecords::Older: Raise(ErrInvalidVersion);
            case TBareRecords::None: Raise(ErrFileIsNotXLS, fileName);
            case TBareRecords::Biff8: break;
        }
        TKmrMemoryStream contained(InEmptyContainer(stream));
        return OpenStream(contained, fileName);
    }
    std::u16string streamName = RecordsStreamOf(ole, fileName);
    ole.SelectStream(streamName);
    book->LoadFromStream(ole);
    // A stream cut before its first sheet (or holding no records at all)
    // leaves no sheet: no workbook has none.
    if (book->SheetCount() == 0) Raise(ErrExcelInvalid);
    // The container copied whole; its records stream is left empty (zeros),
    // to be replaced at each save under the name it was found by.
    ole.PrepareForWrite(&copy, streamName);
    ole.FinishStream();

    FWorkbook = std::move(book);
    FTemplate = copy.TakeBytes();
    FStreamName = std::move(streamName);
    FActiveSheet = FWorkbook->GetActiveSheet() + 1;
    FInvalidateFormulas = false;
    FPicturesSheet = 0;
}

// A count the workbook cannot hold is refused before the open one goes.
void TXLSFile::NewFile(std::int32_t sheetCount) {
    Book();
    TWorkbook::CheckSheetCount(sheetCount);
    const auto empty = KmrEmptySheet();
    TKmrMemoryStream stream(std::vector<std::uint8_t>(empty.begin(), empty.end()));
    OpenStream(stream, "");
    if (sheetCount > 1) InsertAndCopySheets(-1, 2, sheetCount - 1);
}

void TXLSFile::CloseFile() { Book(); }

// ---------------------------------------------------------------------------
// Saving

void TXLSFile::Save(bool, const std::string& fileName, const TOnGetFileNameEvent& onGetFileName,
                    const TOnGetOutStreamEvent& onGetOutStream, TKmrStream* dataStream) {
    Book();
    for (const TExcelSaveFormatNative format : SaveOrder) {
        const bool selected = FAdapter ? FAdapter->SaveFormat().Contains(format)
                                       : format == TExcelSaveFormatNative::snXLS;
        if (!selected) continue;
        std::string name = fileName;
        TKmrStream* out = dataStream;
        bool refuseExisting = false;
        if (!out && onGetOutStream) {
            onGetOutStream(*this, format, out);
        } else if (!out) {
            if (onGetFileName) onGetFileName(*this, format, name);
            refuseExisting = !FAllowOverwritingFiles;
            if (refuseExisting && FileExists(name)) Raise(ErrCantWriteToFile, name);
        }
        SaveFormatTo(format, name, out, refuseExisting);
    }
}

void TXLSFile::SaveFormatTo(TExcelSaveFormatNative format, const std::string& fileName, TKmrStream* stream,
                            bool refuseExisting) {
    switch (format) {
        case TExcelSaveFormatNative::snXLS: return SaveAsXls(fileName, stream, refuseExisting);
        case TExcelSaveFormatNative::snCSVComma: return SaveAsTextDelimited(fileName, stream, ',', refuseExisting);
        case TExcelSaveFormatNative::snCSVSemiColon:
            return SaveAsTextDelimited(fileName, stream, ';', refuseExisting);
        case TExcelSaveFormatNative::snTabDelimited:
            return SaveAsTextDelimited(fileName, stream, '\t', refuseExisting);
    }
}

void TXLSFile::SaveAsXls(const std::string& fileName, TKmrStream* dataStream) {
    SaveAsXls(fileName, dataStream, false);
}

void TXLSFile::SaveAsXls(const std::string& fileName, TKmrStream* dataStream, bool refuseExisting) {
    if (dataStream) return SaveAsXls(*dataStream);
    if (FTemplate.empty()) Raise(ErrFileIsNotXLS, "");
    using TReplace = TKmrSafeFileStream::TReplace;
    TKmrSafeFileStream out(fileName, refuseExisting ? TReplace::Refuse : TReplace::Allow);
    SaveAsXls(out);
    out.Commit();
}

void TXLSFile::SaveAsXls(TKmrStream& stream) {
    TWorkbook& book = Book();
    if (FTemplate.empty()) Raise(ErrFileIsNotXLS, "");
    TKmrByteView container(FTemplate);
    TOle2File ole(&container);
    ole.PrepareForWrite(&stream, FStreamName);
    book.SaveToStream(ole, FInvalidateFormulas);
    ole.FinishStream();
}

// Delimited text goes to a file as the XLS format does: whole or not at all.
void TXLSFile::SaveAsTextDelimited(const std::string& fileName, TKmrStream* dataStream, char delimiter) {
    SaveAsTextDelimited(fileName, dataStream, delimiter, false);
}

void TXLSFile::SaveAsTextDelimited(const std::string& fileName, TKmrStream* dataStream, char delimiter,
                                   bool refuseExisting) {
    Book();
    const TTextEncoding encoding = FAdapter ? FAdapter->TextEncoding() : TTextEncoding::Utf8;
    if (dataStream) return SaveAsTextDelim(*dataStream, *this, delimiter, encoding);
    using TReplace = TKmrSafeFileStream::TReplace;
    TKmrSafeFileStream out(fileName, refuseExisting ? TReplace::Refuse : TReplace::Allow);
    SaveAsTextDelim(out, *this, delimiter, encoding);
    out.Commit();
}

// ---------------------------------------------------------------------------
// Sheets

void TXLSFile::InsertAndCopySheets(std::int32_t copyFrom, std::int32_t insertBefore, std::int32_t count) {
    TWorkbook& book = Book();
    if (count < 1) return;
    // Positions below 1 are refused by the model; none of them wraps here.
    book.InsertSheets(copyFrom > 0 ? copyFrom - 1 : -1, insertBefore > 0 ? insertBefore - 1 : -1, count);
    FInvalidateFormulas = true;
    FPicturesSheet = 0;
}

std::int32_t TXLSFile::SheetCount() { return Book().SheetCount(); }

std::int32_t TXLSFile::GetActiveSheet() {
    Book();
    return FActiveSheet;
}

void TXLSFile::SetActiveSheet(std::int32_t sheet) {
    Book();
    FActiveSheet = sheet;
}

void TXLSFile::SelectSheet(std::int32_t sheet) { Book().SetActiveSheet(sheet - 1); }

bool TXLSFile::IsWorksheet(std::int32_t sheet) {
    const TWorkbook& book = Book();
    return sheet >= 1 && sheet <= book.SheetCount() && book.IsWorksheet(sheet - 1);
}

std::u16string TXLSFile::GetActiveSheetName() {
    const int index = CheckedSheet();
    return FWorkbook->Globals().GetSheetName(index);
}

void TXLSFile::SetActiveSheetName(const std::u16string& name) {
    const int index = CheckedSheet();
    if (name.empty()) Raise(ErrInvalidSheet, "");
    FWorkbook->Globals().SetSheetName(index, name);
}

std::u16string TXLSFile::GetActiveSheetCodeName() {
    const int index = CheckedSheet();
    return FWorkbook->Sheet(index).GetCodeName();
}

void TXLSFile::SetActiveSheetCodeName(const std::u16string& codeName) {
    const int index = CheckedSheet();
    if (codeName.empty()) Raise(ErrInvalidSheet, "");
    for (int i = 0; i < FWorkbook->SheetCount(); ++i)
        if (FWorkbook->Sheet(i).GetCodeName() == codeName) Raise(ErrDuplicatedSheetName, Utf16ToUtf8(codeName));
    FWorkbook->Sheet(index).SetCodeName(codeName);
}

TXlsSheetVisible TXLSFile::GetActiveSheetVisible() {
    const int index = CheckedSheet();
    return FWorkbook->Globals().GetSheetVisible(index);
}

void TXLSFile::SetActiveSheetVisible(TXlsSheetVisible visible) {
    const int index = CheckedSheet();
    FWorkbook->Globals().SetSheetVisible(index, visible);
}

void TXLSFile::ClearSheet() {
    if (!Cells()) return;
    const int index = FActiveSheet - 1;
    TWorkSheet& sheet = FWorkbook->WorkSheets(index);
    sheet.ClearValues();
    // The empty sheet is loaded selected; only the workbook's selected
    // sheet may be, or the sheets open grouped.
    sheet.SetSelected(index == FWorkbook->GetActiveSheet());
    FInvalidateFormulas = true;
    FPicturesSheet = 0;
}

void TXLSFile::DeleteSheet(std::int32_t count) {
    const int first = CheckedSheet();
    TWorkbook& book = *FWorkbook;
    if (book.SheetCount() <= count) Raise(ErrNoSheetVisible);
    if (count < 1) return;
    count = std::min(count, book.SheetCount() - first);
    // The workbook keeps its window on a sheet that is left and shown.
    book.DeleteSheets(first, count);
    FActiveSheet = std::min(FActiveSheet, book.SheetCount());
    FInvalidateFormulas = true;
    FPicturesSheet = 0;
}

// ---------------------------------------------------------------------------
// Rows and columns

void TXLSFile::InsertAndCopyRows(std::int32_t firstRow, std::int32_t lastRow, std::int32_t destRow,
                                 std::int32_t count, bool onlyFormulas) {
    const int sheet = CheckedSheet();
    FWorkbook->InsertAndCopyRowsAndCols(sheet, firstRow - 1, lastRow - 1, destRow - 1, count, 0, 0, 0, 0,
                                        onlyFormulas);
    FInvalidateFormulas = true;
    FPicturesSheet = 0;
}

void TXLSFile::InsertAndCopyCols(std::int32_t firstCol, std::int32_t lastCol, std::int32_t destCol,
                                 std::int32_t count, bool onlyFormulas) {
    const int sheet = CheckedSheet();
    FWorkbook->InsertAndCopyRowsAndCols(sheet, 0, 0, 0, 0, firstCol - 1, lastCol - 1, destCol - 1, count,
                                        onlyFormulas);
    FInvalidateFormulas = true;
    FPicturesSheet = 0;
}

void TXLSFile::DeleteRows(std::int32_t row, std::int32_t count) {
    const int sheet = CheckedSheet();
    if (count < 1) return;
    FWorkbook->DeleteRowsAndCols(sheet, row - 1, count, 0, 0);
    FInvalidateFormulas = true;
    FPicturesSheet = 0;
}

void TXLSFile::DeleteCols(std::int32_t col, std::int32_t count) {
    const int sheet = CheckedSheet();
    if (count < 1) return;
    FWorkbook->DeleteRowsAndCols(sheet, 0, 0, col - 1, count);
    FInvalidateFormulas = true;
    FPicturesSheet = 0;
}

void TXLSFile::DeleteMarkedRows(const std::u16string& mark) {
    TCellList* cells = Cells();
    if (!cells) return;
    for (auto row = static_cast<int>(cells->Count()) - 1; row >= 0; --row) {
        const TBaseRowColRecordList* list = Row(row);
        if (!list || VariantToString(static_cast<const TCellRecord*>(list->GetItems(0))->GetValue()) != mark) continue;
        FWorkbook->DeleteRowsAndCols(FActiveSheet - 1, row, 1, 0, 0);
        FInvalidateFormulas = true;
        FPicturesSheet = 0;
    }
}

// ---------------------------------------------------------------------------
// Row settings

TRowRecord* TXLSFile::RowRecord(std::int32_t row) const {
    TWorkSheet* sheet = WorkSheet();
    if (!sheet || row < 1 || !sheet->Cells().Rows().HasRow(row - 1)) return nullptr;
    return sheet->Cells().Rows().GetItems(static_cast<std::size_t>(row - 1));
}

std::int32_t TXLSFile::GetRowHeight(std::int32_t row) {
    const TWorkSheet* sheet = WorkSheet();
    return !sheet ? 0 : row < 1 ? sheet->DefRowHeight() : sheet->GetRowHeight(row - 1, false);
}

std::int32_t TXLSFile::GetRowHeightHiddenIsZero(std::int32_t row) {
    const TWorkSheet* sheet = WorkSheet();
    return !sheet ? 0 : row < 1 ? sheet->DefRowHeight() : sheet->GetRowHeight(row - 1, true);
}

void TXLSFile::SetRowHeight(std::int32_t row, std::int32_t height) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->SetRowHeight(row - 1, height);
    RestoreObjectSizes();
}

std::int32_t TXLSFile::GetDefaultColWidth() {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->DefColWidth() : 10;
}

std::int32_t TXLSFile::GetDefaultRowHeight() {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->DefRowHeight() : 255;
}

bool TXLSFile::GetAutoRowHeight(std::int32_t row) {
    const TRowRecord* record = RowRecord(row);
    return !record || record->IsAutoHeight();
}

// A row without settings gets them only to turn automatic height off.
void TXLSFile::SetAutoRowHeight(std::int32_t row, bool automatic) {
    TWorkSheet* sheet = WorkSheet();
    if (!sheet || (automatic && !RowRecord(row))) return;
    if (!RowRecord(row)) sheet->SetRowHeight(row - 1, sheet->GetRowHeight(row - 1, false));
    automatic ? RowRecord(row)->AutoHeight() : RowRecord(row)->ManualHeight();
}

bool TXLSFile::GetRowHidden(std::int32_t row) {
    const TRowRecord* record = RowRecord(row);
    return record && record->IsHidden();
}

void TXLSFile::SetRowHidden(std::int32_t row, bool hidden) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->SetRowHidden(row - 1, hidden);
    RestoreObjectSizes();
}

std::int32_t TXLSFile::GetRowFormat(std::int32_t row) {
    const TWorkSheet* sheet = WorkSheet();
    return !sheet ? 0 : row < 1 ? -1 : sheet->GetRowFormat(row - 1);
}

void TXLSFile::SetRowFormat(std::int32_t row, std::int32_t xf) {
    TWorkSheet* sheet = WorkSheet();
    if (!sheet) return;
    CheckXF(xf, false);
    sheet->SetRowFormat(row - 1, xf);
}

TWorkSheet* TXLSFile::ActiveWorkSheet() const {
    TWorkbook& book = Book();
    const int index = FActiveSheet - 1;
    // A stored active sheet past the last is kept as it is: no worksheet.
    if (index < 0 || index >= book.SheetCount() || !book.IsWorksheet(index)) return nullptr;
    return &book.WorkSheets(index);
}

int TXLSFile::CheckedSheet() const {
    const TWorkbook& book = Book();
    const int index = FActiveSheet - 1;
    if (index < 0 || index >= book.SheetCount()) Raise(ErrInvalidSheetNo, index, 0, book.SheetCount() - 1);
    return index;
}

TCellList* TXLSFile::Cells() const {
    const int index = CheckedSheet();
    return FWorkbook->IsWorksheet(index) ? &FWorkbook->WorkSheets(index).Cells().CellList() : nullptr;
}

const TBaseRowColRecordList* TXLSFile::Row(std::int32_t row) const {
    const TCellList* cells = Cells();
    if (!cells || row < 0) return nullptr;
    const TBaseRowColRecordList* list = cells->GetItems(static_cast<std::size_t>(row));
    return list && list->Count() > 0 ? list : nullptr;
}

void TXLSFile::CheckXF(std::int32_t xf, bool keepAllowed) const {
    const auto count = static_cast<std::int32_t>(Book().Globals().XF().Count());
    if ((xf < 0 || xf >= count) && !(keepAllowed && xf == -1)) Raise(ErrIndexOutBounds, xf, "XF", 0, count - 1);
}

// ---------------------------------------------------------------------------
// Cell values and formulas

void TXLSFile::GetValueAt(int row, int col, TXlsCellValue& value, TRTFRunList& runs) const {
    value = TXlsCellValue();
    runs.clear();
    if (const TCellList* cells = Cells()) cells->GetValueX2(row, col, value, runs);
}

void TXLSFile::SetValueAt(int row, int col, const TXlsCellValue& value, const TRTFRunList& runs) {
    TCellList* cells = Cells();
    if (!cells) return;
    CheckXF(value.XF, true);
    cells->SetValueX2(row, col, value, runs, FWorkbook->Globals().GetIs1904());
    FInvalidateFormulas = true;
}

TVariant TXLSFile::GetCellValue(std::int32_t row, std::int32_t col) {
    return GetCellData(row, col - FFirstColumn - 1);
}

void TXLSFile::SetCellValue(std::int32_t row, std::int32_t col, const TVariant& value) {
    AssignCellData(row, col - FFirstColumn - 1, value);
}

TXlsCellValue TXLSFile::GetCellValueX(std::int32_t row, std::int32_t col) {
    return GetCellDataX(row, col - FFirstColumn - 1);
}

void TXLSFile::SetCellValueX(std::int32_t row, std::int32_t col, const TXlsCellValue& value) {
    AssignCellDataX(row, col - FFirstColumn - 1, value);
}

void TXLSFile::GetCellValueX2(std::int32_t row, std::int32_t col, TXlsCellValue& value, TRTFRunList& runs) {
    GetValueAt(row - 1, col - 1, value, runs);
    for (TRTFRun& run : runs) ++run.FirstChar;
}

void TXLSFile::AssignCellValueX2(std::int32_t row, std::int32_t col, const TXlsCellValue& value,
                                 const TRTFRunList& runs) {
    TRTFRunList model = runs;
    for (TRTFRun& run : model) run.FirstChar = static_cast<std::uint16_t>(run.FirstChar - 1);
    SetValueAt(row - 1, col - 1, value, model);
}

std::u16string TXLSFile::GetCellFormula(std::int32_t row, std::int32_t col) {
    const TCellList* cells = Cells();
    return cells ? cells->GetFormula(row - 1, col - 1) : std::u16string();
}

void TXLSFile::SetCellFormula(std::int32_t row, std::int32_t col, const std::u16string& formula) {
    TCellList* cells = Cells();
    if (!cells) return;
    cells->SetFormula(row - 1, col - 1, formula);
    FInvalidateFormulas = true;
}

void TXLSFile::SetCellFormulaX(std::int32_t row, std::int32_t col, const std::u16string& formula,
                               const TVariant& cachedResult) {
    if (TCellList* cells = Cells())
        cells->AssignFormulaX(row - 1, col - 1, formula, cachedResult, FWorkbook->Globals().GetIs1904());
}

TVariant TXLSFile::GetCellData(std::int32_t row, std::int32_t blockCol) { return GetCellDataX(row, blockCol).Value; }

TXlsCellValue TXLSFile::GetCellDataX(std::int32_t row, std::int32_t blockCol) {
    TXlsCellValue value;
    TRTFRunList runs;
    GetValueAt(row - 1, FFirstColumn + blockCol, value, runs);
    return value;
}

void TXLSFile::GetCellDataX2(std::int32_t row, std::int32_t blockCol, TXlsCellValue& value, TRTFRunList& runs) {
    GetValueAt(row - 1, FFirstColumn + blockCol, value, runs);
}

void TXLSFile::AssignCellData(std::int32_t row, std::int32_t blockCol, const TVariant& value) {
    AssignCellDataX(row, blockCol, TXlsCellValue{value, -1, false});
}

void TXLSFile::AssignCellDataX(std::int32_t row, std::int32_t blockCol, const TXlsCellValue& value) {
    SetValueAt(row - 1, FFirstColumn + blockCol, value, {});
}

void TXLSFile::AssignCellDataX2(std::int32_t row, std::int32_t blockCol, const TXlsCellValue& value,
                                const TRTFRunList& runs) {
    SetValueAt(row - 1, FFirstColumn + blockCol, value, runs);
}

// ---------------------------------------------------------------------------
// Used range

std::int32_t TXLSFile::MaxRow() {
    const TCellList* cells = Cells();
    return cells ? static_cast<std::int32_t>(cells->Count()) : 0;
}

std::int32_t TXLSFile::MaxCol() {
    const TCellList* cells = Cells();
    std::int32_t result = 0;
    for (std::size_t row = 0; cells && row < cells->Count(); ++row) {
        const TBaseRowColRecordList* list = cells->GetItems(row);
        if (list && list->Count() > 0)
            result = std::max<std::int32_t>(result, list->GetItems(list->Count() - 1)->GetColumn() + 1);
    }
    return result;
}

bool TXLSFile::IsEmptyRow(std::int32_t row) {
    if (!Row(row - 1)) return true;
    return !FWorkbook->WorkSheets(FActiveSheet - 1).Cells().Rows().HasRow(row - 1);
}

std::int32_t TXLSFile::ColIndexCount(std::int32_t row) {
    const TBaseRowColRecordList* list = Row(row - 1);
    return list ? static_cast<std::int32_t>(list->Count()) : 0;
}

std::int32_t TXLSFile::ColByIndex(std::int32_t row, std::int32_t index) {
    const TBaseRowColRecordList* list = Row(row - 1);
    if (!list || index < 1 || static_cast<std::size_t>(index) > list->Count()) return 0;
    return list->GetItems(static_cast<std::size_t>(index - 1))->GetColumn() + 1;
}

// The row's cells are sorted by column: halving finds col, or where it
// would go.
std::int32_t TXLSFile::ColIndex(std::int32_t row, std::int32_t col) {
    const TBaseRowColRecordList* list = Row(row - 1);
    if (!list) return 0;
    std::size_t low = 0, high = list->Count();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (list->GetItems(middle)->GetColumn() < col - 1) low = middle + 1;
        else high = middle;
    }
    return static_cast<std::int32_t>(low) + 1;
}

std::int32_t TXLSFile::GetCellFormat(std::int32_t row, std::int32_t col) {
    const TCellList* cells = Cells();
    const TCellRecord* cell = cells ? cells->FindCell(row - 1, col - 1) : nullptr;
    return cell ? cell->GetXF() : -1;
}

void TXLSFile::SetCellFormat(std::int32_t row, std::int32_t col, std::int32_t xf) {
    TCellList* cells = Cells();
    if (!cells) return;
    CheckXF(xf, false);
    cells->SetFormat(row - 1, col - 1, xf);
}

// ---------------------------------------------------------------------------
// Formats, fonts and typed text

namespace {

// The font record of an interface font index, which counts as XF records
// do: 0-3 themselves, 5 on one record less; -1 for 4 and past the records.
// The other way is TFontRecordList::AddFont's result.
int FontRecordOf(std::int32_t index, std::size_t records) {
    const std::int32_t record = index < 4 ? index : index == 4 ? -1 : index - 1;
    return record >= 0 && static_cast<std::size_t>(record) < records ? record : -1;
}

// A number or date-time takes the format given, else the cell's own, with
// the number format the text asks for; anything else takes the format
// given, else keeps the cell's XF.
void SetTypedText(TXLSFile& file, std::int32_t row, std::int32_t col, const std::u16string& text,
                  const TKmrFormat* format, const std::u16string& dateFormat, const std::u16string& timeFormat) {
    const std::int32_t cellXF = file.GetCellFormat(row, col);  // checks the active sheet
    if (!file.IsWorksheet(file.GetActiveSheet())) return;
    CheckRowAndCol(row - 1, col - 1);  // before a format is added
    const TCellStringValue typed = AnalyseCellString(text, GetDefaultLocaleFormatSettings(), dateFormat, timeFormat);
    std::int32_t xf = -1;
    if (typed.IsNumber) {
        TKmrFormat shown = format ? *format : file.GetFormatList(cellXF);
        if (typed.NumberFormat) shown.Format = *typed.NumberFormat;
        xf = file.AddFormat(shown);
    } else if (format) {
        xf = file.AddFormat(*format);
    }
    file.SetCellValueX(row, col, TXlsCellValue{typed.Value, xf, false});
}

}  // namespace

std::int32_t TXLSFile::FormatListCount() { return static_cast<std::int32_t>(Book().Globals().XF().Count()); }

TKmrFormat TXLSFile::GetFormatList(std::int32_t index) {
    TWorkbookGlobals& g = Book().Globals();
    if (g.XF().Count() == 0) return {};
    if (index < 0 || static_cast<std::size_t>(index) >= g.XF().Count()) index = 0;
    return g.XF().GetItems(static_cast<std::size_t>(index))->KmrFormat(g.Fonts(), g.Formats());
}

void TXLSFile::SetFormatList(std::int32_t index, const TKmrFormat& format) {
    TWorkbookGlobals& g = Book().Globals();
    const std::int32_t count = FormatListCount();
    if (index < 0 || index >= count) Raise(ErrIndexOutBounds, index, "FormatList", 0, count - 1);
    g.XF().SetFormat(index, format, g.Fonts(), g.Formats());
}

std::int32_t TXLSFile::AddFormat(const TKmrFormat& format) {
    TWorkbookGlobals& g = Book().Globals();
    return g.XF().AddFormat(format, g.Fonts(), g.Formats());
}

// Past font 4 the indexes run one ahead of the records.
std::int32_t TXLSFile::FontListCount() {
    const auto records = static_cast<std::int32_t>(Book().Globals().Fonts().Count());
    return records > 4 ? records + 1 : records;
}

TKmrFont TXLSFile::GetFontList(std::int32_t index) {
    const TFontRecordList& fonts = Book().Globals().Fonts();
    if (fonts.Count() == 0) return {};
    return fonts.GetItems(static_cast<std::size_t>(std::max(FontRecordOf(index, fonts.Count()), 0)))->KmrFont();
}

void TXLSFile::SetFontList(std::int32_t index, const TKmrFont& font) {
    TFontRecordList& fonts = Book().Globals().Fonts();
    const std::int32_t count = FontListCount();
    if (index < 0 || index >= count) Raise(ErrIndexOutBounds, index, "FontList", 0, count - 1);
    if (index == 4) return;
    auto record = std::make_unique<TFontRecord>(font);  // a name it refuses changes nothing
    fonts.SetItems(static_cast<std::size_t>(FontRecordOf(index, fonts.Count())), std::move(record));
}

std::int32_t TXLSFile::AddFont(const TKmrFont& font) { return Book().Globals().Fonts().AddFont(font); }

TUsedPaletteColors TXLSFile::GetUsedPaletteColors() {
    TWorkbookGlobals& g = Book().Globals();
    TUsedPaletteColors used{};
    const std::vector<bool> flags = g.XF().GetUsedColors(static_cast<int>(used.size()), g.Fonts());
    std::copy(flags.begin(), flags.end(), used.begin());
    return used;
}

void TXLSFile::SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text,
                             const std::u16string& dateFormat, const std::u16string& timeFormat) {
    SetTypedText(*this, row, col, text, nullptr, dateFormat, timeFormat);
}

void TXLSFile::SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text, const TKmrFormat& format,
                             const std::u16string& dateFormat, const std::u16string& timeFormat) {
    SetTypedText(*this, row, col, text, &format, dateFormat, timeFormat);
}

// ---------------------------------------------------------------------------
// Hyperlinks, merged cells, columns, outlines and page breaks

std::int32_t TXLSFile::GetRangeSheet(std::int32_t nameIndex) {
    TWorkbookGlobals& globals = Book().Globals();
    const auto count = static_cast<std::int32_t>(globals.Names().Count());
    if (nameIndex < 1 || nameIndex > count) Raise(ErrIndexOutBounds, nameIndex, "NameIndex", 1, count);
    const TNameRecord& name = *globals.Names().GetItems(static_cast<std::size_t>(nameIndex - 1));
    const TReferences& references = globals.References();
    return name.RefersToSheet([&](std::uint16_t entry) { return references.GetSheet(entry); }) + 1;
}

TWorkSheet& TXLSFile::LinkSheet(std::int32_t index) const {
    TWorkSheet* sheet = WorkSheet();
    if (!sheet || index < 1 || index > sheet->HyperLinkCount())
        Raise(ErrIndexOutBounds, index, "HyperLinkIndex", 1, sheet ? sheet->HyperLinkCount() : 0);
    return *sheet;
}

std::int32_t TXLSFile::HyperLinkCount() {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->HyperLinkCount() : 0;
}

THyperLink TXLSFile::GetHyperLink(std::int32_t index) { return LinkSheet(index).GetHyperLink(index - 1); }

void TXLSFile::SetHyperLink(std::int32_t index, const THyperLink& link) {
    LinkSheet(index).SetHyperLink(index - 1, link);
}

TXlsCellRange TXLSFile::GetHyperLinkCellRange(std::int32_t index) {
    return OffsetRange(LinkSheet(index).GetHyperLinkCellRange(index - 1), 1, 1);
}

void TXLSFile::SetHyperLinkCellRange(std::int32_t index, const TXlsCellRange& range) {
    LinkSheet(index).SetHyperLinkCellRange(index - 1, OffsetRange(range, -1, -1));
}

void TXLSFile::AddHyperLink(const TXlsCellRange& range, const THyperLink& link) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->AddHyperLink(OffsetRange(range, -1, -1), link);
}

void TXLSFile::DeleteHyperLink(std::int32_t index) { LinkSheet(index).DeleteHyperLink(index - 1); }

std::int32_t TXLSFile::CellMergedListCount() { return Book().Sheet(CheckedSheet()).CellMergedListCount(); }

TXlsCellRange TXLSFile::GetCellMergedList(std::int32_t index) {
    return OffsetRange(Book().Sheet(CheckedSheet()).CellMergedList(index), 1, 1);
}

TXlsCellRange TXLSFile::GetCellMergedBounds(std::int32_t row, std::int32_t col) {
    return OffsetRange(Book().Sheet(CheckedSheet()).CellMergedBounds(row - 1, col - 1), 1, 1);
}

void TXLSFile::MergeCells(std::int32_t firstRow, std::int32_t firstCol, std::int32_t lastRow, std::int32_t lastCol) {
    Book().Sheet(CheckedSheet()).MergeCells(firstRow - 1, firstCol - 1, lastRow - 1, lastCol - 1);
}

void TXLSFile::UnMergeCells(std::int32_t firstRow, std::int32_t firstCol, std::int32_t lastRow, std::int32_t lastCol) {
    Book().Sheet(CheckedSheet()).UnMergeCells(firstRow - 1, firstCol - 1, lastRow - 1, lastCol - 1);
}

std::int32_t TXLSFile::GetColumnWidth(std::int32_t col) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->GetColWidth(col - 1, false) : 0;
}

std::int32_t TXLSFile::GetColumnWidthHiddenIsZero(std::int32_t col) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->GetColWidth(col - 1, true) : 0;
}

void TXLSFile::SetColumnWidth(std::int32_t col, std::int32_t width) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->SetColWidth(col - 1, width);
    RestoreObjectSizes();
}

bool TXLSFile::GetColumnHidden(std::int32_t col) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet && sheet->GetColHidden(col - 1);
}

void TXLSFile::SetColumnHidden(std::int32_t col, bool hidden) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->SetColHidden(col - 1, hidden);
    RestoreObjectSizes();
}

std::int32_t TXLSFile::GetColumnFormat(std::int32_t col) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->GetColFormat(col - 1) : -1;
}

void TXLSFile::SetColumnFormat(std::int32_t col, std::int32_t xf) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->SetColFormat(col - 1, xf);
}

std::int32_t TXLSFile::GetRowOutlineLevel(std::int32_t row) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->GetRowOutlineLevel(row - 1) : 0;
}

namespace {

// Rows (columns) first to last, from 1, at the level: both ends are checked
// first and the level by the first call, before anything changes.
void SetOutlineLevels(TWorkSheet* sheet, bool rows, std::int32_t first, std::int32_t last, std::int32_t level) {
    if (!sheet || last < first) return;
    for (const std::int32_t end : {first, last}) rows ? CheckRowAndCol(end - 1, 0) : CheckRowAndCol(0, end - 1);
    for (std::int32_t i = first; i <= last; ++i)
        rows ? sheet->SetRowOutlineLevel(i - 1, level) : sheet->SetColOutlineLevel(i - 1, level);
}

}  // namespace

void TXLSFile::SetRowOutlineLevel(std::int32_t firstRow, std::int32_t lastRow, std::int32_t level) {
    SetOutlineLevels(WorkSheet(), true, firstRow, lastRow, level);
}

std::int32_t TXLSFile::GetColOutlineLevel(std::int32_t col) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet ? sheet->GetColOutlineLevel(col - 1) : 0;
}

void TXLSFile::SetColOutlineLevel(std::int32_t firstCol, std::int32_t lastCol, std::int32_t level) {
    SetOutlineLevels(WorkSheet(), false, firstCol, lastCol, level);
}

void TXLSFile::InsertHPageBreak(std::int32_t row) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->InsertHPageBreak(row);
}

void TXLSFile::DeleteHPageBreak(std::int32_t row) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->DeleteHPageBreak(row);
}

bool TXLSFile::HasHPageBreak(std::int32_t row) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet && sheet->HasHPageBreak(row);
}

void TXLSFile::InsertVPageBreak(std::int32_t col) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->InsertVPageBreak(col);
}

void TXLSFile::DeleteVPageBreak(std::int32_t col) {
    if (TWorkSheet* sheet = WorkSheet()) sheet->DeleteVPageBreak(col);
}

bool TXLSFile::HasVPageBreak(std::int32_t col) {
    const TWorkSheet* sheet = WorkSheet();
    return sheet && sheet->HasVPageBreak(col);
}

// The marked cells are found and the breaks counted as the sheet would add
// them before the first cell is emptied. The break below a marked row is at
// the row's number from 1: below the sheet's last row there is none.
void TXLSFile::MakePageBreaks(const std::u16string& mark) {
    TWorkSheet* sheet = WorkSheet();
    if (!sheet) return;
    std::vector<std::pair<int, int>> marked;  // model row and column, last row first
    for (auto row = static_cast<int>(sheet->Cells().CellList().Count()) - 1; row >= 0; --row) {
        const TBaseRowColRecordList* list = Row(row);
        const auto* first = list ? static_cast<const TCellRecord*>(list->GetItems(0)) : nullptr;
        if (first && VariantToString(first->GetValue()) == mark) marked.emplace_back(row, first->GetColumn());
    }
    std::size_t breaks = sheet->HPageBreaks().Count();
    for (const auto& [row, col] : marked) {
        CheckRowAndCol(row + 1, col);
        if (breaks > TPageBreakList::MaxAddedBreaks) Raise(ErrTooManyPageBreaks);
        if (!sheet->HasHPageBreak(row + 1)) ++breaks;
    }
    for (const auto& [row, col] : marked) {
        SetValueAt(row, col, TXlsCellValue(), {});
        sheet->InsertHPageBreak(row + 1);
    }
}

// ---------------------------------------------------------------------------
// Block data

bool TXLSFile::CanOptimizeRead() {
    Book();
    return true;
}

void TXLSFile::RefreshPivotTables() { Book(); }

void TXLSFile::RefreshChartRanges(const std::u16string&) { Book(); }

void TXLSFile::ParseComments() { Book(); }

void TXLSFile::EndSheet(std::int32_t) { Book(); }

void TXLSFile::PrepareBlockData(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { Book(); }

void TXLSFile::PasteBlockData() { Book(); }

// The pictures of the active sheet by the row (from 1) they are anchored on.
void TXLSFile::BeginSheet() {
    FPicturesSheet = 0;
    Pictures();
}

const TRowComments& TXLSFile::Pictures() const {
    if (FPicturesSheet != 0 && FPicturesSheet == FActiveSheet) return *FPictures;
    const TWorkSheet* sheet = ActiveWorkSheet();
    FPictures = std::make_unique<TRowComments>();
    FPicturesSheet = FActiveSheet;
    if (!sheet) return *FPictures;
    const TDrawing& drawing = sheet->Drawing();
    for (int i = 0; i < drawing.DrawingCount(); ++i) FPictures->Add(drawing.GetDrawingRow(i) + 1, i);
    return *FPictures;
}

void TXLSFile::SetBounds(std::int32_t nameIndex) {
    TNameRecordList& names = Book().Globals().Names();
    const auto count = static_cast<std::int32_t>(names.Count());
    if (nameIndex < 1 || nameIndex > count) Raise(ErrIndexOutBounds, nameIndex, "NameIndex", 1, count);
    const TNameRecord& name = *names.GetItems(static_cast<std::size_t>(nameIndex - 1));
    const int first = name.GetC1(), last = name.GetC2();
    if (first < 0 || last < 0) Raise(ErrInvalidNameForARange, Utf16ToUtf8(name.Name()));
    FFirstColumn = first;
    FLastColumn = last;
}

std::int32_t TXLSFile::GetFirstColumn() {
    Book();
    return FFirstColumn + 1;
}

std::int32_t TXLSFile::CellCount(std::int32_t row) {
    const TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet || row < 1 || sheet->Cells().CellList().Count() <= static_cast<std::size_t>(row - 1)) return 0;
    return FLastColumn - FFirstColumn + 1;
}

void TXLSFile::AssignBlockData(std::int32_t row, std::int32_t blockCol, const TVariant& value) {
    AssignCellData(row, blockCol, value);
}

// ---------------------------------------------------------------------------
// Pictures

void TXLSFile::RestoreObjectSizes() {
    if (TWorkSheet* sheet = ActiveWorkSheet()) sheet->RestoreObjectCoords();
    FPicturesSheet = 0;
}

int TXLSFile::PictureNumber(const TWorkSheet& sheet, std::int32_t row, std::int32_t index) const {
    if (row < 1) return index;
    const TCommentRowPos& pictures = Pictures().GetItems(row);
    // A position outside the row names no picture: the drawing refuses it.
    return index >= 0 && index < pictures.Count() ? pictures.GetItems(index) : sheet.Drawing().DrawingCount();
}

std::int32_t TXLSFile::GetPicturesCount(std::int32_t row) {
    const TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return 0;
    return row < 1 ? sheet->Drawing().DrawingCount() : Pictures().GetItems(row).Count();
}

std::u16string TXLSFile::GetPictureName(std::int32_t row, std::int32_t index) {
    const TWorkSheet* sheet = ActiveWorkSheet();
    return sheet ? sheet->Drawing().GetDrawingName(PictureNumber(*sheet, row, index)) : std::u16string();
}

void TXLSFile::GetPicture(std::int32_t row, std::int32_t index, TKmrStream& image, TXlsImgTypes& imageType,
                          TClientAnchor& anchor) {
    const TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return;
    const int n = PictureNumber(*sheet, row, index);
    const std::vector<std::uint8_t> bytes = sheet->Drawing().GetDrawingBytes(n, imageType);
    anchor = sheet->Drawing().GetAnchor(n);
    ++anchor.Col1, ++anchor.Row1, ++anchor.Col2, ++anchor.Row2;
    image.Write(bytes.data(), bytes.size());
}

namespace {
// False without a worksheet; a number outside its pictures raises.
bool NamesPicture(const TWorkSheet* sheet, std::int32_t index) {
    if (!sheet) return false;
    const int count = sheet->Drawing().DrawingCount();
    if (index < 0 || index >= count) Raise(ErrXlsIndexOutBounds, index, "ImageIndex", 0, count);
    return true;
}
}  // namespace

void TXLSFile::DeleteImage(std::int32_t index) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (!NamesPicture(sheet, index)) return;
    sheet->Drawing().DeleteImage(index);
    BeginSheet();
}

// ---------------------------------------------------------------------------
// Adding, replacing and placing pictures

namespace {

// A place given with rows and columns from 1, checked, from 0.
TImageProperties ModelPlace(const TImageProperties& p) {
    const struct {
        std::int32_t Value;
        const char* Name;
        std::int32_t Low, High;
    } fields[] = {{p.Col1, "Col1", 1, 256},   {p.Dx1, "Dx1", 0, 1024}, {p.Row1, "Row1", 1, 65536},
                  {p.Dy1, "Dy1", 0, 255},     {p.Col2, "Col2", 1, 256}, {p.Dx2, "Dx2", 0, 1024},
                  {p.Row2, "Row2", 1, 65536}, {p.Dy2, "Dy2", 0, 255}};
    for (const auto& f : fields)
        if (f.Value < f.Low || f.Value > f.High) Raise(ErrXlsIndexOutBounds, f.Value, f.Name, f.Low, f.High);
    TImageProperties model = p;
    --model.Col1, --model.Row1, --model.Col2, --model.Row2;
    return model;
}

TClientAnchor CheckedAnchor(const TImageProperties& p, TKmrAnchorType anchorType) {
    return ImageAnchor(ModelPlace(p), anchorType);
}

}  // namespace

void TXLSFile::AddImage(std::span<const std::uint8_t> image, TXlsImgTypes imageType,
                        const TImageProperties& properties, TKmrAnchorType anchorType) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return;
    const TImageProperties model = ModelPlace(properties);
    Book().Globals().DrawingGroup().EnsureDwgGroup();
    sheet->AddImage(image, imageType, model, anchorType);
    BeginSheet();
}

void TXLSFile::AssignPicture(std::int32_t row, std::int32_t index, std::span<const std::uint8_t> image,
                             TXlsImgTypes imageType) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return;
    sheet->Drawing().AssignDrawing(PictureNumber(*sheet, row, index), image, imageType);
}

void TXLSFile::AssignPicture(std::int32_t row, std::int32_t index, std::span<const std::uint8_t> image,
                             TXlsImgTypes imageType, const TImageProperties& properties, TKmrAnchorType anchorType) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return;
    const TClientAnchor anchor = CheckedAnchor(properties, anchorType);
    const int n = PictureNumber(*sheet, row, index);
    sheet->Drawing().AssignDrawing(n, image, imageType);
    sheet->Drawing().SetAnchor(n, anchor, sheet->Measure());
    BeginSheet();
}

void TXLSFile::AssignPictureProperties(std::int32_t row, std::int32_t index, const TImageProperties& properties,
                                       TKmrAnchorType anchorType) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return;
    const TClientAnchor anchor = CheckedAnchor(properties, anchorType);
    sheet->Drawing().SetAnchor(PictureNumber(*sheet, row, index), anchor, sheet->Measure());
    BeginSheet();
}

void TXLSFile::ClearImage(std::int32_t index) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (NamesPicture(sheet, index)) sheet->Drawing().ClearImage(index);
}

// ---------------------------------------------------------------------------
// Autofilter

namespace {
// The built-in name of a sheet's filter range (number 13).
constexpr std::u16string_view FilterName = u"\r";
}  // namespace

void TXLSFile::SetAutoFilter(std::int32_t row, std::int32_t col1, std::int32_t col2) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return;
    if (row < 1 || row > 65536) Raise(ErrXlsIndexOutBounds, row - 1, "Row", 0, 65535);
    for (std::int32_t col : {col1, col2})
        if (col < 1 || col > 256) Raise(ErrXlsIndexOutBounds, col - 1, "Column", 0, 255);
    if (col2 < col1) return RemoveAutoFilter();
    const std::u16string rowText = Utf8ToUtf16(std::to_string(row));
    const TXlsNamedRange name{std::u16string(FilterName),
                              u"=$" + EncodeColumn(col1) + u"$" + rowText + u":$" + EncodeColumn(col2) + u"$" + rowText,
                              0x21, FActiveSheet - 1};
    sheet->SetAutoFilter(row - 1, col1 - 1, col2 - 1);
    Book().Globals().AddName(name);
}

void TXLSFile::RemoveAutoFilter() {
    if (TWorkSheet* sheet = ActiveWorkSheet()) sheet->RemoveAutoFilter();
}

bool TXLSFile::HasAutoFilter() {
    const TWorkSheet* sheet = ActiveWorkSheet();
    return sheet && sheet->HasAutoFilter();
}

bool TXLSFile::HasAutoFilter(std::int32_t row, std::int32_t col) {
    if (!HasAutoFilter()) return false;
    const TXlsCellRange range = GetAutoFilterRange();
    return row == range.Top && col >= range.Left && col <= range.Right;
}

TXlsCellRange TXLSFile::GetAutoFilterRange() {
    if (!ActiveWorkSheet()) return {-1, -1, -1, -1};
    const TNameRecord* name = Book().Globals().GetName(FActiveSheet - 1, FilterName);
    if (!name) return {};
    return {name->GetC1() + 1, name->GetR1() + 1, name->GetC2() + 1, name->GetR2() + 1};
}

// ---------------------------------------------------------------------------
// Comments

std::int32_t TXLSFile::GetCommentsCount(std::int32_t row) {
    const TWorkSheet* sheet = ActiveWorkSheet();
    return sheet ? static_cast<std::int32_t>(sheet->Notes().InRow(row - 1).size()) : 0;
}

const TNoteRecord& TXLSFile::Note(std::int32_t row, std::int32_t index) const {
    const TWorkSheet* sheet = ActiveWorkSheet();
    const auto notes = sheet ? sheet->Notes().InRow(row - 1) : std::vector<TNoteRecord*>{};
    const auto count = static_cast<std::int32_t>(notes.size());
    if (index < 0 || index >= count) Raise(ErrXlsIndexOutBounds, index, "CommentIndex", 0, count - 1);
    return *notes[static_cast<std::size_t>(index)];
}

std::u16string TXLSFile::GetCommentText(std::int32_t row, std::int32_t index) {
    return TNoteList::GetText(Note(row, index)).Value;
}

std::int32_t TXLSFile::GetCommentColumn(std::int32_t row, std::int32_t index) {
    return Note(row, index).GetColumn() + 1;
}

std::u16string TXLSFile::GetCellComment(std::int32_t row, std::int32_t col) {
    const TWorkSheet* sheet = ActiveWorkSheet();
    const TNoteRecord* note = sheet ? sheet->Notes().At(row - 1, col - 1) : nullptr;
    return note ? TNoteList::GetText(*note).Value : std::u16string();
}

void TXLSFile::AssignComment(std::int32_t row, std::int32_t index, const std::u16string& text) {
    const TNoteRecord& note = Note(row, index);
    ActiveWorkSheet()->SetCommentText(note, text);
}

void TXLSFile::SetCellComment(std::int32_t row, std::int32_t col, const std::u16string& text,
                              const TImageProperties& box) {
    TWorkSheet* sheet = ActiveWorkSheet();
    if (!sheet) return;
    if (row < 1 || row > 65536) Raise(ErrXlsIndexOutBounds, row - 1, "Row", 0, 65535);
    if (col < 1 || col > 256) Raise(ErrXlsIndexOutBounds, col - 1, "Column", 0, 255);
    if (const TNoteRecord* note = sheet->Notes().At(row - 1, col - 1)) return sheet->SetCommentText(*note, text);
    if (text.empty()) return;
    TImageProperties place = box;
    for (auto* col : {&place.Col1, &place.Col2}) *col = std::clamp(*col - 1, 0, 255);
    for (auto* row : {&place.Row1, &place.Row2}) *row = std::clamp(*row - 1, 0, 65535);
    sheet->AddNewComment(row - 1, col - 1, text, place);
}

// ---------------------------------------------------------------------------
// Clipboard

IKmrClipboard& TXLSFile::Clipboard() const {
    if (!FClipboard) Raise(ErrNoClipboard);
    return *FClipboard;
}

void TXLSFile::CopyToClipboardFormat(const TXlsCellRange& range, std::u16string& text, TKmrStream* stream) {
    text.clear();
    if (!ActiveWorkSheet()) return;
    if (range.Left < 1 || range.Top < 1 || range.Right > MaxSheetColumns || range.Bottom > MaxSheetRows ||
        range.Right < range.Left || range.Bottom < range.Top)
        Raise(ErrInvalidCellRange, range.Left, range.Right, range.Top, range.Bottom);
    std::u16string copied = RangeAsTextDelim(*this, '\t', range);
    if (stream) {
        TKmrByteView container(FTemplate);
        TOle2File ole(&container);
        ole.PrepareForWrite(stream, FStreamName);
        FWorkbook->SaveRangeToStream(ole, FActiveSheet - 1, OffsetRange(range, -1, -1), FInvalidateFormulas);
        ole.FinishStream();
    }
    text = std::move(copied);
}

void TXLSFile::CopyToClipboard() {
    CopyToClipboard(TXlsCellRange{1, 1, MaxCol(), MaxRow()});
}

void TXLSFile::CopyToClipboard(const TXlsCellRange& range) {
    if (!ActiveWorkSheet()) return;
    IKmrClipboard& clipboard = Clipboard();
    std::u16string text;
    TKmrMemoryStream block;
    CopyToClipboardFormat(range, text, &block);
    clipboard.PutBlock(Biff8ClipboardFormat, block.Bytes(), text);
}

void TXLSFile::PasteFromClipboard(std::int32_t row, std::int32_t col) {
    Book();
    const IKmrClipboard& clipboard = Clipboard();
    if (clipboard.HasBlock(Biff8ClipboardFormat)) {
        TKmrMemoryStream block(clipboard.GetBlock(Biff8ClipboardFormat));
        PasteFromXlsClipboardFormat(row, col, block);
    } else if (clipboard.HasText()) {
        LoadFromTextDelim(clipboard.GetText(), *this, '\t', row, col, {});
    }
}

// Formats are compared as formats, not as XF records: an XF names fonts
// by their place in its own workbook's list.
void TXLSFile::PasteFromXlsClipboardFormat(std::int32_t row, std::int32_t col, TKmrStream& stream) {
    if (!ActiveWorkSheet()) return;
    TXLSFile source(nullptr);
    source.Connect();
    source.LoadFromStream(stream);
    TWorkbook& from = source.GetTWorkbook();
    if (from.SheetCount() < 1 || !from.IsWorksheet(0)) return;
    const TDimensions& dims = from.WorkSheets(0).Dimensions();
    const auto first = TXlsCellRange{GetWord(dims, 8), static_cast<std::int32_t>(GetLongWord(dims, 0)),
                                     GetWord(dims, 10) - 1, static_cast<std::int32_t>(GetLongWord(dims, 4)) - 1};
    if (first.Right < first.Left || first.Bottom < first.Top) return;
    const std::int64_t lastRow = std::int64_t{row} + first.Bottom - first.Top, lastCol = std::int64_t{col} + first.Right - first.Left;
    if (row < 1 || lastRow > MaxSheetRows) Raise(ErrInvalidRow, row < 1 ? row : lastRow);
    if (col < 1 || lastCol > MaxSheetColumns) Raise(ErrInvalidCol, col < 1 ? col : lastCol);

    TWorkbookGlobals& src = from.Globals();
    TWorkbookGlobals& dst = Book().Globals();
    std::map<int, int> xfs;
    auto mapXF = [&](int xf) {
        if (xf < 0 || static_cast<std::size_t>(xf) >= src.XF().Count()) return -1;
        auto [at, fresh] = xfs.try_emplace(xf, -1);
        if (fresh)
            at->second = dst.XF().AddFormat(src.XF().GetItems(static_cast<std::size_t>(xf))->KmrFormat(src.Fonts(), src.Formats()),
                                            dst.Fonts(), dst.Formats());
        return at->second;
    };
    const TCellList& cells = from.WorkSheets(0).Cells().CellList();
    for (int r = first.Top; r <= first.Bottom; ++r)
        for (int c = first.Left; c <= first.Right; ++c) {
            TXlsCellValue value;
            TRTFRunList runs;
            cells.GetValueX2(r, c, value, runs);
            value.XF = mapXF(value.XF);
            for (TRTFRun& run : runs)
                run.FontIndex = static_cast<std::uint16_t>(dst.Fonts().AddFont(src.Fonts().FontOfXF(run.FontIndex)));
            SetValueAt(row - 1 + r - first.Top, col - 1 + c - first.Left, value, runs);
        }
}

// ---------------------------------------------------------------------------
// Defined names from formula text

void TXLSFile::AddRange(TXlsNamedRange& range) {
    if (!Cells()) return;
    FWorkbook->Globals().AddName(range);
}

// ---------------------------------------------------------------------------
// Sheet view, page setup, outline flags, workbook options, palette, names

bool TXLSFile::GetShowGridLines() { return WorkSheetSetting(&TSheet::GetShowGridLines, true); }
void TXLSFile::SetShowGridLines(bool value) { ChangeWorkSheetSetting(&TSheet::SetShowGridLines, value); }
bool TXLSFile::GetShowGridHeaders() { return WorkSheetSetting(&TSheet::GetShowGridHeaders, true); }
void TXLSFile::SetShowGridHeaders(bool value) { ChangeWorkSheetSetting(&TSheet::SetShowGridHeaders, value); }
std::int32_t TXLSFile::GetSheetZoom() { return AnySheet().GetSheetZoom(); }
void TXLSFile::SetSheetZoom(std::int32_t percent) { ChangeWorkSheetSetting(&TSheet::SetSheetZoom, percent); }

// The model counts the frozen rows and columns from 0; a pane can split
// at most all rows (columns) of a sheet.
void TXLSFile::FreezePanes(std::int32_t row, std::int32_t col) {
    TSheet& sheet = AnySheet();
    if (row < 1 || row - 1 > MaxSheetRow) Raise(ErrInvalidRow, ModelIndex(row));
    if (col < 1 || col - 1 > MaxSheetCol) Raise(ErrInvalidCol, ModelIndex(col));
    sheet.FreezePanes(row - 1, col - 1);
}

void TXLSFile::GetFrozenPanes(std::int32_t& row, std::int32_t& col) {
    const auto [rows, cols] = AnySheet().GetFrozenPanes();
    row = rows + 1;
    col = cols + 1;
}

// A PANE holds the split's positions in 16 bits.
void TXLSFile::SplitWindow(std::int32_t row, std::int32_t col) {
    TSheet& sheet = AnySheet();
    for (const std::int32_t position : {row, col})
        if (position < 0 || position > 0xFFFF) Raise(ErrIndexOutBounds, position, "SplitWindow", 0, 0xFFFF);
    sheet.SplitWindow(col, row);
}

void TXLSFile::GetSplitWindow(std::int32_t& row, std::int32_t& col) {
    std::tie(col, row) = AnySheet().GetSplitWindow();
}

std::u16string TXLSFile::GetPageHeader() { return AnySheet().GetPageHeader(); }
void TXLSFile::SetPageHeader(const std::u16string& text) { AnySheet().SetPageHeader(text); }
std::u16string TXLSFile::GetPageFooter() { return AnySheet().GetPageFooter(); }
void TXLSFile::SetPageFooter(const std::u16string& text) { AnySheet().SetPageFooter(text); }
TXlsMargins TXLSFile::GetMargins() { return AnySheet().GetMargins(); }
void TXLSFile::SetMargins(const TXlsMargins& margins) {
    TSheet& sheet = AnySheet();
    for (const long double inches :
         {margins.Left, margins.Top, margins.Right, margins.Bottom, margins.Header, margins.Footer})
        if (!std::isfinite(inches) || inches < 0) Raise(ErrMarginRecord);
    sheet.SetMargins(margins);
}

bool TXLSFile::GetPrintGridLines() { return WorkSheetSetting(&TSheet::GetPrintGridLines, true); }
void TXLSFile::SetPrintGridLines(bool value) { ChangeWorkSheetSetting(&TSheet::SetPrintGridLines, value); }
std::int32_t TXLSFile::GetPrintScale() { return WorkSheetSetting(&TSheet::GetPrintScale, 100); }
void TXLSFile::SetPrintScale(std::int32_t percent) { ChangeWorkSheetSetting(&TSheet::SetPrintScale, percent); }
bool TXLSFile::GetPrintToFit() { return WorkSheetSetting(&TSheet::GetPrintToFit, false); }
void TXLSFile::SetPrintToFit(bool value) { ChangeWorkSheetSetting(&TSheet::SetPrintToFit, value); }
std::uint16_t TXLSFile::GetPrintNumberOfHorizontalPages() {
    return static_cast<std::uint16_t>(WorkSheetSetting(&TSheet::GetPrintNumberOfHorizontalPages, 1));
}
void TXLSFile::SetPrintNumberOfHorizontalPages(std::uint16_t pages) {
    ChangeWorkSheetSetting(&TSheet::SetPrintNumberOfHorizontalPages, pages);
}
std::uint16_t TXLSFile::GetPrintNumberOfVerticalPages() {
    return static_cast<std::uint16_t>(WorkSheetSetting(&TSheet::GetPrintNumberOfVerticalPages, 1));
}
void TXLSFile::SetPrintNumberOfVerticalPages(std::uint16_t pages) {
    ChangeWorkSheetSetting(&TSheet::SetPrintNumberOfVerticalPages, pages);
}
std::uint8_t TXLSFile::GetPrintOptions() {
    return static_cast<std::uint8_t>(WorkSheetSetting(&TSheet::GetPrintOptions, 0));
}
void TXLSFile::SetPrintOptions(std::uint8_t options) { ChangeWorkSheetSetting(&TSheet::SetPrintOptions, options); }
bool TXLSFile::GetPrintHCentered() { return WorkSheetSetting(&TSheet::GetPrintHCentered, false); }
void TXLSFile::SetPrintHCentered(bool value) { ChangeWorkSheetSetting(&TSheet::SetPrintHCentered, value); }
bool TXLSFile::GetPrintVCentered() { return WorkSheetSetting(&TSheet::GetPrintVCentered, false); }
void TXLSFile::SetPrintVCentered(bool value) { ChangeWorkSheetSetting(&TSheet::SetPrintVCentered, value); }
std::int32_t TXLSFile::GetPrintCopies() { return WorkSheetSetting(&TSheet::GetPrintCopies, 1); }
void TXLSFile::SetPrintCopies(std::int32_t copies) { ChangeWorkSheetSetting(&TSheet::SetPrintCopies, copies); }
std::int32_t TXLSFile::GetPrintPaperSize() { return WorkSheetSetting(&TSheet::GetPrintPaperSize, 0); }
void TXLSFile::SetPrintPaperSize(std::int32_t size) { ChangeWorkSheetSetting(&TSheet::SetPrintPaperSize, size); }
std::int32_t TXLSFile::GetPrintXResolution() { return WorkSheetSetting(&TSheet::GetPrintXResolution, 600); }
void TXLSFile::SetPrintXResolution(std::int32_t dpi) { ChangeWorkSheetSetting(&TSheet::SetPrintXResolution, dpi); }
std::int32_t TXLSFile::GetPrintYResolution() { return WorkSheetSetting(&TSheet::GetPrintYResolution, 600); }
void TXLSFile::SetPrintYResolution(std::int32_t dpi) { ChangeWorkSheetSetting(&TSheet::SetPrintYResolution, dpi); }
TPrinterDriverSettings TXLSFile::GetPrinterDriverSettings() {
    return WorkSheetSetting(&TSheet::GetPrinterDriverSettings, TPrinterDriverSettings{});
}
void TXLSFile::SetPrinterDriverSettings(const TPrinterDriverSettings& settings) {
    ChangeWorkSheetSetting(&TSheet::SetPrinterDriverSettings, settings);
}

bool TXLSFile::GetOutlineSummaryRowsBelowDetail() {
    return WorkSheetSetting(&TSheet::GetOutlineSummaryRowsBelowDetail, true);
}
void TXLSFile::SetOutlineSummaryRowsBelowDetail(bool value) {
    ChangeWorkSheetSetting(&TSheet::SetOutlineSummaryRowsBelowDetail, value);
}
bool TXLSFile::GetOutlineSummaryColsRightOfDetail() {
    return WorkSheetSetting(&TSheet::GetOutlineSummaryColsRightOfDetail, true);
}
void TXLSFile::SetOutlineSummaryColsRightOfDetail(bool value) {
    ChangeWorkSheetSetting(&TSheet::SetOutlineSummaryColsRightOfDetail, value);
}
bool TXLSFile::GetOutlineAutomaticStyles() { return WorkSheetSetting(&TSheet::GetOutlineAutomaticStyles, false); }
void TXLSFile::SetOutlineAutomaticStyles(bool value) {
    ChangeWorkSheetSetting(&TSheet::SetOutlineAutomaticStyles, value);
}

bool TXLSFile::GetOptions1904Dates() { return Book().Globals().GetIs1904(); }
void TXLSFile::SetOptions1904Dates(bool value) { Book().Globals().SetIs1904(value); }

bool TXLSFile::GetOptionsR1C1() {
    const TWorkbook& book = Book();
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s)) return book.Sheet(s).GetIsR1C1();
    return false;
}

void TXLSFile::SetOptionsR1C1(bool value) {
    const TWorkbook& book = Book();
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s)) book.Sheet(s).SetIsR1C1(value);
}

bool TXLSFile::GetOptionsSaveExternalLinkValues() { return Book().Globals().GetSaveExternalLinkValues(); }
void TXLSFile::SetOptionsSaveExternalLinkValues(bool value) { Book().Globals().SetSaveExternalLinkValues(value); }
bool TXLSFile::GetOptionsPrecisionAsDisplayed() { return Book().Globals().GetPrecisionAsDisplayed(); }
void TXLSFile::SetOptionsPrecisionAsDisplayed(bool value) { Book().Globals().SetPrecisionAsDisplayed(value); }
bool TXLSFile::GetIsXltTemplate() { return Book().Globals().IsXltTemplate(); }
void TXLSFile::SetIsXltTemplate(bool value) { Book().Globals().SetIsXltTemplate(value); }

bool TXLSFile::GetInvalidateFormulas() {
    Book();
    return FInvalidateFormulas;
}

void TXLSFile::SetInvalidateFormulas(bool value) {
    Book();
    FInvalidateFormulas = value;
}

std::uint32_t TXLSFile::GetColorPalette(std::int32_t index) {
    return Book().Globals().GetColorPalette(ModelIndex(index));
}

void TXLSFile::SetColorPalette(std::int32_t index, std::uint32_t color) {
    Book().Globals().SetColorPalette(ModelIndex(index), color);
}

TNameRecord& TXLSFile::NameAt(std::int32_t nameIndex) const {
    const TNameRecordList& names = Book().Globals().Names();
    const auto count = static_cast<std::int32_t>(names.Count());
    if (nameIndex < 1 || nameIndex > count) Raise(ErrIndexOutBounds, nameIndex, "NameIndex", 1, count);
    return *names.GetItems(static_cast<std::size_t>(nameIndex - 1));
}

std::int32_t TXLSFile::GetExcelNameCount() { return static_cast<std::int32_t>(Book().Globals().Names().Count()); }
std::u16string TXLSFile::GetRangeName(std::int32_t nameIndex) { return NameAt(nameIndex).Name(); }
std::int32_t TXLSFile::GetRangeR1(std::int32_t nameIndex) { return NameAt(nameIndex).GetR1() + 1; }
std::int32_t TXLSFile::GetRangeR2(std::int32_t nameIndex) { return NameAt(nameIndex).GetR2() + 1; }
std::int32_t TXLSFile::GetRangeC1(std::int32_t nameIndex) { return NameAt(nameIndex).GetC1() + 1; }
std::int32_t TXLSFile::GetRangeC2(std::int32_t nameIndex) { return NameAt(nameIndex).GetC2() + 1; }

// A 3-D reference grows into an area: the name list follows its size.
void TXLSFile::SetNameBound(std::int32_t nameIndex, void (TNameRecord::*set)(int), std::int32_t value) {
    TNameRecord& name = NameAt(nameIndex);
    FWorkbook->Globals().Names().Resize(name, [&] { (name.*set)(ModelIndex(value)); });
}

void TXLSFile::SetRangeR1(std::int32_t nameIndex, std::int32_t row) {
    SetNameBound(nameIndex, &TNameRecord::SetR1, row);
}
void TXLSFile::SetRangeR2(std::int32_t nameIndex, std::int32_t row) {
    SetNameBound(nameIndex, &TNameRecord::SetR2, row);
}
void TXLSFile::SetRangeC1(std::int32_t nameIndex, std::int32_t col) {
    SetNameBound(nameIndex, &TNameRecord::SetC1, col);
}
void TXLSFile::SetRangeC2(std::int32_t nameIndex, std::int32_t col) {
    SetNameBound(nameIndex, &TNameRecord::SetC2, col);
}

// ---------------------------------------------------------------------------
// Autofit

namespace {

// A worksheet and its workbook as fitting sees them.
class TSheetAutofitBook : public TAutofitBook {
public:
    TSheetAutofitBook(TXLSFile& file, TWorkSheet& sheet)
        : FFile(file), FSheet(sheet), FGlobals(file.GetTWorkbook().Globals()) {}

    int FormatCount() const override { return static_cast<int>(FGlobals.XF().Count()); }
    TKmrFormat Format(int xf) const override {
        return FGlobals.XF().GetItems(static_cast<std::size_t>(xf))->KmrFormat(FGlobals.Fonts(), FGlobals.Formats());
    }
    TKmrFont Font(int fontIndex) const override { return FFile.GetFontList(fontIndex); }
    std::u16string ShownText(const TVariant& value, const std::u16string& numberFormat) const override {
        std::uint32_t colour = 0;
        return XlsFormatValue1904(value, numberFormat, FGlobals.GetIs1904(), colour);
    }
    TXlsCellRange MergedBounds(int row, int col) const override { return FSheet.CellMergedBounds(row, col); }
    int ColumnWidth(int col) const override { return FSheet.GetColWidth(col, false); }
    void SetColumnWidth(int col, int width) override { FSheet.SetColWidth(col, width); }
    int RowHeight(int row) const override { return FSheet.GetRowHeight(row, false); }

private:
    TXLSFile& FFile;
    TWorkSheet& FSheet;
    TWorkbookGlobals& FGlobals;
};

}  // namespace

std::unique_ptr<TKmrTextMeasure> TXLSFile::NewTextMeasure() const {
    std::unique_ptr<TKmrTextMeasure> measure = FTextMeasure ? FTextMeasure() : nullptr;
    if (!measure) Raise(ErrNoTextMeasure);
    return measure;
}

void TXLSFile::AutofitRow(std::int32_t firstRow, std::int32_t lastRow, bool keepAutomatic, bool forced,
                          long double adjustment) {
    Book();
    const std::unique_ptr<TKmrTextMeasure> measure = NewTextMeasure();
    TWorkSheet* sheet = WorkSheet();
    if (!sheet) return;
    TSheetAutofitBook book(*this, *sheet);
    sheet->RecalcRowHeights(book, *measure, ModelIndex(firstRow), ModelIndex(lastRow), keepAutomatic, forced,
                            adjustment);
}

void TXLSFile::AutofitCol(std::int32_t firstCol, std::int32_t lastCol, bool ignoreStrings, long double adjustment) {
    Book();
    const std::unique_ptr<TKmrTextMeasure> measure = NewTextMeasure();
    TWorkSheet* sheet = WorkSheet();
    if (!sheet) return;
    TSheetAutofitBook book(*this, *sheet);
    sheet->RecalcColWidths(book, *measure, ModelIndex(firstCol), ModelIndex(lastCol), ignoreStrings, adjustment);
}

// The objects of each drawing keep their sizes while the rows change.
void TXLSFile::AutofitRowsOnWorkbook(bool keepAutomatic, bool forced, long double adjustment) {
    TWorkbook& workbook = Book();
    const std::unique_ptr<TKmrTextMeasure> measure = NewTextMeasure();
    for (int s = 0; s < workbook.SheetCount(); ++s)
        if (workbook.IsWorksheet(s)) {
            TSheetAutofitBook book(*this, workbook.WorkSheets(s));
            workbook.WorkSheets(s).RecalcRowHeights(book, *measure, 0, MaxSheetRow, keepAutomatic, forced,
                                                    adjustment);
            workbook.WorkSheets(s).RestoreObjectCoords();
        }
    FPicturesSheet = 0;
}

}  // namespace kalmira
