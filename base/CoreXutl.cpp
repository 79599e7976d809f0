#include "base/CoreXutl.h"

#include "base/CoreAnsx.h"
#include "base/CoreLog_.h"

#include <atomic>
#include <cerrno>
#include <cstring>
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

// Creates a new file next to target, with a name no other writer (thread or
// process) can pick, so that target itself is only ever replaced by a rename of
// a complete file.
int openSiblingTemp(const std::string& target, mode_t mode, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
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
bool keepPermissions(int fd, const char* path) {
    struct stat existing {};
    return stat(path, &existing) != 0 || !S_ISREG(existing.st_mode) ||
           fchmod(fd, existing.st_mode & 07777) == 0;
}

// The last step of every replacement: a complete temporary goes over path, any other is removed.
bool renameOrRemove(const std::string& tempPath, const char* path, bool complete) {
    if (complete) complete = rename(tempPath.c_str(), path) == 0;
    if (!complete) unlink(tempPath.c_str());
    return complete;
}

} // namespace

bool CoreXutl::cpyfl(const char* from, const char* to, bool) {
    if (!from || !to) return false;
    const int source = open(from, O_RDONLY | O_CLOEXEC);
    if (source < 0) return false;
    struct stat info {};
    if (fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(source);
        return false;
    }
    std::string tempPath;
    const int target = openSiblingTemp(to, 0600, tempPath);
    if (target < 0) {
        close(source);
        return false;
    }

    bool ok = true;
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(source, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        if (!writeAll(target, chunk, static_cast<size_t>(got))) {
            ok = false;
            break;
        }
    }
    if (ok) {
        copyExtendedAttributes(source, target);
        // After the attributes: an access list written above may have changed the
        // group bits.
        ok = fchmod(target, info.st_mode & 07777) == 0 && fsync(target) == 0;
    }
    ok = close(target) == 0 && ok;
    close(source);
    return renameOrRemove(tempPath, to, ok);
}

bool CoreXutl::rplfl(const char* path, const char* data, size_t size, bool lock) {
    if (!path || !*path || (!data && size > 0)) return false;
    std::string tempPath;
    const int fd = openSiblingTemp(path, 0666, tempPath);
    if (fd < 0) return false;
    bool ok = keepPermissions(fd, path);
    if (ok && lock) ok = flock(fd, LOCK_EX) == 0;
    // fsync before the rename: after a crash the target is the old file or the whole new one.
    if (ok) ok = writeAll(fd, data, size) && fsync(fd) == 0;
    if (lock) flock(fd, LOCK_UN);
    ok = close(fd) == 0 && ok;
    return renameOrRemove(tempPath, path, ok);
}

std::FILE* CoreXutl::tmpop(const char* path, std::string& temporary) {
    temporary.clear();
    if (!path || !*path) return nullptr;
    const int fd = openSiblingTemp(path, 0666, temporary);
    if (fd < 0) {
        temporary.clear();
        return nullptr;
    }
    std::FILE* file = keepPermissions(fd, path) ? fdopen(fd, "wb") : nullptr;
    if (!file) {
        close(fd);
        unlink(temporary.c_str());
        temporary.clear();
    }
    return file;
}

bool CoreXutl::tmpcm(std::FILE* file, const std::string& temporary, const char* path) {
    if (!file) return false;
    // fsync before the rename: after a crash the target is the old file or the whole new one.
    bool ok = path && *path && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    return renameOrRemove(temporary, path, ok);
}

void CoreXutl::tmpab(std::FILE* file, const std::string& temporary) {
    if (file) std::fclose(file);
    if (!temporary.empty()) unlink(temporary.c_str());
}

bool CoreXutl::lgexc(const char* path, const char* text, bool) {
    if (!path || !*path) return false;
    const std::string line = std::string(text ? text : "") + "\n";
    if (rplfl(path, line.data(), line.size(), true)) return true;
    CoreLog_::loger(CoreAnsx("Cannot write ") + CoreAnsx(path), 1);
    return false;
}
