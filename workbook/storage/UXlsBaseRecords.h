// The BIFF8 record model: one object per record, holding its raw data and
// its chain of CONTINUE records; fields are read and changed in place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UKmrVariant.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsRecordData.h"
#include "workbook/storage/UXlsRecordPool.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_CONTINUE = 0x3C;
inline constexpr std::uint16_t xlr_ROW = 0x208;
inline constexpr std::uint16_t xlr_STRING = 0x207;

class TContinueRecord;
class TBaseRecordList;

// What a record is, for the load road's tests: each class adds its bits to
// its base's, so a test is one virtual call instead of a type lookup.
enum TRecordKind : unsigned {
    rkIgnore = 1u << 0,
    rkCell = 1u << 1,
    rkMultipleValue = 1u << 2,
    rkLabelSST = 1u << 3,
    rkFormula = 1u << 4,
    rkRString = 1u << 5,
};

// The table of the process for the parts that few records have (a CONTINUE
// chain, a formula's own value), under the address of the record's one-byte
// mark; records of any thread.
void* FindSidePart(const void* mark) noexcept;
void* TakeSidePart(const void* mark) noexcept;
void PutSidePart(const void* mark, void* part);

// An owning pointer to such a part, used like the unique_ptr it stands
// for: in the record it is one byte, and the part sits in the table under
// its address. A record never moves, so neither does its mark. The byte's
// other bits are the record's own, for a part of its class under another
// address of the record (a formula's, see TFormulaRecord).
template <class T>
class TSidePointer {
public:
    TSidePointer() = default;
    TSidePointer(const TSidePointer&) = delete;
    TSidePointer& operator=(const TSidePointer&) = delete;
    ~TSidePointer() {
        if (Held()) reset();
    }

    T* get() const noexcept { return Held() ? static_cast<T*>(FindSidePart(this)) : nullptr; }
    T* operator->() const noexcept { return get(); }
    T& operator*() const noexcept { return *get(); }
    explicit operator bool() const noexcept { return Held(); }
    // The part leaves the record; the caller owns it.
    std::unique_ptr<T> Take() noexcept {
        if (!Held()) return nullptr;
        FMarks &= ~OwnMark;
        return std::unique_ptr<T>(static_cast<T*>(TakeSidePart(this)));
    }
    void reset() noexcept { Take(); }
    TSidePointer& operator=(std::unique_ptr<T> part) {
        reset();
        if (part) {
            PutSidePart(this, part.get());
            part.release();
            FMarks |= OwnMark;
        }
        return *this;
    }
    // Moving the pointer out moves the part (into a pointer to it or a base).
    template <class Base>
    operator std::unique_ptr<Base>() && noexcept {
        return Take();
    }

    // The record's own marks: bits 1-7 of the byte.
    bool Marked(std::uint8_t mark) const noexcept { return (FMarks & mark) != 0; }
    void Mark(std::uint8_t mark, bool on) noexcept {
        FMarks = static_cast<std::uint8_t>(on ? FMarks | mark : FMarks & ~mark);
    }

private:
    static constexpr std::uint8_t OwnMark = 1;
    bool Held() const noexcept { return (FMarks & OwnMark) != 0; }
    std::uint8_t FMarks = 0;
};

// The CONTINUE records behind a record.
using TContinueLink = TSidePointer<TContinueRecord>;

class TBaseRecord {
public:
    // The virtual constructor's work: the record takes the data.
    TBaseRecord(std::uint16_t id, TRecordData data);
    virtual ~TBaseRecord();
    TBaseRecord(const TBaseRecord&) = delete;
    TBaseRecord& operator=(const TBaseRecord&) = delete;

    // Every record class, the cells above all, lives in the record pools.
    static void* operator new(std::size_t size) { return AllocateRecord(size); }
    static void operator delete(void* record, std::size_t size) noexcept { FreeRecord(record, size); }

    // Laid out without padding: a cell of up to 12 bytes takes 24 bytes
    // with its virtual table, and classes add their fields right behind.
    // The data last: a record without fields of its own may keep its bytes
    // in its slot right behind it (TRecordInSlot).
    std::uint16_t Id;
    TContinueLink Continue;
    TRecordData Data;

