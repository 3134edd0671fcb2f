// A LibreOffice workbook with a picture, a rectangle with text and an oval:
// its drawing group and each sheet's drawing load into trees and save back
// byte for byte.
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
    // Where the next record starts.
    std::int64_t At() const { return FOle.Position() - (Done ? 0 : 4); }
    bool Done = false;

private:
    TOle2File& FOle;
    TRecordHeader FHeader{};
};

// The workbook's trees in stream order, each checked to save back as read.
struct TFixtureTrees {
    TEscherDwgGroupCache Group;
    std::vector<std::unique_ptr<TEscherTree>> Trees;
};

std::unique_ptr<TFixtureTrees> LoadFixture() {
    const Bytes file = ole2test::ReadFile(ole2test::FixtureDir() + "/drawings.xls");
    const Bytes stream = ole2test::ReadStream(file, u"Workbook");
    TKmrMemoryStream memory(file);
    TOle2File ole(&memory);
    ole.SelectStream(u"Workbook");
    TStreamSource source(ole);
    TTestClientFactory clients;
    auto out = std::make_unique<TFixtureTrees>();
    while (!source.Done) {
        const std::int64_t start = source.At();
        auto record = source.Next();
        if (record->Id != EscherBiffGroup && record->Id != EscherBiffDrawing) continue;
        out->Trees.push_back(std::make_unique<TEscherTree>(record->Id, &out->Group));
        TEscherTree& tree = *out->Trees.back();
        tree.LoadFromStream(std::move(record), source, &clients, ole.Length() - ole.Position());
        EXPECT_EQ(SavedTree(tree), Bytes(stream.begin() + start, stream.begin() + source.At()))
            << "tree " << out->Trees.size();
    }
    return out;
}

TEST(EscherFixture, LibreOfficeDrawingsSaveBackByteForByte) {
    auto fixture = LoadFixture();
    const auto& trees = fixture->Trees;
    ASSERT_EQ(trees.size(), 3u);
    TEscherDwgGroupCache& group = fixture->Group;
    ASSERT_TRUE(group.Dgg && group.BStore);
    EXPECT_EQ(group.BStore->Children().Count(), 1u);
    EXPECT_EQ(trees[1]->Cache()->Shape.Count(), 3u);  // with the patriarch
    EXPECT_EQ(trees[2]->Cache()->Shape.Count(), 2u);
    // The picture's properties point at the stored PNG.
    const TEscherOPTCache& pictures = trees[1]->Cache()->Blip;
    ASSERT_EQ(pictures.Count(), 1u);
    EXPECT_EQ(pictures.Items()[0]->Blips().at(0).Entry, group.BStore->Entry(0));
}

TEST(EscherFixture, CopiedSheetDrawingIsANewDrawingWithItsOwnIds) {
    auto fixture = LoadFixture();
    TEscherDwgGroupCache& group = fixture->Group;
    TEscherDggRecord& dgg = *group.Dgg;
    TEscherTree copy(EscherBiffDrawing, &group);
    copy.CopyFrom(*fixture->Trees[1]);
    TEscherDwgCache& cache = *copy.Cache();
    // Drawings 1 and 2 own clusters 0 and 1: the copy is drawing 3 with a
    // third cluster appended, ids 0xC00 on.
    EXPECT_EQ(cache.Dg->DrawingId(), 3u);
    EXPECT_EQ(cache.Dg->LastShapeId(), 0xC02u);
    EXPECT_EQ(dgg.Size, 40u);
    EXPECT_EQ(dgg.Data, Bytes({0x03, 0x0C, 0, 0, 4, 0, 0, 0, 8, 0, 0, 0, 3, 0, 0, 0,  // next id, clusters + 1, shapes, drawings
                               1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_TRUE(cache.Shape.Find(0xC00) && cache.Shape.Find(0xC02));
    EXPECT_EQ(group.BStore->Entry(0)->References(), 2u);
    // The copy and the grown group load again as they were saved.
    const Bytes groupBytes = SavedTree(*fixture->Trees[0]), copyBytes = SavedTree(copy);
    TEscherDwgGroupCache reloaded;
    TEscherTree groupAgain(EscherBiffGroup, &reloaded), copyAgain(EscherBiffDrawing, &reloaded);
    LoadTree(groupAgain, groupBytes);
    LoadTree(copyAgain, copyBytes);
    EXPECT_EQ(SavedTree(groupAgain), groupBytes);
    EXPECT_EQ(SavedTree(copyAgain), copyBytes);
    EXPECT_EQ(copyAgain.Cache()->Blip.Count(), 1u);
}

}  // namespace
