// The skin bitmaps and the shared pool: which requests share a decoded image and which get the
// built-in one, the counts as editors give their lists back, drawing with and without alpha, and
// two editors loading and giving back the demo skin on two threads.
#include "plugin/CoreBitm.h"

#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "filestore/CoreFsys.h"
#include "platform/CorePict.h"
#include "platform/gui/CDrawContext.h"
#include "platform/gui/CoreBimg.h"
#include "plugin/CoreSkin.h"
#include "tests/common/PngWriter.h"
#include "tests/common/TempFolder.h"
#include "tests/gui/GuiGolden.h"
#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// A width x height RGBA PNG whose pixel (x, y) is (40x, 30y, 200, alpha).
std::string png(int width, int height, uint8_t alpha) {
    pngtest::Image image;
    image.width = width;
    image.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.rows.insert(image.rows.end(), {uint8_t(40 * x), uint8_t(30 * y), 200, alpha});
    return pngtest::write(image);
}

class CoreBitmTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        const std::map<std::string, std::string> items{
            {"a.png", png(4, 3, 255)}, {"b.png", png(2, 2, 255)}, {"bad.png", "not an image"}};
        dark = std::make_unique<CoreFsys>(
            &pool, CoreAnsx(skintest::writeFolder(root / "skins/Dark", items).c_str()), false);
        lower = std::make_unique<CoreFsys>(
            &pool, CoreAnsx(skintest::writeFolder(root / "skins/dark", items).c_str()), false);
        memory = std::make_unique<CoreFsys>(&pool, at("skins/none/"), false);
        const std::string bytes = png(3, 3, 255);
        memory->setit(memory->crtit(CoreAnsx("mem.png")), bytes.data(), int32_t(bytes.size()), CoreAnsx("0"),
                      true, false);
    }
    CorePool pool;
    std::unique_ptr<CoreFsys> dark, lower, memory;
};

struct Request {
    int own;   // the editor list
    int store; // 0 skins/Dark/, 1 skins/dark/, 2 only in memory, 3 none
    const char* name;
    int32_t resource;
};

// Rows: the requests, and per request a letter: requests with the same upper-case letter get the
// same decoded bitmap; a lower-case letter is a built-in image of its resource, not shared ('e' an
// empty one). Entries are counted after the loads and after each list is given back.
TEST_F(CoreBitmTest, SharesDecodedImagesAndFallsBackToBuiltInOnes) {
    struct Row {
        const char* name;
        std::vector<Request> requests;
        const char* bitmaps;
        int entries, afterFirst, afterSecond;
    };
    const Row rows[] = {
        {"two editors, one location: shared, kept by the second",
         {{0, 0, "a.png", 103}, {1, 0, "a.png", 103}},
         "AA",
         1,
         1,
         0},
        {"skins/Dark/ and skins/dark/ are two locations",
         {{0, 0, "a.png", 103}, {1, 1, "a.png", 103}},
         "AB",
         2,
         1,
         0},
        {"two resources", {{0, 0, "a.png", 103}, {0, 0, "a.png", 104}}, "AB", 2, 0, 0},
        {"a name in another case shares", {{0, 0, "a.png", 103}, {1, 0, "A.PNG", 103}}, "AA", 1, 1, 0},
        {"\"0\" with a resource: a new built-in each time",
         {{0, 0, "0", 101}, {1, 0, "0", 101}},
         "bb",
         2,
         1,
         0},
        {"one entry three times in one list",
         {{0, 0, "a.png", 103}, {0, 0, "a.png", 103}, {0, 0, "a.png", 103}},
         "AAA",
         1,
         0,
         0},
        {"an item that does not decode", {{0, 0, "bad.png", 101}, {1, 0, "bad.png", 101}}, "bb", 2, 1, 0},
        {"a missing item", {{0, 0, "none.png", 103}, {1, 0, "none.png", 103}}, "bb", 2, 1, 0},
        {"\"0\" with resource 0", {{0, 0, "0", 0}}, "e", 1, 0, 0},
        {"no store", {{0, 3, "a.png", 102}, {1, 3, "a.png", 102}}, "bb", 2, 1, 0},
        {"an item only in memory and one only on disk",
         {{0, 2, "mem.png", 103}, {1, 0, "b.png", 103}, {1, 2, "MEM.PNG", 103}},
         "ABA",
         2,
         2,
         0},
    };
    CoreFsys* stores[] = {dark.get(), lower.get(), memory.get(), nullptr};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int recordsBefore = dark->getkn();
        CoreBitm pool;
        CoreTlst own[2];
        std::vector<CoreBitm*> got;
        pool.begin();
        for (const Request& r : row.requests) {
            CoreBitm* out = nullptr;
            pool.stabm(&own[r.own], stores[r.store], CoreAnsx(r.name), &out, r.resource, false);
            ASSERT_NE(out, nullptr);
            got.push_back(out);
        }
        EXPECT_EQ(pool.getec(), row.entries);
        int references = 0;
        std::vector<const CoreBitm::BITMAPLOC*> seen;
        for (const CoreTlst& list : own)
            for (int i = 0; i < list.Count; ++i) {
                const auto* entry = static_cast<const CoreBitm::BITMAPLOC*>(list.Items[i]);
                if (std::find(seen.begin(), seen.end(), entry) == seen.end()) {
                    seen.push_back(entry);
                    references += entry->references;
                }
            }
        EXPECT_EQ(references, int(row.requests.size()));
        for (size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE("request " + std::to_string(i));
            const char letter = row.bitmaps[i];
            const int32_t resource = row.requests[i].resource;
            for (size_t k = 0; k < i; ++k)
                EXPECT_EQ(got[k] == got[i], std::isupper(letter) && row.bitmaps[k] == letter);
            if (std::isupper(letter)) {
                ASSERT_NE(got[i]->getPicture(), nullptr);
                EXPECT_NE(got[i]->getPicture(), CoreBimg::picture(resource));
                EXPECT_FALSE(got[i]->getNoAlpha());
            } else {
                EXPECT_EQ(got[i]->getPicture(), letter == 'e' ? nullptr : CoreBimg::picture(resource));
                EXPECT_EQ(got[i]->isLoaded(), letter != 'e');
            }
        }
        if (std::string(row.requests[0].name) == "0") {
            EXPECT_EQ(dark->getkn(), recordsBefore); // no load was tried: the store gained no record
        }
        pool.purgb(&own[0]);
        EXPECT_EQ(own[0].Count, 0);
        EXPECT_EQ(pool.getec(), row.afterFirst);
        pool.purgb(&own[1]);
        EXPECT_EQ(pool.getec(), row.afterSecond);
        pool.end__();
    }
}

