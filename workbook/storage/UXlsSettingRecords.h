// The small records that hold window, zoom, page setup, printing and
// workbook options. Each accessor reads or changes one field of the raw data
// in place; whatever no accessor touches goes back as it was read. A field
// that lies outside the record fails with "Error reading record" and
// changes nothing.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/Uexcelrecords.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_PRECISION = 0x0E;
inline constexpr std::uint16_t xlr_REFMODE = 0x0F;
inline constexpr std::uint16_t xlr_HEADER = 0x14;
inline constexpr std::uint16_t xlr_FOOTER = 0x15;
inline constexpr std::uint16_t xlr_DATEMODE = 0x22;
inline constexpr std::uint16_t xlr_LEFTMARGIN = 0x26;
inline constexpr std::uint16_t xlr_RIGHTMARGIN = 0x27;
inline constexpr std::uint16_t xlr_TOPMARGIN = 0x28;
inline constexpr std::uint16_t xlr_BOTTOMMARGIN = 0x29;
inline constexpr std::uint16_t xlr_PRINTGRIDLINES = 0x2B;
inline constexpr std::uint16_t xlr_WINDOW1 = 0x3D;
inline constexpr std::uint16_t xlr_PLS = 0x4D;
inline constexpr std::uint16_t xlr_DEFCOLWIDTH = 0x55;
inline constexpr std::uint16_t xlr_WSBOOL = 0x81;
inline constexpr std::uint16_t xlr_HCENTER = 0x83;
inline constexpr std::uint16_t xlr_VCENTER = 0x84;
inline constexpr std::uint16_t xlr_STANDARDWIDTH = 0x99;
inline constexpr std::uint16_t xlr_AUTOFILTERINFO = 0x9D;
inline constexpr std::uint16_t xlr_SCL = 0xA0;
inline constexpr std::uint16_t xlr_SETUP = 0xA1;
inline constexpr std::uint16_t xlr_BOOKBOOL = 0xDA;
inline constexpr std::uint16_t xlr_DIMENSIONS = 0x200;
inline constexpr std::uint16_t xlr_DEFAULTROWHEIGHT = 0x225;
inline constexpr std::uint16_t xlr_WINDOW2 = 0x23E;

inline constexpr const char* ErrSetupRecord = "Error in Setup Record";
inline constexpr const char* ErrMarginRecord = "Error in Margin Record";

// The most data bytes one record may carry.
inline constexpr std::size_t MaxRecordDataSize = 8224;

// The classes of this unit, for the factory's table.
std::span<const TRecordClass> SettingRecordClasses();

// WINDOW1: 4 width, 6 height, 10 active sheet, 12 first visible tab,
// 14 selected sheets.
class TWindow1Record : public TRecordOf<TWindow1Record> {
public:
    using TRecordOf::TRecordOf;
    std::uint16_t GetActiveSheet() const { return GetWord(Data, 10); }
    // Selects only that sheet and scrolls the tabs back to the first.
    void SetActiveSheet(std::uint16_t sheet);
    std::uint16_t GetFirstSheetVisible() const { return GetWord(Data, 12); }
    void SetFirstSheetVisible(std::uint16_t sheet) { SetWord(Data, 12, sheet); }
    // A window of width or height 0 cannot be opened again: written as 1.
    void SaveToStream(TOle2File& ole) const override;
};

// WINDOW2: 0 options (bit 1 grid lines, 2 row and column headers, 3 frozen
// panes, 8 frozen without split, 9 selected, 10 shown), 12 zoom in percent.
class TWindow2Record : public TRecordOf<TWindow2Record> {
public:
    using TRecordOf::TRecordOf;
    bool GetSelected() const { return Bit(9); }
    // Selected and shown go together.
    void SetSelected(bool value);
    bool GetShowGridLines() const { return Bit(1); }
    void SetShowGridLines(bool value) { SetBit(1, value); }
    bool GetShowGridHeaders() const { return Bit(2); }
    void SetShowGridHeaders(bool value) { SetBit(2, value); }
    bool GetIsFrozen() const { return Bit(3); }
    void SetIsFrozen(bool value) { SetBit(3, value); }
    bool GetIsFrozenButNoSplit() const { return Bit(8); }
    void SetIsFrozenButNoSplit(bool value) { SetBit(8, value); }
    std::uint16_t GetSheetZoom() const { return GetWord(Data, 12); }
    // Clamped to 10..400.
    void SetSheetZoom(int zoom);
    // A copied sheet is never selected.
    std::unique_ptr<TBaseRecord> DoCopyTo() const override;

private:
    bool Bit(int bit) const { return (GetWord(Data, 0) >> bit) & 1; }
    void SetBit(int bit, bool value);
};

