#include "tools/CoreDskn.h"

#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "platform/CorePict.h"
#include "platform/gui/CoreBimg.h"
#include "platform/gui/CoreGlyf.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw CoreAnsx((path + ": " + reason).c_str());
}

struct Rgba {
    uint8_t r, g, b, a;
};

// A straight-alpha image, rows top to bottom.
struct Image {
    Image(int32_t w, int32_t h, Rgba fill) : width(w), height(h), pixels(size_t(w) * size_t(h), fill) {}
    void put(int32_t x, int32_t y, Rgba c) {
        if (x >= 0 && y >= 0 && x < width && y < height) pixels[size_t(y) * size_t(width) + size_t(x)] = c;
    }
    void fill(int32_t left, int32_t top, int32_t w, int32_t h, Rgba c) {
        for (int32_t y = top; y < top + h; ++y)
            for (int32_t x = left; x < left + w; ++x) put(x, y, c);
    }
    void frame(int32_t left, int32_t top, int32_t w, int32_t h, Rgba c) {
        fill(left, top, w, 1, c);
        fill(left, top + h - 1, w, 1, c);
        fill(left, top, 1, h, c);
        fill(left + w - 1, top, 1, h, c);
    }
    // A disc of diameter size with its box at (left, top): pixel centres inside the circle.
    void disc(int32_t left, int32_t top, int32_t size, Rgba c) {
        for (int32_t y = 0; y < size; ++y)
            for (int32_t x = 0; x < size; ++x) {
                const int32_t dx = 2 * x + 1 - size, dy = 2 * y + 1 - size;
                if (dx * dx + dy * dy <= size * size) put(left + x, top + y, c);
            }
    }
    void glyph(int32_t code, int32_t left, int32_t top, Rgba c) {
        const auto rows = CoreGlyf::cell(code);
        for (int32_t r = 0; r < CoreGlyf::iCheight; ++r)
            for (int32_t col = 0; col < CoreGlyf::iCwidth; ++col)
                if (rows[size_t(r)] & (1u << col)) put(left + col, top + r, c);
    }
    int32_t width, height;
    std::vector<Rgba> pixels;
};

// ---- PNG encoder: 8-bit RGB or RGBA, filter 0, stored deflate blocks ----------------------------------

