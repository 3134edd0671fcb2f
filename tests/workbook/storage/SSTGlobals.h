// Workbook globals that are only a string table, for cells kept outside a
// workbook.
#pragma once

#include "workbook/storage/UXlsGlobalsAccess.h"

struct TSSTGlobals : kalmira::TSST, kalmira::TGlobalsAccess {
    kalmira::TSST& SST() override { return *this; }
    int FindSheet(std::u16string_view) const override { return -1; }
    std::u16string GetSheetName(int) const override { return {}; }
    std::u16string GetName(int, int) const override { return {}; }
    int AddExternSheet(int, int) override { throw kalmira::Exception("no sheets"); }
    kalmira::TReferencesMark MarkReferences() const override { return {}; }
    void RestoreReferences(const kalmira::TReferencesMark&) override {}
};
