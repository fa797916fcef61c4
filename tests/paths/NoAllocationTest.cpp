// Processing must not allocate: every operator new of this test program is counted
// while the counter is armed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "paths/EngineTestRig.h"

namespace {
std::atomic<bool> armed{false};
std::atomic<int> allocations{0};

void* allocate(std::size_t size, std::size_t alignment) {
    if (armed.load()) allocations.fetch_add(1);
    if (size == 0) size = 1;
    void* p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(size);
    } else {
        p = std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    }
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size, 0); }
void* operator new[](std::size_t size) { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) {
    return allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace tq {
namespace {

TEST(SignalPathRealTime, ProcessingCalibrationAndResetsNeverAllocate) {
    for (Flavour flavour : testing::kFlavours) {
        testing::EngineSetup setup;
        setup.oversample = true;
        setup.detectorOrder = 1;
        testing::EngineRig rig(flavour, setup);
        const testing::StereoSignal in = testing::loudNoise(4096, 3.0, 9);
        std::vector<double> l(4096), r(4096);
        std::vector<float> fl(4096), fr(4096), fin(4096, 0.5f);
        RateSettings rates;
        rates.update(192000, 0);
        float meters[10];

        allocations = 0;
        armed = true;
        rig.path().process(in.left.data(), in.right.data(), l.data(), r.data(), 4096);
        rig.path().process(fin.data(), nullptr, fl.data(), nullptr, 4096);
        rig.parameters().quantize = true;
        rig.path().process(in.left.data(), in.right.data(), l.data(), r.data(), 1000);
        rig.parameters().calibrate = 2;
        rig.path().calibrate(l.data(), r.data(), 1000);
        rig.path().calibrate(fl.data(), nullptr, 1000);
        rig.path().fetchMeters(meters);
        // What the effect does under the lock: shape and rate changes, suspend.
        rig.path().setTransShape(1);
        rig.path().setRateSettings(rates);
        rig.path().suspend();
        rig.path().process(in.left.data(), in.right.data(), l.data(), r.data(), 4096);
        armed = false;
        EXPECT_EQ(allocations.load(), 0) << (flavour == Flavour::Paired ? "paired" : "scalar");
    }
}

}  // namespace
}  // namespace tq
