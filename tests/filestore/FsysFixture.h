// Shared pieces of the file-store tests: a temporary folder per test with its own log, byte helpers,
// a builder of containers by hand (header, blocks, table text) for the untrusted-input cases, and
// shortcuts to put bytes into a store's item and read them back.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "tests/common/TempFolder.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace fsystest {

namespace fs = std::filesystem;

inline std::string str(const CoreAnsx& s) {
    return s.c_str() ? std::string(s.c_str()) : std::string();
}

inline std::string le32(uint32_t value) {
    return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

// The 40-byte title field as the writer fills it.
inline std::string title() {
    const std::string field = std::string("Vorlan2 ") + CoreLog_::sCversion_;
    return field + std::string(40 - field.size(), '\0');
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

// The bytes of an in-memory item; empty for anything else.
inline std::string itemBytes(const CoreFsys& store, int32_t id) {
    void* data = nullptr;
    const int32_t size = store.getco(id, &data);
    return size > 0 ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

// Creates (or finds) the item and puts the bytes into memory.
inline void put(CoreFsys& store, const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(store.setit(store.crtit(name.c_str()), bytes.data(), static_cast<int32_t>(bytes.size()), "0",
                            false, false));
}

// key -> bytes of every in-memory item.
inline std::map<std::string, std::string> contents(const CoreFsys& store) {
    std::map<std::string, std::string> items;
    for (int i = 0; i < store.getkn(); ++i) {
        int32_t id = -1;
        const std::string name = str(store.llvel(i, id));
        if (store.isvld(id)) items[name] = itemBytes(store, id);
    }
    return items;
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
        return static_cast<int>(std::distance(fs::directory_iterator(where), fs::directory_iterator()));
    }

    CorePool pool;
};

} // namespace fsystest
