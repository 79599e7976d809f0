// CoreAnsx: the one string type of the system, an 8-bit NUL-terminated text in a heap buffer that
// grows in 8-byte steps; also the type of every thrown error message. Numbers are formatted and
// parsed with C conventions ('.' decimal point) whatever the process locale. A value type: not
// shared between threads without the owner's lock.
#pragma once
#include <cstdint>

class CoreAnsx {
public:
    CoreAnsx();
    CoreAnsx(const char* p);
    CoreAnsx(const CoreAnsx& s);
    CoreAnsx(CoreAnsx&& s) noexcept;
    CoreAnsx(char c);
    CoreAnsx(int v);
    CoreAnsx(unsigned int v);
    CoreAnsx(long v);
    CoreAnsx(unsigned long v);
    CoreAnsx(double v); // "%G"
    ~CoreAnsx();

    // Writes text at the 1-based position pos (0 replaces), at most maxlen bytes including the NUL
    // (negative: no limit). Returns the data pointer.
    char* start(const char* text, int pos, int maxlen);
    char* start(const CoreAnsx& s, int pos, int maxlen);

    // Assignment from a source without the signature leaves the target unchanged.
    CoreAnsx& operator=(const CoreAnsx& src);
    CoreAnsx& operator=(CoreAnsx&& src) noexcept;
    CoreAnsx& operator+=(const CoreAnsx& s);
    friend CoreAnsx operator+(const CoreAnsx& a, const CoreAnsx& b);

    const char* c_str() const;
    int Length() const;                 // characters without the NUL; -1 for a string that never held a text
    int Pos(const CoreAnsx& sub) const; // 1-based, 0 when absent
    int AnsiPos(const CoreAnsx& sub) const { return Pos(sub); }
    int ToInt() const;       // saturates; 0 when nothing parses
    double ToDouble() const; // 0.0 when nothing parses, for nan, inf and hexadecimal text

    friend bool operator==(const CoreAnsx& a, const CoreAnsx& b);
    friend bool operator!=(const CoreAnsx& a, const CoreAnsx& b);
    friend bool operator<(const CoreAnsx& a, const CoreAnsx& b);
    friend bool operator<=(const CoreAnsx& a, const CoreAnsx& b);
    friend bool operator>(const CoreAnsx& a, const CoreAnsx& b);
    friend bool operator>=(const CoreAnsx& a, const CoreAnsx& b);

    CoreAnsx SubString(int pos, int count) const; // 1-based; count < 0 gives the empty text
    CoreAnsx Trim() const;
    CoreAnsx LowerCase() const;
    CoreAnsx UpperCase() const;
    CoreAnsx& sprintf(const char* fmt, double v); // fmt takes one double, e.g. "%.1f >"
    static CoreAnsx _FloatToStrF(double v, int format, int precision, int digits);
    static int alloc(int n); // capacity for n bytes: (n & ~7) + 8

    int capacity() const { return iCapacity; }
    int storedLength() const { return iLength; } // bytes in use including the NUL

private:
    char cSignature[2];
    char* pData;
    int32_t iLength;
    int32_t iCapacity;

    void initEmpty();
    bool hasSignature() const { return cSignature[0] == 0 && cSignature[1] == 13; }
};
