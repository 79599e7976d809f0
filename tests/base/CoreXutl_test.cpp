// Tests of the POSIX helpers: wall clocks against the system, whole-file copies that keep data and
// permissions or leave the target whole, one-line files replaced whole or the failure logged, and
// concurrent replacements that leave one whole line, and replacements over every kind of target a
// user has (protected files, links, pipes, devices, long names, shared folders, mounts, other writers'
// temporaries).
#include "base/CoreXutl.h"
#include "tests/common/FileHolder.h"
#include "tests/common/LogCapture.h"
#include "tests/common/Unprivileged.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <map>
#include <fcntl.h>
#include <linux/fs.h>
#include <set>
#include <cstring>
#include <memory>
#include <optional>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <thread>
#include <utility>

// Shims over two system calls, for what this machine cannot be made to do: a file system without
// advisory locks (flock answers lockFailure while it is set), and the mode a file had when it was
// first given another (what anyone could open it with until then).
namespace {
std::atomic<int> lockFailure{0};
std::atomic<int> modeBeforeFirstChange{-1};
} // namespace

extern "C" int flock(int fd, int operation) noexcept {
    if (const int failure = lockFailure.load()) {
        errno = failure;
        return -1;
    }
    return static_cast<int>(syscall(SYS_flock, fd, operation));
}

extern "C" int fchmod(int fd, mode_t mode) noexcept {
    struct stat before {};
    int unseen = -1;
    if (fstat(fd, &before) == 0) modeBeforeFirstChange.compare_exchange_strong(unseen, int(before.st_mode & 07777));
    return static_cast<int>(syscall(SYS_fchmod, fd, mode));
}

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

// A temporary of name as this system once named them, which a user's file may be named like.
std::string temporaryOf(const std::string& name, const std::string& pid, const std::string& counter) {
    const std::string suffix = ".tmp" + pid + "-" + counter;
    return (name.size() + suffix.size() <= NAME_MAX ? name : name.substr(0, NAME_MAX - suffix.size())) + suffix;
}

// A writer that was killed after its temporary was made: the temporary stays, its lock gone.
void leaveTemporary(const std::string& target) {
    const pid_t child = fork();
    if (child == 0) {
        std::string temporary;
        _exit(CoreXutl::tmpop(target.c_str(), temporary) ? 0 : 1);
    }
    waitpid(child, nullptr, 0);
}

// A process id that names no process here, for a writer in another process namespace to run under.
pid_t unusedProcessId() {
    pid_t id = 2;
    while (kill(id, 0) == 0 || errno != ESRCH) ++id;
    return id;
}

// A writer in a process namespace of its own, whose id there names no process here (as a container's
// writer in a shared folder), holding the temporary of target until finish. ready is empty when it
// cannot run here.
class WriterElsewhere {
public:
    WriterElsewhere(const std::string& target, const std::string& bytes) {
        const pid_t id = unusedProcessId();
        int readyPipe[2], goPipe[2];
        if (pipe(readyPipe) != 0 || pipe(goPipe) != 0) return;
        child = fork();
        if (child == 0) {
            close(readyPipe[0]);
            close(goPipe[1]);
            if (unshare(CLONE_NEWPID) != 0) _exit(say(readyPipe[1], "no process namespace can be made"));
            const pid_t first = fork(); // process 1 there
            if (first != 0) {
                int status = 0;
                waitpid(first, &status, 0);
                _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
            }
            for (pid_t made = 0; made < id;) { // ids are handed out in turn: the writer gets id
                made = fork();
                if (made == 0 && getpid() != id) _exit(0);
                if (made == 0) {
                    std::string temporary;
                    std::FILE* file = CoreXutl::tmpop(target.c_str(), temporary);
                    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
                        _exit(say(readyPipe[1], "the writer failed"));
                    say(readyPipe[1], "1");
                    char go = 0;
                    while (read(goPipe[0], &go, 1) > 0) {
                    }
                    _exit(CoreXutl::tmpcm(file, temporary, target.c_str()) ? 0 : 1);
                }
                if (made < 0) _exit(say(readyPipe[1], "no process can be made"));
                int status = 0;
                waitpid(made, &status, 0);
                if (made == id) _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
            }
            _exit(0);
        }
        close(readyPipe[1]);
        close(goPipe[0]);
        go = goPipe[1];
        char text[256] = {};
        if (read(readyPipe[0], text, sizeof text - 1) > 0) ready = text;
        close(readyPipe[0]);
    }
    // Lets the writer finish; true when its whole write succeeded.
    bool finish() {
        close(go);
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string ready;

private:
    static int say(int fd, const char* text) {
        return write(fd, text, std::strlen(text)) > 0 ? 1 : 1;
    }
    pid_t child = -1;
    int go = -1;
};

// What the open seam swaps in for the pipe: a file holding these bytes.
std::string swappedIn;
void swapPipeForFile(const char* path) {
    unlink(path);
    writeBytes(path, swappedIn);
}

// What the open seam swaps in for a file: a link to this pipe, which nobody reads.
std::string unreadPipe;
void swapFileForLinkToPipe(const char* path) {
    unlink(path);
    mkfifo(unreadPipe.c_str(), 0644);
    symlink(unreadPipe.c_str(), path);
}

// What the first writer that holds a file in place does there.
std::function<void()> whileHeld;
void runWhileHeld(const char*) {
    if (std::function<void()> action = std::exchange(whileHeld, nullptr)) action();
}

// A file's inode flags (chattr), with flag turned on or off first when one is given; -1 when they
// cannot be read or set.
int inodeFlags(const fs::path& path, int flag = 0, bool on = true) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int flags = -1;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && flag != 0) {
        flags = on ? flags | flag : flags & ~flag;
        if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) flags = -1;
    }
    if (fd >= 0) close(fd);
    return flags;
}

