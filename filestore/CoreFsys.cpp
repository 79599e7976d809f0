#include "filestore/CoreFsys.h"
#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreLutl.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

constexpr int64_t kLargestItem = std::numeric_limits<int32_t>::max(); // bytes; sizes are int32 in files
constexpr size_t kTitleLength = sizeof(CoreFsys::sCheadertitle) - 1;  // bytes compared on reading

std::string textOf(const CoreAnsx& text) {
    return text.c_str() ? std::string(text.c_str()) : std::string();
}

// The lookup form of a name: Trim and UpperCase as keys are formed, and '\' read as '/' so that
// "A\B.WAV" and "A/B.WAV" are one name. Written into out to spare an allocation per lookup.
void lookupKey(const CoreAnsx& name, std::string& out) {
    const char* first = name.c_str() ? name.c_str() : "";
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (blank(*first)) ++first;
    const char* last = first + std::strlen(first);
    while (last > first && blank(last[-1])) --last;
    out.assign(first, last);
    // Without branches, so that the loop becomes vector code: every call of the store passes here.
    char* text = out.data();
    const size_t length = out.size();
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const unsigned char upper = static_cast<unsigned char>(c - 'a') < 26 ? c - ('a' - 'A') : c;
        text[i] = static_cast<char>(upper == '\\' ? '/' : upper);
    }
}

std::string slashed(const CoreAnsx& key) {
    std::string text;
    lookupKey(key, text);
    return text;
}

std::string_view lastComponent(std::string_view key) {
    const size_t separator = key.rfind('/');
    return separator == std::string_view::npos ? key : key.substr(separator + 1);
}

// longer is shorter behind a folder prefix ("SUB/X.WAV" against "X.WAV").
bool endsBehindSeparator(std::string_view longer, std::string_view shorter) {
    if (longer.size() <= shorter.size()) return false;
    const size_t cut = longer.size() - shorter.size();
    return longer[cut - 1] == '/' && longer.substr(cut) == shorter;
}

bool namesNoContainer(const CoreAnsx& container) {
    const CoreAnsx name = container.Trim().UpperCase();
    return name.Length() <= 0 || name == CoreAnsx("0") || name == CoreAnsx(CoreButl::sCnull);
}

bool isReadMode(const std::string& mode) {
    return !mode.empty() && mode[0] == 'r' && mode.find('+') == std::string::npos;
}

// A whole non-negative decimal number; anything else ("-1", "1e3", blanks inside) is refused.
bool parseCount(const CoreAnsx& text, int64_t& value) {
    const std::string digits = textOf(text.Trim());
    if (digits.empty() || digits.size() > 18) return false;
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int32_t readTotal(const char* header) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(header + CoreFsys::iCtitlesize);
    const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return static_cast<int32_t>(value);
}

