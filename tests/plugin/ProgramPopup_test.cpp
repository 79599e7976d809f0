// The program popup end to end: an in-process effect with its editor open (offscreen, or in a window
// of an X server of the test's own) and its control thread running; the user opens the popup over the
// program name and chooses a program, or closes it without one, and clicks on.
#include "plugin/CoreZrlg.h"

#include "base/CoreSgrd.h"
#include "display/CoreDsmn.h"
#include "platform/gui/COptionMenu.h"
#include "platform/gui/CoreGevt.h"
#include "plugin/CoreEdfo.h"
#include "plugin/CoreEdit.h"
#include "plugin/CoreEdmn.h"
#include "plugin/CoreFrme.h"
#include "processor/CorePrcs.h"
#include "tests/common/XvfbHarness.h"
#include "tests/display/CoreDsifTestAccess.h"
#include "tests/plugin/BootedEffect.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Slot 1 the demo program (loaded at the boot), slot 2 a second program of the demo folder; the
// setup fills slots in its order from slot 0.
const char* const kSetup =
    "<SETUP><PROGRAM><SEQUENCE>0</SEQUENCE><FILENAME>init.xml</FILENAME></PROGRAM>"
    "<PROGRAM><SEQUENCE>1</SEQUENCE><FILENAME>demo.xml</FILENAME><LOAD>1</LOAD></PROGRAM>"
    "<PROGRAM><SEQUENCE>2</SEQUENCE><FILENAME>unit-long.xml</FILENAME></PROGRAM></SETUP>";

bool within20s(const std::function<bool()>& done) {
    return eventually(done, std::chrono::seconds(20));
}

// The point of entry `index` of popup level `level`, one column.
CPoint entryPoint(CFrame& frame, int32_t level, int32_t index) {
    const CRect& rect = frame.getPopupLevelRect(level);
    return CPoint(rect.left + 5, rect.top + 1 + index * CFrame::iCmenurow + 7);
}

// The editor's popup as texts (a submenu's entries after its own, indented), read under its lock;
// without the first entry, the title, whose submenu the editor fills with the last choice's siblings.
std::vector<std::string> menuTexts(CoreEdit& edit) {
    std::vector<std::string> texts;
    edit.getlk()->locks();
    const std::function<void(const COptionMenu*, const std::string&)> walk = [&](const COptionMenu* menu,
                                                                                 const std::string& indent) {
        for (int32_t i = indent.empty() ? 1 : 0; menu && i < menu->getNbEntries(); ++i) {
            texts.push_back(indent + menu->getEntry(i));
            walk(menu->getSubMenu(i), indent + "  ");
        }
    };
    walk(edit.getmu()->getmm(), "");
    edit.getlk()->relse();
    return texts;
}

// Level-0 and level-1 indices of the first entry that starts with prefix; -1, -1 when none.
std::pair<int32_t, int32_t> findEntry(CoreEdit& edit, const std::string& prefix) {
    std::pair<int32_t, int32_t> at{-1, -1};
    edit.getlk()->locks();
    const COptionMenu* main = edit.getmu()->getmm();
    for (int32_t i = 0; main && i < main->getNbEntries() && at.first < 0; ++i) {
        const COptionMenu* sub = main->getSubMenu(i);
        for (int32_t j = 0; sub && j < sub->getNbEntries(); ++j)
            if (std::string(sub->getEntry(j)).rfind(prefix, 0) == 0) {
                at = {i, j};
                break;
            }
    }
    edit.getlk()->relse();
    return at;
}

} // namespace

