#include "workbook/api/UKalmiraImport.h"

#include "workbook/drawing/UKmrUtils.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

namespace {

// Days between the 1900 and the 1904 date systems.
constexpr double Days1904 = 1462;
// The format a cell without one of its own shows.
constexpr std::int32_t DefaultXF = 15;
inline constexpr const char* ErrStreamRead = "Stream read error";

// What the placement and colour routines read of the open workbook.
class TFileUtilsBook : public TKmrUtilsBook {
public:
    explicit TFileUtilsBook(TExcelFile& file) : FFile(file) {}
    std::int32_t GetColumnWidthHiddenIsZero(std::int32_t col) const override {
        return FFile.GetColumnWidthHiddenIsZero(col);
    }
    bool IsEmptyRow(std::int32_t row) const override { return FFile.IsEmptyRow(row); }
    std::int32_t GetRowHeight(std::int32_t row) const override { return FFile.GetRowHeight(row); }
    std::int32_t GetDefaultRowHeight() const override { return FFile.GetDefaultRowHeight(); }
    std::uint32_t GetColorPalette(std::int32_t index) const override { return FFile.GetColorPalette(index); }
    void SetColorPalette(std::int32_t index, std::uint32_t color) override { FFile.SetColorPalette(index, color); }

private:
    TExcelFile& FFile;
};

void CheckIndex(std::int32_t index, const char* property, std::int32_t low, std::int32_t high) {
    if (index < low || index > high) Raise(ErrIndexOutBounds, index, property, low, high);
}

// The position (from 1) of the first marker ("&" + letter) in s, 0 when
// absent. A "&&" pair is a literal "&" and starts no marker.
std::size_t MarkerAt(const std::u16string& s, char16_t letter) {
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] != u'&') continue;
        if (s[i + 1] == letter) return i + 1;
        if (s[i + 1] == u'&') ++i;
    }
    return 0;
}

// The part behind the marker at p, up to the nearer of the two others
// that follow it.
std::u16string PartAt(const std::u16string& s, std::size_t p, std::size_t other1, std::size_t other2) {
    if (p == 0) return {};
    std::size_t end = s.size() + 1;
    for (const std::size_t o : {other1, other2})
        if (o > p && o < end) end = o;
    return s.substr(p + 1, end - p - 2);
}

}  // namespace

TKalmiraImport::~TKalmiraImport() { CloseFile(); }

TExcelFile& TKalmiraImport::Workbook() const {
    if (!FWorkbook) Raise(ErrNoOpenFile);
    return *FWorkbook;
}

TExcelAdapter& TKalmiraImport::CheckedAdapter() const {
    TExcelAdapter* adapter = FAdapter.Get();
    if (!adapter) Raise(ErrNoAdapter);
    return *adapter;
}

// ---------------------------------------------------------------------------
// Opening and closing

template <class Open>
void TKalmiraImport::OpenWith(Open open, bool select) {
    TExcelAdapter& adapter = CheckedAdapter();
    CloseFile();
    FWorkbook = adapter.GetWorkbook();
    try {
        FWorkbook->Connect();
        open(*FWorkbook);
        if (!select) return;
        const std::int32_t stored = FWorkbook->GetActiveSheet();
        // A stored sheet past the last would leave later calls on a sheet
        // that is not there: the first becomes active as well as selected.
        const std::int32_t sheet = stored <= FWorkbook->SheetCount() ? stored : 1;
        if (sheet != stored) FWorkbook->SetActiveSheet(sheet);
        FWorkbook->SelectSheet(sheet);
    } catch (...) {
        CloseFile();
        throw;
    }
}

void TKalmiraImport::OpenFile(const std::string& fileName) {
    OpenWith(
        [&](TExcelFile& file) {
            file.OpenFileAndSearch(fileName);
            FFileName = fileName;
        },
        true);
}

void TKalmiraImport::NewFile(std::int32_t sheetCount) {
    OpenWith([&](TExcelFile& file) { file.NewFile(sheetCount); }, true);
}

void TKalmiraImport::LoadFromStream(TKmrStream& stream) {
    OpenWith([&](TExcelFile& file) { file.LoadFromStream(stream); }, false);
}

void TKalmiraImport::CloseFile() {
    FFileName.clear();
    if (!FWorkbook) return;
    try {
        FWorkbook->CloseFile();
    } catch (...) {
    }
    try {
        FWorkbook->Disconnect();
    } catch (...) {
    }
    FWorkbook.reset();
}

