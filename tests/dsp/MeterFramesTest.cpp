#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "dsp/EngineSettings.h"
#include "dsp/MeterMeasurement.h"

namespace {

using tq::DoublePair;
using tq::EngineParameters;
using tq::MeterFrames;
using tq::MeterMeasurement;
using tq::RateSettings;
using Values = std::array<float, MeterMeasurement::kValueCount>;

struct Frame {
    double dryL, dryR, gainL, gainR, shareL, shareR, leveller, outL, outR;
    bool powerOn;
};

std::vector<Frame> randomFrames(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> signal(-1.3, 1.3);
    std::uniform_real_distribution<double> gain(0.2, 1.0);
    std::vector<Frame> frames;
    for (int i = 0; i < count; ++i) {
        const double gl = gain(random);
        const double gr = gain(random) * 0.9;
        frames.push_back({signal(random), 0.5 * signal(random), gl, gr, 0.5 + 0.5 * gl,
                          0.4 + 0.6 * gr, gain(random), signal(random), 0.7 * signal(random),
                          i % 37 != 5});
    }
    return frames;
}

struct MeterSettings {
    int attShow = 7;
    bool meterOvs = false;
    bool postMeter = false;
    double drive = 1.5;
};

// Two records fed the same frames, one frame at a time and in blocks of MeterFrames.
struct TwoRecords {
    EngineParameters parameters;
    RateSettings rates;
    MeterMeasurement single;
    MeterMeasurement blocked;
    double drive;
    bool usualRouteTaken = false;

    explicit TwoRecords(const MeterSettings& s) : drive(s.drive) {
        rates.update(48000, 2);
        parameters.attShow = s.attShow;
        parameters.meterOvs = s.meterOvs;
        parameters.postMeter = s.postMeter;
    }

    void runBlock(const std::vector<Frame>& frames, std::size_t first, std::size_t count) {
        single.beginBlock(parameters, rates, drive);
        blocked.beginBlock(parameters, rates, drive);
        MeterFrames block = blocked.frames();
        for (std::size_t i = first; i < first + count; ++i) {
            const Frame& f = frames[i];
            single.frame(f.dryL, f.dryR, f.gainL, f.gainR, f.shareL, f.shareR, f.leveller, f.outL,
                         f.outR, f.powerOn);
            block.frame(DoublePair(f.dryL, f.dryR), DoublePair(f.gainL, f.gainR),
                        DoublePair(f.shareL, f.shareR), f.leveller, DoublePair(f.outL, f.outR),
                        f.powerOn);
        }
        usualRouteTaken |= block.takesUsualRoute();
        blocked.endBlock(block);
    }

