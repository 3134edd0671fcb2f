// xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...
// xlsroundtrip --cells IN
//
// Opens IN through the engine and writes it to OUT: the records of its
// "Workbook" stream are loaded by the record factory, the shared strings go
// into the string table and come out of it sorted and rebuilt (with a new
// EXTSST), the first worksheet's ROW and cell records go through the cell
// storage, which writes that sheet's DIMENSIONS, ROW blocks and cells anew;
// other sheets' cells are split out of MULRK and MULBLANK and joined again
// row by row; index and cache records are dropped, and every BOUNDSHEET
// gets the offset of its sheet from the computed sizes. --label and --rich set
// the shared-string cell at SHEET, ROW, COLUMN (from 1) to a new text;
// RUNS is "first:font,first:font...". A file the engine cannot read gives
// exit status 1 and the engine's message on one line of standard error;
// OUT is then not created.
//
// --cells prints every value cell of IN, one a line: sheet index, row and
// column (from 1), a tab between, then the value: numbers in the shortest
// text that reads back to the same double, texts as UTF-8, TRUE/FALSE,
// error texts.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tests/tools/xlsbook/XlsBook.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/XlsMessages.h"

namespace {

using namespace kalmira;
using xlsbook::TXlsBook;

struct TChange {
    int Sheet, Row, Column;
    TRichString Text;
};

void Apply(TXlsBook& book, const TChange& change) {
    TLabelSSTRecord* target = nullptr;
    book.ForEachCell([&](std::size_t sheet, TCellRecord& cell) {
        if (static_cast<int>(sheet) == change.Sheet && cell.GetRow() + 1 == change.Row &&
            cell.GetColumn() + 1 == change.Column && !target)
            target = dynamic_cast<TLabelSSTRecord*>(&cell);
    });
    if (!target) throw Exception("no shared-string cell at the changed position");
    target->SetAsRichString(change.Text);
}

std::string ValueText(const TVariant& value) {
    switch (value.VarType()) {
        case TVarType::Double: {
            char buf[64];
            const auto r = std::to_chars(buf, buf + sizeof buf, value.RealValue());
            return std::string(buf, r.ptr);
        }
        case TVarType::Boolean: return value.IntValue() ? "TRUE" : "FALSE";
        case TVarType::String: return Utf16ToUtf8(value.Text());
        default: return {};
    }
}

int PrintCells(const char* inName) {
    TKmrFileStream in(inName, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    auto book = TXlsBook::Load(ole);
    std::string out;
    book->ForEachCell([&](std::size_t sheet, const TCellRecord& cell) {
        const TVariant value = cell.GetValue();
        if (value.IsEmpty()) return;
        out += std::to_string(sheet) + '\t' + std::to_string(cell.GetRow() + 1) + '\t' +
               std::to_string(cell.GetColumn() + 1) + '\t' + ValueText(value) + '\n';
    });
    std::cout << out;
    return 0;
}

TRTFRunList ParseRuns(const std::string& text) {
    TRTFRunList runs;
    std::size_t at = 0;
    while (at < text.size()) {
        unsigned first = 0, font = 0;
        if (std::sscanf(text.c_str() + at, "%u:%u", &first, &font) != 2) throw std::invalid_argument("runs");
        runs.push_back({static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(font)});
        const auto comma = text.find(',', at);
        at = comma == std::string::npos ? text.size() : comma + 1;
    }
    return runs;
}

bool ParseChanges(int argc, char** argv, std::vector<TChange>& changes) {
    for (int i = 3; i < argc;) {
        const bool rich = std::strcmp(argv[i], "--rich") == 0;
        if (!rich && std::strcmp(argv[i], "--label") != 0) return false;
        const int need = rich ? 6 : 5;
        if (i + need > argc) return false;
        TChange c{std::stoi(argv[i + 1]), std::stoi(argv[i + 2]), std::stoi(argv[i + 3]), {Utf8ToUtf16(argv[i + 4]), {}}};
        if (rich) c.Text.RTFRuns = ParseRuns(argv[i + 5]);
        changes.push_back(std::move(c));
        i += need;
    }
    return true;
}

int Usage() {
    std::cerr << "usage: xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...\n"
                 "       xlsroundtrip --cells IN\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--cells") == 0) {
        try {
            return PrintCells(argv[2]);
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    std::vector<TChange> changes;
    try {
        if (argc < 3 || !ParseChanges(argc, argv, changes)) return Usage();
    } catch (const std::exception&) {
        return Usage();
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = xlsbook::RoundTrip(argv[1], [&](TXlsBook& book) {
            for (const auto& change : changes) Apply(book, change);
        });
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    try {
        TKmrFileStream out(argv[2], TKmrFileStream::TMode::Create);
        out.Write(bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        std::remove(argv[2]);  // never leave a half-written file
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
