// Cell formats, fonts and number formats through LibreOffice's formats.xls
// (B1 bold red 12 pt, B2 "0.000", B3 yellow fill and thin blue borders,
// B4 a date) and hand-built globals, judged by LibreOffice.
#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;
using namespace ole2test;
using ::testing::ElementsAre;

namespace {

struct TSettingsSource : IFormatSettingsSource {
    TFormatSettings Settings = InvariantFormatSettings();
    TFormatSettings LocaleSettings() const override { return Settings; }
};

// Bold italic underlined Arial; locked, centred, wrapped, rotated; borders
// left 1/3, right 2/60, bottom 5/0; a solid fill 6 on 58.
const TKmrFormat Framed = {
    .Font = {u"Arial", 200, 1, {TKmrFontStyle::fs_Bold, TKmrFontStyle::fs_Italic}, TKmrUnderline::fu_Single, 2, 238},
    .Borders = {.Left = {TKmrBorderStyle::fbs_Thin, 3}, .Right = {TKmrBorderStyle::fbs_Medium, 60},
                .Bottom = {TKmrBorderStyle::fbs_Thick, 0}},
    .Format = u"0.000", .FillPattern = {2, 6, 58}, .HAlignment = THKmrAlignment::fha_center,
    .VAlignment = TVKmrAlignment::fva_center, .Locked = true, .WrapText = true, .Rotation = 90};

}  // namespace

TEST(Formats, NumberFormatsAndFonts) {
    const std::u16string locales[][5] = {{u"M/d/yyyy", u"/", u":", u"mm/dd/YYYY", u"mm/dd/YYYY hh:mm"},
                                         {u"d.M.yyyy", u".", u":", u"dd.mm.YYYY", u"dd.mm.YYYY hh:mm"},
                                         {u"yyyy-MM-dd", u"-", u".", u"YYYY-mm-dd", u"YYYY-mm-dd hh.mm"},
                                         {u"", u".", u".", u"mm/dd/YYYY", u"mm/dd/YYYY hh:mm"}};
    TFormatSettings process = InvariantFormatSettings();
    process.ShortDateFormat = u"yyyy.MM.dd";  // the application's own: never followed
    SetProcessFormatSettings(process);
    TFormatRecordList none;
    for (const auto& c : locales) {
        auto source = std::make_shared<TSettingsSource>();
        source->Settings.ShortDateFormat = c[0];
        source->Settings.DateSeparator = c[1][0];
        source->Settings.TimeSeparator = c[2][0];
        SetFormatSettingsSource(source);
        EXPECT_EQ(none.GetFormat(14) + u"|" + none.GetFormat(22), c[3] + u"|" + c[4]);
        EXPECT_EQ(none.AddFormat(c[4]), 22);
    }
    SetFormatSettingsSource(nullptr);
    SetProcessFormatSettings(InvariantFormatSettings());
    EXPECT_EQ(none.Count(), 0u);

    auto g = Load(ReadStream(ReadFile(Fixture("formats")), u"Workbook"));
    TFormatRecordList& formats = g->Formats();
    EXPECT_THAT((std::vector<int>{formats.AddFormat(u"0.00"), formats.AddFormat(u"General"), formats.AddFormat(u"")}),
                ElementsAre(2, 164, 0));
    EXPECT_EQ(formats.Count(), 3u);
    EXPECT_EQ(formats.AddFormat(u"0.0000"), 167);
    EXPECT_EQ(formats.GetFormat(167) + formats.GetFormat(166), u"0.0000dd\\.mm\\.yyyy");
    // Position 5 is XF font index 6, the bold 12 pt one (XLSFileFormats.Lists).
    EXPECT_EQ(g->Fonts().AddFont(g->Fonts().FontOfXF(5)), 5);
    EXPECT_EQ(g->Fonts().Count(), 5u);
}

