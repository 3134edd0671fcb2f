#include "workbook/storage/UXlsSST.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

namespace kalmira {

namespace {

constexpr std::size_t RecordBuffer = 8228;  // header + the 8224-byte data limit
constexpr std::size_t MinFree = 32;         // less than this left: the next string starts a CONTINUE

std::size_t StrSize(std::span<const std::uint8_t> pool, std::size_t at) {
    return static_cast<std::size_t>(GetStrLen(true, pool, at));
}

// The parts of one pool string as the writer lays them out.
struct TStrParts {
    std::span<const std::uint8_t> Header;  // count, option byte, run count, far-east size
    std::span<const std::uint8_t> Chars;
    std::span<const std::uint8_t> Runs;
    std::span<const std::uint8_t> FarEast;
    bool Wide;
};

TStrParts Parts(std::span<const std::uint8_t> s) {
    const std::uint8_t options = s[2];
    const std::size_t runs = (options & StrRich) ? GetWord(s, 3) * 4u : 0;
    const std::size_t head = 3 + ((options & StrRich) ? 2 : 0) + ((options & StrFarEast) ? 4 : 0);
    const std::size_t chars = GetWord(s, 0) * ((options & StrWide) ? 2u : 1u);
    return {s.subspan(0, head), s.subspan(head, chars), s.subspan(head + chars, runs),
            s.subspan(head + chars + runs), (options & StrWide) != 0};
}

// Lays out SST and CONTINUE records in one record buffer; without a stream
// it only counts, so sizes and writing cannot disagree.
class TRecordSplitter {
public:
    TRecordSplitter(TOle2File* ole, std::uint16_t id) : FOle(ole), FStart(ole ? ole->Position() : 0), FId(id) {
        if (FOle) FBuffer.resize(RecordBuffer);
    }
    std::size_t Free() const { return RecordBuffer - FPos; }
    std::size_t Pos() const { return FPos; }
    std::int64_t StreamPos() const { return FStart + FFlushed + static_cast<std::int64_t>(FPos); }
    void Put(const std::uint8_t* bytes, std::size_t count) {
        if (FOle) std::memcpy(FBuffer.data() + FPos, bytes, count);
        FPos += count;
    }
    void PutByte(std::uint8_t b) { Put(&b, 1); }
    void Patch(std::size_t at, std::uint8_t b) {
        if (FOle) FBuffer[at] = b;
    }
    void Flush() {
        if (FOle) {
            SetWord(FBuffer, 0, FId);
            SetWord(FBuffer, 2, static_cast<std::uint16_t>(FPos - 4));
            FOle->WriteMem(FBuffer.data(), FPos);
        }
        FFlushed += static_cast<std::int64_t>(FPos);
        FPos = 4;
        FId = xlr_CONTINUE;
    }
    std::int64_t Written() const { return FFlushed; }

private:
    TOle2File* FOle;
    std::int64_t FStart;
    std::uint16_t FId;
    std::vector<std::uint8_t> FBuffer;
    std::size_t FPos = 4;
    std::int64_t FFlushed = 0;
};

// How many characters from `from` have a zero high byte, up to `limit`.
std::size_t NarrowRun(std::span<const std::uint8_t> wide, std::size_t from, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && wide[2 * (from + n) + 1] == 0) ++n;
    return n;
}

// The characters in pieces, each piece 8-bit when that holds at least as
// many characters as 16-bit would; every piece after a break starts its
// CONTINUE with its own option byte. optionAt is where the option byte of
// the first piece was written. Bit 0 is set for each piece in the bytes
// written only; the pool keeps the string's own option byte.
void PutChars(TRecordSplitter& out, const TStrParts& s, std::size_t optionAt) {
    std::uint8_t option = s.Header[2];
    const std::size_t total = s.Chars.size() / (s.Wide ? 2 : 1);
    std::size_t done = 0;
    while (done < total) {
        const std::size_t left = total - done, free = out.Free();
        std::size_t narrow = std::min(left, free);
        const std::size_t wide = s.Wide ? std::min(left, free / 2) : 0;
        if (s.Wide) narrow = NarrowRun(s.Chars, done, narrow);
        const bool asWide = narrow < wide;
        out.Patch(optionAt, static_cast<std::uint8_t>(asWide ? option | StrWide : option & ~StrWide));
        const std::size_t n = asWide ? wide : narrow;
        if (asWide) {
            out.Put(s.Chars.data() + 2 * done, 2 * n);
        } else if (s.Wide) {
            for (std::size_t i = 0; i < n; ++i) out.PutByte(s.Chars[2 * (done + i)]);
        } else {
            out.Put(s.Chars.data() + done, n);
        }
        done += n;
        if (done < total) {
            out.Flush();
            optionAt = out.Pos();
            option = 0;
            out.PutByte(0);
        }
    }
}

// Runs and far-east bytes go in whole multiples of 4 while more remain than
// fit; the last piece is whatever is left.
void PutBlock(TRecordSplitter& out, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done, free = out.Free();
        const std::size_t n = left <= free ? left : free / 4 * 4;
        if (n == 0) {
            out.Flush();
            continue;
        }
        out.Put(bytes.data() + done, n);
        done += n;
    }
}

