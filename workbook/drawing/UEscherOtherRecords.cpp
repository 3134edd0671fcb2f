#include "workbook/drawing/UEscherOtherRecords.h"

#include <array>

#include "workbook/drawing/UEscherGraphToBSE.h"
#include "workbook/drawing/UXlsEscher.h"

namespace kalmira {

namespace {

constexpr std::uint32_t ClusterIds = 1024;
constexpr const char* AlignRule = "Align Rule";

using TEscherMaker = std::unique_ptr<TEscherRecord> (*)(const TEscherRecordHeader&, TEscherDwgGroupCache*,
                                                       TEscherDwgCache*, TEscherContainerRecord*);

template <class T>
std::unique_ptr<TEscherRecord> Make(const TEscherRecordHeader& h, TEscherDwgGroupCache* g, TEscherDwgCache* d,
                                    TEscherContainerRecord* p) {
    return std::make_unique<T>(h, g, d, p);
}

struct TEscherClass {
    std::uint16_t Id;
    TEscherMaker Maker;
};

// Containers (version 0xF) and data records by record type; other types
// are plain containers or plain data, written back as read.
constexpr TEscherClass ContainerClasses[] = {
    {0xF001, Make<TEscherBStoreRecord>},
    {0xF003, Make<TEscherSpgrContainerRecord>},
    {0xF004, Make<TEscherSpContainerRecord>},
    {0xF005, Make<TEscherSolverContainerRecord>},
};
constexpr TEscherClass DataClasses[] = {
    {0xF006, Make<TEscherDggRecord>},           {0xF007, Make<TEscherBSERecord>},
    {0xF008, Make<TEscherDgRecord>},            {0xF00A, Make<TEscherSPRecord>},
    {0xF00B, Make<TEscherOPTRecord>},           {0xF00D, Make<TEscherClientTextBoxRecord>},
    {0xF010, Make<TEscherClientAnchorRecord>},  {0xF011, Make<TEscherClientDataRecord>},
    {0xF012, Make<TEscherConnectorRuleRecord>}, {0xF013, Make<TEscherAlignRuleRecord>},
    {0xF014, Make<TEscherArcRuleRecord>},       {0xF017, Make<TEscherCalloutRuleRecord>},
    {0xF11E, Make<TEscherSplitMenuRecord>},
};

template <std::size_t N>
TEscherMaker Lookup(const TEscherClass (&table)[N], std::uint16_t id, TEscherMaker fallback) {
    for (const auto& c : table)
        if (c.Id == id) return c.Maker;
    return fallback;
}

}  // namespace

std::unique_ptr<TEscherRecord> CreateEscherRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                                  TEscherDwgCache* dwg, TEscherContainerRecord* parent) {
    if (parent && parent->Depth() + 1 >= MaxEscherDepth) Raise(ErrLoadingEscher);
    const bool container = (header.Pre & 0xF) == 0xF;
    const TEscherMaker maker = container ? Lookup(ContainerClasses, header.Id, Make<TEscherContainerRecord>)
                                         : Lookup(DataClasses, header.Id, Make<TEscherDataRecord>);
    return maker(header, group, dwg, parent);
}

// ---------------------------------------------------------------- solver

TEscherSolverContainerRecord::TEscherSolverContainerRecord(const TEscherRecordHeader& header,
                                                           TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                                                           TEscherContainerRecord* parent)
    : TEscherRecordOf(header, group, dwg, parent) {
    if (!dwg) return;
    if (dwg->Solver) Raise(ErrsolverDuplicated);
    dwg->Solver = this;
}

TEscherSolverContainerRecord::~TEscherSolverContainerRecord() {
    FChildren.Clear();
    if (FDwgCache && FDwgCache->Solver == this) FDwgCache->Solver = nullptr;
}

std::size_t TEscherSolverContainerRecord::RuleCount() const {
    std::size_t count = 0;
    for (std::size_t i = 0; i < FChildren.Count(); ++i) count += dynamic_cast<TRuleRecord*>(FChildren[i]) != nullptr;
    return count;
}

std::uint16_t TEscherSolverContainerRecord::SavedPre() const {
    return static_cast<std::uint16_t>((RuleCount() << 4) | 0xF);
}

