// CorePrcs: the batch stepper, which runs the display's library operations (reading a setup, clearing
// or saving a bank, loading, deleting, moving and saving programs, versioning) one named step per call,
// and the versioning of the current program. Runs on the display's thread; a locked step holds the
// engine pair through EngineGuard, so a throw never leaves a lock taken.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreVars.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <cstring>
#include <exception>

namespace {

constexpr char kNextStep[] = "NEXTSTEP";
constexpr char kEnd[] = "END";
constexpr char kNotSaved[] = "NOT SAVED";
constexpr char kNotMoved[] = "NOT MOVED";
constexpr int32_t kTestPauseMs = 5000;

enum class Action {
    readSetupClear,
    readSetupFile,
    loadFromCurrent,
    clearBank,
    commit,
    reloadSearched,
    deleteProgram,
    reload,
    deleteOld,
    move,
    saveBank,
    saveProgram,
    saveProgramFiles,
    changeHybrid,
    changeMono,
    versioningStart,
    versioning,
    test,
};
enum class Locking { none, locked, searchOnly };

} // namespace

struct CorePrcs::BATCHSTEP {
    const char* name;
    int ordinal;
    Locking locking;
    Action action;
    const char* next;
};

namespace {

using Step = CorePrcs::BATCHSTEP;

// Step names compare byte for byte: "readprogram" is no step and finishes the batch.
const Step kSteps[] = {
    {"READSETUP", 1, Locking::locked, Action::readSetupClear, "READSETUP_1"},
    {"READSETUP_1", 2, Locking::none, Action::readSetupFile, "READSETUP_2"},
    {"READSETUP_2", 3, Locking::none, Action::loadFromCurrent, kEnd},
    {"CLEARBANK", 1, Locking::locked, Action::clearBank, "CLEAREDBANK_2"},
    {"CLEAREDBANK_2", 2, Locking::none, Action::loadFromCurrent, kEnd},
    {"READPROGRAM", 1, Locking::locked, Action::commit, "READPROGRAM_2"},
    {"READPROGRAM_2", 2, Locking::searchOnly, Action::reloadSearched, kEnd},
    {"DELETEMEMORYLOC", 1, Locking::none, Action::deleteProgram, kEnd},
    {"REPLACEMEMORYLOC", 1, Locking::locked, Action::commit, "REPLACEMEMORYLOC_2"},
    {"REPLACEMEMORYLOC_2", 2, Locking::none, Action::reload, "REPLACEMEMORYLOC_3"},
    {"REPLACEMEMORYLOC_3", 3, Locking::none, Action::deleteOld, kEnd},
    {"OVERWRITEMEMORYLOC", 1, Locking::none, Action::move, kEnd},
    {"SAVEBANK", 1, Locking::none, Action::saveBank, kEnd},
    {"SAVEPROGRAM", 1, Locking::locked, Action::saveProgram, "SAVEPROGRAM_1"},
    {"SAVEPROGRAM_1", 2, Locking::none, Action::saveProgramFiles, kEnd},
    {"CHANGEHYBRID", 1, Locking::locked, Action::changeHybrid, "CHANGEHYBRID_2"},
    {"CHANGEHYBRID_2", 2, Locking::locked, Action::commit, "CHANGEHYBRID_3"},
    {"CHANGEHYBRID_3", 3, Locking::none, Action::reload, kEnd},
    {"CHANGEMONO", 1, Locking::locked, Action::changeMono, "CHANGEMONO_2"},
    {"CHANGEMONO_2", 2, Locking::locked, Action::commit, "CHANGEMONO_3"},
    {"CHANGEMONO_3", 3, Locking::none, Action::reload, kEnd},
    {"VERSIONING", 1, Locking::none, Action::versioningStart, "VERSIONING_2"},
    {"VERSIONING_2", 2, Locking::none, Action::versioning, kEnd},
    {"TEST", 1, Locking::none, Action::test, kEnd},
};

const Step* findStep(const CoreAnsx& name) {
    for (const Step& step : kSteps)
        if (std::strcmp(step.name, name.c_str()) == 0) return &step;
    return nullptr;
}

CoreAnsx joined(const CoreAnsx& a, const CoreAnsx& b) {
    return a + CoreAnsx(" ") + b;
}

} // namespace

