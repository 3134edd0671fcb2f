// The Office drawing record tree carried by MSODRAWINGGROUP and MSODRAWING:
// records with an 8-byte header, containers holding child records, loaded
// from BIFF records that may be cut anywhere and saved back in chunks of
// 8224 bytes with the shapes' client records between them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "workbook/drawing/Ubreaklist.h"
#include "workbook/drawing/Uxlsbaseclientdata.h"
#include "workbook/storage/UXlsBaseRecords.h"

namespace kalmira {

// The record header as stored: Pre (bits 0-3 version, 4-15 instance), the
// record type 0xF000-0xF11E and the number of data bytes after the header.
struct TEscherRecordHeader {
    std::uint16_t Pre = 0;
    std::uint16_t Id = 0;
    std::uint32_t Size = 0;
};

inline constexpr std::uint16_t EscherHeaderSize = 8;
// How deep containers may nest; deeper trees are refused on load.
inline constexpr int MaxEscherDepth = 64;
// Drawing bytes one BIFF record holds.
inline constexpr std::int64_t EscherChunkSize = 8224;

class TEscherRecord;
class TEscherContainerRecord;
class TEscherSPRecord;
class TEscherClientAnchorRecord;
class TEscherClientDataRecord;
class TEscherOPTRecord;
class TEscherDgRecord;
class TEscherDggRecord;
class TEscherBStoreRecord;
class TEscherSolverContainerRecord;
class TEscherSpgrContainerRecord;

// Lists that point at records of a tree without owning them.
template <class T>
class TEscherPointerList {
public:
    void Add(T* record) { FItems.push_back(record); }
    void Remove(const T* record) {
        for (auto it = FItems.begin(); it != FItems.end(); ++it)
            if (*it == record) {
                FItems.erase(it);
                return;
            }
    }
    const std::vector<T*>& Items() const { return FItems; }
    std::size_t Count() const { return FItems.size(); }

protected:
    std::vector<T*> FItems;
};

using TEscherAnchorCache = TEscherPointerList<TEscherClientAnchorRecord>;
using TEscherObjCache = TEscherPointerList<TEscherClientDataRecord>;
using TEscherOPTCache = TEscherPointerList<TEscherOPTRecord>;

// The shapes of a sheet, found by shape id by halving once sorted.
class TEscherShapeCache : public TEscherPointerList<TEscherSPRecord> {
public:
    void Add(TEscherSPRecord* record) {
        TEscherPointerList::Add(record);
        FSorted = false;
    }
    TEscherSPRecord* Find(std::uint32_t shapeId);
    void Sort();

private:
    bool FSorted = true;
};

// What every record of the workbook tree shares.
struct TEscherDwgGroupCache {
    TEscherBStoreRecord* BStore = nullptr;
    TEscherDggRecord* Dgg = nullptr;
};

// What every record of one sheet's tree shares.
struct TEscherDwgCache {
    bool Destroying = false;  // the whole tree is being freed: no per-shape bookkeeping
    // The tree's shape ids wait in a TDrawingGroupChanges: the drawing
    // group holds nothing of this drawing yet.
    bool ClaimsHeld = false;
    std::uint16_t MaxObjId = 0;
    TEscherDgRecord* Dg = nullptr;
    TEscherSolverContainerRecord* Solver = nullptr;
    TEscherSpgrContainerRecord* Patriarch = nullptr;
    TEscherAnchorCache Anchor;
    TEscherShapeCache Shape;
    TEscherObjCache Obj;
    TEscherOPTCache Blip;
};

// The first pass of a save: how the tree's bytes fall into BIFF records.
struct TEscherSplitState {
    std::int64_t NextPos = 0;   // bytes in the current BIFF record
    std::int64_t RealSize = 0;  // everything written, later BIFF headers included
    std::int32_t NextDwgId = -1;
    TBreakList* Breaks = nullptr;
};

class TEscherRecord {
public:
    TEscherRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                  TEscherContainerRecord* parent);
    virtual ~TEscherRecord() = default;
    TEscherRecord(const TEscherRecord&) = delete;
    TEscherRecord& operator=(const TEscherRecord&) = delete;

    std::uint16_t Pre;
    std::uint16_t Id;
    std::uint32_t Size;

    std::uint16_t Instance() const { return Pre >> 4; }
    std::uint16_t Version() const { return Pre & 0xF; }
    bool IsContainer() const { return Version() == 0xF; }

