// Sizes computed and written agree for every table the records fuzz target
// loads; these check the bytes and texts themselves.
#include <map>
#include <random>

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;
using namespace ole2test;

namespace {

std::unique_ptr<TSSTRecord> Chain(const std::vector<Bytes>& links) { return ole2test::Chain<TSSTRecord>(xlr_SST, links); }

// What a string holds, whatever its encoding: text, runs, far-east bytes.
std::tuple<std::u16string, TRTFRunList, Bytes> Held(std::span<const std::uint8_t> bytes) {
    TBaseRecord record(0x1234, Bytes(bytes.begin(), bytes.end()));
    const TBaseRecord* at = &record;
    int pos = 0;
    const TExcelString s(2, at, pos);
    return {s.GetValue(), s.GetRuns(), s.FarEastData()};
}

Bytes StringBytes(const TExcelString& s) {
    Bytes out;
    s.AppendTo(out, true);
    return out;
}

// An SST record (no continuation) holding the given strings.
std::unique_ptr<TSSTRecord> SSTOf(const std::vector<Bytes>& strings) {
    Bytes data(8, 0);
    SetLongWord(data, 4, static_cast<std::uint32_t>(strings.size()));
    for (const auto& s : strings) data.insert(data.end(), s.begin(), s.end());
    return Chain({data});
}

// The SST record and its CONTINUE records of a written table, without the EXTSST.
std::vector<Bytes> SSTLinks(const std::vector<TRec>& records) {
    std::vector<Bytes> links;
    for (const auto& r : records)
        if (r.Id != 0xFF) links.push_back(r.Data);
    return links;
}

std::vector<std::u16string> Texts(const TSST& sst) {
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < sst.Count(); ++i) out.push_back(sst.GetText(sst.Offset(i)).Value);
    return out;
}

}  // namespace

TEST(ExcelString, BytesOfBothCountWidths) {
    EXPECT_EQ(StringBytes(TExcelString(1, false, u"Sheet1")), (Bytes{0x06, 0x00, 'S', 'h', 'e', 'e', 't', '1'}));
    EXPECT_EQ(StringBytes(TExcelString(2, false, u"Sheet1")), (Bytes{0x06, 0x00, 0x00, 'S', 'h', 'e', 'e', 't', '1'}));
    const TExcelString cress(2, false, u"Řeřicha €");
    EXPECT_EQ(StringBytes(cress), (Bytes{0x09, 0x00, 0x01, 0x58, 0x01, 0x65, 0x00, 0x59, 0x01, 0x69, 0x00, 0x63,
                                         0x00, 0x68, 0x00, 0x61, 0x00, 0x20, 0x00, 0xAC, 0x20}));
    EXPECT_EQ(cress.TotalSize(), 21);
    // 8-bit characters are code points 0-255, no code page.
    EXPECT_EQ(TExcelString(2, false, u"\u00e9\u00ff").GetValue(), u"\u00e9\u00ff");

    const std::u16string long256(256, u'x');
    EXPECT_EQ(TExcelString(1, false, long256.substr(1)).TotalSize(), 257);
    EXPECT_EQ(MessageOf([&] { TExcelString(1, false, long256); }), "Invalid String record");
    const TExcelString width3(3, false, long256);
    Bytes out;
    EXPECT_EQ(MessageOf([&] { width3.AppendTo(out, true); }), "StrLenLength should be 1 or 2");
    width3.AppendTo(out, false);  // without the count the width does not matter
    EXPECT_EQ(out.size(), 257u);
    // A count that would wrap is refused, not written modulo 65536.
    EXPECT_EQ(MessageOf([] { TExcelString(2, false, std::u16string(65536, u'a')); }), "Invalid String record");
    EXPECT_EQ(TExcelString(2, false, std::u16string(65535, u'a')).CharCount(), 65535);
}

