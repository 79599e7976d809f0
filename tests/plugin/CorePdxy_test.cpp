#include "plugin/CorePdxy.h"

#include "platform/gui/CBitmap.h"
#include "platform/gui/CFrame.h"
#include "tests/gui/GuiGolden.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Told {
    int32_t tag;
    float value;
};

class RecordingListener : public CControlListener {
public:
    void valueChanged(CDrawContext*, CControl* control) override {
        told.push_back({control->getTag(), control->getValue()});
    }
    std::vector<Told> told;
};

using Map = std::vector<CorePdxy::MAPENTRY>;

Map corners() { return {{0, 0, 0, 0, 0}, {0, 1, 0, 1, 0}, {1, 0, 1, 0, 0}, {1, 1, 1, 1, 0}}; }

// A pad over (10, 10)-(110, 110) in a frame, the handle a built-in bitmap.
struct Pad {
    explicit Pad(Map* map, int32_t tagy = 1)
        : frame(CRect(0, 0, 200, 200), nullptr, nullptr),
          pad(CRect(0, 0, 120, 120), CRect(10, 10, 110, 110), &listener, 0, tagy, 2, 3, &handle, nullptr, CPoint(),
              map) {
        frame.addView(&pad);
    }
    ~Pad() { frame.removeView(&pad); }
    void send(const CoreGevt& event) {
        frame.post(event);
        frame.idle();
    }
    RecordingListener listener;
    CFrame frame;
    CBitmap handle{103};
    CorePdxy pad;
};

} // namespace

TEST(CorePdxy, MapsTheHandleBetweenTheTwoNearestEntries) {
    struct Row {
        const char* name;
        Map map;
        float x, y;
        float u, v;
    };
    const Row rows[] = {
        {"corners only", corners(), 0.25f, 0.25f, 0.0f, 0.309017f},
        {"on a map point",
         [] {
             Map m = corners();
             m.push_back({0.5, 0.5, 0.7, 0.2, 0});
             return m;
         }(),
         0.5f, 0.5f, 0.7f, 0.2f},
        {"two map points at the handle", {{0.5, 0.5, 0.3, 0.4, 0}, {0.5, 0.5, 0.9, 0.9, 0}}, 0.5f, 0.5f, 0.3f, 0.4f},
        {"one entry", {{0.1, 0.9, 0.6, 0.8, 0}}, 0.7f, 0.2f, 0.6f, 0.8f},
        {"subnormal results", {{0.0, 0.0, 1e-40, -1e-41, 0}}, 0.5f, 0.5f, 0.0f, 0.0f},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Map map = r.map;
        Pad p(&map);
        p.pad.setvl(0, r.x);
        p.pad.setvl(1, r.y);
        const float u = p.pad.getho(2)->getValue(), v = p.pad.getho(3)->getValue();
        EXPECT_FALSE(std::isnan(u) || std::isnan(v));
        EXPECT_NEAR(u, r.u, 1e-6f);
        EXPECT_NEAR(v, r.v, 1e-6f);
        EXPECT_TRUE(p.listener.told.empty()); // setvl tells nobody
    }
}

TEST(CorePdxy, DragsWithTheLeftButtonAndTellsXYThenTheOutputs) {
    Map map = corners();
    Pad p(&map);
    p.send(CoreGevt::down(CPoint(35, 60), kRButton));
    EXPECT_TRUE(p.listener.told.empty());
    p.send(CoreGevt::up(CPoint(35, 60)));

    struct Step {
        CoreGevt event;
        float x, y;
    };
    const Step steps[] = {
        {CoreGevt::down(CPoint(35, 60), kLButton), 0.25f, 0.5f},
        {CoreGevt::move(CPoint(60, 35), kLButton), 0.5f, 0.25f},
        {CoreGevt::move(CPoint(300, -40), kLButton), 1.0f, 0.0f}, // pinned to the edges
        {CoreGevt::move(CPoint(-5, 119), kLButton), 0.0f, 1.0f},
    };
    for (const Step& s : steps) {
        p.listener.told.clear();
        p.send(s.event);
        ASSERT_EQ(p.listener.told.size(), 4u);
        const int32_t order[] = {0, 1, 2, 3};
        for (size_t i = 0; i < 4; ++i) EXPECT_EQ(p.listener.told[i].tag, order[i]);
        EXPECT_FLOAT_EQ(p.listener.told[0].value, s.x);
        EXPECT_FLOAT_EQ(p.listener.told[1].value, s.y);
    }
    p.send(CoreGevt::up(CPoint(-5, 119)));
    p.listener.told.clear();
    p.send(CoreGevt::move(CPoint(50, 50), kLButton));
    EXPECT_TRUE(p.listener.told.empty()); // the release ended the drag
}

TEST(CorePdxy, AnAxisWithoutASlotSendsNothing) {
    Pad p(nullptr, -1);
    p.send(CoreGevt::down(CPoint(35, 60), kLButton));
    ASSERT_EQ(p.listener.told.size(), 1u);
    EXPECT_EQ(p.listener.told[0].tag, 0);
    EXPECT_EQ(p.pad.getho(2), nullptr);
}

TEST(CorePdxy, DrawsTheHandleCentredOnItsPosition) {
    struct Row {
        float value;
        int32_t centre; // x and y of the handle's centre
    };
    const Row rows[] = {{0.0f, 10}, {0.5f, 60}, {1.0f, 110}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.value);
        Pad p(nullptr);
        p.pad.setvl(0, r.value);
        p.pad.setvl(1, r.value);
        p.frame.idle();
        guitest::expectGolden(p.frame.getImage(), "pad_handle_" + std::to_string(r.centre));
        const int32_t w = p.handle.getWidth(), h = p.handle.getHeight();
        CDrawContext expected(200, 200);
        expected.fillRect(CRect(0, 0, 200, 200), CColor{0, 0, 0, 255}); // the frame's own ground
        p.handle.draw(&expected, CRect(r.centre - w / 2, r.centre - h / 2, r.centre + w - w / 2, r.centre + h - h / 2));
        const CDrawContext& image = p.frame.getImage();
        for (int y = 0; y < 200; y += 3)
            for (int x = 0; x < 200; x += 3) {
                const CColor a = image.getPixel(x, y), b = expected.getPixel(x, y);
                ASSERT_EQ(a, b) << x << "," << y;
            }
    }
}
