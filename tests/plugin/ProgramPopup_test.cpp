// The program popup end to end: an in-process effect with its editor open offscreen and its control
// thread running; the user opens the popup over the program name and chooses a program by pointer.
#include "plugin/CoreZrlg.h"

#include "base/CoreSgrd.h"
#include "platform/gui/COptionMenu.h"
#include "platform/gui/CoreGevt.h"
#include "plugin/CoreEdit.h"
#include "plugin/CoreEdmn.h"
#include "plugin/CoreFrme.h"
#include "processor/CorePrcs.h"
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