void TEscherSolverContainerRecord::DeleteRef(const TEscherSPRecord* shape) {
    std::vector<const TEscherRecord*> gone;
    for (std::size_t i = 0; i < FChildren.Count(); ++i)
        if (auto* rule = dynamic_cast<TRuleRecord*>(FChildren[i]); rule && rule->DeleteRef(shape)) gone.push_back(rule);
    for (const TEscherRecord* rule : gone) DeleteChild(rule);
}

void TEscherSolverContainerRecord::FixPointers() {
    for (std::size_t i = 0; i < FChildren.Count(); ++i)
        if (auto* rule = dynamic_cast<TRuleRecord*>(FChildren[i])) rule->FixPointers();
}

void TEscherSolverContainerRecord::ArrangeCopyRowsAndCols() {
    const std::size_t count = FChildren.Count();  // the copies go behind
    for (std::size_t i = 0; i < count; ++i)
        if (auto* rule = dynamic_cast<TRuleRecord*>(FChildren[i])) rule->ArrangeCopyRowsAndCols();
}

void TEscherSolverContainerRecord::CheckShapesMayChange() const {
    if (FindRec<TEscherAlignRuleRecord>()) Raise(ErrNotImplemented, AlignRule);
}

std::unique_ptr<TEscherRecord> TEscherSolverContainerRecord::DoCopyTo(TEscherDwgCache* target,
                                                                      TEscherContainerRecord* parent,
                                                                      int rowOffset, int colOffset,
                                                                      const TEscherSheet* sheet) const {
    CheckShapesMayChange();
    auto copy = NewOfSameClass({Pre, Id, Size}, target, parent);
    auto& solver = static_cast<TEscherSolverContainerRecord&>(*copy);
    solver.FMaxRuleId = FMaxRuleId;  // the copied rules count on from here
    solver.FComplete = true;
    FCopiedTo = copy.get();
    for (std::size_t i = 0; i < FChildren.Count(); ++i)
        solver.FChildren.Add(FChildren[i]->CopyTo(target, &solver, rowOffset, colOffset, sheet));
    return copy;
}

// ---------------------------------------------------------------- rules

bool TRuleRecord::DeleteRef(const TEscherSPRecord* shape) {
    const auto offsets = ShapeOffsets();
    bool any = false;
    for (std::size_t i = 0; i < FShapes.size(); ++i) {
        if (FShapes[i] == shape) {
            FShapes[i] = nullptr;
            if (offsets[i] + 4 <= Data.size()) SetLongWord(Data, offsets[i], 0);
        }
        any = any || FShapes[i];
    }
    return !any;
}

void TRuleRecord::FixPointers() {
    FShapes.clear();
    for (std::size_t offset : ShapeOffsets())
        FShapes.push_back(FDwgCache && LongAt(offset) ? FDwgCache->Shape.Find(LongAt(offset)) : nullptr);
    if (FDwgCache && FDwgCache->Solver) FDwgCache->Solver->CheckMax(RuleId());
}

void TRuleRecord::ArrangeCopyRowsAndCols() {
    bool copied = false;
    for (const TEscherSPRecord* shape : FShapes) copied = copied || (shape && shape->CopiedTo());
    if (!copied || !FDwgCache || !FDwgCache->Solver) return;
    TEscherSolverContainerRecord* solver = FDwgCache->Solver;
    solver->AddBuilt(CopyTo(FDwgCache, solver, 0, 0, nullptr));
}

std::unique_ptr<TEscherRecord> TRuleRecord::DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent,
                                                     int rowOffset, int colOffset, const TEscherSheet* sheet) const {
    auto copy = TEscherDataRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    auto& rule = static_cast<TRuleRecord&>(*copy);
    if (target && target->Solver && Data.size() >= 4) SetLongWord(rule.Data, 0, target->Solver->IncMaxRuleId());
    const auto offsets = ShapeOffsets();
    for (std::size_t i = 0; i < FShapes.size(); ++i) {
        TEscherSPRecord* shape = FShapes[i];
        if (shape && shape->CopiedTo()) shape = static_cast<TEscherSPRecord*>(shape->CopiedTo());
        rule.FShapes.push_back(shape);
        if (shape && offsets[i] + 4 <= rule.Data.size()) SetLongWord(rule.Data, offsets[i], shape->ShapeId());
    }
    return copy;
}