    TEscherContainerRecord* Parent() const { return FParent; }
    TEscherDwgCache* DwgCache() const { return FDwgCache; }
    TEscherDwgGroupCache* DwgGroupCache() const { return FDwgGroupCache; }
    // Containers above this record.
    int Depth() const { return FDepth; }
    TEscherRecord* CopiedTo() const { return FCopiedTo; }

    // A copy for the target sheet under the given parent (null: none).
    std::unique_ptr<TEscherRecord> CopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                          int colOffset, const TEscherSheet* sheet) const;
    virtual std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent,
                                                    int rowOffset, int colOffset, const TEscherSheet* sheet) const;
    // Called once the record is wholly loaded.
    virtual void AfterCreate() {}
    // Reads the record's bytes from a BIFF record (and its CONTINUE chain)
    // from pos on, as far as they go.
    virtual void Load(const TBaseRecord*& record, int& pos) = 0;
    virtual void SaveToStream(TOle2File& ole, TBreakList& breaks) const;
    virtual std::int64_t TotalSizeNoSplit() const { return EscherHeaderSize; }
    virtual bool Loaded() const;
    virtual bool WaitingClientData(TClientDataKind&) const { return false; }
    virtual void AssignClientData(std::unique_ptr<TBaseClientData> data);
    virtual void SplitRecords(TEscherSplitState& state) const;
    virtual void ArrangeInsertRowsAndCols(int, int, int, int, const TSheetInfo&, bool, const TEscherSheet*) {}
    virtual void ClearCopiedTo() { FCopiedTo = nullptr; }
    // Order for sorting and searching: Id, Pre, Size.
    virtual int CompareRec(const TEscherRecord& other) const;

    // The shape container this record belongs to (its ancestor just below
    // the patriarch), null outside a shape.
    TEscherRecord* FindRoot();
    TEscherSpgrContainerRecord* Patriarch() const;
    // Appends to the patriarch a copy of this record's shape, moved by the
    // offsets.
    TEscherRecord* CopyDwg(int rowOffset, int colOffset, const TEscherSheet* sheet);

protected:
    // A record of this record's class with the given header.
    virtual std::unique_ptr<TEscherRecord> NewOfSameClass(const TEscherRecordHeader& header,
                                                          TEscherDwgCache* target,
                                                          TEscherContainerRecord* parent) const = 0;
    // The instance written in the header; some records count their entries.
    virtual std::uint16_t SavedPre() const { return Pre; }
    void WriteHeader(TOle2File& ole, TBreakList& breaks) const;
    // Counts n bytes in the first save pass.
    static void CountSplit(TEscherSplitState& state, std::int64_t n);
    static void WriteSplit(TOle2File& ole, TBreakList& breaks, const std::uint8_t* bytes, std::int64_t count);

    TEscherDwgGroupCache* FDwgGroupCache;
    TEscherDwgCache* FDwgCache;
    TEscherContainerRecord* FParent;
    int FDepth;
    std::int64_t FLoaded = 0;
    mutable TEscherRecord* FCopiedTo = nullptr;
};

// Gives a record class its copy constructor.
template <class Self, class Base>
class TEscherRecordOf : public Base {
public:
    using Base::Base;

protected:
    std::unique_ptr<TEscherRecord> NewOfSameClass(const TEscherRecordHeader& header, TEscherDwgCache* target,
                                                  TEscherContainerRecord* parent) const override {
        return std::make_unique<Self>(header, this->FDwgGroupCache, target, parent);
    }
};

// A record whose data is plain bytes; the buffer grows as they are read.
class TEscherDataRecord : public TEscherRecord {
public:
    using TEscherRecord::TEscherRecord;

    std::vector<std::uint8_t> Data;

    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;
    void Load(const TBaseRecord*& record, int& pos) override;
    void SaveToStream(TOle2File& ole, TBreakList& breaks) const override;
    std::int64_t TotalSizeNoSplit() const override { return EscherHeaderSize + static_cast<std::int64_t>(Size); }
    bool Loaded() const override { return Data.size() == Size; }
    void SplitRecords(TEscherSplitState& state) const override;
    int CompareRec(const TEscherRecord& other) const override;
    void ClearData() { std::fill(Data.begin(), Data.end(), 0); }
    // Replaces the data of a built record; the header size follows.
    void SetData(std::vector<std::uint8_t> data);
    // A 32-bit field; 0 where the data is too short to hold it.
    std::uint32_t LongAt(std::size_t pos) const { return pos + 4 <= Data.size() ? GetLongWord(Data, pos) : 0; }

protected:
    std::unique_ptr<TEscherRecord> NewOfSameClass(const TEscherRecordHeader& header, TEscherDwgCache* target,
                                                  TEscherContainerRecord* parent) const override;
};