TEST(ExcelString, ReadsAcrossContinuations) {
    // "abc" 8-bit, then a CONTINUE whose option byte turns the rest 16-bit;
    // the run count, runs and far-east bytes continue without option bytes.
    auto record = Chain({{5, 0, 0x0C, 1, 0}, {3, 0, 0, 0, 'a', 'b'}, {0x01, 'c', 0, 0x41, 0x01, 0x42, 0x01},
                         {2, 0, 5, 0, 0xF1, 0xF2}, {0xF3, 9}});
    const TBaseRecord* at = record.get();
    int pos = 0;
    const TExcelString s(2, at, pos);
    EXPECT_EQ(s.GetValue(), u"abcŁł");
    EXPECT_EQ(s.GetRuns(), (TRTFRunList{{2, 5}}));
    EXPECT_EQ(s.FarEastData(), (Bytes{0xF1, 0xF2, 0xF3}));
    EXPECT_EQ(at, record->Continue->Continue->Continue->Continue.get());
    EXPECT_EQ(pos, 1);
    EXPECT_EQ(s.TotalSize(), 2 + 1 + 2 + 4 + 10 + 4 + 3);
    // Counts beyond the chain: DamagedChainsFailWithTheReaderMessage.
}

TEST(SharedStrings, AddFindAndOrder) {
    TSST sst;
    for (const char16_t* t : {u"b", u"a", u"aa", u"€"}) sst.AddString(t);
    EXPECT_EQ(Texts(sst), (std::vector<std::u16string>{u"a", u"b", u"€", u"aa"}));
    const std::size_t used = sst.PoolUsed();
    const std::size_t index = sst.AddString(u"€");
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(sst.RefCount(sst.Offset(index)), 2u);
    EXPECT_EQ(sst.PoolUsed(), used);
    // The same text with runs is another entry.
    const std::size_t rich = sst.AddString(u"a", {{0, 1}});
    EXPECT_EQ(sst.Count(), 5u);
    EXPECT_EQ(sst.GetText(sst.Offset(rich)), (TRichString{u"a", {{0, 1}}}));
    EXPECT_EQ(MessageOf([&] { sst.AddString(std::u16string(65536, u'a')); }), "Invalid String record");
    EXPECT_EQ(sst.Count(), 5u);
    EXPECT_EQ(sst.PoolUsed(), used + TSST::EntryHeader + 2 + 1 + 2 + 1 + 4);
}

// A loaded table stays in file order until it must sort (a lookup, or
// dropping the entries no cell refers to, as a workbook does before it
// saves): with equal strings among many, it then writes the same bytes and
// gives the labels the same indexes as one sorted right after loading.
TEST(SharedStrings, ALoadedTableSortsWhenItMustAsOneSortedAtOnce) {
    std::mt19937 random(7);
    std::vector<Bytes> strings;
    for (int i = 0; i < 300; ++i)
        strings.push_back(StringBytes(TExcelString(2, false, std::u16string(1 + random() % 3, u"abcde"[random() % 5]))));
    struct TTable {
        TSST Sst;
        std::vector<std::unique_ptr<TLabelSSTRecord>> Labels;
        std::vector<std::size_t> Offsets;  // the labels' entries
    };
    const auto loaded = [&] {
        auto table = std::make_unique<TTable>();
        table->Sst.Load(*SSTOf(strings));
        for (std::uint8_t i = 0; i < 250; i += 3) {
            table->Labels.push_back(std::make_unique<TLabelSSTRecord>(xlr_LABELSST, Bytes{i, 0, 0, 0, 15, 0, i, 0, 0, 0}));
            table->Labels.back()->AttachToSST(table->Sst);
            table->Offsets.push_back(table->Sst.Offset(i));
        }
        return table;
    };
    const auto saved = [](TTable& table) {
        table.Sst.FixRefs();
        const std::int64_t size = table.Sst.SSTRecordSize();
        const Bytes bytes = Written([&](TOle2File& ole) { table.Sst.SaveToStream(ole); });
        std::vector<std::uint32_t> indexes;
        for (const std::size_t offset : table.Offsets) indexes.push_back(table.Sst.SSTIndex(offset));
        return std::make_tuple(size, bytes, indexes);
    };
    auto atOnce = loaded(), onNeed = loaded();
    atOnce->Sst.Sort();
    const auto [sizeAtOnce, bytesAtOnce, indexesAtOnce] = saved(*atOnce);
    const auto [sizeOnNeed, bytesOnNeed, indexesOnNeed] = saved(*onNeed);
    EXPECT_EQ(sizeOnNeed, sizeAtOnce);
    EXPECT_TRUE(bytesOnNeed == bytesAtOnce);
    EXPECT_EQ(indexesOnNeed, indexesAtOnce);
}

