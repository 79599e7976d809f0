#include "tools/CoreRndr.h"

#include "base/CoreAnsx.h"
#include "base/CoreButl.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWvfr.h"
#include "filestore/CoreWvfw.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"
#include "program/DataXml_.h"
#include "tools/CoreDemo.h"
#include "tools/CoreVhst.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& subject, const std::string& reason) {
    throw CoreAnsx((subject + ": " + reason).c_str());
}

int32_t blockValue(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < 1 || value > CoreRndr::iCmaxblock)
        fail("--block " + text, "the block size must be a whole number from 1 to " +
                                    std::to_string(CoreRndr::iCmaxblock));
    return static_cast<int32_t>(value);
}

double secondsValue(const std::string& text) {
    std::istringstream reader(text);
    reader.imbue(std::locale::classic());
    double value = -1.0;
    reader >> value;
    if (text.empty() || reader.fail() || !reader.eof() || !std::isfinite(value) || value < 0.0 || value > 3600.0)
        fail("--tail " + text, "the tail must be a number of seconds from 0 to 3600");
    return value;
}

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "stop is called from signal handlers");

// A private folder is named "vorlan3-render.<process id>.XXXXXX", so that a later job can tell
// whether the job that made it still runs.
constexpr char folderPrefix[] = "vorlan3-render.";

// The process id a private folder's name holds; 0 for any other name.
int folderOwner(const std::string& name) {
    constexpr size_t prefixLength = sizeof folderPrefix - 1;
    if (name.compare(0, prefixLength, folderPrefix) != 0) return 0;
    const char* first = name.data() + prefixLength;
    const char* last = name.data() + name.size();
    int owner = 0;
    const auto [end, error] = std::from_chars(first, last, owner);
    const bool suffixFollows = last - end == 7 && *end == '.'; // mkdtemp's six characters
    return error == std::errc() && end != first && owner > 0 && suffixFollows ? owner : 0;
}

// The private folders of jobs killed outright (a kill -9, a crash), which could not remove their own.
void removeLeftovers(const fs::path& temporary) {
    std::error_code error;
    std::vector<fs::path> ended;
    for (fs::directory_iterator entry(temporary, error), end; !error && entry != end;
         entry.increment(error)) {
        const int owner = folderOwner(entry->path().filename().string());
        std::error_code ignored;
        if (owner > 0 && fs::is_directory(entry->symlink_status(ignored)) && !CoreXutl::pidlv(owner))
            ended.push_back(entry->path());
    }
    for (const fs::path& folder : ended) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
}

// The temporary folder, as the standard library finds it (TMPDIR, else TMP, TEMP, TEMPDIR, else
// /tmp). Its own error names no folder; this one names the folder and the variable that gave it.
fs::path temporaryFolder() {
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error);
    if (!error) return folder;
    for (const char* variable : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"})
        if (const char* value = std::getenv(variable)) {
            const std::string reason = error.message();
            fail(*value ? value : "(empty)",
                 "the temporary folder (" + std::string(variable) + ") cannot be used (" + reason + ")");
        }
    fail("/tmp", "the temporary folder cannot be used (" + error.message() + ")");
}

// A private plug-in folder, removed with its contents when the job ends, whatever the way but a kill
// that leaves no chance to (a later job removes it then).
class PrivateFolder {
public:
    PrivateFolder() {
        const fs::path temporary = temporaryFolder();
        removeLeftovers(temporary);
        std::string pattern =
            (temporary / (folderPrefix + std::to_string(CoreXutl::getpi()) + ".XXXXXX")).string();
        if (!mkdtemp(pattern.data()))
            fail(temporary.string(),
                 "the private plug-in folder cannot be made in the temporary folder (TMPDIR) (" +
                     std::generic_category().message(errno) + ")");
        path = pattern;
    }
    ~PrivateFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    fs::path path;
};

// The plug-in in the private folder: a hard link where the file system allows one, else a symbolic
// link, else a copy. The plug-in reads the settings beside the path it was loaded from, whichever it is.
void placePlugin(const std::string& plugin, const fs::path& at) {
    std::error_code error;
    const fs::path file = fs::canonical(plugin, error);
    if (error) fail(plugin, "cannot be resolved (" + error.message() + ")");
    fs::create_hard_link(file, at, error);
    if (error) fs::create_symlink(file, at, error);
    if (error && !fs::copy_file(file, at, error)) fail(plugin, "cannot be copied (" + error.message() + ")");
}

