#include "platform/gui/CBitmap.h"

#include "platform/gui/CAnimKnob.h"
#include "platform/gui/CFrame.h"
#include "platform/gui/CKickButton.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/CVerticalSlider.h"
#include "tests/gui/GuiGolden.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

using guitest::makePicture;

namespace {

// Owns the views and bitmaps of one scene.
struct Scene {
    std::vector<std::unique_ptr<CView>> views;
    std::vector<CBitmap*> bitmaps;
    CPoint origin;
    ~Scene() {
        views.clear();
        for (CBitmap* b : bitmaps) b->forget();
    }
    CBitmap* bitmap(CBitmap* b) {
        bitmaps.push_back(b);
        return b;
    }
    CBitmap* picture(CorePict* p, bool noAlpha) {
        auto* b = bitmap(new CBitmap(0));
        b->setImage(p, noAlpha);
        return b;
    }
    template <class View>
    View* add(CFrame& frame, View* view) {
        views.emplace_back(view);
        frame.addView(view);
        return view;
    }
};

CorePict* gradient() { // opaque 16 × 16
    return makePicture(16, 16, [](int32_t x, int32_t y) { return CColor{uint8_t(x * 16), uint8_t(y * 16), 128, 255}; });
}
CorePict* translucent() { // alpha falling to the right
    return makePicture(16, 16, [](int32_t x, int32_t y) { return CColor{255, uint8_t(y * 16), 0, uint8_t(255 - x * 16)}; });
}
CorePict* threeFrames() { // 8 × 24: red, green, blue
    return makePicture(8, 24, [](int32_t, int32_t y) {
        return CColor{uint8_t(y < 8 ? 255 : 0), uint8_t(y >= 8 && y < 16 ? 255 : 0), uint8_t(y >= 16 ? 255 : 0), 255};
    });
}
CorePict* knobFrames() { // 16 × (32 × 16): frame k shows a bar k / 2 pixels long
    return makePicture(16, 32 * 16, [](int32_t x, int32_t y) {
        const int32_t k = y / 16, row = y % 16;
        return (row >= 6 && row < 10 && x < k / 2) ? CColor{250, 250, 250, 255} : CColor{40, 40, 90, 255};
    });
}

void addBackground(Scene& s, CFrame& frame) {
    frame.setBackground(s.picture(makePicture(128, 96, [](int32_t x, int32_t y) {
                                      return ((x / 8 + y / 8) % 2) ? CColor{70, 70, 70, 255} : CColor{110, 110, 110, 255};
                                  }),
                                  true));
}

} // namespace