// ---------------------------------------------------------------------------
// Saving and text

void TKalmiraImport::Save(const std::string& fileName) {
    Workbook().Save(true, fileName, nullptr, nullptr, nullptr);
    FFileName = fileName;
}

void TKalmiraImport::SaveToStream(TKmrStream& stream) { Workbook().Save(true, "", nullptr, nullptr, &stream); }

// The file is written beside the target and renamed over it only when the
// whole text is there.
void TKalmiraImport::SaveAsText(const std::string& fileName, char delimiter, TTextEncoding encoding) {
    Workbook();
    TKmrSafeFileStream out(fileName, TKmrSafeFileStream::TReplace::Allow);
    SaveToStreamAsText(out, delimiter, encoding);
    out.Commit();
    FFileName = fileName;
}

void TKalmiraImport::SaveToStreamAsText(TKmrStream& stream, char delimiter, TTextEncoding encoding) {
    SaveAsTextDelim(stream, Workbook(), delimiter, encoding);
}

void TKalmiraImport::LoadFromTextStream(TKmrStream& stream, char delimiter,
                                        std::span<const XLSColumnImportTypes> columnTypes, TTextEncoding encoding) {
    NewFile(3);
    try {
        LoadFromTextDelim(stream, *FWorkbook, delimiter, 1, 1, columnTypes, encoding);
    } catch (...) {
        CloseFile();
        throw;
    }
}

void TKalmiraImport::OpenText(const std::string& fileName, char delimiter,
                              std::span<const XLSColumnImportTypes> columnTypes, TTextEncoding encoding) {
    TKmrFileStream in(SearchPathStr(CheckedAdapter().BasePathToOpen(), fileName));
    LoadFromTextStream(in, delimiter, columnTypes, encoding);
    FFileName = fileName;
}

// ---------------------------------------------------------------------------
// Operations handed on unchanged

#define KMR_FACADE_OP(result, name, target, params, args) \
    result TKalmiraImport::name params { return Workbook().target args; }
#include "workbook/api/UKalmiraImportOperations.inc"

// ---------------------------------------------------------------------------
// Operations with defaults, checks and placement

void TKalmiraImport::SetActiveSheet(std::int32_t sheet) {
    TExcelFile& file = Workbook();
    file.SetActiveSheet(sheet);
    file.SelectSheet(sheet);
}

void TKalmiraImport::InsertEmptySheets(std::int32_t before, std::int32_t count) {
    Workbook().InsertAndCopySheets(-1, before, count);
}

void TKalmiraImport::InsertAndCopyRows(std::int32_t firstRow, std::int32_t lastRow, std::int32_t destRow,
                                       std::int32_t count) {
    Workbook().InsertAndCopyRows(firstRow, lastRow, destRow, count, false);
}

void TKalmiraImport::InsertAndCopyCols(std::int32_t firstCol, std::int32_t lastCol, std::int32_t destCol,
                                       std::int32_t count) {
    Workbook().InsertAndCopyCols(firstCol, lastCol, destCol, count, false);
}

void TKalmiraImport::SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text) {
    Workbook().SetCellString(row, col, text, u"", u"");
}

void TKalmiraImport::SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text,
                                   const TKmrFormat& format) {
    Workbook().SetCellString(row, col, text, format, u"", u"");
}

bool TKalmiraImport::GetIsFormula(std::int32_t row, std::int32_t col) {
    return Workbook().GetCellValueX(row, col).IsFormula;
}

std::int32_t TKalmiraImport::GetCellFormat(std::int32_t row, std::int32_t col) {
    return Workbook().GetCellValueX(row, col).XF;
}

TVariant TKalmiraImport::GetComments(std::int32_t row, std::int32_t n) {
    return TVariant(Workbook().GetCommentText(row, n));
}

void TKalmiraImport::SetComments(std::int32_t row, std::int32_t n, const TVariant& value) {
    Workbook().AssignComment(row, n, VariantToString(value));
}

std::int32_t TKalmiraImport::GetColByIndex(std::int32_t row, std::int32_t index) {
    TExcelFile& file = Workbook();
    CheckIndex(index, "ColByIndex", 1, file.ColIndexCount(row));
    return file.ColByIndex(row, index);
}

TExcelFile& TKalmiraImport::CheckedList(std::int32_t index, bool fonts) const {
    TExcelFile& file = Workbook();
    CheckIndex(index, fonts ? "FontList" : "FormatList", 0, (fonts ? file.FontListCount() : file.FormatListCount()) - 1);
    return file;
}

