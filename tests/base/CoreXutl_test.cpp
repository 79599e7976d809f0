// Tests of the POSIX helpers: wall clocks against the system, whole-file copies that keep data and
// permissions or leave the target whole, one-line files replaced whole or the failure logged, and
// concurrent replacements that leave one whole line, and replacements over every kind of target a
// user has (protected files, links, pipes, devices, long names, leftovers of ended writers).
#include "base/CoreXutl.h"
#include "tests/common/LogCapture.h"
#include "tests/common/Unprivileged.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <functional>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

namespace fs = std::filesystem;

class CoreXutl_Files : public TempFolderTest {
protected:
    std::string path(const std::string& name) const { return (root / name).string(); }
    long entries() const { return long(std::distance(fs::directory_iterator(root), {})); }
};

TEST(CoreXutl, ClocksAgreeWithTheSystem) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(CoreXutl::ttime() * 86400.0, seconds, 1.0);
    EXPECT_NEAR(CoreXutl::tgtme() / 1000.0, seconds, 1.0);
}

TEST_F(CoreXutl_Files, CopyKeepsDataAndPermissionsAndAFailedCopyLeavesTheTargetWhole) {
    std::string data(200000, '\0'); // more than one read chunk, with NUL bytes
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 % 251);
    writeBytes(path("from.bin"), data);
    fs::permissions(path("from.bin"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    writeBytes(path("to.bin"), "old, longer than nothing");
    EXPECT_TRUE(CoreXutl::cpyfl(path("from.bin").c_str(), path("to.bin").c_str(), false));
    EXPECT_EQ(readBytes(path("to.bin")), data);
    EXPECT_EQ(fs::status(path("to.bin")).permissions(), fs::status(path("from.bin")).permissions());
    writeBytes(path("to.bin"), "precious");
    fs::create_directory(path("dir"));
    const std::string failing[][2] = {{path("missing"), path("to.bin")},
                                      {root.string(), path("to.bin")},
                                      {path("from.bin"), path("dir")},
                                      {path("from.bin"), path("nowhere/to.bin")}};
    for (const auto& f : failing)
        EXPECT_FALSE(CoreXutl::cpyfl(f[0].c_str(), f[1].c_str(), true)) << f[0] << " " << f[1];
    EXPECT_EQ(readBytes(path("to.bin")), "precious");
    EXPECT_EQ(entries(), 3); // no temporary file left behind
}

TEST_F(CoreXutl_Files, AOneLineFileIsReplacedWholeKeepingPermissionsOrTheFailureIsLogged) {
    writeBytes(path("state"), "a much longer earlier content\nsecond line\n");
    fs::permissions(path("state"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(CoreXutl::lgexc(path("state").c_str(), "42", false));
    EXPECT_TRUE(CoreXutl::lgexc(path("fresh").c_str(), nullptr, true));
    EXPECT_EQ(readBytes(path("state")) + readBytes(path("fresh")), "42\n\n");
    EXPECT_EQ(fs::status(path("state")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    LogCapture log(1);
    fs::create_directory(path("target"));
    for (const char* target : {"target", "nowhere/file"}) {
        EXPECT_FALSE(CoreXutl::lgexc(path(target).c_str(), "text", false));
        EXPECT_NE(log.text().find(path(target)), std::string::npos) << target;
    }
    EXPECT_FALSE(CoreXutl::lgexc(nullptr, "text", false));
    EXPECT_TRUE(fs::is_directory(path("target")));
    EXPECT_EQ(entries(), 3);
}

TEST_F(CoreXutl_Files, ConcurrentReplacementsLeaveOneWholeLine) {
    const std::string shared = path("shared");
    std::vector<std::thread> writers;
    std::set<std::string> lines;
    for (char c = 'a'; c < 'i'; ++c) {
        const std::string line(1000, c);
        lines.insert(line + "\n");
        writers.emplace_back([shared, line] {
            for (int i = 0; i < 50; ++i) EXPECT_TRUE(CoreXutl::lgexc(shared.c_str(), line.c_str(), false));
        });
    }
    for (std::thread& w : writers) w.join();
    EXPECT_EQ(lines.count(readBytes(shared)), 1u);
    EXPECT_EQ(entries(), 1);
}

namespace {

// The three ways a file is replaced: whole, piece by piece, and as a copy of another file.
bool replaceWhole(const std::string& path, const std::string& bytes) {
    return CoreXutl::rplfl(path.c_str(), bytes.data(), bytes.size(), false);
}

bool replaceInPieces(const std::string& path, const std::string& bytes) {
    std::string temporary;
    std::FILE* file = CoreXutl::tmpop(path.c_str(), temporary);
    if (!file) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size())
        return CoreXutl::tmpcm(file, temporary, path.c_str());
    CoreXutl::tmpab(file, temporary);
    return false;
}

std::string entryKind(const fs::path& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return "missing";
    if (S_ISLNK(info.st_mode)) return "link";
    if (S_ISFIFO(info.st_mode)) return "pipe";
    if (S_ISCHR(info.st_mode)) return "device";
    return S_ISREG(info.st_mode) ? "file" : "other";
}

std::set<std::string> names(const fs::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.insert(entry.path().filename().string());
    return found;
}

pid_t endedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// A writer's temporary of name, as a writer with that process id and counter names it.
std::string temporaryOf(const std::string& name, const std::string& pid, const std::string& counter) {
    const std::string suffix = ".tmp" + pid + "-" + counter;
    return (name.size() + suffix.size() <= NAME_MAX ? name : name.substr(0, NAME_MAX - suffix.size())) + suffix;
}

} // namespace

TEST_F(CoreXutl_Files, EveryKindOfTargetIsReplacedWholeWrittenInPlaceOrRefusedUntouched) {
    enum class Kind { File, Protected, Link, LinkChain, Dangling, Pipe, Device, LongName, ClosedFolder, Leftovers };
    struct Row {
        const char* name;
        Kind kind;
        bool written;
        const char* reason;      // what a refusal says
        const char* targetKind;  // what the target's own entry is afterwards
    };
    const Row rows[] = {
        {"a writable file", Kind::File, true, "", "file"},
        {"a file the user may not write", Kind::Protected, false, "write-protected (Permission denied)", "file"},
        {"a symbolic link", Kind::Link, true, "", "link"},
        {"a chain of links", Kind::LinkChain, true, "", "link"},
        {"a dangling link", Kind::Dangling, true, "", "link"},
        {"a named pipe", Kind::Pipe, true, "", "pipe"},
        {"a device node", Kind::Device, true, "", "device"},
        {"a name of 255 bytes beside leftovers", Kind::LongName, true, "", "file"},
        {"a folder the user may not write", Kind::ClosedFolder, false, "(Permission denied)", "file"},
        {"temporaries of ended and living writers", Kind::Leftovers, true, "", "file"},
    };
    const std::string older = "the old bytes, longer than the new ones", newer = "new bytes";
    const std::string dead = std::to_string(endedProcess()), living = std::to_string(getppid());
    // The unprivileged child reaches the rows' folders and the copies' source through root.
    fs::permissions(root, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    writeBytes(root / "source", newer);
    fs::permissions(root / "source", fs::perms::owner_all | fs::perms::others_read);
    const std::string source = (root / "source").string();
    struct Writer {
        const char* name;
        std::function<bool(const std::string&)> write;
    };
    const Writer writers[] = {
        {"whole", [&](const std::string& path) { return replaceWhole(path, newer); }},
        {"in pieces", [&](const std::string& path) { return replaceInPieces(path, newer); }},
        {"copied", [&](const std::string& path) { return CoreXutl::cpyfl(source.c_str(), path.c_str(), false); }}};
    int folders = 0;
    for (const Row& row : rows)
        for (const Writer& writer : writers) {
            SCOPED_TRACE(std::string(row.name) + ", " + writer.name);
            const fs::path folder = root / std::to_string(folders++), elsewhere = root / (std::to_string(folders) + "x");
            fs::create_directories(folder);
            std::string target = (folder / "out.wav").string();
            fs::path named = target;                         // the file the write lands in
            std::set<std::string> besideNamed = {"out.wav"}; // what its folder holds afterwards
            int reader = -1;
            switch (row.kind) {
            case Kind::File:
            case Kind::Protected:
            case Kind::ClosedFolder:
                writeBytes(named, older);
                if (row.kind == Kind::Protected) fs::permissions(named, fs::perms::owner_read | fs::perms::others_read);
                break;
            case Kind::Link:
            case Kind::LinkChain:
            case Kind::Dangling:
                fs::create_directories(elsewhere);
                named = elsewhere / "real.wav";
                besideNamed = {"real.wav"};
                if (row.kind != Kind::Dangling) writeBytes(named, older);
                if (row.kind == Kind::LinkChain) { // relative and absolute links, across folders
                    fs::create_symlink("real.wav", elsewhere / "second");
                    fs::create_symlink(elsewhere / "second", folder / "middle");
                    fs::create_symlink("middle", target);
                    besideNamed.insert("second");
                } else {
                    fs::create_symlink(fs::path("..") / elsewhere.filename() / "real.wav", target);
                }
                break;
            case Kind::Pipe:
                ASSERT_EQ(mkfifo(target.c_str(), 0644), 0);
                reader = open(target.c_str(), O_RDONLY | O_NONBLOCK); // so the writer never waits
                ASSERT_GE(reader, 0);
                break;
            case Kind::Device:
                if (mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) { // the null device
                    std::cout << "device row skipped: no device node can be made here\n";
                    continue;
                }
                break;
            case Kind::LongName:
            case Kind::Leftovers: {
                const std::string name =
                    row.kind == Kind::LongName ? std::string(NAME_MAX - 4, 'n') + ".wav" : "out.wav";
                target = (folder / name).string();
                named = target;
                writeBytes(named, older);
                // An ended writer's temporaries of this target go; a living writer's, and another
                // target's, stay.
                writeBytes(folder / temporaryOf(name, dead, "1"), older);
                writeBytes(folder / temporaryOf(name, dead, "12345678"), older);
                besideNamed = {name, temporaryOf(name, living, "2"), temporaryOf("other.wav", dead, "1"),
                               temporaryOf(name, dead, "3x")};
                for (const std::string& kept : besideNamed)
                    if (kept != name) writeBytes(folder / kept, older);
                break;
            }
            }
            bool written = false;
            std::string reason;
            if (row.kind == Kind::Protected || row.kind == Kind::ClosedFolder) {
                handToUnprivileged(folder);
                if (row.kind == Kind::ClosedFolder)
                    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_exec);
                const UnprivilegedOutcome outcome = runUnprivileged(folder, [&] {
                    const bool done = writer.write(target);
                    return std::string(done ? "1" : "0") + CoreXutl::lastWriteFailure();
                });
                fs::permissions(folder, fs::perms::owner_all);
                if (!outcome.skipped.empty()) {
                    std::cout << row.name << " row skipped: " << outcome.skipped << "\n";
                    continue;
                }
                ASSERT_FALSE(outcome.text.empty());
                written = outcome.text[0] == '1';
                reason = outcome.text.substr(1);
            } else {
                written = writer.write(target);
                reason = CoreXutl::lastWriteFailure();
            }
            EXPECT_EQ(written, row.written) << reason;
            EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
            if (row.kind == Kind::ClosedFolder) {
                EXPECT_NE(reason.find(folder.string()), std::string::npos) << reason;
            }
            EXPECT_EQ(entryKind(target), row.targetKind);
            if (row.kind == Kind::Pipe || row.kind == Kind::Device) {
                EXPECT_EQ(names(folder), std::set<std::string>{"out.wav"});
                if (reader >= 0) {
                    char got[256] = {};
                    EXPECT_EQ(read(reader, got, sizeof got), ssize_t(newer.size()));
                    EXPECT_EQ(std::string(got), newer);
                    close(reader);
                }
                continue;
            }
            EXPECT_EQ(entryKind(named), "file");
            EXPECT_EQ(readBytes(named), row.written ? newer : older);
            EXPECT_EQ(names(named.parent_path()), besideNamed);
        }
}
