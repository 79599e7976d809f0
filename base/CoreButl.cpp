// CoreButl: the static helpers and constants shared by the whole system.
#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreSmph.h"
#include "base/CoreXutl.h"
#include "base/RandomGenerator.h"
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <list>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// A value whose exponent bits are all zero (either zero, or subnormal) is stored as +0.0, so no denormal
// reaches the tables and buffers built here.
double flushDenormal(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0x7FF0000000000000ull) == 0 ? 0.0 : v;
}

// Level in dB, never below the floor; zero, subnormal and negative values are silence.

int bitLength(unsigned v) {
    int bits = 0;
    while (v != 0) {
        ++bits;
        v >>= 1;
    }
    return bits;
}

std::string toStd(const CoreAnsx& s) {
    return std::string(s.c_str());
}

// Key used by every case- and blank-insensitive comparison of names.
std::string compareKey(const CoreAnsx& s) {
    return toStd(s.Trim().UpperCase());
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// A path cut into folder (with its final separator), name and extension (from the last dot of the name,
// unless the name starts with it). Separators are '/' and '\'.
struct PathParts {
    std::string folder;
    std::string name;
    std::string ext;
};

PathParts splitPath(const std::string& path) {
    PathParts parts;
    const size_t separator = path.find_last_of("/\\");
    const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    parts.folder = path.substr(0, nameStart);
    const std::string file = path.substr(nameStart);
    const size_t dot = file.find_last_of('.');
    if (dot == std::string::npos || dot == 0) {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.ext = file.substr(dot);
    }
    return parts;
}

bool isReadOnlyMode(const char* mode) {
    if (mode == nullptr || mode[0] != 'r') return false;
    return std::strpbrk(mode, "wa+") == nullptr;
}

// Folder listings kept for case resolution, so that a name asked for in another case costs a lookup
// instead of a listing. Process-wide, at most kMostListings folders (the least recently used goes).
// A listing is used only while its folder's modification time is unchanged; one taken less than
// kSettleTime after the folder's last change may miss a file created in the same clock tick, so a
// miss in it lists the folder again and a hit is checked on disk. The system's own writers drop the
// listings of the folders they change (CoreButl::pcdrp).
class FolderListings {
public:
    static FolderListings& shared() {
        static FolderListings listings;
        return listings;
    }

    // The name in folder that equals part ignoring the case of ASCII letters: part itself when it
    // is there, else the first such name in byte order; regular tells whether it is a regular file
    // (following a symbolic link). modifiedNow: the folder's modification time when the caller has
    // just read it, else null.
    bool find(const std::string& folder, const std::string& part, std::string& found, bool& regular,
              const std::filesystem::file_time_type* modifiedNow) {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::file_time_type modified = modifiedNow ? *modifiedNow : fs::last_write_time(folder, error);
        if (error) return false;
        const std::string key = upperKey(part);
        bool known = false, hit = false, trusted = false;
        lock.locks();
        auto entry = listings.find(folder);
        if (entry != listings.end() && entry->second.modified == modified) {
            known = true;
            trusted = entry->second.trusted;
            hit = lookup(entry->second, key, part, found, regular);
            order.splice(order.begin(), order, entry->second.place);
        }
        lock.relse();
        if (known && hit && (trusted || fs::exists(fs::symlink_status(folder + "/" + found, error))))
            return true;
        if (known && !hit && trusted) return false;

        // Time and modification first: a change during the listing then shows at the next use.
        Listing fresh;
        fresh.modified = modified;
        fresh.trusted = fs::file_time_type::clock::now() - modified >= kSettleTime;
        fs::directory_iterator entries(folder, error);
        if (error) return false;
        for (const fs::directory_entry& item : entries) {
            std::string name = item.path().filename().string();
            const bool isRegular = item.is_regular_file(error);
            fresh.names[upperKey(name)].push_back({std::move(name), isRegular});
        }
        for (auto& same : fresh.names) std::sort(same.second.begin(), same.second.end());
        lock.locks();
        forgetLocked(folder);
        order.push_front(folder);
        fresh.place = order.begin();
        hit = lookup(fresh, key, part, found, regular);
        listings.emplace(folder, std::move(fresh));
        if (listings.size() > kMostListings) forgetLocked(order.back());
        lock.relse();
        return hit;
    }

    void forget(const std::string& folder) {
        lock.locks();
        forgetLocked(folder);
        lock.relse();
    }

private:
    static constexpr size_t kMostListings = 256;
    static constexpr std::chrono::seconds kSettleTime{2};

    struct Name {
        std::string text;
        bool regular;
        bool operator<(const Name& other) const { return text < other.text; }
    };
    struct Listing {
        std::filesystem::file_time_type modified;
        bool trusted = false;
        std::unordered_map<std::string, std::vector<Name>> names; // by upper-cased name, sorted
        std::list<std::string>::iterator place;
    };

    static std::string upperKey(const std::string& name) {
        std::string key = name;
        for (char& c : key) c = upperAscii(c);
        return key;
    }

    static bool lookup(const Listing& listing, const std::string& key, const std::string& part,
                       std::string& found, bool& regular) {
        const auto same = listing.names.find(key);
        if (same == listing.names.end()) return false;
        const std::vector<Name>& names = same->second;
        const Name* chosen = &names.front();
        for (const Name& name : names)
            if (name.text == part) chosen = &name;
        found = chosen->text;
        regular = chosen->regular;
        return true;
    }

    void forgetLocked(const std::string& folder) {
        const auto entry = listings.find(folder);
        if (entry == listings.end()) return;
        order.erase(entry->second.place);
        listings.erase(entry);
    }

    CoreSmph lock;
    std::list<std::string> order; // most recently used first
    std::unordered_map<std::string, Listing> listings;
};

// The folder named by the first count components of a path split at '/'.
std::string folderOf(const std::vector<std::string>& components, size_t count) {
    std::string folder;
    for (size_t i = 0; i < count; ++i) folder += (i > 0 ? "/" : "") + components[i];
    if (!folder.empty()) return folder;
    return count > 0 ? "/" : "."; // an empty first component is the root of an absolute path
}

// Resolves path component by component against the folders' listings, from the longest prefix that
// exists as given. A component found in no case ends the walk: with keepMissing the rest is kept as
// given (the names a writer will create), else false. regular: the last component was found and is
// a regular file.
bool resolveCase(const std::string& path, bool keepMissing, std::string& resolved, bool& regular) {
    namespace fs = std::filesystem;
    std::vector<std::string> components;
    for (size_t from = 0;;) {
        const size_t to = path.find('/', from);
        components.push_back(path.substr(from, to == std::string::npos ? std::string::npos : to - from));
        if (to == std::string::npos) break;
        from = to + 1;
    }
    // The longest existing prefix; its modification time, read on the way, serves the first listing.
    std::error_code error;
    size_t existing = components.size() - 1;
    fs::file_time_type modified{};
    for (; existing > 0; --existing) {
        modified = fs::last_write_time(folderOf(components, existing), error);
        if (!error) break;
    }
    if (existing == 0) modified = fs::last_write_time(folderOf(components, 0), error);
    const bool modifiedKnown = !error;
    std::vector<std::string> found(components.begin(),
                                   components.begin() + static_cast<std::ptrdiff_t>(existing));
    regular = false;
    for (size_t i = existing; i < components.size(); ++i) {
        const std::string& part = components[i];
        std::string name = part;
        const bool plain = part.empty() || part == "." || part == "..";
        const bool first = i == existing && modifiedKnown;
        regular = false;
        if (!plain && !FolderListings::shared().find(folderOf(found, found.size()), part, name, regular,
                                                     first ? &modified : nullptr)) {
            if (!keepMissing) return false;
            found.insert(found.end(), components.begin() + static_cast<std::ptrdiff_t>(i), components.end());
            regular = false;
            break;
        }
        found.push_back(name);
    }
    resolved.clear();
    for (size_t i = 0; i < found.size(); ++i) resolved += (i > 0 ? "/" : "") + found[i];
    return true;
}

} // namespace

