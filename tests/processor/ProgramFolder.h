// ProgramFolder: the data folder the program-loading tests share: settings text, a setup, float64
// kernel files and programs in every form a slot can name (loose, packed with its vector container in
// the vector folder or beside it, only in the alternative folder, naming a missing file, absent), and
// unit-impulse programs with known offsets. Tests only.
#pragma once
#include "AudioRoadScaffold.h"
#include "CorePrcsTestAccess.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreMmry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class ProgramFolderTest : public EngineFolderTest {
protected:
    using Access = CorePrcsTestAccess;
    using Road = CorePrcsTestAccess::AudioRoad;
    using Signal = Road::Signal;

    // Both engine locks and the pass-through lock can be taken at once (and are given back).
    static bool locksFree(CorePrcs& e) {
        for (CoreSmph* lock : {&Access::engineLock(e), &Access::blockLock(e), &Access::passLock(e)}) {
            if (!lock->locka()) return false;
            lock->relse();
        }
        return true;
    }

    // Slots the setup fills, in its order.
    enum Slot : int32_t {
        kInit = 0,
        kThree,      // loose, three harmonics, long enough for a third stage
        kPacked,     // the same packed, its .Q7V in the vector folder
        kBeside,     // packed, its .Q7V only beside the program
        kAlternative, // loose, only in the alternative folder, its kernel there too
        kMissing,    // names a kernel file that does not exist
        kEmpty,      // the setup leaves it free
        kOffsets,    // first of the unit-impulse programs with OFFSET 0, 833, 6250, 41667 µs
    };
    static constexpr int32_t kOffsetMicroseconds[4] = {0, 833, 6250, 41667};
    static constexpr int32_t kRate = 48000;

    static std::string tag(const std::string& name, const std::string& content) { return Road::tag(name, content); }
    static std::string leaf(const std::string& file, const std::string& more = "") {
        return tag("ELEMENT", tag("VECTOR", tag("COMMON", tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1")) +
                                                tag("ELEMENT", tag("FILENAME", file) + tag("WEIGHT", " 0 ") + more)));
    }
    static std::string program(const std::string& name, const std::string& body) {
        return tag("PROGRAM", tag("NAME", name) + tag("GAININ", " 0 ") + tag("GAINOUT", " 0 ") + body);
    }
    static std::string threeHarmonics(const std::string& name) {
        return program(name, tag("HDIM", "3") + tag("H1", leaf("H1.WAV")) + tag("H2", leaf("H2.WAV")) +
                                  tag("H3", leaf("H3.WAV")));
    }

    std::filesystem::path data() const { return root / "data"; }
    std::string dataPath; // DATAPATH when set (a container, say), else the data folder
    std::string settings(const std::string& more = "") const {
        return tag("DATAPATH", dataPath.empty() ? data().string() + "/" : dataPath) + tag("PROGRAMSUBPATH", "progs/") +
               tag("VECTORSUBPATH", "vectors/") + tag("SETUPSUBPATH", "setups/") +
               tag("ALTERNATIVEDATAPATH", (root / "alt").string() + "/") + tag("DSPBUFFER", "512") +
               tag("OTIMED", "3") + tag("OFREQD", "11") + tag("DL", " 0 ") + more;
    }

    void writeText(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    // A container of the given items (key, bytes), written by the store's own writer.
    void pack(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::string>>& items) {
        CoreFsys store(&pool);
        for (const auto& [key, bytes] : items)
            store.setit(store.crtit(key.c_str()), bytes.data(), static_cast<int32_t>(bytes.size()), "0", true, false);
        std::filesystem::create_directories(file.parent_path());
        ASSERT_TRUE(store.savea(CoreAnsx(file.string().c_str())));
    }
    static std::string bytesOf(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Kernels: H1..H3 decaying noise of 3000, 1500 and 400 taps; IMP a 256-tap unit impulse.
    Signal kernel(int which) const {
        const size_t lengths[3] = {3000, 1500, 400};
        return Road::decayingNoise(lengths[which], 40 + static_cast<unsigned>(which));
    }
    void writeFolder() {
        const auto vectors = data() / "vectors", progs = data() / "progs";
        std::filesystem::create_directories(vectors);
        std::filesystem::create_directories(root / "alt/vectors");
        Signal impulse(256, 0.0);
        impulse[0] = 1.0;
        Road::writeKernel(pool, vectors / "IMP.WAV", impulse, impulse, kRate);
        for (int h = 0; h < 3; ++h)
            Road::writeKernel(pool, vectors / ("H" + std::to_string(h + 1) + ".WAV"), kernel(h), kernel(h), kRate);
        Road::writeKernel(pool, root / "alt/vectors/ALT.WAV", impulse, impulse, kRate);

        writeText(progs / "INIT.XML", program("Init", tag("H1", leaf("IMP.WAV"))));
        writeText(progs / "THREE.XML", threeHarmonics("Three"));
        const auto wav = [&](const std::string& name) { return bytesOf(vectors / name); };
        pack(progs / "PACKED.Q7P", {{"PACKED.XML", threeHarmonics("Packed")}});
        pack(vectors / "PACKED.Q7V", {{"H1.WAV", wav("H1.WAV")}, {"H2.WAV", wav("H2.WAV")}, {"H3.WAV", wav("H3.WAV")}});
        pack(progs / "BESIDE.Q7P", {{"BESIDE.XML", program("Beside", tag("H1", leaf("IMP.WAV")))}});
        pack(progs / "BESIDE.Q7V", {{"IMP.WAV", wav("IMP.WAV")}});
        writeText(root / "alt/progs/ALT.XML", program("Alt", tag("H1", leaf("ALT.WAV"))));
        writeText(progs / "MISSING.XML", program("Missing", tag("H1", leaf("NOPE.WAV"))));
        std::string entries;
        const auto entry = [&](int sequence, const std::string& file) {
            entries += tag("PROGRAM", tag("SEQUENCE", std::to_string(sequence)) + tag("FILENAME", file));
        };
        const char* files[] = {"INIT.XML", "THREE.XML", "PACKED.Q7P", "BESIDE.Q7P", "ALT.XML", "MISSING.XML"};
        for (int i = 0; i < 6; ++i) entry(i, files[i]);
        entry(kEmpty, "INIT.XML"); // cleared once read
        for (int i = 0; i < 4; ++i) {
            const std::string name = "OFF" + std::to_string(i) + ".XML";
            const std::string offset =
                tag("OFFSET", kOffsetMicroseconds[i] == 0 ? " 0 " : std::to_string(kOffsetMicroseconds[i]));
            const std::string common = tag("COMMON", tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") + offset);
            const std::string element = tag("ELEMENT", tag("FILENAME", "IMP.WAV") + tag("WEIGHT", " 0 "));
            writeText(progs / name, program(name, tag("H1", tag("ELEMENT", tag("VECTOR", common + element)))));
            entry(kOffsets + i, name);
        }
        writeText(data() / "setups/fixture.xml", tag("SETUP", entries));
    }

    // A booted engine over the folder at rate, its setup (by default the folder's own) read into bank 0,
    // slot 6 left free.
    std::unique_ptr<CorePrcs> loaded(const std::string& more = "", const std::string& setup = "fixture.xml",
                                     int32_t rate = kRate) {
        if (!std::filesystem::exists(data() / "setups/fixture.xml")) writeFolder();
        auto e = make(settings(more), rate);
        if (e->isfailed()) return e;
        e->getmm()->loads(CoreAnsx(setup.c_str()), 0, true);
        e->getmm()->clrpr(kEmpty);
        Access::boot(*e);
        return e;
    }
};