TEST(CBitmap, SmallScenesMatchGoldens) {
    struct Row {
        const char* name;
        std::function<void(Scene&, CFrame&)> build;
    };
    const Row rows[] = {
        {"bitmaps_opaque_alpha_noalpha", [](Scene& s, CFrame& f) {
             addBackground(s, f);
             s.add(f, new CView(CRect(4, 4, 20, 20)))->setBackground(s.picture(gradient(), false));
             s.add(f, new CView(CRect(24, 4, 40, 20)))->setBackground(s.picture(translucent(), false));
             s.add(f, new CView(CRect(44, 4, 60, 20)))->setBackground(s.picture(translucent(), true));
             CBitmap* late = s.picture(translucent(), false); // the flag set afterwards
             late->setNoAlpha(true);
             s.add(f, new CView(CRect(64, 4, 80, 20)))->setBackground(late);
         }},
        {"movie_bitmap_values", [](Scene& s, CFrame& f) {
             CBitmap* strip = s.picture(threeFrames(), false);
             const float values[] = {0, 0.2f, 0.5f, 0.6f, 1, -1, 2, NAN};
             for (int i = 0; i < 8; ++i)
                 s.add(f, new CMovieBitmap(CRect(4 + 10 * i, 4, 12 + 10 * i, 12), nullptr, 0, 3, 8, strip, s.origin))
                     ->setValue(values[i]);
         }},
        {"sliders_styles_and_values", [](Scene& s, CFrame& f) {
             addBackground(s, f);
             CBitmap* handle = s.bitmap(new CBitmap(103));
             CBitmap* back = f.getViewSize().isEmpty() ? nullptr : s.bitmap(new CBitmap(99));
             const float values[] = {0, 0.5f, 1};
             for (int i = 0; i < 6; ++i) {
                 const int32_t left = 4 + 20 * i, style = i < 3 ? CVerticalSlider::kBottom : 0;
                 CPoint offset(600, 80);
                 s.add(f, new CVerticalSlider(CRect(left, 4, left + 17, 92), nullptr, i, 4, 56, handle, back, offset, style))
                     ->setValue(values[i % 3]);
             }
         }},
        {"knob_32_frames", [](Scene& s, CFrame& f) {
             CBitmap* strip = s.picture(knobFrames(), false);
             CPoint offset(1000, 1000); // ignored
             const float values[] = {0, 0.5f, 1, 0.49f};
             for (int i = 0; i < 4; ++i)
                 s.add(f, new CAnimKnob(CRect(4 + 20 * i, 4, 20 + 20 * i, 20), nullptr, 0, strip, offset))->setValue(values[i]);
         }},
        {"kick_button_up_and_pressed", [](Scene& s, CFrame& f) {
             CBitmap* button = s.bitmap(new CBitmap(304));
             s.add(f, new CKickButton(CRect(4, 4, 34, 20), nullptr, 0, 16, button, s.origin));
             s.add(f, new CKickButton(CRect(40, 4, 70, 20), nullptr, 1, 16, button, s.origin));
             f.post(CoreGevt::down(CPoint(50, 10), kLButton));
             f.idle();
         }},
        {"edges_offsets_rects_outside", [](Scene& s, CFrame& f) {
             addBackground(s, f);
             CBitmap* g = s.picture(gradient(), false);
             CPoint far(1000, -1000), partly(8, -8), huge(INT32_MAX, INT32_MIN);
             auto view = [&](CRect r, CPoint offset) {
                 CView* v = s.add(f, new CView(r));
                 v->setBackground(g);
                 v->setBackOffset(offset);
             };
             view(CRect(4, 4, 20, 20), far);               // offset outside the bitmap
             view(CRect(24, 4, 40, 20), partly);           // partly outside: the lower left quarter
             view(CRect(44, 4, 44, 20), s.origin);         // empty
             view(CRect(70, 20, 54, 4), s.origin);         // inverted
             view(CRect(-8, 80, 8, 96), s.origin);         // partly left of the frame
             view(CRect(120, 88, 136, 104), s.origin);     // partly below and right of it
             view(CRect(-1000, -1000, 5000, 5000), huge);  // far offsets
             view(CRect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), CPoint(INT32_MIN + 30, INT32_MIN + 40));
             CPoint stripOffset(0, INT32_MAX - 5);
             s.add(f, new CMovieBitmap(CRect(84, 4, 100, 20), nullptr, 0, 3, 1 << 30, g, stripOffset))->setValue(1);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Scene scene;
        CFrame frame(CRect(0, 0, 128, 96), nullptr, nullptr);
        row.build(scene, frame);
        frame.doIdleStuff();
        guitest::expectGolden(frame.getImage(), row.name);
    }
}

TEST(CBitmap, SharesBuiltInsAndCountsReferences) {
    auto* a = new CBitmap(200);
    CBitmap b(200);
    EXPECT_EQ(a->getPicture(), b.getPicture()); // one image per process
    EXPECT_EQ(a->getWidth(), 6);
    a->remember();
    EXPECT_EQ(a->getNbReference(), 2);
    a->forget();
    a->forget(); // deletes it
    b.setImage(gradient(), false);
    EXPECT_EQ(b.getWidth(), 16);
    b.setImage(nullptr, false);
    EXPECT_FALSE(b.isLoaded());
    EXPECT_EQ(b.getPicture(), nullptr);
    CDrawContext context(4, 4);
    b.draw(&context, CRect(0, 0, 4, 4)); // an empty bitmap draws nothing
    EXPECT_EQ(context.getPixel(1, 1), (CColor{0, 0, 0, 0}));
}
