// CoreXutl: the operating-system calls the rest of the system needs: clocks, sleeps, process and
// thread ids, and a few small file and folder operations. Static members only; every function is
// safe to call from any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class CoreXutl {
public:
    static const double dVtdatetimeconst; // days per second, 1/86400

    static double tgtme(); // wall-clock time in milliseconds (seconds * 1000 + microseconds * 0.001)
    static double tmono(); // monotonic milliseconds, for timeouts and elapsed times
    static double ttime(); // wall-clock time in days since the epoch
    // Test seam: the clock behind ttime (days since the epoch), so that tests of LEDs and blink
    // clocks set the time instead of sleeping; null restores the wall clock.
    static void setDayClock(double (*clock)());
    static void sleep(int ms);
    static int getpi(); // process id
    // False only when no process has that id; a process of another user counts as living, and so
    // does an id below 1, which names no single process.
    static bool pidlv(int pid);
    static unsigned long getti();        // calling thread's id
    static int delfl(const char* path);  // 0 on success, -1 on failure
    static int crdir(const char* path);  // creates with permissions 0775; 0 on success, -1 on failure
    static bool ispvl(const char* path); // true when path names an existing folder
    // Every replacement below writes the new file beside the file path finally names (symbolic links
    // followed, so a link stays a link and a dangling one gets the file it names) and renames it over
    // that file only when complete, so it is the old file or the whole new one, never a part. A file
    // the caller may not write (by the effective ids) is refused untouched; a pipe, a device or a
    // socket is written in place, never replaced; the new file's name fits the file system's limit
    // whatever the target's length; temporaries of that target left by processes that no longer run
    // are removed first. On failure lastWriteFailure gives the calling thread the reason.
    static std::string lastWriteFailure();
    // Copies data and permissions; the destination is replaced only once the copy is complete.
    // Returns true when the copy succeeded. flag has no effect.
    static bool cpyfl(const char* from, const char* to, bool flag);
    // Replaces path with a one-line file holding text and a line feed, written under an exclusive
    // advisory lock to a temporary file that is renamed over path; an existing file stays whole
    // when anything fails. Returns whether it worked; failures are logged. flag has no effect.
    static bool lgexc(const char* path, const char* text, bool flag);
    // Replaces path with size bytes, flushed to disk before the rename. A replaced file keeps its
    // permissions. With lock the temporary is written under an exclusive advisory lock. On failure
    // the temporary is removed and false returned; nothing is logged (callers report).
    static bool rplfl(const char* path, const char* data, size_t size, bool lock);
    // The same replacement for a file written piece by piece. tmpop creates the new file beside path
    // (with path's permissions when it replaces one) and opens it for binary writing, giving its
    // name in temporary (empty for a target written in place); null when it cannot be made. tmpcm
    // flushes it to disk, closes it and renames it over path; when any step fails it removes the file
    // and returns false. tmpab closes and removes it, leaving path as it was.
    static std::FILE* tmpop(const char* path, std::string& temporary);
    static bool tmpcm(std::FILE* file, const std::string& temporary, const char* path);
    static void tmpab(std::FILE* file, const std::string& temporary);
};