struct TExtSSTShape {
    std::size_t BucketSize;
    std::size_t Buckets;
};

TExtSSTShape ExtSSTShape(std::size_t count) {
    const std::size_t size = std::max<std::size_t>(8, count / 128 + 1);
    return {size, count == 0 ? 0 : (count - 1) / size + 1};
}

}  // namespace

std::unique_ptr<TBaseRecord> TSSTRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TSSTRecord>(id, std::move(data));
}

// ---------------------------------------------------------------------------
// The pool

std::size_t TSST::OpenEntry(std::size_t need) {
    const std::size_t at = FPool.size();
    // Entries are kept by 32-bit offsets, as the labels keep them.
    Assert(at + need <= 0xFFFFFFFF, "UXlsSST", "string table beyond 4 GB");
    // Doubling keeps a growing table from moving the pool per string.
    if (at + need > FPool.capacity()) FPool.reserve(std::max(2 * FPool.capacity(), at + need));
    FPool.resize(at + EntryHeader, 0);
    return at;
}

std::size_t TSST::AppendEntry(const TExcelString& text) {
    const std::size_t at = OpenEntry(static_cast<std::size_t>(EntryHeader + text.TotalSize()));
    text.AppendTo(FPool, true);
    return at;
}

// Most strings have no runs and no far-east data and lie whole in the
// record at hand: their bytes go into the pool as the string would write
// itself, 8-bit characters where every one fits, without the string.
bool TSST::AppendPlain(const TBaseRecord*& record, int& pos) {
    const int left = record->DataSize() - pos;
    if (left < 3) return false;
    const std::uint8_t* from = record->Data.data() + pos;
    const auto count = static_cast<std::uint16_t>(from[0] | from[1] << 8);
    const std::uint8_t options = from[2];
    const bool wide = (options & StrWide) != 0;
    const std::size_t bytes = std::size_t{count} << (wide ? 1 : 0);
    if ((options & (StrRich | StrFarEast)) || bytes > static_cast<std::size_t>(left - 3)) return false;
    const std::uint8_t* chars = from + 3;
    bool narrow = true;
    for (std::size_t i = 1; wide && i < bytes && narrow; i += 2) narrow = chars[i] == 0;
    const std::size_t need = EntryHeader + 3 + (narrow ? count : bytes), at = OpenEntry(need);
    FPool.resize(at + need);
    std::uint8_t* to = FPool.data() + at + EntryHeader;
    to[0] = from[0];
    to[1] = from[1];
    to[2] = narrow ? static_cast<std::uint8_t>(options & ~StrWide) : options;
    if (wide && narrow) {
        for (std::size_t i = 0; i < count; ++i) to[3 + i] = chars[2 * i];
    } else {
        std::memcpy(to + 3, chars, bytes);
    }
    FList.push_back(static_cast<std::uint32_t>(at));
    pos += static_cast<int>(3 + bytes);
    return true;
}

std::span<const std::uint8_t> TSST::GetEntry(std::size_t offset) const {
    const std::size_t at = offset + EntryHeader;
    Assert(at + 3 <= FPool.size(), "UXlsSST", "no entry at this offset");
    return std::span<const std::uint8_t>(FPool).subspan(at, StrSize(FPool, at));
}