std::unique_ptr<TEscherRecord> TEscherAlignRuleRecord::DoCopyTo(TEscherDwgCache*, TEscherContainerRecord*, int, int,
                                                                const TEscherSheet*) const {
    Raise(ErrNotImplemented, AlignRule);
}

// ---------------------------------------------------------------- drawing group

TEscherDggRecord::TEscherDggRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                   TEscherDwgCache* dwg, TEscherContainerRecord* parent)
    : TEscherRecordOf(header, group, dwg, parent) {
    if (!group) return;
    if (group->Dgg) Raise(ErrDggDuplicated);
    group->Dgg = this;
}

TEscherDggRecord::~TEscherDggRecord() {
    if (FDwgGroupCache && FDwgGroupCache->Dgg == this) FDwgGroupCache->Dgg = nullptr;
}

void TEscherDggRecord::CheckLayout() const {
    if (!Loaded() || Data.size() < 16) Raise(ErrLoadingEscher);
}

void TEscherDggRecord::Bump(std::size_t pos, int delta) {
    if (!Loaded() || Data.size() < 16) return;
    const std::uint32_t value = GetLongWord(Data, pos);
    if (delta < 0 && value == 0) return;
    SetLongWord(Data, pos, value + static_cast<std::uint32_t>(delta));
}

std::uint32_t TEscherDggRecord::GetNewCluster(std::uint32_t& drawingId, bool newId, std::uint32_t used) {
    CheckLayout();
    const std::size_t count = ClusterCount();
    std::size_t found = count;
    if (newId) {
        std::uint32_t highest = 0;
        for (std::size_t k = 0; k < count; ++k) highest = std::max(highest, ClusterDrawing(k));
        drawingId = highest + 1;
        for (std::size_t k = 0; k < count && found == count; ++k)
            if (ClusterDrawing(k) == 0) found = k;
    } else {
        for (std::size_t k = count; k-- > 0;) {
            if (ClusterDrawing(k) == drawingId) break;
            if (ClusterDrawing(k) == 0) found = k;
        }
    }
    if (found == count) {
        // A cluster more: the record and its count field grow.
        Data.resize(Data.size() + 8);
        Size = static_cast<std::uint32_t>(Data.size());
        FLoaded = Size;
        SetLongWord(Data, 4, static_cast<std::uint32_t>(ClusterCount() + 1));
    }
    SetLongWord(Data, 16 + 8 * found, drawingId);
    SetLongWord(Data, 20 + 8 * found, used);
    return static_cast<std::uint32_t>(found + 1) * ClusterIds;
}

std::uint32_t TEscherDggRecord::AddImage(std::uint32_t drawingId, std::uint32_t lastShapeId) {
    CheckLayout();
    const std::int64_t index = static_cast<std::int64_t>(lastShapeId / ClusterIds) - 1;
    std::uint32_t id;
    if (index >= 0 && static_cast<std::size_t>(index) < ClusterCount() && ClusterDrawing(index) == drawingId &&
        ClusterUsed(index) < ClusterIds) {
        id = static_cast<std::uint32_t>(index + 1) * ClusterIds + ClusterUsed(index);
        SetLongWord(Data, 20 + 8 * index, ClusterUsed(index) + 1);
    } else {
        id = GetNewCluster(drawingId, false, 1);
    }
    Bump(8, 1);
    if (GetLongWord(Data, 0) < id + 1) SetLongWord(Data, 0, id + 1);
    return id;
}

void TEscherDggRecord::DestroyClusters(std::uint32_t drawingId) {
    if (!Loaded() || Data.size() < 16) return;
    for (std::size_t k = 0; k < ClusterCount(); ++k)
        if (ClusterDrawing(k) == drawingId) SetLongWord(Data, 16 + 8 * k, 0);
    Bump(12, -1);
}