TEST(SharedStrings, LoadKeepsFileOrderUntilSortedAndFindLandsOnTheFirstEqual) {
    TSST sst;
    const Bytes x = StringBytes(TExcelString(2, false, u"x")), a = StringBytes(TExcelString(2, false, u"a"));
    sst.Load(*SSTOf({x, a, x, a, x}));
    EXPECT_EQ(Texts(sst), (std::vector<std::u16string>{u"x", u"a", u"x", u"a", u"x"}));
    EXPECT_EQ(sst.RefCount(sst.Offset(0)), 0u);
    TLabelSSTRecord label(xlr_LABELSST, {0, 0, 0, 0, 15, 0, 4, 0, 0, 0});
    label.AttachToSST(sst);
    EXPECT_EQ(label.GetAsString(), u"x");
    sst.Sort();
    EXPECT_EQ(Texts(sst), (std::vector<std::u16string>{u"a", u"a", u"x", u"x", u"x"}));
    std::size_t at;
    const std::size_t before = sst.PoolUsed();
    EXPECT_EQ(sst.AddString(u"x"), 2u);
    EXPECT_EQ(sst.PoolUsed(), before);
    EXPECT_EQ(sst.RefCount(sst.Offset(2)), 1u);
    EXPECT_TRUE(sst.Find(sst.Offset(4), at));
    EXPECT_EQ(at, 2u);
    EXPECT_EQ(label.GetAsString(), u"x");  // the label kept its pool offset, not its index

    // A unique count beyond the strings present loads nothing.
    auto bad = SSTOf({a});
    SetLongWord(bad->Data, 4, 3);
    EXPECT_EQ(MessageOf([&] { sst.Load(*bad); }), "Error reading record");
    EXPECT_EQ(sst.Count(), 5u);
    EXPECT_EQ(sst.PoolUsed(), before);
}

TEST(SharedStrings, EmptyTableAndExtSSTShapes) {
    TSST sst;
    EXPECT_EQ(Written([&](TOle2File& ole) { sst.SaveToStream(ole); }),
              (Bytes{0xFC, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 2, 0, 8, 0}));
    for (auto [count, bucketSize, buckets] : {std::tuple{1000, 8, 125}, {2000, 16, 125}, {16384, 129, 128}}) {
        TSST big;
        for (int i = 0; i < count; ++i) big.AddString(StringToWideStringNoCodePage(std::to_string(i)));
        EXPECT_EQ(big.ExtSSTRecordSize(), buckets * 8 + 6) << count;
        const Bytes out = Written([&](TOle2File& ole) { big.SaveToStream(ole); });
        ASSERT_EQ(static_cast<std::int64_t>(out.size()), big.TotalSize()) << count;
        const auto recs = ParseRecords(out);
        EXPECT_EQ(recs.back().Id, 0xFF);
        EXPECT_EQ(recs.back().Data.size(), static_cast<std::size_t>(buckets * 8 + 2));
        // The bucket size; the offsets are WrittenTablesLoadBackWithSizesAndIndexesRight's.
        EXPECT_EQ(GetWord(recs.back().Data, 0), bucketSize);
    }
}

TEST(SharedStrings, LongStringsSplitIntoPiecesWithTheirOwnOptionBytes) {
    TSST sst;
    sst.AddString(u"€" + std::u16string(9000, u'a'));
    const Bytes out = Written([&](TOle2File& ole) { sst.SaveToStream(ole); });
    const auto recs = ParseRecords(out);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0].Data.size(), 8223u);
    EXPECT_EQ(recs[0].Data[10], 0x01);  // the first piece is 16-bit
    EXPECT_EQ(recs[1].Id, xlr_CONTINUE);
    EXPECT_EQ(recs[1].Data.size(), 4896u);
    EXPECT_EQ(recs[1].Data[0], 0x00);  // the rest fits in 8 bits

    // A 16-bit string of 5,000 characters starting 63 bytes before a record
    // end: its 8-bit prefix fills the record as an 8-bit piece, the rest
    // follows in pieces, each CONTINUE with its own option byte; the pool
    // entry keeps its option byte.
    TSST near;
    near.AddString(std::u16string(8150, u'p'));
    std::u16string wide(100, u'a');
    for (int i = 0; wide.size() < 5000; ++i) wide.push_back(i % 2 ? u'\u0161' : u'e');
    const std::size_t index = near.AddString(wide);
    const Bytes nearOut = Written([&](TOle2File& ole) { near.SaveToStream(ole); });
    const auto parts = ParseRecords(nearOut);
    EXPECT_EQ(near.GetEntry(near.Offset(index))[2], 0x01);
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[0].Data.size(), 8224u);
    EXPECT_EQ(Bytes(parts[0].Data.begin() + 8161, parts[0].Data.begin() + 8165), (Bytes{0x88, 0x13, 0x00, 'a'}));
    EXPECT_EQ(parts[1].Id, xlr_CONTINUE);
    EXPECT_EQ(Bytes(parts[1].Data.begin(), parts[1].Data.begin() + 3), (Bytes{0x01, 'a', 0x00}));
    EXPECT_EQ(parts[2].Id, xlr_CONTINUE);
    EXPECT_EQ(parts[2].Data[0], 0x01);
    TSST back;
    back.Load(*Chain(SSTLinks(parts)));
    EXPECT_EQ(Texts(back), Texts(near));
}