// ---- numbers and signals ---------------------------------------------------------------------------------

bool CoreButl::ispo2(unsigned n) {
    return n >= 2 && (n & (n - 1)) == 0;
}

int CoreButl::getp2(int n) {
    if (n <= 0) return 1;
    const unsigned u = static_cast<unsigned>(n);
    if (ispo2(u)) return n;
    return static_cast<int>(1u << bitLength(u));
}

int CoreButl::geto2(int n) {
    if (n <= 0) return 0;
    const unsigned u = static_cast<unsigned>(n);
    return ispo2(u) ? bitLength(u) - 1 : bitLength(u);
}

int CoreButl::nrobn(unsigned n) {
    if (n == 0) return 0;
    int zeros = 0;
    while ((n & 1u) == 0) {
        ++zeros;
        n >>= 1;
    }
    return zeros;
}

unsigned CoreButl::revbt(unsigned x, unsigned bits) {
    bits = std::min(bits, 32u);
    unsigned reversed = 0;
    for (unsigned i = 0; i < bits; ++i) {
        reversed = (reversed << 1) | (x & 1u);
        x >>= 1;
    }
    return reversed;
}

int CoreButl::setmn(int n, int m) {
    if (n < 1 || m < 2) return n;
    const int64_t multiple = (static_cast<int64_t>(n) + m - 1) / m * m;
    return static_cast<int>(multiple);
}

double CoreButl::divmg(double a, double b, double m) {
    // A silent reference bin has no meaningful ratio; unity keeps inf/NaN out of the curve.
    if (flushDenormal(a) == 0.0) return 1.0;
    return (m * b + (1.0 - m) * a) / a;
}

