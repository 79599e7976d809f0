// Shared pieces of the WAV tests: WAV files built by hand chunk by chunk (any tag, width, chunk
// order, pad byte or size field) and little-endian fields read back.
#pragma once
#include "tests/filestore/FsysFixture.h"

#include <cstring>
#include <vector>

namespace wavtest {

using fsystest::le32;

inline std::string le16(uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

inline uint32_t get32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
           uint32_t(uint8_t(s[at + 3])) << 24;
}

// A "fmt " body of 16 bytes, 18 (cbSize 0) or 40 (WAVE_FORMAT_EXTENSIBLE with
// the sub-format).
inline std::string fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, int size = 16,
                           uint16_t subFormat = 1) {
    const uint16_t align = static_cast<uint16_t>((bits + 7) / 8 * channels);
    std::string body = le16(size == 40 ? 0xFFFE : tag) + le16(channels) + le32(rate) + le32(rate * align) +
                       le16(align) + le16(bits);
    if (size == 18) body += le16(0);
    if (size == 40) {
        body += le16(22) + le16(bits) + le32(channels == 1 ? 4 : 3) + le16(subFormat);
        body += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    return body;
}

struct Chunk {
    std::string id, body;
    bool pad = true;       // odd bodies get their pad byte
    int64_t declared = -1; // size field; -1: the body's size
};

inline std::string riff(const std::vector<Chunk>& chunks, const std::string& riffId = "RIFF",
                        const std::string& waveId = "WAVE") {
    std::string inner = waveId;
    for (const Chunk& c : chunks) {
        inner += c.id + le32(static_cast<uint32_t>(c.declared >= 0 ? c.declared : c.body.size())) + c.body;
        if (c.pad && c.body.size() % 2 == 1) inner += '\0';
    }
    return riffId + le32(static_cast<uint32_t>(inner.size())) + inner;
}

// A plain file: "fmt " of the given kind, then "data".
inline std::string simple(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                          const std::string& data, int fmtSize = 16) {
    return riff({{"fmt ", fmtBody(tag, channels, rate, bits, fmtSize, tag)}, {"data", data}});
}

template <typename T>
inline std::string bytesOf(const std::vector<T>& values) {
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

} // namespace wavtest
