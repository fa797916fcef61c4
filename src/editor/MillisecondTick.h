// The editor's clock: a 32-bit millisecond tick that wraps like the system tick
// count the meters' hold and fall and the blink timings are written against.
// Differences of two ticks are taken in unsigned arithmetic, so the wrap after
// 49.7 days does no harm.
#pragma once

#include <chrono>
#include <cstdint>

namespace tq {

inline std::uint32_t millisecondTick() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

// t - since as a signed count of milliseconds (negative when since is later).
inline std::int32_t ticksBetween(std::uint32_t since, std::uint32_t t) {
    return static_cast<std::int32_t>(t - since);
}

}  // namespace tq
