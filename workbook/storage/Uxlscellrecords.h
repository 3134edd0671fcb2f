// The cell records that hold constants: blanks, booleans and errors,
// numbers, RK numbers, shared-string labels, the read-only LABEL and
// RSTRING cells, and the MULRK and MULBLANK records that pack a row's runs
// of RK or blank cells. Every record keeps its bytes as read; only SetValue
// encodes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/UXlsSST.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_BLANK = 0x201;
inline constexpr std::uint16_t xlr_BOOLERR = 0x205;
inline constexpr std::uint16_t xlr_NUMBER = 0x203;
inline constexpr std::uint16_t xlr_RK = 0x27E;
inline constexpr std::uint16_t xlr_LABELSST = 0xFD;
inline constexpr std::uint16_t xlr_LABEL = 0x204;
inline constexpr std::uint16_t xlr_RSTRING = 0xD6;
inline constexpr std::uint16_t xlr_MULRK = 0xBD;
inline constexpr std::uint16_t xlr_MULBLANK = 0xBE;

// RK: bit 0 set, the number was multiplied by 100; bit 1 set, bits 2-31
// are a signed integer; clear, they are the high 30 bits of a double whose
// other 34 bits are zero.
double DecodeRK(std::uint32_t rk);
// Succeeds only when decoding the result gives the value bit for bit:
// multiplying by 100 rounds, and the quotient need not come back.
bool EncodeRK(double value, std::uint32_t& rk);
bool IsRK(double value);

// The seven error texts by BIFF code; an unknown code reads as "#NULL!".
std::u16string ErrorCodeText(std::uint8_t code);
// The code of an error text (exact match), or none.
std::optional<std::uint8_t> ErrorCodeOf(std::u16string_view text);

// A cell that shares one MULRK or MULBLANK with its right neighbours when
// a row is written: its part of the joined record is its bytes from the XF
// on. Only a record of its exact layout joins, so longer records from
// other writers go back unchanged.
class TMulCellRecord : public TCellRecord {
public:
    bool CanJoinNext(const TCellRecord* next, int maxColumn) const override;
    void SaveFirstMul(TOle2File& ole, std::int64_t joinedSize) const override;
    void SaveMidMul(TOle2File& ole) const override;
    void SaveLastMul(TOle2File& ole) const override;
    std::int64_t TotalSizeFirst() const override { return 8 + static_cast<std::int64_t>(PartSize()); }
    std::int64_t TotalSizeMid() const override { return static_cast<std::int64_t>(PartSize()); }
    std::int64_t TotalSizeLast() const override { return static_cast<std::int64_t>(PartSize()) + 2; }

protected:
    TMulCellRecord(std::uint16_t id, TRecordData data, std::size_t layoutSize);
    TMulCellRecord(std::uint16_t id, std::uint16_t row, std::uint16_t col, std::uint16_t xf, std::size_t layoutSize);
    virtual std::uint16_t MulId() const = 0;
    // The data size of the class's own layout (kept by the class, not in
    // every cell).
    virtual std::size_t LayoutSize() const = 0;
    std::size_t PartSize() const { return LayoutSize() - 4; }

private:
    bool Joinable() const { return Data.size() == LayoutSize() && !Continue; }
};

class TBlankRecord : public TMulCellRecord {
public:
    static constexpr std::size_t Size = 6;
    TBlankRecord(std::uint16_t id, TRecordData data) : TMulCellRecord(id, std::move(data), Size) {}
    TBlankRecord(std::uint16_t row, std::uint16_t col, std::uint16_t xf) : TMulCellRecord(xlr_BLANK, row, col, xf, Size) {}

protected:
    std::uint16_t MulId() const override { return xlr_MULBLANK; }
    std::size_t LayoutSize() const override { return Size; }
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

class TRKRecord : public TMulCellRecord {
public:
    static constexpr std::size_t Size = 10;
    TRKRecord(std::uint16_t id, TRecordData data) : TMulCellRecord(id, std::move(data), Size) {}
    TRKRecord(std::uint16_t row, std::uint16_t col, std::uint16_t xf) : TMulCellRecord(xlr_RK, row, col, xf, Size) {}

    std::uint32_t GetRK() const { return GetLongWord(Data, 6); }
    TVariant GetValue() const override;
    // A number without an RK form, infinities and NaN: "Invalid cell value".
    void SetValue(const TVariant& value) override;

protected:
    std::uint16_t MulId() const override { return xlr_MULRK; }
    std::size_t LayoutSize() const override { return Size; }
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// BOOLERR: value byte at 6, kind at 7 (0 boolean, 1 error).
class TBoolErrRecord : public TCellRecord {
public:
    static constexpr std::size_t Size = 8;
    TBoolErrRecord(std::uint16_t id, TRecordData data);
    TBoolErrRecord(std::uint16_t row, std::uint16_t col, std::uint16_t xf) : TCellRecord(xlr_BOOLERR, row, col, xf, Size) {}

