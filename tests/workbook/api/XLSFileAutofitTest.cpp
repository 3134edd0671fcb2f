// Fitting rows and columns through TXLSFile: what is refused changes
// nothing (the fitted sizes themselves: tests/fixtures/autofit_check.py).
#include "tests/workbook/api/XLSFileTestSupport.h"

using namespace xlsfiletest;

// Without a text measure every fitting is refused.
TEST(XLSFileAutofit, RefusalsChangeNothing) {
    auto file = Opened("small");
    const std::string refused = "There is no text measuring to fit rows and columns with";
    ExpectRefused(*file, {{[&] { file->AutofitRow(1, 3, false, true, 1); }, refused},
                          {[&] { file->AutofitCol(1, 3, false, 1); }, refused},
                          {[&] { file->AutofitRowsOnWorkbook(false, true, 1); }, refused}});
}
