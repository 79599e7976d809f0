#include "base/CoreAnsx.h"

#include "base/CoreVutl.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <locale.h>
#include <new>
#include <stdexcept>
#include <string>

namespace {

const char kEmptyText[1] = {0};

// The "C" conventions for every number this class prints, whatever locale the
// host has set: uselocale switches the calling thread only, so other threads
// and the host never notice.
class CNumericScope {
public:
    CNumericScope() {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        previous = cLocale ? uselocale(cLocale) : static_cast<locale_t>(nullptr);
    }
    ~CNumericScope() {
        if (previous) uselocale(previous);
    }
    CNumericScope(const CNumericScope&) = delete;
    CNumericScope& operator=(const CNumericScope&) = delete;

private:
    locale_t previous;
};

std::string formatDouble(const char* fmt, double v) {
    CNumericScope cConventions;
    char local[128];
    const int needed = std::snprintf(local, sizeof local, fmt, v);
    if (needed < 0) return std::string();
    if (static_cast<size_t>(needed) < sizeof local) return std::string(local, static_cast<size_t>(needed));
    std::string wide(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(wide.data(), wide.size(), fmt, v);
    wide.resize(static_cast<size_t>(needed));
    return wide;
}

// fmt goes straight to printf with a double, so it must hold exactly one
// floating conversion (flags, width and precision written as digits) and
// otherwise only text and "%%".
bool isOneDoubleFormat(const char* fmt) {
    int conversions = 0;
    for (const char* c = fmt; *c; ++c) {
        if (*c != '%') continue;
        ++c;
        if (*c == '%') continue;
        while (*c && std::strchr("-+ #0", *c)) ++c;
        while (*c >= '0' && *c <= '9') ++c;
        if (*c == '.') {
            ++c;
            while (*c >= '0' && *c <= '9') ++c;
        }
        if (*c == 'l') ++c; // "%lf" is a double too
        if (!*c || !std::strchr("fFeEgGaA", *c)) return false;
        ++conversions;
    }
    return conversions == 1;
}

bool isAsciiBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

template <typename Integer>
std::string integerText(Integer v) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, v);
    return std::string(digits, result.ptr);
}

} // namespace

void CoreAnsx::initEmpty() {
    cSignature[0] = 0;
    cSignature[1] = 13;
    pData = nullptr;
    iLength = 0;
    iCapacity = 0;
}

CoreAnsx::CoreAnsx() {
    initEmpty();
}

CoreAnsx::CoreAnsx(const char* p) {
    initEmpty();
    start(p ? p : kEmptyText, 0, -1);
}

CoreAnsx::CoreAnsx(const CoreAnsx& s) {
    initEmpty();
    start(s.c_str(), 0, -1);
}

CoreAnsx::CoreAnsx(CoreAnsx&& s) noexcept {
    initEmpty();
    pData = s.pData;
    iLength = s.iLength;
    iCapacity = s.iCapacity;
    s.pData = nullptr;
    s.iLength = 0;
    s.iCapacity = 0;
}

CoreAnsx::CoreAnsx(char c) {
    initEmpty();
    const char text[2] = {c, 0};
    start(text, 0, -1);
}

CoreAnsx::CoreAnsx(int v) {
    initEmpty();
    start(integerText(v).c_str(), 0, -1);
}

CoreAnsx::CoreAnsx(unsigned int v) {
    initEmpty();
    start(integerText(v).c_str(), 0, -1);
}

CoreAnsx::CoreAnsx(long v) {
    initEmpty();
    start(integerText(v).c_str(), 0, -1);
}

CoreAnsx::CoreAnsx(unsigned long v) {
    initEmpty();
    start(integerText(v).c_str(), 0, -1);
}

CoreAnsx::CoreAnsx(double v) {
    initEmpty();
    start(formatDouble("%G", v).c_str(), 0, -1);
}

CoreAnsx::~CoreAnsx() {
    if (iCapacity > 0) std::free(pData);
    pData = nullptr;
}

