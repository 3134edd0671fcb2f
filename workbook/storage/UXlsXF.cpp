#include "workbook/storage/UXlsXF.h"

#include <algorithm>
#include <array>

#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/Uxlsstrings.h"

namespace kalmira {

namespace {

// Ids 14 and 22 are built from the locale; these are their fallbacks.
constexpr std::array<const char16_t*, BuiltInFormatCount> BuiltIn = {
    u"", u"0", u"0.00", u"#,##0", u"#,##0.00", u"", u"", u"", u"", u"0%",                     // 0-9
    u"0.00%", u"0.00E+00", u"?/?", u"# ?\?/??", u"mm/dd/YYYY", u"DD-MMM-YY", u"DD-MMM",        // 10-16
    u"MMM-YY", u"h:mm AM/PM", u"h:mm:ss AM/PM", u"hh:mm", u"hh:mm:ss", u"mm/dd/YYYY hh:mm",  // 17-22
    u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"", u"",                      // 23-36
    u"#,##0 _$;-#,##0 _$", u"#,##0 _$;[Red]-#,##0 _$", u"#,##0.00 _$;-#,##0.00 _$",           // 37-39
    u"#,##0.00 _$;[Red]-#,##0.00 _$", u"", u"", u"", u"", u"mm:ss", u"[h]:mm:ss", u"mm:ss,0",  // 40-47
    u"##0.0E+0", u"@",                                                                         // 48-49
};

// The date part of ids 14 and 22 in the order of the short date pattern;
// empty when the pattern names no year, month or day.
std::u16string LocaleDate(const TFormatSettings& settings) {
    const std::u16string sep(1, settings.DateSeparator);
    for (char16_t c : settings.ShortDateFormat) {
        switch (c) {
            case u'y': case u'Y': return u"YYYY" + sep + u"mm" + sep + u"dd";
            case u'm': case u'M': return u"mm" + sep + u"dd" + sep + u"YYYY";
            case u'd': case u'D': return u"dd" + sep + u"mm" + sep + u"YYYY";
            default: break;
        }
    }
    return {};
}

// Whether a BIFF8 string at pos lies wholly inside the data.
bool StringFits(bool twoByteLength, std::span<const std::uint8_t> data, std::size_t pos) {
    try {
        return GetStrLen(twoByteLength, data, pos) <= static_cast<std::int64_t>(data.size() - pos);
    } catch (const Exception&) {
        return false;
    }
}

std::vector<std::uint8_t> CheckedFont(std::vector<std::uint8_t> data) {
    if (data.size() < TFontRecord::MinSize || !StringFits(false, data, 14)) Raise(ErrWrongExcelRecord, xlr_FONT);
    return data;
}

std::vector<std::uint8_t> CheckedSize(std::vector<std::uint8_t> data, std::size_t min, std::uint16_t id) {
    if (data.size() < min) Raise(ErrWrongExcelRecord, id);
    return data;
}

struct TUnderlineCode {
    TKmrUnderline Underline;
    std::uint8_t Code;
};
constexpr TUnderlineCode UnderlineCodes[] = {{TKmrUnderline::fu_Single, 1},
                                             {TKmrUnderline::fu_Double, 2},
                                             {TKmrUnderline::fu_SingleAccounting, 0x21},
                                             {TKmrUnderline::fu_DoubleAccounting, 0x22}};

std::vector<std::uint8_t> FontData(const TKmrFont& font) {
    const TExcelString name(1, true, font.Name);
    std::vector<std::uint8_t> data(14);
    SetWord(data, 0, font.Size20);
    SetWord(data, 2, static_cast<std::uint16_t>((font.Style.Has(TKmrFontStyle::fs_Italic) ? 2 : 0) |
                                                (font.Style.Has(TKmrFontStyle::fs_StrikeOut) ? 8 : 0)));
    SetWord(data, 4, static_cast<std::uint16_t>(font.ColorIndex + 7));
    SetWord(data, 6, font.Style.Has(TKmrFontStyle::fs_Bold) ? 700 : 400);
    SetWord(data, 8, font.Style.Has(TKmrFontStyle::fs_Subscript) ? 2 : font.Style.Has(TKmrFontStyle::fs_Superscript) ? 1 : 0);
    for (const auto& u : UnderlineCodes)
        if (u.Underline == font.Underline) data[10] = u.Code;
    data[11] = font.Family;
    data[12] = font.CharSet;
    name.AppendTo(data, true);
    return data;
}

std::vector<std::uint8_t> FormatData(std::uint16_t formatId, std::u16string_view text) {
    const TExcelString str(2, false, text);
    std::vector<std::uint8_t> data(2);
    SetWord(data, 0, formatId);
    str.AppendTo(data, true);
    if (data.size() > TFormatRecord::MaxSize) Raise(ErrInvalidStringRecord);
    return data;
}

// Border colours: (colour + 7) and 127, clamped to the palette and the
// first system colour (8..64).
std::uint32_t BorderColor(std::int32_t color) { return std::clamp<std::uint32_t>((color + 7) & 127, 8, 64); }
std::uint32_t RecordColor(std::int32_t color) { return static_cast<std::uint32_t>(color + 7) & 127; }

std::vector<std::uint8_t> XFData(const TKmrFormat& f, int font, int format) {
    std::vector<std::uint8_t> data(TXFRecord::Size);
    const TKmrBorders& b = f.Borders;
    SetWord(data, 0, static_cast<std::uint16_t>(font));
    SetWord(data, 2, static_cast<std::uint16_t>(format));
    SetWord(data, 4, static_cast<std::uint16_t>((f.Locked ? 1 : 0) | (f.Hidden ? 2 : 0)));
    SetWord(data, 6, static_cast<std::uint16_t>(static_cast<int>(f.HAlignment) + (f.WrapText ? 8 : 0) +
                                                static_cast<int>(f.VAlignment) * 16 + f.Rotation * 256));
    // Bits 10-15: every attribute group is this XF's own.
    SetWord(data, 8, static_cast<std::uint16_t>((f.ShrinkToFit ? 16 : 0) + (f.Indent & 15) - 1024));
    SetWord(data, 10, static_cast<std::uint16_t>((static_cast<int>(b.Left.Style) & 15) |
                                                 (static_cast<int>(b.Right.Style) & 15) << 4 |
                                                 (static_cast<int>(b.Top.Style) & 15) << 8 |
                                                 (static_cast<int>(b.Bottom.Style) & 15) << 12));
    SetWord(data, 12, static_cast<std::uint16_t>(BorderColor(b.Left.ColorIndex) | BorderColor(b.Right.ColorIndex) << 7 |
                                                 (static_cast<std::uint32_t>(b.DiagonalStyle) & 3) << 14));
    SetLongWord(data, 14, BorderColor(b.Top.ColorIndex) | BorderColor(b.Bottom.ColorIndex) << 7 |
                              RecordColor(b.Diagonal.ColorIndex) << 14 |
                              (static_cast<std::uint32_t>(b.Diagonal.Style) & 15) << 21 |
                              (static_cast<std::uint32_t>(f.FillPattern.Pattern - 1) & 63) << 26);
    SetWord(data, 18, static_cast<std::uint16_t>(RecordColor(f.FillPattern.FgColorIndex) |
                                                 RecordColor(f.FillPattern.BgColorIndex) << 7));
    return data;
}

void Mark(std::vector<bool>& used, int color) {
    if (color >= 0 && static_cast<std::size_t>(color) < used.size()) used[static_cast<std::size_t>(color)] = true;
}

}  // namespace

std::u16string XlsBuiltInFormats(int id, const TFormatSettings& settings) {
    if (id < 0 || id >= BuiltInFormatCount) return {};
    if (id == 14 || id == 22) {
        std::u16string date = LocaleDate(settings);
        if (!date.empty()) return id == 14 ? date : date + u" hh" + settings.TimeSeparator + u"mm";
    }
    return BuiltIn[static_cast<std::size_t>(id)];
}

std::u16string XlsBuiltInFormats(int id) { return XlsBuiltInFormats(id, GetDefaultLocaleFormatSettings()); }

// ---------------------------------------------------------------------------
// FONT

TFontRecord::TFontRecord(std::uint16_t id, std::vector<std::uint8_t> data) : TRecordOf(id, CheckedFont(std::move(data))) {}

TFontRecord::TFontRecord(const TKmrFont& font) : TRecordOf(xlr_FONT, FontData(font)) {}

std::u16string TFontRecord::Name() const {
    std::u16string text;
    std::int64_t size = 0;
    GetSimpleString(false, Data, 14, false, 0, text, size);
    return text;
}

TKmrFontStyles TFontRecord::Style() const {
    TKmrFontStyles style;
    const std::uint16_t options = GetWord(Data, 2), escapement = GetWord(Data, 8);
    if (GetWord(Data, 6) == 700) style.Include(TKmrFontStyle::fs_Bold);
    if (options & 2) style.Include(TKmrFontStyle::fs_Italic);
    if (options & 8) style.Include(TKmrFontStyle::fs_StrikeOut);
    if (escapement == 1) style.Include(TKmrFontStyle::fs_Superscript);
    if (escapement == 2) style.Include(TKmrFontStyle::fs_Subscript);
    return style;
}

TKmrUnderline TFontRecord::Underline() const {
    for (const auto& u : UnderlineCodes)
        if (u.Code == Data[10]) return u.Underline;
    return TKmrUnderline::fu_None;
}

TKmrFont TFontRecord::KmrFont() const {
    return {Name(), Height(), ColorIndex() + 1, Style(), Underline(), Family(), Charset()};
}

int TFontRecordList::AddFont(const TKmrFont& font) {
    auto record = std::make_unique<TFontRecord>(font);
    std::size_t i = 0;
    while (i < Count() && GetItems(i)->Data != record->Data) ++i;
    if (i == Count()) Add(std::move(record));
    return static_cast<int>(i >= 4 ? i + 1 : i);
}

int TFontRecordList::ActualIndex(int xfFontIndex) const {
    if (Count() == 0) return -1;
    const int index = xfFontIndex >= 4 ? xfFontIndex - 1 : xfFontIndex;
    return index < 0 || static_cast<std::size_t>(index) >= Count() ? 0 : index;
}

TKmrFont TFontRecordList::FontOfXF(int xfFontIndex) const {
    const int index = ActualIndex(xfFontIndex);
    return index < 0 ? TKmrFont{} : GetItems(static_cast<std::size_t>(index))->KmrFont();
}

// ---------------------------------------------------------------------------
// FORMAT

TFormatRecord::TFormatRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedSize(std::move(data), MinSize, xlr_FORMAT)) {}

