#include "workbook/cells/UXlsTokenArray.h"

#include <algorithm>
#include <array>
#include <string>
#include <type_traits>

#include "workbook/cells/UXlsFormula.h"

namespace kalmira {

namespace {

// What the scanner does with a token, by the token's base id.
enum class TKind : std::uint8_t {
    Bad,    // unknown here: raises
    Plain,  // fixed size, nothing to adjust
    Text,   // 8-bit-count string
    Attr,   // a choose carries its jump table
    Exp,    // ptgExp, ptgTable: row, column
    Ref,    // row, column field (also the error form)
    Area,   // first row, last row, first and last column field
    RefN,   // shared-relative reference
    AreaN,  // shared-relative area
    Ref3d,  // reference index, then as Ref
    Area3d,
    Name,
    NameX,
};

struct TShape {
    TKind Kind = TKind::Bad;
    std::uint8_t Size = 0;  // bytes after the id
};

// Base ids: 0x01-0x1F as they are; 0x20-0x7F folded onto 0x20-0x3F (the
// reference, value and array classes share a layout).
constexpr std::array<TShape, 0x40> Shapes = [] {
    std::array<TShape, 0x40> t{};
    t[0x01] = t[0x02] = {TKind::Exp, 4};
    for (int id = 0x03; id <= 0x16; ++id) t[id] = {TKind::Plain, 0};
    t[0x17] = {TKind::Text, 0};
    t[0x19] = {TKind::Attr, 3};
    t[0x1C] = t[0x1D] = {TKind::Plain, 1};
    t[0x1E] = {TKind::Plain, 2};
    t[0x1F] = {TKind::Plain, 8};
    t[0x20] = {TKind::Plain, 7};
    t[0x21] = {TKind::Plain, 2};
    t[0x22] = {TKind::Plain, 3};
    t[0x23] = {TKind::Name, 4};
    t[0x24] = t[0x2A] = {TKind::Ref, 4};
    t[0x25] = t[0x2B] = {TKind::Area, 8};
    t[0x29] = {TKind::Plain, 2};
    t[0x2C] = {TKind::RefN, 4};
    t[0x2D] = {TKind::AreaN, 8};
    t[0x39] = {TKind::NameX, 6};
    t[0x3A] = t[0x3C] = {TKind::Ref3d, 6};
    t[0x3B] = t[0x3D] = {TKind::Area3d, 10};
    return t;
}();

constexpr std::uint16_t RowRelative = 0x8000;
constexpr std::uint16_t ColRelative = 0x4000;
constexpr std::uint8_t AttrChoose = 0x04;

// Ids from 0x80 on are no tokens: folding them would read 0xA4 as a reference.
const TShape& ShapeOf(std::uint8_t id) {
    static constexpr TShape NoToken{};
    if (id >= 0x80) return NoToken;
    return Shapes[id < 0x20 ? id : 0x20 | (id & 0x1F)];
}

std::size_t SizeAt(std::span<const std::uint8_t> data, std::size_t pos, std::size_t end) {
    const std::uint8_t id = data[pos];
    const TShape& shape = ShapeOf(id);
    const auto tokens = data.first(end);
    std::int64_t size = 1 + shape.Size;
    if (shape.Kind == TKind::Bad || size > static_cast<std::int64_t>(end - pos)) throw ETokenException(id);
    try {
        if (shape.Kind == TKind::Text) size += GetStrLen(false, tokens, pos + 1);
    } catch (const Exception&) {
        throw ETokenException(id);  // a string header that runs past the array
    }
    if (shape.Kind == TKind::Attr && (tokens[pos + 1] & AttrChoose)) size += (GetWord(tokens, pos + 2) + 1) * 2;
    if (size > static_cast<std::int64_t>(end - pos)) throw ETokenException(id);
    return static_cast<std::size_t>(size);
}

// Calls visit(kind, pos) for every token of first .. end, in order.
template <class Visit>
void ForEachToken(std::span<const std::uint8_t> data, std::size_t first, std::size_t end, Visit visit) {
    Assert(first <= end && end <= data.size(), "UXlsTokenArray", "token range outside the record");
    for (std::size_t pos = first; pos < end;) {
        const std::size_t size = SizeAt(data, pos, end);
        visit(ShapeOf(data[pos]).Kind, pos);
        pos += size;
    }
}

// Where the row and column parts of a reference or area lie, behind the id
// (and the reference index of a 3-D token).
struct TParts {
    std::size_t Rows[2];
    std::size_t Cols[2];
    int Count;  // 1 for a reference, 2 for an area
};

TParts PartsOf(TKind kind, std::size_t pos) {
    switch (kind) {
        case TKind::Ref:
        case TKind::RefN: return {{pos + 1}, {pos + 3}, 1};
        case TKind::Area:
        case TKind::AreaN: return {{pos + 1, pos + 3}, {pos + 5, pos + 7}, 2};
        case TKind::Ref3d: return {{pos + 3}, {pos + 5}, 1};
        case TKind::Area3d: return {{pos + 3, pos + 5}, {pos + 7, pos + 9}, 2};
        default: return {{}, {}, 0};
    }
}

bool Is3d(TKind kind) { return kind == TKind::Ref3d || kind == TKind::Area3d; }

// ---------------------------------------------------------------------------
// Shared formula expansion

void AddToRelativeParts(std::span<std::uint8_t> data, const TParts& parts, int row, int col) {
    for (int i = 0; i < parts.Count; ++i) {
        const std::uint16_t colField = GetWord(data, parts.Cols[i]);
        if (colField & RowRelative)
            SetWord(data, parts.Rows[i], static_cast<std::uint16_t>(GetWord(data, parts.Rows[i]) + row));
        if (colField & ColRelative)
            SetWord(data, parts.Cols[i],
                    static_cast<std::uint16_t>((colField & 0xFF00) | ((colField + col) & 0x00FF)));
    }
}

// ---------------------------------------------------------------------------
// Row, column and sheet changes

// One axis of a change: Count rows (or columns) inserted at Pos, deleted
// when below 0, then a copy moving by Copy. Max is the axis' last index,
// which also marks an area edge that runs to the end of the sheet.
struct TAxis {
    int Pos, Count, Copy, Max;
};

struct TMove {
    TAxis Rows, Cols;
    bool RelativeOnly;
};

// A value pushed off the sheet, or into a deleted block, makes its token an
// error: the data stays, only the id changes.
constexpr int Refused = -1;

int Checked(int value, int max) { return value < 0 || value > max ? Refused : value; }

// The insertion or deletion of one single value (a reference's row or
// column, a ptgExp's cell).
int Inserted(int value, const TAxis& a) {
    if (a.Count == 0 || value < a.Pos) return value;
    if (a.Count < 0 && value < a.Pos - a.Count) return Refused;  // inside the deleted block
    return Checked(value + a.Count, a.Max);
}

int Copied(int value, const TAxis& a, bool moves) {
    return moves && a.Copy != 0 ? Checked(value + a.Copy, a.Max) : value;
}

// A single value: the insertion on its own sheet, then the copy.
int Moved(int value, const TAxis& a, bool onSheet, bool copies) {
    if (onSheet) value = Inserted(value, a);
    return value == Refused ? value : Copied(value, a, copies);
}

// An area's first and last value on one axis. An area over the whole axis
// (a whole column's rows, a whole row's columns) keeps them; a last value
// at the end of the sheet stays there.
struct TSpan {
    int First, Last;
    bool Ok() const { return First != Refused && Last != Refused; }
};

TSpan SpanInserted(TSpan s, const TAxis& a) {
    if (a.Count == 0) return s;
    const bool toEnd = s.Last == a.Max;
    if (a.Count > 0) {
        if (s.First >= a.Pos) s.First = Checked(s.First + a.Count, a.Max);
        if (!toEnd && s.Last >= a.Pos) s.Last = Checked(s.Last + a.Count, a.Max);
        return s;
    }
    const int count = -a.Count, end = a.Pos + count;  // rows Pos .. end - 1 go
    if (s.First >= a.Pos) {
        if (s.Last < end) return {Refused, Refused};  // wholly inside the deleted block
        s.First = std::max(s.First - count, a.Pos);
        if (!toEnd) s.Last -= count;
    } else if (!toEnd && s.Last >= a.Pos) {
        s.Last = std::max(s.Last - count, a.Pos - 1);
    }
    return s;
}

TSpan SpanMoved(TSpan s, const TAxis& a, bool onSheet, bool firstMoves, bool lastMoves) {
    if (s.First == 0 && s.Last == a.Max) return s;
    if (onSheet) s = SpanInserted(s, a);
    if (!s.Ok()) return s;
    return {Copied(s.First, a, firstMoves), Copied(s.Last, a, lastMoves)};
}

// The sheet a reference points at: a 3-D token's own when it can be looked up.
std::int32_t SheetOf(std::span<const std::uint8_t> data, TKind kind, std::size_t pos, const TSheetInfo& info) {
    if (Is3d(kind) && info.GetSheet) return info.GetSheet(GetWord(data, pos + 1));
    return info.FormulaSheet;
}

std::uint8_t ErrorFormOf(std::uint8_t id) {
    switch (ShapeOf(id).Kind) {
        case TKind::Ref:
        case TKind::Area: return (id & 0x1F) >= 0x0A ? id : static_cast<std::uint8_t>(id + 6);
        // ptgRefN and ptgAreaN become ptgRefErr and ptgAreaErr: the same size, the same class.
        case TKind::RefN:
        case TKind::AreaN: return static_cast<std::uint8_t>(id - 2);
        case TKind::Ref3d:
        case TKind::Area3d: return (id & 0x1F) >= 0x1C ? id : static_cast<std::uint8_t>(id + 2);
        default: throw ETokenException(id);  // ptgExp and ptgTable have none
    }
}

// One walk over a token array. Without Write it changes nothing and calls
// no lookup or setter: it raises exactly where the writing walk would (at a
// token it cannot step over, or a ptgExp or ptgTable that would need an
// error form), so that a check pass needs no copies.
template <bool Write>
class TScanner {
public:
    using TData = std::conditional_t<Write, std::span<std::uint8_t>, std::span<const std::uint8_t>>;

