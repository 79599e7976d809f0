// vorlan3-render as a user runs it, a child process per row: the demo, a program file played through a
// private folder whatever its name, block sizes and precision giving the same bytes, packed programs
// rendering as their loose twin, every refusal ending with one line that names the file and the reason,
// never a signal, a program file that does not load or is cut short refused, a setup's program that
// does not load named in a warning, and renders stopped part-way by signals (held by the render's test
// seam or by an OUTPUT pipe nobody reads, not timed) that leave OUTPUT and the temporary folder as they
// were. The option reader's rows in-process.
#include "tools/CoreRndr.h"

#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreWavs.h"
#include "tests/common/FileHolder.h"
#include "tests/common/Unprivileged.h"
#include "tests/tools/PluginFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <utility>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1; // exit code; -1 for a signal
    std::string errors;
};

// With a temporary folder given, the render makes its private folders there (TMPDIR), so a test can
// count them while other tests render at the same time.
Outcome runCommand(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    Outcome outcome;
    if (!pipe) return outcome;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.errors.append(buffer, got);
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

Outcome runRender(const std::string& arguments, const std::string& temporary = "") {
    const std::string environment = temporary.empty() ? "" : "TMPDIR='" + temporary + "' ";
    return runCommand(environment + std::string(RENDER_PROGRAM) + " " + arguments + " 2>&1 >/dev/null");
}

std::vector<float> samples(const std::string& wav) {
    const std::string bytes = readBytes(wav);
    std::vector<float> values;
    if (bytes.size() < 44) return values;
    values.resize((bytes.size() - 44) / 4);
    std::memcpy(values.data(), bytes.data() + 44, values.size() * 4);
    return values;
}

void writeWav(const std::string& path, int16_t channels, const std::vector<double>& left) {
    CorePool pool;
    CoreWavs image(&pool, channels, 44100, int32_t(left.size()), false);
    image.setdt(int32_t(left.size()), left.data(), left.data());
    ASSERT_TRUE(image.write(CoreAnsx(path.c_str())));
}

std::vector<double> noise(size_t frames) {
    std::vector<double> values(frames);
    uint32_t state = 1;
    for (double& v : values) v = double(int32_t((state = state * 1664525u + 1013904223u) >> 16) - 32768) / 65536.0;
    return values;
}

std::vector<fs::path> privateFolderList(const fs::path& temporary) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(temporary))
        if (entry.path().filename().string().rfind("vorlan3-render.", 0) == 0) found.push_back(entry.path());
    return found;
}

size_t privateFolders(const fs::path& temporary) {
    return privateFolderList(temporary).size();
}

