// libFuzzer target: arbitrary bytes as an item container, loaded through a reader store that holds
// them in memory. Every block must go back to the pool.
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"

#include <cstdint>
#include <cstdlib>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    static CorePool pool;
    {
        CoreFsys holder(&pool);
        holder.setit(holder.crtit("FUZZ.Q7P"), reinterpret_cast<const char*>(data),
                     static_cast<int32_t>(size), "0", false, false);
        CoreFsys reader(&pool);
        reader.loada("FUZZ.Q7P", "0", false, &holder);
        reader.rload(".WAV");
    }
    if (pool.getma() != 0) std::abort();
    return 0;
}
