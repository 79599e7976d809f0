#include "base/CoreVutl.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

void* CoreVutl::reall(void* p, int size) {
    if (size == 0) {
        std::free(p);
        return nullptr;
    }
    // A negative size is a caller's arithmetic gone wrong: refuse it like a
    // failed reallocation, so p stays valid and still belongs to the caller.
    if (size < 0) return nullptr;
    for (int attempt = 0; attempt < 10; ++attempt) {
        void* grown = std::realloc(p, static_cast<size_t>(size));
        if (grown) return grown;
    }
    return nullptr;
}

// The raw address no longer needs a slot in front of the block: posix_memalign
// hands back an address that free releases directly. A zero-byte request still
// yields a distinct block.
void* CoreVutl::mllc8(int n) {
    if (n < 0) return nullptr;
    void* block = nullptr;
    if (posix_memalign(&block, 16, n == 0 ? 16 : static_cast<size_t>(n)) != 0) return nullptr;
    return block;
}

void CoreVutl::free8(void* p) {
    std::free(p);
}

void* CoreVutl::getmp(void* p) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    return reinterpret_cast<void*>((address & ~static_cast<uintptr_t>(15)) + 16);
}

namespace {

// Copies path[from, to) into out (iCpathsize bytes), cutting what does not fit.
void copyPathPiece(char* out, const char* path, size_t from, size_t to) {
    if (!out) return;
    size_t count = to > from ? to - from : 0;
    if (count > static_cast<size_t>(CoreVutl::iCpathsize - 1)) count = CoreVutl::iCpathsize - 1;
    if (count) std::memcpy(out, path + from, count);
    out[count] = 0;
}

} // namespace

void CoreVutl::fnspl(const char* path, char* drive, char* dir, char* name, char* ext) {
    if (!path) path = "";
    const size_t len = std::strlen(path);

    const char* colon = std::strchr(path, ':');
    const size_t d = colon ? static_cast<size_t>(colon - path) + 1 : 0;

    // The extension search runs across separators on purpose ("a.b/c" has the
    // extension ".b/c"), and a dot right after the drive starts a name, not an
    // extension.
    size_t e = len;
    for (size_t i = len; i > d + 1; --i) {
        if (path[i - 1] == '.') {
            e = i - 1;
            break;
        }
    }

    // Position d itself is never taken as a separator, so "/a" is a name of its
    // own.
    size_t nameStart = d;
    for (size_t i = e + 1; i > d + 1; --i) {
        const char c = path[i - 1];
        if (c == '/' || c == '\\') {
            nameStart = i;
            break;
        }
    }

    copyPathPiece(drive, path, 0, d);
    copyPathPiece(dir, path, d, nameStart);
    copyPathPiece(name, path, nameStart, e);
    copyPathPiece(ext, path, e, len);
}
