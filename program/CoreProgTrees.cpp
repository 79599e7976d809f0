// The reader steps of CoreProg for the harmonic and raw sections, the vector-tree readers they call and
// the clean-up of a tree that failed half-way (see CoreProg.h).
#include "program/CoreProg.h"

#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "convolution/CoreRvct.h"
#include "convolution/CoreVctr.h"
#include "filestore/CoreFsys.h"
#include "program/DataXml_.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

const CoreAnsx separator(":");
const char poolTag[] = "PRG2";
const int16_t poolDoubles = 0;
const int16_t poolInts = 2;

CoreAnsx numbered(const CoreAnsx& tag, int n) {
    return tag + CoreAnsx(n);
}

// Debug lines of the walk are only built when the log takes them.
bool tracing() {
    return CoreLog_::getdb() >= 3;
}

void trace(const CoreAnsx& text, int32_t indent) {
    CoreLog_::debug(text, indent, 3);
}

CoreAnsx number(double value) {
    return CoreAnsx(value);
}

CoreAnsx number(int32_t value) {
    return CoreAnsx(static_cast<int>(value));
}

// A temporary pool block, freed when the level ends whichever way.
class PoolBlock {
public:
    PoolBlock(CorePool* pool, int16_t type, int count)
        : pPool(pool), pBlock(count > 0 ? pool->mallc(type, count, poolTag) : nullptr) {}
    ~PoolBlock() {
        if (pBlock != nullptr) pPool->free_(pBlock);
    }
    PoolBlock(const PoolBlock&) = delete;
    PoolBlock& operator=(const PoolBlock&) = delete;
    template <typename T>
    T* as() const {
        return static_cast<T*>(pBlock);
    }

private:
    CorePool* pPool;
    void* pBlock;
};

// Every vector of a list is unlinked from its children before any is deleted: the lists hold every
// node of a tree once, so each node goes exactly once, whatever of the tree was built.
void unlinkListed(CoreTlst* list) {
    for (int i = 0; list != nullptr && i < list->Count; ++i) static_cast<CoreVctr*>(list->Items[i])->ulink();
}

// Text whose first character, past blanks and byte-order marks, opens a tag. (Zero bytes are
// already gone, so the marks of UTF-16 text are two single bytes.)
bool isDocument(const std::string& bytes) {
    for (const char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == ' ' || u == '\t' || u == '\r' || u == '\n' || u == 0xEF || u == 0xBB || u == 0xBF ||
            u == 0xFE || u == 0xFF)
            continue;
        return c == '<';
    }
    return false;
}

void deleteListed(CoreTlst* list) {
    if (list == nullptr) return;
    for (int i = 0; i < list->Count; ++i) delete static_cast<CoreVctr*>(list->Items[i]);
    list->Clear();
}

} // namespace

struct CoreProg::TreeWalk {
    TreeWalk(CorePool* pool, CorePlel* registry, CoreFsys* files, HLOC* records, DataSrce* sources, int16_t h,
             const CoreAnsx& folder, int32_t forcedOffset, int16_t capacity)
        : pool(pool), registry(registry), files(files), sources(sources), record(h),
          convolver(records != nullptr ? records[h].pConvolver : nullptr), regular(h < capacity),
          leafVectors(records != nullptr ? records[h].pLeafvectors : nullptr),
          coreVectors(records != nullptr ? records[h].pCorevectors : nullptr), folder(folder),
          forcedOffset(forcedOffset), raw(false) {}
    TreeWalk(CorePool* pool, CorePlel* registry, CoreFsys* files, RAWLOC* raws, DataSrce* sources, int16_t r,
             const CoreAnsx& folder)
        : pool(pool), registry(registry), files(files), sources(sources), record(r), convolver(nullptr),
          regular(false), leafVectors(raws != nullptr ? raws[r].pLeafvectors : nullptr),
          coreVectors(raws != nullptr ? raws[r].pCorevectors : nullptr), folder(folder), forcedOffset(-1),
          raw(true) {}

