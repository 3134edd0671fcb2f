#include "workbook/cells/UXlsFormulaParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr std::size_t MaxFormulaLength = 1024;
constexpr std::uint8_t ptgAttr = 0x19, AttrSpace = 0x40;
constexpr std::uint8_t ptgParen = 0x15, ptgMissArg = 0x16, ptgStr = 0x17, ptgErr = 0x1C, ptgBool = 0x1D;
constexpr std::uint8_t ptgInt = 0x1E, ptgNum = 0x1F, ptgUplus = 0x12, ptgUminus = 0x13, ptgPercent = 0x14;
constexpr std::uint8_t ptgRange = 0x11, ptgUnion = 0x10;
constexpr std::uint8_t ClassRef = 0x20, ClassValue = 0x40, ClassArray = 0x60;
constexpr std::uint16_t RowRelative = 0x8000, ColRelative = 0x4000;
constexpr int MaxRow = 65536, MaxCol = 256;  // 1-based limits of typed references

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
// Letters of the first 256 code points; anything above 255 is refused
// before it gets here.
bool IsLetter(char16_t c) { return IsAsciiLetter(c) || (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7); }
bool IsAlphaStart(char16_t c) { return IsLetter(c) || c == u'\\' || c == u'_'; }
bool IsAlphaChar(char16_t c) { return IsAlphaStart(c) || IsDigit(c) || c == u'.' || c == u':'; }

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::uint8_t ClassBits(TFmReturnType type) {
    switch (type) {
        case TFmReturnType::fmRef: return ClassRef;
        case TFmReturnType::fmArray: return ClassArray;
        default: return ClassValue;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Number text

std::u16string FmFloatToStr(double value) {
    if (std::isnan(value)) return u"NAN";
    if (std::isinf(value)) return value < 0 ? u"-INF" : u"INF";
    if (value == 0) return u"0";
    // 15 significant digits in scientific form, then trimmed and laid out.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    const int exponent = std::stoi(text.substr(e + 1));
    std::string digits;
    for (std::size_t i = 0; i < e; ++i)
        if (IsDigit(static_cast<char16_t>(text[i]))) digits += text[i];
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = value < 0 ? "-" : "";
    if (exponent < -4 || exponent >= 15) {
        out += digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    } else if (exponent < 0) {
        out += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else {
        const std::size_t whole = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= whole) out += digits + std::string(whole - digits.size(), '0');
        else out += digits.substr(0, whole) + "." + digits.substr(whole);
    }
    return Ascii(out);
}

double FmStrToFloat(std::u16string_view text) {
    const std::string narrow = Utf16ToUtf8(text);
    double value = 0;
    if (!TryStrToFloatInvariant(narrow, value)) Raise(ErrInvalidFloat, text);
    return value;
}

// ---------------------------------------------------------------------------
// Construction and the whole parse

TParseString::TParseString(std::u16string formula, TCellList& cells, TFmReturnType returnType)
    : FFormula(std::move(formula)), FGlobals(cells.Globals()), FCells(&cells), FReturnType(returnType) {}

TParseString::TParseString(std::u16string formula, TGlobalsAccess& globals, bool nameMode, int defaultSheet,
                           TFmReturnType returnType)
    : FFormula(std::move(formula)),
      FGlobals(&globals),
      FCells(nullptr),
      FReturnType(returnType),
      FNameMode(nameMode),
      FDefaultSheet(defaultSheet) {}

void TParseString::Parse() {
    FLastOperand = -1;
    FTokens.clear();
    FContext.clear();
    FWs = TWhiteSpaceStack();
    FPos = 1;
    try {
        if (PeekChar() != u'=') Raise(ErrFormulaStart, FFormula);
        NextChar();
        Expression();
        ConvertLastRefValueType(FReturnType);
        // Spaces after the formula mean nothing: they are dropped, not refused.
        if (PeekCharWs() != 0) UnexpectedChar(FPos);
        if (FWs.Count() != 0) Raise(ErrInternal);
        std::vector<std::uint8_t> check(TotalSize());
        CopyToPtr(check, 0);
        try {
            RPNToString(check, 2, FGlobals, FCells);
        } catch (const Exception&) {
            Raise(ErrFormulaInvalid, FFormula);
        }
    } catch (...) {
        TakeBack();
        FTokens.clear();
        throw;
    }
}

void TParseString::TakeBack() {
    if (FMark && FGlobals) FGlobals->RestoreReferences(*FMark);
    FMark.reset();
}

void TParseString::CopyToPtr(std::span<std::uint8_t> buffer, std::size_t pos) const {
    SetWord(buffer, pos, static_cast<std::uint16_t>(FTokens.size()));
    CopyToPtrNoLen(buffer, pos + 2);
}

void TParseString::CopyToPtrNoLen(std::span<std::uint8_t> buffer, std::size_t pos) const {
    if (pos > buffer.size() || buffer.size() - pos < FTokens.size()) Raise(ErrReadingRecord);
    std::copy(FTokens.begin(), FTokens.end(), buffer.begin() + static_cast<std::ptrdiff_t>(pos));
}

// ---------------------------------------------------------------------------
// Reading characters

char16_t TParseString::PeekChar() const { return FPos <= FFormula.size() ? FFormula[FPos - 1] : 0; }

char16_t TParseString::Peek2Char() const { return FPos + 1 <= FFormula.size() ? FFormula[FPos] : 0; }

char16_t TParseString::PeekCharWs() const {
    std::size_t pos = FPos;
    while (pos <= FFormula.size() && FFormula[pos - 1] == u' ') ++pos;
    return pos <= FFormula.size() ? FFormula[pos - 1] : 0;
}

void TParseString::NextChar() {
    if (FPos > FFormula.size()) return;
    if (FPos >= MaxFormulaLength + 1) Raise(ErrFormulaTooLong, FFormula);
    ++FPos;
}

void TParseString::SkipSpaces() {
    while (PeekChar() == u' ') NextChar();
}

void TParseString::SkipWhiteSpace() {
    TWhiteSpace ws;
    while (PeekChar() == u' ') {
        NextChar();
        if (ws.Count < 255) ++ws.Count;
    }
    const char16_t next = PeekChar();
    ws.Kind = next == u'(' ? 2 : next == u')' ? 4 : 0;
    FWs.Push(ws);
}

void TParseString::UnexpectedChar(std::size_t pos) const {
    const std::u16string c = pos <= FFormula.size() ? FFormula.substr(pos - 1, 1) : u"";
    Raise(ErrUnexpectedChar, c, pos, FFormula);
}

// ---------------------------------------------------------------------------
// Emitting tokens

void TParseString::Emit(std::initializer_list<std::uint8_t> bytes) { FTokens.insert(FTokens.end(), bytes); }

void TParseString::AddWord(std::uint16_t value) {
    Emit({static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)});
}

void TParseString::EmitWhiteSpace(const TWhiteSpace& ws) {
    if (ws.Count > 0) Emit({ptgAttr, AttrSpace, ws.Kind, ws.Count});
}

// An operand or operator token, after the spaces typed before it.
void TParseString::AddWithWs(std::initializer_list<std::uint8_t> token) {
    EmitWhiteSpace(FWs.Pop());
    MarkOperand();
    Emit(token);
}

void TParseString::ConvertLastRefValueType(TFmReturnType wanted) {
    if (FLastOperand < 0) Raise(ErrInternal);
    std::uint8_t& id = FTokens[static_cast<std::size_t>(FLastOperand)];
    if ((id & ClassArray) == 0) return;
    if (wanted == TFmReturnType::fmValue && (id & ClassArray) != ClassArray) id = (id & 0x9F) | ClassValue;
    else if (wanted == TFmReturnType::fmArray) id = (id & 0x9F) | ClassArray;
}

// ---------------------------------------------------------------------------
// Grammar

void TParseString::Expression() { ComTerm(); }

// Parses next-level operands joined by operators of one level, from the
// left; match reads the operator at the position (0 when there is none).
template <class Next, class Match>
void TParseString::BinaryTerm(Next next, Match match) {
    (this->*next)();
    bool first = true;
    while (match(false) != 0) {
        if (first) ConvertLastRefValueType(TFmReturnType::fmValue);
        first = false;
        SkipWhiteSpace();
        const std::uint8_t token = match(true);
        (this->*next)();
        ConvertLastRefValueType(TFmReturnType::fmValue);
        AddWithWs({token});
    }
}

void TParseString::ComTerm() {
    BinaryTerm(&TParseString::AndTerm, [this](bool consume) -> std::uint8_t {
        const char16_t c = consume ? PeekChar() : PeekCharWs();
        if (c != u'=' && c != u'<' && c != u'>') return 0;
        if (!consume) return 1;
        NextChar();
        const char16_t second = PeekChar();
        if ((second == u'=' || second == u'>') && c != u'=') {
            if (c == u'>' && second == u'=') return NextChar(), 0x0C;
            if (c == u'<' && second == u'=') return NextChar(), 0x0A;
            if (c == u'<' && second == u'>') return NextChar(), 0x0E;
        }
        return c == u'=' ? 0x0B : c == u'<' ? 0x09 : 0x0D;
    });
}

namespace {
// Operators of one character: the token for the character, 0 for others.
template <std::size_t N>
std::uint8_t OperatorToken(char16_t c, const std::pair<char16_t, std::uint8_t> (&ops)[N]) {
    for (const auto& [ch, token] : ops)
        if (ch == c) return token;
    return 0;
}
constexpr std::pair<char16_t, std::uint8_t> AndOps[] = {{u'&', 0x08}};
constexpr std::pair<char16_t, std::uint8_t> AddOps[] = {{u'+', 0x03}, {u'-', 0x04}};
constexpr std::pair<char16_t, std::uint8_t> MulOps[] = {{u'*', 0x05}, {u'/', 0x06}};
constexpr std::pair<char16_t, std::uint8_t> ExpOps[] = {{u'^', 0x07}};
}  // namespace

template <std::size_t N>
void TParseString::SimpleTerm(void (TParseString::*next)(), const std::pair<char16_t, std::uint8_t> (&ops)[N]) {
    BinaryTerm(next, [this, &ops](bool consume) -> std::uint8_t {
        const std::uint8_t token = OperatorToken(consume ? PeekChar() : PeekCharWs(), ops);
        if (consume && token) NextChar();
        return token;
    });
}

void TParseString::AndTerm() { SimpleTerm(&TParseString::AddTerm, AndOps); }
void TParseString::AddTerm() { SimpleTerm(&TParseString::MulTerm, AddOps); }
void TParseString::MulTerm() { SimpleTerm(&TParseString::ExpTerm, MulOps); }
void TParseString::ExpTerm() { SimpleTerm(&TParseString::PerTerm, ExpOps); }

void TParseString::PerTerm() {
    NegTerm();
    bool first = true;
    while (PeekCharWs() == u'%') {
        if (first) ConvertLastRefValueType(TFmReturnType::fmValue);
        first = false;
        SkipWhiteSpace();
        NextChar();
        AddWithWs({ptgPercent});
    }
}

void TParseString::NegTerm() {
    std::u16string signs;
    for (char16_t c = PeekCharWs(); c == u'-' || c == u'+'; c = PeekCharWs()) {
        SkipWhiteSpace();
        NextChar();
        signs += c;
    }
    RefTerm();
    if (signs.empty()) return;
    ConvertLastRefValueType(TFmReturnType::fmValue);
    for (const char16_t sign : signs) AddWithWs({sign == u'-' ? ptgUminus : ptgUplus});
}

void TParseString::RefTerm() {
    Factor();
    for (;;) {
        const char16_t c = PeekCharWs();
        const bool inArguments = !FContext.empty() && FContext.back() == u'1';
        if (c != u':' && (c != u',' || inArguments)) return;
        SkipWhiteSpace();
        NextChar();
        Factor();
        AddWithWs({c == u':' ? ptgRange : ptgUnion});
    }
}

void TParseString::Factor() {
    const char16_t c = PeekCharWs();
    if (c == 0) Raise(ErrUnexpectedEof, FFormula);
    if (c > 255) {
        std::size_t pos = FPos;
        while (FFormula[pos - 1] == u' ') ++pos;
        UnexpectedChar(pos);
    }
    if (c == u'(') {
        SkipWhiteSpace();
        NextChar();
        FContext += u'0';
        Expression();
        FContext.pop_back();
        if (PeekCharWs() != u')') Raise(ErrMissingParen, FFormula);
        SkipWhiteSpace();
        NextChar();
        EmitWhiteSpace(FWs.Pop());
        EmitWhiteSpace(FWs.Pop());
        Emit({ptgParen});
        return;
    }
    if (c == u'"') return GetString();
    if (c == u'{') Raise(ErrArrayFormulasNotSupported);
    if (c == u'#') return GetError();
    if (GetReference()) return;
    if (IsDigit(c) || c == u'.') return GetNumber();
    if (IsAlphaStart(c)) return GetAlpha();
    if (c == u'\'') return GetQuotedRef3d();
}

// ---------------------------------------------------------------------------
// Literals

void TParseString::GetNumber() {
    SkipWhiteSpace();
    const std::size_t start = FPos;
    while (IsDigit(PeekChar()) || PeekChar() == u'.') NextChar();
    if (PeekChar() == u'e' || PeekChar() == u'E') {
        NextChar();
        if (PeekChar() == u'+' || PeekChar() == u'-') NextChar();
        while (IsDigit(PeekChar())) NextChar();
    }
    const double value = FmStrToFloat(std::u16string_view(FFormula).substr(start - 1, FPos - start));
    if (value == std::floor(value) && value >= 0 && value <= 0xFFFF) {
        AddWithWs({ptgInt});
        AddWord(static_cast<std::uint16_t>(value));
        return;
    }
    AddWithWs({ptgNum});
    std::uint64_t bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) Emit({static_cast<std::uint8_t>(bits >> (8 * i))});
}

