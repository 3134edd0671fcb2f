#include "workbook/api/XLSAdapter.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "workbook/storage/UKmrEmptySheet.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/UOle2Impl.h"

namespace kalmira {

namespace {

// The system's reason why a file cannot be read, with its name.
inline constexpr const char* ErrCantOpenFile = "Can't open the file \"%s\": %s";

constexpr TExcelSaveFormatNative SaveOrder[] = {TExcelSaveFormatNative::snXLS, TExcelSaveFormatNative::snCSVComma,
                                                TExcelSaveFormatNative::snCSVSemiColon,
                                                TExcelSaveFormatNative::snTabDelimited};

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
      FClipboard(adapter ? adapter->Clipboard() : nullptr) {}

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

void TXLSFile::LoadFromStream(TKmrStream& stream) { OpenStream(stream); }

void TXLSFile::OpenFileAndOrSearch(const std::string& fileName, bool search) {
    Book();
    if (TXlsBaseTemplateStore* store = FAdapter ? FAdapter->TemplateStore() : nullptr) {
        TKmrMemoryStream stored(store->GetStoredFile(Utf8ToUtf16(fileName)));
        return OpenStream(stored);
    }
    std::string name = fileName;
    if (search && FAdapter) name = SearchPathStr(FAdapter->BasePathToOpen(), fileName);
    else if (::access(name.c_str(), R_OK) != 0) Raise(ErrCantOpenFile, name, std::strerror(errno));
    TKmrFileStream in(name, TKmrFileStream::TMode::Read);
    OpenStream(in);
}

// The model and the template are made aside and taken over only when the
// whole file has loaded: a failed open leaves the open workbook as it was.
void TXLSFile::OpenStream(TKmrStream& stream) {
    Book();
    auto book = std::make_unique<TWorkbook>();
    TKmrMemoryStream copy;  // outlives the container, which finishes into it
    TOle2File ole(&stream);
    ole.SelectStream(Utf8ToUtf16(WorkbookStrS));
    book->LoadFromStream(ole);
    // The container copied whole; its "Workbook" is left empty (zeros), to
    // be replaced at each save.
    ole.PrepareForWrite(&copy, Utf8ToUtf16(WorkbookStrS));
    ole.FinishStream();

    FWorkbook = std::move(book);
    FTemplate = copy.Bytes();
    FActiveSheet = FWorkbook->GetActiveSheet() + 1;
    FInvalidateFormulas = false;
}

void TXLSFile::NewFile(std::int32_t sheetCount) {
    Book();
    const auto empty = KmrEmptySheet();
    TKmrMemoryStream stream(std::vector<std::uint8_t>(empty.begin(), empty.end()));
    OpenStream(stream);
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
        case TExcelSaveFormatNative::snCSVComma: return SaveAsTextDelimited(fileName, stream, ',');
        case TExcelSaveFormatNative::snCSVSemiColon: return SaveAsTextDelimited(fileName, stream, ';');
        case TExcelSaveFormatNative::snTabDelimited: return SaveAsTextDelimited(fileName, stream, '\t');
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
    TKmrMemoryStream container(FTemplate);
    TOle2File ole(&container);
    ole.PrepareForWrite(&stream, Utf8ToUtf16(WorkbookStrS));
    book.SaveToStream(ole, FInvalidateFormulas);
    ole.FinishStream();
}

void TXLSFile::SaveAsTextDelimited(const std::string&, TKmrStream*, char) {
    Raise(ErrNotAvailableYet, "SaveAsTextDelimited");
}

// ---------------------------------------------------------------------------
// Sheets

void TXLSFile::InsertAndCopySheets(std::int32_t copyFrom, std::int32_t insertBefore, std::int32_t count) {
    TWorkbook& book = Book();
    if (count < 1) return;
    // Positions below 1 are refused by the model; none of them wraps here.
    book.InsertSheets(copyFrom > 0 ? copyFrom - 1 : -1, insertBefore > 0 ? insertBefore - 1 : -1, count);
    FInvalidateFormulas = true;
}

TWorkSheet* TXLSFile::ActiveWorkSheet() const {
    TWorkbook& book = Book();
    const int index = FActiveSheet - 1;
    // A stored active sheet past the last is kept as it is: no worksheet.
    if (index < 0 || index >= book.SheetCount() || !book.IsWorksheet(index)) return nullptr;
    return &book.WorkSheets(index);
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

// The pictures of the active sheet by row. The sheet's drawing is held as
// plain records until the drawing classes read it, so the index is empty.
void TXLSFile::BeginSheet() {
    ActiveWorkSheet();
    FPictures = std::make_unique<TRowComments>();
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

// ---------------------------------------------------------------------------
// Clipboard: the range travels as a BIFF8 workbook and as delimited text,
// which is written by the text routines still to come.

void TXLSFile::CopyToClipboard() { Raise(ErrNotAvailableYet, "CopyToClipboard"); }

void TXLSFile::CopyToClipboard(const TXlsCellRange&) { Raise(ErrNotAvailableYet, "CopyToClipboard"); }

void TXLSFile::PasteFromClipboard(std::int32_t, std::int32_t) { Raise(ErrNotAvailableYet, "PasteFromClipboard"); }

}  // namespace kalmira
