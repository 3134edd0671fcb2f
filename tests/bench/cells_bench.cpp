// Cell storage speed (release build, 2 cores, run by hand). On a sheet of
// 100,000 cells (10,000 rows of five numbers and five texts): one row
// inserted or deleted at the top (goal: under 10 ms each), a 100-row block
// copied 10 times (goal: under 50 ms); each case works on a fresh copy of
// the sheet. On a sheet of 100,000 formula cells (50,000 rows, two
// columns), half of them members of shared formulas (one SHRFMLA per 100
// rows) and a quarter with text results (a STRING each): loading through
// the record factory into the cell storage, STRING records bound and shared
// formulas expanded, and saving with its computed size (goal: each under
// 0.5 s). On a sheet of 100,000 formula cells (10,000 rows of ten, two or
// three references each, a tenth of them 3-D): one row inserted at the
// top, check pass included, and deleted again (goal: each under 50 ms).
// Parsing 100,000 formula texts (the application's five shapes over varying
// rows, mixed with function calls, sheet references and texts) and copying
// out their tokens (goal: under 0.5 s).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tests/workbook/cells/FormulaGlobals.h"
#include "tests/workbook/storage/SSTGlobals.h"
#include "tests/workbook/storage/TinyContainer.h"
#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsFormulaParser.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/Uexcelrecords.h"

using namespace kalmira;

namespace {

constexpr int Rows = 10000, Cols = 10;

TXlsCellValue CellValue(int row, int col) {
    if (col % 2 == 0) return {TVariant(row * 10.0 + col + 0.25), -1, false};
    return {TVariant(u"Řádek " + Utf8ToUtf16(std::to_string(row * 10 + col))), -1, false};
}

// Rows x Cols cells, each put in by fill(cells, row, column).
struct TTestSheet {
    TSSTGlobals SST;
    TCells Master{&SST, nullptr};
    template <class Fill>
    explicit TTestSheet(Fill fill) {
        for (int row = 0; row < Rows; ++row)
            for (int col = 0; col < Cols; ++col) fill(Master.CellList(), row, col);
    }
};

TTestSheet& Sheet() {
    static TTestSheet sheet(
        [](TCellList& c, int row, int col) { c.SetValueX2(row, col, CellValue(row, col), {}, false); });
    return sheet;
}

TSheetInfo OnSheet() {
    TSheetInfo info;
    info.InsSheet = info.FormulaSheet = 0;
    return info;
}

// Runs the operation on a fresh copy each iteration; the copy is not timed.
template <class Operation>
void OnCopy(benchmark::State& state, Operation operation, TTestSheet& sheet = Sheet()) {
    for (auto _ : state) {
        state.PauseTiming();
        auto cells = std::make_unique<TCells>(&sheet.SST, nullptr);
        cells->CopyFrom(sheet.Master);
        state.ResumeTiming();
        operation(*cells);
        state.PauseTiming();
        cells.reset();
        state.ResumeTiming();
    }
}

void InsertRowAtTop(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.InsertAndCopyRows(Rows, Rows, 0, 1, OnSheet(), false); });
}

void DeleteRowAtTop(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.DeleteRows(0, 1, OnSheet()); });
}

void CopyBlockTenTimes(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.InsertAndCopyRows(0, 99, 100, 10, OnSheet(), false); });
}

using Bytes = std::vector<std::uint8_t>;

// Row r, column c: =X{r}+$A${r+2}+SUM(C{r}:C{r+5}) with X the next column
// (on a 3-D reference in column J), so every token moves.
Bytes MovingTokens(int row, int col) {
    auto lo = [](int v) { return static_cast<std::uint8_t>(v); };
    auto hi = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
    const std::uint8_t next = lo((col + 1) % Cols), c = lo(col);
    Bytes tokens = col == Cols - 1 ? Bytes{0x3A, 0, 0, lo(row), hi(row), next, 0xC0}
                                   : Bytes{0x44, lo(row), hi(row), next, 0xC0};
    const Bytes rest = {0x24, lo(row + 1), hi(row + 1), 0, 0, 0x03, 0x25, lo(row), hi(row), lo(row + 5), hi(row + 5),
                        c, 0xC0, c, 0xC0, 0x19, 0x10, 0, 0, 0x03};
    tokens.insert(tokens.end(), rest.begin(), rest.end());
    return tokens;
}