double CoreButl::divmg(const Ipp64fc* x, const Ipp64fc* y, int k, double m) {
    const double a = std::sqrt(x[k].re * x[k].re + x[k].im * x[k].im);
    const double b = std::sqrt(y[k].re * y[k].re + y[k].im * y[k].im);
    return divmg(a, b, m);
}

double CoreButl::getgn(const double* buf, int32_t start, int32_t count) {
    double largest = 0.0;
    for (int32_t i = 0; i < count; ++i) largest = std::max(largest, std::fabs(buf[start + i]));
    return largest;
}

double CoreButl::getgn(double* const* bufs, int16_t ch, int32_t start, int32_t count) {
    return getgn(bufs[ch], start, count);
}

int32_t CoreButl::getpk(const double* buf, int32_t start, int32_t count) {
    double largest = 0.0;
    int32_t index = 0;
    for (int32_t i = 0; i < count; ++i) {
        const double v = std::fabs(buf[start + i]);
        if (v > largest) {
            largest = v;
            index = start + i;
        }
    }
    return index;
}

int CoreButl::getsg(const double* buf, int32_t n) {
    double loudest = 0.0;
    for (int32_t i = 0; i < n; ++i)
        if (std::fabs(buf[i]) > std::fabs(loudest)) loudest = buf[i];
    return loudest > 0.0 ? 1 : (loudest < 0.0 ? -1 : 0);
}

int32_t CoreButl::lsswt(double a, double b, double c, int32_t n) {
    if (!(a > 0.0) || !(b > 0.0) || !(c > 0.0) || b == a) return 0;
    const double place = std::trunc(n * std::log(c / a) / std::log(b / a));
    if (!(place == place)) return 0;
    if (place >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (place <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(place);
}

void CoreButl::movp0(int n, int m, double* dst, const double* src) {
    const int copied = std::clamp(m, 0, std::max(n, 0));
    if (copied > 0) std::memmove(dst, src, sizeof(double) * copied);
    for (int i = copied; i < n; ++i) dst[i] = 0.0;
}

void CoreButl::mvwav(const double* src, int32_t srclen, int32_t srcpos, double* dst, int32_t dstlen,
                     int32_t dstpos) {
    for (int32_t i = 0; i < dstlen; ++i) dst[i] = 0.0;
    // src[i] lands on dst[i + shift]; keep the i for which both indices are valid.
    const int64_t shift = static_cast<int64_t>(dstpos) - srcpos;
    const int64_t first = std::max<int64_t>(0, -shift);
    const int64_t last = std::min<int64_t>(srclen, static_cast<int64_t>(dstlen) - shift);
    for (int64_t i = first; i < last; ++i) dst[i + shift] = src[i];
}

void CoreButl::windw(double* buf, int n, int16_t type) {
    if (n <= 1 || type < 0 || type > 4) return;
    // Computed at extended precision: the flat top peaks at 4.64, and double arguments to the cosines would
    // cost about 1e-15 there.
    const long double pi = 3.141592653589793238462643383279502884L;
    for (int k = 0; k < n; ++k) {
        const long double x = pi * k / (n - 1);
        long double w = 1.0L;
        switch (type) {
        case 0:
            w = 0.5L * (1.0L - std::cos(2.0L * x));
            break;
        case 1: // the denominator n + 1 keeps both ends above the minimum
            w = 0.53836L - 0.46164L * std::cos(2.0L * pi * k / (n + 1));
            break;
        case 2:
            w = 1.0L - 1.93L * std::cos(2.0L * x) + 1.29L * std::cos(4.0L * x) - 0.388L * std::cos(6.0L * x) +
                0.032L * std::cos(8.0L * x);
            break;
        case 3:
            w = 0.3635819L - 0.4891775L * std::cos(2.0L * x) + 0.1365995L * std::cos(4.0L * x) -
                0.0106411L * std::cos(6.0L * x);
            break;
        case 4:
            w = 0.0L;
            for (int j = 0; j < iCalbrecht; ++j) {
                const long double term = dCalbrecht[j] * std::cos(2.0L * j * x);
                w += (j % 2 == 0) ? term : -term;
            }
            break;
        }
        buf[k] *= static_cast<double>(w);
    }
}

bool CoreButl::fftdb(unsigned n, int inverse, const double* re, const double* im, double* reout,
                     double* imout) {
    if (!ispo2(n) || re == nullptr || reout == nullptr || imout == nullptr) throw CoreAnsx("");
    const unsigned bits = static_cast<unsigned>(nrobn(n));
    // Bit-reversed copy; when an output is its own input the permutation is done by swaps.
    for (unsigned i = 0; i < n; ++i) {
        const unsigned r = revbt(i, bits);
        if (reout == re) {
            if (r > i) std::swap(reout[i], reout[r]);
        } else {
            reout[r] = re[i];
        }
        if (im == nullptr) {
            imout[i] = 0.0;
        } else if (imout == im) {
            if (r > i) std::swap(imout[i], imout[r]);
        } else {
            imout[r] = im[i];
        }
    }
    const double angle = inverse ? 2.0 * dCpi : -2.0 * dCpi;
    unsigned blockEnd = 1;
    for (unsigned blockSize = 2; blockSize <= n; blockSize <<= 1) {
        // Twiddle factors by the cosine recurrence cos((k+1)d) = 2 cos d cos(kd) - cos((k-1)d).
        const double delta = angle / blockSize;
        const double c1 = std::cos(-delta), s1 = std::sin(-delta);
        const double c2 = std::cos(-2.0 * delta), s2 = std::sin(-2.0 * delta);
        const double w = 2.0 * c1;
        for (unsigned i = 0; i < n; i += blockSize) {
            double ar2 = c2, ar1 = c1, ai2 = s2, ai1 = s1;
            for (unsigned j = i; j < i + blockEnd; ++j) {
                const double ar0 = w * ar1 - ar2;
                ar2 = ar1;
                ar1 = ar0;
                const double ai0 = w * ai1 - ai2;
                ai2 = ai1;
                ai1 = ai0;
                const unsigned k = j + blockEnd;
                const double tr = ar0 * reout[k] - ai0 * imout[k];
                const double ti = ar0 * imout[k] + ai0 * reout[k];
                reout[k] = reout[j] - tr;
                imout[k] = imout[j] - ti;
                reout[j] += tr;
                imout[j] += ti;
            }
        }
        blockEnd = blockSize;
    }
    if (inverse) {
        for (unsigned i = 0; i < n; ++i) {
            reout[i] /= n;
            imout[i] /= n;
        }
    }
    return true;
}

void CoreButl::fdecc(int32_t n, double* out) {
    const double step = n > 1 ? 1.0 / (n - 1) : 0.0;
    double x = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        out[i] = x;
        x += step; // accumulated, as the stored envelopes always were
    }
}

void CoreButl::cfdcc(int32_t n, double* buf) {
    for (int32_t i = 0; i < n; ++i) buf[i] = flushDenormal(1.0 - buf[i]);
}

void CoreButl::fdecc(int32_t n, double* out, int16_t shape, bool rising) {
    if (n < 1) return;
    const bool level = shape >= 20;
    const int power = level ? shape - 20 : shape;
    const double span = level ? 100.0 : 1.0;
    double x = level ? (rising ? -100.0 : 0.0) : (rising ? 0.0 : 1.0);
    const double step = n > 1 ? (rising ? span : -span) / (n - 1) : 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const double base = level ? std::pow(10.0, flushDenormal(x) / 20.0) : flushDenormal(x);
        double value = base;
        for (int p = 2; p <= power; ++p) value *= base;
        out[i] = flushDenormal(value);
        x += step;
    }
}

