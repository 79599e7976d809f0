// Shared pieces of the modulation tests: a source table preset as the program presets it, and texts
// of the string class as std::string for comparisons.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/DataSrce.h"
#include <gtest/gtest.h>

#include <string>

namespace modtest {

inline std::string text(const CoreAnsx& s) {
    return s.c_str();
}

// A source table with "OFF" at -1.0 and "ON" at +1.0, as the program presets them.
struct PresetSources : DataSrce {
    PresetSources() {
        getis(iCrowoff)->setvl(-1.0);
        getis(iCrowon)->setvl(1.0);
    }
};

} // namespace modtest
