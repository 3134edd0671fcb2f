#include "workbook/drawing/Ubreaklist.h"

#include "workbook/storage/XlsMessages.h"

namespace kalmira {

void TBreakList::Add(std::uint16_t id, std::int64_t size) {
    const std::int64_t before = FEntries.empty() ? 0 : FEntries.back().Acum;
    FEntries.push_back({id, size, before + size});
}

const TBreakList::TEntry& TBreakList::At(std::size_t index) const {
    if (index >= FEntries.size()) Raise(ErrInternal);
    return FEntries[index];
}

std::uint16_t TBreakList::CurrentId() const { return At(FCurrent).Id; }

std::uint16_t TBreakList::CurrentSize() const { return static_cast<std::uint16_t>(At(FCurrent + 1).Size); }

std::int64_t TBreakList::AcumSize() const {
    return At(FCurrent).Acum + FZeroPos + 4 * static_cast<std::int64_t>(FCurrent);
}

}  // namespace kalmira
