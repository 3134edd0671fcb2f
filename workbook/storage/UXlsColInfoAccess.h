// What the cell storage needs of a sheet's column settings: the format of
// a column, and keeping the settings in step when columns are inserted or
// copied or deleted. The column info list provides it; a sheet without one has none.
#pragma once

#include <cstdint>
#include <optional>

#include "workbook/storage/XlsMessages.h"

namespace kalmira {

class TColInfoAccess {
public:
    virtual ~TColInfoAccess() = default;
    // The XF of the entry that covers the column, or none.
    virtual std::optional<std::uint16_t> ColumnXF(int column) const = 0;
    // Columns at or after pos move right by count, when the sheet info
    // says the columns are inserted in this sheet.
    virtual void ArrangeInsertCols(int pos, int count, const TSheetInfo& info) = 0;
    // The settings of first..last are copied count times from dest on.
    virtual void CopyCols(int first, int last, int dest, int count, const TSheetInfo& info) = 0;
    // The settings of first..first + count - 1 go; later columns move left.
    virtual void DeleteCols(int first, int count) = 0;
};

}  // namespace kalmira