// The state letter /proc gives a process ('S' asleep, 'Z' ended and not yet waited for); 0 when gone.
char processState(pid_t process) {
    std::ifstream stat("/proc/" + std::to_string(process) + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t name = text.rfind(')');
    return name != std::string::npos && name + 2 < text.size() ? text[name + 2] : '\0';
}

// Polls until ready() holds or the seconds have passed, so that a render that hangs fails the test.
bool waitUntil(const std::function<bool()>& ready, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A render held after its second block by its test seam, or (inItsOpen) in its open of an OUTPUT pipe
// nobody reads, for tests that signal it part-way. The shell execs the render, so pclose gives the
// render's own status; the stop signals reach it at their defaults even when the test runner ignores them.
class HeldRender {
public:
    HeldRender(const std::string& arguments, const fs::path& temporary, bool inItsOpen = false) {
        const std::string command = "echo $$; exec env TMPDIR='" + temporary.string() +
                                    "' VORLAN3_RENDER_TEST_PAUSE=2 " RENDER_PROGRAM " " + arguments +
                                    " 2>&1 >/dev/null";
        std::vector<std::pair<int, void (*)(int)>> kept;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            kept.emplace_back(signal, std::signal(signal, SIG_DFL));
        pipe = popen(command.c_str(), "r");
        for (const auto& [signal, handler] : kept) std::signal(signal, handler);
        char line[4096];
        if (pipe && fgets(line, sizeof line, pipe)) child = std::atoi(line);
        if (inItsOpen) { // only an open of a pipe sleeps interruptibly in openat
            const auto waiting = [this] {
                std::ifstream call("/proc/" + std::to_string(child) + "/syscall");
                std::string number;
                const bool asleep = processState(child) == 'S';
                unseen = asleep && !(call >> number);
                return asleep && number == std::to_string(SYS_openat);
            };
            const auto ended = [this] { return processState(child) == 'Z'; };
            if (child > 0 && waitUntil([&] { return waiting() || unseen || ended(); }, 60) && waiting())
                pid = child;
            return;
        }
        while (pipe && pid < 0 && fgets(line, sizeof line, pipe)) {
            errors += line;
            if (errors.find("paused after 2 blocks, process ") != std::string::npos) pid = child;
        }
    }
    ~HeldRender() { // a test that gave up on the render leaves none running
        if (pipe) end(SIGKILL);
    }
    // Sends the signal, reads the rest of the errors and gives the status as waitpid does. A render
    // still running 60 s after the signal is killed outright, and its status says so. (Under the thread
    // sanitizer a signal that lands on a worker thread waits for that thread's next intercepted call.)
    int end(int signal) {
        if (child > 0) kill(child, signal);
        if (child > 0 && !waitUntil([this] { return processState(child) == 'Z'; }, 60)) {
            errors += "(still running 60 s after the signal)\n";
            kill(child, SIGKILL);
        }
        char line[4096];
        while (fgets(line, sizeof line, pipe)) errors += line;
        const int status = pclose(pipe);
        pipe = nullptr;
        return status;
    }

    pid_t pid = -1; // known once held
    bool unseen = false; // /proc does not show which call the render waits in
    std::string errors;

private:
    FILE* pipe = nullptr;
    pid_t child = -1;
};

class CoreRndrTest : public ::testing::Test {
protected:
    std::string quoted(const std::string& path) const { return "'" + path + "'"; }
    PluginFolder folder;
};

TEST_F(CoreRndrTest, RendersTheDemo) {
    const std::string output = folder.folder / "out.wav";
    const Outcome outcome =
        runRender("--plugin " + quoted(folder.plugin()) + " " + quoted(folder.data("input.wav")) + " " + quoted(output));
    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    const auto in = samples(folder.data("input.wav")), out = samples(output);
    ASSERT_EQ(out.size(), in.size());
    EXPECT_NE(out, in);
    float peak = 0.0f;
    for (float v : out) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 1e-3f);
    // Its program given as a program file plays too.
    const Outcome program =
        runRender("--plugin " + quoted(folder.plugin()) + " --program " + quoted(folder.data("demo.xml")) +
                  " " + quoted(folder.data("input.wav")) + " " + quoted(folder.folder / "program.wav"));
    ASSERT_EQ(program.status, 0) << program.errors;
    EXPECT_EQ(samples(folder.folder / "program.wav").size(), in.size());
}

TEST_F(CoreRndrTest, PlaysAProgramFileAndGivesTheSameBytesForEveryBlockAndPrecision) {
    CoreDemo::writeUnit(folder.folder / "mine", "unit.xml", "ir/one.wav", "Mine", 64);
    const std::string input = folder.folder / "in.wav";
    writeWav(input, 2, noise(44100));
    const fs::path temporary = folder.folder / "tmp";
    fs::create_directories(temporary);
    const auto render = [&](const std::string& options, const std::string& name) {
        const std::string output = folder.folder / name;
        const Outcome outcome = runRender("--plugin " + quoted(folder.plugin()) + " --program " +
                                          quoted(folder.folder / std::string("mine/unit.xml")) + " " + options + " " +
                                          quoted(input) + " " + quoted(output),
                                          temporary.string());
        EXPECT_EQ(outcome.status, 0) << outcome.errors;
        return readBytes(output);
    };
    const std::string reference = render("", "default.wav");
    const auto out = samples(folder.folder / "default.wav"), in = samples(input);
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) ASSERT_NEAR(out[i], in[i], 1e-6) << i;
    for (const char* options : {"--double", "--block 1", "--block 37", "--block 4096"})
        EXPECT_EQ(render(options, "other.wav"), reference) << options;
    EXPECT_EQ(privateFolders(temporary), 0u); // every private folder removed
}

TEST_F(CoreRndrTest, PlaysAProgramFileWhateverItsName) {
    // The demo program, beside its responses, under the names of the files the render keeps in its
    // private folder, in any case: each plays as demo.xml does.
    const fs::path named = folder.folder / "named";
    fs::create_directories(named);
    fs::copy(folder.data("ir"), named / "ir", fs::copy_options::recursive);
    const std::string demo = readBytes(folder.data("demo.xml"));
    const std::string input = folder.folder / "in.wav", output = folder.folder / "out.wav";
    writeWav(input, 2, noise(8820));
    const auto render = [&](const std::string& name) {
        writeBytes(named / name, demo);
        fs::remove(output);
        const Outcome outcome = runRender("--plugin " + quoted(folder.plugin()) + " --program " +
                                          quoted(named / name) + " " + quoted(input) + " " + quoted(output));
        EXPECT_EQ(outcome.status, 0) << outcome.errors;
        fs::remove(named / name);
        return samples(output);
    };
    const std::vector<float> reference = render("demo.xml");
    ASSERT_EQ(reference.size(), 2 * 8820u);
    const float peak = *std::max_element(reference.begin(), reference.end());
    ASSERT_GT(peak, 1e-3f);
    for (const char* name :
         {"Vorlan3.xml", "VORLAN3.XML", "vorlan3.XML", "Vorlan3lisko.log", "VORLAN3LISKO.log", "Vorlan3.so",
          "setup.xml", "unit.xml", "unit.wav", "render.xml", "Drums & Bass.xml", "a>b.xml"}) {
        SCOPED_TRACE(name);
        const std::vector<float> out = render(name);
        EXPECT_EQ(out.size(), reference.size());
        float worst = 0.0f; // the convolution's rounding may differ between runs
        for (size_t i = 0; i < std::min(out.size(), reference.size()); ++i)
            worst = std::max(worst, std::fabs(out[i] - reference[i]));
        EXPECT_LE(worst, 1e-6f * peak);
    }
}

