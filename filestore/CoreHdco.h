// CoreHdco: a container of sampling-toolkit outputs (.Q7K) written item by item: the first item
// makes a new container, later ones are appended to it. Owned by the caller of the toolkit's
// measurement; one thread at a time.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>

class CoreHdco {
public:
    // flag is kept and has no effect.
    CoreHdco(CoreAnsx containerPath, bool flag);

    // Writes size bytes of data as the item name: a new container at the path while not started,
    // else appended to it. started is set only once a write has succeeded; false (logged) when the
    // write failed, and the container is then as it was.
    bool addit(CoreAnsx name, int32_t size, const char* data);
    bool getst() const { return bStarted; }

private:
    CoreAnsx sPath;
    [[maybe_unused]] bool bFlag; // kept from the constructor; no operation reads it
    bool bStarted;
};
