#include "workbook/drawing/UEscherRecords.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "workbook/drawing/UEscherOtherRecords.h"

namespace kalmira {

namespace {

// Bytes left in a BIFF record and its CONTINUE chain from pos, counted up
// to need only.
std::int64_t ChainLeft(const TBaseRecord* record, int pos, std::int64_t need) {
    std::int64_t left = record->DataSize() - pos;
    for (const TBaseRecord* r = record->Continue.get(); r && left < need; r = r->Continue.get()) left += r->DataSize();
    return left;
}

// True when nothing is left to read at pos; steps onto the next CONTINUE
// record when the current one is used up.
bool AtChainEnd(const TBaseRecord*& record, int& pos) {
    while (pos >= record->DataSize()) {
        if (!record->Continue) return true;
        record = record->Continue.get();
        pos = 0;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------- caches

void TEscherShapeCache::Sort() {
    if (FSorted) return;
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const TEscherSPRecord* a, const TEscherSPRecord* b) { return a->ShapeId() < b->ShapeId(); });
    FSorted = true;
}

TEscherSPRecord* TEscherShapeCache::Find(std::uint32_t shapeId) {
    Sort();
    auto it = std::lower_bound(FItems.begin(), FItems.end(), shapeId,
                               [](const TEscherSPRecord* r, std::uint32_t id) { return r->ShapeId() < id; });
    return it != FItems.end() && (*it)->ShapeId() == shapeId ? *it : nullptr;
}

// ---------------------------------------------------------------- base

TEscherRecord::TEscherRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                             TEscherContainerRecord* parent)
    : Pre(header.Pre), Id(header.Id), Size(header.Size), FDwgGroupCache(group), FDwgCache(dwg), FParent(parent),
      FDepth(parent ? parent->Depth() + 1 : 0) {}

bool TEscherRecord::Loaded() const {
    if (FLoaded > static_cast<std::int64_t>(Size)) Raise(ErrInternal);
    return FLoaded == static_cast<std::int64_t>(Size);
}

void TEscherRecord::AssignClientData(std::unique_ptr<TBaseClientData>) { Raise(ErrLoadingEscher); }

int TEscherRecord::CompareRec(const TEscherRecord& other) const {
    if (Id != other.Id) return Id < other.Id ? -1 : 1;
    if (Pre != other.Pre) return Pre < other.Pre ? -1 : 1;
    const auto a = static_cast<std::int32_t>(Size), b = static_cast<std::int32_t>(other.Size);
    return a == b ? 0 : a < b ? -1 : 1;
}

std::unique_ptr<TEscherRecord> TEscherRecord::CopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent,
                                                     int rowOffset, int colOffset, const TEscherSheet* sheet) const {
    return DoCopyTo(target, parent, rowOffset, colOffset, sheet);
}

std::unique_ptr<TEscherRecord> TEscherRecord::DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent, int,
                                                       int, const TEscherSheet*) const {
    auto copy = NewOfSameClass({Pre, Id, Size}, target, parent);
    copy->FLoaded = FLoaded;
    FCopiedTo = copy.get();
    return copy;
}

TEscherRecord* TEscherRecord::FindRoot() {
    TEscherRecord* patriarch = Patriarch();
    if (!patriarch) return nullptr;
    for (TEscherRecord* r = this; r; r = r->Parent())
        if (r->Parent() == patriarch) return r;
    return nullptr;
}

TEscherSpgrContainerRecord* TEscherRecord::Patriarch() const { return FDwgCache ? FDwgCache->Patriarch : nullptr; }

TEscherRecord* TEscherRecord::CopyDwg(int rowOffset, int colOffset, const TEscherSheet* sheet) {
    TEscherRecord* root = FindRoot();
    TEscherSpgrContainerRecord* patriarch = Patriarch();
    if (!patriarch || !root) Raise(ErrLoadingEscher);
    if (FDwgCache->Solver) FDwgCache->Solver->CheckShapesMayChange();
    // Client data that cannot be copied refuses before anything is built.
    for (TEscherClientDataRecord* data : FDwgCache->Obj.Items())
        if (data->ClientData() && data->FindRoot() == root) data->ClientData()->CopyTo();
    root->ClearCopiedTo();
    TEscherRecord* copy = patriarch->AddBuilt(root->CopyTo(FDwgCache, patriarch, rowOffset, colOffset, sheet));
    if (FDwgCache->Solver) FDwgCache->Solver->ArrangeCopyRowsAndCols();
    return copy;
}