    TScanner(TData data, const TSheetInfo& info) : FData(data), FInfo(info) {}

    void RowsAndCols(std::size_t first, std::size_t end, const TMove& move) {
        const bool formulaOnSheet = FInfo.InsSheet >= 0 && FInfo.FormulaSheet == FInfo.InsSheet;
        ForEachToken(FData, first, end, [&](TKind kind, std::size_t pos) {
            if (kind == TKind::Exp) return MoveExp(pos, move, formulaOnSheet);
            // Every other token has an error form: only the writing walk needs its values.
            if constexpr (Write) {
                const TParts parts = PartsOf(kind, pos);
                if (kind == TKind::RefN || kind == TKind::AreaN) MoveShared(parts, pos, move, formulaOnSheet);
                else if (parts.Count == 1) MoveRef(kind, parts, pos, move);
                else if (parts.Count == 2) MoveArea(kind, parts, pos, move);
            }
        });
    }

    void Sheets(std::size_t first, std::size_t end) {
        ForEachToken(FData, first, end, [&](TKind kind, std::size_t pos) {
            // Only a token that cannot be stepped over refuses; without a copy
            // or a renumbering nothing moves.
            if (!Write) return;
            if (FInfo.Renumbering) Renumber(kind, pos);
            if (FInfo.InsSheet < 0) return;
            if (Is3d(kind)) CopySheetOf(pos);
            else if (kind == TKind::Name) RepointName(pos + 1);
            else if (kind == TKind::NameX && FInfo.GetSheet && FInfo.GetSheet(GetWord(FData, pos + 1)) >= 0)
                RepointName(pos + 3);  // a name of this workbook, not of another book or an add-in
        });
    }

private:
    bool OnSheet(TKind kind, std::size_t pos) const {
        return FInfo.InsSheet >= 0 && SheetOf(FData, kind, pos, FInfo) == FInfo.InsSheet;
    }

