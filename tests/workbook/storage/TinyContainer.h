// The smallest container a workbook stream fits in, built byte by byte:
// header, FAT in sector 0, directory in sector 1, "Workbook" (4096 bytes of
// 0x5A) in sectors 2..9 and an empty stream "Empty"; the root has no mini
// stream. The start sectors of the root and of "Empty" are given, since a
// stream of size 0 owns no sector whatever its start sector says.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/XlsMessages.h"

namespace ole2test {

inline std::vector<std::uint8_t> TinyContainer(std::uint32_t rootStart = kalmira::ENDOFCHAIN,
                                               std::uint32_t emptyStart = kalmira::ENDOFCHAIN) {
    using kalmira::ENDOFCHAIN, kalmira::FREESECT, kalmira::FATSECT;
    std::vector<std::uint8_t> d(512 * 11, 0);
    const std::uint8_t head[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(std::begin(head), std::end(head), d.begin());
    d[0x18] = 0x3E, d[0x1A] = 3, d[0x1C] = 0xFE, d[0x1D] = 0xFF, d[0x1E] = 9, d[0x20] = 6;
    kalmira::SetLongWord(d, 0x2C, 1);
    kalmira::SetLongWord(d, 0x30, 1);
    kalmira::SetLongWord(d, 0x38, 4096);
    kalmira::SetLongWord(d, 0x3C, ENDOFCHAIN);
    kalmira::SetLongWord(d, 0x44, ENDOFCHAIN);
    for (int i = 0; i < 109; ++i) kalmira::SetLongWord(d, 0x4C + 4 * i, i == 0 ? 0 : FREESECT);
    for (std::uint32_t i = 0; i < 128; ++i)
        kalmira::SetLongWord(d, 512 + 4 * i, i == 0 ? FATSECT : i == 1 || i == 9 ? ENDOFCHAIN : i < 9 ? i + 1 : FREESECT);
    auto entry = [&](int index, std::u16string_view name, std::uint8_t type, std::uint32_t right, std::uint32_t child,
                     std::uint32_t start, std::uint32_t size) {
        const std::size_t e = 1024 + 128 * index;
        for (std::size_t n = 0; n < name.size(); ++n) d[e + 2 * n] = static_cast<std::uint8_t>(name[n]);
        d[e + 64] = static_cast<std::uint8_t>(2 * name.size() + 2);
        d[e + 66] = type;
        d[e + 67] = 1;
        kalmira::SetLongWord(d, e + 68, FREESECT);
        kalmira::SetLongWord(d, e + 72, right);
        kalmira::SetLongWord(d, e + 76, child);
        kalmira::SetLongWord(d, e + 116, start);
        kalmira::SetLongWord(d, e + 120, size);
    };
    entry(0, u"Root Entry", 5, FREESECT, 1, rootStart, 0);
    entry(1, u"Workbook", 2, 2, FREESECT, 2, 4096);
    entry(2, u"Empty", 2, FREESECT, FREESECT, emptyStart, 0);
    std::fill(d.begin() + 1024 + 3 * 128 + 68, d.begin() + 1024 + 3 * 128 + 80, 0xFF);  // the unused entry
    std::fill(d.begin() + 1536, d.end(), 0x5A);
    return d;
}

}  // namespace ole2test
