// Building record bytes and capturing what a save writes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/storage/UOle2Impl.h"

namespace ole2test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Rec(std::uint16_t id, const Bytes& data) {
    Bytes out{static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(data.size()),
              static_cast<std::uint8_t>(data.size() >> 8)};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// What a save writes, as the bytes of the new stream.
template <class Save>
Bytes Written(Save save) {
    kalmira::TKmrMemoryStream in(ReadFile(FixtureDir() + "/small.xls")), out;
    std::int64_t size;
    {
        kalmira::TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        save(ole);
        size = ole.Position();
        ole.FinishStream();
    }
    auto all = ReadStream(out.Bytes(), u"Workbook");
    all.resize(static_cast<std::size_t>(size));
    return all;
}

}  // namespace ole2test
