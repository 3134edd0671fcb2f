// External references: the supporting books (SUPBOOK, each with the
// EXTERNNAME records behind it) and the EXTERNSHEET entries through which
// 3-D references and external names of formulas reach the sheets of this
// and other workbooks. Tokens hold entry positions, so entries are never
// reordered or merged; new ones go last.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsGlobalsAccess.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_SUPBOOK = 0x1AE;
inline constexpr std::uint16_t xlr_EXTERNNAME = 0x23;
inline constexpr std::uint16_t xlr_EXTERNNAME2 = 0x223;
inline constexpr std::uint16_t xlr_EXTERNSHEET = 0x17;
// The cached values of an external book's cells: XCT (a sheet and its
// count of CRN records), then CRN (one row's run of values).
inline constexpr std::uint16_t xlr_XCT = 0x59;
inline constexpr std::uint16_t xlr_CRN = 0x5A;

// Sheet fields of an entry that no insertion or deletion moves: a deleted
// sheet, and the references to a book as a whole.
inline constexpr std::uint16_t DeletedSheet = 0xFFFF;
inline constexpr std::uint16_t WholeBookSheet = 0xFFFE;
// No sheet moves past this index.
inline constexpr int MaxSheetIndex = 65000;

// What the references read of the workbook they belong to.
class TReferencesBook {
public:
    virtual ~TReferencesBook() = default;
    virtual int SheetCount() const = 0;
    virtual std::u16string SheetName(int sheet) const = 0;
    virtual const TNameRecordList& DefinedNames() const = 0;
};

// EXTERNNAME: 0 options, 2-5 reserved, 6 name length in characters, 7
// option byte (bit 0: 16-bit characters), 8 the characters, then the
// name's own formula.
class TExternNameRecord : public TRecordOf<TExternNameRecord> {
public:
    // Under 8 bytes, or a name past the data: "Record with ID 0x%x is
    // invalid".
    TExternNameRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    std::uint8_t NameLength() const { return Data[6]; }
    std::u16string Name() const;
};

class TExternNameRecordList : public TBaseRecordList {
public:
    TExternNameRecord* GetItems(std::size_t index) const { return static_cast<TExternNameRecord*>(Items(index)); }
};

// SUPBOOK: 0 the book's sheet count; 2 either 0x0401 (this workbook) or
// 0x3A01 (add-in functions) in a 4-byte record, or the encoded book name
// (BIFF8 string, 2-byte count) followed by one such string per sheet name.
// The EXTERNNAME records and the cached values (XCT, CRN) that follow it in
// the file belong to it and are written back behind it in the order read.
class TSupBookRecord : public TRecordOf<TSupBookRecord> {
public:
    // Under 4 bytes, or names past the data: "Record with ID 0x%x is
    // invalid".
    TSupBookRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // The record of this workbook with its sheet count.
    explicit TSupBookRecord(std::uint16_t sheetCount);

    bool IsLocal() const;
    bool IsAddIn() const;
    int SheetCount() const { return GetWord(Data, 0); }
    // The count grows (or shrinks) by count; a result outside 0..65000
    // raises the too-many message and changes nothing.
    void InsertSheets(int count);

    void AddExternName(std::unique_ptr<TExternNameRecord> name);
    // An XCT or CRN record; kept as read, whatever sheets move.
    void AddCachedValues(std::unique_ptr<TBaseRecord> record);
    std::size_t ExternNameCount() const { return FExternNames.size(); }
    const TExternNameRecord& ExternName(std::size_t index) const { return *FExternNames.at(index); }
    // Sheet i of the book, empty outside it.
    std::u16string SheetName(int index, const TReferencesBook& book) const;
    // The decoded path of an external book; empty for this workbook.
    std::u16string BookName() const;

    std::unique_ptr<TBaseRecord> DoCopyTo() const override;
    void SaveToStream(TOle2File& ole) const override;
    std::int64_t TotalSize() const override;
    std::int64_t TotalSizeNoHeaders() const override;

private:
    // What follows the SUPBOOK, in file order, and the EXTERNNAME records
    // among it by their index.
    TBaseRecordList FFollowing;
    std::vector<const TExternNameRecord*> FExternNames;
};

class TSupBookRecordList : public TBaseRecordList {
public:
    TSupBookRecord* GetItems(std::size_t index) const { return static_cast<TSupBookRecord*>(Items(index)); }
};

// EXTERNSHEET as read: only a carrier, whose entries (with those of its
// CONTINUE records) the references take; the record itself is not kept.
class TExternSheetRecord : public TRecordOf<TExternSheetRecord> {
public:
    using TRecordOf::TRecordOf;
};

