// The workbook globals through hand-built streams and the LibreOffice
// workbooks A (names, autofilter, cross-sheet formula: references) and B
// (none of these), read back by xlrd.
#include <filesystem>

#include "tests/tools/xlsbook/XlsBook.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"

using namespace kalmira;
using namespace ole2test;

namespace {

std::string Fixture(const std::string& name) {
    return std::string(ORVELO_SOURCE_DIR) + "/tests/fixtures/xls/" + name + ".xls";
}

const Bytes GlobalsBOF = Rec(0x809, {0, 6, 5, 0, 0xBB, 0x0D, 0xCC, 0x07, 0, 0, 0, 0, 6, 0, 0, 0});
const Bytes EmptySST = Cat({Rec(0xFC, Bytes(8, 0)), Rec(0xFF, {8, 0})});

Bytes Sheet(std::uint8_t visibility, const std::string& name) {
    Bytes data = {0, 0, 0, 0, visibility, 0, static_cast<std::uint8_t>(name.size()), 0};
    data.insert(data.end(), name.begin(), name.end());
    return Rec(0x85, data);
}

// The globals of a stream whose first record is their BOF.
std::unique_ptr<TWorkbookGlobals> Load(const Bytes& stream) {
    TStreamFile f(stream);
    auto header = f.FirstHeader();
    auto bof = LoadRecords(f.Ole, header);
    auto globals = std::make_unique<TWorkbookGlobals>();
    globals->LoadFromStream(f.Ole, header, std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(bof.release())),
                            globals->SST());
    return globals;
}

std::unique_ptr<TWorkbookGlobals> LoadFixture(const std::string& name) {
    return Load(ReadStream(ReadFile(Fixture(name)), u"Workbook"));
}

// What the globals write; the bytes must be as many as computed.
Bytes Save(TWorkbookGlobals& globals) {
    globals.SST().FixRefs();
    const std::int64_t size = globals.TotalSize();
    Bytes bytes = Written([&](TOle2File& ole) { globals.SaveToStream(ole); });
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), size);
    return bytes;
}

// The fixture changed through the stand-in, written to the build tree.
std::string SaveBook(const std::string& fixture, const std::function<void(TWorkbookGlobals&)>& change) {
    const std::string dir = std::string(ORVELO_BINARY_DIR) + "/book-tests";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".xls";
    WriteFile(path, xlsbook::RoundTrip(Fixture(fixture), [&](xlsbook::TXlsBook& book) { change(*book.Globals); }));
    return path;
}

// What xlrd reads of the globals of the changed fixture.
std::vector<std::string> XlrdBook(const std::string& fixture, const std::function<void(TWorkbookGlobals&)>& change) {
    return Lines(OleCheck("book", SaveBook(fixture, change)));
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::uint16_t> Ids(const Bytes& bytes) {
    std::vector<std::uint16_t> ids;
    for (const auto& r : ParseRecords(bytes)) ids.push_back(r.Id);
    return ids;
}

}  // namespace

TEST(Globals, LibreOfficeWorkbookKeepsWhatXlrdAndLibreOfficeRead) {
    const std::string path = SaveBook("globals_a", [](TWorkbookGlobals&) {});
    const auto before = Lines(OleCheck("book", Fixture("globals_a")));
    EXPECT_TRUE(Has(before, "name Mistni 2 3a010000000000")) << "fixture";
    EXPECT_EQ(Lines(OleCheck("book", path)), before);
    EXPECT_EQ(OleCheck("locsv", path), OleCheck("locsv", Fixture("globals_a")));
}

// FONT before the first XF, FORMAT between: each block is written where
// its first record stood; TEMPLATE comes back right after BOF, TABID and
// EXTSST go, COUNTRY comes before the sheet directory.
TEST(Globals, TypedBlocksStayInPlaceAndTemplateFollowsBOF) {
    const Bytes font1 = Rec(0x31, {1, 2}), font2 = Rec(0x31, {3, 4}), format = Rec(0x41E, {5, 6}),
                xf1 = Rec(0xE0, {7}), xf2 = Rec(0xE0, {8}), style = Rec(0x293, {0, 0x80, 0, 0xFF}),
                country = Rec(0x8C, {1, 0, 1, 0}), name = Rec(0x18, Bytes{0x20, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6});
    auto globals = Load(Cat({GlobalsBOF, font1, Rec(0x60, {}), format, xf1, font2, xf2, style, Sheet(0, "S"),
                             Rec(0x13D, {0, 0}), country, name, EmptySST, Rec(0x0A, {})}));
    EXPECT_TRUE(globals->IsXltTemplate());
    EXPECT_EQ(Save(*globals), Cat({GlobalsBOF, Rec(0x60, {}), font1, font2, format, xf1, xf2, style, country,
                                   Sheet(0, "S"), name, EmptySST, Rec(0x0A, {})}));
}

