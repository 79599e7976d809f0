// libFuzzer target: bytes -> in-memory item -> CoreWvfr::open_ and a read of every frame, once with
// the converter off and once converting to 48000 Hz. Built only with the FUZZ option under Clang.
#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWvfr.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void readAll(CorePool& pool, const uint8_t* data, size_t size, int32_t rate) {
    CoreFsys store(&pool);
    CoreWvfr reader(&pool, &store, false);
    if (rate > 0) reader.setfr(rate, false);
    const int32_t id = store.crtit("F.WAV");
    store.setit(id, reinterpret_cast<const char*>(data), static_cast<int32_t>(size), CoreAnsx(""), true,
                false);
    try {
        reader.open_("F.WAV");
        const int32_t room = reader.getdw();
        std::vector<double> left(static_cast<size_t>(room) + 1), right(static_cast<size_t>(room) + 1);
        reader.getdt(room, left.data(), right.data());
        reader.close();
    } catch (const CoreAnsx&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    static CorePool pool;
    readAll(pool, data, size, 0);
    readAll(pool, data, size, 48000);
    return 0;
}