bool CorePrcs::batch(CoreVars* vars, int& ordinal, CoreAnsx& message) {
    ordinal = 0;
    message = "";
    // A finishing call before the boot configured the engine would end the boot's pass-through.
    if (isfailed() || !booted()) return true;
    const CoreAnsx name = vars ? vars->getit(CoreAnsx(kNextStep)) : CoreAnsx("");
    CoreLog_::debug(CoreAnsx("batch ") + name, 0, 2);
    const Step* step = vars ? findStep(name) : nullptr;
    if (!step) {
        smpby(false, 0, true, false);
        CoreLog_::debug(CoreAnsx("batch terminated"), 0, 2);
        return true;
    }
    smpby(true, 0, true, true);
    ordinal = step->ordinal;
    CoreAnsx next(step->next);
    CoreAnsx failure;
    bool failed = false;
    try {
        runBatchStep(*step, *vars, message, next);
    } catch (const CoreAnsx& thrown) {
        failure = thrown;
        failed = true;
    } catch (const std::exception& thrown) {
        failure = CoreAnsx(thrown.what());
        failed = true;
    }
    if (failed) {
        message = CoreAnsx("FAILED ") + name;
        if (failure.Length() > 0) message = message + CoreAnsx(": ") + failure;
        CoreLog_::loger(CoreAnsx("batch step ") + message, 1);
        // The step's guard has released the locks; leave the batch as a finishing call would.
        smpby(false, 0, true, false);
        next = kEnd;
    }
    vars->addit(CoreAnsx(kNextStep), next);
    return false;
}

void CorePrcs::runBatchStep(const BATCHSTEP& step, CoreVars& vars, CoreAnsx& message, CoreAnsx& next) {
    const auto v = [&vars](const char* key) { return vars.getit(CoreAnsx(key)); };
    const auto failedStep = [&]() {
        message = CoreAnsx("FAILED ") + CoreAnsx(step.name);
        CoreLog_::loger(CoreAnsx("batch step ") + message, 1);
    };
    const auto notSaved = [&](const char* why) {
        message = kNotSaved;
        next = kEnd;
        CoreLog_::loger(
            CoreAnsx("batch step ") + CoreAnsx(step.name) + CoreAnsx(" saves nothing: ") + CoreAnsx(why), 1);
    };
    const auto loadedName = [&]() { return joined(v("LOADED"), program->getnm()); };
    const auto loading = [&]() { return joined(v("LOADING"), CoreButl::disps(v("NEWPROGRAM"))); };
    std::optional<EngineGuard> locks;
    if (step.locking == Locking::locked) locks.emplace(*this);

    switch (step.action) {
    case Action::readSetupClear:
    case Action::clearBank:
        commitProgram();
        memory->clear(v("BANK").ToInt());
        message = v("BANKCLEARED");
        break;
    case Action::readSetupFile:
        if (memory->loads(v("LIBRARY"), v("BANK").ToInt(), true))
            message = joined(v("LOADED"), v("LIBRARY"));
        else
            failedStep();
        break;
    case Action::loadFromCurrent:
        reloadProgram(memory->getck(currentslot, 1, nullptr, 1));
        message = loadedName();
        break;
    case Action::commit:
        commitProgram();
        message = loading();
        break;
    case Action::reloadSearched:
        reloadProgram(usedSlotFrom(v("NEWPROGRAM"), true));
        message = loadedName();
        break;
    case Action::reload:
        reloadProgram(usedSlotFrom(v("NEWPROGRAM"), false));
        message = loadedName();
        break;
    case Action::deleteProgram:
        memory->clrpr(v("PROG").ToInt());
        message = joined(v("DELETED"), v("PROG"));
        break;
    case Action::deleteOld:
        memory->clrpr(v("OLDPROGRAM").ToInt());
        message = joined(v("DELETED"), v("OLDPROGRAM"));
        break;
    case Action::move: {
        const int32_t from = v("OLDPROGRAM").ToInt(), to = v("NEWPROGRAM").ToInt();
        EngineGuard hold(*this);
        // Refused as the memory page refuses it: over the playing slot, the host chunk would hand
        // back the moved program while the old one plays on.
        if (from != to && loadedslot == to) {
            message = kNotMoved;
            next = kEnd;
            CoreLog_::loger(CoreAnsx("batch step ") + CoreAnsx(step.name) +
                                CoreAnsx(" moves nothing: the target slot plays"),
                            1);
            break;
        }
        memory->mvepr(from, to, true);
        // The playing program goes with its slot, and so does the current slot where it stood there (a
        // move sent without selecting the target first), so the host chunk keeps committing its edits.
        if (from != to && loadedslot == from && memory->getfp(to, true) != CoreAnsx("0")) {
            loadedslot = to;
            if (currentslot == from) currentslot = to;
        }
        message = joined(v("MOVED"), v("OLDPROGRAM"));
        break;
    }
    case Action::saveBank:
        if (memory->saves(v("LIBRARY"), v("BANK").ToInt()))
            message = joined(v("BANKSAVED"), v("BANKSTRING"));
        else
            failedStep();
        break;
    case Action::saveProgram:
        // After a fall-back the engine plays the INIT program: storing it would overwrite the slot
        // that failed to load.
        if (loadfallback) {
            notSaved("the last load fell back");
            break;
        }
        fixcd();
        memory->setvl(currentslot, programdoc->settc(false, false), true);
        message = v("SAVING");
        break;
    case Action::saveProgramFiles: {
        if (loadfallback) {
            notSaved("the last load fell back");
            break;
        }
        const SAVEOUTCOME outcome = exportProgram(0, -1, CoreAnsx("0"), false, -1, false, 1.0, -1);
        if (outcome == SAVEOUTCOME::refused)
            notSaved("the program's path is refused");
        else if (outcome == SAVEOUTCOME::failed)
            failedStep();
        else
            message = v("SAVING");
        break;
    }
    case Action::changeHybrid:
        program->setfh(v("BVFORCEHYBRID").Length() > 0);
        message = v("HYBRID");
        break;
    case Action::changeMono:
        program->setfm(v("BVFORCEMONO").Length() > 0);
        message = v("MONO");
        break;
    case Action::versioningStart:
        if (loadfallback) {
            notSaved("the last load fell back");
            break;
        }
        message = v("SAVING");
        break;
    case Action::versioning: {
        const SAVEOUTCOME outcome = versionProgram(v("VERSIONINGNAME"));
        if (outcome == SAVEOUTCOME::refused)
            notSaved("no version made");
        else if (outcome == SAVEOUTCOME::failed)
            failedStep();
        else
            message = v("SAVING");
        break;
    }
    case Action::test:
        if (batchsleep)
            batchsleep(kTestPauseMs);
        else
            CoreXutl::sleep(kTestPauseMs);
        message = "TEST";
        break;
    }
}

