// Plain value types shared by the workbook model and the component interface.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "workbook/storage/UKmrVariant.h"

namespace kalmira {

// A block of cells, 0-based, bounds inclusive, column first.
struct TXlsCellRange {
    std::int32_t Left = 0;    // first column
    std::int32_t Top = 0;     // first row
    std::int32_t Right = 0;   // last column
    std::int32_t Bottom = 0;  // last row

    friend bool operator==(const TXlsCellRange&, const TXlsCellRange&) = default;
};

// A cell's value handed in and out: the value, its XF (-1: none, or keep
// the cell's own) and whether the cell holds a formula.
struct TXlsCellValue {
    TVariant Value;
    std::int32_t XF = -1;
    bool IsFormula = false;

    friend bool operator==(const TXlsCellValue&, const TXlsCellValue&) = default;
};

// One rich-text run: from character FirstChar on (0-based), the text uses
// font FontIndex of the workbook.
struct TRTFRun {
    std::uint16_t FirstChar = 0;
    std::uint16_t FontIndex = 0;

    friend bool operator==(const TRTFRun&, const TRTFRun&) = default;
};

using TRTFRunList = std::vector<TRTFRun>;

// A text with its runs (cells, comments, text boxes).
struct TRichString {
    std::u16string Value;
    TRTFRunList RTFRuns;

    friend bool operator==(const TRichString&, const TRichString&) = default;
};

enum class TXlsSheetVisible : std::uint8_t { sv_Visible, sv_Hidden, sv_VeryHidden };

// The printer driver settings of a PLS record; the engine never looks inside.
struct TPrinterDriverSettings {
    std::uint16_t OperatingEnvironment = 0;
    std::vector<std::uint8_t> Data;

    friend bool operator==(const TPrinterDriverSettings&, const TPrinterDriverSettings&) = default;
};

// Page margins in inches.
struct TXlsMargins {
    long double Left = 0;
    long double Top = 0;
    long double Right = 0;
    long double Bottom = 0;
    long double Header = 0;
    long double Footer = 0;

    friend bool operator==(const TXlsMargins&, const TXlsMargins&) = default;
};

// A defined name to add to a workbook.
struct TXlsNamedRange {
    std::u16string Name;
    std::u16string RangeFormula;
    std::uint16_t OptionFlags = 0;
    std::int32_t NameSheetIndex = 0;  // -1: the name belongs to the whole workbook

    friend bool operator==(const TXlsNamedRange&, const TXlsNamedRange&) = default;
};

// Font styles, one bit each in this order.
enum class TKmrFontStyle : std::uint8_t { fs_Bold, fs_Italic, fs_StrikeOut, fs_Superscript, fs_Subscript };

class TKmrFontStyles {
public:
    TKmrFontStyles() = default;
    TKmrFontStyles(std::initializer_list<TKmrFontStyle> styles) {
        for (auto s : styles) Include(s);
    }
    bool Has(TKmrFontStyle s) const { return (FBits >> static_cast<int>(s) & 1) != 0; }
    void Include(TKmrFontStyle s) { FBits = static_cast<std::uint8_t>(FBits | 1u << static_cast<int>(s)); }
    void Exclude(TKmrFontStyle s) { FBits = static_cast<std::uint8_t>(FBits & ~(1u << static_cast<int>(s))); }
    std::uint8_t Bits() const { return FBits; }

    friend bool operator==(const TKmrFontStyles&, const TKmrFontStyles&) = default;

private:
    std::uint8_t FBits = 0;
};

enum class TKmrUnderline : std::uint8_t { fu_None, fu_Single, fu_Double, fu_SingleAccounting, fu_DoubleAccounting };

// Colour indexes of fonts and formats count palette entries from 1.
struct TKmrFont {
    std::u16string Name;
    std::uint16_t Size20 = 0;  // 1/20 point
    std::int32_t ColorIndex = 0;
    TKmrFontStyles Style;
    TKmrUnderline Underline = TKmrUnderline::fu_None;
    std::uint8_t Family = 0;
    std::uint8_t CharSet = 0;

    friend bool operator==(const TKmrFont&, const TKmrFont&) = default;
};

// The BIFF8 line styles, in record order.
enum class TKmrBorderStyle : std::int32_t {
    fbs_None,
    fbs_Thin,
    fbs_Medium,
    fbs_Dashed,
    fbs_Dotted,
    fbs_Thick,
    fbs_Double,
    fbs_Hair,
    fbs_Medium_dashed,
    fbs_Dash_dot,
    fbs_Medium_dash_dot,
    fbs_Dash_dot_dot,
    fbs_Medium_dash_dot_dot,
    fbs_Slanted_dash_dot,
};

struct TKmrOneBorder {
    TKmrBorderStyle Style = TKmrBorderStyle::fbs_None;
    std::int32_t ColorIndex = 0;

    friend bool operator==(const TKmrOneBorder&, const TKmrOneBorder&) = default;
};

// Which diagonals a cell shows: down runs from the top-left corner.
enum class TKmrDiagonalBorder : std::uint8_t { fdb_None, fdb_DiagDown, fdb_DiagUp, fdb_DiagUpDown };

struct TKmrBorders {
    TKmrOneBorder Left;
    TKmrOneBorder Right;
    TKmrOneBorder Top;
    TKmrOneBorder Bottom;
    TKmrOneBorder Diagonal;
    TKmrDiagonalBorder DiagonalStyle = TKmrDiagonalBorder::fdb_None;

