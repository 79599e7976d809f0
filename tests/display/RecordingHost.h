// RecordingHost: a DisplayHost for the display tests: a settable pointer record (and whether gtprp
// answers), settable skin facts, and a log of every stprp and prchg as the "-- host" lines of a golden
// screen ("stprp 100105 01", bytes in hex; "prchg 100105"). Tests only.
#pragma once
#include "display/DisplayHost.h"

#include <cstdio>
#include <string>
#include <vector>

class RecordingHost : public DisplayHost {
public:
    int32_t gtprp(int32_t id, int32_t scope, int32_t element, void* data) override {
        if (id != iCpointer || scope != 0 || element != 0 || !answers) return 11;
        *static_cast<POINTER*>(data) = pointer;
        return 0;
    }
    int32_t stprp(int32_t id, int32_t, int32_t, const void* data, uint32_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        std::string line = "stprp " + std::to_string(id);
        records.emplace_back(bytes, bytes + size);
        for (uint32_t i = 0; i < size; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
            line += hex;
        }
        log.push_back(line);
        return 0;
    }
    void prchg(int32_t id, int32_t, int32_t) override { log.push_back("prchg " + std::to_string(id)); }
    int16_t fontSetCount() const override { return static_cast<int16_t>(fontSets.size()); }
    CoreAnsx fontSetName(int16_t set) const override {
        return set >= 0 && set < fontSetCount() ? CoreAnsx(fontSets[static_cast<size_t>(set)].c_str()) : CoreAnsx("0");
    }
    int32_t addChars() const override { return addWidth; }

    POINTER pointer{0, 0, false};
    bool answers = true;
    int32_t addWidth = 0;
    std::vector<std::string> fontSets;
    std::vector<std::string> log;
    std::vector<std::vector<unsigned char>> records; // the bytes of every stprp, in order
};
