// The shared string table: every cell text of a workbook once, in one
// sorted, reference-counted pool that LABELSST cells point into.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/Uxlsstrings.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_SST = 0xFC;
inline constexpr std::uint16_t xlr_EXTSST = 0xFF;

// The SST record as read: total references (32 bits), unique strings
// (32 bits), then the strings, running on into CONTINUE records.
class TSSTRecord : public TBaseRecord {
public:
    using TBaseRecord::TBaseRecord;
    std::uint32_t GetCount() const { return GetLongWord(Data, 4); }

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// A list of offsets into one byte pool. Each pool entry is an 8-byte
// header (reference count 32 bits, SST index as of the last save 32) and
// then the string with a 2-byte count. Cells keep pool offsets, which stay
// valid when the list is sorted; nothing keeps an address into the pool,
// which moves when it grows.
class TSST {
public:
    static constexpr std::size_t EntryHeader = 8;

    TSST();
    // A copy is a table of its own, with a number of its own.
    TSST(const TSST& other);
    TSST& operator=(const TSST& other);
    ~TSST();

    // The table's number among the tables of the process (never 0), so
    // that a label keeps 4 bytes instead of an address; and the table
    // under a number (none once that table is gone). Numbers are given
    // again only after a million tables.
    std::uint32_t Handle() const { return FHandle; }
    static TSST* FromHandle(std::uint32_t handle) noexcept;

    std::size_t Count() const { return FList.size(); }
    // The pool offset of the entry at a list index.
    std::size_t Offset(std::size_t index) const { return FList.at(index); }
    std::size_t PoolUsed() const { return FPool.size(); }

    // The index of the text's entry, which gains one reference; a new entry
    // when the table has no equal one. A text too long for a cell string
    // fails with "Invalid String record" before anything changes.
    std::size_t AddString(std::u16string_view text, const TRTFRunList& runs = {});
    // Binary search (sorting first): the first equal entry, or where the
    // entry would go.
    bool Find(std::size_t entryOffset, std::size_t& index);
    // Appends the record's strings in file order, unreferenced and unsorted,
    // so that labels can attach by file index. A failure leaves the table
    // as it was.
    void Load(const TSSTRecord& record);
    // Entry order: the shorter encoded string first, then byte by byte.
    void Sort();
    // Drops every entry no cell refers to; sorts a table loaded unsorted
    // first, as a lookup does (a workbook does this before it saves).
    void FixRefs();
    void Clear();

    // The entry's string bytes (count first).
    std::span<const std::uint8_t> GetEntry(std::size_t offset) const;
    TRichString GetText(std::size_t offset) const;
    std::uint32_t RefCount(std::size_t offset) const { return GetLongWord(FPool, offset); }
    void AddRef(std::size_t offset);
    // The same for the entry at a list index.
    void AddRefAt(std::size_t index);
    void Release(std::size_t offset);

    // While one lives on a thread, that thread's changes to this table's
    // counts are gathered in it instead of made, so that threads loading
    // sheets side by side never write the table. Apply makes them, once,
    // after those threads are done; the entries themselves do not change
    // meanwhile.
    class TDeferredRefs {
    public:
        explicit TDeferredRefs(TSST& table);
        ~TDeferredRefs();
        TDeferredRefs(const TDeferredRefs&) = delete;
        TDeferredRefs& operator=(const TDeferredRefs&) = delete;
        // Gathering ends on the thread that made it.
        void Stop();
        // Once gathering ended, on a thread that waited for the one that gathered.
        void Apply();

    private:
        friend class TSST;
        TSST& FTable;
        TDeferredRefs* FOuter;             // the thread's gathering before this one
        // References taken, by list index, one each: as many as the
        // thread's labels, never as many as the table's entries.
        std::vector<std::uint32_t> FAt;
        std::vector<std::uint32_t> FTaken, FReleased;  // by pool offset
    };
    // The table goes with its workbook: the cells freed from now on leave
    // the counts alone instead of touching every entry once more.
    void Abandon() { FAbandoned = true; }
    // The entry's index in the table as last written.
    std::uint32_t SSTIndex(std::size_t offset) const { return GetLongWord(FPool, offset + 4); }

    // SST (with CONTINUE records) and EXTSST; each entry's index is set as
    // it is written, so labels saved afterwards point at it.
    void SaveToStream(TOle2File& ole);
    std::int64_t TotalSize() const { return SSTRecordSize() + ExtSSTRecordSize(); }
    std::int64_t SSTRecordSize() const;
    std::int64_t ExtSSTRecordSize() const;

private:
    TDeferredRefs* Deferred();
    // A zeroed entry header at the pool's end, with room for need bytes in
    // all; its offset.
    std::size_t OpenEntry(std::size_t need);
    std::size_t AppendEntry(const TExcelString& text);
    bool AppendPlain(const TBaseRecord*& record, int& pos);
    bool Less(std::size_t a, std::size_t b) const;
    bool Equal(std::size_t a, std::size_t b) const;

    std::vector<std::uint8_t> FPool;
    std::vector<std::uint32_t> FList;  // pool offsets: the pool stays below 4 GB
    bool FSorted = true;
    bool FAbandoned = false;
    std::uint32_t FHandle;
};

}  // namespace kalmira