TKmrFormat TKalmiraImport::GetKmrFormatList(std::int32_t index) { return CheckedList(index, false).GetFormatList(index); }

void TKalmiraImport::SetKmrFormatList(std::int32_t index, const TKmrFormat& format) {
    CheckedList(index, false).SetFormatList(index, format);
}

TKmrFont TKalmiraImport::GetKmrFontList(std::int32_t index) { return CheckedList(index, true).GetFontList(index); }

void TKalmiraImport::SetKmrFontList(std::int32_t index, const TKmrFont& font) {
    CheckedList(index, true).SetFontList(index, font);
}

void TKalmiraImport::GetFormatList(std::int32_t index, TKmrFormat& format) { format = GetKmrFormatList(index); }

void TKalmiraImport::SetFormatList(std::int32_t index, const TKmrFormat& format) {
    const TKmrFormat copy = format;
    SetKmrFormatList(index, copy);
}

void TKalmiraImport::GetFontList(std::int32_t index, TKmrFont& font) { font = GetKmrFontList(index); }

void TKalmiraImport::SetFontList(std::int32_t index, const TKmrFont& font) {
    const TKmrFont copy = font;
    SetKmrFontList(index, copy);
}

TKmrFormat TKalmiraImport::GetCellFormatDef1(std::int32_t row, std::int32_t col) {
    std::int32_t xf = GetCellFormat(row, col);
    if (xf < 0) {
        xf = Workbook().GetRowFormat(row);
        if (xf <= 0) xf = Workbook().GetColumnFormat(col);
    }
    return GetKmrFormatList(xf < 0 ? DefaultXF : xf);
}

void TKalmiraImport::GetCellFormatDef(std::int32_t row, std::int32_t col, TKmrFormat& format) {
    format = GetCellFormatDef1(row, col);
}

void TKalmiraImport::GetDefaultFormat(TKmrFormat& format) { format = GetKmrFormatList(DefaultXF); }

std::int32_t TKalmiraImport::NearestColorIndex(std::uint32_t color, std::span<bool> usedColors) {
    TFileUtilsBook book(Workbook());
    return MatchNearestColor(&book, color, usedColors);
}

std::int32_t TKalmiraImport::NearestColorIndex(std::uint32_t color) { return NearestColorIndex(color, {}); }

TRTFRunList TKalmiraImport::GetRTFRuns(std::int32_t row, std::int32_t col) {
    TXlsCellValue value;
    TRTFRunList runs;
    Workbook().GetCellValueX2(row, col, value, runs);
    return runs;
}

void TKalmiraImport::SetRTFRuns(std::int32_t row, std::int32_t col, const TRTFRunList& runs) {
    TExcelFile& file = Workbook();
    file.AssignCellValueX2(row, col, file.GetCellValueX(row, col), runs);
}

// ---------------------------------------------------------------------------
// Pictures and comments

void TKalmiraImport::PlacePicture(std::int32_t row, std::int32_t col, std::int32_t dy, std::int32_t dx,
                                  std::int32_t height, std::int32_t width, TImageProperties& properties) {
    if (!FWorkbook) return CalcImgCells(nullptr, row, col, dy, dx, height, width, properties);
    if (height < 0) Raise(ErrXlsIndexOutBounds, height, "Height", 0, 2147483647);
    if (width < 0) Raise(ErrXlsIndexOutBounds, width, "Width", 0, 2147483647);
    TFileUtilsBook book(*FWorkbook);
    CalcImgCells(&book, row, col, dy, dx, height, width, properties);
}

std::int32_t TKalmiraImport::GetPicturesCount() { return Workbook().GetPicturesCount(-1); }

std::u16string TKalmiraImport::GetPictureName(std::int32_t index) { return Workbook().GetPictureName(-1, index); }

void TKalmiraImport::GetPicture(std::int32_t index, TKmrStream& image, TXlsImgTypes& imageType,
                                TClientAnchor& anchor) {
    Workbook().GetPicture(-1, index, image, imageType, anchor);
}

void TKalmiraImport::AssignPicture(std::int32_t index, std::span<const std::uint8_t> image,
                                   TXlsImgTypes imageType) {
    Workbook().AssignPicture(-1, index, image, imageType);
}

