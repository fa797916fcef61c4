// The pass planner on model limiters whose loudness and true peak are known
// functions of Drive, so every pass it asks for can be answered exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "GainSearch.h"

namespace tq {
namespace {

// A limiter holding full scale: below its threshold every dB of Drive is a dB
// of loudness; above, `limitedSlope` of one. What lies between the samples
// overshoots, growing to `overshootDb` within the first dB of limiting.
struct ModelLimiter {
    double inputLoudness;
    double inputSamplePeak;
    double limitedSlope;
    double overshootDb;

    LevelSummary input() const {
        LevelSummary levels;
        levels.loudnessLufs = inputLoudness;
        levels.samplePeakDb = inputSamplePeak;
        levels.truePeakDb = inputSamplePeak + 0.1;
        return levels;
    }
    LevelSummary render(GainSetting setting) const {
        const double over = std::max(0.0, setting.driveDb + inputSamplePeak);
        LevelSummary levels;
        levels.loudnessLufs =
            inputLoudness + setting.driveDb - (1.0 - limitedSlope) * over + setting.outputDb;
        const double peak = inputSamplePeak + setting.driveDb - over;
        levels.samplePeakDb = peak + setting.outputDb;
        levels.truePeakDb = peak + 0.1 + std::min(4.0 * over, overshootDb) + setting.outputDb;
        return levels;
    }
};

struct Outcome {
    bool reached = false;
    int passes = 0;
    LevelSummary last;
    GainSetting setting;
};

Outcome run(const ModelLimiter& limiter, const LoudnessGoal& goal, GainSetting start = {}) {
    GainSearch search(goal, GainLimits{}, start, limiter.input(), 0.0);
    Outcome outcome;
    std::optional<GainSetting> next = search.firstPass();
    while (next && outcome.passes < 10) {
        outcome.setting = *next;
        outcome.last = limiter.render(*next);
        ++outcome.passes;
        if (search.record(*next, outcome.last)) {
            outcome.reached = true;
            break;
        }
        next = search.nextPass();
    }
    return outcome;
}

TEST(GainSearch, ReachesTargetsUnderACeilingInFewPasses) {
    const ModelLimiter limiters[] = {
        {-26.0, -12.0, 0.7, 0.5},   // quiet, peaky speech
        {-16.0, -1.0, 0.4, 1.5},    // dense music: little gain per dB once limiting
        {-20.0, -17.0, 0.95, 0.0},  // a tone: limiting costs almost nothing
    };
    int totalPasses = 0;
    for (const ModelLimiter& limiter : limiters) {
        for (double target : {-23.0, -16.0, -14.0, -11.0}) {
            SCOPED_TRACE(std::to_string(limiter.inputLoudness) + " -> " + std::to_string(target));
            LoudnessGoal goal;
            goal.targetLufs = target;
            goal.ceilingDbtp = -1.0;
            const Outcome outcome = run(limiter, goal);
            ASSERT_TRUE(outcome.reached);
            EXPECT_NEAR(outcome.last.loudnessLufs, target, 0.1);
            EXPECT_LE(outcome.last.truePeakDb, -1.0);
            // One target sits where more Drive first costs loudness (the
            // overshoot grows faster than the limiting gains): that one may take five.
            EXPECT_LE(outcome.passes, 5);
            totalPasses += outcome.passes;
        }
    }
    EXPECT_LE(totalPasses, 24);  // two per target on average
}

TEST(GainSearch, CeilingAloneLowersOutputByTheOvershoot) {
    const ModelLimiter hot{-8.0, 3.0, 0.5, 1.2};
    LoudnessGoal goal;
    goal.ceilingDbtp = -1.0;
    const GainSetting start{2.0, -0.5};
    const Outcome outcome = run(hot, goal, start);
    ASSERT_TRUE(outcome.reached);
    EXPECT_EQ(outcome.passes, 2);
    EXPECT_EQ(outcome.setting.driveDb, start.driveDb);
    const double overshoot = hot.render(start).truePeakDb + 1.0;
    EXPECT_NEAR(outcome.setting.outputDb, start.outputDb - overshoot, 0.05);
    EXPECT_LE(outcome.last.truePeakDb, -1.0);
}

TEST(GainSearch, StopsWhenTheLimitsAreReached) {
    // So quiet that even the most Drive falls short.
    const ModelLimiter faint{-70.0, -50.0, 0.7, 0.0};
    LoudnessGoal goal;
    goal.targetLufs = -14.0;
    const Outcome outcome = run(faint, goal);
    EXPECT_FALSE(outcome.reached);
    EXPECT_LE(outcome.passes, 2);
    EXPECT_EQ(outcome.setting.driveDb, GainLimits{}.driveMaxDb);
}

}  // namespace
}  // namespace tq
