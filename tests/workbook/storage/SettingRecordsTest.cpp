#include <cmath>
#include <map>
#include <typeindex>

#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/Uxlsotherrecords.h"

using namespace kalmira;
using namespace ole2test;

namespace {

Bytes Double(double value) {
    Bytes out(8);
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return out;
}

// SETUP as LibreOffice writes it: A4, 100 %, fit 1 x 1, options 0x0004
// (printer fields not valid), 600 dpi, header and footer margins 0.5".
Bytes SetupBytes(std::uint16_t options) {
    Bytes data = {9, 0, 100, 0, 1, 0, 1, 0, 1, 0, static_cast<std::uint8_t>(options), static_cast<std::uint8_t>(options >> 8),
                  0x58, 2, 0x58, 2};
    for (auto d : {Double(0.5), Double(0.5)}) data.insert(data.end(), d.begin(), d.end());
    data.insert(data.end(), {3, 0});
    return data;
}

}  // namespace

TEST(SettingRecords, ZoomIsAFractionRoundedHalfToEven) {
    // 1/8 and 3/8 are 12.5 and 37.5 %; a zero denominator means 100 %.
    for (auto [num, den, zoom] : {std::tuple<std::uint8_t, std::uint8_t, int>{3, 4, 75}, {3, 0, 100}, {1, 8, 12},
                                  {3, 8, 38}, {2, 3, 67}})
        EXPECT_EQ(LoadAs<TSCLRecord>(0xA0, {num, 0, den, 0})->GetZoom(), zoom) << +num << "/" << +den;
    auto scl = LoadAs<TSCLRecord>(0xA0, {3, 0, 4, 0});
    scl->SetZoom(5);
    EXPECT_EQ(scl->Data, (Bytes{0x0A, 0, 0x64, 0}));
    scl->SetZoom(1000);
    EXPECT_EQ(scl->Data, (Bytes{0x90, 0x01, 0x64, 0}));
    EXPECT_EQ(Saved(TSCLRecord(150)), (Bytes{0xA0, 0, 4, 0, 150, 0, 100, 0}));
    auto shortScl = LoadAs<TSCLRecord>(0xA0, {3, 0});
    EXPECT_EQ(MessageOf([&] { shortScl->SetZoom(50); }), "Error reading record");
    EXPECT_EQ(shortScl->Data, (Bytes{3, 0}));
}

TEST(SettingRecords, Windows) {
    // WINDOW1 as LibreOffice writes it, but 0 wide and 0 high.
    const Bytes w1 = {0, 0, 0, 0, 0, 0, 0, 0, 0x38, 0, 2, 0, 1, 0, 3, 0, 0x58, 2};
    auto window1 = LoadAs<TWindow1Record>(0x3D, w1);
    EXPECT_EQ(window1->GetActiveSheet(), 2);
    EXPECT_EQ(window1->GetFirstSheetVisible(), 1);
    window1->SetActiveSheet(4);
    EXPECT_EQ(Saved(*window1), (Bytes{0x3D, 0, 18, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0x38, 0, 4, 0, 0, 0, 1, 0, 0x58, 2}));
    auto shortWindow1 = LoadAs<TWindow1Record>(0x3D, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0});
    EXPECT_EQ(MessageOf([&] { shortWindow1->SetActiveSheet(0); }), "Error reading record");
    EXPECT_EQ(shortWindow1->GetActiveSheet(), 2);

    // WINDOW2: grid lines, headers, selected and shown; zoom 100.
    const Bytes w2 = {0xB6, 0x06, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0};
    auto window2 = LoadAs<TWindow2Record>(0x23E, w2);
    EXPECT_TRUE(window2->GetSelected());
    auto copy = window2->CopyTo();
    EXPECT_EQ(copy->Data[0], 0xB6);
    EXPECT_EQ(copy->Data[1], 0x00);
    EXPECT_FALSE(dynamic_cast<TWindow2Record&>(*copy).GetSelected());
    EXPECT_TRUE(window2->GetSelected());
    window2->SetShowGridLines(false);
    window2->SetIsFrozenButNoSplit(true);
    window2->SetSheetZoom(5);
    EXPECT_EQ(window2->GetSheetZoom(), 10);
    window2->SetSheetZoom(401);
    EXPECT_EQ(window2->GetSheetZoom(), 400);
    window2->SetSelected(false);
    EXPECT_EQ(window2->Data[0], 0xB4);
    EXPECT_EQ(window2->Data[1], 0x01);

    // PANE: the active pane becomes one that the splits make (column split,
    // row split, active before, active after); columns frozen alone: 0 -> 1.
    for (auto [col, row, active, after] : {std::array<std::uint8_t, 4>{3, 0, 0, 1}, {0, 2, 0, 2}, {0, 0, 0, 3},
                                           {3, 2, 0, 0}, {0, 2, 1, 3}, {3, 0, 1, 1}, {3, 0, 2, 3}, {0, 0, 3, 3}}) {
        auto pane = LoadAs<TPaneRecord>(xlr_PANE, {col, 0, row, 0, 4, 0, 5, 0, active, 0});
        pane->EnsureSelectedVisible();
        EXPECT_EQ(pane->Data, (Bytes{col, 0, row, 0, 4, 0, 5, 0, after, 0})) << +col << " " << +row << " " << +active;
    }
}