void TEscherRecord::SplitRecords(TEscherSplitState& state) const {
    if (state.NextDwgId > 0) {
        if (state.Breaks) state.Breaks->Add(static_cast<std::uint16_t>(state.NextDwgId), state.NextPos);
        state.RealSize += 4;
        state.NextPos = 0;
        state.NextDwgId = -1;
    }
    CountSplit(state, EscherHeaderSize);
}

void TEscherRecord::CountSplit(TEscherSplitState& state, std::int64_t n) {
    if (state.NextPos > EscherChunkSize) Raise(ErrInternal);
    state.NextPos += n;
    state.RealSize += n;
    if (state.NextPos <= EscherChunkSize) return;
    // Whole chunks at once: a record of gigabytes is counted without a loop
    // per chunk, but every chunk gets its break.
    while (state.NextPos > EscherChunkSize) {
        state.NextPos -= EscherChunkSize;
        state.RealSize += 4;
        if (state.Breaks) state.Breaks->Add(xlr_CONTINUE, EscherChunkSize);
    }
}

namespace {
void CheckSplit(TOle2File& ole, TBreakList& breaks) {
    const std::int64_t position = ole.Position();
    if (position > breaks.AcumSize()) Raise(ErrInternal);
    if (position == breaks.AcumSize()) {
        ole.WriteHeader(breaks.CurrentId(), breaks.CurrentSize());
        breaks.IncCurrent();
    }
}
}  // namespace

void TEscherRecord::WriteSplit(TOle2File& ole, TBreakList& breaks, const std::uint8_t* bytes, std::int64_t count) {
    while (count > 0) {
        CheckSplit(ole, breaks);
        const std::int64_t take = std::min(count, breaks.AcumSize() - ole.Position());
        if (take <= 0) Raise(ErrInternal);
        ole.WriteMem(bytes, static_cast<std::size_t>(take));
        bytes += take;
        count -= take;
    }
}

void TEscherRecord::WriteHeader(TOle2File& ole, TBreakList& breaks) const {
    if (!Loaded()) Raise(ErrEscherNotLoaded);
    std::uint8_t header[EscherHeaderSize];
    SetWord(header, 0, SavedPre());
    SetWord(header, 2, Id);
    SetLongWord(header, 4, static_cast<std::uint32_t>(TotalSizeNoSplit() - EscherHeaderSize));
    WriteSplit(ole, breaks, header, EscherHeaderSize);
}

void TEscherRecord::SaveToStream(TOle2File& ole, TBreakList& breaks) const { WriteHeader(ole, breaks); }

// ---------------------------------------------------------------- data

std::unique_ptr<TEscherRecord> TEscherDataRecord::NewOfSameClass(const TEscherRecordHeader& header,
                                                                 TEscherDwgCache* target,
                                                                 TEscherContainerRecord* parent) const {
    return std::make_unique<TEscherDataRecord>(header, FDwgGroupCache, target, parent);
}

std::unique_ptr<TEscherRecord> TEscherDataRecord::DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent,
                                                           int rowOffset, int colOffset,
                                                           const TEscherSheet* sheet) const {
    auto copy = TEscherRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    static_cast<TEscherDataRecord&>(*copy).Data = Data;
    return copy;
}

void TEscherDataRecord::Load(const TBaseRecord*& record, int& pos) {
    const std::int64_t missing = static_cast<std::int64_t>(Size) - static_cast<std::int64_t>(Data.size());
    if (missing == 0) return;
    if (missing < 0 || AtChainEnd(record, pos)) Raise(ErrLoadingEscher);
    // Only what the BIFF records hold is read; a size beyond them grows the
    // buffer no further than the bytes that arrive.
    std::int64_t left = missing;
    while (left > 0 && !AtChainEnd(record, pos)) {
        const int take = static_cast<int>(std::min<std::int64_t>(left, record->DataSize() - pos));
        Data.insert(Data.end(), record->Data.begin() + pos, record->Data.begin() + pos + take);
        pos += take;
        left -= take;
    }
    FLoaded = static_cast<std::int64_t>(Data.size());
}

void TEscherDataRecord::SaveToStream(TOle2File& ole, TBreakList& breaks) const {
    WriteHeader(ole, breaks);
    WriteSplit(ole, breaks, Data.data(), static_cast<std::int64_t>(Data.size()));
}

