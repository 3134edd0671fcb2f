// Fitting rows and columns through TXLSFile: what is refused changes
// nothing (the fitted sizes themselves: tests/fixtures/autofit_check.py).
#include <gtest/gtest.h>

#include "tests/workbook/storage/MessageOf.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/storage/UKmrStreams.h"

using namespace kalmira;

namespace {

// Counts what it is asked; a refusal asks nothing.
struct TCountingMeasure : TKmrTextMeasure {
    inline static int Calls = 0;
    TKmrTextSize TextExtent(const TKmrFont&, long double, std::u16string_view, const TKmrFontRunList&) override {
        return ++Calls, TKmrTextSize{7, 17};
    }
    TKmrTextLines SplitText(const TKmrFont&, long double, std::u16string_view, const TKmrFontRunList&, long double,
                            bool) override {
        return ++Calls, TKmrTextLines{1, {7, 17}};
    }
};

std::vector<std::uint8_t> Saved(TExcelFile& file) {
    TKmrMemoryStream out;
    file.Save(false, "", nullptr, nullptr, &out);
    return out.Bytes();
}

}  // namespace

TEST(XLSFileAutofit, RefusalsChangeNothing) {
    const std::string fixtures = ORVELO_SOURCE_DIR "/tests/fixtures/xls/";
    const char* noMeasure = "There is no text measuring to fit rows and columns with";
    TXLSAdapter plain, measured;
    measured.SetTextMeasure([] { return std::make_unique<TCountingMeasure>(); });
    struct TCase {
        TXLSAdapter* adapter;
        const char* fixture;
        void (*fit)(TExcelFile&);
        std::string message;
    } cases[] = {
        {&plain, "small.xls", [](TExcelFile& f) { f.AutofitRow(1, 3, false, true, 1); }, noMeasure},
        {&plain, "small.xls", [](TExcelFile& f) { f.AutofitCol(1, 3, false, 1); }, noMeasure},
        {&plain, "small.xls", [](TExcelFile& f) { f.AutofitRowsOnWorkbook(false, true, 1); }, noMeasure},
        {&measured, "drawings.xls", [](TExcelFile& f) { f.AutofitRowsOnWorkbook(false, true, 1); },
         "The operation \"RestoreObjectSizes\" is not available yet"},
    };
    for (const TCase& c : cases) {
        auto file = c.adapter->GetWorkbook();
        file->Connect(), file->OpenFile(fixtures + c.fixture);
        const auto before = Saved(*file);
        EXPECT_EQ(MessageOf([&] { c.fit(*file); }), c.message) << c.fixture;
        EXPECT_EQ(Saved(*file), before) << c.fixture;
    }
    EXPECT_EQ(TCountingMeasure::Calls, 0);
}