// The 44-byte header: the title (cut to 39 characters and a zero), then the total, little-endian.
std::string containerHeader(int32_t total) {
    std::string header(CoreFsys::iCheadersize, '\0');
    const std::string title = std::string(CoreFsys::sCheadertitle) + CoreLog_::sCversion_;
    header.replace(0, std::min<size_t>(title.size(), CoreFsys::iCtitlesize - 1), title);
    const auto value = static_cast<uint32_t>(total);
    for (int i = 0; i < 4; ++i)
        header[CoreFsys::iCtitlesize + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return header;
}

// The named path of a stored or new file: read modes find an existing file whatever its case and
// take only regular files (a folder opens under Linux but cannot be read); write modes keep the
// spelling of existing folders and files.
std::FILE* openItemFile(const CoreAnsx& path, const char* mode) {
    const CoreAnsx given = CoreButl::ffpen(path);
    if (!isReadMode(mode)) return CoreButl::ffpen(CoreButl::wcase(given), mode);
    bool regular = false;
    const CoreAnsx resolved = CoreButl::pcase(given, regular);
    return regular ? std::fopen(resolved.c_str(), mode) : nullptr;
}

int64_t fileSize(std::FILE* file) {
    const long current = std::ftell(file);
    if (current < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long size = std::ftell(file);
    if (std::fseek(file, current, SEEK_SET) != 0) return -1;
    return size;
}

// The first top-level element named TOC, or null. It has no children when the table lists no item.
CoreNode* tableOf(CoreXml_& doc) {
    CoreNode* root = doc.getrt();
    CoreTlst* children = root ? root->getcn() : nullptr;
    for (int i = 0; children && i < children->Count; ++i) {
        auto* child = static_cast<CoreNode*>(children->Items[i]);
        if (child->gettx().Trim().UpperCase() == CoreAnsx(CoreFsys::sCtagfsysto)) return child;
    }
    return nullptr;
}

// The value of the last child element named tag when that element holds exactly one value.
bool itemValue(const CoreNode* item, const char* tag, CoreAnsx& value) {
    const CoreNode* element = item->getcd(CoreAnsx(tag));
    if (!element || element->leaf_()) return false;
    const CoreNode* leaf = element->getcd();
    if (!leaf || !leaf->leaf_() || element->getcn()->Count != 1) return false;
    value = leaf->gettx().Trim();
    return true;
}

// A table that the XML writer wrote for a TOC element without items: the bare name.
bool isEmptyTable(const CoreAnsx& text) {
    return text.Trim().UpperCase() == CoreAnsx(CoreFsys::sCtagfsysto);
}

// The table runs to the end of the file and the XML reader closes what a text leaves open, so a
// container cut short would still parse: the text must end where the table element closes.
bool closesTable(const CoreAnsx& text) {
    const std::string t = textOf(text.Trim().UpperCase());
    const std::string name = textOf(CoreFsys::sCtagfsysto);
    if (t.empty() || t.back() != '>') return false;
    const size_t open = t.rfind('<');
    if (open == std::string::npos) return false;
    std::string tag = t.substr(open + 1, t.size() - open - 2);
    const bool closing = !tag.empty() && tag.front() == '/', empty = !tag.empty() && tag.back() == '/';
    if (closing == empty) return false; // neither </TOC> nor <TOC/>
    tag = closing ? tag.substr(1) : tag.substr(0, tag.size() - 1);
    const size_t first = tag.find_first_not_of(" \t\r\n"), last = tag.find_last_not_of(" \t\r\n");
    return first != std::string::npos && tag.substr(first, last - first + 1) == name;
}

// Parses a table text into doc; false (logged) when it is not a table of contents.
bool parseTable(CoreXml_& doc, const CoreAnsx& text, const CoreAnsx& file) {
    if (isEmptyTable(text)) {
        doc.setrt(new CoreNode(CoreAnsx(CoreXml_::sCroot)));
        doc.getrt()->addcd(new CoreNode(CoreAnsx(CoreFsys::sCtagfsysto)));
        return true;
    }
    if (!closesTable(text)) {
        CoreLog_::logfl(file + ": the table of contents is cut short", 1);
        return false;
    }
    try {
        doc.getfc(text);
    } catch (...) {
        doc.close();
    }
    if (tableOf(doc)) return true;
    CoreLog_::logfl(file + ": the table of contents is not readable", 1);
    doc.close();
    return false;
}

struct PoolBlock {
    CorePool* pool;
    char* bytes;
    ~PoolBlock() {
        if (bytes) pool->free_(bytes);
    }
};

} // namespace

// Records by id, by key (in lookup form) and by the key's last path component: three chained hash
// tables over one entry per record, a single allocation that also holds the key. A new entry goes to
// the end of its key and leaf chains, and records are only ever appended to the list, so along a
// chain the records of one key (or leaf) stand in list order and the first match is the one the
// lookup rule wants. Growing keeps that order: entries of one key share a chain and move in order.
// Both steps of the lookup rule thus cost O(1) on average, without an allocation per lookup.
struct CoreFsys::Index {
    // A key in lookup form with its hash, computed once per call of the store.
    struct Probe {
        std::string_view text;
        size_t hash;
        explicit Probe(std::string_view key) : text(key), hash(std::hash<std::string_view>()(key)) {}
    };
    struct Entry {
        FSYSTEMLOC* item;
        int32_t id;
        uint32_t length;    // bytes of the key, which follows the entry
        uint32_t leafStart; // where the key's last component starts
        size_t keyHash;
        size_t leafHash;
        Entry* nextKey;
        Entry* nextLeaf;
        Entry* nextId;

        std::string_view key() const { return {reinterpret_cast<const char*>(this + 1), length}; }
        std::string_view leaf() const { return key().substr(leafStart); }
    };
    static constexpr size_t kFirstSize = 64; // chains of a store's first records

    std::vector<Entry*> keyHeads, leafHeads, idHeads; // one size, a power of two
    size_t count = 0;
    std::string scratch; // the key of the lookup under way

    Index() = default;
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;
    ~Index() { clear(); }

    size_t slot(size_t hash) const { return hash & (keyHeads.size() - 1); }
    size_t idSlot(int32_t id) const { return static_cast<uint32_t>(id) & (idHeads.size() - 1); }

    static void append(Entry*& head, Entry* entry, Entry* Entry::*next) {
        Entry** link = &head;
        while (*link) link = &((*link)->*next);
        entry->*next = nullptr;
        *link = entry;
    }
    static void unlink(Entry*& head, Entry* entry, Entry* Entry::*next) {
        for (Entry** link = &head; *link; link = &((*link)->*next)) {
            if (*link == entry) {
                *link = entry->*next;
                return;
            }
        }
    }
    // Moves every entry of heads into chains of grown, keeping the order within each chain.
    template <typename SlotOf>
    static void rechain(std::vector<Entry*>& heads, std::vector<Entry*>& grown, std::vector<Entry*>& tails,
                        Entry* Entry::*next, SlotOf slotOf) {
        std::fill(tails.begin(), tails.end(), nullptr);
        for (Entry* head : heads) {
            for (Entry* entry = head; entry;) {
                Entry* following = entry->*next;
                const size_t at = slotOf(entry);
                entry->*next = nullptr;
                if (tails[at])
                    tails[at]->*next = entry;
                else
                    grown[at] = entry;
                tails[at] = entry;
                entry = following;
            }
        }
        heads.swap(grown);
    }
    // Doubles the chains (all allocations first, so a failure changes nothing).
    void grow() {
        const size_t size = keyHeads.empty() ? kFirstSize : keyHeads.size() * 2;
        std::vector<Entry*> keys(size), leaves(size), ids(size), tails(size);
        const size_t mask = size - 1;
        rechain(keyHeads, keys, tails, &Entry::nextKey, [mask](const Entry* e) { return e->keyHash & mask; });
        rechain(leafHeads, leaves, tails, &Entry::nextLeaf,
                [mask](const Entry* e) { return e->leafHash & mask; });
        rechain(idHeads, ids, tails, &Entry::nextId,
                [mask](const Entry* e) { return static_cast<uint32_t>(e->id) & mask; });
    }

    // Files item under key (its name in lookup form) and leaf (the key's last component).
    void add(FSYSTEMLOC* item, const Probe& key, const Probe& leaf) {
        if (count >= keyHeads.size()) grow();
        void* bytes = ::operator new(sizeof(Entry) + key.text.size());
        auto* entry = new (bytes) Entry{item,
                                        item->id,
                                        static_cast<uint32_t>(key.text.size()),
                                        static_cast<uint32_t>(key.text.size() - leaf.text.size()),
                                        key.hash,
                                        leaf.hash,
                                        nullptr,
                                        nullptr,
                                        nullptr};
        std::memcpy(entry + 1, key.text.data(), key.text.size());
        append(keyHeads[slot(key.hash)], entry, &Entry::nextKey);
        append(leafHeads[slot(leaf.hash)], entry, &Entry::nextLeaf);
        // Newest first: should ids ever wrap onto a live record, the id finds the new one.
        entry->nextId = idHeads[idSlot(item->id)];
        idHeads[idSlot(item->id)] = entry;
        ++count;
    }
    void remove(FSYSTEMLOC* item) {
        if (idHeads.empty()) return;
        Entry* entry = idHeads[idSlot(item->id)];
        while (entry && entry->item != item) entry = entry->nextId;
        if (!entry) return;
        unlink(keyHeads[slot(entry->keyHash)], entry, &Entry::nextKey);
        unlink(leafHeads[slot(entry->leafHash)], entry, &Entry::nextLeaf);
        unlink(idHeads[idSlot(entry->id)], entry, &Entry::nextId);
        ::operator delete(entry);
        --count;
    }
    void clear() {
        for (Entry*& head : idHeads) {
            while (head) {
                Entry* following = head->nextId;
                ::operator delete(head);
                head = following;
            }
        }
        std::fill(keyHeads.begin(), keyHeads.end(), nullptr);
        std::fill(leafHeads.begin(), leafHeads.end(), nullptr);
        count = 0;
    }
    FSYSTEMLOC* find(int32_t id) const {
        if (idHeads.empty()) return nullptr;
        for (const Entry* entry = idHeads[idSlot(id)]; entry; entry = entry->nextId)
            if (entry->id == id) return entry->item;
        return nullptr;
    }
    FSYSTEMLOC* exact(const Probe& key) const {
        if (keyHeads.empty()) return nullptr;
        for (const Entry* entry = keyHeads[slot(key.hash)]; entry; entry = entry->nextKey)
            if (entry->keyHash == key.hash && entry->key() == key.text) return entry->item;
        return nullptr;
    }
    // Step 2 of the lookup rule: a record from a container whose name and the key differ only by a
    // folder prefix.
    static bool behindFolder(const Entry* entry, std::string_view key) {
        if (namesNoContainer(entry->item->container)) return false;
        return endsBehindSeparator(entry->key(), key) || endsBehindSeparator(key, entry->key());
    }
    // Step 2 for a key that has no exact match; leaf is the key's last component.
    FSYSTEMLOC* behindFolder(std::string_view key, const Probe& leaf) const {
        if (leafHeads.empty()) return nullptr;
        for (const Entry* entry = leafHeads[slot(leaf.hash)]; entry; entry = entry->nextLeaf)
            if (entry->leafHash == leaf.hash && entry->leaf() == leaf.text && behindFolder(entry, key))
                return entry->item;
        return nullptr;
    }
    // The lookup rule for a key in lookup form.
    FSYSTEMLOC* lookup(std::string_view key) const {
        if (key.empty()) return nullptr;
        if (FSYSTEMLOC* item = exact(Probe(key))) return item;
        return behindFolder(key, Probe(lastComponent(key)));
    }
};

CoreFsys::CoreFsys(CorePool* pool) : CoreFsys(pool, CoreAnsx(""), false, false) {}

CoreFsys::CoreFsys(CorePool* pool, const CoreAnsx& folder, bool reopen, bool)
    : pPool(pool), sFolder(folder), sToc(CoreButl::sCnull), sContainer(CoreButl::sCnull), pList(new CoreTlst),
      iNextId(0), bReopen(reopen), pIndex(new Index) {
    pList->grow_(iCitems);
    pList->Count = 0;
}

CoreFsys::~CoreFsys() {
    init_();
    delete pList;
}

void CoreFsys::init_() {
    for (int i = pList->Count - 1; i >= 0; --i) {
        auto* item = static_cast<FSYSTEMLOC*>((*pList)[i]);
        release(item);
        delete item;
    }
    pList->Clear();
    pIndex->clear();
}

// ---- records ---------------------------------------------------------------------------------------

CoreFsys::FSYSTEMLOC* CoreFsys::record(int32_t id) const {
    return pIndex->find(id);
}

CoreFsys::FSYSTEMLOC* CoreFsys::exact(const CoreAnsx& key) const {
    lookupKey(key, pIndex->scratch);
    return pIndex->exact(Index::Probe(pIndex->scratch));
}

int32_t CoreFsys::crtit(const CoreAnsx& name) {
    return crtit(name, false, false);
}

int32_t CoreFsys::crtit(const CoreAnsx& name, bool alwaysNew) {
    return crtit(name, false, alwaysNew);
}

int32_t CoreFsys::crtit(const CoreAnsx& name, bool, bool alwaysNew) {
    lookupKey(name, pIndex->scratch);
    if (pIndex->scratch.empty()) return -1;
    // Each probe hashes its text once, for the lookup and for filing a new record alike.
    const Index::Probe key(pIndex->scratch);
    if (!alwaysNew)
        if (FSYSTEMLOC* found = pIndex->exact(key)) return found->id;
    const Index::Probe leaf(lastComponent(pIndex->scratch));
    if (!alwaysNew)
        if (FSYSTEMLOC* found = pIndex->behindFolder(pIndex->scratch, leaf)) return found->id;
    // The record keeps the name as formed ('\' stays); the index holds the lookup form.
    const bool backslash = std::strchr(name.c_str() ? name.c_str() : "", '\\') != nullptr;
    CoreAnsx formed = backslash ? name.Trim().UpperCase() : CoreAnsx(pIndex->scratch.c_str());
    auto* item = new FSYSTEMLOC{iNextId, std::move(formed), CoreAnsx(), nullptr,   0, false,
                                0,       nullptr,           false,      CoreAnsx()};
    try {
        if (!pList->Add(item)) throw std::bad_alloc();
        pIndex->add(item, key, leaf);
    } catch (...) {
        if (pList->Count > 0 && (*pList)[pList->Count - 1] == item) pList->Delete(pList->Count - 1);
        pIndex->remove(item);
        delete item;
        return -1;
    }
    iNextId = iNextId == std::numeric_limits<int32_t>::max() ? 0 : iNextId + 1;
    return item->id;
}

CoreFsys::FSYSTEMLOC* CoreFsys::gtsit(const CoreAnsx& name) const {
    lookupKey(name, pIndex->scratch);
    return pIndex->lookup(pIndex->scratch);
}

int32_t CoreFsys::getit(const CoreAnsx& name) const {
    lookupKey(name, pIndex->scratch);
    const FSYSTEMLOC* item = pIndex->lookup(pIndex->scratch);
    return item ? item->id : -1;
}

CoreFsys::FSYSTEMLOC* CoreFsys::gtiit(int32_t id, int& index) const {
    index = -1;
    FSYSTEMLOC* item = record(id);
    if (!item) return nullptr;
    // Ids rise along the list (records are appended), so a bisection finds the place; a list whose
    // counter wrapped around falls back on the scan.
    int low = 0, high = pList->Count - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const auto* at = static_cast<FSYSTEMLOC*>(pList->Items[middle]);
        if (at == item) {
            index = middle;
            return item;
        }
        if (at->id < id)
            low = middle + 1;
        else
            high = middle - 1;
    }
    for (int i = 0; i < pList->Count; ++i)
        if (pList->Items[i] == item) index = i;
    return item;
}

