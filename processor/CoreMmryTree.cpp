// The category tree (categories, subcategories, then one leaf per program) and the browser that
// narrows the used slots by category and lists the distinct values of a level. Category texts are
// compared upper-cased and trimmed, without copying them.
#include "processor/CoreMmry.h"

#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "processor/CoreDcry.h"
#include "program/DataXml_.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The trimmed bytes of a text; equal spans compare and hash alike whatever their case.
struct Span {
    const char* data;
    size_t size;
};

Span trimmed(const CoreAnsx& text) {
    const char* data = text.c_str();
    size_t size = text.Length() > 0 ? static_cast<size_t>(text.Length()) : 0;
    while (size > 0 && isBlank(*data)) {
        ++data;
        --size;
    }
    while (size > 0 && isBlank(data[size - 1])) --size;
    return {data, size};
}

// Setting bit 5 of every byte makes a letter's two cases hash alike (other bytes may then collide,
// which only costs a comparison). Texts of 8 bytes or more are read as whole words, the last one
// overlapping the one before.
struct SpanHash {
    uint64_t operator()(const Span& s) const {
        constexpr uint64_t caseBits = 0x2020202020202020ull, prime = 0x9E3779B97F4A7C15ull;
        uint64_t hash = s.size * prime;
        uint64_t word = 0;
        if (s.size < 8) {
            std::memcpy(&word, s.data, s.size);
            hash ^= word | caseBits;
        } else {
            for (size_t i = 0; i + 8 < s.size; i += 8) {
                std::memcpy(&word, s.data + i, 8);
                hash = (hash ^ (word | caseBits)) * prime;
            }
            std::memcpy(&word, s.data + s.size - 8, 8);
            hash ^= word | caseBits;
        }
        hash = (hash ^ (hash >> 33)) * 0xff51afd7ed558ccdull; // spreads every byte over the low bits
        hash = (hash ^ (hash >> 33)) * 0xc4ceb9fe1a85ec53ull;
        return hash ^ (hash >> 33);
    }
};

struct SpanEqual {
    bool operator()(const Span& a, const Span& b) const {
        if (a.size != b.size) return false;
        for (size_t i = 0; i < a.size; ++i)
            if (upper(a.data[i]) != upper(b.data[i])) return false;
        return true;
    }
};

// Slots of the distinct-value table: a power of two above the number of slots, small enough to stay
// in the cache; its entries hold a slot index below 65536.
constexpr size_t kDistinctTable = 16384;
static_assert(kDistinctTable > CoreMmry::iCmemorydim && CoreMmry::iCmemorydim < 65536);

} // namespace

void CoreMmry::normalise(const CoreAnsx& text, std::string& out) {
    const Span s = trimmed(text);
    out.assign(s.data, s.size);
    for (char& c : out) c = upper(c);
}

bool CoreMmry::matches(const CoreAnsx& text, const std::string& key) {
    const Span s = trimmed(text);
    if (s.size != key.size()) return false;
    for (size_t i = 0; i < s.size; ++i)
        if (upper(s.data[i]) != key[i]) return false; // the key is upper-cased already
    return true;
}

bool CoreMmry::qualifies(int32_t n, const std::string* keys, int32_t count) const {
    const MEMORYLOC& loc = slot(n);
    if (!loc.used) return false;
    for (int32_t level = 0; keys && level < count; ++level)
        if (!matches(loc.category[level], keys[level])) return false;
    return true;
}

// ---- tree -------------------------------------------------------------------------------------------------

void CoreMmry::cleat() {
    std::unique_ptr<CoreXml_> tree(new CoreXml_);
    tree->setrt(new CoreNode(CoreAnsx(CoreXml_::sCroot)));
    pTreeroot = new CoreNode(CoreAnsx(CoreXml_::sCroot));
    tree->getrt()->addcd(pTreeroot);
    delete pTree;
    pTree = tree.release();
}

