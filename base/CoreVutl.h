// CoreVutl: reallocation with retries, 16-byte-aligned blocks and the path split. Static members
// only; thread-safe.
#pragma once
#include <cstdint>

class CoreVutl {
public:
    static const int iCpathsize = 256; // size of each buffer fnspl writes into

    // size 0 releases p and returns null; otherwise reallocates, trying up to 10 times; null after
    // 10 failures (p is then still valid and still the caller's).
    static void* reall(void* p, int size);
    // n bytes, 16-byte aligned; release with free8. Null when n is negative or allocation fails.
    static void* mllc8(int n);
    static void free8(void* p);
    // The smallest multiple of 16 strictly greater than p.
    static void* getmp(void* p);
    // Splits path into drive, folder, name and extension; each output buffer holds iCpathsize bytes
    // and every copy is cut to fit.
    static void fnspl(const char* path, char* drive, char* dir, char* name, char* ext);
};