char* CoreAnsx::start(const char* text, int pos, int maxlen) {
    if (!text) text = kEmptyText;
    if (pos < 0) pos = 0;
    int64_t n = static_cast<int64_t>(std::strlen(text)) + 1;
    // At least the NUL is written: a limit of 0 gives the text cut at pos (the
    // empty text when replacing) instead of a terminator one byte before the
    // write position.
    if (maxlen >= 0 && n > maxlen) n = maxlen > 0 ? maxlen : 1;
    const int64_t writeAt = pos > 0 ? pos - 1 : 0;
    const int64_t newLength = writeAt + n;
    if (newLength > INT32_MAX - 8) throw std::length_error("CoreAnsx: text too long");

    if (newLength > iCapacity) {
        // text may lie inside our own buffer (s += s, s = s): remember where,
        // because the reallocation can move it.
        const uintptr_t bufferStart = reinterpret_cast<uintptr_t>(pData);
        const uintptr_t textAddress = reinterpret_cast<uintptr_t>(text);
        const bool aliased = pData && textAddress >= bufferStart && textAddress < bufferStart + iCapacity;
        const uintptr_t sourceOffset = aliased ? textAddress - bufferStart : 0;
        const int newCapacity = alloc(static_cast<int>(newLength));
        char* grown = static_cast<char*>(CoreVutl::reall(pData, newCapacity));
        if (!grown) throw std::bad_alloc(); // the string keeps its old text
        pData = grown;
        iCapacity = newCapacity;
        if (aliased) text = pData + sourceOffset;
    }

    const int64_t oldEnd = iLength > 0 ? iLength - 1 : 0; // where the old text's NUL stood
    std::memmove(pData + writeAt, text, static_cast<size_t>(n));
    // Writing past the end leaves no stray bytes in between: the gap reads as
    // blanks.
    if (writeAt > oldEnd) std::memset(pData + oldEnd, ' ', static_cast<size_t>(writeAt - oldEnd));
    iLength = static_cast<int32_t>(newLength);
    pData[iLength - 1] = 0;
    return pData;
}

char* CoreAnsx::start(const CoreAnsx& s, int pos, int maxlen) {
    return start(s.c_str(), pos, maxlen);
}

CoreAnsx& CoreAnsx::operator=(const CoreAnsx& src) {
    if (!src.hasSignature() || &src == this) return *this;
    start(src.c_str(), 0, -1);
    return *this;
}

CoreAnsx& CoreAnsx::operator=(CoreAnsx&& src) noexcept {
    if (!src.hasSignature() || &src == this) return *this;
    if (iCapacity > 0) std::free(pData);
    pData = src.pData;
    iLength = src.iLength;
    iCapacity = src.iCapacity;
    src.pData = nullptr;
    src.iLength = 0;
    src.iCapacity = 0;
    return *this;
}

CoreAnsx& CoreAnsx::operator+=(const CoreAnsx& s) {
    start(s.c_str(), iLength, -1);
    return *this;
}

CoreAnsx operator+(const CoreAnsx& a, const CoreAnsx& b) {
    CoreAnsx joined(a);
    joined.start(b.c_str(), joined.iLength, -1);
    return joined;
}

const char* CoreAnsx::c_str() const {
    return pData ? pData : kEmptyText;
}

int CoreAnsx::Length() const {
    return iLength - 1;
}

int CoreAnsx::Pos(const CoreAnsx& sub) const {
    const char* text = c_str();
    const char* found = std::strstr(text, sub.c_str());
    return found ? static_cast<int>(found - text) + 1 : 0;
}

