#include "base/CoreXutl.h"

#include "base/CoreLog_.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class CoreXutlFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("corexutl-" + std::to_string(CoreXutl::getpi()) + "-" + info->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string at(const std::string& name) const { return (folder / name).string(); }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})); }

    fs::path folder;
};

TEST(CoreXutl, ClocksAdvanceAcrossASleep) {
    const double wallBefore = CoreXutl::tgtme();
    const double monoBefore = CoreXutl::tmono();
    CoreXutl::sleep(10);
    EXPECT_GE(CoreXutl::tgtme() - wallBefore, 10.0);
    EXPECT_GE(CoreXutl::tmono() - monoBefore, 10.0);
    CoreXutl::sleep(0);
    CoreXutl::sleep(-5);
}

TEST(CoreXutl, TtimeCountsDaysSinceTheEpoch) {
    EXPECT_EQ(CoreXutl::dVtdatetimeconst, 1.1574074074074073e-05);
    const double systemSeconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(CoreXutl::ttime() * 86400.0, systemSeconds, 1.0);
    EXPECT_NEAR(CoreXutl::tgtme() / 1000.0, systemSeconds, 1.0);
}

TEST(CoreXutl, ThreadIdsDifferBetweenThreads) {
    unsigned long other = 0;
    std::thread([&] { other = CoreXutl::getti(); }).join();
    EXPECT_NE(other, CoreXutl::getti());
    EXPECT_GT(CoreXutl::getpi(), 0);
}

TEST_F(CoreXutlFiles, FolderAndFileOperationsReportFailure) {
    const std::string sub = at("sub");
    EXPECT_EQ(CoreXutl::crdir(sub.c_str()), 0);
    EXPECT_TRUE(CoreXutl::ispvl(sub.c_str()));
    write(at("sub/inside"), "x");
    EXPECT_EQ(CoreXutl::crdir(sub.c_str()), -1); // existing folder: nothing changes
    EXPECT_TRUE(fs::exists(at("sub/inside")));
    EXPECT_FALSE(CoreXutl::ispvl(at("sub/inside").c_str()));
    EXPECT_FALSE(CoreXutl::ispvl(at("missing").c_str()));
    EXPECT_EQ(CoreXutl::delfl(at("sub/inside").c_str()), 0);
    EXPECT_EQ(CoreXutl::delfl(at("sub/inside").c_str()), -1);
    EXPECT_EQ(CoreXutl::delfl(sub.c_str()), -1); // folders are not files
    EXPECT_EQ(CoreXutl::crdir(nullptr), -1);
    EXPECT_FALSE(CoreXutl::ispvl(nullptr));
}

TEST_F(CoreXutlFiles, CpyflKeepsDataAndPermissions) {
    std::string data(200000, '\0'); // more than one read chunk, with NUL bytes
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 % 251);
    write(at("from.bin"), data);
    fs::permissions(at("from.bin"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    write(at("to.bin"), "old, longer than nothing");

    EXPECT_TRUE(CoreXutl::cpyfl(at("from.bin").c_str(), at("to.bin").c_str(), false));
    EXPECT_EQ(read(at("to.bin")), data);
    EXPECT_EQ(fs::status(at("to.bin")).permissions(), fs::status(at("from.bin")).permissions());
    EXPECT_EQ(entries(), 2u);
}

TEST_F(CoreXutlFiles, FailedCpyflLeavesTargetWhole) {
    write(at("to.bin"), "precious");
    EXPECT_FALSE(CoreXutl::cpyfl(at("missing").c_str(), at("to.bin").c_str(), true));
    EXPECT_FALSE(CoreXutl::cpyfl(folder.c_str(), at("to.bin").c_str(), true)); // a folder is no file
    fs::create_directory(at("dir"));
    write(at("from.bin"), "data");
    EXPECT_FALSE(CoreXutl::cpyfl(at("from.bin").c_str(), at("dir").c_str(), true));
    EXPECT_FALSE(CoreXutl::cpyfl(at("from.bin").c_str(), at("nowhere/to.bin").c_str(), true));
    EXPECT_EQ(read(at("to.bin")), "precious");
    EXPECT_EQ(entries(), 3u); // no temporary file left behind
}

TEST_F(CoreXutlFiles, LgexcReplacesFileWithOneLineAndKeepsPermissions) {
    write(at("state"), "a much longer earlier content\nsecond line\n");
    fs::permissions(at("state"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(CoreXutl::lgexc(at("state").c_str(), "42", false));
    EXPECT_EQ(read(at("state")), "42\n");
    EXPECT_EQ(fs::status(at("state")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(CoreXutl::lgexc(at("fresh").c_str(), "", true));
    EXPECT_EQ(read(at("fresh")), "\n");
    EXPECT_EQ(entries(), 2u);
}

TEST_F(CoreXutlFiles, LgexcFailureReturnsFalseLogsAndKeepsFolder) {
    CoreLog_::setpt((folder.string() + "/").c_str());
    CoreLog_::setfn("failures.log");
    CoreLog_::setdb(1, false);
    fs::create_directory(at("target"));
    write(at("target/keep"), "k");

    EXPECT_FALSE(CoreXutl::lgexc(at("target").c_str(), "text", false));
    EXPECT_FALSE(CoreXutl::lgexc(at("nowhere/file").c_str(), "text", false));
    EXPECT_FALSE(CoreXutl::lgexc(nullptr, "text", false));
    CoreLog_::setpt("");

    EXPECT_EQ(read(at("target/keep")), "k");
    const std::string log = read(at("failures.log"));
    EXPECT_NE(log.find(at("target")), std::string::npos);
    EXPECT_NE(log.find(at("nowhere/file")), std::string::npos);
    EXPECT_EQ(entries(), 2u); // the folder and the log
}

TEST_F(CoreXutlFiles, ConcurrentLgexcLeavesOneWholeLine) {
    const std::string path = at("shared");
    std::vector<std::thread> writers;
    std::set<std::string> lines;
    for (int t = 0; t < 8; ++t) {
        const std::string line = std::string(1000, static_cast<char>('a' + t));
        lines.insert(line + "\n");
        writers.emplace_back([path, line] {
            for (int i = 0; i < 50; ++i) EXPECT_TRUE(CoreXutl::lgexc(path.c_str(), line.c_str(), false));
        });
    }
    for (std::thread& w : writers) w.join();
    EXPECT_EQ(lines.count(read(path)), 1u);
    EXPECT_EQ(entries(), 1u);
}

} // namespace