    CorePool* pool;
    CorePlel* registry;
    CoreFsys* files;
    DataSrce* sources;
    int16_t record;
    CoreCnvl* convolver;
    bool regular; // a harmonic record, not the hybrid one
    CoreTlst* leafVectors;
    CoreTlst* coreVectors;
    CoreAnsx folder;
    int32_t forcedOffset; // microseconds; negative: none
    bool raw;             // a raw tree: fewer keys, CoreRvct nodes
    // The vector files being read, outermost first (upper-cased, as the store keys them): a file that
    // names itself, directly or through others, would be read without end.
    mutable std::vector<std::string> openFiles;
    // Vector nodes begun and vector files read against the program's budget: the program's counts
    // when it reads all its trees, else this walk's own.
    mutable int32_t ownVectors = 0;
    mutable int32_t ownFiles = 0;
    int32_t* vectorsBegun = &ownVectors;
    int32_t* filesRead = &ownFiles;

    TreeWalk(const TreeWalk&) = delete; // the counters may point into the walk itself
    TreeWalk& operator=(const TreeWalk&) = delete;
    TreeWalk& countingIn(int32_t& vectors, int32_t& files) {
        vectorsBegun = &vectors;
        filesRead = &files;
        return *this;
    }
    // One more unit of what counter counts; past limit the walk fails with a log line naming it.
    void spend(int32_t* counter, int32_t limit, const char* what) const {
        if (++*counter <= limit) return;
        const CoreAnsx cause =
            CoreAnsx("Vector trees of one program need more than ") + CoreAnsx(limit) + CoreAnsx(what);
        CoreLog_::loger(cause, 1);
        throw cause;
    }
};

// ---- harmonic and raw sections ------------------------------------------------------------------------

void CoreProg::rdhrm(CoreNode* program) {
    iHarmonicsloaded = 0;
    iTreevectors = 0; // the budget of the program's trees, the raw ones included
    iTreefiles = 0;
    for (int h = 0; h < iCapacity; ++h) {
        const CoreAnsx tag = numbered(DataXml_::sCtagrooth_, h + 1);
        sCurrenttag = tag;
        CoreLog_::debug(DataXml_::sCtagrooth_ + separator + tag, 2, 3);
        if (!program->exslc(tag)) break; // later sections are never read
        CoreLog_::debug(tag, 2, 3);
        CoreNode* section = program->getcd(tag);
        CoreNode* element = section->getcd(DataXml_::sCtagelemnt);

        HLOC& record = pHarmonics[h];
        sCurrenttag = DataXml_::sCtagelemnt;
        iDepth = 1;
        sFilepath = CoreAnsx("");
        record.bValid = true;
        record.pRoot = readRoot(TreeWalk(pPool, pRegistry, pFiles, pHarmonics, pSources,
                                         static_cast<int16_t>(h), sVectorfolder, iForcedoffsetus, iCapacity)
                                    .countingIn(iTreevectors, iTreefiles),
                                element, iDepth, sFilepath);
        record.bThirdon = false;
        HLOC* hybrid = nullptr;
        if (bForcehybrid && h == 0) {
            // The hybrid record plays harmonic 0's elements, so its tree starts from the same empty
            // path: a FILEPATH met late in the first tree must not rename its early elements.
            hybrid = &pHarmonics[iCapacity];
            iDepth = 1;
            sFilepath = CoreAnsx("");
            hybrid->bValid = true;
            hybrid->pRoot = readRoot(TreeWalk(pPool, pRegistry, pFiles, pHarmonics, pSources, iCapacity,
                                              sVectorfolder, iForcedoffsetus, iCapacity)
                                         .countingIn(iTreevectors, iTreefiles),
                                     element, iDepth, sFilepath);
        } else if (section->exslc(DataXml_::sCtagfrcot2)) {
            record.bThirdon = section->getld(DataXml_::sCtagfrcot2) > 0.0;
            CoreLog_::debug(DataXml_::sCtagfrcot2, 3, 3);
        }

        // Files keep TRAINTHRESHOLD under the ELEMENT or under the section; the hybrid record
        // aligns like harmonic 0, so it takes the same threshold.
        sCurrenttag = tag;
        const CoreAnsx& threshold = DataXml_::sCtagtraint;
        const CoreNode* holder = element->exslc(threshold)   ? element
                                 : section->exslc(threshold) ? section
                                                             : nullptr;
        record.dTrainthreshold = 0.0;
        if (holder != nullptr) {
            record.dTrainthreshold = linearGain(holder, threshold);
            CoreLog_::debug(threshold + separator + CoreAnsx(record.dTrainthreshold), 3, 3);
        }
        if (hybrid != nullptr) hybrid->dTrainthreshold = record.dTrainthreshold;
        ++iHarmonicsloaded;
    }
    if (iHarmonicsloaded == 0) {
        sCurrenttag = numbered(DataXml_::sCtagrooth_, 1);
        throw CoreAnsx("");
    }
}

