// Every bitmap the editor loads exists, decodes, and has the size and frame layout the controls
// rely on when they pick frames and meter zones by pixel offset.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DecodedPng.h"
#include "EmbeddedResources.h"

namespace {

using tq::testing::decodeBitmap;
using tq::testing::DecodedPng;

struct Expected {
    int id;
    int width;
    int height;
    int frames;
};

// The editor's bitmap table: numbered bitmaps, size of the whole strip and its frame count.
const std::vector<Expected> kNumbered = {
    {128, 524, 462, 1},   {129, 15, 432, 1},    {130, 15, 432, 1},    {131, 27, 367, 1},
    {132, 27, 367, 1},    {133, 27, 367, 1},    {134, 27, 367, 1},    {135, 27, 367, 1},
    {136, 27, 367, 1},    {137, 5, 1536, 192},  {138, 5, 1536, 192},  {139, 33, 38, 2},
    {140, 33, 38, 2},     {141, 35, 392, 7},    {142, 33, 114, 6},    {143, 33, 133, 7},
    {144, 33, 57, 3},     {145, 33, 133, 7},    {146, 90, 75, 3},     {147, 48, 4747, 101},
    {148, 48, 4747, 101}, {149, 35, 70, 2},     {150, 56, 5555, 101}, {151, 58, 5656, 101},
    {152, 50, 4848, 101}, {153, 49, 4747, 101}, {154, 15, 432, 1},    {155, 15, 432, 1},
    {156, 15, 203, 1},    {157, 438, 136, 1},   {160, 33, 57, 3},     {161, 18, 72, 3},
    {162, 33, 38, 2},     {163, 33, 57, 3},     {164, 33, 57, 3},     {165, 33, 57, 3},
    {166, 33, 57, 3},     {167, 58, 306, 2},    {990, 17, 45, 3},     {991, 17, 45, 3},
    {992, 32, 39, 3},     {993, 44, 39, 3},     {994, 7, 7, 1},       {995, 30, 65, 5},
};

TEST(ResourceCatalogue, EveryNumberedBitmapDecodesWithItsTabledSize) {
    for (const Expected& e : kNumbered) {
        SCOPED_TRACE("bitmap " + std::to_string(e.id));
        const tq::EmbeddedResource resource = tq::findBitmapResource(e.id);
        ASSERT_NE(resource.data, nullptr);
        ASSERT_GT(resource.size, 8u);
        EXPECT_EQ(std::memcmp(resource.data, "\x89PNG\r\n\x1a\n", 8), 0);
        const DecodedPng png(resource);
        ASSERT_TRUE(png.ok());
        EXPECT_EQ(png.width(), e.width);
        EXPECT_EQ(png.height(), e.height);
        EXPECT_EQ(png.height() % e.frames, 0);
    }
}

TEST(ResourceCatalogue, NamedFontsDecodeAsFiveByEightStripsOf192Glyphs) {
    for (const char* name : {"bmp00158.png", "bmp00159.png"}) {
        SCOPED_TRACE(name);
        const DecodedPng png(tq::findNamedResource(name));
        ASSERT_TRUE(png.ok());
        EXPECT_EQ(png.width(), 5);
        EXPECT_EQ(png.height(), 192 * 8);
    }
    EXPECT_TRUE(DecodedPng(tq::findNamedResource("bmp00158.png")).hasAlphaChannel());
}

TEST(ResourceCatalogue, NameLookupIgnoresLetterCase) {
    const tq::EmbeddedResource lower = tq::findNamedResource("bmp00158.png");
    ASSERT_NE(lower.data, nullptr);
    for (const char* spelling : {"BMP00158.PNG", "Bmp00158.Png", "bMP00158.pNG"}) {
        const tq::EmbeddedResource other = tq::findNamedResource(spelling);
        EXPECT_EQ(other.data, lower.data) << spelling;
        EXPECT_EQ(other.size, lower.size) << spelling;
    }
    EXPECT_NE(tq::findNamedResource("BMP00159.png").data, lower.data);
}

TEST(ResourceCatalogue, UnknownNumbersAndNamesGiveNothing) {
    for (int id : {-1, 0, 1, 127, 158, 159, 168, 989, 996, 100000}) {
        const tq::EmbeddedResource r = tq::findBitmapResource(id);
        EXPECT_EQ(r.data, nullptr) << id;
        EXPECT_EQ(r.size, 0u) << id;
    }
    for (const char* name :
         {"", "bmp00157.png", "bmp00158.pn", "bmp00158.png ", "bmp00158.pngx", "128", "DATA"}) {
        const tq::EmbeddedResource r = tq::findNamedResource(name);
        EXPECT_EQ(r.data, nullptr) << '"' << name << '"';
        EXPECT_EQ(r.size, 0u) << '"' << name << '"';
    }
    EXPECT_EQ(tq::findNamedResource(nullptr).data, nullptr);
}

TEST(ResourceCatalogue, NeighbouringFramesOfEveryStripDiffer) {
    for (const Expected& e : kNumbered) {
        if (e.frames == 1) continue;
        SCOPED_TRACE("bitmap " + std::to_string(e.id));
        const DecodedPng png = decodeBitmap(e.id);
        ASSERT_TRUE(png.ok());
        const int frameHeight = png.height() / e.frames;
        for (int frame = 1; frame < e.frames; ++frame)
            EXPECT_FALSE(png.rowsEqual((frame - 1) * frameHeight, frame * frameHeight, frameHeight))
                << "frames " << frame - 1 << " and " << frame;
    }
}

TEST(ResourceCatalogue, NumberedBitmapsAreOpaque) {
    // The controls redraw a frame over the previous one without repainting the background first,
    // so a see-through pixel would leave the old frame visible.
    for (const Expected& e : kNumbered) {
        const DecodedPng png = decodeBitmap(e.id);
        ASSERT_TRUE(png.ok());
        EXPECT_FALSE(png.hasAlphaChannel()) << "bitmap " << e.id;
    }
}

}  // namespace
