// vorlan3-render as a user runs it, a child process per row: the demo, a program file played through a
// private folder, block sizes and precision giving the same bytes, every refusal ending with one line
// that names the file and the reason, never a signal, a program file that does not load refused, and
// renders stopped part-way by signals (held by the render's test seam, not timed) that leave OUTPUT
// and the temporary folder as they were. The option reader's rows in-process.
#include "tools/CoreRndr.h"

#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreWavs.h"
#include "tests/tools/PluginFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1; // exit code; -1 for a signal
    std::string errors;
};

// With a temporary folder given, the render makes its private folders there (TMPDIR), so a test can
// count them while other tests render at the same time.
Outcome runRender(const std::string& arguments, const std::string& temporary = "") {
    const std::string environment = temporary.empty() ? "" : "TMPDIR='" + temporary + "' ";
    const std::string command = environment + std::string(RENDER_PROGRAM) + " " + arguments + " 2>&1 >/dev/null";
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

// A render started as a child process with its errors on a pipe, so that a test can wait for a line
// it writes and then signal it. The environment is the test's with the given settings added.
class RenderChild {
public:
    RenderChild(const std::vector<std::string>& arguments, const std::vector<std::string>& settings) {
        std::vector<std::string> words{RENDER_PROGRAM};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<std::string> environment(settings);
        for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
        std::vector<char*> argv, envp;
        for (std::string& word : words) argv.push_back(word.data());
        for (std::string& setting : environment) envp.push_back(setting.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        pid = fork();
        if (pid == 0) {
            // The render's signals as a user's shell leaves them, whatever the test runner set.
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            dup2(ends[1], 2);
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
        close(ends[1]);
        errorPipe = ends[0];
    }
    ~RenderChild() { // a test that gave up on the child leaves none running
        if (pid > 0) kill(pid, SIGKILL);
        if (pid > 0) finish();
    }
    RenderChild(const RenderChild&) = delete;
    RenderChild& operator=(const RenderChild&) = delete;

    // Reads the errors until text has appeared; false when they ended first.
    bool waitFor(const std::string& text) {
        while (errors.find(text) == std::string::npos)
            if (!readSome()) return false;
        return true;
    }
    // Reads the rest of the errors and waits for the end; the status as waitpid gives it.
    int finish() {
        while (readSome()) {
        }
        int status = -1;
        if (pid > 0) waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }

    pid_t pid = -1;
    std::string errors;

private:
    bool readSome() {
        if (errorPipe < 0) return false;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(errorPipe, buffer, sizeof buffer)) < 0 && errno == EINTR) {
        }
        if (got > 0) {
            errors.append(buffer, size_t(got));
            return true;
        }
        close(errorPipe);
        errorPipe = -1;
        return false;
    }
    int errorPipe = -1;
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

TEST_F(CoreRndrTest, RefusesWithOneLineNamingTheFileAndTheReason) {
    const std::string input = folder.folder / "in.wav", output = folder.folder / "out.wav";
    writeWav(input, 1, noise(4410));
    std::ofstream(folder.folder / "text.so") << "not a library";
    std::ofstream(folder.folder / "malformed.wav") << "RIFF....WAVEfmt nonsense";
    std::ofstream(folder.folder / "three.wav") << "RIF";
    std::ofstream(folder.folder / "bad.xml") << "<PROGRAM><H1>";
    fs::create_directories(folder.folder / "bare");
    fs::copy_file(folder.plugin(), folder.folder / "bare/Vorlan3.so");
    struct Row {
        std::string arguments;
        std::string named; // the line names this
    };
    const std::string plugin = "--plugin " + quoted(folder.plugin()) + " ";
    const Row rows[] = {
        {"--plugin " + quoted(folder.folder / "none.so") + " " + quoted(input) + " " + quoted(output), "none.so"},
        {"--plugin " + quoted(NO_ENTRY_LIBRARY) + " " + quoted(input) + " " + quoted(output), "NoEntry.so"},
        {"--plugin " + quoted(folder.folder / "text.so") + " " + quoted(input) + " " + quoted(output), "text.so"},
        {"--plugin " + quoted(folder.folder / "bare/Vorlan3.so") + " " + quoted(input) + " " + quoted(output),
         "Vorlan3.so"},
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
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments);
        const Outcome outcome = runRender(row.arguments);
        EXPECT_GT(outcome.status, 0) << outcome.errors;
        const std::string first = outcome.errors.substr(0, outcome.errors.find('\n'));
        EXPECT_NE(first.find(row.named), std::string::npos) << outcome.errors;
    }
}

TEST_F(CoreRndrTest, AProgramFileThatDoesNotLoadIsRefusedAndNoOutputIsWritten) {
    const std::string input = folder.folder / "in.wav";
    writeWav(input, 2, noise(4410));
    std::ofstream(folder.folder / "text.xml") << "a plain text, no program";
    std::ofstream(folder.folder / "empty.xml");
    writeWav(folder.folder / "take.wav", 1, noise(100));
    std::ofstream(folder.folder / "master.xml") << "<MASTER><DATAPATH>demo/</DATAPATH></MASTER>";
    const fs::path temporary = folder.folder / "tmp";
    fs::create_directories(temporary);
    struct Row {
        std::string program;
        int status;
    };
    const Row rows[] = {
        {folder.folder / "text.xml", 1},   // plain text
        {folder.folder / "empty.xml", 1},  // an empty file
        {folder.folder / "take.wav", 1},   // a WAV
        {folder.folder / "master.xml", 1}, // XML whose root is not PROGRAM
        {folder.data("demo.xml"), 0},      // a program still renders
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.program);
        const std::string output = folder.folder / "out.wav";
        const Outcome outcome =
            runRender("--plugin " + quoted(folder.plugin()) + " --program " + quoted(row.program) + " " +
                          quoted(input) + " " + quoted(output),
                      temporary.string());
        EXPECT_EQ(outcome.status, row.status) << outcome.errors;
        EXPECT_EQ(fs::exists(output), row.status == 0);
        if (row.status != 0) {
            const std::string first = outcome.errors.substr(0, outcome.errors.find('\n'));
            EXPECT_NE(first.find(row.program + ": did not load"), std::string::npos) << outcome.errors;
        }
        fs::remove(output);
    }
    EXPECT_EQ(privateFolders(temporary), 0u);
}

