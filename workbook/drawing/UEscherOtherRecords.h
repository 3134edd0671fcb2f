// The records of the drawing tree that the drawing group and the sheet
// drawings work through: the drawing group and drawing records that hand
// out shape ids, the BLIP store, shape properties and the solver's rules.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "workbook/drawing/UEscherRecords.h"
#include "workbook/storage/UKmrFormats.h"

namespace kalmira {

// An image stored in a workbook without BLIP store.
inline constexpr const char* ErrNoBStore = "BStore can't be nil";

// The solver container: the connector, arc and callout rules of a sheet.
class TEscherSolverContainerRecord
    : public TEscherRecordOf<TEscherSolverContainerRecord, TEscherContainerRecord> {
public:
    // A second solver container on a sheet is refused.
    TEscherSolverContainerRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                 TEscherDwgCache* dwg, TEscherContainerRecord* parent);
    ~TEscherSolverContainerRecord() override;

    std::uint32_t MaxRuleId() const { return FMaxRuleId; }
    void CheckMax(std::uint32_t ruleId) { FMaxRuleId = std::max(FMaxRuleId, ruleId); }
    std::uint32_t IncMaxRuleId() { return FMaxRuleId += 2; }

    // A shape is going: rules that refer to no shape any more go too.
    void DeleteRef(const TEscherSPRecord* shape);
    // Resolves the rules' shape ids through the shape cache.
    void FixPointers();
    // Copies the rules whose shapes were copied.
    void ArrangeCopyRowsAndCols();
    // Shapes tied by rules this engine does not follow (align rules) may
    // be neither removed nor copied.
    void CheckShapesMayChange() const;
    std::size_t RuleCount() const;

    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;

protected:
    std::uint16_t SavedPre() const override;

private:
    std::uint32_t FMaxRuleId = 0;
};

// A rule: its id (u32), then the ids (u32) of the shapes it ties.
class TRuleRecord : public TEscherDataRecord {
public:
    using TEscherDataRecord::TEscherDataRecord;

    std::uint32_t RuleId() const { return LongAt(0); }
    // Returns true when the rule refers to no shape any more.
    virtual bool DeleteRef(const TEscherSPRecord* shape);
    virtual void FixPointers();
    virtual void ArrangeCopyRowsAndCols();

    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;

protected:
    // Offsets of the shape ids in the data.
    virtual std::vector<std::size_t> ShapeOffsets() const { return {4}; }
    std::vector<TEscherSPRecord*> FShapes;  // in ShapeOffsets order, null where none
};

// Ties two shapes and the connector between them.
class TEscherConnectorRuleRecord : public TEscherRecordOf<TEscherConnectorRuleRecord, TRuleRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;

protected:
    std::vector<std::size_t> ShapeOffsets() const override { return {4, 8, 12}; }
};

class TEscherArcRuleRecord : public TEscherRecordOf<TEscherArcRuleRecord, TRuleRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;
};

class TEscherCalloutRuleRecord : public TEscherRecordOf<TEscherCalloutRuleRecord, TRuleRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;
};

// Kept byte for byte; the solver refuses to remove or copy shapes while
// one exists.
class TEscherAlignRuleRecord : public TEscherRecordOf<TEscherAlignRuleRecord, TRuleRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;
    bool DeleteRef(const TEscherSPRecord*) override { return false; }
    void FixPointers() override {}
    void ArrangeCopyRowsAndCols() override {}
    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache*, TEscherContainerRecord*, int, int,
                                            const TEscherSheet*) const override;
};

// The drawing group record: shape ids are handed out in clusters of 1024.
//   0 highest shape id + 1, 4 clusters + 1, 8 shapes saved, 12 drawings
//   saved, then per cluster the owning drawing id and the ids used in it.
class TEscherDggRecord : public TEscherRecordOf<TEscherDggRecord, TEscherDataRecord> {
public:
    TEscherDggRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                     TEscherContainerRecord* parent);
    ~TEscherDggRecord() override;

    std::size_t ClusterCount() const { return Data.size() < 16 ? 0 : (Data.size() - 16) / 8; }
    std::uint32_t ClusterDrawing(std::size_t k) const { return LongAt(16 + 8 * k); }
    std::uint32_t ClusterUsed(std::size_t k) const { return LongAt(20 + 8 * k); }

    // Takes a cluster for a drawing (a new drawing id when asked) and
    // gives its first shape id.
    std::uint32_t GetNewCluster(std::uint32_t& drawingId, bool newId, std::uint32_t used);
    // A new shape id for the drawing whose last id is given.
    std::uint32_t AddImage(std::uint32_t drawingId, std::uint32_t lastShapeId);
    void DestroyClusters(std::uint32_t drawingId);
    // Files may under-report the ids a drawing uses: the free clusters that
    // hold its shape ids become its own, with their used counts and the
    // highest id raised to cover them. Gives the highest of the ids that
    // lie in the drawing's clusters (0: none).
    std::uint32_t ClaimShapeIds(std::uint32_t drawingId, const std::vector<std::uint32_t>& shapeIds);
    void AddDwg() { Bump(12, 1); }
    void DecShapeCount() { Bump(8, -1); }