TTestSheet& FormulaSheet() {
    static TTestSheet sheet(
        [](TCellList& c, int row, int col) { c.AssignFormulaX(row, col, MovingTokens(row, col), TVariant(1.0), false); });
    return sheet;
}

void FormulasInsertRowAtTop(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.InsertAndCopyRows(Rows, Rows, 0, 1, OnSheet(), false); }, FormulaSheet());
}

void FormulasDeleteRowAtTop(benchmark::State& state) {
    OnCopy(state, [](TCells& c) { c.DeleteRows(0, 1, OnSheet()); }, FormulaSheet());
}

constexpr int FormulaRows = 50000;

void Put(Bytes& out, std::uint16_t id, const Bytes& data) {
    const Bytes header = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                          static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)};
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
}

// Row, column, XF 15, the result (1.0, or a text in the STRING after it),
// options 8 (a shared member where the tokens say so), the tokens.
Bytes Formula(int row, int col, bool text, const Bytes& tokens) {
    Bytes data(22, 0);
    SetWord(data, 0, static_cast<std::uint16_t>(row));
    SetWord(data, 2, static_cast<std::uint16_t>(col));
    SetWord(data, 4, 15);
    SetWord(data, 12, text ? 0xFFFF : 0x3FF0);
    SetWord(data, 14, 8);
    SetWord(data, 20, static_cast<std::uint16_t>(tokens.size()));
    data.insert(data.end(), tokens.begin(), tokens.end());
    return data;
}

// Column A: =B{row}*2 shared over blocks of 100 rows; column B: =A1+7,
// cached as a text on every other row.
Bytes SheetStream() {
    Bytes out;
    Put(out, 0x809, {0, 6, 0x10, 0, 0xBB, 0x0D, 0xCC, 0x07, 0, 0, 0, 0, 6, 0, 0, 0});
    for (int row = 0; row < FormulaRows; ++row) {
        const int first = row - row % 100;
        const std::uint8_t r = static_cast<std::uint8_t>(first), rHigh = static_cast<std::uint8_t>(first >> 8);
        Put(out, xlr_FORMULA, Formula(row, 0, false, {0x01, r, rHigh, 0, 0}));
        if (row == first)
            Put(out, xlr_SHRFMLA, {r, rHigh, static_cast<std::uint8_t>(first + 99), static_cast<std::uint8_t>((first + 99) >> 8),
                                   0, 0, 0, 100, 9, 0, 0x4C, 0, 0, 1, 0xC0, 0x1E, 2, 0, 0x05});
        const bool text = row % 2 == 0;
        Put(out, xlr_FORMULA, Formula(row, 1, text, {0x44, 0, 0, 0, 0, 0x1E, 7, 0, 0x03}));
        if (text) Put(out, xlr_STRING, {8, 0, 0, 'R', 'o', 'w', ' ', 't', 'e', 'x', 't'});
    }
    Put(out, xlr_EOF, {});
    return out;
}

const Bytes& SheetFile() {
    static const Bytes file = [] {
        TKmrMemoryStream in(ole2test::TinyContainer()), out;
        {
            TOle2File ole(&in);
            ole.PrepareForWrite(&out, u"Workbook");
            const Bytes stream = SheetStream();
            ole.WriteMem(stream.data(), stream.size());
            ole.FinishStream();
        }
        return out.Bytes();
    }();
    return file;
}

