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
    // Every replacement below leaves the path's links to the kernel. It renames a complete new file
    // over the target only where the rename keeps everything the old file had (a regular file with one
    // name, not mounted over, whose owner, group, mode and user attributes and access lists the new
    // file carries, an access list its folder gave the new file taken off where the old had none, with
    // no other attribute or inode flag); any other file, and the file a link names,
    // is written in place once the whole new content exists: locked against other writers in place
    // (waiting up to 30 s for another program's lock; one the calling process holds itself, as under
    // flock(1), is no reason to wait), the room past its old end reserved before its first byte without
    // changing its size, and cut to its length. Its open waits for another program's lease on it to be
    // given up, up to the kernel's lease-break time. A pipe, a device
    // or a socket is written as the bytes come. Refused untouched: a file the caller may not write, an
    // append-only or immutable file, a link another user made in a shared sticky folder, a file with
    // no room for its new length, and a target that changed between the decision and the open.
    // Temporaries are private (0600) until given the target's mode; their names fit the folder's name
    // limit, and the caller's temporaries of that target whose writers are gone are removed first. On
    // failure lastWriteFailure gives the calling thread the reason.
    static std::string lastWriteFailure();
    // Test seam: called with the target's path just before a target is opened for writing in place,
    // so that a test changes what the path names there; null removes it.
    static void setOpenSeam(void (*seam)(const char* path));
    // Test seam: called with the target's path once a file written in place is open, locked and its
    // room reserved, before its first byte, so that a test holds or kills a writer there; null removes it.
    static void setHeldSeam(void (*seam)(const char* path));
    // Test seam: how long a file written in place waits for another program's lock on it, in
    // milliseconds; 0 restores the 30 s.
    static void setLockWait(int milliseconds);
    // Copies data and permissions; a replaced destination is renamed over only once the copy is complete.
    // Returns true when the copy succeeded. flag has no effect.
    static bool cpyfl(const char* from, const char* to, bool flag);
    // Replaces path with a one-line file holding text and a line feed, written under an exclusive
    // advisory lock to a temporary file that is renamed over path; an existing file stays whole
    // when anything fails. Returns whether it worked; failures are logged. flag has no effect.
    static bool lgexc(const char* path, const char* text, bool flag);
    // Replaces path with size bytes, flushed to disk before the rename. A replaced file keeps its
    // permissions. lock has no effect: a file written in place always is under an exclusive advisory
    // lock. On failure the temporary is removed and false returned; nothing is logged (callers report).
    static bool rplfl(const char* path, const char* data, size_t size, bool lock);
    // The same replacement for a file written piece by piece. tmpop creates the new file beside path
    // (with path's permissions when it replaces one) and opens it for binary writing, giving its
    // name in temporary (empty for a target written in place, whose pieces go to an unnamed file in
    // the temporary folder until tmpcm copies them in); null when it cannot be made. tmpcm flushes
    // it to disk, closes it and renames it over path; when any step fails it removes the file and
    // returns false. tmpab closes and removes it, leaving path as it was.
    static std::FILE* tmpop(const char* path, std::string& temporary);
    // Why a write to a file tmpop staged in the temporary folder failed with error, where that means
    // the folder is full: it names the folder and how to choose another. Empty for any other file or
    // error.
    static std::string stagingFailure(std::FILE* file, int error);
    static bool tmpcm(std::FILE* file, const std::string& temporary, const char* path);
    static void tmpab(std::FILE* file, const std::string& temporary);
};
