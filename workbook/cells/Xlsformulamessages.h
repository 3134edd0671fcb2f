// The formula vocabulary: the texts the parser reads and the text writer
// writes, the error codes, the token classes and the table of built-in
// functions, which both read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kalmira {

inline constexpr char16_t fmErrNull[] = u"#NULL!";
inline constexpr char16_t fmErrDiv0[] = u"#DIV/0!";
inline constexpr char16_t fmErrValue[] = u"#VALUE!";
inline constexpr char16_t fmErrRef[] = u"#REF!";
inline constexpr char16_t fmErrName[] = u"#NAME?";
inline constexpr char16_t fmErrNum[] = u"#NUM!";
inline constexpr char16_t fmErrNA[] = u"#N/A";
inline constexpr char16_t fmErrUnknown[] = u"#KALMIRA_UNKNOWN";
inline constexpr char16_t fmErrStart[] = u"#";
inline constexpr char16_t fmTrue[] = u"TRUE";
inline constexpr char16_t fmFalse[] = u"FALSE";
inline constexpr char16_t fmStartFormula[] = u"=";
inline constexpr char16_t fmFormulaDecimal[] = u".";
inline constexpr char16_t fmFormulaThousands[] = u",";
inline constexpr char16_t fmFunctionSep[] = u",";
inline constexpr char16_t fmUnion[] = u",";
inline constexpr char16_t fmIntersect[] = u" ";
inline constexpr char16_t fmSingleQuote[] = u"'";
inline constexpr char16_t fmOpenArray[] = u"{";
inline constexpr char16_t fmCloseArray[] = u"}";
inline constexpr char16_t fmOpenParen[] = u"(";
inline constexpr char16_t fmCloseParen[] = u")";
inline constexpr char16_t fmArrayRowSep[] = u";";
inline constexpr char16_t fmArrayColSep[] = u",";
inline constexpr char16_t fmAbsoluteRef[] = u"$";
inline constexpr char16_t fmRangeSep[] = u":";
inline constexpr char16_t fmExternalRef[] = u"!";
inline constexpr char16_t fmWorkbookOpen[] = u"[";
inline constexpr char16_t fmWorkbookClose[] = u"]";
inline constexpr char16_t fmTableText[] = u"TABLE";
inline constexpr char16_t fmPlus[] = u"+";
inline constexpr char16_t fmMinus[] = u"-";
inline constexpr char16_t fmMul[] = u"*";
inline constexpr char16_t fmDiv[] = u"/";
inline constexpr char16_t fmPower[] = u"^";
inline constexpr char16_t fmPercent[] = u"%";
inline constexpr char16_t fmStr[] = u"\"";
inline constexpr char16_t fmAnd[] = u"&";
inline constexpr char16_t fmLT[] = u"<";
inline constexpr char16_t fmLE[] = u"<=";
inline constexpr char16_t fmEQ[] = u"=";
inline constexpr char16_t fmGE[] = u">=";
inline constexpr char16_t fmGT[] = u">";
inline constexpr char16_t fmNE[] = u"<>";

// The error literals with their codes, in the order the parser tries them.
struct TFmErrorCode {
    std::u16string_view Text;
    std::uint8_t Code;
};
inline constexpr std::array<TFmErrorCode, 7> FmErrorCodes{{{fmErrNull, 0x00},
                                                           {fmErrDiv0, 0x07},
                                                           {fmErrValue, 0x0F},
                                                           {fmErrRef, 0x17},
                                                           {fmErrName, 0x1D},
                                                           {fmErrNum, 0x24},
                                                           {fmErrNA, 0x2A}}};
// The text of an error code; fmErrUnknown for any other code.
std::u16string_view FmErrorText(std::uint8_t code);

// The class a token is wanted in; in a token id 0x20 is reference class,
// 0x40 value, 0x60 array.
enum class TFmReturnType : std::uint8_t { fmValue, fmRef, fmArray };

// Messages of the formula stacks.
inline constexpr char ErrStringStackEmpty[] = "String Stack is empty";
inline constexpr char ErrWhiteSpaceStackEmpty[] = "WhiteSpace Stack is empty";

// One built-in function at its BIFF index. Params holds one letter per
// parameter ("V" value, "R" reference, "A" array; "-" for none); an
// argument beyond the text takes its last letter.
struct TCellFunctionData {
    std::int32_t Index = 0;
    std::u16string Name;
    std::int32_t MinArgCount = 0;
    std::int32_t MaxArgCount = 0;
    bool Volatile = false;
    TFmReturnType ReturnClass = TFmReturnType::fmValue;
    std::u16string Params;
};

inline constexpr int FuncNameCount = 368;
using TFuncNameArray = std::array<TCellFunctionData, FuncNameCount>;
// The table, made once on first use.
const TFuncNameArray& FuncNameArray();
// The index of the function of that upper-case name, scanning 0..367.
std::optional<int> FindFunction(std::u16string_view upperName);

}  // namespace kalmira
