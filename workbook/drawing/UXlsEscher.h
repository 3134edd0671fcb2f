// A drawing tree with its caches, loaded from and saved to BIFF records:
// what the drawing group (MSODRAWINGGROUP) and each sheet's drawing
// (MSODRAWING, with the OBJ and TXO records of its shapes) hold.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "workbook/drawing/UEscherOtherRecords.h"
#include "workbook/storage/UKmrStreams.h"

namespace kalmira {

class TEscherTree {
public:
    // biffId: MSODRAWINGGROUP (the workbook's tree, no sheet caches) or
    // MSODRAWING (a sheet's); group: the workbook's cache, shared by all.
    TEscherTree(std::uint16_t biffId, TEscherDwgGroupCache* group);
    ~TEscherTree();
    TEscherTree(const TEscherTree&) = delete;
    TEscherTree& operator=(const TEscherTree&) = delete;

    // Loads the tree from its first BIFF record on: further records come
    // from the source (records of biffId, and between them the client
    // records of shapes, built by the factory). streamLeft: the bytes the
    // stream holds behind the first record, which the root may not claim
    // to pass. A second load, a record of another kind where drawing bytes
    // are due, no OBJ or TXO where a shape waits for one: "File invalid".
    void LoadFromStream(std::unique_ptr<TBaseRecord> first, TEscherRecordSource& source,
                        TClientDataFactory* clients, std::int64_t streamLeft);
    void SaveToStream(TOle2File& ole) const;
    // Bytes SaveToStream writes, BIFF headers and client records included.
    std::int64_t TotalSize() const;
    void Clear();
    // Makes this tree a copy of another sheet's: a drawing of its own with
    // new shape ids, the pictures referenced once more.
    void CopyFrom(const TEscherTree& source);

    TEscherContainerRecord* Root() const { return FRoot.get(); }
    // A root built in memory, for a tree that has none.
    void SetRoot(std::unique_ptr<TEscherContainerRecord> root);
    // Null for the workbook's tree.
    TEscherDwgCache* Cache() const { return FCache.get(); }
    std::uint16_t BiffId() const { return FBiffId; }

private:
    friend class TDrawingGroupChanges;
    void Split(TEscherSplitState& state) const;
    void ClaimShapeIds();

    std::uint16_t FBiffId;
    TEscherDwgGroupCache* FGroup;
    std::unique_ptr<TEscherDwgCache> FCache;
    std::unique_ptr<TEscherContainerRecord> FRoot;
};

// A picture number outside the sheet's pictures.
inline constexpr const char* ErrDrawingIndex = "Index out of range";
// A sheet drawing made where no drawing group can hold it.
inline constexpr const char* ErrNoDrawingGroup = "DrawingGroup can't be nil";

// The anchor of a picture placed where the properties say (rows and
// columns from 0): flags 0, 2 or 3 by the anchor type.
TClientAnchor ImageAnchor(const TImageProperties& properties, TKmrAnchorType anchorType);

// Makes the client data of a new shape with the object id given.
using TClientDataMaker = std::function<std::unique_ptr<TBaseClientData>(std::uint16_t id)>;

// What the drawings of one sheet change in the workbook's drawing group as
// they load: the shape ids they claim from its clusters and the stored
// pictures their shapes show. While worksheets load side by side, each
// sheet's drawings gather their changes here (a TGathering set on the
// loading thread) instead of making them; the workbook makes them once every
// sheet has loaded, sheet after sheet in stream order, which leaves the
// group as loading the sheets one after the other does. A drawing that goes
// while its sheet gathers would have freed its clusters there and then:
// the changes are no longer known (Sound() false), and the workbook loads
// the sheets in turn.
class TDrawingGroupChanges {
public:
    // The changes of the drawings loaded on this thread while it lives.
    class TGathering {
    public:
        explicit TGathering(TDrawingGroupChanges& changes);
        ~TGathering();
        TGathering(const TGathering&) = delete;
        TGathering& operator=(const TGathering&) = delete;

    private:
        TDrawingGroupChanges* FOuter;
    };
    // Where this thread's drawings put their changes, or null: make them.
    static TDrawingGroupChanges* Current();

