// The page renderer: one pass of the display, the boot, error and batch pages, the soft-key row and
// the message pollers.
#include "display/CoreDsif.h"

// ---- to be completed
void CoreDsif::updte(bool) {}
void CoreDsif::drmnu(bool) {}
void CoreDsif::fnmnu(short) {}
bool CoreDsif::getmp(short&, short&, int&, int&, bool&) { return false; }
bool CoreDsif::wasbp() { return false; }
int32_t CoreDsif::getst() { return -1; }
void CoreDsif::getmw() {}
void CoreDsif::bootPage(PASS&) {}
void CoreDsif::batchEntry(PASS&) {}
void CoreDsif::batchPage(PASS&) {}
void CoreDsif::drawAddArea() {}
void CoreDsif::placeholderEntry(PASS&) {}
void CoreDsif::placeholderRender(PASS&) {}
void CoreDsif::runStep(PageStep, PASS&, bool) {}
const std::array<CoreDsif::PAGE, CoreDsif::iCpages>& CoreDsif::pageTable() {
    static const std::array<PAGE, iCpages> pages{};
    return pages;
}
