// The MIDI page: the eight MIDI controller slots with their learnt controller ("Ctr" fields the user
// may type into), last channel and value, learn switches and the user parameter each slot's control
// drives; the tempo, an activity mark and the master settings' SAVE button.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgt.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

namespace {

constexpr int kMidiSlots = 8;
constexpr int kUserParameters = 16;
constexpr short kFieldColumn = 8;
constexpr short kFieldWidth = 3;
constexpr short kLearnMarkColumn = 4;
constexpr short kChannelColumn = 16;
constexpr short kValueColumn = 24;
constexpr short kLearnButtonColumn = 32;
constexpr short kNameColumn = 38;
constexpr int kNameWidth = 10;

short slotRow(int slot) {
    return static_cast<short>(slot + 2);
}

} // namespace

void CoreDsif::midiEntry(PASS&) {
    pSelectors->reset(0, false, false, -1);
    label("", DataLclz::sCmidictrlabel, kFieldColumn, 1);
    label("", DataLclz::sCmidichlabel, kChannelColumn, 1);
    label("", DataLclz::sCmidivaluelabel, kValueColumn, 1);
    pFields->reset(kMidiSlots);
    wSmallpages.reset();
    CorePrcs::BEANSTRUCT none{};
    for (int i = 0; i < kMidiSlots; ++i) {
        const short y = slotRow(i);
        label("", CoreAnsx(DataLclz::sCmidimixlabel) + CoreButl::intas(i + 1) + ":", 0, y);
        pProcessor->setbh(180, static_cast<short>(i), &none);
        CoreDsed* field = pFields->gettx(static_cast<short>(i));
        field->defne(0, 1, kFieldColumn, y, kFieldWidth, true, CoreDsed::iCwhole);
        const int32_t controller = pProcessor->getbi(183, &none);
        field->setvi(controller);
        wSmallpages.keep(i, controller, *field);
        // The first shown user parameter whose pre-label names this slot's control.
        CoreAnsx name("(-)");
        for (int32_t j = 0; j < kUserParameters; ++j) {
            CorePrcs::BEANSTRUCT parameter{j, 0};
            if (!pProcessor->getbb(196, &parameter)) continue;
            if (pProcessor->getbs(197, &parameter) != CoreButl::intas(i + 1)) continue;
            name = pProcessor->getbs(198, &parameter).SubString(1, kNameWidth);
            break;
        }
        pGrid->write(name, kNameColumn, y, 0, false, false);
    }
}

void CoreDsif::midiRender(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->write(CoreButl::rpad_(CoreAnsx("  MidiMode"), iDimx, ' '), 0, 0, 1, false, false);
    const CoreAnsx tempo = CoreAnsx(pProcessor->getbd(34, &none)).SubString(1, 5);
    pGrid->write(CoreAnsx("BPM: ") + tempo, 35, 0, 1, false, false);
    upprm();
    pFields->focus(pass.column, pass.row, bPointerheld);
    pFields->draw_();
    // Reading the flag clears it: one pass shows each burst.
    if (pProcessor->getbb(59, &none))
        pGrid->write(CoreAnsx("IN"), 0, 1, 1, false, false);
    else
        pGrid->write(CoreAnsx("  "), 0, 1, 0, false, false);
    for (int i = 0; i < kMidiSlots; ++i) {
        const short y = slotRow(i);
        CoreDsed* field = pFields->gettx(static_cast<short>(i));
        pProcessor->setbh(180, static_cast<short>(i), &none);
        const int32_t status = pProcessor->getbi(182, &none);
        // A confirmed, changed "Ctr" edit becomes the slot's controller (the engine clears learning,
        // keeps the status and limits the number to 127).
        if (field && field->ischg() && wSmallpages.chngd(i, *field)) {
            const int32_t typed = field->getvi();
            if (typed >= 0) {
                CorePrcs::BEANSTRUCT record{status, typed};
                pProcessor->setbh(179, static_cast<short>(i), &record);
                pProcessor->setbh(180, static_cast<short>(i), &none);
            }
            wSmallpages.keep(i, typed, *field);
        }
        const bool learning = pProcessor->getbb(181, &none);
        const int32_t controller = pProcessor->getbi(183, &none);
        const int32_t channel = pProcessor->getbi(184, &none);
        const int32_t value = pProcessor->getbi(185, &none);
        if (field) {
            field->setvi(controller);
            // What a field shows while the user types is no load.
            if (!field->getar()) wSmallpages.keep(i, controller, *field);
        }
        pGrid->write(CoreButl::rpad_(CoreButl::intas(channel), 3, ' '), kChannelColumn, y, 0, false, false);
        pGrid->write(CoreButl::rpad_(CoreButl::intas(value), 3, ' '), kValueColumn, y, 0, false, false);
        if (drtb2(kLearnButtonColumn, y, "<", " ", learning, pass.column, pass.row)) {
            CorePrcs::BEANSTRUCT toggle{-1, -1};
            pProcessor->setbh(179, static_cast<short>(i), &toggle);
        }
        pGrid->write(CoreAnsx(learning ? "->" : "   "), kLearnMarkColumn, y, 0, false, false);
    }
    if (drbtn(50, 1, "  SAVE  ", pass.column, pass.row)) savem();
}
