#include "effect/ProcessingMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(ProcessingMutexThread, BoundedWaitReentryAndHandOver) {
    tq::ProcessingMutex mutex;
    {
        std::unique_lock outer(mutex, std::defer_lock);
        ASSERT_TRUE(outer.try_lock_for(1000ms));
        std::unique_lock inner(mutex, std::defer_lock);
        EXPECT_TRUE(inner.try_lock_for(1000ms));  // the owner may lock again
    }

    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread owner([&] {
        std::lock_guard guard(mutex);
        held = true;
        while (!release) std::this_thread::sleep_for(1ms);
    });
    while (!held) std::this_thread::sleep_for(1ms);
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock blocked(mutex, std::defer_lock);
    EXPECT_FALSE(blocked.try_lock_for(30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);  // it did wait its bound

    std::thread releaser([&] {
        std::this_thread::sleep_for(5ms);
        release = true;
    });
    EXPECT_TRUE(blocked.try_lock_for(5000ms));  // taken as soon as the owner lets go
    blocked.unlock();
    releaser.join();
    owner.join();
}

}  // namespace
