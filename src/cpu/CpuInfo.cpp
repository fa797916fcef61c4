#include "cpu/CpuInfo.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace tq {

std::uint32_t identifyCpu(CpuInfo& info) {
    info = CpuInfo{};
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    // __get_cpuid checks the highest supported leaf first; it answers 0 when leaf 1
    // does not exist.
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
    if (edx & (1u << 23)) info.features |= kCpuMmx;
    if (edx & (1u << 25)) info.features |= kCpuSse;
    if (edx & (1u << 26)) info.features |= kCpuSse2;
#if defined(__x86_64__)
    // Every x86-64 operating system enables the SSE state: an instruction that the
    // processor reports can always execute, so the execution test is the report.
    info.usable = info.features;
#else
    info.usable = 0;
#endif
#endif
    return info.features;
}

bool pairedFlavourUsable(const CpuInfo& info) {
    return (info.features & kCpuSse2) != 0 && (info.usable & kCpuSse2) != 0;
}

}  // namespace tq
