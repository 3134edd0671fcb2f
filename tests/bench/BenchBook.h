// The benchmarks' generated workbook: sheets of rows by 10 columns built
// through the engine from the empty template (numbers, texts with Czech
// letters, one in five distinct, and formulas with their results).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UKmrEmptySheet.h"
#include "workbook/storage/UKmrStreams.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbook.h"

namespace benchbook {

using namespace kalmira;

constexpr int Rows = 50000;

inline std::vector<std::uint8_t> Save(TWorkbook& book, const std::vector<std::uint8_t>& container) {
    TKmrMemoryStream out;  // outlives the container, which may finish into it
    TKmrMemoryStream in(container);
    TOle2File ole(&in);
    ole.PrepareForWrite(&out, u"Workbook");
    book.SaveToStream(ole);
    ole.FinishStream();
    return out.Bytes();
}

inline std::unique_ptr<TWorkbook> Load(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream in(file);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto book = std::make_unique<TWorkbook>();
    book->LoadFromStream(ole);
    return book;
}

inline void Fill(TCellList& cells, int rows = Rows) {
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < 4; ++col)
            cells.SetValueX2(row, col, {TVariant(col % 2 ? row * 1.25 + col : row + col), -1, false}, {}, false);
        for (int col = 4; col < 7; ++col) {
            const int at = row * 3 + col - 4;
            const std::u16string text = at % 5 ? u"Vodoměr Žďár č. 1" : u"Odečet řádku " + std::u16string(1, u'A' + at % 26) +
                                                                         Utf8ToUtf16(std::to_string(at));
            cells.SetValueX2(row, col, {TVariant(text), -1, false}, {}, false);
        }
        // =A{row}*2 with its result
        const std::uint8_t tokens[] = {0x24, static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(row >> 8),
                                       0, 0xC0, 0x1E, 2, 0, 0x05};
        for (int col = 7; col < 10; ++col) cells.AssignFormulaX(row, col, tokens, TVariant(row * 2.0), false);
    }
}

// A workbook of the given sheets of rows by 10 columns.
inline std::vector<std::uint8_t> MakeBook(int sheets, int rows) {
    const auto empty = KmrEmptySheet();
    const std::vector<std::uint8_t> container(empty.begin(), empty.end());
    auto book = Load(container);
    if (sheets > 1) book->InsertSheets(-1, 1, sheets - 1);
    for (int s = 0; s < sheets; ++s) Fill(book->WorkSheets(s).Cells().CellList(), rows);
    return Save(*book, container);
}

}  // namespace benchbook
