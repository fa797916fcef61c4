// Controls draw their bitmaps straight over the editor background, so a bitmap's empty corners
// must be exactly the background at every place the editor draws it.
#include <gtest/gtest.h>

#include <string>

#include "DecodedPng.h"

namespace {

using tq::testing::decodeBitmap;
using tq::testing::DecodedPng;

struct Fit {
    int id;
    int frames;
    int x, y;       // a pixel of every frame that shows only background
    int left, top;  // where the editor draws the bitmap
};

const Fit kFits[] = {
    {147, 101, 0, 0, 421, 169},
    {148, 101, 0, 0, 421, 267},
    {150, 101, 0, 0, 52, 349},
    {151, 101, 0, 0, 417, 349},
    {152, 101, 0, 0, 55, 169},
    {153, 101, 0, 0, 56, 267},
    {146, 3, 89, 0, 38, 121},
    {167, 2, 0, 0, 233, 39},
    {141, 7, 0, 28, 223, 305},
    {149, 2, 0, 0, 245, 400},
    {992, 3, 0, 0, 39, 447},
    {993, 3, 0, 0, 122, 447},
    // The preset arrows serve four places each.
    {990, 3, 0, 0, 72, 447},
    {990, 3, 0, 0, 166, 447},
    {990, 3, 0, 0, 421, 447},
    {990, 3, 0, 0, 486, 447},
    {991, 3, 0, 0, 22, 447},
    {991, 3, 0, 0, 104, 447},
    {991, 3, 0, 0, 388, 447},
    {991, 3, 0, 0, 452, 447},
};

TEST(BackgroundFit, BitmapsCutFromTheBackgroundMatchItWhereTheyAreDrawn) {
    const DecodedPng background = decodeBitmap(128);
    ASSERT_TRUE(background.ok());
    for (const Fit& fit : kFits) {
        const DecodedPng png = decodeBitmap(fit.id);
        ASSERT_TRUE(png.ok());
        const int frameHeight = png.height() / fit.frames;
        for (int frame = 0; frame < fit.frames; ++frame)
            ASSERT_EQ(png.pixel(fit.x, frame * frameHeight + fit.y),
                      background.pixel(fit.left + fit.x, fit.top + fit.y))
                << "bitmap " << fit.id << " frame " << frame << " at (" << fit.left << ", "
                << fit.top << ")";
    }
}

TEST(BackgroundFit, LevelMeterReadoutsSitOnTheirPrinterGrey) {
    // The readouts copy the background under them and print boxes filled with (79, 79, 79).
    const DecodedPng background = decodeBitmap(128);
    ASSERT_TRUE(background.ok());
    const int readouts[][2] = {{131, 415}, {303, 415}, {217, 199}};
    for (const auto& r : readouts)
        for (int y = r[1]; y < r[1] + 11; ++y)
            for (int x = r[0]; x < r[0] + 93; ++x)
                ASSERT_EQ(background.pixel(x, y), (tq::testing::Pixel{79, 79, 79, 255}))
                    << x << "," << y;
}

}  // namespace
