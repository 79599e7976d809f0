// Tests of the POSIX helpers: wall clocks against the system, whole-file copies that keep data and
// permissions or leave the target whole, one-line files replaced whole or the failure logged, and
// concurrent replacements that leave one whole line.
#include "base/CoreXutl.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

namespace fs = std::filesystem;

class CoreXutl_Files : public TempFolderTest {
protected:
    std::string path(const std::string& name) const { return (root / name).string(); }
    long entries() const { return long(std::distance(fs::directory_iterator(root), {})); }
};

TEST(CoreXutl, ClocksAgreeWithTheSystem) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(CoreXutl::ttime() * 86400.0, seconds, 1.0);
    EXPECT_NEAR(CoreXutl::tgtme() / 1000.0, seconds, 1.0);
}

TEST_F(CoreXutl_Files, CopyKeepsDataAndPermissionsAndAFailedCopyLeavesTheTargetWhole) {
    std::string data(200000, '\0'); // more than one read chunk, with NUL bytes
    for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 % 251);
    writeBytes(path("from.bin"), data);
    fs::permissions(path("from.bin"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    writeBytes(path("to.bin"), "old, longer than nothing");
    EXPECT_TRUE(CoreXutl::cpyfl(path("from.bin").c_str(), path("to.bin").c_str(), false));
    EXPECT_EQ(readBytes(path("to.bin")), data);
    EXPECT_EQ(fs::status(path("to.bin")).permissions(), fs::status(path("from.bin")).permissions());
    writeBytes(path("to.bin"), "precious");
    fs::create_directory(path("dir"));
    const std::string failing[][2] = {{path("missing"), path("to.bin")},
                                      {root.string(), path("to.bin")},
                                      {path("from.bin"), path("dir")},
                                      {path("from.bin"), path("nowhere/to.bin")}};
    for (const auto& f : failing)
        EXPECT_FALSE(CoreXutl::cpyfl(f[0].c_str(), f[1].c_str(), true)) << f[0] << " " << f[1];
    EXPECT_EQ(readBytes(path("to.bin")), "precious");
    EXPECT_EQ(entries(), 3); // no temporary file left behind
}

TEST_F(CoreXutl_Files, AOneLineFileIsReplacedWholeKeepingPermissionsOrTheFailureIsLogged) {
    writeBytes(path("state"), "a much longer earlier content\nsecond line\n");
    fs::permissions(path("state"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(CoreXutl::lgexc(path("state").c_str(), "42", false));
    EXPECT_TRUE(CoreXutl::lgexc(path("fresh").c_str(), nullptr, true));
    EXPECT_EQ(readBytes(path("state")) + readBytes(path("fresh")), "42\n\n");
    EXPECT_EQ(fs::status(path("state")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    LogCapture log(1);
    fs::create_directory(path("target"));
    for (const char* target : {"target", "nowhere/file"}) {
        EXPECT_FALSE(CoreXutl::lgexc(path(target).c_str(), "text", false));
        EXPECT_NE(log.text().find(path(target)), std::string::npos) << target;
    }
    EXPECT_FALSE(CoreXutl::lgexc(nullptr, "text", false));
    EXPECT_TRUE(fs::is_directory(path("target")));
    EXPECT_EQ(entries(), 3);
}

TEST_F(CoreXutl_Files, ConcurrentReplacementsLeaveOneWholeLine) {
    const std::string shared = path("shared");
    std::vector<std::thread> writers;
    std::set<std::string> lines;
    for (char c = 'a'; c < 'i'; ++c) {
        const std::string line(1000, c);
        lines.insert(line + "\n");
        writers.emplace_back([shared, line] {
            for (int i = 0; i < 50; ++i) EXPECT_TRUE(CoreXutl::lgexc(shared.c_str(), line.c_str(), false));
        });
    }
    for (std::thread& w : writers) w.join();
    EXPECT_EQ(lines.count(readBytes(shared)), 1u);
    EXPECT_EQ(entries(), 1);
}
