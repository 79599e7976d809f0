// Tests of the log: process and thread ids on every line, lines that cannot be written are lost
// quietly, the debug level and its fixed line shapes, padded and clamped time stamps, and concurrent
// writers that neither lose nor interleave lines, and writers that outlive the log closed at exit.
#include "base/CoreLog_.h"
#include "base/CoreXutl.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Texts = std::vector<std::string>;

double fakeDays = 0.0;
double fakeClock() {
    return fakeDays;
}

} // namespace

TEST(CoreLog_, LinesCarryProcessAndThreadIdsAndAppendToTheNamedFile) {
    LogCapture log(0);
    CoreLog_::setfn("other.log");
    writeBytes(log.folder / "other.log", "kept\n");
    CoreLog_::logas("hello world");
    CoreLog_::logas("");
    const std::string prefix =
        std::to_string(CoreXutl::getpi()) + "-" + std::to_string(CoreXutl::getti()) + " ";
    EXPECT_EQ(log.text("other.log"), "kept\n" + prefix + "hello world\n" + prefix + "\n");
    EXPECT_FALSE(fs::exists(log.folder / CoreLog_::sCdefaultfilename));
    CoreLog_::smlog("plain"); // the simple log: test.log in the log folder, the text as it is
    CoreLog_::smlog("second");
    EXPECT_EQ(log.text(CoreLog_::sCsimplelogpath), "plain\nsecond\n");
}

TEST(CoreLog_, ALineThatCannotBeWrittenIsLost) {
    LogCapture log(9);
    for (const std::string& folder : {std::string(""), log.folder.withSeparator() + "missing/"}) {
        CoreLog_::setpt(folder.c_str());
        CoreLog_::logas("a");
        CoreLog_::smlog("d");
        EXPECT_STREQ(CoreLog_::getpt().c_str(), folder.c_str());
    }
    CoreLog_::setpt(log.folder.withSeparator().c_str());
    CoreLog_::setfn("");
    CoreLog_::logas("e");
    EXPECT_TRUE(fs::is_empty(log.folder.path));
    EXPECT_FALSE(fs::exists(CoreLog_::sCdefaultfilename)); // not in the working folder either
}

TEST(CoreLog_, TheDebugLevelFiltersLinesOfFixedShapes) {
    LogCapture log(0);
    EXPECT_FALSE(CoreLog_::aredb());
    CoreLog_::debug("zero", 0, 0); // 0 <= 0: written even with debugging off
    CoreLog_::debug("one", 0, 1);
    CoreLog_::login("always", -12);
    CoreLog_::trace("hidden", true); // traces need a trace level
    CoreLog_::setdb(2, false);
    CoreLog_::settr(1);
    EXPECT_EQ(CoreLog_::getdb(), 2);
    CoreLog_::debug("three", 0, 3);
    CoreLog_::logtg("<X>", 3);
    CoreLog_::loger("Memory request failed 820", 1);
    CoreLog_::logfl("a.wav", 2);
    CoreLog_::logtg("LFO1", 1);
    CoreLog_::debgs("name", "value", 0, 1);
    CoreLog_::debgb("on", true, 1, 1);
    CoreLog_::debgb("off", false, 0, 1);
    CoreLog_::debgd("rate", 1234567.0, 0, 1);
    CoreLog_::debgi("count", -7, 2, 1);
    CoreLog_::trace("in", true);
    CoreLog_::trace("out", false);
    EXPECT_EQ(log.texts(), (Texts{">zero<", "always -12", "***ERROR***> Memory request failed 820",
                                  "***ERROR***>Error in file a.wav", "***ERROR***>Error in tag LFO1",
                                  ">name = value<", ">-on = True<", ">off = False<", ">rate = 1.23457E+06<",
                                  ">--count = -7<", "<<<in", ">>>out"}));
}