void TEscherDataRecord::SplitRecords(TEscherSplitState& state) const {
    TEscherRecord::SplitRecords(state);
    CountSplit(state, Size);
}

int TEscherDataRecord::CompareRec(const TEscherRecord& other) const {
    if (const int c = TEscherRecord::CompareRec(other)) return c;
    const auto* data = dynamic_cast<const TEscherDataRecord*>(&other);
    if (!data) return 0;
    const auto c = std::lexicographical_compare_three_way(Data.begin(), Data.end(), data->Data.begin(), data->Data.end());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void TEscherDataRecord::SetData(std::vector<std::uint8_t> data) {
    Data = std::move(data);
    Size = static_cast<std::uint32_t>(Data.size());
    FLoaded = Size;
}

// ---------------------------------------------------------------- lists

std::unique_ptr<TEscherRecord> TEscherRecordList::Extract(const TEscherRecord* record) {
    for (auto it = FItems.begin(); it != FItems.end(); ++it)
        if (it->get() == record) {
            auto out = std::move(*it);
            FItems.erase(it);
            return out;
        }
    return nullptr;
}

TEscherRecord* TEscherRecordList::Find(const TEscherRecord& like, std::size_t& index) {
    if (!FSorted) {
        std::stable_sort(FItems.begin(), FItems.end(),
                         [](const auto& a, const auto& b) { return a->CompareRec(*b) < 0; });
        FSorted = true;
    }
    auto it = std::lower_bound(FItems.begin(), FItems.end(), like,
                               [](const auto& r, const TEscherRecord& l) { return r->CompareRec(l) < 0; });
    index = static_cast<std::size_t>(it - FItems.begin());
    return it != FItems.end() && (*it)->CompareRec(like) == 0 ? it->get() : nullptr;
}

std::int64_t TEscherRecordList::TotalSizeNoSplit() const {
    std::int64_t total = 0;
    for (const auto& r : FItems) total += r->TotalSizeNoSplit();
    return total;
}

// ---------------------------------------------------------------- containers

std::unique_ptr<TEscherRecord> TEscherContainerRecord::NewOfSameClass(const TEscherRecordHeader& header,
                                                                      TEscherDwgCache* target,
                                                                      TEscherContainerRecord* parent) const {
    return std::make_unique<TEscherContainerRecord>(header, FDwgGroupCache, target, parent);
}

TEscherRecord* TEscherContainerRecord::LastRecord() const {
    if (FChildren.Count() == 0) Raise(ErrLoadingEscher);
    return FChildren[FChildren.Count() - 1];
}

TEscherRecord* TEscherContainerRecord::AddBuilt(std::unique_ptr<TEscherRecord> record) {
    TEscherRecord* added = record.get();
    FChildren.Add(std::move(record));
    FComplete = true;
    return added;
}

bool TEscherContainerRecord::Loaded() const {
    if (!FComplete) FComplete = TEscherRecord::Loaded();
    return FComplete;
}

std::unique_ptr<TEscherRecord> TEscherContainerRecord::DoCopyTo(TEscherDwgCache* target,
                                                                TEscherContainerRecord* parent, int rowOffset,
                                                                int colOffset, const TEscherSheet* sheet) const {
    auto copy = TEscherRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    auto& container = static_cast<TEscherContainerRecord&>(*copy);
    container.FComplete = FComplete;
    for (std::size_t i = 0; i < FChildren.Count(); ++i)
        container.FChildren.Add(FChildren[i]->CopyTo(target, &container, rowOffset, colOffset, sheet));
    return copy;
}

void TEscherContainerRecord::Load(const TBaseRecord*& record, int& pos) {
    if (pos > record->DataSize()) Raise(ErrExcelInvalid);
    while (!Loaded()) {
        if (AtChainEnd(record, pos)) return;
        TEscherRecord* child = FChildren.Count() ? LastRecord() : nullptr;
        TClientDataKind kind;
        if (child && child->WaitingClientData(kind)) return;  // its OBJ or TXO comes first
        if (child && !child->Loaded()) {
            child->Load(record, pos);
        } else {
            if (ChainLeft(record, pos, EscherHeaderSize) < EscherHeaderSize) Raise(ErrLoadingEscher);
            std::uint8_t bytes[EscherHeaderSize];
            ReadMem(record, pos, EscherHeaderSize, bytes);
            const TEscherRecordHeader header{GetWord(bytes, 0), GetWord(bytes, 2), GetLongWord(bytes, 4)};
            // A child must end inside its container.
            if (EscherHeaderSize + static_cast<std::int64_t>(header.Size) > static_cast<std::int64_t>(Size) - FLoaded)
                Raise(ErrLoadingEscher);
            FChildren.Add(CreateEscherRecord(header, FDwgGroupCache, FDwgCache, this));
            child = LastRecord();
            child->Load(record, pos);
        }
        if (child->Loaded()) {
            FLoaded += child->TotalSizeNoSplit();
            child->AfterCreate();
        }
    }
}

void TEscherContainerRecord::SaveToStream(TOle2File& ole, TBreakList& breaks) const {
    WriteHeader(ole, breaks);
    for (std::size_t i = 0; i < FChildren.Count(); ++i) FChildren[i]->SaveToStream(ole, breaks);
}

bool TEscherContainerRecord::WaitingClientData(TClientDataKind& kind) const {
    return FChildren.Count() > 0 && LastRecord()->WaitingClientData(kind);
}

void TEscherContainerRecord::AssignClientData(std::unique_ptr<TBaseClientData> data) {
    if (FChildren.Count() == 0) Raise(ErrLoadingEscher);
    LastRecord()->AssignClientData(std::move(data));
}

void TEscherContainerRecord::SplitRecords(TEscherSplitState& state) const {
    TEscherRecord::SplitRecords(state);
    for (std::size_t i = 0; i < FChildren.Count(); ++i) FChildren[i]->SplitRecords(state);
}

void TEscherContainerRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                                      const TSheetInfo& info, bool moveOnly,
                                                      const TEscherSheet* sheet) {
    for (std::size_t i = 0; i < FChildren.Count(); ++i)
        FChildren[i]->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info, moveOnly, sheet);
}

