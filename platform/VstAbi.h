/* VstAbi: the VST 2.4 binary interface between a plug-in library and its host on x86-64 Linux
 * (System V calls), as plain C: the effect record with its entry points, the opcodes both ways,
 * flags, the host's time record, event lists, speaker arrangements and the host's text limits.
 * Declarations only; every size and offset the two sides rely on is checked below. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t VstInt32;
typedef intptr_t VstIntPtr;

struct AEffect;

/* The host's callback and the plug-in's dispatcher share one signature. */
typedef VstIntPtr (*audioMasterCallback)(struct AEffect* effect, VstInt32 opcode, VstInt32 index,
                                         VstIntPtr value, void* ptr, float opt);
typedef VstIntPtr (*AEffectDispatcherProc)(struct AEffect* effect, VstInt32 opcode, VstInt32 index,
                                           VstIntPtr value, void* ptr, float opt);
typedef void (*AEffectProcessProc)(struct AEffect* effect, float** inputs, float** outputs, VstInt32 frames);
typedef void (*AEffectProcessDoubleProc)(struct AEffect* effect, double** inputs, double** outputs,
                                         VstInt32 frames);
typedef void (*AEffectSetParameterProc)(struct AEffect* effect, VstInt32 index, float value);
typedef float (*AEffectGetParameterProc)(struct AEffect* effect, VstInt32 index);

/* The record the host holds for one effect instance. The gaps after magic and flags are the
 * alignment of the pointer-sized fields that follow. */
typedef struct AEffect {
    VstInt32 magic; /* kEffectMagic */
    AEffectDispatcherProc dispatcher;
    AEffectProcessProc process; /* accumulating: adds to the outputs */
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags; /* effFlags... */
    VstIntPtr reserved1;
    VstIntPtr reserved2;
    VstInt32 initialDelay; /* latency in frames */
    VstInt32 unusedInt1;   /* deprecated fields, kept for the layout */
    VstInt32 unusedInt2;
    float unusedFloat;
    void* object; /* the plug-in's own */
    void* user;   /* the host's own */
    VstInt32 uniqueID;
    VstInt32 version;
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
} AEffect;

enum {
    kEffectMagic = 0x56737450, /* 'VstP' */
    kVstVersion = 2400
};

/* AEffect.flags */
enum {
    effFlagsHasEditor = 1 << 0,
    effFlagsCanMono = 1 << 3,
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsCanDoubleReplacing = 1 << 12
};

/* Opcodes of the plug-in's dispatcher; any other opcode is answered with 0. */
enum {
    effOpen = 0,
    effClose = 1,      /* the effect deletes itself */
    effSetProgram = 2, /* value */
    effGetProgram = 3,
    effSetProgramName = 4, /* ptr: text */
    effGetProgramName = 5, /* ptr: buffer of kVstMaxProgNameLen */
    effGetParamLabel = 6,  /* index, ptr: buffer of kVstMaxParamStrLen */
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effSetSampleRate = 10, /* opt */
    effSetBlockSize = 11,  /* value */
    effMainsChanged = 12,  /* value: 0 suspend, 1 resume */
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditIdle = 19,
    effGetChunk = 23,              /* ptr: void**; returns the size */
    effSetChunk = 24,              /* value: size, ptr: data */
    effProcessEvents = 25,         /* ptr: VstEvents* */
    effCanBeAutomated = 26,        /* index */
    effGetProgramNameIndexed = 29, /* value: category, index, ptr: buffer of kVstMaxProgNameLen */
    effGetPlugCategory = 35,
    effSetSpeakerArrangement = 42, /* value: input arrangement pointer, ptr: output arrangement */
    effGetEffectName = 45,         /* ptr: buffer of kVstMaxEffectNameLen */
    effGetVendorString = 47,       /* ptr: buffer of kVstMaxVendorStrLen */
    effGetProductString = 48,      /* ptr: buffer of kVstMaxProductStrLen */
    effGetVendorVersion = 49,
    effCanDo = 51, /* ptr: text; 1 yes, -1 no, 0 don't know */
    effGetTailSize = 52,
    effGetVstVersion = 58,
    effEditKeyDown = 59, /* index: character, value: virtual key, opt: modifiers */
    effEditKeyUp = 60,
    effGetNumMidiInputChannels = 78,
    effGetNumMidiOutputChannels = 79
};

/* Opcodes of the host's callback. */
enum {
    audioMasterAutomate = 0, /* index, opt: the parameter's new value */
    audioMasterVersion = 1,
    audioMasterWantMidi = 6,
    audioMasterGetTime = 7, /* value: the kVst... fields wanted; returns a VstTimeInfo* or 0 */
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetCurrentProcessLevel = 23, /* kVstProcessLevel... */
    audioMasterGetVendorString = 32,        /* ptr: buffer of kVstMaxVendorStrLen */
    audioMasterGetProductString = 33,       /* ptr: buffer of kVstMaxProductStrLen */
    audioMasterGetVendorVersion = 34
};

