// A worksheet's column settings (width, XF, hidden state, outline level):
// one entry per column, kept sorted, so that column changes can move them;
// equal neighbours are joined into COLINFO records on save. Also the GUTS
// record's outline levels of the columns.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/UXlsColInfoAccess.h"
#include "workbook/storage/Uxlsbaselist.h"

namespace kalmira {

class TOle2File;
class TGutsRecord;
struct TXlsCellRange;

inline constexpr std::uint16_t xlr_COLINFO = 0x7D;

// COLINFO: 0 first column, 2 last column, 4 width in 1/256 character,
// 6 XF, 8 options (bit 0 hidden, bits 8-10 outline level, bit 12
// collapsed), 10 reserved.
struct TColInfo {
    std::uint16_t Column;
    std::uint16_t Width;
    std::uint16_t XF;
    std::uint16_t Options;

    bool IsHidden() const { return (Options & 1) != 0; }
    int GetColOutlineLevel() const { return (Options >> 8) & 7; }
    void SetColOutlineLevel(int level) {
        Options = static_cast<std::uint16_t>((Options & ~0x700) | ((level & 7) << 8));
    }
    // Everything but the column.
    bool IsEqual(const TColInfo& other) const {
        return Width == other.Width && XF == other.XF && Options == other.Options;
    }
};

// Entries lie in columns 0-256 (a file may set column 256): entries read
// or moved past it are dropped, and runs that start past 255 are not
// written.
class TColInfoList : public TBaseList<TColInfo>, public TColInfoAccess {
public:
    static constexpr int MaxColInfoColumn = 256;

    // One entry per column of the record ("Record with ID 0x%x is invalid"
    // below 10 bytes); an entry already there is replaced.
    void AddRecord(const TBaseRecord& record);
    // The entry of the column (true), or where it would go (false).
    bool Find(int column, std::size_t& index) const;
    TColInfo* Entry(int column) const;
    // The column's entry, made with the given settings when missing.
    TColInfo& Ensure(int column, const TColInfo& fresh);
    void CopyFrom(const TColInfoList& other);
    void Clear() { DoClear(); }
    // The column outline level of GUTS: the highest among the columns.
    void CalcGuts(TGutsRecord& guts) const;

    std::int64_t TotalSize() const;
    void SaveToStream(TOle2File& ole) const;
    std::int64_t TotalRangeSize(const TXlsCellRange& range) const;
    void SaveRangeToStream(TOle2File& ole, const TXlsCellRange& range) const;

    std::optional<std::uint16_t> ColumnXF(int column) const override;
    void ArrangeInsertCols(int pos, int count, const TSheetInfo& info) override;
    void CopyCols(int first, int last, int dest, int count, const TSheetInfo& info) override;
    void DeleteCols(int first, int count) override;

private:
    void Put(const TColInfo& entry);
    // Walks the runs of equal neighbours in first..last: each gives its
    // first and last entry.
    template <class Visit>
    void Runs(int first, int last, Visit visit) const;
    std::int64_t SizeIn(int first, int last) const;
    void SaveIn(TOle2File& ole, int first, int last) const;
};

}  // namespace kalmira
