// A fixed-size, zero-initialised array of doubles on a 16-byte boundary.
//
// Allocated once by the owner's constructor; never resized. The paired-channel code
// loads and stores two doubles at a time with aligned instructions, so every signal
// buffer comes from here.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace tq {

class AlignedBuffer {
  public:
    static constexpr std::size_t kAlignment = 16;

    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t count)
        : data_(
              static_cast<double*>(::operator new[](sizeOf(count), std::align_val_t{kAlignment}))),
          count_(count) {
        clear();
    }

    double* data() { return data_.get(); }
    const double* data() const { return data_.get(); }
    std::size_t size() const { return count_; }
    double& operator[](std::size_t i) { return data_.get()[i]; }
    double operator[](std::size_t i) const { return data_.get()[i]; }

    void clear() {
        if (count_ > 0) std::memset(data_.get(), 0, count_ * sizeof(double));
    }

  private:
    static std::size_t sizeOf(std::size_t count) {
        return (count == 0 ? 1 : count) * sizeof(double);
    }

    struct Release {
        void operator()(double* p) const { ::operator delete[](p, std::align_val_t{kAlignment}); }
    };
    std::unique_ptr<double[], Release> data_;
    std::size_t count_ = 0;
};

}  // namespace tq