TEST(CoreLog_, DebugTimeStampsArePaddedPerTimerAndClampedWhileDtimeIsNot) {
    LogCapture log(3, true);
    const double second = 1.0 / CoreLog_::dVsecondsperday;
    CoreLog_::setClockForTest(fakeClock);
    fakeDays = 20000.0;
    CoreLog_::setdb(3, true); // every timer starts now
    fakeDays += 1.5 * second;
    CoreLog_::debug("Loading", 2, 1);
    CoreLog_::debug("again", 2, 1); // the timer restarted with the line above
    fakeDays += 0.3 * second;
    CoreLog_::debug("other", 0, 1); // timer 0 still counts from setdb
    fakeDays += 12345.0 * second;
    CoreLog_::debug("long", 9, 1);
    fakeDays -= 60.0 * second; // clock set back
    CoreLog_::debug("back", 9, 1);
    CoreLog_::debug("eleven", 11, 1); // no timer above 9: no stamp, but its dashes
    CoreLog_::debug("negative", -1, 1);
    fakeDays += 3.25 * second; // dtime measures from timer 9, unclamped
    CoreLog_::dtime("step");
    fakeDays -= 4.0 * second;
    CoreLog_::dtime("back");
    CoreLog_::setdb(3, false);
    CoreLog_::debug("Loading", 2, 1);
    EXPECT_EQ(log.texts(), (Texts{"0001.5 >--Loading<", "0000.0 >--again<", "0001.8 >other<",
                                  "12346.8 >---------long<", "0000.0 >---------back<", ">-----------eleven<",
                                  ">negative<", "3.250 >step", "-4.000 >back", ">--Loading<"}));
}

TEST(CoreLog_, ConcurrentWritersNeitherLoseNorInterleaveLines) {
    const int threadCount = 8, linesPerThread = 50;
    // Lines longer than the stdio buffer reach the file in several writes, which would interleave
    // if appends were not exclusive.
    const std::string filler(9000, 'x');
    LogCapture log(4, true);
    std::vector<std::thread> writers;
    for (int t = 0; t < threadCount; ++t) {
        writers.emplace_back([t, &filler] {
            for (int i = 0; i < linesPerThread; ++i) {
                const CoreAnsx text(
                    ("w" + std::to_string(t) + "." + std::to_string(i) + " " + filler).c_str());
                if (i % 2)
                    CoreLog_::debug(text, t % 10, 1);
                else
                    CoreLog_::logas(text);
                if (i % 25 == 0) CoreLog_::setdb(4, true); // resets the shared timers meanwhile
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    std::set<std::string> seen; // "[stamp >dashes]wT.I filler[<]" after the "pid-tid " prefix
    const std::vector<std::string> lines = log.texts();
    for (std::string line : lines) {
        if (line.back() == '<') line.pop_back();
        const size_t key = line.find('w'), space = line.find(' ', key);
        ASSERT_EQ(line.substr(space + 1), filler) << line.substr(0, 80);
        seen.insert(line.substr(key, space - key));
    }
    EXPECT_EQ(lines.size(), size_t(threadCount * linesPerThread));
    EXPECT_EQ(seen.size(), lines.size());
}

TEST(CoreLog_, ClosesAtExitAndLaterWritersStaySilent) {
    LogCapture log(1);
    TempFolder working("work");
    // A writer still running while the process exits: once the log has closed, its lines are dropped,
    // never written beside the program under a bare file name, never cut.
    EXPECT_EXIT(
        {
            fs::current_path(working.path);
            static std::atomic<int> written{0};
            std::thread([] {
                for (;;) {
                    CoreLog_::loger("late", 1);
                    CoreLog_::smlog("late");
                    written.fetch_add(1);
                }
            }).detach();
            while (written.load() < 100) std::this_thread::yield();
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::is_empty(working.path));
    const std::vector<std::string> lines = log.texts();
    EXPECT_GE(lines.size(), 100u);
    for (const std::string& line : lines) ASSERT_EQ(line, std::string(CoreLog_::sCerrorprm) + " late");
}
