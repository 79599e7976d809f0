// Runs a write in a forked child whose file-size limit (RLIMIT_FSIZE) is lowered, with SIGXFSZ
// ignored so that a write past the limit fails instead of ending the process: the failure path of
// the whole-file writers, tested without relying on permissions (tests may run as root).
#pragma once
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// 1 when write returned true in the child, 0 when it returned false, -1 when the child did not end
// normally (or could not be started).
inline int writeUnderFileSizeLimit(rlim_t bytes, const std::function<bool()>& write) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(write() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 1 ? 1 : WEXITSTATUS(status) == 0 ? 0 : -1;
}
