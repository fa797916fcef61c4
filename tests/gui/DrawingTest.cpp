// Pixel results of the draw context, bitmaps and off-screen images, in memory.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/GuiTestSupport.h"

using namespace VSTGUI;
using namespace guitest;

namespace {

struct Canvas {
    explicit Canvas(int w = 40, int h = 40, unsigned int fill = 0)
        : image(makeImage(w, h, fill)), context(image) {}
    ~Canvas() { cairo_surface_destroy(image); }
    cairo_surface_t* image;
    CDrawContext context;
};

// A 4-pixel-wide strip of three 4-row frames: red, green, blue.
std::vector<unsigned char> threeFrameStrip() {
    return makePng(4, 12, [](int, int y) {
        return y < 4 ? 0xFFFF0000u : y < 8 ? 0xFF00FF00u : 0xFF0000FFu;
    });
}

// A finder over one numbered and one named picture that counts its look-ups:
// each look-up is one decode.
std::atomic<int> countedLookups{0};
const std::vector<unsigned char>& countedPicture() {
    static const std::vector<unsigned char> png = threeFrameStrip();
    return png;
}
ResourceBytes countedByNumber(int id) {
    if (id != 7) return {};
    ++countedLookups;
    return {countedPicture().data(), countedPicture().size()};
}
ResourceBytes countedByName(const char* name) {
    if (std::string(name) != "Strip.PNG" && std::string(name) != "strip.png") return {};
    ++countedLookups;
    return {countedPicture().data(), countedPicture().size()};
}
struct CountingFinder {
    CountingFinder() {
        countedLookups = 0;
        ResourceFinder finder;
        finder.byNumber = countedByNumber;
        finder.byName = countedByName;
        setResourceFinder(finder);
    }
    ~CountingFinder() { setResourceFinder(defaultResourceFinder()); }
};

}  // namespace

TEST(BitmapCache, OneDecodePerResourceWhileAnyBitmapUsesIt) {
    CountingFinder finder;
    auto* first = new CBitmap(7);
    auto* second = new CBitmap(7);
    EXPECT_EQ(countedLookups, 1);
    ASSERT_TRUE(first->isLoaded());
    EXPECT_EQ(first->getSurface(), second->getSurface());
    EXPECT_EQ(second->getHeight(), 12);
    auto* byName = new CBitmap("Strip.PNG");
    auto* otherCase = new CBitmap("STRIP.png");  // names ignore letter case
    EXPECT_EQ(countedLookups, 2);
    EXPECT_EQ(byName->getSurface(), otherCase->getSurface());
    first->forget();
    auto* third = new CBitmap(7);  // one user left: still shared
    EXPECT_EQ(countedLookups, 2);
    EXPECT_EQ(third->getSurface(), second->getSurface());
    second->forget();
    third->forget();
    auto* again = new CBitmap(7);  // the last user went: decoded anew
    EXPECT_EQ(countedLookups, 3);
    EXPECT_TRUE(again->isLoaded());
    again->forget();
    byName->forget();
    otherCase->forget();
}

TEST(BitmapCache, AnotherFinderNeverGetsTheCachedPicture) {
    auto* counted = [] {
        CountingFinder finder;
        return new CBitmap(7);
    }();
    FakeResources resources;
    resources.add(7, makePng(2, 2, [](int, int) { return 0xFF00FF00u; }));
    auto* fake = new CBitmap(7);
    EXPECT_EQ(fake->getWidth(), 2);
    EXPECT_NE(fake->getSurface(), counted->getSurface());
    fake->forget();
    counted->forget();
}

TEST(BitmapCacheThreads, EditorsOnSeveralThreadsShareOneDecode) {
    CountingFinder finder;
    // Held for the whole run, so every bitmap the threads make is a cache hit.
    auto* keptByNumber = new CBitmap(7);
    auto* keptByName = new CBitmap("Strip.PNG");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                auto* bitmap = new CBitmap(7);
                auto* named = new CBitmap("strip.png");
                Canvas canvas(4, 4);
                bitmap->draw(&canvas.context, CRect(0, 0, 4, 4), CPoint(0, 4));
                EXPECT_EQ(rgb(canvas.image, 1, 1), 0x00FF00u);
                bitmap->forget();
                named->forget();
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(countedLookups, 2);
    keptByNumber->forget();
    keptByName->forget();
}