double CoreButl::dbfch(const char* buf, int offset, int16_t bytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(buf) + offset;
    switch (bytes) {
    case 4: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case 3:
    case 2: {
        int32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
        const int32_t signBit = 1 << (8 * bytes - 1);
        if (v & signBit) v -= 2 * signBit;
        return static_cast<double>(v) / (signBit - 1);
    }
    case 1:
        return (static_cast<int>(p[0]) - 128) / 127.0;
    default:
        return 0.0;
    }
}

void CoreButl::chfdb(double v, char* buf, int offset, bool dbl) {
    if (dbl) {
        std::memcpy(buf + offset, &v, sizeof v);
    } else {
        const float f = static_cast<float>(v);
        std::memcpy(buf + offset, &f, sizeof f);
    }
}

void CoreButl::chffl(float v, char* buf, int offset, bool dbl) {
    if (dbl) {
        chfdb(static_cast<double>(v), buf, offset, true);
    } else {
        std::memcpy(buf + offset, &v, sizeof v);
    }
}

void CoreButl::wrfwv(const char* src, char* dst) {
    bool ended = src == nullptr;
    for (int i = 0; i < 4; ++i) {
        if (!ended && src[i] == 0) ended = true;
        dst[i] = ended ? ' ' : src[i];
    }
}

void CoreButl::whtns(double* buf, int n, double amp, RandomGenerator& generator) {
    for (int i = 0; i < n; ++i) {
        const double u = generator.uniform();
        buf[i] = (6.0 * (10923.0 * u) - 32766.0) / 32767.0 * amp;
    }
}

void CoreButl::whtns(double* buf, int n, double amp) {
    // Each thread's generator starts from its own seed, itself a draw from a generator over the thread
    // count: seeds a fixed step apart would give sequences that are shifted copies of each other.
    static std::atomic<uint64_t> threads{0};
    thread_local RandomGenerator own(RandomGenerator(threads.fetch_add(1, std::memory_order_relaxed)).next());
    whtns(buf, n, amp, own);
}

