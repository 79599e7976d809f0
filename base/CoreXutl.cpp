#include "base/CoreXutl.h"

#include "base/CoreAnsx.h"
#include "base/CoreLog_.h"

#include <atomic>
#include <charconv>
#include <climits>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>
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

bool failWith(const std::string& reason) {
    lastFailure = reason;
    return false;
}

std::string systemReason() {
    return std::strerror(errno);
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

// What a replacement writes to: the file a path finally names, its symbolic links followed (the
// linked file is replaced, the links stay links; a dangling link creates the file it names).
struct Target {
    std::string path;
    bool exists = false;
    bool inPlace = false; // a pipe, a device or a socket: written as it stands, never replaced
};

constexpr int maxLinkHops = 40; // as the kernel's own limit for a path

bool resolveTarget(const char* path, Target& target) {
    std::string current = path;
    for (int hop = 0;; ++hop) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) return failWith(current + ": " + systemReason());
            target.path = current;
            return true;
        }
        if (!S_ISLNK(info.st_mode)) {
            if (S_ISDIR(info.st_mode)) return failWith(current + " is a folder");
            target.path = current;
            target.exists = true;
            target.inPlace = !S_ISREG(info.st_mode);
            return true;
        }
        if (hop == maxLinkHops) return failWith(std::string(path) + ": too many levels of symbolic links");
        std::vector<char> link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 2);
        const ssize_t length = readlink(current.c_str(), link.data(), link.size());
        if (length < 0) return failWith(current + ": " + systemReason());
        if (static_cast<size_t>(length) >= link.size()) return failWith(current + ": the link changed while read");
        std::string next(link.data(), static_cast<size_t>(length));
        if (next.empty()) return failWith(current + ": an empty symbolic link");
        if (next[0] != '/') next = folderOf(current) + "/" + next;
        current = next;
    }
}

// The owner's write permission, by the effective ids, as an open for writing in place would judge it.
bool writableByCaller(const Target& target) {
    if (!target.exists || faccessat(AT_FDCWD, target.path.c_str(), W_OK, AT_EACCESS) == 0) return true;
    return failWith(target.path + " is write-protected (" + systemReason() + "); it was left as it was");
}

// Temporaries are named <target name>.tmp<process id>-<counter>. A name at the file system's limit
// leaves no room for that suffix, so the stem is the longest start of the name that fits, cut on a
// character boundary.
constexpr size_t nameLimit = NAME_MAX;

std::string temporaryName(const std::string& name, const std::string& suffix) {
    if (name.size() + suffix.size() <= nameLimit) return name + suffix;
    size_t stem = nameLimit - suffix.size();
    while (stem > 0 && (static_cast<unsigned char>(name[stem]) & 0xC0) == 0x80) --stem; // UTF-8 continuation
    return name.substr(0, stem) + suffix;
}

// The process id in a temporary's name when it is one of name's temporaries; 0 otherwise.
int temporaryOwner(const std::string& entry, const std::string& name) {
    const size_t mark = entry.rfind(".tmp");
    if (mark == std::string::npos) return 0;
    const std::string stem = entry.substr(0, mark);
    const bool shortened = stem.size() < name.size() && entry.size() + 4 > nameLimit;
    if (stem != name && !(shortened && name.compare(0, stem.size(), stem) == 0)) return 0;
    const char* first = entry.data() + mark + 4;
    const char* last = entry.data() + entry.size();
    int owner = 0;
    const auto [dash, error] = std::from_chars(first, last, owner);
    if (error != std::errc() || dash == first || dash == last || *dash != '-' || owner < 1) return 0;
    unsigned counter = 0;
    const auto [end, counterError] = std::from_chars(dash + 1, last, counter);
    return counterError == std::errc() && end == last && end != dash + 1 ? owner : 0;
}