    std::uint16_t DataSize() const { return static_cast<std::uint16_t>(Data.size()); }

    // The TRecordKind bits of the record's class.
    virtual unsigned Kinds() const { return 0; }
    bool Is(TRecordKind kind) const { return (Kinds() & kind) != 0; }

    // A copy of the same class with the same data and a copy of the chain.
    std::unique_ptr<TBaseRecord> CopyTo() const { return DoCopyTo(); }
    virtual std::unique_ptr<TBaseRecord> DoCopyTo() const;
    // Writes the record and its continuations.
    virtual void SaveToStream(TOle2File& ole) const;
    // Bytes SaveToStream writes: every header and every data byte of the chain.
    virtual std::int64_t TotalSize() const;
    virtual std::int64_t TotalSizeNoHeaders() const;

    // Refused when the record already has its continuation.
    void AddContinue(std::unique_ptr<TContinueRecord> next);

    // Records that own the record behind them in the stream (a formula its
    // ARRAY and TABLE): the factory hands it over when asked for its id.
    virtual bool TakesFollowing(std::uint16_t) const { return false; }
    virtual void TakeFollowing(std::unique_ptr<TBaseRecord>) {}

protected:
    // Builds a record of this record's own class (the copy's constructor).
    virtual std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const;
    // Header and data of this one link only.
    void SaveOwnData(TOle2File& ole) const;
};

// The virtual table, id, CONTINUE mark and 13 bytes of data.
static_assert(KALMIRA_PLAIN_ALLOCATION || sizeof(TBaseRecord) == 24);

// Moves the record's data into the room behind it in its pool slot of
// slot bytes when it fits there (the sanitizer builds keep it apart). The
// record's class adds no field to TBaseRecord and allocates such slots.
inline void PlaceDataInSlot([[maybe_unused]] TBaseRecord& record, [[maybe_unused]] std::size_t slot) {
#if !KALMIRA_PLAIN_ALLOCATION
    record.Data.PlaceInTail(reinterpret_cast<std::uint8_t*>(&record) + slot);
#endif
}
// The size a record class whose objects take slots of slot bytes asks the
// pools for (its own size in the sanitizer builds).
constexpr std::size_t SlotOf([[maybe_unused]] std::size_t size, [[maybe_unused]] std::size_t slot) {
    return KALMIRA_PLAIN_ALLOCATION ? size : slot;
}

// A record of class T and its data in one pool slot of Slot bytes: the
// data runs on from the record's store into the room behind the record
// (TRecordData::PlaceInTail), which saves the data's own block. T adds no
// field to TBaseRecord (one would sit behind the data, in the room). What
// outgrows the room goes to the pools as any record's data; copies are
// plain records of class T.
template <class T, std::size_t Slot>
class TRecordInSlot final : public T {
public:
    static_assert(sizeof(T) == sizeof(TBaseRecord), "the record has no fields behind its data");
    static_assert(Slot > sizeof(T) && Slot % 8 == 0);
    template <class... Args>
    explicit TRecordInSlot(Args&&... args) : T(std::forward<Args>(args)...) {
        PlaceDataInSlot(*this, Slot);
    }
    static void* operator new(std::size_t) { return AllocateRecord(Slot); }
    static void operator delete(void* record, std::size_t) noexcept { FreeRecord(record, Slot); }
};

// The bytes in front of the data kept in a slot's room: the record's
// fields, the data's tag and the room's sizes.
inline constexpr std::size_t SlotFields = sizeof(TBaseRecord) - sizeof(TRecordData) + TRecordData::TailStart;

// A record of class T built from args, with dataSize bytes of data: in
// the smallest of the slots whose room holds them when they are too long
// to be inline, else a plain one (also in the sanitizer builds, which keep
// every record a block of its own).
template <class T, std::size_t... Slots, class... Args>
std::unique_ptr<T> MakeInSlot([[maybe_unused]] std::size_t dataSize, Args&&... args) {
#if !KALMIRA_PLAIN_ALLOCATION
    if (dataSize > TRecordData::InlineCapacity) {
        std::unique_ptr<T> record;
        const auto fits = [&]<std::size_t Slot>() {
            if (dataSize + SlotFields > Slot) return false;
            record = std::make_unique<TRecordInSlot<T, Slot>>(std::forward<Args>(args)...);
            return true;
        };
        if ((fits.template operator()<Slots>() || ...)) return record;
    }
#endif
    return std::make_unique<T>(std::forward<Args>(args)...);
}

