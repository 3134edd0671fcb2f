#include <cmath>

#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/Uxlsotherrecords.h"

using namespace kalmira;
using namespace ole2test;

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
    // A new SCL as other programs read it: settings_check.py.
    auto shortScl = LoadAs<TSCLRecord>(0xA0, {3, 0});
    EXPECT_EQ(MessageOf([&] { shortScl->SetZoom(50); }), "Error reading record");
    EXPECT_EQ(shortScl->Data, (Bytes{3, 0}));
}

// A copied WINDOW2 (a copied sheet) is not selected; the original stays so.
TEST(SettingRecords, ACopiedWindow2IsNotSelected) {
    auto window2 = LoadAs<TWindow2Record>(0x23E, {0xB6, 0x06, 0, 0, 0, 0, 0x40, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0});
    auto copy = window2->CopyTo();
    EXPECT_EQ(copy->Data[0], 0xB6);
    EXPECT_EQ(copy->Data[1], 0x00);
    EXPECT_TRUE(window2->GetSelected());
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
    EXPECT_EQ(Saved(*LoadAs<TDefColWidthRecord>(0x55, {0x2C})), (Bytes{0x55, 0, 1, 0, 0x2C}));
    EXPECT_EQ(LoadAs<TDefRowHeightRecord>(0x225, {0, 0, 0xFF, 0})->Height(), 255);
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
