#include "plugin/CoreSkin.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "program/DataXml_.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <unordered_map>

namespace {

const CoreAnsx kNull(CoreButl::sCnull);

std::string textOf(const CoreAnsx& text) {
    return text.c_str() ? std::string(text.c_str()) : std::string();
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Leaves hold a value and have no children; every element the reader builds has at least one.
bool isElement(const CoreNode* node) {
    return node != nullptr && !node->leaf_();
}

// The last child element of that name (any case, blanks around it ignored), or null.
const CoreNode* child(const CoreNode* node, const CoreAnsx& tag) {
    const CoreNode* found = node ? node->getcd(tag) : nullptr;
    return isElement(found) ? found : nullptr;
}

CoreAnsx text(const CoreNode* node, const CoreAnsx& tag, const CoreAnsx& def = kNull) {
    return CoreNode::gtnls(node, tag, def);
}

int32_t number(const CoreNode* node, const CoreAnsx& tag, int32_t def) {
    return CoreNode::gtnli(node, tag, def);
}

// "MIX1" .. "MIX8", compared exactly, give 0 .. 7; anything else -1.
int32_t mixSlot(const CoreNode* node, const CoreAnsx& tag) {
    const std::string value = textOf(text(node, tag, CoreAnsx("")));
    for (int j = 1; j <= 8; ++j)
        if (value == textOf(DataXml_::sCtagmixrt_) + std::to_string(j)) return j - 1;
    return -1;
}

CoreAnsx numbered(const CoreAnsx& tag, int n) {
    return CoreAnsx((textOf(tag) + std::to_string(n)).c_str());
}

} // namespace

CoreSkin::CoreSkin(CorePool* givenPool, const CoreAnsx& path, CoreFsys* reader)
    : xml(new CoreXml_()), pool(givenPool) {
    const std::string given = textOf(path);
    skinfolder = (!given.empty() && given.back() == '/') ? path : path + CoreAnsx("/");
    fsys.reset(new CoreFsys(pool, skinfolder, false));
    const size_t dot = given.rfind('.');
    if (dot != std::string::npos && upper(given.substr(dot)) == CoreButl::sCextq7s)
        loadContainer(path, reader);

    const CoreNode* root = nullptr;
    try {
        root = fsys->getff(xml.get(), CoreAnsx(sCskinromname), false);
    } catch (...) {
        root = nullptr; // the store logs what it could not read
    }
    const CoreNode* skinNode = child(root, DataXml_::sCtagskin__);
    int32_t columns = 0;
    if (!skinNode) {
        CoreLog_::logfl(skinfolder + sCskinromname + ": no skin description found, the built-in look is used",
                        1);
    } else {
        readFonts(child(skinNode, DataXml_::sCtagfonts_));
        readGlobal(child(skinNode, DataXml_::sCtagglobal));
        columns = readSliders(child(skinNode, DataXml_::sCtagslidrs));
        readSetup(child(skinNode, DataXml_::sCtagsetup_));
        readMeters(child(skinNode, DataXml_::sCtagmeters));
    }
    if (skin.fontsets == 0) {
        skin.fontsets = 1;
        skin.fonts.assign(1, ELEMENTLOC());
        skin.fontnames.assign(1, CoreAnsx(sCdefaultfontname));
    }
    if (columns >= 1) {
        // The add area is then made of the slots' readouts alone.
        skin.displayaddchars = columns;
        skin.displayaddx = skin.displayaddy = -1;
        skin.displayaddbottom = skin.displayaddleft = skin.displayaddright = -1;
    }
}

CoreSkin::~CoreSkin() = default;

void CoreSkin::loadContainer(const CoreAnsx& path, CoreFsys* reader) {
    // The master store opens a loose item as its base folder + name and also finds the items of a
    // data container; so a path below that folder is given to it relative to the folder.
    const std::string given = textOf(path);
    if (reader) {
        const std::string base = textOf(reader->getdt());
        if (given.compare(0, base.size(), base) == 0) {
            fsys->loada(CoreAnsx(given.substr(base.size()).c_str()), CoreAnsx("0"), false, reader);
            return;
        }
    }
    fsys->loada(path, CoreAnsx("0"), false, nullptr);
}

void CoreSkin::readFonts(const CoreNode* fonts) {
    if (!fonts) return;
    std::vector<const CoreNode*> elements;
    int ignored = 0;
    const CoreTlst* children = fonts->getcn();
    const CoreAnsx elementTag = DataXml_::sCtagelemnt;
    for (int i = 0; children && i < children->Count; ++i) {
        const auto* node = static_cast<const CoreNode*>(children->Items[i]);
        if (!isElement(node) || node->gettx().Trim().UpperCase() != elementTag) continue;
        if (elements.size() < static_cast<size_t>(iCfontsetsmax))
            elements.push_back(node);
        else
            ++ignored;
    }
    if (ignored > 0)
        CoreLog_::logfl(skinfolder + sCskinromname + ": " + CoreAnsx(ignored) +
                            " font sets after the first " + CoreAnsx(iCfontsetsmax) + " are ignored",
                        1);
    skin.fontsets = static_cast<int16_t>(elements.size());
    skin.fonts.assign(elements.size(), ELEMENTLOC());
    skin.fontnames.assign(elements.size(), CoreAnsx(sCdefaultfontname));
    for (size_t k = 0; k < elements.size(); ++k) {
        skin.fontnames[k] = text(elements[k], DataXml_::sCtagfontnm);
        skin.fonts[k].layer[0] = text(elements[k], DataXml_::sCtagfont1_);
        skin.fonts[k].layer[1] = text(elements[k], DataXml_::sCtagfontng);
        skin.fonts[k].layer[2] = text(elements[k], DataXml_::sCtagfont2_);
    }
}

void CoreSkin::readGlobal(const CoreNode* global) {
    if (!global) return;
    skin.global = true;
    skin.background = text(global, DataXml_::sCtagbackgr);
    const std::pair<const CoreAnsx*, int32_t*> display[] = {
        {&DataXml_::sCtagdisplx, &skin.displayx},         {&DataXml_::sCtagdisply, &skin.displayy},
        {&DataXml_::sCtagdiaddx, &skin.displayaddx},      {&DataXml_::sCtagdiaddy, &skin.displayaddy},
        {&DataXml_::sCtagdisptp, &skin.displaytop},       {&DataXml_::sCtagdispbt, &skin.displaybottom},
        {&DataXml_::sCtagdisplf, &skin.displayleft},      {&DataXml_::sCtagdisprg, &skin.displayright},
        {&DataXml_::sCtagdaddch, &skin.displayaddchars},  {&DataXml_::sCtagdaddtp, &skin.displayaddtop},
        {&DataXml_::sCtagdaddbt, &skin.displayaddbottom}, {&DataXml_::sCtagdaddlf, &skin.displayaddleft},
        {&DataXml_::sCtagdaddrg, &skin.displayaddright},
    };
    for (const auto& [tag, field] : display) *field = number(global, *tag, -1);
    skin.displayset = skin.displayx != -1;

    struct Led {
        const CoreAnsx& tag;
        bool& given;
        CoreAnsx &on, &off;
        int32_t &x, &y, &offx, &offy, &frames;
    };
    const Led leds[] = {
        {DataXml_::sCtagledovf, skin.ledoverflow, skin.ledoverflowon, skin.ledoverflowoff, skin.ledoverflowx,
         skin.ledoverflowy, skin.ledoverflowoffx, skin.ledoverflowoffy, skin.ledoverflowframes},
        {DataXml_::sCtagledbyp, skin.ledbypass, skin.ledbypasson, skin.ledbypassoff, skin.ledbypassx,
         skin.ledbypassy, skin.ledbypassoffx, skin.ledbypassoffy, skin.ledbypassframes},
    };
    for (const Led& led : leds) {
        const CoreNode* node = child(global, led.tag);
        if (!node) continue;
        led.on = text(node, DataXml_::sCtagledbmp);
        if (led.on == kNull) continue;
        led.given = true;
        led.x = number(node, DataXml_::sCtagledbmx, 0);
        led.y = number(node, DataXml_::sCtagledbmy, 0);
        led.frames = number(node, DataXml_::sCtagledfrm, -1);
        led.off = text(node, DataXml_::sCtagleobmp);
        led.offx = number(node, DataXml_::sCtagleobmx, 0);
        led.offy = number(node, DataXml_::sCtagleobmy, 0);
    }
}

int32_t CoreSkin::readSliders(const CoreNode* sliders) {
    if (!sliders) return 0;
    skin.sliders = true;
    int64_t columns = 0;
    for (int i = 0; i < iCslots; ++i) {
        const CoreAnsx tag = i < 8    ? numbered(DataXml_::sCtagmixrt_, i + 1)
                             : i == 8 ? DataXml_::sCtagslgaii
                                      : DataXml_::sCtagslgaio;
        PARAMETERLOC& slot = skin.parameters[i];
        slot.addfirst = slot.addlast = -1;
        const CoreNode* node = child(sliders, tag);
        if (!node) continue;
        slot.present = true;
        slot.slider = text(node, DataXml_::sCtagslider);
        slot.minx = number(node, DataXml_::sCtagslminx, 0);
        slot.miny = number(node, DataXml_::sCtagslminy, 0);
        slot.maxx = number(node, DataXml_::sCtagslmaxx, 0);
        slot.maxy = number(node, DataXml_::sCtagslmaxy, 0);
        slot.height = number(node, DataXml_::sCtagslheig, 0);
        slot.knobmode = CoreNode::gtnlb(node, DataXml_::sCtagknobm_, false);
        const int32_t readout = number(node, DataXml_::sCtagdaddch, 0);
        // Columns are counted in 32 bits; a readout that would pass that range is left out.
        if (readout >= 1 && columns + readout <= INT32_MAX) {
            slot.addfirst = static_cast<int32_t>(columns);
            columns += readout;
            slot.addlast = static_cast<int32_t>(columns);
            slot.addx = number(node, DataXml_::sCtagdiaddx, -1);
            slot.addy = number(node, DataXml_::sCtagdiaddy, -1);
        }
        slot.ledtop = text(node, DataXml_::sCtagledtop);
        if (slot.ledtop == kNull) continue;
        slot.ledpair = true;
        slot.ledtopx = number(node, DataXml_::sCtagledtpx, 0);
        slot.ledtopy = number(node, DataXml_::sCtagledtpy, 0);
        slot.ledbottom = text(node, DataXml_::sCtagledbot);
        slot.ledbottomx = number(node, DataXml_::sCtagledbtx, 0);
        slot.ledbottomy = number(node, DataXml_::sCtagledbty, 0);
    }
    for (int p = 0; p < iCpads; ++p) {
        const CoreNode* node = child(sliders, numbered(DataXml_::sCtagpadro_, p + 1));
        if (node) readPad(node, skin.pad[p]);
    }
    return static_cast<int32_t>(columns);
}

void CoreSkin::readPad(const CoreNode* node, PADLOC& pad) {
    pad.present = true;
    pad.bitmap = text(node, DataXml_::sCtagslider);
    pad.minx = number(node, DataXml_::sCtagslminx, 0);
    pad.miny = number(node, DataXml_::sCtagslminy, 0);
    pad.maxx = number(node, DataXml_::sCtagslmaxx, 0);
    pad.maxy = number(node, DataXml_::sCtagslmaxy, 0);
    pad.controlx = mixSlot(node, DataXml_::sCtagpadcx_);
    pad.controly = mixSlot(node, DataXml_::sCtagpadcy_);
    const CoreNode* map = child(node, DataXml_::sCtagpadmap);
    if (!map) return;
    pad.mapcontrolx = mixSlot(map, DataXml_::sCtagpadcx_);
    pad.mapcontroly = mixSlot(map, DataXml_::sCtagpadcy_);
    pad.map.emplace();
    const CoreTlst* children = map->getcn();
    for (int i = 0; children && i < children->Count; ++i) {
        const auto* point = static_cast<const CoreNode*>(children->Items[i]);
        // The map points' name is compared exactly.
        if (!isElement(point) || textOf(point->gettx().Trim()) != textOf(DataXml_::sCtagpadmap)) continue;
        MAPLOC entry;
        entry.x = number(point, DataXml_::sCtagslminx, 0);
        entry.y = number(point, DataXml_::sCtagslminy, 0);
        entry.valuex = CoreNode::gtnld(point, DataXml_::sCtagpadcx_, 0.0);
        entry.valuey = CoreNode::gtnld(point, DataXml_::sCtagpadcy_, 0.0);
        pad.map->push_back(entry);
    }
}

void CoreSkin::readSetup(const CoreNode* setup) {
    if (!setup) return;
    skin.setup = true;
    for (int b = 0; b < iCbuttons; ++b) {
        const CoreNode* node = child(setup, numbered(DataXml_::sCtagprogrm, b + 1));
        if (!node) continue;
        BUTTONLOC& button = skin.program[b];
        button.button = text(node, DataXml_::sCtagbutton);
        button.buttonx = number(node, DataXml_::sCtagbttonx, 0);
        button.buttony = number(node, DataXml_::sCtagbttony, 0);
        button.sequence = number(node, DataXml_::sCtagsequen, -1);
        button.led = text(node, DataXml_::sCtagledbmp);
        button.ledx = number(node, DataXml_::sCtagledbmx, 0);
        button.ledy = number(node, DataXml_::sCtagledbmy, 0);
    }
}

void CoreSkin::readMeters(const CoreNode* meters) {
    if (!meters) return;
    skin.meters = true;
    skin.groupmode = CoreNode::gtnlb(meters, DataXml_::sCtagmetrgm, false);
    for (int m = 0; m < iCmeters; ++m) {
        const CoreNode* node = child(meters, numbered(DataXml_::sCtagmetrt_, m + 1));
        if (!node) {
            if (m == 1) skin.meter2absent = true;
            if (m == 3) skin.meter4absent = true;
            continue;
        }
        METERLOC& meter = skin.meter[m];
        meter.present = true;
        // The LED elements by name, last one of a name winning, so that a meter of many LEDs is read
        // in one pass over its children.
        std::unordered_map<std::string, const CoreNode*> byName;
        const CoreTlst* children = node->getcn();
        for (int i = 0; children && i < children->Count; ++i) {
            const auto* led = static_cast<const CoreNode*>(children->Items[i]);
            if (isElement(led)) byName[upper(textOf(led->gettx().Trim()))] = led;
        }
        for (int k = 1; k <= INT16_MAX; ++k) {
            const auto found = byName.find(textOf(DataXml_::sCtagledrt_) + std::to_string(k));
            if (found == byName.end()) break;
            const CoreNode* led = found->second;
            LEDLOC entry;
            entry.bitmap = text(led, DataXml_::sCtagledbmp);
            entry.x = number(led, DataXml_::sCtagledbmx, 0);
            entry.y = number(led, DataXml_::sCtagledbmy, 0);
            entry.decibels = CoreNode::gtnld(led, DataXml_::sCtagledbdb, -1.0);
            meter.decibels = led->exslc(DataXml_::sCtagledbdb);
            meter.leds.push_back(entry);
            meter.ledcount = static_cast<int16_t>(std::max(static_cast<int>(meter.ledcount), k));
        }
    }
}

void CoreSkin::clsfs() {
    fsys.reset();
}

CoreAnsx CoreSkin::getfn(const CoreAnsx& name) {
    return name == kNull ? CoreAnsx("0") : name;
}

CoreAnsx CoreSkin::getfn(int16_t set, int16_t layer) const {
    if (set < 0 || set >= skin.fontsets || static_cast<size_t>(set) >= skin.fonts.size() || layer < 0 ||
        layer >= iClayers)
        return CoreAnsx("0");
    return getfn(skin.fonts[static_cast<size_t>(set)].layer[layer]);
}