std::uint32_t TEscherDggRecord::ClaimShapeIds(std::uint32_t drawingId, const std::vector<std::uint32_t>& shapeIds) {
    std::uint32_t highest = 0;
    if (!Loaded() || Data.size() < 16) return highest;
    for (std::uint32_t id : shapeIds) {
        const std::size_t k = id / ClusterIds;
        if (k == 0 || k > 0xFFFF) continue;  // outside every cluster
        while (ClusterCount() < k) {
            Data.resize(Data.size() + 8);
            Size = static_cast<std::uint32_t>(Data.size());
            FLoaded = Size;
            SetLongWord(Data, 4, static_cast<std::uint32_t>(ClusterCount() + 1));
        }
        if (ClusterDrawing(k - 1) == 0) SetLongWord(Data, 16 + 8 * (k - 1), drawingId);
        if (ClusterDrawing(k - 1) != drawingId) continue;
        if (ClusterUsed(k - 1) < id % ClusterIds + 1) SetLongWord(Data, 20 + 8 * (k - 1), id % ClusterIds + 1);
        highest = std::max(highest, id);
    }
    // Writers that give the highest id itself there are taken at their word.
    if (highest && GetLongWord(Data, 0) < highest) SetLongWord(Data, 0, highest + 1);
    return highest;
}

// ---------------------------------------------------------------- drawing

TEscherDgRecord::TEscherDgRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                 TEscherDwgCache* dwg, TEscherContainerRecord* parent)
    : TEscherRecordOf(header, group, dwg, parent) {
    if (!dwg) return;
    if (dwg->Dg) Raise(ErrDgDuplicated);
    dwg->Dg = this;
}

TEscherDgRecord::~TEscherDgRecord() {
    if (!FDwgCache) return;
    // Also when the whole sheet drawing goes: its drawing and ids are free.
    // A drawing whose ids the group never took frees none; one that goes
    // while its sheet gathers its changes leaves them unknown.
    if (TEscherDggRecord* dgg = Dgg()) {
        if (TDrawingGroupChanges* held = TDrawingGroupChanges::Current()) held->Unsound();
        else if (!FDwgCache->ClaimsHeld) dgg->DestroyClusters(DrawingId());
    }
    if (FDwgCache->Dg == this) FDwgCache->Dg = nullptr;
}

std::uint32_t TEscherDgRecord::IncMaxShapeId() {
    if (!Loaded() || Data.size() < 8) Raise(ErrLoadingEscher);
    SetLongWord(Data, 0, ShapeCount() + 1);
    const std::uint32_t id = Dgg() ? Dgg()->AddImage(DrawingId(), LastShapeId()) : LastShapeId() + 1;
    SetLongWord(Data, 4, id);
    return id;
}

void TEscherDgRecord::CoverShapeId(std::uint32_t shapeId) {
    if (Loaded() && Data.size() >= 8 && LastShapeId() < shapeId) SetLongWord(Data, 4, shapeId);
}

void TEscherDgRecord::DecShapeCount() {
    if (!Loaded() || Data.size() < 8) return;
    if (ShapeCount() > 0) SetLongWord(Data, 0, ShapeCount() - 1);
    if (Dgg()) Dgg()->DecShapeCount();
}

std::unique_ptr<TEscherRecord> TEscherDgRecord::DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent,
                                                         int rowOffset, int colOffset,
                                                         const TEscherSheet* sheet) const {
    auto copy = TEscherDataRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    auto& dg = static_cast<TEscherDgRecord&>(*copy);
    if (Dgg() && dg.Data.size() >= 8) {
        std::uint32_t drawingId = 0;
        const std::uint32_t first = Dgg()->GetNewCluster(drawingId, true, 0);
        Dgg()->AddDwg();
        dg.Pre = static_cast<std::uint16_t>((drawingId << 4) | (Pre & 0xF));
        SetLongWord(dg.Data, 0, 0);
        SetLongWord(dg.Data, 4, first);
    }
    return copy;
}

// ---------------------------------------------------------------- BLIP store

void TEscherBSERecord::CopyFromData(std::span<const std::uint8_t> bseHeader, std::span<const std::uint8_t> blipHeader,
                                    std::span<const std::uint8_t> body) {
    if (bseHeader.size() != 36 || blipHeader.size() != EscherHeaderSize || Size != body.size() + 44)
        Raise(ErrInternal);
    std::vector<std::uint8_t> data(bseHeader.begin(), bseHeader.end());
    data.insert(data.end(), blipHeader.begin(), blipHeader.end());
    data.insert(data.end(), body.begin(), body.end());
    SetData(std::move(data));
}

void TEscherBSERecord::AddRef() {
    if (Data.size() < 28) Raise(ErrLoadingEscher);
    SetLongWord(Data, 24, References() + 1);
}

