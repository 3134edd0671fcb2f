// What the cell storage needs of the workbook globals: the shared string
// table that labels point into, and the sheet directory to find a sheet by
// its name. The globals provide it.
#pragma once

#include <string>
#include <string_view>

#include "workbook/storage/UXlsSST.h"

namespace kalmira {

struct TReferencesMark { int ExternRefs = 0; int SupBooks = 0; };

class TGlobalsAccess {
public:
    virtual ~TGlobalsAccess() = default;
    virtual TSST& SST() = 0;
    // The index of the sheet of that name (compared upper-cased), or -1.
    virtual int FindSheet(std::u16string_view name) const = 0;
    // The prefix of a 3-D reference through EXTERNSHEET entry externSheet,
    // e.g. "'Sheet2'!" (empty for a deleted sheet).
    virtual std::u16string GetSheetName(int externSheet) const = 0;
    // The text of a defined name (this workbook's, nameIndex from 0) or an
    // external name, through EXTERNSHEET entry externSheet (< 0: this workbook).
    virtual std::u16string GetName(int externSheet, int nameIndex) const = 0;
    // The EXTERNSHEET index of the span firstSheet..lastSheet of this
    // workbook, added (with the local SUPBOOK when there is none) if absent.
    virtual int AddExternSheet(int firstSheet, int lastSheet) = 0;
    // What the references hold now, and the way back to it: a refused
    // formula takes back the entries and the local SUPBOOK it added.
    virtual TReferencesMark MarkReferences() const = 0;
    virtual void RestoreReferences(const TReferencesMark& mark) = 0;
};

}  // namespace kalmira
