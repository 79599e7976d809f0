#include "tools/CoreDemo.h"

#include "base/CoreAnsx.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "base/RandomGenerator.h"
#include "filestore/CoreWavs.h"
#include "tools/CoreDskn.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Samples are integers in units of 1/32768: the WAV values are then exact in single precision.
constexpr int32_t fullScale = 32768;
constexpr int32_t rate = CoreDemo::iCrate;
// Per-sample decay factors in Q30, 10^(-3 / (RT60 x 44100)) rounded, so no libm value reaches a file.
constexpr int64_t decayRt120 = 1073601675; // RT60 1.2 s
constexpr int64_t decayRt060 = 1073461545; // RT60 0.6 s
constexpr int64_t decayH2 = 1054599036;    // -40 dB over the 256 taps
constexpr int64_t unityQ30 = int64_t{1} << 30;
// The second stage the programs ask for; a longer unit impulse needs the third stage as well.
constexpr int32_t secondStageUs = 10000;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw CoreAnsx((path + ": " + reason).c_str());
}

void makeFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) fail(folder.string(), "the folder cannot be made (" + error.message() + ")");
}

void writeDocument(const fs::path& path, const CoreXml_& document) {
    makeFolder(path.parent_path());
    if (!document.settf(CoreAnsx(path.string().c_str()), true, false, false))
        fail(path.string(), "cannot be written");
}

void writeXml(const fs::path& path, const std::string& text) {
    CoreXml_ document;
    document.getfc(CoreAnsx(text.c_str()));
    writeDocument(path, document);
}

CoreNode* element(const char* tag, const std::string& value) {
    CoreNode* node = new CoreNode(tag);
    node->addcd(new CoreNode(CoreAnsx(value.c_str())));
    return node;
}

// A bank setup: the files into slots 0, 1, ... in order, the last one marked LOAD.
void writeSetup(const fs::path& path, const std::vector<std::string>& files) {
    CoreXml_ document;
    document.setrt(new CoreNode(CoreXml_::sCroot));
    CoreNode* setup = new CoreNode("SETUP");
    document.getrt()->addcd(setup);
    for (size_t slot = 0; slot < files.size(); ++slot) {
        CoreNode* entry = new CoreNode("PROGRAM");
        setup->addcd(entry);
        entry->addcd(element("SEQUENCE", std::to_string(slot)));
        entry->addcd(element("FILENAME", files[slot]));
        if (slot + 1 == files.size()) entry->addcd(element("LOAD", "1"));
    }
    writeDocument(path, document);
}

struct Stereo {
    explicit Stereo(int32_t frames) : left(size_t(frames), 0), right(size_t(frames), 0) {}
    std::vector<int32_t> left, right;
};

void writeWav(const fs::path& path, const Stereo& samples) {
    const auto frames = static_cast<int32_t>(samples.left.size());
    std::vector<double> left(samples.left.size()), right(samples.right.size());
    const auto toValue = [](int32_t v) { return static_cast<double>(v) / fullScale; };
    std::transform(samples.left.begin(), samples.left.end(), left.begin(), toValue);
    std::transform(samples.right.begin(), samples.right.end(), right.begin(), toValue);
    CorePool pool;
    CoreWavs image(&pool, 2, rate, frames, false);
    image.setdt(frames, left.data(), right.data());
    makeFolder(path.parent_path());
    if (!image.write(CoreAnsx(path.string().c_str()))) fail(path.string(), "cannot be written");
}

// Uniform integers in [-2^(bits-1), 2^(bits-1)).
int32_t noise(RandomGenerator& generator, int bits) {
    return static_cast<int32_t>(generator.next() >> (64 - bits)) - (int32_t{1} << (bits - 1));
}

Stereo unitImpulse(int32_t frames) {
    Stereo out(std::max(frames, 1));
    out.left[0] = out.right[0] = fullScale;
    return out;
}

// A room: the direct sound (1.0) at 0, then from `gap` on a decaying noise tail, each channel its own
// noise, scaled down by 2^shift; darkness > 0 low-passes the tail with a one-pole of coefficient
// 2^-darkness.
Stereo room(int32_t frames, int32_t gap, int64_t decay, int shift, int darkness, uint64_t seed) {
    Stereo out(frames);
    for (std::vector<int32_t>* channel : {&out.left, &out.right}) {
        RandomGenerator generator(seed++);
        int64_t envelope = unityQ30;
        int32_t lowPassed = 0;
        (*channel)[0] = fullScale;
        for (int32_t n = 1; n < frames; ++n) {
            envelope = envelope * decay >> 30;
            if (n < gap) continue;
            int32_t v = static_cast<int32_t>(noise(generator, 16) * envelope >> 30);
            if (darkness > 0) v = lowPassed += (v - lowPassed) >> darkness;
            (*channel)[size_t(n)] = v >> shift;
        }
    }
    return out;
}

