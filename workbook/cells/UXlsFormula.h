// The records that carry formulas: FORMULA with its cached result and the
// ARRAY, TABLE and STRING records that travel with it, the SHRFMLA record
// that shared formulas are expanded from, and NAME.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsBaseRecords.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_NAME = 0x18;

// Makes the factory build the classes of this unit (FORMULA, STRING,
// SHRFMLA, ARRAY, TABLE, NAME). Whoever loads cells calls it first.
void RegisterFormulaRecords();

// The four fields of an ARRAY or TABLE range: 0 first row, 2 last row,
// 4 first column, 5 last column.
class TRangeFormulaRecord : public TBaseRecord {
public:
    using TBaseRecord::TBaseRecord;
    // Rows and columns at or after the insertion grow by the counts; "none"
    // (0xFFFF, 0xFF) stays. A field pushed out of the sheet fails with the
    // too-many message before any field changes.
    virtual void CheckInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) const;
    virtual void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount);
    // Every field moves by the offsets (but "none").
    virtual void CheckCopyRowsAndCols(int rowOffset, int colOffset) const;
    virtual void ArrangeCopyRowsAndCols(int rowOffset, int colOffset);
};

// TABLE: the range, 6 options, then the input cells: row input at 8 (row)
// and 10 (column), column input at 12 and 14. Loading sets options bits 0-1.
class TTableRecord : public TRecordOf<TTableRecord, TRangeFormulaRecord> {
public:
    static constexpr std::size_t MinSize = 16;
    // Shorter than 16 bytes: "Record with ID 0x%x is invalid".
    TTableRecord(std::uint16_t id, std::vector<std::uint8_t> data);

    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount) override;
    void ArrangeCopyRowsAndCols(int rowOffset, int colOffset) override;
    // An input cell moved out of the sheet is dropped: the field and its
    // partner become 0xFFFF.
    void IncRowToMax(std::size_t field, int offset, int max, std::size_t partner);
    void IncColToMax(std::size_t field, int offset, int max, std::size_t partner) {
        IncRowToMax(field, offset, max, partner);
    }

private:
    void MoveInputCells(int rowPos, int rowCount, int colPos, int colCount);
};

// ARRAY: the range, 6 options, 8 reserved, 12 token length, 14 tokens.
class TArrayRecord : public TRecordOf<TArrayRecord, TRangeFormulaRecord> {
public:
    static constexpr std::size_t MinSize = 14;
    // Shorter than 14 bytes or tokens past the data: invalid.
    TArrayRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    std::size_t TokensEnd() const { return 14 + GetWord(Data, 12); }
};

// SHRFMLA: the range, 6 reserved, 7 use count, 8 token length, 10 tokens
// written relative to the cell they are expanded into. Never written: each
// member cell saves its own copy.
class TShrFmlaRecord : public TRecordOf<TShrFmlaRecord> {
public:
    static constexpr std::size_t MinSize = 10;
    TShrFmlaRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    std::uint16_t FirstRow() const { return GetWord(Data, 0); }
    std::uint16_t LastRow() const { return GetWord(Data, 2); }
    std::uint8_t FirstCol() const { return Data[4]; }
    std::uint8_t LastCol() const { return Data[5]; }
    // The first cell, as the members' ptgExp names it.
    std::uint32_t Key() const { return FirstRow() | static_cast<std::uint32_t>(FirstCol()) << 16; }

    void SaveToStream(TOle2File&) const override {}
    std::int64_t TotalSize() const override { return 0; }
};

// FORMULA: the cell (0 row, 2 column, 4 XF), 6 the cached result: a double,
// or, with bytes 12-13 0xFFFF, a typed one by byte 6 (0 text in a STRING
// record after it, 1 boolean in byte 8, 2 error code in byte 8, 3 empty
// text); 14 options (bit 1 calculate on load, bit 3 member of a shared
// formula), 16 reserved, 20 token length, 22 tokens.
class TFormulaRecord : public TCellRecord {
public:
    unsigned Kinds() const override { return TCellRecord::Kinds() | rkFormula; }
    static constexpr std::size_t HeaderSize = 22;
    static constexpr std::uint16_t CalcOnLoad = 0x0002;
    static constexpr std::uint16_t SharedMember = 0x0008;
    // A formula whose tokens are one ptgExp.
    static constexpr std::size_t ExpSize = 27;

