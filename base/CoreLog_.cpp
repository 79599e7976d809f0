#include "base/CoreLog_.h"
#include "base/CoreXutl.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>
#include <string>

namespace {

const int timerCount = 10;
const int padWidth = 8; // debug time stamps are zero-padded to this many characters

// The state lives in static storage and is never destroyed, so its mutex and levels stay usable by
// objects destroyed at exit (the pool, threads) after every ordinary static of this file is gone.
// Its texts are heap strings: the closer below frees them when the process exits or the library is
// unloaded, after which every call is a silent no-op (no line, no file, nothing allocated).
struct LogTexts {
    CoreAnsx folder = CoreAnsx("");
    CoreAnsx fileName = CoreAnsx(CoreLog_::sCdefaultfilename);
};

struct LogState {
    std::mutex mutex;                                 // guards the file appends, texts, timers, closing
    std::optional<LogTexts> texts{std::in_place};    // empty once the log is closed
    double timerDays[timerCount] = {}; // last use of each timer, days since the epoch
    std::atomic<int16_t> debugLevel{0};
    std::atomic<bool> timestamps{false};
    std::atomic<int16_t> traceLevel{0};
    std::atomic<double (*)()> clock{nullptr};
};

alignas(LogState) unsigned char stateStorage[sizeof(LogState)];

LogState& state() {
    static LogState* theState = ::new (static_cast<void*>(stateStorage)) LogState;
    return *theState;
}

// Built while the library loads (so after the state), destroyed at exit or unload: closes the log.
struct LogCloser {
    LogCloser() { state(); }
    ~LogCloser() {
        LogState& s = state();
        std::lock_guard<std::mutex> hold(s.mutex);
        s.texts.reset();
        s.debugLevel.store(0);
        s.traceLevel.store(0);
    }
    LogCloser(const LogCloser&) = delete;
    LogCloser& operator=(const LogCloser&) = delete;
};

LogCloser closer;

double nowInDays() {
    double (*clock)() = state().clock.load();
    return clock ? clock() : CoreXutl::ttime();
}

// Appends the bytes to folder + name; the caller holds the mutex. A file that cannot be opened
// loses the line.
void appendLocked(const CoreAnsx& name, const CoreAnsx& line) {
    LogState& s = state();
    if (!s.texts || s.texts->folder.Length() <= 0 || name.Length() <= 0) return;
    CoreAnsx path = s.texts->folder + name;
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) return;
    std::fputs(line.c_str(), file);
    std::fclose(file);
}

// The folder and the file name: replaced and read under the mutex, the new text copied before it.
// A closed log keeps nothing and answers empty texts.
void storeText(CoreAnsx LogTexts::*field, const CoreAnsx& value) {
    LogState& s = state();
    CoreAnsx copy(value);
    std::lock_guard<std::mutex> hold(s.mutex);
    if (s.texts) (*s.texts).*field = std::move(copy);
}

CoreAnsx loadText(CoreAnsx LogTexts::*field) {
    LogState& s = state();
    std::lock_guard<std::mutex> hold(s.mutex);
    return s.texts ? (*s.texts).*field : CoreAnsx("");
}

template <class Body>
void quietly(Body&& body) {
    try {
        body();
    } catch (...) {
        // Logging never fails its caller: the line is lost.
    }
}

} // namespace

void CoreLog_::logas(const CoreAnsx& text) {
    quietly([&] {
        CoreAnsx line = CoreAnsx(CoreXutl::getpi()) + "-" + CoreAnsx(CoreXutl::getti()) + " " + text + "\n";
        LogState& s = state();
        std::lock_guard<std::mutex> hold(s.mutex);
        if (s.texts) appendLocked(s.texts->fileName, line);
    });
}

void CoreLog_::debug(const CoreAnsx& text, int32_t timer, int16_t level) {
    LogState& s = state();
    if (level > s.debugLevel.load()) return;
    quietly([&] {
        CoreAnsx prefix(">");
        if (s.timestamps.load() && timer >= 0 && timer < timerCount) {
            double now = nowInDays();
            double elapsedSeconds;
            {
                std::lock_guard<std::mutex> hold(s.mutex);
                elapsedSeconds = (now - s.timerDays[timer]) * dVsecondsperday;
                s.timerDays[timer] = now;
            }
            // A clock set back would give a negative time.
            if (!(elapsedSeconds > 0.0)) elapsedSeconds = 0.0;
            CoreAnsx stamp;
            stamp.sprintf("%.1f >", elapsedSeconds);
            int shortBy = padWidth - stamp.Length();
            prefix = shortBy > 0 ? CoreAnsx(std::string(shortBy, '0').c_str()) + stamp : stamp;
        }
        if (timer > 0) prefix += CoreAnsx(std::string(static_cast<size_t>(timer), '-').c_str());
        logas(prefix + text + "<");
    });
}