void CoreProg::rdraw(CoreNode* program) {
    for (int r = 0; r < iCraws; ++r) {
        const CoreAnsx tag = numbered(DataXml_::sCtagrootrw, r + 1);
        sCurrenttag = tag;
        if (!program->exslc(tag)) continue;
        CoreLog_::debug(tag, 2, 3);
        CoreNode* element = program->getcd(tag)->getcd(DataXml_::sCtagelemnt);
        sCurrenttag = DataXml_::sCtagelemnt;
        iDepth = 1;
        sFilepath = CoreAnsx("");
        pRaws[r].bActive = true;
        pRaws[r].pRoot = static_cast<CoreRvct*>(readRoot(
            TreeWalk(pPool, pRegistry, pFiles, pRaws, pSources, static_cast<int16_t>(r), sVectorfolder)
                .countingIn(iTreevectors, iTreefiles),
            element, iDepth, sFilepath));
    }
}

void CoreProg::dlvct() {
    for (int h = 0; h <= iCapacity; ++h) {
        HLOC& record = pHarmonics[h];
        unlinkListed(record.pLeafvectors);
        unlinkListed(record.pCorevectors);
        deleteListed(record.pLeafvectors);
        deleteListed(record.pCorevectors);
        record.pRoot = nullptr; // listed, so already deleted
        releaseRoot(record);
    }
    for (int r = 0; r < iCraws; ++r) {
        RAWLOC& record = pRaws[r];
        unlinkListed(record.pLeafvectors);
        unlinkListed(record.pCorevectors);
        deleteListed(record.pLeafvectors);
        deleteListed(record.pCorevectors);
        record.pRoot = nullptr;
    }
}

// ---- tree readers
// -------------------------------------------------------------------------------------------

CoreVctr* CoreProg::elmnt(CorePool* pool, CorePlel* registry, CoreFsys* files, HLOC* records,
                          DataSrce* sources, int16_t h, CoreNode* element, bool& leaf, CoreAnsx& name,
                          double& weight, double& busWeight, int32_t& depth, CoreAnsx& path, CoreAnsx folder,
                          int32_t forcedOffset, int16_t capacity) {
    const TreeWalk walk(pool, registry, files, records, sources, h, folder, forcedOffset, capacity);
    return readElement(walk, element, leaf, name, weight, busWeight, depth, path);
}

CoreVctr* CoreProg::elmnt(CorePool* pool, CorePlel* registry, CoreFsys* files, HLOC* records,
                          DataSrce* sources, int16_t h, CoreNode* element, int32_t& depth, CoreAnsx& path,
                          CoreAnsx folder, int32_t forcedOffset, int16_t capacity) {
    const TreeWalk walk(pool, registry, files, records, sources, h, folder, forcedOffset, capacity);
    return readRoot(walk, element, depth, path);
}

CoreVctr* CoreProg::vectr(CorePool* pool, CorePlel* registry, CoreFsys* files, HLOC* records,
                          DataSrce* sources, int16_t h, CoreNode* vector, int32_t& depth, CoreAnsx& path,
                          CoreAnsx folder, int32_t forcedOffset, int16_t capacity) {
    const TreeWalk walk(pool, registry, files, records, sources, h, folder, forcedOffset, capacity);
    return readVector(walk, vector, depth, path);
}

CoreRvct* CoreProg::relmn(CorePool* pool, CorePlel* registry, CoreFsys* files, RAWLOC* raws,
                          DataSrce* sources, int16_t r, CoreNode* element, bool& leaf, CoreAnsx& name,
                          double& weight, double& busWeight, int32_t& depth, CoreAnsx& path,
                          CoreAnsx folder) {
    const TreeWalk walk(pool, registry, files, raws, sources, r, folder);
    return static_cast<CoreRvct*>(readElement(walk, element, leaf, name, weight, busWeight, depth, path));
}

