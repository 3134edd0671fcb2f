// The drawing record tree: literal trees load into their records, save to
// the same bytes, copy shapes and cut their bytes at 8224; damaged trees
// fail with the engine's message.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/workbook/drawing/EscherTestSupport.h"
#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/RecordBytes.h"

namespace {

using namespace eschertest;
using ole2test::Cat;
using ole2test::Rec;

// A sheet drawing: the patriarch, a picture with an unknown record 0xF122
// and an OBJ, and a solver with an arc rule on the picture, in two
// MSODRAWING records around the OBJ.
const Bytes PictureDrawing = {
    0x0F, 0x00, 0x02, 0xF0, 0xA6, 0x00, 0x00, 0x00,  // drawing container, 166 bytes
    0x10, 0x00, 0x08, 0xF0, 0x08, 0x00, 0x00, 0x00,  //   Dg, drawing 1
    0x02, 0x00, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00,  //     2 shapes, last id 0x401
    0x0F, 0x00, 0x03, 0xF0, 0x76, 0x00, 0x00, 0x00,  //   patriarch, 118 bytes
    0x0F, 0x00, 0x04, 0xF0, 0x28, 0x00, 0x00, 0x00,  //     shape container, 40 bytes
    0x01, 0x00, 0x09, 0xF0, 0x10, 0x00, 0x00, 0x00,  //       shape group record
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
    0x02, 0x00, 0x0A, 0xF0, 0x08, 0x00, 0x00, 0x00,  //       SP
    0x00, 0x04, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,  //         id 0x400, group + patriarch
    0x0F, 0x00, 0x04, 0xF0, 0x3E, 0x00, 0x00, 0x00,  //     shape container, 62 bytes
    0xB2, 0x04, 0x0A, 0xF0, 0x08, 0x00, 0x00, 0x00,  //       SP
    0x01, 0x04, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00,  //         id 0x401
    0x00, 0x00, 0x22, 0xF1, 0x04, 0x00, 0x00, 0x00,  //       unknown 0xF122
    0xDE, 0xAD, 0xBE, 0xEF,                          //
    0x00, 0x00, 0x10, 0xF0, 0x12, 0x00, 0x00, 0x00,  //       client anchor
    0x02, 0x00, 0x01, 0x00, 0x10, 0x00, 0x03, 0x00,  //         flags 2, B+16, row 4+0x20
    0x20, 0x00, 0x02, 0x00, 0x00, 0x00, 0x06, 0x00,  //         C, row 7
    0x00, 0x00,                                      //
    0x00, 0x00, 0x11, 0xF0, 0x00, 0x00, 0x00, 0x00,  //       client data
};
const Bytes PictureObj = {0x15, 0x00, 0x12, 0x00, 0x08, 0x00, 0x01, 0x00, 0x11, 0x60, 0, 0, 0,
                          0,    0,    0,    0,    0,    0,    0,    0,    0,    0x00, 0x00, 0x00, 0x00};
const Bytes Solver = {
    0x1F, 0x00, 0x05, 0xF0, 0x10, 0x00, 0x00, 0x00,  // solver container, 1 rule
    0x00, 0x00, 0x14, 0xF0, 0x08, 0x00, 0x00, 0x00,  //   arc rule
    0x02, 0x00, 0x00, 0x00, 0x01, 0x04, 0x00, 0x00,  //     rule 2 on shape 0x401
};
const Bytes PictureStream = Cat({Rec(0xEC, PictureDrawing), Rec(0x5D, PictureObj), Rec(0xEC, Solver)});

TEST(EscherTree, LiteralTreeLoadsIntoItsRecordsAndSavesTheSameBytes) {
    TEscherTree tree(EscherBiffDrawing, nullptr);
    LoadTree(tree, PictureStream);
    TEscherDwgCache& cache = *tree.Cache();
    ASSERT_TRUE(cache.Dg && cache.Patriarch && cache.Solver);
    ASSERT_EQ(cache.Shape.Count(), 2u);
    TEscherSPRecord* picture = cache.Shape.Find(0x401);
    ASSERT_TRUE(picture);
    auto* shape = dynamic_cast<TEscherSpContainerRecord*>(picture->Parent());
    ASSERT_TRUE(shape && shape->ClientAnchor);
    EXPECT_EQ(shape->ClientAnchor->GetAnchor(), (TClientAnchor{2, 1, 16, 3, 32, 2, 0, 6, 0}));
    EXPECT_EQ(SavedTree(tree), PictureStream);

    // The solver in a CONTINUE behind the OBJ is written as its own MSODRAWING.
    TEscherTree continued(EscherBiffDrawing, nullptr);
    LoadTree(continued, Cat({Rec(0xEC, PictureDrawing), Rec(0x5D, PictureObj), Rec(0x3C, Solver)}));
    EXPECT_EQ(SavedTree(continued), PictureStream);
}

TEST(EscherTree, CopiedShapeTakesNewIdsAndItsRuleFollows) {
    TEscherTree tree(EscherBiffDrawing, nullptr);
    LoadTree(tree, PictureStream);
    TEscherDwgCache& cache = *tree.Cache();
    cache.Shape.Find(0x401)->CopyDwg(5, 0, nullptr);
    EXPECT_EQ(cache.Dg->ShapeCount(), 3u);
    TEscherSPRecord* copy = cache.Shape.Find(0x402);
    ASSERT_TRUE(copy);
    auto* copied = static_cast<TEscherSpContainerRecord*>(copy->Parent());
    auto* data = copied->FindRec<TEscherClientDataRecord>();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->ObjId(), 2);
    EXPECT_EQ(static_cast<TTestClientData*>(data->ClientData())->Moved, 5);
    EXPECT_EQ(cache.Solver->RuleCount(), 2u);
    const Bytes saved = SavedTree(tree);
    // The copy's bytes: the shape container again, with the new shape and
    // object ids, its OBJ, then the solver with the copied rule 4.
    const Bytes rule4 = {0x00, 0x00, 0x14, 0xF0, 0x08, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x00};
    EXPECT_EQ(Bytes(saved.end() - 16, saved.end()), rule4);
    // Deleting the copied shape removes its rule with it.
    copied->Parent()->DeleteChild(copied);
    EXPECT_EQ(cache.Solver->RuleCount(), 1u);
    EXPECT_EQ(cache.Dg->ShapeCount(), 2u);
    EXPECT_EQ(SavedTree(tree).size(), PictureStream.size());
}

