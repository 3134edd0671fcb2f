#include "workbook/drawing/UXlsEscher.h"

#include <algorithm>
#include <type_traits>

#include "workbook/drawing/UEscherGraphToBSE.h"

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
            if (TDrawingGroupChanges* held = TDrawingGroupChanges::Current()) held->Claim(*this);
            else ClaimShapeIds();
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TEscherTree::SetRoot(std::unique_ptr<TEscherContainerRecord> root) {
    if (FRoot) Raise(ErrInternal);
    FRoot = std::move(root);
}

void TEscherTree::ClaimShapeIds() {
    // Ids come from the drawing group's clusters: without one nothing is
    // handed out and the ids stay as the file has them.
    if (!FCache->Dg || !FGroup || !FGroup->Dgg) return;
    std::vector<std::uint32_t> ids;
    for (const TEscherSPRecord* shape : FCache->Shape.Items()) ids.push_back(shape->ShapeId());
    FCache->Dg->CoverShapeId(FGroup->Dgg->ClaimShapeIds(FCache->Dg->DrawingId(), ids));
}

namespace {
thread_local TDrawingGroupChanges* Gathering = nullptr;
}  // namespace

TDrawingGroupChanges::TGathering::TGathering(TDrawingGroupChanges& changes) : FOuter(Gathering) {
    Gathering = &changes;
}

TDrawingGroupChanges::TGathering::~TGathering() { Gathering = FOuter; }

TDrawingGroupChanges* TDrawingGroupChanges::Current() { return Gathering; }

void TDrawingGroupChanges::Claim(TEscherTree& tree) {
    FClaims.push_back(&tree);
    tree.FCache->ClaimsHeld = true;
}

