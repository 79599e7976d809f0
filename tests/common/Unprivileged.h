// Unprivileged: runs a task in a child process under a user id that permission bits apply to, for
// tests of protected files. Run as root (as CI is), the child drops to the unprivileged user nobody
// after the files it needs are handed to that user; run as anyone else, the child keeps the caller's
// ids. The task's text and exit status come back through a pipe. Tests only.
#pragma once
#include <filesystem>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct UnprivilegedOutcome {
    std::string skipped; // why the task could not run as asked; empty when it ran
    int status = -1;     // the task's exit status, -1 when it did not end normally
    std::string text;    // what the task gave back
};

constexpr uid_t unprivilegedId = 65534; // nobody

// Gives every entry under folder (and folder itself) to the user the task runs as.
inline void handToUnprivileged(const std::filesystem::path& folder) {
    if (geteuid() != 0) return;
    std::error_code ignored;
    lchown(folder.c_str(), unprivilegedId, unprivilegedId);
    for (auto entry = std::filesystem::recursive_directory_iterator(folder, ignored);
         entry != std::filesystem::recursive_directory_iterator(); entry.increment(ignored))
        lchown(entry->path().c_str(), unprivilegedId, unprivilegedId);
}

// task runs in the child with folder as its working folder; its text is what it returns, its
// exit status 0. A group other than 0 is the child's one supplementary group (a member's rights).
inline UnprivilegedOutcome runUnprivileged(const std::filesystem::path& folder,
                                           const std::function<std::string()>& task, gid_t group = 0) {
    UnprivilegedOutcome outcome;
    int channel[2];
    if (pipe(channel) != 0) {
        outcome.skipped = "no pipe";
        return outcome;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        std::string text;
        int status = 0;
        if (geteuid() == 0 && (setgroups(group ? 1 : 0, &group) != 0 || setgid(unprivilegedId) != 0 ||
                               setuid(unprivilegedId) != 0 || setuid(0) == 0)) {
            text = "skipped: the child cannot drop to an unprivileged user id";
            status = 3;
        } else if (chdir(folder.c_str()) != 0) {
            text = "skipped: the unprivileged user cannot reach " + folder.string();
            status = 3;
        } else {
            text = task();
        }
        for (size_t at = 0; at < text.size();) {
            const ssize_t put = write(channel[1], text.data() + at, text.size() - at);
            if (put <= 0) break;
            at += size_t(put);
        }
        _exit(status);
    }
    close(channel[1]);
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(channel[0], buffer, sizeof buffer)) > 0) outcome.text.append(buffer, size_t(got));
    close(channel[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        outcome.skipped = "no child process";
        return outcome;
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (outcome.status == 3 && outcome.text.rfind("skipped: ", 0) == 0) outcome.skipped = outcome.text.substr(9);
    return outcome;
}
