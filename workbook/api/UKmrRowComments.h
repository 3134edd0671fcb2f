// A per-row index of sheet-wide object numbers: for each row that has any,
// the numbers of the objects (pictures) anchored on it, in the order added,
// so an object addressed by row and position finds its sheet-wide number.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kalmira {

// The numbers of one row.
class TCommentRowPos {
public:
    explicit TCommentRowPos(std::int32_t row = 0) : FRow(row) {}

    // Appends a number; returns its position (from 0).
    std::int32_t Add(std::int32_t value);
    std::int32_t GetItems(std::int32_t i) const { return FItems.at(static_cast<std::size_t>(i)); }
    void SetItems(std::int32_t i, std::int32_t value) { FItems.at(static_cast<std::size_t>(i)) = value; }
    void Delete(std::int32_t i) { FItems.erase(FItems.begin() + i); }
    std::int32_t Count() const { return static_cast<std::int32_t>(FItems.size()); }
    std::int32_t Row() const { return FRow; }

private:
    friend class TRowComments;
    std::int32_t FRow;
    std::vector<std::int32_t> FItems;
};

// Entries sorted by row, one per row, made on first use and kept also when
// they become empty.
class TRowComments {
public:
    TRowComments() = default;
    TRowComments(const TRowComments&) = delete;
    TRowComments& operator=(const TRowComments&) = delete;

    // Halving search; index is the row's entry, or where it would go.
    bool Find(std::int32_t row, std::int32_t& index) const;
    // Appends value to the row's entry; returns its position in the row.
    std::int32_t Add(std::int32_t row, std::int32_t value);
    // The row's entry, or one shared empty entry for rows without one.
    const TCommentRowPos& GetItems(std::int32_t row) const;
    // Removes the number at position of row and lowers every greater number
    // of every row by one, so the numbers stay dense. A row without an entry
    // or a position outside it changes nothing.
    void Delete(std::int32_t row, std::int32_t position);
    std::int32_t Count() const { return static_cast<std::int32_t>(FEntries.size()); }

private:
    std::vector<std::unique_ptr<TCommentRowPos>> FEntries;
    TCommentRowPos FEmpty;
};

}  // namespace kalmira