void CorePrcs::commitProgram() {
    if (loadfallback) return;
    fixcd();
    memory->setvl(currentslot, programdoc->settc(false, false), false);
}

int32_t CorePrcs::usedSlotFrom(const CoreAnsx& from, bool locked) {
    if (from.Length() < 1) return 0;
    if (!locked) return memory->getck(from.ToInt(), 1, nullptr, 1);
    EngineGuard hold(*this);
    return memory->getck(from.ToInt(), 1, nullptr, 1);
}

void CorePrcs::reloadProgram(int32_t slot) {
    ldpdm(slot, true);
    currentslot = slot;
    statechanged.store(true);
}

int32_t CorePrcs::versg(CoreAnsx name) {
    if (isfailed() || !booted()) return currentslot;
    versionProgram(name);
    return currentslot;
}

CorePrcs::SAVEOUTCOME CorePrcs::versionProgram(const CoreAnsx& name) {
    const auto refuse = [](const char* why) {
        CoreLog_::loger(CoreAnsx("no new version: ") + CoreAnsx(why), 1);
        return SAVEOUTCOME::refused;
    };
    if (loadfallback) return refuse("the last load fell back");
    const CoreAnsx file = name.Trim();
    if (file.Length() < 1) return refuse("no name");
    if (unsafePath(file)) return refuse("the name leaves the data folder");
    const int32_t current = currentslot;
    if (memory->getfp(current, true) == CoreAnsx("0")) return refuse("the current slot is free");
    const int32_t target = memory->getcf(current);
    if (target <= 0 || target == current) return refuse("no free slot");
    memory->mvepr(current, target, false);
    memory->fix_l(current);
    currentslot = target;
    setpf(file);
    {
        EngineGuard hold(*this);
        fixcd();
        memory->setvl(target, programdoc->settc(false, false), true);
        // The new version is what plays now: the host chunk commits its edits from here on.
        if (loadedslot == current) loadedslot = target;
    }
    // A packed version goes beside the original, where its slot finds it; its vector file name still
    // names the original's vector container. A loose one goes where the plain save puts it.
    const CoreAnsx beside = sFoundfolder.Length() > 0 ? sFoundfolder : sDatapath;
    return exportProgram(0, -1, memory->getwp(target) ? beside : CoreAnsx("0"), false, -1, false, 1.0, -1);
}
