#include <algorithm>

#include "tests/workbook/storage/Ole2Fixtures.h"
#include "tests/workbook/storage/TinyContainer.h"

using namespace kalmira;
using namespace ole2test;

// Damaged containers must fail within a bounded allocation.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=256"; }
#endif

namespace {

std::vector<std::uint8_t> ReadInPieces(TOle2File& ole) {
    static const std::int64_t pieces[] = {1, 4, 7, 100, 513, 4096, 3};
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; !ole.Eof(); ++i) {
        const std::int64_t n = std::min(pieces[i % std::size(pieces)], ole.Length() - ole.Position());
        const std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(n));
        ole.ReadMem(bytes.data() + at, n);
    }
    return bytes;
}

}  // namespace

// Names fold only Latin letters; the root's streams are read, never an
// embedded workbook's.
TEST(Ole2Read, NamesCompareFoldingOnlyLatinLettersInTheRootOnly) {
    const auto container = ReadFile(Fixture("small"));
    EXPECT_EQ(ReadStream(container, u"WORKBOOK"), OleStream("small", "Workbook"));
    EXPECT_EQ(ReadStream(container, u"\x01" u"compobj"), OleStream("small", "\x01" "CompObj"));
    EXPECT_EQ(MessageOf([&] { ReadStream(container, u"Workbooks"); }), "The file \"\" is invalid");
    const auto embedded = ReadFile(Fixture("embedded_after"));
    EXPECT_EQ(ReadStream(embedded, u"Workbook"), ReadStream(ReadFile(Fixture("embedded_before")), u"Workbook"));
    EXPECT_EQ(ReadStream(embedded, u"Workbook"), OleStream("small", "Workbook"));
    EXPECT_EQ(MessageOf([&] { ReadStream(embedded, u"MBD00000001"); }), "The file \"\" is invalid");
}

// Reading without a selected stream clears the buffer.
TEST(Ole2Read, EndOfStreamCases) {
    TKmrMemoryStream in(ReadFile(Fixture("small")));
    TOle2File ole(&in);
    std::uint8_t buf[4] = {1, 2, 3, 4};
    ole.ReadMem(buf, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 4), std::vector<std::uint8_t>(4, 0));
    EXPECT_EQ(ole.Length(), 0);
    ole.SelectStream(u"Workbook");
    const std::int64_t size = ole.Length();
    ole.SeekForward(size - 2);
    EXPECT_TRUE(ole.NextEof(3));
    EXPECT_TRUE(ole.NextEof(2));
    EXPECT_FALSE(ole.NextEof(1));
    EXPECT_FALSE(ole.Eof());
    EXPECT_EQ(MessageOf([&] { ole.SeekForward(10); }), "Kalmira can't read the properties of this file.");
    // Reading past the end: RecordFactory.BadInput.
    ole.ReadMem(buf, 2);
    EXPECT_TRUE(ole.Eof());
    EXPECT_EQ(ole.Position(), size);
}

TEST(Ole2Read, NotAContainer) {
    const std::string text = "Byt,Jmeno,Stav\n1,Novak,12.5\n" + std::string(600, 'x');
    TKmrMemoryStream in(std::vector<std::uint8_t>(text.begin(), text.end()));
    in.Seek(3);
    TOle2File quiet(&in, true);
    EXPECT_TRUE(quiet.NotXls());
    EXPECT_EQ(in.Position(), 3);  // refused aloud: XLSFile.FailuresLoseNothing

    TKmrMemoryStream shortOne(std::vector<std::uint8_t>{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    EXPECT_EQ(MessageOf([&] { TOle2File ole(&shortOne); }), "The file \"\" is invalid");
}

TEST(Ole2Read, DamagedContainersFailWithTheirMessage) {
    const auto list = ReadFile(FixtureDir() + "/damaged/list.txt");
    const auto cases = Lines(std::string(list.begin(), list.end()));
    EXPECT_GE(cases.size(), 10u);
    for (const auto& line : cases) {
        const auto fields = Split(line);
        SCOPED_TRACE(fields.at(0));
        const auto bytes = ReadFile(FixtureDir() + "/damaged/" + fields.at(0) + ".xls");
        const std::string& where = fields.at(2);
        const std::string readResult = MessageOf([&] {
            TKmrMemoryStream in(bytes);
            TOle2File ole(&in);
            ole.SelectStream(u"Workbook");
            ReadInPieces(ole);
        });
        // "load": a sound container whose workbook the engine refuses;
        // "drawing": one whose damaged drawing the engine drops.
        const bool load = where == "load" || where == "drawing";
        EXPECT_EQ(readResult, where == "copy" || load ? "no exception" : fields.at(1));
        const std::string copyResult = MessageOf([&] { SaveWith(bytes, {1, 2, 3}); });
        EXPECT_EQ(copyResult, where == "read" || load ? "no exception" : fields.at(1));
    }
}

// A stream of size 0 owns no sector, whatever its start sector says: the
// chain is not followed (root entries with no mini stream, empty streams).
TEST(Ole2Read, EmptyStreamsFollowNoChain) {
    for (const std::uint32_t start : {ENDOFCHAIN, 0u, FREESECT}) {
        SCOPED_TRACE(start);
        const auto container = TinyContainer(start, start);
        EXPECT_EQ(ReadStream(container, u"Workbook"), std::vector<std::uint8_t>(4096, 0x5A));
        EXPECT_TRUE(ReadStream(container, u"Empty").empty());
        const std::vector<std::uint8_t> workbook(5000, 0x33);
        EXPECT_EQ(ReadStream(SaveWith(container, workbook), u"Workbook"), workbook);
    }
}

// The stream is read in runs of sectors that follow each other in the file;
// a chain that jumps back and forth is followed link by link, read whole or
// in pieces that cross the runs.
TEST(Ole2Read, AScatteredChainReadsInChainOrder) {
    auto container = TinyContainer();
    const std::uint32_t chain[] = {2, 5, 6, 3, 4, 9, 7, 8};
    for (std::size_t i = 0; i < std::size(chain); ++i)
        SetLongWord(container, 512 + 4 * chain[i], i + 1 < std::size(chain) ? chain[i + 1] : ENDOFCHAIN);
    for (std::uint32_t sector = 2; sector <= 9; ++sector)
        std::fill_n(container.begin() + 512 * (sector + 1), 512, static_cast<std::uint8_t>(sector));
    std::vector<std::uint8_t> expected;
    for (const std::uint8_t value : {2, 5, 6, 3, 4, 9, 7, 8}) expected.insert(expected.end(), 512, value);
    EXPECT_EQ(ReadStream(container, u"Workbook"), expected);
    TKmrMemoryStream in(container);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    EXPECT_EQ(ReadInPieces(ole), expected);
}