TEST(SharedStrings, LabelsCountTheirEntries) {
    TSST sst;
    sst.Load(*SSTOf({StringBytes(TExcelString(2, false, u"first")), StringBytes(TExcelString(2, false, u"second"))}));
    auto label = std::make_unique<TLabelSSTRecord>(xlr_LABELSST, Bytes{1, 0, 2, 0, 15, 0, 0, 0, 0, 0});
    TLabelSSTRecord beyond(xlr_LABELSST, Bytes{1, 0, 2, 0, 15, 0, 2, 0, 0, 0});
    EXPECT_EQ(MessageOf([&] { beyond.AttachToSST(sst); }), "Error reading Excel records. File invalid");
    label->AttachToSST(sst);
    sst.Sort();
    const std::size_t first = sst.Offset(0);
    EXPECT_EQ(sst.RefCount(first), 1u);
    label->SetAsString(u"new");
    EXPECT_EQ(sst.RefCount(first), 0u);
    label->SetAsString(u"first");
    EXPECT_EQ(sst.RefCount(first), 1u);  // set to a new text and back: the former count
    label->SetAsRichString({u"bold", {{0, 5}}});
    EXPECT_EQ(label->GetAsRichString(), (TRichString{u"bold", {{0, 5}}}));
    EXPECT_EQ(MessageOf([&] { label->SetAsString(std::u16string(65536, u'x')); }), "Invalid String record");
    EXPECT_EQ(label->GetAsString(), u"bold");
    {
        auto copy = label->CopyTo();
        std::size_t at;
        ASSERT_TRUE(sst.Find(sst.Offset(sst.AddString(u"bold", {{0, 5}})), at));
        EXPECT_EQ(sst.RefCount(sst.Offset(at)), 3u);  // label, copy, the lookup
        sst.Release(sst.Offset(at));
    }
    label.reset();
    sst.FixRefs();
    EXPECT_EQ(sst.Count(), 0u);
    TLabelSSTRecord fresh(3, 4, 15, &sst);  // no entry yet: destroying it decrements nothing
    EXPECT_FALSE(fresh.HasEntry());
    EXPECT_EQ(fresh.GetAsString(), u"");
}

TEST(SharedStrings, ReferenceCountsPastSixteenBits) {
    TSST sst;
    std::vector<std::unique_ptr<TLabelSSTRecord>> labels;
    for (int i = 0; i < 70000; ++i) {
        labels.push_back(std::make_unique<TLabelSSTRecord>(static_cast<std::uint16_t>(i), 0, 15, &sst));
        labels.back()->SetAsString(u"same");
    }
    sst.FixRefs();
    ASSERT_EQ(sst.Count(), 1u);
    const Bytes out = Written([&](TOle2File& ole) {
        sst.SaveToStream(ole);
        labels.back()->SaveToStream(ole);
    });
    EXPECT_EQ(GetLongWord(out, 4), 70000u);
    EXPECT_EQ(Bytes(out.end() - 14, out.end()), (Bytes{0xFD, 0, 10, 0, 0x6F, 0x11, 0, 0, 15, 0, 0, 0, 0, 0}));
}

// Once every number was given, numbers of tables that went are given
// again: tables alive keep numbers of their own that find them.
TEST(SharedStrings, HandlesAreGivenAgainOnceAllWereGiven) {
    for (int i = 0; i < (1 << 20) + 16; ++i) {
        const TSST gone;
        ASSERT_NE(gone.Handle(), 0u);
    }
    const TSST first, second;
    EXPECT_NE(first.Handle(), second.Handle());
    EXPECT_EQ(TSST::FromHandle(first.Handle()), &first);
    EXPECT_EQ(TSST::FromHandle(second.Handle()), &second);
    EXPECT_EQ(TSST::FromHandle(0), nullptr);
}