CoreRvct* CoreProg::relmn(CorePool* pool, CorePlel* registry, CoreFsys* files, RAWLOC* raws,
                          DataSrce* sources, int16_t r, CoreNode* element, int32_t& depth, CoreAnsx& path,
                          CoreAnsx folder) {
    const TreeWalk walk(pool, registry, files, raws, sources, r, folder);
    return static_cast<CoreRvct*>(readRoot(walk, element, depth, path));
}

CoreRvct* CoreProg::rvctr(CorePool* pool, CorePlel* registry, CoreFsys* files, RAWLOC* raws,
                          DataSrce* sources, int16_t r, CoreNode* vector, int32_t& depth, CoreAnsx& path,
                          CoreAnsx folder) {
    const TreeWalk walk(pool, registry, files, raws, sources, r, folder);
    return static_cast<CoreRvct*>(readVector(walk, vector, depth, path));
}

CoreVctr* CoreProg::readRoot(const TreeWalk& walk, CoreNode* element, int32_t& depth, CoreAnsx& path) {
    // The record must get a root: a leaf, or an element that names neither a vector nor a file, gives
    // none (and the record would stay in use without a tree).
    CoreVctr* root = nullptr;
    if (element != nullptr &&
        (element->exslc(DataXml_::sCtagvector) || element->exslc(DataXml_::sCtagfilenm))) {
        bool leaf = false;
        CoreAnsx name("");
        double weight = 0.0;
        double busWeight = 0.0;
        root = readElement(walk, element, leaf, name, weight, busWeight, depth, path);
    }
    if (root == nullptr) {
        CoreLog_::logtg(DataXml_::sCtagelemnt, 1);
        throw CoreAnsx(DataXml_::sCtagelemnt);
    }
    return root;
}