// The text between the quote at the position and the next single one; two
// quotes stand for one.
std::u16string TParseString::ReadQuoted(char16_t quote) {
    NextChar();
    std::u16string text;
    for (;;) {
        const char16_t c = PeekChar();
        if (c == 0) Raise(ErrUnterminatedString, FFormula);
        NextChar();
        if (c == quote) {
            if (PeekChar() != quote) return text;
            NextChar();
        }
        text += c;
    }
}

void TParseString::GetString() {
    SkipWhiteSpace();
    if (PeekChar() != u'"') Raise(ErrNotAString);
    const std::u16string text = ReadQuoted(u'"');
    if (text.size() > 255) Raise(ErrInvalidStringRecord);
    const bool wide = std::any_of(text.begin(), text.end(), [](char16_t ch) { return ch > 0xFF; });
    AddWithWs({ptgStr, static_cast<std::uint8_t>(text.size()), static_cast<std::uint8_t>(wide ? 1 : 0)});
    for (const char16_t ch : text) {
        if (wide) AddWord(ch);
        else Emit({static_cast<std::uint8_t>(ch)});
    }
}

void TParseString::GetError() {
    SkipWhiteSpace();
    std::size_t longest = 0;
    for (const auto& error : FmErrorCodes) longest = std::max(longest, error.Text.size());
    std::u16string text;
    for (;;) {
        if (PeekChar() == 0) Raise(ErrUnexpectedId, text, FFormula);
        text += WideUpperCase98(std::u16string(1, PeekChar()));
        NextChar();
        if (text.size() > longest) Raise(ErrUnexpectedId, text, FFormula);
        for (const auto& error : FmErrorCodes)
            if (text == error.Text) return AddWithWs({ptgErr, error.Code});
    }
}