    void Store(std::size_t pos, int value) {
        if constexpr (Write) SetWord(FData, pos, static_cast<std::uint16_t>(value));
    }

    // Column fields keep their flags (and the bits above the column).
    void StoreCol(std::size_t pos, int col) {
        Store(pos, (GetWord(FData, pos) & 0xFF00) | col);
    }

    void MakeError(std::size_t pos) {
        const std::uint8_t error = ErrorFormOf(FData[pos]);
        if constexpr (Write) FData[pos] = error;
    }

    // ptgExp and ptgTable name the first cell of their array or table: they
    // follow their own sheet's insertions and every copy.
    void MoveExp(std::size_t pos, const TMove& m, bool onSheet) {
        const int row = Moved(GetWord(FData, pos + 1), m.Rows, onSheet, true);
        const int col = Moved(GetWord(FData, pos + 3), m.Cols, onSheet, true);
        if (row == Refused || col == Refused) return MakeError(pos);
        Store(pos + 1, row);
        Store(pos + 3, col);
    }

    void MoveRef(TKind kind, const TParts& parts, std::size_t pos, const TMove& m) {
        const bool onSheet = OnSheet(kind, pos);
        const std::uint16_t field = GetWord(FData, parts.Cols[0]);
        const int row = Moved(GetWord(FData, parts.Rows[0]), m.Rows, onSheet, (field & RowRelative) || !m.RelativeOnly);
        const int col = Moved(field & 0xFF, m.Cols, onSheet, (field & ColRelative) || !m.RelativeOnly);
        if (row == Refused || col == Refused) return MakeError(pos);
        Store(parts.Rows[0], row);
        StoreCol(parts.Cols[0], col);
    }