// The children of a container, owned, in file order.
class TEscherRecordList {
public:
    void Add(std::unique_ptr<TEscherRecord> record) {
        FItems.push_back(std::move(record));
        FSorted = false;
    }
    void Insert(std::size_t index, std::unique_ptr<TEscherRecord> record) {
        FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(index), std::move(record));
        FSorted = false;
    }
    std::size_t Count() const { return FItems.size(); }
    TEscherRecord* operator[](std::size_t i) const { return FItems[i].get(); }
    std::unique_ptr<TEscherRecord> Extract(const TEscherRecord* record);
    void Clear() { FItems.clear(); }
    // Reorders the records by an order of the caller's (stable).
    template <class Less>
    void SortBy(Less less) {
        std::stable_sort(FItems.begin(), FItems.end(), [&](const auto& a, const auto& b) { return less(*a, *b); });
        FSorted = false;
    }
    // Sorts by CompareRec when needed and finds an equal record by halving.
    TEscherRecord* Find(const TEscherRecord& like, std::size_t& index);
    std::int64_t TotalSizeNoSplit() const;

private:
    std::vector<std::unique_ptr<TEscherRecord>> FItems;
    bool FSorted = true;
};

class TEscherContainerRecord : public TEscherRecord {
public:
    using TEscherRecord::TEscherRecord;
    ~TEscherContainerRecord() override { FChildren.Clear(); }

    const TEscherRecordList& Children() const { return FChildren; }
    TEscherRecordList& Children() { return FChildren; }
    TEscherRecord* LastRecord() const;
    template <class T>
    T* FindRec() const {
        for (std::size_t i = 0; i < FChildren.Count(); ++i)
            if (auto* found = dynamic_cast<T*>(FChildren[i])) return found;
        return nullptr;
    }
    // Appends a record built in memory (or copied); the container stays
    // loaded.
    TEscherRecord* AddBuilt(std::unique_ptr<TEscherRecord> record);
    // A container built in memory is complete as it stands.
    void MarkBuilt() { FComplete = true; }
    // Removes and frees a child.
    void DeleteChild(const TEscherRecord* record) { FChildren.Extract(record).reset(); }

    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;
    void Load(const TBaseRecord*& record, int& pos) override;
    void SaveToStream(TOle2File& ole, TBreakList& breaks) const override;
    std::int64_t TotalSizeNoSplit() const override { return EscherHeaderSize + FChildren.TotalSizeNoSplit(); }
    bool Loaded() const override;
    bool WaitingClientData(TClientDataKind& kind) const override;
    void AssignClientData(std::unique_ptr<TBaseClientData> data) override;
    void SplitRecords(TEscherSplitState& state) const override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info,
                                  bool moveOnly, const TEscherSheet* sheet) override;
    void ClearCopiedTo() override;

protected:
    std::unique_ptr<TEscherRecord> NewOfSameClass(const TEscherRecordHeader& header, TEscherDwgCache* target,
                                                  TEscherContainerRecord* parent) const override;

    TEscherRecordList FChildren;
    mutable bool FComplete = false;
};

// Builds the record of a header by its type (a container whatever its type
// when its version is 0xF). Refused past MaxEscherDepth levels.
std::unique_ptr<TEscherRecord> CreateEscherRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                                  TEscherDwgCache* dwg, TEscherContainerRecord* parent);

// The shape group container; the first one of a sheet is its patriarch.
class TEscherSpgrContainerRecord : public TEscherRecordOf<TEscherSpgrContainerRecord, TEscherContainerRecord> {
public:
    TEscherSpgrContainerRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                               TEscherContainerRecord* parent);
    ~TEscherSpgrContainerRecord() override;
};