void TParseString::GetAlpha() {
    SkipWhiteSpace();
    const std::size_t start = FPos;
    while (IsAlphaChar(PeekChar())) NextChar();
    const std::u16string typed = FFormula.substr(start - 1, FPos - start);
    const std::u16string name = WideUpperCase98(typed);
    if (PeekChar() == u'(') return GetFormula(name);
    if (PeekChar() == u'!') return GetRef3d(typed);
    if (name == fmTrue || name == fmFalse) return AddWithWs({ptgBool, static_cast<std::uint8_t>(name == fmTrue)});
    Raise(ErrUnexpectedId, name, FFormula);
}

// ---------------------------------------------------------------------------
// Function calls

void TParseString::GetFormula(const std::u16string& name) {
    const auto index = FindFunction(name);
    if (!index) Raise(ErrFunctionNotFound, name, FFormula);
    const TCellFunctionData& function = FuncNameArray()[static_cast<std::size_t>(*index)];
    FContext += u'1';
    NextChar();
    int count = 0;
    for (;;) {
        const std::size_t before = FTokens.size();
        Expression();
        if (FTokens.size() == before) {
            if (count == 0 && PeekCharWs() == u')') {
                SkipSpaces();
            } else {
                SkipWhiteSpace();
                AddWithWs({ptgMissArg});
                ++count;
            }
        } else {
            const std::u16string& params = function.Params;
            const char16_t letter = params.empty() ? u'V' : params[std::min<std::size_t>(count, params.size() - 1)];
            ++count;
            switch (letter) {
                case u'-':
                case u'V': ConvertLastRefValueType(TFmReturnType::fmValue); break;
                case u'R': ConvertLastRefValueType(TFmReturnType::fmRef); break;
                case u'A': ConvertLastRefValueType(TFmReturnType::fmArray); break;
                default: Raise(ErrInternal);
            }
            SkipWhiteSpace();
            const TWhiteSpace ws = FWs.Pop();
            if (ws.Kind == 2 || ws.Kind == 4) EmitWhiteSpace(ws);
        }
        const char16_t c = PeekChar();
        if (c == u',') {
            NextChar();
            if (PeekChar() == 0) Raise(ErrUnexpectedEof, FFormula);
            continue;
        }
        if (c == u')') break;
        if (c == 0) Raise(ErrUnexpectedEof, FFormula);
        UnexpectedChar(FPos);
    }
    NextChar();
    if (count < function.MinArgCount || count > function.MaxArgCount)
        Raise(ErrInvalidNumberOfParams, function.Name, function.MinArgCount, count);
    FContext.pop_back();
    const std::uint8_t cls = ClassBits(function.ReturnClass);
    const auto lo = static_cast<std::uint8_t>(*index), hi = static_cast<std::uint8_t>(*index >> 8);
    if (function.MinArgCount == function.MaxArgCount) AddWithWs({static_cast<std::uint8_t>(0x01 | cls), lo, hi});
    else AddWithWs({static_cast<std::uint8_t>(0x02 | cls), static_cast<std::uint8_t>(count), lo, hi});
}