// One EXTERNSHEET entry: a SUPBOOK and a span of its sheets.
struct TExternRef {
    std::uint16_t SupBook = 0;
    std::uint16_t FirstSheet = 0;
    std::uint16_t LastSheet = 0;
    bool operator==(const TExternRef&) const = default;
};

// The EXTERNSHEET entries in file order (the position is the index tokens
// carry). Written as EXTERNSHEET with the count and up to 1370 entries,
// then CONTINUE records of up to 1370 entries each; none, nothing.
class TExternRefList {
public:
    static constexpr std::size_t MaxCount = 65535;
    static constexpr std::size_t PerRecord = 1370;

    // The entries of an EXTERNSHEET record and its CONTINUE chain; entries
    // past the data: "Error reading record", nothing added.
    void Load(const TExternSheetRecord& record);
    // The entry's index; a 65,536th raises the too-many message.
    int Add(const TExternRef& entry);
    // Sheets of localSupBook's entries follow an insertion (count > 0) or
    // deletion (count < 0) at first.
    void InsertSheets(int first, int count, int localSupBook);
    void Truncate(std::size_t count);
    void Clear() { FRefs.clear(); }

    std::size_t Count() const { return FRefs.size(); }
    const TExternRef& operator[](std::size_t index) const { return FRefs[index]; }
    const std::vector<TExternRef>& Items() const { return FRefs; }
    void Assign(std::vector<TExternRef> refs) { FRefs = std::move(refs); }

    std::int64_t TotalSize() const { return Layout(nullptr); }
    void SaveToStream(TOle2File& ole) const { Layout(&ole); }

private:
    // The one pass that sizes and, given a stream, writes.
    std::int64_t Layout(TOle2File* ole) const;
    std::vector<TExternRef> FRefs;
};

class TReferences {
public:
    void Clear();
    void AddSupBook(std::unique_ptr<TSupBookRecord> record);
    // To the last SUPBOOK; with none yet: "Error reading Excel records.
    // File invalid".
    void AddExternName(std::unique_ptr<TExternNameRecord> record);
    // To the last SUPBOOK; with none it has no book and is dropped.
    void AddCachedValues(std::unique_ptr<TBaseRecord> record);
    void AddExternRef(const TExternSheetRecord& externSheet) { FExternRefs.Load(externSheet); }

    // The sheet of this workbook that entry index names alone; -1 for a
    // span, another book, a deleted sheet or an index outside the list.
    int GetSheet(int index) const;
    // Whether entry index is on this workbook's own SUPBOOK.
    bool IsLocalEntry(int index) const;
    // The entry of one sheet of this workbook, added when absent.
    int SetSheet(int sheet, int sheetCount) { return AddSheet(sheetCount, sheet, sheet); }
    // The entry of a span of this workbook, added when absent (after the
    // local SUPBOOK, made with sheetCount when there is none).
    int AddSheet(int sheetCount, int firstSheet, int lastSheet);

    // The prefix of a 3-D reference, "'Sheet2:Sheet4'!" or
    // "'C:\dir\[book.xls]Data'!"; empty for an entry that names no sheet.
    std::u16string GetSheetName(int index, const TReferencesBook& book) const;
    // A defined name (externSheet < 0, or an entry of this workbook) or an
    // external name of the entry's SUPBOOK.
    std::u16string GetName(int externSheet, int nameIndex, const TReferencesBook& book) const;

    // Sheets inserted (count > 0) or deleted (count < 0) at before, then
    // change (which sees the moved entries); when either fails, nothing
    // of the references changed, and what change added is gone.
    void InsertSheets(int before, int count, const std::function<void()>& change = {});

    TReferencesMark Mark() const;
    // Entries and SUPBOOKs added since the mark go.
    void Restore(const TReferencesMark& mark);

    int LocalSupBook() const { return FLocalSupBook; }
    const TSupBookRecordList& SupBooks() const { return FSupBooks; }
    const TExternRefList& ExternRefs() const { return FExternRefs; }

    std::int64_t TotalSize() const { return FSupBooks.GetTotalSize() + FExternRefs.TotalSize(); }
    void SaveToStream(TOle2File& ole) const;

private:
    const TSupBookRecord* SupBookOf(const TExternRef& entry) const;
    TSupBookRecordList FSupBooks;
    TExternRefList FExternRefs;
    int FLocalSupBook = -1;
};

}  // namespace kalmira