TEST(Globals, DirectoryAndSettings) {
    // Renaming: invalid characters replaced, any script, a taken name refused.
    auto b = LoadFixture("globals_b");
    const Bytes unchanged = Save(*b);
    EXPECT_EQ(MessageOf([&] { b->SetSheetName(2, u"skryty"); }), "no exception");
    EXPECT_EQ(MessageOf([&] { b->SetSheetName(1, u"Odecty"); }), "Sheet name already exists: Odecty");
    EXPECT_EQ(Written([&](TOle2File& ole) {
                  EXPECT_EQ(MessageOf([&] { b->SaveRangeToStream(ole, 3, {}); }),
                            "Sheet number \"3\" invalid. Must be between 0 and 2");
              }),
              Bytes{});
    EXPECT_EQ(b->GetSheetName(1), u"Skryty");
    const auto lines = XlrdBook("globals_b", [](TWorkbookGlobals& g) {
        g.SetSheetName(0, u"a/b:c");
        g.SetSheetName(2, u"Лист");
        g.SetSheetVisible(2, TXlsSheetVisible::sv_Hidden);
        g.SetSheetVisible(1, TXlsSheetVisible::sv_Visible);
        g.SetIs1904(true);
    });
    for (const char* line : {"datemode 1", "sheet a_b.c 0", "sheet Skryty 0", "sheet Лист 1"})
        EXPECT_TRUE(Has(lines, line)) << line;
    EXPECT_FALSE(b->GetIs1904());
    EXPECT_FALSE(b->GetPrecisionAsDisplayed());
    EXPECT_TRUE(b->GetSaveExternalLinkValues());

    // Without their records the setters change no byte.
    auto bare = Load(Cat({GlobalsBOF, Sheet(0, "S"), Rec(0x0A, {})}));
    const Bytes before = Save(*bare);
    bare->SetActiveSheet(1);
    bare->SetFirstSheetVisible(1);
    bare->SetIs1904(true);
    bare->SetPrecisionAsDisplayed(true);
    bare->SetSaveExternalLinkValues(false);
    EXPECT_EQ(Save(*bare), before);
    EXPECT_EQ(bare->GetActiveSheet(), 0);
    EXPECT_FALSE(bare->GetIs1904() || bare->GetPrecisionAsDisplayed() || bare->GetSaveExternalLinkValues());
}