TEST_F(CoreBitmTest, SkipsAnEntryAlreadyGivenBackAndFreesEveryEntryWhenDeleted) {
    auto pool = std::make_unique<CoreBitm>();
    CoreTlst first, stale, kept;
    CoreBitm* out = nullptr;
    pool->begin();
    pool->stabm(&first, dark.get(), CoreAnsx("a.png"), &out, 103, false);
    stale.Add(first.Items[0]);
    pool->purgb(&first);
    EXPECT_EQ(pool->getec(), 0);
    pool->purgb(&stale); // its entry is gone: only the pointer is compared
    EXPECT_EQ(pool->getec(), 0);
    EXPECT_EQ(stale.Count, 0);
    // Entries still held when the pool goes are freed with it.
    pool->stabm(&kept, dark.get(), CoreAnsx("a.png"), &out, 103, false);
    pool->stabm(&kept, dark.get(), CoreAnsx("0"), &out, 101, false);
    pool->end__();
    EXPECT_EQ(pool->getec(), 2);
    pool.reset();
}

TEST_F(CoreBitmTest, DrawsPngItemsWithAlphaAndOtherNamesOpaque) {
    const std::string bytes = png(6, 6, 96);
    skintest::writeFolder(root / "draw", {{"x.png", bytes}, {"x.bmp", bytes}});
    CoreFsys store(&pool, at("draw/"), false);
    CoreBitm withAlpha(0), opaque(0);
    ASSERT_TRUE(withAlpha.ldfle(&store, CoreAnsx("x.png")));
    ASSERT_TRUE(opaque.ldfle(&store, CoreAnsx("x.bmp")));
    EXPECT_FALSE(withAlpha.getNoAlpha());
    EXPECT_TRUE(opaque.getNoAlpha());
    CDrawContext frame(16, 8);
    frame.fillRect(CRect(0, 0, 16, 8), CColor{0, 120, 0, 255});
    withAlpha.draw(&frame, CRect(1, 1, 7, 7));
    opaque.draw(&frame, CRect(9, 1, 15, 7));
    EXPECT_EQ(frame.getPixel(9 + 2, 1 + 3).red, 80); // opaque: the image's own colour
    EXPECT_LT(frame.getPixel(1 + 2, 1 + 3).red, 80); // blended over the green
    EXPECT_GT(frame.getPixel(1 + 2, 1 + 3).green, 90);
    guitest::expectGolden(frame, "skin_png_alpha_and_bmp_opaque");
}

// Two editors on two threads, each with its own skin object on the demo container.
TEST(CoreBitmThreads, TwoEditorsLoadAndGiveBackTheDemoSkin) {
    CorePool memory;
    CoreBitm pool;
    const auto editor = [&pool, &memory] {
        CoreSkin skin(&memory, CoreAnsx(VORLAN_DEMO_SKIN), nullptr);
        const std::vector<skintest::Load> loads = skintest::editorLoads(skin);
        CDrawContext frame(900, 290);
        for (int round = 0; round < 50; ++round) {
            CoreTlst own;
            std::vector<CoreBitm*> bitmaps;
            pool.begin();
            for (const skintest::Load& load : loads) {
                CoreBitm* out = nullptr;
                pool.stabm(&own, skin.getfs(), load.name, &out, load.resource, false);
                bitmaps.push_back(out);
            }
            pool.end__();
            for (CoreBitm* bitmap : bitmaps) bitmap->draw(&frame, CRect(0, 0, 40, 40));
            pool.begin();
            pool.purgb(&own);
            pool.end__();
        }
    };
    {
        CoreSkin probe(&memory, CoreAnsx(VORLAN_DEMO_SKIN), nullptr);
        ASSERT_EQ(probe.getsk()->fontsets, 2) << "the demo skin was not read: " << VORLAN_DEMO_SKIN;
    }
    std::thread first(editor), second(editor);
    first.join();
    second.join();
    pool.begin();
    EXPECT_EQ(pool.getec(), 0);
    pool.end__();
}

} // namespace
