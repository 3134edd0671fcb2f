// Where the bytes of a drawing tree are cut into BIFF records on save: one
// entry per chunk, with the record id that opens after it.
#pragma once

#include <cstdint>
#include <vector>

namespace kalmira {

class TBreakList {
public:
    explicit TBreakList(std::int64_t zeroPos) : FZeroPos(zeroPos) {}

    // A chunk of size bytes, after which a record with this id begins.
    void Add(std::uint16_t id, std::int64_t size);
    // Bytes written between the chunks (client records) move every later
    // boundary by count.
    void AddToZeroPos(std::int64_t count) { FZeroPos += count; }

    std::uint16_t CurrentId() const;
    // The size of the chunk after the current entry: the record it opens.
    std::uint16_t CurrentSize() const;
    // Stream position where the current chunk ends.
    std::int64_t AcumSize() const;
    void IncCurrent() { ++FCurrent; }

    std::size_t Count() const { return FEntries.size(); }

private:
    struct TEntry {
        std::uint16_t Id;
        std::int64_t Size;
        std::int64_t Acum;
    };
    const TEntry& At(std::size_t index) const;

    std::vector<TEntry> FEntries;
    std::int64_t FZeroPos;
    std::size_t FCurrent = 0;
};

}  // namespace kalmira