// Where a job may stop when asked: between its steps and its blocks. The test seam
// VORLAN3_RENDER_TEST_PAUSE=N holds the job after its Nth block (announced on the progress stream
// with the process id) until it is asked to stop, so that tests interrupt a render part-way without
// timing it.
class StopPoint {
public:
    explicit StopPoint(std::string output) : outputName(std::move(output)) {
        if (const char* text = std::getenv("VORLAN3_RENDER_TEST_PAUSE"))
            std::from_chars(text, text + std::strlen(text), pauseAfter);
    }
    void check() const {
        if (const int signal = CoreRndr::stopped())
            fail(outputName, "not written, the render was stopped by signal " + std::to_string(signal));
    }
    // A stop signal cuts short a wait for a pipe's reader (the stop handlers do not restart calls), so
    // a write that fails once the job is asked to stop reports the stop.
    [[noreturn]] void writeFailed(const std::string& reason) const {
        check();
        fail(outputName, "cannot be written: " + reason);
    }
    void block(std::ostream& progress) {
        check();
        if (++blocks != pauseAfter) return;
        progress << "vorlan3-render: paused after " << blocks << " blocks, process " << CoreXutl::getpi()
                 << "\n"
                 << std::flush;
        while (!CoreRndr::stopped()) CoreXutl::sleep(5);
        check();
    }

private:
    std::string outputName;
    int64_t blocks = 0;
    int64_t pauseAfter = -1;
};

// The elements a loose program file's XML leaves open at its end, outermost first, "/" between them;
// empty for a file that reads as no program, which the load check refuses. The engine's reader
// closes them without a word, so a file cut short would play as much of the program as it holds. A
// packed program's XML lies in its container, among bytes that are no XML; the load check covers it.
std::string openElements(const std::string& program) {
    if (CoreAnsx(fs::path(program).extension().string().c_str()).UpperCase() == CoreAnsx(".Q7P")) return "";
    const CoreAnsx text = CoreXml_::getas(CoreAnsx(program.c_str()));
    CoreXml_ document;
    try {
        const CoreNode* root = document.getfc(text);
        if (!root || !root->getcd(CoreAnsx("PROGRAM"))) return "";
    } catch (const CoreAnsx&) {
        return "";
    }
    // The reader's own tag scanner, so that the count matches what it read.
    std::vector<std::string> open;
    CoreAnsx tag;
    bool opening = false;
    for (int position = 0; CoreXml_::fndte(text, position, tag, opening);) {
        if (opening)
            open.emplace_back(tag.c_str());
        else if (!open.empty())
            open.pop_back();
    }
    std::string names;
    for (const std::string& name : open) names += (names.empty() ? "" : "/") + name;
    return names;
}

// The slot the plug-in plays, as its chunk names it; -1 when the chunk names none.
int32_t playingSlot(const std::string& chunk) {
    CoreXml_ document;
    try {
        const CoreNode* root = document.getfc(CoreAnsx(chunk.c_str()));
        const CoreNode* setup = root ? root->getcd(CoreAnsx("SETUP")) : nullptr;
        return setup ? CoreNode::gtnli(setup, CoreAnsx("SELECTEDPROGRAM"), -1) : -1;
    } catch (const CoreAnsx&) {
        return -1;
    }
}

// The program file the plug-in plays, as its chunk names it (as the setup named it); empty when the
// chunk names none.
std::string playingFile(const std::string& chunk) {
    CoreXml_ document;
    try {
        const CoreNode* root = document.getfc(CoreAnsx(chunk.c_str()));
        const CoreNode* setup = root ? root->getcd(DataXml_::sCtagsetup_) : nullptr;
        const CoreNode* program = setup ? setup->getcd(DataXml_::sCtagprogrm) : nullptr;
        return program ? program->getls(DataXml_::sCtagorgfnm).c_str() : "";
    } catch (const CoreAnsx&) {
        return "";
    }
}

// The plug-in's chunk up to its first NUL: the engine's chunk is text.
std::string chunkText(CoreVhst& host) {
    const std::vector<uint8_t> chunk = host.getChunk();
    return std::string(chunk.begin(), std::find(chunk.begin(), chunk.end(), uint8_t{0}));
}

