// The frame loops take every engine value once per host block. A setter's change must
// then act exactly as if the value had been read at every frame: from the first frame
// of the next block on, not a frame earlier or later. Host blocks of one frame each read
// the values at every frame, so they are the yardstick here.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "paths/EngineTestRig.h"
#include "paths/SignalPath.h"

namespace tq {
namespace {

using testing::EngineRig;
using testing::EngineSetup;
using testing::StereoSignal;

constexpr int kFrames = 6000;
// Inside a 64-frame chunk and inside a convolution block, and not a multiple of the
// host block below.
constexpr int kChangeFrame = 2011;
constexpr int kHostBlock = 300;

struct Edit {
    std::string name;
    std::function<void(EngineParameters&)> apply;
};

// Runs `in` in host blocks of `block` frames, applying `edit` just before frame
// `changeFrame` (which starts a block: the block before it is cut short if need be).
StereoSignal runWithChange(Flavour flavour, const EngineSetup& setup, const StereoSignal& in,
                           int block, int changeFrame, const Edit& edit) {
    EngineRig rig(flavour, setup);
    StereoSignal out = testing::silence(in.frames());
    for (int start = 0; start < in.frames();) {
        if (start == changeFrame) edit.apply(rig.parameters());
        int n = std::min(block, in.frames() - start);
        if (start < changeFrame) n = std::min(n, changeFrame - start);
        rig.path().process(in.left.data() + start, in.right.data() + start,
                           out.left.data() + start, out.right.data() + start, n);
        start += n;
    }
    return out;
}

bool sameBits(const StereoSignal& a, const StereoSignal& b) {
    return a.left == b.left && a.right == b.right;
}

// Loud noise, then quiet noise from a few hundred frames before the change on, with a
// peak in the left channel that reaches the detector at the change frame. At that frame
// every value shows in the output: the smoother bank is releasing from the loud part and
// sets the gain, the new peak makes all its stages attack, and the channels' peak
// windows differ.
StereoSignal signal() {
    StereoSignal in = testing::loudNoise(kFrames, 2.5, 7u);
    for (int i = kChangeFrame - 300; i < kFrames; ++i) {
        in.left[static_cast<std::size_t>(i)] *= 0.02;
        in.right[static_cast<std::size_t>(i)] *= 0.02;
    }
    in.left[static_cast<std::size_t>(kChangeFrame - kAlignmentDelay)] = 3.0;
    return in;
}

struct Case {
    std::string name;
    std::function<void(EngineSetup&)> before;
    std::function<void(EngineParameters&)> edit;
};

void expectActsFromTheBlocksFirstFrame(const Case& c) {
    const StereoSignal in = signal();
    EngineSetup setup;
    setup.drive = 1.8;
    setup.transShape = 0;
    c.before(setup);
    const Edit edit{c.name, c.edit};
    for (Flavour flavour : testing::kFlavours) {
        const std::string what = c.name + (flavour == Flavour::Paired ? " (paired)" : " (scalar)");
        const StereoSignal blocks =
            runWithChange(flavour, setup, in, kHostBlock, kChangeFrame, edit);
        const StereoSignal frameByFrame = runWithChange(flavour, setup, in, 1, kChangeFrame, edit);
        EXPECT_TRUE(sameBits(blocks, frameByFrame)) << what;
        // A frame later is a different output: the change did act at that first frame.
        const StereoSignal later = runWithChange(flavour, setup, in, 1, kChangeFrame + 1, edit);
        EXPECT_FALSE(sameBits(blocks, later)) << what;
    }
}

const auto kUsual = [](EngineSetup&) {};

TEST(BlockBoundaryChange, EveryEngineValueActsFromTheNextBlocksFirstFrame) {
    const Case cases[] = {
        {"drive", kUsual, [](EngineParameters& p) { p.driveGain = 0.7; }},
        {"output", kUsual, [](EngineParameters& p) { p.outputGain = 0.5; }},
        {"AutoOut", kUsual, [](EngineParameters& p) { p.autoOut = true; }},
        {"transient share", kUsual, [](EngineParameters& p) { p.transientShare = 0.45; }},
        // Unlinked, so that the right channel's stages go on releasing at the peak.
        {"release", [](EngineSetup& s) { s.link = 0.0; },
         [](EngineParameters& p) { fillReleaseCoefficients(p, 3.0, 44100); }},
        {"attack", kUsual, [](EngineParameters& p) { fillAttackCoefficients(p, 11025); }},
        {"link", kUsual, [](EngineParameters& p) { p.linkAmount = 0.0; }},
        {"Oversample on", kUsual, [](EngineParameters& p) { p.oversample = true; }},
        {"second order", kUsual, [](EngineParameters& p) { p.detectorOrder = 1; }},
        {"Power off", kUsual, [](EngineParameters& p) { p.powerGain = 0.0; }},
        {"leveller engaged", kUsual,
         [](EngineParameters& p) {
             p.levellerGain = 0.01;
             p.levellerEngaged = true;
         }},
    };
    for (const Case& c : cases) expectActsFromTheBlocksFirstFrame(c);
}

// The same the other way round. Back to the first order, the second stages (which
// follow the first ones then) must not lag by a frame.
TEST(BlockBoundaryChange, ReturningSettingsActFromTheNextBlocksFirstFrame) {
    const Case cases[] = {
        {"Oversample off", [](EngineSetup& s) { s.oversample = true; },
         [](EngineParameters& p) { p.oversample = false; }},
        {"first order", [](EngineSetup& s) { s.detectorOrder = 1; },
         [](EngineParameters& p) { p.detectorOrder = 0; }},
        {"Power on", [](EngineSetup& s) { s.power = false; },
         [](EngineParameters& p) { p.powerGain = 1.0; }},
        {"AutoOut off", [](EngineSetup& s) { s.autoOut = true; },
         [](EngineParameters& p) { p.autoOut = false; }},
        {"leveller disengaged",
         [](EngineSetup& s) {
             s.levellerEngaged = true;
             s.leveller = 0.01;
         },
         [](EngineParameters& p) { p.levellerEngaged = false; }},
    };
    for (const Case& c : cases) expectActsFromTheBlocksFirstFrame(c);
}

}  // namespace
}  // namespace tq