void TEscherContainerRecord::ClearCopiedTo() {
    TEscherRecord::ClearCopiedTo();
    for (std::size_t i = 0; i < FChildren.Count(); ++i) FChildren[i]->ClearCopiedTo();
}

// ---------------------------------------------------------------- shapes

TEscherSpgrContainerRecord::TEscherSpgrContainerRecord(const TEscherRecordHeader& header,
                                                       TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                                                       TEscherContainerRecord* parent)
    : TEscherRecordOf(header, group, dwg, parent) {
    if (dwg && !dwg->Patriarch) dwg->Patriarch = this;
}

TEscherSpgrContainerRecord::~TEscherSpgrContainerRecord() {
    FChildren.Clear();
    if (FDwgCache && FDwgCache->Patriarch == this) FDwgCache->Patriarch = nullptr;
}

int TEscherSpContainerRecord::Row() const { return ClientAnchor && ClientAnchor->HasAnchor() ? ClientAnchor->GetAnchor().Row1 : 0; }
int TEscherSpContainerRecord::Col() const { return ClientAnchor && ClientAnchor->HasAnchor() ? ClientAnchor->GetAnchor().Col1 : 0; }

TEscherSPRecord::TEscherSPRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                 TEscherDwgCache* dwg, TEscherContainerRecord* parent)
    : TEscherRecordOf(header, group, dwg, parent), FShape(dynamic_cast<TEscherSpContainerRecord*>(parent)) {
    if (FDwgCache) FDwgCache->Shape.Add(this);
    if (FShape && !FShape->SP) FShape->SP = this;
}

TEscherSPRecord::TEscherSPRecord(std::uint16_t pre, std::uint32_t shapeId, std::uint32_t flags,
                                 TEscherDwgGroupCache* group, TEscherDwgCache* dwg, TEscherContainerRecord* parent)
    : TEscherSPRecord({pre, 0xF00A, 8}, group, dwg, parent) {
    std::vector<std::uint8_t> data(8);
    SetLongWord(data, 0, shapeId);
    SetLongWord(data, 4, flags);
    SetData(std::move(data));
}

TEscherSPRecord::~TEscherSPRecord() {
    if (!FDwgCache || FDwgCache->Destroying) return;
    if (FDwgCache->Dg) FDwgCache->Dg->DecShapeCount();
    if (FDwgCache->Solver) FDwgCache->Solver->DeleteRef(this);
    FDwgCache->Shape.Remove(this);
    if (FShape && FShape->SP == this) FShape->SP = nullptr;
}

