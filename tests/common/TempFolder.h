// A fresh, empty folder under the system's temporary folder for one test (mkdtemp, so test programs
// running side by side never share one), removed with its contents at scope end; a fixture base
// giving each test its own; and whole-file byte helpers. One owner per folder.
#pragma once
#include "base/CoreAnsx.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// Makes <temp>/<prefix>.XXXXXX; an empty path when it could not be made.
inline std::filesystem::path makeTempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
    return mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
}

inline void removeTempFolder(const std::filesystem::path& folder) {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) : path(makeTempFolder(prefix)) {}
    ~TempFolder() { removeTempFolder(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::string withSeparator() const { return path.string() + "/"; }

    std::filesystem::path path;
};

// Fixture base: `root` is a fresh folder for each test, named after the test suite (a parameterised
// suite's name holds a '/').
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string prefix = ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
        std::replace(prefix.begin(), prefix.end(), '/', '_');
        root = makeTempFolder(prefix);
        ASSERT_FALSE(root.empty()) << "no temporary folder";
    }
    void TearDown() override { removeTempFolder(root); }
    CoreAnsx at(const std::string& relative) const { return CoreAnsx((root / relative).string().c_str()); }

    std::filesystem::path root;
};

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}