private:
    void CheckLayout() const;
    void Bump(std::size_t pos, int delta);
};

// The drawing record of a sheet: its shape count and last shape id; the
// instance is the drawing id.
class TEscherDgRecord : public TEscherRecordOf<TEscherDgRecord, TEscherDataRecord> {
public:
    TEscherDgRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                    TEscherContainerRecord* parent);
    ~TEscherDgRecord() override;

    std::uint32_t DrawingId() const { return Instance(); }
    std::uint32_t ShapeCount() const { return LongAt(0); }
    std::uint32_t LastShapeId() const { return LongAt(4); }
    // Counts one shape more and gives its new shape id.
    std::uint32_t IncMaxShapeId();
    // Raises the last shape id to the highest id used (a file may give less).
    void CoverShapeId(std::uint32_t shapeId);
    void DecShapeCount();

    // A copy is a new drawing: its own drawing id and cluster, counting
    // the shapes copied into it.
    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;

private:
    TEscherDggRecord* Dgg() const { return FDwgGroupCache ? FDwgGroupCache->Dgg : nullptr; }
};

// A stored image: a 36-byte header (reference count at 24) and the BLIP.
class TEscherBSERecord : public TEscherRecordOf<TEscherBSERecord, TEscherDataRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;

    std::uint32_t References() const { return LongAt(24); }
    // Fills a built record: the 36-byte BSE header, the 8-byte blip header
    // and the blip body. The header's size must already say 44 + body.
    void CopyFromData(std::span<const std::uint8_t> bseHeader, std::span<const std::uint8_t> blipHeader,
                      std::span<const std::uint8_t> body);
    void AddRef();
    void Release();
    // Shape properties that refer to the entry now; the entry leaves the
    // store when the last one goes, whatever the stored count says.
    std::uint32_t OptRefs = 0;
    // The 1-based place in the store, numbered before the store is saved.
    std::uint32_t Position = 0;
};

// The BLIP store: one BSE per stored image; its instance is their count.
class TEscherBStoreRecord : public TEscherRecordOf<TEscherBStoreRecord, TEscherContainerRecord> {
public:
    TEscherBStoreRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                        TEscherContainerRecord* parent);
    ~TEscherBStoreRecord() override;

    // The BSE at a 0-based index; outside the store "File invalid".
    TEscherBSERecord* Entry(std::size_t index) const;
    void AddRef(std::size_t index) { Entry(index)->AddRef(); }
    void Release(std::size_t index) { Entry(index)->Release(); }
    // Numbers the entries 1, 2, ... in list order.
    void NumberEntries();
    // Orders the entries by data size, then by image identity.
    void SortEntries();
    // One shape's reference less: the stored count goes down, and the
    // entry is freed when no shape refers to it any more.
    void ReleaseEntry(TEscherBSERecord* entry);
    // Keeps a built entry at its place in the store's order, or gives the
    // equal entry the store holds already (the built one is dropped).
    TEscherBSERecord* Store(std::unique_ptr<TEscherBSERecord> entry);

protected:
    std::uint16_t SavedPre() const override;
};

// Shape properties: instance x 6 bytes of (u16 id, u32 value), then the
// complex data. Id bit 0x4000: the value is a 1-based BLIP position; 0x8000:
// the value is the length of complex data.
class TEscherOPTRecord : public TEscherRecordOf<TEscherOPTRecord, TEscherDataRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;
    ~TEscherOPTRecord() override;

    struct TBlipRef {
        TEscherBSERecord* Entry;
        std::size_t Offset;  // of the value in the data
    };

    void AfterCreate() override;
    const std::vector<TBlipRef>& Blips() const { return FBlips; }
    const std::u16string& ShapeName() const { return FShapeName; }
    // Writes the entries' current positions into the values.
    void FixBlipPositions();
    // Stores a built image entry in the BLIP store (once for equal images)
    // and shows it through the blip property whose value lies at valueOffset.
    void AddImg(std::unique_ptr<TEscherBSERecord> entry, std::size_t valueOffset);
    // Shows another image instead of the one shown; a shape showing other
    // than exactly one: "Error processing Escher record".
    void ReplaceImg(std::span<const std::uint8_t> image, TXlsImgTypes type);

    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;

private:
    void ReadProperties();
    TEscherBSERecord* StoreImg(std::unique_ptr<TEscherBSERecord> entry);

    std::vector<TBlipRef> FBlips;
    std::u16string FShapeName;
    bool FInPictureCache = false;
};

class TEscherSplitMenuRecord : public TEscherRecordOf<TEscherSplitMenuRecord, TEscherDataRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;
};

}  // namespace kalmira
