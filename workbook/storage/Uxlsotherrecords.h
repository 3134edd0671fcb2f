// Records that carry meaning beyond being written back: the section
// markers BOF and EOF, the template marker, the macro project marker, the
// code name and the window pane.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/Uexcelrecords.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_BOF = 0x809;
inline constexpr std::uint16_t xlr_TEMPLATE = 0x60;
inline constexpr std::uint16_t xlr_OBPROJ = 0xD3;
inline constexpr std::uint16_t xlr_CODENAME = 0x1BA;
inline constexpr std::uint16_t xlr_PANE = 0x41;

// BOF types at data offset 2.
inline constexpr std::uint16_t BOFGlobals = 0x05;
inline constexpr std::uint16_t BOFWorksheet = 0x10;
inline constexpr std::uint16_t BOFChart = 0x20;

// The classes of this unit, for the factory's table.
std::span<const TRecordClass> OtherRecordClasses();

// BOF: 0 BIFF version (0x600), 2 the kind of section.
class TBOFRecord : public TRecordOf<TBOFRecord> {
public:
    // Fewer than 4 bytes: "Record with ID 0x%x is invalid"; another
    // version than 0x600: "Template file is saved with an invalid Excel
    // version".
    TBOFRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    std::uint16_t GetBOFType() const { return GetWord(Data, 2); }
};

class TEOFRecord : public TRecordOf<TEOFRecord> {
public:
    using TRecordOf::TRecordOf;
};

// TEMPLATE has no data: a workbook saved from it is a template.
class TTemplateRecord : public TRecordOf<TTemplateRecord> {
public:
    using TRecordOf::TRecordOf;
    static std::int64_t GetSize(bool included) { return included ? 4 : 0; }
    static void SaveNewRecord(TOle2File& ole) { ole.WriteHeader(xlr_TEMPLATE, 0); }
};

// Its presence marks a workbook with macros.
class TObProjRecord : public TRecordOf<TObProjRecord> {
public:
    using TRecordOf::TRecordOf;
};

// CODENAME: a BIFF8 string with a 2-byte count from offset 0.
class TCodeNameRecord : public TRecordOf<TCodeNameRecord> {
public:
    using TRecordOf::TRecordOf;
    // 8-bit characters when every character fits.
    explicit TCodeNameRecord(std::u16string_view name);
    // Characters past the data: "Error reading record".
    std::u16string GetSheetName() const;
    void SetSheetName(std::u16string_view name);
};

// PANE: 0 column split, 2 row split, 4 first visible row of the lower
// pane, 6 first visible column of the right pane, 8 active pane (0 lower
// right, 1 upper right, 2 lower left, 3 upper left).
class TPaneRecord : public TRecordOf<TPaneRecord> {
public:
    using TRecordOf::TRecordOf;
    std::uint16_t Get_ColSplit() const { return GetWord(Data, 0); }
    void Set_ColSplit(std::uint16_t value) { SetWord(Data, 0, value); }
    std::uint16_t Get_RowSplit() const { return GetWord(Data, 2); }
    void Set_RowSplit(std::uint16_t value) { SetWord(Data, 2, value); }
    std::uint16_t Get_FirstVisibleRow() const { return GetWord(Data, 4); }
    void Set_FirstVisibleRow(std::uint16_t value) { SetWord(Data, 4, value); }
    std::uint16_t Get_FirstVisibleCol() const { return GetWord(Data, 6); }
    void Set_FirstVisibleCol(std::uint16_t value) { SetWord(Data, 6, value); }
    std::uint16_t Get_ActivePane() const { return GetWord(Data, 8); }
    void Set_ActivePane(std::uint16_t value) { SetWord(Data, 8, value); }
    // Makes the active pane one that exists for the current splits.
    void EnsureSelectedVisible();
};

inline constexpr std::uint16_t xlr_GUTS = 0x80;

// GUTS: 0 row gutter width, 2 column gutter width, 4 row outline levels,
// 6 column outline levels. A record that should be computed anew from the
// rows and columns before the next save carries a mark (copies keep it).
class TGutsRecord : public TRecordOf<TGutsRecord> {
public:
    static constexpr std::size_t Size = 8;
    // Refused below 8 bytes ("Record with ID 0x%x is invalid").
    TGutsRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // A new record without gutters.
    TGutsRecord();

    std::uint16_t GetRowLevel() const { return GetWord(Data, 4); }
    std::uint16_t GetColLevel() const { return GetWord(Data, 6); }
    // The gutter and level count for the highest outline level in use.
    void SetRowLevel(int level) { SetLevel(0, level); }
    void SetColLevel(int level) { SetLevel(2, level); }

    std::unique_ptr<TBaseRecord> DoCopyTo() const override;

    bool RecalcNeeded = false;

private:
    void SetLevel(std::size_t gutterAt, int level);
};

}  // namespace kalmira