// Shapes that cannot be copied keep their bytes.
TEST(EscherTree, EmbeddedObjectsAndAlignRulesRefuseCopiesBeforeAnyChange) {
    Bytes obj = PictureObj, aligned = PictureStream;
    obj[22] = 0x09;                       // an embedded object's sub-record
    aligned[aligned.size() - 14] = 0x13;  // the arc rule becomes an align rule
    const std::pair<Bytes, std::string> cases[] = {
        {Cat({Rec(0xEC, PictureDrawing), Rec(0x5D, obj), Rec(0xEC, Solver)}), ErrCantCopyPictFmla},
        {aligned, "This file has a not implemented kind of record: Align Rule"},
    };
    for (const auto& [stream, message] : cases) {
        TEscherTree tree(EscherBiffDrawing, nullptr);
        LoadTree(tree, stream);
        EXPECT_EQ(SavedTree(tree), stream);
        EXPECT_EQ(MessageOf([&] { tree.Cache()->Shape.Find(0x401)->CopyDwg(1, 0, nullptr); }), message);
        EXPECT_EQ(SavedTree(tree), stream);
    }
}

// A tree of one unknown data record of n bytes inside the drawing container.
Bytes OneRecordTree(std::uint32_t n, std::uint16_t type = 0xF122) {
    Bytes tree = {0x0F, 0x00, 0x02, 0xF0, 0, 0, 0, 0, 0x00, 0x00, static_cast<std::uint8_t>(type),
                  static_cast<std::uint8_t>(type >> 8), 0, 0, 0, 0};
    SetLongWord(tree, 4, n + 8);
    SetLongWord(tree, 12, n);
    for (std::uint32_t i = 0; i < n; ++i) tree.push_back(static_cast<std::uint8_t>(i * 7));
    return tree;
}

// The BIFF records of saved bytes: id and size.
std::vector<std::pair<int, int>> Layout(const Bytes& stream) {
    std::vector<std::pair<int, int>> out;
    for (const auto& r : ole2test::ParseRecords(stream)) out.emplace_back(r.Id, static_cast<int>(r.Data.size()));
    return out;
}