enum {
    kVstProcessLevelUnknown = 0,
    kVstProcessLevelUser = 1,
    kVstProcessLevelRealtime = 2,
    kVstProcessLevelPrefetch = 3,
    kVstProcessLevelOffline = 4
};

/* The host's transport and tempo. */
typedef struct VstTimeInfo {
    double samplePos;
    double sampleRate;
    double nanoSeconds;
    double ppqPos;
    double tempo; /* beats per minute */
    double barStartPos;
    double cycleStartPos;
    double cycleEndPos;
    VstInt32 timeSigNumerator;
    VstInt32 timeSigDenominator;
    VstInt32 smpteOffset;
    VstInt32 smpteFrameRate;
    VstInt32 samplesToNextClock;
    VstInt32 flags; /* kVst... below */
} VstTimeInfo;

enum { kVstTransportPlaying = 1 << 1, kVstPpqPosValid = 1 << 9, kVstTempoValid = 1 << 10 };

/* One event of a list; type tells which record it is. */
typedef struct VstEvent {
    VstInt32 type; /* kVstMidiType, kVstSysExType */
    VstInt32 byteSize;
    VstInt32 deltaFrames; /* offset within the block */
    VstInt32 flags;
    char data[16];
} VstEvent;

enum { kVstMidiType = 1, kVstSysExType = 6 };

typedef struct VstMidiEvent {
    VstInt32 type; /* kVstMidiType */
    VstInt32 byteSize;
    VstInt32 deltaFrames;
    VstInt32 flags;
    VstInt32 noteLength;
    VstInt32 noteOffset;
    char midiData[4]; /* status, data 1, data 2, unused */
    char detune;
    char noteOffVelocity;
    char reserved1;
    char reserved2;
} VstMidiEvent;

/* numEvents pointers follow at events; the two declared entries only fix the record's size. */
typedef struct VstEvents {
    VstInt32 numEvents;
    VstIntPtr reserved;
    VstEvent* events[2];
} VstEvents;

/* Only the two leading fields of a speaker arrangement are read; hosts pass a longer record. */
typedef struct VstSpeakerArrangement {
    VstInt32 type; /* kSpeakerArr... */
    VstInt32 numChannels;
} VstSpeakerArrangement;

enum {
    kSpeakerArrMono = 0,
    kSpeakerArrStereo = 1,
    kSpeakerArr40Music = 11 /* four channels */
};

/* The editor's rectangle in the host's window, in pixels. */
typedef struct ERect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
} ERect;

/* One key the host hands to the editor: a character, or a virtual key (VKEY_... below) for keys
 * without one, and the modifier keys held. */
typedef struct VstKeyCode {
    VstInt32 character;
    unsigned char virt;
    unsigned char modifier;
} VstKeyCode;

enum {
    VKEY_BACK = 1, VKEY_TAB = 2, VKEY_RETURN = 4, VKEY_ESCAPE = 6, VKEY_SPACE = 7, VKEY_END = 9,
    VKEY_HOME = 10, VKEY_LEFT = 11, VKEY_UP = 12, VKEY_RIGHT = 13, VKEY_DOWN = 14, VKEY_PAGEUP = 15,
    VKEY_PAGEDOWN = 16, VKEY_ENTER = 19, VKEY_INSERT = 21, VKEY_DELETE = 22, VKEY_F1 = 40, VKEY_F12 = 51,
    VKEY_SHIFT = 54, VKEY_CONTROL = 55, VKEY_ALT = 56
};

/* Host text buffers, the terminating NUL included. */
enum {
    kVstMaxProgNameLen = 24,
    kVstMaxParamStrLen = 8,
    kVstMaxEffectNameLen = 32,
    kVstMaxVendorStrLen = 64,
    kVstMaxProductStrLen = 64
};

#ifdef __cplusplus
}
#define VST_ABI_CHECK(condition) static_assert(condition, #condition)
#else
#define VST_ABI_CHECK(condition) _Static_assert(condition, #condition)
#endif

VST_ABI_CHECK(sizeof(void*) == 8 && sizeof(VstIntPtr) == 8 && sizeof(float) == 4 && sizeof(double) == 8);