TEST(DrawContextRectangles, FilledRectangleCoversExactlyItsPixels) {
    Canvas c;
    c.context.setFillColor(kRedCColor);
    c.context.drawRect(CRect(2, 3, 7, 9), kDrawFilled);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 2 && x < 7 && y >= 3 && y < 9;
            EXPECT_EQ(imagePixel(c.image, x, y), inside ? 0xFFFF0000u : 0u) << x << "," << y;
        }
}

TEST(DrawContextRectangles, OutlineDrawsOnlyTheBorderInTheFrameColour) {
    Canvas c;
    c.context.setFrameColor(kGreenCColor);
    c.context.drawRect(CRect(5, 5, 15, 12), kDrawStroked);
    EXPECT_EQ(rgb(c.image, 5, 5), 0x00FF00u);
    EXPECT_EQ(rgb(c.image, 14, 11), 0x00FF00u);
    EXPECT_EQ(rgb(c.image, 10, 5), 0x00FF00u);
    EXPECT_EQ(rgb(c.image, 5, 8), 0x00FF00u);
    EXPECT_EQ(alpha(c.image, 10, 8), 0u);  // inside stays empty
    EXPECT_EQ(alpha(c.image, 15, 8), 0u);  // right edge is exclusive
}

TEST(DrawContextRectangles, OriginOffsetShiftsEveryCoordinate) {
    Canvas c;
    c.context.setOffset(CPoint(10, 20));
    c.context.setFillColor(kBlueCColor);
    c.context.fillRect(CRect(0, 0, 2, 2));
    EXPECT_EQ(rgb(c.image, 10, 20), 0x0000FFu);
    EXPECT_EQ(rgb(c.image, 11, 21), 0x0000FFu);
    EXPECT_EQ(alpha(c.image, 0, 0), 0u);
    EXPECT_EQ(alpha(c.image, 12, 20), 0u);
}

TEST(DrawContextRectangles, ClipRectangleLimitsDrawing) {
    Canvas c;
    c.context.setClipRect(CRect(0, 0, 4, 4));
    c.context.setFillColor(kRedCColor);
    c.context.fillRect(CRect(0, 0, 20, 20));
    EXPECT_EQ(rgb(c.image, 3, 3), 0xFF0000u);
    EXPECT_EQ(alpha(c.image, 4, 3), 0u);
    EXPECT_EQ(alpha(c.image, 3, 4), 0u);
    EXPECT_EQ(c.context.getClipRect(), CRect(0, 0, 4, 4));
    c.context.resetClipRect();
    c.context.fillRect(CRect(10, 10, 11, 11));
    EXPECT_EQ(rgb(c.image, 10, 10), 0xFF0000u);
}

TEST(DrawContextColours, SettersDoNothingWhenTheColourIsUnchanged) {
    Canvas c;
    c.context.setFillColor(kRedCColor);
    c.context.setFillColor(kRedCColor);
    c.context.setFrameColor(kBlackCColor);  // already the initial frame colour
    c.context.setFontColor(kGreenCColor);
    c.context.setFontColor(kGreenCColor);
    EXPECT_EQ(c.context.getColorChangeCount(), 2);
    EXPECT_EQ(c.context.getFillColor(), kRedCColor);
}

TEST(BitmapDrawing, SourceOffsetSelectsTheFrameOfAStrip) {
    FakeResources resources;
    resources.add(200, threeFrameStrip());
    CBitmap bitmap(200);
    ASSERT_EQ(bitmap.getWidth(), 4);
    ASSERT_EQ(bitmap.getHeight(), 12);
    Canvas c;
    bitmap.draw(&c.context, CRect(10, 10, 14, 14), CPoint(0, 4));
    EXPECT_EQ(rgb(c.image, 10, 10), 0x00FF00u);
    EXPECT_EQ(rgb(c.image, 13, 13), 0x00FF00u);
    bitmap.draw(&c.context, CRect(20, 10, 24, 14), CPoint(0, 8));
    EXPECT_EQ(rgb(c.image, 20, 10), 0x0000FFu);
    EXPECT_EQ(alpha(c.image, 14, 10), 0u);
    EXPECT_EQ(alpha(c.image, 10, 14), 0u);
}

