#include "convolution/CorePlel.h"

#include "base/CoreLog_.h"

#include <new>

CorePlel::GroupGuard::GroupGuard(CorePlel* registry, const CoreAnsx& name, bool share) : pRegistry(registry) {
    if (pRegistry != nullptr) pRegistry->begin(name, share);
}

CorePlel::GroupGuard::~GroupGuard() {
    close();
}

void CorePlel::GroupGuard::close() {
    if (pRegistry != nullptr) pRegistry->end__();
    pRegistry = nullptr;
}

CorePlel::CorePlel(CorePool* pool)
    : iNextid(0), bIngroup(false), bShare(false), pLock(new CoreSmph()), pCurrent(nullptr), pPool(pool),
      oHolder(std::thread::id()) {}

CorePlel::~CorePlel() {
    // Force-release from the newest record down, so that the list shrinks from its end.
    for (;;) {
        const bool took = enter();
        const int last = oRecords.Count - 1;
        if (last < 0) {
            leave(took);
            break;
        }
        releaseRecord(last, true);
        leave(took);
    }
    garlk();
    const bool took = enter();
    for (int i = oGroups.Count - 1; i >= 0; --i) delete static_cast<GROUPLOC*>(oGroups[i]);
    oGroups.Clear();
    pCurrent = nullptr;
    bIngroup = false;
    oHolder.store(std::thread::id());
    leave(took);
    delete pLock;
}

bool CorePlel::holdsGroup() const {
    return oHolder.load() == std::this_thread::get_id();
}

bool CorePlel::enter() {
    if (holdsGroup()) return false;
    pLock->locks();
    return true;
}

void CorePlel::leave(bool took) {
    if (took) pLock->relse();
}

void CorePlel::begin(const CoreAnsx& name, bool share) {
    if (holdsGroup()) {
        // A second begin on the holding thread would wait for itself forever; close the open
        // group first, as the pairing of begin and end__ requires.
        CoreLog_::loger(CoreAnsx("Kernel registry: group ") + name + CoreAnsx(" begun inside an open group"),
                        1);
        end__();
    }
    pLock->locks();
    try {
        GROUPLOC* found = nullptr;
        for (int i = 0; i < oGroups.Count && found == nullptr; ++i) {
            GROUPLOC* group = static_cast<GROUPLOC*>(oGroups[i]);
            if (group->name == name) found = group;
        }
        if (found == nullptr) {
            found = new GROUPLOC();
            found->name = name;
            if (!oGroups.Add(found)) {
                delete found;
                throw CoreAnsx("Kernel registry: no memory for group ") + name;
            }
        }
        pCurrent = found;
        bIngroup = true;
        bShare = share;
        oHolder.store(std::this_thread::get_id());
    } catch (...) {
        pLock->relse();
        throw;
    }
}

void CorePlel::end__() {
    if (!bIngroup || !holdsGroup()) return;
    bIngroup = false;
    bShare = false;
    pCurrent = nullptr;
    oHolder.store(std::thread::id());
    pLock->relse();
}

void CorePlel::freePair(const BLOCKLOC* record, CorePool* pool) {
    if (record->release == nullptr) return;
    if (record->left != record->right && record->left != nullptr)
        record->release(record->extension, pool, record->left);
    if (record->right != nullptr) record->release(record->extension, pool, record->right);
}

int CorePlel::addel(ElementDeleteOp release, VECEXTENSION* extension, void** L, void** R, const CoreAnsx& key,
                    long a, int b, long c, long d, void* owner, short kind) {
    const bool took = enter();
    // A thread that did not begin the open group waited in enter() until it closed, so it always
    // registers outside a group.
    const bool inGroup = bIngroup && !took;
    try {
        void* left = L != nullptr ? *L : nullptr;
        void* right = R != nullptr ? *R : nullptr;
        if (inGroup && bShare && pCurrent != nullptr) {
            for (int i = 0; i < pCurrent->records.Count; ++i) {
                BLOCKLOC* held = static_cast<BLOCKLOC*>(pCurrent->records[i]);
                if (held->owner == owner || held->key != key || held->a != a || held->b != b ||
                    held->c != c || held->d != d || held->kind != kind)
                    continue;
                BLOCKLOC mine{};
                mine.left = left;
                mine.right = right;
                mine.release = release;
                mine.extension = extension;
                freePair(&mine, pPool);
                if (L != nullptr) *L = held->left;
                if (R != nullptr) *R = held->right;
                held->references += 1;
                const int id = held->id;
                leave(took);
                return id;
            }
        }
        BLOCKLOC* record = new BLOCKLOC{};
        record->id = iNextid;
        record->references = 1;
        record->group = inGroup ? pCurrent : nullptr;
        record->key = key;
        record->a = a;
        record->c = c;
        record->d = d;
        record->b = b;
        record->owner = owner;
        record->kind = kind;
        record->left = left;
        record->right = right;
        record->release = release;
        record->extension = extension;
        if (!oRecords.Add(record)) {
            delete record;
            throw CoreAnsx("Kernel registry: no memory for ") + key;
        }
        if (record->group != nullptr && !record->group->records.Add(record)) {
            oRecords.Delete(oRecords.Count - 1);
            delete record;
            throw CoreAnsx("Kernel registry: no memory for ") + key;
        }
        iNextid += 1;
        leave(took);
        return record->id;
    } catch (const std::bad_alloc&) {
        leave(took);
        throw CoreAnsx("Kernel registry: no memory for ") + key;
    } catch (...) {
        leave(took);
        throw;
    }
}

void CorePlel::releaseRecord(int index, bool force) {
    BLOCKLOC* record = static_cast<BLOCKLOC*>(oRecords[index]);
    record->references -= 1;
    if (record->references > 0 && !force) return;
    freePair(record, pPool);
    if (record->group != nullptr) {
        CoreTlst& members = record->group->records;
        for (int i = members.Count - 1; i >= 0; --i) {
            if (members[i] == record) {
                members.Delete(i);
                break;
            }
        }
    }
    oRecords.Delete(index);
    delete record;
}

void CorePlel::relel(int id, bool force) {
    const bool took = enter();
    for (int i = oRecords.Count - 1; i >= 0; --i) {
        if (static_cast<BLOCKLOC*>(oRecords[i])->id == id) {
            releaseRecord(i, force);
            break;
        }
    }
    leave(took);
}

void CorePlel::garlk() {
    const bool took = enter();
    for (int i = oGroups.Count - 1; i >= 0; --i) {
        GROUPLOC* group = static_cast<GROUPLOC*>(oGroups[i]);
        // The open group stays: its holder goes on registering into it.
        if (group->records.Count > 0 || (bIngroup && group == pCurrent)) continue;
        oGroups.Delete(i);
        delete group;
    }
    leave(took);
}

int CorePlel::refer(int id) const {
    for (int i = oRecords.Count - 1; i >= 0; --i) {
        const BLOCKLOC* record = static_cast<const BLOCKLOC*>(oRecords.Items[i]);
        if (record->id == id) return record->references;
    }
    return 0;
}