    // Shorter than 22 bytes, tokens past the data, or a typed result of an
    // unknown kind (no reader knows what follows it): invalid. The formula
    // is marked to be calculated on load.
    TFormulaRecord(std::uint16_t id, TRecordData data);
    // A new formula of dataSize zero bytes whose result is value (a date
    // 1462 days lower on a 1904 workbook; an error value by its code). A
    // number that is not finite:
    // "Invalid cell value"; a text over 65535 characters: "Invalid String
    // record".
    TFormulaRecord(std::uint16_t id, std::uint16_t row, std::uint16_t col, std::uint16_t xf, std::size_t dataSize,
                   const TVariant& value, bool dates1904);
    ~TFormulaRecord() override;

    TVariant GetValue() const override;
    // The text of the STRING record that follows a text result; a text
    // over 65535 characters is refused.
    void SetFormulaValue(const TVariant& value);
    // No cached result: the empty text result (kind 3), with the
    // calculate-on-load bit.
    void ClearResult();
    // The result bytes say text: a STRING record holds it.
    bool ResultIsText() const;
    std::uint16_t GetOptions() const { return GetWord(Data, 14); }
    std::size_t TokensEnd() const { return HeaderSize + GetWord(Data, 20); }

    TTableRecord* GetTableRecord() const;
    TArrayRecord* GetArrayRecord() const;
    void SetTableRecord(std::unique_ptr<TTableRecord> table);
    void SetArrayRecord(std::unique_ptr<TArrayRecord> array);
    bool TakesFollowing(std::uint16_t id) const override;
    void TakeFollowing(std::unique_ptr<TBaseRecord> record) override;

    // True when the tokens are one ptgExp; key names the first cell of the
    // shared formula or array it belongs to.
    bool IsExp(std::uint32_t& key) const;
    // Takes the tokens (and what follows them) of a shared formula's data
    // and makes them this cell's own. The record grows: its list must
    // follow. An unknown token fails with "Formula at Row..." and changes
    // nothing.
    void MixShared(std::span<const std::uint8_t> shared, std::size_t size);
    void ArrangeSharedTokens();

    void CheckArrange(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) const override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                  const TSheetInfo& info) override;
    // Checks a copy that ArrangeCopyRowsAndCols would make.
    void CheckCopyRowsAndCols(int rowOffset, int colOffset) const;
    void ArrangeCopyRowsAndCols(int rowOffset, int colOffset) override;
    // The token call with the formula's own message on failure (then
    // nothing has changed), also over the tokens of the formula's ARRAY.
    void ArrangeTokensInsertRowsAndCols(int rowPos, int rowCount, int rowOffset, int colPos, int colCount,
                                        int colOffset, const TSheetInfo& info);
    void CheckTokens(int rowPos, int rowCount, int rowOffset, int colPos, int colCount, int colOffset,
                     const TSheetInfo& info) const;
    void CheckInsertSheet(const TSheetInfo& info) const;
    void ArrangeInsertSheet(const TSheetInfo& info);

    // FORMULA, ARRAY, TABLE, then STRING when the result is a text.
    void SaveToStream(TOle2File& ole) const override;
    // Bytes of the STRING record(s) written to ole, or that would be
    // written when ole is none.
    std::int64_t SaveStringRecord(TOle2File* ole) const;
    std::int64_t TotalSize() const override;
    std::int64_t TotalSizeNoHeaders() const override;
    // The saved size; clearing drops the cached result first.
    std::int64_t FixTotalSize(bool clearResults) const override;
    // The copy takes the ARRAY and TABLE and holds no result.
    std::unique_ptr<TBaseRecord> DoCopyTo() const override;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;

private:
    bool HasTextResult() const;
    // The text of the STRING record behind a text result.
    std::u16string ResultString() const;
    void MoveTokens(int rowPos, int rowCount, int rowOffset, int colPos, int colCount, int colOffset,
                    const TSheetInfo& info);
    // Runs a token call, turning its token failure into this cell's message.
    template <class Call>
    void ReportTokens(Call call) const;

    // What few formulas have, in a part of its own: a value that is not
    // what the result bytes say (numbers, booleans, errors as loaded keep
    // none), the ARRAY and TABLE records.
    // It is kept under the address behind the CONTINUE link's mark, and
    // that mark's byte tells whether there is one: the formula has no
    // fields of its own, so a loaded one keeps its data behind it in its
    // slot (MakeLoadedFormula).
    struct TAttached;
    static constexpr std::uint8_t AttachedMark = 2;
    const void* AttachedKey() const { return reinterpret_cast<const std::byte*>(&Continue) + 1; }
    TAttached* FindAttached() const;
    TAttached& Attached();
    // None while the result bytes hold the value.
    const TVariant* OwnValue() const;
    void SetOwnValue(const TVariant& value);
};

