// Container fuzzing: open, select "Workbook", read it to the end in pieces
// whose sizes come from the input, copy the container with that stream
// written anew into memory, reopen the copy and compare.
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/XlsMessages.h"

using namespace kalmira;

namespace {

std::vector<std::uint8_t> ReadWorkbook(TOle2File& ole, const std::uint8_t* sizes, std::size_t sizeCount) {
    ole.SelectStream(u"Workbook");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; !ole.Eof(); ++i) {
        const std::int64_t want = sizeCount ? 1 + sizes[i % sizeCount] * 3 : 512;
        const std::int64_t n = std::min(want, ole.Length() - ole.Position());
        const std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(n));
        ole.ReadMem(bytes.data() + at, n);
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> input(data, data + size);
    try {
        TKmrMemoryStream in(input), out;
        TOle2File ole(&in, true);
        if (ole.NotXls()) return 0;
        const std::size_t sizeCount = std::min<std::size_t>(size, 16);
        const auto workbook = ReadWorkbook(ole, data + size - sizeCount, sizeCount);
        ole.PrepareForWrite(&out, u"Workbook");
        ole.WriteMem(workbook.data(), workbook.size());
        ole.FinishStream();

        TKmrMemoryStream back(out.Bytes());
        TOle2File reread(&back);
        const auto again = ReadWorkbook(reread, nullptr, 0);
        if (again.size() < workbook.size() || !std::equal(workbook.begin(), workbook.end(), again.begin()))
            std::abort();
        for (std::size_t i = workbook.size(); i < again.size(); ++i)
            if (again[i] != 0) std::abort();
    } catch (const Exception&) {
        // Refusing damaged input with a message is the expected outcome.
    }
    return 0;
}
