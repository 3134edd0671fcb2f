// Fitting rows and columns through TXLSFile: what is refused changes
// nothing (the fitted sizes themselves: tests/fixtures/autofit_check.py).
#include <gtest/gtest.h>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/cells/UKmrFixedPitchMeasure.h"
#include "workbook/storage/UKmrStreams.h"

using namespace kalmira;

namespace {

std::vector<std::uint8_t> Saved(TExcelFile& file) {
    TKmrMemoryStream out;
    file.Save(false, "", nullptr, nullptr, &out);
    return out.Bytes();
}

}  // namespace

TEST(XLSFileAutofit, RefusalsChangeNothing) {
    const char* noMeasure = "There is no text measuring to fit rows and columns with";
    TXLSAdapter plain, measured;
    measured.SetTextMeasure([] { return std::make_unique<TKmrFixedPitchMeasure>(); });
    const struct {
        TXLSAdapter* adapter;
        const char* fixture;
        void (*fit)(TExcelFile&);
        std::string message;
    } cases[] = {
        {&plain, "small.xls", [](TExcelFile& f) { f.AutofitRow(1, 3, false, true, 1); }, noMeasure},
        {&plain, "small.xls", [](TExcelFile& f) { f.AutofitCol(1, 3, false, 1); }, noMeasure},
        {&plain, "small.xls", [](TExcelFile& f) { f.AutofitRowsOnWorkbook(false, true, 1); }, noMeasure},
    };
    for (const auto& c : cases) {
        auto file = c.adapter->GetWorkbook();
        file->Connect(), file->OpenFile(std::string(ORVELO_SOURCE_DIR "/tests/fixtures/xls/") + c.fixture);
        const auto before = Saved(*file);
        EXPECT_EQ(MessageOf([&] { c.fit(*file); }), c.message) << c.fixture;
        EXPECT_EQ(Saved(*file), before) << c.fixture;
    }
}
