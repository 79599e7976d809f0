// The editor's popup menus: the tree built from the display's records, choices and the recent menu,
// arming and showing (offscreen and under an X server of the test's own), contents that change
// between the two reads, and the editor's threads working the menus at once.
#include "plugin/CoreEdmn.h"

#include "platform/gui/COptionMenu.h"
#include "plugin/CoreEdit.h"
#include "plugin/CoreFrme.h"
#include "tests/common/XvfbHarness.h"
#include "tests/gui/GuiGolden.h"
#include "tests/plugin/RecordingProperties.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Entry = CoreCnst::POPMENUENTRY;
using Arm = CoreCnst::POPMENUARM;

constexpr int kGridLeft = 194, kGridTop = 53, kCellWidth = 6, kCellHeight = 12;

Entry entry(int32_t parent, const std::string& text) {
    Entry e{};
    e.parent = parent;
    std::memcpy(e.text, text.data(), std::min(text.size(), sizeof e.text));
    return e;
}

// The issue's tree: title; A (B, C); D.
std::vector<Entry> abcd() { return {entry(-1, "Programs"), entry(-1, "A"), entry(1, "B"), entry(1, "C"), entry(-1, "D")}; }

Arm armRecord(bool armed, int32_t count, int16_t percolumn = 16) {
    Arm arm{};
    arm.armed = armed ? 1 : 0;
    arm.count = count;
    arm.column = 2, arm.row = 3, arm.width = 4, arm.height = 1; // pixels (206, 89)-(230, 101)
    arm.percolumn = percolumn;
    return arm;
}
const CPoint kInsideCells(210, 92);

// A menu as text: items separated by spaces, a submenu as text#tag[items], the current item with '*'.
std::string dump(const COptionMenu* menu, int depth = 0) {
    std::string out;
    for (int32_t i = 0; i < menu->getNbEntries(); ++i) {
        if (i) out += " ";
        out += menu->getEntry(i);
        if (i == menu->getCurrent()) out += "*";
        if (const COptionMenu* sub = menu->getSubMenu(i))
            out += "#" + std::to_string(sub->getTag()) + "[" + (depth < 8 ? dump(sub, depth + 1) : "...") + "]";
    }
    return out;
}

std::vector<std::string> sentTexts(RecordingProperties& props) {
    std::vector<std::string> texts;
    for (const Entry& e : props.setsOf<Entry>(CorePpwr::iCmenuselection))
        texts.emplace_back(e.text, strnlen(e.text, sizeof e.text));
    return texts;
}

// The menus on a frame of their own, with the display grid of the built-in layout; choices reach
// setrs as the editor's valueChanged hands them on.
struct Menus : CControlListener {
    Menus() : frame(CRect(0, 0, 700, 300), nullptr, nullptr, &props), menus(&props) {
        frame.setmb(true, kGridLeft, kGridTop, 542, 221, kCellWidth, kCellHeight);
        menus.open(&frame, this, 2000, 16);
    }
    ~Menus() override { menus.close(); }
    void valueChanged(CDrawContext*, CControl* control) override {
        menus.setrs(control->getTag(), int(control->getValue()));
    }
    void arm(const std::vector<Entry>& entries, const Arm& record) {
        props.putEntries(entries);
        props.put(CorePpwr::iCmenuarm, record);
        menus.updte();
    }
    void arm(const std::vector<Entry>& entries) { arm(entries, armRecord(true, int32_t(entries.size()))); }
    void send(const CoreGevt& event) {
        frame.post(event);
        frame.idle();
    }
    void click(CPoint where) {
        send(CoreGevt::down(where, kLButton));
        send(CoreGevt::up(where));
    }
    RecordingProperties props;
    CoreFrme frame;
    CoreEdmn menus;
};

// Entry index of popup level `level` of frame, in a menu of one column of rows entries or more.
CPoint entryPoint(CFrame& frame, int32_t level, int32_t index, int32_t columns = 1) {
    const CRect& rect = frame.getPopupLevelRect(level);
    const int32_t rows = (rect.height() - 2) / CFrame::iCmenurow;
    const int32_t columnWidth = (rect.width() - 2) / columns;
    return CPoint(rect.left + 1 + (index / rows) * columnWidth + 4, rect.top + 1 + (index % rows) * CFrame::iCmenurow + 7);
}

