// CorePrcs: the commit of the live program into its document (fixcd), the document as text (getdt),
// and the description rewrite of a program stored in a container file (setds), a file tool that uses
// no engine state.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "program/CoreProg.h"
#include "program/DataXml_.h"

#include <string>

namespace {

// ITEM entries of a container's table of contents, as the store kept it from its last loada.
int listedItems(const CoreAnsx& table) {
    CoreXml_ toc;
    const CoreNode* root = toc.getfc(table);
    int count = 0;
    for (int i = 0; root && root->getcn() && i < root->getcn()->Count; ++i) {
        const auto* top = static_cast<const CoreNode*>(root->getcn()->Items[i]);
        for (int k = 0; top->getcn() && k < top->getcn()->Count; ++k)
            if (static_cast<const CoreNode*>(top->getcn()->Items[k])->gettx().Trim().UpperCase() == CoreAnsx("ITEM"))
                ++count;
    }
    return count;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

void CorePrcs::fixcd() {
    if (isfailed() || !program || !programdoc) return;
    program->chgmx(programdoc);
    program->chggl(programdoc);
    program->chglf(programdoc);
    program->chgpr(programdoc, ownrate, activerate);
    program->chgfn(programdoc);
    program->chgef(programdoc);
    program->chgen(programdoc);
    program->chgdy(programdoc);
    program->chgpt(programdoc);
    // The writers re-append every section they rebuild but keep DISPLAY where it stands; moving it
    // behind them gives every commit the same order, so that committing twice changes no byte.
    const CoreAnsx display[2] = {DataXml_::sCtagprogrm, DataXml_::sCtagrootds};
    programdoc->pmove(display, 2, programdoc, &DataXml_::sCtagprogrm, 1, false);
}

CoreAnsx CorePrcs::getdt() {
    if (isfailed()) return CoreAnsx("");
    EngineGuard hold(*this);
    fixcd();
    return programdoc->settc(false, false);
}

void CorePrcs::setds(CorePool* pool, const CoreAnsx& path, const CoreAnsx& text) {
    const auto leave = [&path](const char* reason) {
        CoreLog_::loger(CoreAnsx("Description not written, ") + reason + ": " + path, 1);
    };
    CoreFsys store(pool);
    if (!store.loada(path, CoreAnsx("0"), false, nullptr)) return leave("the container cannot be read");

    // The program's own item is the file's name with ".XML" (any folder before it); failing that, the
    // last item whose key holds the name.
    const std::string stem = CoreButl::getfn(path, true).Trim().UpperCase().c_str();
    int32_t chosen = -1, exact = -1;
    int inMemory = 0;
    for (int i = 0; i < store.llvcn(); ++i) {
        int32_t id = -1;
        const std::string key = store.llvel(i, id).Trim().UpperCase().c_str();
        if (store.isvld(id)) ++inMemory;
        if (stem.empty()) continue;
        if (exact < 0 && (key == stem + ".XML" || endsWith(key, "/" + stem + ".XML"))) exact = id;
        if (key.find(stem) != std::string::npos) chosen = id;
    }
    if (exact >= 0) chosen = exact;
    if (chosen < 0) return leave("no item bears the file's name");
    // Writing back a container that lost an item on the way in would drop it from the file.
    if (inMemory != store.llvcn() || inMemory != listedItems(store.gettc()))
        return leave("an item of the container cannot be read");

    CoreXml_ document;
    CoreNode* root = nullptr;
    try {
        root = document.getfc(store.ct2as(chosen));
    } catch (const CoreAnsx&) {
        root = nullptr;
    }
    if (!root || !root->getcd(DataXml_::sCtagprogrm)) return leave("the item holds no program");
    const CoreAnsx where[2] = {DataXml_::sCtagprogrm, DataXml_::sCtagdescrp};
    document.pappr(where, 2, new CoreNode(text));
    const CoreAnsx rewritten = document.settc(false, false);
    if (!store.setit(chosen, rewritten.c_str(), rewritten.Length(), true, CoreAnsx("0"), true, true))
        return leave("no memory for the item");
    if (!store.savea(path)) return leave("the container cannot be written");
}