void CoreMmry::updtt() {
    CoreSgrd guard(oLock);
    cleat();
    // Category nodes by parent and normalised text. Leaves are never looked up, so a category that
    // reads like a program's leaf text gets a node of its own.
    struct Key {
        const CoreNode* parent;
        Span text;
    };
    struct KeyHash {
        size_t operator()(const Key& k) const { return SpanHash()(k.text) ^ std::hash<const void*>()(k.parent); }
    };
    struct KeyEqual {
        bool operator()(const Key& a, const Key& b) const { return a.parent == b.parent && SpanEqual()(a.text, b.text); }
    };
    std::unordered_map<Key, CoreNode*, KeyHash, KeyEqual> nodes;
    std::string leafText;
    for (int32_t n = 0; n < iCmemorydim; ++n) {
        const MEMORYLOC& loc = slot(n);
        if (!loc.used) continue;
        CoreNode* node = pTreeroot;
        for (const CoreAnsx& category : loc.category) {
            if (category.c_str()[0] == 0) continue; // an empty level is skipped
            const Key key{node, trimmed(category)};
            auto found = nodes.find(key);
            if (found != nodes.end()) {
                node = found->second;
                continue;
            }
            CoreNode* child = new CoreNode(category.UpperCase());
            node->addcd(child);
            nodes.emplace(key, child); // the span points into the slot, unchanged under the lock
            node = child;
        }
        leafText = std::to_string(n);
        leafText += " - ";
        leafText += loc.name.c_str();
        node->addcd(new CoreNode(CoreAnsx(leafText.c_str())));
    }
}

void CoreMmry::ordrt(int32_t) {
    CoreSgrd guard(oLock);
    CoreTlst* children = pTreeroot->getcn();
    const int n = children ? children->Count : 0;
    if (n < 2) return;
    std::vector<CoreAnsx> keys(static_cast<size_t>(n));
    const CoreAnsx section(DataXml_::sCtagcategr);
    for (int i = 0; i < n; ++i) {
        const CoreAnsx text = static_cast<CoreNode*>(children->Items[i])->gettx();
        keys[i] = bDictionary && pDictionary ? pDictionary->getvl(section, text) : text;
    }
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    const auto byKey = [&keys](int a, int b) { return keys[a] < keys[b]; };
    std::vector<int> sorted(order);
    std::sort(sorted.begin(), sorted.end(), byKey);
    bool distinct = true;
    for (int i = 1; i < n && distinct; ++i) distinct = byKey(sorted[i - 1], sorted[i]);
    if (distinct) {
        order = sorted;
    } else {
        // Equal keys: the exchange loop decides their order, run on ranks in place of the texts.
        std::vector<int> rank(static_cast<size_t>(n));
        for (int i = 0, r = 0; i < n; ++i) {
            if (i > 0 && byKey(sorted[i - 1], sorted[i])) ++r;
            rank[sorted[i]] = r;
        }
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                if (rank[i] < rank[j]) {
                    std::swap(rank[i], rank[j]);
                    std::swap(order[i], order[j]);
                }
            }
        }
    }
    std::vector<void*> nodes(children->Items, children->Items + n);
    for (int i = 0; i < n; ++i) children->Items[i] = nodes[order[i]];
}

void CoreMmry::settr(int32_t level, int32_t index) {
    if (within(level, iCtreepath)) iTreepath[level] = index;
}

CoreNode* CoreMmry::pathNode() const {
    CoreNode* node = pTreeroot;
    for (int32_t level = 0; level < iCtreepath && iTreepath[level] >= 0; ++level) {
        CoreTlst* children = node->getcn();
        if (!children || iTreepath[level] >= children->Count) return nullptr;
        node = static_cast<CoreNode*>(children->Items[iTreepath[level]]);
    }
    return node;
}

int32_t CoreMmry::gettn() const {
    const CoreNode* node = pathNode();
    return node && node->getcn() ? node->getcn()->Count : 0;
}

CoreAnsx CoreMmry::gette() {
    const CoreNode* node = pathNode();
    bLeaf = !node || node->leaf_();
    return node ? node->gettx() : CoreAnsx("");
}

CoreAnsx CoreMmry::gettt() {
    const CoreNode* node = pathNode();
    const CoreAnsx text = gette();
    if (!node || !bDictionary || !pDictionary) return text;
    return pDictionary->getvl(CoreAnsx(DataXml_::sCtagcategr), text);
}

// ---- browser ----------------------------------------------------------------------------------------------

void CoreMmry::setbs(int32_t level, const CoreAnsx& text) {
    if (!within(level, iCcategories)) return;
    iBrowsedepth = level;
    sBrowsefilters[level] = text;
}

int32_t CoreMmry::setbb(int32_t delta) {
    const int64_t depth = static_cast<int64_t>(iBrowsedepth) + delta;
    iBrowsedepth = static_cast<int32_t>(std::clamp<int64_t>(depth, 0, iCcategories - 1));
    return iBrowsedepth;
}

void CoreMmry::pushb() {
    iSaveddepth = iBrowsedepth;
    for (int32_t level = 0; level < iBrowsedepth; ++level) sSavedfilters[level] = sBrowsefilters[level];
    iBrowsedepth = 0;
}

