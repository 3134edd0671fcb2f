// Record streams for tests: records from bytes, streams in a container,
// and the bytes a save writes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/Uexcelrecords.h"

namespace ole2test {

using namespace kalmira;

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

// A record stream written as "Workbook" into a copy of the small fixture.
struct TStreamFile {
    explicit TStreamFile(const Bytes& stream)
        : Memory(SaveWith(ReadFile(FixtureDir() + "/small.xls"), stream)), Ole(&Memory) {
        Ole.SelectStream(u"Workbook");
    }
    TRecordHeader FirstHeader() {
        std::uint8_t b[4];
        Ole.ReadMem(b, 4);
        return {GetWord(b, 0), GetWord(b, 2)};
    }
    // The next record as the loader reads it; Header then holds the one after it.
    std::unique_ptr<TBaseRecord> Next() {
        if (!Started) Header = FirstHeader(), Started = true;
        return LoadRecords(Ole, Header);
    }
    TKmrMemoryStream Memory;
    TOle2File Ole;
    TRecordHeader Header{};
    bool Started = false;
};

// What a save writes, as the bytes of the new stream.
template <class Save>
Bytes Written(Save save) {
    TKmrMemoryStream in(ReadFile(FixtureDir() + "/small.xls")), out;
    std::int64_t size;
    {
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        save(ole);
        size = ole.Position();
        ole.FinishStream();
    }
    auto all = ReadStream(out.Bytes(), u"Workbook");
    all.resize(static_cast<std::size_t>(size));
    return all;
}

// The records of a written stream, up to a zero id: (id, data, offset).
struct TRec {
    std::uint16_t Id;
    Bytes Data;
    std::size_t At;
    bool operator==(const TRec& o) const { return Id == o.Id && Data == o.Data; }  // wherever they stand
};

inline std::vector<TRec> ParseRecords(const Bytes& data) {
    std::vector<TRec> out;
    for (std::size_t pos = 0; pos + 4 <= data.size();) {
        const std::uint16_t id = data[pos] | data[pos + 1] << 8, size = data[pos + 2] | data[pos + 3] << 8;
        if (id == 0) break;
        out.push_back({id, Bytes(data.begin() + pos + 4, data.begin() + pos + 4 + size), pos});
        pos += 4 + size;
    }
    return out;
}

// The records of one id in a written stream (every record for 0).
inline std::vector<TRec> RecordsWithId(const Bytes& data, std::uint16_t id) {
    std::vector<TRec> out = ParseRecords(data);
    if (id) std::erase_if(out, [&](const TRec& r) { return r.Id != id; });
    return out;
}

// A record of class T with CONTINUE records holding the further links.
template <class T = TBaseRecord>
std::unique_ptr<T> Chain(std::uint16_t id, const std::vector<Bytes>& links) {
    auto first = std::make_unique<T>(id, links.at(0));
    TBaseRecord* last = first.get();
    for (std::size_t i = 1; i < links.size(); ++i) {
        last->AddContinue(std::make_unique<TContinueRecord>(xlr_CONTINUE, links[i]));
        last = last->Continue.get();
    }
    return first;
}

// Every record of the selected stream, walked as the loader walks it.
inline std::unique_ptr<TBaseRecordList> WalkAll(TOle2File& ole) {
    auto list = std::make_unique<TBaseRecordList>();
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> r) { list->Add(std::move(r)); });
    return list;
}

// A record as the factory builds it from the stream: its bytes, with a
// CONTINUE record behind them when given.
inline std::unique_ptr<TBaseRecord> Load(std::uint16_t id, const Bytes& data, const Bytes& continuation = {}) {
    Bytes stream = Rec(id, data);
    if (!continuation.empty()) stream = Cat({stream, Rec(xlr_CONTINUE, continuation)});
    return TStreamFile(Cat({stream, Rec(xlr_EOF, {})})).Next();
}

template <class T>
std::unique_ptr<T> LoadAs(std::uint16_t id, const Bytes& data, const Bytes& continuation = {}) {
    auto record = Load(id, data, continuation);
    auto* typed = dynamic_cast<T*>(record.get());
    EXPECT_TRUE(typed) << "record 0x" << std::hex << id << " is not of the expected class";
    if (!typed) return nullptr;
    record.release();
    return std::unique_ptr<T>(typed);
}

inline Bytes Saved(const TBaseRecord& record) {
    return Written([&](TOle2File& ole) { record.SaveToStream(ole); });
}

}  // namespace ole2test
