#include "workbook/api/UKmrRowComments.h"

namespace kalmira {

std::int32_t TCommentRowPos::Add(std::int32_t value) {
    FItems.push_back(value);
    return Count() - 1;
}

bool TRowComments::Find(std::int32_t row, std::int32_t& index) const {
    std::int32_t lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        const std::int32_t at = FEntries[static_cast<std::size_t>(mid)]->FRow;
        if (at < row) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (at == row) {
                found = true;
                lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

std::int32_t TRowComments::Add(std::int32_t row, std::int32_t value) {
    std::int32_t index = 0;
    if (!Find(row, index)) FEntries.insert(FEntries.begin() + index, std::make_unique<TCommentRowPos>(row));
    return FEntries[static_cast<std::size_t>(index)]->Add(value);
}

const TCommentRowPos& TRowComments::GetItems(std::int32_t row) const {
    std::int32_t index = 0;
    return Find(row, index) ? *FEntries[static_cast<std::size_t>(index)] : FEmpty;
}

void TRowComments::Delete(std::int32_t row, std::int32_t position) {
    std::int32_t index = 0;
    if (!Find(row, index)) return;
    TCommentRowPos& entry = *FEntries[static_cast<std::size_t>(index)];
    if (position < 0 || position >= entry.Count()) return;
    const std::int32_t removed = entry.GetItems(position);
    entry.Delete(position);
    for (auto& other : FEntries)
        for (auto& number : other->FItems)
            if (number > removed) --number;
}

}  // namespace kalmira
