// A drawing tree with its caches, loaded from and saved to BIFF records:
// what the drawing group (MSODRAWINGGROUP) and each sheet's drawing
// (MSODRAWING, with the OBJ and TXO records of its shapes) hold.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/drawing/UEscherOtherRecords.h"

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
    // Null for the workbook's tree.
    TEscherDwgCache* Cache() const { return FCache.get(); }
    std::uint16_t BiffId() const { return FBiffId; }

private:
    void Split(TEscherSplitState& state) const;
    void ClaimShapeIds();

    std::uint16_t FBiffId;
    TEscherDwgGroupCache* FGroup;
    std::unique_ptr<TEscherDwgCache> FCache;
    std::unique_ptr<TEscherContainerRecord> FRoot;
};

}  // namespace kalmira
