#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <typeinfo>

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/Uxlsotherrecords.h"

using namespace kalmira;
using namespace ole2test;

namespace {

Bytes WrittenRow(TCellRecordList& row, int maxColumn = 255) {
    return Written([&](TOle2File& ole) { row.SaveRangeToStream(ole, {0, 0, maxColumn, 65535}); });
}

}  // namespace

// The forms the encoder picks, then (decoded only) other forms: 0xC0E7
// another writer's integer form, the last two the forms that would have
// lost 1.1 * 3 and 58459.200000000004.
TEST(RKNumbers, EncodingsAndDecodings) {
    const std::tuple<double, std::uint32_t, bool> forms[] = {
        {1.0, 0x3FF00000u, true}, {3.0, 0x40080000u, true}, {-1.0, 0xBFF00000u, true}, {0.01, 0x3FF00001u, true},
        {123.45, 0x40C81C81u, true}, {1234567.0, 0x004B5A1Eu, true}, {-1234567.0, 0xFFB4A5E6u, true},
        {12345.67, 0x004B5A1Fu, true}, {536870911.0, 0x7FFFFFFEu, true}, {536870912.0, 0x41C00000u, true},
        {1.5, 0x3FF80000u, true}, {-1.0, 0xFFFFFFFEu, false}, {0.01, 0x7u, false}, {3.0, 0xEu, false},
        {1.0, 0x6u, false}, {123.45, 0xC0E7u, false}, {3.3, 0x4074A001u, false}, {58459.2, 0x41564CE9u, false}};
    for (auto [value, rk, encoded] : forms) {
        EXPECT_EQ(DecodeRK(rk), value) << std::hex << rk;
        std::uint32_t got = 0xDEADBEEF;
        if (encoded) {
            EXPECT_TRUE(EncodeRK(value, got) && got == rk) << value << " as " << std::hex << got;
        }
    }
    for (double none : {1234567.89, 1e300, 1.1 * 3, 58459.200000000004}) EXPECT_FALSE(IsRK(none)) << none;
    EXPECT_TRUE(IsRK(0.01));
}

TEST(RKNumbers, WhateverEncodesDecodesToTheSameBits) {
    std::mt19937_64 rng(424242);
    std::uniform_int_distribution<std::int64_t> cents(-100000000, 100000000);
    std::uniform_int_distribution<std::int64_t> whole(-1LL << 31, 1LL << 31);
    int encoded = 0;
    for (int i = 0; i < 1000000; ++i) {
        double v;
        switch (i % 4) {
            case 0: v = static_cast<double>(cents(rng)) / 100; break;
            case 1: v = static_cast<double>(cents(rng)) / 100 + (rng() % 3) * 1e-12; break;  // just off two decimals
            case 2: v = static_cast<double>(whole(rng)); break;
            default: v = std::bit_cast<double>(rng()); break;
        }
        std::uint32_t rk;
        if (EncodeRK(v, rk)) {
            ++encoded;
            ASSERT_EQ(std::bit_cast<std::uint64_t>(DecodeRK(rk)), std::bit_cast<std::uint64_t>(v)) << v;
        }
    }
    EXPECT_GT(encoded, 400000);
}

