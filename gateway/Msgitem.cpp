#include "gateway/Msgitem.h"

#include <algorithm>

namespace {

void putByte(msgCursor& c, std::uint8_t b) {
    if (c.left <= 0) return;
    *c.pos++ = b;
    --c.left;
}

// Index and length share this form: bit 7 of the first byte says that a
// second byte follows.
void putShortOrLong(msgCursor& c, int n) {
    if (n < 128) {
        putByte(c, static_cast<std::uint8_t>(n));
        return;
    }
    putByte(c, static_cast<std::uint8_t>(0x80 | ((n >> 8) & 0x7F)));
    putByte(c, static_cast<std::uint8_t>(n & 0xFF));
}

// Number of big-endian bytes that hold the value: thresholds for unsigned
// and for two's-complement numbers.
int unsignedWidth(std::uint32_t v) {
    return v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : v <= 0xFFFFFF ? 3 : 4;
}

int signedWidth(std::int32_t v) {
    if (v >= -128 && v <= 127) return 1;
    if (v >= -32768 && v <= 32767) return 2;
    if (v >= -8388608 && v <= 8388607) return 3;
    return 4;
}

int putInteger(msgCursor& c, std::uint16_t oid, int index, std::uint16_t type, std::uint32_t bits, int width) {
    std::uint8_t be[4] = {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
                          static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
    msgItem item;
    item.oid = oid;
    item.index = static_cast<std::int16_t>(index);
    item.type = type;
    item.length = static_cast<std::uint16_t>(width);
    item.data = be + 4 - width;
    return writeRecord(c, item);
}

// Bounds-checked byte source for the reader: every read checks what is left.
struct byteSource {
    const std::uint8_t* pos;
    int left;
    bool take(int& out) {
        if (left <= 0) return false;
        out = *pos++;
        --left;
        return true;
    }
    bool takeShortOrLong(int& out) {
        int first = 0, second = 0;
        if (!take(first)) return false;
        if (!(first & 0x80)) {
            out = first;
            return true;
        }
        if (!take(second)) return false;
        out = ((first & 0x7F) << 8) | second;
        return true;
    }
};

}  // namespace

msgCursor makeCursor(std::uint8_t* bytes, int length) {
    return msgCursor{static_cast<std::int16_t>(std::clamp(length, 0, 32767)), bytes};
}

int writeRecord(msgCursor& c, const msgItem& item) {
    const bool indexed = item.index >= 0;
    const std::uint8_t indexFlag = indexed ? 0x40 : 0x00;
    if (item.oid < 64) {
        putByte(c, static_cast<std::uint8_t>(indexFlag | item.oid));
    } else {
        putByte(c, static_cast<std::uint8_t>(0x80 | indexFlag | ((item.oid >> 8) & 0x3F)));
        putByte(c, static_cast<std::uint8_t>(item.oid & 0xFF));
    }
    if (indexed) putShortOrLong(c, item.index);
    if (item.type < 8 && item.length < 16) {
        putByte(c, static_cast<std::uint8_t>((item.type << 4) | item.length));
    } else {
        putByte(c, static_cast<std::uint8_t>(0x80 | (item.type & 0x7F)));
        putShortOrLong(c, item.length & 0x7FFF);
    }
    for (int i = 0; i < item.length; ++i) putByte(c, item.data[i]);
    return 1;
}

int putRequest(msgCursor& c, std::uint16_t oid, int index) {
    msgItem item;
    item.oid = oid;
    item.index = static_cast<std::int16_t>(index);
    item.type = recRequest;
    return writeRecord(c, item);
}

int putOctets(msgCursor& c, std::uint16_t oid, int index, int length, const std::uint8_t* bytes) {
    msgItem item;
    item.oid = oid;
    item.index = static_cast<std::int16_t>(index);
    item.type = recOctets;
    item.length = static_cast<std::uint16_t>(std::clamp(length, 0, 32767));
    item.data = const_cast<std::uint8_t*>(bytes);  // the writer only reads them
    return writeRecord(c, item);
}

int putUnsigned(msgCursor& c, std::uint16_t oid, int index, std::uint32_t value) {
    return putInteger(c, oid, index, recUnsigned, value, unsignedWidth(value));
}

int putUnsignedNoIndex(msgCursor& c, std::uint16_t oid, std::uint32_t value) {
    return putUnsigned(c, oid, -1, value);
}

int putSigned(msgCursor& c, std::uint16_t oid, int index, std::int32_t value) {
    return putInteger(c, oid, index, recSigned, static_cast<std::uint32_t>(value), signedWidth(value));
}

int putSignedNoIndex(msgCursor& c, std::uint16_t oid, std::int32_t value) {
    return putSigned(c, oid, -1, value);
}

int readRecord(msgCursor& cursor, msgItem& item) {
    if (cursor.left < 2) return 0;
    byteSource in{cursor.pos, cursor.left};
    msgItem rec;
    int first = 0, low = 0;
    in.take(first);
    rec.oid = static_cast<std::uint16_t>(first & 0x3F);
    if (first & 0x80) {
        in.take(low);  // present: at least two bytes were left
        rec.oid = static_cast<std::uint16_t>((rec.oid << 8) | low);
    }
    if (first & 0x40) {
        int index = 0;
        if (!in.takeShortOrLong(index)) return 0;
        rec.index = static_cast<std::int16_t>(index);
    }
    int typeLength = 0, length = 0;
    if (!in.take(typeLength)) return 0;
    if (typeLength & 0x80) {
        rec.type = static_cast<std::uint16_t>(typeLength & 0x7F);
        if (!in.takeShortOrLong(length)) return 0;
    } else {
        rec.type = static_cast<std::uint16_t>((typeLength >> 4) & 0x07);
        length = typeLength & 0x0F;
    }
    if (length > in.left) return 0;
    rec.length = static_cast<std::uint16_t>(length);
    rec.data = cursor.pos + (in.pos - cursor.pos);
    if (rec.type == recUnsigned) rec.value = getUnsigned(rec);
    if (rec.type == recSigned) rec.value = static_cast<std::uint32_t>(getSigned(rec));
    cursor.pos = rec.data + length;
    cursor.left = static_cast<std::int16_t>(in.left - length);
    item = rec;
    return 1;
}

std::uint32_t getUnsigned(const msgItem& item) {
    std::uint32_t v = 0;
    for (int i = 0; i < item.length; ++i) v = (v << 8) | item.data[i];
    return v;
}

std::int32_t getSigned(const msgItem& item) {
    if (item.length == 0) return 0;
    std::uint32_t v = (item.data[0] & 0x80) ? 0xFFFFFFFFu : 0u;
    for (int i = 0; i < item.length; ++i) v = (v << 8) | item.data[i];
    return static_cast<std::int32_t>(v);
}
