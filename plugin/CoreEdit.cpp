#include "plugin/CoreEdit.h"

#include <algorithm>
#include <cmath>

#include "base/CoreLog_.h"
#include "base/CoreTlst.h"
#include "display/CoreDspc.h"
#include "platform/gui/CAnimKnob.h"
#include "platform/gui/CKickButton.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/CVerticalSlider.h"
#include "plugin/CoreBitm.h"
#include "plugin/CoreEdfo.h"
#include "plugin/CoreEdmn.h"
#include "plugin/CoreFrlk.h"
#include "plugin/CoreFrme.h"
#include "plugin/CoreKehk.h"
#include "plugin/CoreLswr.h"
#include "plugin/CoreMbit.h"
#include "plugin/CoreSkin.h"

const CRect CoreEdit::cCrectprogslider(600, 80, 617, 276);
const CRect CoreEdit::cCrectgainslider(55, 142, 109, 276);
const CPoint CoreEdit::cCpointledprog(602, 8);
const CPoint CoreEdit::cCpointledmeter(47, 13);
const CPoint CoreEdit::cCpointledoverflow(189, 254);
const CPoint CoreEdit::cCpointledbypass(230, 254);
const CPoint CoreEdit::cCoffsetnull(0, 0);
CoreBitm* CoreEdit::cVstaticbm = nullptr;
int32_t CoreEdit::iVstaticbmreference = 0;
CoreSmph CoreEdit::cVstaticbmmutex;

