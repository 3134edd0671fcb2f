#include <cmath>
#include <limits>
#include <sstream>

#include "tests/workbook/cells/CellsTestSupport.h"
#include "workbook/cells/UXlsFormula.h"

using namespace cellstest;
using namespace ole2test;

namespace {

struct RegisterOnce {
    RegisterOnce() { RegisterFormulaRecords(); }
} registered;

// FORMULA as LibreOffice writes it: row, column, XF 15, result, options,
// reserved, then the tokens.
Bytes Formula(std::uint16_t row, std::uint16_t col, const Bytes& result, std::uint16_t options, const Bytes& tokens) {
    Bytes data = {static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(row >> 8), static_cast<std::uint8_t>(col),
                  static_cast<std::uint8_t>(col >> 8), 15, 0};
    data.insert(data.end(), result.begin(), result.end());
    data.insert(data.end(), {static_cast<std::uint8_t>(options), static_cast<std::uint8_t>(options >> 8), 0, 0, 0, 0,
                             static_cast<std::uint8_t>(tokens.size()), static_cast<std::uint8_t>(tokens.size() >> 8)});
    data.insert(data.end(), tokens.begin(), tokens.end());
    return data;
}

const Bytes Two = {0, 0, 0, 0, 0, 0, 0, 0x40};           // 2.0
const Bytes Number7 = {0x1E, 7, 0};                      // =7
const Bytes TextResult = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

std::unique_ptr<TFormulaRecord> LoadFormula(const Bytes& data) { return LoadAs<TFormulaRecord>(xlr_FORMULA, data); }

// The records a save writes.
std::vector<TRec> SavedRecords(const TBaseRecord& record) { return ParseRecords(Saved(record)); }

}  // namespace

TEST(FormulaRecord, BadRecordsAreRefused) {
    Bytes shortData = Formula(0, 0, Two, 0, {}), longTokens = Formula(0, 0, Two, 0, Number7);
    shortData.pop_back();
    longTokens[20] = 4;
    const std::pair<std::uint16_t, Bytes> bad[] = {
        {xlr_FORMULA, shortData}, {xlr_FORMULA, longTokens}, {xlr_SHRFMLA, {0, 0, 9, 0, 1, 1, 0, 10, 1}},
        {xlr_SHRFMLA, {0, 0, 9, 0, 1, 1, 0, 10, 4, 0, 0x1E, 1, 0}}, {xlr_ARRAY, Bytes(13, 0)}, {xlr_TABLE, Bytes(15, 0)},
        // Names whose name or tokens run past the data.
        {xlr_NAME, Bytes(14, 0)}, {xlr_NAME, {0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'a', 0, 'b'}},
        {xlr_NAME, {0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'a', 0x03}}};
    for (const auto& [id, data] : bad) {
        std::ostringstream message;
        message << "Record with ID 0x" << std::uppercase << std::hex << id << " is invalid";
        EXPECT_EQ(MessageOf([&] { Load(id, data); }), message.str());
    }
}

