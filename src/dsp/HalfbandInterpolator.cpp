#include "dsp/HalfbandInterpolator.h"

namespace tq {

namespace {

// Half of each applied coefficient; the table doubles them (exactly) when it is built.
constexpr std::array<double, HalfbandCoefficients::kCount> kHalfCoefficients{
    -4.763696282094e-7, 1.998243211857e-6,  -5.59451993319e-6,   1.233950728987e-5,
    -2.390300486257e-5, 4.265195384663e-5,  -7.176381980318e-5,  0.0001153490356228,
    -0.000178579162669, 0.0002678174647425, -0.0003907495989578, 0.0005565144132189,
    -0.000775838777941, 0.001061186491039,  -0.001426940379682,  0.001889650102735,
    -0.002468398132052, 0.003185367085931,  -0.004066740630815,  0.005144152078855,
    -0.00645703822168,  0.008056519728669,  -0.01001194089823,   0.012422252953,
    -0.01543673753879,  0.01929508222185,   -0.02441136236933,   0.03157011681841,
    -0.04245854577816,  0.06147574255944,   -0.1047780783523,    0.3178658799033,
};

std::array<double, HalfbandCoefficients::kCount> doubledTable() {
    std::array<double, HalfbandCoefficients::kCount> table{};
    for (int k = 0; k < HalfbandCoefficients::kCount; ++k) table[k] = 2.0 * kHalfCoefficients[k];
    return table;
}

}  // namespace

const std::array<double, HalfbandCoefficients::kCount>& HalfbandCoefficients::table() {
    static const std::array<double, kCount> table = doubledTable();
    return table;
}

HalfbandInterpolator::HalfbandInterpolator() : c_(HalfbandCoefficients::table()) {}

void HalfbandInterpolator::reset() {
    clear();
    write_ = 0;
}

void HalfbandInterpolator::clear() {
    left_.fill(0.0);
    right_.fill(0.0);
}

}  // namespace tq
