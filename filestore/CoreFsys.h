// CoreFsys: the store of named items that every reader of data files goes through. An item is a loose
// file under the base folder (read from disk when accessed) or a pool block in memory (read whole,
// copied in, or taken from an item container); items are addressed by ids the store hands out.
// Not thread-safe: the owner serialises every call. The static members may be called from any thread.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

class CoreNode;
class CorePool;
class CoreTlst;
class CoreXml_;

class CoreFsys {
public:
    // One item. Owned by the store: created by crtit, deleted by delct and init_.
    struct FSYSTEMLOC {
        int32_t id;         // never reused within one store
        CoreAnsx name;      // the key: trimmed, upper-cased; a loose file's path below the base folder
        CoreAnsx mode;      // fopen mode of the last wopen
        char* data;         // the pool block while inmemory is set
        int32_t size;       // bytes in data
        bool inmemory;      // data holds the whole item
        int32_t position;   // read position in data, or the remembered file position in the reopen mode
        std::FILE* file;    // the open disk file, or null
        bool open;          // file is open and held in the record
        CoreAnsx container; // the container the data came from; empty, "0" or "NULL" for none
    };

    static constexpr int iCitems = 10000; // records the list reserves room for
    // First 8 bytes of every container (the blank belongs to it); the writer's version follows.
    static constexpr char sCheadertitle[] = "Vorlan2 ";
    static constexpr int iCheadersize = 44; // 40 bytes of title, then the little-endian int32 total
    static constexpr int iCtitlesize = 40;  // title field including its terminating zero
    static constexpr char sCtagfsysto[] = "TOC";
    static constexpr char sCtagfsysit[] = "ITEM";
    static constexpr char sCtagfsysen[] = "ENTRY";
    static constexpr char sCtagfsysad[] = "ADDRESS";
    static constexpr char sCtagfsysdm[] = "DIM";
    static constexpr char sCtagfsyscp[] = "CRYPTED";
    static constexpr char sCtagfsysvs[] = "VERSION";
    static constexpr char sCtagfsystg[] = "TARGET";
    static constexpr char sCtagfsysky[] = "KEY";

    explicit CoreFsys(CorePool* pool);
    // reopen: disk items are never held open; each stream call opens, positions, acts and closes.
    // flag has no effect.
    CoreFsys(CorePool* pool, const CoreAnsx& folder, bool reopen, bool flag = false);
    ~CoreFsys();
    CoreFsys(const CoreFsys&) = delete;
    CoreFsys& operator=(const CoreFsys&) = delete;

    void init_(); // closes, frees and deletes every record; the id counter keeps counting
    // The base folder is prefixed to keys as it stands: it ends with '/' or is empty.
    void setdt(const CoreAnsx& folder) { sFolder = folder; }
    CoreAnsx getdt() const { return sFolder; }
    CoreAnsx getfn(const CoreAnsx& name) const { return sFolder + name; }
    CoreAnsx gettc() const { return sToc; }       // indented table of the last loada or appnd
    CoreAnsx getll() const { return sContainer; } // container named by the last loada

    // ---- records ---------------------------------------------------------------------------------
    // The key is Trim + UpperCase of name; an empty key gives -1 and creates nothing. Without
    // alwaysNew the record found by the lookup rule (gtsit) is returned when there is one. mark has
    // no effect.
    int32_t crtit(const CoreAnsx& name);
    int32_t crtit(const CoreAnsx& name, bool alwaysNew);
    int32_t crtit(const CoreAnsx& name, bool mark, bool alwaysNew);
    // Lookup rule: (1) the first record whose key equals the key, '/' and '\' counted equal;
    // (2) else the first record taken from a container whose key ends with a separator + the key,
    // or equals what follows a separator in the key (folder prefixes differ); (3) else none.
    // Loose records match only exactly; an empty key matches nothing.
    FSYSTEMLOC* gtsit(const CoreAnsx& name) const;
    int32_t getit(const CoreAnsx& name) const;       // id or -1
    FSYSTEMLOC* gtiit(int32_t id, int& index) const; // null and index -1 when missing
    int llvcn() const;
    int getkn() const;
    CoreAnsx llvel(int i, int32_t& id) const;     // "" and id -1 outside 0 .. count - 1
    void getks(CoreAnsx* names) const;            // names[i] = key of record i, in list order
    bool isvld(int32_t id) const;                 // exists and in memory
    int32_t getco(int32_t id, void** data) const; // size and block of an in-memory record, else 0
    void delct(int32_t id);

    // ---- in-memory contents ----------------------------------------------------------------------
    // Copies n bytes into a new "FSYS" block, then frees the old block when freeOld (without freeOld
    // the caller owns it). keepMeta keeps the container name. A missing id, n < 0 or a failed
    // allocation change nothing (false). mark has no effect.
    bool setit(int32_t id, const char* bytes, int32_t n, const CoreAnsx& container, bool freeOld,
               bool keepMeta);
    bool setit(int32_t id, const char* bytes, int32_t n, bool mark, const CoreAnsx& container, bool freeOld,
               bool keepMeta);
    // Reads base folder + name whole into memory. False, record unchanged: missing id, ifNotLoaded
    // and already in memory, not a readable regular file, 2^31 bytes or more, short read.
    bool loadc(int32_t id, bool ifNotLoaded);
    void uload(const CoreAnsx& ext);  // drops the data of in-memory records with that extension
    void rload(const CoreAnsx& ext);  // reloads such records from their containers
    CoreAnsx ct2as(int32_t id) const; // the bytes as text without zero bytes; "" when not in memory
    // Parses the item into doc. Missing item: doc empty, null. Malformed XML: logged, doc empty, null.
    CoreNode* getff(CoreXml_* doc, const CoreAnsx& name, bool flag);

