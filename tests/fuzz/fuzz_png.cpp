// libFuzzer target: arbitrary bytes as an image item held in memory, loaded by CoreHfsy::ldimg. A
// picture must match the size it reports, and every block must go back to the pool.
#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreHfsy.h"
#include "platform/CorePict.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    static CorePool pool;
    {
        CoreFsys store(&pool);
        store.setit(store.crtit("FUZZ.PNG"), reinterpret_cast<const char*>(data), static_cast<int32_t>(size),
                    CoreAnsx(""), true, false);
        int32_t width = -1, height = -1;
        bool notPng = true;
        std::unique_ptr<CorePict> picture(CoreHfsy::ldimg(&store, "FUZZ.PNG", width, height, notPng));
        if (picture) {
            if (width != picture->width() || height != picture->height() || notPng) std::abort();
            if (picture->bytes() != static_cast<size_t>(width) * static_cast<size_t>(height) * 4)
                std::abort();
            volatile uint8_t sink =
                picture->pixels()[picture->bytes() - 1]; // the last byte is inside the block
            (void)sink;
        } else if (width != -1 || height != -1 || !notPng) {
            std::abort();
        }
    }
    if (pool.getma() != 0) std::abort();
    return 0;
}
