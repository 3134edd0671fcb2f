#include "workbook/api/UTextDelim.h"

#include <algorithm>
#include <vector>

#include "workbook/api/UKmrNumberFormat.h"
#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr std::size_t MaxCellText = 32767;
constexpr int MaxRows = 65536, MaxCols = 256;

// Bytes 0x80 to 0xFF of code page 1250; 0 where the code page has none.
constexpr char16_t Cp1250High[128] = {
    0x20AC, 0,      0x201A, 0,      0x201E, 0x2026, 0x2020, 0x2021, 0,      0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0,      0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

std::string Hex(unsigned value, int digits) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<std::size_t>(i)] = Digits[value & 15];
    return text;
}

// The syntax bytes must stay what they are in every encoding.
void CheckDelimiter(char delimiter) {
    const auto byte = static_cast<std::uint8_t>(delimiter);
    if (byte == '\r' || byte == '\n' || byte == '"' || byte > 0x7F) Raise(ErrInvalidDelimiter, Hex(byte, 2));
}

// A text starting with U+FEFF is quoted too, so that a reader never takes
// it for a byte-order mark.
bool NeedsQuotes(std::u16string_view text, char16_t delimiter) {
    return text.starts_with(u'\uFEFF') || std::any_of(text.begin(), text.end(),
                       [&](char16_t c) { return c == delimiter || c == u'"' || c == u'\r' || c == u'\n'; });
}

