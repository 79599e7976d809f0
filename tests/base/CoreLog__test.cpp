#include "base/CoreLog_.h"
#include "base/CoreXutl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

double fakeDays = 0.0;
double fakeClock() {
    return fakeDays;
}

// Each test writes into a fresh folder and leaves the log switched off and on the wall clock.
class CoreLog_Test : public ::testing::Test {
protected:
    void SetUp() override {
        folder =
            fs::temp_directory_path() / ("corelog_" + std::to_string(CoreXutl::getpi()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
        CoreLog_::setfn(CoreAnsx(CoreLog_::sCdefaultfilename));
        CoreLog_::setClockForTest(nullptr);
        CoreLog_::setdb(0, false);
        CoreLog_::settr(0);
    }
    void TearDown() override {
        CoreLog_::setClockForTest(nullptr);
        CoreLog_::setdb(0, false);
        CoreLog_::settr(0);
        CoreLog_::setpt(CoreAnsx(""));
        fs::remove_all(folder);
    }

    static std::vector<std::string> readLines(const fs::path& file) {
        std::vector<std::string> lines;
        std::ifstream in(file, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> logLines() const { return readLines(folder / CoreLog_::sCdefaultfilename); }

    // The text of each line after the "pid-tid " prefix, which must belong to this thread.
    std::vector<std::string> logTexts() const {
        const std::string prefix =
            std::to_string(CoreXutl::getpi()) + "-" + std::to_string(CoreXutl::getti()) + " ";
        std::vector<std::string> texts;
        for (const std::string& line : logLines()) {
            EXPECT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
            texts.push_back(line.substr(prefix.size()));
        }
        return texts;
    }

    fs::path folder;
};

using Texts = std::vector<std::string>;

// Reads the decimal digits at position at (at least one); advances past them.
bool readNumber(const std::string& text, size_t& at, long& number) {
    size_t first = at;
    number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') number = number * 10 + (text[at++] - '0');
    return at > first;
}

// Parses the start of a line of the concurrency test, "pid-tid [[stamp] >dashes]w<thread>.<index> ".
bool parseHead(const std::string& head, long& pid, long& thread, long& index) {
    size_t at = 0;
    long unused;
    if (!readNumber(head, at, pid) || head[at++] != '-' || !readNumber(head, at, unused) || head[at++] != ' ')
        return false;
    size_t marker = head.find('>', at);
    if (marker != std::string::npos) {
        at = marker + 1;
        while (at < head.size() && head[at] == '-') ++at;
    }
    return head[at++] == 'w' && readNumber(head, at, thread) && head[at++] == '.' &&
           readNumber(head, at, index) && head[at++] == ' ' && at == head.size();
}

TEST_F(CoreLog_Test, RawLineCarriesProcessAndThreadIdsAndEndsWithLineFeed) {
    CoreLog_::logas(CoreAnsx("hello world"));
    CoreLog_::logas(CoreAnsx(""));
    std::ifstream in(folder / CoreLog_::sCdefaultfilename, std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string prefix =
        std::to_string(CoreXutl::getpi()) + "-" + std::to_string(CoreXutl::getti()) + " ";
    EXPECT_EQ(all, prefix + "hello world\n" + prefix + "\n");
}

TEST_F(CoreLog_Test, AppendsToWhatIsThereAndHonoursTheFileName) {
    CoreLog_::setfn(CoreAnsx("other.log"));
    EXPECT_STREQ(CoreLog_::getfn().c_str(), "other.log");
    { std::ofstream(folder / "other.log") << "kept\n"; }
    CoreLog_::logas(CoreAnsx("next"));
    Texts lines = readLines(folder / "other.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "kept");
    EXPECT_TRUE(lines[1].ends_with(" next"));
    EXPECT_FALSE(fs::exists(folder / CoreLog_::sCdefaultfilename));
}

TEST_F(CoreLog_Test, NothingIsWrittenWithoutFolderOrFileName) {
    CoreLog_::setdb(9, false);
    CoreLog_::setpt(CoreAnsx(""));
    CoreLog_::logas(CoreAnsx("a"));
    CoreLog_::debug(CoreAnsx("b"), 0, 0);
    CoreLog_::loger(CoreAnsx("c"), 0);
    CoreLog_::smlog(CoreAnsx("d"));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_FALSE(fs::exists(CoreLog_::sCdefaultfilename)); // not in the working folder either
    EXPECT_FALSE(fs::exists(CoreLog_::sCsimplelogpath));

    CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
    CoreLog_::setfn(CoreAnsx(""));
    CoreLog_::logas(CoreAnsx("e"));
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(CoreLog_Test, UnopenableFileLosesTheLineAndReturns) {
    CoreLog_::setpt(CoreAnsx((folder.string() + "/missing/").c_str()));
    CoreLog_::setdb(5, true);
    CoreLog_::logas(CoreAnsx("lost"));
    CoreLog_::debug(CoreAnsx("lost"), 3, 1);
    CoreLog_::smlog(CoreAnsx("lost"));
    EXPECT_FALSE(fs::exists(folder / "missing"));
    EXPECT_STREQ(CoreLog_::getpt().c_str(), (folder.string() + "/missing/").c_str());
}

TEST_F(CoreLog_Test, DebugLevelFiltersLines) {
    EXPECT_FALSE(CoreLog_::aredb());
    CoreLog_::debug(CoreAnsx("zero"), 0, 0); // 0 <= 0: written even with debugging off
    CoreLog_::debug(CoreAnsx("one"), 0, 1);
    CoreLog_::loger(CoreAnsx("err1"), 1);
    CoreLog_::debgi(CoreAnsx("n"), 4, 0, 1);
    CoreLog_::login(CoreAnsx("always"), -12);
    CoreLog_::setdb(2, false);
    EXPECT_TRUE(CoreLog_::aredb());
    EXPECT_EQ(CoreLog_::getdb(), 2);
    CoreLog_::debug(CoreAnsx("two"), 0, 2);
    CoreLog_::debug(CoreAnsx("three"), 0, 3);
    CoreLog_::logfl(CoreAnsx("f.xml"), 2);
    CoreLog_::logtg(CoreAnsx("<X>"), 3);
    EXPECT_EQ(logTexts(), (Texts{">zero<", "always -12", ">two<", "***ERROR***>Error in file f.xml"}));
}

TEST_F(CoreLog_Test, ErrorAndValueLinesHaveTheirFixedShapes) {
    CoreLog_::setdb(1, false);
    CoreLog_::loger(CoreAnsx("Memory request failed 820"), 1);
    CoreLog_::logfl(CoreAnsx("a.wav"), 1);
    CoreLog_::logtg(CoreAnsx("LFO1"), 1);
    CoreLog_::debgs(CoreAnsx("name"), CoreAnsx("value"), 0, 1);
    CoreLog_::debgb(CoreAnsx("on"), true, 1, 1);
    CoreLog_::debgb(CoreAnsx("off"), false, 0, 1);
    CoreLog_::debgd(CoreAnsx("rate"), 1234567.0, 0, 1);
    CoreLog_::debgd(CoreAnsx("half"), 0.5, 0, 1);
    CoreLog_::debgi(CoreAnsx("count"), -7, 2, 1);
    EXPECT_EQ(logTexts(), (Texts{"***ERROR***> Memory request failed 820", "***ERROR***>Error in file a.wav",
                                 "***ERROR***>Error in tag LFO1", ">name = value<", ">-on = True<",
                                 ">off = False<", ">rate = 1.23457E+06<", ">half = 0.5<", ">--count = -7<"}));
}

TEST_F(CoreLog_Test, TraceLinesNeedATraceLevel) {
    CoreLog_::trace(CoreAnsx("hidden"), true);
    CoreLog_::settr(1);
    CoreLog_::trace(CoreAnsx("in"), true);
    CoreLog_::trace(CoreAnsx("out"), false);
    EXPECT_EQ(logTexts(), (Texts{"<<<in", ">>>out"}));
}

TEST_F(CoreLog_Test, DebugTimeStampsArePaddedPerTimerAndClamped) {
    const double second = 1.0 / CoreLog_::dVsecondsperday;
    CoreLog_::setClockForTest(fakeClock);
    fakeDays = 20000.0;
    CoreLog_::setdb(3, true); // every timer starts now

    fakeDays += 1.5 * second;
    CoreLog_::debug(CoreAnsx("Loading"), 2, 1);
    CoreLog_::debug(CoreAnsx("again"), 2, 1); // the timer restarted with the line above
    fakeDays += 0.3 * second;
    CoreLog_::debug(CoreAnsx("other"), 0, 1); // timer 0 still counts from setdb
    fakeDays += 12345.0 * second;
    CoreLog_::debug(CoreAnsx("long"), 9, 1);
    fakeDays -= 60.0 * second; // clock set back
    CoreLog_::debug(CoreAnsx("back"), 9, 1);
    CoreLog_::debug(CoreAnsx("eleven"), 11, 1); // no timer above 9: no stamp, but its dashes
    CoreLog_::debug(CoreAnsx("negative"), -1, 1);
    CoreLog_::setdb(3, false);
    CoreLog_::debug(CoreAnsx("Loading"), 2, 1);

    EXPECT_EQ(logTexts(),
              (Texts{"0001.5 >--Loading<", "0000.0 >--again<", "0001.8 >other<", "12346.8 >---------long<",
                     "0000.0 >---------back<", ">-----------eleven<", ">negative<", ">--Loading<"}));
}

TEST_F(CoreLog_Test, DtimeMeasuresFromTimerNineUnclamped) {
    const double second = 1.0 / CoreLog_::dVsecondsperday;
    CoreLog_::setClockForTest(fakeClock);
    fakeDays = 20000.0;
    CoreLog_::setdb(0, false);
    fakeDays += 2.25 * second;
    CoreLog_::dtime(CoreAnsx("step"));
    fakeDays -= 1.0 * second;
    CoreLog_::dtime(CoreAnsx("back"));
    Texts texts = logTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "2.250 >step");
    EXPECT_EQ(texts[1], "-1.000 >back");
}

TEST_F(CoreLog_Test, SimpleLogGoesToTestLogInTheLogFolder) {
    CoreLog_::smlog(CoreAnsx("plain"));
    CoreLog_::smlog(CoreAnsx("second"));
    EXPECT_EQ(readLines(folder / CoreLog_::sCsimplelogpath), (Texts{"plain", "second"}));
    EXPECT_FALSE(fs::exists(folder / CoreLog_::sCdefaultfilename));
}

TEST_F(CoreLog_Test, ConcurrentWritersNeitherLoseNorInterleaveLines) {
    const int threadCount = 8;
    const int linesPerThread = 200;
    // Lines longer than the stdio buffer reach the file in several writes, which would interleave
    // if appends were not exclusive.
    const std::string filler(9000, 'x');
    CoreLog_::setdb(4, true);
    std::vector<std::thread> writers;
    for (int t = 0; t < threadCount; ++t) {
        writers.emplace_back([t, &filler] {
            for (int i = 0; i < linesPerThread; ++i) {
                std::string text = "w" + std::to_string(t) + "." + std::to_string(i) + " " + filler;
                if (i % 2) {
                    CoreLog_::debug(CoreAnsx(text.c_str()), t % 10, 1);
                } else {
                    CoreLog_::logas(CoreAnsx(text.c_str()));
                }
                if (i % 100 == 0) CoreLog_::setdb(4, true); // resets the shared timers meanwhile
            }
        });
    }
    for (std::thread& writer : writers) writer.join();

    std::set<std::pair<long, long>> seen;
    Texts lines = logLines();
    EXPECT_EQ(lines.size(), static_cast<size_t>(threadCount * linesPerThread));
    for (std::string line : lines) {
        if (line.ends_with("<")) line.pop_back();
        ASSERT_TRUE(line.size() > filler.size() && line.ends_with(filler)) << line.substr(0, 80);
        std::string start = line.substr(0, line.size() - filler.size());
        long pid, thread, index;
        ASSERT_TRUE(parseHead(start, pid, thread, index)) << start;
        EXPECT_EQ(pid, CoreXutl::getpi());
        seen.insert({thread, index});
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(threadCount * linesPerThread));
}

} // namespace