// SCL: the zoom as the fraction numerator (0) / denominator (2).
class TSCLRecord : public TRecordOf<TSCLRecord> {
public:
    using TRecordOf::TRecordOf;
    explicit TSCLRecord(int zoom);
    // In percent, rounded half to even; 100 when the denominator is 0.
    int GetZoom() const;
    // Clamped to 10..400, stored over 100.
    void SetZoom(int zoom);
};

// DEFCOLWIDTH: the default width in characters (0).
class TDefColWidthRecord : public TRecordOf<TDefColWidthRecord> {
public:
    using TRecordOf::TRecordOf;
    std::uint16_t Width() const { return GetWord(Data, 0); }
    // Other programs refuse widths above 255: such a width is written, and
    // from then on kept, as 255.
    void SaveToStream(TOle2File& ole) const override;
};

class TStandardWidthRecord : public TRecordOf<TStandardWidthRecord> {
public:
    using TRecordOf::TRecordOf;
    std::uint16_t Width() const { return GetWord(Data, 0); }
};

// DEFAULTROWHEIGHT: 0 options, 2 height in twips.
class TDefRowHeightRecord : public TRecordOf<TDefRowHeightRecord> {
public:
    using TRecordOf::TRecordOf;
    std::uint16_t Height() const { return GetWord(Data, 2); }
};

class TDimensionsRecord : public TRecordOf<TDimensionsRecord> {
public:
    using TRecordOf::TRecordOf;
    const TRecordData& Dim() const { return Data; }
};

// HEADER and FOOTER: the data is one string with a 2-byte count; no data
// means no text.
class TPageHeaderFooterRecord : public TBaseRecord {
public:
    using TBaseRecord::TBaseRecord;
    std::u16string GetText() const;
    // 8-bit characters when the text allows. A text that does not fit one
    // record is refused with "Invalid String record", the record unchanged.
    void SetText(std::u16string_view text);
};

class TPageHeaderRecord : public TRecordOf<TPageHeaderRecord, TPageHeaderFooterRecord> {
public:
    using TRecordOf::TRecordOf;
};

class TPageFooterRecord : public TRecordOf<TPageFooterRecord, TPageHeaderFooterRecord> {
public:
    using TRecordOf::TRecordOf;
};

// A record whose word at 0 is a switch: 1 on, 0 off.
class TBoolWordRecord : public TBaseRecord {
public:
    using TBaseRecord::TBaseRecord;

protected:
    bool IsOne() const { return GetWord(Data, 0) == 1; }
    void SetOne(bool one) { SetWord(Data, 0, one ? 1 : 0); }
};

class TPrintGridLinesRecord : public TRecordOf<TPrintGridLinesRecord, TBoolWordRecord> {
public:
    using TRecordOf::TRecordOf;
    bool GetValue() const { return IsOne(); }
    void SetValue(bool value) { SetOne(value); }
};

// HCENTER and VCENTER.
class TPrintCenteredRecord : public TRecordOf<TPrintCenteredRecord, TBoolWordRecord> {
public:
    using TRecordOf::TRecordOf;
    bool GetCentered() const { return IsOne(); }
    void SetCentered(bool value) { SetOne(value); }
};

// DATEMODE.
class T1904Record : public TRecordOf<T1904Record, TBoolWordRecord> {
public:
    using TRecordOf::TRecordOf;
    bool GetIs1904() const { return IsOne(); }
    void SetIs1904(bool value) { SetOne(value); }
};

// REFMODE stores 1 for A1 references: anything else is R1C1.
class TRefModeRecord : public TRecordOf<TRefModeRecord, TBoolWordRecord> {
public:
    using TRecordOf::TRecordOf;
    bool GetIsR1C1() const { return !IsOne(); }
    void SetIsR1C1(bool value) { SetOne(!value); }
};

// PRECISION stores 1 for full precision, 0 for precision as displayed.
class TPrecisionRecord : public TRecordOf<TPrecisionRecord> {
public:
    using TRecordOf::TRecordOf;
    bool GetPrecisionAsDisplayed() const { return GetWord(Data, 0) == 0; }
    void SetPrecisionAsDisplayed(bool value) { SetWord(Data, 0, value ? 0 : 1); }
};

// BOOKBOOL stores 1 when the values of external links are not saved.
class TBookBoolRecord : public TRecordOf<TBookBoolRecord, TBoolWordRecord> {
public:
    using TRecordOf::TRecordOf;
    bool GetSaveExternalLinkValues() const { return !IsOne(); }
    void SetSaveExternalLinkValues(bool value) { SetOne(!value); }
};

// LEFT, RIGHT, TOP and BOTTOMMARGIN: one double, in inches.
class TMarginRecord : public TRecordOf<TMarginRecord> {
public:
    using TRecordOf::TRecordOf;
    // "Error in Margin Record" unless the data is 8 bytes.
    double GetValue() const;
    void SetValue(double inches);
};