double CoreButl::envsv(double x, int n, const double* table, double step, double& next, bool skip) {
    const int first = skip ? 1 : 0;
    if (n <= first) {
        next = n >= 1 ? table[n - 1] : 0.0;
        return next;
    }
    const double q = x / step;
    const double f = std::floor(q);
    const double index = f + first; // NaN compares false everywhere and reads the first entry
    if (!(index >= first)) {
        next = table[first];
        return table[first];
    }
    if (index < n - 1) {
        const int i = static_cast<int>(index);
        next = table[i + 1];
        return table[i] + (table[i + 1] - table[i]) * (q - f);
    }
    next = table[n - 1];
    return table[n - 1];
}

namespace {

bool reaches(const double* table, int i, double v, bool falling) {
    return falling ? table[i] > v : table[i] < v;
}

double positionAt(int i, double v, int n, const double* table, double step) {
    if (i >= n - 2) return n * step;
    const double rise = table[i + 1] - table[i];
    const double fraction = rise == 0.0 ? 0.0 : (v - table[i]) / rise;
    return (i + fraction) * step;
}

} // namespace

double CoreButl::envst(double v, int n, const double* table, double step, bool falling) {
    if (n <= 0) return 0.0;
    int i = n - 1;
    while (i > 0 && !reaches(table, i, v, falling)) --i;
    return positionAt(i, v, n, table, step);
}

double CoreButl::enste(double v, int n, const double* table, double step, bool falling) {
    if (n <= 0) return 0.0;
    // On a monotonic table the condition holds on a prefix; the answer is its last index >= 1. Invariant:
    // nothing above hi holds, and lo is 0 or holds.
    int lo = 0;
    int hi = n - 1;
    while (hi - lo > iCenste) {
        const int mid = lo + (hi - lo) / 2;
        if (reaches(table, mid, v, falling))
            lo = mid;
        else
            hi = mid - 1;
    }
    int i = hi;
    while (i > lo && !reaches(table, i, v, falling)) --i;
    return positionAt(i, v, n, table, step);
}

void CoreButl::fixbd(double* mag, int n, double x, int m) {
    if (n < 1) return;
    const double taper = 0.5 * n * x;
    double reference = 0.0;
    if (m > 0 && m < n) {
        reference = CoreButl::lvldb(mag[m]);
    } else {
        const double width = n - 2.0 * taper;
        const int w = width >= n ? n : (width >= 1.0 ? static_cast<int>(width) : 1);
        const int start = n / 2 - w / 2;
        const int from = start + w < n ? start : 0;
        const int count = start + w < n ? w : n;
        double sum = 0.0;
        for (int i = from; i < from + count; ++i) sum += CoreButl::lvldb(mag[i]);
        reference = sum / count;
    }
    // High end: the last trunc(taper) points (at most n) blend from their own level to the reference.
    const int tail = taper > 0.0 ? static_cast<int>(std::min(static_cast<double>(n), std::trunc(taper))) : 0;
    for (int j = -tail; j < 0; ++j) {
        double d = CoreButl::lvldb(mag[n + j]);
        d -= (j + taper) * (d - reference) / taper;
        mag[n + j] = std::pow(10.0, flushDenormal(d) / 20.0);
    }
    // Low end: the first point takes the reference, point c its own level again.
    const double bass = std::min(static_cast<double>(n), iCfixbdbass * taper);
    const int c = bass > 0.0 ? static_cast<int>(bass) : 0;
    for (int k = 0; k < c; ++k) {
        double d = CoreButl::lvldb(mag[k]);
        d -= (d - reference) * (c - k) / c;
        mag[k] = std::pow(10.0, flushDenormal(d) / 20.0);
    }
}

CoreButl::VECTORELEMENT* CoreButl::btini(VECTORELEMENT* records, int n) {
    if (records == nullptr || n <= 0) return nullptr;
    for (int i = 0; i < n; ++i) records[i].left = records[i].right = nullptr;
    // The exchange sort is kept (rather than a library sort) because records with equal or NaN positions must
    // end in the order it gives.
    for (int i = 0; i < n; ++i)
        for (int j = i; j < n; ++j)
            if (records[i].position > records[j].position) std::swap(records[i], records[j]);
    int count = n;
    for (int i = 1; i < n; ++i) {
        if (records[i].position == records[i - 1].position) {
            count = i;
            break;
        }
    }
    return btpop(records, count, 0, count - 1);
}

CoreButl::VECTORELEMENT* CoreButl::btpop(VECTORELEMENT* records, int n, int lo, int hi) {
    if (lo > hi) return nullptr;
    const int mid = lo + (hi - lo + 1) / 2;
    records[mid].left = btpop(records, n, lo, mid - 1);
    records[mid].right = btpop(records, n, mid + 1, hi);
    return &records[mid];
}

// ---- texts -----------------------------------------------------------------------------------------------

CoreAnsx CoreButl::intas(int v) {
    return CoreAnsx(v);
}

CoreAnsx CoreButl::dotas(double v) {
    return v == 0.0 ? CoreAnsx("0") : CoreAnsx(v);
}