class TContinueRecord : public TBaseRecord {
public:
    using TBaseRecord::TBaseRecord;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// Gives a record class its copy constructor: Self is built from id and data.
template <class Self, class Base = TBaseRecord>
class TRecordOf : public Base {
public:
    using Base::Base;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override {
        return std::make_unique<Self>(id, std::move(data));
    }
};

// Index and cache records: kept in memory, never written (the writer
// rebuilds or drops them).
class TIgnoreRecord : public TBaseRecord {
public:
    using TBaseRecord::TBaseRecord;
    unsigned Kinds() const override { return TBaseRecord::Kinds() | rkIgnore; }
    void SaveToStream(TOle2File&) const override {}
    std::int64_t TotalSize() const override { return 0; }

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// The string result after a formula; the formula writes it.
class TStringRecord : public TBaseRecord {
public:
    using TBaseRecord::TBaseRecord;
    void SaveToStream(TOle2File&) const override {}
    std::int64_t TotalSize() const override { return 0; }
    std::u16string Value() const;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// Stands inside a record list for a list owned elsewhere, which counts its
// own size.
class TSubListRecord : public TBaseRecord {
public:
    explicit TSubListRecord(TBaseRecordList* list) : TBaseRecord(0, {}), FList(list) {}
    void SaveToStream(TOle2File& ole) const override;
    std::int64_t TotalSize() const override { return 0; }

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;

private:
    TBaseRecordList* FList;
};

// The position of a row or column change that moves nothing on its axis:
// beyond every 16-bit field, so that cells kept beyond column 255 (and ROW
// records whose first-column field lies there) stay where they are.
inline constexpr int NoMovePosition = 0x10000;

// The rows (or columns) that copies of first..last take from dest on. A
// block no sheet could hold is refused with the too-many message (where it
// would end, max) before its size overflows.
int CopiedBlockSize(int first, int last, int copies, int dest, int max);

// A record whose data starts with its row (bytes 0-1) and column (2-3).
class TBaseRowColRecord : public TBaseRecord {
public:
    // Fewer than 4 data bytes: "Record with ID 0x%x is invalid".
    TBaseRowColRecord(std::uint16_t id, TRecordData data);

    std::uint16_t GetRow() const { return GetWord(Data, 0); }
    std::uint16_t GetColumn() const { return GetWord(Data, 2); }
    void SetRow(std::uint16_t row) { SetWord(Data, 0, row); }
    void SetColumn(std::uint16_t column) { SetWord(Data, 2, column); }

    // Moves the record when rows or columns are inserted on its own sheet
    // (the sheet info's insert sheet, when it equals its formula sheet).
    virtual void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    virtual void ArrangeCopyRowsAndCols(int rowOffset, int colOffset);
    virtual std::int64_t FixTotalSize(bool) const { return TotalSize(); }

    // Where ArrangeInsertRowsAndCols would move the record, checked: a
    // result outside 0..65535 or 0..255 fails with the too-many message.
    // Records that carry more positions (formula tokens) check them too.
    virtual void CheckArrange(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) const;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
    void CheckSize() const;
};

class TCellRecord : public TBaseRowColRecord {
public:
    using TBaseRowColRecord::TBaseRowColRecord;
    // A zero-filled record of the given data size at row, column with its XF.
    TCellRecord(std::uint16_t id, std::uint16_t row, std::uint16_t column, std::uint16_t xf, std::size_t dataSize);

    unsigned Kinds() const override { return TBaseRowColRecord::Kinds() | rkCell; }

    std::uint16_t GetXF() const { return GetWord(Data, 4); }
    void SetXF(std::uint16_t xf) { SetWord(Data, 4, xf); }

