// Damaged and unusual cell records in a worksheet section: each is either
// read as other readers read it, or refused with the record's message
// (whole files: tests/fixtures/records_check.py).
#include <cstring>

#include <gtest/gtest.h>

#include "tests/workbook/book/GlobalsStreams.h"
#include "tests/workbook/storage/MessageOf.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;
using namespace ole2test;

namespace {

// A FORMULA at (0, col) with the result bytes given and the tokens of =1.
Bytes Formula(std::uint16_t id, int col, const Bytes& result) {
    Bytes data{0, 0, static_cast<std::uint8_t>(col), 0, 15, 0};
    data.insert(data.end(), result.begin(), result.end());
    data.insert(data.end(), {0, 0, 0, 0, 0, 0, 3, 0, 0x1E, 1, 0});
    return Rec(id, data);
}

Bytes NumberResult(double value) {
    Bytes bytes(8);
    std::memcpy(bytes.data(), &value, 8);
    return bytes;
}

// A typed result of the kind.
Bytes TypedResult(std::uint8_t kind) { return {kind, 0, 0, 0, 0, 0, 0xFF, 0xFF}; }

Bytes String(const std::string& text) {
    Bytes data{static_cast<std::uint8_t>(text.size()), 0, 0};
    data.insert(data.end(), text.begin(), text.end());
    return Rec(0x207, data);
}

// A LABEL at (0, col) announcing count 8-bit characters, holding text.
Bytes Label(int col, int count, const std::string& text) {
    Bytes data{0, 0, static_cast<std::uint8_t>(col), 0, 15, 0, static_cast<std::uint8_t>(count), 0, 0};
    data.insert(data.end(), text.begin(), text.end());
    return Rec(0x204, data);
}

std::string ValueText(const TVariant& value) {
    switch (value.VarType()) {
        case TVarType::Empty: return "empty";
        case TVarType::Double: return std::to_string(value.RealValue());
        case TVarType::String: return std::string(value.Text().begin(), value.Text().end());
        default: return "other";
    }
}

}  // namespace

TEST(SheetRecords, ReadAsOthersReadThemOrRefused) {
    const Bytes mulBlank = Rec(0xBE, {0, 0, 0, 0, 15, 0, 16, 0, 17, 0, 2, 0});
    const Bytes mulRK = Rec(0xBD, {0, 0, 2, 0, 15, 0, 0, 0, 0xF0, 0x3F, 15, 0, 0, 0, 0, 0x40, 3, 0});
    const struct {
        Bytes Body;
        std::string Message;
        std::vector<std::string> Cells;  // columns 0-3 of row 0
    } cases[] = {
        {Label(0, 3, "abc"), "no exception", {"abc", "empty", "empty", "empty"}},
        // A text that runs past its record: no reader could read it back.
        {Label(0, 200, "abc"), "Record with ID 0x204 is invalid", {}},
        // A formula under the older ids, laid out as in BIFF8, is a formula.
        {Cat({Formula(0x406, 0, NumberResult(2.5)), Formula(0x206, 1, TypedResult(0)), String("xyz")}),
         "no exception",
         {"2.500000", "xyz", "empty", "empty"}},
        {Rec(0x406, Bytes(20, 0)), "Record with ID 0x406 is invalid", {}},
        // A result kind nobody knows.
        {Cat({Formula(0x06, 0, TypedResult(0x38)), String("xyz")}), "Record with ID 0x6 is invalid", {}},
        // Only a text result takes the STRING behind it.
        {Cat({Formula(0x06, 0, NumberResult(2.5)), String("xyz")}), "no exception", {"2.500000", "empty", "empty", "empty"}},
        // The later record of a position wins: a formula goes with its place.
        {Cat({mulBlank, Label(1, 3, "abc"), mulRK, Formula(0x06, 3, TypedResult(0)), String("t"), Label(3, 1, "u")}),
         "no exception",
         {"empty", "abc", "1.000000", "u"}},
    };
    for (const auto& c : cases) {
        TWorkbookGlobals globals;
        TWorkSheet sheet(&globals);
        EXPECT_EQ(LoadInto(sheet, c.Body), c.Message);
        if (c.Cells.empty()) continue;
        std::vector<std::string> cells;
        for (int col = 0; col < 4; ++col) cells.push_back(ValueText(sheet.Cells().CellList().GetValue(0, col)));
        EXPECT_EQ(cells, c.Cells) << c.Message;
        // Saved, the section reads back with the same cells, each written once.
        const auto records = ParseRecords(SaveSheet(sheet));
        Bytes body;
        std::size_t written = 0;
        for (std::size_t i = 1; i + 1 < records.size(); ++i) {
            body = Cat({body, Rec(records[i].Id, records[i].Data)});
            written += records[i].Id == 0x06 || records[i].Id == 0x204 || records[i].Id == 0x201 || records[i].Id == 0x27E;
            EXPECT_NE(records[i].Id, 0x406);
        }
        TWorkSheet again(&globals);
        ASSERT_EQ(LoadInto(again, body), "no exception");
        std::vector<std::string> back;
        for (int col = 0; col < 4; ++col) back.push_back(ValueText(again.Cells().CellList().GetValue(0, col)));
        EXPECT_EQ(back, cells);
        EXPECT_EQ(written, sheet.Cells().CellList().GetItems(0)->Count());
    }
}