    // As the engine's frame loop runs a block: the input meters over all its frames on
    // an InputRun first, then the output meters (on the usual route, whose frames must all
    // have Power on, on a UsualOutputRun per chunk of at most a run's frames, each
    // oversampled chunk followed by endChunk).
    void runBlockInPasses(const std::vector<Frame>& frames, std::size_t first, std::size_t count) {
        single.beginBlock(parameters, rates, drive);
        blocked.beginBlock(parameters, rates, drive);
        MeterFrames block = blocked.frames();
        MeterFrames::InputRun inputs = block.inputRun();
        for (std::size_t i = first; i < first + count; ++i) {
            const Frame& f = frames[i];
            single.frame(f.dryL, f.dryR, f.gainL, f.gainR, f.shareL, f.shareR, f.leveller, f.outL,
                         f.outR, f.powerOn);
            block.inputFrame(inputs, DoublePair(f.dryL, f.dryR));
        }
        block.endInputRun(inputs);
        if (block.takesUsualRoute()) {
            const std::size_t chunk = MeterFrames::kRun;
            for (std::size_t start = first; start < first + count; start += chunk) {
                MeterFrames::UsualOutputRun outputs = block.usualOutputRun();
                for (std::size_t i = start; i < std::min(start + chunk, first + count); ++i) {
                    const Frame& f = frames[i];
                    const DoublePair gain(f.gainL, f.gainR);
                    const DoublePair leveller = DoublePair(1.0, f.leveller).rightInBoth();
                    const DoublePair out(f.outL, f.outR);
                    if (block.oversampled()) {
                        block.usualOutputFrame<true>(outputs, gain, leveller, out);
                    } else {
                        block.usualOutputFrame<false>(outputs, gain, leveller, out);
                    }
                }
                if (block.oversampled()) block.endChunk(outputs);
                block.endUsualOutputRun(outputs);
            }
        } else {
            for (std::size_t i = first; i < first + count; ++i) {
                const Frame& f = frames[i];
                block.outputFrame(DoublePair(f.gainL, f.gainR), DoublePair(f.shareL, f.shareR),
                                  f.leveller, DoublePair(f.outL, f.outR), f.powerOn);
            }
        }
        usualRouteTaken |= block.takesUsualRoute();
        blocked.endBlock(block);
    }
};

Values fetch(MeterMeasurement& m) {
    Values v{};
    m.fetch(v.data());
    return v;
}

TEST(MeterFrames, BlocksPublishExactlyWhatFrameByFramePublishesAtTheBlockEnd) {
    for (int attShow = 0; attShow < 8; ++attShow) {
        for (bool meterOvs : {false, true}) {
            MeterSettings s;
            s.attShow = attShow;
            s.meterOvs = meterOvs;
            s.postMeter = attShow % 3 == 1;
            TwoRecords r(s);
            const std::vector<Frame> frames =
                randomFrames(3000, 11u + static_cast<unsigned>(attShow));
            std::size_t at = 0;
            int block = 0;
            while (at < frames.size()) {
                const std::size_t count =
                    std::min<std::size_t>(1 + (block * 97) % 400, frames.size() - at);
                r.runBlock(frames, at, count);
                at += count;
                // Fetches between blocks raise the reset request for both records alike.
                if (block % 3 == 1) {
                    ASSERT_EQ(fetch(r.single), fetch(r.blocked)) << attShow << " " << block;
                }
                ++block;
            }
            ASSERT_EQ(fetch(r.single), fetch(r.blocked)) << attShow << " " << meterOvs;
            // Only all three factors shown take the usual route, with or without
            // inter-sample peaks.
            EXPECT_EQ(r.usualRouteTaken, attShow == 7) << attShow << " " << meterOvs;
        }
    }
}

TEST(MeterFrames, InputAndOutputPassesPublishWhatFrameByFramePublishes) {
    for (int attShow : {7, 3, 5}) {
        for (bool meterOvs : {false, true}) {
            MeterSettings s;
            s.attShow = attShow;
            s.meterOvs = meterOvs;
            s.postMeter = meterOvs;
            TwoRecords r(s);
            std::vector<Frame> frames = randomFrames(2000, 29u + static_cast<unsigned>(attShow));
            const bool usual = attShow == 7;
            for (Frame& f : frames) f.powerOn = f.powerOn || usual;
            std::size_t at = 0;
            int block = 0;
            while (at < frames.size()) {
                const std::size_t count =
                    std::min<std::size_t>(1 + (block * 53) % 300, frames.size() - at);
                r.runBlockInPasses(frames, at, count);
                at += count;
                if (block % 4 == 2) {
                    ASSERT_EQ(fetch(r.single), fetch(r.blocked)) << attShow << " " << block;
                }
                ++block;
            }
            ASSERT_EQ(fetch(r.single), fetch(r.blocked)) << attShow << " " << meterOvs;
            EXPECT_EQ(r.usualRouteTaken, usual);
        }
    }
}

TEST(DoublePair, RightInBothAndAbsAreExactLaneOperations) {
    const DoublePair p(-0.0, -3.5);
    EXPECT_EQ(p.rightInBoth().left(), -3.5);
    EXPECT_EQ(p.rightInBoth().right(), -3.5);
    const DoublePair a = abs(p);
    EXPECT_FALSE(std::signbit(a.left()));
    EXPECT_EQ(a.left(), 0.0);
    EXPECT_EQ(a.right(), 3.5);
    const DoublePair n = abs(DoublePair(-std::numeric_limits<double>::infinity(), -1e-310));
    EXPECT_EQ(n.left(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(n.right(), 1e-310);
}

TEST(MeterFrames, FetchDuringABlockRestartsTheHoldsAtThatBlocksFirstFrame) {
    EngineParameters parameters;
    RateSettings rates;
    rates.update(44100, 2);
    MeterMeasurement meters;
    meters.beginBlock(parameters, rates, 1.0);
    MeterFrames first = meters.frames();
    first.frame(DoublePair(0.9, 0.8), DoublePair(0.5, 0.6), DoublePair(1.0, 1.0), 1.0,
                DoublePair(0.7, 0.6), true);
    meters.endBlock(first);

    meters.beginBlock(parameters, rates, 1.0);
    MeterFrames second = meters.frames();
    second.frame(DoublePair(0.2, 0.1), DoublePair(0.9, 0.95), DoublePair(1.0, 1.0), 1.0,
                 DoublePair(0.15, 0.05), true);
    // The fetch lands while the second block runs: it sees the first block's values ...
    const Values during = fetch(meters);
    EXPECT_EQ(during[MeterMeasurement::kInPeakL], 0.9f);
    EXPECT_EQ(during[MeterMeasurement::kAttR], 0.6f);
    second.frame(DoublePair(0.3, 0.25), DoublePair(0.8, 0.97), DoublePair(1.0, 1.0), 1.0,
                 DoublePair(0.1, 0.2), true);
    meters.endBlock(second);
    EXPECT_FALSE(meters.resetRequested());

    // ... and the next fetch shows the whole second block, nothing of the first.
    const Values after = fetch(meters);
    EXPECT_EQ(after[MeterMeasurement::kInPeakL], 0.3f);
    EXPECT_EQ(after[MeterMeasurement::kInPeakR], 0.25f);
    EXPECT_EQ(after[MeterMeasurement::kOutPeakL], 0.15f);
    EXPECT_EQ(after[MeterMeasurement::kOutPeakR], 0.2f);
    EXPECT_EQ(after[MeterMeasurement::kAttL], 0.8f);
    EXPECT_EQ(after[MeterMeasurement::kAttR], 0.95f);
    // Mean squares run on through the reset.
    EXPECT_GT(after[MeterMeasurement::kInRmsL], during[MeterMeasurement::kInRmsL] * 0.99f);
}

TEST(MeterFrames, EmptyBlockChangesNothingButHonoursAPendingRequest) {
    EngineParameters parameters;
    RateSettings rates;
    rates.update(44100, 2);
    MeterMeasurement meters;
    meters.beginBlock(parameters, rates, 1.0);
    meters.frame(0.5, 0.4, 0.7, 0.6, 1.0, 1.0, 1.0, 0.3, 0.2, true);
    const Values before = fetch(meters);  // raises the request
    meters.beginBlock(parameters, rates, 1.0);
    Values again{};
    meters.fetch(again.data());
    EXPECT_EQ(before, again);
    meters.endBlock(meters.frames());
    const Values after = fetch(meters);
    EXPECT_EQ(after[MeterMeasurement::kInPeakL], 0.0f);
    EXPECT_EQ(after[MeterMeasurement::kAttL], 1.0f);
    EXPECT_EQ(after[MeterMeasurement::kInRmsL], before[MeterMeasurement::kInRmsL]);
}

}  // namespace