// Temporaries a killed or crashed writer left beside target; a living process's are its own business.
void removeLeftovers(const std::string& folder, const std::string& name) {
    DIR* listing = opendir(folder.c_str());
    if (!listing) return;
    std::vector<std::string> ended;
    while (const dirent* entry = readdir(listing)) {
        const int owner = temporaryOwner(entry->d_name, name);
        if (owner > 0 && !CoreXutl::pidlv(owner)) ended.emplace_back(folder + "/" + entry->d_name);
    }
    closedir(listing);
    for (const std::string& leftover : ended) {
        struct stat info {};
        if (lstat(leftover.c_str(), &info) == 0 && S_ISREG(info.st_mode)) unlink(leftover.c_str());
    }
}

// Creates a new file next to target, with a name no other writer (thread or process) can pick, so
// that target itself is only ever replaced by a rename of a complete file.
int openSiblingTemp(const std::string& target, mode_t mode, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = folderOf(target), name = nameOf(target);
    const std::string prefix = target.substr(0, target.size() - name.size()); // the folder with its '/'
    removeLeftovers(folder, name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix =
            ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
        tempPath = prefix + temporaryName(name, suffix);
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    failWith("no temporary file can be made in the folder " + folder + " (" + systemReason() +
             "); the target was left as it was");
    tempPath.clear();
    return -1;
}

// Everything before the temporary is made: links followed, a protected file refused.
bool prepareTarget(const char* path, Target& target) {
    lastFailure.clear();
    if (!path || !*path) return failWith("no file name");
    return resolveTarget(path, target) && writableByCaller(target);
}

int openInPlace(const Target& target) {
    const int fd = open(target.path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) failWith(target.path + " cannot be opened for writing (" + systemReason() + ")");
    return fd;
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

// Extended attributes carry the access lists on Linux; a copy keeps what the
// target file system accepts, and attributes it refuses (another security
// module, no support) do not fail the copy.
void copyExtendedAttributes(int fromFd, int toFd) {
    const ssize_t listSize = flistxattr(fromFd, nullptr, 0);
    if (listSize <= 0) return;
    std::vector<char> names(static_cast<size_t>(listSize));
    const ssize_t got = flistxattr(fromFd, names.data(), names.size());
    if (got <= 0) return;
    std::vector<char> value;
    for (size_t at = 0; at < static_cast<size_t>(got);) {
        const char* attribute = names.data() + at;
        at += std::strlen(attribute) + 1;
        const ssize_t valueSize = fgetxattr(fromFd, attribute, nullptr, 0);
        if (valueSize < 0) continue;
        value.resize(static_cast<size_t>(valueSize) + 1);
        const ssize_t read = fgetxattr(fromFd, attribute, value.data(), static_cast<size_t>(valueSize));
        if (read < 0) continue;
        fsetxattr(toFd, attribute, value.data(), static_cast<size_t>(read), 0);
    }
}

// A replaced file keeps its permissions, as it would when rewritten in place.
bool keepPermissions(int fd, const Target& target) {
    struct stat existing {};
    if (!target.exists || stat(target.path.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode) ||
        fchmod(fd, existing.st_mode & 07777) == 0)
        return true;
    return failWith(target.path + ": its permissions cannot be kept (" + systemReason() + ")");
}

// The last step of every replacement: a complete temporary goes over the target, any other is removed.
bool renameOrRemove(const std::string& tempPath, const std::string& path, bool complete) {
    if (complete && rename(tempPath.c_str(), path.c_str()) != 0)
        complete = failWith(tempPath + " cannot be renamed to " + path + " (" + systemReason() + ")");
    if (!complete) unlink(tempPath.c_str());
    return complete;
}

// A step that failed with errno set, unless an earlier one already said why.
bool stepFailed(const std::string& path, const char* step) {
    if (lastFailure.empty()) failWith(path + ": " + step + " failed (" + systemReason() + ")");
    return false;
}

} // namespace

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
    std::string tempPath;
    const int copy = target.inPlace ? openInPlace(target) : openSiblingTemp(target.path, 0600, tempPath);
    if (copy < 0) {
        close(source);
        return false;
    }

    bool ok = true;
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(source, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = stepFailed(from, "a read");
        if (got <= 0) break;
        if (!writeAll(copy, chunk, static_cast<size_t>(got))) {
            ok = stepFailed(target.path, "a write");
            break;
        }
    }
    if (ok && !target.inPlace) {
        copyExtendedAttributes(source, copy);
        // After the attributes: an access list written above may have changed the
        // group bits.
        if (fchmod(copy, info.st_mode & 07777) != 0 || fsync(copy) != 0) ok = stepFailed(target.path, "saving");
    }
    if (close(copy) != 0 && ok) ok = stepFailed(target.path, "closing");
    close(source);
    return target.inPlace ? ok : renameOrRemove(tempPath, target.path, ok);
}

