// CoreMmry: the host chunk's text. dumpo writes one slot as SETUP > SELECTEDPROGRAM, PROGRAM (the
// slot's program followed by SEQUENCE, ORIGINALFILENAME, VECTORFILENAME and WASCRYPTED); dumpi puts
// the PROGRAM elements of such a text back into slots. The chunk comes from the host's project, so
// dumpi takes nothing on trust: it parses before touching a slot and skips what it cannot place.
#include "processor/CoreMmry.h"

#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "program/DataXml_.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

const CoreAnsx kNone("0");

CoreAnsx refused(const CoreAnsx& reason) {
    const CoreAnsx message = CoreAnsx("Host chunk: ") + reason;
    CoreLog_::loger(message, 1);
    return message;
}

// A slot number read from the chunk, compared before truncating so that 9999.5 or 1e300 never
// becomes a slot; -1 when outside 0 .. 9999.
int32_t slotNumber(double value) {
    if (!(value >= 0.0 && value <= CoreMmry::iCmemorydim - 1)) return -1;
    return static_cast<int32_t>(value);
}

// "<tag>value</tag>" with value as its one child; the value node's kind decides how it is written.
CoreNode* wrapped(const CoreAnsx& tag, CoreNode* value) {
    auto element = std::make_unique<CoreNode>(tag);
    element->addcd(value);
    return element.release();
}

// The slot's fields that the chunk's PROGRAM carries after the program's own elements.
constexpr int kSlotFields = 4;

const CoreAnsx& slotFieldTag(int field) {
    switch (field) {
    case 0:
        return DataXml_::sCtagsequen;
    case 1:
        return DataXml_::sCtagorgfnm;
    case 2:
        return DataXml_::sCtagactvnm;
    default:
        return DataXml_::sCtagwaspac;
    }
}

CoreNode* slotField(const CoreMmry::MEMORYLOC& loc, int32_t n, int field) {
    switch (field) {
    case 0:
        return new CoreNode(static_cast<int>(n));
    case 1:
        return new CoreNode(loc.filepath);
    case 2:
        return new CoreNode(loc.vectorname);
    default:
        return new CoreNode(loc.packed);
    }
}

// The chunk text of slot n written from the slot's tree, without copying the program. Only for a
// program element (the first top-level one) that holds child elements alone: there a read-back copy
// and the slot's tree agree on which children the slot fields replace. False leaves the copy to dumpo.
bool writeProgram(const CoreMmry::MEMORYLOC& loc, int32_t n, std::string& out) {
    CoreNode* program = loc.document->getrt()->pfind(&DataXml_::sCtagprogrm, 1);
    const CoreTlst* children = program ? program->getcn() : nullptr;
    if (!children || children->Count == 0) return false;
    for (int i = 0; i < children->Count; ++i) {
        const CoreTlst* grandchildren = static_cast<const CoreNode*>(children->Items[i])->getcn();
        if (!grandchildren || grandchildren->Count == 0) return false;
    }
    std::vector<const CoreNode*> replaced;
    std::vector<std::unique_ptr<CoreNode>> fields;
    std::vector<const CoreNode*> appended;
    for (int i = 0; i < kSlotFields; ++i) {
        if (const CoreNode* old = program->pfind(&slotFieldTag(i), 1)) replaced.push_back(old);
        fields.emplace_back(wrapped(slotFieldTag(i), slotField(loc, n, i)));
        appended.push_back(fields.back().get());
    }
    const std::unique_ptr<CoreNode> selected(
        wrapped(DataXml_::sCtagselprg, new CoreNode(static_cast<double>(n))));
    out = std::string(CoreXml_::sCopenytag) + DataXml_::sCtagsetup_.c_str() + CoreXml_::sCclsextag;
    CoreXml_::setec(selected.get(), 1, out);
    if (!CoreXml_::setec(program, 1, out, replaced, appended)) return false;
    out += CoreXml_::sCopenntag;
    out += DataXml_::sCtagsetup_.c_str();
    out += CoreXml_::sCclsextag;
    return true;
}

CoreAnsx trimmedValue(const CoreNode* program, const CoreAnsx& tag) {
    return program->exslc(tag) ? program->getlc(tag).Trim() : CoreAnsx("");
}

// A PROGRAM holding text alone, or nothing, is no program: every program the system writes holds
// elements, and the writers leave the text out once the slot fields are added beside it.
bool holdsElements(const CoreNode* program) {
    const CoreTlst* children = program->getcn();
    for (int i = 0; children && i < children->Count; ++i) {
        const CoreTlst* grandchildren = static_cast<const CoreNode*>(children->Items[i])->getcn();
        if (grandchildren && grandchildren->Count > 0) return true;
    }
    return false;
}

} // namespace