TEST(SettingRecords, WidthsAndHeights) {
    auto defColWidth = LoadAs<TDefColWidthRecord>(0x55, {0x2C, 0x01});
    EXPECT_EQ(defColWidth->Width(), 300);
    EXPECT_EQ(Saved(*defColWidth), (Bytes{0x55, 0, 2, 0, 0xFF, 0}));
    EXPECT_EQ(defColWidth->Width(), 255);
    EXPECT_EQ(Saved(*LoadAs<TDefColWidthRecord>(0x55, {8, 0})), (Bytes{0x55, 0, 2, 0, 8, 0}));
    EXPECT_EQ(Saved(*LoadAs<TDefColWidthRecord>(0x55, {0x2C})), (Bytes{0x55, 0, 1, 0, 0x2C}));
    EXPECT_EQ(LoadAs<TDefRowHeightRecord>(0x225, {0, 0, 0xFF, 0})->Height(), 255);
}

TEST(SettingRecords, SwitchWordsAndTheirInvertedForms) {
    EXPECT_TRUE(LoadAs<TRefModeRecord>(0x0F, {0, 0})->GetIsR1C1());
    EXPECT_TRUE(LoadAs<TRefModeRecord>(0x0F, {2, 0})->GetIsR1C1());
    auto refMode = LoadAs<TRefModeRecord>(0x0F, {1, 0});
    EXPECT_FALSE(refMode->GetIsR1C1());
    refMode->SetIsR1C1(true);
    EXPECT_EQ(refMode->Data, (Bytes{0, 0}));

    auto precision = LoadAs<TPrecisionRecord>(0x0E, {1, 0});
    EXPECT_FALSE(precision->GetPrecisionAsDisplayed());
    precision->SetPrecisionAsDisplayed(true);
    EXPECT_EQ(precision->Data, (Bytes{0, 0}));
    EXPECT_TRUE(precision->GetPrecisionAsDisplayed());

    auto bookBool = LoadAs<TBookBoolRecord>(0xDA, {0, 0});
    EXPECT_TRUE(bookBool->GetSaveExternalLinkValues());
    bookBool->SetSaveExternalLinkValues(false);
    EXPECT_EQ(bookBool->Data, (Bytes{1, 0}));

    EXPECT_FALSE(LoadAs<T1904Record>(0x22, {2, 0})->GetIs1904());
    auto centred = LoadAs<TPrintCenteredRecord>(0x84, {1, 0});
    centred->SetCentered(false);
    EXPECT_EQ(centred->Data, (Bytes{0, 0}));
    auto emptyRefMode = LoadAs<TRefModeRecord>(0x0F, {});
    EXPECT_EQ(MessageOf([&] { emptyRefMode->SetIsR1C1(true); }), "Error reading record");
    EXPECT_TRUE(emptyRefMode->Data.empty());

    // 0x04C1: summary rows below, columns right, automatic styles... LibreOffice's.
    auto wsBool = LoadAs<TWsBoolRecord>(0x81, {0xC1, 0x04});
    EXPECT_TRUE(wsBool->GetOutlineSummaryRowsBelowDetail() && wsBool->GetOutlineSummaryColsRightOfDetail());
    EXPECT_FALSE(wsBool->GetFitToPage() || wsBool->GetOutlineAutomaticStyles());
    wsBool->SetFitToPage(true);
    wsBool->SetOutlineAutomaticStyles(true);
    wsBool->SetOutlineRightOfDetail(false);
    wsBool->SetOutlineSummaryRowsBelowDetail(false);
    EXPECT_EQ(wsBool->GetValue(), 0x0521);
}

TEST(SettingRecords, Margins) {
    auto margin = LoadAs<TMarginRecord>(0x26, Double(0.75));
    EXPECT_EQ(margin->GetValue(), 0.75);
    margin->SetValue(1.25);
    EXPECT_EQ(margin->Data, (Bytes{0, 0, 0, 0, 0, 0, 0xF4, 0x3F}));
    for (std::uint16_t id : {0x27, 0x28, 0x29}) {
        auto bad = LoadAs<TMarginRecord>(id, {0, 0, 0, 0, 0, 0, 0xF4});
        EXPECT_EQ(MessageOf([&] { bad->GetValue(); }), "Error in Margin Record");
        EXPECT_EQ(MessageOf([&] { bad->SetValue(1); }), "Error in Margin Record");
        EXPECT_EQ(Saved(*bad), Cat({Bytes{static_cast<std::uint8_t>(id), 0, 7, 0}, bad->Data}));
    }
}

