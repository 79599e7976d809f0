// CpuidLayer: the processor feature bits the engine asks about, read with the CPUID instruction.
// No state; any thread.
#pragma once

bool cpuidHasSse2(); // leaf 1, EDX bit 26
