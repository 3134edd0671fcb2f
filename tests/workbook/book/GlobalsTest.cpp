// The workbook globals through hand-built streams and the LibreOffice
// workbooks A (names, autofilter, cross-sheet formula: references) and B
// (none of these), judged by xlrd and LibreOffice.
// Cell formats, fonts and number formats through LibreOffice's formats.xls
// (B1 bold red 12 pt, B2 "0.000", B3 yellow fill and thin blue borders,
// B4 a date) and hand-built globals, judged by LibreOffice.
#include <algorithm>

#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"
#include "workbook/storage/UKmrMessages.h"

using namespace kalmira;
using namespace ole2test;
using ::testing::IsSupersetOf;
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
    .Borders = {.Left = {TKmrBorderStyle::fbs_Thin, 3}, .Right = {TKmrBorderStyle::fbs_Medium, 60}, .Top = {},
                .Bottom = {TKmrBorderStyle::fbs_Thick, 0}, .Diagonal = {}},
    .Format = u"0.000", .FillPattern = {2, 6, 58}, .HAlignment = THKmrAlignment::fha_center,
    .VAlignment = TVKmrAlignment::fva_center, .Locked = true, .WrapText = true, .Rotation = 90};

}  // namespace

// FONT before the first XF, FORMAT between: each block is written where
// its first record stood; TEMPLATE comes back right after BOF, TABID and
// EXTSST go, COUNTRY comes before the sheet directory. Without their
// records the settings change no byte.
TEST(Globals, TypedBlocksStayInPlaceAndTemplateFollowsBOF) {
    const auto sized = [](std::uint16_t id, std::uint8_t first, std::size_t size) {
        Bytes data(size, 0);
        data[0] = first;
        return Rec(id, data);
    };
    const Bytes font1 = sized(0x31, 1, 16), font2 = sized(0x31, 2, 16), format = sized(0x41E, 3, 5),
                xf1 = sized(0xE0, 4, 20), xf2 = sized(0xE0, 5, 20), style = Rec(0x293, {0, 0x80, 0, 0xFF}), country = Rec(0x8C, {1, 0, 1, 0}),
                name = Rec(0x18, {0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6}),
                sst = Cat({Rec(0xFC, Bytes(8, 0)), Rec(0xFF, {8, 0})});
    auto globals = Load(Cat({BOF, font1, Rec(0x60, {}), format, xf1, font2, xf2, style, Sheet("S"),
                             Rec(0x13D, {0, 0}), country, name, sst, EOF_}));
    EXPECT_TRUE(globals->IsXltTemplate());
    globals->SetActiveSheet(1);
    globals->SetFirstSheetVisible(1);
    globals->SetIs1904(true);
    globals->SetPrecisionAsDisplayed(true);
    globals->SetSaveExternalLinkValues(false);
    EXPECT_FALSE(globals->GetActivesheet() || globals->GetIs1904() || globals->GetPrecisionAsDisplayed() ||
                 globals->GetSaveExternalLinkValues());
    EXPECT_EQ(Save(*globals), Cat({BOF, Rec(0x60, {}), font1, font2, format, xf1, xf2, style, country, Sheet("S"),
                                   name, sst, EOF_}));
}

TEST(Globals, DirectoryAndSettings) {
    auto b = Load(ReadStream(ReadFile(Fixture("globals_b")), u"Workbook"));
    const Bytes unchanged = Save(*b);
    EXPECT_EQ(Written([&](TOle2File& ole) {
                  EXPECT_EQ(MessageOf([&] { b->SaveRangeToStream(ole, 3, {}); }),
                            "Sheet number \"3\" invalid. Must be between 0 and 2");
              }),
              Bytes{});
    EXPECT_EQ(Save(*b), unchanged);
    EXPECT_FALSE(b->GetIs1904() || b->GetPrecisionAsDisplayed() || !b->GetSaveExternalLinkValues());
    const std::string path = SaveBook("globals_b", [](TWorkbookGlobals& g) {
        g.SetSheetName(0, u"a/b:c");
        g.SetSheetName(2, u"Лист");
        g.SetSheetVisible(2, TXlsSheetVisible::sv_Hidden);
        g.SetSheetVisible(1, TXlsSheetVisible::sv_Visible);
    });
    EXPECT_THAT(Xlrd(path), IsSupersetOf({"sheet a_b.c 0", "sheet Skryty 0", "sheet Лист 1"}));
}

