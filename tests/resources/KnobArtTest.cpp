// Knob strips: 101 frames whose pointer sweeps 270 degrees, from 7:30 through 12:00 to 4:30.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "DecodedPng.h"

namespace {

using tq::testing::decodeBitmap;
using tq::testing::DecodedPng;

struct Knob {
    int id;
    int width;
    int frameHeight;
};

const Knob kKnobs[] = {{147, 48, 47}, {148, 48, 47}, {150, 56, 55},
                       {151, 58, 56}, {152, 50, 48}, {153, 49, 47}};

// Direction of the pointer in frame k, in degrees clockwise from 12 o'clock, from the centroid
// of the pointer's light pixels (nothing else on a knob is that light).
double pointerAngle(const DecodedPng& png, const Knob& knob, int frame) {
    double sumX = 0;
    double sumY = 0;
    int count = 0;
    for (int y = 0; y < knob.frameHeight; ++y)
        for (int x = 0; x < knob.width; ++x) {
            const auto p = png.pixel(x, frame * knob.frameHeight + y);
            if (p.r > 170 && p.g > 170 && p.b > 170) {
                sumX += x + 0.5 - knob.width / 2.0;
                sumY += y + 0.5 - knob.frameHeight / 2.0;
                ++count;
            }
        }
    if (count == 0) return std::nan("");
    return std::atan2(sumX / count, -sumY / count) * 180 / std::numbers::pi;
}

TEST(KnobStrips, HoldOneHundredAndOneFrames) {
    for (const Knob& knob : kKnobs) {
        const DecodedPng png = decodeBitmap(knob.id);
        ASSERT_TRUE(png.ok());
        EXPECT_EQ(png.width(), knob.width);
        EXPECT_EQ(png.height(), 101 * knob.frameHeight) << knob.id;
    }
}

TEST(KnobStrips, PointerSweepsTwoHundredSeventyDegrees) {
    for (const Knob& knob : kKnobs) {
        SCOPED_TRACE("bitmap " + std::to_string(knob.id));
        const DecodedPng png = decodeBitmap(knob.id);
        ASSERT_TRUE(png.ok());
        for (int frame : {0, 10, 25, 50, 75, 90, 100}) {
            const double expected = -135.0 + 2.7 * frame;
            EXPECT_NEAR(pointerAngle(png, knob, frame), expected, 2.0) << "frame " << frame;
        }
    }
}

// The pointer turns 2.7 degrees per frame: a straight line fitted through all 101 frames
// averages out where single pixels fall, so even a sweep spread over one step too many
// (267.3 degrees) shows.
TEST(KnobStrips, PointerTurnsTwoPointSevenDegreesPerFrame) {
    for (const Knob& knob : kKnobs) {
        SCOPED_TRACE("bitmap " + std::to_string(knob.id));
        const DecodedPng png = decodeBitmap(knob.id);
        ASSERT_TRUE(png.ok());
        double sumFrame = 0, sumAngle = 0, sumFrameSquared = 0, sumProduct = 0;
        constexpr int kFrames = 101;
        for (int frame = 0; frame < kFrames; ++frame) {
            const double angle = pointerAngle(png, knob, frame);
            ASSERT_FALSE(std::isnan(angle)) << "frame " << frame;
            sumFrame += frame;
            sumAngle += angle;
            sumFrameSquared += static_cast<double>(frame) * frame;
            sumProduct += frame * angle;
        }
        const double slope = (kFrames * sumProduct - sumFrame * sumAngle) /
                             (kFrames * sumFrameSquared - sumFrame * sumFrame);
        const double intercept = (sumAngle - slope * sumFrame) / kFrames;

        EXPECT_NEAR(slope, 2.7, 0.005);
        EXPECT_NEAR(intercept, -135.0, 0.5);
        EXPECT_NEAR(pointerAngle(png, knob, 100) - pointerAngle(png, knob, 0), 270.0, 0.5);
    }
}

TEST(KnobStrips, PointerTurnsClockwiseFrameByFrame) {
    for (const Knob& knob : kKnobs) {
        const DecodedPng png = decodeBitmap(knob.id);
        double previous = pointerAngle(png, knob, 0);
        for (int frame = 5; frame <= 100; frame += 5) {
            const double angle = pointerAngle(png, knob, frame);
            EXPECT_GT(angle, previous) << knob.id << " frame " << frame;
            previous = angle;
        }
    }
}

}  // namespace
