// The empty-workbook template (KMREMPTYSHEET): a compound document whose
// "Workbook" stream holds the globals and one empty worksheet "Sheet1".
// New workbooks are made from it and cleared sheets load its sheet again.
// The file is workbook/storage/KmrEmptySheet.xls, written by
// workbook/storage/emptysheet; the build turns it into these bytes.
#pragma once

#include <cstdint>
#include <span>

namespace kalmira {

std::span<const std::uint8_t> KmrEmptySheet();

}  // namespace kalmira
