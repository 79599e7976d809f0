// CoreHutl: folder helpers: wildcard matching of names, listing a folder's
// files and sub-folders, locating the module that holds the plug-in, file
// modification times and a millisecond clock. Static members only, no state:
// safe to call from any thread.
#pragma once
#include "base/CoreAnsx.h"

class CoreHutl {
public:
    // True when the whole name matches pattern: '*' any run (also empty), '?' any
    // one character, every other character equal after ASCII upper-casing. A null
    // argument counts as "".
    static bool match(const char* name, const char* pattern);

    // Lists the names (not paths) of the files directly inside folder that match
    // filePattern, then, unless folderPattern is "0", of its sub-folders that
    // match folderPattern. Files and folders are each sorted by upper-cased name
    // (ties by raw bytes); '.' and '..' never appear; a symbolic link counts as a
    // file and is never followed. The caller's previous *names (array-new or
    // null) is released and replaced by a new array of count texts, or of one
    // empty text when nothing was found (count 0; also for a folder that cannot
    // be opened). The caller releases the array with delete[].
    static void readr(const CoreAnsx& folder, const CoreAnsx& filePattern, CoreAnsx** names, int& count,
                      const CoreAnsx& folderPattern);

    // The file name (with extension) of the bundle that holds the running code,
    // and in folder the folder that contains it, ending with '/'. module is not
    // read. Both empty when the module's path cannot be found.
    static CoreAnsx appnm(void* module, CoreAnsx& folder);
    // The splitting rule of appnm for a given module path. In a bundle
    // (Name.ext/Contents/arch/lib.so) the bundle is Name.ext; otherwise the
    // module file itself is the bundle.
    static CoreAnsx bndnm(const CoreAnsx& modulePath, CoreAnsx& folder);

    // Last modification time in seconds since the epoch, nanoseconds as the
    // fraction; 0.0 when the file cannot be examined.
    static double getst(const CoreAnsx& path);
    // Wall-clock milliseconds (CoreXutl::tgtme).
    static double cpucd();
    // Does nothing on this platform.
    static void fslpr(int, bool);
};
