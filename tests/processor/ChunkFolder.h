// ChunkFolder: the data folder the boot and host-chunk tests share, on top of the program folder:
// a boot setup with the INIT program (a unit impulse) in slot 0 and "Room" (short decaying noise, one
// LFO, the LOAD mark) in slot 1, a longer-kernel program "Long" in slot 2, and the settings text an
// engine boots from. Tests only.
#pragma once
#include "HostBlocks.h"
#include "ProgramFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class ChunkFolderTest : public ProgramFolderTest {
protected:
    static constexpr int32_t kRoom = 1;
    static constexpr int32_t kLong = 2;
    static constexpr size_t kRoomTaps = 600;

    Signal roomKernel() const { return Road::decayingNoise(kRoomTaps, 77); }
    static std::string room() {
        return program("Room", tag("H1", leaf("ROOM.WAV")) +
                                   tag("LFO1", tag("MINRATE", "0.5") + tag("MAXRATE", "2") + tag("SHAPE", "Sine")));
    }
    static std::string entry(int sequence, const std::string& file, bool load = false) {
        return tag("PROGRAM", tag("SEQUENCE", std::to_string(sequence)) + tag("FILENAME", file) +
                                  (load ? tag("LOAD", "1") : ""));
    }

    // setup: the setup file the engine boots from; "boot.xml" (with LOAD) or "plain.xml" (without).
    std::string bootSettings(const std::string& more = "", const std::string& setup = "boot.xml") const {
        return tag("DATAPATH", data().string() + "/") + tag("PROGRAMSUBPATH", "progs/") +
               tag("VECTORSUBPATH", "vectors/") + tag("SETUPSUBPATH", "setups/") + tag("SETUPROMNAME", setup) +
               tag("DSPBUFFER", "64") + tag("OTIMED", "3") + tag("OFREQD", "11") + tag("SCANBOOT", "0.0") +
               tag("FASTBOOT", "1") + tag("DL", " 0 ") + more;
    }

    void writeBootFolder() {
        if (std::filesystem::exists(data() / "setups/boot.xml")) return;
        writeFolder();
        Road::writeKernel(pool, data() / "vectors/ROOM.WAV", roomKernel(), roomKernel(), kRate);
        writeText(data() / "progs/ROOM.XML", room());
        writeText(data() / "progs/LONG.XML", program("Long", tag("H1", leaf("H1.WAV"))));
        writeText(data() / "setups/boot.xml",
                  tag("SETUP", entry(0, "INIT.XML") + entry(kRoom, "ROOM.XML", true) + entry(kLong, "LONG.XML")));
        writeText(data() / "setups/plain.xml",
                  tag("SETUP", entry(0, "INIT.XML") + entry(kRoom, "ROOM.XML") + entry(kLong, "LONG.XML")));
    }

    // An engine over the boot folder, booted in one call (check isfailed and the boot yourself when
    // it matters).
    std::unique_ptr<CorePrcs> booted(const std::string& more = "", const std::string& setup = "boot.xml") {
        writeBootFolder();
        auto e = make(bootSettings(more, setup), kRate);
        e->fboot();
        return e;
    }
};
