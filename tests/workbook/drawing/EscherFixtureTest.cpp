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

TEST(EscherFixture, LibreOfficeDrawingsSaveBackByteForByte) {
    const Bytes file = ole2test::ReadFile(ole2test::FixtureDir() + "/drawings.xls");
    const Bytes stream = ole2test::ReadStream(file, u"Workbook");
    TKmrMemoryStream memory(file);
    TOle2File ole(&memory);
    ole.SelectStream(u"Workbook");
    TStreamSource source(ole);
    TEscherDwgGroupCache group;
    std::vector<std::unique_ptr<TEscherTree>> trees;
    TTestClientFactory clients;
    std::vector<std::size_t> shapes;
    while (!source.Done) {
        const std::int64_t start = source.At();
        auto record = source.Next();
        if (record->Id != EscherBiffGroup && record->Id != EscherBiffDrawing) continue;
        trees.push_back(std::make_unique<TEscherTree>(record->Id, &group));
        TEscherTree& tree = *trees.back();
        tree.LoadFromStream(std::move(record), source, &clients, ole.Length() - ole.Position());
        EXPECT_EQ(SavedTree(tree), Bytes(stream.begin() + start, stream.begin() + source.At())) << trees.size();
        if (tree.Cache()) shapes.push_back(tree.Cache()->Shape.Count());
    }
    ASSERT_EQ(trees.size(), 3u);
    ASSERT_TRUE(group.Dgg && group.BStore);
    EXPECT_EQ(group.BStore->Children().Count(), 1u);
    EXPECT_EQ(shapes, (std::vector<std::size_t>{3, 2}));  // each with its patriarch
    // The picture's properties point at the stored PNG.
    const TEscherOPTCache& pictures = trees[1]->Cache()->Blip;
    ASSERT_EQ(pictures.Count(), 1u);
    EXPECT_EQ(pictures.Items()[0]->Blips().at(0).Entry, group.BStore->Entry(0));
}

}  // namespace