// A label finds its table by the table's handle: among several tables and
// copies of them, after the table went (then it reads as empty and frees
// safely), and in a copy of the label.
TEST(SharedStrings, LabelsKeepToTheirOwnTable) {
    const Bytes one = StringBytes(TExcelString(2, false, u"one")), two = StringBytes(TExcelString(2, false, u"two"));
    auto first = std::make_unique<TSST>(), second = std::make_unique<TSST>();
    first->Load(*SSTOf({one, two}));
    second->Load(*SSTOf({two, one}));
    EXPECT_NE(first->Handle(), second->Handle());
    EXPECT_EQ(TSST::FromHandle(second->Handle()), second.get());

    auto label = std::make_unique<TLabelSSTRecord>(xlr_LABELSST, Bytes{1, 0, 2, 0, 15, 0, 1, 0, 0, 0});
    label->AttachToSST(*second);
    EXPECT_EQ(label->GetAsString(), u"one");
    {
        const TSST copied(*second);  // a table of its own: the label keeps to the original
        EXPECT_NE(copied.Handle(), second->Handle());
    }
    EXPECT_EQ(label->GetAsString(), u"one");
    const auto copy = label->CopyTo();
    EXPECT_EQ(static_cast<const TLabelSSTRecord&>(*copy).GetAsString(), u"one");
    EXPECT_EQ(second->RefCount(second->Offset(1)), 2u);
    EXPECT_EQ(first->RefCount(first->Offset(0)), 0u);

    // Saved with the index the table was written with, as long as it lives.
    const Bytes out = Written([&](TOle2File& ole) {
        second->SaveToStream(ole);
        label->SaveToStream(ole);
    });
    EXPECT_EQ(Bytes(out.end() - 14, out.end()), (Bytes{0xFD, 0, 10, 0, 1, 0, 2, 0, 15, 0, 1, 0, 0, 0}));
    second->Abandon();
    second.reset();
    EXPECT_EQ(label->GetAsString(), u"");
    label.reset();

    // A new label with a table and no text yet saves a zero index.
    TLabelSSTRecord fresh(3, 4, 15, first.get());
    const Bytes freshOut = Written([&](TOle2File& ole) { fresh.SaveToStream(ole); });
    EXPECT_EQ(freshOut, (Bytes{0xFD, 0, 10, 0, 3, 0, 4, 0, 15, 0, 0, 0, 0, 0}));
}

namespace {

// A random string as a BIFF8 string with a 2-byte count: 8-bit, 16-bit
// (mixing characters that fit in 8 bits and some that do not), with runs
// and far-east blocks of 1-9 bytes.
Bytes RandomString(std::mt19937& rng, int chars) {
    std::uniform_int_distribution<int> pick(0, 99);
    const bool wide = pick(rng) < 50, rich = pick(rng) < 30, farEast = pick(rng) < 30;
    Bytes s{static_cast<std::uint8_t>(chars), static_cast<std::uint8_t>(chars >> 8),
            static_cast<std::uint8_t>((wide ? 1 : 0) | (rich ? 8 : 0) | (farEast ? 4 : 0))};
    const int runs = rich ? 1 + pick(rng) % 5 : 0, farSize = farEast ? 1 + pick(rng) % 9 : 0;
    if (rich) s.insert(s.end(), {static_cast<std::uint8_t>(runs), 0});
    if (farEast) s.insert(s.end(), {static_cast<std::uint8_t>(farSize), 0, 0, 0});
    const int highRun = pick(rng) % 4;  // how often 16-bit characters need their high byte
    for (int i = 0; i < chars; ++i) {
        s.push_back(static_cast<std::uint8_t>('a' + pick(rng) % 26));
        if (wide) s.push_back(highRun && pick(rng) % (highRun * 40) == 0 ? 0x01 : 0x00);
    }
    for (int i = 0; i < runs * 4 + farSize; ++i) s.push_back(static_cast<std::uint8_t>(pick(rng)));
    return s;
}

}  // namespace