    void Claim(TEscherTree& tree);
    void Show(TEscherBSERecord& entry) { FShown.push_back(&entry); }
    void Unsound() { FSound = false; }
    bool Sound() const { return FSound; }
    // Makes the changes; the trees and entries are still there (nothing
    // went while gathering, or the changes are unsound and not made).
    void Apply();

private:
    std::vector<TEscherTree*> FClaims;
    std::vector<TEscherBSERecord*> FShown;
    bool FSound = true;
};

// The workbook's drawing group: the MSODRAWINGGROUP tree with the drawing
// group record, which hands out drawing and shape ids, and the BLIP store
// that every sheet's pictures share.
class TDrawingGroup {
public:
    TDrawingGroup() : FTree(EscherBiffGroup, &FCache) {}

    // A second group, or a record of another kind where the tree needs
    // bytes: "Error reading Excel records. File invalid".
    void LoadFromStream(std::unique_ptr<TBaseRecord> first, TEscherRecordSource& source, std::int64_t streamLeft) {
        FTree.LoadFromStream(std::move(first), source, nullptr, streamLeft);
    }
    void SaveToStream(TOle2File& ole) const;
    std::int64_t TotalSize() const { return FTree.TotalSize(); }
    void Clear() { FTree.Clear(); }
    bool HasTree() const { return FTree.Root() != nullptr; }
    // Makes the tree where there is none, and in it whatever is missing of
    // the drawing group record, the BLIP store, the default shape
    // properties and the split menu colours.
    void EnsureDwgGroup();
    // Orders a loaded store by size and identity; the shapes hold entries,
    // not positions, so their pictures stay theirs.
    void SortBlips();
    TEscherDwgGroupCache* GetRecordCache() { return &FCache; }

private:
    TEscherDwgGroupCache FCache;
    TEscherTree FTree;
};

// A sheet's drawing: its MSODRAWING tree, the pictures in the order they
// were loaded, and the anchors following row and column changes.
class TDrawing {
public:
    // group may be null only for sheets outside a workbook.
    explicit TDrawing(TDrawingGroup* group)
        : FGroup(group), FTree(EscherBiffDrawing, group ? group->GetRecordCache() : nullptr) {}

    void LoadFromStream(std::unique_ptr<TBaseRecord> first, TEscherRecordSource& source, TClientDataFactory& clients,
                        std::int64_t streamLeft) {
        FTree.LoadFromStream(std::move(first), source, &clients, streamLeft);
    }
    void SaveToStream(TOle2File& ole) const;
    std::int64_t TotalSize() const { return FTree.TotalSize(); }
    void Clear() {
        FOwned.clear();
        FTree.Clear();
    }
    // A copy of another sheet's drawing: a drawing of its own, new shape
    // ids, object ids kept. Objects that cannot be copied refuse.
    void CopyFrom(const TDrawing& source) {
        FOwned.clear();
        FTree.CopyFrom(source.FTree);
    }
    bool Empty() const { return FTree.Root() == nullptr; }
    TEscherDwgCache* Cache() const { return FTree.Cache(); }
    TEscherContainerRecord* Root() const { return FTree.Root(); }

    // Pictures, n from 0; outside the pictures "Index out of range".
    int DrawingCount() const;
    std::u16string GetDrawingName(int n) const;
    int GetDrawingRow(int n) const;
    TClientAnchor GetAnchor(int n) const;
    void SetAnchor(int n, const TClientAnchor& anchor, const TEscherSheet& sheet);
    // The stored bytes of the picture and their kind; the shape must refer
    // to exactly one image ("Error processing Escher record").
    std::vector<std::uint8_t> GetDrawingBytes(int n, TXlsImgTypes& type) const;
    // Removes the picture's whole shape; its image leaves the store when no
    // other shape shows it.
    void DeleteImage(int n);
    TEscherClientDataRecord* FindObjId(std::uint16_t id) const;

    // ---- Adding and replacing pictures ----
    // Adds a picture where the properties say (rows and columns from 0,
    // inside the sheet) with the picture OBJ makeObj gives (the sheet's
    // highest object id + 1); the drawing is made when missing, in a
    // workbook whose drawing group exists. No bytes: the placeholder.
    void AddImage(std::span<const std::uint8_t> image, TXlsImgTypes type, const TImageProperties& properties,
                  TKmrAnchorType anchorType, const TEscherSheet& sheet, const TClientDataMaker& makeObj);
    // Shows other bytes in picture n (none: the placeholder); its old image
    // leaves the store when no other shape shows it.
    void AssignDrawing(int n, std::span<const std::uint8_t> image, TXlsImgTypes type);
    void ClearImage(int n) { AssignDrawing(n, {}, TXlsImgTypes::xli_Bmp); }