TEST(BitmapDrawing, NamedResourcesAreFoundAndDrawnWithTheContextOffset) {
    FakeResources resources;
    resources.add("BMP00158.PNG", threeFrameStrip());
    CBitmap bitmap("bmp00158.png");
    ASSERT_TRUE(bitmap.isLoaded());
    Canvas c;
    c.context.setOffset(CPoint(5, 0));
    bitmap.draw(&c.context, CRect(0, 0, 4, 4));
    EXPECT_EQ(rgb(c.image, 5, 0), 0xFF0000u);
    EXPECT_EQ(alpha(c.image, 4, 0), 0u);
}

TEST(BitmapDrawing, ImageAlphaBlendsOverTheBackground) {
    FakeResources resources;
    resources.add(201,
                  makePng(2, 2, [](int x, int) { return x == 0 ? 0x80FF0000u : 0x00000000u; }));
    CBitmap bitmap(201);
    Canvas c(10, 10, 0xFF0000FFu);
    bitmap.draw(&c.context, CRect(0, 0, 2, 2));
    const unsigned int blended = rgb(c.image, 0, 0);
    EXPECT_NEAR(static_cast<int>(blended >> 16), 128, 2);
    EXPECT_NEAR(static_cast<int>(blended & 255), 127, 2);
    EXPECT_EQ(rgb(c.image, 1, 0), 0x0000FFu);  // fully transparent pixel leaves blue
}

TEST(BitmapDrawing, OpacityBelow255ScalesTheImage) {
    FakeResources resources;
    resources.add(202, makePng(4, 8, [](int, int y) { return y < 4 ? 0xFFFF0000u : 0xFF00FF00u; }));
    CBitmap bitmap(202);
    Canvas c(10, 10, 0xFF0000FFu);
    bitmap.drawAlphaBlend(&c.context, CRect(2, 2, 6, 6), CPoint(0, 4), 200);
    const unsigned int p = rgb(c.image, 3, 3);
    EXPECT_EQ((p >> 16) & 255, 0u);
    EXPECT_NEAR(static_cast<int>((p >> 8) & 255), 200, 1);
    EXPECT_NEAR(static_cast<int>(p & 255), 55, 1);
    EXPECT_EQ(rgb(c.image, 6, 3), 0x0000FFu);
    bitmap.drawAlphaBlend(&c.context, CRect(6, 6, 10, 10), CPoint(), 255);
    EXPECT_EQ(rgb(c.image, 7, 7), 0xFF0000u);
}

TEST(BitmapDrawing, SourceBeyondTheStripDrawsNothingThere) {
    FakeResources resources;
    resources.add(203, threeFrameStrip());
    CBitmap bitmap(203);
    Canvas c;
    bitmap.draw(&c.context, CRect(0, 0, 4, 8), CPoint(0, 8));  // half past the end
    EXPECT_EQ(rgb(c.image, 0, 0), 0x0000FFu);
    EXPECT_EQ(alpha(c.image, 0, 4), 0u);
    EXPECT_EQ(alpha(c.image, 0, 7), 0u);
}