int CoreFsys::llvcn() const {
    return pList->Count;
}

int CoreFsys::getkn() const {
    return pList->Count;
}

CoreAnsx CoreFsys::llvel(int i, int32_t& id) const {
    id = -1;
    if (i < 0 || i >= pList->Count) return CoreAnsx("");
    const auto* item = static_cast<FSYSTEMLOC*>(pList->Items[i]);
    id = item->id;
    return item->name;
}

void CoreFsys::getks(CoreAnsx* names) const {
    for (int i = 0; names && i < pList->Count; ++i)
        names[i] = static_cast<FSYSTEMLOC*>(pList->Items[i])->name;
}

bool CoreFsys::isvld(int32_t id) const {
    const FSYSTEMLOC* item = record(id);
    return item && item->inmemory;
}

int32_t CoreFsys::getco(int32_t id, void** data) const {
    const FSYSTEMLOC* item = record(id);
    if (!item || !item->inmemory) return 0;
    if (data) *data = item->data;
    return item->size;
}

void CoreFsys::delct(int32_t id) {
    int index = -1;
    FSYSTEMLOC* item = gtiit(id, index);
    if (!item) return;
    release(item);
    pIndex->remove(item);
    pList->Delete(index);
    delete item;
}

void CoreFsys::release(FSYSTEMLOC* item) {
    closeFile(item);
    if (item->inmemory && item->data) pPool->free_(item->data);
    item->data = nullptr;
    item->inmemory = false;
    item->size = 0;
    item->position = 0;
}

