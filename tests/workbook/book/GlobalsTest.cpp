// The workbook globals through hand-built streams and the LibreOffice
// workbooks A (names, autofilter, cross-sheet formula: references) and B
// (none of these), judged by xlrd and LibreOffice.
#include <gmock/gmock.h>

#include "tests/workbook/book/GlobalsStreams.h"

using namespace kalmira;
using namespace ole2test;
using ::testing::IsSupersetOf;


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
    // Names follow their sheets: XLSFileRangeOps.HyperLinksAndNamesSheets.
    auto b = Load(ReadStream(ReadFile(Fixture("globals_b")), u"Workbook"));
    b->InsertSheets(-1, 0, 2, u"Odecty", 0);
    for (int i = 0; const char16_t* name : {u"Odecty2", u"Odecty1", u"Odecty", u"Skryty", u"Treti"})
        EXPECT_EQ(b->GetSheetName(i++), name);

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
    for (const char16_t* valid : {u"_Total", u"Tax2009", u"ABC1", u"A1B", u"AB", u"A", u"é1", u"µx"}) {
        std::uint16_t flags = 0;
        EXPECT_TRUE(TWorkbookGlobals::IsValidRangeName(valid, flags) && flags == 0) << Utf16ToUtf8(valid);
    }
    const std::u16string tooLong(255, u'x');
    for (const char16_t* invalid : {u"A1", u"AB12", u"R", u"r", u"1st", u"a b", u"", u"x.y", u"\u00A0x", u"x\u00BF",
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
    };
    for (const auto& [stream, message] : cases) EXPECT_EQ(MessageOf([&] { Load(stream); }), message);
    TWorkbookGlobals empty;
    EXPECT_EQ(Written([&](TOle2File& ole) {
                  EXPECT_EQ(MessageOf([&] { empty.SaveToStream(ole); }), "A section of the workbook is not loaded");
              }),
              Bytes{});
}
