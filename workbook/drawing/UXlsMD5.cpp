#include "workbook/drawing/UXlsMD5.h"

#include <cstring>

namespace kalmira {

namespace {

// Per-step shift amounts, four per round.
constexpr std::uint8_t Shifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// floor(abs(sin(i + 1)) * 2^32)
constexpr std::uint32_t Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

std::uint32_t Rotl(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

void TMd5Stream::Initialize() {
    FState = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    FCount = 0;
    FPosition = 0;
}

void TMd5Stream::Transform(const std::uint8_t* block) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = block[4 * i] | block[4 * i + 1] << 8 | block[4 * i + 2] << 16 | std::uint32_t(block[4 * i + 3]) << 24;
    std::uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int k;
        switch (i / 16) {
            case 0: f = (b & c) | (~b & d); k = i; break;
            case 1: f = (d & b) | (~d & c); k = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; k = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); k = (7 * i) % 16; break;
        }
        const std::uint32_t next = b + Rotl(a + f + Sines[i] + x[k], Shifts[i / 16][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    FState[0] += a;
    FState[1] += b;
    FState[2] += c;
    FState[3] += d;
}

void TMd5Stream::Write(const void* buffer, std::size_t count) {
    auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::size_t used = FCount % 64;
    FCount += count;
    FPosition = static_cast<std::int64_t>(FCount);
    while (count > 0) {
        const std::size_t take = std::min(count, 64 - used);
        std::memcpy(FBlock.data() + used, bytes, take);
        bytes += take;
        count -= take;
        used += take;
        if (used == 64) {
            Transform(FBlock.data());
            used = 0;
        }
    }
}

TMd5Digest TMd5Stream::GetDigest() {
    const std::uint64_t bits = FCount * 8;
    std::uint8_t pad[72] = {0x80};
    const std::size_t used = FCount % 64;
    const std::size_t padLen = used < 56 ? 56 - used : 120 - used;
    for (int i = 0; i < 8; ++i) pad[padLen + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Write(pad, padLen + 8);
    TMd5Digest digest;
    for (int i = 0; i < 16; ++i) digest[i] = static_cast<std::uint8_t>(FState[i / 4] >> (8 * (i % 4)));
    Initialize();
    return digest;
}

std::string TMd5Stream::GetDigestString() {
    const TMd5Digest digest = GetDigest();
    return std::string(digest.begin(), digest.end());
}

TMd5Digest Md5Of(const std::uint8_t* bytes, std::size_t count) {
    TMd5Stream md5;
    md5.Write(bytes, count);
    return md5.GetDigest();
}

}  // namespace kalmira