    friend bool operator==(const TKmrBorders&, const TKmrBorders&) = default;
};

// Pattern numbers count from 1: 1 is no fill, 2 a solid one.
struct TKmrFillPattern {
    std::int32_t Pattern = 0;
    std::int32_t FgColorIndex = 0;
    std::int32_t BgColorIndex = 0;

    friend bool operator==(const TKmrFillPattern&, const TKmrFillPattern&) = default;
};

enum class THKmrAlignment : std::uint8_t {
    fha_general,
    fha_left,
    fha_center,
    fha_right,
    fha_fill,
    fha_justify,
    fha_center_across_selection,
};

enum class TVKmrAlignment : std::uint8_t { fva_top, fva_center, fva_bottom, fva_justify, fva_distributed };

// A cell format as the interface hands it around: an XF with its font and
// number format text resolved.
struct TKmrFormat {
    TKmrFont Font;
    TKmrBorders Borders;
    std::u16string Format;  // number format text; empty is General
    TKmrFillPattern FillPattern;
    THKmrAlignment HAlignment = THKmrAlignment::fha_general;
    TVKmrAlignment VAlignment = TVKmrAlignment::fva_top;
    bool Locked = false;
    bool Hidden = false;
    std::int32_t Parent = 0;  // the XF's parent style word, masked
    bool WrapText = false;
    bool ShrinkToFit = false;
    std::uint8_t Rotation = 0;
    std::uint8_t Indent = 0;

    friend bool operator==(const TKmrFormat&, const TKmrFormat&) = default;
};

enum class THyperLinkType : std::uint8_t { hl_URL, hl_LocalFile, hl_UNC, hl_CurrentWorkbook };

struct THyperLink {
    THyperLinkType LinkType = THyperLinkType::hl_URL;
    std::u16string Description;  // what the cell shows
    std::u16string TargetFrame;
    std::u16string TextMark;  // the place inside the target; for hl_CurrentWorkbook the whole target
    std::u16string Text;      // URL, file or UNC path; empty for hl_CurrentWorkbook
    std::u16string Hint;      // the screen tip

    friend bool operator==(const THyperLink&, const THyperLink&) = default;
};

// A drawing anchor as the 18 bytes of a client anchor record hold it: the
// flags, then each corner's cell (0-based) and offset inside it (1/1024 of
// the column's width, 1/255 of the row's height).
struct TClientAnchor {
    std::uint16_t Flag = 0;
    std::uint16_t Col1 = 0;
    std::uint16_t Dx1 = 0;
    std::uint16_t Row1 = 0;
    std::uint16_t Dy1 = 0;
    std::uint16_t Col2 = 0;
    std::uint16_t Dx2 = 0;
    std::uint16_t Row2 = 0;
    std::uint16_t Dy2 = 0;

    friend bool operator==(const TClientAnchor&, const TClientAnchor&) = default;
};

// Where a picture or a comment box goes: the cells of both corners (from 1)
// and the offsets inside them (1/1024 of the width, 1/255 of the height),
// and the file name the picture keeps as its name.
struct TImageProperties {
    std::int32_t Col1 = 0;
    std::int32_t Dx1 = 0;
    std::int32_t Row1 = 0;
    std::int32_t Dy1 = 0;
    std::int32_t Col2 = 0;
    std::int32_t Dx2 = 0;
    std::int32_t Row2 = 0;
    std::int32_t Dy2 = 0;
    std::u16string FileName;

    friend bool operator==(const TImageProperties&, const TImageProperties&) = default;
};

// How a picture follows its cells; the anchor flags are 0, 2 and 3.
enum class TKmrAnchorType : std::uint8_t { at_MoveAndResize, at_MoveAndDontResize, at_DontMoveAndDontResize };

enum class TXlsImgTypes : std::uint8_t { xli_Emf, xli_Wmf, xli_Jpeg, xli_Png, xli_Bmp, xli_Unknown };

// The engine's own copy of the locale settings that number and date text
// follow. Date and time formats use the class library's letters (d, m, y, h,
// n, s, ampm ...); month names start with January, day names with Sunday.
struct TFormatSettings {
    std::u16string CurrencyString;
    std::uint8_t CurrencyFormat = 0;
    std::uint8_t CurrencyDecimals = 0;
    char16_t DateSeparator = u'/';
    char16_t TimeSeparator = u':';
    char16_t ListSeparator = u',';
    std::u16string ShortDateFormat;
    std::u16string LongDateFormat;
    std::u16string TimeAMString;
    std::u16string TimePMString;
    std::u16string ShortTimeFormat;
    std::u16string LongTimeFormat;
    std::array<std::u16string, 12> ShortMonthNames;
    std::array<std::u16string, 12> LongMonthNames;
    std::array<std::u16string, 7> ShortDayNames;
    std::array<std::u16string, 7> LongDayNames;
    char16_t ThousandSeparator = u',';
    char16_t DecimalSeparator = u'.';
    std::uint16_t TwoDigitYearCenturyWindow = 50;
    std::uint8_t NegCurrFormat = 0;

    friend bool operator==(const TFormatSettings&, const TFormatSettings&) = default;
};

}  // namespace kalmira
