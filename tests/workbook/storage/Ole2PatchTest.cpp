// Bytes of the stream being written, changed after they were written:
// wherever they lie, already in the output, still in the write buffer or
// across the two, the saved stream holds the new bytes.
#include <gtest/gtest.h>

#include "tests/workbook/storage/Ole2Fixtures.h"
#include "tests/workbook/storage/TinyContainer.h"

using namespace kalmira;
using namespace ole2test;

TEST(Ole2Patch, ChangesBytesInTheOutputAndInTheBuffer) {
    // More than the write buffer holds, written in small pieces: the buffer
    // goes out on the way and the last bytes are still in it.
    constexpr std::size_t Size = 600000;
    auto value = [](std::size_t at) { return static_cast<std::uint8_t>(at * 7 + 3); };
    // 3-byte windows from the first or the second byte on: in one of the
    // two runs a window straddles the edge of the buffer.
    for (std::size_t first : {0, 1}) {
        TKmrMemoryStream in(TinyContainer()), out;
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        const std::vector<std::uint8_t> zeros(1000, 0);
        for (std::size_t done = 0; done < Size; done += zeros.size()) ole.WriteMem(zeros.data(), zeros.size());
        for (std::size_t at = first; at + 3 <= Size; at += 3) {
            const std::uint8_t bytes[] = {value(at), value(at + 1), value(at + 2)};
            ole.Patch(static_cast<std::int64_t>(at), bytes, 3);
        }
        EXPECT_ANY_THROW(ole.Patch(Size - 2, zeros.data(), 3));
        ole.FinishStream();
        const auto saved = ReadStream(out.Bytes(), u"Workbook");
        ASSERT_EQ(saved.size(), Size);
        for (std::size_t at = first; at + 3 <= Size; ++at) ASSERT_EQ(saved[at], value(at)) << first << " " << at;
    }
}