TFormatRecord::TFormatRecord(std::uint16_t formatId, std::u16string_view text)
    : TRecordOf(xlr_FORMAT, FormatData(formatId, text)) {}

namespace {

// The characters of a format text that the record and its continuations
// hold, at most its count: some writers count past them, and other
// readers take what is there. Each continuation starts with the option
// byte of its piece.
std::u16string HeldText(const TBaseRecord& format) {
    const std::uint16_t count = GetWord(format.Data, 2);
    std::uint8_t options = format.Data[4];
    std::size_t pos = 5 + ((options & 8) ? 2 : 0) + ((options & 4) ? 4 : 0);
    std::u16string text;
    for (const TBaseRecord* record = &format; record && text.size() < count; record = record->Continue.get(), pos = 1) {
        if (record != &format) {
            if (record->Data.empty()) break;
            options = record->Data[0];
        }
        const std::size_t width = (options & 1) ? 2 : 1;
        for (; pos + width <= record->Data.size() && text.size() < count; pos += width)
            text.push_back(width == 2 ? static_cast<char16_t>(GetWord(record->Data, pos)) : record->Data[pos]);
    }
    return text;
}

}  // namespace

std::u16string TFormatRecord::Text() const {
    const TBaseRecord* record = this;
    int pos = 2;
    try {
        return TExcelString(2, record, pos).GetValue();
    } catch (const Exception&) {
        return HeldText(*this);
    }
}

