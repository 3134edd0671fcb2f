#include <gtest/gtest.h>

#include "workbook/api/XLSAdapter.h"

using namespace kalmira;

namespace {

std::unique_ptr<TXLSFile> NewBook(TXLSAdapter& adapter) {
    std::unique_ptr<TExcelFile> made = adapter.GetWorkbook();
    std::unique_ptr<TXLSFile> file(static_cast<TXLSFile*>(made.release()));
    file->Connect();
    file->NewFile(1);
    return file;
}

// An XF of the workbook with that number format in that font.
int AddXF(TXLSFile& file, const char16_t* numberFormat, const char16_t* font) {
    TWorkbookGlobals& globals = file.GetTWorkbook().Globals();
    TKmrFormat format = globals.XF().GetItems(15)->KmrFormat(globals.Fonts(), globals.Formats());
    format.Format = numberFormat;
    format.Font.Name = font;
    return globals.XF().AddFormat(format, globals.Fonts(), globals.Formats());
}

// The number format and font name a cell shows with.
std::u16string FormatOf(TXLSFile& file, int row, int col) {
    TWorkbookGlobals& globals = file.GetTWorkbook().Globals();
    const int xf = file.GetCellValueX(row, col).XF;
    const TKmrFormat format = globals.XF().GetItems(static_cast<std::size_t>(xf))->KmrFormat(globals.Fonts(), globals.Formats());
    return format.Format + u"|" + format.Font.Name;
}

}  // namespace

// The empty workbook has no FORMAT record: a format added to it is written
// before the XFs, where it is counted.
TEST(XLSFileText, NewWorkbookKeepsAnAddedNumberFormat) {
    TXLSAdapter adapter;
    auto book = NewBook(adapter);
    book->SetCellValueX(1, 1, {TVariant(2.0), AddXF(*book, u"0.000 \"m3\"", u"Arial"), false});
    TKmrMemoryStream saved;
    book->Save(false, "", nullptr, nullptr, &saved);
    saved.Seek(0);
    book->LoadFromStream(saved);
    EXPECT_EQ(FormatOf(*book, 1, 1), u"0.000 \"m3\"|Arial");
}
