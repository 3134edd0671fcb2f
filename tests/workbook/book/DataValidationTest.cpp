// A worksheet's data validations: DVAL loads into its own class and is
// written back with its DV record as read.
#include <algorithm>

#include <gtest/gtest.h>

#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/cells/UXlsRangeRecords.h"
#include "workbook/storage/Uxlssheet.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"

using namespace kalmira;
using namespace ole2test;

TEST(DataValidation, KeptAsRead) {
    // DVAL: no drop-down object (-1), one DV; the DV: whole numbers between
    // 1 and 9 on A1, four empty texts.
    const Bytes validations = Cat({Rec(0x1B2, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}),
                                   Rec(0x1BE, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0,
                                               0x1E, 1, 0, 3, 0, 0, 0, 0x1E, 9, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0})});
    TStreamFile f(Cat({Rec(0x809, {0, 6, 0x10, 0, 0xBB, 0x0D, 0xCC, 7, 0, 0, 0, 0, 6, 0, 0, 0}),
                       Rec(0x23E, {0xB6, 6, 0, 0, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), validations,
                       Rec(0x0A, {})}));
    TWorkbookGlobals globals;
    TWorkSheet sheet(&globals);
    auto header = f.FirstHeader();
    auto bof = LoadRecords(f.Ole, header);
    sheet.LoadFromStream(f.Ole, header, std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(bof.release())),
                         globals.SST());
    const Bytes saved = Written([&](TOle2File& ole) { sheet.SaveToStream(ole); });
    EXPECT_NE(std::search(saved.begin(), saved.end(), validations.begin(), validations.end()), saved.end());
    EXPECT_TRUE(LoadAs<TDValRecord>(0x1B2, Bytes(validations.begin() + 4, validations.begin() + 22)));
}
