// GoldenScreen: the display tests' screen comparison. Writes a grid as text (header lines, a ruler,
// one line per grid row with a symbol and an attribute per cell, then optional sections) and
// compares it whole with a file in tests/display/golden/. With DISPLAY_GOLDENS=update in the
// environment the file is written instead; a new golden is checked by hand before it is committed.
#pragma once
#include "display/CoreDsbf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#ifndef DISPLAY_GOLDEN_DIR
#error "DISPLAY_GOLDEN_DIR must name tests/display/golden"
#endif

class GoldenScreen {
public:
    static constexpr const char* rulerTens = "  |0         1         2         3         4         5       |";
    static constexpr const char* rulerUnits =
        "  |0123456789012345678901234567890123456789012345678901234567|";

    explicit GoldenScreen(const std::string& caseName) { headers.push_back(caseName); }

    // A further header line ("page state 5", "pass 2", "blink on").
    GoldenScreen& fact(const std::string& line) {
        headers.push_back(line);
        return *this;
    }
    // A section after the grid: "-- <name>" and the given lines.
    GoldenScreen& section(const std::string& name, const std::vector<std::string>& lines) {
        sections.emplace_back(name, lines);
        return *this;
    }

    // The symbol a cell shows (UTF-8): its font's glyph for the stored character, blink ignored.
    static std::string symbol(const CoreDsbf& grid, const CoreDsch& cell) {
        const CoreDsfn* font = grid.getfn(cell.getfn());
        const int code = static_cast<unsigned char>(cell.getch());
        if (cell.getfn() == CoreDsch::iCemptyfont || font == nullptr ||
            font->getrs(static_cast<short>(code)) == 0)
            return " ";
        switch (code) {
        case 20:
            return "\u2588";
        case 21:
            return "\u2587";
        case 22:
            return "\u2585";
        case 23:
            return "\u2584";
        case 24:
            return "\u2583";
        case 25:
            return "\u2581";
        case 8:
            return "\u25B2";
        case 7:
            return "\u2502";
        case 9:
            return "\u25BC";
        case 167:
            return "\u00A7";
        default:
            break;
        }
        if (code == 6 || (code >= 10 && code <= 19)) return "\u00A4";
        return std::string(1, static_cast<char>(code));
    }

    static char attribute(const CoreDsch& cell) {
        return static_cast<char>((cell.getbl() ? 'a' : '0') + cell.getfn());
    }

    std::string text(const CoreDsbf& grid) const {
        std::ostringstream out;
        for (const std::string& line : headers) out << "# " << line << '\n';
        out << rulerTens << '\n' << rulerUnits << '\n';
        for (int row = 0; grid.cell(0, row) != nullptr; ++row) {
            std::string symbols, attributes;
            for (int column = 0; grid.cell(column, row) != nullptr; ++column) {
                symbols += symbol(grid, *grid.cell(column, row));
                attributes += attribute(*grid.cell(column, row));
            }
            out << static_cast<char>('0' + row / 10 % 10) << static_cast<char>('0' + row % 10);
            out << '|' << symbols << '|' << attributes << "|\n";
        }
        for (const auto& [name, lines] : sections) {
            out << "-- " << name << '\n';
            for (const std::string& line : lines) out << line << '\n';
        }
        return out.str();
    }

    static std::filesystem::path folder() { return DISPLAY_GOLDEN_DIR; }

    // Compares the grid with golden/<fileName>, or writes it there in update mode.
    ::testing::AssertionResult matches(const CoreDsbf& grid, const std::string& fileName) const {
        const std::filesystem::path path = folder() / fileName;
        const std::string actual = text(grid);
        const char* mode = std::getenv("DISPLAY_GOLDENS");
        if (mode != nullptr && std::string(mode) == "update") {
            std::ofstream(path, std::ios::binary) << actual;
            return ::testing::AssertionSuccess() << "wrote " << path.string();
        }
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return ::testing::AssertionFailure()
                   << "golden screen " << path.string()
                   << " is missing; write it with DISPLAY_GOLDENS=update and check it by hand";
        std::ostringstream expected;
        expected << in.rdbuf();
        return compare(path.string(), expected.str(), actual);
    }

    // Names the first differing line; for a grid line also its row and the first differing column
    // (of the symbols or of the attributes), and shows both rows under the ruler.
    static ::testing::AssertionResult compare(const std::string& name, const std::string& expected,
                                              const std::string& actual) {
        if (expected == actual) return ::testing::AssertionSuccess();
        const std::vector<std::string> want = lines(expected), got = lines(actual);
        size_t line = 0;
        while (line < want.size() && line < got.size() && want[line] == got[line]) ++line;
        const std::string wantLine = line < want.size() ? want[line] : "<end of file>";
        const std::string gotLine = line < got.size() ? got[line] : "<end of file>";
        ::testing::AssertionResult failure = ::testing::AssertionFailure();
        failure << "golden screen " << name << " differs";
        if (isGridLine(wantLine) && isGridLine(gotLine) && wantLine.compare(0, 2, gotLine, 0, 2) == 0) {
            const std::vector<std::string> a = codePoints(wantLine), b = codePoints(gotLine);
            size_t at = 0;
            while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
            const size_t symbolsEnd = 3 + (a.size() - 5) / 2; // "RR|" symbols "|" attributes "|"
            const bool inAttributes = at > symbolsEnd;
            const size_t column = inAttributes ? at - symbolsEnd - 1 : at - 3;
            failure << " at row " << wantLine.substr(0, 2) << ", column " << column
                    << (inAttributes ? " (attribute)" : " (symbol)") << '\n'
                    << rulerTens << '\n'
                    << rulerUnits << '\n'
                    << wantLine << "  golden\n"
                    << gotLine << "  actual";
        } else {
            failure << " at line " << line + 1 << "\ngolden: " << wantLine << "\nactual: " << gotLine;
        }
        return failure;
    }

private:
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> result;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

    static bool isGridLine(const std::string& line) {
        return line.size() > 3 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' && line[1] <= '9' &&
               line[2] == '|';
    }

    static std::vector<std::string> codePoints(const std::string& text) {
        std::vector<std::string> points;
        for (size_t i = 0; i < text.size();) {
            size_t length = 1;
            const unsigned char lead = static_cast<unsigned char>(text[i]);
            if (lead >= 0xF0)
                length = 4;
            else if (lead >= 0xE0)
                length = 3;
            else if (lead >= 0xC0)
                length = 2;
            points.push_back(text.substr(i, length));
            i += length;
        }
        return points;
    }

    std::vector<std::string> headers;
    std::vector<std::pair<std::string, std::vector<std::string>>> sections;
};