// A packed program, its vector container in the vector folder or beside it, renders what the same
// program loose renders, marked in the plug-in's setup or given as a program file, without a word.
TEST_F(CoreRndrTest, RendersAPackedProgramAsTheSameProgramLoose) {
    folder.writePacked();
    const std::string input = folder.folder / "in.wav";
    writeWav(input, 2, noise(22050));
    const std::vector<float> in = samples(input);
    const auto render = [&](const std::string& program, bool asFile) {
        std::string options = "--plugin " + quoted(folder.plugin()) + " ";
        if (asFile)
            options += "--program " + quoted(folder.data("programs/" + program)) + " ";
        else
            folder.setup({"init.xml", program}, 1);
        const std::string output = folder.folder / "out.wav";
        fs::remove(output);
        const Outcome outcome = runRender(options + quoted(input) + " " + quoted(output));
        EXPECT_EQ(outcome.status, 0) << outcome.errors;
        EXPECT_EQ(outcome.errors, "");
        return samples(output);
    };
    struct Row {
        const char* packed;
        bool asFile; // given with --program rather than marked in the setup
    };
    // A program file's folder serves as the vector folder too: its containers lie beside it.
    const Row rows[] = {{"ROOM.Q7P", false}, {"BESIDE.Q7P", false}, {"BESIDE.Q7P", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.packed) + (row.asFile ? " as a program file" : " marked in the setup"));
        const std::vector<float> loose = render("room.xml", row.asFile);
        const std::vector<float> packed = render(row.packed, row.asFile);
        ASSERT_EQ(loose.size(), 2 * 22050u);
        ASSERT_EQ(packed.size(), loose.size());
        float peak = 0.0f, worst = 0.0f, fromInput = 0.0f;
        for (size_t i = 0; i < loose.size(); ++i) {
            peak = std::max(peak, std::fabs(loose[i]));
            worst = std::max(worst, std::fabs(packed[i] - loose[i]));
            fromInput = std::max(fromInput, std::fabs(loose[i] - in[i]));
        }
        ASSERT_GT(fromInput, 0.1f * peak); // the room played, not the unit program of a fall-back
        EXPECT_LE(worst, 1e-6f * peak);
    }
}

