#include <algorithm>

#include "tests/workbook/storage/Ole2Fixtures.h"

using namespace kalmira;
using namespace ole2test;

namespace {

// The test's own view of a written container, from the file layout.
struct TLayout {
    explicit TLayout(std::vector<std::uint8_t> bytes, std::size_t start = 0) : Bytes(std::move(bytes)), Start(start) {}
    std::uint32_t U32(std::size_t pos) const { return kalmira::GetLongWord(Bytes, pos); }
    std::uint32_t Header(std::size_t offset) const { return U32(Start + offset); }
    std::size_t SectorSize() const { return std::size_t(1) << Bytes.at(Start + 0x1E); }
    std::size_t SectorPos(std::uint32_t s) const { return Start + (s + 1) * SectorSize(); }
    std::vector<std::uint32_t> Fat() const {
        std::vector<std::uint32_t> fatSectors;
        for (std::uint32_t i = 0; i < std::min<std::uint32_t>(Header(0x2C), 109); ++i)
            fatSectors.push_back(Header(0x4C + 4 * i));
        std::uint32_t difat = Header(0x44);
        const std::size_t per = SectorSize() / 4;
        for (std::uint32_t j = 0; j < Header(0x48); ++j) {
            for (std::size_t k = 0; k + 1 < per && fatSectors.size() < Header(0x2C); ++k)
                fatSectors.push_back(U32(SectorPos(difat) + 4 * k));
            difat = U32(SectorPos(difat) + 4 * (per - 1));
        }
        std::vector<std::uint32_t> fat;
        for (auto s : fatSectors)
            for (std::size_t k = 0; k < per; ++k) fat.push_back(U32(SectorPos(s) + 4 * k));
        return fat;
    }
    // The root-level entry named "Workbook" (searched flat: the fixtures used here have one).
    std::size_t WorkbookEntry() const {
        const auto fat = Fat();
        for (std::uint32_t s = Header(0x30); s != 0xFFFFFFFE; s = fat.at(s))
            for (std::size_t k = 0; k < SectorSize() / 128; ++k) {
                const std::size_t e = SectorPos(s) + 128 * k;
                if (Bytes.at(e + 64) == 18 && Bytes.at(e) == 'W' && Bytes.at(e + 2) == 'o') return e;
            }
        ADD_FAILURE() << "no Workbook entry";
        return 0;
    }
    std::vector<std::uint8_t> Bytes;
    std::size_t Start;
};

}  // namespace

TEST(Ole2Write, TheTwoPassSaveGivesTheBytesOfOnePass) {
    for (const char* fixture : {"small", "medium", "embedded_before"}) {
        SCOPED_TRACE(fixture);
        const auto workbook = OleStream(fixture, "Workbook");
        TKmrMemoryStream in(ReadFile(Fixture(fixture))), templ;
        {
            TOle2File ole(&in);
            ole.SelectStream(u"Workbook");
            ole.PrepareForWrite(&templ, u"Workbook");
            ole.FinishStream();
        }
        EXPECT_TRUE(SaveWith(templ.Bytes(), workbook) == SaveWith(ReadFile(Fixture(fixture)), workbook));
    }
}

// The container's own layout, read by the test: the stream, its DIFAT
// sector and the FAT after it, each marked as such (other programs read
// the containers the fixtures make: roundtrip_check.py).
TEST(Ole2Write, TheBigFixtureGetsOneDifatSector) {
    const auto workbook = OleStream("big", "Workbook");
    const TLayout out(SaveWith(ReadFile(Fixture("big")), workbook));
    const std::uint32_t p = out.U32(out.WorkbookEntry() + 116);
    const std::uint32_t s = (static_cast<std::uint32_t>(workbook.size()) + 511) / 512;
    EXPECT_EQ(s, 20996u);
    EXPECT_EQ(out.Header(0x2C), 166u);
    EXPECT_EQ(out.Header(0x48), 1u);
    EXPECT_EQ(out.Header(0x44), p + s);
    for (std::uint32_t i = 0; i < 109; ++i) EXPECT_EQ(out.Header(0x4C + 4 * i), p + s + 1 + i);
    const std::size_t difat = out.SectorPos(p + s);
    for (std::uint32_t k = 0; k < 127; ++k)
        EXPECT_EQ(out.U32(difat + 4 * k), k < 166 - 109 ? p + s + 1 + 109 + k : 0xFFFFFFFFu) << k;
    EXPECT_EQ(out.U32(difat + 4 * 127), 0xFFFFFFFFu);
    const auto fat = out.Fat();
    ASSERT_EQ(fat.size(), 166u * 128);
    for (std::uint32_t i = 0; i + 1 < s; ++i) ASSERT_EQ(fat[p + i], p + i + 1);
    EXPECT_EQ(fat[p + s - 1], 0xFFFFFFFEu);
    EXPECT_EQ(fat[p + s], 0xFFFFFFFCu);
    for (std::uint32_t i = 1; i <= 166; ++i) EXPECT_EQ(fat[p + s + i], 0xFFFFFFFDu);
    EXPECT_TRUE(std::all_of(fat.begin() + p + s + 167, fat.end(), [](auto e) { return e == 0xFFFFFFFFu; }));
    EXPECT_EQ(out.Bytes.size(), (p + s + 1 + 166 + 1) * 512u);
}

// Containers written at an offset of their output: XLSFile.SaveRoads.

// Writes outside write mode and reads in it are refused.
TEST(Ole2Write, WritesOutsideWriteModeAndReadsInItAreRefused) {
    const std::string refused = "Invalid OLE Stream operation on stream: \"\"";
    TKmrMemoryStream in(ReadFile(Fixture("small"))), out;
    TOle2File ole(&in);
    EXPECT_EQ(MessageOf([&] { ole.Write16(1); }), refused);
    EXPECT_EQ(MessageOf([&] { ole.PrepareForWrite(&out, u"Nothing"); }), refused);
    EXPECT_EQ(out.Size(), 0);
    ole.PrepareForWrite(&out, u"workbook");
    std::uint8_t b;
    EXPECT_EQ(MessageOf([&] { ole.ReadMem(&b, 1); }), refused);
    EXPECT_EQ(MessageOf([&] { ole.NextEof(3); }), refused);
    EXPECT_EQ(MessageOf([&] { ole.SelectStream(u"Workbook"); }), "Invalid OLE Stream operation on stream: \"Workbook\"");
    EXPECT_EQ(MessageOf([&] { ole.PrepareForWrite(&out, u"Workbook"); }), refused);
    ole.WriteHeader(0x0809, 2);
    ole.Write32(0x01020304);
    EXPECT_EQ(ole.Position(), 8);
    ole.FinishStream();
    EXPECT_EQ(MessageOf([&] { ole.Write16(1); }), refused);
    const auto read = ReadStream(out.Bytes(), u"Workbook");
    EXPECT_EQ(std::vector<std::uint8_t>(read.begin(), read.begin() + 8),
              (std::vector<std::uint8_t>{0x09, 0x08, 0x02, 0x00, 0x04, 0x03, 0x02, 0x01}));
}

// A failed save drops its container after the output it wrote to is gone.
TEST(Ole2Write, AContainerDestroyedUnfinishedWritesNothing) {
    TKmrMemoryStream in(ReadFile(Fixture("small")));
    auto out = std::make_unique<TKmrMemoryStream>();
    TOle2File ole(&in);
    ole.PrepareForWrite(out.get(), u"Workbook");
    ole.Write16(0x0A);
    out.reset();  // under ASan the container's destructor must not touch it
}