AudioUnitEvent notice(RecordingProperties& props, int32_t id) { return {3, &props, uint32_t(id), 0, 0}; }

} // namespace

TEST(CoreEdmn, BuildsTheMenuTreeFromParentIndices) {
    const std::string full(48, 'x');
    struct Row {
        const char* name;
        std::vector<Entry> entries;
        int32_t count; // of the arm record
        bool armed;
        std::string tree;
    };
    const Row rows[] = {
        {"title only", {entry(-1, "T")}, 1, true, "T#2001[]"},
        {"the issue's tree", abcd(), 5, true, "Programs#2001[] A#2002[B C] D"},
        {"a parent not on the path", {entry(-1, "T"), entry(-1, "A"), entry(-1, "B"), entry(1, "C"), entry(99, "D")},
         5, true, "T#2001[] A B#2002[C#2003[D]]"},
        {"five levels",
         {entry(-1, "T"), entry(-1, "L1"), entry(1, "L2"), entry(2, "L3"), entry(3, "L4"), entry(4, "L5"), entry(5, "L6"),
          entry(1, "M")},
         8, true, "T#2001[] L1#2002[L2#2003[L3#2004[L4 L5 L6]] M]"},
        {"a text without a NUL", {entry(-1, full), entry(-1, full)}, 2, true,
         std::string(47, 'x') + "#2001[] " + std::string(47, 'x')},
        {"separators stay items", {entry(-1, "T"), entry(-1, "A"), entry(1, "B"), entry(1, "-"), entry(1, "C")}, 5, true,
         "T#2001[] A#2002[B - C]"},
        {"count 0", abcd(), 0, false, ""},
        {"count negative", abcd(), -3, false, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Menus m;
        m.arm(r.entries, armRecord(true, r.count));
        EXPECT_EQ(m.frame.ismna(), r.armed);
        if (r.armed) {
            EXPECT_EQ(dump(m.menus.getmm()), r.tree);
        }
    }
}

TEST(CoreEdmn, AChoiceSendsItsTextAndFillsTheRecentMenu) {
    struct Choice {
        int tag, index;
    };
    struct Row {
        const char* name;
        std::vector<Choice> choices;
        std::vector<std::string> sent;
        std::string recent;
    };
    // Main menu: 0 title (the recent menu), 1 A, 2 D, 3 E; A (tag 2002): 0 B, 1 -, 2 C.
    const Row rows[] = {
        {"C from submenu A", {{2002, 2}}, {"C"}, "B C*"},
        {"D from the main menu", {{2000, 2}}, {"D"}, "D* E"},
        {"E after C", {{2002, 2}, {2000, 3}}, {"C", "E"}, "D E*"},
        {"from the recent menu: not rebuilt", {{2002, 2}, {2001, 0}}, {"C", "B"}, "B C*"},
        {"unknown tag", {{2002, 0}, {2009, 0}, {1999, 0}}, {"B"}, "B* C"},
        {"index outside the menu", {{2002, 0}, {2002, 3}, {2000, -1}, {2001, 2}}, {"B"}, "B* C"},
        {"submenu and separator items", {{2002, 0}, {2000, 0}, {2000, 1}, {2002, 1}}, {"B"}, "B* C"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Menus m;
        m.arm({entry(-1, "T"), entry(-1, "A"), entry(1, "B"), entry(1, "-"), entry(1, "C"), entry(-1, "D"),
               entry(-1, "E")});
        for (const Choice& c : r.choices) m.menus.setrs(c.tag, c.index);
        EXPECT_EQ(sentTexts(m.props), r.sent);
        EXPECT_EQ(dump(m.menus.getrm()), r.recent);
    }
}

TEST(CoreEdmn, ArmsDisarmsAndRebuildsAShownPopup) {
    enum Next { kDisarm, kRearm, kNewContents, kNothing };
    struct Row {
        const char* name;
        Next next;
        bool shownAfter, armedAfter;
        std::vector<int> messages; // display message types of a click on the cells afterwards
    };
    const Row rows[] = {
        {"disarmed", kDisarm, false, false, {0}},
        {"armed again", kRearm, false, true, {}},
        {"new contents", kNewContents, false, true, {}},
        {"nothing new", kNothing, true, false, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Menus m;
        m.arm(abcd());
        m.click(kInsideCells);
        ASSERT_EQ(m.frame.getOpenMenu(), m.menus.getmm());
        m.send(CoreGevt::move(entryPoint(m.frame, 0, 1), 0)); // submenu A open
        ASSERT_EQ(m.frame.getPopupLevelCount(), 2);
        EXPECT_TRUE(m.props.messages().empty());
        if (r.next == kDisarm) m.arm(abcd(), armRecord(false, 5));
        if (r.next == kRearm) m.arm(abcd());
        if (r.next == kNewContents) m.arm({entry(-1, "New"), entry(-1, "X")});
        m.frame.idle();
        EXPECT_EQ(m.frame.getOpenMenu() != nullptr, r.shownAfter);
        EXPECT_EQ(m.frame.ismna(), r.armedAfter);
        if (r.next == kNewContents) {
            EXPECT_EQ(dump(m.menus.getmm()), "New#2001[] X");
        }
        if (r.shownAfter) continue;
        m.props.clear();
        m.click(kInsideCells);
        std::vector<int> types;
        for (const auto& message : m.props.messages()) types.push_back(message.type);
        EXPECT_EQ(types, r.messages);
        EXPECT_EQ(m.frame.getOpenMenu() != nullptr, r.armedAfter);
    }
}

TEST(CoreEdmn, ContentsChangedBetweenTheReadsNeverOverrunTheHolder) {
    auto leaves = [](int n) {
        std::vector<Entry> entries; // n records, the title first
        for (int i = 0; i < n; ++i) entries.push_back(entry(-1, i ? "E" + std::to_string(i) : "T"));
        return entries;
    };
    struct Row {
        const char* name;
        int32_t armCount;
        int atQuery, atRead; // entries present at the size query and at the read
        int items;           // main menu items after the update; 0 disarmed
    };
    const Row rows[] = {
        {"arm 3, 200 present", 3, 200, 200, 3},
        {"arm 200, 3 present", 200, 3, 3, 3},
        {"shrinks between the reads", 200, 200, 3, 3},
        {"grows between the reads", 3, 3, 200, 3},
        {"grows beyond the query", 200, 3, 200, 3},
        {"none present", 5, 0, 0, 0},
        {"gone between the reads", 5, 5, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Menus m;
        m.props.putEntries(leaves(r.atQuery));
        m.props.put(CorePpwr::iCmenuarm, armRecord(true, r.armCount));
        m.props.afterMenuSizeQuery = [&] { m.props.putEntries(leaves(r.atRead)); };
        m.menus.updte();
        m.props.afterMenuSizeQuery = nullptr;
        EXPECT_EQ(m.frame.ismna(), r.items > 0);
        if (r.items > 0) {
            EXPECT_EQ(m.menus.getmm()->getNbEntries(), r.items);
        }
        // The display's arm notice after its push rebuilds from what is there now.
        m.props.put(CorePpwr::iCmenuarm, armRecord(true, r.atRead));
        m.menus.updte();
        EXPECT_EQ(m.frame.ismna(), r.atRead > 0);
        if (r.atRead > 0) {
            EXPECT_EQ(m.menus.getmm()->getNbEntries(), r.atRead);
        }
    }
}

TEST(CoreEdmn, TheEditorShowsTheMenuInItsOwnImage) {
    RecordingProperties props;
    const int32_t viewsBefore = CView::getLiveCount();
    {
        CoreEdit edit(nullptr, nullptr, nullptr, &props);
        ASSERT_TRUE(edit.open(nullptr));
        CoreFrme* frame = edit.getfm();
        frame->setmb(true, kGridLeft, kGridTop, 542, 221, kCellWidth, kCellHeight);
        auto armed = [&](const std::vector<Entry>& entries, int16_t percolumn) {
            props.putEntries(entries);
            props.put(CorePpwr::iCmenuarm, armRecord(true, int32_t(entries.size()), percolumn));
            const AudioUnitEvent event = notice(props, CorePpwr::iCmenuarm);
            edit.evlst(nullptr, &event, 0.0f);
        };
        auto send = [&](const CoreGevt& event) {
            frame->post(event);
            edit.idle();
        };
        auto click = [&](CPoint where) {
            send(CoreGevt::down(where, kLButton));
            send(CoreGevt::up(where));
        };

        // C from A by pointer: the recent menu then holds B and C with C marked.
        armed({entry(-1, "Programs"), entry(-1, "A"), entry(1, "B"), entry(1, "-"), entry(1, "C"), entry(-1, "D")}, 16);
        click(kInsideCells);
        ASSERT_EQ(frame->getPopupLevelCount(), 1);
        EXPECT_EQ(frame->getPopupLevelRect(0).left, kGridLeft + 2 * kCellWidth); // at the anchor cell
        EXPECT_EQ(frame->getPopupLevelRect(0).top, kGridTop + 3 * kCellHeight);
        send(CoreGevt::move(entryPoint(*frame, 0, 1), 0));
        ASSERT_EQ(frame->getPopupLevelCount(), 2);
        guitest::expectGolden(frame->getPopupLevelImage(0), "edmn_main_a_highlighted");
        guitest::expectGolden(frame->getPopupLevelImage(1), "edmn_submenu_a");
        click(entryPoint(*frame, 1, 2));
        EXPECT_EQ(sentTexts(props), std::vector<std::string>{"C"});
        EXPECT_FALSE(frame->ismna()); // chosen: the display arms again when it wants
        armed({entry(-1, "Programs"), entry(-1, "A"), entry(1, "B"), entry(1, "-"), entry(1, "C"), entry(-1, "D")}, 16);
        click(kInsideCells);
        send(CoreGevt::move(entryPoint(*frame, 0, 0), 0));
        ASSERT_EQ(frame->getPopupLevelCount(), 2);
        guitest::expectGolden(frame->getPopupLevelImage(1), "edmn_recent_current_marked");
        send(CoreGevt::keyPress(CoreGevt::kKeyEscape));
        EXPECT_EQ(frame->getOpenMenu(), nullptr);

        // 100 entries at 16 a column: 7 columns, each entry chosen by pointer and by the layer's
        // programmatic choice, which send the same record.
        std::vector<Entry> hundred{entry(-1, "Title")};
        for (int i = 1; i <= 100; ++i) hundred.push_back(entry(-1, "Entry " + std::to_string(i)));
        for (int i = 1; i <= 100; ++i) {
            SCOPED_TRACE(i);
            for (bool byPointer : {true, false}) {
                armed(hundred, 16);
                props.clear();
                click(kInsideCells);
                ASSERT_EQ(frame->getPopupLevelCount(), 1);
                const CRect& level = frame->getPopupLevelRect(0);
                ASSERT_EQ(level.height(), 16 * CFrame::iCmenurow + 2);
                if (byPointer)
                    click(entryPoint(*frame, 0, i, 7));
                else
                    send(CoreGevt::choice(edit.getmu()->getmm(), i));
                const auto sent = props.setsOf<Entry>(CorePpwr::iCmenuselection);
                ASSERT_EQ(sent.size(), 1u);
                EXPECT_EQ(sent[0].parent, -1);
                EXPECT_STREQ(sent[0].text, ("Entry " + std::to_string(i)).c_str());
            }
        }
        // Fewer than one entry a column asks for one column, never pages.
        armed(hundred, 0);
        click(kInsideCells);
        ASSERT_EQ(frame->getPopupLevelCount(), 1);
        EXPECT_EQ(frame->getPopupLevelRect(0).height(), 101 * CFrame::iCmenurow + 2);
        edit.close();
    }
    EXPECT_EQ(CView::getLiveCount(), viewsBefore);
}

TEST(CoreEdmn, ThePopupWindowAppearsAtTheAnchorAndGrabsThePointer) {
    XvfbHarness x;
    if (!x.ready()) GTEST_SKIP() << x.reason();
    RecordingProperties props;
    CoreEdit edit(nullptr, nullptr, nullptr, &props);
    ASSERT_TRUE(edit.open(XvfbHarness::handle(x.parent())));
    CoreFrme* frame = edit.getfm();
    ASSERT_TRUE(frame->isEmbedded());
    frame->setmb(true, kGridLeft, kGridTop, 542, 221, kCellWidth, kCellHeight);
    auto idleUntil = [&](const std::function<bool()>& condition) {
        return XvfbHarness::waitFor([&] {
            edit.idle();
            return condition();
        });
    };
    auto arm = [&] {
        props.putEntries(abcd());
        props.put(CorePpwr::iCmenuarm, armRecord(true, 5));
        const AudioUnitEvent event = notice(props, CorePpwr::iCmenuarm);
        edit.evlst(nullptr, &event, 0.0f);
    };
    arm();
    edit.idle();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        x.click(kInsideCells.x, kInsideCells.y);
        ASSERT_TRUE(idleUntil([&] { return x.popups().size() == 1; }));
        const XvfbHarness::Place at = x.place(x.popups().front());
        EXPECT_EQ(at.x, XvfbHarness::kParentX + kGridLeft + 2 * kCellWidth);
        EXPECT_EQ(at.y, XvfbHarness::kParentY + kGridTop + 3 * kCellHeight);
        EXPECT_FALSE(x.pointerGrabbable());
        if (round == 0) {
            x.clickOnScreen(1200, 1000); // outside: closed, nothing sent, the cells stay armed
            ASSERT_TRUE(idleUntil([&] { return x.popups().empty() && frame->ismna(); }));
            EXPECT_TRUE(sentTexts(props).empty());
            EXPECT_TRUE(x.pointerGrabbable());
        } else {
            const CPoint d = entryPoint(*frame, 0, 2);
            x.click(d.x, d.y);
            ASSERT_TRUE(idleUntil([&] { return x.popups().empty(); }));
            EXPECT_EQ(sentTexts(props), std::vector<std::string>{"D"});
        }
    }
    edit.close();
}

// A display-like thread arms new contents and disarms while status notices arrive; the GUI thread
// clicks the cells, chooses, and opens and closes the window. Nothing deadlocks, and every text
// sent back was armed.
TEST(CoreEdmn, TheEditorsThreadsWorkTheMenusTogether) {
    RecordingProperties props;
    CoreEdit edit(nullptr, nullptr, nullptr, &props);
    std::mutex armedLock;
    std::set<std::string> armedTexts;
    std::atomic<bool> stop{false};
    std::thread display([&] {
        for (int generation = 0; !stop.load(); ++generation) {
            std::vector<Entry> entries{entry(-1, "T" + std::to_string(generation))};
            const int leaves = 2 + generation % 5;
            for (int i = 1; i <= leaves; ++i) {
                const std::string text = "g" + std::to_string(generation) + " e" + std::to_string(i);
                {
                    std::lock_guard<std::mutex> hold(armedLock);
                    armedTexts.insert(text);
                }
                entries.push_back(entry(i > 2 ? 2 : -1, text));
            }
            props.putEntries(entries);
            props.put(CorePpwr::iCmenuarm, armRecord(generation % 7 != 6, int32_t(entries.size()), 16));
            props.prchg(CorePpwr::iCmenuarm, 0, 0);
            props.prchg(CorePpwr::iCstatus, 0, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int cycles = 0;
    while (std::chrono::steady_clock::now() < end) {
        ASSERT_TRUE(edit.open(nullptr));
        CoreFrme* frame = edit.getfm();
        edit.getlk()->locks(); // as the display's open sets the grid: arm notices read it
        frame->setmb(true, kGridLeft, kGridTop, 542, 221, kCellWidth, kCellHeight);
        edit.getlk()->relse();
        const CPoint anchor(kGridLeft + 2 * kCellWidth, kGridTop + 3 * kCellHeight);
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // arm notices meanwhile
            frame->post(CoreGevt::down(kInsideCells, kLButton));
            frame->post(CoreGevt::up(kInsideCells));
            edit.idle();
            const CPoint item(anchor.x + 5, anchor.y + 1 + (1 + i % 3) * CFrame::iCmenurow + 7);
            frame->post(CoreGevt::move(item, 0));
            frame->post(CoreGevt::down(item, kLButton));
            frame->post(CoreGevt::up(item));
            if (i % 4 == 0) frame->post(CoreGevt::choice(edit.getmu()->getmm(), 1 + i % 2));
            edit.idle();
        }
        edit.close();
        ++cycles;
    }
    stop = true;
    display.join();
    const std::vector<std::string> sent = sentTexts(props);
    EXPECT_GT(cycles, 0);
    EXPECT_FALSE(sent.empty());
    std::lock_guard<std::mutex> hold(armedLock);
    for (const std::string& text : sent) EXPECT_EQ(armedTexts.count(text), 1u) << text;
}
