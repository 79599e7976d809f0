// CorePbol: a bool behind its own lock, shared by the processor, the display
// and the host threads (busy, pass-through and clip flags). Every access takes
// the lock; safe from any thread.
#pragma once
#include "base/CoreSmph.h"

class CorePbol {
public:
    explicit CorePbol(bool initial);
    CorePbol(const CorePbol&) = delete;
    CorePbol& operator=(const CorePbol&) = delete;

    bool getvl() const;
    void setvl(bool value);

private:
    bool bValue;
    mutable CoreSmph oLock;
};