// ---------------------------------------------------------------------------
// References

// One typed part of a reference: column 1.. (0 none), row 1.. (0 none).
struct TParseString::TRefPart {
    int Col = 0, Row = 0;
    bool ColAbs = false, RowAbs = false;
};

struct TParseString::TRef {
    TRefPart First, Last;
    bool Area = false;
};

// "$" column letters, "$" row digits; false when nothing was read.
bool TParseString::ReadOnePart(TRefPart& part) {
    part = {};
    if (PeekChar() == u'$' && !IsDigit(Peek2Char())) part.ColAbs = true, NextChar();
    while (IsAsciiLetter(PeekChar()) && part.Col <= MaxCol) {
        part.Col = part.Col * 26 + (PeekChar() & 0x1F);
        NextChar();
    }
    if (part.Col == 0 && part.ColAbs) return false;
    if (PeekChar() == u'$') part.RowAbs = true, NextChar();
    while (IsDigit(PeekChar()) && part.Row <= MaxRow) {
        part.Row = part.Row * 10 + (PeekChar() - u'0');
        NextChar();
    }
    if (part.Row == 0 && part.RowAbs) return false;
    return part.Col > 0 || part.Row > 0;
}

namespace {
bool InRange(int value, int max) { return value >= 1 && value <= max; }
bool FullCell(const auto& part) { return InRange(part.Col, 256) && InRange(part.Row, 65536); }
}  // namespace