TEST(CellRecords, ValuesGetAndSet) {
    TRKRecord rk(0, 0, 15);
    rk.SetValue(1.5);
    EXPECT_EQ(Written([&](TOle2File& ole) { rk.SaveToStream(ole); }),
              (Bytes{0x7E, 0x02, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x00, 0x00, 0x00, 0xF8, 0x3F}));
    EXPECT_EQ(rk.GetValue().RealValue(), 1.5);
    const Bytes before = rk.Data;
    for (auto [bad, text] : {std::pair{TVariant(1234567.89), "1234567.89"}, {TVariant(std::nan("")), "NAN"},
                             {TVariant(1.0 / std::pow(10.0, -400.0)), "INF"}, {TVariant(u"abc"), "abc"},
                             {TVariant::Null(), ""}})
        EXPECT_EQ(MessageOf([&, &bad = bad] { rk.SetValue(bad); }), std::string("Invalid cell value: \"") + text + "\"");
    EXPECT_EQ(rk.Data, before);  // a refused set changes nothing

    TNumberRecord number(1, 2, 16);
    number.SetValue(1234567.89);
    EXPECT_EQ(number.Data, (Bytes{1, 0, 2, 0, 16, 0, 0x3D, 0x0A, 0xD7, 0xE3, 0x87, 0xD6, 0x32, 0x41}));
    EXPECT_EQ(number.GetValue().RealValue(), 1234567.89);
    number.SetValue(TVariant(std::int32_t{7}));
    EXPECT_EQ(number.GetValue().RealValue(), 7);
    for (auto [bad, text] :
         {std::pair{TVariant(u"seven"), "seven"}, {TVariant(-std::numeric_limits<double>::infinity()), "-INF"}})
        EXPECT_EQ(MessageOf([&, &bad = bad] { number.SetValue(bad); }),
                  std::string("Invalid cell value: \"") + text + "\"");
    EXPECT_EQ(number.GetValue().RealValue(), 7);

    TBoolErrRecord boolErr(xlr_BOOLERR, {0, 0, 0, 0, 15, 0, 99, 1});
    EXPECT_EQ(boolErr.GetValue(), TVariant(u"#NULL!"));  // an unknown code
    boolErr.SetValue(true);
    EXPECT_EQ(Bytes(boolErr.Data.begin() + 6, boolErr.Data.end()), (Bytes{1, 0}));
    for (auto [text, code] : {std::pair<const char16_t*, std::uint8_t>{u"#NULL!", 0}, {u"#DIV/0!", 7}, {u"#VALUE!", 15},
                              {u"#REF!", 23}, {u"#NAME?", 29}, {u"#NUM!", 36}, {u"#N/A", 42}}) {
        boolErr.SetValue(text);
        EXPECT_EQ(Bytes(boolErr.Data.begin() + 6, boolErr.Data.end()), (Bytes{code, 1}));
        EXPECT_EQ(boolErr.GetValue(), TVariant(text));
    }
    EXPECT_EQ(MessageOf([&] { boolErr.SetValue(u"#n/a"); }), "Invalid cell error code: \"#n/a\"");
    EXPECT_EQ(MessageOf([&] { boolErr.SetValue(TVariant::Null()); }), "Invalid cell value: \"\"");
    EXPECT_EQ(MessageOf([&] { boolErr.SetValue(2.5); }), "Invalid cell value: \"2.5\"");
    EXPECT_EQ(boolErr.GetValue(), TVariant(u"#N/A"));
}

TEST(CellRecords, ShortRecordsAreRefusedLongerOnesKept) {
    const std::tuple<std::uint16_t, std::size_t, const char*> layouts[] = {
        {xlr_BLANK, 6, "201"}, {xlr_BOOLERR, 8, "205"}, {xlr_RK, 10, "27E"}, {xlr_LABELSST, 10, "FD"}, {xlr_NUMBER, 14, "203"}};
    for (auto [id, size, hex] : layouts) {
        TStreamFile f(Cat({Rec(id, Bytes(size - 1, 0)), Rec(0x0A, {})}));
        EXPECT_EQ(MessageOf([&] { WalkAll(f.Ole); }), std::string("Record with ID 0x") + hex + " is invalid");
    }
    // Longer than the layout: kept byte for byte, and never joined; added
    // out of order, the row keeps column order.
    TCellRecordList row;
    row.Add(std::make_unique<TRKRecord>(0, 2, 15));
    row.Add(std::make_unique<TRKRecord>(xlr_RK, Bytes{0, 0, 1, 0, 15, 0, 0, 0, 0xF0, 0x3F, 0xAA}));
    const Bytes out = WrittenRow(row);
    EXPECT_EQ(out, Cat({Rec(xlr_RK, {0, 0, 1, 0, 15, 0, 0, 0, 0xF0, 0x3F, 0xAA}), Rec(xlr_RK, {0, 0, 2, 0, 15, 0, 0, 0, 0, 0})}));
    TBoolErrRecord longer(xlr_BOOLERR, {0, 0, 0, 0, 15, 0, 1, 0, 0x77});
    EXPECT_EQ(longer.GetValue(), TVariant(true));
    EXPECT_EQ(Written([&](TOle2File& ole) { longer.SaveToStream(ole); }), Rec(xlr_BOOLERR, {0, 0, 0, 0, 15, 0, 1, 0, 0x77}));
}

