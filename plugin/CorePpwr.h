// CorePpwr: the property interface, the effect's second base. The editor, the display and the control
// thread exchange numbered properties through it and are told of changes by notices queued on
// listener threads (CoreLswr); this base holds the listener records, the list lock and the call lock,
// and answers every property as unknown. Any thread may call; notices are only queued under the list
// lock, never delivered, so no callback runs with a lock of this interface held.
#pragma once
#include "base/CoreSmph.h"

#include <cstdint>

class CoreLswr;
class CorePpwr;
class CoreTlst;

// An event a listener registers for or is told of. Type 0 parameter value change, 1 gesture begin,
// 2 gesture end, 3 property change; scope and element are always 0.
struct AudioUnitEvent {
    uint32_t type;
    CorePpwr* target;
    uint32_t id;
    uint32_t scope;
    uint32_t element;
};

// A parameter of a property interface, as a listener posts it (only target and id are read).
struct AudioUnitParameter {
    CorePpwr* target;
    uint32_t id;
    uint32_t scope;
    uint32_t element;
};

// A listener's callback: the object it registered with, a second pointer (always null), the event,
// the host time (always 0) and the value (0.0 for property notices).
using AudioUnitEventListenerProc = void (*)(void* object, void* second, const AudioUnitEvent* event,
                                            uint64_t hostTime, float value);

class CorePpwr {
public:
    // Results of the property calls.
    static constexpr int32_t iCdone = 0;
    static constexpr int32_t iCunknown = 11;    // unknown id or scope, or an operation the id lacks
    static constexpr int32_t iCerrorstate = 12; // the effect is in its error state

    // Property ids: the ten parameter records, then the editor, display and control-thread traffic.
    static constexpr int32_t iCparameterrecord = 100000;
    static constexpr int32_t iCparameterrecords = 10;
    static constexpr int32_t iCdisplaymessage = 100100;
    static constexpr int32_t iCmouse = 100101;
    static constexpr int32_t iCstatus = 100102;
    static constexpr int32_t iCclient = 100103;
    static constexpr int32_t iCdisplaydata = 100104;
    static constexpr int32_t iCtextfocus = 100105;
    static constexpr int32_t iCmenuarm = 100106;
    static constexpr int32_t iCmenucontents = 100107;
    static constexpr int32_t iCmenuselection = 100108;
    static constexpr int32_t iCviewclose = 100109;
    static constexpr int32_t iCcontrolmap = 100110;

    // Property 100000 + i: one control slot. A set applies the flagged fields (last-sent value, then
    // touched, then value); a get fills the locked flag and the last-sent value only.
    struct PARAMETERRECORD {
        bool locked;   // the slot is not reported to the host
        bool touched;  // the control is in focus
        bool lastsent; // flag: lastvalue is to be set
        double lastvalue;
        bool valueset; // flag: value is to be set
        double value;
    };

    // Property 100102: what the editor shows, sent by the control thread on render ticks.
    struct STATUSRECORD {
        int16_t fontset;
        bool indicator;
        bool bypass;
        bool meterrefresh;
        double meters[4];
        float controls[10];
        int16_t leds[8];
        int32_t slot;
    };

    // Property 100101: the editor's pointer in editor pixels; any non-zero down is the button held.
    struct MOUSERECORD {
        int32_t x;
        int32_t y;
        int32_t down;
    };

    // Property 100110: the wheel step of one control, 1/value of its range.
    struct CONTROLMAPRECORD {
        int16_t slot;
        int32_t value;
    };

    CorePpwr();
    virtual ~CorePpwr();
    CorePpwr(const CorePpwr&) = delete;
    CorePpwr& operator=(const CorePpwr&) = delete;

    // The editor's calls, each under the call lock. wgprp: size in is the bytes data can hold, out
    // the property's size; at most that capacity is copied; null data asks for the size only.
    virtual int32_t wsprp(int32_t id, int32_t scope, int32_t element, const void* data, uint32_t size);
    virtual int32_t wgprp(int32_t id, int32_t scope, int32_t element, void* data, uint32_t& size);
    // The fixed-size get the display uses, and the get that copies at most capacity bytes.
    virtual int32_t gtprp(int32_t id, int32_t scope, int32_t element, void* data);
    virtual int32_t gtprp(int32_t id, int32_t scope, int32_t element, void* data, uint32_t capacity);
    virtual int32_t stprp(int32_t id, int32_t scope, int32_t element, const void* data, uint32_t size);
    virtual int32_t gtpri(int32_t id, int32_t scope, int32_t element, uint32_t& size, bool& writable);
    virtual double gtpar(int32_t id);
    virtual void stpar(int32_t id, float value);
    // Queues a notice with 0.0 for every property listener registered on id.
    virtual void prchg(int32_t id, int32_t scope, int32_t element);
    virtual float gtsrt();

    // Sets a parameter through stpar, then queues a notice with the value for every parameter
    // listener registered on id; object goes with the notices. Returns 0.
    int32_t stpri(int32_t id, float value, void* object);
    // Records (listener, object, a copy of event) on the parameter list when parameter is true, else
    // on the property list. 11 for a null listener.
    int32_t auaet(CoreLswr* listener, void* object, const AudioUnitEvent& event, bool parameter);
    // Removes and frees every record of listener from both lists.
    void unlnk(CoreLswr* listener);

private:
    struct LISTENERRECORD {
        CoreLswr* listener;
        void* object;
        AudioUnitEvent event;
    };

    CoreSmph cListlock; // guards both lists; a listener's queue lock may be taken inside it
    CoreSmph cCalllock; // one editor call at a time
    CoreTlst* pParameterlisteners;
    CoreTlst* pPropertylisteners;

    static void unlinkFrom(CoreTlst* records, CoreLswr* listener);
    static void freeAll(CoreTlst* records);
};
