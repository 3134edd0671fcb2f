#include "workbook/storage/UOle2Impl.h"

#include <algorithm>
#include <cstring>

#include "workbook/storage/XlsMessages.h"

namespace kalmira {

namespace {

constexpr std::uint8_t Signature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t HeaderSize = 512;
constexpr std::size_t HeaderFields = 76;  // fields before the header DIFAT
constexpr std::uint32_t HeaderDifatSlots = 109;
constexpr std::uint32_t MiniSectorSize = 64;
constexpr std::uint32_t MiniSectorCutoff = 4096;

// Header field offsets.
constexpr std::size_t hSectorShift = 0x1E, hMiniShift = 0x20, hCsectFat = 0x2C, hSectDirStart = 0x30,
                      hCutoff = 0x38, hSectMiniFatStart = 0x3C, hCsectMiniFat = 0x40,
                      hSectDifStart = 0x44, hCsectDif = 0x48, hDifat = 0x4C;

constexpr std::uint32_t NoLink = 0xFFFFFFFF;
constexpr std::size_t WriteBufferSize = 1 << 18;
constexpr std::size_t ReadPieceSize = 1 << 17;  // the most a stream is read in at once

// The one little-endian reader of this unit: every field access is checked.
std::uint32_t Get32(const std::uint8_t* data, std::size_t size, std::size_t pos) {
    Assert(pos + 4 <= size, "UOle2Impl", "field outside its buffer");
    return static_cast<std::uint32_t>(data[pos]) | static_cast<std::uint32_t>(data[pos + 1]) << 8 |
           static_cast<std::uint32_t>(data[pos + 2]) << 16 | static_cast<std::uint32_t>(data[pos + 3]) << 24;
}
std::uint32_t Get32(const std::vector<std::uint8_t>& data, std::size_t pos) {
    return Get32(data.data(), data.size(), pos);
}
std::uint16_t Get16(const std::vector<std::uint8_t>& data, std::size_t pos) {
    Assert(pos + 2 <= data.size(), "UOle2Impl", "field outside its buffer");
    return static_cast<std::uint16_t>(data[pos] | data[pos + 1] << 8);
}
void Set32(std::uint8_t* data, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Set32(std::vector<std::uint8_t>& data, std::size_t pos, std::uint32_t v) {
    Assert(pos + 4 <= data.size(), "UOle2Impl", "field outside its buffer");
    Set32(data.data() + pos, v);
}

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

char16_t FoldAZ(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                               [](char16_t x, char16_t y) { return FoldAZ(x) == FoldAZ(y); });
}

// The sectors from chain[index] on that follow each other in the file, at
// most maxRun (the piece a stream is read in).
std::uint32_t ContiguousRun(const std::vector<std::uint32_t>& chain, std::size_t index, std::uint32_t maxRun) {
    std::uint32_t run = 1;
    while (run < maxRun && index + run < chain.size() && chain[index + run] == chain[index] + run) ++run;
    return run;
}

// Reads count bytes at pos; what the stream does not hold reads as zeros.
void ReadAt(TKmrStream& stream, std::int64_t pos, std::uint8_t* out, std::size_t count) {
    stream.Seek(pos);
    const std::size_t got = stream.Read(out, count);
    std::memset(out + got, 0, count - got);
}

}  // namespace

// ---------------------------------------------------------------------------
// Directory entry

std::u16string TOle2Directory::Name() const {
    const std::uint8_t size = NameSize();
    if (size < 2 || size > 64) return {};
    std::u16string name((size - 2) / 2, u'\0');
    for (std::size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<char16_t>(FData[2 * i] | FData[2 * i + 1] << 8);
    return name;
}

std::uint32_t TOle2Directory::Get32(std::size_t pos) const { return kalmira::Get32(FData, pos); }
void TOle2Directory::Set32(std::size_t pos, std::uint32_t v) { kalmira::Set32(FData, pos, v); }

void TOle2Directory::SetLinks(std::uint32_t left, std::uint32_t right, std::uint32_t child) {
    Set32(68, left);
    Set32(72, right);
    Set32(76, child);
}

void TOle2Directory::Clear() {
    std::fill(FData.begin(), FData.begin() + 68, 0);  // name, name size, type, colour
    SetLinks(NoLink, NoLink, NoLink);
    std::fill(FData.begin() + 80, FData.end(), 0);
}

// ---------------------------------------------------------------------------
// One-sector cache over the source stream

// Input sectors as last read: one sector, or a run of sectors that lie one
// after the other in the file (a stream read in large pieces).
class TOle2File::TSectorBuffer {
public:
    TSectorBuffer(TOle2File& owner) : FOwner(owner), FData(owner.FSectorSize) {}
    // How many sectors from this one on are held.
    std::uint32_t HeldFrom(std::uint32_t sector) const { return sector - FFirst < FCount ? FCount - (sector - FFirst) : 0; }
    // Reads run sectors from this one on unless this one is held.
    const std::uint8_t* Load(std::uint32_t sector, std::uint32_t run = 1) {
        if (HeldFrom(sector) > 0) return FData.data() + std::size_t{sector - FFirst} * FOwner.FSectorSize;
        const std::size_t bytes = std::size_t{run} * FOwner.FSectorSize;
        if (FData.size() < bytes) FData.resize(bytes);
        FCount = 0;
        FOwner.FWindowLeft = 0;
        ReadAt(*FOwner.FStream, FOwner.SectToStPos(sector), FData.data(), bytes);
        FFirst = sector;
        FCount = run;
        return FData.data();
    }
    // The sectors of chain from index on that follow each other in the
    // file, up to a piece: their bytes, read unless held, and how many of
    // them are held.
    const std::uint8_t* LoadRun(const std::vector<std::uint32_t>& chain, std::size_t index, std::uint32_t& count) {
        const std::uint32_t held = HeldFrom(chain[index]);
        count = ContiguousRun(chain, index, held > 0 ? held : static_cast<std::uint32_t>(ReadPieceSize / FOwner.FSectorSize));
        return Load(chain[index], count);
    }

private:
    TOle2File& FOwner;
    std::vector<std::uint8_t> FData;
    std::uint32_t FFirst = 0;
    std::uint32_t FCount = 0;
};

// ---------------------------------------------------------------------------
// Opening

TOle2File::TOle2File(TKmrStream* stream, bool avoidExceptions) : FStream(stream) {
    ReadHeader(avoidExceptions);
    if (FNotXls) return;
    FBuffer = std::make_unique<TSectorBuffer>(*this);
    LoadFat();
    LoadDirectory();
    LoadMiniFat();
}

TOle2File::~TOle2File() = default;

void TOle2File::ReadHeader(bool avoidExceptions) {
    FStartPos = FStream->Position();
    FHeader.assign(HeaderSize, 0);
    const std::size_t got = FStream->Read(FHeader.data(), HeaderSize);
    const auto shift = Get16(FHeader, hSectorShift);
    const bool valid = got >= HeaderFields && std::equal(std::begin(Signature), std::end(Signature), FHeader.begin()) &&
                       (shift == 9 || shift == 12) && Get16(FHeader, hMiniShift) == 6 &&
                       Get32(FHeader, hCutoff) == MiniSectorCutoff;
    if (!valid) {
        if (!avoidExceptions) Raise(ErrFileIsNotXLS, "");
        FNotXls = true;
        FStream->Seek(FStartPos);
        return;
    }
    FSectorSize = 1u << shift;
    const std::int64_t body = FStream->Size() - FStartPos - FSectorSize;
    FInputSectors = body > 0 ? CeilDiv(static_cast<std::uint64_t>(body), FSectorSize) : 0;
    // No count may promise more sectors than the input holds.
    for (std::size_t field : {hCsectFat, hCsectMiniFat, hCsectDif})
        if (Get32(FHeader, field) > FInputSectors) Raise(ErrExcelInvalid);
}

std::int64_t TOle2File::SectToStPos(std::uint32_t sector) const {
    return FStartPos + (static_cast<std::int64_t>(sector) + 1) * FSectorSize;
}

// A slot of the header DIFAT or of a DIFAT sector. The FAT never grows past
// the sectors the input holds: entries for sectors beyond it are of no use.
// FAT sectors that follow each other in the file are read in one piece.
void TOle2File::AddFatSector(const std::vector<std::uint32_t>& slots, std::size_t index, bool& ended) {
    const std::uint32_t slot = slots[index];
    if (ended || slot == ENDOFCHAIN) {
        ended = true;
        return;
    }
    const std::size_t perSector = FSectorSize / 4;
    const std::size_t room = std::min<std::uint64_t>(perSector, FInputSectors - FFat.size());
    if (room == 0) return;
    if (slot == FREESECT) {
        FFat.insert(FFat.end(), room, FREESECT);
        return;
    }
    if (slot >= FInputSectors) Raise(ErrExcelInvalid);
    std::uint32_t run = 0;
    const std::uint8_t* data = FBuffer->LoadRun(slots, index, run);
    for (std::size_t i = 0; i < room; ++i) FFat.push_back(Get32(data, FSectorSize, 4 * i));
}

void TOle2File::LoadFat() {
    FFat.reserve(std::min<std::uint64_t>(FInputSectors, (Get32(FHeader, hCsectFat) + 1ull) * (FSectorSize / 4)));
    // The slots first: the header's, then those of the DIFAT sectors. Past
    // the slots that fill the FAT, none counts, yet every DIFAT sector is
    // still checked.
    const std::uint64_t wanted = CeilDiv(FInputSectors, FSectorSize / 4);
    std::vector<std::uint32_t> slots;
    for (std::uint32_t i = 0; i < HeaderDifatSlots && slots.size() < wanted; ++i)
        slots.push_back(Get32(FHeader, hDifat + 4 * i));
    std::uint32_t sector = Get32(FHeader, hSectDifStart);
    const std::uint32_t count = Get32(FHeader, hCsectDif);
    const std::size_t last = FSectorSize / 4 - 1;
    for (std::uint32_t j = 0; j < count; ++j) {
        if (sector >= FInputSectors) Raise(ErrExcelInvalid);
        const std::uint8_t* difat = FBuffer->Load(sector);
        for (std::size_t k = 0; k < last && slots.size() < wanted; ++k) slots.push_back(Get32(difat, FSectorSize, 4 * k));
        sector = Get32(difat, FSectorSize, 4 * last);
    }
    bool ended = false;
    for (std::size_t i = 0; i < slots.size(); ++i) AddFatSector(slots, i, ended);
}

// The one walker for every chain: each sector must lie inside the table,
// no sector may come twice (a loop), and a chain asked for count sectors
// must have them. A stream of size 0 asks for none, whatever its start
// sector says; the directory asks for every sector up to ENDOFCHAIN.
namespace {
constexpr std::uint64_t UpToEnd = ~std::uint64_t{0};

std::vector<std::uint32_t> WalkChain(const std::vector<std::uint32_t>& table, std::uint64_t limit,
                                     std::uint32_t start, std::uint64_t count) {
    limit = std::min<std::uint64_t>(limit, table.size());
    std::vector<std::uint32_t> chain;
    chain.reserve(std::min<std::uint64_t>(count == UpToEnd ? 16 : count, limit));
    std::vector<bool> seen(limit, false);
    for (std::uint32_t sector = start; chain.size() < count; sector = table[sector]) {
        if (sector == ENDOFCHAIN && count == UpToEnd) break;
        if (sector >= limit || seen[sector]) Raise(ErrExcelInvalid);
        seen[sector] = true;
        chain.push_back(sector);
    }
    return chain;
}
}  // namespace

std::vector<std::uint32_t> TOle2File::Chain(std::uint32_t start, std::uint64_t count) const {
    return WalkChain(FFat, FFat.size(), start, count);
}

void TOle2File::LoadDirectory() {
    FDirChain = Chain(Get32(FHeader, hSectDirStart), UpToEnd);
    if (FDirChain.empty()) Raise(ErrExcelInvalid);
    FDirectory.resize(FDirChain.size() * FSectorSize);
    for (std::size_t i = 0; i < FDirChain.size(); ++i)
        std::memcpy(FDirectory.data() + i * FSectorSize, FBuffer->Load(FDirChain[i]), FSectorSize);
    const TOle2Directory root(FDirectory.data());
    FMiniStream = Chain(root.SectStart(), CeilDiv(root.xulSize(), FSectorSize));
}

void TOle2File::LoadMiniFat() {
    const std::uint32_t count = Get32(FHeader, hCsectMiniFat);
    if (count == 0) return;
    FMiniFatChain = Chain(Get32(FHeader, hSectMiniFatStart), count);
    FMiniFat.reserve(count * (FSectorSize / 4));
    for (std::uint32_t sector : FMiniFatChain) {
        const std::uint8_t* data = FBuffer->Load(sector);
        for (std::size_t i = 0; i < FSectorSize / 4; ++i) FMiniFat.push_back(Get32(data, FSectorSize, 4 * i));
    }
}

// Looks the name up among the root storage's own children: an entry of the
// same name inside an embedded storage is not the one meant.
std::int64_t TOle2File::FindDir(std::u16string_view name) const {
    const std::size_t entries = FDirectory.size() / TOle2Directory::Size;
    std::vector<bool> seen(entries, false);
    std::vector<std::uint32_t> pending{TOle2Directory(FDirectory.data()).Child()};
    std::int64_t found = -1;
    // The whole level is walked, so a damaged tree fails wherever its loop is.
    while (!pending.empty()) {
        const std::uint32_t index = pending.back();
        pending.pop_back();
        if (index == NoLink) continue;
        if (index >= entries || seen[index]) Raise(ErrExcelInvalid);
        seen[index] = true;
        const TOle2Directory dir(FDirectory.data() + index * TOle2Directory::Size);
        if (found < 0 && dir.ObjType() == TOle2Directory::TypeStream && SameName(dir.Name(), name)) found = index;
        pending.push_back(dir.LeftSib());
        pending.push_back(dir.RightSib());
    }
    return found;
}

// ---------------------------------------------------------------------------
// Reading

void TOle2File::RaiseNotReadable() { Raise(ErrInvalidStream, ""); }

void TOle2File::SelectStream(std::u16string_view name) {
    if (FWriteMode || FFinished) Raise(ErrInvalidStream, name);
    FSelected = false;
    FWindowLeft = 0;
    FSelectedChain.clear();
    const std::int64_t index = FindDir(name);
    if (index < 0) Raise(ErrFileIsNotXLS, "");
    const TOle2Directory dir(FDirectory.data() + index * TOle2Directory::Size);
    // Each stream's sector list is built once: records are read a few bytes at a time.
    if (dir.xulSize() < MiniSectorCutoff) {
        const std::uint64_t miniSectors = FMiniStream.size() * (FSectorSize / MiniSectorSize);
        FSelectedChain = WalkChain(FMiniFat, miniSectors, dir.SectStart(), CeilDiv(dir.xulSize(), MiniSectorSize));
        FSelectedMini = true;
    } else {
        FSelectedChain = Chain(dir.SectStart(), CeilDiv(dir.xulSize(), FSectorSize));
        FSelectedMini = false;
    }
    FSelectedDir = dir;
    FSelectedSize = dir.xulSize();
    FSelected = true;
    FPosition = 0;
}

void TOle2File::ReadLookup(void* buffer, std::int64_t count) {
    CheckReadable();
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!FSelected) {
        if (count > 0) std::memset(out, 0, static_cast<std::size_t>(count));
        return;
    }
    if (count <= 0) return;
    const std::int64_t size = FSelectedSize;
    if (FPosition + count > size) Raise(ErrEofReached, FPosition + count - size);
    const std::uint32_t unit = FSelectedMini ? MiniSectorSize : FSectorSize;
    while (count > 0) {
        const auto index = static_cast<std::size_t>(FPosition / unit);
        const std::uint32_t sector = FSelectedChain[index];
        const std::uint32_t offset = static_cast<std::uint32_t>(FPosition % unit);
        // The stream's bytes that lie in order from data on.
        std::int64_t inOrder = unit - offset;
        const std::uint8_t* data;
        if (FSelectedMini) {
            const std::uint64_t byte = static_cast<std::uint64_t>(sector) * MiniSectorSize + offset;
            data = FBuffer->Load(FMiniStream[byte / FSectorSize]) + byte % FSectorSize;
        } else {
            std::uint32_t sectors = 0;
            data = FBuffer->LoadRun(FSelectedChain, index, sectors) + offset;
            inOrder += std::int64_t{sectors - 1} * unit;
        }
        const std::int64_t run = std::min(count, inOrder);
        std::memcpy(out, data, static_cast<std::size_t>(run));
        out += run;
        count -= run;
        FPosition += run;
        if (!FSelectedMini) {
            FWindow = data + run;
            FWindowLeft = std::min(inOrder - run, size - FPosition);
        }
    }
}

void TOle2File::Read(std::vector<std::uint8_t>& data, std::int64_t count) {
    if (count < 0) count = 0;
    if (data.size() < static_cast<std::size_t>(count)) data.resize(static_cast<std::size_t>(count));
    ReadMem(data.data(), count);
}

bool TOle2File::Eof() const {
    CheckReadable();
    return Length() <= FPosition;
}

std::int64_t TOle2File::Position() const {
    return FWriteMode ? OutPos() - FStreamStart : FPosition;
}

void TOle2File::Seek(std::int64_t position) {
    CheckReadable();
    if (position < 0 || position > Length()) Raise(ErrEofReached, position - Length());
    FPosition = position;
    FWindowLeft = 0;
}

TOle2File::TOle2File(std::unique_ptr<TKmrStream> ownInput) : FOwnInput(std::move(ownInput)), FStream(FOwnInput.get()) {}

std::unique_ptr<TOle2File> TOle2File::ReadingCopy(std::int64_t position, std::int64_t length) const {
    CheckReadable();
    if (!FSelected || FNotXls) return nullptr;
    auto input = FStream->ReadingCopy();
    if (!input) return nullptr;
    std::unique_ptr<TOle2File> copy(new TOle2File(std::move(input)));
    copy->FStartPos = FStartPos;
    copy->FSectorSize = FSectorSize;
    copy->FInputSectors = FInputSectors;
    copy->FMiniStream = FMiniStream;
    copy->FBuffer = std::make_unique<TSectorBuffer>(*copy);
    copy->FSelected = true;
    copy->FSelectedDir = FSelectedDir;
    copy->FSelectedSize = std::clamp<std::int64_t>(length, 0, FSelectedSize);
    copy->FSelectedMini = FSelectedMini;
    copy->FSelectedChain = FSelectedChain;
    copy->Seek(position);
    return copy;
}

void TOle2File::SeekForward(std::int64_t position) {
    CheckReadable();
    if (position < FPosition) Raise(ErrInvalidPropertySector);
    std::vector<std::uint8_t> skip(std::min<std::int64_t>(position - FPosition, 65536));
    while (FPosition < position && FSelected) {
        ReadMem(skip.data(), std::min<std::int64_t>(position - FPosition, static_cast<std::int64_t>(skip.size())));
    }
}

// ---------------------------------------------------------------------------
// Writing

std::int64_t TOle2File::OutSectPos(std::uint32_t sector) const {
    return FOutStart + (static_cast<std::int64_t>(sector) + 1) * FSectorSize;
}

// Appends one sector to the output with its entry of the new FAT; returns its number.
std::uint32_t TOle2File::AppendSector(const std::uint8_t* bytes, std::uint32_t next) {
    const auto number = static_cast<std::uint32_t>(FNewFat.size());
    Put(bytes, FSectorSize);
    FNewFat.push_back(next);
    Assert(OutPos() == OutSectPos(number + 1), "UOle2Impl", "New Stream IO Error");
    return number;
}

// Appends a sector that ends its chain so far and links it from the one
// before (or makes it the chain's start in the header).
void TOle2File::AppendLinked(const std::uint8_t* bytes, std::uint32_t& previous, std::size_t headerField) {
    const auto here = static_cast<std::uint32_t>(FNewFat.size());
    if (previous == ENDOFCHAIN) Set32(FHeader, headerField, here);
    else FNewFat[previous] = here;
    previous = AppendSector(bytes, ENDOFCHAIN);
}

// Copies a stream's regular sectors to the output and points the entry at
// the copy; an entry whose copy yields no sector gets ENDOFCHAIN.
void TOle2File::CopyChain(TOle2Directory& entry) {
    const std::vector<std::uint32_t> chain =
        entry.SectStart() == ENDOFCHAIN ? std::vector<std::uint32_t>{}
                                        : Chain(entry.SectStart(), CeilDiv(entry.xulSize(), FSectorSize));
    entry.SetSectStart(chain.empty() ? ENDOFCHAIN : static_cast<std::uint32_t>(FNewFat.size()));
    for (std::size_t i = 0; i < chain.size();) {
        std::uint32_t run = 0;
        const std::uint8_t* data = FBuffer->LoadRun(chain, i, run);
        for (std::uint32_t k = 0; k < run; ++k, ++i) {
            const bool last = i + 1 == chain.size();
            AppendSector(data + std::size_t{k} * FSectorSize,
                         last ? ENDOFCHAIN : static_cast<std::uint32_t>(FNewFat.size() + 1));
        }
    }
}

// One directory sector: the streams its entries own are copied first, so
// directory sectors interleave with copied data in the output.
void TOle2File::CopyDirectorySector(std::size_t index, const std::vector<TOneDirEntry>* tree, bool recolour,
                                    std::int64_t target, std::uint32_t& previous) {
    const std::size_t perSector = FSectorSize / TOle2Directory::Size;
    std::vector<std::uint8_t> sector(FDirectory.begin() + index * FSectorSize,
                                     FDirectory.begin() + (index + 1) * FSectorSize);
    std::int64_t targetOffset = -1;
    for (std::size_t k = 0; k < perSector; ++k) {
        const std::size_t number = index * perSector + k;
        TOle2Directory entry(sector.data() + k * TOle2Directory::Size);
        const bool deleted = tree && (*tree)[number].Deleted;
        if (tree) {
            const TOneDirEntry& node = (*tree)[number];
            if (recolour) entry.SetColour(1);
            entry.SetLinks(node.Left, node.Right, node.Child);
            if (deleted) entry.Clear();
        }
        if (static_cast<std::int64_t>(number) == target) {
            entry.SetSectStart(ENDOFCHAIN);
            entry.SetSize(0);
            FWriteDir = entry;
            targetOffset = static_cast<std::int64_t>(k * TOle2Directory::Size);
        } else if (!deleted && (number == 0 || (entry.ObjType() == TOle2Directory::TypeStream &&
                                                entry.xulSize() >= MiniSectorCutoff))) {
            CopyChain(entry);
        }
        std::memcpy(sector.data() + k * TOle2Directory::Size, entry.Bytes(), TOle2Directory::Size);
    }
    if (targetOffset >= 0) FWriteDirPos = OutSectPos(static_cast<std::uint32_t>(FNewFat.size())) + targetOffset;
    AppendLinked(sector.data(), previous, hSectDirStart);
}

void TOle2File::CopyMiniFat() {
    std::uint32_t previous = ENDOFCHAIN;
    Set32(FHeader, hSectMiniFatStart, ENDOFCHAIN);
    for (std::uint32_t source : FMiniFatChain) AppendLinked(FBuffer->Load(source), previous, hSectMiniFatStart);
}

void TOle2File::PrepareForWrite(TKmrStream* output, std::u16string_view streamName,
                                const std::vector<std::u16string>& deleteStreams) {
    if (FWriteMode || FFinished || FNotXls) Raise(ErrInvalidStream, "");
    std::vector<TOneDirEntry> tree;
    bool recolour = false;
    if (!deleteStreams.empty()) {
        tree = ReadDirs();
        MarkDeleted(tree, deleteStreams, recolour);
        FixNode(tree);
    }
    const std::int64_t target = FindDir(streamName);
    if (target < 0 || (!tree.empty() && tree[static_cast<std::size_t>(target)].Deleted)) Raise(ErrInvalidStream, "");

    FOutput = output;
    FOutStart = output->Position();
    FOutFlushed = 0;
    // Not filled first: a container that writes little (a template's copy
    // after loading) keeps only the pages it wrote.
    if (!FOut) FOut = std::make_unique_for_overwrite<std::uint8_t[]>(WriteBufferSize);
    FOutAt = FOut.get();
    FOutEnd = FOut.get() + WriteBufferSize;
    FNewFat.clear();
    const std::vector<std::uint8_t> headerSlot(FSectorSize, 0);
    Put(headerSlot.data(), headerSlot.size());
    std::uint32_t previous = ENDOFCHAIN;
    for (std::size_t i = 0; i < FDirChain.size(); ++i)
        CopyDirectorySector(i, tree.empty() ? nullptr : &tree, recolour, target, previous);
    CopyMiniFat();

    // From here on the output is the container; the new stream's data starts
    // at the next sector.
    FStream = FOutput;
    FStartPos = FOutStart;
    FBuffer.reset();
    FWindowLeft = 0;
    FSelected = false;
    FSelectedChain.clear();
    FWriteMode = true;
    FWriteDir.SetSectStart(static_cast<std::uint32_t>(FNewFat.size()));
    FWriteDir.SetSize(0);
    FStreamStart = OutPos();
}

// Bytes that do not fit the buffer's room: the buffer goes out first, and
// a block as large as the buffer goes out straight.
void TOle2File::Put(const std::uint8_t* bytes, std::size_t count) {
    if (count > static_cast<std::size_t>(FOutEnd - FOutAt)) FlushWrite();
    if (!FOut || count >= WriteBufferSize) {
        FOutput->Write(bytes, count);
        FOutFlushed += static_cast<std::int64_t>(count);
        return;
    }
    if (count > 0) std::memcpy(FOutAt, bytes, count);
    FOutAt += count;
}

// Bytes still in the buffer are changed there, those already out in the output.
void TOle2File::Patch(std::int64_t position, const void* bytes, std::size_t count) {
    Assert(FWriteMode && position >= 0 && position + static_cast<std::int64_t>(count) <= Position(), "UOle2Impl",
           "patch outside the written stream");
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    const std::int64_t at = FStreamStart + position, flushed = FOutStart + FOutFlushed;
    const auto out = static_cast<std::size_t>(std::clamp<std::int64_t>(flushed - at, 0, static_cast<std::int64_t>(count)));
    if (out > 0) {
        FOutput->Seek(at);
        FOutput->Write(in, out);
        FOutput->Seek(flushed);
    }
    if (out < count) std::memcpy(FOut.get() + (at + static_cast<std::int64_t>(out) - flushed), in + out, count - out);
}

void TOle2File::WriteLong(const void* buffer, std::size_t count) {
    if (!FWriteMode) Raise(ErrInvalidStream, "");
    Put(static_cast<const std::uint8_t*>(buffer), count);
}

void TOle2File::WriteRaw(const std::vector<std::uint8_t>& data, std::size_t count) {
    Assert(count <= data.size(), "UOle2Impl", "write beyond its buffer");
    WriteMem(data.data(), count);
}

// No encryption engine exists, so every write is plain.
void TOle2File::Write(const std::vector<std::uint8_t>& data, std::size_t count) { WriteRaw(data, count); }

// The full buffer goes to the output, which may write it while the next
// one fills. Handed over, it is the output's: should the output raise, no
// buffer is left and what follows goes to the output straight.
void TOle2File::FlushWrite() {
    const auto held = static_cast<std::size_t>(FOutAt - FOut.get());
    if (held == 0) return;
    auto full = std::move(FOut);
    FOutAt = FOutEnd = nullptr;
    FOut = FOutput->WriteTaken(std::move(full), held, WriteBufferSize);
    FOutFlushed += static_cast<std::int64_t>(held);
    FOutAt = FOut.get();
    FOutEnd = FOut.get() + WriteBufferSize;
}

namespace {
void AppendEntries(std::vector<std::uint8_t>& out, const std::vector<std::uint32_t>& entries) {
    const std::size_t at = out.size();
    out.resize(at + entries.size() * 4);
    for (std::size_t i = 0; i < entries.size(); ++i) Set32(out.data() + at + 4 * i, entries[i]);
}
}  // namespace

// The stream's sectors are P .. P + S - 1; after them come D DIFAT sectors
// and F FAT sectors, N = P + S + D sectors before the FAT.
void TOle2File::FinishStream() {
    if (!FWriteMode) return;
    const auto written = static_cast<std::uint64_t>(Position());
    FWriteMode = false;
    FFinished = true;
    Assert(written <= 0xFFFFFFFFu, "UOle2Impl", "stream too large");
    const std::uint64_t size = std::max<std::uint64_t>(written, MiniSectorCutoff);
    const std::uint64_t padded = CeilDiv(size, FSectorSize) * FSectorSize;
    const std::vector<std::uint8_t> zeros(padded - written, 0);
    Put(zeros.data(), zeros.size());

    const std::uint64_t e = FSectorSize / 4, p = FNewFat.size(), sCount = padded / FSectorSize;
    std::uint64_t d = 0, f = 0;
    for (;;) {
        const std::uint64_t n = p + sCount + d;
        f = CeilDiv(n, e);
        while (f * e < n + f) f = CeilDiv(n + f, e);
        const std::uint64_t next = f > HeaderDifatSlots ? CeilDiv(f - HeaderDifatSlots, e - 1) : 0;
        if (next == d) break;
        d = next;
    }
    const std::uint64_t fatStart = p + sCount + d;
    Assert(fatStart + f < DIFSECT, "UOle2Impl", "container too large");
    auto sect = [](std::uint64_t v) { return static_cast<std::uint32_t>(v); };

    Set32(FHeader, hCsectFat, sect(f));
    Set32(FHeader, hCsectDif, sect(d));
    Set32(FHeader, hSectDifStart, d > 0 ? sect(p + sCount) : ENDOFCHAIN);
    for (std::uint32_t i = 0; i < HeaderDifatSlots; ++i)
        Set32(FHeader, hDifat + 4 * i, i < f ? sect(fatStart + i) : FREESECT);

    std::vector<std::uint32_t> tables;  // the DIFAT sectors, then the FAT
    for (std::uint64_t j = 0; j < d; ++j) {
        for (std::uint64_t k = 0; k + 1 < e; ++k) {
            const std::uint64_t index = HeaderDifatSlots + j * (e - 1) + k;
            tables.push_back(index < f ? sect(fatStart + index) : FREESECT);
        }
        tables.push_back(j + 1 < d ? sect(p + sCount + j + 1) : FREESECT);
    }
    tables.insert(tables.end(), FNewFat.begin(), FNewFat.end());
    for (std::uint64_t i = 0; i < sCount; ++i) tables.push_back(i + 1 < sCount ? sect(p + i + 1) : ENDOFCHAIN);
    tables.insert(tables.end(), d, DIFSECT);
    tables.insert(tables.end(), f, FATSECT);
    tables.resize((d + f) * e, FREESECT);
    std::vector<std::uint8_t> bytes;
    AppendEntries(bytes, tables);
    Assert(OutPos() == OutSectPos(sect(p + sCount)), "UOle2Impl", "New Stream IO Error");
    Put(bytes.data(), bytes.size());
    FlushWrite();
    const std::int64_t end = OutPos();

    FWriteDir.SetSize(static_cast<std::uint32_t>(size));
    FOutput->Seek(FWriteDirPos);
    FOutput->Write(FWriteDir.Bytes(), TOle2Directory::Size);
    FOutput->Seek(FOutStart);
    FOutput->Write(FHeader.data(), FHeader.size());
    FOutput->Seek(end);
}

// ---------------------------------------------------------------------------
// Deleting streams from the copy

std::vector<TOneDirEntry> TOle2File::ReadDirs() const {
    std::vector<TOneDirEntry> dirs(FDirectory.size() / TOle2Directory::Size);
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const TOle2Directory dir(FDirectory.data() + i * TOle2Directory::Size);
        dirs[i] = {dir.Name(), dir.LeftSib(), dir.RightSib(), dir.Child(), dir.Colour(), false};
    }
    return dirs;
}

