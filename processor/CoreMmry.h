// CoreMmry: the program memory: 10000 program slots (100 banks of 100) with each program's file,
// metadata and XML document, a small metadata cache file per program, the program files and setup
// files that fill the slots, and the category tree and browser over the used slots. Owned by the
// processor. One lock guards the slots: every locking operation holds it for its whole run and calls
// only lock-free internals, which run under a caller's lock or on the display's one thread; the tree
// and browse state belong to that thread.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreSmph.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CoreDcry;
class CoreFsys;
class CoreNode;
class CorePool;
class CoreXml_;

class CoreMmry {
public:
    static constexpr int32_t iCmemorydim = 10000;
    static constexpr int32_t iCbanks = 100;
    static constexpr int32_t iCbankdim = 100;
    static constexpr int32_t iCchunkbufferdim = 131072; // bytes of the host-chunk buffer
    static constexpr int32_t iCcategories = 3;          // category, subcategory 1, subcategory 2
    static constexpr int32_t iCtreepath = 5;            // levels of the tree path
    // A search walks (slot, step) states and its step takes at most two values, so a search that has
    // not ended after this many probes never ends.
    static constexpr int32_t iCprobecap = 2 * iCmemorydim;
    static constexpr char sCscanboot[] = "~scanboot.xml";
    static constexpr char sClastctg[] = "LST"; // dictionary key of the program menu's title

    // One slot. The memory owns the document; getel copies every field but the document.
    struct MEMORYLOC {
        bool used = false;
        bool lazy = false;   // filled from the cache; the document is read when first needed
        bool packed = false; // read from, and saved to, a packed container (".q7p")
        CoreAnsx name;
        CoreAnsx filepath;                   // relative to the program sub-path, as passed
        CoreAnsx vectorname = CoreAnsx("0"); // "0": none given
        CoreAnsx category[iCcategories];
        CoreAnsx description;
        CoreAnsx cachedfile; // the program file the slot was read from
        CoreXml_* document = nullptr;
    };
    struct MEMORYMANAGER {
        MEMORYLOC slots[iCmemorydim];
    };

    // Paths join by plain concatenation: folders end with '/' or are empty. The alternative folders
    // are not copied and must outlive the memory. A given file store is used and not owned; the cache
    // is then off.
    CoreMmry(CorePool* pool, const CoreAnsx& dataFolder, int16_t alternativeCount,
             CoreAnsx* alternativeFolders, const CoreAnsx& setupSubPath, const CoreAnsx& programSubPath,
             const CoreAnsx& vectorSubPath, const CoreAnsx& cacheSubPath, bool useCache, CoreFsys* fileStore);
    ~CoreMmry();
    CoreMmry(const CoreMmry&) = delete;
    CoreMmry& operator=(const CoreMmry&) = delete;

    void setdc(CoreDcry* dictionary); // kept, not owned

    // ---- slots (locked). Slots outside 0..9999 and levels outside 0..2 read as a free slot and
    // are never written.
    CoreAnsx getnm(int32_t slot) const;                // "0" when free
    CoreAnsx getds(int32_t slot) const;                // "0" when free
    CoreAnsx getct(int32_t slot, int32_t level) const; // "0" when free
    CoreAnsx getcc(int32_t slot) const;                // "0" when free
    CoreAnsx getpf(int32_t slot) const;                // empty when free
    CoreAnsx getfp(int32_t slot, bool asStored) const; // "0" when free
    bool getwp(int32_t slot) const;
    CoreAnsx getfv(int32_t slot, bool asStored) const; // vector container name; "0" when free
    void getel(int32_t slot, MEMORYLOC* out) const;    // out's document stays as it was
    // The per-field setters do nothing on a free slot.
    void setnm(int32_t slot, const CoreAnsx& name);
    void setds(int32_t slot, const CoreAnsx& description);
    void setct(int32_t slot, const CoreAnsx& text, int32_t level);
    void setfp(int32_t slot, const CoreAnsx& name); // extension settled by the packed flag
    // Whole slot from a program text. A text that gives no element (malformed, "0", empty) throws a
    // CoreAnsx, logged, and leaves the slot exactly as it was.
    void setvl(int32_t slot, bool packed, const CoreAnsx& filePath, const CoreAnsx& text);
    void setvl(int32_t slot, const CoreAnsx& text, bool writeCache);

