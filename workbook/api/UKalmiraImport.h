// The one object through which the program works on a workbook: linked to an
// adapter, it asks the adapter for a workbook object at each open, owns it
// until the file is closed and passes its calls on to it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "workbook/api/UExcelAdapter.h"
#include "workbook/api/UTextDelim.h"

namespace kalmira {

class TKalmiraImport {
public:
    TKalmiraImport() = default;
    TKalmiraImport(const TKalmiraImport&) = delete;
    TKalmiraImport& operator=(const TKalmiraImport&) = delete;
    // Closes the open workbook.
    ~TKalmiraImport();

    // The linked adapter; none once that adapter has been destroyed. Only
    // the next open needs it: an open workbook stays usable without it.
    TExcelAdapter* Adapter() const { return FAdapter.Get(); }
    void SetAdapter(TExcelAdapter* adapter) { FAdapter = TAdapterLink<TExcelAdapter>(adapter); }

    // Opening needs an adapter ("There is no Adapter linked to the report",
    // checked before anything changes) and closes the open workbook first:
    // a failed open leaves no workbook. The file is looked up as the
    // workbook object's OpenFileAndSearch does (UTF-8 names).
    void OpenFile(const std::string& fileName);
    void NewFile(std::int32_t sheetCount);
    // Selects no sheet afterwards; the file name stays empty.
    void LoadFromStream(TKmrStream& stream);
    // Never fails: the workbook object's own close and disconnect failures
    // are dropped, and the object is freed.
    void CloseFile();

    // Every operation below raises "There is no open file" while no
    // workbook is open, before anything else.

    // Writes the file (an existing one only when the adapter allows
    // overwriting); the file name changes only when the save succeeds.
    void Save(const std::string& fileName);
    void SaveToStream(TKmrStream& stream);
    // Delimited text (UTextDelim.h): the active sheet as text; the file is
    // replaced only by a complete one, a failure leaves it as it was.
    void SaveAsText(const std::string& fileName, char delimiter, TTextEncoding encoding = TTextEncoding::Utf8);
    void SaveToStreamAsText(TKmrStream& stream, char delimiter, TTextEncoding encoding = TTextEncoding::Utf8);
    // A new workbook of three sheets with the text from A1 of the first.
    // These need an adapter, like opening; text that is refused leaves no
    // workbook.
    void LoadFromTextStream(TKmrStream& stream, char delimiter, std::span<const XLSColumnImportTypes> columnTypes = {},
                            TTextEncoding encoding = TTextEncoding::Utf8);
    // The file is looked up as OpenFile does on disk.
    void OpenText(const std::string& fileName, char delimiter, std::span<const XLSColumnImportTypes> columnTypes = {},
                  TTextEncoding encoding = TTextEncoding::Utf8);

    bool IsLoaded() const { return FWorkbook != nullptr; }
    // The open workbook object (none while no file is open); the facade
    // keeps owning it.
    TExcelFile* GetWorkbook() const { return FWorkbook.get(); }
    const std::string& FileName() const { return FFileName; }

#define KMR_FACADE_OP(result, name, target, params, args) result name params;
#include "workbook/api/UKalmiraImportOperations.inc"

    // Makes sheet n (from 1) the active and the selected one.
    void SetActiveSheet(std::int32_t sheet);
    // count empty sheets before sheet before.
    void InsertEmptySheets(std::int32_t before, std::int32_t count);
    void InsertAndCopyRows(std::int32_t firstRow, std::int32_t lastRow, std::int32_t destRow, std::int32_t count);
    void InsertAndCopyCols(std::int32_t firstCol, std::int32_t lastCol, std::int32_t destCol, std::int32_t count);
    void SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text);
    void SetCellString(std::int32_t row, std::int32_t col, const std::u16string& text, const TKmrFormat& format);
    bool GetIsFormula(std::int32_t row, std::int32_t col);
    // The cell's own XF index, negative when it has none.
    std::int32_t GetCellFormat(std::int32_t row, std::int32_t col);
    // Comment n (from 0) of the row; an empty text deletes it.
    TVariant GetComments(std::int32_t row, std::int32_t n);
    void SetComments(std::int32_t row, std::int32_t n, const TVariant& value);
    // The column of the row's index-th used cell (from 1); an index outside
    // 1..GetColIndexCount(row) raises.
    std::int32_t GetColByIndex(std::int32_t row, std::int32_t index);

