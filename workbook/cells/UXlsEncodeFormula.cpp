// BIFF8 tokens to formula text: one pass over the tokens with a stack of
// texts. Operands push their text, operators and functions pop theirs;
// parentheses appear only where a parenthesis token stands, so the text
// keeps the grouping of the tokens.
#include <cstring>

#include "workbook/cells/UXlsFormulaParser.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/cells/UXlsTokenArray.h"
#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr std::uint16_t RowRelative = 0x8000, ColRelative = 0x4000;

std::u16string Number(long long value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

std::u16string CellText(std::uint16_t row, std::uint16_t colField) {
    std::u16string text;
    if (!(colField & ColRelative)) text += fmAbsoluteRef;
    text += EncodeColumn((colField & 0xFF) + 1);
    if (!(colField & RowRelative)) text += fmAbsoluteRef;
    return text + Number(row + 1);
}

// Whole rows (all columns) first, then whole columns, else two cells.
std::u16string AreaText(std::uint16_t r1, std::uint16_t r2, std::uint16_t c1, std::uint16_t c2) {
    const auto abs = [](std::uint16_t field, std::uint16_t flag) { return (field & flag) ? u"" : fmAbsoluteRef; };
    if ((c1 & 0xFF) == 0 && (c2 & 0xFF) == 0xFF)
        return abs(c1, RowRelative) + Number(r1 + 1) + fmRangeSep + abs(c2, RowRelative) + Number(r2 + 1);
    if (r1 == 0 && r2 == 0xFFFF)
        return abs(c1, ColRelative) + EncodeColumn((c1 & 0xFF) + 1) + fmRangeSep + abs(c2, ColRelative) +
               EncodeColumn((c2 & 0xFF) + 1);
    return CellText(r1, c1) + fmRangeSep + CellText(r2, c2);
}

std::u16string Quoted(const std::u16string& text) {
    std::u16string out = fmStr;
    for (const char16_t c : text) {
        out += c;
        if (c == u'"') out += c;
    }
    return out + fmStr;
}

// The token bytes, the data after them (array constants) and the stack.
class TWriter {
public:
    TWriter(std::span<const std::uint8_t> data, std::size_t pos, const TGlobalsAccess* globals,
            const TCellList* cells, bool nested)
        : FData(data), FGlobals(globals), FCells(cells), FNested(nested) {
        FPos = pos;
        FEnd = pos + GetWord(data, pos - 2);
        if (FEnd > data.size()) Raise(ErrReadingRecord);
        FExtra = FEnd;
    }

    std::u16string Run() {
        bool braced = false;
        while (FPos < FEnd) braced = Step() || braced;
        if (FStack.Count() != 1) {
            if (FStack.Count() == 0) Raise(ErrStringStackEmpty);
            Raise(ErrInternal);
        }
        const std::u16string text = FStack.Pop();
        return braced ? text : fmStartFormula + text;
    }

private:
    // Bytes after the id the token needs, checked against the end.
    void Need(std::uint8_t id, std::size_t bytes) const {
        if (FEnd - FPos - 1 < bytes) throw ETokenException(id);
    }
    std::uint16_t Word(std::size_t offset) const { return GetWord(FData.first(FEnd), FPos + offset); }
    std::uint16_t ExtraWord() {
        const std::uint16_t value = GetWord(FData, FExtra);
        FExtra += 2;
        return value;
    }
    std::uint8_t ExtraByte() {
        if (FExtra >= FData.size()) Raise(ErrReadingRecord);
        return FData[FExtra++];
    }
    double ExtraDouble() {
        if (FData.size() - FExtra < 8 || FExtra > FData.size()) Raise(ErrReadingRecord);
        double value;
        std::memcpy(&value, FData.data() + FExtra, 8);
        FExtra += 8;
        return value;
    }

    void PushOperand(const std::u16string& text) { FStack.Push(FStack.FmSpaces + text); }

    // The text of a 3-D token: its sheet's prefix, or #REF! when the sheet
    // is gone.
    std::u16string Sheet(std::uint16_t externSheet) const {
        if (!FGlobals) Assert(false, "UXlsFormulaParser", "References must not be nil");
        return FGlobals->GetSheetName(externSheet);
    }

    std::u16string Function(std::uint16_t index, int count, bool userDefined) {
        if (index >= FuncNameCount)
            Raise(ErrXlsIndexOutBounds, index, "Function name", 0, FuncNameCount - 1);
        std::u16string args;
        const int popped = userDefined ? count - 1 : count;
        for (int i = 0; i < popped; ++i) {
            const std::u16string arg = FStack.Pop();
            args = i == 0 ? arg : arg + fmFunctionSep + args;
        }
        const std::u16string name = userDefined ? FStack.Pop() : FuncNameArray()[index].Name;
        return name + fmOpenParen + args + fmCloseParen;
    }

    std::u16string ArrayConstant() {
        const int cols = ExtraByte() + 1;
        const int rows = ExtraWord() + 1;
        std::u16string text = fmOpenArray;
        for (int r = 0; r < rows; ++r) {
            if (r > 0) text += fmArrayRowSep;
            for (int c = 0; c < cols; ++c) {
                if (c > 0) text += fmArrayColSep;
                text += ArrayValue();
            }
        }
        return text + fmCloseArray;
    }

    std::u16string ArrayValue() {
        const std::uint8_t type = ExtraByte();
        switch (type) {
            case 0x01: return FmFloatToStr(ExtraDouble());
            case 0x02: {
                std::u16string value;
                std::int64_t size = 0;
                const std::uint16_t length = ExtraWord();
                GetSimpleString(false, FData, FExtra, true, length, value, size);
                FExtra += static_cast<std::size_t>(size);
                return Quoted(value);
            }
            case 0x04: {
                const std::uint8_t value = ExtraByte();
                FExtra += 7;
                return value ? fmTrue : fmFalse;
            }
            case 0x10: {
                const std::uint8_t code = ExtraByte();
                FExtra += 7;
                return std::u16string(FmErrorText(code));
            }
            default: Raise(ErrBadToken, type);
        }
    }

    // ptgExp and ptgTbl: the ARRAY or TABLE formula of the cell they point at.
    std::u16string Attached(std::uint8_t id) {
        if (FNested || !FCells) throw ETokenException(id);
        const int row = Word(1), col = Word(3);
        if (id == 0x01) {
            const auto& array = FCells->ArrayFormula(row, col);
            return fmOpenArray + RPNToString(array, 14, FGlobals, FCells, true) + fmCloseArray;
        }
        const auto& table = FCells->TableFormula(row, col);
        std::u16string text = std::u16string(fmOpenArray) + fmStartFormula + fmTableText + fmOpenParen +
                              CellText(GetWord(table, 8), GetWord(table, 10));
        if (GetWord(table, 6) & 0x08) text += fmFunctionSep + CellText(GetWord(table, 12), GetWord(table, 14));
        return text + fmCloseParen + fmCloseArray;
    }

    void Attribute(std::uint8_t id) {
        Need(id, 3);
        const std::uint8_t options = FData[FPos + 1];
        const std::uint16_t value = Word(2);
        if (options & 0x04) FSkip = (static_cast<std::size_t>(value) + 1) * 2;
        if (options & 0x10) {
            const std::u16string a = FStack.Pop();
            FStack.Push(FStack.FmSpaces + FuncNameArray()[4].Name + fmOpenParen + a + fmCloseParen);
        }
        if (options & 0x40) {
            const std::uint8_t kind = static_cast<std::uint8_t>(value), count = static_cast<std::uint8_t>(value >> 8);
            const std::u16string text(count, kind & 1 ? u'\r' : u' ');
            if (kind <= 1) FStack.FmSpaces = text;
            else if (kind <= 3) FStack.FmPreSpaces = text;
            else if (kind <= 5) FStack.FmPostSpaces = text;
        }
    }

    static std::size_t DataSize(std::uint8_t folded) {
        switch (folded) {
            case 0x01: case 0x02: case 0x24: case 0x2A: case 0x2C: return 4;
            case 0x1C: case 0x1D: return 1;
            case 0x1E: case 0x21: case 0x29: return 2;
            case 0x1F: case 0x25: case 0x2B: case 0x2D: return 8;
            case 0x20: return 7;
            case 0x22: return 3;
            case 0x23: return 4;
            case 0x26: case 0x27: case 0x28: case 0x2E: case 0x2F: case 0x39: case 0x3A: case 0x3C: return 6;
            case 0x3B: case 0x3D: return 10;
            default: return 0;
        }
    }

    // One token; true when it was a ptgExp or ptgTbl.
    bool Step() {
        const std::uint8_t id = FData[FPos];
        if (id >= 0x80) throw ETokenException(id);
        const std::uint8_t t = (id & 0x40) ? static_cast<std::uint8_t>((id & 0x3F) | 0x20) : id & 0x3F;
        std::size_t size = DataSize(t);
        FSkip = 0;
        Need(id, size);
        bool braced = false;
        if (t >= 0x03 && t <= 0x11) {
            static constexpr const char16_t* Ops[] = {fmPlus, fmMinus, fmMul, fmDiv, fmPower, fmAnd, fmLT, fmLE,
                                                      fmEQ,   fmGE,    fmGT,  fmNE,  fmIntersect, fmUnion, fmRangeSep};
            const std::u16string right = FStack.Pop(), left = FStack.Pop();
            FStack.Push(left + FStack.FmSpaces + Ops[t - 0x03] + right);
        } else {
            switch (t) {
                case 0x01:
                case 0x02: FStack.Push(Attached(t)), braced = true; break;
                case 0x12:
                case 0x13: PushOperand((t == 0x12 ? fmPlus : fmMinus) + FStack.Pop()); break;
                case 0x14: {
                    const std::u16string a = FStack.Pop();
                    FStack.Push(a + FStack.FmSpaces + fmPercent);
                    break;
                }
                case 0x15: {
                    const std::u16string a = FStack.Pop();
                    FStack.Push(FStack.FmPreSpaces + fmOpenParen + a + FStack.FmPostSpaces + fmCloseParen);
                    break;
                }
                case 0x16: PushOperand(u""); break;
                case 0x17: {
                    std::u16string text;
                    std::int64_t bytes = 0;
                    try {
                        Need(id, 2);
                        GetSimpleString(false, FData.first(FEnd), FPos + 1, false, 0, text, bytes);
                    } catch (const Exception&) {
                        throw ETokenException(id);
                    }
                    size = static_cast<std::size_t>(bytes);
                    PushOperand(Quoted(text));
                    break;
                }
                case 0x19: Attribute(id), size = 3; break;
                case 0x1A:
                case 0x1B: break;
                case 0x1C: PushOperand(std::u16string(FmErrorText(FData[FPos + 1]))); break;
                case 0x1D: PushOperand(FData[FPos + 1] ? fmTrue : fmFalse); break;
                case 0x1E: PushOperand(Number(Word(1))); break;
                case 0x1F: {
                    double value;
                    std::memcpy(&value, FData.data() + FPos + 1, 8);
                    PushOperand(FmFloatToStr(value));
                    break;
                }
                case 0x20: PushOperand(ArrayConstant()); break;
                case 0x21: {
                    const std::uint16_t index = Word(1);
                    const int count = index < FuncNameCount ? FuncNameArray()[index].MaxArgCount : 0;
                    const std::u16string spaces = FStack.FmSpaces;
                    FStack.Push(spaces + Function(index, count, false));
                    break;
                }
                case 0x22: {
                    const std::uint16_t index = Word(2);
                    const std::u16string spaces = FStack.FmSpaces;
                    FStack.Push(spaces + Function(index, FData[FPos + 1] & 0x7F, index == 255));
                    break;
                }
                case 0x23:
                    if (!FGlobals) Assert(false, "UXlsFormulaParser", "References must not be nil");
                    PushOperand(FGlobals->GetName(-1, Word(1) - 1));
                    break;
                case 0x24:
                case 0x2C: PushOperand(CellText(Word(1), Word(3))); break;
                case 0x25:
                case 0x2D: PushOperand(AreaText(Word(1), Word(3), Word(5), Word(7))); break;
                case 0x26:
                case 0x2E: {
                    const std::uint16_t count = ExtraWord();
                    FExtra += static_cast<std::size_t>(count) * 8;
                    break;
                }
                case 0x27:
                case 0x28:
                case 0x29:
                case 0x2F: break;
                case 0x2A:
                case 0x2B:
                case 0x3C:
                case 0x3D: PushOperand(fmErrRef); break;
                case 0x39:
                    if (!FGlobals) Assert(false, "UXlsFormulaParser", "References must not be nil");
                    PushOperand(FGlobals->GetName(Word(1), Word(3) - 1));
                    break;
                case 0x3A:
                case 0x3B: {
                    const std::u16string sheet = Sheet(Word(1));
                    if (sheet.empty()) PushOperand(fmErrRef);
                    else if (t == 0x3A) PushOperand(sheet + CellText(Word(3), Word(5)));
                    else PushOperand(sheet + CellText(Word(3), Word(7)) + fmRangeSep + CellText(Word(5), Word(9)));
                    break;
                }
                default: throw ETokenException(id);
            }
        }
        if (FEnd - FPos - 1 < size + FSkip) throw ETokenException(id);
        FPos += 1 + size + FSkip;
        return braced;
    }

    std::span<const std::uint8_t> FData;
    const TGlobalsAccess* FGlobals;
    const TCellList* FCells;
    bool FNested;
    std::size_t FPos = 0, FEnd = 0, FExtra = 0, FSkip = 0;
    TFormulaStack FStack;
};

}  // namespace

std::u16string RPNToString(std::span<const std::uint8_t> data, std::size_t pos, const TGlobalsAccess* globals,
                           const TCellList* cells, bool nested) {
    if (pos < 2) Raise(ErrReadingRecord);
    return TWriter(data, pos, globals, cells, nested).Run();
}

}  // namespace kalmira