void CoreMmry::popb_() {
    iBrowsedepth = iSaveddepth;
    for (int32_t level = 0; level < iBrowsedepth; ++level) sBrowsefilters[level] = sSavedfilters[level];
}

int32_t CoreMmry::distinct(const CoreAnsx* filters, int32_t level, CoreAnsx*& texts, int32_t& capacity) const {
    std::string keys[iCcategories];
    const bool filtering = filters && level > 0;
    for (int32_t k = 0; filtering && k < level; ++k) normalise(filters[k], keys[k]);
    CoreSgrd guard(oLock);
    // First occurrences by an open-addressing table over the slots' own bytes, so that a memory of
    // 10000 distinct categories costs no allocation per value.
    // Each table entry: 16 bits of the value's hash, then its index + 1; 0 when empty.
    std::vector<Span> values;
    values.reserve(iCmemorydim);
    std::vector<uint32_t> table(kDistinctTable, 0);
    const size_t mask = table.size() - 1;
    for (int32_t n = 0; n < iCmemorydim; ++n) {
        if (!qualifies(n, filtering ? keys : nullptr, level)) continue;
        const Span value = trimmed(slot(n).category[level]);
        if (value.size == 0) continue;
        const uint64_t hash = SpanHash()(value);
        const uint32_t tag = static_cast<uint32_t>(hash >> 48) << 16;
        size_t at = hash & mask;
        while (table[at] != 0 && ((table[at] & 0xFFFF0000u) != tag || !SpanEqual()(values[(table[at] & 0xFFFFu) - 1], value)))
            at = (at + 1) & mask;
        if (table[at] != 0) continue;
        values.push_back(value);
        table[at] = tag | static_cast<uint32_t>(values.size());
    }
    // Copied out before the lock goes, into the strings already there when they suffice.
    const int32_t count = static_cast<int32_t>(values.size());
    if (!texts || count > capacity) {
        CoreAnsx* grown = new CoreAnsx[static_cast<size_t>(count)];
        delete[] texts;
        texts = grown;
        capacity = count;
    }
    for (int32_t i = 0; i < count; ++i) {
        char* text = texts[i].start(values[i].data, 0, static_cast<int>(values[i].size) + 1);
        for (size_t c = 0; c < values[i].size; ++c) text[c] = upper(text[c]);
    }
    return count;
}

void CoreMmry::getct(CoreAnsx** list, int32_t& count, const CoreAnsx* filters, int32_t level) const {
    if (!list || !within(level, iCcategories)) {
        count = 0;
        return;
    }
    CoreAnsx* texts = nullptr;
    int32_t capacity = 0;
    count = distinct(filters, level, texts, capacity);
    delete[] *list;
    *list = texts;
}

int32_t CoreMmry::getbs() {
    iDistinctcount = distinct(sBrowsefilters, iBrowsedepth, pDistinctlist, iDistinctcapacity);
    return iDistinctcount;
}

int32_t CoreMmry::getbc() {
    iDistinctcount = distinct(nullptr, 0, pDistinctlist, iDistinctcapacity);
    return iDistinctcount;
}

CoreAnsx CoreMmry::getbc(int32_t i) const {
    return pDistinctlist && within(i, iDistinctcount) ? pDistinctlist[i] : CoreAnsx("");
}

int32_t CoreMmry::getck(int32_t start, int16_t step, const CoreAnsx* filters, int32_t count) const {
    count = std::clamp(count, 1, iCcategories);
    const bool filtering = filters && filters[0] != CoreAnsx("0");
    std::string keys[iCcategories];
    for (int32_t k = 0; filtering && k < count; ++k) normalise(filters[k], keys[k]);
    CoreSgrd guard(oLock);
    int32_t p = start > iCmemorydim - 1 ? 0 : start < 0 ? iCmemorydim - 1 : start;
    int32_t stride = step;
    for (int32_t probe = 0; probe < iCprobecap; ++probe) {
        if (qualifies(p, filtering ? keys : nullptr, count)) return p;
        const int32_t next = p + stride;
        if (within(next, iCmemorydim)) {
            p = next;
        } else if (!filtering) {
            p = 0;
        } else if (next >= iCmemorydim) {
            return 0;
        } else {
            p = 0; // a downward search turns back at slot 0 and goes on upward
            stride = 1;
        }
    }
    return 0;
}

int32_t CoreMmry::getbk(int32_t start, int16_t step) const {
    return getck(start, step, sBrowsefilters, iBrowsedepth + 1);
}
