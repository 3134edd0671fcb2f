#include "gateway/Busmeter.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "gateway/Linkif.h"

namespace {

// --- Units ----------------------------------------------------------------

constexpr const char* vifUnits[24] = {"?",    "Wh",   "J",    "m3",     "kg",     "sec",  "min",  "hours",
                                      "days", "W",    "W",    "J/h",    "m3/h",   "m3/min", "m3/s", "kg/h",
                                      "°C",   "K",    "bar",  "Fabrication no.", "ext A", "ext B", "Volts", "A"};

// VIF first..last: a unit of vifUnits (or a text of its own) and the
// exponent (VIF & mask) + offset.
struct vifRow {
    std::uint8_t first, last;
    int unit;
    const char* text;
    std::uint8_t mask;
    int offset;
};

constexpr vifRow vifTable[] = {
    {0x00, 0x07, 1, nullptr, 7, -3},  {0x08, 0x0F, 2, nullptr, 7, 0},   {0x10, 0x17, 3, nullptr, 7, -6},
    {0x18, 0x1F, 4, nullptr, 7, -3},  {0x20, 0x20, 5, nullptr, 0, 0},   {0x21, 0x21, 6, nullptr, 0, 0},
    {0x22, 0x22, 7, nullptr, 0, 0},   {0x23, 0x23, 8, nullptr, 0, 0},   {0x24, 0x27, 0, "Operating time", 0, 0},
    {0x28, 0x2F, 10, nullptr, 7, -3}, {0x30, 0x37, 11, nullptr, 7, 0},  {0x38, 0x3F, 12, nullptr, 7, -6},
    {0x40, 0x47, 13, nullptr, 7, -7}, {0x48, 0x4F, 14, nullptr, 7, -9}, {0x50, 0x57, 15, nullptr, 7, -3},
    {0x58, 0x5F, 16, nullptr, 3, -3}, {0x64, 0x67, 16, nullptr, 3, -3}, {0x60, 0x63, 17, nullptr, 3, -3},
    {0x68, 0x6B, 18, nullptr, 3, -3}, {0x6C, 0x6F, 0, "Reserverd", 0, 0}, {0x78, 0x78, 19, nullptr, 0, 0},
    {0x7B, 0x7B, 21, nullptr, 0, 0},  {0x7F, 0x7F, 0, "Manufacturer specific", 0, 0},
};

constexpr std::uint8_t vifExtension = 0x7D;
constexpr std::uint8_t vifPlainText = 0x7C;

// VIF 0x7D, VIFE & 0x7F from 8 on.
constexpr const char* vifeTexts[] = {"Access number", "Medium", "Manufacturer", "Parameter set identification",
                                     "Model/Version", "Hardware version", "Firmware version", "Software version",
                                     "Customer location", "Customer", "Access code user", "Access code operator",
                                     "Access code system operator", "Access code developer", "Password",
                                     "Error flags", "Error mask"};
constexpr int firstVifeText = 8;

// Fixed structure unit codes 2-55: three exponents (0, 1, 2) of each.
constexpr const char* fixedUnitGroups[18] = {"Wh", "kWh", "MWh",  "kJ",  "MJ",   "GJ",  "W",    "kW",  "MW",
                                             "kJ/h", "MJ/h", "GJ/h", "ml", "l", "m3", "ml/h", "l/h", "m3/h"};

struct fixedRow {
    int code;
    const char* text;
    int exponent;
};
constexpr fixedRow fixedOthers[] = {{0, "h,m,s", 0},   {1, "D,M,Y", 0},        {56, "°C", -3},
                                    {57, "units for HCA", 0}, {58, "reserved", 0}, {59, "reserved", 0},
                                    {60, "reserved", 0}, {61, "reserved", 0},   {62, "historic", 0},
                                    {63, " ", 0}};

// An exact power of ten: 10^3 is one rounding, 0.1 three times are three.
double scaled(double value, int exponent) {
    double power = 1;
    for (int i = 0; i < std::abs(exponent); ++i) power *= 10;
    return exponent < 0 ? value / power : value * power;
}

void copyText(char* to, std::size_t room, const char* text, std::size_t n) {
    n = std::min(n, room - 1);
    std::memcpy(to, text, n);
    to[n] = 0;
}

// --- Requests -------------------------------------------------------------

constexpr std::uint8_t mbusSndNke = 0x40;
constexpr std::uint8_t mbusReqUd2Odd = 0x7B;  // frame count bit set
constexpr std::uint8_t mbusReqUd2Even = 0x5B;
constexpr std::uint8_t mbusSndUd = 0x73;
constexpr std::uint8_t mbusCiSelect = 0x52;
constexpr std::uint8_t ACK = 6;

bool isSecondaryAddress(const std::string& id) {
    return id.size() == 8 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

int copyRequest(const std::string& text, std::uint8_t* buffer, int room) {
    if (static_cast<int>(text.size()) > room) return 0;
    std::memcpy(buffer, text.data(), text.size());
    return static_cast<int>(text.size());
}

// 68 0B 0B 68 73 FD 52 I1..I4 FF FF FF FF CS 16: the meter whose secondary
// address is I (any manufacturer, version and medium) is selected.
int selectionRequest(BusObject& bus, std::uint8_t* buffer, int room) {
    if (!isSecondaryAddress(bus.identification) || room < 17) return 0;
    std::uint8_t frame[17] = {0x68, 0x0B, 0x0B, 0x68, mbusSndUd, mbusSelectBySecondary, mbusCiSelect};
    for (int i = 0; i < 4; ++i) frame[7 + i] = hexPairToByte(bus.identification.c_str() + 6 - 2 * i);
    std::fill(frame + 11, frame + 15, 0xFF);
    std::uint8_t sum = 0;
    for (int i = 4; i < 15; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
    frame[15] = sum;
    frame[16] = 0x16;
    std::memcpy(buffer, frame, sizeof frame);
    bus.valueIndex = 0;
    return 17;
}

int shortFrameRequest(BusObject& bus, std::uint8_t* buffer, int room) {
    if (room < 5) return 0;
    std::uint8_t control = bus.step % 2 ? mbusReqUd2Odd : mbusReqUd2Even;
    if (bus.step == 0 || bus.selected) {
        control = mbusSndNke;
        bus.valueIndex = 0;
    }
    const std::uint8_t frame[5] = {0x10, control, bus.primaryAddress,
                                   static_cast<std::uint8_t>(control + bus.primaryAddress), 0x16};
    std::memcpy(buffer, frame, sizeof frame);
    return 5;
}

// --- Replies --------------------------------------------------------------

constexpr std::uint8_t mbusAck = 0xE5;
constexpr std::uint8_t mbusShortStart = 0x10;
constexpr std::uint8_t mbusLongStart = 0x68;
// Variable and fixed data structures, each under two CI fields.
constexpr std::uint8_t ciVariable[] = {0x72, 0x76};
constexpr std::uint8_t ciFixed[] = {0x73, 0x77};
constexpr int variableHeaderEnd = 19;
constexpr int variableMinLength = variableHeaderEnd + 2;  // header, check sum, stop
constexpr int fixedMinLength = 25;
constexpr int maxStep = 10;
constexpr int maxExtensions = 10;
constexpr std::uint8_t difMoreData = 0x1F;
constexpr std::uint8_t difFiller = 0x2F;
constexpr std::uint8_t lvarLimit = 0xC0;

std::string fixedValue(double v) { return fixedText(v, 6); }

// A failed reply is tried again once; the second ends the exchange.
void failedReply(BusObject& bus, busDecoded& out) {
    if (bus.retries < 1) {
        ++bus.retries;
        return;
    }
    bus.step = 0;
    out.ended = true;
    out.timedOut = true;
}

// The telegram's data bytes [pos, end): the check sum byte is never read.
struct dataReader {
    const std::uint8_t* bytes;
    int pos;
    int end;
    bool has(int n) const { return n <= end - pos; }
    std::uint8_t next() { return bytes[pos++]; }
};

// DIF data field codings by the low nibble.
enum class coding { none, binary, real, bcd, variable, end };
struct dataField {
    coding kind;
    int size;
};
constexpr dataField dataFields[16] = {
    {coding::none, 0}, {coding::binary, 1}, {coding::binary, 2}, {coding::binary, 3},
    {coding::binary, 4}, {coding::real, 4},  {coding::binary, 6}, {coding::binary, 8},
    {coding::none, 0}, {coding::bcd, 1},    {coding::bcd, 2},    {coding::bcd, 3},
    {coding::bcd, 4},  {coding::variable, 0}, {coding::bcd, 6},  {coding::end, 0},
};

struct dataRecord {
    std::uint8_t dif = 0, dife = 0, vif = 0, vife = 0;
    std::string unit;
    int exponent = 0;
    double value = 0;
    bool valid = true;
};

enum class recordEnd { none, last, moreData, cut };

// Extension bytes up to the first without bit 7, at most maxExtensions;
// the first is noted. False when they run past the data.
bool passExtensions(dataReader& r, std::uint8_t& first) {
    for (int n = 0; n < maxExtensions; ++n) {
        if (!r.has(1)) return false;
        const std::uint8_t e = r.next();
        if (n == 0) first = e;
        if (!(e & 0x80)) break;
    }
    return true;
}

bool readValue(dataReader& r, const dataField& field, dataRecord& rec) {
    switch (field.kind) {
    case coding::none:
    case coding::end:
        return true;
    case coding::variable: {
        if (!r.has(1)) return false;
        const std::uint8_t n = r.next();
        if (n >= lvarLimit || !r.has(n)) return false;
        r.pos += n;
        return true;
    }
    default:
        break;
    }
    if (!r.has(field.size)) return false;
    const std::uint8_t* at = r.bytes + r.pos;
    r.pos += field.size;
    if (field.kind == coding::real) {
        std::uint32_t bits = 0;
        for (int i = 3; i >= 0; --i) bits = bits << 8 | at[i];
        const float f = std::bit_cast<float>(bits);
        rec.valid = std::isfinite(f);
        rec.value = rec.valid ? scaled(f, rec.exponent) : 0;
        return true;
    }
    rec.valid = bytesToValue(at, field.size, rec.exponent, field.kind == coding::binary, rec.value) >= 0;
    return true;
}

recordEnd readRecord(dataReader& r, dataRecord& rec) {
    std::uint8_t dif = r.next();
    if (dif == difFiller) {
        if (!r.has(1)) return recordEnd::cut;
        dif = r.next();
    }
    rec.dif = dif;
    if ((dif & 0x0F) == 0x0F) return dif == difMoreData ? recordEnd::moreData : recordEnd::last;
    if (dif & 0x80) {
        if (!passExtensions(r, rec.dife)) return recordEnd::cut;
        rec.dife &= 0x7F;
    }
    if (!r.has(1)) return recordEnd::cut;
    std::uint8_t vif = r.next();
    if (vif & 0x80) {
        vif &= 0x7F;
        if (!passExtensions(r, rec.vife)) return recordEnd::cut;
    }
    rec.vif = vif;
    if (vif == vifPlainText) {
        if (!r.has(1)) return recordEnd::cut;
        const int n = r.next();
        if (!r.has(n)) return recordEnd::cut;
        rec.unit.assign(reinterpret_cast<const char*>(r.bytes + r.pos), static_cast<std::size_t>(std::min(n, 19)));
        r.pos += n;
    } else {
        rec.unit = vifToUnit(vif, rec.vife, rec.exponent);
    }
    return readValue(r, dataFields[dif & 0x0F], rec) ? recordEnd::none : recordEnd::cut;
}

ReadingRecord mbusReading(const BusObject& bus, int address, const dataRecord& rec) {
    ReadingRecord reading;
    reading.value = rec.value;
    reading.type = -address;
    reading.dif = rec.dif;
    reading.vif = rec.vif;
    reading.vife = rec.vife;
    reading.index = bus.valueIndex;
    copyText(reading.text, sizeof reading.text, rec.unit.c_str(), rec.unit.size());
    return reading;
}

void addReading(busDecoded& out, const ReadingRecord& reading) {
    if (static_cast<int>(out.readings.size()) < readingsPerBlock) out.readings.push_back(reading);
}

std::string manufacturer(std::uint16_t word) {
    std::string m;
    for (int shift : {10, 5, 0}) m.push_back(static_cast<char>(((word >> shift) & 31) + 64));
    return m;
}

// Bytes 7-18: identification (BCD), manufacturer, version, medium, access
// number, status, signature; the records start at byte 19.
void variableStructure(BusObject& bus, const std::uint8_t* b, int length, busDecoded& out) {
    const int address = b[5];
    long long id = 0;
    for (int i = 3; i >= 0; --i) id = id * 100 + bcdByteToNumber(b[7 + i]);
    const std::string maker = manufacturer(static_cast<std::uint16_t>(b[11] | b[12] << 8));
    out.log.push_back({2, linkFormat("-- Vyrobce : %s, device ID %lld, version %u, medium %u, access number %u, "
                                     "status %u",
                                     maker.c_str(), id, b[13], b[14], b[15], b[16])});
    dataReader r{b, variableHeaderEnd, length - 2};
    recordEnd end = recordEnd::none;
    while (end == recordEnd::none && r.has(1)) {
        dataRecord rec;
        end = readRecord(r, rec);
        if (end != recordEnd::none) break;
        out.log.push_back({3, linkFormat("Odecet M-Bus adr %u, index %d, hodnota %s %s ,DIF %02x, DIFE %02x, VIF "
                                         "%02x, VIFE %02x, exp %d",
                                         address, bus.valueIndex, fixedValue(rec.value).c_str(), rec.unit.c_str(),
                                         rec.dif, rec.dife, rec.vif, rec.vife, rec.exponent)});
        if (rec.valid) addReading(out, mbusReading(bus, address, rec));
        ++bus.valueIndex;
    }
    if (end != recordEnd::moreData) {
        bus.selected = true;
        bus.step = 1;
        out.ended = false;
        return;
    }
    out.log.push_back({2, "-- More data , read next : " + maker});
    if (bus.savedStep + 1 > maxStep) return;  // ended, step 0
    bus.step = bus.savedStep + 1;
    out.ended = false;
}

// Byte 12 status, 13-14 medium and unit codes, 15-18 and 19-22 the counters.
void fixedStructure(BusObject& bus, const std::uint8_t* b, busDecoded& out) {
    const int address = b[5];
    const std::uint8_t status = b[12];
    const int word = b[13] | b[14] << 8;
    const int medium = ((word >> 14) & 3) << 2 | ((word >> 6) & 3);
    const bool binary = status != 0;  // BCD only with a clear status
    const int codes[2] = {(word >> 8) & 0x3F, word & 0x3F};
    for (int i = 0; i < 2; ++i) {
        dataRecord rec;
        rec.dif = status;
        rec.vif = static_cast<std::uint8_t>(medium);
        rec.unit = fixedStructureUnit(codes[i], rec.exponent);
        rec.valid = bytesToValue(b + 15 + 4 * i, 4, 0, binary, rec.value) >= 0;
        out.log.push_back({3, linkFormat("Odecet M-Bus adr %u, index %d, hodnota %s %s ,DIF %02x, VIF %02x, VIFE "
                                         "%02x, exp %d",
                                         address, i, fixedValue(rec.value).c_str(), rec.unit.c_str(), rec.dif,
                                         rec.vif, 0, rec.exponent)});
        bus.valueIndex = i;
        if (rec.valid) addReading(out, mbusReading(bus, address, rec));
    }
    bus.valueIndex = 2;
}

void longFrame(BusObject& bus, const std::uint8_t* b, int length, busDecoded& out) {
    bus.savedStep = bus.step;
    bus.step = 0;
    out.ended = true;
    bus.value = 0;
    copyText(bus.unit, sizeof bus.unit, "?", 1);
    // Control, address and CI must lie before the check sum.
    if (length < 9 || (b[4] & 0x48) != 0x08) return;
    const auto is = [ci = b[6]](const auto& fields) {
        return std::find(std::begin(fields), std::end(fields), ci) != std::end(fields);
    };
    if (is(ciVariable) && length >= variableMinLength) variableStructure(bus, b, length, out);
    if (is(ciFixed) && length >= fixedMinLength) fixedStructure(bus, b, out);
}

bool printable(char c) { return static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127; }

}  // namespace

const char* vifToUnit(int vif, int vife, int& exponent) {
    exponent = 0;
    if (vif == vifExtension) {
        if ((vife & 0x70) == 0x40) {
            exponent = (vife & 15) - 9;
            return vifUnits[22];
        }
        if ((vife & 0x70) == 0x50) {
            exponent = (vife & 15) - 12;
            return vifUnits[23];
        }
        const int e = vife & 0x7F;
        if (e >= firstVifeText && e < firstVifeText + static_cast<int>(std::size(vifeTexts)))
            return vifeTexts[e - firstVifeText];
        return vifUnits[20];
    }
    for (const vifRow& row : vifTable) {
        if (vif < row.first || vif > row.last) continue;
        exponent = (vif & row.mask) + row.offset;
        return row.text ? row.text : vifUnits[row.unit];
    }
    return vifUnits[0];
}

const char* fixedStructureUnit(int code, int& exponent) {
    exponent = 0;
    if (code >= 2 && code <= 55) {
        exponent = (code - 2) % 3;
        return fixedUnitGroups[(code - 2) / 3];
    }
    for (const fixedRow& row : fixedOthers)
        if (row.code == code) {
            exponent = row.exponent;
            return row.text;
        }
    return "?";
}

int bytesToValue(const std::uint8_t* bytes, int count, int exponent, bool binary, double& value) {
    value = 0;
    if (count < 0 || count > 8) return -1;
    std::uint64_t n = 0;
    for (int i = count - 1; i >= 0; --i) {
        const std::uint8_t b = bytes[i];
        if (binary) {
            n = n << 8 | b;
            continue;
        }
        if ((b >> 4) > 9 || (b & 15) > 9) return -1;
        n = n * 100 + static_cast<std::uint64_t>(bcdByteToNumber(b));
    }
    value = scaled(static_cast<double>(n), exponent);
    return count;
}

std::uint8_t hexPairToByte(const char* pair) {
    const auto digit = [](char c) {
        int v = c & 0x7F;
        if (v > 64) v += 9;
        return v & 15;
    };
    return static_cast<std::uint8_t>(digit(pair[0]) << 4 | digit(pair[1]));
}

int bcdByteToNumber(std::uint8_t b) { return (b >> 4) * 10 + (b & 15); }

int buildBusRequest(BusObject& bus, std::uint8_t* buffer, int room) {
    if (bus.mode != busModeMBus) {
        if (bus.step != 0) return copyRequest(std::string{static_cast<char>(ACK)} + "000\r\n", buffer, room);
        return copyRequest("/?" + bus.identification + "!\r\n", buffer, room);
    }
    if (bus.step == 0) {
        bus.selected = false;
        if (bus.primaryAddress == mbusSelectBySecondary) return selectionRequest(bus, buffer, room);
    }
    return shortFrameRequest(bus, buffer, room);
}

busDecoded decodeMBusReply(BusObject& bus, int result, int length, const std::uint8_t* b) {
    busDecoded out;
    if (result < 0 || !b) length = -1;
    if (length == 1 && b[0] == mbusAck) {
        bus.step = 1;
        if (bus.selected) {
            out.ended = true;
            bus.selected = false;
            bus.step = 0;
        }
    } else if (length == 5 && b[0] == mbusShortStart) {
        bus.step = 0;
        out.ended = true;
    } else if (length >= 6 && b[0] == mbusLongStart) {
        longFrame(bus, b, length, out);
    } else {
        // A time-out, a framing error, or a reply no step names.
        failedReply(bus, out);
    }
    return out;
}

busDecoded decodeOpticalReply(BusObject& bus, int result, int length, const std::uint8_t* b) {
    busDecoded out;
    out.log.push_back({2, linkFormat("recv opto data, len %d", length)});
    if (result < 0 || length < 1 || !b) {
        failedReply(bus, out);
        return out;
    }
    if (bus.step == 0) {
        bus.step = 1;  // the identification line: acknowledge it next
        return out;
    }
    bus.step = 0;
    out.ended = true;
    const char* text = reinterpret_cast<const char*>(b);
    for (int pos = 1, line = 0; pos < length && text[pos] != '!'; ++line) {
        const int n = parseOpticalLine(bus, text + pos, length - pos);
        if (n <= 0) break;
        pos += n;
        if (!std::isfinite(bus.value)) continue;
        ReadingRecord reading;
        reading.value = bus.value;
        reading.type = readingOptical;
        reading.index = line;
        copyText(reading.text, sizeof reading.text, bus.valueAddress, std::strlen(bus.valueAddress));
        addReading(out, reading);
    }
    return out;
}

int parseOpticalLine(BusObject& bus, const char* text, int room) {
    bus.value = 0;
    bus.valueAddress[0] = 0;
    bus.unit[0] = 0;
    enum { address, value, unit, closed } part = address;
    std::size_t addressLength = 0, unitLength = 0;
    int pos = 0;
    for (; pos < room && printable(text[pos]); ++pos) {
        const char c = text[pos];
        if (part == address) {
            if (c == '(') {
                part = value;
                const char* start = text + pos + 1;
                const char* limit = text + room;
                const char* digits = start < limit && (*start == '+' || *start == '-') ? start + 1 : start;
                // Only a number as written: from_chars alone takes "inf" and "nan".
                if (digits < limit && ((*digits >= '0' && *digits <= '9') || *digits == '.')) {
                    double v = 0;
                    const auto r = std::from_chars(digits, limit, v, std::chars_format::general);
                    if (r.ec == std::errc() || r.ec == std::errc::result_out_of_range) {
                        bus.value = r.ec == std::errc() ? (*start == '-' ? -v : v)
                                                        : std::numeric_limits<double>::quiet_NaN();
                        pos = static_cast<int>(r.ptr - text) - 1;
                    }
                }
            } else if (addressLength < sizeof bus.valueAddress - 1) {
                bus.valueAddress[addressLength++] = c;
                bus.valueAddress[addressLength] = 0;
            }
        } else if (part != closed && c == ')') {
            part = closed;
        } else if (part == value && (c == '*' || c == '#')) {
            part = unit;
        } else if (part == unit && unitLength < sizeof bus.unit - 1) {
            bus.unit[unitLength++] = c;
            bus.unit[unitLength] = 0;
        }
    }
    if (pos == 0) return 0;
    if (text[pos - 1] != ')' || pos >= room || text[pos] != '\r' || pos + 1 >= room || text[pos + 1] != '\n')
        return -1;
    return pos + 2;
}