// The 34 data bytes of a SETUP record as one value.
using TSetupRec = std::array<std::uint8_t, 34>;

// SETUP: 0 paper, 2 scale, 4 first page, 6 fit width, 8 fit height,
// 10 options, 12 and 14 resolutions, 16 header margin, 24 footer margin
// (doubles), 32 copies. Options bit 2 says the printer fields (paper,
// scale, resolutions, copies) hold nothing: they then read as defaults.
class TSetupRecord : public TRecordOf<TSetupRecord> {
public:
    using TRecordOf::TRecordOf;
    // "Error in Setup Record" unless the data is 34 bytes.
    TSetupRec GetValue() const;
    void SetValue(const TSetupRec& value);

    std::uint16_t GetPrintOptions() const { return GetWord(Data, 10); }
    // Only the low byte is kept.
    void SetPrintOptions(std::uint16_t options) { SetWord(Data, 10, options & 0xFF); }

    std::uint16_t GetScale() const { return PrinterField(2, 100); }
    std::uint16_t GetPrintCopies() const { return PrinterField(32, 1); }
    std::uint16_t GetPrintPaperSize() const { return PrinterField(0, 0); }
    std::uint16_t GetPrintXResolution() const { return PrinterField(12, 100); }
    std::uint16_t GetPrintYResolution() const { return PrinterField(14, 100); }
    // Each makes the printer fields valid.
    void SetScale(std::uint16_t value) { SetPrinterField(2, value); }
    void SetPrintCopies(std::uint16_t value) { SetPrinterField(32, value); }
    void SetPrintPaperSize(std::uint16_t value) { SetPrinterField(0, value); }
    void SetPrintXResolution(std::uint16_t value) { SetPrinterField(12, value); }
    void SetPrintYResolution(std::uint16_t value) { SetPrinterField(14, value); }

    std::uint16_t GetFitWidth() const { return GetWord(Data, 6); }
    void SetFitWidth(std::uint16_t value) { SetWord(Data, 6, value); }
    std::uint16_t GetFitHeight() const { return GetWord(Data, 8); }
    void SetFitHeight(std::uint16_t value) { SetWord(Data, 8, value); }
    double GetHeaderMargin() const;
    void SetHeaderMargin(double inches);
    double GetFooterMargin() const;
    void SetFooterMargin(double inches);

private:
    static constexpr std::uint16_t NoPrinterFields = 0x04;
    std::uint16_t PrinterField(std::size_t pos, std::uint16_t whenInvalid) const;
    void SetPrinterField(std::size_t pos, std::uint16_t value);
};

// PLS: the environment word (0), then the printer driver's bytes.
class TPlsRecord : public TRecordOf<TPlsRecord> {
public:
    using TRecordOf::TRecordOf;
    // Settings too long for one record are refused as SetPrinterDriverSettings does.
    explicit TPlsRecord(const TPrinterDriverSettings& settings);
    // The driver bytes of the CONTINUE records belong to them too.
    TPrinterDriverSettings GetPrinterDriverSettings() const;
    // The data becomes 2 + the new byte count long and the old CONTINUE
    // records go; more than 8222 bytes are refused, the record unchanged.
    void SetPrinterDriverSettings(const TPrinterDriverSettings& settings);
};

// WSBOOL: bit 5 automatic outline styles, 6 summary rows below detail,
// 7 summary columns right of detail, 8 fit to page.
class TWsBoolRecord : public TRecordOf<TWsBoolRecord> {
public:
    using TRecordOf::TRecordOf;
    std::uint16_t GetValue() const { return GetWord(Data, 0); }
    void SetValue(std::uint16_t value) { SetWord(Data, 0, value); }
    bool GetFitToPage() const { return Bit(8); }
    void SetFitToPage(bool value) { SetBit(8, value); }
    bool GetOutlineSummaryColsRightOfDetail() const { return Bit(7); }
    void SetOutlineRightOfDetail(bool value) { SetBit(7, value); }
    bool GetOutlineSummaryRowsBelowDetail() const { return Bit(6); }
    void SetOutlineSummaryRowsBelowDetail(bool value) { SetBit(6, value); }
    bool GetOutlineAutomaticStyles() const { return Bit(5); }
    void SetOutlineAutomaticStyles(bool value) { SetBit(5, value); }

private:
    bool Bit(int bit) const { return (GetValue() >> bit) & 1; }
    void SetBit(int bit, bool value);
};

class TAutoFilterInfoRecord : public TRecordOf<TAutoFilterInfoRecord> {
public:
    using TRecordOf::TRecordOf;
    std::uint16_t Get_DropDownCount() const { return GetWord(Data, 0); }
    void Set_DropDownCount(std::uint16_t count) { SetWord(Data, 0, count); }
};

}  // namespace kalmira