CoreAnsx CoreButl::disps(const CoreAnsx& text) {
    return (text.Length() <= 0 || text == CoreAnsx("0")) ? CoreAnsx("0 ") : CoreAnsx(text);
}

CoreAnsx CoreButl::getnv(const CoreAnsx& text) {
    return (text == CoreAnsx("0") || text.Trim().Length() <= 0) ? CoreAnsx(sCnull) : CoreAnsx(text);
}

// The integer conversion accepts every text (it reads 0 when nothing parses).
bool CoreButl::isnmb(const CoreAnsx&) {
    return true;
}

CoreAnsx CoreButl::getac(const char* buf, int n) {
    std::string text;
    for (int i = 0; buf != nullptr && i < n; ++i)
        if (buf[i] != 0) text += buf[i];
    return CoreAnsx(text.c_str());
}

CoreAnsx CoreButl::getu8(const CoreAnsx& text) {
    const char* p = text.c_str();
    if (static_cast<unsigned char>(p[0]) != 0xFF || static_cast<unsigned char>(p[1]) != 0xFE) return text;
    // A CoreAnsx holds no zero bytes, so dropping the mark leaves the Latin-1 characters.
    return CoreAnsx(p + 2);
}

CoreAnsx CoreButl::rplce(const CoreAnsx& text, char a, char b) {
    std::string s = toStd(text);
    std::replace(s.begin(), s.end(), a, b);
    return CoreAnsx(s.c_str());
}

CoreAnsx CoreButl::rplce(const CoreAnsx& text, const CoreAnsx& search, const CoreAnsx& replacement) {
    std::string s = toStd(text);
    const std::string from = toStd(search);
    const std::string to = toStd(replacement);
    if (from.empty()) return text;
    if (to.find(from) != std::string::npos) {
        // Rescanning would never end; replace each original occurrence once.
        std::string result;
        size_t done = 0;
        for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, done)) {
            result.append(s, done, at - done);
            result += to;
            done = at + from.size();
        }
        result.append(s, done, std::string::npos);
        return CoreAnsx(result.c_str());
    }
    // Rescan after each replacement. A new occurrence must overlap the replaced text (everything before it
    // held none), so the scan resumes just before it: the same result as restarting from the beginning,
    // without the quadratic cost.
    size_t at = s.find(from);
    while (at != std::string::npos) {
        s.replace(at, from.size(), to);
        const size_t resume = at >= from.size() - 1 ? at - (from.size() - 1) : 0;
        at = s.find(from, resume);
    }
    return CoreAnsx(s.c_str());
}

CoreAnsx CoreButl::sbstr(const CoreAnsx& text, int start, int n) {
    if (start < 1) start = 1;
    if (start > text.Length()) return CoreAnsx(" ");
    return text.SubString(start, std::max(n, 0));
}

namespace {

CoreAnsx padded(const CoreAnsx& text, int n, char fill, int leftShare) {
    const std::string body = toStd(CoreButl::sbstr(text, 0, n));
    const int shortfall = n - static_cast<int>(body.size());
    if (shortfall <= 0) return CoreAnsx(body.c_str());
    // leftShare: 0 all on the right, 2 all on the left, 1 centred (the odd one on the left).
    const int left = leftShare == 2 ? shortfall : (leftShare == 1 ? (shortfall + 1) / 2 : 0);
    const std::string result = std::string(left, fill) + body + std::string(shortfall - left, fill);
    return CoreAnsx(result.c_str());
}

} // namespace

CoreAnsx CoreButl::lpad_(const CoreAnsx& text, int n, char fill) {
    return padded(text, n, fill, 2);
}
CoreAnsx CoreButl::rpad_(const CoreAnsx& text, int n, char fill) {
    return padded(text, n, fill, 0);
}
CoreAnsx CoreButl::cpad_(const CoreAnsx& text, int n, char fill) {
    return padded(text, n, fill, 1);
}

CoreAnsx CoreButl::getcn(const CoreAnsx& text, int16_t width) {
    const int trimmed = std::max(text.Trim().Length(), 0);
    const int spaces = (width - trimmed) / 2;
    return CoreAnsx((std::string(std::max(spaces, 0), ' ') + toStd(text)).c_str());
}

CoreAnsx CoreButl::getds(const CoreAnsx& text, int16_t n) {
    if (n <= 0) return CoreAnsx("");
    std::string label = toStd(text);
    const size_t space = label.find(' ');
    if (space != std::string::npos) label.erase(space + 1);
    if (static_cast<int>(label.size()) <= n) return CoreAnsx(label.c_str());
    std::string rest;
    for (size_t i = 3; i < label.size(); ++i)
        if (std::strchr("AEIOU", label[i]) == nullptr) rest += label[i];
    const std::string shortened = (label.substr(0, 3) + rest).substr(0, n);
    return CoreAnsx(shortened.c_str());
}