// The plug-in's settings, the file beside it named after it, read into document: their MASTER; null
// when they do not read.
const CoreNode* settingsOf(const fs::path& plugin, CoreXml_& document) {
    const fs::path file = plugin.parent_path() / (plugin.stem().string() + ".xml");
    try {
        const CoreNode* root = document.getff(CoreAnsx(file.string().c_str()), true);
        return root ? root->getcd("MASTER") : nullptr;
    } catch (const CoreAnsx&) {
        return nullptr;
    }
}

// The data folder, where the engine writes its log and reads its setup, as it resolves DATAPATH:
// below the plug-in's folder unless absolute, a data container's own folder, the temporary repository
// when the settings name none or do not read.
fs::path dataFolder(const fs::path& plugin, const CoreNode* master) {
    const fs::path folder = plugin.parent_path() / "";
    if (!master || !master->exslc("DATAPATH")) return folder / CorePrcs::sCtemprepository;
    const fs::path path = folder / CoreButl::rplce(master->getls("DATAPATH"), '\\', '/').c_str();
    bool regular = false;
    CoreButl::pcase(CoreAnsx(path.string().c_str()), regular);
    return (regular ? path.parent_path() / "" : path).lexically_normal();
}

// The program file the setup marks to load, as the setup names it: of several, the last in the order
// the engine places the entries, which selects the last marked one it could place. Empty when the setup
// marks none or is no file in the data folder.
std::string markedProgram(CorePool& pool, const fs::path& data, const CoreNode* master) {
    if (!master) return "";
    const auto setting = [master](const char* key) {
        return master->exslc(key) ? master->getls(key) : CoreAnsx("");
    };
    CoreFsys store(&pool, CoreAnsx((data / "").string().c_str()), false);
    CoreXml_ document;
    struct Entry {
        bool marked;
        std::string file;
    };
    std::vector<Entry> placed;
    std::vector<int32_t> sequences;
    try {
        const CoreNode* root =
            store.getff(&document, setting("SETUPSUBPATH") + setting("SETUPROMNAME"), false);
        const CoreNode* setup = root ? root->getcd(DataXml_::sCtagsetup_) : nullptr;
        const CoreTlst* entries = setup ? setup->getcn() : nullptr;
        for (int i = 0; entries && i < entries->Count; ++i) {
            const auto* entry = static_cast<const CoreNode*>(entries->Items[i]);
            if (entry->gettx().Trim().UpperCase() != DataXml_::sCtagprogrm) continue;
            placed.push_back({entry->getlb(DataXml_::sCtagload__), entry->getls(DataXml_::sCtagfilenm).c_str()});
            sequences.push_back(entry->getli(DataXml_::sCtagsequen));
        }
    } catch (const CoreAnsx&) {
        return "";
    }
    std::string marked;
    for (const int32_t k : CoreMmry::placementOrder(sequences.data(), static_cast<int32_t>(sequences.size())))
        if (placed[size_t(k)].marked) marked = placed[size_t(k)].file;
    return marked;
}

// The engine's log in its data folder, for an error that needs it.
std::string logLines(const fs::path& folder, const std::string& only = "") {
    std::ifstream log(folder / "Vorlan3lisko.log");
    std::string lines, line;
    while (std::getline(log, line))
        if (line.find(only) != std::string::npos) lines += "\n  " + line;
    return lines;
}

template <class Sample>
struct Channels {
    explicit Channels(int32_t frames) : left(size_t(frames)), right(size_t(frames)) {}
    Sample** pointers() {
        list[0] = left.data();
        list[1] = right.data();
        return list;
    }
    std::vector<Sample> left, right;
    Sample* list[2] = {};
};

std::string formatted(double value, int decimals) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

