// Raw vector preparation of CoreProg: the responses of the raw records read into their trees, one
// length per record, and each record's table handed to the raw functions that name it (see CoreProg.h).
#include "program/CoreProg.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "convolution/CoreRvct.h"
#include "filestore/CoreWave.h"
#include "modulation/CoreRfun.h"
#include "program/CoreEnvu.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

CoreRvct* rawAt(const CoreTlst* list, int i) {
    return static_cast<CoreRvct*>(list->Items[i]);
}

CoreAnsx quoted(const CoreAnsx& name) {
    return CoreAnsx("\"") + name + CoreAnsx("\"");
}

} // namespace

void CoreProg::starr() {
    CoreLog_::debug(CoreAnsx("starting raw reader"), 2, 5);
    for (int16_t r = 0; r < iCraws; ++r)
        if (pRaws[r].bActive) strer(r);
    for (int i = 0; i < iCrawfuns; ++i) pRawfuns[i]->chckv();
}

void CoreProg::strer(int16_t r) {
    const CoreAnsx number(static_cast<int>(r) + 1);
    CoreLog_::debug(CoreAnsx("starting raw ") + number, 2, 2);
    bool failed = false;
    try {
        if (r < 0 || r >= iCraws || !pRaws[r].bActive || pRaws[r].pRoot == nullptr)
            throw CoreAnsx("no raw vector tree");
        const RAWLOC& record = pRaws[r];
        if (CoreLog_::getdb() >= 3) {
            CoreLog_::debug(CoreAnsx("iVleafvectors:") + CoreAnsx(record.pLeafvectors->Count), 3, 3);
            CoreLog_::debug(CoreAnsx("iVcorevectors:") + CoreAnsx(record.pCorevectors->Count), 3, 3);
        }
        // The probe reads every response once to find the record's length; all of it is checked
        // before any response is kept.
        int32_t length = 0;
        {
            CoreEnvu probe(pPool, pFiles);
            for (int j = 0; j < record.pLeafvectors->Count; ++j) {
                const CoreRvct* leaf = rawAt(record.pLeafvectors, j);
                for (int k = 0; k < leaf->getne(); ++k) {
                    const CoreAnsx name = leaf->getfn(k);
                    if (probe.open_(name) == 0) {
                        CoreLog_::logfl(quoted(name), 1);
                        failed = true;
                        continue;
                    }
                    const int32_t elementLength = probe.getim()->getdm();
                    if (CoreLog_::getdb() >= 3)
                        CoreLog_::debug(CoreAnsx("opened ") + quoted(name) + CoreAnsx(":") +
                                            CoreAnsx(static_cast<int>(elementLength)),
                                        3, 3);
                    length = std::max(length, elementLength);
                }
            }
        }
        if (!failed) fillRaw(r, length);
    } catch (const CoreAnsx& cause) {
        if (cause.Length() > 0) CoreLog_::loger(CoreAnsx("RAW") + number + CoreAnsx(": ") + cause, 1);
        failed = true;
    } catch (...) {
        CoreLog_::loger(CoreAnsx("RAW") + number + CoreAnsx(": out of memory"), 1);
        failed = true;
    }
    CoreLog_::debug(CoreAnsx("end raw ") + number, 2, 3);
    if (failed) throw CoreAnsx("");
}

// The fill pass, the tree's output and the binding to the raw functions.
void CoreProg::fillRaw(int16_t r, int32_t length) {
    RAWLOC& record = pRaws[r];
    for (int j = 0; j < record.pLeafvectors->Count; ++j) {
        CoreRvct* leaf = rawAt(record.pLeafvectors, j);
        const int count = leaf->getne();
        std::vector<std::unique_ptr<CoreEnvu>> readers;
        std::vector<double*> data(static_cast<size_t>(count), nullptr);
        std::vector<int> lengths(static_cast<size_t>(count), 0);
        for (int k = 0; k < count; ++k) {
            readers.push_back(std::make_unique<CoreEnvu>(pPool, pFiles));
            // A file removed since the probe fails the record as the probe would have.
            const CoreAnsx name = leaf->getfn(k);
            if (readers.back()->open_(name) == 0 || readers.back()->getim() == nullptr) {
                CoreLog_::logfl(quoted(name), 1);
                throw CoreAnsx("");
            }
            lengths[k] = readers.back()->getim()->getdm();
            data[k] = readers.back()->getim()->getwv(0);
        }
        leaf->setre(length, count > 0 ? data.data() : nullptr, count > 0 ? lengths.data() : nullptr);
    }
    CoreRvct* root = record.pRoot;
    root->chncp(length, -1, -1);
    root->chnip();
    root->chnna(CoreAnsx("VECTOR") + CoreAnsx(static_cast<int>(r)));
    for (int i = 0; i < iCrawfuns; ++i)
        for (int t = 0; t < CoreRfun::iCsupportedraws; ++t)
            if (pRawfuns[i]->getfr(t) == record.sName)
                pRawfuns[i]->setvl(t, static_cast<double*>(root->getlc()), root->getcd());
}
