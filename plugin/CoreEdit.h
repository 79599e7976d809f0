// CoreEdit: the plug-in's editor window. Builds, once per effect, a description of every element
// from the skin (or the built-in layout) and loads its bitmaps from the process's shared bitmap
// pool; each open creates the frame and the controls from it, each close deletes them. Everything it
// shows or sends goes through the effect's property interface and a listener thread. The host's GUI
// thread calls open, close, idle and the destructor; the listener thread calls evlst. All of them
// work under the editor lock, which idle and the status update only try (a busy lock skips them).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/CoreAnsx.h"
#include "base/CoreSmph.h"
#include "platform/gui/AEffGUIEditor.h"
#include "platform/gui/CControlListener.h"
#include "plugin/CorePdxy.h"
#include "plugin/CorePpwr.h"

class CAnimKnob;
class CControl;
class CKickButton;
class CMovieBitmap;
class CoreBitm;
class CoreDsif;
class CoreEdfo;
class CoreEdmn;
class CoreFrlk;
class CoreFrme;
class CoreKehk;
class CoreLswr;
class CoreMbit;
class CoreSkin;
class CoreTlst;

class CoreEdit : public AEffGUIEditor, public CControlListener {
public:
    static constexpr int iCslots = 10;
    static constexpr int iCpairs = 8;
    static constexpr int iCpads = 2;
    static constexpr int iCbuttons = 10;
    static constexpr int iCmeters = 4;
    static constexpr int32_t iCfirstslottag = 0;
    static constexpr int32_t iCmenutag = 2000; // the popup menus' first tag
    static constexpr int iCmenuitemspercolumn = 16; // until an arm record gives its own

    struct LEDPROGINFO {
        bool present = false;
        CMovieBitmap* top = nullptr;
        CMovieBitmap* bottom = nullptr;
        CPoint toppos, bottompos;
    };
    struct METER {
        bool present = false;
        bool dbmode = false;
        int16_t count = 0;
        int16_t listed = 0; // LEDs the skin lists; only these have a dB value
        std::vector<CPoint> positions;
        std::vector<CMovieBitmap*> controls;
        std::vector<char> ledpresent;
        std::vector<double> decibels;
        double last = 0.0;
        CoreMbit* group = nullptr;
        std::vector<CoreBitm*> bitmaps;
    };
    struct SLIDERINFO {
        bool present = false;
        bool knob = false;
        CoreBitm* handle = nullptr;
        CControl* control = nullptr;
        CRect rect;
        int height = 0;     // slider travel in pixels
        int resolution = 0; // steps over the range, sent as the control map record
        bool paddriven = false;
        int pad = -1; // -1 for a pad output
        int axis = 0; // 0 x, 1 y
    };
    struct MISCINFO {
        bool overflow = true;
        CPoint overflowpos, overflowoff;
        int16_t overflowframes = 3;
        bool bypass = true;
        CPoint bypasspos, bypassoff;
        int16_t bypassframes = 3;
    };
    struct PADINFO {
        bool present = false;
        CoreBitm* handle = nullptr;
        CorePdxy* pad = nullptr;
        CRect area;
        int slotx = -1, sloty = -1, out1 = -1, out2 = -1; // -1: none
        double width = 0.0, height = 0.0;
        bool mapped = false;
        std::vector<CorePdxy::MAPENTRY> map;
    };
    struct BUTTONINFO {
        bool present = false;
        int program = -1;
        CoreBitm* button = nullptr;
        CKickButton* control = nullptr;
        CPoint pos;
        CoreBitm* led = nullptr;
        CoreMbit* bank = nullptr;
        CPoint ledpos;
    };

    // Default geometry of the built-in layout.
    static const CRect cCrectprogslider;
    static const CRect cCrectgainslider;
    static const CPoint cCpointledprog;
    static const CPoint cCpointledmeter;
    static const CPoint cCpointledoverflow;
    static const CPoint cCpointledbypass;
    static const CPoint cCoffsetnull;
    static constexpr int iCprogsliderheight = 160;
    static constexpr int iCprogsliderdistance = 38;
    static constexpr int iCgainsliderheight = 98;
    static constexpr int iCgainsliderdistance = 58;
    static constexpr int iCprogleddistance = 10;
    static constexpr int iCgainleddistance = 23;
    static constexpr int iCgainledgroupdistance = 36;
    static constexpr double dCledspeed = 0.4;
    static constexpr double dCledgainfactor = 0.5;
    static constexpr double dCledgainspeed = 1.0;

    // skin null: the built-in layout; display null: no text display; effect (the editor base's
    // part) and properties (the interface everything is sent through) may be null.
    CoreEdit(CoreSkin* skin, CoreDsif* display, AudioEffect* effect, CorePpwr* properties);
    ~CoreEdit() override;