// A cell, an area, a column range or a row range at the position (no
// spaces skipped); false with the position back where it was.
bool TParseString::ReadRef(TRef& ref) {
    const std::size_t start = FPos;
    ref = {};
    const bool read = ReadOnePart(ref.First);
    const bool cell = read && ref.First.Col > 0 && ref.First.Row > 0;
    if (cell && !FullCell(ref.First)) return FPos = start, false;
    if (read && PeekChar() == u':') {
        const std::size_t colon = FPos;
        NextChar();
        TRefPart last;
        const bool second = ReadOnePart(last);
        if (second && cell && FullCell(last)) {
            ref.Last = last;
            return ref.Area = true;
        }
        if (second && !cell && ref.First.Row == 0 && last.Row == 0 && InRange(ref.First.Col, 256) &&
            InRange(last.Col, 256)) {
            ref.First.Row = 1, last.Row = MaxRow;
            ref.Last = last;
            return ref.Area = true;
        }
        if (second && !cell && ref.First.Col == 0 && last.Col == 0 && InRange(ref.First.Row, 65536) &&
            InRange(last.Row, 65536)) {
            ref.First.Col = 1, last.Col = MaxCol;
            ref.Last = last;
            return ref.Area = true;
        }
        FPos = colon;
    }
    if (cell) return true;
    FPos = start;
    return false;
}