TEST_F(CoreRndrTest, RefusesWithOneLineNamingTheFileAndTheReason) {
    const std::string input = folder.folder / "in.wav", output = folder.folder / "out.wav";
    writeWav(input, 1, noise(4410));
    std::ofstream(folder.folder / "text.so") << "not a library";
    std::ofstream(folder.folder / "malformed.wav") << "RIFF....WAVEfmt nonsense";
    std::ofstream(folder.folder / "three.wav") << "RIF";
    std::ofstream(folder.folder / "bad.xml") << "<PROGRAM><H1>";
    std::ofstream(folder.folder / "text.xml") << "a plain text, no program";
    std::ofstream(folder.folder / "empty.xml");
    std::ofstream(folder.folder / "master.xml") << "<MASTER><DATAPATH>demo/</DATAPATH></MASTER>";
    fs::create_directories(folder.folder / "bare");
    fs::copy_file(folder.plugin(), folder.folder / "bare/Vorlan3.so");
    // A plug-in whose data folder holds no setup: its boot fails, and the engine logs why there.
    fs::create_directories(folder.folder / "nosetup/data");
    fs::copy_file(folder.plugin(), folder.folder / "nosetup/Vorlan3.so");
    std::ofstream(folder.folder / "nosetup/Vorlan3.xml")
        << "<MASTER><DATAPATH>data/</DATAPATH><SETUPROMNAME>setup.xml</SETUPROMNAME><DL>1</DL></MASTER>";
    // The demo program cut short: after an opening tag, inside a tag, inside a value, inside the closing
    // tags; and a short program cut inside its first element.
    const std::string demo = readBytes(folder.data("demo.xml"));
    const size_t cuts[] = {demo.find("<PROGRAM>") + 9, demo.find("<FILENAME>") + 4, demo.find("room-b") + 3,
                           demo.find("</H1>") + 3, demo.size() - 3};
    for (size_t i = 0; i < std::size(cuts); ++i)
        writeBytes(folder.folder / ("cut" + std::to_string(i) + ".xml"), demo.substr(0, cuts[i]));
    writeBytes(folder.folder / "short.xml",
               "<PROGRAM><NAME>T</NAME><H1><ELEMENT><VECTOR><COMMON><MINVALUE>0");
    struct Row {
        std::string arguments;
        std::string named;          // the line names this
        std::string temporary = ""; // TMPDIR, when given
    };
    const std::string plugin = "--plugin " + quoted(folder.plugin()) + " ";
    const std::string demoProgram = plugin + "--program " + quoted(folder.data("demo.xml")) + " ";
    std::vector<Row> rows = {
        {"--plugin " + quoted(folder.folder / "none.so") + " " + quoted(input) + " " + quoted(output), "none.so"},
        {"--plugin " + quoted(NO_ENTRY_LIBRARY) + " " + quoted(input) + " " + quoted(output), "NoEntry.so"},
        {"--plugin " + quoted(folder.folder / "text.so") + " " + quoted(input) + " " + quoted(output), "text.so"},
        {"--plugin " + quoted(folder.folder / "bare/Vorlan3.so") + " " + quoted(input) + " " + quoted(output),
         "Vorlan3.so"},
        {"--plugin " + quoted(folder.folder / "nosetup/Vorlan3.so") + " " + quoted(input) + " " + quoted(output),
         "(its log: " + folder.folder / "nosetup/data/Vorlan3lisko.log" + ")"},
        {plugin + quoted(folder.folder / "missing.wav") + " " + quoted(output), "missing.wav"},
        {plugin + quoted(folder.folder / "malformed.wav") + " " + quoted(output), "malformed.wav"},
        {plugin + quoted(folder.folder / "three.wav") + " " + quoted(output), "three.wav"},
        {plugin + quoted(input) + " " + quoted(folder.folder / "no/such/folder/out.wav"), "out.wav"},
        {plugin + quoted(input) + " " + quoted(input), "in.wav"},
        {plugin + "--block 0 " + quoted(input) + " " + quoted(output), "--block 0"},
        {plugin + "--block 100000 " + quoted(input) + " " + quoted(output), "--block 100000"},
        {plugin + "--frobnicate " + quoted(input) + " " + quoted(output), "--frobnicate"},
        {plugin + "--program " + quoted(folder.folder / "none.xml") + " " + quoted(input) + " " + quoted(output),
         "none.xml"},
        {plugin + "--program " + quoted(folder.folder / "bad.xml") + " " + quoted(input) + " " + quoted(output),
         "bad.xml"},
        // Files the engine cannot read as a program, which left it playing its unit program.
        {plugin + "--program " + quoted(folder.folder / "text.xml") + " " + quoted(input) + " " + quoted(output),
         "text.xml: did not load"},
        {plugin + "--program " + quoted(folder.folder / "empty.xml") + " " + quoted(input) + " " + quoted(output),
         "empty.xml: did not load"},
        {plugin + "--program " + quoted(input) + " " + quoted(input) + " " + quoted(output),
         "in.wav: did not load"},
        {plugin + "--program " + quoted(folder.folder / "master.xml") + " " + quoted(input) + " " + quoted(output),
         "master.xml: did not load"},
        {demoProgram + quoted(input) + " " + quoted(output),
         folder.folder / "no-tmp" + ": the temporary folder (TMPDIR)", folder.folder / "no-tmp"},
        {demoProgram + quoted(input) + " " + quoted(output), "text.so: the temporary folder (TMPDIR)",
         folder.folder / "text.so"},
    };
    // Names the render's setup cannot carry, beside the program a trimmed name would find.
    fs::create_directories(folder.folder / "t");
    fs::copy(folder.data("ir"), folder.folder / "t/ir", fs::copy_options::recursive);
    for (const char* name : {"demo.xml", " demo.xml", "demo.xml ", "a<b.xml"}) writeBytes(folder.folder.path / "t" / name, demo);
    for (const char* name : {" demo.xml", "demo.xml "})
        rows.push_back({plugin + "--program " + quoted((folder.folder.path / "t" / name).string()) + " " + quoted(input) + " " +
                            quoted(output),
                        std::string(name) + ": its name begins or ends with a blank"});
    rows.push_back({plugin + "--program " + quoted(folder.folder / "t/a<b.xml") + " " + quoted(input) + " " +
                        quoted(output),
                    "a<b.xml: its name holds <, which"});
    for (const char* name : {"cut0.xml", "cut1.xml", "cut2.xml", "cut3.xml", "cut4.xml", "short.xml"})
        rows.push_back({plugin + "--program " + quoted(folder.folder / name) + " " + quoted(input) + " " +
                            quoted(output),
                        std::string(name) + ": its XML ends with elements left open"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        const Outcome outcome = runRender(row.arguments, row.temporary);
        EXPECT_GT(outcome.status, 0) << outcome.errors;
        const std::string first = outcome.errors.substr(0, outcome.errors.find('\n'));
        EXPECT_NE(first.find(row.named), std::string::npos) << outcome.errors;
        EXPECT_FALSE(fs::exists(output));
    }
    EXPECT_NE(readBytes(folder.folder / "nosetup/data/Vorlan3lisko.log"), ""); // the log named is written
}

// A program the setup marks that does not load leaves the plug-in playing slot 0, as in a host: the
// render still renders, and says so in one line naming the program and the log in the data folder.
TEST_F(CoreRndrTest, SaysWhenTheProgramTheSetupMarksDidNotLoad) {
    const std::string input = folder.folder / "in.wav", output = folder.folder / "out.wav";
    writeWav(input, 2, noise(4410));
    std::ofstream(folder.data("bad.xml")) << "<PROGRAM><H1>";
    PluginFolder::pack(folder.data("LONE.Q7P"), {{"LONE.XML", readBytes(folder.data("demo.xml"))}});
    const auto entry = [](int sequence, const std::string& file, bool marked = false) {
        return "<PROGRAM><SEQUENCE>" + std::to_string(sequence) + "</SEQUENCE><FILENAME>" + file +
               "</FILENAME>" + (marked ? "<LOAD>1</LOAD>" : "") + "</PROGRAM>";
    };
    struct Row {
        std::vector<std::string> setup;
        int load;                   // the slot marked; -1: none
        std::string named;          // the program the line names; "": no line
        std::string plays = "slot 0";
        std::string entries = "";   // the setup's entries as written, in place of setup and load
    };
    const Row rows[] = {
        {{"init.xml", "demo.xml"}, 1, ""},
        {{"init.xml", "demo.xml"}, -1, ""},
        {{"init.xml"}, 0, ""},
        {{"init.xml", "bad.xml"}, 1, "bad.xml"},
        {{"init.xml", "gone.xml"}, 1, "gone.xml", "init.xml (slot 0)"}, // the setup cannot place it
        {{"init.xml", "LONE.Q7P"}, 1, "LONE.Q7P"}, // its vector container is missing
        // The engine places the entries by sequence, the last marked one placed playing; an exchange
        // sort places init.xml, unit-long.xml, demo.xml from these equal sequences.
        {{}, -1, "", "", entry(0, "init.xml") + entry(2, "demo.xml", true) + entry(1, "unit-long.xml", true)},
        {{}, -1, "", "", entry(1, "demo.xml", true) + entry(1, "unit-long.xml", true) + entry(0, "init.xml")},
        {{}, -1, "gone.xml", "demo.xml (slot 1)",
         entry(0, "init.xml") + entry(1, "demo.xml", true) + entry(2, "gone.xml", true)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entries.empty() ? row.setup.back() + " marked " + std::to_string(row.load)
                                         : row.entries);
        if (row.entries.empty())
            folder.setup(row.setup, row.load);
        else
            writeBytes(folder.data("setup.xml"), "<SETUP>" + row.entries + "</SETUP>");
        fs::remove(output);
        const Outcome outcome =
            runRender("--plugin " + quoted(folder.plugin()) + " " + quoted(input) + " " + quoted(output));
        EXPECT_EQ(outcome.status, 0) << outcome.errors;
        EXPECT_EQ(samples(output).size(), 2 * 4410u);
        if (row.named.empty()) {
            EXPECT_EQ(outcome.errors, "");
        } else {
            EXPECT_EQ(outcome.errors, "vorlan3-render: warning: " + row.named +
                                          ": did not load, the plug-in plays " + row.plays +
                                          " instead (its log: " + folder.data("Vorlan3lisko.log") + ")\n");
        }
    }
}

TEST_F(CoreRndrTest, ARenderStoppedPartWayLeavesTheOldOutputAndItsFolderIsRemoved) {
    CoreDemo::writeUnit(folder.folder / "mine", "unit.xml", "ir/one.wav", "Mine", 64);
    const std::string input = folder.folder / "in.wav", output = folder.folder / "out.wav";
    writeWav(input, 2, noise(44100));
    const std::string old = readBytes(folder.data("input.wav"));
    const fs::path temporary = folder.folder / "tmp";
    fs::create_directories(temporary);
    const auto into = [&](const std::string& target) {
        return "--plugin " + quoted(folder.plugin()) + " --program " +
               quoted(folder.folder / std::string("mine/unit.xml")) + " " + quoted(input) + " " +
               quoted(target);
    };
    const std::string arguments = into(output);
    const auto leftovers = [&] { // private folders, and files the output was written into
        size_t count = privateFolders(temporary);
        for (const auto& entry : fs::directory_iterator(folder.folder.path))
            count += entry.path().filename().string().find("out.wav.") != std::string::npos;
        return count;
    };
    // A pipe nobody reads holds the render in its open of OUTPUT, which one signal must cut short.
    const std::string pipe = folder.folder / "pipe.wav";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    struct Row {
        int signal;
        size_t leftovers; // a kill leaves its folder to the next render, and the file it wrote
        bool intoPipe = false;
    };
    const Row rows[] = {{SIGTERM, 0}, {SIGHUP, 0}, {SIGINT, 0}, {SIGTERM, 0, true}, {SIGKILL, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(strsignal(row.signal)) +
                     (row.intoPipe ? ", OUTPUT a pipe nobody reads" : ""));
        const std::string target = row.intoPipe ? pipe : output;
        if (!row.intoPipe) writeBytes(output, old);
        HeldRender render(into(target), temporary, row.intoPipe);
        if (render.unseen) {
            std::cout << "the pipe row skipped: /proc shows no system call of the render here\n";
            continue;
        }
        ASSERT_GT(render.pid, 0) << render.errors;
        const std::vector<fs::path> made = privateFolderList(temporary);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_TRUE(fs::equivalent(made[0] / "Vorlan3.so", folder.plugin())) << "linked, not copied";
        const int status = render.end(row.signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status << render.errors;
        if (!row.intoPipe) {
            EXPECT_TRUE(readBytes(output) == old) << "the render wrote over its output";
        }
        EXPECT_EQ(leftovers(), row.leftovers);
        if (row.leftovers == 0) {
            EXPECT_NE(render.errors.find(target + ": not written"), std::string::npos) << render.errors;
        }
    }
    // The next render removes the killed one's folder and its output's temporary, and replaces the
    // output once it is complete.
    const Outcome outcome = runRender(arguments, temporary.string());
    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(samples(output).size(), samples(input).size());
    EXPECT_EQ(leftovers(), 0u);
}

TEST_F(CoreRndrTest, ARenderRemovesThePrivateFoldersOfEndedProcessesOnly) {
    CoreDemo::writeUnit(folder.folder / "mine", "unit.xml", "ir/one.wav", "Mine", 64);
    const std::string input = folder.folder / "in.wav";
    writeWav(input, 2, noise(4410));
    const fs::path temporary = folder.folder / "tmp";
    const std::string living = std::to_string(getpid()), ended = "2147483646"; // above any id in use
    struct Row {
        std::string name;
        bool folder;
        bool removed;
    };
    const Row rows[] = {
        {"vorlan3-render." + ended + ".a1B2c3", true, true},
        {"vorlan3-render." + living + ".a1B2c3", true, false},
        {"vorlan3-render.a1B2c3", true, false}, // no process id: whose it is cannot be told
        {"vorlan3-render." + ended + ".d4E5f6", false, false},
        {"vorlan3-render." + ended + "x.a1B2c3", true, false},
        {"other-tool." + ended + ".a1B2c3", true, false},
    };
    for (const Row& row : rows) {
        fs::create_directories(temporary / (row.folder ? row.name + "/render" : ""));
        std::ofstream(temporary / (row.folder ? row.name + "/render/setup.xml" : row.name)) << "<SETUP/>";
    }
    const Outcome outcome = runRender("--plugin " + quoted(folder.plugin()) + " --program " +
                                          quoted(folder.folder / std::string("mine/unit.xml")) + " " +
                                          quoted(input) + " " + quoted(folder.folder / "out.wav"),
                                      temporary.string());
    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    for (const Row& row : rows) EXPECT_NE(fs::exists(temporary / row.name), row.removed) << row.name;
}

TEST_F(CoreRndrTest, WritesEveryKindOfOutputAUserHasAndRefusesWhatItMayNotReplace) {
    const std::string input = folder.folder / "in.wav";
    writeWav(input, 2, noise(4410));
    const size_t renderBytes = 44 + 4410 * 2 * 4;
    const fs::path out = folder.folder.path / "out";
    fs::create_directories(out / "elsewhere");
    const std::string old = "the previous output";
    const auto kind = [](const fs::path& path) {
        const fs::file_status status = path.string() == "/dev/stdout" ? fs::status(path) : fs::symlink_status(path);
        return !fs::exists(status) ? "missing" : fs::is_symlink(status) ? "link" : fs::is_fifo(status) ? "pipe" : fs::is_character_file(status) ? "device" : fs::is_regular_file(status) ? "file" : "other";
    };
    struct Row {
        const char* what;
        std::string output;
        std::function<bool()> prepare; // false: the row cannot run here
        std::string holds;             // the file that holds the render afterwards; "" for a refusal
        const char* outputKind;        // OUTPUT's own entry afterwards
        bool unprivileged;
        std::string says;              // what a refusal's line names
        // A bash script around the render, RENDER standing for the render with its arguments, and
        // stream for the file the script's reader leaves what it got in; empty: the render alone.
        std::string script = "";
        std::string untouched = "";    // a file that keeps the old bytes
    };
    const fs::path temporary = folder.folder.path / "tmp", stream = folder.folder.path / "stream.wav";
    fs::create_directories(temporary);
    const std::string program = "--program " + quoted(folder.data("demo.xml")) + " --tail 2 ";
    int reader = -1;
    const std::string longName = std::string(251, 'n') + ".wav";
    const fs::path appendOnly = out / "appendonly.wav";
    const auto setAppendOnly = [&](bool on) { // false where the file system or the user cannot
        const int fd = open(appendOnly.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool set = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
        set = set && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) close(fd);
        return set;
    };
    // A file written in place through a link, the file holding the old bytes.
    const auto linkedFile = [&](const std::string& name) {
        writeBytes(out / "elsewhere" / name, old);
        fs::create_symlink(fs::path("elsewhere") / name, out / ("link-" + name));
        return true;
    };
    std::unique_ptr<FileHolder> leaseHolder;
    const fs::path small = folder.folder.path / "small"; // a temporary folder in memory, too small
    bool mounted = false;
    const Row rows[] = {
        {"a symbolic link", (out / "link.wav").string(),
         [&] { writeBytes(out / "elsewhere/real.wav", old);
               fs::create_symlink("elsewhere/real.wav", out / "link.wav"); return true; },
         (out / "elsewhere/real.wav").string(), "link", false, ""},
        {"a dangling link", (out / "dangling.wav").string(),
         [&] { fs::create_symlink("elsewhere/new.wav", out / "dangling.wav"); return true; },
         (out / "elsewhere/new.wav").string(), "link", false, ""},
        {"a name of 255 bytes", (out / longName).string(), [] { return true; }, (out / longName).string(), "file",
         false, ""},
        {"a null device", (out / "null").string(),
         [&] { return mknod((out / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; }, "", "device", false,
         ""},
        {"a named pipe", (out / "pipe.wav").string(),
         [&] { // the whole render fits the pipe's buffer, so it never waits for the reader
               return mkfifo((out / "pipe.wav").c_str(), 0644) == 0 &&
                      (reader = open((out / "pipe.wav").c_str(), O_RDONLY | O_NONBLOCK)) >= 0; },
         "", "pipe", false, ""},
        {"a write-protected file", (out / "protected.wav").string(),
         [&] { writeBytes(out / "protected.wav", old);
               fs::permissions(out / "protected.wav", fs::perms::owner_read | fs::perms::others_read); return true; },
         "", "file", true, "protected.wav: cannot be written: " + (out / "protected.wav").string() + " is write-protected (Permission denied)"},
        {"a folder the user may not write", (out / "closed/out.wav").string(),
         [&] { fs::create_directories(out / "closed"); writeBytes(out / "closed/out.wav", old); return true; },
         (out / "closed/out.wav").string(), "file", true, ""},
        {"a new file in a folder the user may not write", (out / "closed2/out.wav").string(),
         [&] { fs::create_directories(out / "closed2"); return true; },
         "", "missing", true, "no temporary file can be made in the folder " + (out / "closed2").string() + " (Permission denied)"},
        {"the standard output, a pipe", "/dev/stdout", [] { return true; }, stream.string(), "", true, "",
         "RENDER | cat > " + quoted(stream.string()) + "; exit ${PIPESTATUS[0]}"},
        {"a process substitution", "/dev/fd/63", [] { return true; }, stream.string(), "", false, "",
         "RENDER_WITHOUT_OUTPUT >(cat > " + quoted(stream.string()) + "); status=$?; wait $!; exit $status"},
        {"a pipe whose reader stops early", "/dev/stdout", [] { return true; }, "", "", false,
         "/dev/stdout: cannot be written: a write failed (Broken pipe)",
         "TMPDIR=" + quoted(temporary.string()) + " RENDER_WITH_PROGRAM | head -c 1000 > /dev/null; exit ${PIPESTATUS[0]}"},
        {"a file in a sandbox that refuses faccessat2", (out / "sandboxed.wav").string(),
         [&] { writeBytes(out / "sandboxed.wav", old); return true; }, (out / "sandboxed.wav").string(), "file", false,
         "", DENY_FACCESSAT2_PROGRAM " RENDER"},
        {"a name beside one that differs only in case", (out / "take.wav").string(),
         [&] { writeBytes(out / "Take.WAV", old); return true; }, (out / "take.wav").string(), "file", false, "", "",
         (out / "Take.WAV").string()},
        {"an append-only file, refused before the render", appendOnly.string(),
         [&] { writeBytes(appendOnly, old); return setAppendOnly(true); }, "", "file", false,
         "appendonly.wav: cannot be written: " + appendOnly.string() + " may only be appended to", "",
         appendOnly.string()},
        {"a link whose file the render's caller holds locked", (out / "link-locked.wav").string(),
         [&] { return linkedFile("locked.wav"); }, (out / "elsewhere/locked.wav").string(), "link", false, "",
         "flock " + quoted((out / "link-locked.wav").string()) + " RENDER"},
        {"a link whose file another program holds a lease on", (out / "link-leased.wav").string(),
         [&] {
             linkedFile("leased.wav");
             leaseHolder =
                 std::make_unique<FileHolder>(out / "elsewhere/leased.wav", FileHolder::Hold::lease);
             return leaseHolder->refused.empty();
         },
         (out / "elsewhere/leased.wav").string(), "link", false, ""},
        {"a link written while the temporary folder has no room for the staging copy",
         (out / "link-staged.wav").string(),
         [&] {
             fs::create_directories(small);
             mounted = mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") == 0;
             return mounted && linkedFile("staged.wav");
         },
         "", "link", false,
         "link-staged.wav: cannot be written: the temporary folder " + small.string() +
             " has no room for the render's staging copy; set TMPDIR to a folder with room",
         "TMPDIR=" + quoted(small.string()) + " RENDER", (out / "elsewhere/staged.wav").string()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.prepare()) {
            std::cout << row.what << " row skipped: it cannot be made here\n";
            continue;
        }
        const std::string arguments = "--plugin " + quoted(folder.plugin()) + " " + quoted(input) + " " + quoted(row.output);
        std::string command = RENDER_PROGRAM " " + arguments + " 2>&1 >/dev/null";
        if (!row.script.empty()) {
            std::string script = row.script;
            const auto put = [&](const std::string& name, const std::string& text) {
                for (size_t at = script.find(name); at != std::string::npos; at = script.find(name, at + text.size()))
                    script.replace(at, name.size(), text);
            };
            const std::string render = RENDER_PROGRAM " --plugin " + quoted(folder.plugin()) + " ";
            put("RENDER_WITH_PROGRAM", render + program + quoted(input) + " " + quoted(row.output) + " 2>&3");
            put("RENDER_WITHOUT_OUTPUT", render + quoted(input) + " 2>&3");
            put("RENDER", render + quoted(input) + " " + quoted(row.output) + " 2>&3");
            writeBytes(folder.folder.path / "around.sh", "exec 3>&1\n" + script + "\n");
            command = "bash " + quoted(folder.folder / "around.sh");
        }
        Outcome outcome;
        if (row.unprivileged) {
            handToUnprivileged(folder.folder.path);
            const fs::path outputFolder = fs::path(row.output).parent_path();
            const bool closed = outputFolder.filename().string().rfind("closed", 0) == 0;
            if (closed)
                fs::permissions(outputFolder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_exec);
            const UnprivilegedOutcome child = runUnprivileged(folder.folder.path, [&] {
                if (access(RENDER_PROGRAM, X_OK) != 0) return std::string("skip");
                const Outcome render = runCommand(command);
                return std::to_string(render.status) + "\n" + render.errors;
            });
            if (closed) fs::permissions(outputFolder, fs::perms::owner_all);
            if (!child.skipped.empty() || child.text == "skip") {
                std::cout << row.what << " row skipped: the render cannot run as an unprivileged user here\n";
                continue;
            }
            outcome.status = std::stoi(child.text);
            outcome.errors = child.text.substr(child.text.find('\n') + 1);
        } else {
            outcome = runCommand(command);
        }
        EXPECT_EQ(outcome.status, row.says.empty() ? 0 : 1) << outcome.errors;
        EXPECT_NE(outcome.errors.find(row.says), std::string::npos) << outcome.errors;
        if (*row.outputKind) {
            EXPECT_EQ(kind(row.output), std::string(row.outputKind));
        }
        if (!row.holds.empty()) {
            EXPECT_EQ(readBytes(row.holds).size(), renderBytes);
        }
        if (row.unprivileged && !row.says.empty() && fs::exists(row.output)) {
            EXPECT_EQ(readBytes(row.output), old);
        }
        if (!row.untouched.empty()) {
            EXPECT_EQ(readBytes(row.untouched), old);
        }
        EXPECT_EQ(privateFolders(temporary), 0u);
        fs::remove(stream);
        if (leaseHolder) {
            EXPECT_TRUE(leaseHolder->end()) << "the lease was never asked for";
            leaseHolder.reset();
        }
        if (mounted) {
            EXPECT_TRUE(fs::is_empty(small)) << "the staging copy was left in the temporary folder";
            umount2(small.c_str(), MNT_DETACH);
            mounted = false;
        }
        if (row.output == appendOnly.string()) setAppendOnly(false);
        if (reader >= 0) {
            std::string got(2 * renderBytes, '\0');
            got.resize(size_t(std::max<ssize_t>(read(reader, got.data(), got.size()), 0)));
            EXPECT_EQ(got.size(), renderBytes);
            close(reader);
            reader = -1;
        }
        for (const auto& entry : fs::recursive_directory_iterator(out)) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
            EXPECT_EQ(entry.path().filename().string().find(".vorlan3-partial"), std::string::npos) << entry.path();
        }
    }
}

TEST(CoreRndr, ReadsItsOptions) {
    const CoreRndr::OPTIONS options =
        CoreRndr::parse({"--block", "64", "--double", "--tail", "1.5", "--quiet", "--program", "p.xml", "a.wav", "b.wav"});
    EXPECT_EQ(options.block, 64);
    EXPECT_TRUE(options.doublePrecision);
    EXPECT_EQ(options.tail, 1.5);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.program, "p.xml");
    EXPECT_EQ(options.input, "a.wav");
    EXPECT_EQ(options.output, "b.wav");
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"a.wav"}, {"a", "b", "c"}, {"--tail", "-1", "a", "b"},
                                               {"--tail", "x", "a", "b"}, {"--block"}, {"--block", "12x", "a", "b"}})
        EXPECT_THROW(CoreRndr::parse(bad), CoreAnsx);
}

} // namespace