CoreAnsx CoreButl::fndqp(const CoreAnsx& pattern, const CoreAnsx& text) {
    const std::string p = toStd(pattern);
    const size_t first = p.find('?');
    if (first == std::string::npos) return CoreAnsx("");
    size_t end = first;
    while (end < p.size() && p[end] == '?') ++end;
    const std::string t = toStd(text);
    if (first >= t.size()) return CoreAnsx("");
    return CoreAnsx(t.substr(first, end - first).c_str());
}

void CoreButl::sortv(CoreAnsx* list, int n) {
    if (list == nullptr || n <= 1) return;
    // Each key is computed once and replaced by its rank among the distinct keys, so the exchange sort below
    // compares integers; it still makes exactly the swaps of the per-comparison form.
    std::vector<std::string> keys(n);
    for (int i = 0; i < n; ++i) keys[i] = compareKey(list[i]);
    std::vector<std::string> distinct(keys);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<int> rank(n);
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) {
        rank[i] =
            static_cast<int>(std::lower_bound(distinct.begin(), distinct.end(), keys[i]) - distinct.begin());
        order[i] = i;
    }
    for (int i = 0; i < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            if (rank[i] > rank[j]) {
                std::swap(rank[i], rank[j]);
                std::swap(order[i], order[j]);
            }
        }
    }
    std::vector<CoreAnsx> sorted;
    sorted.reserve(n);
    for (int i = 0; i < n; ++i) sorted.push_back(list[order[i]]);
    for (int i = 0; i < n; ++i) list[i] = sorted[i];
}

int CoreButl::getci(const CoreAnsx& text, int n, const CoreAnsx* list, bool numeric, bool minusone) {
    const int absent = minusone ? -1 : 0;
    if (list == nullptr || n <= 0) return absent;
    if (!numeric) {
        const std::string key = compareKey(text);
        for (int i = 0; i < n; ++i)
            if (compareKey(list[i]) == key) return i;
        return absent;
    }
    const double x = text.ToDouble();
    int nearest = 0;
    double distance = std::fabs(list[0].ToDouble() - x);
    for (int i = 1; i < n; ++i) {
        const double d = std::fabs(list[i].ToDouble() - x);
        if (d < distance) {
            distance = d;
            nearest = i;
        }
    }
    return nearest;
}

// ---- file names and files --------------------------------------------------------------------------------

CoreAnsx CoreButl::ffpen(const CoreAnsx& path) {
    return rplce(path, '\\', '/');
}

FILE* CoreButl::ffpen(const CoreAnsx& path, const char* mode) {
    const CoreAnsx given = ffpen(path);
    FILE* file = std::fopen(given.c_str(), mode);
    if (file != nullptr || !isReadOnlyMode(mode)) return file;
    const CoreAnsx resolved = pcase(given);
    if (resolved == given) return nullptr;
    return std::fopen(resolved.c_str(), mode);
}

CoreAnsx CoreButl::pcase(const CoreAnsx& path) {
    bool regular = false;
    return pcase(path, regular);
}

CoreAnsx CoreButl::pcase(const CoreAnsx& path, bool& regular) {
    namespace fs = std::filesystem;
    const std::string given = toStd(path);
    std::error_code error;
    regular = false;
    if (given.empty()) return path;
    const fs::file_status status = fs::symlink_status(given, error);
    if (fs::exists(status)) {
        regular = fs::is_regular_file(fs::is_symlink(status) ? fs::status(given, error) : status);
        return path;
    }
    std::string resolved;
    return resolveCase(given, false, resolved, regular) ? CoreAnsx(resolved.c_str()) : path;
}

CoreAnsx CoreButl::wcase(const CoreAnsx& path) {
    const std::string given = toStd(path);
    std::error_code error;
    if (given.empty() || std::filesystem::exists(std::filesystem::symlink_status(given, error))) return path;
    std::string resolved;
    bool regular = false;
    resolveCase(given, true, resolved, regular);
    return CoreAnsx(resolved.c_str());
}

void CoreButl::pcdrp(const CoreAnsx& path) {
    std::string folder = toStd(path);
    for (size_t separator = folder.rfind('/'); separator != std::string::npos && separator > 0;
         separator = folder.rfind('/', separator - 1)) {
        folder.resize(separator);
        FolderListings::shared().forget(folder);
    }
    FolderListings::shared().forget(folder.size() > 0 && folder[0] == '/' ? "/" : ".");
}

CoreAnsx CoreButl::getpt(const CoreAnsx& path) {
    return CoreAnsx(splitPath(toStd(path)).folder.c_str());
}

CoreAnsx CoreButl::getfn(const CoreAnsx& path, bool noext) {
    const PathParts parts = splitPath(toStd(path));
    return CoreAnsx((noext ? parts.name : parts.name + parts.ext).c_str());
}

CoreAnsx CoreButl::getfx(const CoreAnsx& path) {
    return CoreAnsx(splitPath(toStd(path)).ext.c_str()).UpperCase();
}