    // ---- stream operations (memory and disk items behave alike) ----------------------------------
    bool wopen(int32_t id, const CoreAnsx& mode);
    // Whole elements read; like fread, a trailing partial element's bytes are copied too.
    int32_t wread(int32_t id, void* buffer, int32_t size, int32_t count);
    // fseek within 0 .. size (whence 2 based at the size): 0, or -1 with the position kept.
    int wseek(int32_t id, int32_t offset, int whence);
    int32_t wtell(int32_t id);
    // Once the position reaches the size: -1 for memory items, non-zero for disk items; else 0.
    int weof_(int32_t id);
    void wclse(int32_t id);

    // ---- disk tests (names found whatever their case) --------------------------------------------
    static bool exstf(const CoreAnsx& folder, const CoreAnsx& name);
    // Tries folder, then the count alternatives in order; found = the first folder holding name,
    // else emptied.
    static bool exstf(const CoreAnsx& folder, int16_t count, const CoreAnsx* alternatives,
                      const CoreAnsx& name, CoreAnsx& found);
    bool exstf(const CoreAnsx& name); // creates or finds the record; in memory, or on disk

    // ---- writing back ----------------------------------------------------------------------------
    // Every in-memory record to base folder + key: ".XML" items indented, others byte for byte.
    // Absolute keys and keys with ".." are skipped and logged. True when every item was written.
    bool savea();
    // Replaces path (resolved by CoreButl::wcase) with n bytes through a temporary file in the same
    // folder; on failure the old file stays as it was and false is returned (logged).
    static bool wrfle(const CoreAnsx& path, const char* bytes, int64_t n);

    // ---- item containers -------------------------------------------------------------------------
    // Header (title, total), the in-memory records' bytes in list order, the compact table of
    // contents. The whole path is upper-cased (then resolved by wcase). False: a key holding '<',
    // items of 2^31 bytes or more together, or the write failed.
    bool savea(const CoreAnsx& file);
    // Adds the in-memory record found by name behind the blocks of an existing container, as if the
    // container had been written with it. False, file unchanged, for any failure.
    bool appnd(const CoreAnsx& file, const CoreAnsx& name);
    // Loads the items of a container, read through reader (a temporary store on the same pool when
    // null), into records found or created by exact key. filter "0" takes every item, else items
    // whose ENTRY contains the filter or is contained in it. ifNotLoaded keeps in-memory records.
    // Bad items are skipped and logged; false for an unreadable file, wrong title, bad total or table.
    bool loada(const CoreAnsx& file, const CoreAnsx& filter, bool ifNotLoaded, CoreFsys* reader);
    // Appends one ITEM for the record (ENTRY its key, ADDRESS address, DIM its size) under the
    // table's TOC element.
    void added(FSYSTEMLOC* item, CoreXml_* toc, int32_t address);

    // Single-document containers (.Q7X): one item "NULL" holding the compact text of a document.
    static bool ldq7x(CorePool* pool, CoreXml_* doc, const CoreAnsx& file);
    static bool svq7x(CorePool* pool, CoreXml_* doc, const CoreAnsx& file);
    static bool cvq7x(CorePool* pool, const CoreAnsx& file); // container -> indented ".xml" beside it
    static bool cvxml(CorePool* pool, const CoreAnsx& file); // XML file -> ".q7x" container beside it

private:
    struct Index; // records by id, by key and by last path component

    CorePool* pPool;
    CoreAnsx sFolder;
    CoreAnsx sToc;
    CoreAnsx sContainer;
    CoreTlst* pList;
    int32_t iNextId;
    bool bReopen;
    std::unique_ptr<Index> pIndex;

    FSYSTEMLOC* record(int32_t id) const;
    FSYSTEMLOC* exact(const CoreAnsx& key) const;
    static void closeFile(FSYSTEMLOC* item);
    void release(FSYSTEMLOC* item); // closes the file and frees the block
    void install(FSYSTEMLOC* item, char* block, int32_t n, const CoreAnsx& container);
    char* block(int32_t n, const CoreAnsx& site); // null for n == 0 or a failed allocation
    std::FILE* reopen(FSYSTEMLOC* item) const;    // the reopen mode's file at its position, or null
    // Writes a container through one "FSYS" block and wrfle: the header with total, the blocks in
    // order, the table text. Reads n bytes at offset of a reading store's item, all or nothing.
    bool write(const CoreAnsx& file, int32_t total,
               const std::vector<std::pair<const char*, int32_t>>& blocks, const CoreAnsx& table,
               const char* site);
    static bool read_(CoreFsys* reader, int32_t id, int32_t offset, char* buffer, int32_t n);
};
