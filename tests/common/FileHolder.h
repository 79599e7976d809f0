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
#include <string>
#include <sys/file.h>
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
            int held = -1;
            if (fd >= 0 && hold == Hold::lease) {
                leased = fd;
                struct sigaction giveUp {};
                giveUp.sa_handler = [](int) {
                    asked = 1;
                    fcntl(leased, F_SETLEASE, F_UNLCK);
                };
                giveUp.sa_flags = SA_RESTART;
                sigaction(SIGIO, &giveUp, nullptr);
                held = fcntl(fd, F_SETLEASE, F_RDLCK);
            } else if (fd >= 0) {
                held = flock(fd, hold == Hold::lock ? LOCK_EX : LOCK_SH);
            }
            const char* answer = held == 0 ? "1" : std::strerror(errno);
            [[maybe_unused]] const ssize_t said = write(ready[1], answer, std::strlen(answer));
            close(ready[1]);
            char byte = 0;
            for (ssize_t got = 0; (got = read(release[0], &byte, 1)) > 0 || (got < 0 && errno == EINTR);) {
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
    static inline int leased = -1;
    static inline volatile std::sig_atomic_t asked = 0;
    pid_t child = -1;
    int release[2] = {-1, -1};
};