// Sheet index -> ... : the external references' lookup.
using TSheetLookup = std::function<std::int32_t(std::uint16_t index)>;

// NAME: 0 options, 2 shortcut, 3 name length in characters, 4 token
// length, 6 and 8 sheet + 1 for a local name, 10-13 lengths of the texts
// behind the tokens, 14 option byte of the name, 15 its characters, then
// the tokens.
class TNameRecord : public TRecordOf<TNameRecord> {
public:
    // Lengths that run past the data: invalid.
    TNameRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // A name from its description and its finished tokens (without their
    // length field); a name without tokens keeps its text.
    TNameRecord(const TXlsNamedRange& range, std::span<const std::uint8_t> tokens);

    std::u16string Name() const;
    std::uint8_t NameLength() const { return static_cast<std::uint8_t>(GetWord(Data, 2) >> 8); }
    // Option byte and characters.
    std::size_t NameSize() const;
    std::uint16_t NameOptionFlags() const { return GetWord(Data, 0); }
    // -1 for a workbook-wide name (and for one without data).
    int RangeSheet() const;
    std::size_t TokensStart() const { return 14 + NameSize(); }
    std::size_t TokensEnd() const { return TokensStart() + GetWord(Data, 4); }

    // The first token's 3-D reference or area, -1 when it is neither.
    int GetR1() const;
    int GetR2() const;
    int GetC1() const;
    int GetC2() const;
    // A 3-D reference becomes a 3-D area first (4 bytes longer: the list
    // must follow); relative flags of a column are dropped.
    void SetR1(int value) { SetAreaField(0, value); }
    void SetR2(int value) { SetAreaField(1, value); }
    void SetC1(int value) { SetAreaField(2, value); }
    void SetC2(int value) { SetAreaField(3, value); }
    void ChangeRefToArea();
    int RefersToSheet(const TSheetLookup& lookup) const;

    void ArrangeInsertSheets(int firstSheet, int count);
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void ArrangeTokensInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    void ArrangeCopySheet(const TSheetInfo& info);
    // Name tokens follow names removed from the list (the info's
    // renumbering); the check raises where the change would.
    void CheckRenumberNames(const TSheetInfo& info) const;
    void RenumberNames(const TSheetInfo& info);

private:
    int FirstTokenKind() const;  // 0 none, 1 3-D reference, 2 3-D area
    int AreaField(int field) const;
    void SetAreaField(int field, int value);
    template <class Call>
    void ReportTokens(Call call) const;
};

class TNameRecordList : public TBaseRecordList {
public:
    void Add(std::unique_ptr<TNameRecord> name) { TBaseRecordList::Add(std::move(name)); }
    TNameRecord* GetItems(std::size_t index) const { return static_cast<TNameRecord*>(Items(index)); }
    // Every name is moved on a scratch copy first: the refusals of the move
    // without its change.
    void CheckArrange(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info) const;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount, const TSheetInfo& info);
    // Where each name stands once the names local to sheets first ..
    // first + count - 1 went (-1 for those).
    std::vector<std::int32_t> IndexesAfterDeletingSheets(int first, int count) const;
    // Names local to the deleted sheets go; the others follow, their name
    // tokens renumbered as the renumbering says (checked first: a token the
    // scanner refuses leaves every name).
    void DeleteSheets(int first, int count, const TNameRenumbering& renumbering);
    // Names of sheet copyFrom (local ones, and global ones that refer to
    // it) are copied to each new sheet; the other names follow the move.
    // copyFrom and beforeSheet count before the insertion, the info's
    // lookup after it.
    void InsertSheets(int copyFrom, int beforeSheet, const TSheetInfo& info, int count);
};

// The sheet's shared formulas, found by the key of their first cell. They
// are kept in key order as they come (of equal keys the first comes
// first), so members can be expanded while the sheet still loads.
class TShrFmlaRecordList : public TBaseRecordList {
public:
    void Add(std::unique_ptr<TShrFmlaRecord> shared);
    TShrFmlaRecord* GetItems(std::size_t index) const { return static_cast<TShrFmlaRecord*>(Items(index)); }
    bool Find(std::uint32_t key, std::size_t& index) const;
    // A formula that is a member of one of these takes its tokens (and
    // grows: its list must follow); true when it did.
    bool Expand(TFormulaRecord& formula) const;
};

}  // namespace kalmira