bool TParseString::GetReference() {
    const std::size_t start = FPos;
    SkipWhiteSpace();
    TRef ref;
    if (!ReadRef(ref)) {
        FPos = start;
        FWs.Pop();
        return false;
    }
    AddRef(ref, -1);
    return true;
}

namespace {
std::uint16_t ColField(int col, bool colAbs, bool rowAbs) {
    return static_cast<std::uint16_t>((col - 1) | (colAbs ? 0 : ColRelative) | (rowAbs ? 0 : RowRelative));
}
}  // namespace

void TParseString::AddRef(const TRef& ref, int externSheet) {
    TRef r = ref;
    if (externSheet < 0 && FNameMode) {
        // A name's references are absolute and on its sheet.
        r.First.ColAbs = r.First.RowAbs = r.Last.ColAbs = r.Last.RowAbs = true;
        const int sheet = FDefaultSheet;
        externSheet = MarkedAddExternSheet(sheet, sheet);
    }
    const bool is3d = externSheet >= 0;
    const std::uint8_t id = static_cast<std::uint8_t>((r.Area ? 0x25 : 0x24) + (is3d ? 0x16 : 0));
    AddWithWs({id});
    if (is3d) AddWord(static_cast<std::uint16_t>(externSheet));
    if (!r.Area) {
        AddWord(static_cast<std::uint16_t>(r.First.Row - 1));
        AddWord(ColField(r.First.Col, r.First.ColAbs, r.First.RowAbs));
        return;
    }
    AddWord(static_cast<std::uint16_t>(r.First.Row - 1));
    AddWord(static_cast<std::uint16_t>(r.Last.Row - 1));
    AddWord(ColField(r.First.Col, r.First.ColAbs, r.First.RowAbs));
    AddWord(ColField(r.Last.Col, r.Last.ColAbs, r.Last.RowAbs));
}

int TParseString::MarkedAddExternSheet(int first, int last) {
    if (!FGlobals) Raise(ErrInternal);
    if (!FMark) FMark = FGlobals->MarkReferences();
    return FGlobals->AddExternSheet(first, last);
}

int TParseString::GetExternSheet(const std::u16string& sheets) {
    const std::size_t colon = sheets.find(u':');
    const std::u16string first = sheets.substr(0, colon);
    const std::u16string last = colon == std::u16string::npos ? first : sheets.substr(colon + 1);
    int index[2] = {-1, -1};
    const std::u16string* names[2] = {&first, &last};
    for (int i = 0; i < 2; ++i) {
        if (FGlobals) index[i] = FGlobals->FindSheet(*names[i]);
        if (index[i] < 0) Raise(ErrInvalidSheet, *names[i]);
    }
    // A span typed last sheet first covers the same sheets; its entry keeps
    // the order that sheet moves and the writer expect.
    if (index[0] > index[1]) std::swap(index[0], index[1]);
    return MarkedAddExternSheet(index[0], index[1]);
}

void TParseString::GetRef3d(const std::u16string& sheets) {
    if (PeekChar() != u'!') UnexpectedChar(FPos);
    NextChar();
    const int externSheet = GetExternSheet(sheets);
    const std::size_t start = FPos;
    TRef ref;
    if (ReadRef(ref) && !IsAlphaStart(PeekChar()) && PeekChar() != u'(') return AddRef(ref, externSheet);
    FPos = start;
    while (IsAlphaChar(PeekChar())) NextChar();
    const std::u16string name = WideUpperCase98(FFormula.substr(start - 1, FPos - start));
    TRefPart part;
    FPos = start;
    const bool read = ReadOnePart(part);
    if (read && part.Col > 0 && part.Row == 0 && !IsAlphaStart(PeekChar())) Raise(ErrUnexpectedId, name, FFormula);
    Raise(ErrExternalNamesNotSupported, name);
}

void TParseString::GetQuotedRef3d() {
    SkipWhiteSpace();
    GetRef3d(ReadQuoted(u'\''));
}

}  // namespace kalmira