CoreAnsx CoreButl::setfx(const CoreAnsx& path, const CoreAnsx& ext) {
    const PathParts parts = splitPath(toStd(path));
    return CoreAnsx((parts.folder + parts.name).c_str()) + ext.LowerCase();
}

CoreAnsx CoreButl::rnfle(const CoreAnsx& path, const CoreAnsx& suffix, bool nameonly) {
    const PathParts parts = splitPath(toStd(path));
    const std::string renamed = parts.name + toStd(suffix) + parts.ext;
    return CoreAnsx((nameonly ? renamed : parts.folder + renamed).c_str());
}

CoreAnsx CoreButl::getvs(const CoreAnsx& path, int16_t digits) {
    const int width = std::clamp<int>(digits, 1, 9);
    const CoreAnsx ext = getfx(path);
    std::string base = toStd(setfx(path, CoreAnsx("")));
    const int length = static_cast<int>(base.size());
    if (length <= width || base[length - width - 1] != bCversionseparator) {
        base += bCversionseparator + std::string(width - 1, '0') + "1";
    } else {
        const int version = CoreAnsx(base.substr(length - width).c_str()).ToInt();
        const std::string next = toStd(lpad_(intas(version + 1), width + 1, '0'));
        base.replace(length - width, width, next.substr(next.size() - width));
    }
    return setfx(CoreAnsx(base.c_str()), ext);
}

CoreAnsx CoreButl::getpv(const CoreAnsx& path, const CoreAnsx& fallback, const CoreAnsx& ext) {
    const PathParts parts = splitPath(toStd(ffpen(path)));
    CoreAnsx usable;
    const CoreAnsx folder = parts.folder.empty() ? CoreAnsx("") : pcase(CoreAnsx(parts.folder.c_str()));
    if (folder.Length() > 0 && CoreXutl::ispvl(folder.c_str())) {
        usable = folder + CoreAnsx((parts.name + parts.ext).c_str());
    } else if (parts.name.empty() || parts.name == "0") {
        usable = fallback;
    } else {
        usable = getpt(fallback) + CoreAnsx((parts.name + parts.ext).c_str());
    }
    return setfx(usable, ext);
}

CoreAnsx CoreButl::getfc(const CoreAnsx& path) {
    FILE* file = ffpen(path, "rb");
    if (file == nullptr) return CoreAnsx("0");
    std::string content;
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return CoreAnsx("0"); // a folder, or a read error
    return CoreAnsx(content.c_str()); // the text ends at the first zero byte
}

bool CoreButl::setfc(const CoreAnsx& path, const CoreAnsx& text) {
    const std::string target = toStd(ffpen(path));
    const std::string content = toStd(text);
    const bool written = CoreXutl::rplfl(target.c_str(), content.data(), content.size(), false);
    pcdrp(CoreAnsx(target.c_str()));
    if (written) return true;
    CoreLog_::loger(CoreAnsx("Could not write file ") + CoreAnsx(target.c_str()) + ": " +
                        CoreXutl::lastWriteFailure().c_str(), 1);
    return false;
}

bool CoreButl::svatx(const CoreAnsx& path, const CoreAnsx& text, bool) {
    const CoreAnsx target = ffpen(path);
    const std::string content = toStd(CoreAnsx(sCxmlheader) + CoreAnsx(sCxmlgenerator) + text) + "\n";
    // rplfl rather than lgexc, whose own log line would say the same again.
    const bool written = CoreXutl::rplfl(target.c_str(), content.data(), content.size(), true);
    pcdrp(target);
    if (written) return true;
    CoreLog_::loger(CoreAnsx("Could not write file ") + target + ": " + CoreXutl::lastWriteFailure().c_str(), 1);
    return false;
}

bool CoreButl::logas(const CoreAnsx& path, const CoreAnsx& text, bool append) {
    FILE* file = std::fopen(ffpen(path).c_str(), append ? "a" : "w");
    if (file == nullptr) return false;
    bool written = std::fputs(text.c_str(), file) >= 0 && std::fputc('\n', file) != EOF;
    if (std::fclose(file) != 0) written = false;
    return written;
}

// ---- sample counts and times -----------------------------------------------------------------------------

int64_t CoreButl::tpfup(int32_t rate, int64_t us) {
    if (us < 1) return us;
    // Split so rate x us cannot overflow: both parts truncate the same way for us >= 1.
    const int64_t seconds = us / 1000000;
    const int64_t rest = us % 1000000;
    return seconds * rate + rest * rate / 1000000;
}

double CoreButl::tpfud(int32_t rate, int64_t us) {
    return static_cast<double>(rate) * static_cast<double>(us) / dCu;
}

double CoreButl::upftp(int32_t rate, int64_t n) {
    if (rate < 1) return static_cast<double>(n);
    return static_cast<double>(n) * dCu / rate;
}

double CoreButl::lvldb(double v) {
    if (!(flushDenormal(v) > 0.0)) return dCdbmin;
    return std::max(dCdbmin, 20.0 * std::log10(v));
}