TEST(Globals, SheetsInsertedAndDeleted) {
    auto b = Load(ReadStream(ReadFile(Fixture("globals_b")), u"Workbook"));
    const std::uint8_t seven[] = {0x1E, 7, 0};
    b->AddName({u"Mistni", u"", 0, 2}, seven);
    b->InsertSheets(-1, 0, 2, u"Odecty", 0);
    for (int i = 0; const char16_t* name : {u"Odecty2", u"Odecty1", u"Odecty", u"Skryty", u"Treti"})
        EXPECT_EQ(b->GetSheetName(i++), name);
    EXPECT_EQ(b->Names().GetItems(0)->RangeSheet(), 4);

    // Refused whole: past the last sheet, no sheets (with macros:
    // Workbook.SheetsInsertedCopiedAndDeleted).
    const Bytes before = Save(*b);
    EXPECT_EQ(MessageOf([&] { b->DeleteSheets(3, 3); }), "Sheet number \"5\" invalid. Must be between 0 and 4");
    EXPECT_EQ(MessageOf([&] { b->InsertSheets(0, 0, 0, u"x", 0); }),
              "The index \"0\" of the property \"SheetCount\" is not in the range 1-65535");
    b->DeleteSheets(0, 0);
    EXPECT_EQ(Save(*b), before);
    b->DeleteSheets(0, 2);
    EXPECT_EQ(b->GetSheetName(0), u"Odecty");
    EXPECT_EQ(b->Names().GetItems(0)->RangeSheet(), 2);
}

TEST(Globals, PaletteInsertedAfterTheLastStyle) {
    auto b = Load(ReadStream(ReadFile(Fixture("globals_b")), u"Workbook"));
    EXPECT_EQ(b->GetColorPalette(2), 0x0000FFu);
    b->SetColorPalette(2, 0x00FF0000);
    EXPECT_EQ(b->GetColorPalette(2), 0x00FF0000u);
    const auto records = ParseRecords(Save(*b));
    auto last = std::find_if(records.rbegin(), records.rend(), [](const TRec& r) { return r.Id == 0x293; }).base();
    ASSERT_NE(last, records.end());
    EXPECT_EQ(last->Id, 0x92);
    const std::string path = SaveBook("globals_b", [](TWorkbookGlobals& g) { g.SetColorPalette(2, 0x00FF0000); });
    EXPECT_THAT(Xlrd(path), IsSupersetOf({"colour 10 0 0 255"}));
}

TEST(Globals, NameTexts) {
    for (const char16_t* valid : {u"_Total", u"Tax2009", u"ABC1", u"A1B", u"AB", u"A", u"é1", u"µx", u"x.y",
                                  u"Sales.2020", u"A1.B"}) {
        std::uint16_t flags = 0;
        EXPECT_TRUE(TWorkbookGlobals::IsValidRangeName(valid, flags) && flags == 0) << Utf16ToUtf8(valid);
    }
    const std::u16string tooLong(255, u'x');
    for (const char16_t* invalid : {u"A1", u"AB12", u"R", u"r", u"1st", u"a b", u"", u".x", u"\u00A0x", u"x\u00BF",
                                    tooLong.c_str()}) {
        std::uint16_t flags = 0;
        EXPECT_FALSE(TWorkbookGlobals::IsValidRangeName(invalid, flags)) << Utf16ToUtf8(invalid);
    }
    std::uint16_t flags = 0;
    EXPECT_TRUE(TWorkbookGlobals::IsValidRangeName(u"\r", flags) && flags == NameBuiltIn);
}

TEST(Globals, NamesAddedReplacedAndBuiltIn) {
    const std::uint8_t seven[] = {0x1E, 7, 0}, eight[] = {0x1E, 8, 0};
    const std::string path = SaveBook("globals_b", [&](TWorkbookGlobals& g) {
        g.AddName({u"Celkem", u"", 0, -1}, seven);
        g.AddName({u"CELKEM", u"", 0, -1}, eight);
        g.AddName({u"celkem", u"", 0, 1}, seven);
        EXPECT_EQ(MessageOf([&] { g.AddName({u"A1", u"", 0, 1}, seven); }), "Invalid named range: \"A1\"");
        EXPECT_EQ(g.GetName(-1, u"celKEM")->Name(), u"CELKEM");
        EXPECT_EQ(g.GetName(2, u"celkem"), nullptr);
        const std::size_t records = g.Records().Count();
        g.AddName({std::u16string(1, u'\x06'), u"", 0, 0}, seven);
        EXPECT_EQ(g.Records().Count(), records - 1) << "the COUNTRY record goes";
    });
    EXPECT_THAT(Xlrd(path), IsSupersetOf({"name CELKEM -1 1e0800", "name celkem 1 1e0700", "name Print_Area 0 1e0700"}));
    EXPECT_THAT(Lines(OleCheck("lonames", path)), IsSupersetOf({"CELKEM -1 8", "celkem 1 7"}));
}