// The kernel of the second harmonic: 256 taps peaking at -30 dB on the first, then a decaying noise
// spread so that the taps sum to zero: the square of a signal carries a constant part, which the
// kernel then does not pass.
Stereo secondHarmonic() {
    constexpr int32_t taps = 256;
    constexpr int32_t peak = 1036; // 32768 x 10^(-30/20)
    Stereo out(taps);
    RandomGenerator generator(7);
    int64_t envelope = unityQ30;
    int32_t sum = peak;
    out.left[0] = peak;
    for (int32_t n = 1; n < taps; ++n) {
        envelope = envelope * decayH2 >> 30;
        out.left[size_t(n)] = static_cast<int32_t>(noise(generator, 11) * envelope >> 30); // below the peak
        sum += out.left[size_t(n)];
    }
    const int32_t share = sum / (taps - 1);
    int32_t rest = sum % (taps - 1);
    for (int32_t n = 1; n < taps; ++n) {
        const int32_t step = rest > 0 ? 1 : rest < 0 ? -1 : 0;
        out.left[size_t(n)] -= share + step;
        rest -= step;
    }
    out.right = out.left;
    return out;
}

// Six seconds: plucked strings (Karplus-Strong, each string a delay line of noise averaged with
// loss), a click every second, fading out over 0.1 s to silence for the last 1.5 s.
Stereo input() {
    struct Pluck {
        int32_t start;  // frame
        int32_t period; // frames: 44100 / pitch
        int32_t pan;    // 0 left .. 256 right
    };
    // A3, C#4, E4, A4, E4, C#4, A3, B4, A4: one every half second.
    const Pluck plucks[] = {{0, 200, 64},       {22050, 159, 160}, {44100, 134, 96},
                            {66150, 100, 192},  {88200, 134, 64},  {110250, 159, 160},
                            {132300, 200, 128}, {154350, 89, 96},  {176400, 100, 192}};
    constexpr int32_t frames = 6 * rate;
    constexpr int32_t end = 9 * rate / 2;
    constexpr int32_t fade = rate / 10;
    constexpr int32_t click = 12000;
    constexpr int64_t lossQ16 = 65274; // 0.996 per pass
    Stereo out(frames);
    uint64_t seed = 100;
    for (const Pluck& p : plucks) {
        RandomGenerator generator(seed++);
        std::vector<int32_t> line(size_t(p.period));
        int32_t sum = 0;
        for (int32_t& v : line) sum += v = noise(generator, 14);
        for (int32_t& v : line) v -= sum / p.period; // no constant part to ring on
        size_t at = 0;
        for (int32_t n = p.start; n < end; ++n) {
            const int32_t v = line[at];
            const size_t next = (at + 1) % line.size();
            // Divided, not shifted: truncation toward zero lets a string die out to 0 rather than -1.
            line[at] = static_cast<int32_t>((int64_t{v} + line[next]) * lossQ16 / (2 << 16));
            at = next;
            out.left[size_t(n)] += v * (256 - p.pan) / 256;
            out.right[size_t(n)] += v * p.pan / 256;
        }
    }
    for (int32_t second = 0; second * rate < end; ++second) {
        out.left[size_t(second * rate)] += click;
        out.right[size_t(second * rate)] += click;
    }
    for (int32_t n = end - fade; n < end; ++n) {
        out.left[size_t(n)] = static_cast<int32_t>(int64_t{out.left[size_t(n)]} * (end - n) / fade);
        out.right[size_t(n)] = static_cast<int32_t>(int64_t{out.right[size_t(n)]} * (end - n) / fade);
    }
    return out;
}