namespace {

// A lock held for a scope, so a throw never leaves it taken.
class Hold {
public:
    explicit Hold(CoreSmph& lock) : rLock(lock) { rLock.locks(); }
    ~Hold() { rLock.relse(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    CoreSmph& rLock;
};

// The pool's lock (begin .. end__) for a scope.
class PoolHold {
public:
    explicit PoolHold(CoreBitm* pool) : pPool(pool) { pPool->begin(); }
    ~PoolHold() { pPool->end__(); }
    PoolHold(const PoolHold&) = delete;
    PoolHold& operator=(const PoolHold&) = delete;

private:
    CoreBitm* pPool;
};

constexpr int kMeterLeds = 12;
constexpr int kMeterOffsets[CoreEdit::iCmeters] = {0, 23, 59, 82}; // 36 between meters 1 and 2
constexpr int kEditorProperties[] = {CorePpwr::iCstatus, CorePpwr::iCtextfocus, CorePpwr::iCmenuarm,
                                     CorePpwr::iCviewclose};

// A pad slot the skin names (0..7), else -1.
int padSlot(int32_t slot) { return slot >= 0 && slot < 8 ? slot : -1; }

// The rectangle spanned by two corners in any order.
CRect ordered(int x0, int y0, int x1, int y1) {
    return CRect(std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1));
}

} // namespace

CoreEdit::CoreEdit(CoreSkin* skin, CoreDsif* display, AudioEffect* effect, CorePpwr* properties)
    : AEffGUIEditor(effect), pFramelink(new CoreFrlk), pSkin(skin), pBitmaps(new CoreTlst), pDisplay(display),
      pEffect(properties) {
    CoreLog_::debug("CoreEdit constructor starts", 0, 7);
    {
        Hold hold(cVstaticbmmutex);
        if (iVstaticbmreference == 0) cVstaticbm = new CoreBitm();
        ++iVstaticbmreference;
        pShared = cVstaticbm;
    }
    {
        PoolHold pool(pShared);
        buildLayout(skin);
        if (display)
            pTextdisplay = new CoreEdfo(display, pShared, pBitmaps, skin ? skin->getfs() : nullptr, skin, iCslots,
                                        properties);
        pMenus = new CoreEdmn(pEffect);
        loadBitmaps(skin);
    }
    CoreLog_::debug("CoreEdit constructor ends", 0, 7);
}

void CoreEdit::buildLayout(const CoreSkin* skin) {
    const CoreSkin::SKIN* s = skin ? skin->getsk() : nullptr;
    for (int i = 0; i < iCslots; ++i) {
        SLIDERINFO& slot = oSliders[i];
        if (i < iCpairs) {
            slot.rect = cCrectprogslider;
            slot.rect.offset(iCprogsliderdistance * i, 0);
            slot.height = iCprogsliderheight;
            LEDPROGINFO& pair = oLedpairs[i];
            pair.present = true;
            pair.toppos = CPoint(cCpointledprog.x + iCprogsliderdistance * i, cCpointledprog.y);
            pair.bottompos = CPoint(pair.toppos.x, cCpointledprog.y + iCprogleddistance);
        } else {
            slot.rect = cCrectgainslider;
            slot.rect.offset(iCgainsliderdistance * (i - iCpairs), 0);
            slot.height = iCgainsliderheight;
        }
    }
    oMisc.overflowpos = oMisc.overflowoff = cCpointledoverflow;
    oMisc.bypasspos = oMisc.bypassoff = cCpointledbypass;

    if (!s || !s->sliders) {
        for (SLIDERINFO& slot : oSliders) slot.present = true;
    } else {
        for (int i = 0; i < iCslots; ++i) {
            const CoreSkin::PARAMETERLOC& p = s->parameters[i];
            SLIDERINFO& slot = oSliders[i];
            slot.present = p.present;
            if (p.present) {
                slot.rect = CRect(p.minx, p.miny, p.maxx, p.maxy);
                slot.height = p.height;
                slot.knob = p.knobmode;
            }
            if (i < iCpairs) {
                LEDPROGINFO& pair = oLedpairs[i];
                pair.present = p.ledpair;
                pair.toppos = CPoint(p.ledtopx, p.ledtopy);
                pair.bottompos = CPoint(p.ledbottomx, p.ledbottomy);
                if (pair.present) bControlleds = true;
            }
        }
    }

    for (int k = 0; s && k < iCpads; ++k) {
        const CoreSkin::PADLOC& p = s->pad[k];
        PADINFO& pad = oPads[k];
        pad.area = CRect(p.minx, p.miny, p.maxx, p.maxy);
        pad.width = double(p.maxx) - double(p.minx);
        pad.height = double(p.maxy) - double(p.miny);
        // A pad without extent would divide by zero: it is left out.
        pad.present = p.present && pad.width > 0.0 && pad.height > 0.0;
        if (!pad.present) continue;
        pad.slotx = padSlot(p.controlx);
        pad.sloty = padSlot(p.controly);
        if (p.map) {
            pad.mapped = true;
            pad.out1 = padSlot(p.mapcontrolx);
            pad.out2 = padSlot(p.mapcontroly);
            pad.map = {{0, 0, 0, 0, 0}, {0, 1, 0, 1, 0}, {1, 0, 1, 0, 0}, {1, 1, 1, 1, 0}};
            for (const CoreSkin::MAPLOC& point : *p.map)
                pad.map.push_back({(double(point.x) - double(p.minx)) / pad.width,
                                   (double(point.y) - double(p.miny)) / pad.height, point.valuex, point.valuey, 0.0});
        }
    }

    for (int i = 0; s && i < iCbuttons; ++i) {
        const CoreSkin::BUTTONLOC& b = s->program[i];
        BUTTONINFO& button = oButtons[i];
        button.present = b.sequence > 0;
        if (!button.present) continue;
        button.program = b.sequence;
        button.pos = CPoint(b.buttonx, b.buttony);
        button.ledpos = CPoint(b.ledx, b.ledy);
        bButtons = true;
    }

    if (s && s->global) {
        oMisc.overflow = s->ledoverflow;
        oMisc.overflowpos = CPoint(s->ledoverflowx, s->ledoverflowy);
        oMisc.overflowoff = CPoint(s->ledoverflowoffx, s->ledoverflowoffy);
        if (s->ledoverflowframes > 0) oMisc.overflowframes = int16_t(std::min(s->ledoverflowframes, 32767));
        oMisc.bypass = s->ledbypass;
        oMisc.bypasspos = CPoint(s->ledbypassx, s->ledbypassy);
        oMisc.bypassoff = CPoint(s->ledbypassoffx, s->ledbypassoffy);
        if (s->ledbypassframes > 0) oMisc.bypassframes = int16_t(std::min(s->ledbypassframes, 32767));
    }
    // Without GLOBAL the click area starts at the default bypass LED position.
    cBypassarea = CRect(oMisc.bypasspos.x, oMisc.bypasspos.y, oMisc.bypasspos.x, oMisc.bypasspos.y);

    if (!s || !s->meters) {
        for (int m = 0; m < iCmeters; ++m) {
            METER& meter = oMeters[m];
            meter.present = true;
            meter.count = kMeterLeds;
            meter.listed = kMeterLeds;
            for (int n = 0; n < kMeterLeds; ++n) {
                meter.positions.emplace_back(cCpointledmeter.x + kMeterOffsets[m],
                                             cCpointledmeter.y + iCprogleddistance * n);
                meter.ledpresent.push_back(1);
                meter.decibels.push_back(0.0);
            }
        }
        bControlleds = true;
    } else {
        bGroupmode = s->groupmode;
        for (int m = 0; m < iCmeters; ++m) {
            const CoreSkin::METERLOC& skinMeter = s->meter[m];
            METER& meter = oMeters[m];
            meter.present = skinMeter.present;
            if (!meter.present) continue;
            meter.dbmode = skinMeter.decibels;
            meter.count = std::max<int16_t>(skinMeter.ledcount, 0);
            meter.listed = int16_t(std::min<size_t>(skinMeter.leds.size(), size_t(meter.count)));
            for (int n = 0; n < meter.count; ++n) {
                const bool listed = size_t(n) < skinMeter.leds.size();
                const CoreSkin::LEDLOC* led = listed ? &skinMeter.leds[size_t(n)] : nullptr;
                meter.positions.push_back(led ? CPoint(led->x, led->y) : CPoint());
                meter.ledpresent.push_back(led && led->bitmap != CoreAnsx("NULL") ? 1 : 0);
                meter.decibels.push_back(led ? led->decibels : 0.0);
            }
        }
    }
    bMeter1absent = !oMeters[1].present;
    bMeter3absent = !oMeters[3].present;
    if (s) bDisplayshown = s->displayset;
}

CoreBitm* CoreEdit::load(const CoreAnsx& name, int32_t resource) {
    CoreBitm* bitmap = nullptr;
    pShared->stabm(pBitmaps, pSkin ? pSkin->getfs() : nullptr, CoreSkin::getfn(name), &bitmap, resource, false);
    return bitmap;
}

CoreBitm* CoreEdit::load(const char* name, int32_t resource) { return load(CoreAnsx(name), resource); }

void CoreEdit::loadBitmaps(const CoreSkin* skin) {
    const CoreSkin::SKIN* s = skin ? skin->getsk() : nullptr;
    const CoreAnsx none("NULL");
    pBackground = load(s ? s->background : none, CoreLog_::iCproductn ? 100 : 99);
    if (pBackground) pBackground->setna(true);
    pOverflow = load(s ? s->ledoverflowon : none, 101);
    if (s && s->ledoverflowoff != none) {
        pOverflowoff = load(s->ledoverflowoff, 400);
        oMisc.overflowframes = -1;
    }
    pBypass = load(s ? s->ledbypasson : none, 102);
    if (s && s->ledbypassoff != none) {
        pBypassoff = load(s->ledbypassoff, 401);
        oMisc.bypassframes = -1;
    }
    for (int i = 0; i < iCslots; ++i)
        if (oSliders[i].present) oSliders[i].handle = load(s && s->sliders ? s->parameters[i].slider : none, 103);
    int padCount = 0;
    for (int k = 0; k < iCpads; ++k) {
        if (!oPads[k].present) continue;
        // The k-th present pad's fallback; 200 + k would be font strips.
        oPads[k].handle = load(s->pad[k].bitmap, 210 + padCount);
        ++padCount;
    }
    int buttonCount = 0;
    for (int i = 0; i < iCbuttons; ++i) {
        if (!oButtons[i].present) continue;
        oButtons[i].button = load(s->program[i].button, 300 + 2 * buttonCount);
        oButtons[i].led = load(s->program[i].led, 301 + 2 * buttonCount);
        ++buttonCount;
    }
    if (bControlleds) pControlled = load(s && s->sliders ? s->parameters[0].ledtop : none, 800);
    for (int m = 0; m < iCmeters; ++m) {
        METER& meter = oMeters[m];
        meter.bitmaps.assign(size_t(meter.count), nullptr);
        if (!meter.present) continue;
        for (int n = 0; n < meter.count; ++n) {
            if (!meter.ledpresent[size_t(n)]) continue;
            const bool named = s && s->meters && size_t(n) < s->meter[m].leds.size();
            meter.bitmaps[size_t(n)] = load(named ? s->meter[m].leds[size_t(n)].bitmap : none, 900 + n);
        }
    }
    if (pBypass) {
        cBypassarea.right = cBypassarea.left + pBypass->getWidth();
        cBypassarea.bottom = cBypassarea.top + pBypass->getHeight();
    }
    for (SLIDERINFO& slot : oSliders) {
        if (!slot.present) continue;
        slot.resolution = slot.knob ? (slot.handle ? slot.handle->getHeight() : 0) - slot.height : slot.height;
    }
    rect.top = 0, rect.left = 0;
    rect.bottom = int16_t(pBackground ? pBackground->getHeight() : 0);
    rect.right = int16_t(pBackground ? pBackground->getWidth() : 0);
}

CoreEdit::~CoreEdit() {
    CoreLog_::debug("CoreEdit destructor starts", 0, 7);
    // A listener left by a view-close goes first: a notice meanwhile would reach freed objects.
    if (pListener && bClosedbyeffect) {
        CoreLswr::lsdsp(pListener);
        pListener = nullptr;
    }
    close();
    {
        PoolHold pool(pShared);
        delete pMenus;
        pMenus = nullptr;
        delete pFramelink;
        pFramelink = nullptr;
        delete pTextdisplay;
        pTextdisplay = nullptr;
        CoreLog_::debug("CoreEdit destructor display", 0, 7);
        CoreLog_::debug("CoreEdit destructor bitmap pool scan", 0, 7);
        pShared->purgb(pBitmaps);
        delete pBitmaps;
        pBitmaps = nullptr;
    }
    {
        Hold hold(cVstaticbmmutex);
        if (--iVstaticbmreference == 0) {
            delete cVstaticbm;
            cVstaticbm = nullptr;
        }
    }
    if (pListener) {
        CoreLswr::lsdsp(pListener);
        pListener = nullptr;
    }
    CoreLog_::debug("CoreEdit destructor ends", 0, 7);
}

CoreFrme* CoreEdit::getfm() const { return static_cast<CoreFrme*>(frame); }

bool CoreEdit::isopn() {
    Hold hold(cEditorlock);
    return bOpen;
}

bool CoreEdit::open(void* window) {
    CoreLog_::debug("CoreEdit open starts", 0, 7);
    if (bClosedbyeffect) return false;
    {
        Hold hold(cEditorlock);
        if (bClosedbyeffect) return false;
        if (bOpen) return true;
        PoolHold pool(pShared);
        CoreFrme* made = new CoreFrme(CRect(0, 0, rect.right, rect.bottom), window, this, pEffect);
        if (window && !made->isEmbedded()) {
            CoreLog_::loger(CoreAnsx("CoreEdit open: ") + CoreAnsx(made->getEmbedError().c_str()), 1);
            delete made;
            return false;
        }
        AEffGUIEditor::open(window);
        frame = made;
        pFramelink->setlk(made);
        pKeyhook = new CoreKehk(pFramelink, pEffect);
        bHooked = false;
        made->setm2(cBypassarea.left, cBypassarea.top, cBypassarea.right, cBypassarea.bottom);
        made->setBackground(pBackground);
        int32_t tag = createControls();
        if (pTextdisplay) pTextdisplay->open(this, tag, made);
        pMenus->open(made, this, iCmenutag, iCmenuitemspercolumn);
        if (pEffect) {
            if (!pListener && CoreLswr::lscrt(&CoreEdit::eldsp, this, nullptr, nullptr, 0.02, 0.0, &pListener) == 0) {
                for (int id : kEditorProperties) {
                    const AudioUnitEvent event{3, pEffect, uint32_t(id), 0, 0};
                    CoreLswr::auaet(pListener, this, &event);
                }
            }
            const uint8_t client = 1;
            pEffect->wsprp(CorePpwr::iCclient, 0, 0, &client, sizeof client);
            for (int i = 0; i < iCslots; ++i) {
                if (!oSliders[i].present) continue;
                const CorePpwr::CONTROLMAPRECORD record{int16_t(i), oSliders[i].resolution};
                pEffect->wsprp(CorePpwr::iCcontrolmap, 0, 0, &record, sizeof record);
            }
        }
        bOpen = true;
    }
    CoreLog_::debug("CoreEdit open ends", 0, 7);
    return true;
}

int32_t CoreEdit::createControls() {
    CoreFrme* f = getfm();
    for (int i = 0; i < iCslots; ++i) {
        SLIDERINFO& slot = oSliders[i];
        if (!slot.present) continue;
        CPoint offset(slot.rect.left, slot.rect.top);
        if (slot.knob)
            slot.control = new CAnimKnob(slot.rect, this, i, slot.handle, offset);
        else
            slot.control = new CVerticalSlider(slot.rect, this, i, slot.rect.top, slot.rect.top + slot.height,
                                               slot.handle, pBackground, offset, CVerticalSlider::kBottom);
        f->addView(slot.control);
    }
    int32_t tag = iCslots;
    for (BUTTONINFO& button : oButtons) {
        if (!button.present) continue;
        button.bank = new CoreMbit(1, f);
        button.bank->addes(3, tag++, button.ledpos.x, button.ledpos.y, this, button.led);
        button.bank->setvl(0.0);
    }
    iFirstbuttontag = tag;
    for (int i = 0; i < iCbuttons; ++i) {
        BUTTONINFO& button = oButtons[i];
        if (!button.present || !button.button) continue;
        const int32_t half = button.button->getHeight() / 2;
        CPoint origin;
        button.control = new CKickButton(ordered(button.pos.x, button.pos.y, button.pos.x + button.button->getWidth(),
                                                 button.pos.y + half),
                                         this, iFirstbuttontag + i, half, button.button, origin);
        f->addView(button.control);
    }
    tag = iFirstbuttontag + iCbuttons;
    for (int k = 0; k < iCpads; ++k) {
        PADINFO& pad = oPads[k];
        if (!pad.present) continue;
        const int32_t halfW = pad.handle ? pad.handle->getWidth() / 2 : 0;
        const int32_t halfH = pad.handle ? pad.handle->getHeight() / 2 : 0;
        const CRect view(pad.area.left - halfW, pad.area.top - halfH, pad.area.right + halfW, pad.area.bottom + halfH);
        pad.pad = new CorePdxy(view, pad.area, this, pad.slotx, pad.sloty, pad.out1, pad.out2, pad.handle, pBackground,
                               CPoint(view.left, view.top), pad.mapped ? &pad.map : nullptr);
        f->addView(pad.pad);
        auto mark = [this](int slot, int padIndex, int axis) {
            if (slot < 0) return;
            oSliders[slot].paddriven = true;
            oSliders[slot].pad = padIndex;
            oSliders[slot].axis = axis;
        };
        mark(pad.slotx, k, 0);
        mark(pad.sloty, k, 1);
        if (pad.mapped) {
            mark(pad.out1, -1, 0);
            mark(pad.out2, -1, 1);
        }
    }
    auto bank = [&](bool present, int16_t frames, CoreBitm* on, CoreBitm* off, CPoint pos, CPoint offPos) {
        if (!present) return new CoreMbit(0, f);
        CoreMbit* made;
        if (frames < 1) {
            made = new CoreMbit(2, f);
            made->addel(0, tag++, pos.x, pos.y, this, on);
            made->addel(1, tag++, offPos.x, offPos.y, this, off);
        } else {
            made = new CoreMbit(1, f);
            made->addes(frames, tag++, pos.x, pos.y, this, on);
        }
        made->setvl(1.0);
        return made;
    };
    pOverflowbank = bank(oMisc.overflow, oMisc.overflowframes, pOverflow, pOverflowoff, oMisc.overflowpos,
                         oMisc.overflowoff);
    pBypassbank = bank(oMisc.bypass, oMisc.bypassframes, pBypass, pBypassoff, oMisc.bypasspos, oMisc.bypassoff);
    if (bControlleds && pControlled) {
        const int32_t ledHeight = pControlled->getHeight() / 3;
        for (LEDPROGINFO& pair : oLedpairs) {
            CPoint origin;
            pair.top = new CMovieBitmap(CRect(pair.toppos.x, pair.toppos.y, pair.toppos.x + pControlled->getWidth(),
                                              pair.toppos.y + ledHeight),
                                        this, tag++, 3, ledHeight, pControlled, origin);
            pair.bottom = new CMovieBitmap(CRect(pair.bottompos.x, pair.bottompos.y,
                                                 pair.bottompos.x + pControlled->getWidth(), pair.bottompos.y + ledHeight),
                                           this, tag++, 3, ledHeight, pControlled, origin);
            pair.top->setValue(1.0f);
            pair.bottom->setValue(1.0f);
            if (pair.present) {
                f->addView(pair.top);
                f->addView(pair.bottom);
            }
        }
    }
    for (METER& meter : oMeters) {
        if (!meter.present) continue;
        meter.controls.assign(size_t(meter.count), nullptr);
        if (!bGroupmode) {
            for (int n = 0; n < meter.count; ++n) {
                CoreBitm* led = meter.bitmaps[size_t(n)];
                if (!meter.ledpresent[size_t(n)] || !led) continue;
                const int32_t ledHeight = led->getHeight() / 3;
                const CPoint& p = meter.positions[size_t(n)];
                CPoint origin;
                CMovieBitmap* control = new CMovieBitmap(CRect(p.x, p.y, p.x + led->getWidth(), p.y + ledHeight), this,
                                                         tag++, 3, ledHeight, led, origin);
                control->setValue(0.0f);
                f->addView(control);
                meter.controls[size_t(n)] = control;
            }
            meter.last = 0.0;
        } else {
            meter.group = new CoreMbit(meter.count, f);
            CPoint position = meter.count > 0 ? meter.positions[0] : CPoint();
            CoreBitm* bitmap = meter.count > 0 ? meter.bitmaps[0] : nullptr;
            for (int n = 0; n < meter.count; ++n) {
                if (meter.ledpresent[size_t(n)] && meter.bitmaps[size_t(n)]) {
                    position = meter.positions[size_t(n)];
                    bitmap = meter.bitmaps[size_t(n)];
                }
                meter.group->addel(meter.count - 1 - n, tag++, position.x, position.y, this, bitmap);
            }
            meter.group->setvl(0.0);
        }
    }
    return tag;
}

void CoreEdit::deleteControls() {
    CoreFrme* f = getfm();
    CoreLog_::debug("CoreEdit close meters", 0, 7);
    for (METER& meter : oMeters) {
        for (CMovieBitmap*& control : meter.controls) {
            if (control) f->removeView(control, false);
            delete control;
            control = nullptr;
        }
        delete meter.group;
        meter.group = nullptr;
    }
    CoreLog_::debug("CoreEdit close program leds", 0, 7);
    for (LEDPROGINFO& pair : oLedpairs) {
        for (CMovieBitmap** led : {&pair.top, &pair.bottom}) {
            if (*led) f->removeView(*led, false);
            delete *led;
            *led = nullptr;
        }
    }
    delete pBypassbank;
    delete pOverflowbank;
    pBypassbank = pOverflowbank = nullptr;
    CoreLog_::debug("CoreEdit close sliders", 0, 7);
    for (SLIDERINFO& slot : oSliders) {
        if (slot.control) f->removeView(slot.control, false);
        delete slot.control;
        slot.control = nullptr;
    }
    for (PADINFO& pad : oPads) {
        if (pad.pad) f->removeView(pad.pad, false);
        delete pad.pad;
        pad.pad = nullptr;
    }
    for (BUTTONINFO& button : oButtons) {
        if (button.control) f->removeView(button.control, false);
        delete button.control;
        button.control = nullptr;
        delete button.bank;
        button.bank = nullptr;
    }
}

void CoreEdit::close() {
    CoreLog_::debug("CoreEdit close starts", 0, 7);
    // Before the lock: while close waits for it, a click dispatched meanwhile finds no menu to pop up.
    pMenus->deact();
    {
        Hold hold(cEditorlock);
        if (bOpen) {
            PoolHold pool(pShared);
            bOpen = false;
            CoreLog_::debug("CoreEdit close display", 0, 7);
            if (pTextdisplay) pTextdisplay->close();
            pMenus->close();
            deleteControls();
            delete pKeyhook; // removes the hook
            pKeyhook = nullptr;
            bHooked = false;
            CoreLog_::debug("CoreEdit frame link", 0, 7);
            pFramelink->dellk();
            CoreLog_::debug("CoreEdit close frame", 0, 7);
            delete frame;
            frame = nullptr;
            if (pEffect) {
                const uint8_t client = 0;
                pEffect->wsprp(CorePpwr::iCclient, 0, 0, &client, sizeof client);
            }
            AEffGUIEditor::close();
        }
    }
    // After the lock: a notice waiting for it would keep the listener from ending. The flag comes
    // first: on the listener thread (a view close) the listener is not this call's to touch.
    if (!bClosedbyeffect && pListener) {
        CoreLswr::lsdsp(pListener);
        pListener = nullptr;
    }
    CoreLog_::debug("CoreEdit close ends", 0, 7);
}

void CoreEdit::idle() {
    // Tried only: the host may idle from inside a callback that holds the editor lock.
    if (!cEditorlock.locka()) return;
    try {
        if (bOpen) {
            PoolHold pool(pShared);
            AEffGUIEditor::idle();
        }
    } catch (...) {
        cEditorlock.relse();
        throw;
    }
    cEditorlock.relse();
}

// Runs inside the frame's dispatch, which holds the editor lock.
void CoreEdit::valueChanged(CDrawContext* context, CControl* control) {
    (void)context;
    if (!bOpen || !control) return;
    const int32_t tag = control->getTag();
    if (bButtons && tag >= iFirstbuttontag && tag < iFirstbuttontag + iCbuttons) {
        const BUTTONINFO& button = oButtons[tag - iFirstbuttontag];
        // The kick button tells 1, then 0, per click: one message per click.
        if (button.present && pEffect && control->getValue() >= 0.5f) {
            CoreDspc::MESSAGELOC message{};
            message.type = 4;
            message.a = button.program;
            pEffect->wsprp(CorePpwr::iCdisplaymessage, 0, 0, &message, sizeof message);
        }
        return;
    }
    if (tag >= 0 && tag < iCslots) {
        const SLIDERINFO& slot = oSliders[tag];
        if (!(slot.present || slot.paddriven) || !pEffect) return;
        CorePpwr::PARAMETERRECORD record{};
        uint32_t size = sizeof record;
        if (pEffect->wgprp(CorePpwr::iCparameterrecord + tag, 0, 0, &record, size) != CorePpwr::iCdone) return;
        record.lastsent = false;
        record.valueset = false;
        const double value = double(control->getValue());
        if (!record.locked) {
            if (value != record.lastvalue) {
                sendParameter(tag, control->getValue());
                record.lastsent = true;
                record.lastvalue = value;
            }
            record.touched = true;
        } else {
            record.valueset = true;
            record.value = value;
            record.touched = false;
        }
        pEffect->wsprp(CorePpwr::iCparameterrecord + tag, 0, 0, &record, sizeof record);
        control->setDirty();
        return;
    }
    // A choice in a submenu comes with that submenu's tag and the index within it.
    // A value that is no index (not finite, or beyond int) is passed as -1, which chooses nothing.
    if (tag >= iCmenutag) {
        const double index = control->getValue();
        const bool usable = std::isfinite(index) && index >= 0.0 && index <= 1e6;
        pMenus->setrs(tag, usable ? static_cast<int>(index) : -1);
    }
}

void CoreEdit::sendParameter(int32_t tag, float value) {
    const AudioUnitParameter parameter{pEffect, uint32_t(tag), 0, 0};
    if (pListener)
        CoreLswr::aupst(pListener, this, &parameter, value, 0);
    else
        pEffect->stpri(tag, value, this);
}

void CoreEdit::evlst(void* source, const AudioUnitEvent* event, float value) {
    (void)source, (void)value;
    if (!event || event->type != 3) return;
    switch (int32_t(event->id)) {
    case CorePpwr::iCstatus:
        updte(); // tries the editor lock itself
        return;
    case CorePpwr::iCtextfocus: {
        Hold hold(cEditorlock);
        if (!bOpen || !pEffect || !pKeyhook) return;
        uint8_t focus = 0;
        uint32_t size = sizeof focus;
        if (pEffect->wgprp(CorePpwr::iCtextfocus, 0, 0, &focus, size) != CorePpwr::iCdone) return;
        if (focus && !bHooked) {
            pKeyhook->dohok();
            bHooked = true;
        } else if (!focus && bHooked) {
            pKeyhook->unhok();
            bHooked = false;
        }
        return;
    }
    case CorePpwr::iCmenuarm: {
        Hold hold(cEditorlock);
        pMenus->updte();
        return;
    }
    case CorePpwr::iCviewclose:
        bClosedbyeffect = true;
        close();
        return;
    default:
        return;
    }
}

void CoreEdit::eldsp(void* editor, void* source, const AudioUnitEvent* event, uint64_t time, float value) {
    (void)time;
    if (editor) static_cast<CoreEdit*>(editor)->evlst(source, event, value);
}