void TEscherSPRecord::SetShapeId(std::uint32_t id) {
    if (Data.size() < 4) Raise(ErrLoadingEscher);
    SetLongWord(Data, 0, id);
}

std::unique_ptr<TEscherRecord> TEscherSPRecord::DoCopyTo(TEscherDwgCache* target, TEscherContainerRecord* parent,
                                                         int rowOffset, int colOffset,
                                                         const TEscherSheet* sheet) const {
    auto copy = TEscherDataRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    if (target && target->Dg && copy->Loaded() && Data.size() >= 4)
        static_cast<TEscherSPRecord&>(*copy).SetShapeId(target->Dg->IncMaxShapeId());
    return copy;
}

TEscherClientAnchorRecord::TEscherClientAnchorRecord(const TEscherRecordHeader& header,
                                                     TEscherDwgGroupCache* group, TEscherDwgCache* dwg,
                                                     TEscherContainerRecord* parent)
    : TEscherRecordOf(header, group, dwg, parent), FShape(dynamic_cast<TEscherSpContainerRecord*>(parent)) {
    if (FDwgCache) FDwgCache->Anchor.Add(this);
    if (FShape && !FShape->ClientAnchor) FShape->ClientAnchor = this;
}

TEscherClientAnchorRecord::~TEscherClientAnchorRecord() {
    if (!FDwgCache || FDwgCache->Destroying) return;
    FDwgCache->Anchor.Remove(this);
    if (FShape && FShape->ClientAnchor == this) FShape->ClientAnchor = nullptr;
}

TClientAnchor TEscherClientAnchorRecord::GetAnchor() const {
    if (!HasAnchor()) Raise(ErrLoadingEscher);
    std::array<std::uint16_t, 9> v{};
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = GetWord(Data, 2 * i);
    return {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]};
}

void TEscherClientAnchorRecord::SetAnchor(const TClientAnchor& a) {
    if (!HasAnchor()) Raise(ErrLoadingEscher);
    const std::uint16_t v[] = {a.Flag, a.Col1, a.Dx1, a.Row1, a.Dy1, a.Col2, a.Dx2, a.Row2, a.Dy2};
    for (std::size_t i = 0; i < std::size(v); ++i) SetWord(Data, 2 * i, v[i]);
}

std::unique_ptr<TEscherRecord> TEscherClientAnchorRecord::DoCopyTo(TEscherDwgCache* target,
                                                                   TEscherContainerRecord* parent, int rowOffset,
                                                                   int colOffset, const TEscherSheet* sheet) const {
    auto copy = TEscherDataRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    auto& anchor = static_cast<TEscherClientAnchorRecord&>(*copy);
    anchor.HasPixels = HasPixels;
    anchor.Pixels = Pixels;
    if (!HasAnchor() || (rowOffset == 0 && colOffset == 0)) return copy;
    TClientAnchor a = GetAnchor();
    const auto move = [](std::uint16_t& v, int by, int max) { v = static_cast<std::uint16_t>(std::clamp(v + by, 0, max)); };
    move(a.Row1, rowOffset, 65535);
    move(a.Row2, rowOffset, 65535);
    move(a.Col1, colOffset, 255);
    move(a.Col2, colOffset, 255);
    anchor.SetAnchor(a);
    if (sheet && anchor.AnchorKind() != 0) {
        anchor.Pixels = MeasureAnchor(a, *sheet);
        anchor.HasPixels = true;
    }
    return copy;
}

namespace {

double RoundEven(double v) { return std::nearbyint(v); }

double CornerPos(double (TEscherSheet::*size)(int) const, const TEscherSheet& sheet, int cell, int offset,
                 double parts) {
    double pos = 0;
    for (int i = 0; i < cell; ++i) pos += (sheet.*size)(i);
    return pos + RoundEven((sheet.*size)(cell) * offset / parts);
}

void CellAt(double (TEscherSheet::*size)(int) const, const TEscherSheet& sheet, double position, int max,
            double parts, std::uint16_t& cell, std::uint16_t& offset) {
    // A corner left of (above) the sheet's start lies at its start: anchors
    // read from a file may have their corners in any order.
    position = std::max(position, 0.0);
    double sum = 0, start = 0;
    int c = 0;
    while (c <= max && sum <= position) {
        start = sum;
        sum += (sheet.*size)(c);
        ++c;
    }
    cell = static_cast<std::uint16_t>(std::max(c - 1, 0));
    const double width = (sheet.*size)(cell);
    offset = width < 1 ? 0
                       : static_cast<std::uint16_t>(std::clamp(RoundEven((position - start) / width * parts), 0.0, parts));
}

}  // namespace

