// Drawing fuzzing: the input is a run of BIFF records (id, size, data); a
// drawing group (when the first record is MSODRAWINGGROUP) and then a sheet
// drawing load from them, OBJ and TXO records standing in for the shapes'
// client data. What loads must save at its computed size, load again and
// save to the same bytes; so must the drawing after rows are inserted and
// deleted around its anchors, after its first shape is copied and after its
// first picture is deleted.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"
#include "tests/workbook/drawing/EscherTestSupport.h"

using namespace kalmira;
using namespace eschertest;

namespace {

// Columns of 64 pixels, rows of 20.
class TGrid : public TEscherSheet {
public:
    double ColumnWidthPx(int) const override { return 64; }
    double RowHeightPx(int) const override { return 20; }
};

template <class Load>
void LoadFrom(const Bytes& stream, Load load) {
    TListSource source(RecordsOf(stream));
    const std::int64_t left = static_cast<std::int64_t>(stream.size());
    load(source.Next(), source, left);
}

// Saves the drawing, loads it again beside the group as it is now and saves
// it again.
void SaveReloadSave(const TDrawing& sheet, const TDrawingGroup& group) {
    const Bytes saved = SavedTree(sheet);
    TDrawingGroup groupAgain;
    TDrawing again(&groupAgain);
    TTestClientFactory clients;
    if (group.HasTree())
        LoadFrom(SavedTree(group), [&](auto first, auto& source, std::int64_t left) {
            groupAgain.LoadFromStream(std::move(first), source, left);
        });
    LoadFrom(saved, [&](auto first, auto& source, std::int64_t left) {
        again.LoadFromStream(std::move(first), source, clients, left);
    });
    if (SavedTree(again) != saved) std::abort();
}

// Each change may be refused (shapes that may not be copied or removed,
// anchors pushed off the sheet); what it leaves must save and load again.
void Try(TDrawing& sheet, const TDrawingGroup& group, const std::function<void()>& change) {
    fuzzsupport::TryEach({change});
    SaveReloadSave(sheet, group);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TListSource source(RecordsOf(Bytes(data, data + size)));
    TTestClientFactory clients;
    TDrawingGroup group;
    TDrawing sheet(&group);
    try {
        auto first = source.Next();
        if (!first) return 0;
        if (first->Id == EscherBiffGroup) {
            group.LoadFromStream(std::move(first), source, static_cast<std::int64_t>(size));
            first = source.Next();
            if (!first) return 0;
        }
        sheet.LoadFromStream(std::move(first), source, clients, static_cast<std::int64_t>(size));
    } catch (const Exception&) {
        // Refused input: the message is the expected outcome.
    }
    if (group.HasTree()) SavedTree(group);
    if (sheet.Empty()) return 0;
    SaveReloadSave(sheet, group);
    const TGrid grid;
    const TSheetInfo info;
    sheet.SaveObjectCoords(grid);
    Try(sheet, group, [&] {
        sheet.CheckInsert(2, 3, 1, 1);
        sheet.ArrangeInsertRowsAndCols(2, 3, 1, 1, info, grid);
    });
    Try(sheet, group, [&] { sheet.DeleteRowsAndCols(1, 4, 0, 0, info, grid); });
    Try(sheet, group, [&] { sheet.InsertAndCopy(0, 3, 6, 2, false, info, grid); });
    if (sheet.DrawingCount() > 0) Try(sheet, group, [&] { sheet.DeleteImage(0); });
    return 0;
}