TEST_F(CoreRndrTest, ARenderStoppedPartWayLeavesTheOldOutputAndItsFolderIsRemoved) {
    CoreDemo::writeUnit(folder.folder / "mine", "unit.xml", "ir/one.wav", "Mine", 64);
    const std::string input = folder.folder / "in.wav", output = folder.folder / "out.wav";
    writeWav(input, 2, noise(44100));
    const std::string old = readBytes(folder.data("input.wav"));
    const fs::path temporary = folder.folder / "tmp";
    fs::create_directories(temporary);
    const std::vector<std::string> arguments{"--plugin",  folder.plugin(),
                                             "--program", folder.folder / std::string("mine/unit.xml"),
                                             input,       output};
    const auto outputTemporaries = [&] {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(folder.folder.path))
            count += entry.path().filename().string().rfind("out.wav.", 0) == 0;
        return count;
    };
    struct Row {
        int signal;
        bool cleaned; // a kill leaves its folder to the next render
    };
    const Row rows[] = {{SIGTERM, true}, {SIGHUP, true}, {SIGINT, true}, {SIGKILL, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(strsignal(row.signal));
        writeBytes(output, old);
        RenderChild child(arguments, {"TMPDIR=" + temporary.string(), "VORLAN3_RENDER_TEST_PAUSE=2"});
        ASSERT_TRUE(child.waitFor("paused after 2 blocks")) << child.errors;
        const std::vector<fs::path> made = privateFolderList(temporary);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_TRUE(fs::equivalent(made[0] / "Vorlan3.so", folder.plugin()))
            << "the plug-in is linked, not copied";
        EXPECT_TRUE(readBytes(output) == old);
        kill(child.pid, row.signal);
        const int status = child.finish();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status << child.errors;
        EXPECT_TRUE(readBytes(output) == old) << "the render wrote over its output";
        if (row.cleaned) {
            EXPECT_NE(child.errors.find(output + ": not written"), std::string::npos) << child.errors;
            EXPECT_EQ(privateFolders(temporary), 0u);
            EXPECT_EQ(outputTemporaries(), 0u);
        } else {
            EXPECT_EQ(privateFolders(temporary), 1u);
        }
    }
    // The next render removes the killed one's folder and replaces the output once it is complete.
    const Outcome outcome = runRender("--plugin " + quoted(folder.plugin()) + " --program " +
                                          quoted(arguments[3]) + " " + quoted(input) + " " + quoted(output),
                                      temporary.string());
    ASSERT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_EQ(samples(output).size(), samples(input).size());
    EXPECT_EQ(privateFolders(temporary), 0u);
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