    virtual TVariant GetValue() const { return {}; }
    virtual void SetValue(const TVariant&) {}
    // Cells that can share one multiple-value record with the next one.
    virtual bool CanJoinNext(const TCellRecord*, int) const { return false; }
    virtual void SaveFirstMul(TOle2File& ole, std::int64_t) const { SaveToStream(ole); }
    virtual void SaveMidMul(TOle2File&) const {}
    virtual void SaveLastMul(TOle2File&) const {}
    virtual std::int64_t TotalSizeFirst() const { return TotalSize(); }
    virtual std::int64_t TotalSizeMid() const { return TotalSize(); }
    virtual std::int64_t TotalSizeLast() const { return TotalSize(); }

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// ROW: 0 row, 2 first column, 4 one past the last column, 6 height in
// twips, 8-11 reserved, 12 options (bits 0-2 outline level, 5 hidden,
// 6 height set by hand, 7 own format), 13 bit 0 always set, 14 XF (12 bits).
// Every row, loaded, new or copied, takes one pool slot of 32 bytes and
// keeps its data in the room behind it.
class TRowRecord final : public TBaseRowColRecord {
public:
    static constexpr std::size_t Size = 16;
    static constexpr std::size_t Slot = 32;
    static void* operator new(std::size_t size) { return AllocateRecord(SlotOf(size, Slot)); }
    static void operator delete(void* record, std::size_t size) noexcept { FreeRecord(record, SlotOf(size, Slot)); }
    // A loaded ROW: refused below 16 bytes; its reserved bytes 8-9 zeroed.
    TRowRecord(std::uint16_t id, TRecordData data);
    // A new row: height 255, XF 15, not formatted.
    explicit TRowRecord(std::uint16_t row);

    std::uint16_t GetHeight() const { return GetWord(Data, 6); }
    void SetHeight(std::uint16_t height) { SetWord(Data, 6, height); }
    std::uint16_t GetMinCol() const { return GetWord(Data, 2); }
    void SetMinCol(std::uint16_t column) { SetWord(Data, 2, column); }
    std::uint16_t GetMaxCol() const { return GetWord(Data, 4); }
    void SetMaxCol(std::uint16_t column) { SetWord(Data, 4, column); }
    std::uint16_t GetOptions() const { return GetWord(Data, 12); }
    void SetOptions(std::uint16_t options) { SetWord(Data, 12, options); }
    void ManualHeight() { Data[12] |= 0x40; }
    void AutoHeight() { Data[12] &= ~0x40; }
    bool IsAutoHeight() const { return (Data[12] & 0x40) == 0; }
    void Hide(bool hidden) { Data[12] = static_cast<std::uint8_t>(hidden ? Data[12] | 0x20 : Data[12] & ~0x20); }
    bool IsHidden() const { return (Data[12] & 0x20) != 0; }
    bool IsFormatted() const { return (Data[12] & 0x80) != 0; }
    std::uint16_t GetXF() const { return IsFormatted() ? GetWord(Data, 14) & 0x0FFF : 15; }
    void SetXF(std::uint16_t xf);
    int GetRowOutlineLevel() const { return Data[12] & 7; }
    void SetRowOutlineLevel(std::uint8_t level) { Data[12] = static_cast<std::uint8_t>((Data[12] & ~7) | (level & 7)); }
    bool IsModified() const { return Data[12] != 0 || Data[13] != 1; }

    // Writes the record with its column span cut to the range's columns.
    void SaveRangeToStream(TOle2File& ole, int firstColumn, int lastColumn);

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// Reads count bytes of a value that may run on into CONTINUE records;
// record and pos end just behind it. No destination: the bytes are skipped.
void ReadMem(const TBaseRecord*& record, int& pos, int count, void* destination);

// Reads the characters of a BIFF8 string whose header was read already.
// A continuation that carries on the characters starts with an option byte
// (bit 0: 16-bit characters); the text widens when the pieces mix.
// shortText holds 8-bit characters until the string turns 16-bit (bit 0 of
// optionFlags), then wideText holds them all.
void ReadStr(const TBaseRecord*& record, int& pos, std::string& shortText, std::u16string& wideText,
             std::uint8_t& optionFlags, std::uint8_t& pieceOptionFlags, std::int64_t& charsDone,
             std::int64_t charCount);

}  // namespace kalmira
