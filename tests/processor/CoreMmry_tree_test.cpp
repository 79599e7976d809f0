// The program memory's category tree and browser: rebuild, sort, navigation, browse filters with
// their distinct listings, and the search for the next matching slot.
#include "processor/CoreMmry.h"

#include "CoreMmryTestAccess.h"
#include "processor/CoreDcry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

using Access = CoreMmryTestAccess;
using Text = std::string;

class CoreMmryTree : public MemoryFolderTest {
protected:
    std::unique_ptr<CoreDcry> dictionary(const Text& entries) {
        writeBytes(root / "dict.xml", "<DICTIONARY><CATEGORY>" + entries + "</CATEGORY></DICTIONARY>");
        return std::make_unique<CoreDcry>(at("dict.xml"));
    }
    // The text (or display text) at a path of child indices; the tree root for an empty path.
    static Text node(CoreMmry& m, const std::vector<int32_t>& path, bool display = false) {
        for (int32_t level = 0; level < CoreMmry::iCtreepath; ++level)
            m.settr(level, level < static_cast<int32_t>(path.size()) ? path[level] : -1);
        return (display ? m.gettt() : m.gette()).c_str();
    }
};

TEST_F(CoreMmryTree, GroupsSlotsByNormalisedCategoryAndNavigatesByPath) {
    auto m = make();
    Access::put(*m, 5, "Drums", "kit", "", "Room");
    Access::put(*m, 7, "Snare", "KIT");
    Access::put(*m, 9, "Pad");
    m->updtt();
    m->settr(-1, 3);
    m->settr(5, 3); // levels outside the path are ignored
    struct Row { std::vector<int32_t> path; int32_t children; Text text; bool leaf; };
    const Row rows[] = {
        {{}, 2, "ROOT", false},   {{0}, 2, "KIT", false},         {{0, 0}, 1, "ROOM", false},
        {{0, 0, 0}, 0, "5 - Drums", true}, {{0, 1}, 0, "7 - Snare", true}, {{1}, 0, "9 - Pad", true},
        {{2}, 0, "", true},       {{0, 0, 1}, 0, "", true},       {{0, 9, 0}, 0, "", true}, // no such child
    };
    for (const Row& r : rows) {
        EXPECT_EQ(node(*m, r.path), r.text);
        EXPECT_EQ(m->islte(), r.leaf) << r.text;
        EXPECT_EQ(m->gettn(), r.children) << r.text;
    }
    // The first slot's spelling names the node; the dictionary translates it for display.
    Access::put(*m, 2, "Hat", " kit");
    m->updtt();
    EXPECT_EQ(node(*m, {0}) + "|" + node(*m, {0, 0}) + "|" + node(*m, {0, 1}) + "|" + node(*m, {0}, true), " KIT|2 - Hat|ROOM| KIT");
    const auto translations = dictionary("<KIT>Drum kits</KIT>");
    m->setdc(translations.get());
    EXPECT_EQ(node(*m, {0}, true), "Drum kits");
    EXPECT_FALSE(m->islte()); // display texts set the leaf flag too
    EXPECT_EQ(node(*m, {0, 0}, true), "2 - Hat");
    EXPECT_TRUE(m->islte());
}