// A one-element program on a unit impulse. Unity gains, written "0.0": a bare "0" reads as absent
// and would keep the gain controls at their start value, twice unity. No liquid smoothing, so the
// kernel is whole from its first update rather than gliding towards it. The third stage only for a
// response longer than the second stage. extra: further sections; control: the root element's CONTROL.
std::string unitProgram(const std::string& name, const std::string& response, int32_t frames,
                        const std::string& extra = "", const std::string& control = "") {
    const int64_t lengthUs = (int64_t{std::max(frames, 1)} * 1000000 + rate - 1) / rate;
    const bool third = lengthUs > secondStageUs;
    return "<PROGRAM><NAME>" + name +
           "</NAME><CATEGORY>Utility</CATEGORY><GAININ>0.0</GAININ><GAINOUT>0.0</GAINOUT>" + extra +
           "<H1><ELEMENT><VECTOR><COMMON><LIQUIDSOURCE>OFF</LIQUIDSOURCE><OT1><LENGTH>" +
           std::to_string(secondStageUs) +
           "</LENGTH></OT1><OT2><LENGTH>" + std::to_string(lengthUs) +
           "</LENGTH></OT2></COMMON><ELEMENT><FILENAME>" + response + "</FILENAME></ELEMENT></VECTOR>" +
           control + "</ELEMENT>" + (third ? "<FORCEOT2>1</FORCEOT2>" : "") + "</H1></PROGRAM>";
}

// Two rooms on one vector, its position FUN1 = LFO1 / 4 + MIX1 / 2 (a 0.2 Hz sine around the front
// panel's first control); the square of the input through a faint second-harmonic kernel.
const char* const demoProgram =
    "<PROGRAM><NAME>Demo Rooms</NAME><CATEGORY>Demo</CATEGORY>"
    "<DESCRIPTION>Two rooms moved by MIX1 and a slow LFO, a faint second harmonic</DESCRIPTION>"
    "<GAININ>0.0</GAININ><GAINOUT>0.0</GAINOUT><MIX1>0.5</MIX1>"
    "<LFO1><MINRATE>0.2</MINRATE><MAXRATE>0.2</MAXRATE><SOURCE>NULL</SOURCE><SHAPE>Sine</SHAPE></LFO1>"
    "<FUN1><A>LFO1</A><B>MIX1</B><FUN>a/4+b/2</FUN></FUN1>"
    "<H1><ELEMENT><VECTOR><COMMON><MINVALUE>0</MINVALUE><MAXVALUE>1</MAXVALUE>"
    "<OT1><LENGTH>10000</LENGTH><FADEOUT>1000</FADEOUT></OT1><OT2><LENGTH>1500000</LENGTH>"
    "<FADEOUT>100000</FADEOUT></OT2></COMMON>"
    "<ELEMENT><FILENAME>ir/room-a.wav</FILENAME><WEIGHT>0</WEIGHT></ELEMENT>"
    "<ELEMENT><FILENAME>ir/room-b.wav</FILENAME><WEIGHT>1</WEIGHT></ELEMENT></VECTOR>"
    "<CONTROL><SOURCE>FUN1</SOURCE><MINVALUE>0</MINVALUE><MAXVALUE>1</MAXVALUE></CONTROL></ELEMENT>"
    "<FORCEOT2>1</FORCEOT2></H1>"
    "<H2><ELEMENT><VECTOR><COMMON><OT1><LENGTH>10000</LENGTH></OT1></COMMON>"
    "<ELEMENT><FILENAME>ir/h2.wav</FILENAME></ELEMENT></VECTOR></ELEMENT></H2></PROGRAM>";

// The side chain (the fifth follower, RMS, 10 ms attack, 200 ms release) ducks the init program:
// gain 1 - level through FUN1 = -EVF5.
const char* const sideChainSections =
    "<EVF5><EXP>1</EXP><MINATTACK>10000</MINATTACK><MAXATTACK>10000</MAXATTACK>"
    "<MINRELEASE>200000</MINRELEASE><MAXRELEASE>200000</MAXRELEASE></EVF5>"
    "<FUN1><A>EVF5</A><B>1</B><FUN>-a*b</FUN></FUN1>";

