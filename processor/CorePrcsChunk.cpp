// CorePrcs: the host chunk. getck commits the program being played into its slot and hands the host
// the slot's dump; setck boots the engine when needed, restores the chunk's programs into the memory
// and loads the one to select; ldpfs reads a slot's text straight into the program. Saves and
// restores run one at a time under savelock; the engine locks are held only for the commit and the
// load, so the audio thread meanwhile plays the pass-through path and never waits.
#include "processor/CorePrcs.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreSgrd.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr int32_t lastSlot = CoreMmry::iCmemorydim - 1;

void logText(const char* prefix, const CoreAnsx& text) {
    if (CoreLog_::getdb() >= 7) CoreLog_::debug(CoreAnsx(prefix) + text, 0, 7);
}

// True when every element the text opens is closed again: a chunk cut short in transit would
// otherwise restore the part that arrived.
bool complete(const CoreAnsx& text) {
    int pos = 0, depth = 0;
    CoreAnsx tag;
    bool opening = false;
    while (CoreXml_::fndte(text, pos, tag, opening)) depth += opening ? 1 : -1;
    return depth == 0;
}

} // namespace

int32_t CorePrcs::handOut(const char* text, int32_t length, void** data) {
    const int32_t needed = length + 1;
    if (needed > iChunkdim) {
        // Kept until a larger save or the engine goes, so the host may read it after this call.
        char* grown = static_cast<char*>(pool->mallc(4, needed, "PRCS"));
        pool->free_(pChunk);
        pChunk = grown;
        iChunkdim = needed;
    }
    const int32_t reported = std::max(CoreMmry::iCchunkbufferdim, needed);
    std::memcpy(pChunk, text, static_cast<size_t>(length));
    std::memset(pChunk + length, 0, static_cast<size_t>(reported - length));
    *data = pChunk;
    return reported;
}

int32_t CorePrcs::getck(void** data) {
    if (isfailed() || !data) return 0;
    CoreSgrd one(savelock);
    CoreAnsx text(sCemptyxml);
    if (busy.getvl()) {
        // A chunk the host handed over while the boot had failed goes back as it came.
        if (bHeldchunk) text = CoreAnsx(sHeldchunk.c_str());
    } else {
        try {
            int32_t slot = 0;
            bool changed = false;
            std::optional<CoreAnsx> committed;
            {
                EngineGuard hold(*this);
                slot = currentslot;
                changed = statechanged.load();
                // Only the slot whose program is being played takes the edits: after a fall-back or a
                // failed read the program object holds another slot's program, or none.
                if (loadedslot == currentslot) {
                    fixcd();
                    committed = programdoc->settc(false, false);
                }
            }
            if (committed) memory->setvl(slot, *committed, false);
            if (changed) text = memory->dumpo(slot);
        } catch (const CoreAnsx& message) {
            CoreLog_::loger(CoreAnsx("Host chunk: nothing to save, ") + message, 1);
            text = sCemptyxml;
        }
    }
    logText("getck:", text);
    try {
        return handOut(text.c_str(), text.Length(), data);
    } catch (const CoreAnsx& message) {
        CoreLog_::loger(CoreAnsx("Host chunk: no room for ") + CoreAnsx(text.Length()) + " bytes, " + message, 1);
        return handOut(sCemptyxml, static_cast<int32_t>(std::strlen(sCemptyxml)), data);
    }
}

bool CorePrcs::setck(void* data, int32_t length) {
    if (isfailed()) return false;
    // A restore replaces the program the beans read: no bean runs until it is done.
    CoreSgrd beans(beanlock);
    fboot();
    const char* bytes = static_cast<const char*>(data);
    size_t count = 0;
    if (bytes && length > 0) {
        const void* end = std::memchr(bytes, 0, static_cast<size_t>(length));
        count = end ? static_cast<size_t>(static_cast<const char*>(end) - bytes) : static_cast<size_t>(length);
    }
    const std::string received(bytes ? bytes : "", count);
    const CoreAnsx text(received.c_str());
    const bool nothing = text.Trim() == CoreAnsx(sCemptyxml);

    CoreSgrd one(savelock);
    if (busy.getvl()) {
        // The boot failed: nothing can be restored, but the host gets its chunk back on the next save.
        sHeldchunk = received;
        bHeldchunk = true;
        CoreLog_::loger(CoreAnsx("Host chunk kept, not restored: the engine did not boot"), 1);
        return nothing;
    }
    logText("setck:", text);
    if (nothing) {
        // After a boot whose selected program fell back to slot 0 the chunk stays empty (see the boot).
        if (!loadfallback) statechanged.store(true);
        return true;
    }
    if (!complete(text)) {
        CoreLog_::loger(CoreAnsx("Host chunk not restored: it ends inside an element"), 1);
        return false;
    }
    int32_t slot = -1;
    try {
        slot = memory->dumpi(text);
    } catch (const CoreAnsx& message) {
        CoreLog_::loger(CoreAnsx("Host chunk not restored: ") + (message.Length() > 0 ? message : "malformed XML"),
                        1);
        return false;
    }
    if (slot < 0) {
        CoreLog_::loger(CoreAnsx("Host chunk not restored: it names no slot"), 1);
        return false;
    }
    statechanged.store(true);
    try {
        ldpdm(slot, false);
    } catch (const CoreAnsx& message) {
        CoreLog_::loger(CoreAnsx("Host chunk restored into slot ") + CoreAnsx(slot) + ", its program not loaded: " +
                            message,
                        1);
    }
    // The restored slot stays current even when its files are missing: the next save hands it back.
    EngineGuard hold(*this);
    currentslot = slot;
    return true;
}

bool CorePrcs::ldpfs(int32_t slot) {
    if (isfailed()) return false;
    PassThroughScope hold(*this, true);
    loadedslot = -1;
    const CoreAnsx text = memory->getvl(slot, true);
    program->setfs(files);
    bool result = false;
    try {
        result = readProgram(slot, text, false);
    } catch (const CoreAnsx& message) {
        CoreLog_::loger(CoreAnsx("Slot ") + CoreAnsx(slot) + " not read: " + message, 1);
    }
    files->uload(".WAV");
    if (result) {
        try {
            if (!engineStage()) bProgramready = false;
        } catch (const CoreAnsx& message) {
            CoreLog_::loger(message, 1);
            bProgramready = false;
        }
    }
    if (slot >= 0 && slot <= lastSlot) currentslot = slot;
    clepr(true);
    adjif();
    return result;
}
