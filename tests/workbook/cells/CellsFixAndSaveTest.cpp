// Fixing the ROW records while saving: cells loaded without ROW records, or
// beyond their columns, get records covering them, and DIMENSIONS, patched
// once the cells are written, covers them even when the write buffer has
// already passed it on.
#include "tests/workbook/cells/CellsTestSupport.h"

using namespace cellstest;

using CellsFixAndSave = TCellsTest;

TEST_F(CellsFixAndSave, RowsAndDimensionsCoverLoadedCells) {
    constexpr int Rows = 20000;  // 760,000 bytes, far beyond the write buffer
    for (int row = 2; row < Rows + 2; ++row) {
        auto cell = std::make_unique<TNumberRecord>(static_cast<std::uint16_t>(row), 3, 15);
        cell->SetValue(TVariant(1234567.89));
        cells.AddCell(std::move(cell));
    }
    auto narrow = std::make_unique<TRowRecord>(std::uint16_t{2});
    narrow->SetMinCol(5);
    narrow->SetMaxCol(9);
    cells.AddRow(std::move(narrow));

    const auto records = ole2test::ParseRecords(ole2test::Written([&](TOle2File& ole) { cells.FixRowsAndSave(ole); }));
    ASSERT_EQ(records.size(), 1u + 2 * Rows);
    EXPECT_EQ(records[0].Data, (Bytes{2, 0, 0, 0, 0x22, 0x4E, 0, 0, 3, 0, 9, 0, 0, 0}));
    // Row 2 widened to its cell, row 3 new: first column, last plus one.
    EXPECT_EQ(Bytes(records[1].Data.begin(), records[1].Data.begin() + 6), (Bytes{2, 0, 3, 0, 9, 0}));
    EXPECT_EQ(Bytes(records[2].Data.begin(), records[2].Data.begin() + 6), (Bytes{3, 0, 3, 0, 4, 0}));
    EXPECT_EQ(records.back().Id, xlr_NUMBER);
}
