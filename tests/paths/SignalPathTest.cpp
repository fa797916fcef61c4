#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "paths/ChannelLayout.h"
#include "paths/EngineTestRig.h"
#include "paths/SignalPath.h"

namespace tq {
namespace {

using testing::EngineRig;
using testing::EngineSetup;
using testing::kFlavours;
using testing::kRates;
using testing::StereoSignal;

std::string describe(Flavour f, const EngineSetup& s) {
    return std::string(f == Flavour::Paired ? "paired" : "scalar") + " rate " +
           std::to_string(s.rate) + " shape " + std::to_string(s.transShape) + " oversample " +
           std::to_string(s.oversample);
}

// --- Latency and bypass ---------------------------------------------------------------

TEST(SignalPathBypass, PowerOffDelaysTheRawInputByExactlyTheLatency) {
    for (Flavour flavour : kFlavours) {
        for (int rate : kRates) {
            EngineSetup setup;
            setup.rate = rate;
            setup.power = false;
            setup.drive = 8.0;   // neither drive ...
            setup.output = 0.5;  // ... nor output gain reach the bypassed signal
            EngineRig rig(flavour, setup);
            const int latency = rig.latency();
            ASSERT_EQ(latency, (128 << RateSettings::bandForRate(rate)) + 31);
            const StereoSignal in = testing::loudNoise(3000, 0.99, 5);
            const StereoSignal out = rig.run(in, 77);
            for (int i = 0; i < in.frames(); ++i) {
                const double l = i >= latency ? in.left[i - latency] : 0.0;
                const double r = i >= latency ? in.right[i - latency] : 0.0;
                ASSERT_EQ(out.left[i], l) << describe(flavour, setup) << " frame " << i;
                ASSERT_EQ(out.right[i], r) << describe(flavour, setup) << " frame " << i;
            }
        }
    }
}

TEST(SignalPathBypass, SwitchingPowerKeepsTheDetectorRunning) {
    // The limiter gain after re-enabling must equal that of a path that was on all along.
    for (Flavour flavour : kFlavours) {
        EngineRig switched(flavour);
        EngineRig always(flavour);
        const StereoSignal in = testing::loudNoise(4000, 3.0, 17);
        StereoSignal a = in, b = in;
        a.left.resize(2000);
        a.right.resize(2000);
        switched.parameters().powerGain = 0.0;
        switched.run(a);
        always.run(a);
        switched.parameters().powerGain = 1.0;
        StereoSignal rest{std::vector<double>(in.left.begin() + 2000, in.left.end()),
                          std::vector<double>(in.right.begin() + 2000, in.right.end())};
        const StereoSignal x = switched.run(rest);
        const StereoSignal y = always.run(rest);
        for (int i = 0; i < rest.frames(); ++i) ASSERT_EQ(x.left[i], y.left[i]) << i;
    }
}

// --- Exact gains ----------------------------------------------------------------------

double isolatedPeakOutput(Flavour flavour, EngineSetup setup, int* frameOut = nullptr) {
    EngineRig rig(flavour, setup);
    StereoSignal in = testing::silence(3 * rig.latency() + 600);
    const int at = 300;
    in.left[at] = 2.0 / setup.drive;
    in.right[at] = -2.0 / setup.drive;
    const StereoSignal out = rig.run(in, 64);
    int loudest = 0;
    for (int i = 0; i < out.frames(); ++i) {
        if (std::fabs(out.left[i]) > std::fabs(out.left[loudest])) loudest = i;
    }
    if (frameOut) *frameOut = loudest - at;
    EXPECT_EQ(out.right[loudest], -out.left[loudest]);
    return out.left[loudest];
}

TEST(SignalPathGain, IsolatedPeakOfTwoLeavesAtExactlyFullScale) {
    for (Flavour flavour : kFlavours) {
        for (int rate : kRates) {
            for (int shape = 0; shape < 3; ++shape) {
                for (double transient : {0.0, 0.02, 0.5}) {
                    EngineSetup setup;
                    setup.rate = rate;
                    setup.transShape = shape;
                    setup.transient = transient;
                    setup.drive = 4.0;  // 0.5 in, 2.0 after drive
                    int delay = 0;
                    EXPECT_EQ(isolatedPeakOutput(flavour, setup, &delay), 1.0)
                        << describe(flavour, setup);
                    EXPECT_EQ(delay, (128 << RateSettings::bandForRate(rate)) + 31);
                    setup.oversample = true;
                    EXPECT_EQ(isolatedPeakOutput(flavour, setup), 1.0 / 1.001)
                        << describe(flavour, setup);
                }
            }
        }
    }
}

TEST(SignalPathGain, ConstantBelowFullScalePassesWithGainExactlyOne) {
    for (Flavour flavour : kFlavours) {
        for (int order = 0; order < 2; ++order) {
            EngineSetup setup;
            setup.drive = 2.0;
            setup.detectorOrder = order;
            setup.oversample = order == 1;
            EngineRig rig(flavour, setup);
            // 0.8 after drive: even the interpolator's overshoot at the onset stays below 1.
            StereoSignal in{std::vector<double>(20000, 0.4), std::vector<double>(20000, -0.3)};
            const StereoSignal out = rig.run(in, 100);
            for (int i = rig.latency(); i < in.frames(); ++i) {
                ASSERT_EQ(out.left[i], 0.8) << i;
                ASSERT_EQ(out.right[i], -0.6) << i;
            }
        }
    }
}

TEST(SignalPathGain, LinkZeroLimitsEachChannelByItsOwnPeaks) {
    for (Flavour flavour : kFlavours) {
        EngineSetup setup;
        setup.link = 0.0;
        EngineRig unlinked(flavour, setup);
        setup.link = 1.0;
        EngineRig linked(flavour, setup);
        StereoSignal in = testing::loudNoise(8000, 4.0, 3);
        for (double& r : in.right) r = 0.25;
        const StereoSignal a = unlinked.run(in);
        const StereoSignal b = linked.run(in);
        bool reduced = false;
        for (int i = unlinked.latency(); i < in.frames(); ++i) {
            ASSERT_EQ(a.right[i], 0.25) << i;
            reduced = reduced || b.right[i] < 0.25;
        }
        EXPECT_TRUE(reduced);
    }
}

TEST(SignalPathGain, EngagedLevellerPullsASustainedLevelTowardsItsThreshold) {
    EngineSetup setup;
    setup.leveller = 0.5;
    setup.levellerEngaged = true;
    EngineRig rig(Flavour::Paired, setup);
    StereoSignal in{std::vector<double>(44100 * 6, 0.9), std::vector<double>(44100 * 6, 0.9)};
    const StereoSignal out = rig.run(in, 512);
    EXPECT_NEAR(out.left.back(), 0.5, 0.01);
    // A disengaged leveller leaves it alone even above a threshold of 1.
    setup.leveller = 0.25;
    setup.levellerEngaged = false;
    EngineRig off(Flavour::Paired, setup);
    EXPECT_EQ(off.run(in, 512).left.back(), 0.9);
}

TEST(SignalPathGain, NeverExceedsFullScaleBeforeTheOutputGain) {
    for (Flavour flavour : kFlavours) {
        for (int rate : kRates) {
            for (int shape = 0; shape < 3; ++shape) {
                EngineSetup setup;
                setup.rate = rate;
                setup.transShape = shape;
                setup.output = 0.5;  // the final clip must not be what keeps the output in range
                setup.oversample = shape == 1;
                setup.detectorOrder = shape == 2 ? 1 : 0;
                setup.transient = shape == 0 ? 0.5 : 0.02;
                setup.link = shape == 2 ? 0.3 : 1.0;
                setup.releaseMs = 5.0;
                setup.drive = 16.0;
                EngineRig rig(flavour, setup);
                const StereoSignal in = testing::loudNoise(12000, 2.0, 11 + shape);
                const StereoSignal out = rig.run(in, 333);
                double loudest = 0.0;
                for (int i = 0; i < in.frames(); ++i) {
                    loudest = std::max({loudest, std::fabs(out.left[i]), std::fabs(out.right[i])});
                    ASSERT_LE(std::fabs(out.left[i]), 0.5) << describe(flavour, setup) << " " << i;
                    ASSERT_LE(std::fabs(out.right[i]), 0.5) << describe(flavour, setup) << " " << i;
                }
                EXPECT_GT(loudest, 0.3) << "the signal must actually come through";
            }
        }
    }
}

// --- Block handling and flavours ------------------------------------------------------

TEST(SignalPathBlocks, HostBufferSizeDoesNotChangeTheOutput) {
    for (Flavour flavour : kFlavours) {
        EngineSetup setup;
        setup.oversample = true;
        EngineRig one(flavour, setup);
        EngineRig hundred(flavour, setup);
        EngineRig whole(flavour, setup);
        const StereoSignal in = testing::loudNoise(5000, 3.0, 21);
        const StereoSignal a = one.run(in, 1);
        const StereoSignal b =
            hundred.run(in, 100);  // block boundaries inside host buffers (N = 64)
        const StereoSignal c = whole.run(in, in.frames());
        for (int i = 0; i < in.frames(); ++i) {
            ASSERT_EQ(a.left[i], c.left[i]) << i;
            ASSERT_EQ(a.right[i], c.right[i]) << i;
            ASSERT_EQ(b.left[i], c.left[i]) << i;
            ASSERT_EQ(b.right[i], c.right[i]) << i;
        }
    }
}

TEST(SignalPathFlavours, ScalarAndPairedAgreeBitForBit) {
    int setting = 0;
    for (int rate : kRates) {
        for (int shape = 0; shape < 3; ++shape, ++setting) {
            EngineSetup setup;
            setup.rate = rate;
            setup.transShape = shape;
            setup.oversample = setting % 2 == 0;
            setup.detectorOrder = setting % 3 == 0 ? 1 : 0;
            setup.link = 0.25 * (setting % 5);
            setup.transient = 0.05 * (setting % 4);
            setup.levellerEngaged = setting % 2 == 1;
            setup.leveller = 0.7;
            setup.autoOut = setting == 4;
            setup.drive = 3.0;
            EngineRig scalar(Flavour::Scalar, setup);
            EngineRig paired(Flavour::Paired, setup);
            const StereoSignal in = testing::loudNoise(6000, 1.5, 100 + setting);
            const StereoSignal a = scalar.run(in, 128);
            const StereoSignal b = paired.run(in, 128);
            for (int i = 0; i < in.frames(); ++i) {
                ASSERT_EQ(a.left[i], b.left[i]) << describe(Flavour::Scalar, setup) << " " << i;
                ASSERT_EQ(a.right[i], b.right[i]) << describe(Flavour::Scalar, setup) << " " << i;
            }
        }
    }
}

TEST(SignalPathFlavours, FloatAndDoubleAgreeToFloatRounding) {
    for (Flavour flavour : kFlavours) {
        EngineRig single(flavour);
        EngineRig twice(flavour);
        const StereoSignal in = testing::loudNoise(4000, 2.5, 8);  // values exact in float
        const auto f = single.runFloat(in, 200);
        const StereoSignal d = twice.run(in, 200);
        for (int i = 0; i < in.frames(); ++i) {
            ASSERT_EQ(f[0][i], static_cast<float>(d.left[i])) << i;
            ASSERT_EQ(f[1][i], static_cast<float>(d.right[i])) << i;
        }
    }
}

// --- Channel routing and null pointers ------------------------------------------------

TEST(SignalPathRouting, MissingRightInputFeedsTheLeftToBothChannels) {
    for (Flavour flavour : kFlavours) {
        EngineRig mono(flavour);
        EngineRig stereo(flavour);
        StereoSignal in = testing::loudNoise(2000, 2.0, 4);
        in.right = in.left;
        std::vector<double> l(2000), r(2000);
        mono.path().process(in.left.data(), nullptr, l.data(), r.data(), 2000);
        const StereoSignal expected = stereo.run(in, 2000);
        EXPECT_EQ(l, expected.left);
        EXPECT_EQ(r, expected.right);
    }
}

TEST(SignalPathRouting, SingleOutputCarriesTheLeftChannel) {
    for (Flavour flavour : kFlavours) {
        EngineRig single(flavour);
        EngineRig stereo(flavour);
        const StereoSignal in = testing::loudNoise(2000, 2.0, 6);
        std::vector<double> out(2000);
        single.path().process(in.left.data(), in.right.data(), out.data(), nullptr, 2000);
        EXPECT_EQ(out, stereo.run(in, 2000).left);
    }
}

TEST(SignalPathRouting, NullPointersAndEmptyBlocksAreSafe) {
    for (Flavour flavour : kFlavours) {
        EngineRig rig(flavour);
        std::vector<double> in(64, 0.5), l(64, 7.0), r(64, 7.0);
        rig.path().process(in.data(), in.data(), l.data(), r.data(), 0);
        rig.path().process(in.data(), in.data(), l.data(), r.data(), -5);
        EXPECT_EQ(l[0], 7.0) << "no frames, nothing written";
        rig.path().process(nullptr, nullptr, l.data(), r.data(), 64);
        EXPECT_EQ(l, std::vector<double>(64, 0.0)) << "no input reads as silence";
        rig.path().process(in.data(), in.data(), nullptr, nullptr, 64);
        rig.path().process(static_cast<const float*>(nullptr), nullptr, nullptr, nullptr, 64);
    }
}

// --- Bad input ------------------------------------------------------------------------

TEST(SignalPathBadInput, NonFiniteHugeAndDenormalInputNeverHangOrLeak) {
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          1e30,
                          -1e300,
                          4e-320};
    const double sanitized[] = {0.0, 0.0, 0.0, 1e6, -1e6, 0.0};
    for (Flavour flavour : kFlavours) {
        for (int k = 0; k < 6; ++k) {
            EngineRig rig(flavour);
            EngineRig reference(flavour);
            StereoSignal in = testing::loudNoise(30000, 0.8, 40 + k);
            StereoSignal clean = in;
            for (int i = 1000; i < 1200; ++i) {
                in.left[i] = bad[k];
                clean.left[i] = sanitized[k];
                if (i % 2) {
                    in.right[i] = bad[k];
                    clean.right[i] = sanitized[k];
                }
            }
            const StereoSignal out = rig.run(in, 128);
            const StereoSignal expected = reference.run(clean, 128);
            for (int i = 0; i < in.frames(); ++i) {
                ASSERT_TRUE(std::isfinite(out.left[i]) && std::isfinite(out.right[i]))
                    << k << " " << i;
                ASSERT_LE(std::fabs(out.left[i]), 1.0);
                ASSERT_EQ(out.left[i], expected.left[i]) << k << " " << i;
                ASSERT_EQ(out.right[i], expected.right[i]) << k << " " << i;
            }
            // Normal input gives normal output again once the limiter has released.
            const int tail = in.frames() - 2000;
            EXPECT_GT(std::fabs(out.left[tail]) + std::fabs(out.left[tail + 1]), 0.0);
        }
    }
}

TEST(SignalPathBadInput, FloatNonFiniteInputIsSanitizedToo) {
    for (Flavour flavour : kFlavours) {
        EngineRig rig(flavour);
        std::vector<float> in(4000, 0.25f), l(4000), r(4000);
        in[10] = std::numeric_limits<float>::quiet_NaN();
        in[11] = std::numeric_limits<float>::infinity();
        in[12] = 1e-40f;  // denormal float
        rig.path().process(in.data(), in.data(), l.data(), r.data(), 4000);
        for (int i = 0; i < 4000; ++i) ASSERT_TRUE(std::isfinite(l[i])) << i;
        EXPECT_EQ(l[3999], 0.25f);
    }
}

// --- Lifecycle ------------------------------------------------------------------------

TEST(SignalPathLifecycle, SuspendRestartsFromAFreshState) {
    for (Flavour flavour : kFlavours) {
        EngineRig used(flavour);
        EngineRig fresh(flavour);
        used.run(testing::loudNoise(3000, 4.0, 1));
        used.path().suspend();
        const StereoSignal in = testing::loudNoise(3000, 2.0, 2);
        EXPECT_EQ(used.run(in).left, fresh.run(in).left);
    }
}

TEST(SignalPathLifecycle, TransShapeChangeThenSuspendMatchesAPathBuiltForThatShape) {
    for (Flavour flavour : kFlavours) {
        EngineSetup setup;
        setup.transShape = 2;
        EngineRig changed(flavour, setup);
        changed.run(testing::loudNoise(1000, 4.0, 1), 100);
        changed.parameters().transShape = 0;
        changed.path().setTransShape(0);
        EXPECT_EQ(changed.path().rateSettings().smoothingLength, 8);
        EXPECT_EQ(changed.path().rateSettings().transientRingLength, 114);
        changed.path().suspend();
        setup.transShape = 0;
        EngineRig fresh(flavour, setup);
        const StereoSignal in = testing::loudNoise(3000, 3.0, 2);
        EXPECT_EQ(changed.run(in).left, fresh.run(in).left);
    }
}

TEST(SignalPathLifecycle, RateChangeWithoutSuspendStaysInRange) {
    // Positions beyond shorter buffers must not be used: run at 192 kHz, move to 44.1 kHz
    // with only a buffer clear (no suspend) and keep processing.
    for (Flavour flavour : kFlavours) {
        EngineSetup setup;
        setup.rate = 192000;
        EngineRig rig(flavour, setup);
        rig.run(testing::loudNoise(1000, 2.0, 1), 999);
        RateSettings rates;
        rates.update(44100, 2);
        rig.path().setRateSettings(rates);
        rig.path().clearBuffers();
        const StereoSignal out = rig.run(testing::loudNoise(3000, 2.0, 2), 100);
        for (double v : out.left) ASSERT_LE(std::fabs(v), 1.0);
        EXPECT_EQ(rig.latency(), 159);
    }
}

TEST(SignalPathLifecycle, RateRecordsThatDoNotFitTheBuffersAreIgnored) {
    for (Flavour flavour : kFlavours) {
        EngineRig rig(flavour);
        RateSettings bad;
        bad.update(192000, 2);
        bad.lookAhead = 1024;  // larger than any buffer
        rig.path().setRateSettings(bad);
        bad.update(96000, 0);
        bad.transientRingLength = 600;
        rig.path().setRateSettings(bad);
        EXPECT_EQ(rig.latency(), 159);
        EXPECT_EQ(rig.path().rateSettings().smoothingLength, 64);
        const StereoSignal out = rig.run(testing::loudNoise(2000, 2.0, 3), 100);
        for (double v : out.left) ASSERT_LE(std::fabs(v), 1.0);
    }
}

// Settings published from another thread change nothing until the reader adopts them at
// a block start; from there the path runs as one built for them. Several publications
// before a block count as the last; a record that does not fit is never offered.
TEST(SignalPathLifecycle, PublishedSettingsTakeEffectOnlyWhenAdopted) {
    for (Flavour flavour : kFlavours) {
        for (int rate : {44100, 192000}) {
            EngineSetup setup;
            setup.rate = rate;
            setup.transShape = 0;
            EngineRig changed(flavour, setup);
            EngineRig unchanged(flavour, setup);
            const StereoSignal first = testing::loudNoise(1500, 4.0, 1);
            changed.run(first, 128);
            unchanged.run(first, 128);

            RateSettings bad;
            bad.update(rate, 2);
            bad.transientRingLength = 0;
            EXPECT_FALSE(changed.path().publishRateSettings(bad));
            RateSettings soft, medium;
            soft.update(rate, 2);
            medium.update(rate, 1);
            ASSERT_TRUE(changed.path().publishRateSettings(soft));
            ASSERT_TRUE(changed.path().publishRateSettings(medium));
            const StereoSignal second = testing::loudNoise(700, 3.0, 2);
            EXPECT_EQ(changed.run(second, 128).left, unchanged.run(second, 128).left);
            EXPECT_EQ(changed.path().rateSettings().smoothingLength, 8 << RateSettings::bandForRate(rate));

            ASSERT_TRUE(changed.path().adoptPublished());
            EXPECT_FALSE(changed.path().adoptPublished());
            EXPECT_EQ(changed.path().rateSettings().smoothingLength, medium.smoothingLength);
            changed.parameters().transShape = 1;
            changed.path().suspend();
            setup.transShape = 1;
            EngineRig fresh(flavour, setup);
            const StereoSignal third = testing::loudNoise(3000, 3.0, 3);
            const StereoSignal out = changed.run(third, 128);
            const StereoSignal expected = fresh.run(third, 128);
            EXPECT_EQ(out.left, expected.left) << rate;
            EXPECT_EQ(out.right, expected.right) << rate;
        }
    }
}

// --- Control register -----------------------------------------------------------------

#if TQ_HAVE_SSE2
TEST(SignalPathDenormals, PairedFlavourRestoresTheCallersControlWord) {
    const unsigned original = _mm_getcsr();
    EngineRig rig(Flavour::Paired);
    std::vector<double> in(512, 0.5), l(512), r(512);
    for (unsigned callerWord : {0x1F80u, 0x1F80u | 0x8000u, 0x1F80u | 0x8040u, 0x1F80u | 0x0040u}) {
        _mm_setcsr(callerWord);
        rig.path().process(in.data(), in.data(), l.data(), r.data(), 512);
        const unsigned after = _mm_getcsr() & ~0x3Fu;  // ignore the sticky exception flags
        _mm_setcsr(original);
        EXPECT_EQ(after, callerWord) << std::hex << callerWord;
    }
    {
        _mm_setcsr(0x1F80u);
        DenormalFlushScope scope;
        EXPECT_EQ(_mm_getcsr() & 0x8040u, 0x8040u);
    }
    EXPECT_EQ(_mm_getcsr() & ~0x3Fu, 0x1F80u);
    _mm_setcsr(original);
}
#endif

}  // namespace
}  // namespace tq
