// Keys sent to the grid while its in-place editor is open: each is handled
// once, by the editor or by the grid's moves, whichever widget it is sent
// to (the focused editor, as a user's keys are, or the grid itself).
#include <gtest/gtest.h>

#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include "platform/qt/Clipboard.h"
#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"

using namespace kalmira;

namespace {

struct KeysFixture : ::testing::Test {
    TXLSAdapter adapter;
    TKalmiraImport facade;
    TKalmiraGrid grid;
    std::vector<std::string> errors;

    KeysFixture() : grid((GridTestApp(), nullptr)) {}
    void SetUp() override {
        adapter.SetClipboard(std::make_shared<plat::TQtClipboard>());
        facade.SetAdapter(&adapter);
        facade.NewFile(1);
        for (int r = 1; r <= 60; ++r) facade.SetCellValue(r, 6, TVariant(static_cast<double>(r)));
        grid.OnError = [this](TKalmiraGrid&, const std::exception& e) { errors.push_back(e.what()); };
        grid.SetKalmiraImport(&facade);
        grid.resize(400, 300);
        grid.show();
        grid.LoadSheet();
        grid.activateWindow();
    }
    // Opens the editor in C10 with "ab" typed, as a user starts typing.
    void StartEditing() {
        grid.FocusCell(3, 10);
        QTest::keyClicks(&grid, "ab");
        ASSERT_TRUE(grid.EditorMode());
        ASSERT_EQ(Text(), "ab");
    }
    std::string Text() const { return grid.InplaceEditor()->text().toStdString(); }
    std::string Cell(int row, int col) {
        const TVariant v = facade.GetCellValue(row, col);
        return v.IsEmpty() ? "" : QString::fromStdU16String(v.Text()).toStdString();
    }
};

enum class TTarget { Editor, Grid };

struct KeyCase {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    bool stillEditing;  // the editor stays open with "ab"
    int col, row;       // the current cell afterwards
    const char* c10;    // what C10 holds afterwards
};

const KeyCase Cases[] = {
    {"Shift", Qt::Key_Shift, Qt::ShiftModifier, true, 3, 10, ""},
    {"Control", Qt::Key_Control, Qt::ControlModifier, true, 3, 10, ""},
    {"Alt", Qt::Key_Alt, Qt::AltModifier, true, 3, 10, ""},
    {"Meta", Qt::Key_Meta, Qt::MetaModifier, true, 3, 10, ""},
    {"CapsLock", Qt::Key_CapsLock, Qt::NoModifier, true, 3, 10, ""},
    {"F1", Qt::Key_F1, Qt::NoModifier, true, 3, 10, ""},
    {"F2", Qt::Key_F2, Qt::NoModifier, true, 3, 10, ""},
    {"F3", Qt::Key_F3, Qt::NoModifier, true, 3, 10, ""},
    {"F4", Qt::Key_F4, Qt::NoModifier, true, 3, 10, ""},
    {"F5", Qt::Key_F5, Qt::NoModifier, true, 3, 10, ""},
    {"F6", Qt::Key_F6, Qt::NoModifier, true, 3, 10, ""},
    {"F7", Qt::Key_F7, Qt::NoModifier, true, 3, 10, ""},
    {"F8", Qt::Key_F8, Qt::NoModifier, true, 3, 10, ""},
    {"F9", Qt::Key_F9, Qt::NoModifier, true, 3, 10, ""},
    {"F10", Qt::Key_F10, Qt::NoModifier, true, 3, 10, ""},
    {"F11", Qt::Key_F11, Qt::NoModifier, true, 3, 10, ""},
    {"F12", Qt::Key_F12, Qt::NoModifier, true, 3, 10, ""},
    {"Shift+F5", Qt::Key_F5, Qt::ShiftModifier, true, 3, 10, ""},
    {"Insert", Qt::Key_Insert, Qt::NoModifier, true, 3, 10, ""},
    {"Ctrl+Insert", Qt::Key_Insert, Qt::ControlModifier, true, 3, 10, ""},
    {"Ctrl+C", Qt::Key_C, Qt::ControlModifier, true, 3, 10, ""},
    {"Ctrl+A", Qt::Key_A, Qt::ControlModifier, true, 3, 10, ""},
    {"Pause", Qt::Key_Pause, Qt::NoModifier, true, 3, 10, ""},
    // Leaving the cell takes the text in first.
    {"PageDown", Qt::Key_PageDown, Qt::NoModifier, false, 3, 0, "ab"},
    {"PageUp", Qt::Key_PageUp, Qt::NoModifier, false, 3, 1, "ab"},
    {"Tab", Qt::Key_Tab, Qt::NoModifier, false, 4, 10, "ab"},
    {"Shift+Tab", Qt::Key_Backtab, Qt::ShiftModifier, false, 2, 10, "ab"},
    {"Down", Qt::Key_Down, Qt::NoModifier, false, 3, 11, "ab"},
    {"Return", Qt::Key_Return, Qt::NoModifier, false, 3, 10, "ab"},
    {"Escape", Qt::Key_Escape, Qt::NoModifier, false, 3, 10, ""},
};

TEST_F(KeysFixture, EveryKeyIsHandledOnceWhileEditing) {
    for (TTarget target : {TTarget::Editor, TTarget::Grid})
        for (const KeyCase& c : Cases) {
            const std::string name =
                std::string(c.name) + (target == TTarget::Editor ? " to the editor" : " to the grid");
            facade.SetCellValue(10, 3, TVariant());
            StartEditing();
            const int page = grid.VisibleRowCount();
            QWidget* to = target == TTarget::Editor ? static_cast<QWidget*>(grid.InplaceEditor()) : &grid;
            QTest::keyClick(to, c.key, c.mods);
            EXPECT_EQ(grid.EditorMode(), c.stillEditing) << name;
            if (c.stillEditing) {
                EXPECT_EQ(Text(), "ab") << name;
            }
            const int row = c.row == 0 ? 10 + page : c.row;  // PageDown moves by a page
            EXPECT_EQ(std::make_pair(grid.Col(), grid.Row()), std::make_pair(c.col, row)) << name;
            EXPECT_EQ(Cell(10, 3), c.c10) << name;
            if (grid.EditorMode()) QTest::keyClick(grid.InplaceEditor(), Qt::Key_Escape);
            EXPECT_FALSE(grid.EditorMode()) << name;
        }
    // Without the editor Tab and Shift+Tab move between cells too, rather
    // than the focus to another widget.
    grid.FocusCell(3, 10);
    QTest::keyClick(&grid, Qt::Key_Tab);
    EXPECT_EQ(grid.Col(), 4);
    QTest::keyClick(&grid, Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(&grid, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(grid.Col(), 2);
    EXPECT_TRUE(errors.empty());
}

// Ctrl+A, C, X and V work on the editor's text, not on the cells.
TEST_F(KeysFixture, ClipboardKeysInsideTheEditorWorkOnItsText) {
    facade.SetCellValue(10, 4, TVariant(u"cell"));
    QGuiApplication::clipboard()->setText("before");
    StartEditing();
    QLineEdit* editor = grid.InplaceEditor();
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(editor->selectedText().toStdString(), "ab");
    QTest::keyClick(editor, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "ab");
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Text(), "abab");
    QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);  // to the grid: still the editor's
    QTest::keyClick(&grid, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(Text(), "");
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "abab");
    EXPECT_EQ(Cell(10, 4), "cell");  // no cell was cut
    QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClick(editor, Qt::Key_Home);
    QTest::keyClick(editor, Qt::Key_Delete);
    EXPECT_EQ(Text(), "bab");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(Cell(10, 3), "bab");
    EXPECT_EQ(Cell(10, 4), "cell");
    EXPECT_TRUE(errors.empty());
}

// Typing with real Shift presses, as a keyboard sends them: the Shift key
// itself, the shifted letter, the Shift released.
TEST_F(KeysFixture, TypingWithShiftPresses) {
    for (TTarget target : {TTarget::Editor, TTarget::Grid}) {
        const int row = target == TTarget::Editor ? 2 : 3;
        grid.FocusCell(2, row);
        auto to = [&]() -> QWidget* {
            return target == TTarget::Editor && grid.EditorMode() ? static_cast<QWidget*>(grid.InplaceEditor()) : &grid;
        };
        for (QChar ch : QString("Hello World =1+2")) {
            const bool upper = ch.isUpper() || ch == '+';
            if (upper) QTest::keyPress(to(), Qt::Key_Shift, Qt::NoModifier);
            QTest::keyClick(to(), ch.toLatin1(), upper ? Qt::ShiftModifier : Qt::NoModifier);
            if (upper) QTest::keyRelease(to(), Qt::Key_Shift, Qt::ShiftModifier);
        }
        ASSERT_TRUE(grid.EditorMode());
        EXPECT_EQ(Text(), "Hello World =1+2");
        QTest::keyClick(to(), Qt::Key_Return);
        EXPECT_EQ(Cell(row, 2), "Hello World =1+2");
    }
    // A formula typed with Shift for its plus sign.
    grid.FocusCell(2, 5);
    for (QChar ch : QString("=1+2")) {
        QWidget* to = grid.EditorMode() ? static_cast<QWidget*>(grid.InplaceEditor()) : &grid;
        if (ch == '+') QTest::keyPress(to, Qt::Key_Shift);
        QTest::keyClick(to, ch.toLatin1(), ch == '+' ? Qt::ShiftModifier : Qt::NoModifier);
        if (ch == '+') QTest::keyRelease(to, Qt::Key_Shift, Qt::ShiftModifier);
    }
    QTest::keyClick(grid.InplaceEditor(), Qt::Key_Return);
    EXPECT_TRUE(facade.GetIsFormula(5, 2));
    EXPECT_TRUE(errors.empty());
}

}  // namespace
