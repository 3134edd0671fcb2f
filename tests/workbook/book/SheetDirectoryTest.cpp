// The sheet directory of LibreOffice files patched where LibreOffice cannot
// write what is tested (make_sheet_fixtures.py): visibility bytes, names
// that differ only in case, and the workbook window after sheets go.
#include <set>

#include <gtest/gtest.h>

#include "tests/workbook/book/WorkbookFiles.h"
#include "tests/workbook/storage/MessageOf.h"

using namespace kalmira;

namespace {

std::string Fixture(const std::string& name) { return ole2test::FixtureDir() + "/" + name + ".xls"; }

using V = TXlsSheetVisible;

}  // namespace

// Bits 0-1 of the option byte alone: 3 shows, reserved bits change nothing;
// the setter leaves the other bits as they were.
TEST(SheetDirectory, VisibilityBytes) {
    booktest::TOpened file(Fixture("visibility"));
    TWorkbookGlobals& globals = file.Book.Globals();
    const struct {
        std::uint8_t Byte;
        V Read;
        V Set;
        std::uint8_t Written;
    } table[] = {{0x00, V::sv_Visible, V::sv_Hidden, 0x01},     {0x03, V::sv_Visible, V::sv_VeryHidden, 0x02},
                 {0x04, V::sv_Visible, V::sv_Hidden, 0x05},     {0x05, V::sv_Hidden, V::sv_Visible, 0x04},
                 {0x06, V::sv_VeryHidden, V::sv_Hidden, 0x05}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(globals.GetSheetOptionFlags(i), table[i].Byte);
        EXPECT_EQ(globals.GetSheetVisible(i), table[i].Read);
    }
    for (int i = 0; i < 5; ++i) globals.SetSheetVisible(i, table[i].Set);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(globals.GetSheetOptionFlags(i), table[i].Written);
        EXPECT_EQ(globals.GetSheetVisible(i), table[i].Set);
    }
}

// A file whose every sheet says 3 saves: its sheets show.
TEST(SheetDirectory, EverySheetThreeSaves) {
    EXPECT_NO_THROW(booktest::RoundTrip(Fixture("visibility_all3"), nullptr));
}

// A file with Data and DATA loads as it is; no rename or new sheet may take
// a name of another sheet in any case.
TEST(SheetDirectory, NamesDifferingInCase) {
    booktest::TOpened file(Fixture("sheets_case"));
    TWorkbookGlobals& globals = file.Book.Globals();
    EXPECT_EQ(std::make_tuple(globals.GetSheetName(0), globals.GetSheetName(1), globals.GetSheetName(2)),
              std::make_tuple(u"Data", u"DATA", u"Jiné"));
    EXPECT_EQ(MessageOf([&] { globals.SetSheetName(2, u"data"); }), "Sheet name already exists: data");
    globals.SetSheetName(2, u"JINÉ2");
    EXPECT_EQ(MessageOf([&] { globals.SetSheetName(1, u"jiné2"); }), "Sheet name already exists: jiné2");
    globals.SetSheetName(2, u"SHEET");
    file.Book.InsertSheets(-1, 3, 2);
    EXPECT_EQ((std::set<std::u16string>{globals.GetSheetName(3), globals.GetSheetName(4)}),
              (std::set<std::u16string>{u"Sheet1", u"Sheet2"}));
}

// Deleting sheets keeps the window's active sheet and first tab on sheets
// that are left and shown, whatever the window said before.
TEST(SheetDirectory, WindowAfterDelete) {
    const struct {
        int Active, FirstTab, First, Count;
        int WantActive, WantFirstTab;
    } table[] = {
        {2, 0, 2, 1, 1, 0},  // Tri goes: Ctyri hidden, Pet very hidden, so back to Dva
        {4, 4, 3, 2, 2, 2},  // the last two go: the window points past the end
        {0, 1, 0, 2, 0, 0},  // Jedna and Dva go: Tri comes first
        {2, 3, 0, 1, 1, 1},  // a sheet before both goes: both move back, the first tab not past the active one
        {1, 0, 2, 1, 1, 0},  // a sheet after both goes: nothing moves
    };
    for (const auto& c : table) {
        SCOPED_TRACE(testing::Message() << c.Active << " " << c.FirstTab << " " << c.First << " " << c.Count);
        booktest::TOpened file(Fixture("visibility"));
        TWorkbookGlobals& globals = file.Book.Globals();
        file.Book.SetActiveSheet(c.Active);
        globals.SetFirstSheetVisible(c.FirstTab);
        file.Book.DeleteSheets(c.First, c.Count);
        EXPECT_EQ(std::make_pair(globals.GetActivesheet(), globals.GetFirstSheetVisible()),
                  std::make_pair(c.WantActive, c.WantFirstTab));
        const int active = globals.GetActivesheet();
        EXPECT_EQ(globals.GetSheetVisible(active), V::sv_Visible);
        EXPECT_TRUE(file.Book.Sheet(active).GetSelected());
    }
}
