// Cell formats, fonts and number formats: the XF, FONT and FORMAT records
// of the workbook globals, their lists, the built-in number formats, and
// the conversions to and from the engine's TKmrFormat and TKmrFont.
//
// Colours: the engine numbers palette colours from 1, records store that
// number + 7 (record colours 8 to 63 are the palette, 64 and above system
// colours).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsBaseRecordLists.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_XF = 0xE0;
inline constexpr std::uint16_t xlr_FONT = 0x31;
inline constexpr std::uint16_t xlr_FORMAT = 0x41E;
inline constexpr std::uint16_t xlr_STYLE = 0x293;

// Ids 0 to 49 have a built-in text; FORMAT records start at this id.
inline constexpr int BuiltInFormatCount = 50;
inline constexpr int FirstUserFormat = 164;

// The built-in text of a number format id (0 to 49, else empty). Ids 14
// and 22 follow the short date order and separators of the settings.
std::u16string XlsBuiltInFormats(int id, const TFormatSettings& settings);
// The same with the engine's default locale settings (never the
// process-wide ones).
std::u16string XlsBuiltInFormats(int id);

// FONT: 0 height (1/20 pt), 2 options (bit 1 italic, bit 3 strike-out),
// 4 colour, 6 weight (700 bold), 8 escapement (1 super, 2 subscript),
// 10 underline, 11 family, 12 character set, 13 reserved, 14 the name as a
// BIFF8 string with a 1-byte count.
class TFontRecord : public TRecordOf<TFontRecord> {
public:
    static constexpr std::size_t MinSize = 16;
    // Under 16 bytes, or a name running past the data: "Record with ID
    // 0x%x is invalid".
    TFontRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // The name always 16-bit; a name over 255 characters: "Invalid String
    // record".
    explicit TFontRecord(const TKmrFont& font);

    std::u16string Name() const;
    std::uint16_t Height() const { return GetWord(Data, 0); }
    // The palette index (record colour - 8).
    int ColorIndex() const { return GetWord(Data, 4) - 8; }
    TKmrFontStyles Style() const;
    TKmrUnderline Underline() const;
    std::uint8_t Family() const { return Data[11]; }
    std::uint8_t Charset() const { return Data[12]; }
    TKmrFont KmrFont() const;
};

class TFontRecordList : public TBaseRecordList {
public:
    TFontRecord* GetItems(std::size_t index) const { return static_cast<TFontRecord*>(Items(index)); }
    // The index an XF stores for the font: an equal FONT record's, or a new
    // one's. Index 4 does not exist in XF records: positions 4 and above
    // are returned plus 1.
    int AddFont(const TKmrFont& font);
    // The font of an XF's font index (minus 1 from 4 on); an index outside
    // the list gives font 0, an empty list the default font.
    TKmrFont FontOfXF(int xfFontIndex) const;
    // The list position of an XF's font index, 0 when outside, -1 without
    // fonts.
    int ActualIndex(int xfFontIndex) const;
};

// FORMAT: 0 format id, 2 the text as a BIFF8 string with a 2-byte count,
// which may run on into CONTINUE records.
class TFormatRecord : public TRecordOf<TFormatRecord> {
public:
    static constexpr std::size_t MinSize = 5;
    static constexpr std::size_t MaxSize = 8224;
    // Under 5 bytes: "Record with ID 0x%x is invalid".
    TFormatRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // 8-bit characters when the text allows; a record over 8,224 data
    // bytes: "Invalid String record".
    TFormatRecord(std::uint16_t formatId, std::u16string_view text);

    std::uint16_t FormatId() const { return GetWord(Data, 0); }
    // The text; one whose count runs past the characters the record and
    // its continuations hold is what they hold (the record goes back as
    // read).
    std::u16string Text() const;
};

// Kept in file order for saving; searches by id go through an index that
// is sorted again after every change.
class TFormatRecordList : public TBaseRecordList {
public:
    TFormatRecord* GetItems(std::size_t index) const { return static_cast<TFormatRecord*>(Items(index)); }
    // The list position of the record with the id.
    bool Find(int formatId, std::size_t& index) const;
    // The FORMAT record's text, else the built-in one (empty past 49).
    std::u16string GetFormat(int formatId) const;
    // The id of a FORMAT record with exactly this text, else of the first
    // built-in one, else of a new record (the highest id + 1, at least 164).
    // A new id past 65535 raises the too-many message, a text too long for
    // one record "Invalid String record"; nothing is added then.
    int AddFormat(std::u16string_view text);

protected:
    void Notify(TBaseRecord&, bool) override { FSorted = false; }

private:
    void Sort() const;
    mutable std::vector<std::size_t> FById;
    mutable bool FSorted = false;
};