CoreVctr* CoreProg::readElement(const TreeWalk& walk, CoreNode* element, bool& leaf, CoreAnsx& name,
                                double& weight, double& busWeight, int32_t& depth, CoreAnsx& path) {
    depth += 1;
    trace(DataXml_::sCtagelemnt, depth);
    leaf = false;
    CoreAnsx tag("");
    try {
        CoreVctr* result = nullptr;
        if (element->exslc(DataXml_::sCtagvector)) {
            result = readVector(walk, element->getcd(DataXml_::sCtagvector), depth, path);
        } else if (element->exslc(DataXml_::sCtagfilenm)) {
            // A FILEPATH stays in force for everything read after it in this tree.
            if (element->exslc(DataXml_::sCtagfilept)) path = element->getls(DataXml_::sCtagfilept);
            const CoreAnsx full = walk.folder + path + element->getls(DataXml_::sCtagfilenm);
            if (tracing()) trace(DataXml_::sCtagfilenm + separator + full, depth + 1);
            if (!element->exslc(DataXml_::sCtagcontrl)) {
                leaf = true; // an impulse-response file
            } else {
                try {
                    const std::string key = full.UpperCase().c_str();
                    for (const std::string& open : walk.openFiles)
                        if (open == key) throw CoreAnsx("");
                    walk.spend(walk.filesRead, iCtreefiles, " vector file readings");
                    const CoreAnsx text = getas(walk.pool, walk.files, full);
                    if (text == CoreAnsx("0")) throw CoreAnsx("");
                    CoreXml_ document;
                    const CoreNode* root = document.getfc(text);
                    tag = DataXml_::sCtagvector;
                    CoreNode* vector = root != nullptr ? root->getcd(DataXml_::sCtagvector) : nullptr;
                    if (vector == nullptr) throw CoreAnsx("");
                    walk.openFiles.push_back(key);
                    result = readVector(walk, vector, depth, path);
                    walk.openFiles.pop_back(); // a failure abandons the whole walk
                } catch (...) {
                    CoreLog_::logfl(full, 1);
                    throw CoreAnsx("");
                }
            }
            name = full;
        } else {
            // Below a vector this would be an element with nothing to play or to control.
            tag = DataXml_::sCtagfilenm;
            throw CoreAnsx(tag);
        }

        tag = DataXml_::sCtagweight;
        weight = element->getld(DataXml_::sCtagweight);
        busWeight = element->getld(DataXml_::sCtagbuswgt);
        if (tracing()) {
            trace(DataXml_::sCtagweight + separator + number(weight), depth + 1);
            trace(DataXml_::sCtagbuswgt + separator + number(busWeight), depth + 1);
        }

        if (result != nullptr && element->exslc(DataXml_::sCtagcontrl)) {
            const CoreNode* control = element->getcd(DataXml_::sCtagcontrl);
            const bool sourceOn = control->exslc(DataXml_::sCtagsource);
            const CoreAnsx source = control->getls(DataXml_::sCtagsource);
            const bool busOn = control->exslc(DataXml_::sCtagbussrc);
            const CoreAnsx busSource = control->getls(DataXml_::sCtagbussrc);
            // Without its own range the control takes the child vector's.
            double minimum = result->getmn();
            double maximum = result->getmx();
            if (sourceOn && control->exslc(DataXml_::sCtagmnvalu)) {
                minimum = control->getld(DataXml_::sCtagmnvalu);
                tag = DataXml_::sCtagmxvalu;
                maximum = control->getld(DataXml_::sCtagmxvalu);
            }
            CoreAnsx line("");
            if (tracing())
                line = DataXml_::sCtagcontrl + separator + CoreAnsx(sourceOn ? "S:" : "-:") +
                       number(minimum) + separator + number(maximum) + separator + source + separator +
                       CoreAnsx(busOn ? "B:" : "-:") + busSource + separator;
            if (walk.raw) {
                static_cast<CoreRvct*>(result)->setvl(sourceOn, minimum, maximum, source, busOn, busSource);
            } else {
                const double pad = linearGain(control, DataXml_::sCtaggainpd);
                const CoreAnsx padSource = CoreNode::gtnls(control, DataXml_::sCtaggainps, CoreAnsx("ON"));
                const double handle = CoreNode::gtnld(control, DataXml_::sCtaggainhd, result->getmn());
                const bool limiterOn = control->exslc(DataXml_::sCtaggainlm);
                const double limiter = limiterOn ? control->getld(DataXml_::sCtaggainlm) : 1.0;
                const bool panned = control->exslc(DataXml_::sCtagpanfct);
                const double pan = control->getld(DataXml_::sCtagpanfct) / 90.0; // degrees
                const CoreAnsx panSource =
                    panned ? CoreNode::gtnls(control, DataXml_::sCtagpnsrce, CoreAnsx("OFF"))
                           : CoreAnsx("OFF");
                const bool gainOn = control->exslc(DataXml_::sCtaggnsrce);
                const CoreAnsx gainSource = gainOn ? control->getls(DataXml_::sCtaggnsrce) : CoreAnsx("OFF");
                result->setvl(sourceOn, minimum, maximum, source, busOn, busSource, pan, panSource, pad,
                              padSource, gainOn, gainSource, limiterOn, handle, limiter);
                if (tracing())
                    line += number(pad) + separator + padSource + separator + number(handle) + separator +
                            (gainOn ? gainSource + separator : CoreAnsx("-:")) + number(limiter) + separator +
                            number(pan) + separator + panSource;
            }
            if (tracing()) trace(line, depth + 1);
        }
        depth -= 1;
        return result;
    } catch (...) {
        CoreLog_::logtg(tag, 1);
        throw CoreAnsx(tag);
    }
}