TRichString TSST::GetText(std::size_t offset) const {
    const TStrParts s = Parts(GetEntry(offset));
    TRichString out;
    if (s.Wide) {
        out.Value.resize(s.Chars.size() / 2);
        for (std::size_t i = 0; i < out.Value.size(); ++i)
            out.Value[i] = static_cast<char16_t>(s.Chars[2 * i] | s.Chars[2 * i + 1] << 8);
    } else {
        out.Value.assign(s.Chars.begin(), s.Chars.end());
    }
    out.RTFRuns = RunsFromBytes(s.Runs);
    return out;
}

namespace {
thread_local TSST::TDeferredRefs* Gathering = nullptr;
}  // namespace

TSST::TDeferredRefs::TDeferredRefs(TSST& table) : FTable(table), FOuter(Gathering) {
    Gathering = this;
}

TSST::TDeferredRefs::~TDeferredRefs() { Stop(); }

void TSST::TDeferredRefs::Stop() {
    if (Gathering == this) Gathering = FOuter;
}

void TSST::TDeferredRefs::Apply() {
    for (const std::uint32_t index : FAt) {
        const std::size_t offset = FTable.FList[index];
        SetLongWord(FTable.FPool, offset, FTable.RefCount(offset) + 1);
    }
    for (const std::uint32_t offset : FTaken) SetLongWord(FTable.FPool, offset, FTable.RefCount(offset) + 1);
    for (const std::uint32_t offset : FReleased)
        if (!FTable.FAbandoned && FTable.RefCount(offset) > 0)
            SetLongWord(FTable.FPool, offset, FTable.RefCount(offset) - 1);
    FAt.clear();
    FTaken.clear();
    FReleased.clear();
}

TSST::TDeferredRefs* TSST::Deferred() {
    for (TDeferredRefs* d = Gathering; d; d = d->FOuter)
        if (&d->FTable == this) return d;
    return nullptr;
}

void TSST::AddRef(std::size_t offset) {
    if (TDeferredRefs* d = Gathering ? Deferred() : nullptr) return d->FTaken.push_back(static_cast<std::uint32_t>(offset));
    SetLongWord(FPool, offset, RefCount(offset) + 1);
}

void TSST::AddRefAt(std::size_t index) {
    if (TDeferredRefs* d = Gathering ? Deferred() : nullptr; d && index < FList.size()) {
        d->FAt.push_back(static_cast<std::uint32_t>(index));
        return;
    }
    AddRef(FList.at(index));
}

void TSST::Release(std::size_t offset) {
    if (FAbandoned) return;
    if (TDeferredRefs* d = Gathering ? Deferred() : nullptr) return d->FReleased.push_back(static_cast<std::uint32_t>(offset));
    const std::uint32_t count = RefCount(offset);
    if (count > 0) SetLongWord(FPool, offset, count - 1);
}

namespace {
// Entry order: the shorter encoded string first, then byte by byte.
bool LessBytes(std::span<const std::uint8_t> x, std::span<const std::uint8_t> y) {
    if (x.size() != y.size()) return x.size() < y.size();
    return std::memcmp(x.data(), y.data(), x.size()) < 0;
}
}  // namespace

bool TSST::Less(std::size_t a, std::size_t b) const { return LessBytes(GetEntry(a), GetEntry(b)); }

bool TSST::Equal(std::size_t a, std::size_t b) const {
    const auto x = GetEntry(a), y = GetEntry(b);
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size()) == 0;
}

