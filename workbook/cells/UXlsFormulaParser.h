// Formula text to BIFF8 tokens: a recursive-descent parser over the typed
// text that emits tokens in reverse Polish order as each operand or
// operator is complete, keeps typed spaces as attribute tokens, gives every
// operand the class its place needs and checks function calls against the
// built-in function table. A parse either succeeds whole or raises one of
// the formula messages and leaves the workbook's references as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "workbook/cells/UKmrStack.h"
#include "workbook/cells/Xlsformulamessages.h"
#include "workbook/storage/UXlsGlobalsAccess.h"

namespace kalmira {

class TCellList;

// Formula number text: up to 15 significant digits, "." as the decimal
// point, exponent form below 1E-4 and from 1E15 ("1E-5", "1E15").
std::u16string FmFloatToStr(double value);
// "." as the decimal point, no grouping; text that is no number raises
// ErrInvalidFloat naming it.
double FmStrToFloat(std::u16string_view text);

class TParseString {
public:
    // A cell's formula: sheets and the text check go through the cells.
    TParseString(std::u16string formula, TCellList& cells, TFmReturnType returnType);
    // A defined name's formula: in name mode every reference without a
    // sheet is an absolute 3-D reference on defaultSheet.
    TParseString(std::u16string formula, TGlobalsAccess& globals, bool nameMode, int defaultSheet,
                 TFmReturnType returnType);

    void Parse();
    // A length field and the tokens.
    std::size_t TotalSize() const { return 2 + FTokens.size(); }
    void CopyToPtr(std::span<std::uint8_t> buffer, std::size_t pos) const;
    void CopyToPtrNoLen(std::span<std::uint8_t> buffer, std::size_t pos) const;
    std::span<const std::uint8_t> Tokens() const { return FTokens; }
    // Takes back the EXTERNSHEET entries (and local SUPBOOK) this parse
    // added, for a caller that cannot store the finished tokens.
    void TakeBack();

private:
    struct TRefPart;
    struct TRef;

    // Reading.
    char16_t PeekChar() const;
    char16_t Peek2Char() const;
    char16_t PeekCharWs() const;
    void NextChar();
    void SkipWhiteSpace();
    void SkipSpaces();
    [[noreturn]] void UnexpectedChar(std::size_t pos) const;

    // Emitting.
    void Emit(std::initializer_list<std::uint8_t> bytes);
    void AddWord(std::uint16_t value);
    void EmitWhiteSpace(const TWhiteSpace& ws);
    void AddWithWs(std::initializer_list<std::uint8_t> token);
    void MarkOperand() { FLastOperand = static_cast<std::ptrdiff_t>(FTokens.size()); }
    void ConvertLastRefValueType(TFmReturnType wanted);

    // Grammar.
    void Expression();
    void ComTerm();
    void AndTerm();
    void AddTerm();
    void MulTerm();
    void ExpTerm();
    void PerTerm();
    void NegTerm();
    void RefTerm();
    void Factor();
    template <class Next, class Match>
    void BinaryTerm(Next next, Match match);
    template <std::size_t N>
    void SimpleTerm(void (TParseString::*next)(), const std::pair<char16_t, std::uint8_t> (&ops)[N]);

    // Literals and references.
    std::u16string ReadQuoted(char16_t quote);
    void GetNumber();
    void GetString();
    void GetError();
    void GetAlpha();
    void GetFormula(const std::u16string& name);
    bool GetReference();
    bool ReadOnePart(TRefPart& part);
    bool ReadRef(TRef& ref);
    void AddRef(const TRef& ref, int externSheet);
    void GetRef3d(const std::u16string& sheets);
    void GetQuotedRef3d();
    int GetExternSheet(const std::u16string& sheets);
    // The references are marked before their first change.
    int MarkedAddExternSheet(int first, int last);

    std::u16string FFormula;
    std::size_t FPos = 1;  // 1-based read position
    std::vector<std::uint8_t> FTokens;
    std::ptrdiff_t FLastOperand = -1;
    std::u16string FContext;  // "0" per open parenthesis, "1" per argument list
    TWhiteSpaceStack FWs;
    TGlobalsAccess* FGlobals;
    TCellList* FCells;
    TFmReturnType FReturnType;
    bool FNameMode = false;
    int FDefaultSheet = 0;
    std::optional<TReferencesMark> FMark;  // taken before the first EXTERNSHEET change
};

// BIFF8 tokens to formula text ("=" first). The token length is the 16-bit
// word before pos; array constants read the data after the tokens. Names
// and 3-D prefixes come from globals, ARRAY and TABLE formulas from cells
// (a ptgExp or ptgTbl inside them raises ETokenException).
std::u16string RPNToString(std::span<const std::uint8_t> data, std::size_t pos, const TGlobalsAccess* globals,
                           const TCellList* cells, bool nested = false);

}  // namespace kalmira