TEST(SettingRecords, SetupMasksThePrinterFieldsUntilOneIsSet) {
    auto setup = LoadAs<TSetupRecord>(0xA1, SetupBytes(0x0004));
    EXPECT_EQ(setup->GetScale(), 100);
    EXPECT_EQ(setup->GetPrintCopies(), 1);
    EXPECT_EQ(setup->GetPrintPaperSize(), 0);
    EXPECT_EQ(setup->GetPrintXResolution(), 100);
    EXPECT_EQ(setup->GetPrintYResolution(), 100);
    EXPECT_EQ(setup->GetFitWidth(), 1);
    EXPECT_EQ(setup->GetHeaderMargin(), 0.5);
    setup->SetPrintPaperSize(8);
    EXPECT_EQ(setup->GetPrintOptions(), 0);
    EXPECT_EQ(setup->GetPrintCopies(), 3);
    EXPECT_EQ(setup->GetPrintXResolution(), 600);
    EXPECT_EQ(setup->GetScale(), 100);

    for (auto set : std::initializer_list<void (TSetupRecord::*)(std::uint16_t)>{
             &TSetupRecord::SetScale, &TSetupRecord::SetPrintCopies, &TSetupRecord::SetPrintXResolution,
             &TSetupRecord::SetPrintYResolution}) {
        auto masked = LoadAs<TSetupRecord>(0xA1, SetupBytes(0x0044));
        (masked.get()->*set)(77);
        EXPECT_EQ(masked->GetPrintOptions(), 0x0040);
    }
    setup->SetPrintOptions(0x1234);
    EXPECT_EQ(setup->GetPrintOptions(), 0x34);
    setup->SetFitHeight(3);
    setup->SetFooterMargin(0.25);
    setup->SetHeaderMargin(0.125);
    const TSetupRec value = setup->GetValue();
    EXPECT_EQ(Bytes(value.begin(), value.end()),
              Cat({Bytes{8, 0, 100, 0, 1, 0, 1, 0, 3, 0, 0x34, 0, 0x58, 2, 0x58, 2}, Double(0.125), Double(0.25),
                   Bytes{3, 0}}));
    auto other = LoadAs<TSetupRecord>(0xA1, SetupBytes(0));
    other->SetValue(value);
    EXPECT_EQ(other->Data, setup->Data);

    Bytes shortData = SetupBytes(4);
    shortData.resize(33);
    auto bad = LoadAs<TSetupRecord>(0xA1, shortData);
    EXPECT_EQ(MessageOf([&] { bad->GetValue(); }), "Error in Setup Record");
    EXPECT_EQ(MessageOf([&] { bad->SetValue(value); }), "Error in Setup Record");
    EXPECT_EQ(MessageOf([&] { bad->SetPrintCopies(2); }), "Error reading record");
    EXPECT_EQ(bad->Data, shortData);  // the options kept their bit 2
    EXPECT_EQ(Saved(*bad), Cat({Bytes{0xA1, 0, 33, 0}, shortData}));
}

TEST(SettingRecords, PrinterDriverSettings) {
    auto pls = LoadAs<TPlsRecord>(0x4D, {1, 0, 0xAA, 0xBB, 0xCC}, {0xDD, 0xEE});
    TBaseRecordList list;
    TPlsRecord* held = pls.get();
    list.Add(std::move(pls));
    const TPrinterDriverSettings read = held->GetPrinterDriverSettings();
    EXPECT_EQ(read.OperatingEnvironment, 1);
    EXPECT_EQ(read.Data, (Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));

    list.Resize(*held, [&] { held->SetPrinterDriverSettings({2, Bytes(10, 0x11)}); });
    EXPECT_EQ(held->DataSize(), 12);
    EXPECT_FALSE(held->Continue);
    EXPECT_EQ(list.GetTotalSize(), 16);
    EXPECT_EQ(Written([&](TOle2File& ole) { list.SaveToStream(ole); }),
              Cat({Bytes{0x4D, 0, 12, 0, 2, 0}, Bytes(10, 0x11)}));

    EXPECT_EQ(MessageOf([&] { held->SetPrinterDriverSettings({0, Bytes(8223, 0)}); }),
              "The index \"8223\" of the property \"PrinterDriverSettings\" is not in the range 0-8222");
    EXPECT_EQ(held->DataSize(), 12);
    held->SetPrinterDriverSettings({0, Bytes(8222, 0)});
    EXPECT_EQ(held->DataSize(), 8224);
    EXPECT_EQ(TPlsRecord(TPrinterDriverSettings{3, {7}}).Data, (Bytes{3, 0, 7}));
}

