// SkinText: test helpers for skins: the skin record as text, one line per part and every field
// printed under the flag that makes it meaningful (so two records compare as text and a failing
// comparison shows the field), and small skins written as folders and containers. Tests only.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "plugin/CoreSkin.h"
#include "tests/common/PngWriter.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace skintest {

// <name>content</name>
inline std::string tag(const std::string& name, const std::string& content) {
    return "<" + name + ">" + content + "</" + name + ">";
}

// A plain grey RGBA image of that size, as PNG bytes.
inline std::string png(int width, int height) {
    pngtest::Image image;
    image.width = width, image.height = height;
    image.rows.assign(size_t(width * height * 4), 0xC0);
    return pngtest::write(image);
}

// One bitmap an editor asks the pool for: the filtered image name and the built-in fallback number.
struct Load {
    CoreAnsx name;
    int32_t resource;
};

// Every load an editor makes for the skin, in its order: the window's bitmaps, then each font set's
// three layers.
inline std::vector<Load> editorLoads(const CoreSkin& skin) {
    const CoreSkin::SKIN& s = *skin.getsk();
    std::vector<Load> loads;
    const auto add = [&loads](const CoreAnsx& name, int32_t resource) {
        loads.push_back({CoreSkin::getfn(name), resource});
    };
    add(s.background, 99);
    add(s.ledoverflowon, 101);
    if (s.ledoverflowoff != CoreAnsx("NULL")) add(s.ledoverflowoff, 400);
    add(s.ledbypasson, 102);
    if (s.ledbypassoff != CoreAnsx("NULL")) add(s.ledbypassoff, 401);
    for (const CoreSkin::PARAMETERLOC& slot : s.parameters)
        if (!s.sliders || slot.present) add(slot.slider, 103);
    int32_t k = 0;
    for (const CoreSkin::PADLOC& pad : s.pad)
        if (pad.present) add(pad.bitmap, 210 + k++);
    k = 0;
    for (const CoreSkin::BUTTONLOC& button : s.program)
        if (button.sequence > 0) {
            add(button.button, 300 + 2 * k);
            add(button.led, 301 + 2 * k++);
        }
    add(s.parameters[0].ledtop, 800);
    for (const CoreSkin::METERLOC& meter : s.meter)
        for (size_t n = 0; n < meter.leds.size(); ++n)
            add(meter.leds[n].bitmap, 900 + static_cast<int32_t>(n));
    for (int16_t set = 0; set < s.fontsets; ++set)
        for (int16_t layer = 0; layer < 3; ++layer) loads.push_back({skin.getfn(set, layer), 200 + layer});
    return loads;
}

