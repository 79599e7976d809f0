// FileHolder: a child process of the test holding a file as another program would, until the holder
// is destroyed: its advisory lock (flock, exclusive or shared), or a read lease (F_SETLEASE) that it
// gives up when the kernel asks for it (SIGIO), as a file server or an NFS server's delegation does.
// Tests only.
#pragma once
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

class FileHolder {
public:
    enum class Hold { lock, sharedLock, lease };

    FileHolder(const std::filesystem::path& file, Hold hold) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release) != 0) {
            refused = "no pipe";
            return;
        }
        child = fork();
        if (child == 0) {
            close(ready[0]);
            close(release[1]);
            const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
            int held = -1, signals = -1;
            if (fd >= 0 && hold == Hold::lease) {
                // The kernel's request comes as SIGIO, taken here from a descriptor rather than by a
                // handler, which a sanitizer's runtime may hold back.
                sigset_t request;
                sigemptyset(&request);
                sigaddset(&request, SIGIO);
                sigprocmask(SIG_BLOCK, &request, nullptr);
                signals = signalfd(-1, &request, SFD_CLOEXEC);
                held = signals >= 0 ? fcntl(fd, F_SETLEASE, F_RDLCK) : -1;
            } else if (fd >= 0) {
                held = flock(fd, hold == Hold::lock ? LOCK_EX : LOCK_SH);
            }
            const char* answer = held == 0 ? "1" : std::strerror(errno);
            [[maybe_unused]] const ssize_t said = write(ready[1], answer, std::strlen(answer));
            close(ready[1]);
            bool asked = false;
            pollfd waits[2] = {{release[0], POLLIN, 0}, {signals, POLLIN, 0}};
            for (;;) {
                if (poll(waits, 2, -1) < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                if (waits[1].revents & POLLIN) { // asked to let go: the lease is given up
                    signalfd_siginfo info{};
                    asked = read(signals, &info, sizeof info) == ssize_t(sizeof info);
                    fcntl(fd, F_SETLEASE, F_UNLCK);
                    waits[1].fd = -1;
                }
                char byte = 0;
                if ((waits[0].revents & (POLLIN | POLLHUP)) && read(release[0], &byte, 1) <= 0) break;
            }
            _exit(hold == Hold::lease && !asked ? 2 : 0);
        }
        close(ready[1]);
        close(release[0]);
        char text[256] = {};
        const ssize_t got = child > 0 ? read(ready[0], text, sizeof text - 1) : -1;
        close(ready[0]);
        if (got <= 0 || std::string(text) != "1")
            refused = std::string(child > 0 ? "the holder could not hold it: " : "no child process: ") + text;
    }
    ~FileHolder() { end(); }
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    // Lets go and waits for the holder: true when it held the file, and a lease holder was asked to
    // give up its lease.
    bool end() {
        if (release[1] >= 0) close(release[1]);
        release[1] = -1;
        int status = 0;
        const bool ended = child > 0 && waitpid(child, &status, 0) == child;
        child = -1;
        return ended && refused.empty() && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    std::string refused; // why the file is not held; empty when it is

private:
    pid_t child = -1;
    int release[2] = {-1, -1};
};