    // window: the host's window (null keeps the editor offscreen). False while closed by the
    // effect, or when the frame cannot be shown in window (the layer's reason is logged).
    bool open(void* window) override;
    void close() override;
    // Dispatches the input and redraws; skipped while the editor lock is busy.
    void idle() override;
    void valueChanged(CDrawContext* context, CControl* control) override;
    bool isopn();

    void evlst(void* source, const AudioUnitEvent* event, float value);
    static void eldsp(void* editor, void* source, const AudioUnitEvent* event, uint64_t time, float value);

    // Status updates (plugin/CoreEditStatus.cpp). updte reads the status record (100102) and moves
    // every live element one step; it only tries the editor lock and skips the update when it is
    // busy. LED values run from 0 (lit) to 1 (dark); setld and setlp move an LED one step toward lit
    // or dark, setlg sets a meter to a level in dB.
    void updte();
    static void setld(CMovieBitmap* led, bool lit, double step);
    static void setld(CoreMbit* bank, bool lit, double step);
    static void setlp(LEDPROGINFO& pair, int16_t state, double step);
    void setlg(METER& meter, double level, double factor, int16_t count);
    int16_t getfc() const { return iFontset; } // the font set last handed to the text display, -1 none
    // Runs inside updte with the editor lock held, before the record is read.
    void setUpdateHookForTest(std::function<void()> hook);

    // The description, read by tests and the status updates (under the editor lock while open).
    const SLIDERINFO& getsi(int slot) const { return oSliders[slot]; }
    const PADINFO& getpi(int pad) const { return oPads[pad]; }
    const BUTTONINFO& getbi(int button) const { return oButtons[button]; }
    const METER& getme(int meter) const { return oMeters[meter]; }
    const LEDPROGINFO& getlp(int pair) const { return oLedpairs[pair]; }
    const MISCINFO& getmi() const { return oMisc; }
    const CRect& getba() const { return cBypassarea; }
    int32_t getfb() const { return iFirstbuttontag; }
    bool hasls() const { return pListener != nullptr; }
    CoreFrme* getfm() const;
    CoreMbit* getob() const { return pOverflowbank; }
    CoreMbit* getbb() const { return pBypassbank; }
    CoreKehk* getkh() const { return pKeyhook; }
    CoreSmph* getlk() { return &cEditorlock; }
    CoreEdfo* getdf() const { return pTextdisplay; } // null without a display
    CoreEdmn* getmu() const { return pMenus; }

private:
    void buildLayout(const CoreSkin* skin);
    void loadBitmaps(const CoreSkin* skin);
    CoreBitm* load(const char* name, int32_t resource);
    CoreBitm* load(const CoreAnsx& name, int32_t resource);
    int32_t createControls(); // the next free tag
    void deleteControls();
    void sendParameter(int32_t tag, float value);

    CRect cBypassarea;
    int32_t iFirstbuttontag = 0;
    bool bOpen = false;
    std::atomic<bool> bClosedbyeffect{false}; // set by the listener thread
    bool bGroupmode = false;
    bool bMeter1absent = false;
    bool bMeter3absent = false;
    bool bDisplayshown = true;
    bool bControlleds = false;
    bool bButtons = false;
    CoreBitm* pBackground = nullptr;
    CoreBitm* pOverflow = nullptr;
    CoreBitm* pOverflowoff = nullptr;
    CoreBitm* pBypass = nullptr;
    CoreBitm* pBypassoff = nullptr;
    CoreBitm* pControlled = nullptr;
    CoreMbit* pOverflowbank = nullptr;
    CoreMbit* pBypassbank = nullptr;
    LEDPROGINFO oLedpairs[iCpairs];
    METER oMeters[iCmeters];
    SLIDERINFO oSliders[iCslots];
    MISCINFO oMisc;
    PADINFO oPads[iCpads];
    BUTTONINFO oButtons[iCbuttons];
    CoreFrlk* pFramelink;
    CoreSkin* pSkin;
    CoreSmph cEditorlock;
    CoreBitm* pShared = nullptr;
    CoreTlst* pBitmaps;
    CoreDsif* pDisplay;
    CoreEdfo* pTextdisplay = nullptr; // the character display's views
    CorePpwr* pEffect;
    CoreLswr* pListener = nullptr;
    CoreKehk* pKeyhook = nullptr;
    bool bHooked = false;
    CoreEdmn* pMenus = nullptr; // the popup menus

    // Status updates.
    void showFontSet(int16_t set);
    int16_t iFontset = -1;
    std::function<void()> oUpdatehook;

public:
    // The bitmap pool every editor of the process shares, its reference count and their lock.
    static CoreBitm* cVstaticbm;
    static int32_t iVstaticbmreference;
    static CoreSmph cVstaticbmmutex;
};