TEST(ProgramPopup, AChoiceByPointerLoadsItsSlotAndArmsThePopupAgain) {
    BootedEffect booted("", true, &BootedEffect::host, kSetup);
    ASSERT_TRUE(booted.booted);
    AEffect* record = booted.effect->getAeffect();
    auto* edit = dynamic_cast<CoreEdit*>(booted.effect->getEditor());
    ASSERT_NE(edit, nullptr);
    ASSERT_EQ(record->dispatcher(record, effEditOpen, 0, 0, nullptr, 0), 1);
    CoreDsif& display = *booted.effect->getms()->getds();
    CorePrcs& engine = *booted.effect->getms()->getpr();
    CoreFrme* frame = edit->getfm();
    const auto idle = [&] { record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0); };
    const auto state = [&] {
        CoreSgrd hold(display.getlk());
        return display.getcs();
    };
    const auto slot = [&] {
        CorePrcs::BEANSTRUCT none{};
        return engine.getbi(67, &none);
    };
    // Every other double-size cell of row 2 holds one character of the name: its first eight.
    const auto shownName = [&] {
        CoreSgrd hold(display.getlk());
        std::string name;
        for (int x = 0; x < 16; x += 2) name += CoreDsifTestAccess::grid(display).cell(x, 2)->getch();
        return name.substr(0, name.find_last_not_of(' ') + 1);
    };
    int left = 0, top = 0, right = 0, bottom = 0, cellWidth = 0, cellHeight = 0;
    frame->getmb(left, top, right, bottom, cellWidth, cellHeight);
    const auto cell = [&](int column, int row) {
        return CPoint(left + column * cellWidth + cellWidth / 2, top + row * cellHeight + cellHeight / 2);
    };
    const auto click = [&](CPoint where) {
        frame->post(CoreGevt::down(where, kLButton));
        idle();
        frame->post(CoreGevt::up(where));
        idle();
    };

    ASSERT_TRUE(within20s([&] {
        idle();
        return state() == 0 && frame->ismna() && !menuTexts(*edit).empty();
    }));
    const std::vector<std::string> entries = menuTexts(*edit);
    const std::pair<int32_t, int32_t> second = findEntry(*edit, "2 - ");
    std::string all;
    for (const std::string& e : entries) all += "[" + e + "]";
    ASSERT_GE(second.first, 0) << "no entry for slot 2 in " << all;

    click(cell(1, 2)); // on the program name
    ASSERT_EQ(frame->getPopupLevelCount(), 1);
    frame->post(CoreGevt::move(entryPoint(*frame, 0, second.first), 0));
    idle();
    ASSERT_EQ(frame->getPopupLevelCount(), 2);
    click(entryPoint(*frame, 1, second.second));

    EXPECT_TRUE(within20s([&] {
        idle();
        return slot() == 2 && state() == 0 && shownName() == "Unit 1 s" && frame->ismna();
    })) << "slot "
        << slot() << ", page " << state() << ", name '" << shownName() << "'";
    EXPECT_EQ(menuTexts(*edit), entries);

    // A soft key leaves the page: a choice that arrives afterwards loads nothing.
    click(cell(33, CoreDsif::iCdimy - 1));
    ASSERT_TRUE(within20s([&] {
        idle();
        return state() != 0;
    }));
    CoreCnst::POPMENUENTRY choice{-1, {}};
    std::strncpy(choice.text, "1 - Demo Rooms", sizeof choice.text - 1);
    booted.effect->stprp(CorePpwr::iCmenuselection, 0, 0, &choice, sizeof choice);
    {
        CoreSgrd hold(display.getlk());
        EXPECT_NE(display.getns(), 22);
    }
    EXPECT_EQ(slot(), 2);
    record->dispatcher(record, effEditClose, 0, 0, nullptr, 0);
}

