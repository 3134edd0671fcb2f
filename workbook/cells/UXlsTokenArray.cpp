#include "workbook/cells/UXlsTokenArray.h"

#include <array>

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
        case TKind::Ref: return {{pos + 1}, {pos + 3}, 1};
        case TKind::Area: return {{pos + 1, pos + 3}, {pos + 5, pos + 7}, 2};
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
// Row and column changes (checked only)

struct TMove {
    int InsRow, RowCount, CopyRow;
    int InsCol, ColCount, CopyCol;
    bool RelativeOnly;
};

// Whether one row or column part would change. A whole-column or whole-row
// area edge stays where it is on insertion and deletion.
bool PartMoves(int value, bool relative, bool wholeEdge, int ins, int count, int copy, bool onSheet,
               bool relativeOnly) {
    const bool inserted = onSheet && count != 0 && value >= ins && !wholeEdge;
    const bool copied = copy != 0 && (relative || !relativeOnly);
    return inserted || copied;
}

bool ReferenceMoves(std::span<const std::uint8_t> data, const TParts& parts, const TMove& m, bool onSheet) {
    for (int i = 0; i < parts.Count; ++i) {
        const std::uint16_t row = GetWord(data, parts.Rows[i]), colField = GetWord(data, parts.Cols[i]);
        const bool lastOfArea = parts.Count == 2 && i == 1;
        if (PartMoves(row, colField & RowRelative, lastOfArea && row == 0xFFFF, m.InsRow, m.RowCount, m.CopyRow,
                      onSheet, m.RelativeOnly))
            return true;
        const int col = colField & 0xFF;
        if (PartMoves(col, colField & ColRelative, lastOfArea && col == 0xFF, m.InsCol, m.ColCount, m.CopyCol,
                      onSheet, m.RelativeOnly))
            return true;
    }
    return false;
}

bool ExpMoves(std::span<const std::uint8_t> data, std::size_t pos, const TMove& m, bool onSheet) {
    return PartMoves(GetWord(data, pos + 1), false, false, m.InsRow, m.RowCount, m.CopyRow, onSheet, m.RelativeOnly) ||
           PartMoves(GetWord(data, pos + 3), false, false, m.InsCol, m.ColCount, m.CopyCol, onSheet, m.RelativeOnly);
}

// The sheet a reference points at: a 3-D token's own when it can be looked up.
std::int32_t SheetOf(std::span<const std::uint8_t> data, TKind kind, std::size_t pos, const TSheetInfo& info) {
    if (Is3d(kind) && info.GetSheet) return info.GetSheet(GetWord(data, pos + 1));
    return info.FormulaSheet;
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

void UXlsTokenArray_ArrangeInsertRowsAndCols(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                             int insRow, int rowCount, int copyRowOffset, int insCol, int colCount,
                                             int copyColOffset, const TSheetInfo& info, bool relativeOnly) {
    const TMove move{insRow, rowCount, copyRowOffset, insCol, colCount, copyColOffset, relativeOnly};
    const bool formulaOnSheet = info.InsSheet >= 0 && info.FormulaSheet == info.InsSheet;
    ForEachToken(data, first, end, [&](TKind kind, std::size_t pos) {
        bool moves = false;
        if (kind == TKind::Exp) {
            moves = ExpMoves(data, pos, move, formulaOnSheet);
        } else if (PartsOf(kind, pos).Count > 0) {
            const bool onSheet = info.InsSheet >= 0 && SheetOf(data, kind, pos, info) == info.InsSheet;
            moves = ReferenceMoves(data, PartsOf(kind, pos), move, onSheet);
        }
        if (moves) throw ETokenException(data[pos]);
    });
}

void UXlsTokenArray_ArrangeInsertSheets(std::span<std::uint8_t> data, std::size_t first, std::size_t end,
                                        const TSheetInfo& info) {
    ForEachToken(data, first, end, [&](TKind kind, std::size_t pos) {
        const bool copiedSheet = Is3d(kind) && info.GetSheet && info.SetSheet &&
                                 info.GetSheet(GetWord(data, pos + 1)) == info.FormulaSheet;
        const bool name = (kind == TKind::Name || kind == TKind::NameX) && info.Names;
        if (copiedSheet || name) throw ETokenException(data[pos]);
    });
}

}  // namespace kalmira
