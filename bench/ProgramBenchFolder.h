// ProgramBenchFolder: a data folder of its own for the engine benchmarks, removed at the end: three
// 2-second stereo 24-bit WAVs of decaying noise at 48 kHz, INIT (a unit impulse) in slot 0, the N = 1
// program in slot 1 and the N = 3 one in slot 2, each harmonic one leaf vector whose third stage keeps
// the whole response, listed by setups/bench.xml. Benchmarks only.
#pragma once
#include "BenchSupport.h"
#include "tests/filestore/WavBytes.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

struct ProgramBenchFolder : bench::TempFolder {
    static constexpr int32_t rate = 48000;
    static constexpr int32_t frames = 2 * rate;

    static std::string tag(const std::string& name, const std::string& content) {
        return "<" + name + ">" + content + "</" + name + ">";
    }

    explicit ProgramBenchFolder(const std::string& name = "program_load_bench") : bench::TempFolder(name) {
        const auto vectors = root / "data/vectors", progs = root / "data/progs";
        std::filesystem::create_directories(vectors);
        std::filesystem::create_directories(progs);
        std::filesystem::create_directories(root / "data/setups");
        std::mt19937 generator(7);
        std::uniform_real_distribution<double> noise(-1.0, 1.0);
        for (int f = 0; f < 3; ++f) {
            std::string data;
            for (int k = 0; k < frames; ++k)
                for (int channel = 0; channel < 2; ++channel) {
                    const double value = 0.9 * noise(generator) * std::exp(-5.0 * k / frames);
                    data += wavtest::le32(static_cast<uint32_t>(std::lround(value * 8388607.0))).substr(0, 3);
                }
            std::ofstream(vectors / wav(f), std::ios::binary) << wavtest::simple(1, 2, rate, 24, data);
        }
        std::string impulse = wavtest::le32(8388607).substr(0, 3) + wavtest::le32(8388607).substr(0, 3);
        impulse += std::string(6 * 63, '\0');
        std::ofstream(vectors / "IMP.WAV", std::ios::binary) << wavtest::simple(1, 2, rate, 24, impulse);
        write(progs / "INIT.XML", program("Init", tag("H1", leaf("IMP.WAV"))));
        for (int n : {1, 3}) {
            std::string body = tag("HDIM", std::to_string(n));
            for (int h = 0; h < n; ++h) body += tag("H" + std::to_string(h + 1), leaf(wav(h)));
            write(progs / ("P" + std::to_string(n) + ".XML"), program("P" + std::to_string(n), body));
        }
        std::string entries;
        const char* files[] = {"INIT.XML", "P1.XML", "P3.XML"};
        for (int slot = 0; slot < 3; ++slot)
            entries += tag("PROGRAM", tag("SEQUENCE", std::to_string(slot)) + tag("FILENAME", files[slot]));
        write(root / "data/setups/bench.xml", tag("SETUP", entries));
    }
    static std::string wav(int f) { return "N" + std::to_string(f + 1) + ".WAV"; }
    // One leaf vector of one file whose third stage keeps the whole response.
    static std::string leaf(const std::string& file) {
        const std::string common = tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") + tag("OT2", tag("LENGTH", "2000000"));
        return tag("ELEMENT", tag("VECTOR", tag("COMMON", common) +
                                                tag("ELEMENT", tag("FILENAME", file) + tag("WEIGHT", " 0 "))));
    }
    static std::string program(const std::string& name, const std::string& body) {
        return tag("PROGRAM", tag("NAME", name) + tag("GAININ", " 0 ") + tag("GAINOUT", " 0 ") + body);
    }
    static void write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }
    std::string path(const std::string& sub) const { return (root / sub).string() + "/"; }
};