// The sheet's records into its cell storage: a STRING gives the formula
// before it its text, the SHRFMLA records wait for FixFormulas.
std::unique_ptr<TCells> LoadSheet(const Bytes& file, TSSTGlobals& sst) {
    RegisterFormulaRecords();
    TKmrMemoryStream in(file);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto cells = std::make_unique<TCells>(&sst, nullptr);
    TShrFmlaRecordList shared;
    TFormulaRecord* last = nullptr;
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) {
        if (auto* formula = dynamic_cast<TFormulaRecord*>(record.get())) {
            last = formula;
            record.release();
            cells->AddCell(std::unique_ptr<TCellRecord>(formula));
        } else if (auto* text = dynamic_cast<TStringRecord*>(record.get()); text && last) {
            last->SetFormulaValue(TVariant(text->Value()));
        } else if (dynamic_cast<TShrFmlaRecord*>(record.get())) {
            shared.Add(std::unique_ptr<TShrFmlaRecord>(static_cast<TShrFmlaRecord*>(record.release())));
        }
    });
    cells->CellList().FixFormulas(shared);
    return cells;
}

void LoadFormulas(benchmark::State& state) {
    const Bytes& file = SheetFile();
    for (auto _ : state) {
        TSSTGlobals sst;
        auto cells = LoadSheet(file, sst);
        benchmark::DoNotOptimize(cells->CellList().Count());
    }
}

void SaveFormulas(benchmark::State& state) {
    const Bytes& file = SheetFile();
    TSSTGlobals sst;
    auto cells = LoadSheet(file, sst);
    const Bytes container = ole2test::TinyContainer();
    for (auto _ : state) {
        TKmrMemoryStream in(container), out;
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        cells->FixRows();
        const std::int64_t size = cells->TotalSize();
        cells->SaveToStream(ole);
        if (ole.Position() != size) state.SkipWithError("written size differs from the computed size");
        ole.FinishStream();
    }
}

std::vector<std::u16string> FormulaTexts() {
    std::vector<std::u16string> texts;
    for (int i = 0; i < 100000; ++i) {
        const std::u16string r = Utf8ToUtf16(std::to_string(5 + i % 60000));
        switch (i % 8) {
            case 0: texts.push_back(u"=MAX(I" + r + u":AG" + r + u")"); break;
            case 1: texts.push_back(u"=I" + r); break;
            case 2: texts.push_back(u"=AI" + r + u"-AJ" + r); break;
            case 3: texts.push_back(u"=SUM(AK5:AK" + r + u")"); break;
            case 4: texts.push_back(u"=AK" + r + u"-AK23"); break;
            case 5: texts.push_back(u"=IF(A" + r + u">0,ROUND(B" + r + u"/3,2),\"Měření\")"); break;
            case 6: texts.push_back(u"=Sheet2!B" + r + u"+'Sheet3'!$C$1"); break;
            default: texts.push_back(u"=CONCATENATE(\"Byt \",C" + r + u",\" – \",TEXT(D" + r + u",\"0.00\"))"); break;
        }
    }
    return texts;
}

void ParseFormulas(benchmark::State& state) {
    const auto texts = FormulaTexts();
    TFormulaGlobals globals;
    TCells cells(&globals, nullptr);
    std::vector<std::uint8_t> buffer(4096);
    for (auto _ : state) {
        for (const auto& text : texts) {
            TParseString parse(text, cells.CellList(), TFmReturnType::fmValue);
            parse.Parse();
            parse.CopyToPtr(buffer, 0);
        }
    }
}

}  // namespace

BENCHMARK(InsertRowAtTop)->Unit(benchmark::kMillisecond);
BENCHMARK(DeleteRowAtTop)->Unit(benchmark::kMillisecond);
BENCHMARK(CopyBlockTenTimes)->Unit(benchmark::kMillisecond);
BENCHMARK(FormulasInsertRowAtTop)->Unit(benchmark::kMillisecond);
BENCHMARK(FormulasDeleteRowAtTop)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFormulas)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveFormulas)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseFormulas)->Unit(benchmark::kMillisecond);