int CoreAnsx::ToInt() const {
    const char* c = c_str();
    while (isAsciiBlank(static_cast<unsigned char>(*c))) ++c;
    bool negative = false;
    if (*c == '+' || *c == '-') negative = *c++ == '-';
    // Accumulated as a negative number, whose range holds INT_MIN, and clamped
    // once it leaves int.
    int64_t value = 0;
    for (; *c >= '0' && *c <= '9'; ++c) {
        if (value > static_cast<int64_t>(INT_MIN) - 1) value = value * 10 - (*c - '0');
    }
    if (!negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

double CoreAnsx::ToDouble() const {
    // Only plain decimal text counts as a number: "nan", "inf" and hexadecimal
    // text read as 0, and the decimal point is '.' in every locale.
    const char* c = c_str();
    while (isAsciiBlank(static_cast<unsigned char>(*c))) ++c;
    bool negative = false;
    if (*c == '+' || *c == '-') negative = *c++ == '-';
    const char* numberStart = c;
    int digits = 0;
    bool seenNonZero = false;
    int leadingFractionZeros = 0;
    int integerDigits = 0;
    for (; *c >= '0' && *c <= '9'; ++c, ++digits) {
        if (*c != '0' || seenNonZero) {
            seenNonZero = true;
            ++integerDigits;
        }
    }
    if (*c == '.') {
        ++c;
        for (; *c >= '0' && *c <= '9'; ++c, ++digits) {
            if (!seenNonZero && *c == '0')
                ++leadingFractionZeros;
            else
                seenNonZero = true;
        }
    }
    if (digits == 0) return 0.0;
    long exponent = 0;
    if (*c == 'e' || *c == 'E') {
        const char* e = c + 1;
        bool negativeExponent = false;
        if (*e == '+' || *e == '-') negativeExponent = *e++ == '-';
        if (*e >= '0' && *e <= '9') {
            for (; *e >= '0' && *e <= '9'; ++e) {
                if (exponent < 100000) exponent = exponent * 10 + (*e - '0');
            }
            if (negativeExponent) exponent = -exponent;
            c = e;
        }
    }
    if (!seenNonZero) return negative ? -0.0 : 0.0;
    // Decimal exponent of the leading non-zero digit, before the exponent part.
    const int magnitude = integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1);

    double value = 0.0;
    const auto result = std::from_chars(numberStart, c, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large saturates like ToInt; too small is 0.
        value = magnitude + exponent > 0 ? std::numeric_limits<double>::max() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

bool operator==(const CoreAnsx& a, const CoreAnsx& b) {
    return std::strcmp(a.c_str(), b.c_str()) == 0;
}
bool operator!=(const CoreAnsx& a, const CoreAnsx& b) {
    return std::strcmp(a.c_str(), b.c_str()) != 0;
}
bool operator<(const CoreAnsx& a, const CoreAnsx& b) {
    return std::strcmp(a.c_str(), b.c_str()) < 0;
}
bool operator<=(const CoreAnsx& a, const CoreAnsx& b) {
    return std::strcmp(a.c_str(), b.c_str()) <= 0;
}
bool operator>(const CoreAnsx& a, const CoreAnsx& b) {
    return std::strcmp(a.c_str(), b.c_str()) > 0;
}
bool operator>=(const CoreAnsx& a, const CoreAnsx& b) {
    return std::strcmp(a.c_str(), b.c_str()) >= 0;
}

CoreAnsx CoreAnsx::SubString(int pos, int count) const {
    if (pos < 1) pos = 1;
    CoreAnsx part;
    if (pos >= iLength) return part;
    // count + 1 bytes including the NUL; a negative count gives the empty text.
    const int limit = count < 0 ? 0 : (count == INT_MAX ? INT_MAX : count + 1);
    part.start(pData + pos - 1, 0, limit);
    return part;
}

CoreAnsx CoreAnsx::Trim() const {
    const char* first = c_str();
    while (isAsciiBlank(static_cast<unsigned char>(*first))) ++first;
    const char* last = first + std::strlen(first);
    while (last > first && isAsciiBlank(static_cast<unsigned char>(last[-1]))) --last;
    CoreAnsx trimmed;
    trimmed.start(first, 0, static_cast<int>(last - first) + 1);
    return trimmed;
}

CoreAnsx CoreAnsx::LowerCase() const {
    CoreAnsx lowered(*this);
    for (char* c = lowered.pData; *c; ++c) {
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    }
    return lowered;
}

CoreAnsx CoreAnsx::UpperCase() const {
    CoreAnsx raised(*this);
    for (char* c = raised.pData; *c; ++c) {
        if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
    }
    return raised;
}

CoreAnsx& CoreAnsx::sprintf(const char* fmt, double v) {
    if (!fmt || !isOneDoubleFormat(fmt)) {
        throw CoreAnsx("Invalid number format ") + CoreAnsx(fmt ? fmt : "(null)");
    }
    start(formatDouble(fmt, v).c_str(), 0, -1);
    return *this;
}

CoreAnsx CoreAnsx::_FloatToStrF(double v, int, int, int digits) {
    // Beyond 350 decimals printf only appends zeros to any double.
    if (digits < 0) digits = 0;
    if (digits > 350) digits = 350;
    const std::string fmt = "%." + std::to_string(digits) + "f";
    return CoreAnsx(formatDouble(fmt.c_str(), v).c_str());
}

int CoreAnsx::alloc(int n) {
    return (n & ~7) + 8;
}
