#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "tests/workbook/api/ExcelFileProbe.h"
#include "tests/workbook/storage/MessageOf.h"

using namespace kalmira;

namespace {

// A workbook that has got as far as three operations.
class ThreeOperations : public TExcelFile {
public:
    using TExcelFile::HasAutoFilter;

    void Connect() override { connected = true; }
    void SetCellValue(std::int32_t row, std::int32_t col, const TVariant& value) override { cells[{row, col}] = value; }
    bool HasAutoFilter() override { return false; }

    bool connected = false;
    std::map<std::pair<int, int>, TVariant> cells;
};

class ThreeOperationsAdapter : public TExcelAdapter {
public:
    std::unique_ptr<TExcelFile> GetWorkbook() override { return std::make_unique<ThreeOperations>(); }
};

}  // namespace

TEST(ExcelFile, OperationsLeftToTheInterfaceRaiseAndTheObjectStaysUsable) {
    ThreeOperations file;
    file.Connect();
    EXPECT_EQ(MessageOf([&] { file.GetCellValue(1, 1); }), "Abstract Error");
    EXPECT_THROW(file.HasAutoFilter(1, 1), EAbstractError);  // the other form of an overridden name
    TKmrMemoryStream stream;
    EXPECT_THROW(file.LoadFromStream(stream), EAbstractError);

    file.SetCellValue(2, 3, TVariant(1.5));
    EXPECT_TRUE(file.connected);
    EXPECT_EQ(file.cells.at({2, 3}), TVariant(1.5));
    EXPECT_FALSE(file.HasAutoFilter());
}

TEST(ExcelFile, ProbeCountsWhatADescendantImplements) {
    ThreeOperationsAdapter adapter;
    const auto probe = excelprobe::Probe([&] { return adapter.GetWorkbook(); });
    EXPECT_EQ(probe.implementedNames, (std::vector<std::string>{"Connect", "SetCellValue", "HasAutoFilter"}));

    // Each theme holds as many operations as its heading says.
    std::vector<int> declared, probed;
#define KMR_EXCEL_THEME(theme, caption, count) declared.push_back(count);
#include "workbook/api/UExcelFileOperations.inc"
    for (const auto& theme : probe.themes) probed.push_back(theme.total);
    EXPECT_EQ(probed, declared);
    EXPECT_TRUE(probe.Report().ends_with("autofilter: 1 of 5\nrefresh: 0 of 2\nimplemented 3 of 214\n"));

    const auto bare = excelprobe::Probe([] { return std::make_unique<TExcelFile>(); });
    EXPECT_EQ(bare.implemented, 0);
    EXPECT_EQ(bare.total, 214);
}

TEST(ExcelFile, AdapterMakesNewUnconnectedWorkbooksOnlyInADescendant) {
    TExcelAdapter base;
    EXPECT_EQ(MessageOf([&] { base.GetWorkbook(); }), "Abstract Error");

    ThreeOperationsAdapter adapter;
    auto first = adapter.GetWorkbook();
    first->Connect();
    auto second = adapter.GetWorkbook();
    EXPECT_NE(first.get(), second.get());
    EXPECT_FALSE(static_cast<ThreeOperations&>(*second).connected);
}