    // ---- Autofilter buttons ----
    // A drop-down button over each column first..last of the row (from 0),
    // with the OBJ makeObj gives; the drawing and the drawing group are
    // made when missing.
    void AddAutoFilter(int row, int firstCol, int lastCol, const TEscherSheet& sheet,
                       const TClientDataMaker& makeObj);
    // Removes the shapes whose objects the test calls filter buttons.
    void RemoveAutoFilter(const std::function<bool(const TBaseClientData&)>& isButton);

    // Rows and columns of this sheet changed: positions from rowPos (or
    // colPos) move by the counts, negative for deletions. Shapes that move
    // and size with the cells shift their corners, shapes of kinds 1 and 2
    // their first corner and keep their size, kind 3 stays in place.
    // CheckInsert refuses, before any change, a corner pushed past the
    // sheet ("Too many entries for this kind of record (%d out of a
    // maximum of %d)").
    void CheckInsert(int rowPos, int rowCount, int colPos, int colCount) const;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info,
                                  const TEscherSheet& sheet);
    // Shapes moving and sizing with the cells that lie wholly inside the
    // deleted rows (columns) go; the others move up (left). Shapes tied by
    // rules the engine does not follow refuse first.
    void CheckDelete(int row, int rowCount, int col, int colCount) const;
    void DeleteRowsAndCols(int row, int rowCount, int col, int colCount, const TSheetInfo& info,
                           const TEscherSheet& sheet);
    // Inserts copies rows (columns) of the block first..last at dest, then
    // copies the shapes of kinds 0 and 2 inside the block into each copy.
    // CheckCopy refuses before any change what could not be copied.
    void CheckCopy(int first, int last, int dest, int copies, bool columns) const;
    void InsertAndCopy(int first, int last, int dest, int copies, bool columns, const TSheetInfo& info,
                       const TEscherSheet& sheet);
    // Only the objects' own references follow (changes of other sheets).
    void ArrangeClientData(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);

    // Adds a comment box where the properties say (rows and columns from 0,
    // anchor kind 3) with the comment OBJ (the sheet's highest object id +
    // 1) and the empty TXO the makers give; the drawing and the drawing
    // group are made when missing. Gives the box's client data record.
    TEscherClientDataRecord* AddNewComment(const TImageProperties& box, const TEscherSheet& sheet,
                                           const TClientDataMaker& makeObj, const TClientDataMaker& makeTxo);

    // Shapes that comments own: the rules above leave them alone, their
    // notes move, copy and remove them.
    void SetOwnedShapes(std::vector<const TEscherRecord*> shapes) { FOwned = std::move(shapes); }
    // Moves a shape's anchor by whole rows and columns, its size kept and
    // the whole of it inside the sheet; its pixel position follows.
    void MoveShape(TEscherRecord& shape, int rows, int cols, const TEscherSheet& sheet);
    // Removes a shape of the patriarch, refused first where rules the
    // engine does not follow tie shapes.
    void DeleteShape(TEscherRecord* shape);

    // Remembers the pixel position of every anchor that keeps its size or
    // place; RestoreObjectCoords puts such anchors back after widths and
    // heights changed.
    void SaveObjectCoords(const TEscherSheet& sheet);
    void RestoreObjectCoords(const TEscherSheet& sheet);

private:
    TEscherOPTRecord& Picture(int n) const;
    std::vector<TEscherClientAnchorRecord*> Anchors() const;
    // The shape containers whose anchors pass the test.
    template <class Test>
    std::vector<TEscherRecord*> ShapesWhere(Test test) const;
    void RemoveShape(TEscherRecord* shape);
    // The root, the drawing record and the patriarch of a sheet without
    // drawing.
    void CreateBasicDrawingInfo();
    // Appends a shape to the patriarch: its SP, properties, anchor (its
    // pixels remembered) and client data. Gives the properties.
    TEscherOPTRecord& AddShape(std::uint16_t spPre, std::uint16_t optPre, std::vector<std::uint8_t> properties,
                               const TClientAnchor& anchor, const TEscherSheet& sheet,
                               std::unique_ptr<TBaseClientData> obj);

    TDrawingGroup* FGroup;
    TEscherTree FTree;
    std::vector<const TEscherRecord*> FOwned;
};

}  // namespace kalmira