std::string trustedOrigin(const fs::path& path) {
    char value[64] = {};
    const ssize_t got = getxattr(path.c_str(), "trusted.origin", value, sizeof value - 1);
    return got > 0 ? std::string(value, size_t(got)) : "";
}

// Gives folder a default access list: owner rw, user 1234 rw, group r, mask rw, others nothing. Why it
// cannot, or empty.
std::string shareFolder(const fs::path& folder) {
    const uint32_t none = 0xFFFFFFFF, list[] = {2, 0x00060001, none, 0x00060002, 1234, 0x00040004, none,
                                                0x00060010, none, 0x00000020, none};
    if (setxattr(folder.c_str(), "system.posix_acl_default", list, sizeof list, 0) == 0) return "";
    return "no access list can be set here (" + std::string(std::strerror(errno)) + ")";
}

// Unmounts what a row mounted when the row ends, however it ends.
struct MountedFor {
    fs::path at;
    ~MountedFor() {
        if (!at.empty()) umount2(at.c_str(), MNT_DETACH);
    }
};

struct Ownership {
    uid_t owner;
    gid_t group;
    mode_t mode;
    std::string attribute; // user.origin
    bool operator==(const Ownership& other) const {
        return owner == other.owner && group == other.group && mode == other.mode && attribute == other.attribute;
    }
};

Ownership ownershipOf(const fs::path& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    char value[64] = {};
    const ssize_t got = getxattr(path.c_str(), "user.origin", value, sizeof value - 1);
    return {info.st_uid, info.st_gid, info.st_mode & 07777, got > 0 ? std::string(value, size_t(got)) : ""};
}

} // namespace