TEST(SettingRecords, PageHeaderAndFooterText) {
    // LibreOffice's default header: "&C&A" as an 8-bit string.
    auto header = LoadAs<TPageHeaderRecord>(0x14, {4, 0, 0, '&', 'C', '&', 'A'});
    EXPECT_EQ(header->GetText(), u"&C&A");
    EXPECT_EQ(LoadAs<TPageFooterRecord>(0x15, {})->GetText(), u"");
    TBaseRecordList list;
    TPageHeaderRecord* held = header.get();
    list.Add(std::move(header));
    list.Resize(*held, [&] { held->SetText(u"&LOdečty"); });
    EXPECT_EQ(held->Data, (Bytes{8, 0, 1, '&', 0, 'L', 0, 'O', 0, 'd', 0, 'e', 0, 0x0D, 0x01, 't', 0, 'y', 0}));
    EXPECT_EQ(list.GetTotalSize(), 4 + 19);
    held->SetText(u"Byt \u00E9");
    EXPECT_EQ(held->Data, (Bytes{5, 0, 0, 'B', 'y', 't', ' ', 0xE9}));
    EXPECT_EQ(held->GetText(), u"Byt \u00E9");

    const Bytes before = held->Data;
    EXPECT_EQ(MessageOf([&] { held->SetText(std::u16string(8222, u'x')); }), "Invalid String record");
    EXPECT_EQ(MessageOf([&] { held->SetText(std::u16string(4111, u'\u0161')); }), "Invalid String record");
    EXPECT_EQ(held->Data, before);
    held->SetText(std::u16string(8221, u'x'));
    EXPECT_EQ(held->DataSize(), 8224);
    held->SetText(std::u16string(4110, u'\u0161'));
    EXPECT_EQ(held->DataSize(), 8223);

    auto broken = LoadAs<TPageFooterRecord>(0x15, {9, 0, 0, 'a'});
    EXPECT_EQ(MessageOf([&] { broken->GetText(); }), "Error reading record");
}

// Every setting record LibreOffice writes becomes its class and goes back
// byte for byte.
TEST(SettingRecords, ALibreOfficeFilesSettingsWriteBackUnchanged) {
    const std::map<std::uint16_t, std::type_index> classes = {
        {0x3D, typeid(TWindow1Record)},    {0x22, typeid(T1904Record)},       {0x0E, typeid(TPrecisionRecord)},
        {0xDA, typeid(TBookBoolRecord)},   {0x0F, typeid(TRefModeRecord)},    {0x225, typeid(TDefRowHeightRecord)},
        {0x81, typeid(TWsBoolRecord)},     {0x2B, typeid(TPrintGridLinesRecord)}, {0x14, typeid(TPageHeaderRecord)},
        {0x15, typeid(TPageFooterRecord)}, {0x83, typeid(TPrintCenteredRecord)}, {0x84, typeid(TPrintCenteredRecord)},
        {0x26, typeid(TMarginRecord)},     {0x27, typeid(TMarginRecord)},     {0x28, typeid(TMarginRecord)},
        {0x29, typeid(TMarginRecord)},     {0xA1, typeid(TSetupRecord)},      {0x55, typeid(TDefColWidthRecord)},
        {0x200, typeid(TDimensionsRecord)}, {0x23E, typeid(TWindow2Record)}};
    const Bytes stream = OleStream("small", "Workbook");
    auto original = ParseRecords(stream);
    std::erase_if(original, [](const TRec& r) { return r.Id == xlr_CONTINUE; });
    TStreamFile f(stream);
    std::size_t at = 0;
    std::map<std::uint16_t, int> seen;
    WalkRecords(f.Ole, [&](std::unique_ptr<TBaseRecord> record) {
        ASSERT_LT(at, original.size());
        const auto id = original[at].Id;
        const Bytes& data = original[at++].Data;
        auto known = classes.find(id);
        if (known == classes.end()) return;
        ++seen[id];
        EXPECT_EQ(std::type_index(typeid(*record)), known->second) << std::hex << id;
        EXPECT_EQ(Saved(*record), Rec(id, data)) << std::hex << id;
        if (id == xlr_HEADER) {
            EXPECT_EQ(dynamic_cast<TPageHeaderRecord&>(*record).GetText(), u"&C&\"Times New Roman,Regular\"&12&A");
        }
    });
    EXPECT_EQ(seen.size(), classes.size());
}