TEST(Globals, BadInput) {
    const std::pair<Bytes, const char*> cases[] = {
        {Cat({BOF, BOF, EOF_}), "Error reading Excel records. File invalid"},
        {Cat({Rec(0x809, {0, 5, 5, 0}), EOF_}), "Template file is saved with an invalid Excel version"},
        {Cat({Rec(0x809, {0, 6, 5}), EOF_}), "Record with ID 0x809 is invalid"},
        {Cat({BOF, Rec(0x85, {0, 0, 0, 0, 0, 0, 1}), EOF_}), "Record with ID 0x85 is invalid"},
        {Cat({BOF, Rec(0x85, {0, 0, 0, 0, 0, 0, 3, 0, 'a'}), EOF_}), "Record with ID 0x85 is invalid"},
        {Cat({BOF, Rec(0x92, {2, 0, 1, 2, 3, 4, 5}), EOF_}), "Record with ID 0x92 is invalid"},
        {Cat({BOF, Rec(0x1BA, {4, 0, 0, 'a'}), EOF_}), "Error reading record"},
        {Cat({BOF, Sheet("S"), Sheet("S"), EOF_}), "Sheet name already exists: S"},
        {Cat({BOF, Rec(0x31, Bytes(15, 0)), EOF_}), "Record with ID 0x31 is invalid"},
        {Cat({BOF, Rec(0x31, Cat({Bytes(14, 0), {3, 1, 'a', 0, 'b', 0, 'c'}})), EOF_}), "Record with ID 0x31 is invalid"},
        {Cat({BOF, Rec(0xE0, Bytes(19, 0)), EOF_}), "Record with ID 0xE0 is invalid"},
        {Cat({BOF, Rec(0x41E, {164, 0, 0, 0}), EOF_}), "Record with ID 0x41E is invalid"},
    };
    for (const auto& [stream, message] : cases) EXPECT_EQ(MessageOf([&stream = stream] { Load(stream); }), message);
    // A format text counted past the characters its records hold is what
    // they hold, as other readers read it; the record goes back as read.
    const Bytes shortFormat = Cat({Rec(0x41E, {164, 0, 4, 0, 0, 'a'}), Rec(0x3C, {0, 'b', 'c'})});
    const Bytes wideFormat = Rec(0x41E, {165, 0, 9, 0, 1, 'x', 0, 'y', 0});
    auto formats = Load(Cat({BOF, shortFormat, wideFormat, EOF_}));
    EXPECT_EQ(formats->Formats().GetFormat(164), u"abc");
    EXPECT_EQ(formats->Formats().GetFormat(165), u"xy");
    const Bytes saved = Save(*formats);
    EXPECT_NE(std::search(saved.begin(), saved.end(), shortFormat.begin(), shortFormat.end()), saved.end());
    EXPECT_NE(std::search(saved.begin(), saved.end(), wideFormat.begin(), wideFormat.end()), saved.end());
    TWorkbookGlobals empty;
    EXPECT_EQ(Written([&](TOle2File& ole) {
                  EXPECT_EQ(MessageOf([&] { empty.SaveToStream(ole); }), "A section of the workbook is not loaded");
              }),
              Bytes{});
}

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
    // Position 5 is XF font index 6, the bold 12 pt one.
    EXPECT_EQ(g->Fonts().FontOfXF(5).Size20, 240);
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
    // Loads refused: Globals.BadInput. Refused additions add nothing. The
    // text goes on in a CONTINUE record.
    auto g = Load(Cat({BOF, Rec(0x31, Cat({Bytes(14, 0), {1, 0, 'x'}})), Rec(0x41E, {0xFF, 0xFF, 3, 0, 0, 'a'}),
                       Rec(0x3C, {0, 'b', 'c'}), EOF_}));
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
