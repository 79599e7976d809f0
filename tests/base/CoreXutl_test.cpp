#include "base/CoreXutl.h"

#include "tests/common/LogCapture.h"
#include "tests/common/TempFolder.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class CoreXutl_Files : public TempFolderTest {
protected:
    std::string path(const std::string& name) const { return (root / name).string(); }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(root), {})); }
};

} // namespace

TEST(CoreXutl, ClocksAgreeWithTheSystemAndAdvanceAcrossASleep) {
    const double systemSeconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(CoreXutl::ttime() * 86400.0, systemSeconds, 1.0);
    EXPECT_NEAR(CoreXutl::tgtme() / 1000.0, systemSeconds, 1.0);
    const double wallBefore = CoreXutl::tgtme(), monoBefore = CoreXutl::tmono();
    CoreXutl::sleep(10);
    EXPECT_GE(CoreXutl::tgtme() - wallBefore, 10.0);
    EXPECT_GE(CoreXutl::tmono() - monoBefore, 10.0);
    unsigned long other = 0;
    std::thread([&] { other = CoreXutl::getti(); }).join();
    EXPECT_NE(other, CoreXutl::getti());
}

TEST_F(CoreXutl_Files, FolderAndFileOperationsReportFailure) {
    const std::string sub = path("sub");
    EXPECT_EQ(CoreXutl::crdir(sub.c_str()), 0);
    EXPECT_TRUE(CoreXutl::ispvl(sub.c_str()));
    writeBytes(path("sub/inside"), "x");
    EXPECT_EQ(CoreXutl::crdir(sub.c_str()), -1); // existing folder: nothing changes
    EXPECT_FALSE(CoreXutl::ispvl(path("sub/inside").c_str()));
    EXPECT_EQ(CoreXutl::delfl(path("sub/inside").c_str()), 0);
    EXPECT_EQ(CoreXutl::delfl(path("sub/inside").c_str()), -1);
    EXPECT_EQ(CoreXutl::delfl(sub.c_str()), -1); // folders are not files
    EXPECT_EQ(CoreXutl::crdir(nullptr), -1);
    EXPECT_FALSE(CoreXutl::ispvl(nullptr));
}

TEST_F(CoreXutl_Files, CopyKeepsDataAndPermissionsAndAFailedCopyLeavesTheTargetWhole) {
    std::string data(200000, '\0'); // more than one read chunk, with NUL bytes
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
    writeBytes(path("from.bin"), data);
    fs::permissions(path("from.bin"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    writeBytes(path("to.bin"), "old, longer than nothing");
    EXPECT_TRUE(CoreXutl::cpyfl(path("from.bin").c_str(), path("to.bin").c_str(), false));
    EXPECT_EQ(readBytes(path("to.bin")), data);
    EXPECT_EQ(fs::status(path("to.bin")).permissions(), fs::status(path("from.bin")).permissions());

    writeBytes(path("to.bin"), "precious");
    fs::create_directory(path("dir"));
    const std::pair<std::string, std::string> failing[] = {
        {path("missing"), path("to.bin")},
        {root.string(), path("to.bin")}, // a folder is no file
        {path("from.bin"), path("dir")},
        {path("from.bin"), path("nowhere/to.bin")}};
    for (const auto& [from, to] : failing)
        EXPECT_FALSE(CoreXutl::cpyfl(from.c_str(), to.c_str(), true)) << from;
    EXPECT_EQ(readBytes(path("to.bin")), "precious");
    EXPECT_EQ(entries(), 3u); // no temporary file left behind
}

TEST_F(CoreXutl_Files, OneLineFileIsReplacedWholeKeepingPermissionsOrFailureIsLogged) {
    writeBytes(path("state"), "a much longer earlier content\nsecond line\n");
    fs::permissions(path("state"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(CoreXutl::lgexc(path("state").c_str(), "42", false));
    EXPECT_EQ(readBytes(path("state")), "42\n");
    EXPECT_EQ(fs::status(path("state")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(CoreXutl::lgexc(path("fresh").c_str(), nullptr, true));
    EXPECT_EQ(readBytes(path("fresh")), "\n");

    LogCapture log(1);
    fs::create_directory(path("target"));
    EXPECT_FALSE(CoreXutl::lgexc(path("target").c_str(), "text", false));
    EXPECT_FALSE(CoreXutl::lgexc(path("nowhere/file").c_str(), "text", false));
    EXPECT_FALSE(CoreXutl::lgexc(nullptr, "text", false));
    EXPECT_TRUE(fs::is_directory(path("target")));
    EXPECT_NE(log.text().find(path("target")), std::string::npos);
    EXPECT_NE(log.text().find(path("nowhere/file")), std::string::npos);
    EXPECT_EQ(entries(), 3u);
}

TEST_F(CoreXutl_Files, ConcurrentReplacementsLeaveOneWholeLine) {
    const std::string shared = path("shared");
    std::vector<std::thread> writers;
    std::set<std::string> lines;
    for (int t = 0; t < 8; ++t) {
        const std::string line = std::string(1000, static_cast<char>('a' + t));
        lines.insert(line + "\n");
        writers.emplace_back([shared, line] {
            for (int i = 0; i < 50; ++i) EXPECT_TRUE(CoreXutl::lgexc(shared.c_str(), line.c_str(), false));
        });
    }
    for (std::thread& w : writers) w.join();
    EXPECT_EQ(lines.count(readBytes(shared)), 1u);
    EXPECT_EQ(entries(), 1u);
}