// A named entry goes with everything below it: inside its subtree the
// siblings go too, since they all belong to the deleted storage.
void TOle2File::MarkDeleted(std::vector<TOneDirEntry>& dirs, const std::vector<std::u16string>& names,
                            bool& blackGone) const {
    for (std::size_t i = 1; i < dirs.size(); ++i) {
        if (dirs[i].Deleted || std::find(names.begin(), names.end(), dirs[i].Name) == names.end()) continue;
        dirs[i].Deleted = true;
        blackGone |= dirs[i].Colour == 1;
        std::vector<std::uint32_t> pending{dirs[i].Child};
        while (!pending.empty()) {
            const std::uint32_t n = pending.back();
            pending.pop_back();
            if (n == NoLink || n == 0) continue;
            if (n >= dirs.size()) Raise(ErrExcelInvalid);
            if (dirs[n].Deleted) continue;
            dirs[n].Deleted = true;
            blackGone |= dirs[n].Colour == 1;
            pending.insert(pending.end(), {dirs[n].Left, dirs[n].Right, dirs[n].Child});
        }
    }
}

// Replaces a link to a deleted node by what stays of its subtree.
void TOle2File::DeleteNode(std::vector<TOneDirEntry>& dirs, std::uint32_t& link) const {
    auto check = [&](std::uint32_t n) {
        if (n != NoLink && n >= dirs.size()) Raise(ErrExcelInvalid);
    };
    check(link);
    for (std::size_t guard = 0; link != NoLink && link != 0 && dirs[link].Deleted; ++guard) {
        if (guard > dirs.size()) Raise(ErrExcelInvalid);
        const TOneDirEntry& gone = dirs[link];
        check(gone.Left);
        check(gone.Right);
        if (gone.Left == NoLink || gone.Right == NoLink) {
            link = gone.Left == NoLink ? gone.Right : gone.Left;
            continue;
        }
        std::uint32_t parent = link, next = gone.Right;
        for (std::size_t steps = 0; dirs[next].Left != NoLink; ++steps) {
            if (steps > dirs.size()) Raise(ErrExcelInvalid);
            parent = next;
            next = dirs[next].Left;
            check(next);
        }
        dirs[next].Left = gone.Left;
        if (next != gone.Right) {
            dirs[parent].Left = dirs[next].Right;
            dirs[next].Right = gone.Right;
        }
        link = next;
    }
}

void TOle2File::FixNode(std::vector<TOneDirEntry>& dirs) const {
    Assert(!dirs.empty() && !dirs[0].Deleted, "UOle2Impl", "root entry deleted");
    std::vector<bool> seen(dirs.size(), false);
    std::vector<std::uint32_t> pending{0};
    while (!pending.empty()) {
        const std::uint32_t n = pending.back();
        pending.pop_back();
        if (seen[n]) Raise(ErrExcelInvalid);
        seen[n] = true;
        for (std::uint32_t TOneDirEntry::*link : {&TOneDirEntry::Left, &TOneDirEntry::Right, &TOneDirEntry::Child}) {
            DeleteNode(dirs, dirs[n].*link);
            if (dirs[n].*link != NoLink) pending.push_back(dirs[n].*link);
        }
    }
}

}  // namespace kalmira
