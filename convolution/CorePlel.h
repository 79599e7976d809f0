// CorePlel: the process-wide kernel registry. Identical kernel pairs, prepared with the same key and
// parameters by different owners inside one sharing group, are held once and reference-counted.
// Created once per process by the master object; vectors register and release through it.
// Thread-safe: every call takes the registry lock; an open group keeps it until end__ (see below).
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreSmph.h"
#include "base/CoreTlst.h"
#include "convolution/KernelModeTypes.h"

#include <atomic>
#include <thread>

class CorePool;

class CorePlel {
public:
    struct GROUPLOC;

    // One held kernel pair.
    struct BLOCKLOC {
        int id;
        int references;
        GROUPLOC* group; // null when registered outside a group
        CoreAnsx key;
        // Everything besides the key that a match compares (the owner must differ).
        long a;
        long c;
        long d;
        int b;
        void* owner;
        short kind;
        void* left;
        void* right; // may be the same buffer as left; it is then freed once
        // The element delete operation of the kernel mode that made the buffers, with its extension.
        ElementDeleteOp release;
        VECEXTENSION* extension;
    };

    // A named group of registrations; sharing happens only between records of one group.
    struct GROUPLOC {
        CoreAnsx name;
        CoreTlst records; // BLOCKLOC*, in registration order; not owned
    };

    // Opens a group for its lifetime: begin in the constructor, end__ in the destructor unless
    // close() ran first. Use it instead of bare begin/end__ so that an exception thrown while
    // kernels are registered cannot leave the registry locked for every other instance.
    class GroupGuard {
    public:
        GroupGuard(CorePlel* registry, const CoreAnsx& name, bool share);
        ~GroupGuard();
        GroupGuard(const GroupGuard&) = delete;
        GroupGuard& operator=(const GroupGuard&) = delete;
        void close();

    private:
        CorePlel* pRegistry;
    };

    explicit CorePlel(CorePool* pool);
    // Force-releases every record still held (freeing its buffers through its delete operation),
    // then removes the groups. The pool must outlive the registry.
    ~CorePlel();
    CorePlel(const CorePlel&) = delete;
    CorePlel& operator=(const CorePlel&) = delete;

    // Takes the registry lock and keeps it until end__, on the same thread. The group of that name
    // (exact, case-sensitive) becomes current; it is created when there is none. While the group is
    // open, relel, garlk and addel called on this thread run under the lock already held, so a
    // failed load may destroy its vectors before it closes the group; other threads wait.
    void begin(const CoreAnsx& name, bool share);
    // Closes the group and releases the lock. Only the thread that began the group closes it;
    // from any other thread (or with no group open) it does nothing.
    void end__();

    // Registers the pair *L, *R and returns its id. Inside a sharing group, when a record of the
    // current group has an equal key, a, b, c, d and kind and another owner, the caller's buffers
    // are freed with the caller's delete operation (L first when L and R differ, then R), *L and *R
    // receive the held buffers and the held record's id is returned. Otherwise a new record holds
    // the caller's buffers. Outside a group (or from a thread that has not begun the open group)
    // the call takes the lock for its own duration.
    int addel(ElementDeleteOp release, VECEXTENSION* extension, void** L, void** R, const CoreAnsx& key,
              long a, int b, long c, long d, void* owner, short kind);
    // Drops one reference; with force, or at the last reference, frees the buffers and removes the
    // record. An id that is not held changes nothing.
    void relel(int id, bool force);
    // Deletes, from last to first, every group that holds no records (the open group is kept).
    void garlk();

    // Inspection for the owner's diagnostics and tests.
    int count() const { return oRecords.Count; } // records held
    int groups() const { return oGroups.Count; } // groups kept
    int refer(int id) const;                     // references of the id, 0 when not held
    bool ingrp() const { return bIngroup; }
    CorePool* getpl() const { return pPool; } // the pool the free functions receive

private:
    // Takes the lock unless this thread holds it through an open group; returns whether it took it.
    bool enter();
    void leave(bool took);
    bool holdsGroup() const;
    void releaseRecord(int index, bool force);
    static void freePair(const BLOCKLOC* record, CorePool* pool);

    int iNextid;
    bool bIngroup;
    bool bShare;
    CoreTlst oRecords; // BLOCKLOC*, owned, in registration order
    CoreTlst oGroups;  // GROUPLOC*, owned
    CoreSmph* pLock;
    GROUPLOC* pCurrent;
    CorePool* pPool;
    // The thread that holds the lock through an open group; a default id when none does.
    std::atomic<std::thread::id> oHolder;
};