TEST(CellRecords, RowsJoinIntoMultipleRecords) {
    TCellRecordList row;
    for (int col = 2; col <= 4; ++col) {
        auto rk = std::make_unique<TRKRecord>(5, col, 15 + col);
        rk->SetValue(col * 1.0);
        row.Add(std::move(rk));
    }
    auto lone = std::make_unique<TRKRecord>(5, 9, 15);
    lone->SetValue(0.01);
    row.Add(std::move(lone));
    // A NUMBER in column 10 never joins the RK in 9; blanks 11-12 join.
    row.Add(std::make_unique<TNumberRecord>(5, 10, 15));
    row.Add(std::make_unique<TBlankRecord>(5, 11, 20));
    row.Add(std::make_unique<TBlankRecord>(5, 12, 21));
    const Bytes out = WrittenRow(row);
    const Bytes expected = Cat({Rec(xlr_MULRK, {5, 0, 2, 0, 17, 0, 0, 0, 0, 0x40, 18, 0, 0, 0, 0x08, 0x40, 19, 0,
                                                 0, 0, 0x10, 0x40, 4, 0}),
                                Rec(xlr_RK, {5, 0, 9, 0, 15, 0, 1, 0, 0xF0, 0x3F}),
                                Rec(xlr_NUMBER, {5, 0, 10, 0, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
                                Rec(xlr_MULBLANK, {5, 0, 11, 0, 20, 0, 21, 0, 12, 0})});
    EXPECT_EQ(out, expected);
    EXPECT_EQ(row.GetTotalSize(), static_cast<std::int64_t>(expected.size()));

    // The range's last column cuts the run: 2-3 joined, 4 outside.
    const Bytes cut = WrittenRow(row, 3);
    EXPECT_EQ(cut, Rec(xlr_MULRK, {5, 0, 2, 0, 17, 0, 0, 0, 0, 0x40, 18, 0, 0, 0, 0x08, 0x40, 3, 0}));
    EXPECT_EQ(row.TotalRangeSize({0, 0, 3, 65535}, false), 22);  // a run of two has no middle part
    EXPECT_EQ(row.TotalRangeSize({0, 6, 255, 9}, false), 0);  // another row
    // Cut by the last column inside the range: 11 alone becomes a BLANK.
    EXPECT_EQ(Written([&](TOle2File& ole) { row.SaveRangeToStream(ole, {11, 0, 11, 65535}); }),
              Rec(xlr_BLANK, {5, 0, 11, 0, 20, 0}));
}

TEST(CellRecords, MultipleRecordsSplitIntoCells) {
    TMulRKRecord mulRK(xlr_MULRK, {3, 0, 7, 0, 20, 0, 0x06, 0, 0, 0, 21, 0, 0xE7, 0xC0, 0, 0, 22, 0,
                                   0x01, 0x00, 0xF0, 0x3F, 9, 0});
    std::vector<std::unique_ptr<TCellRecord>> cells;
    while (!mulRK.Eof()) cells.push_back(mulRK.ExtractOneRecord());
    ASSERT_EQ(cells.size(), 3u);
    // Each its RK, another writer's form as it stands (the values: RKNumbers).
    const Bytes rks[] = {{3, 0, 7, 0, 20, 0, 0x06, 0, 0, 0}, {3, 0, 8, 0, 21, 0, 0xE7, 0xC0, 0, 0},
                         {3, 0, 9, 0, 22, 0, 0x01, 0x00, 0xF0, 0x3F}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(typeid(*cells[i]), typeid(TRKRecord));
        EXPECT_EQ(cells[i]->Data, rks[i]);
    }

    TMulBlankRecord blanks(xlr_MULBLANK, {0, 0, 254, 0, 15, 0, 16, 0, 255, 0});
    std::vector<std::unique_ptr<TCellRecord>> b;
    while (!blanks.Eof()) b.push_back(blanks.ExtractOneRecord());
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[1]->Data, (Bytes{0, 0, 255, 0, 16, 0}));
    // A last column other than where the parts end, a part cut short, no
    // last column, no cell: refused, as no reader knows which cells it holds.
    const std::pair<std::uint16_t, Bytes> malformed[] = {
        {xlr_MULBLANK, {0, 0, 254, 0, 15, 0, 16, 0, 0x99, 0x99}},
        {xlr_MULRK, {0, 0, 1, 0, 15, 0, 0, 0, 0xF0, 0x3F, 16, 0, 0}},
        {xlr_MULRK, {0, 0, 1, 0, 15, 0, 0, 0, 0xF0, 0x3F}},
        {xlr_MULBLANK, {0, 0, 1, 0, 15, 0, 15, 0, 15, 0}},
        {xlr_MULBLANK, {0, 0, 1, 0, 1, 0}},
    };
    for (const auto& [id, data] : malformed)
        EXPECT_EQ(MessageOf([id = id, &data = data] {
                      if (id == xlr_MULRK) TMulRKRecord r(id, data);
                      else TMulBlankRecord r(id, data);
                  }),
                  id == xlr_MULRK ? "Record with ID 0xBD is invalid" : "Record with ID 0xBE is invalid");
    // Past column 255: refused rather than wrapped onto column 0.
    EXPECT_EQ(MessageOf([] { TMulBlankRecord r(xlr_MULBLANK, {0, 0, 254, 0, 15, 0, 15, 0, 15, 0, 0, 1}); }),
              "Record with ID 0xBE is invalid");
    EXPECT_EQ(MessageOf([] { TMulRKRecord r(xlr_MULRK, {0, 0, 1}); }), "Record with ID 0xBD is invalid");
}

TEST(CellRecords, LabelAndRStringReadOnly) {
    TLabelRecord label(xlr_LABEL, {0, 0, 1, 0, 15, 0, 3, 0, 1, 0x58, 0x01, 'b', 0, 'c', 0});
    EXPECT_EQ(label.GetValue(), TVariant(u"Řbc"));
    label.SetValue(u"ignored");
    EXPECT_EQ(label.GetValue(), TVariant(u"Řbc"));
    TRStringRecord rstring(xlr_RSTRING, {0, 0, 1, 0, 15, 0, 4, 0, 0, 'b', 'o', 'l'});
    rstring.AddContinue(std::make_unique<TContinueRecord>(xlr_CONTINUE, Bytes{0, 'd', 2, 0, 0, 0, 6, 0, 2, 0, 7, 0}));
    EXPECT_EQ(rstring.GetAsRichString(), (TRichString{u"bold", {{0, 6}, {2, 7}}}));
    TRStringRecord truncated(xlr_RSTRING, {0, 0, 1, 0, 15, 0, 4, 0, 0, 'b', 'o', 'l', 'd', 2, 0, 0, 0, 6});
    EXPECT_EQ(MessageOf([&] { truncated.GetAsRichString(); }), "Error reading record");
    TLabelRecord shortLabel(xlr_LABEL, {0, 0, 1, 0, 15, 0, 9, 0, 0, 'a'});
    EXPECT_EQ(MessageOf([&] { shortLabel.GetValue(); }), "Error reading record");
}
