// Workbooks made by LibreOffice (tests/fixtures/src/cells.fods), as made for
// this run and as committed, read through the string table and the cell
// records: every text, run, far-east block and value exactly.
#include <map>
#include <typeinfo>

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;
using namespace ole2test;

namespace {

struct TLoaded {
    TSST SST;
    std::vector<std::unique_ptr<TCellRecord>> Cells;  // after the SST, so labels go first
    std::map<std::tuple<int, int, int>, TCellRecord*> At;  // sheet (from 1), row, column
    std::map<std::uint16_t, int> Ids;                       // cell record ids as read
};

std::unique_ptr<TLoaded> LoadCells(const std::string& path) {
    auto book = std::make_unique<TLoaded>();
    TKmrFileStream file(path, TKmrFileStream::TMode::Read);
    TOle2File ole(&file);
    ole.SelectStream(u"Workbook");
    int sheet = -1;
    auto add = [&](std::unique_ptr<TCellRecord> cell) {
        if (auto* label = dynamic_cast<TLabelSSTRecord*>(cell.get())) label->AttachToSST(book->SST);
        book->At[{sheet, cell->GetRow(), cell->GetColumn()}] = cell.get();
        book->Cells.push_back(std::move(cell));
    };
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> r) {
        if (r->Id == 0x809) ++sheet;
        ++book->Ids[r->Id];
        if (auto* sst = dynamic_cast<TSSTRecord*>(r.get())) {
            book->SST.Load(*sst);
            for (auto* link = sst->Continue.get(); link; link = link->Continue.get()) ++book->Ids[xlr_CONTINUE];
        }
        if (auto* mul = dynamic_cast<TMultipleValueRecord*>(r.get()))
            while (!mul->Eof()) add(mul->ExtractOneRecord());
        if (dynamic_cast<TCellRecord*>(r.get())) add(std::unique_ptr<TCellRecord>(static_cast<TCellRecord*>(r.release())));
    });
    book->SST.Sort();
    return book;
}

std::vector<std::string> Sources(const std::string& name) {
    return {FixtureDir() + "/" + name + ".xls", std::string(ORVELO_SOURCE_DIR) + "/tests/fixtures/xls/" + name + ".xls"};
}

std::u16string Repeat(std::u16string_view piece, std::size_t length) {
    std::u16string out;
    while (out.size() < length) out += piece;
    out.resize(length);
    return out;
}

}  // namespace

TEST(LibreOfficeCells, TextsRunsAndValuesReadExactly) {
    for (const std::string name : {"cells", "cells_fareast"}) {
        for (const auto& path : Sources(name)) {
            SCOPED_TRACE(path);
            const auto book = LoadCells(path);
            auto text = [&](int row, int col) {
                auto* label = dynamic_cast<TLabelSSTRecord*>(book->At.at({1, row, col}));
                return label ? label->GetAsRichString() : TRichString{u"(not a label)", {}};
            };
            EXPECT_EQ(text(0, 0).Value, u"Byt");
            EXPECT_EQ(text(0, 1).Value, u"Jméno");
            EXPECT_EQ(text(1, 0).Value, u"voda");
            EXPECT_EQ(text(1, 1).Value, u"voda");
            EXPECT_EQ(text(2, 0).Value, u"Řeřicha €");
            EXPECT_EQ(text(3, 0), (TRichString{u"plain bold end", {{0, 0}, {6, 5}, {10, 0}}}));
            EXPECT_EQ(text(4, 0).Value, Repeat(u"Řeřicha € ", 5600));
            EXPECT_EQ(text(5, 0).Value, Repeat(u"abcdefghij", 9000));
            // The text used twice is one entry with two references.
            EXPECT_EQ(book->SST.Count(), 8u);
            std::size_t at;
            ASSERT_TRUE(book->SST.Find(book->SST.Offset(book->SST.AddString(u"voda")), at));
            EXPECT_EQ(book->SST.RefCount(book->SST.Offset(at)), 3u);

            const std::map<std::pair<int, int>, double> numbers = {
                {{0, 0}, 1}, {{0, 1}, 3}, {{0, 2}, 0.01}, {{0, 3}, 123.45}, {{1, 0}, 1234567},
                {{1, 2}, 12345.67}, {{1, 4}, 1234567.89}, {{2, 0}, -1}};
            for (auto [pos, value] : numbers)
                EXPECT_EQ(book->At.at({2, pos.first, pos.second})->GetValue(), TVariant(value)) << pos.first << pos.second;
            EXPECT_EQ(typeid(*book->At.at({2, 1, 4})), typeid(TNumberRecord));
            // LibreOffice's own RK form of 123.45 stays as it was read.
            EXPECT_EQ(static_cast<TRKRecord*>(book->At.at({2, 0, 3}))->GetRK(), 0xC0E7u);
            for (int col = 1; col <= 3; ++col) EXPECT_EQ(typeid(*book->At.at({2, 3, col})), typeid(TBlankRecord));
            EXPECT_EQ(book->Ids[xlr_MULRK], 2);
            EXPECT_EQ(book->Ids[xlr_MULBLANK], 1);
            EXPECT_GE(book->Ids[xlr_CONTINUE], 2);
        }
    }
}

TEST(LibreOfficeCells, FarEastBlocksAreKept) {
    for (const auto& path : Sources("cells_fareast")) {
        SCOPED_TRACE(path);
        const auto book = LoadCells(path);
        std::map<std::u16string, Bytes> farEast;
        for (std::size_t i = 0; i < book->SST.Count(); ++i) {
            const auto entry = book->SST.GetEntry(book->SST.Offset(i));
            TBaseRecord record(0x1234, Bytes(entry.begin(), entry.end()));
            const TBaseRecord* at = &record;
            int pos = 0;
            const TExcelString s(2, at, pos);
            if (s.HasFarInfo()) farEast[s.GetValue()] = s.FarEastData();
        }
        EXPECT_EQ(farEast, (std::map<std::u16string, Bytes>{{u"Byt", {0, 1, 2, 3, 4}},
                                                            {u"Jméno", {7, 8, 9, 10, 11, 12}},
                                                            {u"Řeřicha €", {28, 29, 30, 31, 32, 33, 34, 35}}}));
    }
}