CoreAnsx CoreMmry::dumpo(int32_t n) {
    CoreSgrd guard(oLock);
    if (!within(n, iCmemorydim)) throw refused(CoreAnsx("no slot ") + CoreAnsx(n));
    MEMORYLOC& loc = slot(n);
    if (!loc.used) throw refused(CoreAnsx("slot ") + CoreAnsx(n) + " is free");
    if (loc.lazy) loadl(n, loc.filepath);
    if (!loc.document || !loc.document->getrt())
        throw refused(CoreAnsx("slot ") + CoreAnsx(n) + " has no program: " + loc.filepath);

    // The chunk's PROGRAM is the slot's program as written and read back once, its slot fields
    // replaced and put last. Written straight from the slot's tree when that gives the same bytes,
    // through a copy of its text otherwise.
    std::string text;
    if (writeProgram(loc, n, text)) return CoreAnsx(text.c_str());

    CoreXml_ chunk;
    chunk.pappd(nullptr, 0, new CoreNode(DataXml_::sCtagsetup_));
    chunk.pappd(&DataXml_::sCtagsetup_, 1,
                wrapped(DataXml_::sCtagselprg, new CoreNode(static_cast<double>(n))));
    CoreXml_ copy;
    copy.getfc(loc.document->settc(false, false));
    const auto replace = [&copy](const CoreAnsx& tag, CoreNode* value) {
        const CoreAnsx path[2] = {DataXml_::sCtagprogrm, tag};
        copy.pappr(path, 2, value);
    };
    for (int i = 0; i < kSlotFields; ++i) replace(slotFieldTag(i), slotField(loc, n, i));
    chunk.pmove(&DataXml_::sCtagprogrm, 1, &copy, &DataXml_::sCtagsetup_, 1, false);
    return chunk.settc(false, false);
}

int32_t CoreMmry::dumpi(const CoreAnsx& text) {
    CoreXml_ chunk;
    CoreNode* root = chunk.getfc(text);
    CoreSgrd guard(oLock);
    CoreNode* setup = root ? root->getcd(DataXml_::sCtagsetup_) : nullptr;
    if (!setup) {
        refused("no SETUP element, nothing restored");
        return -1;
    }
    int32_t result = slotNumber(setup->getld(DataXml_::sCtagselprg));
    CoreTlst* children = setup->getcn();
    // SELECTEDPROGRAM decides only for a chunk without programs: one whose programs were all skipped
    // restored nothing and names no slot.
    bool offered = false, restored = false;
    // From the last to the first, so that the first PROGRAM in document order decides the result.
    for (int i = children ? children->Count - 1 : -1; i >= 0; --i) {
        CoreNode* program = static_cast<CoreNode*>(children->Items[i]);
        if (!(program->gettx().Trim().UpperCase() == DataXml_::sCtagprogrm)) continue;
        offered = true;
        if (!holdsElements(program)) {
            refused("PROGRAM skipped, it holds no elements");
            continue;
        }
        const CoreAnsx name = trimmedValue(program, DataXml_::sCtagprognm);
        // An unnamed program never takes over an unnamed slot: it goes where it was saved from.
        int32_t target = name.Length() > 0 ? srcnm(name) : -1;
        if (target < 0) {
            const double sequence = program->getld(DataXml_::sCtagsequen);
            target = slotNumber(sequence);
            if (target < 0) {
                refused(CoreAnsx("PROGRAM \"") + name + "\" skipped, SEQUENCE " + CoreAnsx(sequence) +
                        " names no slot");
                continue;
            }
        }
        auto document = std::make_unique<CoreXml_>();
        iclrp(target);
        MEMORYLOC& loc = slot(target);
        loc.used = true;
        loc.lazy = false;
        loc.filepath = program->exslc(DataXml_::sCtagorgfnm) ? program->getlc(DataXml_::sCtagorgfnm).Trim()
                                                             : CoreAnsx("dummy.xml");
        loc.vectorname = program->exslc(DataXml_::sCtagactvnm) ? program->getlc(DataXml_::sCtagactvnm).Trim()
                                                               : loc.filepath;
        loc.packed = program->exslc(DataXml_::sCtagwaspac) && program->getld(DataXml_::sCtagwaspac) != 0.0;
        loc.name = name;
        loc.category[0] = trimmedValue(program, DataXml_::sCtagcategr);
        loc.category[1] = trimmedValue(program, DataXml_::sCtagsubca1);
        loc.category[2] = trimmedValue(program, DataXml_::sCtagsubca2);
        // The element leaves the chunk's tree and becomes the slot document's one top element.
        children->Delete(i);
        document->pappd(nullptr, 0, program);
        loc.document = document.release();
        result = target;
        restored = true;
    }
    return offered && !restored ? -1 : result;
}