TEST(FormulaRecord, TheFactoryHandsArrayAndTableToTheirFormula) {
    const Bytes array = {0, 0, 2, 0, 4, 4, 2, 0, 0, 0, 0, 0, 3, 0};
    const Bytes table = {1, 0, 3, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    TStreamFile g(Cat({Rec(xlr_FORMULA, Formula(0, 4, Two, 0, {1, 0, 0, 4, 0})), Rec(xlr_ARRAY, Cat({array, {0x1E, 1, 0}})),
                       Rec(xlr_STRING, {1, 0, 0, 'a'}), Rec(xlr_FORMULA, Formula(1, 1, Two, 0, {2, 1, 0, 1, 0})),
                       Rec(xlr_TABLE, table), Rec(xlr_EOF, {})}));
    auto header = g.FirstHeader();
    auto record = LoadRecords(g.Ole, header);
    auto& formula = dynamic_cast<TFormulaRecord&>(*record);
    ASSERT_TRUE(formula.GetArrayRecord());
    EXPECT_EQ(formula.GetArrayRecord()->TokensEnd(), 17u);
    EXPECT_EQ(header.Id, xlr_STRING);
    EXPECT_TRUE(dynamic_cast<TStringRecord*>(LoadRecords(g.Ole, header).get()));
    auto next = LoadRecords(g.Ole, header);
    auto& withTable = dynamic_cast<TFormulaRecord&>(*next);
    ASSERT_TRUE(withTable.GetTableRecord());
    EXPECT_EQ(withTable.GetTableRecord()->Data[6], 0x03);  // loading sets the two low option bits
    EXPECT_EQ(header.Id, xlr_EOF);

    // Saved in order: FORMULA, ARRAY, TABLE (no text result, no STRING).
    formula.SetTableRecord(std::unique_ptr<TTableRecord>(static_cast<TTableRecord*>(
        withTable.GetTableRecord()->CopyTo().release())));
    const auto saved = SavedRecords(formula);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[1].Id, xlr_ARRAY);
    EXPECT_EQ(saved[2].Data, (Bytes{1, 0, 3, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(formula.TotalSize(), 31 + 21 + 20);
}

TEST(FormulaRecord, TextResultsAndRefusedValues) {
    auto formula = LoadFormula(Formula(2, 3, TextResult, 0, Number7));
    formula->SetFormulaValue(TVariant(u"x1"));
    auto saved = SavedRecords(*formula);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1], (TRec{xlr_STRING, {2, 0, 0, 'x', '1'}, 0}));
    formula->SetFormulaValue(TVariant(u""));
    saved = SavedRecords(*formula);
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1].Data, (Bytes{0, 0, 0}));
    EXPECT_EQ(formula->TotalSize(), 4 + 25 + 4 + 3);
    // A result that is no text writes no STRING, whatever was cached.
    auto number = LoadFormula(Formula(0, 0, Two, 0, Number7));
    number->SetFormulaValue(TVariant(u"stale"));
    EXPECT_EQ(SavedRecords(*number).size(), 1u);

    // Refused values change nothing.
    formula->SetFormulaValue(TVariant(u"keep"));
    EXPECT_EQ(MessageOf([&] { formula->SetFormulaValue(TVariant(std::u16string(65536, u'a'))); }),
              "Invalid String record");
    EXPECT_EQ(MessageOf([&] { formula->SetFormulaValue(TVariant(std::numeric_limits<double>::infinity())); }),
              "Invalid cell value: \"INF\"");
    EXPECT_EQ(formula->GetValue(), TVariant(u"keep"));
}

