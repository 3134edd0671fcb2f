#include "workbook/storage/Uxlssections.h"

namespace kalmira {

void TBaseSection::Clear() {
    FBOF.reset();
    FEOF.reset();
}

std::int64_t TBaseSection::TotalSize() const {
    return (FBOF ? FBOF->TotalSize() : 0) + (FEOF ? FEOF->TotalSize() : 0);
}

std::int64_t TBaseSection::TotalRangeSize(int, const TXlsCellRange&) const { return TBaseSection::TotalSize(); }

}  // namespace kalmira
