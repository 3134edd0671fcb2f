// Bytes of the stream being written, changed after they were written:
// wherever they lie, already in the output, still in the write buffer or
// across the two, the saved stream holds the new bytes.
#include <gtest/gtest.h>

#include <stdexcept>

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

namespace {
// Refuses the one write that reaches past a byte count, then takes every
// write again.
class TRefusingOnce : public TKmrMemoryStream {
public:
    explicit TRefusingOnce(std::int64_t limit) : FLimit(limit) {}
    void Write(const void* buffer, std::size_t count) override {
        if (!FRefused && Position() + static_cast<std::int64_t>(count) > FLimit) {
            FRefused = true;
            throw std::runtime_error("refused");
        }
        TKmrMemoryStream::Write(buffer, count);
    }

private:
    std::int64_t FLimit;
    bool FRefused = false;
};
}  // namespace

// A buffer the output refused is gone; the container goes on writing
// straight to the output, never into the buffer it no longer has.
TEST(Ole2Patch, AFailedFlushLeavesNoBufferBehind) {
    TKmrMemoryStream in(TinyContainer());
    TRefusingOnce out(100000);
    TOle2File ole(&in);
    ole.PrepareForWrite(&out, u"Workbook");
    const std::vector<std::uint8_t> bytes(1000, 0x5A);
    std::size_t refused = 0;
    for (int i = 0; i < 600; ++i) {
        try {
            ole.WriteMem(bytes.data(), bytes.size());
        } catch (const std::runtime_error&) {
            ++refused;
        }
    }
    EXPECT_EQ(refused, 1u);
    const std::int64_t before = out.Size();
    ole.WriteMem(bytes.data(), bytes.size());
    EXPECT_EQ(out.Size(), before + static_cast<std::int64_t>(bytes.size()));  // not kept back
    const std::int64_t written = ole.Position();
    const std::uint8_t patch[] = {1, 2, 3};
    ole.Patch(written - 3, patch, sizeof patch);
    EXPECT_ANY_THROW(ole.Patch(written - 2, patch, sizeof patch));
    ole.FinishStream();
}
