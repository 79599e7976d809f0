// PngWriter: small PNG files written by libpng's full writing interface for the image tests (every
// colour type, 8 and 16 bits, palette with transparency, Adam7 interlacing), files built byte by byte
// without libpng (chunks, and an 8-bit RGBA file in stored deflate blocks), and the chunk walk that
// recomputes CRCs of mutated files. Header-only; test code only.
#pragma once
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <string>
#include <vector>

namespace pngtest {

struct Image {
    int width = 0;
    int height = 0;
    int colorType = PNG_COLOR_TYPE_RGBA;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<uint8_t> rows;        // packed rows as stored: 16-bit samples big-endian
    std::vector<png_color> palette;   // palette images only
    std::vector<uint8_t> transparent; // tRNS alpha per palette entry
};

inline void appendTo(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

inline void noFlush(png_structp) {}

// The PNG bytes of image; empty when libpng refuses it.
inline std::string write(const Image& image) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return out;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return std::string();
    }
    png_set_write_fn(png, &out, appendTo, noFlush);
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colorType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!image.palette.empty())
        png_set_PLTE(png, info, image.palette.data(), static_cast<int>(image.palette.size()));
    if (!image.transparent.empty())
        png_set_tRNS(png, info, image.transparent.data(), static_cast<int>(image.transparent.size()),
                     nullptr);
    png_write_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_bytep> rows(static_cast<size_t>(image.height));
    for (int y = 0; y < image.height; ++y)
        rows[static_cast<size_t>(y)] =
            const_cast<png_bytep>(image.rows.data() + static_cast<size_t>(y) * rowBytes);
    png_write_image(png, rows.data()); // runs every Adam7 pass when interlaced
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

inline uint32_t crc32(const std::string& bytes, size_t from, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = from; i < from + count; ++i) {
        crc ^= static_cast<uint8_t>(bytes[i]);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

inline uint32_t be32(const std::string& bytes, size_t at) {
    return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
           (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
}

inline void appendBe32(std::string& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
}

// One chunk: length, type, data and CRC.
inline std::string chunk(const std::string& type, const std::string& data) {
    std::string bytes;
    appendBe32(bytes, static_cast<uint32_t>(data.size()));
    bytes += type + data;
    appendBe32(bytes, crc32(bytes, 4, 4 + data.size()));
    return bytes;
}

// The signature and the header chunk.
inline std::string header(uint32_t width, uint32_t height, int bitDepth, int colorType) {
    std::string fields;
    appendBe32(fields, width);
    appendBe32(fields, height);
    fields += {static_cast<char>(bitDepth), static_cast<char>(colorType), 0, 0, 0};
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", fields);
}

// An 8-bit RGBA file written without libpng: unfiltered rows in one zlib stream of stored blocks.
inline std::string handmade(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba) {
    std::string raw;
    for (uint32_t y = 0; y < height; ++y)
        raw += '\0' + std::string(rgba.begin() + y * width * 4, rgba.begin() + (y + 1) * width * 4);
    std::string zlib = "\x78\x01";
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t length = std::min<size_t>(65535, raw.size() - at);
        zlib += {static_cast<char>(at + length == raw.size()), static_cast<char>(length & 0xFF),
                 static_cast<char>(length >> 8), static_cast<char>(~length & 0xFF),
                 static_cast<char>((~length >> 8) & 0xFF)};
        zlib += raw.substr(at, length);
    }
    uint32_t a = 1, b = 0; // Adler-32
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    appendBe32(zlib, (b << 16) | a);
    return header(width, height, 8, PNG_COLOR_TYPE_RGBA) + chunk("IDAT", zlib) + chunk("IEND", "");
}

// Rewrites the CRC of every chunk that lies whole inside the bytes, so that a mutation reaches the
// chunk parsers behind libpng's checks.
inline void fixCrcs(std::string& bytes) {
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const uint64_t length = be32(bytes, at);
        if (at + 12 + length > bytes.size()) break;
        const uint32_t crc = crc32(bytes, at + 4, 4 + static_cast<size_t>(length));
        const size_t crcAt = at + 8 + static_cast<size_t>(length);
        for (int i = 0; i < 4; ++i) bytes[crcAt + i] = static_cast<char>((crc >> (24 - 8 * i)) & 0xFF);
        at = crcAt + 4;
    }
}

} // namespace pngtest