bool CoreXutl::rplfl(const char* path, const char* data, size_t size, bool lock) {
    Target target;
    if (!data && size > 0) return failWith("no data");
    if (!prepareTarget(path, target)) return false;
    if (target.inPlace) {
        const int fd = openInPlace(target);
        if (fd < 0) return false;
        bool ok = writeAll(fd, data, size) || stepFailed(target.path, "a write");
        if (close(fd) != 0 && ok) ok = stepFailed(target.path, "closing");
        return ok;
    }
    std::string tempPath;
    const int fd = openSiblingTemp(target.path, 0666, tempPath);
    if (fd < 0) return false;
    bool ok = keepPermissions(fd, target);
    if (ok && lock && flock(fd, LOCK_EX) != 0) ok = stepFailed(tempPath, "locking");
    // fsync before the rename: after a crash the target is the old file or the whole new one.
    if (ok && !(writeAll(fd, data, size) && fsync(fd) == 0)) ok = stepFailed(tempPath, "writing");
    if (lock) flock(fd, LOCK_UN);
    if (close(fd) != 0 && ok) ok = stepFailed(tempPath, "closing");
    return renameOrRemove(tempPath, target.path, ok);
}

std::FILE* CoreXutl::tmpop(const char* path, std::string& temporary) {
    temporary.clear();
    Target target;
    if (!prepareTarget(path, target)) return nullptr;
    if (target.inPlace) { // no temporary: tmpcm and tmpab then only close the file
        const int fd = openInPlace(target);
        std::FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
        if (fd >= 0 && !file) {
            stepFailed(target.path, "opening");
            close(fd);
        }
        return file;
    }
    const int fd = openSiblingTemp(target.path, 0666, temporary);
    if (fd < 0) return nullptr;
    std::FILE* file = keepPermissions(fd, target) ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        stepFailed(temporary, "opening");
        close(fd);
        unlink(temporary.c_str());
        temporary.clear();
    }
    return file;
}

bool CoreXutl::tmpcm(std::FILE* file, const std::string& temporary, const char* path) {
    lastFailure.clear();
    if (!file) return failWith("no file");
    if (temporary.empty()) { // written in place
        bool ok = std::fflush(file) == 0 || stepFailed(path ? path : "", "a write");
        if (std::fclose(file) != 0 && ok) ok = stepFailed(path ? path : "", "closing");
        return ok;
    }
    Target target;
    bool ok = path && *path ? resolveTarget(path, target) : failWith("no file name");
    // fsync before the rename: after a crash the target is the old file or the whole new one.
    if (ok && (std::fflush(file) != 0 || fsync(fileno(file)) != 0)) ok = stepFailed(temporary, "writing");
    if (std::fclose(file) != 0 && ok) ok = stepFailed(temporary, "closing");
    return renameOrRemove(temporary, target.path, ok);
}

void CoreXutl::tmpab(std::FILE* file, const std::string& temporary) {
    if (file) std::fclose(file);
    if (!temporary.empty()) unlink(temporary.c_str());
}

bool CoreXutl::lgexc(const char* path, const char* text, bool) {
    if (!path || !*path) return false;
    const std::string line = std::string(text ? text : "") + "\n";
    if (rplfl(path, line.data(), line.size(), true)) return true;
    CoreLog_::loger(CoreAnsx("Cannot write ") + CoreAnsx(path) + CoreAnsx(": ") + CoreAnsx(lastWriteFailure().c_str()), 1);
    return false;
}