TEST(EscherTree, StretchesSplitAt8224Bytes) {
    using L = std::vector<std::pair<int, int>>;
    struct Case {
        std::uint32_t DataSize;
        L Records;
    } cases[] = {
        {8208, {{0xEC, 8224}}},               // exactly one chunk
        {8209, {{0xEC, 8224}, {0x3C, 1}}},    // one byte more
        {20000, {{0xEC, 8224}, {0x3C, 8224}, {0x3C, 3568}}},
    };
    for (const Case& c : cases) {
        const Bytes tree = OneRecordTree(c.DataSize);
        TEscherTree loaded(EscherBiffDrawing, nullptr);
        // Given in one MSODRAWING with CONTINUE records of any length.
        Bytes stream = Rec(0xEC, Bytes(tree.begin(), tree.begin() + 100));
        for (std::size_t at = 100; at < tree.size(); at += 5000)
            stream = Cat({stream, Rec(0x3C, Bytes(tree.begin() + at, tree.begin() + std::min(tree.size(), at + 5000)))});
        LoadTree(loaded, stream);
        const Bytes saved = SavedTree(loaded);
        EXPECT_EQ(Layout(saved), c.Records) << c.DataSize;
        TEscherTree again(EscherBiffDrawing, nullptr);
        LoadTree(again, saved);
        EXPECT_EQ(SavedTree(again), saved);
    }
}

TEST(EscherTree, HeaderCutAtTheChunkEndGoesOnInAContinue) {
    // The second record's header starts 4 bytes before the end of the chunk.
    Bytes tree = OneRecordTree(8204);
    const Bytes tail = {0x00, 0x00, 0x33, 0xF1, 0x04, 0x00, 0x00, 0x00, 1, 2, 3, 4};
    tree.insert(tree.end(), tail.begin(), tail.end());
    SetLongWord(tree, 4, 8204 + 8 + 12);
    TEscherTree loaded(EscherBiffDrawing, nullptr);
    LoadTree(loaded, Cat({Rec(0xEC, Bytes(tree.begin(), tree.begin() + 8224)),
                          Rec(0x3C, Bytes(tree.begin() + 8224, tree.end()))}));
    const Bytes saved = SavedTree(loaded);
    const auto records = ole2test::ParseRecords(saved);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(Bytes(records[0].Data.end() - 4, records[0].Data.end()), Bytes({0x00, 0x00, 0x33, 0xF1}));
    EXPECT_EQ(records[1].Id, 0x3C);
    EXPECT_EQ(records[1].Data, Bytes({0x04, 0x00, 0x00, 0x00, 1, 2, 3, 4}));
}

// 100,000 containers, each holding the next.
Bytes DeepTree(int levels) {
    Bytes tree;
    for (int k = 0; k < levels; ++k) {
        Bytes header = {0x0F, 0x00, static_cast<std::uint8_t>(k ? 0x00 : 0x02), 0xF0, 0, 0, 0, 0};
        SetLongWord(header, 4, static_cast<std::uint32_t>(8 * (levels - 1 - k)));
        tree.insert(tree.end(), header.begin(), header.end());
    }
    Bytes stream = Rec(0xEC, Bytes(tree.begin(), tree.begin() + 8224));
    for (std::size_t at = 8224; at < tree.size(); at += 8224)
        stream = Cat({stream, Rec(0x3C, Bytes(tree.begin() + at, tree.begin() + std::min(tree.size(), at + 8224)))});
    return stream;
}

// drawing_check.py opens the damaged files of make_fixtures.py (a child
// past its container, a property table past its data, a second Dg, a
// missing OBJ, a drawing not continued).
TEST(EscherTree, DamagedTreesFailWithTheirMessage) {
    const std::string escher = ErrLoadingEscher;
    const Bytes tree40 = OneRecordTree(40);
    struct Case {
        const char* What;
        Bytes Stream;
        std::string Message;
        std::int64_t StreamLeft = 100000;
    } cases[] = {
        {"root past the stream", Rec(0xEC, Bytes(tree40.begin(), tree40.begin() + 30)), escher, 0},
        {"100,000 levels", DeepTree(100000), escher},
        {"root not a container", Rec(0xEC, Bytes{0x00, 0x00, 0x02, 0xF0, 0, 0, 0, 0}), escher},
        {"bytes behind the root", Rec(0xEC, Cat({OneRecordTree(2), {1, 2, 3}})), escher},
    };
    for (const Case& c : cases) {
        TEscherTree tree(EscherBiffDrawing, nullptr);
        EXPECT_EQ(MessageOf([&] { LoadTree(tree, c.Stream, c.StreamLeft); }), c.Message) << c.What;
        EXPECT_FALSE(tree.Root()) << c.What;
    }
}

}  // namespace