    TVariant GetValue() const override;
    // A boolean, or one of the seven error texts exactly.
    void SetValue(const TVariant& value) override;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// NUMBER: an IEEE double at 6. Every NUMBER cell takes one pool slot of
// 32 bytes and keeps its data in the room behind it.
class TNumberRecord final : public TCellRecord {
public:
    static constexpr std::size_t Size = 14;
    static constexpr std::size_t Slot = 32;
    static void* operator new(std::size_t size) { return AllocateRecord(SlotOf(size, Slot)); }
    static void operator delete(void* record, std::size_t size) noexcept { FreeRecord(record, SlotOf(size, Slot)); }
    TNumberRecord(std::uint16_t id, TRecordData data);
    TNumberRecord(std::uint16_t row, std::uint16_t col, std::uint16_t xf);

    TVariant GetValue() const override;
    // A value with no number form, infinities and NaN: "Invalid cell value".
    void SetValue(const TVariant& value) override;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// LABELSST: the SST index at 6. In memory the label holds the pool offset
// of its entry (the index changes whenever the table is sorted or written)
// and, once it has its table, the table's handle in place of the index at
// 6 (so a label takes 32 bytes, not 40); the index is written from the
// entry on save.
class TLabelSSTRecord : public TCellRecord {
public:
    static constexpr std::size_t Size = 10;
    TLabelSSTRecord(std::uint16_t id, TRecordData data);
    // A new label with no entry yet.
    TLabelSSTRecord(std::uint16_t row, std::uint16_t col, std::uint16_t xf, TSST* sst);
    ~TLabelSSTRecord() override;

    unsigned Kinds() const override { return TCellRecord::Kinds() | rkLabelSST; }

    // Takes the entry at the file's index; the table must not have been
    // sorted since it was loaded. An index beyond the table: "Error
    // reading Excel records. File invalid".
    void AttachToSST(TSST& sst);
    bool HasEntry() const { return FEntry < Unset; }

    std::u16string GetAsString() const;
    TRichString GetAsRichString() const;
    void SetAsString(std::u16string_view text);
    void SetAsRichString(const TRichString& text);
    TVariant GetValue() const override;
    void SetValue(const TVariant& value) override;

    void SaveToStream(TOle2File& ole) const override;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;

private:
    void Point(std::size_t entry);
    static std::uint32_t EntryOffset(std::size_t offset);
    // The label's table, none before it has one.
    TSST* Table() const { return FEntry == NoTable ? nullptr : TSST::FromHandle(GetLongWord(Data, 6)); }
    void SetTable(const TSST* table);

    // It fills the record header's last bytes. NoTable: no table, the
    // bytes at 6 are the file's index; Unset: a table but no entry yet.
    static constexpr std::uint32_t NoTable = ~std::uint32_t{0};
    static constexpr std::uint32_t Unset = NoTable - 1;
    std::uint32_t FEntry = NoTable;
};

// LABEL: a string with a 2-byte count at 6; read only.
class TLabelRecord : public TCellRecord {
public:
    using TCellRecord::TCellRecord;
    TVariant GetValue() const override { return TVariant(GetAsRichString().Value); }
    // A truncated string: "Error reading record".
    virtual TRichString GetAsRichString() const;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// RSTRING: LABEL followed by a 16-bit run count and the runs.
class TRStringRecord : public TLabelRecord {
public:
    using TLabelRecord::TLabelRecord;
    unsigned Kinds() const override { return TLabelRecord::Kinds() | rkRString; }
    TRichString GetAsRichString() const override;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

// MULRK and MULBLANK: row, first column, one part per cell, last column.
// The cells come out one at a time on load.
class TMultipleValueRecord : public TBaseRecord {
public:
    // No cell, a part cut short, a last column other than where the parts
    // end, or cells that would pass column 255 refuse the record ("Record
    // with ID 0x%x is invalid").
    TMultipleValueRecord(std::uint16_t id, TRecordData data, std::size_t cellSize);

    unsigned Kinds() const override { return TBaseRecord::Kinds() | rkMultipleValue; }
    // No cell left; worked out from the data size.
    bool Eof() const;
    std::unique_ptr<TCellRecord> ExtractOneRecord();

protected:
    virtual std::unique_ptr<TCellRecord> MakeCell(TRecordData data) const = 0;

private:
    std::size_t FCellSize;
    std::size_t FExtracted = 0;
};

class TMulRKRecord : public TMultipleValueRecord {
public:
    TMulRKRecord(std::uint16_t id, TRecordData data) : TMultipleValueRecord(id, std::move(data), 6) {}

protected:
    std::unique_ptr<TCellRecord> MakeCell(TRecordData data) const override;
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

class TMulBlankRecord : public TMultipleValueRecord {
public:
    TMulBlankRecord(std::uint16_t id, TRecordData data) : TMultipleValueRecord(id, std::move(data), 2) {}

protected:
    std::unique_ptr<TCellRecord> MakeCell(TRecordData data) const override;
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

}  // namespace kalmira