TEST_F(CoreMmryTree, SortsTheTopLevelLikeTheExchangeLoop) {
    auto m = make();
    std::mt19937 random(20);
    std::vector<int32_t> slots(500);
    std::iota(slots.begin(), slots.end(), 0);
    std::shuffle(slots.begin(), slots.end(), random);
    for (int32_t i = 0; i < 500; ++i) // categories, and leaves of slots without one
        Access::put(*m, slots[i] * 3, ("P" + std::to_string(i)).c_str(), i % 50 ? ("C" + std::to_string(i)).c_str() : "");
    Text entries; // display texts that collide, also with untranslated keys
    for (int32_t i = 0; i < 400; i += 2) entries += "<C" + std::to_string(i) + ">C" + std::to_string(i % 13) + "</C" + std::to_string(i) + ">";
    const auto translations = dictionary(entries);
    for (CoreDcry* attached : {static_cast<CoreDcry*>(nullptr), translations.get()}) {
        if (attached) m->setdc(attached);
        m->updtt();
        std::vector<Text> texts;
        std::vector<CoreAnsx> keys;
        for (int32_t i = 0; i < 500; ++i) {
            texts.push_back(node(*m, {i}));
            keys.push_back(attached ? attached->getvl("CATEGORY", texts.back().c_str()) : CoreAnsx(texts.back().c_str()));
        }
        for (int i = 0; i < 500; ++i) {
            for (int j = 0; j < 500; ++j) {
                if (keys[i] < keys[j]) {
                    std::swap(keys[i], keys[j]);
                    std::swap(texts[i], texts[j]);
                }
            }
        }
        m->ordrt(0);
        for (int32_t i = 0; i < 500; ++i) ASSERT_EQ(node(*m, {i}), texts[i]) << i;
    }
}

TEST_F(CoreMmryTree, BrowseStateAndDistinctListings) {
    auto m = make();
    Access::put(*m, 1, "a", "KIT", "Large Room");
    Access::put(*m, 2, "b", " kit ", "large ROOM ", "Big");
    Access::put(*m, 3, "c", "Kit", "Hall");
    Access::put(*m, 4, "d", "pad", "Air");
    Access::put(*m, 5, "e", "kit", "", "x");
    enum Op { Setbs, Setbb, Push, Pop, Browse, Top };
    struct Row { Op op; int32_t arg; const char* text; int32_t result; Text listing; };
    const Row rows[] = {
        {Browse, 0, "", 2, "KIT,PAD"},  {Setbs, 0, "kit ", 0, "KIT,PAD"}, {Setbs, 1, "LARGE room", 1, "KIT,PAD"},
        {Browse, 0, "", 2, "LARGE ROOM,HALL"}, {Setbb, 1, "", 2, "LARGE ROOM,HALL"},  {Browse, 0, "", 1, "BIG"},
        {Setbb, 5, "", 2, "BIG"},        {Setbb, -5, "", 0, "BIG"},       {Setbb, INT_MAX, "", 2, "BIG"},
        {Setbb, INT_MIN, "", 0, "BIG"},  {Setbs, 3, "x", 0, "BIG"},       {Setbs, -1, "x", 0, "BIG"},
        {Setbs, 2, "BIG", 2, "BIG"},     {Push, 0, "", 0, "BIG"},         {Top, 0, "", 2, "KIT,PAD"},
        {Setbs, 0, "pad", 0, "KIT,PAD"}, {Browse, 0, "", 2, "KIT,PAD"},   {Pop, 0, "", 2, "KIT,PAD"},
        {Browse, 0, "", 1, "BIG"},       {Setbs, 0, "pad", 0, "BIG"},     {Pop, 0, "", 2, "BIG"},
        {Setbb, -1, "", 1, "BIG"},       {Browse, 0, "", 2, "LARGE ROOM,HALL"},
    };
    int32_t count = 0;
    for (const Row& r : rows) {
        int32_t result = 0;
        switch (r.op) {
        case Setbs: m->setbs(r.arg, r.text); result = m->setbb(0); break;
        case Setbb: result = m->setbb(r.arg); break;
        case Push: m->pushb(); result = m->setbb(0); break;
        case Pop: m->popb_(); result = m->setbb(0); break;
        case Browse: result = count = m->getbs(); break;
        case Top: result = count = m->getbc(); break;
        }
        Text listing;
        for (int32_t i = 0; i < count; ++i) listing += (i ? "," : "") + Text(m->getbc(i).c_str());
        EXPECT_EQ(std::to_string(result) + " " + listing + m->getbc(-1).c_str() + m->getbc(count).c_str(),
                  std::to_string(r.result) + " " + r.listing) << &r - rows;
    }
    CoreAnsx* list = nullptr;
    for (int32_t level : {-1, 3}) {
        m->getct(&list, count, nullptr, level);
        EXPECT_EQ(count, 0);
    }
}

