// The demo skin: the same bytes every time, a container holding the folder's files, one record
// whichever way the skin is reached, every section of the description filled, every image there
// in the size its use needs, and a layout whose parts lie inside the background without overlapping.
#include "tools/CoreDskn.h"

#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreHfsy.h"
#include "platform/CorePict.h"
#include "plugin/CoreSkin.h"
#include "tests/common/TempFolder.h"
#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> filesOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = readBytes(entry.path());
    return files;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class CoreDsknTest : public TempFolderTest {
protected:
    std::string text(const std::string& path, CoreFsys* reader = nullptr) {
        CoreSkin skin(&pool, CoreAnsx(path.c_str()), reader);
        return skintest::skinText(*skin.getsk());
    }
    CorePool pool;
};

TEST_F(CoreDsknTest, WritesTheSameFilesAndAContainerOfTheFolder) {
    CoreDskn::write((root / "a").string());
    CoreDskn::write((root / "b").string());
    CoreDskn::write((root / "b").string()); // over its own files
    const auto written = filesOf(root / "a");
    EXPECT_EQ(written, filesOf(root / "b"));
    ASSERT_TRUE(fs::exists(root / "a/skins/DEMO.Q7S"));

    CoreFsys store(&pool);
    ASSERT_TRUE(store.loada(at("a/skins/DEMO.Q7S"), CoreAnsx("0"), false, nullptr));
    const auto folder = filesOf(root / "a/skins/Demo");
    EXPECT_EQ(folder.size(), 20u);
    EXPECT_EQ(store.getkn(), static_cast<int>(folder.size()));
    for (const auto& [name, bytes] : folder) {
        SCOPED_TRACE(name);
        void* data = nullptr;
        const int32_t size = store.getco(store.getit(CoreAnsx(upper(name).c_str())), &data);
        ASSERT_EQ(size, static_cast<int32_t>(bytes.size()));
        EXPECT_EQ(std::string(static_cast<const char*>(data), size_t(size)), bytes);
    }
}

TEST_F(CoreDsknTest, ReadsAsOneRecordWhicheverWayTheSkinIsReached) {
    const fs::path data = root / "data";
    CoreDskn::write(data.string());
    fs::create_directories(data / "copy");
    for (const auto& entry : fs::directory_iterator(data / "skins/Demo"))
        fs::copy_file(entry.path(), data / "copy" /
                                        (entry.path().filename() == "ROM.XML" ? fs::path("rom.xml")
                                                                              : entry.path().filename()));
    const std::string want = text((data / "skins/Demo").string());
    CoreFsys master(&pool, CoreAnsx((data.string() + "/").c_str()), false);
    const struct {
        const char* name;
        std::string path;
        CoreFsys* reader;
    } rows[] = {
        {"the container", (data / "skins/Demo.q7s").string(), nullptr},
        {"a copy with rom.xml", (data / "copy").string(), nullptr},
        {"the folder with a trailing '/'", (data / "skins/Demo/").string(), nullptr},
        {"the container named demo.Q7S", (data / "skins/demo.Q7S").string(), nullptr},
        {"the container through the data folder's store", (data / "skins/Demo.q7s").string(), &master},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(text(row.path, row.reader), want);
    }
}

struct Box {
    std::string what;
    int32_t left, top, right, bottom;
};