    void MoveArea(TKind kind, const TParts& parts, std::size_t pos, const TMove& m) {
        const bool onSheet = OnSheet(kind, pos);
        const std::uint16_t firstField = GetWord(FData, parts.Cols[0]), lastField = GetWord(FData, parts.Cols[1]);
        auto moves = [&](std::uint16_t field, std::uint16_t flag) { return (field & flag) || !m.RelativeOnly; };
        const TSpan rows = SpanMoved({GetWord(FData, parts.Rows[0]), GetWord(FData, parts.Rows[1])}, m.Rows, onSheet,
                                     moves(firstField, RowRelative), moves(lastField, RowRelative));
        const TSpan cols = SpanMoved({firstField & 0xFF, lastField & 0xFF}, m.Cols, onSheet,
                                     moves(firstField, ColRelative), moves(lastField, ColRelative));
        if (!rows.Ok() || !cols.Ok()) return MakeError(pos);
        Store(parts.Rows[0], rows.First);
        Store(parts.Rows[1], rows.Last);
        StoreCol(parts.Cols[0], cols.First);
        StoreCol(parts.Cols[1], cols.Last);
    }

    // ptgRefN and ptgAreaN (conditional formats, validations): a relative
    // part is an offset from the cell the rule is read for, which moves with
    // the rule's range; an absolute part is a place on the sheet and moves
    // like that of an ordinary reference ($B1 becomes $C1 when a column
    // goes in before B). An area whose two ends on an axis are absolute
    // shrinks and grows as ordinary areas do; a lone absolute end moves as a
    // single value.
    void MoveShared(const TParts& parts, std::size_t pos, const TMove& m, bool onSheet) {
        const bool absMoves = !m.RelativeOnly;  // a copy moves absolute parts only when asked
        const std::uint16_t fields[2] = {GetWord(FData, parts.Cols[0]),
                                         GetWord(FData, parts.Cols[parts.Count - 1])};
        int rows[2], cols[2];
        for (int i = 0; i < parts.Count; ++i) {
            rows[i] = GetWord(FData, parts.Rows[i]);
            cols[i] = fields[i] & 0xFF;
        }
        auto axis = [&](int (&v)[2], std::uint16_t flag, const TAxis& a) {
            const bool abs0 = !(fields[0] & flag), abs1 = !(fields[parts.Count - 1] & flag);
            if (parts.Count == 2 && abs0 && abs1) {
                const TSpan s = SpanMoved({v[0], v[1]}, a, onSheet, absMoves, absMoves);
                v[0] = s.First, v[1] = s.Last;
                return s.Ok();
            }
            for (int i = 0; i < parts.Count; ++i) {
                if (fields[i] & flag) continue;
                v[i] = Moved(v[i], a, onSheet, absMoves);
                if (v[i] == Refused) return false;
            }
            return true;
        };
        if (!axis(rows, RowRelative, m.Rows) || !axis(cols, ColRelative, m.Cols)) return MakeError(pos);
        for (int i = 0; i < parts.Count; ++i) {
            if (!(fields[i] & RowRelative)) Store(parts.Rows[i], rows[i]);
            if (!(fields[i] & ColRelative)) StoreCol(parts.Cols[i], cols[i]);
        }
    }

