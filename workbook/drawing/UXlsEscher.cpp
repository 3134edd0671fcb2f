#include "workbook/drawing/UXlsEscher.h"

namespace kalmira {

TEscherTree::TEscherTree(std::uint16_t biffId, TEscherDwgGroupCache* group) : FBiffId(biffId), FGroup(group) {
    if (FBiffId == EscherBiffDrawing) FCache = std::make_unique<TEscherDwgCache>();
}

TEscherTree::~TEscherTree() { Clear(); }

void TEscherTree::Clear() {
    if (FCache) FCache->Destroying = true;
    FRoot.reset();
    if (FCache) FCache = std::make_unique<TEscherDwgCache>();
}

void TEscherTree::CopyFrom(const TEscherTree& source) {
    if (&source == this || source.FBiffId != FBiffId) Raise(ErrInternal);
    Clear();
    if (!source.FRoot) return;
    source.FRoot->ClearCopiedTo();
    try {
        FRoot = std::unique_ptr<TEscherContainerRecord>(
            static_cast<TEscherContainerRecord*>(source.FRoot->CopyTo(FCache.get(), nullptr, 0, 0, nullptr).release()));
    } catch (...) {
        Clear();
        throw;
    }
    if (FCache) {
        FCache->Shape.Sort();
        if (FCache->Solver && source.FCache->Solver) FCache->Solver->CheckMax(source.FCache->Solver->MaxRuleId());
    }
}

void TEscherTree::LoadFromStream(std::unique_ptr<TBaseRecord> first, TEscherRecordSource& source,
                                 TClientDataFactory* clients, std::int64_t streamLeft) {
    if (FRoot || !first || first->Id != FBiffId) Raise(ErrExcelInvalid);
    try {
        std::unique_ptr<TBaseRecord> current = std::move(first);
        const TBaseRecord* record = current.get();
        int pos = 0;
        std::uint8_t bytes[EscherHeaderSize];
        if (record->DataSize() < EscherHeaderSize) Raise(ErrLoadingEscher);
        ReadMem(record, pos, EscherHeaderSize, bytes);
        const TEscherRecordHeader header{GetWord(bytes, 0), GetWord(bytes, 2), GetLongWord(bytes, 4)};
        // The root must be a container and may not claim more bytes than
        // its records and the rest of the stream hold.
        if ((header.Pre & 0xF) != 0xF || header.Size > current->TotalSizeNoHeaders() - EscherHeaderSize + streamLeft)
            Raise(ErrLoadingEscher);
        FRoot = std::unique_ptr<TEscherContainerRecord>(
            static_cast<TEscherContainerRecord*>(CreateEscherRecord(header, FGroup, FCache.get(), nullptr).release()));
        while (true) {
            TClientDataKind kind{};
            const bool waiting = FRoot->WaitingClientData(kind);
            if (FRoot->Loaded() && !waiting) break;
            const bool atEnd = pos >= record->DataSize() && !record->Continue;
            if (!waiting) {
                if (atEnd) {
                    current = source.Next();
                    if (!current || current->Id != FBiffId) Raise(ErrExcelInvalid);
                    record = current.get();
                    pos = 0;
                }
                FRoot->Load(record, pos);
                continue;
            }
            if (!atEnd || !clients) Raise(ErrExcelInvalid);
            auto next = source.Next();
            if (!next || next->Id != ClientDataBiffId(kind)) Raise(ErrExcelInvalid);
            auto data = clients->Load(kind, std::move(next), source);
            if (!data) Raise(ErrExcelInvalid);
            auto remaining = data->TakeRemaining();
            FRoot->AssignClientData(std::move(data));
            if (remaining) {
                current = std::move(remaining);
                record = current.get();
                pos = 0;
            }
        }
        // Bytes behind the root would be lost on save.
        if (pos < record->DataSize() || record->Continue) Raise(ErrLoadingEscher);
        if (FCache) {
            FCache->Shape.Sort();
            if (FCache->Solver) FCache->Solver->FixPointers();
            ClaimShapeIds();
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TEscherTree::ClaimShapeIds() {
    // Ids come from the drawing group's clusters: without one nothing is
    // handed out and the ids stay as the file has them.
    if (!FCache->Dg || !FGroup || !FGroup->Dgg) return;
    std::vector<std::uint32_t> ids;
    for (const TEscherSPRecord* shape : FCache->Shape.Items()) ids.push_back(shape->ShapeId());
    FCache->Dg->CoverShapeId(FGroup->Dgg->ClaimShapeIds(FCache->Dg->DrawingId(), ids));
}

void TEscherTree::Split(TEscherSplitState& state) const {
    state.NextDwgId = FBiffId;
    FRoot->SplitRecords(state);
    if (state.Breaks) state.Breaks->Add(0, state.NextPos);
}

std::int64_t TEscherTree::TotalSize() const {
    if (!FRoot) return 0;
    TEscherSplitState state;
    Split(state);
    return state.RealSize;
}

void TEscherTree::SaveToStream(TOle2File& ole) const {
    if (!FRoot) return;
    TBreakList breaks(ole.Position());
    TEscherSplitState state;
    state.Breaks = &breaks;
    Split(state);
    FRoot->SaveToStream(ole, breaks);
}

}  // namespace kalmira
