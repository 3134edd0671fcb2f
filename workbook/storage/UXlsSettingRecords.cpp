#include "workbook/storage/UXlsSettingRecords.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "workbook/storage/Uxlsstrings.h"

namespace kalmira {

namespace {

constexpr TRecordClass Classes[] = {
    {xlr_PRECISION, MakeRecord<TPrecisionRecord>},
    {xlr_REFMODE, MakeRecord<TRefModeRecord>},
    {xlr_HEADER, MakeRecord<TPageHeaderRecord>},
    {xlr_FOOTER, MakeRecord<TPageFooterRecord>},
    {xlr_DATEMODE, MakeRecord<T1904Record>},
    {xlr_LEFTMARGIN, MakeRecord<TMarginRecord>},
    {xlr_RIGHTMARGIN, MakeRecord<TMarginRecord>},
    {xlr_TOPMARGIN, MakeRecord<TMarginRecord>},
    {xlr_BOTTOMMARGIN, MakeRecord<TMarginRecord>},
    {xlr_PRINTGRIDLINES, MakeRecord<TPrintGridLinesRecord>},
    {xlr_WINDOW1, MakeRecord<TWindow1Record>},
    {xlr_PLS, MakeRecord<TPlsRecord>},
    {xlr_DEFCOLWIDTH, MakeRecord<TDefColWidthRecord>},
    {xlr_WSBOOL, MakeRecord<TWsBoolRecord>},
    {xlr_HCENTER, MakeRecord<TPrintCenteredRecord>},
    {xlr_VCENTER, MakeRecord<TPrintCenteredRecord>},
    {xlr_STANDARDWIDTH, MakeRecord<TStandardWidthRecord>},
    {xlr_AUTOFILTERINFO, MakeRecord<TAutoFilterInfoRecord>},
    {xlr_SCL, MakeRecord<TSCLRecord>},
    {xlr_SETUP, MakeRecord<TSetupRecord>},
    {xlr_BOOKBOOL, MakeRecord<TBookBoolRecord>},
    {xlr_DIMENSIONS, MakeRecord<TDimensionsRecord>},
    {xlr_DEFAULTROWHEIGHT, MakeRecord<TDefRowHeightRecord>},
    {xlr_WINDOW2, MakeRecord<TWindow2Record>},
};

double GetDouble(std::span<const std::uint8_t> data, std::size_t pos) {
    const std::uint64_t low = GetLongWord(data, pos);
    const std::uint64_t high = GetLongWord(data, pos + 4);
    return std::bit_cast<double>(high << 32 | low);
}

void SetDouble(std::span<std::uint8_t> data, std::size_t pos, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    GetLongWord(data, pos + 4);  // both halves inside before either changes
    SetLongWord(data, pos, static_cast<std::uint32_t>(bits));
    SetLongWord(data, pos + 4, static_cast<std::uint32_t>(bits >> 32));
}

void SetBitOfWord(std::span<std::uint8_t> data, std::size_t pos, std::uint16_t mask, bool value) {
    const std::uint16_t word = GetWord(data, pos);
    SetWord(data, pos, static_cast<std::uint16_t>(value ? word | mask : word & ~mask));
}

std::uint16_t Clamp(int value, int low, int high) { return static_cast<std::uint16_t>(std::clamp(value, low, high)); }

// Saving may mend a field that other programs refuse. The record objects
// are never const themselves; only the saving interface is.
TRecordData& MendableData(const TBaseRecord& record) {
    return const_cast<TBaseRecord&>(record).Data;
}

}  // namespace

std::span<const TRecordClass> SettingRecordClasses() { return Classes; }

// ---------------------------------------------------------------------------
// Windows and zoom

void TWindow1Record::SetActiveSheet(std::uint16_t sheet) {
    GetWord(Data, 14);  // the last field first: all three or none
    SetWord(Data, 10, sheet);
    SetWord(Data, 12, 0);
    SetWord(Data, 14, 1);
}

void TWindow1Record::SaveToStream(TOle2File& ole) const {
    auto& data = MendableData(*this);
    for (std::size_t pos : {4, 6})
        if (data.size() >= pos + 2 && GetWord(data, pos) == 0) SetWord(data, pos, 1);
    TBaseRecord::SaveToStream(ole);
}

void TWindow2Record::SetBit(int bit, bool value) {
    SetBitOfWord(Data, 0, static_cast<std::uint16_t>(1u << bit), value);
}

void TWindow2Record::SetSelected(bool value) { SetBitOfWord(Data, 0, 0x0600, value); }

void TWindow2Record::SetSheetZoom(int zoom) { SetWord(Data, 12, Clamp(zoom, 10, 400)); }

std::unique_ptr<TBaseRecord> TWindow2Record::DoCopyTo() const {
    auto copy = TBaseRecord::DoCopyTo();
    if (copy->Data.size() >= 2) SetBitOfWord(copy->Data, 0, 0x0600, false);
    return copy;
}

TSCLRecord::TSCLRecord(int zoom) : TRecordOf(xlr_SCL, std::vector<std::uint8_t>(4, 0)) { SetZoom(zoom); }

int TSCLRecord::GetZoom() const {
    const long numerator = GetWord(Data, 0), denominator = GetWord(Data, 2);
    if (denominator == 0) return 100;
    const long scaled = numerator * 100;
    long quotient = scaled / denominator;
    const long twiceRest = 2 * (scaled % denominator);
    if (twiceRest > denominator || (twiceRest == denominator && (quotient & 1))) ++quotient;
    return static_cast<int>(quotient);
}

void TSCLRecord::SetZoom(int zoom) {
    GetWord(Data, 2);
    SetWord(Data, 0, Clamp(zoom, 10, 400));
    SetWord(Data, 2, 100);
}

void TDefColWidthRecord::SaveToStream(TOle2File& ole) const {
    auto& data = MendableData(*this);
    if (data.size() >= 2 && GetWord(data, 0) > 255) SetWord(data, 0, 255);
    TBaseRecord::SaveToStream(ole);
}

// ---------------------------------------------------------------------------
// Page header and footer

std::u16string TPageHeaderFooterRecord::GetText() const {
    if (Data.empty()) return {};
    std::u16string text;
    std::int64_t size = 0;
    GetSimpleString(true, Data, 0, false, 0, text, size);
    return text;
}

void TPageHeaderFooterRecord::SetText(std::u16string_view text) {
    std::vector<std::uint8_t> data;
    TExcelString(2, false, text).AppendTo(data, true);
    if (data.size() > MaxRecordDataSize) Raise(ErrInvalidStringRecord);
    Data = std::move(data);
    Continue.reset();
}

// ---------------------------------------------------------------------------
// Page setup

double TMarginRecord::GetValue() const {
    if (Data.size() != 8) throw Exception(ErrMarginRecord);
    return GetDouble(Data, 0);
}

void TMarginRecord::SetValue(double inches) {
    if (Data.size() != 8) throw Exception(ErrMarginRecord);
    SetDouble(Data, 0, inches);
}

TSetupRec TSetupRecord::GetValue() const {
    if (Data.size() != std::tuple_size_v<TSetupRec>) throw Exception(ErrSetupRecord);
    TSetupRec value;
    std::copy(Data.begin(), Data.end(), value.begin());
    return value;
}

void TSetupRecord::SetValue(const TSetupRec& value) {
    if (Data.size() != value.size()) throw Exception(ErrSetupRecord);
    std::copy(value.begin(), value.end(), Data.begin());
}

std::uint16_t TSetupRecord::PrinterField(std::size_t pos, std::uint16_t whenInvalid) const {
    return (GetPrintOptions() & NoPrinterFields) ? whenInvalid : GetWord(Data, pos);
}

void TSetupRecord::SetPrinterField(std::size_t pos, std::uint16_t value) {
    const std::uint16_t options = GetPrintOptions();
    SetWord(Data, pos, value);
    SetWord(Data, 10, options & ~NoPrinterFields);
}

double TSetupRecord::GetHeaderMargin() const { return GetDouble(Data, 16); }
void TSetupRecord::SetHeaderMargin(double inches) { SetDouble(Data, 16, inches); }
double TSetupRecord::GetFooterMargin() const { return GetDouble(Data, 24); }
void TSetupRecord::SetFooterMargin(double inches) { SetDouble(Data, 24, inches); }

namespace {
std::vector<std::uint8_t> PlsData(const TPrinterDriverSettings& settings) {
    constexpr std::size_t most = MaxRecordDataSize - 2;
    if (settings.Data.size() > most)
        Raise(ErrXlsIndexOutBounds, settings.Data.size(), "PrinterDriverSettings", 0, most);
    std::vector<std::uint8_t> data(2 + settings.Data.size());
    SetWord(data, 0, settings.OperatingEnvironment);
    std::copy(settings.Data.begin(), settings.Data.end(), data.begin() + 2);
    return data;
}
}  // namespace

TPlsRecord::TPlsRecord(const TPrinterDriverSettings& settings) : TRecordOf(xlr_PLS, PlsData(settings)) {}

TPrinterDriverSettings TPlsRecord::GetPrinterDriverSettings() const {
    TPrinterDriverSettings settings;
    settings.OperatingEnvironment = GetWord(Data, 0);
    settings.Data.assign(Data.begin() + 2, Data.end());
    for (const TBaseRecord* link = Continue.get(); link; link = link->Continue.get())
        settings.Data.insert(settings.Data.end(), link->Data.begin(), link->Data.end());
    return settings;
}

void TPlsRecord::SetPrinterDriverSettings(const TPrinterDriverSettings& settings) {
    Data = PlsData(settings);
    Continue.reset();
}

void TWsBoolRecord::SetBit(int bit, bool value) {
    SetBitOfWord(Data, 0, static_cast<std::uint16_t>(1u << bit), value);
}

}  // namespace kalmira