    // Names removed: a ptgName (or a ptgNameX on this workbook) of a name
    // that moved takes its new index; one of a name that went becomes the
    // #REF! error of the same size and class, which every reader takes:
    // ptgRefErr (0x2A), ptgRef3dErr (0x3C) keeping its EXTERNSHEET index.
    // Its row is 0 and its column field 0xC000 (relative, so LibreOffice
    // writes "#REF!#REF!", not "$#REF!$#REF!"). The size stays, so jumps of
    // IF and CHOOSE stay right. An index outside the list stays as it is.
    void Renumber(TKind kind, std::size_t pos) {
        const TNameRenumbering& r = *FInfo.Renumbering;
        std::size_t at = 0;
        std::uint8_t error = 0;
        if (kind == TKind::Name) {
            at = pos + 1;
            error = static_cast<std::uint8_t>(FData[pos] + 7);
        } else if (kind == TKind::NameX && r.IsLocal && r.IsLocal(GetWord(FData, pos + 1))) {
            at = pos + 3;
            error = static_cast<std::uint8_t>(FData[pos] + 3);
        } else {
            return;
        }
        const std::size_t index = GetWord(FData, at);
        if (index == 0 || index > r.NewIndex.size()) return;
        const std::int32_t now = r.NewIndex[index - 1];
        if (now < 0) {
            Store(at, 0);
            Store(at + 2, RowRelative | ColRelative);
            if constexpr (Write) FData[pos] = error;
            return;
        }
        Store(at, now + 1);
    }

    // A 3-D token on the copied sheet points at the copy.
    void CopySheetOf(std::size_t pos) {
        if (!FInfo.GetSheet || !FInfo.SetSheet || FInfo.GetSheet(GetWord(FData, pos + 1)) != FInfo.FormulaSheet)
            return;
        if constexpr (Write) SetWord(FData, pos + 1, FInfo.SetSheet(static_cast<std::uint16_t>(FInfo.InsSheet)));
    }