VST_ABI_CHECK(sizeof(AEffect) == 192);
VST_ABI_CHECK(offsetof(AEffect, magic) == 0);
VST_ABI_CHECK(offsetof(AEffect, dispatcher) == 8);
VST_ABI_CHECK(offsetof(AEffect, process) == 16);
VST_ABI_CHECK(offsetof(AEffect, setParameter) == 24);
VST_ABI_CHECK(offsetof(AEffect, getParameter) == 32);
VST_ABI_CHECK(offsetof(AEffect, numPrograms) == 40);
VST_ABI_CHECK(offsetof(AEffect, numParams) == 44);
VST_ABI_CHECK(offsetof(AEffect, numInputs) == 48);
VST_ABI_CHECK(offsetof(AEffect, numOutputs) == 52);
VST_ABI_CHECK(offsetof(AEffect, flags) == 56);
VST_ABI_CHECK(offsetof(AEffect, reserved1) == 64);
VST_ABI_CHECK(offsetof(AEffect, reserved2) == 72);
VST_ABI_CHECK(offsetof(AEffect, initialDelay) == 80);
VST_ABI_CHECK(offsetof(AEffect, unusedInt1) == 84);
VST_ABI_CHECK(offsetof(AEffect, unusedInt2) == 88);
VST_ABI_CHECK(offsetof(AEffect, unusedFloat) == 92);
VST_ABI_CHECK(offsetof(AEffect, object) == 96);
VST_ABI_CHECK(offsetof(AEffect, user) == 104);
VST_ABI_CHECK(offsetof(AEffect, uniqueID) == 112);
VST_ABI_CHECK(offsetof(AEffect, version) == 116);
VST_ABI_CHECK(offsetof(AEffect, processReplacing) == 120);
VST_ABI_CHECK(offsetof(AEffect, processDoubleReplacing) == 128);
VST_ABI_CHECK(offsetof(AEffect, future) == 136);

VST_ABI_CHECK(sizeof(VstTimeInfo) == 88);
VST_ABI_CHECK(offsetof(VstTimeInfo, samplePos) == 0);
VST_ABI_CHECK(offsetof(VstTimeInfo, sampleRate) == 8);
VST_ABI_CHECK(offsetof(VstTimeInfo, nanoSeconds) == 16);
VST_ABI_CHECK(offsetof(VstTimeInfo, ppqPos) == 24);
VST_ABI_CHECK(offsetof(VstTimeInfo, tempo) == 32);
VST_ABI_CHECK(offsetof(VstTimeInfo, barStartPos) == 40);
VST_ABI_CHECK(offsetof(VstTimeInfo, cycleStartPos) == 48);
VST_ABI_CHECK(offsetof(VstTimeInfo, cycleEndPos) == 56);
VST_ABI_CHECK(offsetof(VstTimeInfo, timeSigNumerator) == 64);
VST_ABI_CHECK(offsetof(VstTimeInfo, timeSigDenominator) == 68);
VST_ABI_CHECK(offsetof(VstTimeInfo, smpteOffset) == 72);
VST_ABI_CHECK(offsetof(VstTimeInfo, smpteFrameRate) == 76);
VST_ABI_CHECK(offsetof(VstTimeInfo, samplesToNextClock) == 80);
VST_ABI_CHECK(offsetof(VstTimeInfo, flags) == 84);

VST_ABI_CHECK(sizeof(ERect) == 8);
VST_ABI_CHECK(offsetof(ERect, left) == 2 && offsetof(ERect, bottom) == 4 && offsetof(ERect, right) == 6);
VST_ABI_CHECK(sizeof(VstKeyCode) == 8);
VST_ABI_CHECK(offsetof(VstKeyCode, virt) == 4 && offsetof(VstKeyCode, modifier) == 5);

VST_ABI_CHECK(sizeof(VstEvent) == 32);
VST_ABI_CHECK(offsetof(VstEvent, deltaFrames) == 8);
VST_ABI_CHECK(offsetof(VstEvents, numEvents) == 0);
VST_ABI_CHECK(offsetof(VstEvents, reserved) == 8);
VST_ABI_CHECK(offsetof(VstEvents, events) == 16);

VST_ABI_CHECK(sizeof(VstMidiEvent) == 32);
VST_ABI_CHECK(offsetof(VstMidiEvent, type) == 0);
VST_ABI_CHECK(offsetof(VstMidiEvent, byteSize) == 4);
VST_ABI_CHECK(offsetof(VstMidiEvent, deltaFrames) == 8);
VST_ABI_CHECK(offsetof(VstMidiEvent, flags) == 12);
VST_ABI_CHECK(offsetof(VstMidiEvent, noteLength) == 16);
VST_ABI_CHECK(offsetof(VstMidiEvent, noteOffset) == 20);
VST_ABI_CHECK(offsetof(VstMidiEvent, midiData) == 24);
VST_ABI_CHECK(offsetof(VstMidiEvent, detune) == 28);
VST_ABI_CHECK(offsetof(VstMidiEvent, noteOffVelocity) == 29);
VST_ABI_CHECK(offsetof(VstMidiEvent, reserved1) == 30);
VST_ABI_CHECK(offsetof(VstMidiEvent, reserved2) == 31);

VST_ABI_CHECK(offsetof(VstSpeakerArrangement, type) == 0);
VST_ABI_CHECK(offsetof(VstSpeakerArrangement, numChannels) == 4);

#undef VST_ABI_CHECK
