#include "base/CoreHutl.h"
#include "base/CoreXutl.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char* textOf(const CoreAnsx& text) {
    const char* data = text.c_str();
    return data != nullptr ? data : "";
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper) c = upperAscii(c);
    return upper;
}

// Names compare by their upper-cased form first, so 'a.wav' and 'B.wav' keep
// the order a case-insensitive file system gave; names equal but for case fall
// back to their raw bytes.
void sortNames(std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (const std::string& name : names) keyed.emplace_back(upperName(name), name);
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < names.size(); ++i) names[i] = keyed[i].second;
}

// A directory entry of unknown type is examined without following a link: a
// link is a file.
bool entryIsFolder(const std::string& folder, const dirent* entry) {
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN) return false;
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    path += entry->d_name;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return false;
    return S_ISDIR(info.st_mode);
}

// Any function of this library will do: its address names the module the
// library is linked into.
void moduleAnchor() {}

} // namespace

bool CoreHutl::match(const char* name, const char* pattern) {
    if (name == nullptr) name = "";
    if (pattern == nullptr) pattern = "";
    const char* lastStar = nullptr;   // position of the most recent '*' in pattern
    const char* resumeName = nullptr; // name position where the text after that '*' was last tried
    while (*name != 0) {
        if (*pattern == '*') {
            lastStar = pattern++;
            resumeName = name;
        } else if (*pattern != 0 && (*pattern == '?' || upperAscii(*pattern) == upperAscii(*name))) {
            ++pattern;
            ++name;
        } else if (lastStar != nullptr) {
            pattern = lastStar + 1;
            name = ++resumeName;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}

void CoreHutl::readr(const CoreAnsx& folder, const CoreAnsx& filePattern, CoreAnsx** names, int& count,
                     const CoreAnsx& folderPattern) {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    const bool listFolders = std::strcmp(textOf(folderPattern), "0") != 0;
    const std::string folderPath = textOf(folder);
    if (DIR* walk = opendir(folderPath.c_str())) {
        while (const dirent* entry = readdir(walk)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
            if (entryIsFolder(folderPath, entry)) {
                if (listFolders && match(entry->d_name, textOf(folderPattern)))
                    folders.emplace_back(entry->d_name);
            } else if (match(entry->d_name, textOf(filePattern))) {
                files.emplace_back(entry->d_name);
            }
        }
        closedir(walk);
    }
    sortNames(files);
    sortNames(folders);

    const size_t kept = files.size() + folders.size();
    CoreAnsx* list = new CoreAnsx[kept > 0 ? kept : 1];
    size_t index = 0;
    for (const std::string& name : files) list[index++] = CoreAnsx(name.c_str());
    for (const std::string& name : folders) list[index++] = CoreAnsx(name.c_str());
    if (kept == 0) list[0] = CoreAnsx("");
    count = static_cast<int>(kept);
    if (names == nullptr) {
        delete[] list;
        return;
    }
    delete[] * names;
    *names = list;
}

CoreAnsx CoreHutl::bndnm(const CoreAnsx& modulePath, CoreAnsx& folder) {
    std::string path = textOf(modulePath);
    folder = CoreAnsx("");
    if (path.empty()) return CoreAnsx("");
    // Name.ext/Contents/arch/lib.so: the component two above the file is
    // "Contents".
    std::vector<size_t> separators;
    for (size_t i = 0; i < path.size(); ++i)
        if (path[i] == '/') separators.push_back(i);
    const size_t n = separators.size();
    std::string bundle = path;
    if (n >= 3 && separators[n - 3] > 0) {
        const size_t contentsStart = separators[n - 3] + 1;
        const size_t contentsEnd = separators[n - 2];
        if (path.compare(contentsStart, contentsEnd - contentsStart, "Contents") == 0)
            bundle = path.substr(0, separators[n - 3]);
    }
    const size_t lastSeparator = bundle.rfind('/');
    if (lastSeparator == std::string::npos) return CoreAnsx(bundle.c_str());
    folder = CoreAnsx(bundle.substr(0, lastSeparator + 1).c_str());
    return CoreAnsx(bundle.substr(lastSeparator + 1).c_str());
}

CoreAnsx CoreHutl::appnm(void*, CoreAnsx& folder) {
    folder = CoreAnsx("");
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&moduleAnchor), &info) == 0 || info.dli_fname == nullptr ||
        info.dli_fname[0] == 0)
        return CoreAnsx("");
    std::string path = info.dli_fname;
    // The main program is reported by the name it was started with, which may be
    // relative.
    if (path[0] != '/') {
        char* resolved = realpath(path.c_str(), nullptr);
        if (resolved == nullptr) return CoreAnsx("");
        path = resolved;
        free(resolved);
    }
    return bndnm(CoreAnsx(path.c_str()), folder);
}

double CoreHutl::getst(const CoreAnsx& path) {
    struct stat info;
    if (stat(textOf(path), &info) != 0) return 0.0;
    return static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) * 1e-9;
}

double CoreHutl::cpucd() {
    return CoreXutl::tgtme();
}

void CoreHutl::fslpr(int, bool) {}