// Each entry's bytes are found once, not at every comparison; the order
// is Less's, and the sort sees the same comparisons whichever way the
// entries are kept: an entry is its offset and size in 8 bytes, which is
// what the sort holds aside when a loaded table is first looked up or saved.
void TSST::Sort() {
    struct TKey {
        std::uint32_t At, Size;  // the entry's string bytes in the pool
    };
    std::vector<TKey> keyed;
    keyed.reserve(FList.size());
    for (const std::size_t offset : FList) {
        const auto bytes = GetEntry(offset);
        keyed.push_back({static_cast<std::uint32_t>(bytes.data() - FPool.data()),
                         static_cast<std::uint32_t>(bytes.size())});
    }
    const std::uint8_t* pool = FPool.data();
    std::sort(keyed.begin(), keyed.end(), [pool](const TKey& x, const TKey& y) {
        return LessBytes({pool + x.At, x.Size}, {pool + y.At, y.Size});
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) FList[i] = keyed[i].At - EntryHeader;
    FSorted = true;
}

bool TSST::Find(std::size_t entryOffset, std::size_t& index) {
    if (!FSorted) Sort();
    const auto it = std::lower_bound(FList.begin(), FList.end(), entryOffset,
                                     [this](std::size_t a, std::size_t b) { return Less(a, b); });
    index = static_cast<std::size_t>(it - FList.begin());
    return it != FList.end() && Equal(*it, entryOffset);
}

std::size_t TSST::AddString(std::u16string_view text, const TRTFRunList& runs) {
    const TExcelString candidate(2, false, text, runs);
    const std::size_t at = AppendEntry(candidate);
    std::size_t index;
    if (Find(at, index)) {
        FPool.resize(at);  // the text is there already: give the bytes back
        AddRef(FList[index]);
        return index;
    }
    FList.insert(FList.begin() + static_cast<std::ptrdiff_t>(index), static_cast<std::uint32_t>(at));
    SetLongWord(FPool, at, 1);
    return index;
}

void TSST::Load(const TSSTRecord& record) {
    const std::size_t listBefore = FList.size(), poolBefore = FPool.size();
    try {
        const std::uint32_t count = record.GetCount();
        // Every string takes at least 3 bytes: the file's count alone
        // never decides how much is reserved.
        const auto bytes = static_cast<std::size_t>(record.TotalSizeNoHeaders());
        const std::size_t strings = std::min<std::size_t>(count, bytes / 3);
        FList.reserve(listBefore + strings);
        FPool.reserve(poolBefore + strings * EntryHeader + bytes);
        const TBaseRecord* at = &record;
        int pos = 8;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (AppendPlain(at, pos)) continue;
            // Stored as it will be written, so that the order the table is
            // sorted and written in holds when the written file is read again.
            TExcelString text(2, at, pos);
            text.Compress();
            FList.push_back(static_cast<std::uint32_t>(AppendEntry(text)));
        }
    } catch (...) {
        FList.resize(listBefore);
        FPool.resize(poolBefore);
        throw;
    }
    if (FList.size() > listBefore) FSorted = false;
}

void TSST::FixRefs() {
    // Sorted before entries go, so that equal entries keep the order that
    // sorting the whole loaded table gives them.
    if (!FSorted) Sort();
    std::erase_if(FList, [this](std::size_t offset) { return RefCount(offset) == 0; });
}

namespace {

// The tables of the process by number: pages of slots made as numbers
// are given, so that a look-up takes no lock and slots never move.
class THandles {
public:
    static constexpr std::uint32_t PageSize = 1024, PageCount = 1024;

    std::uint32_t Add(TSST* table) {
        std::lock_guard lock(FMutex);
        std::uint32_t handle;
        if (FNext < PageSize * PageCount) {
            handle = FNext++;
        } else {
            Assert(!FFree.empty(), "UXlsSST", "too many string tables");
            handle = FFree.back();
            FFree.pop_back();
        }
        auto& page = FPages[handle / PageSize];
        if (!page.load(std::memory_order_relaxed)) page.store(new std::atomic<TSST*>[PageSize]{}, std::memory_order_release);
        page.load(std::memory_order_relaxed)[handle % PageSize].store(table, std::memory_order_release);
        return handle;
    }
    void Remove(std::uint32_t handle) {
        std::lock_guard lock(FMutex);
        FPages[handle / PageSize].load(std::memory_order_relaxed)[handle % PageSize].store(nullptr,
                                                                                      std::memory_order_release);
        FFree.push_back(handle);
    }
    TSST* Find(std::uint32_t handle) const noexcept {
        if (handle == 0 || handle >= PageSize * PageCount) return nullptr;
        const auto* page = FPages[handle / PageSize].load(std::memory_order_acquire);
        return page ? page[handle % PageSize].load(std::memory_order_acquire) : nullptr;
    }

private:
    std::mutex FMutex;
    std::uint32_t FNext = 1;  // 0 stands for no table
    std::vector<std::uint32_t> FFree;
    std::array<std::atomic<std::atomic<TSST*>*>, PageCount> FPages{};
};

THandles& Handles() {
    static auto* handles = new THandles;  // outlives every table, also those freed at exit
    return *handles;
}

}  // namespace

