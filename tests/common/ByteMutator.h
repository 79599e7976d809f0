// ByteMutator: seeded mutations of a valid file for the readers' robustness tests (containers, WAV,
// images, CSV). Each mutant applies one to three edits: bit flips, special bytes, special 32-bit
// little-endian values at the given offsets or anywhere, truncation, span insertion and deletion,
// and text tokens inside a text region (a table, a header). Header-only; one engine per test.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

class ByteMutator {
public:
    // Where a format is most sensitive: offsets of its size fields and the start of its text part
    // (npos when it has none), with the tokens worth inserting there.
    struct Hints {
        std::vector<size_t> offsets;
        size_t textStart = std::string::npos;
        std::vector<std::string> tokens;
    };

    explicit ByteMutator(uint32_t seed) : engine(seed) {}

    std::string mutate(const std::string& original, const Hints& hints) {
        std::string bytes = original;
        const int edits = 1 + static_cast<int>(below(3));
        for (int i = 0; i < edits; ++i) edit(bytes, original.size(), hints);
        return bytes;
    }

private:
    std::mt19937 engine;

    size_t below(size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(engine); }

    static void putLe32(std::string& bytes, size_t at, uint32_t value) {
        for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
            bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }

    void edit(std::string& bytes, size_t originalSize, const Hints& hints) {
        static const unsigned char specialBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
        const uint32_t size = static_cast<uint32_t>(originalSize);
        const uint32_t specialValues[] = {0u,          1u,          0x7FFFFFFFu, 0x80000000u,
                                          0xFFFFFFFFu, 0xFFFFFFF8u, size + 1,    size - 1};
        switch (below(7)) {
        case 0: // flip one bit
            if (!bytes.empty()) bytes[below(bytes.size())] ^= static_cast<char>(1u << below(8));
            break;
        case 1: // a special byte
            if (!bytes.empty()) bytes[below(bytes.size())] = static_cast<char>(specialBytes[below(5)]);
            break;
        case 2: { // a special 32-bit value at a size field or anywhere
            const bool atField = !hints.offsets.empty() && below(2) == 0;
            const size_t at = atField ? hints.offsets[below(hints.offsets.size())] : below(bytes.size());
            putLe32(bytes, at, specialValues[below(8)]);
            break;
        }
        case 3: // truncate
            bytes.resize(below(bytes.size() + 1));
            break;
        case 4: { // insert a span of random bytes
            std::string span(1 + below(16), '\0');
            for (char& c : span) c = static_cast<char>(below(256));
            bytes.insert(below(bytes.size() + 1), span);
            break;
        }
        case 5: // delete a span
            if (!bytes.empty()) {
                const size_t at = below(bytes.size());
                bytes.erase(at, 1 + below(std::min<size_t>(32, bytes.size() - at)));
            }
            break;
        default: // a token inside the text part, inserted or written over
            if (hints.textStart < bytes.size() && !hints.tokens.empty()) {
                const std::string& token = hints.tokens[below(hints.tokens.size())];
                const size_t at = hints.textStart + below(bytes.size() - hints.textStart + 1);
                if (below(2) == 0)
                    bytes.insert(at, token);
                else
                    bytes.replace(at, token.size(), token);
            }
            break;
        }
    }
};