bool overlap(const Box& a, const Box& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST_F(CoreDsknTest, FillsEverySectionWithImagesOfTheirSizesLaidOutWithoutOverlaps) {
    CoreDskn::write(root.string());
    CoreSkin skin(&pool, at("skins/Demo.q7s"), nullptr);
    const CoreSkin::SKIN& s = *skin.getsk();

    // Every section.
    ASSERT_EQ(s.fontsets, 2);
    EXPECT_EQ(s.fontnames[0], CoreAnsx("Classic"));
    EXPECT_EQ(s.fontnames[1], CoreAnsx("Amber"));
    EXPECT_EQ(skin.getfn(0, 0), CoreAnsx("0")); // the built-in fonts
    EXPECT_TRUE(s.global && s.displayset && s.ledoverflow && s.ledbypass);
    EXPECT_EQ(s.ledoverflowframes, 3);
    EXPECT_NE(s.ledbypassoff, CoreAnsx("NULL"));
    EXPECT_TRUE(s.sliders && s.setup && s.meters);
    EXPECT_FALSE(s.groupmode);
    for (int i = 0; i < CoreSkin::iCslots; ++i) {
        SCOPED_TRACE("slot " + std::to_string(i));
        EXPECT_TRUE(s.parameters[i].present);
        EXPECT_EQ(s.parameters[i].knobmode, i >= 4 && i < 8);
        EXPECT_EQ(s.parameters[i].ledpair, i < 8);
        EXPECT_EQ(s.parameters[i].addfirst != -1, i >= 8);
    }
    EXPECT_EQ(s.displayaddchars, 8);
    ASSERT_TRUE(s.pad[0].present && s.pad[0].map.has_value());
    EXPECT_FALSE(s.pad[1].present);
    EXPECT_EQ(s.pad[0].controlx, 0);
    EXPECT_EQ(s.pad[0].controly, 1);
    EXPECT_EQ(s.pad[0].mapcontrolx, 2);
    EXPECT_EQ(s.pad[0].mapcontroly, 3);
    EXPECT_EQ(s.pad[0].map->size(), 3u);
    for (int b = 0; b < CoreSkin::iCbuttons; ++b) EXPECT_EQ(s.program[b].sequence, b < 4 ? b + 1 : -1);
    std::vector<std::string> meterImages;
    for (const CoreSkin::METERLOC& meter : s.meter) {
        EXPECT_TRUE(meter.present && meter.decibels);
        ASSERT_EQ(meter.leds.size(), 12u);
        for (size_t n = 0; n < meter.leds.size(); ++n) {
            if (n > 0) {
                EXPECT_GT(meter.leds[n].decibels, meter.leds[n - 1].decibels); // ascending from the top LED
                EXPECT_GT(meter.leds[n].y, meter.leds[n - 1].y);
            }
            meterImages.push_back(meter.leds[n].bitmap.c_str());
        }
    }
    std::sort(meterImages.begin(), meterImages.end());
    EXPECT_EQ(std::unique(meterImages.begin(), meterImages.end()) - meterImages.begin(), 3);

    // Every image named is there and decodes.
    std::map<std::string, std::unique_ptr<CorePict>> images;
    const auto image = [&](const CoreAnsx& name) -> const CorePict& {
        auto& slot = images[name.c_str()];
        if (!slot) {
            int32_t width = 0, height = 0;
            bool notPng = true;
            slot.reset(CoreHfsy::ldimg(skin.getfs(), name, width, height, notPng));
            if (!slot) slot = std::make_unique<CorePict>(0, 0);
            EXPECT_GT(slot->width(), 0) << name.c_str() << " is missing or does not decode";
        }
        return *slot;
    };
    for (const skintest::Load& load : skintest::editorLoads(skin))
        if (load.name != CoreAnsx("0")) image(load.name);
    const int16_t widths[] = {6, 6, 12}, heights[] = {1296, 1128, 2592};
    for (int16_t layer = 0; layer < 3; ++layer) {
        EXPECT_EQ(image(skin.getfn(1, layer)).width(), widths[layer]);
        EXPECT_EQ(image(skin.getfn(1, layer)).height(), heights[layer]);
    }

    // The layout: each part's rectangle as the editor places it.
    const CorePict& back = image(s.background);
    ASSERT_EQ(back.width(), 900);
    ASSERT_EQ(back.height(), 290);
    std::vector<Box> boxes;
    boxes.push_back({"display", s.displayx - s.displayleft, s.displayy - s.displaytop,
                     s.displayx + 58 * 6 + s.displayright, s.displayy + 14 * 12 + s.displaybottom});
    const auto strip = [&](const std::string& what, const CoreAnsx& name, int32_t x, int32_t y, int frames) {
        const CorePict& p = image(name);
        EXPECT_EQ(p.height() % frames, 0) << what;
        boxes.push_back({what, x, y, x + p.width(), y + p.height() / frames});
    };
    for (int i = 0; i < CoreSkin::iCslots; ++i) {
        const CoreSkin::PARAMETERLOC& p = s.parameters[i];
        const std::string what = "slot " + std::to_string(i);
        const CorePict& handle = image(p.slider);
        EXPECT_EQ(handle.width(), p.maxx - p.minx) << what;
        if (p.knobmode) {
            EXPECT_EQ(handle.height() % (p.maxy - p.miny), 0) << what; // whole knob views
            EXPECT_EQ(handle.height() / (p.maxy - p.miny), 32) << what;
        } else {
            EXPECT_EQ(handle.height() + p.height, p.maxy - p.miny) << what;
        }
        boxes.push_back({what, p.minx, p.miny, p.maxx, p.maxy});
        if (p.addfirst != -1)
            boxes.push_back(
                {what + " readout", p.addx, p.addy, p.addx + (p.addlast - p.addfirst) * 6, p.addy + 3 * 12});
        if (p.ledpair) {
            strip(what + " top LED", s.parameters[0].ledtop, p.ledtopx, p.ledtopy, 3);
            strip(what + " bottom LED", s.parameters[0].ledtop, p.ledbottomx, p.ledbottomy, 3);
        }
    }
    strip("overflow LED", s.ledoverflowon, s.ledoverflowx, s.ledoverflowy, s.ledoverflowframes);
    // The bypass LED and its dark image take turns at one place.
    EXPECT_EQ(s.ledbypassx, s.ledbypassoffx);
    EXPECT_EQ(s.ledbypassy, s.ledbypassoffy);
    EXPECT_EQ(image(s.ledbypasson).width(), image(s.ledbypassoff).width());
    EXPECT_EQ(image(s.ledbypasson).height(), image(s.ledbypassoff).height());
    strip("bypass LED", s.ledbypasson, s.ledbypassx, s.ledbypassy, 1);
    const CoreSkin::PADLOC& pad = s.pad[0];
    const CorePict& handle = image(pad.bitmap);
    boxes.push_back({"pad", pad.minx - handle.width() / 2, pad.miny - handle.height() / 2,
                     pad.maxx + handle.width() / 2, pad.maxy + handle.height() / 2});
    for (const CoreSkin::MAPLOC& point : *pad.map) {
        EXPECT_TRUE(point.x >= pad.minx && point.x <= pad.maxx && point.y >= pad.miny && point.y <= pad.maxy);
    }
    for (int b = 0; b < 4; ++b) {
        const CoreSkin::BUTTONLOC& button = s.program[b];
        EXPECT_EQ(image(button.button).height() % 2, 0); // up and pressed
        strip("button " + std::to_string(b), button.button, button.buttonx, button.buttony, 2);
        strip("button LED " + std::to_string(b), button.led, button.ledx, button.ledy, 3);
    }
    for (int m = 0; m < CoreSkin::iCmeters; ++m)
        for (size_t n = 0; n < s.meter[m].leds.size(); ++n) {
            const CoreSkin::LEDLOC& led = s.meter[m].leds[n];
            strip("meter " + std::to_string(m) + " LED " + std::to_string(n), led.bitmap, led.x, led.y, 3);
        }
    for (size_t i = 0; i < boxes.size(); ++i) {
        const Box& a = boxes[i];
        EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right <= back.width() && a.bottom <= back.height())
            << a.what;
        for (size_t k = i + 1; k < boxes.size(); ++k)
            EXPECT_FALSE(overlap(a, boxes[k])) << a.what << " / " << boxes[k].what;
    }
}

} // namespace