TEST(FormulaRecord, CachedResultsOfLoadedAndNewFormulas) {
    auto bytesOf = [](const TVariant& value, bool dates1904) {
        TFormulaRecord f(xlr_FORMULA, 2, 3, 17, 25, value, dates1904);
        return Bytes(f.Data.begin() + 4, f.Data.begin() + 22);
    };
    const Bytes tail = {2, 0, 0, 0, 0, 0, 0, 0};  // options (calculate on load), reserved, token length
    // No value: the empty text result.
    EXPECT_EQ(bytesOf(TVariant(), false), Cat({{17, 0, 3, 0, 0, 0, 0, 0, 0xFF, 0xFF}, tail}));
    EXPECT_EQ(TFormulaRecord(xlr_FORMULA, 0, 0, 15, 25, TVariant(), false).GetValue(), TVariant());
    EXPECT_EQ(bytesOf(TVariant(true), false), Cat({{17, 0, 1, 0, 1, 0, 0, 0, 0xFF, 0xFF}, tail}));
    EXPECT_EQ(bytesOf(TVariant(std::int32_t{3}), false), Cat({{17, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x40}, tail}));
    EXPECT_EQ(bytesOf(TVariant::FromDate(1463), true), Cat({{17, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, tail}));
    EXPECT_EQ(bytesOf(TVariant::FromDate(1463), false), Cat({{17, 0, 0, 0, 0, 0, 0, 0xDC, 0x96, 0x40}, tail}));
    EXPECT_EQ(bytesOf(TVariant(u"abc"), false), Cat({{17, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, tail}));
    EXPECT_EQ(bytesOf(TVariant::FromError(7), false), Cat({{17, 0, 2, 0, 7, 0, 0, 0, 0xFF, 0xFF}, tail}));
    EXPECT_EQ(TFormulaRecord(xlr_FORMULA, 0, 0, 15, 25, TVariant::FromError(36), false).GetValue(), TVariant(u"#NUM!"));
    // A text result's STRING record: TextResultsWriteTheirStringRecord.
    EXPECT_EQ(TFormulaRecord(xlr_FORMULA, 0, 0, 15, 25, TVariant::FromDate(1463), true).GetValue(), TVariant(1.0));

    // Booleans and known errors: CellFormulas reads them from formulas.xls.
    auto number = LoadFormula(Formula(0, 1, Two, 0x0008, Number7));
    EXPECT_EQ(number->GetValue(), TVariant(2.0));
    EXPECT_EQ(number->GetOptions(), 0x000A);  // calculate on load
    for (const auto& [result, value] : {std::pair{Bytes{2, 0, 99, 0, 0, 0, 0xFF, 0xFF}, TVariant()},
                                        {Bytes{3, 0, 0, 0, 0, 0, 0xFF, 0xFF}, TVariant()}, {TextResult, TVariant(u"")}})
        EXPECT_EQ(LoadFormula(Formula(2, 3, result, 0, Number7))->GetValue(), value);
}

TEST(FormulaRecord, CopiesTakeArrayAndTableAndNoResult) {
    const Bytes array = {0, 0, 2, 0, 4, 4, 2, 0, 0, 0, 0, 0, 3, 0, 0x1E, 1, 0};
    auto formula = LoadFormula(Formula(0, 4, Two, 0, {1, 0, 0, 4, 0}));
    formula->SetArrayRecord(LoadAs<TArrayRecord>(xlr_ARRAY, array));
    auto copy = formula->CopyTo();
    auto& copied = dynamic_cast<TFormulaRecord&>(*copy);
    ASSERT_TRUE(copied.GetArrayRecord());
    EXPECT_NE(copied.GetArrayRecord(), formula->GetArrayRecord());
    EXPECT_EQ(copied.GetArrayRecord()->Data, array);
    EXPECT_EQ(formula->GetValue(), TVariant(2.0));
    EXPECT_EQ(Bytes(formula->Data.begin() + 6, formula->Data.begin() + 14), Two);

    // Saving without results.
    auto text = LoadFormula(Formula(2, 3, TextResult, 0, Number7));
    text->SetFormulaValue(TVariant(u"x1"));
    EXPECT_EQ(text->FixTotalSize(false), 4 + 25 + 4 + 5);
    EXPECT_EQ(text->FixTotalSize(true), 4 + 25);
    // The empty text result, which reads as no value.
    EXPECT_EQ(Bytes(text->Data.begin() + 6, text->Data.begin() + 14), (Bytes{3, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(text->GetValue(), TVariant());
    EXPECT_EQ(text->GetOptions() & TFormulaRecord::CalcOnLoad, TFormulaRecord::CalcOnLoad);
}

TEST(FormulaRecord, SharedFormulaExpansion) {
    // B1 =A1*2 filled down as LibreOffice writes it: the members hold only a
    // ptgExp to B1, the SHRFMLA the tokens relative to the cell.
    const Bytes shrfmla = {0, 0, 9, 0, 1, 1, 0, 10, 9, 0, 0x4C, 0, 0, 0xFF, 0xC0, 0x1E, 2, 0, 0x05};
    auto shared = LoadAs<TShrFmlaRecord>(xlr_SHRFMLA, shrfmla);
    auto member = LoadFormula(Formula(4, 1, Two, 0x0008, {0x01, 0, 0, 1, 0}));
    member->MixShared(shared->Data, shared->DataSize());
    EXPECT_EQ(member->Data, Formula(4, 1, Two, 0x0002, {0x44, 4, 0, 0, 0xC0, 0x1E, 2, 0, 0x05}));

    // An unknown token refuses the whole expansion.
    const Bytes badShared = {0, 0, 9, 0, 1, 1, 0, 10, 8, 0, 0x4C, 0, 0, 0xFF, 0xC0, 0x26, 0, 0};
    auto bad = LoadFormula(Formula(2, 1, Two, 0x0008, {0x01, 0, 0, 1, 0}));
    const Bytes before = bad->Data;
    EXPECT_EQ(MessageOf([&] { bad->MixShared(badShared, badShared.size()); }),
              "Formula at Row 2, column 1 is not supported. Token Id: 0x26");
    EXPECT_EQ(bad->Data, before);
    EXPECT_EQ(MessageOf([&] { bad->MixShared(badShared, 9); }), "Record with ID 0x4BC is invalid");

    // Tokens too long for a FORMULA record once behind its 22 bytes: the
    // record would outgrow its 16-bit size field.
    Bytes huge = {0, 0, 9, 0, 1, 1, 0, 10, 0xF0, 0xFF};
    huge.resize(10 + 0xFFF0, 0x03);
    EXPECT_EQ(MessageOf([&] { bad->MixShared(huge, huge.size()); }), "Record with ID 0x4BC is invalid");
    EXPECT_EQ(bad->Data, before);
}

TEST(FormulaRecord, TableAndArrayRanges) {
    // Row input cell at 65530 moved 10 down: the input cell is dropped.
    auto table = LoadAs<TTableRecord>(xlr_TABLE, {1, 0, 3, 0, 1, 2, 0, 0, 0xFA, 0xFF, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    table->ArrangeInsertRowsAndCols(5, 10, 0, 0);
    EXPECT_EQ(table->Data, (Bytes{1, 0, 3, 0, 1, 2, 3, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    table->IncRowToMax(0, 1, 0xFFFF, 4);
    // A range pushed past the last row (and the formula checking its table
    // before its cell moves): CellFormulas.TablesJoinTheCheckPass.
    const Bytes edge = {0xF0, 0xFF, 0xFA, 0xFF, 1, 2, 3, 0, 0, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    auto full = LoadAs<TTableRecord>(xlr_TABLE, edge);
    EXPECT_EQ(MessageOf([&] { full->ArrangeCopyRowsAndCols(0, 254); }),
              "Too many entries for this kind of record (256 out of a maximum of 255)");
    EXPECT_EQ(full->Data, edge);

    // The ARRAY range moves with its own sheet; its tokens are checked too.
    auto arrayFormula = LoadFormula(Formula(3, 4, Two, 0, {0x01, 3, 0, 4, 0}));
    arrayFormula->SetArrayRecord(LoadAs<TArrayRecord>(xlr_ARRAY, {3, 0, 5, 0, 4, 4, 2, 0, 0, 0, 0, 0, 3, 0, 0x1E, 1, 0}));
    arrayFormula->ArrangeInsertRowsAndCols(1, 2, 5, 1, OnSheet(1, 0));
    EXPECT_EQ(Bytes(arrayFormula->GetArrayRecord()->Data.begin(), arrayFormula->GetArrayRecord()->Data.begin() + 6),
              (Bytes{3, 0, 5, 0, 4, 4}));
    arrayFormula->ArrangeInsertRowsAndCols(1, 2, 5, 1, OnSheet(0, 0));  // its ptgExp follows the cell
    EXPECT_EQ(Bytes(arrayFormula->Data.begin() + 22, arrayFormula->Data.end()), (Bytes{0x01, 5, 0, 4, 0}));
    // An array formula that is itself a ptgExp refuses.
    arrayFormula->SetArrayRecord(
        LoadAs<TArrayRecord>(xlr_ARRAY, {5, 0, 7, 0, 4, 4, 2, 0, 0, 0, 0, 0, 5, 0, 0x01, 5, 0, 4, 0}));
    EXPECT_EQ(MessageOf([&] { arrayFormula->ArrangeCopyRowsAndCols(1, 0); }),
              "Formula at Row 5, column 4 is not supported. Token Id: 0x 1");
    auto member = LoadFormula(Formula(3, 4, Two, 0, Number7));
    member->SetArrayRecord(LoadAs<TArrayRecord>(xlr_ARRAY, {3, 0, 5, 0, 4, 4, 2, 0, 0, 0, 0, 0, 3, 0, 0x1E, 1, 0}));
    member->ArrangeInsertRowsAndCols(1, 2, 0, 0, OnSheet(0, 0));
    EXPECT_EQ(member->GetRow(), 5);
    EXPECT_EQ(Bytes(member->GetArrayRecord()->Data.begin(), member->GetArrayRecord()->Data.begin() + 6),
              (Bytes{5, 0, 7, 0, 4, 4}));
    member->ArrangeCopyRowsAndCols(0, 2);
    EXPECT_EQ(member->GetArrayRecord()->Data[4], 6);
}

TEST(NameRecord, ReadsAndChangesItsArea) {
    // LibreOffice's global name "Data" = $Vzorce.$A$1:$A$10.
    const Bytes global = {0, 0, 0, 4, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'D', 'a', 't', 'a',
                          0x3B, 0, 0, 0, 0, 9, 0, 0, 0, 0, 0};
    auto data = LoadAs<TNameRecord>(xlr_NAME, global);
    EXPECT_EQ(data->Name(), u"Data");
    EXPECT_EQ(data->RangeSheet(), -1);
    EXPECT_EQ((std::array{data->GetR1(), data->GetR2(), data->GetC1(), data->GetC2()}), (std::array{0, 9, 0, 0}));
    EXPECT_EQ(data->RefersToSheet([](std::uint16_t index) { return index + 5; }), 5);

    // The local "Mistni" = $Vzorce.$B$1, a 3-D reference.
    auto local = LoadAs<TNameRecord>(xlr_NAME, {0, 0, 0, 6, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 'M', 'i', 's', 't', 'n',
                                                'i', 0x3A, 2, 0, 4, 0, 2, 0});
    EXPECT_EQ(local->RangeSheet(), 0);
    EXPECT_EQ(local->GetR2(), 4);
    EXPECT_EQ(local->GetC2(), 2);
    TNameRecordList names;
    TNameRecord* held = local.get();
    names.Add(std::move(local));
    const std::int64_t size = names.GetTotalSize();
    names.Resize(*held, [&] { held->SetC2(7); });
    EXPECT_EQ(Bytes(held->Data.begin() + 21, held->Data.end()), (Bytes{0x3B, 2, 0, 4, 0, 4, 0, 2, 0, 7, 0}));
    EXPECT_EQ(GetWord(held->Data, 4), 11);
    EXPECT_EQ(names.GetTotalSize(), size + 4);
    held->SetR1(2);
    EXPECT_EQ(held->GetR1(), 2);
    EXPECT_EQ(MessageOf([&] { held->SetC1(256); }), "Invalid Column (256)");
    EXPECT_EQ(held->GetC1(), 2);

    // A name with other tokens has no area.
    auto constant = LoadAs<TNameRecord>(xlr_NAME, {0, 0, 0, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'N', 0, 0x1E, 1, 0});
    EXPECT_EQ(constant->Name(), u"N");
    EXPECT_EQ(constant->GetR1(), -1);
    constant->SetR1(3);
    EXPECT_EQ(constant->DataSize(), 20);
    auto cut = LoadAs<TNameRecord>(xlr_NAME, {0, 0, 0, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'N', 0x3A, 1, 0});
    EXPECT_EQ(cut->GetC2(), -1);
    cut->SetC2(3);
    EXPECT_EQ(cut->DataSize(), 19);
}

// The lookup answers after the insertion: sheet 0 copied before itself is
// sheet 1 there, and its global name goes with the copy, pointing at it.
TEST(NameRecord, SheetCopiesFindTheirSourceAfterTheInsertion) {
    TNameRecordList names;
    names.Add(std::make_unique<TNameRecord>(TXlsNamedRange{u"G", u"", 0, -1}, Bytes{0x3A, 1, 0, 4, 0, 2, 0}));
    TSheetInfo info;
    info.GetSheet = [](std::uint16_t index) { return static_cast<std::int32_t>(index); };
    info.SetSheet = [](std::uint16_t sheet) { return static_cast<std::uint16_t>(sheet + 10); };
    names.InsertSheets(0, 0, info, 1);
    ASSERT_EQ(names.Count(), 2u);
    EXPECT_EQ(names.GetItems(1)->RangeSheet(), 0);
    EXPECT_EQ(GetWord(names.GetItems(1)->Data, 17), 10);  // the token's EXTERNSHEET index
}

// Names local to sheets that go leave the list; the others renumber the
// name tokens of their formulas.
TEST(FormulaRecord, NamesOfDeletedSheetsGo) {
    TNameRecordList names;
    for (const auto& [name, sheet, tokens] : {std::tuple{u"A", -1, Bytes{0x23, 4, 0, 0, 0}},
                                              {u"B", 1, Bytes{0x1E, 1, 0}}, {u"C", 2, Bytes{0x23, 2, 0, 0, 0}},
                                              {u"D", 3, Bytes{0x1E, 2, 0}}})
        names.Add(std::make_unique<TNameRecord>(TXlsNamedRange{name, u"", 0, sheet}, tokens));
    EXPECT_EQ(names.IndexesAfterDeletingSheets(1, 2), (std::vector<std::int32_t>{0, -1, -1, 1}));
    const TNameRenumbering renumbering{names.IndexesAfterDeletingSheets(1, 2), {}};
    names.DeleteSheets(1, 2, renumbering);
    ASSERT_EQ(names.Count(), 2u);
    EXPECT_EQ(names.GetItems(0)->Name() + names.GetItems(1)->Name(), u"AD");
    EXPECT_EQ(Bytes(names.GetItems(0)->Data.begin() + names.GetItems(0)->TokensStart(), names.GetItems(0)->Data.end()),
              (Bytes{0x23, 2, 0, 0, 0}));
    EXPECT_EQ(names.GetItems(1)->RangeSheet(), 1);
}