TEST(Globals, SheetsInsertedAndDeleted) {
    auto b = LoadFixture("globals_b");
    const std::uint8_t seven[] = {0x1E, 7, 0};
    b->AddName({u"Mistni", u"", 0, 2}, seven);
    b->InsertSheets(-1, 0, 2, u"Odecty", 0);
    const std::u16string names[] = {u"Odecty2", u"Odecty1", u"Odecty", u"Skryty", u"Treti"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(b->GetSheetName(i), names[i]) << i;
    EXPECT_EQ(b->Names().GetItems(0)->RangeSheet(), 4);
    Save(*b);

    // Refused whole: past the last sheet, with macros, beside references.
    const Bytes before = Save(*b);
    EXPECT_EQ(MessageOf([&] { b->DeleteSheets(3, 3); }), "Sheet number \"5\" invalid. Must be between 0 and 4");
    EXPECT_EQ(MessageOf([&] { b->InsertSheets(0, 0, 0, u"x", 0); }),
              "The index \"0\" of the property \"SheetCount\" is not in the range 1-65535");
    b->DeleteSheets(0, 0);
    EXPECT_EQ(Save(*b), before);
    auto macros = Load(Cat({GlobalsBOF, Rec(0xD3, {}), Sheet(0, "S"), Sheet(0, "T"), Rec(0x0A, {})}));
    EXPECT_EQ(MessageOf([&] { macros->DeleteSheets(0, 1); }), "Can't delete a sheet on a file containing macros");
    EXPECT_EQ(macros->GetSheetCount(), 2);
    auto a = LoadFixture("globals_a");
    const Bytes withReferences = Save(*a);
    EXPECT_EQ(MessageOf([&] { a->DeleteSheets(0, 1); }), "This file has a not implemented kind of record: SUPBOOK");
    EXPECT_EQ(MessageOf([&] { a->InsertSheets(0, 1, 1, u"x", 0); }),
              "This file has a not implemented kind of record: SUPBOOK");
    EXPECT_EQ(Save(*a), withReferences);
    b->DeleteSheets(0, 2);
    EXPECT_EQ(b->GetSheetName(0), u"Odecty");
    EXPECT_EQ(b->Names().GetItems(0)->RangeSheet(), 2);
}

TEST(Globals, PaletteInsertedAfterTheLastStyle) {
    auto b = LoadFixture("globals_b");
    const Bytes before = Save(*b);
    EXPECT_EQ(MessageOf([&] { b->SetColorPalette(56, 0); }),
              "Too many entries for this kind of record (56 out of a maximum of 55)");
    EXPECT_EQ(Save(*b), before);
    EXPECT_EQ(b->GetColorPalette(2), 0x0000FFu);
    b->SetColorPalette(2, 0x00FF0000);
    EXPECT_EQ(b->GetColorPalette(2), 0x00FF0000u);
    const auto ids = Ids(Save(*b));
    const auto lastStyle = std::find(ids.rbegin(), ids.rend(), 0x293);
    ASSERT_NE(lastStyle, ids.rend());
    EXPECT_EQ(*(lastStyle.base()), 0x92);
    const auto lines = XlrdBook("globals_b", [](TWorkbookGlobals& g) { g.SetColorPalette(2, 0x00FF0000); });
    EXPECT_TRUE(Has(lines, "colour 10 0 0 255"));
}

TEST(Globals, NameTexts) {
    struct {
        std::u16string Text;
        bool Valid;
    } const cases[] = {{u"_Total", true}, {u"Tax2009", true}, {u"ABC1", true}, {u"A1B", true}, {u"AB", true},
                       {u"A", true},      {u"é1", true},      {u"µx", true},   {u"A1", false}, {u"AB12", false},
                       {u"R", false},     {u"r", false},      {u"1st", false}, {u"a b", false}, {u"", false},
                       {u"x.y", false},   {u"\u00A0x", false}, {u"x\u00BF", false},
                       {std::u16string(255, u'x'), false}};
    for (const auto& c : cases) {
        std::uint16_t flags = 0;
        EXPECT_EQ(TWorkbookGlobals::IsValidRangeName(c.Text, flags), c.Valid) << Utf16ToUtf8(c.Text);
        EXPECT_EQ(flags, 0);
    }
    std::uint16_t flags = 0;
    EXPECT_TRUE(TWorkbookGlobals::IsValidRangeName(u"\r", flags));
    EXPECT_EQ(flags, NameBuiltIn);
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
        const auto countries = [&] {
            int n = 0;
            for (std::size_t i = 0; i < g.Records().Count(); ++i) n += g.Records().GetItems(i)->Id == xlr_COUNTRY;
            return n;
        };
        EXPECT_EQ(countries(), 1);
        g.AddName({std::u16string(1, u'\x06'), u"", 0, 0}, seven);
        EXPECT_EQ(countries(), 0);
    });
    const auto xlrd = Lines(OleCheck("book", path)), libreOffice = Lines(OleCheck("lonames", path));
    for (const char* name : {"name CELKEM -1 1e0800", "name celkem 1 1e0700", "name Print_Area 0 1e0700"})
        EXPECT_TRUE(Has(xlrd, name)) << name;
    for (const char* name : {"CELKEM -1 8", "celkem 1 7"}) EXPECT_TRUE(Has(libreOffice, name)) << name;
}

TEST(Globals, BadInput) {
    struct {
        Bytes Stream;
        const char* Message;
    } const cases[] = {
        {Cat({GlobalsBOF, GlobalsBOF, Rec(0x0A, {})}), "Error reading Excel records. File invalid"},
        {Cat({Rec(0x809, {0, 5, 5, 0}), Rec(0x0A, {})}), "Template file is saved with an invalid Excel version"},
        {Cat({Rec(0x809, {0, 6, 5}), Rec(0x0A, {})}), "Record with ID 0x809 is invalid"},
        {Cat({GlobalsBOF, Rec(0x85, {0, 0, 0, 0, 0, 0, 1}), Rec(0x0A, {})}), "Record with ID 0x85 is invalid"},
        {Cat({GlobalsBOF, Rec(0x85, {0, 0, 0, 0, 0, 0, 3, 0, 'a'}), Rec(0x0A, {})}), "Record with ID 0x85 is invalid"},
        {Cat({GlobalsBOF, Rec(0x92, {2, 0, 1, 2, 3, 4, 5}), Rec(0x0A, {})}), "Record with ID 0x92 is invalid"},
        {Cat({GlobalsBOF, Rec(0x1BA, {4, 0, 0, 'a'}), Rec(0x0A, {})}), "Error reading record"},
        {Cat({GlobalsBOF, Sheet(0, "S"), Sheet(1, "S"), Rec(0x0A, {})}), "Sheet name already exists: S"},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageOf([&] { Load(c.Stream); }), c.Message);
    TWorkbookGlobals empty;
    EXPECT_EQ(Written([&](TOle2File& ole) {
                  EXPECT_EQ(MessageOf([&] { empty.SaveToStream(ole); }), "A section of the workbook is not loaded");
              }),
              Bytes{});
}