void appendBe32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// PNG's chunk checksum: CRC-32 (reflected polynomial 0xEDB88320) over type and data.
uint32_t pngCrc(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The zlib stream's checksum: Adler-32 of the uncompressed bytes.
uint32_t adler(const std::string& bytes) {
    uint32_t a = 1, b = 0;
    for (const char c : bytes) {
        a = (a + static_cast<uint8_t>(c)) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

void appendChunk(std::string& out, const char* type, const std::string& data) {
    appendBe32(out, static_cast<uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    appendBe32(out, pngCrc(typed));
}

std::string encodePng(const Image& image, bool alpha) {
    const size_t channels = alpha ? 4 : 3;
    std::string raw;
    raw.reserve(size_t(image.height) * (1 + size_t(image.width) * channels));
    for (int32_t y = 0; y < image.height; ++y) {
        raw += '\0';
        for (int32_t x = 0; x < image.width; ++x) {
            const Rgba& p = image.pixels[size_t(y) * size_t(image.width) + size_t(x)];
            raw += static_cast<char>(p.r);
            raw += static_cast<char>(p.g);
            raw += static_cast<char>(p.b);
            if (alpha) raw += static_cast<char>(p.a);
        }
    }
    std::string zlib("\x78\x01", 2);
    constexpr size_t blockLimit = 65535;
    for (size_t at = 0; at < raw.size() || at == 0; at += blockLimit) {
        const size_t n = std::min(blockLimit, raw.size() - at);
        const bool last = at + n >= raw.size();
        zlib += static_cast<char>(last ? 1 : 0);
        zlib += static_cast<char>(n & 0xFF);
        zlib += static_cast<char>(n >> 8);
        zlib += static_cast<char>(~n & 0xFF);
        zlib += static_cast<char>((~n >> 8) & 0xFF);
        zlib.append(raw, at, n);
        if (last) break;
    }
    appendBe32(zlib, adler(raw));
    std::string header;
    appendBe32(header, static_cast<uint32_t>(image.width));
    appendBe32(header, static_cast<uint32_t>(image.height));
    header += std::string("\x08", 1);
    header += static_cast<char>(alpha ? 6 : 2);
    header += std::string(3, '\0');
    std::string png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", zlib);
    appendChunk(png, "IEND", "");
    return png;
}

// ---- the images -------------------------------------------------------------------------------------

constexpr int32_t kWidth = 900, kHeight = 290;
const Rgba kPanel{46, 50, 58, 255}, kInset{24, 26, 30, 255}, kRim{86, 92, 104, 255};

Image background() {
    Image p(kWidth, kHeight, kPanel);
    for (int32_t y = 0; y < kHeight; ++y) // a vertical shade, lighter at the top
        p.fill(0, y, kWidth, 1,
               Rgba{uint8_t(62 - y * 20 / kHeight), uint8_t(66 - y * 20 / kHeight),
                    uint8_t(76 - y * 22 / kHeight), 255});
    p.frame(0, 0, kWidth, kHeight, kRim);
    p.fill(226, 33, 360, 180, kInset); // behind the display
    p.frame(226, 33, 360, 180, kRim);
    for (int i = 0; i < 6; ++i) { // slider tracks
        const int32_t x = i < 4 ? 27 + 30 * i : 157 + 30 * (i - 4);
        p.fill(x, 72, 3, 176, kInset);
    }
    p.fill(240, 220, 90, 50, kInset); // the pad's area
    p.frame(240, 220, 90, 50, kRim);
    p.fill(838, 14, 62, 130, kInset); // meters
    return p;
}

// A built-in font strip in amber: the lit ink of the original becomes amber, its paper dark brown.
Image amberFont(int32_t number) {
    const CorePict* font = CoreBimg::picture(number);
    if (!font || !font->pixels()) fail("built-in font " + std::to_string(number), "is missing");
    Image p(font->width(), font->height(), Rgba{0, 0, 0, 255});
    for (int32_t y = 0; y < font->height(); ++y)
        for (int32_t x = 0; x < font->width(); ++x) {
            const bool lit = font->pixel(x, y)[1] >= 128;
            p.put(x, y, lit ? Rgba{255, 176, 32, 255} : Rgba{30, 18, 4, 255});
        }
    return p;
}

Image sliderHandle() {
    Image p(17, 30, Rgba{150, 156, 166, 112}); // translucent rim
    p.fill(1, 1, 15, 28, Rgba{200, 204, 214, 255});
    p.fill(1, 14, 15, 2, Rgba{24, 24, 28, 255});
    return p;
}

// 32 frames of a 40 × 40 knob whose inner bar fills from the bottom, frame k filled k / 31.
Image knobStrip() {
    Image p(40, 40 * 32, Rgba{0, 0, 0, 0});
    for (int32_t k = 0; k < 32; ++k) {
        const int32_t top = 40 * k;
        p.disc(0, top, 40, Rgba{90, 96, 108, 255});
        p.disc(4, top + 4, 32, Rgba{30, 32, 38, 255});
        const int32_t level = k * 20 / 31;
        p.fill(17, top + 30 - level, 6, level, Rgba{255, 176, 32, 255});
    }
    return p;
}

// Three frames stacked, lit to dark.
Image lampStrip(int32_t width, int32_t frameHeight, Rgba lit) {
    Image p(width, 3 * frameHeight, Rgba{20, 20, 22, 255});
    const int keep[] = {100, 50, 20};
    for (int k = 0; k < 3; ++k) {
        const Rgba c{uint8_t(lit.r * keep[k] / 100), uint8_t(lit.g * keep[k] / 100),
                     uint8_t(lit.b * keep[k] / 100), 255};
        p.fill(1, k * frameHeight + 1, width - 2, frameHeight - 2, c);
    }
    return p;
}

Image lamp(Rgba c) {
    Image p(12, 12, Rgba{20, 20, 22, 255});
    p.fill(1, 1, 10, 10, c);
    return p;
}

// Up and pressed, 30 × 16 each, the program number on both.
Image programButton(int number) {
    Image p(30, 32, Rgba{0, 0, 0, 255});
    for (int k = 0; k < 2; ++k) {
        const int32_t top = 16 * k;
        p.fill(0, top, 30, 16, k ? Rgba{110, 84, 30, 255} : Rgba{200, 150, 50, 255});
        p.frame(0, top, 30, 16, Rgba{40, 30, 10, 255});
        p.glyph('0' + number, 12, top + 2 + k, Rgba{16, 10, 2, 255});
    }
    return p;
}

Image padHandle() {
    Image p(15, 15, Rgba{0, 0, 0, 0});
    p.disc(0, 0, 15, Rgba{255, 176, 32, 200});
    p.disc(5, 5, 5, Rgba{255, 255, 255, 255});
    return p;
}

// ---- the description -------------------------------------------------------------------------------

std::string tag(const std::string& name, const std::string& content) {
    return "<" + name + ">" + content + "</" + name + ">";
}
std::string tag(const std::string& name, int32_t value) {
    return tag(name, std::to_string(value));
}

std::string romXml() {
    std::string fonts = tag("ELEMENT", tag("FONTNAME", "Classic") + tag("FONT1", "NULL") +
                                           tag("FONTNEG", "NULL") + tag("FONT2", "NULL")) +
                        tag("ELEMENT", tag("FONTNAME", "Amber") + tag("FONT1", "amber1.png") +
                                           tag("FONTNEG", "amberneg.png") + tag("FONT2", "amber2.png"));
    std::string global =
        tag("BACKGROUND", "background.png") + tag("DISPLAYX", 232) + tag("DISPLAYY", 40) +
        tag("DISPLAYTOP", 3) + tag("DISPLAYBOTTOM", 1) + tag("DISPLAYLEFT", 2) + tag("DISPLAYRIGHT", 2) +
        tag("LEDOVERFLOW",
            tag("LED", "ledovf.png") + tag("LEDX", 350) + tag("LEDY", 232) + tag("FRAMES", 3)) +
        tag("LEDBYPASS", tag("LED", "ledbyp.png") + tag("LEDX", 372) + tag("LEDY", 232) +
                             tag("LEDOFF", "ledbypoff.png") + tag("LEDOFFX", 372) + tag("LEDOFFY", 232));
    const auto leds = [](int32_t x, int32_t top, int32_t bottom) {
        return tag("LEDTOP", "ledctl.png") + tag("LEDTOPX", x) + tag("LEDTOPY", top) +
               tag("LEDBOTTOM", "ledctl.png") + tag("LEDBOTTOMX", x) + tag("LEDBOTTOMY", bottom);
    };
    const auto slider = [](int32_t x) {
        return tag("SLIDER", "handle.png") + tag("SLIDERMINX", x) + tag("SLIDERMINY", 70) +
               tag("SLIDERMAXX", x + 17) + tag("SLIDERMAXY", 250) + tag("SLIDERHEIGHT", 150);
    };
    std::string sliders;
    for (int i = 0; i < 4; ++i)
        sliders += tag("MIX" + std::to_string(i + 1), slider(20 + 30 * i) + leds(23 + 30 * i, 54, 256));
    for (int i = 0; i < 4; ++i) {
        const int32_t x = 610 + 60 * i;
        sliders += tag("MIX" + std::to_string(i + 5), tag("SLIDER", "knob.png") + tag("KNOBMODE", 1) +
                                                          tag("SLIDERMINX", x) + tag("SLIDERMINY", 60) +
                                                          tag("SLIDERMAXX", x + 40) + tag("SLIDERMAXY", 100) +
                                                          leds(x + 15, 44, 106));
    }
    sliders += tag("GAININ", slider(150) + tag("DISPLAYADDCHARS", 4) + tag("DISPLAYADDX", 145) +
                                 tag("DISPLAYADDY", 14));
    sliders += tag("GAINOUT", slider(180) + tag("DISPLAYADDCHARS", 4) + tag("DISPLAYADDX", 177) +
                                  tag("DISPLAYADDY", 14));
    const auto point = [](int32_t x, int32_t y, const char* u, const char* v) {
        return tag("MAP",
                   tag("SLIDERMINX", x) + tag("SLIDERMINY", y) + tag("CONTROLX", u) + tag("CONTROLY", v));
    };
    sliders += tag(
        "PADXY1",
        tag("SLIDER", "pad.png") + tag("SLIDERMINX", 240) + tag("SLIDERMINY", 220) + tag("SLIDERMAXX", 330) +
            tag("SLIDERMAXY", 270) + tag("CONTROLX", "MIX1") + tag("CONTROLY", "MIX2") +
            tag("MAP", tag("CONTROLX", "MIX3") + tag("CONTROLY", "MIX4") + point(250, 230, "0.2", "0.8") +
                           point(285, 245, "0.5", "0.5") + point(320, 260, "0.9", "0.1")));
    std::string setup;
    for (int b = 1; b <= 4; ++b)
        setup += tag("PROGRAM" + std::to_string(b),
                     tag("BUTTON", "button" + std::to_string(b) + ".png") +
                         tag("BUTTONX", 420 + 40 * (b - 1)) + tag("BUTTONY", 240) + tag("SEQUENCE", b) +
                         tag("LED", "ledprog.png") + tag("LEDX", 430 + 40 * (b - 1)) + tag("LEDY", 222));
    // LED 1 is the top LED; the thresholds ascend from it.
    const char* const decibels[12] = {"-30", "-24", "-18", "-15", "-12", "-9",
                                      "-6",  "-4",  "-3",  "-2",  "-1",  "0.5"};
    std::string meters;
    for (int m = 0; m < 4; ++m) {
        std::string leds;
        for (int k = 1; k <= 12; ++k) {
            const int level = k - 1;
            const char* image = level >= 8 ? "ledred.png" : level >= 4 ? "ledyel.png" : "ledgrn.png";
            leds += tag("LED" + std::to_string(k), tag("LED", image) + tag("LEDX", 842 + 14 * m) +
                                                       tag("LEDY", 20 + 10 * (k - 1)) +
                                                       tag("LEDDB", decibels[level]));
        }
        meters += tag("METER" + std::to_string(m + 1), leds);
    }
    return tag("SKIN", tag("FONTS", fonts) + tag("GLOBAL", global) + tag("SLIDERS", sliders) +
                           tag("SETUP", setup) + tag("METERS", meters));
}

void makeFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) fail(folder.string(), "the folder cannot be made (" + error.message() + ")");
}

void writeFile(const fs::path& path, const std::string& bytes) {
    if (!CoreFsys::wrfle(CoreAnsx(path.string().c_str()), bytes.data(), static_cast<int64_t>(bytes.size())))
        fail(path.string(), "cannot be written");
}

} // namespace

void CoreDskn::write(const std::string& folder) {
    const fs::path skins = fs::path(folder) / sCskinsubpath;
    const fs::path loose = skins / sCskinfolder;
    makeFolder(loose);

    std::vector<std::pair<std::string, std::string>> items; // name, bytes
    {
        CoreXml_ document;
        document.getfc(CoreAnsx(romXml().c_str()));
        const fs::path rom = loose / "ROM.XML";
        if (!document.settf(CoreAnsx(rom.string().c_str()), true, false, false))
            fail(rom.string(), "cannot be written");
    }
    items.emplace_back("background.png", encodePng(background(), false));
    items.emplace_back("amber1.png", encodePng(amberFont(200), false));
    items.emplace_back("amberneg.png", encodePng(amberFont(201), false));
    items.emplace_back("amber2.png", encodePng(amberFont(202), false));
    items.emplace_back("handle.png", encodePng(sliderHandle(), true));
    items.emplace_back("knob.png", encodePng(knobStrip(), true));
    items.emplace_back("ledctl.png", encodePng(lampStrip(10, 10, Rgba{60, 255, 90, 255}), false));
    items.emplace_back("ledovf.png", encodePng(lampStrip(12, 12, Rgba{255, 48, 40, 255}), false));
    items.emplace_back("ledbyp.png", encodePng(lamp(Rgba{255, 210, 40, 255}), false));
    items.emplace_back("ledbypoff.png", encodePng(lamp(Rgba{80, 66, 14, 255}), false));
    for (int b = 1; b <= 4; ++b)
        items.emplace_back("button" + std::to_string(b) + ".png", encodePng(programButton(b), false));
    items.emplace_back("ledprog.png", encodePng(lampStrip(10, 10, Rgba{255, 176, 32, 255}), false));
    items.emplace_back("pad.png", encodePng(padHandle(), true));
    items.emplace_back("ledred.png", encodePng(lampStrip(12, 8, Rgba{255, 40, 40, 255}), false));
    items.emplace_back("ledyel.png", encodePng(lampStrip(12, 8, Rgba{255, 180, 30, 255}), false));
    items.emplace_back("ledgrn.png", encodePng(lampStrip(12, 8, Rgba{60, 230, 80, 255}), false));
    for (const auto& [name, bytes] : items) writeFile(loose / name, bytes);

    // The container holds the folder's files as they are on disk, ROM.XML first.
    CorePool pool;
    CoreFsys store(&pool, CoreAnsx((loose.string() + "/").c_str()), false);
    std::vector<std::string> names{"ROM.XML"};
    for (const auto& item : items) names.push_back(item.first);
    for (const std::string& name : names)
        if (!store.loadc(store.crtit(CoreAnsx(name.c_str())), false))
            fail((loose / name).string(), "cannot be read back");
    const fs::path container = skins / sCskincontainer;
    if (!store.savea(CoreAnsx(container.string().c_str()))) fail(container.string(), "cannot be written");
}