enum class TXlsBorderSide : std::uint8_t { Left, Right, Top, Bottom };

// XF (20 bytes):
//  0 font index, 2 format id,
//  4 bit 0 locked, 1 hidden, 2 style XF, 4-15 parent style,
//  6 bits 0-2 horizontal alignment, 3 wrap, 4-6 vertical alignment,
//    8-15 rotation,
//  8 bits 0-3 indent, 4 shrink to fit, 10-15 attribute-used flags,
// 10 border styles, 4 bits each: left, right, top, bottom,
// 12 bits 0-6 left colour, 7-13 right colour, 14-15 diagonal kind,
// 14 (32 bits) 0-6 top colour, 7-13 bottom colour, 14-20 diagonal colour,
//    21-24 diagonal style, 26-31 fill pattern (stored - 1),
// 18 bits 0-6 pattern colour, 7-13 pattern background colour.
class TXFRecord : public TRecordOf<TXFRecord> {
public:
    static constexpr std::size_t Size = 20;
    // Under 20 bytes: "Record with ID 0x%x is invalid".
    TXFRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // A cell XF; its font and number format are added as needed.
    TXFRecord(const TKmrFormat& format, TFontRecordList& fonts, TFormatRecordList& formats);

    std::uint16_t FontIndex() const { return GetWord(Data, 0); }
    std::uint16_t FormatIndex() const { return GetWord(Data, 2); }
    bool IsStyle() const { return (Data[4] & 4) != 0; }
    THKmrAlignment HAlign() const { return static_cast<THKmrAlignment>(Data[6] & 7); }
    TVKmrAlignment VAlign() const { return static_cast<TVKmrAlignment>(Data[6] >> 4 & 7); }
    std::uint8_t Rotation() const { return Data[7]; }
    bool WrapText() const { return (Data[6] & 8) != 0; }
    // Engine numbering: the pattern from 1, colours record colour - 7.
    int CellPattern() const { return static_cast<int>(GetLongWord(Data, 14) >> 26) + 1; }
    int CellFgColorIndex() const { return (GetWord(Data, 18) & 0x7F) - 7; }
    int CellBgColorIndex() const { return (GetWord(Data, 18) >> 7 & 0x7F) - 7; }
    TKmrBorderStyle GetBorderStyle(TXlsBorderSide side) const;
    // Record colour - 7, at least 1.
    int GetBorderColorIndex(TXlsBorderSide side) const;
    TKmrBorderStyle DiagonalStyle() const {
        return static_cast<TKmrBorderStyle>(GetLongWord(Data, 14) >> 21 & 0xF);
    }
    int DiagonalColorIndex() const;
    int GetActualFontIndex(const TFontRecordList& fonts) const { return fonts.ActualIndex(FontIndex()); }

    TKmrFormat KmrFormat(const TFontRecordList& fonts, const TFormatRecordList& formats) const;
    // Marks the engine colours the XF shows (borders with a style, the
    // pattern colours the pattern uses, its font's colour); colours past
    // the flags are ignored.
    void FillUsedColors(std::vector<bool>& used, const TFontRecordList& fonts) const;
};

class TXFRecordList : public TBaseRecordList {
public:
    TXFRecord* GetItems(std::size_t index) const { return static_cast<TXFRecord*>(Items(index)); }
    // The first XF with the same 20 bytes; index -1 when none.
    bool FindFormat(const TXFRecord& xf, int& index) const;
    // count flags, set for every engine colour some XF uses.
    std::vector<bool> GetUsedColors(int count, const TFontRecordList& fonts) const;
    // The XF of the format: an equal one's index, or a new one's.
    int AddFormat(const TKmrFormat& format, TFontRecordList& fonts, TFormatRecordList& formats);
    // Sets XF index from the format. A style XF stays one: it keeps its
    // style bit and the parent field 0xFFF, so the STYLE records and the
    // cell XFs that point at it stay valid. An index outside the list:
    // "The index "%d" of the property "%s" is not in the range %d-%d".
    void SetFormat(int index, const TKmrFormat& format, TFontRecordList& fonts, TFormatRecordList& formats);
};

}  // namespace kalmira