CoreVctr* CoreProg::readVector(const TreeWalk& walk, CoreNode* vector, int32_t& depth, CoreAnsx& path) {
    depth += 1;
    trace(DataXml_::sCtagvector, depth);
    if (walk.pool == nullptr || walk.leafVectors == nullptr || walk.coreVectors == nullptr)
        throw CoreAnsx("Vector tree without a memory pool or a record");
    // One document nests at most that deep; a chain of vector files may not go deeper either, so that
    // no file set can exhaust the stack of the loading thread.
    if (depth > CoreXml_::iCmaxdepth) throw CoreAnsx("Vector tree nested too deep");
    walk.spend(walk.vectorsBegun, iCtreevectors, " vectors");
    // Fade-out and length of the short (0) and the long (1) stage kernel.
    const PoolBlock fadeOutBlock(walk.pool, poolInts, walk.raw ? 0 : 2);
    const PoolBlock lengthBlock(walk.pool, poolInts, walk.raw ? 0 : 2);
    int* fadeOuts = fadeOutBlock.as<int>();
    int* lengths = lengthBlock.as<int>();
    CoreAnsx tag("");
    try {
        // A vector without COMMON reads every COMMON default (one-level vector files have none).
        tag = DataXml_::sCtagcommon;
        const CoreNode* common = vector->getcd(DataXml_::sCtagcommon);
        tag = DataXml_::sCtagmnvalu;
        const double minimum = CoreNode::gtnld(common, DataXml_::sCtagmnvalu, 0.0);
        tag = DataXml_::sCtagmxvalu;
        const double maximum = CoreNode::gtnld(common, DataXml_::sCtagmxvalu, 0.0);
        const double busMinimum = CoreNode::gtnld(common, DataXml_::sCtagmnbusv, 0.0);
        const double busMaximum = CoreNode::gtnld(common, DataXml_::sCtagmxbusv, 0.0);
        tag = DataXml_::sCtaguntval;
        const CoreAnsx unit =
            walk.raw ? CoreAnsx("") : CoreNode::gtnls(common, DataXml_::sCtaguntval, CoreAnsx(""));
        tag = DataXml_::sCtagliquid;
        const double liquid = CoreNode::gtnld(common, DataXml_::sCtagliquid, 0.0) / 100.0; // percent

        int32_t offset = 0;
        int32_t fadeIn = 0;
        if (!walk.raw) {
            tag = DataXml_::sCtagoffset;
            offset = CoreNode::gtnli(common, DataXml_::sCtagoffset, 0);
            if (walk.forcedOffset >= 0 && offset > walk.forcedOffset) offset = walk.forcedOffset;
            tag = DataXml_::sCtagfadein;
            fadeIn = CoreNode::gtnli(common, DataXml_::sCtagfadein, 0);
            if (fadeIn > offset) fadeIn = offset;
            bool staged = false;
            for (int k = 0; k < 2; ++k) {
                tag = numbered(DataXml_::sCtagopttyp, k + 1);
                fadeOuts[k] = 0;
                lengths[k] = 0;
                if (common == nullptr || !common->exslc(tag)) continue;
                staged = true;
                const CoreNode* stage = common->getcd(tag);
                fadeOuts[k] = CoreNode::gtnli(stage, DataXml_::sCtagfadeou, 0);
                lengths[k] = CoreNode::gtnli(stage, DataXml_::sCtaglength, 0);
            }
            if (!staged) { // the single-pair form: only the short stage, both lengths unset
                lengths[1] = -1;
                tag = DataXml_::sCtagfadeou;
                fadeOuts[0] = CoreNode::gtnli(common, DataXml_::sCtagfadeou, 0);
                tag = DataXml_::sCtaglength;
                lengths[0] = CoreNode::gtnli(common, DataXml_::sCtaglength, -1);
            }
        }
        const CoreAnsx liquidSource = CoreNode::gtnls(common, DataXml_::sCtaglqsrce, CoreAnsx("ON"));
        const bool switching = CoreNode::gtnld(common, DataXml_::sCtagswtchm, 0.0) > 0.0;

        tag = DataXml_::sCtagelemnt;
        std::vector<CoreNode*> elements;
        CoreTlst* nodes = vector->getcn();
        for (int i = 0; nodes != nullptr && i < nodes->Count; ++i) {
            CoreNode* node = static_cast<CoreNode*>(nodes->Items[i]);
            if (node->gettx().Trim().UpperCase() == DataXml_::sCtagelemnt) elements.push_back(node);
        }
        const int count = static_cast<int>(elements.size());
        std::vector<CoreAnsx> names(elements.size());
        std::vector<CoreVctr*> children(elements.size(), nullptr);
        const PoolBlock weightBlock(walk.pool, poolDoubles, count);
        const PoolBlock busWeightBlock(walk.pool, poolDoubles, count);
        double* weights = weightBlock.as<double>();
        double* busWeights = busWeightBlock.as<double>();
        bool allLeaf = true;
        int firstLeaf = -1;
        for (int i = 0; i < count; ++i) {
            bool leaf = false;
            names[i] = CoreAnsx("");
            weights[i] = 0.0;
            busWeights[i] = 0.0;
            children[i] =
                readElement(walk, elements[i], leaf, names[i], weights[i], busWeights[i], depth, path);
            allLeaf = allLeaf && leaf;
            if (leaf && firstLeaf < 0) firstLeaf = i;
        }
        // Kernels are prepared for the elements of leaf vectors only, so the files of a vector that
        // also holds vectors stay silent. Stored programs may rely on such a file loading.
        if (!allLeaf && firstLeaf >= 0)
            CoreLog_::debug(CoreAnsx("Warning: a VECTOR mixes files and vectors, its files play silence: ") +
                                names[firstLeaf],
                            0, 1);

        int16_t fadeInCurve = -1;
        int16_t fadeOutCurve = -1;
        if (!walk.raw) {
            tag = DataXml_::sCtagfadeic;
            fadeInCurve = shortValue(common, DataXml_::sCtagfadeic, -1);
            tag = DataXml_::sCtagfadeoc;
            fadeOutCurve = shortValue(common, DataXml_::sCtagfadeoc, -1);
        }

        // Should the constructor throw, the children stay listed and the lists free them.
        CoreAnsx* nameArray = count > 0 ? names.data() : nullptr;
        CoreVctr** childArray = count > 0 ? children.data() : nullptr;
        CoreVctr* node =
            walk.raw ? new CoreRvct(walk.pool, walk.registry, allLeaf, count, nameArray, childArray, weights,
                                    minimum, maximum, busWeights, busMinimum, busMaximum, walk.sources,
                                    liquid, liquidSource)
                     : new CoreVctr(walk.pool, walk.registry, walk.record, walk.convolver, allLeaf, count,
                                    nameArray, weights, childArray, minimum, maximum, busWeights, busMinimum,
                                    busMaximum, unit, walk.sources, liquid, liquidSource, offset, fadeIn,
                                    fadeOuts, lengths, switching, fadeInCurve, fadeOutCurve, walk.regular);
        if (!(allLeaf ? walk.leafVectors : walk.coreVectors)->Add(node)) {
            node->ulink(); // the children are listed: only this node goes
            delete node;
            throw CoreAnsx("Vector list full");
        }

        if (tracing()) {
            CoreAnsx line = DataXml_::sCtagcommon + separator + number(count) + separator +
                            CoreAnsx(allLeaf ? "L:" : "T:") + number(minimum) + separator + number(maximum) +
                            separator + number(busMinimum) + separator + number(busMaximum) + separator;
            if (!walk.raw) line += unit + separator;
            line += number(liquid) + separator + liquidSource + separator;
            if (!walk.raw)
                line += number(offset) + separator + number(fadeIn) + separator + number(fadeOuts[0]) +
                        separator + number(lengths[0]) + separator;
            trace(line + CoreAnsx(switching ? "S" : "C"), depth + 1);
        }
        depth -= 1;
        return node;
    } catch (...) {
        CoreLog_::logtg(tag, 1);
        throw CoreAnsx(tag);
    }
}

