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

// What a descendant leaves to the interface raises; the rest works, each
// workbook new and unconnected.
TEST(ExcelFile, OperationsLeftToTheInterfaceRaise) {
    EXPECT_EQ(MessageOf([] { TExcelAdapter().GetWorkbook(); }), "Abstract Error");
    EXPECT_TRUE(excelprobe::Implemented([] { return std::make_unique<TExcelFile>(); }).empty());
    ThreeOperationsAdapter adapter;
    EXPECT_EQ(excelprobe::Implemented([&] { return adapter.GetWorkbook(); }),
              (std::vector<std::string>{"Connect", "SetCellValue", "HasAutoFilter"}));
    auto first = adapter.GetWorkbook();
    auto& file = static_cast<ThreeOperations&>(*first);
    file.Connect();
    EXPECT_THROW(file.HasAutoFilter(1, 1), EAbstractError);  // the other form of an overridden name
    file.SetCellValue(2, 3, TVariant(1.5));
    EXPECT_EQ(file.cells.at({2, 3}), TVariant(1.5));
    EXPECT_FALSE(static_cast<ThreeOperations&>(*adapter.GetWorkbook()).connected);
}
