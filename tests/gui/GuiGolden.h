// GuiGolden: test helpers of the GUI layer: compares an image with its golden PNG in
// tests/data/gui (every channel of every pixel within 2, as cairo versions round blends
// differently; VORLAN_UPDATE_GOLDENS=1 rewrites the golden instead), makes test pictures and
// records listener calls.
#pragma once
#include "platform/CorePict.h"
#include "platform/gui/CControl.h"
#include "platform/gui/CDrawContext.h"

#include <cairo.h>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace guitest {

inline void expectGolden(const CDrawContext& image, const std::string& name) {
    const std::string path = std::string(VORLAN_GUI_GOLDENS) + "/" + name + ".png";
    const char* update = std::getenv("VORLAN_UPDATE_GOLDENS");
    if (update && std::strcmp(update, "1") == 0) {
        ASSERT_TRUE(image.writePng(path.c_str())) << path;
        return;
    }
    cairo_surface_t* golden = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(golden), CAIRO_STATUS_SUCCESS) << "missing golden " << path;
    ASSERT_EQ(cairo_image_surface_get_width(golden), image.getWidth()) << name;
    ASSERT_EQ(cairo_image_surface_get_height(golden), image.getHeight()) << name;
    cairo_surface_flush(golden);
    const uint8_t* want = cairo_image_surface_get_data(golden);
    const int wantStride = cairo_image_surface_get_stride(golden);
    const uint8_t* got = image.getData();
    int mismatches = 0;
    std::string first;
    for (int32_t y = 0; y < image.getHeight(); ++y)
        for (int32_t x = 0; x < image.getWidth() * 4; ++x) {
            const int a = want[size_t(y) * size_t(wantStride) + size_t(x)];
            const int b = got[size_t(y) * size_t(image.getStride()) + size_t(x)];
            if (std::abs(a - b) > 2 && mismatches++ == 0)
                first = "(" + std::to_string(x / 4) + ", " + std::to_string(y) + ") byte " + std::to_string(x % 4) +
                        ": golden " + std::to_string(a) + ", drawn " + std::to_string(b);
        }
    cairo_surface_destroy(golden);
    EXPECT_EQ(mismatches, 0) << name << ": first difference at " << first;
}

// A picture whose pixel (x, y) is colour(x, y) as {r, g, b, a}.
inline CorePict* makePicture(int32_t width, int32_t height, const std::function<CColor(int32_t, int32_t)>& colour) {
    auto* picture = new CorePict(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const CColor c = colour(x, y);
            uint8_t* p = picture->pixels() + (size_t(y) * size_t(width) + size_t(x)) * 4;
            p[0] = c.red, p[1] = c.green, p[2] = c.blue, p[3] = c.alpha;
        }
    return picture;
}

// Records every listener call as (tag, value); an optional action runs after each call.
class RecordingListener : public CControlListener {
public:
    void valueChanged(CDrawContext*, CControl* control) override {
        calls.emplace_back(control->getTag(), control->getValue());
        if (after) after(control);
    }
    std::vector<std::pair<int32_t, float>> calls;
    std::function<void(CControl*)> after;
};

} // namespace guitest
