// A LibreOffice workbook with a picture, a rectangle with text and an oval
// (its round trip is roundtrip_check.py's): a copy of a sheet's drawing.
#include <gtest/gtest.h>

#include "tests/workbook/drawing/EscherTestSupport.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/storage/Uexcelrecords.h"

namespace {

using namespace eschertest;

// The records of the stream as the loader reads them.
class TStreamSource : public TEscherRecordSource {
public:
    explicit TStreamSource(TOle2File& ole) : FOle(ole) { ReadRecordHeader(FOle, FHeader); }
    std::unique_ptr<TBaseRecord> Next() override {
        if (Done) return nullptr;
        Done = FOle.NextEof(3);  // the record about to be read is the last
        return LoadRecords(FOle, FHeader);
    }
    bool Done = false;

private:
    TOle2File& FOle;
    TRecordHeader FHeader{};
};

// The workbook's trees in stream order.
struct TFixtureTrees {
    TEscherDwgGroupCache Group;
    std::vector<std::unique_ptr<TEscherTree>> Trees;
};

std::unique_ptr<TFixtureTrees> LoadFixture() {
    TKmrMemoryStream memory(ole2test::ReadFile(ole2test::FixtureDir() + "/drawings.xls"));
    TOle2File ole(&memory);
    ole.SelectStream(u"Workbook");
    TStreamSource source(ole);
    TTestClientFactory clients;
    auto out = std::make_unique<TFixtureTrees>();
    while (!source.Done) {
        auto record = source.Next();
        if (record->Id != EscherBiffGroup && record->Id != EscherBiffDrawing) continue;
        out->Trees.push_back(std::make_unique<TEscherTree>(record->Id, &out->Group));
        out->Trees.back()->LoadFromStream(std::move(record), source, &clients, ole.Length() - ole.Position());
    }
    return out;
}

TEST(EscherFixture, CopiedSheetDrawingIsANewDrawingWithItsOwnIds) {
    auto fixture = LoadFixture();
    ASSERT_EQ(fixture->Trees.size(), 3u);
    TEscherDwgGroupCache& group = fixture->Group;
    TEscherDggRecord& dgg = *group.Dgg;
    TEscherTree copy(EscherBiffDrawing, &group);
    copy.CopyFrom(*fixture->Trees[1]);
    // Drawings 1 and 2 own clusters 0 and 1: the copy is drawing 3 with a
    // third cluster appended, ids 0xC00 on; it shows the stored PNG too.
    EXPECT_EQ(copy.Cache()->Dg->LastShapeId(), 0xC02u);
    EXPECT_EQ(dgg.Data, Bytes({0x03, 0x0C, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0, 3, 0, 0, 0,  // next id, clusters + 1, shapes, drawings
                               1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(group.BStore->Entry(0)->References(), 2u);
}

}  // namespace