// The new XF as LibreOffice reads it (as xlrd reads each setting:
// formats_check.py).
TEST(Formats, NewFontAndXFReadByLibreOffice) {
    TFontRecordList fonts;
    TFormatRecordList formats;
    EXPECT_EQ(TFontRecord(Framed.Font).Data, (Bytes{0xC8, 0, 2, 0, 8, 0, 0xBC, 2, 0, 0, 1, 2, 0xEE, 0, 5, 1, 0x41, 0,
                                                    0x72, 0, 0x69, 0, 0x61, 0, 0x6C, 0}));
    const TXFRecord xf(Framed, fonts, formats);
    EXPECT_EQ(Bytes(xf.Data.begin() + 4, xf.Data.end()),
              (Bytes{1, 0, 0x1A, 0x5A, 0, 0xFC, 0x21, 0x50, 0x0A, 0x20, 0x08, 0xC4, 0x01, 0x04, 0x8D, 0x20}));
    int added = -1;
    const std::string path = SaveWorkbook("formats", [&](TWorkbook& book) {
        TWorkbookGlobals& g = book.Globals();
        added = g.XF().AddFormat(Framed, g.Fonts(), g.Formats());
        EXPECT_EQ(g.XF().AddFormat(Framed, g.Fonts(), g.Formats()), added);
        booktest::FirstCells(book).CellList().SetFormat(1, 1, added);
        // A style XF set from a cell format stays a style: XLSFileFormats.Lists.
        EXPECT_EQ(MessageOf([&] { g.XF().SetFormat(26, Framed, g.Fonts(), g.Formats()); }),
                  "The index \"26\" of the property \"Format index\" is not in the range 0-25");
    });
    EXPECT_THAT(Lines(OleCheck("lostyles", path)), ::testing::Contains("B2 true true single solid FFFFFF00 thin FFFF0000"));
}

TEST(Formats, BadInput) {
    const auto font = [](const Bytes& name) { return Rec(0x31, Cat({Bytes(14, 0), name})); };
    const std::pair<Bytes, const char*> loads[] = {
        {Rec(0x31, Bytes(15, 0)), "Record with ID 0x31 is invalid"},
        {font({3, 1, 'a', 0, 'b', 0, 'c'}), "Record with ID 0x31 is invalid"},
        {Rec(0xE0, Bytes(19, 0)), "Record with ID 0xE0 is invalid"},
        {Rec(0x41E, {164, 0, 0, 0}), "Record with ID 0x41E is invalid"},
        {Cat({Rec(0x41E, {164, 0, 4, 0, 0, 'a'}), Rec(0x3C, {0, 'b', 'c'})}), "Record with ID 0x41E is invalid"},
    };
    for (const auto& [records, message] : loads) EXPECT_EQ(MessageOf([&] { Load(Cat({BOF, records, EOF_})); }), message);

    // Refused additions add nothing. The text goes on in a CONTINUE record.
    auto g = Load(Cat({BOF, font({1, 0, 'x'}), Rec(0x41E, {0xFF, 0xFF, 3, 0, 0, 'a'}), Rec(0x3C, {0, 'b', 'c'}), EOF_}));
    EXPECT_EQ(g->Formats().AddFormat(u"abc"), 65535);
    EXPECT_EQ(MessageOf([&] { g->Formats().AddFormat(u"y"); }),
              "Too many entries for this kind of record (65536 out of a maximum of 65535)");
    TKmrFormat longName;
    longName.Font.Name.assign(256, u'a');
    EXPECT_EQ(MessageOf([&] { g->XF().AddFormat(longName, g->Fonts(), g->Formats()); }), "Invalid String record");
    TFormatRecordList formats;
    EXPECT_EQ(MessageOf([&] { formats.AddFormat(std::u16string(4110, u'\u0159')); }), "Invalid String record");
    EXPECT_EQ(formats.AddFormat(std::u16string(4109, u'\u0159')), 164);  // 8,224 data bytes
    EXPECT_EQ(g->Formats().Count() + g->Fonts().Count() + g->XF().Count(), 2u);

    // Without FONT records: the default font, nothing read outside a list.
    auto bare = Load(Cat({BOF, Rec(0xE0, Bytes(20, 0)), EOF_}));
    const TKmrFormat f = bare->XF().GetItems(0)->KmrFormat(bare->Fonts(), bare->Formats());
    EXPECT_EQ(f.Font, TKmrFont{});
    EXPECT_EQ(f.Borders.Left.ColorIndex + f.Borders.Diagonal.ColorIndex, 2);  // at least 1 each
    EXPECT_EQ(bare->XF().GetUsedColors(57, bare->Fonts()), std::vector<bool>(57));
}
