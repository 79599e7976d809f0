// CoreSgrd: a scoped hold on a CoreSmph. The waiting form takes the lock in its constructor; the try
// form makes one attempt and reports through taken() whether it holds the lock. The destructor
// releases a lock it holds, also when a thrown error leaves the scope. Used on one thread; the lock
// must outlive the guard.
#pragma once
#include "base/CoreSmph.h"

class CoreSgrd {
public:
    struct TRYONCE {}; // selects the try form
    static constexpr TRYONCE cConce{};

    explicit CoreSgrd(CoreSmph& lock);
    CoreSgrd(CoreSmph& lock, TRYONCE);
    ~CoreSgrd();
    CoreSgrd(const CoreSgrd&) = delete;
    CoreSgrd& operator=(const CoreSgrd&) = delete;

    bool taken() const { return bTaken; }

private:
    CoreSmph& oLock;
    bool bTaken;
};
