// Workbook globals that are only a string table, for cells kept outside a
// workbook.
#pragma once

#include "workbook/storage/UXlsGlobalsAccess.h"

struct TSSTGlobals : kalmira::TSST, kalmira::TGlobalsAccess {
    kalmira::TSST& SST() override { return *this; }
    int FindSheet(std::u16string_view) const override { return -1; }
};
