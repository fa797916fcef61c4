// The flavours must agree bit for bit however the settings move between host blocks and
// whatever the input holds: the paired flavour's frame loop takes different code for
// each of these (a loop per detector order, the smoother bank in wide registers,
// chunks of converted input), and every piece has to leave the same bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "paths/EngineTestRig.h"
#include "paths/SignalPath.h"

namespace tq {
namespace {

using testing::EngineRig;
using testing::EngineSetup;
using testing::StereoSignal;

// Same bits, so -0 and +0 differ.
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Programme with what input sanitising has to handle: exact and negative zeros, values
// below the smallest normal float, huge and non-finite values, and stretches of silence.
StereoSignal awkwardInput(int frames, unsigned seed) {
    StereoSignal s = testing::loudNoise(frames, 1.8, seed);
    std::mt19937 random(seed);
    const double specials[] = {0.0,
                               -0.0,
                               1e-40,
                               -1e-39,
                               1.1754943508222875e-38,
                               -1.1754943508222875e-38,
                               2e6,
                               -3e30,
                               1e6,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<float>::denorm_min()};
    for (int i = 0; i < frames; ++i) {
        if (i % 1000 >= 700 && i % 1000 < 800) {
            s.left[i] = 0.0;
            s.right[i] = i % 2 == 0 ? -0.0 : 0.0;
        } else if (random() % 23 == 0) {
            const auto pick = random() % std::size(specials);
            (random() % 2 == 0 ? s.left : s.right)[i] = specials[pick];
        }
    }
    return s;
}

// Moves the settings a frame loop holds for a block, different ones for each block.
void moveSettings(EngineParameters& p, int block) {
    p.detectorOrder = (block / 2) % 2;
    p.oversample = block % 3 == 1;
    p.powerGain = block % 7 == 5 ? 0.0 : 1.0;
    p.linkAmount = 0.2 * (block % 6);
    p.transientShare = 0.03 * (block % 4);
    p.levellerEngaged = block % 5 == 2;
    p.levellerGain = 0.6;
    p.driveGain = 1.0 + 0.5 * (block % 3);
    fillReleaseCoefficients(p, 20.0 + 60.0 * (block % 5), 44100);
}

struct Outputs {
    std::vector<double> left;
    std::vector<double> right;
    std::vector<float> leftFloat;
    std::vector<float> rightFloat;
};

// Runs `in` through a path of `flavour` in host blocks of changing sizes, moving the
// settings before each, in double and (through a second path) in float precision.
Outputs render(Flavour flavour, const StereoSignal& in, bool finalStages) {
    EngineSetup setup;
    setup.drive = 2.0;
    EngineRig twice(flavour, setup);
    EngineRig single(flavour, setup);
    for (EngineRig* rig : {&twice, &single}) {
        if (finalStages) {
            rig->parameters().quantize = true;
            rig->parameters().bits = 1;
            rig->parameters().noiseShapeSet = selectNoiseShapeSet(3, 44100, kNoiseShapeOff);
            rig->parameters().meterOvs = true;
        }
    }
    const auto frames = in.left.size();
    Outputs out{std::vector<double>(frames), std::vector<double>(frames),
                std::vector<float>(frames), std::vector<float>(frames)};
    const std::vector<float> leftFloat(in.left.begin(), in.left.end());
    const std::vector<float> rightFloat(in.right.begin(), in.right.end());
    const int sizes[] = {1, 37, 64, 130, 512, 63, 200};
    int block = 0;
    for (std::size_t start = 0; start < frames; ++block) {
        const auto n = std::min<std::size_t>(sizes[block % std::size(sizes)], frames - start);
        moveSettings(twice.parameters(), block);
        moveSettings(single.parameters(), block);
        twice.path().process(in.left.data() + start, in.right.data() + start,
                             out.left.data() + start, out.right.data() + start,
                             static_cast<int>(n));
        single.path().process(leftFloat.data() + start, rightFloat.data() + start,
                              out.leftFloat.data() + start, out.rightFloat.data() + start,
                              static_cast<int>(n));
        start += n;
    }
    return out;
}

TEST(FlavourIdentity, SettingsMovingBetweenBlocksAndAwkwardInputGiveTheSameBits) {
    for (bool finalStages : {false, true}) {
        const StereoSignal in = awkwardInput(12000, finalStages ? 5 : 6);
        const Outputs scalar = render(Flavour::Scalar, in, finalStages);
        const Outputs paired = render(Flavour::Paired, in, finalStages);
        for (std::size_t i = 0; i < in.left.size(); ++i) {
            ASSERT_TRUE(sameBits(scalar.left[i], paired.left[i])) << finalStages << " " << i;
            ASSERT_TRUE(sameBits(scalar.right[i], paired.right[i])) << finalStages << " " << i;
            ASSERT_TRUE(std::isfinite(paired.left[i]) && std::isfinite(paired.right[i])) << i;
            // Single-precision outputs below the smallest normal float are flushed to
            // zero by the paired flavour (its control register), not by the scalar one.
            if (std::fabs(scalar.left[i]) < 1.1754943508222875e-38) continue;
            if (std::fabs(scalar.right[i]) < 1.1754943508222875e-38) continue;
            ASSERT_TRUE(sameBits(scalar.leftFloat[i], paired.leftFloat[i]))
                << finalStages << " " << i;
            ASSERT_TRUE(sameBits(scalar.rightFloat[i], paired.rightFloat[i]))
                << finalStages << " " << i;
        }
    }
}

// Bypassed frames hand the sanitised dry input through: zeros of either sign and
// everything sanitising turns into zero come out as +0.
TEST(FlavourIdentity, BypassedSilenceAndUnusableInputComeOutAsPositiveZero) {
    for (Flavour flavour : testing::kFlavours) {
        EngineRig rig(flavour);
        rig.parameters().powerGain = 0.0;
        const int latency = rig.latency();
        StereoSignal in = testing::silence(4 * latency);
        for (int i = 0; i < latency; ++i) {
            in.left[static_cast<std::size_t>(i)] = i % 2 == 0 ? -0.0 : 1e-40;
            in.right[static_cast<std::size_t>(i)] =
                i % 3 == 0 ? std::numeric_limits<double>::quiet_NaN() : -1e-300;
        }
        const StereoSignal out = rig.run(in, 100);
        for (int i = latency; i < 2 * latency; ++i) {
            ASSERT_TRUE(sameBits(out.left[static_cast<std::size_t>(i)], 0.0)) << i;
            ASSERT_TRUE(sameBits(out.right[static_cast<std::size_t>(i)], 0.0)) << i;
        }
    }
}

}  // namespace
}  // namespace tq