char* CoreFsys::block(int32_t n, const CoreAnsx& site) {
    if (n <= 0) return nullptr;
    try {
        return static_cast<char*>(pPool->mallc(4, n, "FSYS", site));
    } catch (const CoreAnsx& error) {
        CoreLog_::loger(site + ": " + error, 1);
    } catch (const std::exception& error) {
        CoreLog_::loger(site + ": " + CoreAnsx(error.what()), 1);
    }
    return nullptr;
}

void CoreFsys::install(FSYSTEMLOC* item, char* bytes, int32_t n, const CoreAnsx& container) {
    release(item);
    item->data = bytes;
    item->size = n;
    item->position = 0;
    item->inmemory = true;
    item->container = container;
}

// ---- in-memory contents ------------------------------------------------------------------------------

bool CoreFsys::setit(int32_t id, const char* bytes, int32_t n, const CoreAnsx& container, bool freeOld,
                     bool keepMeta) {
    FSYSTEMLOC* item = record(id);
    if (!item || n < 0 || (n > 0 && !bytes)) return false;
    // The copy comes first: bytes may lie in the record's own block.
    char* copy = block(n, CoreAnsx("setit"));
    if (n > 0 && !copy) return false;
    if (n > 0) std::memcpy(copy, bytes, static_cast<size_t>(n));
    if (!freeOld) item->data = nullptr; // the caller keeps the old block
    install(item, copy, n, keepMeta ? item->container : container);
    return true;
}

bool CoreFsys::setit(int32_t id, const char* bytes, int32_t n, bool, const CoreAnsx& container, bool freeOld,
                     bool keepMeta) {
    return setit(id, bytes, n, container, freeOld, keepMeta);
}

bool CoreFsys::loadc(int32_t id, bool ifNotLoaded) {
    FSYSTEMLOC* item = record(id);
    if (!item || (ifNotLoaded && item->inmemory)) return false;
    const CoreAnsx path = getfn(item->name);
    std::FILE* file = openItemFile(path, "rb");
    if (!file) return false;
    const int64_t size = fileSize(file);
    bool loaded = false;
    if (size < 0 || size > kLargestItem) {
        CoreLog_::logfl(path + ": too large to hold in memory", 1);
    } else {
        char* bytes = block(static_cast<int32_t>(size), path);
        if (size == 0 || bytes) {
            loaded = std::fread(bytes, 1, static_cast<size_t>(size), file) == static_cast<size_t>(size);
            if (loaded) {
                // The record keeps its container name and any file it holds open.
                if (item->inmemory && item->data) pPool->free_(item->data);
                item->data = bytes;
                item->size = static_cast<int32_t>(size);
                item->position = 0;
                item->inmemory = true;
            } else {
                CoreLog_::logfl(path + ": read failed", 1);
                if (bytes) pPool->free_(bytes);
            }
        }
    }
    std::fclose(file);
    return loaded;
}

