#include "base/CoreXutl.h"

#include "base/CoreAnsx.h"
#include "base/CoreLog_.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>
#include <utility>
#include <vector>

const double CoreXutl::dVtdatetimeconst = 1.0 / 86400.0;

double CoreXutl::tgtme() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_usec) * 0.001;
}

double CoreXutl::tmono() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) * 1e-6;
}

namespace {
std::atomic<double (*)()> dayClock{nullptr};
} // namespace

void CoreXutl::setDayClock(double (*clock)()) {
    dayClock.store(clock);
}

double CoreXutl::ttime() {
    if (double (*clock)() = dayClock.load()) return clock();
    timeval now{};
    gettimeofday(&now, nullptr);
    return (static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) * 0.000001) * dVtdatetimeconst;
}

void CoreXutl::sleep(int ms) {
    if (ms <= 0) return;
    timespec remaining{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    // A signal cuts a sleep short; carry on with what is left so callers always
    // wait the full time.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

int CoreXutl::getpi() {
    return static_cast<int>(getpid());
}

unsigned long CoreXutl::getti() {
    return static_cast<unsigned long>(pthread_self());
}

bool CoreXutl::pidlv(int pid) {
    if (pid < 1) return true;
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

int CoreXutl::delfl(const char* path) {
    if (!path) return -1;
    return unlink(path) == 0 ? 0 : -1;
}

int CoreXutl::crdir(const char* path) {
    if (!path) return -1;
    return mkdir(path, 0775) == 0 ? 0 : -1;
}

bool CoreXutl::ispvl(const char* path) {
    if (!path) return false;
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// Why the calling thread's last replacement failed, for callers that report it.
thread_local std::string lastFailure;

std::atomic<void (*)(const char*)> openSeam{nullptr};
std::atomic<void (*)(const char*)> heldSeam{nullptr};

// How long a write waits for another program's lock on its file, in milliseconds.
constexpr int defaultLockWait = 30000;
std::atomic<int> lockWait{defaultLockWait};

bool failWith(const std::string& reason) {
    lastFailure = reason;
    return false;
}

std::string systemReason() {
    return std::strerror(errno);
}

// A step that failed with errno set, unless an earlier one already said why.
bool stepFailed(const std::string& path, const char* step) {
    if (lastFailure.empty()) failWith(path + ": " + step + " failed (" + systemReason() + ")");
    return false;
}

// The folder part of a path ("." for a bare name) and the name part.
std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// How a target is written, decided before any of its bytes are.
enum class Route {
    Rename,  // a complete temporary beside it goes over it
    InPlace, // the existing file (or the file a dangling link names) gets the complete content
    Stream,  // a pipe, a device or a socket, written as the bytes come
};

// The path stays as the caller gave it: the kernel resolves its links, with its own protections.
struct Target {
    std::string path, folder, name;
    Route route = Route::Rename;
    bool exists = false; // what stat saw is there
    bool link = false;   // what lstat saw at the path was a link
    struct stat seen {};
};

// The kernel's rule for links in shared folders, applied whatever the machine's setting: in a sticky
// folder anyone may write, only a link of the caller's or of the folder's owner is followed.
bool mayFollow(const std::string& folder, const struct stat& link) {
    struct stat shared {};
    if (stat(folder.c_str(), &shared) != 0) return true; // the open then fails with the folder's reason
    const bool stickyAndOpen = (shared.st_mode & S_ISVTX) && (shared.st_mode & S_IWOTH);
    return !stickyAndOpen || link.st_uid == geteuid() || link.st_uid == shared.st_uid;
}

// The mount a file or folder lies on; a file bind-mounted over another cannot be renamed over.
bool sameMount(const std::string& file, const std::string& folder, const struct stat& fileInfo) {
    struct stat folderInfo {};
    if (stat(folder.c_str(), &folderInfo) != 0 || folderInfo.st_dev != fileInfo.st_dev) return false;
    struct statx fileMount {}, folderMount {};
    if (statx(AT_FDCWD, file.c_str(), 0, STATX_MNT_ID, &fileMount) != 0 ||
        statx(AT_FDCWD, folder.c_str(), 0, STATX_MNT_ID, &folderMount) != 0 ||
        !(fileMount.stx_mask & folderMount.stx_mask & STATX_MNT_ID))
        return true; // an older kernel: the device is all that can be compared
    return fileMount.stx_mnt_id == folderMount.stx_mnt_id;
}

// Everything before any work: what the path names, whether it may be written, and how.
bool prepareTarget(const char* path, Target& target) {
    lastFailure.clear();
    if (!path || !*path) return failWith("no file name");
    target.path = path;
    target.folder = folderOf(target.path);
    target.name = nameOf(target.path);
    struct stat entry {};
    if (lstat(path, &entry) != 0) {
        if (errno != ENOENT) return failWith(target.path + ": " + systemReason());
        return true; // a new file
    }
    const bool link = target.link = S_ISLNK(entry.st_mode);
    if (link && !mayFollow(target.folder, entry))
        return failWith(target.path + " is a link another user made in a shared folder; it was not followed");
    if (stat(path, &target.seen) != 0) {
        if (!link || errno != ENOENT) return failWith(target.path + ": " + systemReason());
        target.route = Route::InPlace; // a dangling link: the file it names is created, the link stays
        return true;
    }
    target.exists = true;
    if (S_ISDIR(target.seen.st_mode)) return failWith(target.path + " is a folder");
    // access judges by the real ids, as an open would for a program that is not set-uid; unlike
    // faccessat with AT_EACCESS it needs no faccessat2, which some sandboxes refuse.
    if (access(path, W_OK) != 0)
        return failWith(target.path + " is write-protected (" + systemReason() + "); it was left as it was");
    // Not even root may rewrite these; a caller learns it before producing anything.
    struct statx attributes {};
    if (S_ISREG(target.seen.st_mode) && statx(AT_FDCWD, path, 0, STATX_BASIC_STATS, &attributes) == 0) {
        const uint64_t known = attributes.stx_attributes_mask & attributes.stx_attributes;
        if (known & STATX_ATTR_IMMUTABLE) return failWith(target.path + " is immutable; it was left as it was");
        if (known & STATX_ATTR_APPEND)
            return failWith(target.path + " may only be appended to; it was left as it was");
    }
    // A rename would leave a link, the file's other names or a mount behind. A count of no names at
    // all means another writer's rename took the file away meanwhile: renaming over it loses nothing.
    if (!S_ISREG(target.seen.st_mode))
        target.route = Route::Stream;
    else if (link || target.seen.st_nlink > 1 || !sameMount(target.path, target.folder, target.seen))
        target.route = Route::InPlace;
    return true;
}

// Temporaries are named .vorlan3-partial.<target name>.<process id>-<counter>, a name no user picks,
// and each is locked for its whole life, so that a writer that is gone is told from one that runs in
// any process namespace.
constexpr char temporaryMark[] = ".vorlan3-partial.";
constexpr size_t markLength = sizeof temporaryMark - 1;

size_t nameLimit(const std::string& folder) {
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
}

// A name at the file system's limit leaves no room for the mark and the suffix, so the stem is the
// longest start of the name that fits, cut on a character boundary.
std::string temporaryName(const std::string& name, const std::string& suffix, size_t limit) {
    const size_t room = limit > markLength + suffix.size() ? limit - markLength - suffix.size() : 0;
    size_t stem = std::min(room, name.size());
    while (stem > 0 && stem < name.size() && (static_cast<unsigned char>(name[stem]) & 0xC0) == 0x80) --stem;
    return temporaryMark + name.substr(0, stem) + suffix;
}

bool isDigits(const std::string& text, size_t from, size_t to) {
    if (from >= to) return false;
    for (size_t at = from; at < to; ++at)
        if (text[at] < '0' || text[at] > '9') return false;
    return true;
}

// Whether entry is named as a temporary of name (shortened or not) is named.
bool temporaryOf(const std::string& entry, const std::string& name, size_t limit) {
    if (entry.compare(0, markLength, temporaryMark) != 0) return false;
    const size_t dash = entry.rfind('-'), dot = dash == std::string::npos ? dash : entry.rfind('.', dash);
    if (dot == std::string::npos || dot < markLength || !isDigits(entry, dot + 1, dash) ||
        !isDigits(entry, dash + 1, entry.size()))
        return false;
    const std::string stem = entry.substr(markLength, dot - markLength);
    const bool shortened = stem.size() < name.size() && entry.size() + 4 > limit; // up to 3 bytes of a character
    return stem == name || (shortened && name.compare(0, stem.size(), stem) == 0);
}

// The caller's own temporaries of name whose writers are gone (killed, crashed): a temporary whose
// lock is held belongs to a living writer, and another user's file is never touched.
void removeLeftovers(const std::string& folder, const std::string& name, size_t limit) {
    DIR* listing = opendir(folder.c_str());
    if (!listing) return;
    std::vector<std::string> candidates;
    while (const dirent* entry = readdir(listing))
        if (temporaryOf(entry->d_name, name, limit)) candidates.emplace_back(folder + "/" + entry->d_name);
    closedir(listing);
    for (const std::string& candidate : candidates) {
        const int fd = open(candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {}, named {};
        // Still the file that was locked: a writer may have renamed it away meanwhile.
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(candidate.c_str(), &named) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            unlink(candidate.c_str());
        close(fd);
    }
}

// A locked temporary of the caller's, made in folder for name.
struct Temporary {
    int fd = -1;
    std::string path;
};

// What a file system without advisory locks (NFS without its lock service, some FUSE mounts) answers.
bool locksUnsupported(int error) {
    return error == ENOLCK || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL;
}

// The descriptors through which this process's own writers in place hold (or are taking) their
// targets' locks, which another of its writers waits for as for another program's; each with whether
// it holds room reserved past the file's end.
std::mutex writersLock;
std::map<int, bool> writersDescriptors;

void markWriter(int fd, bool reserved) {
    std::lock_guard<std::mutex> hold(writersLock);
    writersDescriptors[fd] = reserved;
}

// Forgets a writer's descriptor; whether it held room reserved.
bool forgetWriter(int fd) {
    std::lock_guard<std::mutex> hold(writersLock);
    const auto found = writersDescriptors.find(fd);
    if (found == writersDescriptors.end()) return false;
    const bool reserved = found->second;
    writersDescriptors.erase(found);
    return reserved;
}

// Whether this process holds the lock of fd's file through another descriptor of its own that is no
// writer's: a caller that runs under flock(1) or a shell's locked descriptor it inherited, or a host
// that locked the file. The kernel lists the locks each descriptor holds in /proc/self/fdinfo.
bool lockedByThisProcess(int fd) {
    struct stat file {};
    DIR* listing = fstat(fd, &file) == 0 ? opendir("/proc/self/fd") : nullptr;
    if (!listing) return false;
    bool held = false;
    while (const dirent* entry = held ? nullptr : readdir(listing)) {
        const char* name = entry->d_name;
        const char* end = name + std::strlen(name);
        int other = -1;
        const std::from_chars_result number = std::from_chars(name, end, other);
        if (number.ec != std::errc() || number.ptr != end || other == fd || other == dirfd(listing)) continue;
        {
            std::lock_guard<std::mutex> hold(writersLock);
            if (writersDescriptors.count(other)) continue;
        }
        struct stat same {};
        if (fstat(other, &same) != 0 || same.st_dev != file.st_dev || same.st_ino != file.st_ino) continue;
        std::ifstream info("/proc/self/fdinfo/" + std::to_string(other));
        std::string line;
        while (!held && std::getline(info, line))
            held = line.compare(0, 5, "lock:") == 0 && line.find(" FLOCK ") != std::string::npos;
    }
    closedir(listing);
    return held;
}

// Takes fd's exclusive lock, retrying every 20 to 50 ms while another holds it, for at most the lock
// wait: 0 once held, or where locks are unsupported (the write goes on without); else the errno,
// EWOULDBLOCK when the wait ended. With callersCount, a lock this process holds itself through another
// descriptor counts as held: the caller took it for this write, and waiting would wait for itself.
int lockWithin(int fd, bool callersCount) {
    const double deadline = CoreXutl::tmono() + lockWait.load();
    bool looked = false;
    for (int pause = 20;; pause = std::min(pause + 10, 50)) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 || locksUnsupported(errno)) return 0;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return errno;
        if (callersCount && !std::exchange(looked, true) && lockedByThisProcess(fd)) return 0;
        if (CoreXutl::tmono() >= deadline) return EWOULDBLOCK;
        CoreXutl::sleep(pause);
    }
}

// Temporaries are private (0600) until they are given the mode of the file they become.
bool makeTemporary(const std::string& folder, const std::string& name, Temporary& made) {
    static std::atomic<unsigned> counter{0};
    const size_t limit = nameLimit(folder);
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    removeLeftovers(folder, name, limit);
    std::string reason = "no free name";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = "." + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
        made.path = prefix + temporaryName(name, suffix, limit);
        made.fd = open(made.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (made.fd < 0) {
            reason = systemReason();
            if (errno == EEXIST) continue;
            break;
        }
        // Where locks are unsupported the temporary goes on unlocked; the sweep, which needs its lock,
        // then never takes it. Only a sweep holds a fresh temporary's lock, and only for a moment.
        const int locked = lockWithin(made.fd, false);
        const bool held = locked == 0;
        reason = std::strerror(locked);
        struct stat info {};
        if (held && fstat(made.fd, &info) == 0) {
            if (info.st_nlink > 0) return true;
            // Another of this user's writers swept it between the create and the lock: nothing of it is
            // left, and another name is tried.
            close(made.fd);
            made.fd = -1;
            continue;
        }
        unlink(made.path.c_str());
        close(made.fd);
        made.fd = -1;
        break;
    }
    failWith("no temporary file can be made in the folder " + folder + " (" + reason +
             "); the target was left as it was");
    made.path.clear();
    return false;
}

void discard(Temporary& temporary) {
    if (temporary.fd >= 0) {
        unlink(temporary.path.c_str());
        close(temporary.fd);
    }
    temporary = Temporary();
}

// Extended attributes a rename must carry: the user's own and the access lists.
bool carried(const char* attribute) {
    return std::strncmp(attribute, "user.", 5) == 0 || std::strncmp(attribute, "system.posix_acl_", 17) == 0;
}

// Copies those attributes of a file (by fromFd, or by fromPath when fromFd is -1); false when one of
// them cannot be copied, or, with every, when the file holds another attribute that the new file did
// not get with the same value from its folder (a trusted or security one).
bool copyExtendedAttributes(const std::string& fromPath, int fromFd, int toFd, bool every) {
    const auto list = [&](char* names, size_t size) {
        return fromFd >= 0 ? flistxattr(fromFd, names, size) : listxattr(fromPath.c_str(), names, size);
    };
    const auto get = [&](const char* attribute, void* value, size_t size) {
        return fromFd >= 0 ? fgetxattr(fromFd, attribute, value, size)
                           : getxattr(fromPath.c_str(), attribute, value, size);
    };
    const ssize_t listSize = list(nullptr, 0);
    if (listSize < 0) return errno == ENOTSUP;
    std::vector<char> names(static_cast<size_t>(listSize) + 1);
    const ssize_t got = list(names.data(), static_cast<size_t>(listSize));
    if (got < 0) return false;
    std::vector<char> value;
    for (size_t at = 0; at < static_cast<size_t>(got);) {
        const char* attribute = names.data() + at;
        at += std::strlen(attribute) + 1;
        if (!carried(attribute) && !every) continue;
        const ssize_t valueSize = get(attribute, nullptr, 0);
        if (valueSize < 0) return false;
        value.resize(static_cast<size_t>(valueSize) + 1);
        const ssize_t read = get(attribute, value.data(), static_cast<size_t>(valueSize));
        if (read < 0) return false;
        if (!carried(attribute)) {
            std::vector<char> own(value.size());
            if (fgetxattr(toFd, attribute, own.data(), own.size()) != read ||
                std::memcmp(own.data(), value.data(), static_cast<size_t>(read)) != 0)
                return false;
            continue;
        }
        if (fsetxattr(toFd, attribute, value.data(), static_cast<size_t>(read), 0) != 0) return false;
    }
    return true;
}

// The inode flags a user sets with chattr, which a rename would not carry.
constexpr int userInodeFlags = FS_FL_USER_MODIFIABLE | FS_JOURNAL_DATA_FL | FS_NOCOW_FL | FS_PROJINHERIT_FL;

// Whether the temporary got from its folder the inode flags of the file it goes over; false when
// those cannot be read. Another writer's rename may have put a new file there meanwhile: its flags are
// the ones a rename drops.
bool sameInodeFlags(const Target& target, int temporaryFd) {
    const int fd = open(target.path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat opened {};
    bool same = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    int targetFlags = 0, madeFlags = 0;
    if (same) { // a file system without inode flags answers both alike
        const bool targetRead = ioctl(fd, FS_IOC_GETFLAGS, &targetFlags) == 0;
        const bool madeRead = ioctl(temporaryFd, FS_IOC_GETFLAGS, &madeFlags) == 0;
        same = targetRead == madeRead && ((targetFlags ^ madeFlags) & userInodeFlags) == 0;
    }
    close(fd);
    return same;
}

// The mode a new file in folder gets, as an open asking 0666 would give it: from the folder's default
// access list where it has one (the kernel then ignores the file mode mask), else 0666 less that mask,
// which is read rather than set and restored, as another thread may be creating files meanwhile.
// Without the process table the file stays private.
mode_t newFileMode(const std::string& folder) {
    const ssize_t listed = getxattr(folder.c_str(), "system.posix_acl_default", nullptr, 0);
    std::vector<unsigned char> list(listed > 0 ? static_cast<size_t>(listed) : 0);
    const ssize_t size =
        list.empty() ? -1 : getxattr(folder.c_str(), "system.posix_acl_default", list.data(), list.size());
    if (size >= 4 && (size - 4) % 8 == 0) { // a version word, then entries of tag, permissions and id
        mode_t owner = 0, group = 0, mask = 0, other = 0;
        bool masked = false;
        for (ssize_t at = 4; at < size; at += 8) {
            const unsigned tag = list[size_t(at)] | list[size_t(at) + 1] << 8;
            const mode_t permissions = list[size_t(at) + 2] & 7;
            if (tag == 0x01) owner = permissions;
            if (tag == 0x04) group = permissions;
            if (tag == 0x10) {
                mask = permissions;
                masked = true;
            }
            if (tag == 0x20) other = permissions;
        }
        return 0666 & (owner << 6 | (masked ? mask : group) << 3 | other);
    }
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "Umask:") == 0) {
            mode_t fileMask = 0;
            for (const char digit : line.substr(6))
                if (digit >= '0' && digit <= '7') fileMask = static_cast<mode_t>(fileMask * 8 + mode_t(digit - '0'));
            return 0666 & ~fileMask;
        }
    return 0600;
}

// Gives the temporary what the file it replaces had: owner, group, extended attributes, access list or
// none, and mode (the attributes before the mode, as an access list written sets the group bits). False when
// any of it cannot be carried, or the file has attributes or inode flags a rename would drop; the file is
// then written in place.
bool carriesEverything(const Temporary& temporary, const Target& target, mode_t mode) {
    struct stat made {};
    if (fstat(temporary.fd, &made) != 0 || !sameInodeFlags(target, temporary.fd)) return false;
    if ((made.st_uid != target.seen.st_uid || made.st_gid != target.seen.st_gid) &&
        fchown(temporary.fd, target.seen.st_uid, target.seen.st_gid) != 0)
        return false;
    if (!copyExtendedAttributes(target.path, -1, temporary.fd, true)) return false;
    // A folder's default access list gave the temporary one: a file that had none must not gain the
    // readers it names.
    static constexpr char accessList[] = "system.posix_acl_access";
    if (getxattr(target.path.c_str(), accessList, nullptr, 0) < 0 &&
        fremovexattr(temporary.fd, accessList) != 0 && errno != ENODATA && errno != ENOTSUP)
        return false;
    if (fchmod(temporary.fd, mode & 07777) != 0 || fstat(temporary.fd, &made) != 0) return false;
    // The kernel drops a set-group-id bit it does not allow, without an error.
    return made.st_uid == target.seen.st_uid && made.st_gid == target.seen.st_gid &&
           (made.st_mode & 07777) == (mode & 07777);
}

// The temporary a rename needs, carrying everything and given mode before its first byte, or none
// when the target goes in place.
bool temporaryForRename(Target& target, mode_t mode, Temporary& temporary) {
    if (target.route != Route::Rename) return true;
    if (!makeTemporary(target.folder, target.name, temporary)) {
        if (!target.exists) return false;
        lastFailure.clear();
        target.route = Route::InPlace;
        return true;
    }
    if (!target.exists && fchmod(temporary.fd, mode & 07777) != 0) {
        discard(temporary);
        return stepFailed(target.path, "setting the permissions");
    }
    if (target.exists && !carriesEverything(temporary, target, mode)) {
        discard(temporary);
        target.route = Route::InPlace;
    }
    return true;
}

// The mode a file written whole gets: the one it replaces has, or a new file's.
mode_t modeFor(const Target& target) {
    return target.exists ? target.seen.st_mode : newFileMode(target.folder);
}

// How long an open waits for another program to give up its lease on a file (a file server's lock, an
// NFS server's delegation): the kernel's lease-break time, after which it breaks the lease itself, and
// a second more.
double leaseWait() {
    long seconds = 45;
    std::ifstream setting("/proc/sys/fs/lease-break-time");
    std::string text;
    if (std::getline(setting, text)) {
        long read = -1;
        const std::from_chars_result number = std::from_chars(text.data(), text.data() + text.size(), read);
        if (number.ec == std::errc() && read >= 0) seconds = read;
    }
    return (static_cast<double>(seconds) + 1.0) * 1000.0;
}

// An open that does not wait answers EWOULDBLOCK for a file another program holds a lease on, as it
// asks the holder to let go; that same open is tried again every 100 ms until the lease is gone.
int openLeased(const std::string& path, int flags) {
    double deadline = -1.0;
    for (;;) {
        const int fd = open(path.c_str(), flags, 0666);
        if (fd >= 0 || errno != EWOULDBLOCK) return fd;
        if (deadline < 0.0) deadline = CoreXutl::tmono() + leaseWait();
        if (CoreXutl::tmono() >= deadline) return fd;
        CoreXutl::sleep(100);
    }
}

// Opens the target by the path given and goes on only with the object the decision was made for:
// a pipe swapped for a file (or a file for another) meanwhile is left alone. A file is opened without
// waiting, so that a pipe nobody reads put in its place is refused at once (a pipe never answers
// EWOULDBLOCK, only a leased file), and without following a link where none was seen; a pipe the
// route chose waits for its reader.
int openTarget(const Target& target) {
    if (void (*seam)(const char*) = openSeam.load()) seam(target.path.c_str());
    const bool regular = target.route != Route::Stream;
    const int flags = O_WRONLY | O_CLOEXEC | (target.exists ? 0 : O_CREAT) |
                      (regular ? O_NONBLOCK | O_NOCTTY | (target.link ? 0 : O_NOFOLLOW) : 0);
    const int fd = regular ? openLeased(target.path, flags) : open(target.path.c_str(), flags, 0666);
    if (fd < 0 && !(regular && !target.link && errno == ELOOP)) {
        failWith(target.path + " cannot be opened for writing (" + systemReason() + ")");
        return -1;
    }
    struct stat opened {};
    if (fd >= 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) == regular &&
        (!target.exists || (opened.st_dev == target.seen.st_dev && opened.st_ino == target.seen.st_ino)) &&
        (!regular || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0))
        return fd;
    if (fd >= 0) close(fd);
    failWith(target.path + " changed while it was opened; it was left as it was");
    return -1;
}

// Reserves the bytes from..from+length without changing the file's size, so that a write cut short
// shows as the old length rather than a tail of zeros; where the file system cannot, by extending it.
int reserve(int fd, off_t from, off_t length) {
    while (fallocate(fd, FALLOC_FL_KEEP_SIZE, from, length) != 0) {
        if (errno == EINTR) continue;
        if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
        return posix_fallocate(fd, from, length);
    }
    return 0;
}

// Before the first byte of a file written in place: the file is locked against other writers for the
// whole copy and the cut, waiting a bounded time for another program's lock, and the bytes past its old
// end are reserved, so that a full disk refuses the write while the old content is still whole. Where
// the file system has neither, the write goes on without them.
bool holdForWriting(int fd, const Target& target, int64_t length) {
    if (target.route != Route::InPlace) return true;
    markWriter(fd, false);
    if (const int locked = lockWithin(fd, true); locked == EWOULDBLOCK)
        return failWith(target.path + " is locked by another program; it was left as it was");
    else if (locked != 0)
        return failWith(target.path + ": locking failed (" + std::strerror(locked) + ")");
    struct stat now {};
    if (fstat(fd, &now) != 0) return stepFailed(target.path, "locking");
    if (length > now.st_size) {
        const int error = reserve(fd, now.st_size, length - now.st_size);
        if (error != 0 && error != EOPNOTSUPP && error != ENOSYS) {
            // A partial reservation is given back: the size an extending one set, the blocks past the
            // end a kept size hides.
            [[maybe_unused]] const int restored = ftruncate(fd, now.st_size);
            return failWith(target.path + " has no room for its " + std::to_string(length) + " new bytes (" +
                            std::strerror(error) + "); it was left as it was");
        }
        markWriter(fd, error == 0);
    }
    if (void (*seam)(const char*) = heldSeam.load()) seam(target.path.c_str());
    return true;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// Copies the rest of from into to; false (with the reason) when a read or a write fails.
bool copyRest(int from, const std::string& fromName, int to, const std::string& toName, int64_t& copied) {
    char chunk[65536];
    copied = 0;
    for (;;) {
        const ssize_t got = read(from, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return stepFailed(fromName, "a read");
        if (got == 0) return true;
        if (!writeAll(to, chunk, static_cast<size_t>(got))) return stepFailed(toName, "a write");
        copied += got;
    }
}

// The end of an in-place write: a file is cut to the new length and flushed to disk. A write given up
// gives back the room reserved past the file's end, its size as it stands.
bool finishInPlace(int fd, const Target& target, int64_t length, bool ok) {
    if (ok && target.route == Route::InPlace && (ftruncate(fd, length) != 0 || fsync(fd) != 0))
        ok = stepFailed(target.path, "saving");
    struct stat now {};
    if (forgetWriter(fd) && !ok && fstat(fd, &now) == 0) {
        [[maybe_unused]] const int restored = ftruncate(fd, now.st_size);
    }
    if (close(fd) != 0 && ok) ok = stepFailed(target.path, "closing");
    return ok;
}

// The last step of every rename: a complete temporary goes over the target, any other is removed; its
// lock is held until then.
bool renameOrRemove(Temporary& temporary, const std::string& path, bool complete) {
    if (complete && fsync(temporary.fd) != 0) complete = stepFailed(temporary.path, "writing");
    if (complete && rename(temporary.path.c_str(), path.c_str()) != 0)
        complete = failWith(temporary.path + " cannot be renamed to " + path + " (" + systemReason() + ")");
    if (!complete) unlink(temporary.path.c_str());
    if (close(temporary.fd) != 0 && complete) complete = stepFailed(path, "closing");
    temporary = Temporary();
    return complete;
}

// Piece-by-piece writes to a file that goes in place are staged in an unnamed file of the caller's
// until complete; tmpcm finds the target it was decided for here, and a full staging folder is named.
struct Staged {
    Target target;
    std::string folder;
};
std::mutex stagedLock;
std::map<std::FILE*, Staged> staged;

bool takeStaged(std::FILE* file, Staged& found) {
    std::lock_guard<std::mutex> hold(stagedLock);
    const auto at = staged.find(file);
    if (at == staged.end()) return false;
    found = at->second;
    staged.erase(at);
    return true;
}

std::string noRoomForStaging(const std::string& folder) {
    return "the temporary folder " + folder +
           " has no room for the render's staging copy; set TMPDIR to a folder with room";
}

// An unnamed staging file in the temporary folder (TMPDIR, else the system's), whose name goes in
// folder. It loses its name at once, so it need not lie beside the target, whose folder may be small
// (/dev for /dev/stdout).
int stagingFile(const Target& target, std::string& folder) {
    Temporary staging;
    const char* chosen = std::getenv("TMPDIR");
    folder = chosen && *chosen ? chosen : "/tmp";
    if (!makeTemporary(folder, target.name, staging) &&
        (folder == "/tmp" || !makeTemporary(folder = "/tmp", target.name, staging)))
        return -1;
    lastFailure.clear();
    unlink(staging.path.c_str());
    return staging.fd;
}

} // namespace

void CoreXutl::setOpenSeam(void (*seam)(const char* path)) {
    openSeam.store(seam);
}

void CoreXutl::setHeldSeam(void (*seam)(const char* path)) {
    heldSeam.store(seam);
}

std::string CoreXutl::lastWriteFailure() {
    return lastFailure;
}

bool CoreXutl::cpyfl(const char* from, const char* to, bool) {
    Target target;
    if (!from || !prepareTarget(to, target)) return false;
    const int source = open(from, O_RDONLY | O_CLOEXEC);
    if (source < 0) return failWith(std::string(from) + " cannot be read (" + systemReason() + ")");
    struct stat info {};
    if (fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(source);
        return failWith(std::string(from) + " is not a file");
    }
    if (target.exists && info.st_dev == target.seen.st_dev && info.st_ino == target.seen.st_ino) {
        close(source); // the file is its own copy; writing it in place would read what was just written
        return true;
    }
    Temporary temporary;
    if (!temporaryForRename(target, info.st_mode, temporary)) {
        close(source);
        return false;
    }
    int64_t copied = 0;
    bool ok = false;
    if (target.route == Route::Rename) {
        ok = copyRest(source, from, temporary.fd, temporary.path, copied);
        copyExtendedAttributes(from, source, temporary.fd, false);
        // After the attributes: an access list written above may have changed the group bits.
        if (ok && fchmod(temporary.fd, info.st_mode & 07777) != 0) ok = stepFailed(target.path, "saving");
        ok = renameOrRemove(temporary, target.path, ok);
    } else if (const int fd = openTarget(target); fd >= 0) {
        // The source is complete: only this copy can be cut short.
        ok = holdForWriting(fd, target, info.st_size) && copyRest(source, from, fd, target.path, copied);
        // The permissions too where the caller may set them; a file of another user keeps its own.
        if (ok && target.route == Route::InPlace) fchmod(fd, info.st_mode & 07777);
        ok = finishInPlace(fd, target, copied, ok);
    }
    close(source);
    return ok;
}

bool CoreXutl::rplfl(const char* path, const char* data, size_t size, bool) {
    Target target;
    if (!data && size > 0) return failWith("no data");
    Temporary temporary;
    if (!prepareTarget(path, target) || !temporaryForRename(target, modeFor(target), temporary)) return false;
    if (target.route == Route::Rename) {
        const bool ok = writeAll(temporary.fd, data, size) || stepFailed(temporary.path, "writing");
        return renameOrRemove(temporary, target.path, ok);
    }
    const int fd = openTarget(target);
    if (fd < 0) return false;
    if (!holdForWriting(fd, target, static_cast<int64_t>(size))) return finishInPlace(fd, target, 0, false);
    const bool ok = writeAll(fd, data, size) || stepFailed(target.path, "a write");
    return finishInPlace(fd, target, static_cast<int64_t>(size), ok);
}

std::FILE* CoreXutl::tmpop(const char* path, std::string& temporary) {
    temporary.clear();
    Target target;
    Temporary beside;
    std::string stagingFolder;
    if (!prepareTarget(path, target) || !temporaryForRename(target, modeFor(target), beside)) return nullptr;
    int fd = -1;
    switch (target.route) {
    case Route::Rename:
        fd = beside.fd;
        temporary = beside.path;
        break;
    case Route::InPlace:
        fd = stagingFile(target, stagingFolder);
        break;
    case Route::Stream: // no temporary: tmpcm and tmpab then only close the file
        fd = openTarget(target);
        break;
    }
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        stepFailed(target.path, "opening");
        close(fd);
        if (!temporary.empty()) unlink(temporary.c_str());
        temporary.clear();
        return nullptr;
    }
    if (target.route == Route::InPlace) {
        std::lock_guard<std::mutex> hold(stagedLock);
        staged[file] = Staged{target, stagingFolder};
    }
    return file;
}

bool CoreXutl::tmpcm(std::FILE* file, const std::string& temporary, const char* path) {
    lastFailure.clear();
    if (!file) return failWith("no file");
    const std::string name = path ? path : "";
    Staged stage;
    if (takeStaged(file, stage)) { // the complete content goes into the file as it stands
        const Target& target = stage.target;
        bool ok = std::fflush(file) == 0 ||
                  (errno == ENOSPC || errno == EDQUOT ? failWith(noRoomForStaging(stage.folder))
                                                      : stepFailed(name, "a write"));
        const int fd = ok ? openTarget(target) : -1;
        int64_t copied = 0;
        struct stat content {};
        if (fd >= 0) {
            ok = (fstat(fileno(file), &content) == 0 || stepFailed(name, "a write")) &&
                 holdForWriting(fd, target, content.st_size) && lseek(fileno(file), 0, SEEK_SET) == 0 &&
                 copyRest(fileno(file), name, fd, target.path, copied);
            ok = finishInPlace(fd, target, copied, ok);
        }
        std::fclose(file);
        return fd >= 0 && ok;
    }
    if (temporary.empty()) { // written in place
        bool ok = std::fflush(file) == 0 || stepFailed(name, "a write");
        if (std::fclose(file) != 0 && ok) ok = stepFailed(name, "closing");
        return ok;
    }
    bool ok = !name.empty() || failWith("no file name");
    if (ok && std::fflush(file) != 0) ok = stepFailed(temporary, "writing");
    // The descriptor keeps the temporary's lock until the rename is done.
    Temporary written{dup(fileno(file)), temporary};
    if (std::fclose(file) != 0 && ok) ok = stepFailed(temporary, "closing");
    if (written.fd < 0) {
        unlink(temporary.c_str());
        return ok && stepFailed(temporary, "closing");
    }
    return renameOrRemove(written, name, ok);
}

std::string CoreXutl::stagingFailure(std::FILE* file, int error) {
    if (error != ENOSPC && error != EDQUOT) return "";
    std::lock_guard<std::mutex> hold(stagedLock);
    const auto at = staged.find(file);
    return at == staged.end() ? "" : noRoomForStaging(at->second.folder);
}

void CoreXutl::setLockWait(int milliseconds) {
    lockWait.store(milliseconds > 0 ? milliseconds : defaultLockWait);
}

void CoreXutl::tmpab(std::FILE* file, const std::string& temporary) {
    Staged forgotten;
    if (file) {
        takeStaged(file, forgotten);
        std::fclose(file);
    }
    if (!temporary.empty()) unlink(temporary.c_str());
}

bool CoreXutl::lgexc(const char* path, const char* text, bool) {
    if (!path || !*path) return false;
    const std::string line = std::string(text ? text : "") + "\n";
    if (rplfl(path, line.data(), line.size(), true)) return true;
    CoreLog_::loger(CoreAnsx("Cannot write ") + CoreAnsx(path) + CoreAnsx(": ") + CoreAnsx(lastWriteFailure().c_str()), 1);
    return false;
}