// Visits every cell of the range, row by row, with its shown text (quoted
// as the file needs it) and what follows it: the delimiter or CR LF.
template <class Sink>
void ForEachField(TExcelFile& workbook, char delimiter, const TXlsCellRange& range, Sink sink) {
    CheckDelimiter(delimiter);
    int dates1904 = -1;  // asked at the first value
    std::vector<std::u16string> formats;  // by XF, read once each
    std::vector<bool> known;
    std::u16string quoted;
    for (std::int32_t row = range.Top; row <= range.Bottom; ++row)
        for (std::int32_t col = range.Left; col <= range.Right; ++col) {
            const TVariant value = workbook.GetCellValue(row, col);
            std::u16string text;
            if (!value.IsEmpty()) {
                const std::int32_t xf = workbook.GetCellFormat(row, col);
                if (xf >= 0 && static_cast<std::size_t>(xf) >= known.size()) {
                    known.resize(static_cast<std::size_t>(xf) + 1);
                    formats.resize(known.size());
                }
                if (xf >= 0 && !known[static_cast<std::size_t>(xf)]) {
                    formats[static_cast<std::size_t>(xf)] = workbook.GetFormatList(xf).Format;
                    known[static_cast<std::size_t>(xf)] = true;
                }
                if (dates1904 < 0) dates1904 = workbook.GetOptions1904Dates();
                std::uint32_t colour = 0;
                text = XlsFormatValue1904(value, xf >= 0 ? formats[static_cast<std::size_t>(xf)] : u"", dates1904 > 0,
                                          colour);
            }
            const char16_t delim = static_cast<unsigned char>(delimiter);
            if (NeedsQuotes(text, delim)) {
                quoted.assign(1, u'"');
                for (char16_t c : text) {
                    if (c == u'"') quoted += u'"';
                    quoted += c;
                }
                quoted += u'"';
                text.swap(quoted);
            }
            sink(row, col, text, col == range.Right ? std::u16string_view(u"\r\n") : std::u16string_view(&delim, 1));
        }
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The text in the encoding; a character it cannot hold (a lone surrogate
// in UTF-8) is refused naming the cell.
void Encode(std::string& out, std::u16string_view text, TTextEncoding encoding, std::int32_t row, std::int32_t col) {
    auto refuse = [&](char16_t c) {
        const std::string cell = Utf16ToUtf8(EncodeColumn(col)) + std::to_string(row);
        Raise(ErrCellNotEncodable, cell, Hex(c, 4), encoding == TTextEncoding::Utf8 ? "UTF-8" : "code page 1250");
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (encoding == TTextEncoding::Cp1250) {
            std::uint8_t byte = 0;
            if (!UnicodeToCp1250(c, byte)) refuse(c);
            out += static_cast<char>(byte);
        } else if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            refuse(c);
        } else {
            AppendUtf8(out, c);
        }
    }
}

// One field read from the text: where it goes, its bytes (quotes undone)
// and the line it starts on.
struct TField {
    std::int32_t Row, Col;
    std::size_t Start, Length;  // in TTextFields::Bytes
    int Line;
};

struct TTextFields {
    std::string Bytes;
    std::vector<TField> Fields;
};

// Splits the bytes into fields; the syntax bytes are ASCII, so this works
// on the raw bytes of either encoding.
TTextFields SplitFields(std::string_view data, char delimiter, std::int32_t firstRow, std::int32_t firstCol) {
    TTextFields result;
    result.Bytes.reserve(data.size());
    std::int32_t row = firstRow, col = firstCol;
    int line = 1;
    std::size_t i = 0;
    const std::size_t n = data.size();
    auto add = [&](std::size_t start, int startLine) {
        result.Fields.push_back({row, col, start, result.Bytes.size() - start, startLine});
    };
    while (i < n) {
        const char b = data[i];
        if (b == '"') {
            const int startLine = line;
            const std::size_t start = result.Bytes.size();
            for (++i;; ++i) {
                if (i >= n) Raise(ErrUnterminatedQuote, startLine);
                if (data[i] == '"') {
                    if (i + 1 < n && data[i + 1] == '"') ++i;
                    else break;
                }
                if (data[i] == '\n') ++line;
                result.Bytes += data[i];
            }
            ++i;
            add(start, startLine);
        } else if (b == delimiter) {
            ++col;
            ++i;
        } else if (b == '\n') {
            ++row;
            col = firstCol;
            ++line;
            ++i;
        } else if (b == '\r') {
            ++i;
        } else {
            const std::size_t start = result.Bytes.size();
            for (; i < n && data[i] != delimiter && data[i] != '\r' && data[i] != '\n'; ++i) result.Bytes += data[i];
            add(start, line);
        }
    }
    return result;
}

// The length of a valid UTF-8 sequence starting at text[0], or 0.
std::size_t Utf8Sequence(std::string_view text, char32_t& c) {
    const auto b = static_cast<std::uint8_t>(text[0]);
    if (b < 0x80) {
        c = b;
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) length = 2;
    else if (b >= 0xE0 && b <= 0xEF) length = 3, low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
    else if (b >= 0xF0 && b <= 0xF4) length = 4, low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || text.size() < length) return 0;
    c = b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto cb = static_cast<std::uint8_t>(text[k]);
        if (cb < (k == 1 ? low : 0x80) || cb > (k == 1 ? high : 0xBF)) return 0;
        c = (c << 6) | (cb & 0x3F);
    }
    return length;
}

std::u16string DecodeField(std::string_view bytes, TTextEncoding encoding, int line) {
    std::u16string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        char32_t c = b;
        std::size_t length = 1;
        if (encoding == TTextEncoding::Cp1250) {
            if (b >= 0x80 && !(c = Cp1250High[b - 0x80])) Raise(ErrNotCp1250Byte, Hex(b, 2), line);
        } else if (!(length = Utf8Sequence(bytes.substr(i), c))) {
            Raise(ErrInvalidUtf8Byte, Hex(b, 2), line);
        }
        if (c >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(c);
        }
        if (b == '\n') ++line;
        i += length;
    }
    return text;
}

struct TCellText {
    std::int32_t Row, Col;
    XLSColumnImportTypes Type;
    std::u16string Text;
};