    // Formats and fonts by index from 0; an index outside the list raises.
    TKmrFormat GetKmrFormatList(std::int32_t index);
    void SetKmrFormatList(std::int32_t index, const TKmrFormat& format);
    TKmrFont GetKmrFontList(std::int32_t index);
    void SetKmrFontList(std::int32_t index, const TKmrFont& font);
    void GetFormatList(std::int32_t index, TKmrFormat& format);
    void SetFormatList(std::int32_t index, const TKmrFormat& format);
    void GetFontList(std::int32_t index, TKmrFont& font);
    void SetFontList(std::int32_t index, const TKmrFont& font);
    // The format a cell shows: its own, else its row's (when above 0), else
    // its column's, else format 15.
    TKmrFormat GetCellFormatDef1(std::int32_t row, std::int32_t col);
    void GetCellFormatDef(std::int32_t row, std::int32_t col, TKmrFormat& format);
    void GetDefaultFormat(TKmrFormat& format);

    // 56, with or without a workbook.
    static std::int32_t GetColorPaletteCount() { return 56; }
    // The palette entry nearest to a colour; with used colours (indexed by
    // palette entry) a free entry may be claimed for it.
    std::int32_t NearestColorIndex(std::uint32_t color, std::span<bool> usedColors);
    std::int32_t NearestColorIndex(std::uint32_t color);

    // Rich runs, first characters from 1.
    TRTFRunList GetRTFRuns(std::int32_t row, std::int32_t col);
    void SetRTFRuns(std::int32_t row, std::int32_t col, const TRTFRunList& runs);

    // Pictures of the active sheet, numbered from 0 over the whole sheet;
    // a cell position places the picture dy, dx pixels inside that cell,
    // height x width pixels large.
    std::int32_t GetPicturesCount();
    std::u16string GetPictureName(std::int32_t index);
    void GetPicture(std::int32_t index, TKmrStream& image, TXlsImgTypes& imageType, TClientAnchor& anchor);
    void AssignPicture(std::int32_t index, std::span<const std::uint8_t> image, TXlsImgTypes imageType);
    void AssignPicture(std::int32_t index, std::span<const std::uint8_t> image, TXlsImgTypes imageType,
                       std::int32_t row, std::int32_t col, std::int32_t dy, std::int32_t dx, std::int32_t height,
                       std::int32_t width, TKmrAnchorType anchorType);
    void AssignPictureProperties(std::int32_t index, std::int32_t row, std::int32_t col, std::int32_t dy,
                                 std::int32_t dx, std::int32_t height, std::int32_t width, TKmrAnchorType anchorType);
    void AddPicture(std::span<const std::uint8_t> image, TXlsImgTypes imageType, const TImageProperties& properties,
                    TKmrAnchorType anchorType);
    void AddPicture(std::span<const std::uint8_t> image, TXlsImgTypes imageType, std::int32_t row, std::int32_t col,
                    std::int32_t dy, std::int32_t dx, std::int32_t height, std::int32_t width,
                    TKmrAnchorType anchorType);
    // The stream's bytes from its position on, as many as its size: a
    // stream not at its start fails with "Stream read error".
    void AddPicture(TKmrStream& image, TXlsImgTypes imageType, const TImageProperties& properties,
                    TKmrAnchorType anchorType);
    void AddPicture(TKmrStream& image, TXlsImgTypes imageType, std::int32_t row, std::int32_t col, std::int32_t dy,
                    std::int32_t dx, std::int32_t height, std::int32_t width, TKmrAnchorType anchorType);

    // A comment in a box beside the (merged) cell.
    void SetCellComment(std::int32_t row, std::int32_t col, const std::u16string& text);

    // The left, centre and right parts of a header or footer text ("&L",
    // "&C", "&R"; a text without a leading marker is all centre). No
    // workbook needed.
    static void FillPageHeaderFooter(const std::u16string& text, std::u16string& left, std::u16string& centre,
                                     std::u16string& right);
    // Dates between the 1900 system and the workbook's own.
    double ToOADate(double date);
    double FromOADate(double value);

    void SetAutoFilter(const TXlsCellRange& range);
    void AutofitRow(std::int32_t row, bool forced, long double adjustment);
    void AutofitCol(std::int32_t col, bool ignoreStrings, long double adjustment);

private:
    // The open workbook object; raises "There is no open file" without one.
    TExcelFile& Workbook() const;
    TExcelAdapter& CheckedAdapter() const;
    // The open workbook once index names an entry of its font or format list.
    TExcelFile& CheckedList(std::int32_t index, bool fonts) const;
    // The open sequence around one way in; select picks the stored active
    // sheet afterwards.
    template <class Open>
    void OpenWith(Open open, bool select);
    void PlacePicture(std::int32_t row, std::int32_t col, std::int32_t dy, std::int32_t dx, std::int32_t height,
                      std::int32_t width, TImageProperties& properties);

    std::string FFileName;
    std::unique_ptr<TExcelFile> FWorkbook;
    TAdapterLink<TExcelAdapter> FAdapter;
};

}  // namespace kalmira