void TEscherBSERecord::Release() {
    if (Data.size() >= 28 && References() > 0) SetLongWord(Data, 24, References() - 1);
}

TEscherBStoreRecord::TEscherBStoreRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                         TEscherDwgCache* dwg, TEscherContainerRecord* parent)
    : TEscherRecordOf(header, group, dwg, parent) {
    if (!group) return;
    if (group->BStore) Raise(ErrBStroreDuplicated);
    group->BStore = this;
}

TEscherBStoreRecord::~TEscherBStoreRecord() {
    FChildren.Clear();
    if (FDwgGroupCache && FDwgGroupCache->BStore == this) FDwgGroupCache->BStore = nullptr;
}

TEscherBSERecord* TEscherBStoreRecord::Entry(std::size_t index) const {
    auto* entry = index < FChildren.Count() ? dynamic_cast<TEscherBSERecord*>(FChildren[index]) : nullptr;
    if (!entry) Raise(ErrExcelInvalid);
    return entry;
}

void TEscherBStoreRecord::NumberEntries() {
    for (std::size_t i = 0; i < FChildren.Count(); ++i)
        if (auto* entry = dynamic_cast<TEscherBSERecord*>(FChildren[i])) entry->Position = static_cast<std::uint32_t>(i + 1);
}

void TEscherBStoreRecord::SortEntries() {
    FChildren.SortBy([](const TEscherRecord& a, const TEscherRecord& b) {
        if (a.Size != b.Size) return a.Size < b.Size;
        const auto* x = dynamic_cast<const TEscherBSERecord*>(&a);
        const auto* y = dynamic_cast<const TEscherBSERecord*>(&b);
        if (!x || !y || x->Data.size() < 18 || y->Data.size() < 18) return false;
        return std::lexicographical_compare(x->Data.begin() + 2, x->Data.begin() + 18, y->Data.begin() + 2,
                                            y->Data.begin() + 18);
    });
}

void TEscherBStoreRecord::ReleaseEntry(TEscherBSERecord* entry) {
    entry->Release();
    if (entry->OptRefs > 0) --entry->OptRefs;
    if (entry->OptRefs == 0) DeleteChild(entry);
}

TEscherBSERecord* TEscherBStoreRecord::Store(std::unique_ptr<TEscherBSERecord> entry) {
    // Entries are equal when their kind, size and image identity are; the
    // store's order is size, then identity.
    const auto identity = [](const TEscherRecord& r) {
        const auto& data = static_cast<const TEscherDataRecord&>(r).Data;
        return std::span<const std::uint8_t>(data).first(std::min<std::size_t>(data.size(), 18));
    };
    const auto less = [&](const TEscherRecord& a, const TEscherRecord& b) {
        if (a.Size != b.Size) return a.Size < b.Size;
        const auto x = identity(a).subspan(std::min<std::size_t>(2, identity(a).size()));
        const auto y = identity(b).subspan(std::min<std::size_t>(2, identity(b).size()));
        return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
    };
    std::size_t at = FChildren.Count();
    for (std::size_t i = 0; i < FChildren.Count(); ++i) {
        auto* stored = dynamic_cast<TEscherBSERecord*>(FChildren[i]);
        if (!stored) continue;
        if (stored->Size == entry->Size && std::ranges::equal(identity(*stored), identity(*entry))) return stored;
        if (at == FChildren.Count() && less(*entry, *stored)) at = i;
    }
    // Built again as this store's child.
    auto child = std::make_unique<TEscherBSERecord>(TEscherRecordHeader{entry->Pre, entry->Id, entry->Size},
                                                    FDwgGroupCache, nullptr, this);
    child->SetData(std::move(entry->Data));
    TEscherBSERecord* added = child.get();
    FChildren.Insert(at, std::move(child));
    MarkBuilt();
    return added;
}

std::uint16_t TEscherBStoreRecord::SavedPre() const {
    return static_cast<std::uint16_t>((FChildren.Count() << 4) | (Pre & 0xF));
}

// ---------------------------------------------------------------- shape properties