void StoreFields(const std::string_view data, TExcelFile& workbook, char delimiter, std::int32_t firstRow,
                 std::int32_t firstCol, std::span<const XLSColumnImportTypes> columnTypes, TTextEncoding encoding) {
    CheckDelimiter(delimiter);
    const TTextFields fields = SplitFields(data, delimiter, firstRow, firstCol);
    std::vector<TCellText> cells;
    cells.reserve(fields.Fields.size());
    for (const TField& field : fields.Fields) {
        const std::int64_t index = static_cast<std::int64_t>(field.Col) - firstCol;
        const XLSColumnImportTypes type = index >= 0 && index < static_cast<std::int64_t>(columnTypes.size())
                                              ? columnTypes[static_cast<std::size_t>(index)]
                                              : XLSColumnImportTypes::xct_general;
        if (type == XLSColumnImportTypes::xct_skip) continue;
        if (field.Row < 1 || field.Row > MaxRows) Raise(ErrInvalidRow, field.Row);
        if (field.Col < 1 || field.Col > MaxCols) Raise(ErrInvalidCol, field.Col);
        std::u16string text =
            DecodeField(std::string_view(fields.Bytes).substr(field.Start, field.Length), encoding, field.Line);
        if (text.size() > MaxCellText) Raise(ErrTextLineTooLong, field.Line);
        cells.push_back({field.Row, field.Col, type, std::move(text)});
    }
    for (const TCellText& cell : cells) {
        if (cell.Text.empty()) workbook.SetCellValue(cell.Row, cell.Col, TVariant());
        else if (cell.Type == XLSColumnImportTypes::xct_text) workbook.SetCellValue(cell.Row, cell.Col, cell.Text);
        else workbook.SetCellString(cell.Row, cell.Col, cell.Text, u"", u"");
    }
}

}  // namespace

char16_t Cp1250ToUnicode(std::uint8_t byte) { return byte < 0x80 ? byte : Cp1250High[byte - 0x80]; }

bool UnicodeToCp1250(char16_t c, std::uint8_t& byte) {
    if (c < 0x80) {
        byte = static_cast<std::uint8_t>(c);
        return true;
    }
    const auto* found = std::find(std::begin(Cp1250High), std::end(Cp1250High), c);
    if (c == 0 || found == std::end(Cp1250High)) return false;
    byte = static_cast<std::uint8_t>(0x80 + (found - std::begin(Cp1250High)));
    return true;
}

void SaveRangeAsTextDelim(TKmrStream& stream, TExcelFile& workbook, char delimiter, const TXlsCellRange& range,
                          TTextEncoding encoding) {
    std::string out;
    ForEachField(workbook, delimiter, range,
                 [&](std::int32_t row, std::int32_t col, std::u16string_view text, std::u16string_view after) {
                     Encode(out, text, encoding, row, col);
                     for (char16_t c : after) out += static_cast<char>(c);
                 });
    if (!out.empty()) stream.Write(out.data(), out.size());
}

void SaveAsTextDelim(TKmrStream& stream, TExcelFile& workbook, char delimiter, TTextEncoding encoding) {
    SaveRangeAsTextDelim(stream, workbook, delimiter, {1, 1, workbook.MaxCol(), workbook.MaxRow()}, encoding);
}

std::u16string RangeAsTextDelim(TExcelFile& workbook, char delimiter, const TXlsCellRange& range) {
    std::u16string out;
    ForEachField(workbook, delimiter, range,
                 [&](std::int32_t, std::int32_t, std::u16string_view text, std::u16string_view after) {
                     out.append(text).append(after);
                 });
    return out;
}

void LoadFromTextDelim(TKmrStream& stream, TExcelFile& workbook, char delimiter, std::int32_t firstRow,
                       std::int32_t firstCol, std::span<const XLSColumnImportTypes> columnTypes,
                       TTextEncoding encoding) {
    std::string data;
    const std::int64_t left = std::max<std::int64_t>(stream.Size() - stream.Position(), 0);
    data.resize(static_cast<std::size_t>(left));
    data.resize(stream.Read(data.data(), data.size()));
    std::string_view text = data;
    if (encoding == TTextEncoding::Utf8 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    StoreFields(text, workbook, delimiter, firstRow, firstCol, columnTypes, encoding);
}

void LoadFromTextDelim(std::u16string_view text, TExcelFile& workbook, char delimiter, std::int32_t firstRow,
                       std::int32_t firstCol, std::span<const XLSColumnImportTypes> columnTypes) {
    // Lone surrogates become U+FFFD on the way; everything else is kept.
    StoreFields(Utf16ToUtf8(text), workbook, delimiter, firstRow, firstCol, columnTypes, TTextEncoding::Utf8);
}

}  // namespace kalmira