inline std::string skinText(const CoreSkin::SKIN& s) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << "fonts " << s.fontsets << "\n";
    for (size_t k = 0; k < s.fonts.size(); ++k) {
        const CoreSkin::ELEMENTLOC& f = s.fonts[k];
        out << "font " << k << " fontname=" << (k < s.fontnames.size() ? s.fontnames[k].c_str() : "?")
            << " name=" << f.name.c_str() << " layers=" << f.layer[0].c_str() << "|" << f.layer[1].c_str()
            << "|" << f.layer[2].c_str() << "|" << f.layer[3].c_str() << "\n";
    }
    out << "display set=" << s.displayset << " at=" << s.displayx << "," << s.displayy
        << " margins=" << s.displaytop << "," << s.displaybottom << "," << s.displayleft << ","
        << s.displayright << " add=" << s.displayaddx << "," << s.displayaddy
        << " chars=" << s.displayaddchars << " addmargins=" << s.displayaddtop << "," << s.displayaddbottom
        << "," << s.displayaddleft << "," << s.displayaddright << "\n";
    if (s.global) out << "global background=" << s.background.c_str() << "\n";
    out << "overflow " << s.ledoverflow << " on=" << s.ledoverflowon.c_str() << " at=" << s.ledoverflowx
        << "," << s.ledoverflowy << " frames=" << s.ledoverflowframes << " off=" << s.ledoverflowoff.c_str()
        << " at=" << s.ledoverflowoffx << "," << s.ledoverflowoffy << "\n";
    out << "bypass " << s.ledbypass << " on=" << s.ledbypasson.c_str() << " at=" << s.ledbypassx << ","
        << s.ledbypassy << " frames=" << s.ledbypassframes << " off=" << s.ledbypassoff.c_str()
        << " at=" << s.ledbypassoffx << "," << s.ledbypassoffy << "\n";
    if (s.sliders) out << "sliders\n";
    for (int i = 0; i < CoreSkin::iCslots; ++i) {
        const CoreSkin::PARAMETERLOC& p = s.parameters[i];
        if (!p.present) continue;
        out << "slot " << i << " slider=" << p.slider.c_str() << " knob=" << p.knobmode << " rect=" << p.minx
            << "," << p.miny << "," << p.maxx << "," << p.maxy << " height=" << p.height;
        if (p.addfirst != -1)
            out << " add=" << p.addfirst << ".." << p.addlast << " at=" << p.addx << "," << p.addy;
        if (p.ledpair)
            out << " leds=" << p.ledtop.c_str() << "@" << p.ledtopx << "," << p.ledtopy << " "
                << p.ledbottom.c_str() << "@" << p.ledbottomx << "," << p.ledbottomy;
        out << "\n";
    }
    for (int i = 0; i < CoreSkin::iCpads; ++i) {
        const CoreSkin::PADLOC& p = s.pad[i];
        if (!p.present) continue;
        out << "pad " << i << " bitmap=" << p.bitmap.c_str() << " rect=" << p.minx << "," << p.miny << ","
            << p.maxx << "," << p.maxy << " control=" << p.controlx << "," << p.controly;
        if (p.map) {
            out << " map=" << p.mapcontrolx << "," << p.mapcontroly << " points=";
            for (const CoreSkin::MAPLOC& m : *p.map)
                out << m.x << "," << m.y << "," << m.valuex << "," << m.valuey << ";";
        }
        out << "\n";
    }
    if (s.setup) out << "setup\n";
    for (int b = 0; b < CoreSkin::iCbuttons; ++b) {
        const CoreSkin::BUTTONLOC& p = s.program[b];
        if (p.sequence == -1 && p.button == CoreAnsx("NULL") && p.led == CoreAnsx("NULL")) continue;
        out << "button " << b << " sequence=" << p.sequence << " button=" << p.button.c_str() << "@"
            << p.buttonx << "," << p.buttony << " led=" << p.led.c_str() << "@" << p.ledx << "," << p.ledy
            << "\n";
    }
    if (s.meters)
        out << "meters group=" << s.groupmode << " absent2=" << s.meter2absent
            << " absent4=" << s.meter4absent << "\n";
    for (int m = 0; m < CoreSkin::iCmeters; ++m) {
        const CoreSkin::METERLOC& p = s.meter[m];
        if (!p.present) continue;
        out << "meter " << m << " db=" << p.decibels << " count=" << p.ledcount << " leds=";
        for (const CoreSkin::LEDLOC& l : p.leds)
            out << l.bitmap.c_str() << "@" << l.x << "," << l.y << ":" << l.decibels << ";";
        out << "\n";
    }
    return out.str();
}

// The lines of text that the defaults' text does not hold, in order.
inline std::string changedLines(const std::string& text, const std::string& defaults) {
    std::istringstream in(text);
    std::string result;
    for (std::string line; std::getline(in, line);)
        if (("\n" + defaults).find("\n" + line + "\n") == std::string::npos) result += line + "\n";
    return result;
}

// Writes items (name -> bytes) as files of folder and returns folder with a trailing '/'.
inline std::string writeFolder(const std::filesystem::path& folder,
                               const std::map<std::string, std::string>& items) {
    std::filesystem::create_directories(folder);
    for (const auto& [name, bytes] : items) std::ofstream(folder / name, std::ios::binary) << bytes;
    return folder.string() + "/";
}

// Writes items as an item container at path (the writer upper-cases the file name).
inline bool writeContainer(const std::filesystem::path& path,
                           const std::map<std::string, std::string>& items) {
    std::filesystem::create_directories(path.parent_path());
    CorePool pool;
    CoreFsys store(&pool);
    for (const auto& [name, bytes] : items)
        if (!store.setit(store.crtit(CoreAnsx(name.c_str())), bytes.data(),
                         static_cast<int32_t>(bytes.size()), CoreAnsx("0"), true, false))
            return false;
    return store.savea(CoreAnsx(path.string().c_str()));
}

} // namespace skintest