void TFormatRecordList::Sort() const {
    if (FSorted && FById.size() == Count()) return;
    FById.resize(Count());
    for (std::size_t i = 0; i < FById.size(); ++i) FById[i] = i;
    std::stable_sort(FById.begin(), FById.end(),
                     [this](std::size_t a, std::size_t b) { return GetItems(a)->FormatId() < GetItems(b)->FormatId(); });
    FSorted = true;
}

bool TFormatRecordList::Find(int formatId, std::size_t& index) const {
    Sort();
    const auto at = std::lower_bound(FById.begin(), FById.end(), formatId,
                                     [this](std::size_t i, int id) { return GetItems(i)->FormatId() < id; });
    if (at == FById.end() || GetItems(*at)->FormatId() != formatId) return false;
    index = *at;
    return true;
}

std::u16string TFormatRecordList::GetFormat(int formatId) const {
    std::size_t index = 0;
    if (Find(formatId, index)) return GetItems(index)->Text();
    return XlsBuiltInFormats(formatId);
}

int TFormatRecordList::AddFormat(std::u16string_view text) {
    int highest = FirstUserFormat - 1;
    for (std::size_t i = 0; i < Count(); ++i) {
        if (GetItems(i)->Text() == text) return GetItems(i)->FormatId();
        highest = std::max<int>(highest, GetItems(i)->FormatId());
    }
    const TFormatSettings& settings = GetDefaultLocaleFormatSettings();
    for (int id = 0; id < BuiltInFormatCount; ++id)
        if (XlsBuiltInFormats(id, settings) == text) return id;
    if (highest + 1 > 0xFFFF) Raise(ErrTooManyEntries, highest + 1, 0xFFFF);
    Add(std::make_unique<TFormatRecord>(static_cast<std::uint16_t>(highest + 1), text));
    return highest + 1;
}

