// A number format added to a new workbook, whose template has no FORMAT
// record, is written where the layout counts it and reads back.
#include <gtest/gtest.h>

#include "workbook/api/XLSAdapter.h"
#include "workbook/storage/UKmrStreams.h"

using namespace kalmira;

TEST(XLSFileNewFile, AddedNumberFormatSaved) {
    TXLSFile file(nullptr, true);
    file.Connect(), file.NewFile(1);
    TKmrFormat format = file.GetFormatList(15);
    format.Format = u"dd.mm.yyyy";
    const int xf = file.AddFormat(format);
    TKmrMemoryStream saved;
    file.Save(false, "", nullptr, nullptr, &saved);
    TKmrMemoryStream again(saved.Bytes());
    file.LoadFromStream(again);
    EXPECT_EQ(file.GetFormatList(xf).Format, u"dd.mm.yyyy");
}