void CoreLog_::debgs(const CoreAnsx& name, const CoreAnsx& value, int32_t timer, int16_t level) {
    if (level > state().debugLevel.load()) return;
    quietly([&] { debug(name + " = " + value, timer, level); });
}

void CoreLog_::debgb(const CoreAnsx& name, bool flag, int32_t timer, int16_t level) {
    debgs(name, CoreAnsx(flag ? "True" : "False"), timer, level);
}

void CoreLog_::debgd(const CoreAnsx& name, double number, int32_t timer, int16_t level) {
    if (level > state().debugLevel.load()) return;
    quietly([&] { debgs(name, CoreAnsx(number), timer, level); });
}

void CoreLog_::debgi(const CoreAnsx& name, int number, int32_t timer, int16_t level) {
    if (level > state().debugLevel.load()) return;
    quietly([&] { debgs(name, CoreAnsx(number), timer, level); });
}

void CoreLog_::loger(const CoreAnsx& text, int16_t level) {
    if (level > state().debugLevel.load()) return;
    quietly([&] { logas(CoreAnsx(sCerrorprm) + " " + text); });
}

void CoreLog_::logfl(const CoreAnsx& text, int16_t level) {
    if (level > state().debugLevel.load()) return;
    quietly([&] { logas(CoreAnsx(sCerrorprm) + sCerrorfle + " " + text); });
}

void CoreLog_::logtg(const CoreAnsx& text, int16_t level) {
    if (level > state().debugLevel.load()) return;
    quietly([&] { logas(CoreAnsx(sCerrorprm) + sCerrortag + " " + text); });
}

void CoreLog_::login(const CoreAnsx& text, int number) {
    quietly([&] { logas(text + " " + CoreAnsx(number)); });
}

void CoreLog_::trace(const CoreAnsx& text, bool flag) {
    if (state().traceLevel.load() <= 0) return;
    quietly([&] { logas(CoreAnsx(flag ? "<<<" : ">>>") + text); });
}

void CoreLog_::dtime(const CoreAnsx& text) {
    quietly([&] {
        LogState& s = state();
        double now = nowInDays();
        double elapsedSeconds;
        {
            std::lock_guard<std::mutex> hold(s.mutex);
            elapsedSeconds = (now - s.timerDays[9]) * dVsecondsperday;
            s.timerDays[9] = now;
        }
        CoreAnsx stamp;
        stamp.sprintf("%.3f >", elapsedSeconds);
        logas(stamp + text);
    });
}

void CoreLog_::smlog(const CoreAnsx& text) {
    quietly([&] {
        CoreAnsx line = text + "\n";
        LogState& s = state();
        std::lock_guard<std::mutex> hold(s.mutex);
        appendLocked(CoreAnsx(sCsimplelogpath), line);
    });
}

void CoreLog_::setdb(int16_t level, bool timestamps) {
    LogState& s = state();
    double now = nowInDays();
    std::lock_guard<std::mutex> hold(s.mutex);
    if (!s.texts) return; // closed: stays silent
    s.debugLevel.store(level);
    s.timestamps.store(timestamps);
    for (double& timer : s.timerDays) timer = now;
}

int16_t CoreLog_::getdb() {
    return state().debugLevel.load();
}

bool CoreLog_::aredb() {
    return state().debugLevel.load() > 0;
}

void CoreLog_::setpt(const CoreAnsx& folder) {
    storeText(&LogTexts::folder, folder);
}

CoreAnsx CoreLog_::getpt() {
    return loadText(&LogTexts::folder);
}

void CoreLog_::setfn(const CoreAnsx& name) {
    storeText(&LogTexts::fileName, name);
}

CoreAnsx CoreLog_::getfn() {
    return loadText(&LogTexts::fileName);
}

void CoreLog_::settr(int16_t level) {
    LogState& s = state();
    std::lock_guard<std::mutex> hold(s.mutex);
    if (s.texts) s.traceLevel.store(level);
}

void CoreLog_::setClockForTest(double (*daysNow)()) {
    state().clock.store(daysNow);
}