// ---------------------------------------------------------------------------
// XF

TXFRecord::TXFRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedSize(std::move(data), Size, xlr_XF)) {}

namespace {

// The font and number format of a new XF. The font record is built first
// so that a name it refuses adds no number format either.
std::vector<std::uint8_t> NewXFData(const TKmrFormat& format, TFontRecordList& fonts, TFormatRecordList& formats) {
    TFontRecord checked(format.Font);
    const int formatId = formats.AddFormat(format.Format);
    return XFData(format, fonts.AddFont(format.Font), formatId);
}

}  // namespace

TXFRecord::TXFRecord(const TKmrFormat& format, TFontRecordList& fonts, TFormatRecordList& formats)
    : TRecordOf(xlr_XF, NewXFData(format, fonts, formats)) {}

TKmrBorderStyle TXFRecord::GetBorderStyle(TXlsBorderSide side) const {
    return static_cast<TKmrBorderStyle>(GetWord(Data, 10) >> (4 * static_cast<int>(side)) & 0xF);
}

int TXFRecord::GetBorderColorIndex(TXlsBorderSide side) const {
    const std::uint32_t colors = static_cast<std::uint32_t>(side) < 2 ? GetWord(Data, 12) : GetLongWord(Data, 14);
    const int color = static_cast<int>(colors >> (7 * (static_cast<int>(side) & 1)) & 0x7F) - 7;
    return std::max(color, 1);
}

int TXFRecord::DiagonalColorIndex() const { return std::max(static_cast<int>(GetLongWord(Data, 14) >> 14 & 0x7F) - 7, 1); }

