// AudioRoadTest: the fixture of the audio-road tests: engines built in a temporary folder whose data
// folder holds the shared programs' kernel files, booted, and seeded noise. Tests only.
#pragma once
#include "AudioRoadScaffold.h"
#include "CorePrcsTestAccess.h"
#include "HostBlocks.h"
#include "tests/common/SignalReference.h"

#include <random>

class AudioRoadTest : public EngineFolderTest {
protected:
    using Access = CorePrcsTestAccess;
    using Road = CorePrcsTestAccess::AudioRoad;
    using Stereo = hostblocks::Stereo;

    std::unique_ptr<CorePrcs> engine(const std::string& settings, int32_t rate = 48000) {
        const auto data = root / "data";
        if (!std::filesystem::exists(data / "U.WAV")) {
            std::filesystem::create_directories(data);
            Road::writeKernels(pool, data, rate);
        }
        auto e = make("<DATAPATH>" + data.string() + "/</DATAPATH>" + settings, rate);
        Access::boot(*e);
        return e;
    }
    static Stereo noise(size_t n, unsigned seed, double amplitude = 0.5) {
        Stereo s;
        std::mt19937 generator(seed);
        s.left = randomSignal(generator, n, amplitude);
        s.right = randomSignal(generator, n, amplitude);
        return s;
    }
};
