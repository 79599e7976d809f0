#include "filestore/CoreRcsv.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreXutl.h"
#include "filestore/CoreFsys.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace {

bool isCBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Decimal exponent of the number text in [first, last) (digits, '.', exponent) when read as
// d.ddd x 10^e: used to tell an overflow from an underflow.
long decimalMagnitude(const char* first, const char* last) {
    long integerDigits = 0, leadingFractionZeros = 0;
    bool nonZero = false;
    const char* c = first;
    for (; c < last && *c >= '0' && *c <= '9'; ++c)
        if (*c != '0' || nonZero) {
            nonZero = true;
            ++integerDigits;
        }
    if (c < last && *c == '.')
        for (++c; c < last && *c >= '0' && *c <= '9'; ++c) {
            if (nonZero) continue;
            if (*c == '0')
                ++leadingFractionZeros;
            else
                nonZero = true;
        }
    long exponent = 0;
    if (c < last && (*c == 'e' || *c == 'E')) {
        ++c;
        bool negative = false;
        if (c < last && (*c == '+' || *c == '-')) negative = *c++ == '-';
        for (; c < last && *c >= '0' && *c <= '9'; ++c)
            if (exponent < 100000) exponent = exponent * 10 + (*c - '0');
        if (negative) exponent = -exponent;
    }
    return (integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1)) + exponent;
}

// One value's text by the C rules of strtod; finite is cleared for NaN, infinity and overflow.
double parseValue(const char* first, const char* last, bool& finite) {
    finite = true;
    while (first < last && isCBlank(*first)) ++first;
    bool negative = false;
    if (first < last && (*first == '+' || *first == '-')) negative = *first++ == '-';
    // from_chars takes no sign of its own here: a second sign is not a number, as for strtod.
    if (first == last || *first == '+' || *first == '-') return 0.0;
    double value = 0.0;
    const std::from_chars_result result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (decimalMagnitude(first, result.ptr) > 0) finite = false;
        return 0.0; // an underflow is 0
    }
    if (result.ec != std::errc()) return 0.0;
    if (!std::isfinite(value)) {
        finite = false;
        return 0.0;
    }
    return negative ? -value : value;
}

} // namespace

CoreRcsv::CoreRcsv(CorePool* pool, CoreFsys* files)
    : sText(""), iId(-1), bOpen(false), pFiles(files), pPool(pool), sName(""), bLoggedNonFinite(false) {}

CoreRcsv::~CoreRcsv() {
    close();
    pFiles = nullptr;
    pPool = nullptr;
}

bool CoreRcsv::open_(CoreAnsx name) {
    close();
    sText = "";
    sName = name;
    bLoggedNonFinite = false;
    if (pFiles == nullptr) return false;
    iId = pFiles->crtit(name, false, false);
    if (iId < 0) return false;
    pFiles->loadc(iId, true);
    bOpen = pFiles->wopen(iId, "rb");
    return bOpen;
}

int32_t CoreRcsv::getdr() {
    sText = "";
    if (bOpen) {
        void* data = nullptr;
        const int32_t size = pFiles->getco(iId, &data);
        sText = CoreButl::getac(static_cast<const char*>(data), size);
    }
    return getdt(nullptr, true);
}

int32_t CoreRcsv::getdt(double* values, bool countOnly) {
    if (!bOpen || sText.Length() <= 0) return 0;
    const char* text = sText.c_str();
    const char* end = text + sText.Length();
    int32_t count = 0;
    if (countOnly || values == nullptr) {
        for (const char* c = text; c < end; ++c)
            if (*c == ';') ++count;
        return count;
    }
    std::string value; // one value's text without its line feeds
    bool nonFinite = false;
    const char* start = text;
    for (const char* c = text; c < end; ++c) {
        if (*c != ';') continue;
        const char* first = start;
        const char* last = c;
        if (std::char_traits<char>::find(first, static_cast<size_t>(last - first), '\n') != nullptr) {
            value.clear();
            for (const char* p = first; p < last; ++p)
                if (*p != '\n') value += *p;
            first = value.data();
            last = first + value.size();
        }
        bool finite = true;
        values[count++] = parseValue(first, last, finite);
        if (!finite) nonFinite = true;
        start = c + 1;
    }
    if (nonFinite && !bLoggedNonFinite) {
        bLoggedNonFinite = true;
        CoreLog_::logfl(sName + ": values that are not finite numbers read as 0", 1);
    }
    return count;
}

void CoreRcsv::close() {
    if (bOpen && pFiles != nullptr) pFiles->wclse(iId);
    bOpen = false;
}

CoreAnsx CoreRcsv::crtcn(const double* values, int32_t n) {
    std::string text;
    if (values == nullptr || n <= 0) return CoreAnsx("");
    text.reserve(static_cast<size_t>(n) * 22);
    // "%.16f" of the largest double has 309 integer digits.
    char buffer[400];
    for (int32_t i = 0; i < n; ++i) {
        const std::to_chars_result result =
            std::to_chars(buffer, buffer + sizeof(buffer), values[i], std::chars_format::fixed, 16);
        text.append(buffer, result.ptr);
        text += ";\n";
    }
    return CoreAnsx(text.c_str());
}

bool CoreRcsv::wfile(CoreAnsx name, const double* values, int32_t n) {
    const CoreAnsx path = (pFiles != nullptr ? pFiles->getdt() : CoreAnsx("")) + name;
    const CoreAnsx folder = CoreButl::getpt(path);
    if (folder.Length() > 0 && !CoreXutl::ispvl(CoreButl::pcase(CoreButl::ffpen(folder)).c_str())) {
        CoreLog_::logfl(path + ": not written, the folder does not exist", 1);
        return false;
    }
    const CoreAnsx text = crtcn(values, n);
    return CoreFsys::wrfle(path, text.c_str(), text.Length());
}
