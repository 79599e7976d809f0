// libFuzzer target: arbitrary bytes as a CSV item held in memory, counted and read by CoreRcsv.
// The count must equal the number of ';' and every value must be finite.
#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRcsv.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    static CorePool pool;
    {
        CoreFsys store(&pool);
        const int32_t id = store.crtit("FUZZ.CSV");
        store.setit(id, reinterpret_cast<const char*>(data), static_cast<int32_t>(size), CoreAnsx(""), true,
                    false);
        CoreRcsv csv(&pool, &store);
        if (!csv.open_("FUZZ.CSV")) std::abort();
        const int32_t n = csv.getdr();
        int32_t semicolons = 0;
        for (size_t i = 0; i < size; ++i) semicolons += data[i] == ';';
        if (n != semicolons) std::abort();
        std::vector<double> values(static_cast<size_t>(n) + 1);
        if (csv.getdt(values.data(), false) != n) std::abort();
        for (int32_t i = 0; i < n; ++i)
            if (!std::isfinite(values[i])) std::abort();
    }
    if (pool.getma() != 0) std::abort();
    return 0;
}