TEST_F(CoreXutl_Files, EveryKindOfTargetIsReplacedWholeWrittenInPlaceOrRefusedUntouched) {
    enum class Kind {
        File, Protected, Link, LinkChain, Dangling, LinkLoop, Pipe, PipeByNumber, SwappedPipe, Device, LongName,
        ClosedFolder, NewInClosedFolder, Leftovers, WriterElsewhere, PlantedLink, HardLinked, GroupShared,
        GroupMember, StickyForeign, BindMounted, DiskFull, DiskWithRoomForGrowth, SecondWriter, NoLocks,
        SwappedForLinkToPipe, Private, NewInSharedFolder, TrustedAttribute, InodeFlag, AppendOnly,
        LockedElsewhere, ReadElsewhere, LockedByCaller, Leased, NoAccessList, KilledAfterReservation
    };
    struct Row {
        const char* name;
        Kind kind;
        bool written;
        const char* reason;      // what a refusal says
        const char* targetKind;  // what the target's own entry is afterwards
        bool unprivileged = false;
    };
    const Row rows[] = {
        {"a writable file", Kind::File, true, "", "file"},
        {"a file the user may not write", Kind::Protected, false, "write-protected (Permission denied)", "file", true},
        {"a symbolic link", Kind::Link, true, "", "link"},
        {"a chain of links", Kind::LinkChain, true, "", "link"},
        {"a dangling link", Kind::Dangling, true, "", "link"},
        {"a loop of links", Kind::LinkLoop, false, "Too many levels of symbolic links", "link"},
        {"a named pipe", Kind::Pipe, true, "", "pipe"},
        {"a pipe by its descriptor's name", Kind::PipeByNumber, true, "", ""},
        {"a pipe swapped for a file before the open", Kind::SwappedPipe, false, "changed while it was opened", "file"},
        {"a device node", Kind::Device, true, "", "device"},
        {"a name of 255 bytes beside leftovers", Kind::LongName, true, "", "file"},
        {"a file in a folder the user may not write", Kind::ClosedFolder, true, "", "file", true},
        {"a new file in a folder the user may not write", Kind::NewInClosedFolder, false, "(Permission denied)",
         "missing", true},
        {"temporaries of ended writers, other users and other files", Kind::Leftovers, true, "", "file"},
        {"a living writer's temporary, from another process namespace", Kind::WriterElsewhere, true, "", "file"},
        {"a link another user planted in a sticky folder", Kind::PlantedLink, false,
         "is a link another user made in a shared folder; it was not followed", "link"},
        {"a file with a second name", Kind::HardLinked, true, "", "file"},
        {"another user's file in a group's folder", Kind::GroupShared, true, "", "file"},
        {"a group member's write to another member's file", Kind::GroupMember, true, "", "file", true},
        {"another user's writable file in a sticky folder", Kind::StickyForeign, true, "", "file", true},
        {"a file mounted over the target", Kind::BindMounted, true, "", "file"},
        {"a two-name file on a disk without room for its new length", Kind::DiskFull, false,
         "(No space left on device); it was left as it was", "file"},
        {"a two-name file on a disk with room for its growth but not for a copy", Kind::DiskWithRoomForGrowth,
         true, "", "file"},
        {"a second writer in place while the first holds the file", Kind::SecondWriter, true, "", "link"},
        {"a file system without locks", Kind::NoLocks, true, "", "file"},
        {"a two-name file swapped for a link to a pipe nobody reads", Kind::SwappedForLinkToPipe, false,
         "changed while it was opened", "link"},
        {"a file only its owner may read", Kind::Private, true, "", "file"},
        {"a new file in a folder with a default access list", Kind::NewInSharedFolder, true, "", "file"},
        {"a file with a trusted attribute", Kind::TrustedAttribute, true, "", "file"},
        {"a file with an inode flag", Kind::InodeFlag, true, "", "file"},
        {"an append-only file", Kind::AppendOnly, false, "may only be appended to; it was left as it was", "file"},
        {"a linked file another program holds locked", Kind::LockedElsewhere, false,
         "is locked by another program; it was left as it was", "link"},
        {"a linked file a reader holds a shared lock on", Kind::ReadElsewhere, false,
         "is locked by another program; it was left as it was", "link"},
        {"a linked file the calling process holds locked", Kind::LockedByCaller, true, "", "link"},
        {"a linked file another program holds a lease on", Kind::Leased, true, "", "link"},
        {"a file without an access list in a folder with a default one", Kind::NoAccessList, true, "",
         "file"},
        {"a two-name file whose writer is killed once its room is reserved", Kind::KilledAfterReservation,
         false, "", "file"},
    };
    const std::string shortOld = "the old bytes, longer than the new ones", shortNew = "new bytes";
    std::string older, newer, expected; // per row: what the target holds, is given and holds afterwards
    const bool root = geteuid() == 0;
    // The unprivileged child reaches the rows' folders and the copies' sources through root.
    fs::permissions(this->root, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    std::map<std::string, std::string> sources; // a copy's source for each content
    const auto sourceFor = [&](const std::string& bytes) {
        std::string& source = sources[bytes];
        if (source.empty()) {
            source = (this->root / ("source" + std::to_string(sources.size()))).string();
            writeBytes(source, bytes);
            fs::permissions(source, fs::perms::owner_all | fs::perms::others_read);
        }
        return source;
    };
    sourceFor(shortNew);
    struct Writer {
        const char* name;
        std::function<bool(const std::string&, const std::string&)> write;
    };
    const Writer writers[] = {
        {"whole", [&](const std::string& path, const std::string& bytes) { return replaceWhole(path, bytes); }},
        {"in pieces", [&](const std::string& path, const std::string& bytes) { return replaceInPieces(path, bytes); }},
        {"copied", [&](const std::string& path, const std::string& bytes) {
             return CoreXutl::cpyfl(sourceFor(bytes).c_str(), path.c_str(), false);
         }}};
    int folders = 0;
    for (const Row& row : rows)
        for (const Writer& writer : writers) {
            SCOPED_TRACE(std::string(row.name) + ", " + writer.name);
            const fs::path folder = this->root / std::to_string(folders++),
                           elsewhere = this->root / (std::to_string(folders) + "x");
            fs::create_directories(folder);
            std::string target = (folder / "out.wav").string();
            fs::path named = target;                         // the file the write lands in
            std::set<std::string> besideNamed = {"out.wav"}; // what its folder holds afterwards
            int reader = -1, writerEnd = -1;
            std::unique_ptr<WriterElsewhere> elsewhereWriter;
            std::optional<Ownership> kept; // owner, group, mode and attribute the target keeps
            gid_t group = 0;
            std::string skipped;
            older = shortOld;
            newer = expected = shortNew;
            MountedFor mounted;
            std::thread secondWriter;
            std::atomic<bool> secondWritten{false}, secondDone{false}, secondDoneWhileHeld{false};
            std::unique_ptr<FileHolder> holder; // another program holding the file
            int callersLock = -1;
            switch (row.kind) {
            case Kind::File:
            case Kind::Protected:
            case Kind::ClosedFolder:
                writeBytes(named, older);
                if (row.kind == Kind::Protected) fs::permissions(named, fs::perms::owner_read | fs::perms::others_read);
                break;
            case Kind::NewInClosedFolder:
                besideNamed.clear();
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
            case Kind::LinkLoop:
                fs::create_symlink("back.wav", target);
                fs::create_symlink("out.wav", folder / "back.wav");
                besideNamed.insert("back.wav");
                break;
            case Kind::Pipe:
            case Kind::SwappedPipe:
                ASSERT_EQ(mkfifo(target.c_str(), 0644), 0);
                reader = open(target.c_str(), O_RDONLY | O_NONBLOCK); // so the writer never waits
                ASSERT_GE(reader, 0);
                swappedIn = older;
                if (row.kind == Kind::SwappedPipe) CoreXutl::setOpenSeam(swapPipeForFile);
                break;
            case Kind::PipeByNumber: {
                int ends[2];
                ASSERT_EQ(pipe(ends), 0);
                reader = ends[0];
                writerEnd = ends[1];
                fcntl(reader, F_SETFL, O_NONBLOCK);
                target = "/dev/fd/" + std::to_string(writerEnd);
                besideNamed.clear();
                break;
            }
            case Kind::Device:
                if (mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) skipped = "no device node can be made here";
                break;
            case Kind::LongName:
            case Kind::Leftovers: {
                const std::string name =
                    row.kind == Kind::LongName ? std::string(NAME_MAX - 4, 'n') + ".wav" : "out.wav";
                target = (folder / name).string();
                named = target;
                // The user's own files named as this system once named its temporaries, another
                // target's temporary and another user's stay; this user's ended writers' go.
                const std::string dead = std::to_string(endedProcess());
                besideNamed = {name, temporaryOf(name, dead, "1"), temporaryOf(name, dead, "12345678"),
                               temporaryOf(name, dead, "3x")};
                for (const std::string& kept : besideNamed) writeBytes(folder / kept, older);
                leaveTemporary((folder / "other.wav").string());
                if (root) leaveTemporary(target);
                for (const std::string& entry : names(folder))
                    if (besideNamed.insert(entry).second && entry.find("other.wav") == std::string::npos)
                        lchown((folder / entry).c_str(), unprivilegedId, unprivilegedId); // another user's
                leaveTemporary(target);
                EXPECT_EQ(names(folder).size(), besideNamed.size() + 1);
                break;
            }
            case Kind::WriterElsewhere:
                writeBytes(named, older);
                elsewhereWriter = std::make_unique<WriterElsewhere>(target, newer);
                if (elsewhereWriter->ready != "1") skipped = elsewhereWriter->ready.empty() ? "no writer" : elsewhereWriter->ready;
                break;
            case Kind::PlantedLink: { // a root-only file in a closed folder, the link to it in a sticky one
                if (!root) {
                    skipped = "another user's link needs root to plant";
                    break;
                }
                fs::create_directories(elsewhere);
                fs::permissions(elsewhere, fs::perms::owner_all);
                named = elsewhere / "secret";
                besideNamed = {"secret"};
                writeBytes(named, older);
                fs::permissions(named, fs::perms::owner_read | fs::perms::owner_write);
                fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
                const UnprivilegedOutcome planted = runUnprivileged(folder, [&] {
                    return std::to_string(symlink(named.c_str(), target.c_str()));
                });
                if (!planted.skipped.empty() || planted.text != "0") skipped = "the link cannot be planted here";
                break;
            }
            case Kind::HardLinked:
                writeBytes(named, older);
                fs::create_hard_link(named, folder / "second name");
                besideNamed.insert("second name");
                break;
            case Kind::GroupShared:
            case Kind::GroupMember: // the file of user 1234 of group 5000, in the group's folder
                if (!root) {
                    skipped = "another user's file needs root to make";
                    break;
                }
                writeBytes(named, older);
                group = 5000;
                lchown(folder.c_str(), 1234, group);
                chmod(folder.c_str(), 02775);
                lchown(named.c_str(), 1234, group);
                chmod(named.c_str(), 0664);
                if (setxattr(named.c_str(), "user.origin", "take 3", 6, 0) != 0) skipped = "no user attributes here";
                kept = ownershipOf(named);
                break;
            case Kind::StickyForeign:
                writeBytes(named, older);
                chmod(named.c_str(), 0666);
                fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
                kept = ownershipOf(named);
                break;
            case Kind::BindMounted:
                fs::create_directories(elsewhere);
                writeBytes(elsewhere / "volume.wav", older);
                writeBytes(named, "under the mount");
                if (mount((elsewhere / "volume.wav").c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
                    skipped = "no bind mount can be made here (" + std::string(std::strerror(errno)) + ")";
                break;
            case Kind::DiskFull:
            case Kind::DiskWithRoomForGrowth: { // a small disk of its own, its free room measured out
                if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=600k") != 0) {
                    skipped = "no file system can be mounted here (" + std::string(std::strerror(errno)) + ")";
                    break;
                }
                mounted.at = folder;
                older = std::string(200000, 'o');
                newer = expected = std::string(300000, 'n');
                sourceFor(newer);
                writeBytes(named, older);
                fs::create_hard_link(named, folder / "second name");
                struct statvfs disk {};
                statvfs(folder.c_str(), &disk);
                const size_t room = row.kind == Kind::DiskFull ? 40000 : 160000; // the growth is 100000
                writeBytes(folder / "filler", std::string(disk.f_bavail * disk.f_frsize - room, 'f'));
                besideNamed = {"out.wav", "second name", "filler"};
                break;
            }
            case Kind::SecondWriter: // through a link, so that both write in place
                fs::create_directories(elsewhere);
                named = elsewhere / "real.wav";
                besideNamed = {"real.wav"};
                writeBytes(named, older);
                fs::create_symlink(named, target);
                expected = "the second writer's bytes";
                sourceFor(expected);
                whileHeld = [&, target] {
                    secondWriter = std::thread([&, target] {
                        secondWritten = writer.write(target, expected);
                        secondDone = true;
                    });
                    for (int wait = 0; wait < 30 && !secondDone; ++wait)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    secondDoneWhileHeld = secondDone.load();
                };
                CoreXutl::setHeldSeam(runWhileHeld);
                break;
            case Kind::NoLocks:
                writeBytes(named, older);
                lockFailure = ENOLCK;
                break;
            case Kind::LockedElsewhere:
            case Kind::ReadElsewhere:
            case Kind::LockedByCaller:
            case Kind::Leased: { // through a link, so that the file is written in place
                fs::create_directories(elsewhere);
                named = elsewhere / "real.wav";
                besideNamed = {"real.wav"};
                writeBytes(named, older);
                fs::create_symlink(named, target);
                CoreXutl::setLockWait(300);
                if (row.kind == Kind::LockedByCaller) {
                    callersLock = open(named.c_str(), O_RDONLY | O_CLOEXEC);
                    if (callersLock < 0 || flock(callersLock, LOCK_EX) != 0)
                        skipped = "the file cannot be locked here";
                    break;
                }
                const FileHolder::Hold hold = row.kind == Kind::Leased       ? FileHolder::Hold::lease
                                              : row.kind == Kind::ReadElsewhere ? FileHolder::Hold::sharedLock
                                                                                : FileHolder::Hold::lock;
                holder = std::make_unique<FileHolder>(named, hold);
                skipped = holder->refused;
                break;
            }
            case Kind::NoAccessList: // the file made before its folder had the list, then closed to others
                writeBytes(named, older);
                chmod(named.c_str(), 0640);
                kept = ownershipOf(named);
                skipped = shareFolder(folder);
                break;
            case Kind::KilledAfterReservation:
                older = std::string(100000, 'o');
                newer = std::string(150000, 'n');
                sourceFor(newer);
                writeBytes(named, older);
                fs::create_hard_link(named, folder / "second name");
                besideNamed.insert("second name");
                break;
            case Kind::SwappedForLinkToPipe:
                writeBytes(named, older);
                fs::create_hard_link(named, folder / "second name");
                named = folder / "second name";
                besideNamed = {"out.wav", "second name", "pipe"};
                unreadPipe = (folder / "pipe").string();
                CoreXutl::setOpenSeam(swapFileForLinkToPipe);
                break;
            case Kind::Private:
                writeBytes(named, older);
                chmod(named.c_str(), 0600);
                kept = ownershipOf(named);
                modeBeforeFirstChange = -1;
                break;
            case Kind::NewInSharedFolder:
                skipped = shareFolder(folder);
                break;
            case Kind::TrustedAttribute:
                writeBytes(named, older);
                if (setxattr(named.c_str(), "trusted.origin", "take 3", 6, 0) != 0)
                    skipped = "no trusted attribute can be set here (" + std::string(std::strerror(errno)) + ")";
                break;
            case Kind::InodeFlag:
            case Kind::AppendOnly:
                writeBytes(named, older);
                if (inodeFlags(named, row.kind == Kind::InodeFlag ? FS_NOATIME_FL : FS_APPEND_FL) < 0)
                    skipped = "no inode flag can be set here (" + std::string(std::strerror(errno)) + ")";
                break;
            }
            if (!skipped.empty()) {
                std::cout << row.name << " row skipped: " << skipped << "\n";
                continue;
            }
            bool written = false;
            std::string reason;
            if (row.unprivileged) {
                if (row.kind != Kind::GroupMember && row.kind != Kind::StickyForeign) handToUnprivileged(folder);
                if (row.kind == Kind::ClosedFolder || row.kind == Kind::NewInClosedFolder)
                    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_exec);
                const UnprivilegedOutcome outcome = runUnprivileged(folder, [&] {
                    const bool done = writer.write(target, newer);
                    return std::string(done ? "1" : "0") + CoreXutl::lastWriteFailure();
                }, group);
                if (row.kind == Kind::ClosedFolder || row.kind == Kind::NewInClosedFolder)
                    fs::permissions(folder, fs::perms::owner_all);
                if (!outcome.skipped.empty()) {
                    std::cout << row.name << " row skipped: " << outcome.skipped << "\n";
                    continue;
                }
                ASSERT_FALSE(outcome.text.empty());
                written = outcome.text[0] == '1';
                reason = outcome.text.substr(1);
            } else if (row.kind == Kind::KilledAfterReservation) {
                const pid_t child = fork();
                if (child == 0) {
                    CoreXutl::setHeldSeam([](const char*) { raise(SIGKILL); });
                    _exit(writer.write(target, newer) ? 0 : 1);
                }
                int status = 0;
                waitpid(child, &status, 0);
                EXPECT_TRUE(WIFSIGNALED(status)) << "the writer was not held once its room was reserved";
                written = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            } else {
                written = writer.write(target, newer);
                reason = CoreXutl::lastWriteFailure();
            }
            CoreXutl::setOpenSeam(nullptr);
            CoreXutl::setHeldSeam(nullptr);
            CoreXutl::setLockWait(0);
            lockFailure = 0;
            if (callersLock >= 0) close(callersLock);
            if (holder) {
                EXPECT_TRUE(holder->end()) << "the holder did not hold the file, or was not asked for its lease";
            }
            if (row.kind == Kind::NoAccessList) {
                EXPECT_LT(getxattr(named.c_str(), "system.posix_acl_access", nullptr, 0), 0)
                    << "the file took its folder's access list";
            }
            if (row.kind == Kind::AppendOnly) inodeFlags(named, FS_APPEND_FL, false);
            if (secondWriter.joinable()) {
                secondWriter.join();
                EXPECT_TRUE(secondWritten) << "the second writer failed";
                EXPECT_FALSE(secondDoneWhileHeld) << "the second writer wrote while the first held the file";
            }
            if (row.kind == Kind::Private) {
                EXPECT_EQ(modeBeforeFirstChange, 0600) << "a temporary was open to others before it took the mode";
            }
            if (row.kind == Kind::NewInSharedFolder && std::string(writer.name) != "copied") {
                EXPECT_EQ(ownershipOf(named).mode, 0660u) << "the folder's access list was not followed";
            }
            if (row.kind == Kind::TrustedAttribute) {
                EXPECT_EQ(trustedOrigin(named), "take 3");
            }
            if (row.kind == Kind::InodeFlag) {
                EXPECT_TRUE(inodeFlags(named) & FS_NOATIME_FL) << "the inode flag was dropped";
            }
            EXPECT_EQ(written, row.written) << reason;
            EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
            if (row.kind == Kind::NewInClosedFolder) {
                EXPECT_NE(reason.find(folder.string()), std::string::npos) << reason;
            }
            if (elsewhereWriter) {
                EXPECT_TRUE(elsewhereWriter->finish()) << "the other writer's temporary was taken from it";
            }
            if (kept) {
                Ownership now = ownershipOf(named);
                if (std::string(writer.name) == "copied") now.mode = kept->mode; // a copy takes its source's
                EXPECT_TRUE(now == *kept) << "owner, group, mode or attribute changed";
            }
            if (row.kind == Kind::BindMounted) {
                EXPECT_EQ(readBytes(named), newer);
                umount2(target.c_str(), MNT_DETACH);
                named = elsewhere / "volume.wav";
                besideNamed = {"volume.wav"};
            }
            if (*row.targetKind) {
                EXPECT_EQ(entryKind(target), row.targetKind);
            }
            if (reader >= 0) {
                EXPECT_EQ(names(folder), besideNamed);
                char got[256] = {};
                const ssize_t count = read(reader, got, sizeof got);
                if (row.written) {
                    EXPECT_EQ(count, ssize_t(expected.size()));
                    EXPECT_EQ(std::string(got), expected);
                } else {
                    EXPECT_LE(count, 0);
                }
                close(reader);
                if (writerEnd >= 0) close(writerEnd);
                if (row.written) continue;
            }
            if (row.kind == Kind::Device) continue;
            if (row.kind == Kind::NewInClosedFolder || row.kind == Kind::LinkLoop) {
                EXPECT_EQ(names(folder), besideNamed);
                continue;
            }
            EXPECT_EQ(entryKind(named), "file");
            EXPECT_TRUE(readBytes(named) == (row.written ? expected : older)) << "the file holds other bytes";
            EXPECT_EQ(names(named.parent_path()), besideNamed);
            if (row.kind == Kind::HardLinked || row.kind == Kind::DiskFull ||
                row.kind == Kind::DiskWithRoomForGrowth || row.kind == Kind::KilledAfterReservation) {
                EXPECT_TRUE(readBytes(folder / "second name") == (row.written ? expected : older))
                    << "the second name holds other bytes";
            }
        }
}
