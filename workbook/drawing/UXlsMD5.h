// The MD5 message digest (RFC 1321) of everything written to a stream: the
// identity of a stored image in the BLIP store.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "workbook/storage/UKmrStreams.h"

namespace kalmira {

using TMd5Digest = std::array<std::uint8_t, 16>;

// Write-only: reading gives nothing, the size is the count of bytes written.
class TMd5Stream : public TKmrStream {
public:
    TMd5Stream() { Initialize(); }

    std::size_t Read(void*, std::size_t) override { return 0; }
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Size() const override { return static_cast<std::int64_t>(FCount); }

    // The digest of the bytes so far (state words little-endian); the
    // stream starts over afterwards.
    TMd5Digest GetDigest();
    // The same 16 bytes as a 16-character string.
    std::string GetDigestString();
    void Initialize();

private:
    void Transform(const std::uint8_t* block);

    std::array<std::uint32_t, 4> FState{};
    std::array<std::uint8_t, 64> FBlock{};
    std::uint64_t FCount = 0;
};

// The digest of a buffer in one call.
TMd5Digest Md5Of(const std::uint8_t* bytes, std::size_t count);

}  // namespace kalmira
