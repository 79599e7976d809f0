#include "platform/CpuidLayer.h"

#include <cpuid.h>

bool cpuidHasSse2() {
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (edx & (1u << 26)) != 0;
}