TSST::TSST() : FHandle(Handles().Add(this)) {}

TSST::TSST(const TSST& other)
    : FPool(other.FPool), FList(other.FList), FSorted(other.FSorted), FAbandoned(other.FAbandoned),
      FHandle(Handles().Add(this)) {}

TSST& TSST::operator=(const TSST& other) {
    FPool = other.FPool;
    FList = other.FList;
    FSorted = other.FSorted;
    FAbandoned = other.FAbandoned;
    return *this;
}

TSST::~TSST() { Handles().Remove(FHandle); }

TSST* TSST::FromHandle(std::uint32_t handle) noexcept { return Handles().Find(handle); }

void TSST::Clear() {
    FList.clear();
    FPool.clear();
    FSorted = true;
}

// ---------------------------------------------------------------------------
// Writing

namespace {

// The one layout of the SST and its CONTINUE records; mark(entry index,
// stream position, offset in record) is told where each string starts.
template <class Mark>
std::int64_t LayoutSST(TOle2File* ole, std::span<const std::uint8_t> pool, const std::vector<std::uint32_t>& list,
                       Mark mark) {
    TRecordSplitter out(ole, xlr_SST);
    std::uint32_t total = 0;
    for (std::size_t offset : list) total += GetLongWord(pool, offset);
    std::uint8_t head[8];
    SetLongWord(head, 0, total);
    SetLongWord(head, 4, static_cast<std::uint32_t>(list.size()));
    out.Put(head, 8);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (out.Free() < MinFree) out.Flush();
        mark(i, out.StreamPos(), out.Pos());
        const std::size_t at = list[i] + TSST::EntryHeader;
        const TStrParts s = Parts(pool.subspan(at, StrSize(pool, at)));
        const std::size_t optionAt = out.Pos() + 2;
        out.Put(s.Header.data(), s.Header.size());
        PutChars(out, s, optionAt);
        PutBlock(out, s.Runs);
        PutBlock(out, s.FarEast);
    }
    out.Flush();
    return out.Written();
}

}  // namespace

std::int64_t TSST::SSTRecordSize() const {
    return LayoutSST(nullptr, FPool, FList, [](std::size_t, std::int64_t, std::size_t) {});
}

std::int64_t TSST::ExtSSTRecordSize() const {
    return static_cast<std::int64_t>(ExtSSTShape(FList.size()).Buckets * 8 + 6);
}

// EXTSST gives where every BucketSize-th string starts: its stream
// position and its offset inside its record, as the SST was just written.
void TSST::SaveToStream(TOle2File& ole) {
    const TExtSSTShape shape = ExtSSTShape(FList.size());
    std::vector<std::uint8_t> ext(shape.Buckets * 8 + 2, 0);
    SetWord(ext, 0, static_cast<std::uint16_t>(shape.BucketSize));
    LayoutSST(&ole, FPool, FList, [&](std::size_t i, std::int64_t streamPos, std::size_t recordPos) {
        if (i % shape.BucketSize != 0 || i / shape.BucketSize >= shape.Buckets) return;
        const std::size_t b = i / shape.BucketSize;
        SetLongWord(ext, 2 + b * 8, static_cast<std::uint32_t>(streamPos));
        SetWord(ext, 6 + b * 8, static_cast<std::uint16_t>(recordPos));
    });
    // Each entry's index, for the labels written after the table; the
    // layout has read the pool by then.
    for (std::size_t i = 0; i < FList.size(); ++i) SetLongWord(FPool, FList[i] + 4, static_cast<std::uint32_t>(i));
    ole.WriteHeader(xlr_EXTSST, static_cast<std::uint16_t>(ext.size()));
    ole.WriteMem(ext.data(), ext.size());
}

}  // namespace kalmira