// A shape container; it knows its shape, property and anchor records.
class TEscherSpContainerRecord : public TEscherRecordOf<TEscherSpContainerRecord, TEscherContainerRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;
    ~TEscherSpContainerRecord() override { FChildren.Clear(); }

    TEscherSPRecord* SP = nullptr;
    TEscherOPTRecord* Opt = nullptr;
    TEscherClientAnchorRecord* ClientAnchor = nullptr;

    int Row() const;
    int Col() const;
};

// The shape: shape id (u32) and flags (u32).
class TEscherSPRecord : public TEscherRecordOf<TEscherSPRecord, TEscherDataRecord> {
public:
    TEscherSPRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                    TEscherContainerRecord* parent);
    // A new shape of the given Pre, id and flags.
    TEscherSPRecord(std::uint16_t pre, std::uint32_t shapeId, std::uint32_t flags, TEscherDwgGroupCache* group,
                    TEscherDwgCache* dwg, TEscherContainerRecord* parent);
    ~TEscherSPRecord() override;

    std::uint32_t ShapeId() const { return LongAt(0); }
    std::uint32_t Flags() const { return LongAt(4); }
    void SetShapeId(std::uint32_t id);

    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;

private:
    TEscherSpContainerRecord* FShape;
};

// Where an anchor lies on the sheet in pixels, as remembered for shapes
// that keep their size or place when rows and columns change.
struct TAnchorPixels {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// The client anchor: the 18 bytes of TClientAnchor.
class TEscherClientAnchorRecord : public TEscherRecordOf<TEscherClientAnchorRecord, TEscherDataRecord> {
public:
    TEscherClientAnchorRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                              TEscherContainerRecord* parent);
    ~TEscherClientAnchorRecord() override;

    bool HasAnchor() const { return Data.size() >= 18; }
    TClientAnchor GetAnchor() const;
    void SetAnchor(const TClientAnchor& anchor);
    // The low two bits of the anchor flags: 0 moves and sizes with the
    // cells, 1 and 2 keep the size, 3 keeps place and size.
    int AnchorKind() const { return HasAnchor() ? GetWord(Data, 0) & 3 : 0; }

    // The remembered pixel position (SaveObjectCoords); none until then.
    bool HasPixels = false;
    TAnchorPixels Pixels;

    // A copy moved by the offsets; its pixels are measured anew on the
    // sheet given.
    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;

private:
    TEscherSpContainerRecord* FShape;
};

// Pixel positions on a sheet: a corner (cell and offset: 1/1024 of the
// column, 1/255 of the row) and back.
TAnchorPixels MeasureAnchor(const TClientAnchor& anchor, const TEscherSheet& sheet);
void ColumnAt(const TEscherSheet& sheet, double position, std::uint16_t& column, std::uint16_t& offset);
void RowAt(const TEscherSheet& sheet, double position, std::uint16_t& row, std::uint16_t& offset);

// The client data record of a shape; the OBJ records behind it in the
// stream are its client data.
class TEscherClientDataRecord : public TEscherDataRecord {
public:
    TEscherClientDataRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                                TEscherContainerRecord* parent);
    ~TEscherClientDataRecord() override;

    TBaseClientData* ClientData() const { return FClientData.get(); }
    std::uint16_t ObjId() const { return FClientData ? FClientData->GetId() : 0; }
    virtual TClientDataKind WantedKind() const { return TClientDataKind::Obj; }

    std::unique_ptr<TEscherRecord> DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int rowOffset,
                                            int colOffset, const TEscherSheet* sheet) const override;
    void SaveToStream(TOle2File& ole, TBreakList& breaks) const override;
    bool WaitingClientData(TClientDataKind& kind) const override;
    void AssignClientData(std::unique_ptr<TBaseClientData> data) override;
    void SplitRecords(TEscherSplitState& state) const override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info,
                                  bool moveOnly, const TEscherSheet* sheet) override;

protected:
    std::unique_ptr<TEscherRecord> NewOfSameClass(const TEscherRecordHeader& header, TEscherDwgCache* target,
                                                  TEscherContainerRecord* parent) const override;

private:
    std::unique_ptr<TBaseClientData> FClientData;
};

// The client text box: its client data is a TXO.
class TEscherClientTextBoxRecord : public TEscherRecordOf<TEscherClientTextBoxRecord, TEscherClientDataRecord> {
public:
    using TEscherRecordOf::TEscherRecordOf;
    TClientDataKind WantedKind() const override { return TClientDataKind::Txo; }
};

}  // namespace kalmira