TEST(SharedStrings, WrittenTablesLoadBackWithSizesAndIndexesRight) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 12; ++round) {
        std::vector<Bytes> strings;
        std::size_t total = 0;
        std::uniform_int_distribution<int> length(0, round % 3 == 0 ? 60 : 400);
        while (total < 50000) {
            // Now and then a string of around one record.
            const int chars = round % 4 == 1 && strings.size() % 7 == 3 ? 8200 + length(rng) % 40 : length(rng);
            strings.push_back(RandomString(rng, chars));
            total += strings.back().size();
            if (total + 8300 * 2 > 65000) break;
        }
        TSST sst;
        sst.Load(*SSTOf(strings));
        for (std::size_t i = 0; i < sst.Count(); ++i) sst.AddRef(sst.Offset(i));
        const Bytes out = Written([&](TOle2File& ole) { sst.SaveToStream(ole); });
        ASSERT_EQ(static_cast<std::int64_t>(out.size()), sst.TotalSize()) << round;
        const auto recs = ParseRecords(out);
        ASSERT_EQ(recs.back().Id, 0xFF);
        EXPECT_EQ(static_cast<std::int64_t>(recs.back().At), sst.SSTRecordSize());

        // Read the chain back, noting where each string starts.
        auto chain = Chain(SSTLinks(recs));
        std::map<const TBaseRecord*, std::size_t> startOf;
        std::size_t r = 0;
        for (const TBaseRecord* l = chain.get(); l; l = l->Continue.get()) startOf[l] = recs[r++].At;
        const TBaseRecord* at = chain.get();
        int pos = 8;
        std::vector<std::pair<std::size_t, std::size_t>> starts;
        std::vector<Bytes> stored;
        for (std::size_t i = 0; i < strings.size(); ++i) {
            if (pos == at->DataSize() && at->Continue) {
                at = at->Continue.get();
                pos = 0;
            }
            starts.emplace_back(startOf[at] + 4 + pos, 4 + pos);
            const TExcelString s(2, at, pos);
            EXPECT_EQ(Held(StringBytes(s)), Held(strings[i])) << round << " string " << i;
            TExcelString compressed = s;
            compressed.Compress();
            stored.push_back(StringBytes(compressed));
        }
        // Loaded again, each string is kept as it will be written, whether
        // it lies whole in one record or runs on into the next.
        TSST back;
        back.Load(*chain);
        ASSERT_EQ(back.Count(), strings.size());
        for (std::size_t i = 0; i < strings.size(); ++i) {
            ASSERT_EQ(Held(back.GetEntry(back.Offset(i))), Held(strings[i])) << round << " string " << i;
            const auto entry = back.GetEntry(back.Offset(i));
            EXPECT_TRUE(Bytes(entry.begin(), entry.end()) == stored[i]) << round << " string " << i;
            EXPECT_EQ(sst.SSTIndex(sst.Offset(i)), i);
        }
        const Bytes& ext = recs.back().Data;
        const std::size_t bucket = GetWord(ext, 0);
        for (std::size_t b = 0; b * 8 + 2 < ext.size(); ++b) {
            EXPECT_EQ(GetLongWord(ext, 2 + 8 * b), starts[b * bucket].first) << round;
            EXPECT_EQ(GetWord(ext, 6 + 8 * b), starts[b * bucket].second) << round;
        }
    }
}

TEST(SharedStrings, DamagedChainsFailWithTheReaderMessage) {
    TSST source;
    std::mt19937 rng(7);
    std::vector<Bytes> strings;
    for (int i = 0; i < 60; ++i) strings.push_back(RandomString(rng, i == 30 ? 9000 : i * 7 % 90));
    source.Load(*SSTOf(strings));
    const auto links = SSTLinks(ParseRecords(Written([&](TOle2File& ole) { source.SaveToStream(ole); })));
    ASSERT_GE(links.size(), 2u);
    auto load = [](const std::vector<Bytes>& chain) {
        TSST sst;
        return MessageOf([&] { sst.Load(*Chain(chain)); });
    };
    for (std::size_t link = 0; link < links.size(); ++link) {
        for (std::size_t cut = 0; cut < links[link].size(); ++cut) {
            std::vector<Bytes> t(links.begin(), links.begin() + static_cast<std::ptrdiff_t>(link) + 1);
            t.back().resize(cut);
            EXPECT_EQ(load(t), "Error reading record") << link << " " << cut;
        }
    }
}
