// PluginFolder: a plug-in folder of its own for one test: a copy of the built Vorlan3.so (a file of its
// own, so the loader gives each folder its own statics), the demo folder CoreDemo writes, packed
// programs with their loose twin, and helpers to change the settings, load the plug-in through CoreVhst
// and boot it. Tests only.
#pragma once
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "tests/common/TempFolder.h"
#include "tools/CoreDemo.h"
#include "tools/CoreVhst.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

class PluginFolder {
public:
    static constexpr char sNochunk[] = "NOCHUNK";

    explicit PluginFolder(const std::string& prefix = "vorlan3") : folder(prefix) {
        std::filesystem::copy_file(VORLAN3_PLUGIN, plugin());
        CoreDemo::write(folder.path.string());
    }
    std::string plugin() const { return folder / "Vorlan3.so"; }
    std::string data(const std::string& name) const { return folder / ("demo/" + name); }
    // The settings: the demo's MASTER with these elements in its place.
    void settings(const std::string& master) const {
        std::ofstream(folder / "Vorlan3.xml") << "<MASTER>" << master << "</MASTER>";
    }
    static std::string demoSettings(const std::string& more = "") {
        return "<DATAPATH>demo/</DATAPATH><SETUPROMNAME>setup.xml</SETUPROMNAME><FASTBOOT>1</FASTBOOT>"
               "<SCANBOOT>0.0</SCANBOOT><OTIMED>3</OTIMED><DL>1</DL>" + more;
    }
    // A setup of the given program files into slots 0, 1, …; load marks the slot loaded at boot.
    void setup(const std::vector<std::string>& files, int load) const {
        std::ofstream out(data("setup.xml"));
        out << "<SETUP>";
        for (size_t slot = 0; slot < files.size(); ++slot)
            out << "<PROGRAM><SEQUENCE>" << slot << "</SEQUENCE><FILENAME>" << files[slot] << "</FILENAME>"
                << (int(slot) == load ? "<LOAD>1</LOAD>" : "") << "</PROGRAM>";
        out << "</SETUP>";
    }
    std::string log() const { return readBytes(folder.path / "demo" / "Vorlan3lisko.log"); }

    // Settings with programs/ and vectors/ apart below demo/, and the programs setups then name:
    // init.xml, the 64-frame unit; room.xml, one element on the demo's 1-s room (room.wav, in vectors/
    // and beside the program, where the render reads a loose program file's kernels); ROOM.Q7P, the
    // same program packed, its ROOM.Q7V in vectors/; BESIDE.Q7P the same, its BESIDE.Q7V beside it.
    // The packed programs name packed.wav, which only their vector containers hold.
    void writePacked() const {
        settings(demoSettings("<PROGRAMSUBPATH>programs/</PROGRAMSUBPATH>"
                              "<VECTORSUBPATH>vectors/</VECTORSUBPATH><DSPBUFFER>512</DSPBUFFER>"));
        const std::filesystem::path programs = data("programs"), vectors = data("vectors");
        CoreDemo::writeUnit(vectors.string(), "../programs/init.xml", "unit.wav", "Init", 64);
        // The unit program of 1 s, its response replaced by a room of as many frames.
        CoreDemo::writeUnit(vectors.string(), "../programs/room.xml", "room.wav", "Room", CoreDemo::iCrate);
        const std::string room = readBytes(data("ir/room-b.wav"));
        writeBytes(vectors / "room.wav", room);
        writeBytes(programs / "room.wav", room);
        std::string text = readBytes(programs / "room.xml");
        text.replace(text.find("room.wav"), 8, "packed.wav");
        pack(programs / "ROOM.Q7P", {{"ROOM.XML", text}});
        pack(vectors / "ROOM.Q7V", {{"packed.wav", room}});
        pack(programs / "BESIDE.Q7P", {{"BESIDE.XML", text}});
        pack(programs / "BESIDE.Q7V", {{"packed.wav", room}});
    }
    // A container of the given items (name, bytes), written by the store's own writer.
    static void pack(const std::filesystem::path& file,
                     const std::vector<std::pair<std::string, std::string>>& items) {
        CorePool pool;
        CoreFsys store(&pool);
        for (const auto& [name, bytes] : items) {
            const auto size = static_cast<int32_t>(bytes.size());
            store.setit(store.crtit(name.c_str()), bytes.data(), size, "0", true, false);
        }
        ASSERT_TRUE(store.savea(CoreAnsx(file.string().c_str())));
    }

    // Loaded, opened, rate and block set, resumed; booted through the chunk "NOCHUNK" unless boot is false.
    std::unique_ptr<CoreVhst> start(double rate = 44100.0, int32_t block = 512, bool boot = true,
                                    int32_t* booted = nullptr) const {
        CoreVhst::Setup setup;
        setup.sampleRate = rate;
        setup.blockSize = block;
        auto host = std::make_unique<CoreVhst>(plugin(), setup);
        host->open();
        host->setSampleRate(rate);
        host->setBlockSize(block);
        host->resume();
        if (boot) {
            const int32_t answer = host->setChunk(sNochunk, sizeof sNochunk);
            if (booted) *booted = answer;
        }
        return host;
    }
    static std::string chunkText(CoreVhst& host) {
        const std::vector<uint8_t> chunk = host.getChunk();
        return std::string(chunk.begin(), std::find(chunk.begin(), chunk.end(), uint8_t{0}));
    }

    TempFolder folder;
};

// Stereo blocks through a host: the input in blocks of the given sizes, repeated to the end.
template <class Sample>
struct StereoSignal {
    explicit StereoSignal(size_t frames = 0) : left(frames), right(frames) {}
    Sample** channels(size_t offset = 0) {
        pointers[0] = left.data() + offset;
        pointers[1] = right.data() + offset;
        return pointers;
    }
    bool operator==(const StereoSignal& other) const { return left == other.left && right == other.right; }
    std::vector<Sample> left, right;
    Sample* pointers[2] = {};
};

template <class Sample>
StereoSignal<Sample> renderBlocks(CoreVhst& host, StereoSignal<Sample> input, const std::vector<int32_t>& blocks,
                                  bool inPlace = false) {
    StereoSignal<Sample> output(input.left.size());
    StereoSignal<Sample>& target = inPlace ? input : output;
    for (size_t i = 0, done = 0; done < input.left.size(); ++i) {
        const auto frames = int32_t(std::min<size_t>(size_t(blocks[i % blocks.size()]), input.left.size() - done));
        if constexpr (sizeof(Sample) == sizeof(double))
            host.processDoubleReplacing(input.channels(done), target.channels(done), frames);
        else
            host.processReplacing(input.channels(done), target.channels(done), frames);
        done += size_t(frames);
    }
    return target;
}
