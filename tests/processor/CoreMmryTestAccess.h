// CoreMmryTestAccess: the program memory's one friend for tests. Until the slot-text getter exists,
// tests read a slot's document through it and set the one field only the program file loader
// writes; it also builds the memories the tests share. Tests only.
#pragma once
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "processor/CoreMmry.h"
#include "tests/common/TempFolder.h"

#include <memory>
#include <string>

class CoreMmryTestAccess {
public:
    static CoreXml_* document(CoreMmry& m, int32_t slot) { return m.slot(slot).document; }
    static CoreAnsx& cachedFile(CoreMmry& m, int32_t slot) { return m.slot(slot).cachedfile; }
    static CoreAnsx scanText(const CoreMmry& m) { return m.sScantext; }
    // A used slot as the cache leaves it: lazy, without its document.
    static void makeLazy(CoreMmry& m, int32_t slot) {
        delete m.slot(slot).document;
        m.slot(slot).document = nullptr;
        m.slot(slot).lazy = true;
    }

    // Every getter's answer for a slot, joined by '|': name, the three categories, description,
    // cached file, file path as stored, as stored and with its folder, the vector container name likewise,
    // then P, U and L for the packed, used and lazy flags.
    static std::string state(const CoreMmry& m, int32_t slot) {
        CoreMmry::MEMORYLOC loc;
        m.getel(slot, &loc);
        std::string text;
        for (const CoreAnsx& part : {m.getnm(slot), m.getct(slot, 0), m.getct(slot, 1), m.getct(slot, 2), m.getds(slot),
                                     m.getcc(slot), m.getpf(slot), m.getfp(slot, true), m.getfp(slot, false),
                                     m.getfv(slot, true), m.getfv(slot, false)})
            text += std::string(part.c_str()) + "|";
        return text + (m.getwp(slot) ? "P" : "") + (loc.used ? "U" : "") + (loc.lazy ? "L" : "");
    }
    static constexpr const char* freeState = "0|0|0|0|0|0||0|0|0|0|";

    // A used slot holding a one-element program, its name and three category levels.
    static void put(CoreMmry& m, int32_t slot, const char* name, const char* category = "",
                    const char* sub1 = "", const char* sub2 = "") {
        m.setvl(slot, false, CoreAnsx((std::string(name) + ".xml").c_str()),
                CoreAnsx((std::string("<PROGRAM><NAME>") + name + "</NAME></PROGRAM>").c_str()));
        m.setnm(slot, name);
        const char* levels[3] = {category, sub1, sub2};
        for (int level = 0; level < 3; ++level) m.setct(slot, levels[level], level);
    }
};

// Fixture base: a fresh data folder per test and memories on it; the cache, when asked for, is
// "cache/" below it.
class MemoryFolderTest : public TempFolderTest {
protected:
    CorePool pool;
    std::unique_ptr<CoreMmry> make(bool cache = false, CoreFsys* store = nullptr) {
        return std::make_unique<CoreMmry>(&pool, CoreAnsx((root.string() + "/").c_str()), 0, nullptr, "setups/",
                                          "progs/", "vectors/", "cache/", cache, store);
    }
};