// Under an X server, with input from the device: however the popup closes (Escape, a press outside
// it, a choice the display does not act on), the next click works as on a freshly opened editor.
TEST(ProgramPopup, UnderAnXServerTheClickAfterThePopupActs) {
    XvfbHarness x;
    if (!x.ready()) GTEST_SKIP() << x.reason();
    BootedEffect booted;
    ASSERT_TRUE(booted.booted);
    AEffect* record = booted.effect->getAeffect();
    auto* edit = dynamic_cast<CoreEdit*>(booted.effect->getEditor());
    ASSERT_NE(edit, nullptr);
    ASSERT_EQ(record->dispatcher(record, effEditOpen, 0, 0, XvfbHarness::handle(x.parent()), 0), 1);
    CoreFrme* frame = edit->getfm();
    ASSERT_TRUE(frame->isEmbedded());
    CoreDsif& display = *booted.effect->getms()->getds();
    const auto state = [&] {
        CoreSgrd hold(display.getlk());
        return display.getcs();
    };
    const auto idleUntil = [&](const std::function<bool()>& condition) {
        return XvfbHarness::waitFor(
            [&] {
                record->dispatcher(record, effEditIdle, 0, 0, nullptr, 0);
                return condition();
            },
            std::chrono::milliseconds(20000));
    };
    int left = 0, top = 0, right = 0, bottom = 0, cellWidth = 0, cellHeight = 0;
    frame->getmb(left, top, right, bottom, cellWidth, cellHeight);
    const CPoint name(left + cellWidth + cellWidth / 2, top + 2 * cellHeight + cellHeight / 2);
    const CPoint softKey(left + 33 * cellWidth + cellWidth / 2,
                         top + (CoreDsif::iCdimy - 1) * cellHeight + cellHeight / 2);
    const auto shown = [&] { return x.popups().size() == 1; };
    const auto closedAndArmed = [&] { return x.popups().empty() && frame->ismna(); };
    // The program page, its popup armed and its cells shown in the editor.
    const auto cellsShown = [&] {
        edit->getlk()->locks();
        const bool any = edit->getdf()->getcr() >= 0;
        edit->getlk()->relse();
        return any;
    };
    ASSERT_TRUE(idleUntil([&] { return state() == 0 && frame->ismna() && cellsShown(); }));

    // An entry without a slot number, which the display answers by loading nothing: offered in place
    // of the demo's programs, as the display offers its contents.
    const auto offerAnEntryThatKeepsThePage = [&] {
        CoreCnst::POPMENUCONTENTDATA* contents = CoreDsifTestAccess::popupData(display);
        CoreDsmn::new__(2, contents);
        {
            CoreSgrd hold(contents->lock);
            contents->items[0].parent = contents->items[1].parent = -1;
            std::strncpy(contents->items[0].text, "Programs", sizeof contents->items[0].text - 1);
            std::strncpy(contents->items[1].text, "Keep this page", sizeof contents->items[1].text - 1);
        }
        booted.effect->prchg(CorePpwr::iCmenuarm, 0, 0);
        const std::vector<std::string> offered{"Keep this page"};
        ASSERT_TRUE(idleUntil([&] { return menuTexts(*edit) == offered; }));
    };
    enum Close { kEscape, kOutside, kChoice };
    struct Row {
        const char* name;
        Close close;
        bool nextOnTheName; // the next click: on the name (the popup shows again), else on a soft key
    };
    const Row rows[] = {
        {"Escape, then the name", kEscape, true},
        {"a press outside, then the name", kOutside, true},
        {"a choice that keeps the page, then a soft key", kChoice, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.close == kChoice) offerAnEntryThatKeepsThePage();
        x.click(name.x, name.y);
        ASSERT_TRUE(idleUntil(shown));
        switch (r.close) {
        case kEscape:
            x.key(0xff1b);
            ASSERT_TRUE(idleUntil(closedAndArmed));
            break;
        case kOutside:
            x.clickOnScreen(1200, 1000);
            ASSERT_TRUE(idleUntil(closedAndArmed));
            break;
        case kChoice: {
            const CPoint entry = entryPoint(*frame, 0, 1);
            x.click(entry.x, entry.y);
            ASSERT_TRUE(idleUntil([&] { return x.popups().empty(); }));
            EXPECT_EQ(state(), 0);
            break;
        }
        }
        if (r.nextOnTheName) {
            x.click(name.x, name.y);
            EXPECT_TRUE(idleUntil(shown));
            x.key(0xff1b);
            ASSERT_TRUE(idleUntil(closedAndArmed));
        } else {
            x.click(softKey.x, softKey.y);
            EXPECT_TRUE(idleUntil([&] { return state() != 0; }));
        }
    }
    record->dispatcher(record, effEditClose, 0, 0, nullptr, 0);
}