TKmrFormat TXFRecord::KmrFormat(const TFontRecordList& fonts, const TFormatRecordList& formats) const {
    TKmrFormat f;
    f.Font = fonts.FontOfXF(FontIndex());
    TKmrOneBorder* sides[] = {&f.Borders.Left, &f.Borders.Right, &f.Borders.Top, &f.Borders.Bottom};
    for (int s = 0; s < 4; ++s)
        *sides[s] = {GetBorderStyle(static_cast<TXlsBorderSide>(s)), GetBorderColorIndex(static_cast<TXlsBorderSide>(s))};
    f.Borders.Diagonal = {DiagonalStyle(), DiagonalColorIndex()};
    f.Borders.DiagonalStyle = static_cast<TKmrDiagonalBorder>(GetWord(Data, 12) >> 14);
    f.Format = formats.GetFormat(FormatIndex());
    f.FillPattern = {CellPattern(), CellFgColorIndex(), CellBgColorIndex()};
    f.HAlignment = HAlign();
    f.VAlignment = VAlign();
    f.Locked = (Data[4] & 1) != 0;
    f.Hidden = (Data[4] & 2) != 0;
    f.Parent = GetWord(Data, 4) & 0xFFF0;
    f.WrapText = WrapText();
    f.ShrinkToFit = (Data[8] & 16) != 0;
    f.Rotation = Rotation();
    f.Indent = Data[8] & 15;
    return f;
}

void TXFRecord::FillUsedColors(std::vector<bool>& used, const TFontRecordList& fonts) const {
    for (int s = 0; s < 4; ++s)
        if (GetBorderStyle(static_cast<TXlsBorderSide>(s)) != TKmrBorderStyle::fbs_None)
            Mark(used, GetBorderColorIndex(static_cast<TXlsBorderSide>(s)));
    if (DiagonalStyle() != TKmrBorderStyle::fbs_None) Mark(used, DiagonalColorIndex());
    if (CellPattern() != 1) Mark(used, CellFgColorIndex());
    if (CellPattern() > 2) Mark(used, CellBgColorIndex());
    const int font = GetActualFontIndex(fonts);
    if (font >= 0) Mark(used, GetWord(fonts.GetItems(static_cast<std::size_t>(font))->Data, 4) - 7);
}

bool TXFRecordList::FindFormat(const TXFRecord& xf, int& index) const {
    for (std::size_t i = 0; i < Count(); ++i)
        if (GetItems(i)->Data == xf.Data) {
            index = static_cast<int>(i);
            return true;
        }
    index = -1;
    return false;
}

std::vector<bool> TXFRecordList::GetUsedColors(int count, const TFontRecordList& fonts) const {
    std::vector<bool> used(static_cast<std::size_t>(std::max(count, 0)), false);
    for (std::size_t i = 0; i < Count(); ++i) GetItems(i)->FillUsedColors(used, fonts);
    return used;
}

int TXFRecordList::AddFormat(const TKmrFormat& format, TFontRecordList& fonts, TFormatRecordList& formats) {
    auto xf = std::make_unique<TXFRecord>(format, fonts, formats);
    int index = -1;
    if (FindFormat(*xf, index)) return index;
    Add(std::move(xf));
    return static_cast<int>(Count() - 1);
}

void TXFRecordList::SetFormat(int index, const TKmrFormat& format, TFontRecordList& fonts, TFormatRecordList& formats) {
    if (index < 0 || static_cast<std::size_t>(index) >= Count())
        Raise(ErrXlsIndexOutBounds, index, "Format index", 0, static_cast<int>(Count()) - 1);
    auto xf = std::make_unique<TXFRecord>(format, fonts, formats);
    if (GetItems(static_cast<std::size_t>(index))->IsStyle()) SetWord(xf->Data, 4, GetWord(xf->Data, 4) | 0xFFF4);
    SetItems(static_cast<std::size_t>(index), std::move(xf));
}

}  // namespace kalmira