template <class Sample>
int64_t stream(CoreVhst& host, CoreWvfr& reader, CoreWvfw& writer, int32_t block, int64_t inputFrames,
               int64_t delay, int64_t tailFrames, int32_t rate, bool report, std::ostream& progress,
               StopPoint& stopPoint) {
    Channels<Sample> in(block), out(block);
    std::vector<double> left(static_cast<size_t>(block)), right(static_cast<size_t>(block));
    const int64_t total = inputFrames + delay + tailFrames;
    int64_t fed = 0, read = 0, written = 0;
    int64_t nextReport = int64_t(rate) * 10;
    while (fed < total) {
        const auto frames = static_cast<int32_t>(std::min<int64_t>(block, total - fed));
        int32_t got = 0;
        if (read < inputFrames) {
            const auto wanted = static_cast<int32_t>(std::min<int64_t>(frames, inputFrames - read));
            got = reader.getdt(wanted, left.data(), right.data());
            if (reader.getca() == 1) std::copy_n(left.begin(), got, right.begin());
            read += got;
        }
        for (int32_t i = 0; i < frames; ++i) {
            in.left[size_t(i)] = i < got ? static_cast<Sample>(left[size_t(i)]) : Sample(0);
            in.right[size_t(i)] = i < got ? static_cast<Sample>(right[size_t(i)]) : Sample(0);
        }
        if constexpr (sizeof(Sample) == sizeof(double))
            host.processDoubleReplacing(in.pointers(), out.pointers(), frames);
        else
            host.processReplacing(in.pointers(), out.pointers(), frames);
        const int64_t skip = std::clamp<int64_t>(delay - fed, 0, frames);
        writer.setdt(static_cast<int32_t>(frames - skip), out.left.data() + skip, out.right.data() + skip);
        if (writer.getfl()) stopPoint.writeFailed(writer.failure());
        written += frames - skip;
        fed += frames;
        stopPoint.block(progress);
        if (report && fed >= nextReport) {
            progress << "vorlan3-render: " << formatted(double(fed) / rate, 0) << " s of "
                     << formatted(double(total) / rate, 0) << " s\n";
            nextReport += int64_t(rate) * 10;
        }
    }
    return written;
}

} // namespace

CoreRndr::OPTIONS CoreRndr::parse(const std::vector<std::string>& arguments) {
    OPTIONS options;
    std::vector<std::string> files;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) fail(argument, "a value is missing");
            return arguments[++i];
        };
        if (argument == "--plugin")
            options.plugin = value();
        else if (argument == "--program")
            options.program = value();
        else if (argument == "--block")
            options.block = blockValue(value());
        else if (argument == "--double")
            options.doublePrecision = true;
        else if (argument == "--tail")
            options.tail = secondsValue(value());
        else if (argument == "--quiet")
            options.quiet = true;
        else if (argument.size() > 1 && argument[0] == '-')
            fail(argument, "unknown option");
        else
            files.push_back(argument);
    }
    if (files.size() != 2) fail("vorlan3-render", "give one INPUT.wav and one OUTPUT.wav");
    options.input = files[0];
    options.output = files[1];
    return options;
}

std::string CoreRndr::defaultPlugin() {
    CoreAnsx folder;
    CoreHutl::appnm(nullptr, folder);
    return (fs::path(folder.c_str()) / ".." / "vst" / "Vorlan3.so").lexically_normal().string();
}

void CoreRndr::stop(int signal) {
    if (signal > 0) stopSignal.store(signal, std::memory_order_relaxed);
}

int CoreRndr::stopped() {
    return stopSignal.load(std::memory_order_relaxed);
}