// The search as the browser's steps describe it, on upper-cased and trimmed copies; ended is false
// when it has not ended after more probes than any ending search needs.
int32_t literalSearch(const std::vector<std::vector<CoreAnsx>>& categories, int32_t start, int32_t step,
                      const CoreAnsx* filters, int32_t count, bool& ended) {
    const bool filtering = !(filters[0] == CoreAnsx("0"));
    int32_t p = start > 9999 ? 0 : start < 0 ? 9999 : start;
    for (int probe = 0; probe < 100000; ++probe) {
        bool qualifies = !categories[p].empty();
        for (int32_t k = 0; filtering && qualifies && k < count; ++k)
            qualifies = categories[p][k].UpperCase().Trim() == filters[k].UpperCase().Trim();
        ended = true;
        if (qualifies) return p;
        const int32_t next = p + step;
        if (next >= 0 && next <= 9999) p = next;
        else if (!filtering) p = 0;
        else if (next > 9999) return 0;
        else p = 0, step = 1;
    }
    ended = false;
    return 0;
}

TEST_F(CoreMmryTree, SearchFindsTheNextMatchingSlotAndAlwaysEnds) {
    auto m = make();
    const CoreAnsx none[3] = {"0", "", ""};
    EXPECT_EQ(m->getck(17, 1, none, 1), 0); // no used slot at all
    Access::put(*m, 5, "a", "kit");
    Access::put(*m, 10, "b", " KIT", "room");
    Access::put(*m, 20, "c", "pad");
    struct Row { int32_t start; int16_t step; Text first, second; int32_t count, result; };
    const Row rows[] = {
        {9998, 1, "kit", "", 1, 0},   {3, -1, "kit", "", 1, 5},      {6, 1, "kit", "", 1, 10},
        {11, 1, "0", "zzz", 2, 20},    {12000, 1, "0", "", 1, 5},     {-1, -1, "0", "", 1, 20},
        {0, 1, "kit ", "ROOM", 2, 10}, {0, 1, "kit", "room", 7, 10},  {6, 1, "kit", "zzz", 0, 10},
        {6, 0, "0", "", 1, 0},         {4, -1, "0", "", 1, 0},        {6, 3, "0", "", 1, 0}, // never end
        {20, 0, "kit", "", 1, 0},
    };
    for (const Row& r : rows) {
        const CoreAnsx filters[3] = {r.first.c_str(), r.second.c_str(), ""};
        EXPECT_EQ(m->getck(r.start, r.step, filters, r.count), r.result) << r.start << " " << r.step;
    }
    m->setbs(0, "pad");
    EXPECT_EQ(m->getbk(0, 1), 20);

    std::mt19937 random(7);
    const char* texts[] = {"kit", " Kit ", "pad", "", "room", "ROOM ", "0"};
    for (int memory = 0; memory < 3; ++memory) {
        auto r = make();
        std::vector<std::vector<CoreAnsx>> categories(10000); // empty: a free slot
        for (int i = 0; i < 60; ++i) {
            std::vector<CoreAnsx>& slot = categories[random() % 10000];
            slot = {texts[random() % 7], texts[random() % 7], texts[random() % 7]};
            Access::put(*r, static_cast<int32_t>(&slot - categories.data()), "p", slot[0].c_str(), slot[1].c_str(), slot[2].c_str());
        }
        for (int query = 0; query < 300; ++query) {
            const int32_t start = static_cast<int32_t>(random() % 10200) - 100;
            const int16_t step = static_cast<int16_t>(query % 5 ? static_cast<int>(random() % 7) - 3 : static_cast<int>(random()));
            const CoreAnsx filters[3] = {texts[random() % 7], texts[random() % 7], texts[random() % 7]};
            const int32_t count = static_cast<int32_t>(random() % 3) + 1;
            bool ended = false;
            const int32_t expected = literalSearch(categories, start, step, filters, count, ended);
            ASSERT_EQ(r->getck(start, step, filters, count), ended ? expected : 0) << start << " " << step;
        }
    }
}

} // namespace