void CoreFsys::uload(const CoreAnsx& ext) {
    const CoreAnsx wanted = ext.UpperCase().Trim();
    for (int i = pList->Count - 1; i >= 0; --i) {
        auto* item = static_cast<FSYSTEMLOC*>(pList->Items[i]);
        if (item->inmemory && CoreButl::getfx(item->name) == wanted) release(item);
    }
}

void CoreFsys::rload(const CoreAnsx& ext) {
    const CoreAnsx wanted = ext.UpperCase().Trim();
    std::vector<int32_t> ids;
    for (int i = pList->Count - 1; i >= 0; --i) ids.push_back(static_cast<FSYSTEMLOC*>(pList->Items[i])->id);
    for (int32_t id : ids) {
        const FSYSTEMLOC* item = record(id);
        if (!item || item->inmemory || namesNoContainer(item->container)) continue;
        if (CoreButl::getfx(item->name) != wanted) continue;
        const CoreAnsx container = item->container;
        loada(container, CoreAnsx("0"), true, nullptr);
    }
}

CoreAnsx CoreFsys::ct2as(int32_t id) const {
    const FSYSTEMLOC* item = record(id);
    if (!item || !item->inmemory) return CoreAnsx("");
    return CoreButl::getac(item->data, item->size);
}

CoreNode* CoreFsys::getff(CoreXml_* doc, const CoreAnsx& name, bool flag) {
    if (!doc) return nullptr;
    doc->close();
    const int32_t id = crtit(name);
    loadc(id, true);
    if (!isvld(id)) return nullptr;
    try {
        return doc->getdc(ct2as(id), false, flag);
    } catch (...) {
        CoreLog_::logfl(name + ": not readable as XML", 1);
        doc->close();
        return nullptr;
    }
}

// ---- stream operations ---------------------------------------------------------------------------------

