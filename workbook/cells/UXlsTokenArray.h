// Formula token arrays: stepping over the tokens of a FORMULA, NAME or
// ARRAY record, and making the references follow when a shared formula is
// expanded into its cells or rows, columns and sheets change.
//
// Every call works on the bytes first .. end of a record's data. A token the
// scanner does not know, or one that runs past end, raises ETokenException
// with its id; the record turns it into its own message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "workbook/storage/XlsMessages.h"

namespace kalmira {

class ETokenException : public EExcelException {
public:
    explicit ETokenException(std::uint8_t token);
    std::uint8_t Token;
};

// Bytes the token at pos takes, its id included.
std::size_t TokenSize(std::span<const std::uint8_t> data, std::size_t pos, std::size_t end);

// Turns the shared-relative tokens of a shared formula into ordinary ones
// for the cell at row, col. A column offset keeps to the 8 bits of the
// column: the flags above it never take a carry.
void UXlsTokenArray_ArrangeSharedFormulas(std::span<std::uint8_t> data, std::size_t first, std::size_t end, int row,
                                          int col);

// Rows or columns inserted (counts above 0) or deleted (below 0) on the
// sheet info's insert sheet, then the copy offsets of a copied formula.
//
// Until references are moved, this only checks: it raises ETokenException
// at the first token that the change would move (a reference, an area,
// their 3-D and error forms, ptgExp, ptgTable) and leaves every byte as it
// is. Token arrays without such a token pass.
void UXlsTokenArray_ArrangeInsertRowsAndCols(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                             int insRow, int rowCount, int copyRowOffset, int insCol, int colCount,
                                             int copyColOffset, const TSheetInfo& info, bool relativeOnly);

// A sheet copied from the info's formula sheet to its insert sheet. The
// same check as above: raises at the first 3-D token that points at the
// copied sheet, or at the first name token when a name list is given.
void UXlsTokenArray_ArrangeInsertSheets(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                        const TSheetInfo& info);

}  // namespace kalmira
