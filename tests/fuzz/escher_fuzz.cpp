// Drawing tree fuzzing: the input is a run of BIFF records (id, size,
// data); a drawing group (when the first record is MSODRAWINGGROUP) and then
// a sheet drawing load from them, OBJ and TXO records standing in for the
// shapes' client data. What loads must save at its computed size, load
// again and save to the same bytes; a copy of its first shape saves and
// loads again too.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tests/workbook/drawing/EscherTestSupport.h"

using namespace kalmira;
using namespace eschertest;

namespace {

// Saves the tree, loads it again (a sheet's with the group as it is now)
// and saves it again.
void SaveReloadSave(const TEscherTree& tree, const TEscherTree* groupTree) {
    const Bytes saved = SavedTree(tree);
    TEscherDwgGroupCache group;
    TEscherTree groupAgain(EscherBiffGroup, &group), again(tree.BiffId(), &group);
    if (groupTree && groupTree->Root()) LoadTree(groupAgain, SavedTree(*groupTree));
    LoadTree(again, saved);
    if (SavedTree(again) != saved) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TListSource source(RecordsOf(Bytes(data, data + size)));
    TTestClientFactory clients;
    TEscherDwgGroupCache group;
    TEscherTree groupTree(EscherBiffGroup, &group);
    TEscherTree sheet(EscherBiffDrawing, &group);
    try {
        auto first = source.Next();
        if (!first) return 0;
        if (first->Id == EscherBiffGroup) {
            groupTree.LoadFromStream(std::move(first), source, &clients, static_cast<std::int64_t>(size));
            first = source.Next();
            if (!first) return 0;
        }
        sheet.LoadFromStream(std::move(first), source, &clients, static_cast<std::int64_t>(size));
    } catch (const Exception&) {
        // Refused input: the message is the expected outcome.
    }
    try {
        if (groupTree.Root()) SaveReloadSave(groupTree, nullptr);
        if (!sheet.Root()) return 0;
        SaveReloadSave(sheet, &groupTree);
        const auto& shapes = sheet.Cache()->Shape.Items();
        if (!shapes.empty() && shapes.back()->FindRoot()) {
            shapes.back()->CopyDwg(1, 1, nullptr);
            SaveReloadSave(sheet, &groupTree);
        }
    } catch (const Exception&) {
        // Copies of shapes that may not be copied are refused.
    }
    return 0;
}