TAnchorPixels MeasureAnchor(const TClientAnchor& a, const TEscherSheet& sheet) {
    return {CornerPos(&TEscherSheet::ColumnWidthPx, sheet, a.Col1, a.Dx1, 1024),
            CornerPos(&TEscherSheet::RowHeightPx, sheet, a.Row1, a.Dy1, 255),
            CornerPos(&TEscherSheet::ColumnWidthPx, sheet, a.Col2, a.Dx2, 1024),
            CornerPos(&TEscherSheet::RowHeightPx, sheet, a.Row2, a.Dy2, 255)};
}

void ColumnAt(const TEscherSheet& sheet, double position, std::uint16_t& column, std::uint16_t& offset) {
    CellAt(&TEscherSheet::ColumnWidthPx, sheet, position, 255, 1024, column, offset);
}

void RowAt(const TEscherSheet& sheet, double position, std::uint16_t& row, std::uint16_t& offset) {
    CellAt(&TEscherSheet::RowHeightPx, sheet, position, 65535, 255, row, offset);
}

// ---------------------------------------------------------------- client data

TEscherClientDataRecord::TEscherClientDataRecord(const TEscherRecordHeader& header, TEscherDwgGroupCache* group,
                                                 TEscherDwgCache* dwg, TEscherContainerRecord* parent)
    : TEscherDataRecord(header, group, dwg, parent) {
    if (FDwgCache) FDwgCache->Obj.Add(this);
}

TEscherClientDataRecord::~TEscherClientDataRecord() {
    if (FDwgCache && !FDwgCache->Destroying) FDwgCache->Obj.Remove(this);
}

std::unique_ptr<TEscherRecord> TEscherClientDataRecord::NewOfSameClass(const TEscherRecordHeader& header,
                                                                       TEscherDwgCache* target,
                                                                       TEscherContainerRecord* parent) const {
    return std::make_unique<TEscherClientDataRecord>(header, FDwgGroupCache, target, parent);
}

std::unique_ptr<TEscherRecord> TEscherClientDataRecord::DoCopyTo(TEscherDwgCache* target,
                                                                 TEscherContainerRecord* parent, int rowOffset,
                                                                 int colOffset, const TEscherSheet* sheet) const {
    // The client data first: an object that cannot be copied refuses before
    // anything is built.
    std::unique_ptr<TBaseClientData> data = FClientData ? FClientData->CopyTo() : nullptr;
    auto copy = TEscherDataRecord::DoCopyTo(target, parent, rowOffset, colOffset, sheet);
    if (data) {
        if (target && target == FDwgCache) data->SetId(static_cast<std::uint16_t>(target->MaxObjId + 1));
        data->ArrangeCopyRowsAndCols(rowOffset, colOffset);
        copy->AssignClientData(std::move(data));
    }
    return copy;
}

bool TEscherClientDataRecord::WaitingClientData(TClientDataKind& kind) const {
    if (!Loaded() || FClientData) return false;
    kind = WantedKind();
    return true;
}

void TEscherClientDataRecord::AssignClientData(std::unique_ptr<TBaseClientData> data) {
    if (FDwgCache && data && data->GetId() > FDwgCache->MaxObjId) FDwgCache->MaxObjId = data->GetId();
    FClientData = std::move(data);
}

void TEscherClientDataRecord::SplitRecords(TEscherSplitState& state) const {
    TEscherDataRecord::SplitRecords(state);
    if (!FClientData) return;
    state.RealSize += FClientData->TotalSize();
    state.NextDwgId = EscherBiffDrawing;
}

void TEscherClientDataRecord::SaveToStream(TOle2File& ole, TBreakList& breaks) const {
    TEscherDataRecord::SaveToStream(ole, breaks);
    if (!FClientData) return;
    const std::int64_t start = ole.Position();
    FClientData->SaveToStream(ole);
    breaks.AddToZeroPos(ole.Position() - start);
}

void TEscherClientDataRecord::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                                       const TSheetInfo& info, bool, const TEscherSheet*) {
    if (FClientData) FClientData->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

}  // namespace kalmira