const char* const demoSettings =
    "<MASTER><DATAPATH>demo/</DATAPATH><SETUPROMNAME>setup.xml</SETUPROMNAME><FASTBOOT>1</FASTBOOT>"
    "<SCANBOOT>0.0</SCANBOOT><OTIMED>3</OTIMED><DSPBUFFER>512</DSPBUFFER><DL>1</DL>"
    "<SKINSUBPATH>skins/</SKINSUBPATH><SKINNAME>Demo.q7s</SKINNAME></MASTER>";

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A symbolic link to target, or a copy where the file system has none. Either is made beside `at`
// under a name no other writer picks and renamed over it, so what `at` held stays until the new
// entry is whole.
void link(const fs::path& target, const fs::path& at) {
    static std::atomic<unsigned> counter{0};
    std::error_code error;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path temporary = at.string() + ".tmp" + std::to_string(CoreXutl::getpi()) + "-" +
                                   std::to_string(counter.fetch_add(1));
        fs::create_symlink(target, temporary, error);
        if (error == std::errc::file_exists) continue;
        if (!error) {
            fs::rename(temporary, at, error);
            std::error_code ignored;
            if (error) fs::remove(temporary, ignored);
        }
        break;
    }
    if (error && CoreXutl::cpyfl(target.c_str(), at.c_str(), false)) return;
    if (error) fail(at.string(), "cannot be linked to " + target.string() + " (" + error.message() + ")");
}

// Refuses, before anything is written, a destination that would replace one of the files the render
// reads: the same file as a source (a document is written over whatever the path resolves to), or a
// folder. A link replaces a symbolic link at its destination, never the file the link names, so an
// earlier render's links may stay where they are.
void checkDestination(const fs::path& destination, bool isLink, const std::vector<fs::path>& sources) {
    std::error_code error;
    const fs::file_status entry = fs::symlink_status(destination, error);
    if (!fs::exists(entry) || (isLink && fs::is_symlink(entry))) return;
    if (fs::is_directory(fs::status(destination, error)))
        fail(destination.string(), "is a folder; the render folder was not written");
    for (const fs::path& source : sources)
        if (fs::equivalent(destination, source, error))
            fail(destination.string(),
                 "is the file " + source.string() + " the render reads; the render folder was not written");
}

} // namespace

void CoreDemo::writeUnit(const std::string& folder, const std::string& program, const std::string& response,
                         const std::string& name, int32_t frames) {
    writeXml(fs::path(folder) / program, unitProgram(name, response, frames));
    writeWav(fs::path(folder) / response, unitImpulse(frames));
}

void CoreDemo::write(const std::string& folder) {
    const fs::path data = fs::path(folder) / sCdatafolder;
    writeXml(fs::path(folder) / sCsettingsname, demoSettings);
    writeSetup(data / "setup.xml", {"init.xml", "demo.xml"});
    writeUnit(data.string(), "init.xml", "ir/unit.wav", "Init", 64);
    writeUnit(data.string(), "unit-long.xml", "ir/unit-long.wav", "Unit 1 s", rate);
    writeXml(data / "demo.xml", demoProgram);
    writeXml(data / "sidechain.xml", unitProgram("Side Chain", "ir/unit.wav", 64, sideChainSections,
                                                 "<CONTROL><GAINSOURCE>FUN1</GAINSOURCE></CONTROL>"));
    writeWav(data / "ir/room-a.wav", room(3 * rate / 2, rate / 100, decayRt120, 5, 0, 1));
    writeWav(data / "ir/room-b.wav", room(rate, rate / 200, decayRt060, 3, 2, 3));
    writeWav(data / "ir/h2.wav", secondHarmonic());
    writeWav(data / "input.wav", input());
    CoreDskn::write(data.string());
}