    // ---- searches and clearing. Only getcf and clrpr/clear take the lock.
    int32_t srcnm(const CoreAnsx& name) const; // lowest used slot of that exact name; -1
    int32_t setmc(int32_t bank);               // cursor to the bank's first slot; -1 for a bad bank
    int32_t getne();                           // first free slot from the cursor; -1, cursor 0
    int32_t getcf(int32_t start) const;        // first free slot from start, wrapping; -1
    int32_t getpr() const { return iLoadslot; }
    void iclrp(int32_t slot);
    void clrpr(int32_t slot);
    void iclea(int32_t bank);
    void clear(int32_t bank);
    void clear(); // bank by bank, the lock taken per bank

    // ---- metadata cache (no lock; callers hold it). Does nothing while the cache is off.
    void setca(int32_t slot); // never throws; a failed write is logged by the XML writer
    // Fills a free slot from the cache file of fileName when that file belongs to fileName; true when
    // it is newer than the program file it names. A used slot is never touched.
    bool getca(int32_t slot, const CoreAnsx& fileName);
    void invca(int32_t slot);

    // ---- program and setup files (processor/CoreMmryFiles.cpp). Slots outside 0..9999 and banks
    // outside 0..99 give false, "0" or nothing.
    // Reads a program file (relative to the program sub-path; a name without extension prefers a packed
    // program) into the slot with its header. False when it cannot be found or read: the slot then holds
    // no document and keeps its used and lazy flags. No lock: callers hold it.
    bool loadl(int32_t slot, CoreAnsx file);
    // Places the entries of the setup file name ("0": the last scan) into the free slots from the bank's
    // first one, from the cache where it is valid. False, logged, when there is no SETUP to read.
    bool loads(const CoreAnsx& name, int32_t bank, bool clearBank);
    bool saves(const CoreAnsx& name, int32_t bank); // the bank's used slots; false when not written
    // Lists the program files no slot holds into the scan text and the scan file. Only with an own store;
    // true when the scan ran.
    bool scanp(bool enabled);
    // Moves or copies a slot (a copy holds its own document; from a slot without document it is lazy).
    // A slot onto itself does nothing. The cache is not touched.
    void mvepr(int32_t from, int32_t to, bool move);
    void fix_l(int32_t slot); // re-reads a used slot from its file; locked
    // The slot's program as compact XML text, a lazy slot read first; "0" when there is none.
    CoreAnsx getvl(int32_t slot, bool dropCache);

    // ---- host chunk (processor/CoreMmryChunk.cpp; locked)
    // The chunk text of a used slot, a lazy one read first; throws a CoreAnsx for a free or
    // out-of-range slot and for one whose program cannot be read.
    CoreAnsx dumpo(int32_t slot);
    // Puts the chunk's PROGRAM elements into their slots and returns the slot to select (that of the
    // first PROGRAM in document order, else SELECTEDPROGRAM when there is no PROGRAM); -1 when nothing
    // is to be selected, also when every PROGRAM was skipped (no slot, or no elements in it). The
    // text is parsed before any slot changes: a reader's throw reaches the caller, slots untouched.
    int32_t dumpi(const CoreAnsx& text);

    // ---- category tree (updtt and ordrt locked; the rest on the display's thread)
    void cleat();
    void updtt();
    void ordrt(int32_t unused);
    void settr(int32_t level, int32_t index); // levels outside 0..4 are ignored
    int32_t gettn() const;
    CoreAnsx gette();
    CoreAnsx gettt();
    bool islte() const { return bLeaf; }