void TKalmiraImport::AssignPicture(std::int32_t index, std::span<const std::uint8_t> image, TXlsImgTypes imageType,
                                   std::int32_t row, std::int32_t col, std::int32_t dy, std::int32_t dx,
                                   std::int32_t height, std::int32_t width, TKmrAnchorType anchorType) {
    TExcelFile& file = Workbook();
    TImageProperties properties;
    PlacePicture(row, col, dy, dx, height, width, properties);
    file.AssignPicture(-1, index, image, imageType, properties, anchorType);
}

void TKalmiraImport::AssignPictureProperties(std::int32_t index, std::int32_t row, std::int32_t col,
                                             std::int32_t dy, std::int32_t dx, std::int32_t height,
                                             std::int32_t width, TKmrAnchorType anchorType) {
    TExcelFile& file = Workbook();
    TImageProperties properties;
    PlacePicture(row, col, dy, dx, height, width, properties);
    file.AssignPictureProperties(-1, index, properties, anchorType);
}

void TKalmiraImport::AddPicture(std::span<const std::uint8_t> image, TXlsImgTypes imageType,
                                const TImageProperties& properties, TKmrAnchorType anchorType) {
    Workbook().AddImage(image, imageType, properties, anchorType);
}

void TKalmiraImport::AddPicture(std::span<const std::uint8_t> image, TXlsImgTypes imageType, std::int32_t row,
                                std::int32_t col, std::int32_t dy, std::int32_t dx, std::int32_t height,
                                std::int32_t width, TKmrAnchorType anchorType) {
    TImageProperties properties;
    PlacePicture(row, col, dy, dx, height, width, properties);
    AddPicture(image, imageType, properties, anchorType);
}

namespace {

std::vector<std::uint8_t> StreamBytes(TKmrStream& stream) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stream.Size()));
    if (stream.Read(bytes.data(), bytes.size()) != bytes.size()) Raise(ErrStreamRead);
    return bytes;
}

}  // namespace

void TKalmiraImport::AddPicture(TKmrStream& image, TXlsImgTypes imageType, const TImageProperties& properties,
                                TKmrAnchorType anchorType) {
    AddPicture(StreamBytes(image), imageType, properties, anchorType);
}

void TKalmiraImport::AddPicture(TKmrStream& image, TXlsImgTypes imageType, std::int32_t row, std::int32_t col,
                                std::int32_t dy, std::int32_t dx, std::int32_t height, std::int32_t width,
                                TKmrAnchorType anchorType) {
    AddPicture(StreamBytes(image), imageType, row, col, dy, dx, height, width, anchorType);
}

// The box starts one row above the cell, in the first column right of the
// (merged) cell, 8 pixels down and 14 right of that cell's corner, 75 x 130
// pixels large.
void TKalmiraImport::SetCellComment(std::int32_t row, std::int32_t col, const std::u16string& text) {
    const TXlsCellRange merged = Workbook().GetCellMergedBounds(row, col);
    TImageProperties box;
    PlacePicture(row - 1, col + (merged.Right - merged.Left) + 1, 8, 14, 75, 130, box);
    FWorkbook->SetCellComment(row, col, text, box);
}

// ---------------------------------------------------------------------------
// Headers, dates, filters and autofit

void TKalmiraImport::FillPageHeaderFooter(const std::u16string& text, std::u16string& left, std::u16string& centre,
                                          std::u16string& right) {
    const std::u16string head = text.substr(0, 2);
    const std::u16string s = head == u"&L" || head == u"&R" || head == u"&C" ? text : u"&C" + text;
    const std::size_t l = MarkerAt(s, u'L'), c = MarkerAt(s, u'C'), r = MarkerAt(s, u'R');
    left = PartAt(s, l, c, r);
    centre = PartAt(s, c, l, r);
    right = PartAt(s, r, l, c);
}

double TKalmiraImport::ToOADate(double date) { return Workbook().GetOptions1904Dates() ? date - Days1904 : date; }

double TKalmiraImport::FromOADate(double value) {
    return Workbook().GetOptions1904Dates() ? value + Days1904 : value;
}

void TKalmiraImport::SetAutoFilter(const TXlsCellRange& range) {
    Workbook().SetAutoFilter(range.Top, range.Left, range.Right);
}

void TKalmiraImport::AutofitRow(std::int32_t row, bool forced, long double adjustment) {
    Workbook().AutofitRow(row, row, true, forced, adjustment);
}

void TKalmiraImport::AutofitCol(std::int32_t col, bool ignoreStrings, long double adjustment) {
    Workbook().AutofitCol(col, col, ignoreStrings, adjustment);
}

}  // namespace kalmira
