#include <algorithm>

#include "tests/workbook/storage/Ole2Fixtures.h"

using namespace kalmira;
using namespace ole2test;

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