std::FILE* CoreFsys::reopen(FSYSTEMLOC* item) const {
    // Reopening must never truncate or create: the stream operations only read.
    const std::string mode = textOf(item->mode);
    if (mode.empty()) return nullptr;
    std::FILE* file = openItemFile(getfn(item->name), isReadMode(mode) ? mode.c_str() : "rb");
    if (file && std::fseek(file, item->position, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

bool CoreFsys::wopen(int32_t id, const CoreAnsx& mode) {
    FSYSTEMLOC* item = record(id);
    if (!item) return false;
    if (item->inmemory) {
        item->position = 0;
        return true;
    }
    wclse(id);
    item->mode = mode;
    std::FILE* file = openItemFile(getfn(item->name), mode.c_str() ? mode.c_str() : "");
    if (!file) return false;
    // Positions are 32-bit, as in the containers: a larger file is refused.
    if (fileSize(file) > kLargestItem) {
        CoreLog_::logfl(getfn(item->name) + ": too large to read", 1);
        std::fclose(file);
        return false;
    }
    item->position = 0;
    if (bReopen) {
        std::fclose(file);
        return true;
    }
    item->file = file;
    item->open = true;
    return true;
}

int32_t CoreFsys::wread(int32_t id, void* buffer, int32_t size, int32_t count) {
    FSYSTEMLOC* item = record(id);
    if (!item || !buffer || size <= 0 || count <= 0) return 0;
    if (item->inmemory) {
        const int64_t available = std::max<int64_t>(0, int64_t{item->size} - item->position);
        const int64_t copied = std::min(int64_t{size} * count, available);
        if (copied > 0) std::memcpy(buffer, item->data + item->position, static_cast<size_t>(copied));
        item->position += static_cast<int32_t>(copied);
        return static_cast<int32_t>(copied / size);
    }
    if (!bReopen) {
        if (!item->open || !item->file) return 0;
        return static_cast<int32_t>(
            std::fread(buffer, static_cast<size_t>(size), static_cast<size_t>(count), item->file));
    }
    std::FILE* file = reopen(item);
    if (!file) return 0;
    const size_t got = std::fread(buffer, static_cast<size_t>(size), static_cast<size_t>(count), file);
    const long position = std::ftell(file);
    if (position >= 0 && position <= kLargestItem) item->position = static_cast<int32_t>(position);
    std::fclose(file);
    return static_cast<int32_t>(got);
}

int CoreFsys::wseek(int32_t id, int32_t offset, int whence) {
    FSYSTEMLOC* item = record(id);
    if (!item || whence < 0 || whence > 2) return -1;
    int64_t size = item->size;
    int64_t current = item->position;
    std::FILE* file = nullptr;
    if (!item->inmemory) {
        file = bReopen ? reopen(item) : (item->open ? item->file : nullptr);
        if (!file) return -1;
        size = fileSize(file);
        if (!bReopen) current = std::ftell(file);
    }
    const int64_t base = whence == 0 ? 0 : whence == 1 ? current : size;
    const int64_t target = base + offset;
    int result = -1;
    if (size >= 0 && current >= 0 && target >= 0 && target <= size && target <= kLargestItem) {
        result = 0;
        if (file && !bReopen) result = std::fseek(file, static_cast<long>(target), SEEK_SET) == 0 ? 0 : -1;
        if (result == 0) item->position = static_cast<int32_t>(target);
    }
    if (file && bReopen) std::fclose(file);
    return result;
}

int32_t CoreFsys::wtell(int32_t id) {
    FSYSTEMLOC* item = record(id);
    if (!item) return -1;
    if (item->inmemory || bReopen) return item->position;
    if (!item->open || !item->file) return -1;
    const long position = std::ftell(item->file);
    return position >= 0 && position <= kLargestItem ? static_cast<int32_t>(position) : -1;
}

int CoreFsys::weof_(int32_t id) {
    FSYSTEMLOC* item = record(id);
    if (!item) return -1;
    if (item->inmemory) return item->position >= item->size ? -1 : 0;
    if (bReopen) {
        std::FILE* file = reopen(item);
        if (!file) return -1;
        const int64_t size = fileSize(file);
        std::fclose(file);
        return item->position >= size ? 1 : 0;
    }
    if (!item->open || !item->file) return -1;
    // The end indicator of a stream is set only by a read that fails, so a loop that reads up to
    // the last byte would run once more; one byte looked at and given back tells at once.
    const int next = std::fgetc(item->file);
    if (next == EOF) return 1;
    std::ungetc(next, item->file);
    return 0;
}

void CoreFsys::wclse(int32_t id) {
    if (FSYSTEMLOC* item = record(id)) closeFile(item);
}

void CoreFsys::closeFile(FSYSTEMLOC* item) {
    if (item->file) std::fclose(item->file);
    item->file = nullptr;
    item->open = false;
}

// ---- disk tests ------------------------------------------------------------------------------------------

bool CoreFsys::exstf(const CoreAnsx& folder, const CoreAnsx& name) {
    std::FILE* file = openItemFile(folder + name, "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

bool CoreFsys::exstf(const CoreAnsx& folder, int16_t count, const CoreAnsx* alternatives,
                     const CoreAnsx& name, CoreAnsx& found) {
    if (exstf(folder, name)) {
        found = folder;
        return true;
    }
    for (int i = 0; alternatives && i < count; ++i) {
        if (exstf(alternatives[i], name)) {
            found = alternatives[i];
            return true;
        }
    }
    found = CoreAnsx("");
    return false;
}

bool CoreFsys::exstf(const CoreAnsx& name) {
    const FSYSTEMLOC* item = record(crtit(name));
    if (!item) return false;
    return item->inmemory || exstf(sFolder, item->name);
}

// ---- writing back ----------------------------------------------------------------------------------------

bool CoreFsys::wrfle(const CoreAnsx& path, const char* bytes, int64_t n) {
    if (n < 0 || (n > 0 && !bytes)) return false;
    const CoreAnsx target = CoreButl::wcase(CoreButl::ffpen(path));
    const bool written = CoreXutl::rplfl(target.c_str(), bytes, static_cast<size_t>(n), false);
    CoreButl::pcdrp(target);
    if (!written)
        CoreLog_::loger(CoreAnsx("Could not write file ") + target + ": " + CoreXutl::lastWriteFailure().c_str(), 1);
    return written;
}

bool CoreFsys::savea() {
    bool all = true;
    for (int i = 0; i < pList->Count; ++i) {
        const auto* item = static_cast<FSYSTEMLOC*>(pList->Items[i]);
        if (!item->inmemory) continue;
        // Keys may come from a container: one that leaves the base folder is never written.
        const std::string key = slashed(item->name);
        const bool absolute = key[0] == '/' || (key.size() > 1 && key[1] == ':');
        const bool climbs = ("/" + key + "/").find("/../") != std::string::npos;
        if (absolute || climbs) {
            CoreLog_::logfl(item->name + ": not written, the name leaves the data folder", 1);
            all = false;
            continue;
        }
        const CoreAnsx path = CoreButl::wcase(CoreButl::ffpen(getfn(item->name)));
        CoreLutl::crtpt(path);
        bool written = false;
        bool asDocument = false;
        if (CoreButl::getfx(item->name) == CoreAnsx(CoreButl::sCextxml)) {
            CoreXml_ doc;
            try {
                asDocument = doc.getfc(ct2as(item->id)) != nullptr;
            } catch (...) {
                CoreLog_::logfl(item->name + ": not readable as XML, written unchanged", 1);
            }
            if (asDocument) written = CoreButl::svatx(path, doc.settc(true, false), false);
        }
        if (!asDocument) written = wrfle(path, item->data, item->size);
        all = all && written;
    }
    return all;
}

// ---- item containers -------------------------------------------------------------------------------------

bool CoreFsys::write(const CoreAnsx& file, int32_t total,
                     const std::vector<std::pair<const char*, int32_t>>& blocks, const CoreAnsx& table,
                     const char* site) {
    const std::string header = containerHeader(total);
    const int64_t size = iCheadersize + int64_t{total} + std::max(0, table.Length());
    if (size > kLargestItem) {
        CoreLog_::logfl(file + ": container too large", 1);
        return false;
    }
    PoolBlock image{pPool, block(static_cast<int32_t>(size), CoreAnsx(site))};
    if (!image.bytes) return false;
    char* at = image.bytes;
    std::memcpy(at, header.data(), header.size());
    at += header.size();
    for (const auto& [bytes, n] : blocks) {
        if (n > 0) std::memcpy(at, bytes, static_cast<size_t>(n));
        at += std::max(0, n);
    }
    std::memcpy(at, table.c_str(), static_cast<size_t>(std::max(0, table.Length())));
    return wrfle(file, image.bytes, size);
}

bool CoreFsys::read_(CoreFsys* reader, int32_t id, int32_t offset, char* buffer, int32_t n) {
    if (reader->wseek(id, offset, 0) != 0) return false;
    return n == 0 || reader->wread(id, buffer, 1, n) == n;
}

void CoreFsys::added(FSYSTEMLOC* item, CoreXml_* toc, int32_t address) {
    auto* entry = new CoreNode(CoreAnsx(sCtagfsysit));
    const auto field = [entry](const char* tag, const CoreAnsx& value) {
        auto* element = new CoreNode(CoreAnsx(tag));
        element->addcd(new CoreNode(value));
        entry->addcd(element);
    };
    field(sCtagfsysen, item->name);
    field(sCtagfsysad, CoreAnsx(static_cast<int>(address)));
    field(sCtagfsysdm, CoreAnsx(static_cast<int>(item->size)));
    field(sCtagfsyscp, CoreAnsx("0")); // nothing is ever encrypted
    field(sCtagfsysvs, CoreAnsx(CoreLog_::sCversion_));
    field(sCtagfsystg, CoreAnsx(CoreLog_::sCtarget__));
    field(sCtagfsysky, CoreAnsx("0")); // plain items have no key
    const CoreAnsx path[1] = {CoreAnsx(sCtagfsysto)};
    toc->pappd(path, 1, entry);
}

bool CoreFsys::savea(const CoreAnsx& file) {
    int64_t total = 0;
    for (int i = 0; i < pList->Count; ++i) {
        const auto* item = static_cast<FSYSTEMLOC*>(pList->Items[i]);
        if (!item->inmemory) continue;
        // The XML writer would turn '<' into '(' and the item would come back under another name.
        if (item->name.Pos(CoreAnsx("<")) > 0) {
            CoreLog_::logfl(file + ": item name " + item->name + " cannot be stored", 1);
            return false;
        }
        total += item->size;
    }
    if (total > kLargestItem) {
        CoreLog_::logfl(file + ": items too large for one container", 1);
        return false;
    }
    try {
        CoreXml_ toc;
        toc.pappd(nullptr, 0, new CoreNode(CoreAnsx(sCtagfsysto)));
        std::vector<std::pair<const char*, int32_t>> blocks;
        int32_t address = 0;
        for (int i = 0; i < pList->Count; ++i) {
            auto* item = static_cast<FSYSTEMLOC*>(pList->Items[i]);
            if (!item->inmemory) continue;
            blocks.emplace_back(item->data, item->size);
            added(item, &toc, address);
            address += item->size;
        }
        return write(file.UpperCase(), static_cast<int32_t>(total), blocks, toc.settc(false, false), "savea");
    } catch (...) {
        CoreLog_::logfl(file + ": container not written, out of memory", 1);
        return false;
    }
}

bool CoreFsys::appnd(const CoreAnsx& file, const CoreAnsx& name) {
    FSYSTEMLOC* item = gtsit(name);
    if (!item || !item->inmemory) {
        CoreLog_::logfl(file + ": no item " + name + " in memory to append", 1);
        return false;
    }
    if (item->name.Pos(CoreAnsx("<")) > 0) {
        CoreLog_::logfl(file + ": item name " + item->name + " cannot be stored", 1);
        return false;
    }
    std::FILE* in = openItemFile(file, "rb");
    if (!in) {
        CoreLog_::logfl(file + ": cannot open the container", 1);
        return false;
    }
    const int64_t size = fileSize(in);
    PoolBlock old{pPool, nullptr};
    bool readWhole = size >= iCheadersize && size <= kLargestItem;
    if (readWhole) {
        old.bytes = block(static_cast<int32_t>(size), CoreAnsx("appnd"));
        readWhole =
            old.bytes && std::fread(old.bytes, 1, static_cast<size_t>(size), in) == static_cast<size_t>(size);
    }
    std::fclose(in);
    if (!readWhole || std::memcmp(old.bytes, sCheadertitle, kTitleLength) != 0) {
        CoreLog_::logfl(file + ": not a container", 1);
        return false;
    }
    const int32_t total = readTotal(old.bytes);
    if (total < 0 || total > size - iCheadersize) {
        CoreLog_::logfl(file + ": bad total in the container header", 1);
        return false;
    }
    const char* tableStart = old.bytes + iCheadersize + total;
    const auto tableLength = static_cast<size_t>(size - iCheadersize - total);
    try {
        const std::string tableText(tableStart, tableLength);
        CoreXml_ toc;
        if (tableText.empty() || tableText.find('\0') != std::string::npos ||
            !parseTable(toc, CoreAnsx(tableText.c_str()), file))
            return false;
        sToc = toc.settc(true, false);
        // The new block takes the old table's place and the grown table follows it: the bytes the
        // container would have had if it had been written with the item.
        added(item, &toc, total);
        const int64_t grown = int64_t{total} + item->size;
        if (grown > kLargestItem) {
            CoreLog_::logfl(file + ": container would grow too large", 1);
            return false;
        }
        return write(file, static_cast<int32_t>(grown),
                     {{old.bytes + iCheadersize, total}, {item->data, item->size}}, toc.settc(false, false),
                     "appnd");
    } catch (...) {
        CoreLog_::logfl(file + ": container not grown, out of memory", 1);
        return false;
    }
}

bool CoreFsys::loada(const CoreAnsx& file, const CoreAnsx& filter, bool ifNotLoaded, CoreFsys* reader) {
    sContainer = file;
    std::unique_ptr<CoreFsys> temporary;
    if (!reader) {
        temporary.reset(new CoreFsys(pPool));
        reader = temporary.get();
    }
    const int32_t source = reader->crtit(file);
    if (source < 0 || !reader->wopen(source, CoreAnsx("rb"))) {
        CoreLog_::logfl(reader->getfn(file) + ": cannot open the container", 1);
        return false;
    }
    struct Closer {
        CoreFsys* reader;
        int32_t id;
        ~Closer() { reader->wclse(id); }
    } closer{reader, source};
    // The container's size from its end; the reading store keeps positions within 0 .. size.
    if (reader->wseek(source, 0, 2) != 0) return false;
    const int32_t size = reader->wtell(source);
    char header[iCheadersize];
    if (size < iCheadersize || !read_(reader, source, 0, header, iCheadersize) ||
        std::memcmp(header, sCheadertitle, kTitleLength) != 0) {
        CoreLog_::logfl(file + ": not a container", 1);
        return false;
    }
    const int32_t total = readTotal(header);
    if (total < 0 || total > size - iCheadersize) {
        CoreLog_::logfl(file + ": bad total in the container header", 1);
        return false;
    }
    const int32_t tableLength = size - iCheadersize - total;
    if (tableLength == 0) {
        CoreLog_::logfl(file + ": the container has no table of contents", 1);
        return false;
    }
    CoreXml_ toc;
    {
        PoolBlock table{pPool, block(tableLength + 1, CoreAnsx("loada"))};
        if (!table.bytes || !read_(reader, source, iCheadersize + total, table.bytes, tableLength)) {
            CoreLog_::logfl(file + ": cannot read the table of contents", 1);
            return false;
        }
        table.bytes[tableLength] = '\0';
        if (!parseTable(toc, CoreAnsx(table.bytes), file)) return false;
    }
    sToc = toc.settc(true, false);

    const bool everything = filter.Trim() == CoreAnsx("0");
    const std::string wanted = textOf(filter.Trim().UpperCase());
    const FSYSTEMLOC* sourceRecord = reader == this ? record(source) : nullptr;
    std::unordered_set<std::string> seen;
    CoreTlst* items = tableOf(toc)->getcn();
    for (int i = 0; items && i < items->Count; ++i) {
        const auto* entry = static_cast<const CoreNode*>(items->Items[i]);
        if (entry->leaf_() || entry->gettx().Trim().UpperCase() != CoreAnsx(sCtagfsysit)) continue;
        CoreAnsx name, addressText, dimText;
        int64_t address = 0, dim = 0;
        const bool named = itemValue(entry, sCtagfsysen, name) && name.Length() > 0;
        const CoreAnsx key = name.UpperCase();
        if (named && !everything) {
            const std::string entryKey = textOf(key);
            if (wanted.find(entryKey) == std::string::npos && entryKey.find(wanted) == std::string::npos)
                continue;
        }
        if (!named || !itemValue(entry, sCtagfsysad, addressText) ||
            !itemValue(entry, sCtagfsysdm, dimText) || !parseCount(addressText, address) ||
            !parseCount(dimText, dim) || address + dim > total) {
            CoreLog_::logfl(file + ": item " + CoreAnsx(i + 1) + " of the table is damaged, skipped", 1);
            continue;
        }
        if (!seen.insert(slashed(key)).second)
            CoreLog_::logfl(file + ": item " + key + " appears again and replaces the earlier one", 1);
        FSYSTEMLOC* item = exact(key);
        if (item && ifNotLoaded && item->inmemory) continue;
        if (item && item == sourceRecord) {
            CoreLog_::logfl(file + ": item " + key + " would replace the container itself, skipped", 1);
            continue;
        }
        if (!item) item = record(crtit(key, true));
        if (!item) continue;
        char* bytes = block(static_cast<int32_t>(dim), file);
        if (dim > 0 && !bytes) continue;
        if (!read_(reader, source, static_cast<int32_t>(iCheadersize + address), bytes,
                   static_cast<int32_t>(dim))) {
            CoreLog_::logfl(file + ": item " + key + " could not be read, skipped", 1);
            if (bytes) pPool->free_(bytes);
            continue;
        }
        install(item, bytes, static_cast<int32_t>(dim), file);
    }
    return true;
}

// ---- single-document containers
// ----------------------------------------------------------------------------

bool CoreFsys::ldq7x(CorePool* pool, CoreXml_* doc, const CoreAnsx& file) {
    if (!pool || !doc) return false;
    doc->close();
    CoreFsys store(pool);
    if (!store.loada(file, CoreAnsx("0"), false, nullptr)) return false;
    const FSYSTEMLOC* item = store.exact(CoreAnsx(CoreButl::sCnull));
    if (!item || !item->inmemory) return false;
    try {
        return doc->getfc(store.ct2as(item->id)) != nullptr;
    } catch (...) {
        CoreLog_::logfl(file + ": the document is not readable", 1);
        doc->close();
        return false;
    }
}

bool CoreFsys::svq7x(CorePool* pool, CoreXml_* doc, const CoreAnsx& file) {
    if (!pool || !doc) return false;
    const CoreAnsx text = doc->settc(false, false);
    CoreFsys store(pool);
    const int32_t id = store.crtit(CoreAnsx(CoreButl::sCnull));
    return store.setit(id, text.c_str(), std::max(0, text.Length()), CoreAnsx("0"), false, false) &&
           store.savea(file);
}

bool CoreFsys::cvq7x(CorePool* pool, const CoreAnsx& file) {
    CoreXml_ doc;
    if (!ldq7x(pool, &doc, file)) return false;
    const CoreAnsx target =
        CoreButl::wcase(CoreButl::ffpen(CoreButl::setfx(file, CoreAnsx(CoreButl::sCextxml))));
    return CoreButl::svatx(target, doc.settc(true, false), false);
}

bool CoreFsys::cvxml(CorePool* pool, const CoreAnsx& file) {
    CoreXml_ doc;
    try {
        if (!doc.getff(file, false)) return false;
    } catch (...) {
        CoreLog_::logfl(file + ": not readable as XML", 1);
        return false;
    }
    return svq7x(pool, &doc, CoreButl::setfx(file, CoreAnsx(CoreButl::sCextq7x)));
}
