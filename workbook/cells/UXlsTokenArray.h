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

// An array formula's own tokens (an ARRAY record's) cannot point at an
// array or table again: raises ETokenException at a ptgExp or ptgTable, or
// at a token it cannot step over.
void UXlsTokenArray_CheckNotNested(std::span<const std::uint8_t> data, std::size_t first, std::size_t end);

// Rows or columns inserted (counts above 0) or deleted (below 0) on the
// sheet info's insert sheet, then the copy offsets of a copied formula.
//
// References, areas, their 3-D and error forms follow an insertion or
// deletion on the sheet they point at (a 3-D token's sheet comes from the
// info's lookup; any other token's is the formula sheet). Shared-relative
// tokens (ptgRefN, ptgAreaN) keep their relative parts, offsets from the
// cell they are read for; their absolute parts move as those of ordinary
// references, and their error forms are ptgRefErr and ptgAreaErr. A value
// inside a deleted block or pushed
// off the sheet turns its token into the error form, data kept. Areas
// shrink with a deletion, and one over all rows (columns) keeps its rows
// (columns); an area edge at the sheet's last row or column stays there.
// Copy offsets move every relative part (every part when relativeOnly is
// false), without the deleted-block test. ptgExp and ptgTable follow their
// own sheet's insertions and every copy; as they have no error form, one
// pushed into a deleted block or off the sheet raises ETokenException.
// The array is checked first: a refused token leaves every byte.
void UXlsTokenArray_ArrangeInsertRowsAndCols(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                             int insRow, int rowCount, int copyRowOffset, int insCol, int colCount,
                                             int copyColOffset, const TSheetInfo& info, bool relativeOnly);
// Raises where the call above would, changing nothing: the check pass.
void UXlsTokenArray_CheckInsertRowsAndCols(std::span<const std::uint8_t> data, std::size_t first, std::size_t end,
                                           int insRow, int rowCount, int copyRowOffset, int insCol, int colCount,
                                           int copyColOffset, const TSheetInfo& info, bool relativeOnly);

// A sheet copied from the info's formula sheet to its insert sheet (both
// counted after the insertion). 3-D tokens that the lookup puts on the
// source point at the copy through the setter; name tokens (0x39 ones only
// when their EXTERNSHEET entry is on this workbook) of a name local to the
// source or global point at the name of the same text local to the copy,
// when the info's name list has one.
void UXlsTokenArray_ArrangeInsertSheets(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                        const TSheetInfo& info);
// The check: raises where the call above would, calls no setter.
void UXlsTokenArray_CheckInsertSheets(std::span<const std::uint8_t> data, std::size_t first, std::size_t end,
                                      const TSheetInfo& info);

}  // namespace kalmira
