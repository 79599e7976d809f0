// The plug-in's display host: without an effect it answers nothing and sends nothing; on a running
// effect the display's calls reach the mirrors; the skin facts come from the record.
#include "plugin/PluginDisplayHost.h"

#include "base/CorePool.h"
#include "plugin/CoreSkin.h"
#include "tests/common/TempFolder.h"
#include "tests/plugin/BootedEffect.h"
#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(PluginDisplayHost, WithoutAnEffectAnswersNothingAndSendsNothing) {
    PluginDisplayHost host(nullptr, nullptr);
    int32_t untouched[3] = {7, 8, 9};
    EXPECT_EQ(host.gtprp(DisplayHost::iCpointer, 0, 0, untouched), 11);
    EXPECT_EQ(untouched[0], 7);
    const uint8_t focus = 1;
    EXPECT_EQ(host.stprp(DisplayHost::iCkeyboard, 0, 0, &focus, 1), 11);
    host.prchg(DisplayHost::iCkeyboard, 0, 0);
    const DisplayHost::POINTER pointer = DisplayHost::pointer(&host, 5, 6);
    EXPECT_EQ(pointer.x, 5);
    EXPECT_EQ(pointer.y, 6);
    EXPECT_FALSE(pointer.down);
}

// The mouse record's button is a 32-bit value: any non-zero one is down. The arm record reaches the
// effect's mirror.
TEST(PluginDisplayHost, ReachesTheEffectsMirrors) {
    BootedEffect booted;
    ASSERT_TRUE(booted.booted);
    PluginDisplayHost host(booted.properties(), nullptr);
    const struct {
        int32_t button;
        bool down;
    } rows[] = {{0, false}, {1, true}, {256, true}, {-1, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button);
        const int32_t mouse[3] = {31, 47, row.button};
        ASSERT_EQ(booted.effect->wsprp(DisplayHost::iCpointer, 0, 0, mouse, sizeof mouse), 0);
        DisplayHost::POINTER pointer{0, 0, !row.down};
        ASSERT_EQ(host.gtprp(DisplayHost::iCpointer, 0, 0, &pointer), 0);
        EXPECT_EQ(pointer.x, 31);
        EXPECT_EQ(pointer.y, 47);
        EXPECT_EQ(pointer.down, row.down);
    }

    uint8_t arm[20], back[20] = {};
    for (uint8_t i = 0; i < sizeof arm; ++i) arm[i] = uint8_t(i + 1);
    ASSERT_EQ(host.stprp(DisplayHost::iCpopuparm, 0, 0, arm, sizeof arm), 0);
    ASSERT_EQ(booted.effect->gtprp(DisplayHost::iCpopuparm, 0, 0, back), 0);
    EXPECT_EQ(std::memcmp(arm, back, sizeof arm), 0);
}

TEST(PluginDisplayHost, TakesTheSkinsFontSetsAndAddWidth) {
    TempFolder folder("host");
    CorePool pool;
    const std::string path = skintest::writeFolder(
        folder.path / "Two", {{"ROM.XML", "<SKIN><FONTS><ELEMENT><FONTNAME>One</FONTNAME></ELEMENT><ELEMENT>"
                                          "<FONTNAME>Two</FONTNAME></ELEMENT></FONTS><GLOBAL><DISPLAYADDCHARS>30"
                                          "</DISPLAYADDCHARS></GLOBAL></SKIN>"}});
    const CoreSkin skin(&pool, CoreAnsx(path.c_str()), nullptr);
    const PluginDisplayHost withSkin(nullptr, &skin), without(nullptr, nullptr);
    EXPECT_EQ(withSkin.fontSetCount(), 2);
    EXPECT_EQ(withSkin.addChars(), 30);
    EXPECT_EQ(without.fontSetCount(), 0);
    EXPECT_LT(without.addChars(), 1);
    const struct {
        int16_t set;
        const char* name;
    } rows[] = {{0, "One"}, {1, "Two"}, {2, "0"}, {-1, "0"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.set);
        EXPECT_EQ(withSkin.fontSetName(row.set), CoreAnsx(row.name));
        EXPECT_EQ(without.fontSetName(row.set), CoreAnsx("0"));
    }
}

} // namespace
