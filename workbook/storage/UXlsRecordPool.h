// Storage for record objects. A sheet holds one object per cell, so records
// come from pools of equal-sized slots carved out of large blocks: no heap
// header per record, and taking or giving back a slot is a pointer swap on
// a list of the calling thread's own. Slots of a freed record are reused by
// the next records of the same size, from any sheet or workbook; the blocks
// themselves stay with the process. The sanitizer builds use plain new and
// delete instead (see UXlsRecordData.h).
#pragma once

#include <cstddef>

namespace kalmira {

// Sizes above this come from the heap as they are.
inline constexpr std::size_t MaxPooledRecord = 256;

void* AllocateRecord(std::size_t size);
void FreeRecord(void* record, std::size_t size) noexcept;

}  // namespace kalmira