    // ---- browser (getct, getbs, getbc(), getck and getbk locked)
    void setbs(int32_t level, const CoreAnsx& text); // levels outside 0..2 are ignored
    int32_t setbb(int32_t delta);
    void pushb();
    void popb_();
    // Distinct upper-cased, trimmed values of category `level` among the used slots matching filters
    // on the levels below it, in slot order. Replaces the array-new array *list and sets count.
    void getct(CoreAnsx** list, int32_t& count, const CoreAnsx* filters, int32_t level) const;
    int32_t getbs();
    int32_t getbc();
    CoreAnsx getbc(int32_t i) const; // empty outside the last listing
    // The next used slot from start in steps of step that matches the first count filters (1..3);
    // 0 when the search runs off the top or never ends.
    int32_t getck(int32_t start, int16_t step, const CoreAnsx* filters, int32_t count) const;
    int32_t getbk(int32_t start, int16_t step) const;
    // The order in which a setup's entries are placed, as indexes into sequences (which it reorders):
    // for each place i, every later entry with a smaller sequence is exchanged into it in turn, so that
    // equal sequences may change their order. Stored setups and scans rely on this order; with all
    // sequences distinct it is the ascending one, which a faster sort gives alike.
    static std::vector<int32_t> placementOrder(int32_t* sequences, int32_t count);

private:
    friend class CoreMmryTestAccess;

    static bool within(int64_t value, int32_t count) { return value >= 0 && value < count; }
    // text upper-cased and trimmed; case-insensitive equality of a text with such a key
    static void normalise(const CoreAnsx& text, std::string& out);
    static bool matches(const CoreAnsx& text, const std::string& key);
    bool qualifies(int32_t slot, const std::string* keys, int32_t count) const;
    MEMORYLOC& slot(int32_t n) const { return pSlots->slots[n]; }
    CoreNode* pathNode() const; // null when the path names a missing child
    // The distinct listing into texts, an array-new array of capacity strings, grown when too small.
    int32_t distinct(const CoreAnsx* filters, int32_t level, CoreAnsx*& texts, int32_t& capacity) const;
    CoreAnsx cacheName(const MEMORYLOC& loc) const;
    static void copyFields(const MEMORYLOC& from, MEMORYLOC& to);         // all but the document
    static CoreNode* element(const CoreAnsx& tag, const CoreAnsx& value); // <tag>value</tag>
    // The program file's path below the program sub-path and the slot's file path, extension settled.
    void settleExtension(CoreAnsx& path, CoreAnsx& stored) const;
    bool readProgram(MEMORYLOC& loc, const CoreAnsx& path, CoreXml_& document);
    void placeEntries(const CoreNode* setup);

    CoreAnsx sDatafolder;
    CoreAnsx sSetupsubpath;
    CoreAnsx sProgramsubpath;
    CoreAnsx sVectorsubpath;
    CoreAnsx sCachefolder; // as found on disk, or as created
    CoreAnsx sScantext;
    CoreAnsx sBrowsefilters[iCcategories];
    CoreAnsx sSavedfilters[iCcategories];
    CoreAnsx* pAlternativefolders;
    CoreAnsx* pDistinctlist;
    int32_t iDistinctcount;
    int32_t iDistinctcapacity;
    int16_t iAlternativecount;
    int32_t iCursor;
    int32_t iBrowsedepth;
    int32_t iSaveddepth;
    int32_t iLoadslot;
    int32_t iTreepath[iCtreepath]; // child indices from the tree root; the first negative ends it
    bool bCacheenabled;
    bool bExternalstore;
    bool bLeaf;
    bool bDictionary;
    std::unique_ptr<MEMORYMANAGER> pSlots;
    mutable CoreSmph oLock;
    CorePool* pPool;
    CoreFsys* pStore;
    CoreXml_* pTree;
    CoreNode* pTreeroot;
    CoreDcry* pDictionary;
};
