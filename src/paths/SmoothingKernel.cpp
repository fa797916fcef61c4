#include "paths/SmoothingKernel.h"

#include <cmath>

#include "paths/RealFft.h"

namespace tq {

SmoothingKernel::SmoothingKernel() : taps_(kMaxLength), spectrum_(4 * kMaxLength) {}

void SmoothingKernel::computeTaps(int length, double* taps) {
    const double pi = 3.14159265358979323846;
    const double step = 2.0 * pi / static_cast<double>(length - 1);
    // The abscissa is accumulated, not recomputed from the index, so the end taps land
    // on +-pi only to rounding (their values are practically 0 either way).
    double x = -pi;
    double sum = 0.0;
    for (int i = 0; i < length; ++i) {
        taps[i] = x == 0.0 ? 1.0 : std::sin(x) / x;
        sum += taps[i];
        x += step;
    }
    for (int i = 0; i < length; ++i) taps[i] /= sum;
}

bool SmoothingKernel::build(int length, Flavour flavour) {
    const RealFftSize* fft =
        flavour == Flavour::Paired ? pairedFftForKernel(length) : scalarFftForKernel(length);
    if (length < kMinLength || length > kMaxLength || fft == nullptr) return false;

    length_ = length;
    flavour_ = flavour;
    computeTaps(length, taps_.data());

    // Interleaved-halves order: pair i holds h[i] and the zero padding value h[i + N].
    spectrum_.clear();
    double* s = spectrum_.data();
    for (int i = 0; i < length; ++i) {
        if (flavour == Flavour::Paired) {
            s[4 * i] = taps_[i];
            s[4 * i + 1] = taps_[i];
        } else {
            s[2 * i] = taps_[i];
        }
    }
    fft->forward(s);
    fft->scaleKernelSpectrum(s);
    return true;
}

}  // namespace tq
