// CoreLutl: creating every folder on a path and emptying a folder of its files.
// Static members only, no state: safe to call from any thread (callers keep two
// threads off the same folder).
#pragma once
#include "base/CoreAnsx.h"

class CoreLutl {
public:
    // Creates every missing folder of path's folder part (everything up to its
    // last '/' or '\'), so the file path names can be created afterwards; the
    // file itself is not created. An absolute path is walked from the root, a
    // relative one from the working folder. '\' counts as '/' (file names are
    // opened that way too). Failures, such as an existing folder, are ignored.
    static void crtpt(const CoreAnsx& path);
    // Deletes every file directly inside folder (symbolic links themselves, never
    // their targets); sub-folders and their contents stay. A missing trailing
    // separator is supplied. Failures are ignored.
    static void clept(const CoreAnsx& folder);
};
