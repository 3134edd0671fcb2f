// What the cell storage needs of the workbook globals: the shared string
// table that labels point into, and the sheet directory to find a sheet by
// its name. The globals provide it.
#pragma once

#include <string_view>

#include "workbook/storage/UXlsSST.h"

namespace kalmira {

class TGlobalsAccess {
public:
    virtual ~TGlobalsAccess() = default;
    virtual TSST& SST() = 0;
    // The index of the sheet of that name (compared upper-cased), or -1.
    virtual int FindSheet(std::u16string_view name) const = 0;
};

}  // namespace kalmira
