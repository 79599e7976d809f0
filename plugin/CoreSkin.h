// CoreSkin: the look of the editor: reads a skin (a folder, or a ".q7s" item container, holding
// "ROM.XML" and its images) once, in its constructor, into the record SKIN, and keeps a file store
// of its own open on the skin until clsfs so that the editor can load the images the record names.
// Built and deleted by the master object; the record is read-only once the constructor returns, so
// the editor, the display thread and the master object read it without a lock.
#pragma once
#include "base/CoreAnsx.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class CoreFsys;
class CoreNode;
class CorePool;
class CoreXml_;

class CoreSkin {
public:
    static constexpr char sCdefaultfontname[] = "Vorlan Classic"; // the built-in font set's name
    static constexpr char sCskinromname[] = "ROM.XML";
    static constexpr int iCslots = 10;   // MIX1 .. MIX8, GAININ, GAINOUT
    static constexpr int iCpads = 2;     // PADXY1, PADXY2
    static constexpr int iCbuttons = 10; // PROGRAM1 .. PROGRAM10
    static constexpr int iCmeters = 4;   // METER1 .. METER4
    static constexpr int iClayers = 4;   // FONT1, FONTNEG, FONT2 and an unused fourth layer
    // Font sets kept from FONTS: every set kept costs the editor its font images and a view per
    // display cell, so further ELEMENTs are logged and ignored. Skins offer a handful of sets.
    static constexpr int iCfontsetsmax = 16;

    // One font set: its layers' image names (layer 3 is never read and stays empty).
    struct ELEMENTLOC {
        CoreAnsx name = sCdefaultfontname;
        CoreAnsx layer[iClayers] = {"NULL", "NULL", "NULL", ""};
    };
    // One control slot. The numbers below present are meaningful only while present is set, the
    // LED positions only with ledpair, addx and addy only when addfirst is not -1.
    struct PARAMETERLOC {
        bool present = false;
        CoreAnsx slider = "NULL";
        bool knobmode = false;
        int32_t minx = 0, miny = 0, maxx = 0, maxy = 0;
        int32_t height = 0;
        bool ledpair = false;
        CoreAnsx ledtop = "NULL";
        int32_t ledtopx = 0, ledtopy = 0;
        CoreAnsx ledbottom = "NULL";
        int32_t ledbottomx = 0, ledbottomy = 0;
        int32_t addfirst = -1, addlast = -1; // readout columns first .. last - 1 of the add area
        int32_t addx = -1, addy = -1;
    };
    struct LEDLOC {
        CoreAnsx bitmap = "NULL";
        int32_t x = 0, y = 0;
        double decibels = -1.0;
    };
    struct METERLOC {
        bool present = false;
        bool decibels = false;    // the last LED read has an LEDDB value
        int16_t ledcount = 12;    // at least 12
        std::vector<LEDLOC> leds; // LED1, LED2, ... up to the first gap
    };
    struct MAPLOC {
        int32_t x = 0, y = 0;
        double valuex = 0.0, valuey = 0.0;
    };
    // controlx .. mapcontroly: the slot index 0 .. 7 of MIX1 .. MIX8, or -1 for none (no axis or output).
    struct PADLOC {
        bool present = false;
        CoreAnsx bitmap = "NULL";
        int32_t minx = 0, miny = 0, maxx = 0, maxy = 0;
        int32_t controlx = -1, controly = -1;
        int32_t mapcontrolx = -1, mapcontroly = -1;
        std::optional<std::vector<MAPLOC>> map; // absent without a MAP element
    };
    struct BUTTONLOC {
        int32_t sequence = -1;
        CoreAnsx button = "NULL";
        int32_t buttonx = 0, buttony = 0;
        CoreAnsx led = "NULL";
        int32_t ledx = 0, ledy = 0;
    };
    // Fields in the order the readers know them; "NULL" names no image.
    struct SKIN {
        int16_t fontsets = 0; // 1 .. iCfontsetsmax once read
        std::vector<CoreAnsx> fontnames;
        std::vector<ELEMENTLOC> fonts;
        bool global = false;
        CoreAnsx background = "NULL";
        bool displayset = true;
        int32_t displayx = -1, displayy = -1;
        int32_t displayaddx = -1, displayaddy = -1;
        int32_t displaytop = -1, displaybottom = -1, displayleft = -1, displayright = -1;
        int32_t displayaddchars = -1;
        int32_t displayaddtop = -1, displayaddbottom = -1, displayaddleft = -1, displayaddright = -1;
        int32_t ledoverflowx = -1, ledoverflowy = -1;
        int32_t ledoverflowoffx = -1, ledoverflowoffy = -1;
        int32_t ledoverflowframes = -1;
        int32_t ledbypassx = -1, ledbypassy = -1;
        int32_t ledbypassoffx = -1, ledbypassoffy = -1;
        int32_t ledbypassframes = -1;
        bool sliders = false;
        PARAMETERLOC parameters[iCslots];
        bool ledoverflow = false;
        CoreAnsx ledoverflowon = "NULL", ledoverflowoff = "NULL";
        bool ledbypass = false;
        CoreAnsx ledbypasson = "NULL", ledbypassoff = "NULL";
        bool meters = false;
        bool groupmode = false;
        bool meter2absent = false;
        bool meter4absent = false;
        bool setup = false;
        METERLOC meter[iCmeters];
        PADLOC pad[iCpads];
        BUTTONLOC program[iCbuttons];
    };

    // Reads the skin at path (a folder, or a file whose extension is ".q7s" in any case). A
    // container is read through reader (the master object's store) when it lies below that store's
    // base folder. Never throws: whatever cannot be read keeps its default (and is logged).
    CoreSkin(CorePool* pool, const CoreAnsx& path, CoreFsys* reader);
    ~CoreSkin();
    CoreSkin(const CoreSkin&) = delete;
    CoreSkin& operator=(const CoreSkin&) = delete;

    const SKIN* getsk() const { return &skin; }
    CoreFsys* getfs() const { return fsys.get(); }
    void clsfs(); // deletes the skin's own store; the editor has loaded its images by then
    CoreAnsx getdr() const { return skinfolder; }

    // The image-name filter before every load: "NULL" gives "0" (a missing image), else name.
    static CoreAnsx getfn(const CoreAnsx& name);
    // The filtered image name of one font layer; "0" for a set or layer outside the record.
    CoreAnsx getfn(int16_t set, int16_t layer) const;

private:
    CoreAnsx skinfolder;
    std::unique_ptr<CoreXml_> xml;
    CorePool* pool;
    std::unique_ptr<CoreFsys> fsys;
    SKIN skin;

    void loadContainer(const CoreAnsx& path, CoreFsys* reader);
    void readFonts(const CoreNode* fonts);
    void readGlobal(const CoreNode* global);
    int32_t readSliders(const CoreNode* sliders); // the readout columns counted
    void readPad(const CoreNode* element, PADLOC& pad);
    void readSetup(const CoreNode* setup);
    void readMeters(const CoreNode* meters);
};