TEST(BitmapDrawing, OpaqueImagesAreCopiedOnlyWhereTheyAreAndInsideTheClip) {
    FakeResources resources;
    resources.add(204, threeFrameStrip());  // every pixel opaque: drawn by copying
    CBitmap bitmap(204);
    Canvas c(40, 40, 0xFF808080u);
    // Half past the end of the strip: what lies beyond keeps the canvas.
    bitmap.draw(&c.context, CRect(0, 0, 4, 8), CPoint(0, 8));
    EXPECT_EQ(rgb(c.image, 0, 0), 0x0000FFu);
    EXPECT_EQ(rgb(c.image, 3, 3), 0x0000FFu);
    EXPECT_EQ(alpha(c.image, 0, 5), 255u);
    EXPECT_EQ(rgb(c.image, 0, 5), 0x808080u);
    // Left of and above the image likewise.
    bitmap.draw(&c.context, CRect(10, 10, 16, 16), CPoint(-2, -2));
    EXPECT_EQ(rgb(c.image, 10, 10), 0x808080u);
    EXPECT_EQ(rgb(c.image, 12, 12), 0xFF0000u);
    // The context's clip still limits the copy.
    c.context.setClipRect(CRect(20, 20, 22, 40));
    bitmap.draw(&c.context, CRect(20, 20, 24, 24), CPoint(0, 4));
    EXPECT_EQ(rgb(c.image, 21, 21), 0x00FF00u);
    EXPECT_EQ(rgb(c.image, 22, 21), 0x808080u);
}

TEST(BitmapBadInput, MissingOrCorruptResourcesHaveNoSizeAndDrawNothing) {
    FakeResources resources;
    std::vector<unsigned char> png = threeFrameStrip();
    png.resize(png.size() / 2);  // cut in the middle
    resources.add(204, png);
    resources.add(205, std::vector<unsigned char>{'n', 'o', 't', ' ', 'p', 'n', 'g'});
    for (int id : {204, 205, 9999}) {
        CBitmap bitmap(id);
        EXPECT_FALSE(bitmap.isLoaded()) << id;
        EXPECT_EQ(bitmap.getWidth(), 0);
        EXPECT_EQ(bitmap.getHeight(), 0);
        Canvas c;
        bitmap.draw(&c.context, CRect(0, 0, 10, 10));
        bitmap.drawAlphaBlend(&c.context, CRect(0, 0, 10, 10), CPoint(), 100);
        EXPECT_EQ(imagePixel(c.image, 5, 5), 0u);
    }
    CBitmap unnamed(static_cast<const char*>(nullptr));
    EXPECT_EQ(unnamed.getWidth(), 0);
}

TEST(BitmapLifetime, ViewsHoldCountedReferences) {
    FakeResources resources;
    resources.add(206, threeFrameStrip());
    auto* bitmap = new CBitmap(206);
    auto* view = new CView(CRect(0, 0, 4, 4));
    view->setBackground(bitmap);
    EXPECT_EQ(bitmap->getNbReference(), 2);
    bitmap->forget();  // the creator's reference
    EXPECT_EQ(bitmap->getNbReference(), 1);
    view->setBackground(nullptr);  // releases the last one (destroyed; nothing to check)
    view->forget();
}

TEST(OffscreenContext, CopiesOneRectangleInFrameCoordinates) {
    COffscreenContext offscreen(nullptr, 30, 30, kBlackCColor);
    offscreen.setFillColor(kRedCColor);
    offscreen.fillRect(CRect(12, 12, 18, 18));
    Canvas screen(30, 30, 0xFF0000FFu);
    offscreen.copyTo(&screen.context, CRect(10, 10, 20, 20), CPoint(10, 10));
    EXPECT_EQ(rgb(screen.image, 10, 10), 0x000000u);  // the off-screen background
    EXPECT_EQ(rgb(screen.image, 12, 12), 0xFF0000u);
    EXPECT_EQ(rgb(screen.image, 19, 19), 0x000000u);
    EXPECT_EQ(rgb(screen.image, 9, 9), 0x0000FFu);
    EXPECT_EQ(rgb(screen.image, 20, 20), 0x0000FFu);
}

TEST(OffscreenContext, SourceOffsetAndTargetOffsetAreHonoured) {
    COffscreenContext offscreen(nullptr, 20, 20, kWhiteCColor);
    offscreen.setFillColor(kGreenCColor);
    offscreen.fillRect(CRect(0, 0, 2, 2));
    Canvas screen(30, 30);
    screen.context.setOffset(CPoint(5, 5));
    offscreen.copyTo(&screen.context, CRect(0, 0, 4, 4), CPoint(1, 1));
    EXPECT_EQ(rgb(screen.image, 5, 5), 0x00FF00u);
    EXPECT_EQ(rgb(screen.image, 6, 6), 0xFFFFFFu);
    EXPECT_EQ(alpha(screen.image, 9, 9), 0u);
}

