// Shared pieces of the file-store tests: a temporary folder per test with its own log, byte helpers,
// and a builder of containers by hand (header, blocks, table text) for the untrusted-input cases.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fsystest {

namespace fs = std::filesystem;

inline std::string str(const CoreAnsx& s) {
    return s.c_str() ? std::string(s.c_str()) : std::string();
}

inline std::string le32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// The 40-byte title field as the writer fills it.
inline std::string title() {
    std::string field = std::string("Vorlan2 ") + CoreLog_::sCversion_;
    field.resize(40, '\0');
    return field;
}

inline std::string tocItem(const std::string& entry, const std::string& address, const std::string& dim) {
    return "<ITEM><ENTRY> " + entry + " </ENTRY><ADDRESS> " + address + " </ADDRESS><DIM> " + dim +
           " </DIM><CRYPTED> 0 </CRYPTED><VERSION> 1.3.502 </VERSION><TARGET> BT </TARGET><KEY> 0 "
           "</KEY></ITEM>";
}

// A container by hand: title, the given total, the blocks, the table text.
inline std::string container(int64_t total, const std::string& blocks, const std::string& table) {
    return title() + le32(static_cast<uint32_t>(total)) + blocks + table;
}

class FsysFiles : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        if (HasFatalFailure()) return;
        CoreLog_::setpt(CoreAnsx((root.string() + "/").c_str()));
        CoreLog_::setfn("fsys.log");
        CoreLog_::setdb(1, false);
    }
    void TearDown() override {
        CoreLog_::setpt("");
        TempFolderTest::TearDown();
    }
    CoreAnsx folder() const { return CoreAnsx((root.string() + "/").c_str()); }
    std::string log() const { return readBytes(root / "fsys.log"); }
    int entries(const fs::path& where) const {
        int count = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(where)) ++count;
        return count;
    }

    CorePool pool;
};

} // namespace fsystest
