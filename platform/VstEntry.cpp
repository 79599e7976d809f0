// The exported entry of a VST 2.4 plug-in library, compiled into each plug-in module
// (cmake/VstPlugin.cmake) and never into the platform library, so programs keep their own main.
// Linux hosts look the entry up as VSTPluginMain or, older ones, as main.
#include "platform/AudioEffect.h"

#include <cxxabi.h>

extern "C" {
__attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback audioMaster);
// The same function under the name main: an assembler label, so no C++ main is declared.
__attribute__((visibility("default"))) AEffect* vstMainAlias(audioMasterCallback audioMaster) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
}

// Null without a callback or when the host answers version 0; no exception reaches the host, but a
// thread exit the host began in its callback goes on. Without the sanitizer's null check: that
// exit's handler gets no object.
[[gnu::no_sanitize("null")]] AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    if (!audioMaster) return nullptr;
    try {
        if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect ? effect->getAeffect() : nullptr;
    } catch (abi::__forced_unwind&) {
        throw; // the host ended its thread in a callback: the unwinding must go on
    } catch (...) {
        return nullptr;
    }
}
