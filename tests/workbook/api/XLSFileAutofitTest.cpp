// Fitting rows and columns through TXLSFile: what is refused changes
// nothing (the fitted sizes themselves: tests/fixtures/autofit_check.py).
#include <gtest/gtest.h>

#include <functional>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/storage/UKmrStreams.h"

using namespace kalmira;

namespace {

std::vector<std::uint8_t> Saved(TExcelFile& file) {
    TKmrMemoryStream out;
    file.Save(false, "", nullptr, nullptr, &out);
    return out.Bytes();
}

}  // namespace

// Without a text measure every fitting is refused.
TEST(XLSFileAutofit, RefusalsChangeNothing) {
    TXLSAdapter plain;
    const std::function<void(TExcelFile&)> fits[] = {[](TExcelFile& f) { f.AutofitRow(1, 3, false, true, 1); },
                                                     [](TExcelFile& f) { f.AutofitCol(1, 3, false, 1); },
                                                     [](TExcelFile& f) { f.AutofitRowsOnWorkbook(false, true, 1); }};
    for (const auto& fit : fits) {
        auto file = plain.GetWorkbook();
        file->Connect(), file->OpenFile(ORVELO_SOURCE_DIR "/tests/fixtures/xls/small.xls");
        const auto before = Saved(*file);
        EXPECT_EQ(MessageOf([&] { fit(*file); }), "There is no text measuring to fit rows and columns with");
        EXPECT_EQ(Saved(*file), before);
    }
}