std::string CoreRndr::run(const OPTIONS& options, std::ostream& progress) {
    const auto started = std::chrono::steady_clock::now();
    std::error_code error;
    std::string plugin = options.plugin.empty() ? defaultPlugin() : options.plugin;
    plugin = fs::absolute(plugin, error).lexically_normal().string();
    if (!fs::is_regular_file(plugin, error)) fail(plugin, "no such plug-in file");

    const fs::path input = fs::absolute(options.input, error).lexically_normal();
    const fs::path output = fs::absolute(options.output, error).lexically_normal();
    if (!fs::is_regular_file(input, error)) fail(input.string(), "no such input file");
    if (input == output || fs::equivalent(input, output, error))
        fail(output.string(), "is the input file; choose another output");
    if (fs::is_directory(output, error)) fail(output.string(), "is a folder");
    StopPoint stopPoint(output.string());
    stopPoint.check();

    // The input first: a bad file is refused before the plug-in starts.
    CorePool pool;
    CoreFsys store(&pool, CoreAnsx((input.parent_path().string() + "/").c_str()), false);
    CoreWvfr reader(&pool, &store, false);
    try {
        reader.open_(CoreAnsx(input.filename().string().c_str()));
    } catch (const CoreAnsx& reason) {
        fail(input.string(), std::string("not a readable WAV file (") + reason.c_str() + ")");
    }
    const int32_t rate = reader.getrr();
    const int64_t inputFrames = reader.getdr(true);
    if (rate < 1) fail(input.string(), "has no sample rate");
    if (reader.getca() > 2)
        progress << "vorlan3-render: warning: " << input.string() << " has " << reader.getca()
                 << " channels; the first two are rendered\n";

    // A program file plays in a private plug-in folder holding a link to the plug-in.
    std::unique_ptr<PrivateFolder> folder;
    std::string loaded = plugin;
    if (!options.program.empty()) {
        if (!fs::is_regular_file(options.program, error)) fail(options.program, "no such program file");
        if (const std::string open = openElements(options.program); !open.empty())
            fail(options.program,
                 "its XML ends with elements left open (" + open + "): the file is cut short or unfinished");
        folder = std::make_unique<PrivateFolder>();
        const fs::path own(plugin);
        const std::string stem = own.stem().string();
        loaded = (folder->path / own.filename()).string();
        placePlugin(plugin, loaded);
        const fs::path ownSettings = own.parent_path() / (stem + ".xml");
        CoreDemo::writeRender(folder->path.string(), stem + ".xml",
                              fs::exists(ownSettings, error) ? ownSettings.string() : std::string(),
                              options.program);
    }

    CoreVhst::Setup setup;
    setup.sampleRate = rate;
    setup.blockSize = options.block;
    stopPoint.check();
    CoreVhst host(loaded, setup);
    host.open();
    host.setSampleRate(rate);
    host.setBlockSize(options.block);
    host.resume();
    static const char noChunk[] = "NOCHUNK";
    CoreXml_ settings;
    const CoreNode* master = settingsOf(loaded, settings);
    const fs::path data = dataFolder(loaded, master);
    const std::string log = (data / CoreLog_::sCdefaultfilename).string();
    if (host.setChunk(noChunk, sizeof noChunk) == 0)
        fail(loaded, "the plug-in did not start: no settings, or its boot failed (its log: " + log + ")");
    if (!options.program.empty()) {
        const std::string text = chunkText(host);
        if (text == noChunk)
            fail(options.program, "did not load" + logLines(data));
        // A file the engine cannot read as a program leaves it playing the unit program of slot 0.
        if (playingSlot(text) != CoreDemo::iCrenderslot) {
            const std::string name = fs::path(options.program).filename().string();
            const std::string reason =
                "did not load: the plug-in cannot read it as a program and would play its unit program instead";
            fail(options.program, reason + logLines(data, name));
        }
    }
    // A program the setup marks that the setup cannot place leaves the plug-in playing the marked one
    // placed before it, or slot 0, as it would in a host; its chunk names the program it plays then.
    // One placed that does not load leaves it playing slot 0 with a chunk that names none.
    if (options.program.empty()) {
        const std::string marked = markedProgram(pool, data, master);
        const std::string text = chunkText(host), playing = playingFile(text);
        const std::string plays =
            playing.empty() ? "slot 0" : playing + " (slot " + std::to_string(playingSlot(text)) + ")";
        if (!marked.empty() && playing != marked)
            progress << "vorlan3-render: warning: " << marked << ": did not load, the plug-in plays " << plays
                     << " instead (its log: " << log << ")\n";
    }
    stopPoint.check();
    const int64_t delay = std::max<int32_t>(host.effect()->initialDelay, 0);
    const auto tailFrames = static_cast<int64_t>(std::llround(options.tail * rate));

    // OUTPUT is the name the user typed; the engine's case-blind lookup is for the names its files hold.
    CoreWvfw writer(&pool, CoreAnsx(output.string().c_str()), 2, rate, false, true);
    if (writer.getfl()) stopPoint.writeFailed(writer.failure());
    const bool report = !options.quiet && double(inputFrames) / rate > dCprogressseconds;
    const int64_t frames =
        options.doublePrecision
            ? stream<double>(host, reader, writer, options.block, inputFrames, delay, tailFrames, rate, report,
                             progress, stopPoint)
            : stream<float>(host, reader, writer, options.block, inputFrames, delay, tailFrames, rate, report,
                            progress, stopPoint);
    stopPoint.check();
    if (!writer.finsh()) stopPoint.writeFailed(writer.failure());
    const std::string name = host.effectName(), vendor = host.vendorString();
    host.suspend();
    host.close();

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return name + " (" + vendor + "): " + std::to_string(rate) + " Hz, block " + std::to_string(options.block) +
           ", " + (options.doublePrecision ? "double" : "float") + ", latency " + std::to_string(delay) +
           " frames (" + formatted(1000.0 * double(delay) / rate, 2) + " ms), " + std::to_string(frames) +
           " frames in " + formatted(seconds, 2) + " s";
}
