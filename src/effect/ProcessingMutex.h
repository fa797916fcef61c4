// The effect's one lock: re-entrant for its owner, with waits bounded by the caller.
//
// std::recursive_timed_mutex would do, but its timed wait goes through
// pthread_mutex_clocklock, which ThreadSanitizer does not see: every lock taken that
// way looks unheld to it. This one waits by polling try_lock, which every tool
// understands; a wait only happens while another thread rebuilds state, so the few
// tens of microseconds of polling granularity cost nothing.
#pragma once

#include <chrono>
#include <mutex>
#include <thread>

namespace tq {

class ProcessingMutex {
public:
    void lock() { mutex_.lock(); }
    bool try_lock() { return mutex_.try_lock(); }
    void unlock() { mutex_.unlock(); }

    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& wait) {
        if (mutex_.try_lock()) return true;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            if (mutex_.try_lock()) return true;
        }
        return false;
    }

private:
    std::recursive_mutex mutex_;
};

}  // namespace tq