TEscherOPTRecord::~TEscherOPTRecord() {
    if (!FDwgCache || FDwgCache->Destroying) return;
    TEscherBStoreRecord* store = FDwgGroupCache ? FDwgGroupCache->BStore : nullptr;
    for (const TBlipRef& blip : FBlips) {
        if (store) store->ReleaseEntry(blip.Entry);
        else blip.Entry->Release();
    }
    if (FInPictureCache) FDwgCache->Blip.Remove(this);
}

void TEscherOPTRecord::AfterCreate() {
    if (!FDwgCache) return;
    ReadProperties();
    if (!FBlips.empty()) {
        FDwgCache->Blip.Add(this);
        FInPictureCache = true;
    }
}

void TEscherOPTRecord::ReadProperties() {
    const std::size_t count = Instance();
    if (count * 6 > Data.size()) Raise(ErrLoadingEscher);
    FBlips.clear();
    FShapeName.clear();
    TEscherBStoreRecord* store = FDwgGroupCache ? FDwgGroupCache->BStore : nullptr;
    std::size_t complexAt = count * 6;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t id = GetWord(Data, 6 * i);
        const std::uint32_t value = GetLongWord(Data, 6 * i + 2);
        if (id & 0x8000) {
            if ((id & 0x3FFF) == 0x0380 && complexAt + value <= Data.size() && value >= 2) {
                for (std::size_t c = 0; c + 1 < value / 2; ++c) FShapeName.push_back(GetWord(Data, complexAt + 2 * c));
            }
            complexAt += value;
        } else if ((id & 0x4000) && store && value >= 1 && value <= store->Children().Count()) {
            // A value of 0 or past the store is kept as written: no picture.
            if (auto* entry = dynamic_cast<TEscherBSERecord*>(store->Children()[value - 1])) {
                FBlips.push_back({entry, 6 * i + 2});
                if (TDrawingGroupChanges* held = TDrawingGroupChanges::Current()) held->Show(*entry);
                else ++entry->OptRefs;
            }
        }
    }
}

void TEscherOPTRecord::FixBlipPositions() {
    for (const TBlipRef& blip : FBlips)
        if (blip.Entry->Position) SetLongWord(Data, blip.Offset, blip.Entry->Position);
}

TEscherBSERecord* TEscherOPTRecord::StoreImg(std::unique_ptr<TEscherBSERecord> built) {
    TEscherBStoreRecord* store = FDwgGroupCache ? FDwgGroupCache->BStore : nullptr;
    if (!store) Raise(ErrNoBStore);
    TEscherBSERecord* entry = store->Store(std::move(built));
    entry->AddRef();
    ++entry->OptRefs;
    return entry;
}

void TEscherOPTRecord::AddImg(std::unique_ptr<TEscherBSERecord> built, std::size_t valueOffset) {
    if (valueOffset + 4 > Data.size()) Raise(ErrChangingEscher);
    TEscherBSERecord* entry = StoreImg(std::move(built));
    FBlips.push_back({entry, valueOffset});
    if (FDwgCache && !FInPictureCache) {
        FDwgCache->Blip.Add(this);
        FInPictureCache = true;
    }
}

void TEscherOPTRecord::ReplaceImg(std::span<const std::uint8_t> image, TXlsImgTypes type) {
    if (FBlips.size() != 1) Raise(ErrChangingEscher);
    TEscherBSERecord* old = FBlips[0].Entry;
    TEscherBSERecord* entry = StoreImg(ConvertGraphicToBSE(image, type, FDwgGroupCache, nullptr));
    FBlips[0].Entry = entry;
    // The same image shown again: one reference, as before.
    if (TEscherBStoreRecord* store = FDwgGroupCache->BStore) store->ReleaseEntry(old);
}

std::unique_ptr<TEscherRecord> TEscherOPTRecord::DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent,
                                                          int rowOffset, int colOffset,
                                                          const TEscherSheet* sheet) const {
    auto copy = TEscherDataRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    auto& opt = static_cast<TEscherOPTRecord&>(*copy);
    opt.FBlips = FBlips;
    opt.FShapeName = FShapeName;
    for (const TBlipRef& blip : FBlips) {
        blip.Entry->AddRef();
        ++blip.Entry->OptRefs;
    }
    if (target && !FBlips.empty()) {
        target->Blip.Add(&opt);
        opt.FInPictureCache = true;
    }
    return copy;
}

}  // namespace kalmira