void TDrawingGroupChanges::Apply() {
    if (!FSound) Raise(ErrInternal);
    for (TEscherBSERecord* entry : FShown) ++entry->OptRefs;
    for (TEscherTree* tree : FClaims) {
        tree->FCache->ClaimsHeld = false;
        tree->ClaimShapeIds();
    }
    FShown.clear();
    FClaims.clear();
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


// ---------------------------------------------------------------- drawing group

namespace {

// A record built in memory, complete as it stands.
template <class T>
std::unique_ptr<T> Built(std::uint16_t pre, std::uint16_t id, std::vector<std::uint8_t> data,
                         TEscherDwgGroupCache* group, TEscherContainerRecord* parent, TEscherDwgCache* dwg = nullptr) {
    auto record = std::make_unique<T>(TEscherRecordHeader{pre, id, static_cast<std::uint32_t>(data.size())}, group,
                                      dwg, parent);
    if constexpr (std::is_base_of_v<TEscherDataRecord, T>) record->SetData(std::move(data));
    else record->MarkBuilt();
    return record;
}

std::vector<std::uint8_t> Properties(std::initializer_list<std::pair<std::uint16_t, std::uint32_t>> table) {
    std::vector<std::uint8_t> data(table.size() * 6);
    std::size_t pos = 0;
    for (const auto& [id, value] : table) {
        SetWord(data, pos, id);
        SetLongWord(data, pos + 2, value);
        pos += 6;
    }
    return data;
}

}  // namespace

void TDrawingGroup::SaveToStream(TOle2File& ole) const {
    if (FCache.BStore) FCache.BStore->NumberEntries();
    FTree.SaveToStream(ole);
}

void TDrawingGroup::EnsureDwgGroup() {
    if (!FTree.Root()) {
        FTree.SetRoot(Built<TEscherContainerRecord>(0x000F, 0xF000, {}, &FCache, nullptr));
    }
    TEscherContainerRecord& root = *FTree.Root();
    if (!root.FindRec<TEscherDggRecord>()) {
        std::vector<std::uint8_t> dgg(16);
        SetLongWord(dgg, 0, 2);
        SetLongWord(dgg, 4, 1);
        root.AddBuilt(Built<TEscherDggRecord>(0, 0xF006, std::move(dgg), &FCache, &root));
    }
    if (!root.FindRec<TEscherBStoreRecord>()) {
        root.AddBuilt(Built<TEscherBStoreRecord>(0x002F, 0xF001, {}, &FCache, &root));
    }
    if (!root.FindRec<TEscherOPTRecord>())
        root.AddBuilt(Built<TEscherOPTRecord>(
            0x0033, 0xF00B, Properties({{0x00BF, 0x00080008}, {0x0181, 0x08000009}, {0x01C0, 0x08000040}}), &FCache,
            &root));
    if (!root.FindRec<TEscherSplitMenuRecord>()) {
        std::vector<std::uint8_t> colours(16);
        const std::uint32_t values[] = {0x0800000D, 0x0800000C, 0x08000017, 0x100000F7};
        for (std::size_t i = 0; i < 4; ++i) SetLongWord(colours, 4 * i, values[i]);
        root.AddBuilt(Built<TEscherSplitMenuRecord>(0x0040, 0xF11E, std::move(colours), &FCache, &root));
    }
}

void TDrawingGroup::SortBlips() {
    if (FCache.BStore) FCache.BStore->SortEntries();
}

// ---------------------------------------------------------------- sheet drawing

void TDrawing::SaveToStream(TOle2File& ole) const {
    if (!FTree.Root()) return;
    // The store numbers its entries as it stands now; each picture writes
    // the place of its image.
    if (FGroup && FGroup->GetRecordCache()->BStore) FGroup->GetRecordCache()->BStore->NumberEntries();
    for (TEscherOPTRecord* opt : FTree.Cache()->Blip.Items()) opt->FixBlipPositions();
    FTree.SaveToStream(ole);
}

int TDrawing::DrawingCount() const { return static_cast<int>(FTree.Cache()->Blip.Count()); }

TEscherOPTRecord& TDrawing::Picture(int n) const {
    if (n < 0 || n >= DrawingCount()) Raise(ErrDrawingIndex);
    return *FTree.Cache()->Blip.Items()[static_cast<std::size_t>(n)];
}

std::u16string TDrawing::GetDrawingName(int n) const { return Picture(n).ShapeName(); }

namespace {
TEscherClientAnchorRecord* AnchorOf(const TEscherRecord& record) {
    auto* shape = dynamic_cast<TEscherSpContainerRecord*>(record.Parent());
    return shape && shape->ClientAnchor && shape->ClientAnchor->HasAnchor() ? shape->ClientAnchor : nullptr;
}
}  // namespace

int TDrawing::GetDrawingRow(int n) const {
    const TEscherClientAnchorRecord* anchor = AnchorOf(Picture(n));
    return anchor ? anchor->GetAnchor().Row1 : 0;
}

TClientAnchor TDrawing::GetAnchor(int n) const {
    const TEscherClientAnchorRecord* anchor = AnchorOf(Picture(n));
    return anchor ? anchor->GetAnchor() : TClientAnchor{};
}

void TDrawing::SetAnchor(int n, const TClientAnchor& value, const TEscherSheet& sheet) {
    TEscherClientAnchorRecord* anchor = AnchorOf(Picture(n));
    if (!anchor) Raise(ErrChangingEscher);
    anchor->SetAnchor(value);
    anchor->Pixels = MeasureAnchor(value, sheet);
    anchor->HasPixels = true;
}

std::vector<std::uint8_t> TDrawing::GetDrawingBytes(int n, TXlsImgTypes& type) const {
    const TEscherOPTRecord& opt = Picture(n);
    if (opt.Blips().size() != 1) Raise(ErrChangingEscher);
    return GetBlipStoredBytes(*opt.Blips()[0].Entry, type);
}

void TDrawing::RemoveShape(TEscherRecord* shape) {
    TEscherSpgrContainerRecord* patriarch = FTree.Cache()->Patriarch;
    if (!patriarch || !shape || shape->Parent() != patriarch) Raise(ErrLoadingEscher);
    FOwned.erase(std::remove(FOwned.begin(), FOwned.end(), shape), FOwned.end());
    patriarch->DeleteChild(shape);
}

void TDrawing::DeleteImage(int n) {
    TEscherRecord* shape = Picture(n).FindRoot();
    if (FTree.Cache()->Solver) FTree.Cache()->Solver->CheckShapesMayChange();
    RemoveShape(shape);
}

TEscherClientDataRecord* TDrawing::FindObjId(std::uint16_t id) const {
    if (!FTree.Root()) return nullptr;
    for (TEscherClientDataRecord* data : FTree.Cache()->Obj.Items())
        if (data->ClientData() && data->ClientData()->Kind() == TClientDataKind::Obj && data->ObjId() == id)
            return data;
    return nullptr;
}

std::vector<TEscherClientAnchorRecord*> TDrawing::Anchors() const {
    std::vector<TEscherClientAnchorRecord*> out;
    if (!FTree.Root()) return out;
    for (TEscherClientAnchorRecord* anchor : FTree.Cache()->Anchor.Items())
        if (anchor->HasAnchor() && std::find(FOwned.begin(), FOwned.end(), anchor->FindRoot()) == FOwned.end())
            out.push_back(anchor);
    return out;
}

void TDrawing::MoveShape(TEscherRecord& shape, int rows, int cols, const TEscherSheet& sheet) {
    auto* container = dynamic_cast<TEscherSpContainerRecord*>(&shape);
    TEscherClientAnchorRecord* anchor = container ? container->ClientAnchor : nullptr;
    if (!anchor || !anchor->HasAnchor()) return;
    TClientAnchor a = anchor->GetAnchor();
    const auto move = [](std::uint16_t& first, std::uint16_t& last, int by, int max) {
        const int low = std::min<int>(first, last), high = std::max<int>(first, last);
        by = std::clamp(by, -low, max - high);
        first = static_cast<std::uint16_t>(first + by);
        last = static_cast<std::uint16_t>(last + by);
    };
    move(a.Row1, a.Row2, rows, 65535);
    move(a.Col1, a.Col2, cols, 255);
    anchor->SetAnchor(a);
    anchor->Pixels = MeasureAnchor(a, sheet);
    anchor->HasPixels = true;
}

void TDrawing::CreateBasicDrawingInfo() {
    if (!FGroup) Raise(ErrNoDrawingGroup);
    FGroup->EnsureDwgGroup();
    TEscherDwgGroupCache* group = FGroup->GetRecordCache();
    TEscherDwgCache* cache = FTree.Cache();
    auto root = Built<TEscherContainerRecord>(0x000F, 0xF002, {}, group, nullptr, cache);
    // One drawing more, counted once.
    std::uint32_t drawingId = 0;
    const std::uint32_t first = group->Dgg->GetNewCluster(drawingId, true, 0);
    group->Dgg->AddDwg();
    std::vector<std::uint8_t> dg(8);
    SetLongWord(dg, 4, first);
    root->AddBuilt(Built<TEscherDgRecord>(static_cast<std::uint16_t>(drawingId << 4), 0xF008, std::move(dg), group,
                                          root.get(), cache));
    auto* patriarch = root->AddBuilt(Built<TEscherSpgrContainerRecord>(0x000F, 0xF003, {}, group, root.get(), cache));
    auto* shape = static_cast<TEscherContainerRecord*>(patriarch)->AddBuilt(Built<TEscherSpContainerRecord>(
        0x000F, 0xF004, {}, group, static_cast<TEscherContainerRecord*>(patriarch), cache));
    auto* container = static_cast<TEscherContainerRecord*>(shape);
    container->AddBuilt(Built<TEscherDataRecord>(0x0001, 0xF009, std::vector<std::uint8_t>(16), group, container, cache));
    container->AddBuilt(
        std::make_unique<TEscherSPRecord>(0x0002, cache->Dg->IncMaxShapeId(), 0x0005, group, cache, container));
    FTree.SetRoot(std::move(root));
}

TEscherClientDataRecord* TDrawing::AddNewComment(const TImageProperties& box, const TEscherSheet& sheet,
                                                 const TClientDataMaker& makeObj, const TClientDataMaker& makeTxo) {
    if (!FTree.Root()) CreateBasicDrawingInfo();
    TEscherDwgCache* cache = FTree.Cache();
    if (!cache->Patriarch || !cache->Dg) Raise(ErrLoadingEscher);
    TEscherDwgGroupCache* group = FGroup->GetRecordCache();
    auto obj = makeObj(static_cast<std::uint16_t>(cache->MaxObjId + 1));
    auto txo = makeTxo(0);
    const TClientAnchor anchor{3,
                               static_cast<std::uint16_t>(box.Col1), static_cast<std::uint16_t>(box.Dx1),
                               static_cast<std::uint16_t>(box.Row1), static_cast<std::uint16_t>(box.Dy1),
                               static_cast<std::uint16_t>(box.Col2), static_cast<std::uint16_t>(box.Dx2),
                               static_cast<std::uint16_t>(box.Row2), static_cast<std::uint16_t>(box.Dy2)};
    TEscherSpgrContainerRecord* patriarch = cache->Patriarch;
    auto* shape = static_cast<TEscherContainerRecord*>(
        patriarch->AddBuilt(Built<TEscherSpContainerRecord>(0x000F, 0xF004, {}, group, patriarch, cache)));
    shape->AddBuilt(std::make_unique<TEscherSPRecord>(0x0CA2, cache->Dg->IncMaxShapeId(), 0x0A00, group, cache, shape));
    shape->AddBuilt(Built<TEscherOPTRecord>(
        0x0093, 0xF00B,
        Properties({{0x0080, 0}, {0x00BF, 0x00080008}, {0x0158, 0}, {0x0181, 0x08000050}, {0x0183, 0x08000050},
                    {0x01BF, 0x00110010}, {0x0201, 0}, {0x023F, 0x00030003}, {0x03BF, 0x000A0002}}),
        group, shape, cache));
    auto* placed = static_cast<TEscherClientAnchorRecord*>(
        shape->AddBuilt(Built<TEscherClientAnchorRecord>(0, 0xF010, std::vector<std::uint8_t>(18), group, shape, cache)));
    placed->SetAnchor(anchor);
    placed->Pixels = MeasureAnchor(anchor, sheet);
    placed->HasPixels = true;
    auto* data = static_cast<TEscherClientDataRecord*>(
        shape->AddBuilt(Built<TEscherClientDataRecord>(0, 0xF011, {}, group, shape, cache)));
    data->AssignClientData(std::move(obj));
    shape->AddBuilt(Built<TEscherClientTextBoxRecord>(0, 0xF00D, {}, group, shape, cache))
        ->AssignClientData(std::move(txo));
    return data;
}

// ---------------------------------------------------------------- adding pictures

namespace {

// What a picture without bytes shows: a 1 x 1 white DIB of 1 bit per pixel.
constexpr std::uint8_t PlaceholderDib[54] = {
    40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x0B, 0, 0,
    0x12, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

void WithPlaceholder(std::span<const std::uint8_t>& image, TXlsImgTypes& type) {
    if (!image.empty()) return;
    image = PlaceholderDib;
    type = TXlsImgTypes::xli_Bmp;
}

}  // namespace

TClientAnchor ImageAnchor(const TImageProperties& p, TKmrAnchorType anchorType) {
    const std::uint8_t flags = anchorType == TKmrAnchorType::at_MoveAndResize         ? 0
                               : anchorType == TKmrAnchorType::at_DontMoveAndDontResize ? 3
                                                                                      : 2;
    const auto u = [](std::int32_t v) { return static_cast<std::uint16_t>(v); };
    return {flags, u(p.Col1), u(p.Dx1), u(p.Row1), u(p.Dy1), u(p.Col2), u(p.Dx2), u(p.Row2), u(p.Dy2)};
}

void TDrawing::AddImage(std::span<const std::uint8_t> image, TXlsImgTypes type, const TImageProperties& properties,
                        TKmrAnchorType anchorType, const TEscherSheet& sheet, const TClientDataMaker& makeObj) {
    WithPlaceholder(image, type);
    if (!FTree.Root()) CreateBasicDrawingInfo();
    TEscherDwgCache* cache = FTree.Cache();
    if (!cache->Patriarch || !cache->Dg) Raise(ErrLoadingEscher);
    TEscherDwgGroupCache* group = FGroup->GetRecordCache();
    if (!group->BStore) Raise(ErrNoBStore);
    // The image is built (and refused) before the shape appears.
    auto entry = ConvertGraphicToBSE(image, type, group, nullptr);
    auto obj = makeObj(static_cast<std::uint16_t>(cache->MaxObjId + 1));

    const std::u16string& name = properties.FileName;
    std::vector<std::uint8_t> opt = Properties({{0x4104, 0},
                                                {0xC105, static_cast<std::uint32_t>(2 * name.size() + 2)},
                                                {0x01BF, 0x00010000},
                                                {0x03BF, 0x00080000}});
    for (char16_t c : name) opt.insert(opt.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
    opt.insert(opt.end(), {0, 0});

    AddShape(0x04B2, 0x0043, std::move(opt), ImageAnchor(properties, anchorType), sheet, std::move(obj))
        .AddImg(std::move(entry), 2);
}

TEscherOPTRecord& TDrawing::AddShape(std::uint16_t spPre, std::uint16_t optPre, std::vector<std::uint8_t> properties,
                                     const TClientAnchor& anchor, const TEscherSheet& sheet,
                                     std::unique_ptr<TBaseClientData> obj) {
    TEscherDwgCache* cache = FTree.Cache();
    TEscherDwgGroupCache* group = FGroup->GetRecordCache();
    TEscherSpgrContainerRecord* patriarch = cache->Patriarch;
    auto* shape = static_cast<TEscherContainerRecord*>(
        patriarch->AddBuilt(Built<TEscherSpContainerRecord>(0x000F, 0xF004, {}, group, patriarch, cache)));
    shape->AddBuilt(std::make_unique<TEscherSPRecord>(spPre, cache->Dg->IncMaxShapeId(), 0x0A00, group, cache, shape));
    auto* opt = static_cast<TEscherOPTRecord*>(
        shape->AddBuilt(Built<TEscherOPTRecord>(optPre, 0xF00B, std::move(properties), group, shape, cache)));
    auto* placed = static_cast<TEscherClientAnchorRecord*>(
        shape->AddBuilt(Built<TEscherClientAnchorRecord>(0, 0xF010, std::vector<std::uint8_t>(18), group, shape, cache)));
    placed->SetAnchor(anchor);
    placed->Pixels = MeasureAnchor(anchor, sheet);
    placed->HasPixels = true;
    static_cast<TEscherClientDataRecord*>(
        shape->AddBuilt(Built<TEscherClientDataRecord>(0, 0xF011, {}, group, shape, cache)))
        ->AssignClientData(std::move(obj));
    return *opt;
}

void TDrawing::AddAutoFilter(int row, int firstCol, int lastCol, const TEscherSheet& sheet,
                             const TClientDataMaker& makeObj) {
    if (!FTree.Root()) CreateBasicDrawingInfo();
    TEscherDwgCache* cache = FTree.Cache();
    if (!cache->Patriarch || !cache->Dg) Raise(ErrLoadingEscher);
    FGroup->EnsureDwgGroup();
    const auto u = [](int v) { return static_cast<std::uint16_t>(v); };
    for (int col = firstCol; col <= lastCol; ++col) {
        const TClientAnchor anchor{1, u(col), 0, u(row), 0, u(std::min(col + 1, 255)), 0, u(std::min(row + 1, 65535)), 0};
        AddShape(0x0C92, 0x0043,
                 Properties({{0x007F, 0x01040104}, {0x00BF, 0x00080008}, {0x01FF, 0x00080000}, {0x03BF, 0x00020000}}),
                 anchor, sheet, makeObj(static_cast<std::uint16_t>(cache->MaxObjId + 1)));
    }
}

void TDrawing::RemoveAutoFilter(const std::function<bool(const TBaseClientData&)>& isButton) {
    if (!FTree.Root()) return;
    std::vector<TEscherRecord*> buttons;
    for (TEscherClientDataRecord* data : FTree.Cache()->Obj.Items())
        if (data->ClientData() && isButton(*data->ClientData())) buttons.push_back(data->FindRoot());
    if (!buttons.empty() && FTree.Cache()->Solver) FTree.Cache()->Solver->CheckShapesMayChange();
    for (TEscherRecord* shape : buttons) RemoveShape(shape);
}

void TDrawing::AssignDrawing(int n, std::span<const std::uint8_t> image, TXlsImgTypes type) {
    TEscherOPTRecord& opt = Picture(n);
    WithPlaceholder(image, type);
    opt.ReplaceImg(image, type);
}

void TDrawing::DeleteShape(TEscherRecord* shape) {
    if (FTree.Cache()->Solver) FTree.Cache()->Solver->CheckShapesMayChange();
    RemoveShape(shape);
}

template <class Test>
std::vector<TEscherRecord*> TDrawing::ShapesWhere(Test test) const {
    std::vector<TEscherRecord*> out;
    for (TEscherClientAnchorRecord* anchor : Anchors())
        if (TEscherRecord* shape = anchor->FindRoot(); shape && test(*anchor, anchor->GetAnchor()))
            out.push_back(shape);
    return out;
}

namespace {

// A corner at or after pos moves by count: past the sheet it is refused,
// into deleted lines it stops at pos with offset 0.
bool MovedCorner(std::uint16_t& cell, std::uint16_t* offset, int pos, int count, int max, bool check) {
    if (count == 0 || cell < pos) return true;
    const int moved = cell + count;
    if (moved > max) {
        if (check) Raise(ErrTooManyEntries, moved, max);
        cell = static_cast<std::uint16_t>(max);
        return false;
    }
    if (moved < pos) {
        cell = static_cast<std::uint16_t>(pos);
        if (offset) *offset = 0;
        return true;
    }
    cell = static_cast<std::uint16_t>(moved);
    return true;
}

// The new corners of an anchor after lines moved (kinds 0 to 2).
TClientAnchor ShiftedAnchor(TClientAnchor a, int kind, int rowPos, int rowCount, int colPos, int colCount,
                            bool check) {
    if (kind == 3) return a;
    const auto shiftPair = [&](std::uint16_t& first, std::uint16_t& dFirst, std::uint16_t& last,
                               std::uint16_t& dLast, int pos, int count, int max) {
        if (kind == 0) {
            MovedCorner(first, &dFirst, pos, count, max, check);
            MovedCorner(last, &dLast, pos, count, max, check);
            return;
        }
        // The size is kept: the first corner moves and the last by as much.
        const int before = first;
        MovedCorner(first, &dFirst, pos, count, max, check);
        const int by = first - before;
        if (last + by > max && check) Raise(ErrTooManyEntries, last + by, max);
        last = static_cast<std::uint16_t>(std::clamp(last + by, 0, max));
    };
    shiftPair(a.Row1, a.Dy1, a.Row2, a.Dy2, rowPos, rowCount, 65535);
    shiftPair(a.Col1, a.Dx1, a.Col2, a.Dx2, colPos, colCount, 255);
    return a;
}

// Sets the anchor back to its remembered pixels: the whole of it (kind 3)
// or, from its first corner, its size (kinds 1 and 2).
void RestoreAnchor(TEscherClientAnchorRecord& record, const TEscherSheet& sheet) {
    const int kind = record.AnchorKind();
    if (kind == 0 || !record.HasPixels) return;
    TClientAnchor a = record.GetAnchor();
    const TAnchorPixels& p = record.Pixels;
    if (kind == 3) {
        ColumnAt(sheet, p.Left, a.Col1, a.Dx1);
        RowAt(sheet, p.Top, a.Row1, a.Dy1);
        ColumnAt(sheet, p.Right, a.Col2, a.Dx2);
        RowAt(sheet, p.Bottom, a.Row2, a.Dy2);
    } else {
        const TAnchorPixels now = MeasureAnchor(a, sheet);
        ColumnAt(sheet, now.Left + (p.Right - p.Left), a.Col2, a.Dx2);
        RowAt(sheet, now.Top + (p.Bottom - p.Top), a.Row2, a.Dy2);
    }
    record.SetAnchor(a);
}

}  // namespace

void TDrawing::CheckInsert(int rowPos, int rowCount, int colPos, int colCount) const {
    for (const TEscherClientAnchorRecord* anchor : Anchors())
        ShiftedAnchor(anchor->GetAnchor(), anchor->AnchorKind(), rowPos, rowCount, colPos, colCount, true);
}

void TDrawing::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info,
                                        const TEscherSheet& sheet) {
    for (TEscherClientAnchorRecord* anchor : Anchors()) {
        anchor->SetAnchor(
            ShiftedAnchor(anchor->GetAnchor(), anchor->AnchorKind(), rowPos, rowCount, colPos, colCount, false));
        RestoreAnchor(*anchor, sheet);
    }
    ArrangeClientData(rowPos, rowCount, colPos, colCount, info);
}

void TDrawing::ArrangeClientData(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) {
    if (FTree.Root()) FTree.Root()->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info, false, nullptr);
}

namespace {
// Rows only decide whether a shape lies wholly inside deleted rows (and
// columns only for deleted columns).
bool InsideDeleted(const TClientAnchor& a, int kind, int row, int rowCount, int col, int colCount) {
    if (kind != 0) return false;
    if (rowCount > 0 && a.Row1 >= row && a.Row2 < row + rowCount) return true;
    return colCount > 0 && a.Col1 >= col && a.Col2 < col + colCount;
}
}  // namespace

void TDrawing::CheckDelete(int row, int rowCount, int col, int colCount) const {
    const auto gone = ShapesWhere([&](const TEscherClientAnchorRecord& r, const TClientAnchor& a) {
        return InsideDeleted(a, r.AnchorKind(), row, rowCount, col, colCount);
    });
    if (!gone.empty() && FTree.Cache()->Solver) FTree.Cache()->Solver->CheckShapesMayChange();
}

void TDrawing::DeleteRowsAndCols(int row, int rowCount, int col, int colCount, const TSheetInfo& info,
                                 const TEscherSheet& sheet) {
    CheckDelete(row, rowCount, col, colCount);
    for (TEscherRecord* shape : ShapesWhere([&](const TEscherClientAnchorRecord& r, const TClientAnchor& a) {
             return InsideDeleted(a, r.AnchorKind(), row, rowCount, col, colCount);
         }))
        RemoveShape(shape);
    ArrangeInsertRowsAndCols(row, -std::max(rowCount, 0), col, -std::max(colCount, 0), info, sheet);
}

namespace {
bool InsideBlock(const TClientAnchor& a, int kind, int first, int last, bool columns) {
    if (kind != 0 && kind != 2) return false;
    return columns ? a.Col1 >= first && a.Col2 <= last : a.Row1 >= first && a.Row2 <= last;
}
}  // namespace

void TDrawing::CheckCopy(int first, int last, int dest, int copies, bool columns) const {
    const int count = (last - first + 1) * copies;
    if (columns) CheckInsert(0, 0, dest, count);
    else CheckInsert(dest, count, 0, 0);
    const auto copied = ShapesWhere([&](const TEscherClientAnchorRecord& r, const TClientAnchor& a) {
        return InsideBlock(a, r.AnchorKind(), first, last, columns);
    });
    if (copied.empty()) return;
    if (FTree.Cache()->Solver) FTree.Cache()->Solver->CheckShapesMayChange();
    // Objects that cannot be copied refuse here, before anything moved.
    for (TEscherClientDataRecord* data : FTree.Cache()->Obj.Items())
        if (data->ClientData() && std::find(copied.begin(), copied.end(), data->FindRoot()) != copied.end())
            data->ClientData()->CopyTo();
    // The copies land inside the inserted lines, which the workbook keeps
    // on the sheet.
}

void TDrawing::InsertAndCopy(int first, int last, int dest, int copies, bool columns, const TSheetInfo& info,
                             const TEscherSheet& sheet) {
    if (copies <= 0 || !FTree.Root()) return;
    CheckCopy(first, last, dest, copies, columns);
    const int block = last - first + 1, count = block * copies;
    if (columns) ArrangeInsertRowsAndCols(0, 0, dest, count, info, sheet);
    else ArrangeInsertRowsAndCols(dest, count, 0, 0, info, sheet);
    const int shift = first >= dest ? count : 0;
    const auto copied = ShapesWhere([&](const TEscherClientAnchorRecord& r, const TClientAnchor& a) {
        return InsideBlock(a, r.AnchorKind(), first + shift, last + shift, columns);
    });
    for (int k = 0; k < copies; ++k) {
        const int offset = dest + k * block - (first + shift);
        for (TEscherRecord* shape : copied) {
            if (columns) shape->CopyDwg(0, offset, &sheet);
            else shape->CopyDwg(offset, 0, &sheet);
        }
    }
}

void TDrawing::SaveObjectCoords(const TEscherSheet& sheet) {
    for (TEscherClientAnchorRecord* anchor : Anchors()) {
        if (anchor->AnchorKind() == 0) continue;
        anchor->Pixels = MeasureAnchor(anchor->GetAnchor(), sheet);
        anchor->HasPixels = true;
    }
}

void TDrawing::RestoreObjectCoords(const TEscherSheet& sheet) {
    for (TEscherClientAnchorRecord* anchor : Anchors()) RestoreAnchor(*anchor, sheet);
}

}  // namespace kalmira
