// Cells in memory and in real files: a sheet's cells saved alone (the
// bytes, with their size checked against the computed one), and the
// LibreOffice fixture rows.xls changed through the workbook stand-in and
// read back by xlrd.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/workbook/book/WorkbookFiles.h"
#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "tests/workbook/storage/SSTGlobals.h"
#include "workbook/cells/UXlsRowColEntries.h"

namespace cellstest {

using namespace kalmira;
using ole2test::Bytes;

// Rows and columns change on sheet insSheet, seen from formulas on
// formulaSheet: by default on the sheet itself.
inline TSheetInfo OnSheet(int insSheet = 0, int formulaSheet = 0) {
    TSheetInfo info;
    info.InsSheet = insSheet;
    info.FormulaSheet = formulaSheet;
    return info;
}

// A column info list of the test: the XF of some columns, and the calls.
struct TTestColInfo : TColInfoAccess {
    std::map<int, std::uint16_t> XF;
    std::vector<std::string> Calls;
    std::optional<std::uint16_t> ColumnXF(int column) const override {
        const auto it = XF.find(column);
        return it == XF.end() ? std::nullopt : std::optional(it->second);
    }
    void ArrangeInsertCols(int pos, int count, const TSheetInfo&) override {
        Calls.push_back("insert " + std::to_string(pos) + "+" + std::to_string(count));
    }
    void CopyCols(int first, int last, int dest, int count, const TSheetInfo&) override {
        Calls.push_back("copy " + std::to_string(first) + ".." + std::to_string(last) + ">" + std::to_string(dest) + "x" +
                        std::to_string(count));
    }
    void DeleteCols(int first, int count) override {
        Calls.push_back("delete " + std::to_string(first) + "+" + std::to_string(count));
    }
};

// A sheet's cells with a string table of their own.
struct TCellsTest : ::testing::Test {
    TSSTGlobals sst;
    TCells cells{&sst, nullptr};
    void SetNumber(int row, int col, double v) { cells.CellList().SetValueX2(row, col, {TVariant(v), -1, false}, {}, false); }
};

// What the cells write; the written size must equal the computed one.
inline Bytes SavedBytes(TCells& cells) {
    const std::int64_t size = cells.TotalSize();
    Bytes bytes = ole2test::Written([&](TOle2File& ole) { cells.SaveToStream(ole); });
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), size);
    return bytes;
}

// The record ids of written bytes, in order.
inline std::vector<std::uint16_t> RecordIds(const Bytes& bytes) {
    std::vector<std::uint16_t> ids;
    for (const auto& record : ole2test::ParseRecords(bytes)) ids.push_back(record.Id);
    return ids;
}

inline bool Contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

inline std::string RowsFixture() { return ole2test::Fixture("rows"); }

// One cell as xlrd reads it (with formats): type, value text, XF.
struct TXlrdCell {
    int Type = 0;
    std::string Value;
    int XF = 0;
    friend bool operator==(const TXlrdCell&, const TXlrdCell&) = default;
};

struct TXlrdSheet {
    int Rows = 0, Cols = 0;
    std::map<std::pair<int, int>, TXlrdCell> Cells;
    std::optional<TXlrdCell> At(int row, int col) const {
        const auto it = Cells.find({row, col});
        return it == Cells.end() ? std::nullopt : std::optional(it->second);
    }
};

// xlrd's reading of the first sheet of a file.
inline TXlrdSheet Xlrd(const std::string& path) {
    TXlrdSheet sheet;
    const auto lines = ole2test::Lines(ole2test::OleCheck("first", path));
    if (lines.empty()) return sheet;
    const auto size = ole2test::Split(lines[0]);
    sheet.Rows = std::stoi(size.at(0));
    sheet.Cols = std::stoi(size.at(1));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto f = ole2test::Split(lines[i]);
        sheet.Cells[{std::stoi(f.at(0)), std::stoi(f.at(1))}] = {std::stoi(f.at(2)), f.at(3), std::stoi(f.at(4))};
    }
    return sheet;
}

// rows.xls changed through the workbook, written to the build tree.
inline std::string SaveChanged(const std::string& name, const std::function<void(kalmira::TWorkbook&)>& change) {
    return booktest::SavedFile(RowsFixture(), change, name);
}

// xlrd's text for a number cell (type 2).
inline TXlrdCell Number(const std::string& value, int xf = 15) { return {2, value, xf}; }

}  // namespace cellstest