namespace {
// Columns and rows that hold any ink of colour channel red.
CRect inkBounds(cairo_surface_t* image, int w, int h) {
    CRect r(w, h, -1, -1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (alpha(image, x, y) > 60) {
                r.left = std::min(r.left, x);
                r.top = std::min(r.top, y);
                r.right = std::max(r.right, x + 1);
                r.bottom = std::max(r.bottom, y + 1);
            }
    return r;
}
}  // namespace

TEST(FontGlyphPlacement, AlignmentPlacesTheTextInsideItsRectangle) {
    const CRect box(10, 10, 150, 40);
    CRect bounds[3];
    for (int align = 0; align < 3; ++align) {
        Canvas c(160, 50);
        c.context.setFont(kNormalFont);
        c.context.setFontColor(kBlackCColor);
        c.context.drawString("Hello", box, false, static_cast<CHoriTxtAlign>(align));
        bounds[align] = inkBounds(c.image, 160, 50);
        ASSERT_FALSE(bounds[align].isEmpty()) << "no glyph drawn, align " << align;
        EXPECT_GE(bounds[align].left, box.left);
        EXPECT_LE(bounds[align].right, box.right);
        // Vertically centred: the ink's centre within 3 px of the box centre.
        EXPECT_NEAR((bounds[align].top + bounds[align].bottom) / 2.0, (box.top + box.bottom) / 2.0,
                    3.0);
    }
    EXPECT_LE(bounds[0].left, box.left + 2);
    EXPECT_GE(bounds[2].right, box.right - 2);
    EXPECT_NEAR((bounds[1].left + bounds[1].right) / 2.0, (box.left + box.right) / 2.0, 2.0);
}

TEST(FontGlyphPlacement, TextIsClippedToItsRectangleAndOpaqueFillsIt) {
    Canvas c(100, 30);
    c.context.setFillColor(kGreenCColor);
    c.context.setFontColor(kBlackCColor);
    c.context.setFont(kNormalFontBig);
    c.context.drawString("WWWWWWWWWWWW", CRect(10, 5, 40, 25), true, kLeftText);
    EXPECT_EQ(rgb(c.image, 39, 6), 0x00FF00u);
    for (int y = 0; y < 30; ++y) EXPECT_EQ(alpha(c.image, 41, y), 0u) << y;
}

TEST(FontBadInput, EightBitAndControlCharactersKeepTheContextUsable) {
    EXPECT_EQ(latin1ToUtf8("a\xe9\x01z"), "a\xc3\xa9 z");
    EXPECT_EQ(latin1ToUtf8(nullptr), "");
    Canvas c(60, 20);
    c.context.drawString("\xff\xfe\x80\x7f\x1b bad", CRect(0, 0, 60, 20));
    EXPECT_TRUE(c.context.isValid());
    EXPECT_GT(c.context.getStringWidth("\xe9t\xe9"), 0);
    c.context.setFillColor(kRedCColor);
    c.context.fillRect(CRect(0, 0, 1, 1));
    EXPECT_EQ(rgb(c.image, 0, 0), 0xFF0000u);
}

TEST(EmbeddedArtwork, FontStripsLoadByNumberAndByNameIgnoringCase) {
#if __has_include("EmbeddedResources.h")
    setResourceFinder(defaultResourceFinder());
    for (int id : {137, 138}) {
        CBitmap font(id);
        EXPECT_EQ(font.getWidth(), 5) << id;
        EXPECT_EQ(font.getHeight(), 1536) << id;
    }
    for (const char* name : {"bmp00158.png", "BMP00159.PNG", "Bmp00158.Png"}) {
        CBitmap font(name);
        EXPECT_EQ(font.getWidth(), 5) << name;
        EXPECT_EQ(font.getHeight(), 1536) << name;
    }
    CBitmap missing(127);
    EXPECT_EQ(missing.getWidth(), 0);
    CBitmap unknown("bmp00160.png");
    EXPECT_EQ(unknown.getHeight(), 0);
#else
    GTEST_SKIP() << "the artwork is not built into this tree";
#endif
}
