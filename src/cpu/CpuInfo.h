// Decides once, at effect construction, whether the paired-channel (SSE2) flavour
// may run on this processor.
#pragma once

#include <cstdint>

namespace tq {

enum CpuFeature : std::uint32_t {
    kCpuMmx = 1,
    kCpuSse = 2,
    kCpuSse2 = 4,
};

struct CpuInfo {
    std::uint32_t features = 0;  // reported by the processor identification instruction
    std::uint32_t usable = 0;    // reported and accepted by the execution test
};

// Fills `info` (zeroed first) and returns the feature mask; 0 when the processor
// cannot be identified (non-x86 builds).
std::uint32_t identifyCpu(CpuInfo& info);

// True when both masks carry SSE2. Whether this build contains the paired flavour is
// the caller's question: the processor cannot answer it.
bool pairedFlavourUsable(const CpuInfo& info);

}  // namespace tq