void CoreDemo::writeRender(const std::string& folder, const std::string& settingsName,
                           const std::string& ownSettings, const std::string& program) {
    std::error_code error;
    const fs::path programPath = fs::absolute(program, error).lexically_normal();
    if (error || !fs::is_regular_file(programPath, error)) fail(program, "no such program file");
    // The setup names the program in an element value, which the engine reads trimmed of white space
    // and up to the next '<' (its writer turns a '<' into '('): such a name would play another file, or
    // none. '&' and '>' are read as they stand, the reader knowing no character references.
    const std::string fileName = programPath.filename().string();
    if (std::isspace(static_cast<unsigned char>(fileName.front())) ||
        std::isspace(static_cast<unsigned char>(fileName.back())))
        fail(program, "its name begins or ends with a blank, which the render's setup cannot carry; rename the file");
    if (fileName.find('<') != std::string::npos)
        fail(program, "its name holds <, which the render's setup cannot carry; rename the file");

    CoreXml_ document;
    CoreNode* master = nullptr;
    if (!ownSettings.empty() && fs::exists(ownSettings, error)) {
        CoreNode* root = nullptr;
        try {
            root = document.getff(CoreAnsx(ownSettings.c_str()), true);
        } catch (const CoreAnsx&) {
            root = nullptr;
        }
        master = root != nullptr ? root->getcd("MASTER") : nullptr;
        if (master == nullptr) fail(ownSettings, "holds no MASTER settings");
    } else {
        document.setrt(new CoreNode(CoreXml_::sCroot));
        master = new CoreNode("MASTER");
        document.getrt()->addcd(master);
    }
    // The data path is this folder; no cache, no folder scan; the log at level 2. The engine looks a
    // program up in the data folder before the alternative one, and keeps its settings, log and
    // plug-in here: a program file named like any of them would lose to it. So programs and their
    // files are looked up below program/, which holds nothing here but a packed program's links, while
    // in the alternative folder render/ it is a link to the program file's folder.
    const std::pair<const char*, std::string> settings[] = {
        {"DATAPATH", ""},
        {"SETUPROMNAME", "render/setup.xml"},
        {"SCANBOOT", "0.0"},
        {"FASTBOOT", "1"},
        {"DL", "2"},
        {"PROGRAMSUBPATH", "program/"},
        {"VECTORSUBPATH", "program/"},
        {"SETUPSUBPATH", ""},
        {"SKINSUBPATH", ""},
        {"DICTIONARYSUBPATH", ""},
        {"ALTERNATIVEDATAPATH", "render/"},
    };
    master->delcn("CACHESUBPATH");
    master->delcn("SKINNAME"); // with the skin sub-path emptied, the render reads no skin
    for (const auto& [key, value] : settings) {
        master->delcn(key);
        master->addcd(element(key, value));
    }
    // Everything that is read, and everything that will be written, is known before the first write.
    const fs::path into(folder);
    const std::string name = programPath.filename().string();
    const fs::path programs = into / "program", programFolder = into / "render/program";
    // The memory reads packed programs from the data folder only.
    const bool packed = upper(programPath.extension().string()) == ".Q7P";
    std::vector<fs::path> sources{programPath}, linked;
    if (!ownSettings.empty() && fs::exists(ownSettings, error)) sources.emplace_back(ownSettings);
    if (packed) {
        linked.push_back(programPath);
        for (const fs::directory_entry& entry : fs::directory_iterator(programPath.parent_path(), error))
            if (upper(entry.path().extension().string()) == ".Q7V") linked.push_back(entry.path());
        if (error) fail(programPath.parent_path().string(), "cannot be listed (" + error.message() + ")");
        sources.insert(sources.end(), linked.begin() + 1, linked.end());
    }
    for (const fs::path& needed : {into, into / "render", programs})
        if (fs::exists(needed, error) && !fs::is_directory(needed, error))
            fail(needed.string(), "is not a folder; the render folder was not written");
    for (const fs::path& written :
         {into / settingsName, into / "render/unit.xml", into / "render/unit.wav", into / "render/setup.xml"})
        checkDestination(written, false, sources);
    for (const fs::path& source : linked) checkDestination(programs / source.filename(), true, sources);
    checkDestination(programFolder, true, sources);
    // What an earlier render left in program/ would be found before the program file.
    for (const fs::directory_entry& entry : fs::directory_iterator(programs, error)) {
        const auto replaced = [&](const fs::path& source) {
            return source.filename() == entry.path().filename();
        };
        if (std::none_of(linked.begin(), linked.end(), replaced))
            fail(entry.path().string(), "is left from an earlier render; the render folder was not written");
    }

    writeDocument(into / settingsName, document);
    // Reached from program/, as every program and response is.
    writeXml(into / "render/unit.xml", unitProgram("Init", "../render/unit.wav", 64));
    writeWav(into / "render/unit.wav", unitImpulse(64));
    static_assert(iCrenderslot == 1, "the setup lists the unit program, then the program file");
    writeSetup(into / "render/setup.xml", {"../render/unit.xml", name});
    makeFolder(programs);
    // Links name the file or folder itself, not a link to it, so replacing a link here never loops back.
    for (const fs::path& source : linked) {
        const fs::path target = fs::canonical(source, error);
        if (error) fail(source.string(), "cannot be resolved (" + error.message() + ")");
        link(target, programs / source.filename());
    }
    const fs::path target = fs::canonical(programPath.parent_path(), error);
    if (error) fail(programPath.parent_path().string(), "cannot be resolved (" + error.message() + ")");
    link(target, programFolder);
}