CoreAnsx CoreProg::getas(CorePool*, CoreFsys* files, CoreAnsx name) {
    const CoreAnsx unreadable("0");
    if (files == nullptr) return unreadable;
    const int32_t id = files->crtit(name);
    if (id < 0) return unreadable;
    const bool opened = files->wopen(id, CoreAnsx("r"));
    std::string bytes;
    if (opened) {
        std::vector<char> chunk(65536);
        while (files->weof_(id) == 0) {
            const int32_t got = files->wread(id, chunk.data(), 1, static_cast<int32_t>(chunk.size()));
            if (got <= 0) break;
            for (int32_t i = 0; i < got; ++i)
                if (chunk[i] != 0) bytes += chunk[i];
        }
        files->wclse(id);
    }
    // Anything but a document stays as the store holds it, for the reader it belongs to.
    if (opened && !isDocument(bytes)) {
        CoreLog_::logfl(name + CoreAnsx(": not an XML document"), 1);
        return unreadable;
    }
    // Kept in memory, a failure too: later references to the name fail the same way at once.
    const CoreAnsx text = opened ? CoreAnsx(bytes.c_str()) : unreadable;
    if (!files->isvld(id)) {
        const int32_t size = opened ? static_cast<int32_t>(bytes.size()) : 1;
        files->setit(id, text.c_str(), size, CoreAnsx("0"), false, false);
    }
    return text;
}