    // A name of the copied sheet, or a global one, becomes the name of the
    // same text local to the copy when there is one. Name indexes count
    // from 1; one outside the list stays as it is.
    void RepointName(std::size_t at) {
        const TNameRecordList* names = FInfo.Names;
        const std::size_t index = GetWord(FData, at);
        if (!names || index == 0 || index > names->Count() || names->GetItems(index - 1)->Data.empty()) return;
        const TNameRecord& named = *names->GetItems(index - 1);
        if (named.RangeSheet() >= 0 && named.RangeSheet() != FInfo.FormulaSheet) return;
        const std::u16string text = named.Name();
        for (std::size_t i = 0; i < names->Count(); ++i) {
            const TNameRecord& candidate = *names->GetItems(i);
            if (!candidate.Data.empty() && candidate.RangeSheet() == FInfo.InsSheet && candidate.Name() == text)
                return Store(at, static_cast<int>(i + 1));
        }
    }

    TData FData;
    const TSheetInfo& FInfo;
};

TMove MoveOf(int insRow, int rowCount, int copyRowOffset, int insCol, int colCount, int copyColOffset,
             bool relativeOnly) {
    return {{insRow, rowCount, copyRowOffset, 0xFFFF}, {insCol, colCount, copyColOffset, 0xFF}, relativeOnly};
}

}  // namespace

ETokenException::ETokenException(std::uint8_t token)
    : EExcelException(FormatMessage(ErrBadToken, {static_cast<long long>(token)})), Token(token) {}

std::size_t TokenSize(std::span<const std::uint8_t> data, std::size_t pos, std::size_t end) {
    Assert(pos < end && end <= data.size(), "UXlsTokenArray", "token outside the record");
    return SizeAt(data, pos, end);
}

void UXlsTokenArray_ArrangeSharedFormulas(std::span<std::uint8_t> data, std::size_t first, std::size_t end, int row,
                                          int col) {
    // The whole array is stepped first, so a bad token leaves every byte.
    ForEachToken(data, first, end, [](TKind, std::size_t) {});
    ForEachToken(data, first, end, [&](TKind kind, std::size_t pos) {
        if (kind == TKind::RefN || kind == TKind::AreaN) {
            data[pos] = static_cast<std::uint8_t>(data[pos] - 8);
            kind = kind == TKind::RefN ? TKind::Ref : TKind::Area;
        }
        AddToRelativeParts(data, PartsOf(kind, pos), row, col);
    });
}

void UXlsTokenArray_CheckNotNested(std::span<const std::uint8_t> data, std::size_t first, std::size_t end) {
    ForEachToken(data, first, end, [&](TKind kind, std::size_t pos) {
        if (kind == TKind::Exp) throw ETokenException(data[pos]);
    });
}

void UXlsTokenArray_ArrangeInsertRowsAndCols(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                             int insRow, int rowCount, int copyRowOffset, int insCol, int colCount,
                                             int copyColOffset, const TSheetInfo& info, bool relativeOnly) {
    const TMove move = MoveOf(insRow, rowCount, copyRowOffset, insCol, colCount, copyColOffset, relativeOnly);
    // Checked first: a refused token leaves every byte as it was.
    TScanner<false>(data, info).RowsAndCols(first, end, move);
    TScanner<true>(data, info).RowsAndCols(first, end, move);
}

void UXlsTokenArray_CheckInsertRowsAndCols(std::span<const std::uint8_t> data, std::size_t first, std::size_t end,
                                           int insRow, int rowCount, int copyRowOffset, int insCol, int colCount,
                                           int copyColOffset, const TSheetInfo& info, bool relativeOnly) {
    const TMove move = MoveOf(insRow, rowCount, copyRowOffset, insCol, colCount, copyColOffset, relativeOnly);
    TScanner<false>(data, info).RowsAndCols(first, end, move);
}

void UXlsTokenArray_ArrangeInsertSheets(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                        const TSheetInfo& info) {
    TScanner<false>(data, info).Sheets(first, end);
    TScanner<true>(data, info).Sheets(first, end);
}

void UXlsTokenArray_CheckInsertSheets(std::span<const std::uint8_t> data, std::size_t first, std::size_t end,
                                      const TSheetInfo& info) {
    TScanner<false>(data, info).Sheets(first, end);
}

}  // namespace kalmira
