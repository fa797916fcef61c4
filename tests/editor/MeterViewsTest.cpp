// Meters, readouts and the bitmap text printers, drawn headless over the real
// artwork and compared with the artwork's source rows.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ControlsTestSupport.h"
#include "editor/MeterViews.h"
#include "editor/TextPrinter.h"

namespace {

using namespace VSTGUI;
using namespace controlstest;

float fromDb(double db) { return static_cast<float>(std::pow(10.0, db / 20.0)); }

// ---------------------------------------------------------------- text printers

class TextPrinterTest : public ::testing::Test {
  protected:
    TextPrinterTest() : image_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 80, 40)) {
        context_ = new CDrawContext(image_);
        context_->setFillColor(kBlueCColor);
        context_->drawRect(CRect(0, 0, 80, 40), kDrawFilled);
    }
    ~TextPrinterTest() override {
        context_->forget();
        cairo_surface_destroy(image_);
    }
    // The 5 x 8 cell whose bottom-left pixel is (x, baseline) matches glyph `g` of `font`.
    void expectGlyph(CBitmap* font, int x, int baseline, int glyph) {
        EXPECT_EQ(mismatches(image_, CRect(x, baseline - 7, x + 5, baseline + 1), font,
                             CPoint(0, 8 * glyph)),
                  0)
            << "glyph " << glyph << " at x " << x;
    }

    Artwork art_;
    cairo_surface_t* image_;
    CDrawContext* context_;
};

TEST_F(TextPrinterTest, GlyphNumbersFollowTheStripLayout) {
    EXPECT_EQ(CTextPrinter::glyphFor('A', false), 33);
    EXPECT_EQ(CTextPrinter::glyphFor('A', true), 129);
    EXPECT_EQ(CTextPrinter::glyphFor(' ', false), 0);
    // Bit 7 is dropped; characters below the space fall on glyph 0.
    EXPECT_EQ(CTextPrinter::glyphFor(static_cast<char>(0xC1), false), 33);
    EXPECT_EQ(CTextPrinter::glyphFor('\n', false), 0);
    EXPECT_EQ(CTextPrinter::glyphFor(static_cast<char>(0x7F), true), 191);
}

TEST_F(TextPrinterTest, FirstFontFillsWidenedCellsAndRestoresColours) {
    CTextPrinter printer(art_(137), art_("bmp00158.png"));
    context_->setFrameColor(kGreenCColor);
    printer.print(context_, CPoint(10, 20), "Ab", false, false, false);
    expectGlyph(art_(137), 10, 20, 33);
    expectGlyph(art_(137), 16, 20, 66);
    // The column between the cells takes the fill colour: light in the normal style.
    EXPECT_EQ(notColoured(image_, CRect(15, 13, 16, 21), CTextPrinter::kLight), 0);
    EXPECT_EQ(notColoured(image_, CRect(21, 13, 22, 21), CTextPrinter::kLight), 0);
    EXPECT_EQ(pixelAt(image_, 22, 20), rgbOf(kBlueCColor));
    EXPECT_EQ(context_->getFillColor(), kBlueCColor);
    EXPECT_EQ(context_->getFrameColor(), kGreenCColor);

    printer.print(context_, CPoint(10, 35), "A", false, true, false);
    expectGlyph(art_(137), 10, 35, 129);
    EXPECT_EQ(notColoured(image_, CRect(15, 28, 16, 36), CTextPrinter::kGrey), 0);
}

TEST_F(TextPrinterTest, VerticalTextAdvancesEightRows) {
    CTextPrinter printer(art_(137), nullptr);
    printer.print(context_, CPoint(4, 10), "xy", true, false, false);
    expectGlyph(art_(137), 4, 10, 'x' - 32);
    expectGlyph(art_(137), 4, 18, 'y' - 32);
}

TEST_F(TextPrinterTest, SecondFontKeepsWhatIsBehindItsTransparentPixels) {
    CBitmap* font = art_("bmp00158.png");
    CTextPrinter printer(art_(137), font);
    printer.print(context_, CPoint(10, 20), "1", false, false, true);
    const int glyph = '1' - 32;
    int transparent = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 5; ++x) {
            const std::uint32_t source = pixelAt(font->getSurface(), x, 8 * glyph + y);
            if ((source >> 24) != 0) continue;
            ++transparent;
            EXPECT_EQ(pixelAt(image_, 10 + x, 13 + y), rgbOf(kBlueCColor));
        }
    }
    EXPECT_GT(transparent, 0);
    // No cell fill in the gap column.
    EXPECT_EQ(notColoured(image_, CRect(15, 13, 16, 21), kBlueCColor), 0);
}

TEST_F(TextPrinterTest, TwoColourPrinterFillsByStyleAndFont) {
    CTextPrinter2Color printer(art_(137), art_(138));
    printer.print(context_, CPoint(2, 10), "1", false, false, true);
    expectGlyph(art_(138), 2, 10, '1' - 32);
    EXPECT_EQ(notColoured(image_, CRect(7, 3, 8, 11), CTextPrinter::kLight), 0);

    printer.print(context_, CPoint(20, 10), "1", false, true, true);
    expectGlyph(art_(138), 20, 10, '1' - 32 + 96);
    EXPECT_EQ(notColoured(image_, CRect(25, 3, 26, 11), CTextPrinter::kRed), 0);

    printer.print(context_, CPoint(40, 10), "1", false, true, false);
    expectGlyph(art_(137), 40, 10, '1' - 32 + 96);
    EXPECT_EQ(notColoured(image_, CRect(45, 3, 46, 11), CTextPrinter::kGrey), 0);
    EXPECT_EQ(context_->getFillColor(), kBlueCColor);
}

// ---------------------------------------------------------------- level meters

constexpr CRect kMeterInRect{147, 38, 207, 408};
constexpr CRect kMeterOutRect{319, 38, 379, 406};
constexpr CCoord kInLeftBar = 150;
constexpr CCoord kInRightBar = 191;

class LevelMeterTest : public ::testing::Test {
  protected:
    CMeterIn* makeIn() {
        Artwork& a = editor_.art;
        return editor_.add(new CMeterIn(kMeterInRect, &editor_.log, a(128), a(155), a(130), a(131),
                                        a(132), a(133), a(154), a(129)));
    }
    CMeterOut* makeOut() {
        Artwork& a = editor_.art;
        return editor_.add(new CMeterOut(kMeterOutRect, &editor_.log, a(128), a(155), a(130),
                                         a(134), a(135), a(136), a(154), a(129)));
    }
    // The peak-mode bar at `left` is `h` pixels high: lit rows from 408 - h, unlit from 48.
    void expectPeakBar(CCoord left, int h) {
        cairo_surface_t* image = editor_.frame()->getImage();
        EXPECT_EQ(mismatches(image, CRect(left, 402 - h, left + 15, 402), editor_.art(130),
                             CPoint(0, 408 - h)),
                  0)
            << "lit part of height " << h;
        EXPECT_EQ(
            mismatches(image, CRect(left, 42, left + 15, 402 - h), editor_.art(155), CPoint(0, 48)),
            0)
            << "unlit part above height " << h;
    }
    // The K-mode bar at `left`: RMS height `h` and hold marker `k` on base row `base`.
    void expectKBar(CCoord left, int h, int k, int base) {
        cairo_surface_t* image = editor_.frame()->getImage();
        CRect lit(left, 402 - h, left + 15, 402);
        CRect marker(left, 402 - k, left + 15, 405 - k);
        CRect unlit(left, 42, left + 15, 402 - h);
        EXPECT_EQ(mismatches(image, lit, editor_.art(154), CPoint(0, base - h)), 0);
        EXPECT_EQ(mismatches(image, marker, editor_.art(154), CPoint(0, base - k)), 0);
        // The unlit part outside the marker.
        unlit.bottom = marker.top;
        EXPECT_EQ(mismatches(image, unlit, editor_.art(129), CPoint(0, base - 360)), 0);
    }

    HeadlessEditorFrame editor_;
};

TEST_F(LevelMeterTest, DecibelsAndBarHeights) {
    EXPECT_FLOAT_EQ(CLevelMeter::levelDb(0.0f), -120.0f);
    EXPECT_FLOAT_EQ(CLevelMeter::levelDb(std::nanf("")), -120.0f);
    EXPECT_NEAR(CLevelMeter::levelDb(0.5f), -6.0206f, 1e-4);
    EXPECT_EQ(CLevelMeter::barHeight(0.0f, 48.0f), 288);
    EXPECT_EQ(CLevelMeter::barHeight(-48.0f, 48.0f), 0);
    EXPECT_EQ(CLevelMeter::barHeight(-120.0f, 48.0f), 0);
    EXPECT_EQ(CLevelMeter::barHeight(12.5f, 48.0f), 360);
    EXPECT_EQ(CLevelMeter::barHeight(std::nanf(""), 48.0f), 0);
}

TEST_F(LevelMeterTest, PeakModeDrawsSixPixelsPerDecibelFromTheHeldPeak) {
    CMeterIn* meter = makeIn();
    meter->setValues(1000, 1.0f, 0.5f, 0.0f, 0.0f);
    editor_.idle();
    expectPeakBar(kInLeftBar, 288);   // 0 dBFS on a +12..-48 scale
    expectPeakBar(kInRightBar, 252);  // -6.02 dB: trunc(6 * 41.98 + 0.5)
    cairo_surface_t* image = editor_.frame()->getImage();
    EXPECT_EQ(mismatches(image, CRect(164 + 1, 38, 191, 405), editor_.art(133), CPoint(1, 0)), 0);
}

TEST_F(LevelMeterTest, SilenceEmptiesThePeakBarAndHidesTheKMarker) {
    CMeterIn* meter = makeIn();
    meter->setValues(1000, 0.0f, 0.0f, 0.0f, 0.0f);
    editor_.idle();
    EXPECT_FLOAT_EQ(meter->getHoldDb(0), -120.0f);
    expectPeakBar(kInLeftBar, 0);
    meter->setMeterMode(kMeterK14);
    editor_.idle();
    cairo_surface_t* image = editor_.frame()->getImage();
    EXPECT_EQ(mismatches(image, CRect(kInLeftBar, 42, kInLeftBar + 15, 402), editor_.art(129),
                         CPoint(0, 60)),
              0);
}

TEST_F(LevelMeterTest, KModesShowRmsWithTheHoldMarkerOnTheModesBaseRow) {
    CMeterOut* meter = makeOut();
    // RMS -14 dBFS and peak -6 dBFS on the left; RMS -20, peak -3 on the right.
    meter->setValues(1000, fromDb(-6), fromDb(-3), fromDb(-14), fromDb(-20));
    meter->setMeterMode(kMeterK14);
    editor_.idle();
    expectKBar(320, 276, 324, 420);
    expectKBar(363, 240, 342, 420);
    cairo_surface_t* image = editor_.frame()->getImage();
    EXPECT_EQ(mismatches(image, CRect(336, 38, 362, 405), editor_.art(135), CPoint(1, 0)), 0);

    meter->setMeterMode(kMeterK20);
    editor_.idle();
    expectKBar(320, 276, 324, 384);
    EXPECT_EQ(mismatches(image, CRect(336, 38, 362, 405), editor_.art(134), CPoint(1, 0)), 0);
    meter->setMeterMode(kMeterK12);
    editor_.idle();
    expectKBar(320, 276, 324, 432);
    EXPECT_EQ(mismatches(image, CRect(336, 38, 362, 405), editor_.art(136), CPoint(1, 0)), 0);
}

TEST_F(LevelMeterTest, HoldStaysFiftyMillisecondsThenFalls866DecibelsPerSecond) {
    CMeterIn* meter = makeIn();
    meter->setValues(1000, 1.0f, 1.0f, 0.0f, 0.0f);
    editor_.idle();
    meter->setValues(1049, 0.0f, 0.0f, 0.0f, 0.0f);
    editor_.idle();
    EXPECT_FLOAT_EQ(meter->getHoldDb(0), 0.0f);
    expectPeakBar(kInLeftBar, 288);
    meter->setValues(1150, 0.0f, 0.0f, 0.0f, 0.0f);
    editor_.idle();
    // 50 ms held, then 100 ms of fall.
    EXPECT_NEAR(meter->getHoldDb(0), -0.866f, 1e-4);
    expectPeakBar(kInLeftBar, 283);  // trunc(6 * (48 - 0.866) + 0.5)
    meter->setValues(2150, 0.0f, 0.0f, 0.0f, 0.0f);
    editor_.idle();
    EXPECT_NEAR(meter->getHoldDb(0), -0.866f - 8.66f, 1e-3);
    expectPeakBar(kInLeftBar, 231);  // trunc(6 * (48 - 9.526) + 0.5)

    // A higher peak takes over at once and is held again.
    meter->setValues(2160, 0.5f, 0.5f, 0.0f, 0.0f);
    editor_.idle();
    EXPECT_NEAR(meter->getHoldDb(0), -6.0206f, 1e-4);
    meter->setValues(2200, 0.0f, 0.0f, 0.0f, 0.0f);
    editor_.idle();
    EXPECT_NEAR(meter->getHoldDb(0), -6.0206f, 1e-4);
}

TEST_F(LevelMeterTest, PeaksAreLimitedToPlus20BeforeTheyFall) {
    CMeterIn* meter = makeIn();
    meter->setMeterMode(kMeterPeak);
    meter->setValues(5000, fromDb(25), fromDb(25), 0.0f, 0.0f);
    editor_.idle();
    EXPECT_FLOAT_EQ(meter->getHoldDb(0), 20.0f);
    expectPeakBar(kInLeftBar, 360);
    meter->setValues(6050, 0.0f, 0.0f, 0.0f, 0.0f);
    editor_.idle();
    // From +20, not +25: 11.34 dB shows 356 pixels (16.34 would fill the bar).
    EXPECT_NEAR(meter->getHoldDb(0), 11.34f, 1e-3);
    expectPeakBar(kInLeftBar, 356);
}

TEST_F(LevelMeterTest, ResetAndInitialValues) {
    CMeterIn* in = makeIn();
    CMeterOut* out = makeOut();
    editor_.idle();
    EXPECT_FLOAT_EQ(in->getHoldDb(1), -122.0f);
    EXPECT_FLOAT_EQ(out->getHoldDb(1), -121.0f);
    in->setValues(100, 1.0f, 1.0f, 1.0f, 1.0f);
    editor_.idle();
    in->reset();
    EXPECT_TRUE(in->isDirty());
    editor_.idle();
    EXPECT_FLOAT_EQ(in->getHoldDb(0), -122.0f);
    expectPeakBar(kInLeftBar, 0);
}

TEST_F(LevelMeterTest, FirstUpdateAfterALongUptimeHoldsNormally) {
    // A tick past 2^31 ms must not stall the hold counter.
    CMeterIn* meter = makeIn();
    meter->setValues(0x90000000u, 1.0f, 1.0f, 0.0f, 0.0f);
    editor_.idle();
    meter->setValues(0x90000000u + 1050, 0.0f, 0.0f, 0.0f, 0.0f);
    editor_.idle();
    EXPECT_NEAR(meter->getHoldDb(0), -8.66f, 1e-3);
}

TEST_F(LevelMeterTest, LeftPressAsksTheEditorToReset) {
    CMeterIn* meter = makeIn();
    CPoint where(160, 200);
    EXPECT_EQ(meter->onMouseDown(where, kLButton),
              kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    EXPECT_EQ(editor_.log.events, events({"changed 27"}));
    EXPECT_EQ(meter->onMouseDown(where, kRButton), kMouseEventNotHandled);
    EXPECT_EQ(editor_.log.events.size(), 1u);
}

// ---------------------------------------------------------------- attenuation meter

constexpr CRect kMeterGrRect{233, 39, 291, 192};

class AttenuationMeterTest : public ::testing::Test {
  protected:
    CMeterGR* make() {
        return editor_.add(
            new CMeterGR(kMeterGrRect, &editor_.log, editor_.art(167), editor_.art(156)));
    }
    // Bars of `n` rows hang from row 42 and the scale shows everywhere else.
    void expectBars(int n, bool zoom) {
        cairo_surface_t* image = editor_.frame()->getImage();
        const CCoord scaleRow = zoom ? 153 : 0;
        for (CCoord left : {234, 275}) {
            EXPECT_EQ(mismatches(image, CRect(left, 42, left + 15, 42 + n), editor_.art(156),
                                 CPoint(0, 0)),
                      0)
                << "bar at " << left;
            EXPECT_EQ(mismatches(image, CRect(left, 42 + n, left + 15, 192), editor_.art(167),
                                 CPoint(left - 233, scaleRow + 3 + n)),
                      0)
                << "scale under the bar at " << left;
        }
        EXPECT_EQ(mismatches(image, CRect(233, 39, 291, 42), editor_.art(167), CPoint(0, scaleRow)),
                  0);
    }
    HeadlessEditorFrame editor_;
};

TEST_F(AttenuationMeterTest, BarLengths) {
    EXPECT_EQ(CMeterGR::barLength(-6.0f, true), 73);
    EXPECT_EQ(CMeterGR::barLength(-6.0f, false), 37);
    EXPECT_EQ(CMeterGR::barLength(-0.05f, true), 0);
    EXPECT_EQ(CMeterGR::barLength(-30.0f, true), 145);
    EXPECT_EQ(CMeterGR::barLength(std::nanf(""), true), 0);
}

TEST_F(AttenuationMeterTest, SixDecibelsDraws73RowsZoomedAnd37Unzoomed) {
    CMeterGR* meter = make();
    meter->setZoom(true);
    meter->setValues(1000, fromDb(-6), fromDb(-6));
    editor_.idle();
    expectBars(73, true);
    meter->setZoom(false);
    editor_.idle();
    expectBars(37, false);
}

TEST_F(AttenuationMeterTest, NoBarAboveMinusPointOneDecibel) {
    CMeterGR* meter = make();
    meter->setZoom(true);
    meter->setValues(1000, fromDb(-0.05), 1.0f);
    editor_.idle();
    expectBars(0, true);
}

TEST_F(AttenuationMeterTest, HeldAttenuationReturnsAtThirtyDecibelsPerSecond) {
    CMeterGR* meter = make();
    meter->setValues(1000, fromDb(-12), fromDb(-12));
    editor_.idle();
    meter->setValues(1040, 1.0f, 1.0f);
    editor_.idle();
    EXPECT_NEAR(meter->getHoldDb(0), -12.0f, 1e-4);
    meter->setValues(1150, 1.0f, 1.0f);
    editor_.idle();
    // The counter ran out 10 ms into this stretch: 100 ms of return.
    EXPECT_NEAR(meter->getHoldDb(0), -9.0f, 1e-4);
    expectBars(55, false);
    meter->setValues(2000, 0.0f, std::nanf(""));
    editor_.idle();
    EXPECT_FLOAT_EQ(meter->getHoldDb(0), -30.0f);  // silence is the floor, not -inf
    EXPECT_FLOAT_EQ(meter->getHoldDb(1), 0.0f);    // an unknown gain shows nothing
    meter->reset();
    editor_.idle();
    expectBars(0, false);
}

// ---------------------------------------------------------------- readouts

constexpr CRect kLcdRect{131, 415, 224, 426};  // L 131, B 426
constexpr CCoord kL = 131;
constexpr CCoord kB = 426;

class ReadoutTest : public ::testing::Test {
  protected:
    CMeterLCD* makeLcd() {
        return editor_.add(new CMeterLCD(kLcdRect, &editor_.log, editor_.art(128), editor_.art(137),
                                         editor_.art(138)));
    }
    // `text` printed with `font` from x, on the readouts' baseline.
    void expectText(CBitmap* font, CCoord x, const char* text, bool highlight) {
        cairo_surface_t* image = editor_.frame()->getImage();
        for (const char* c = text; *c != 0; ++c, x += 6) {
            const int glyph = CTextPrinter::glyphFor(*c, highlight);
            EXPECT_EQ(
                mismatches(image, CRect(x, kB - 9, x + 5, kB - 1), font, CPoint(0, 8 * glyph)), 0)
                << "'" << *c << "' of " << text;
        }
    }
    HeadlessEditorFrame editor_;
};

TEST_F(ReadoutTest, ValueTexts) {
    EXPECT_EQ(CMeterLCD::valueText(-120.0f), "-oo");
    EXPECT_EQ(CMeterLCD::valueText(-100.0f), "-oo");
    EXPECT_EQ(CMeterLCD::valueText(-99.94f), "-99.9");
    EXPECT_EQ(CMeterLCD::valueText(14.2f), "+14.2");
    EXPECT_EQ(CMeterLCD::valueText(0.0f), "+0.0");
    EXPECT_EQ(CMeterLCDGR::valueText(-6.02f), "-6.0");
    EXPECT_EQ(CMeterLCDGR::valueText(0.0f), "0.0");
    EXPECT_EQ(CMeterLCDGR::valueText(-200.0f), "-200.0");
    EXPECT_EQ(CMeterLCDGR::valueText(-std::numeric_limits<float>::infinity()), "-inf");
    // A huge value stays a bounded string.
    EXPECT_EQ(CMeterLCD::valueText(3.0e38f).size(), 42u);
}

TEST_F(ReadoutTest, SilenceShowsMinusInfinityInPeakMode) {
    CMeterLCD* lcd = makeLcd();
    lcd->setValues(0.0f, 0.0f);
    editor_.idle();
    expectText(editor_.art(137), kL + 17 - 9, "-oo", true);
    expectText(editor_.art(137), kL + 77 - 9, "-oo", true);
    expectText(editor_.art(137), kL + 35, "dBFS", false);
    cairo_surface_t* image = editor_.frame()->getImage();
    EXPECT_EQ(notColoured(image, CRect(kL + 1, kB - 10, kL + 8, kB - 1), CTextPrinter::kGrey), 0);
    // Around the boxes the background shows.
    EXPECT_EQ(
        mismatches(image, CRect(kL, 415, kL + 93, kB - 10), editor_.art(128), CPoint(kL, 415)), 0);
}

TEST_F(ReadoutTest, BoxColourFollowsTheDbfsValueNotTheDisplayedOne) {
    CMeterLCD* lcd = makeLcd();
    lcd->setMeterMode(kMeterK14);
    lcd->setValues(1.0f, fromDb(0.2));
    editor_.idle();
    cairo_surface_t* image = editor_.frame()->getImage();
    // Left: 0 dBFS shows +14.0 on grey; right: +0.2 dBFS shows +14.2 on red.
    expectText(editor_.art(137), kL + 17 - 15, "+14.0", true);
    expectText(editor_.art(138), kL + 77 - 15, "+14.2", true);
    EXPECT_EQ(notColoured(image, CRect(kL + 1, kB - 10, kL + 2, kB - 1), CTextPrinter::kGrey), 0);
    EXPECT_EQ(notColoured(image, CRect(kL + 61, kB - 10, kL + 62, kB - 1), CTextPrinter::kRed), 0);
    EXPECT_EQ(notColoured(image, CRect(kL + 61, kB - 10, kL + 92, kB - 9), CTextPrinter::kRed), 0);
    // K modes: "dBr" after four blank cells.
    expectText(editor_.art(137), kL + 38, "dBr", false);
    EXPECT_EQ(notColoured(image, CRect(kL + 35, kB - 9, kL + 38, kB - 1), CTextPrinter::kLight), 0);
}

TEST_F(ReadoutTest, PeakAbove20IsShownUnlimited) {
    CMeterLCD* lcd = makeLcd();
    lcd->setValues(fromDb(25), fromDb(-3));
    lcd->setValues(fromDb(-10), std::nanf(""));  // lower values and NaN keep the maxima
    editor_.idle();
    EXPECT_NEAR(lcd->getMaximumDb(0), 25.0f, 1e-4);
    EXPECT_NEAR(lcd->getMaximumDb(1), -3.0f, 1e-4);
    expectText(editor_.art(138), kL + 17 - 15, "+25.0", true);
    expectText(editor_.art(137), kL + 77 - 12, "-3.0", true);
}

TEST_F(ReadoutTest, PressNotifiesAndResetsTheMaxima) {
    CMeterLCD* lcd = makeLcd();
    lcd->setValues(1.0f, 1.0f);
    CPoint where(140, 420);
    EXPECT_EQ(lcd->onMouseDown(where, kLButton), kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    EXPECT_EQ(editor_.log.events, events({"changed 27"}));
    EXPECT_FLOAT_EQ(lcd->getMaximumDb(0), -120.0f);

    auto* gr = editor_.add(new CMeterLCDGR(CRect(217, 199, 310, 210), &editor_.log,
                                           editor_.art(128), editor_.art(137)));
    gr->setValues(0.5f, 0.25f);
    EXPECT_EQ(gr->onMouseDown(where, kLButton), kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    EXPECT_FLOAT_EQ(gr->getMinimumDb(0), 0.0f);
}

TEST_F(ReadoutTest, AttenuationReadoutKeepsTheDeepestValue) {
    auto* gr = editor_.add(new CMeterLCDGR(CRect(217, 199, 310, 210), &editor_.log,
                                           editor_.art(128), editor_.art(137)));
    gr->setValues(fromDb(-6.02), fromDb(-1));
    gr->setValues(fromDb(-3), 1.0f);
    editor_.idle();
    cairo_surface_t* image = editor_.frame()->getImage();
    const CCoord l = 217;
    const CCoord b = 210;
    CBitmap* font = editor_.art(137);
    const char* left = "-6.0";
    for (int i = 0; i < 4; ++i) {
        const CCoord x = l + 17 - 12 + 6 * i;
        EXPECT_EQ(mismatches(image, CRect(x, b - 9, x + 5, b - 1), font,
                             CPoint(0, 8 * CTextPrinter::glyphFor(left[i], true))),
                  0);
    }
    for (int i = 0; i < 2; ++i) {
        const CCoord x = l + 41 + 6 * i;
        EXPECT_EQ(mismatches(image, CRect(x, b - 9, x + 5, b - 1), font,
                             CPoint(0, 8 * CTextPrinter::glyphFor("dB"[i], false))),
                  0);
    }
    EXPECT_EQ(notColoured(image, CRect(l + 61, b - 10, l + 92, b - 9), CTextPrinter::kGrey), 0);
}

}  // namespace

// New values repaint only the bar columns; the scale between them is left alone
// until the mode changes. What is painted stays the same as a whole repaint.
TEST_F(LevelMeterTest, NewValuesDamageOnlyTheBarColumns) {
    CMeterIn* meter = makeIn();
    meter->setValues(980, 0.1f, 0.1f, 0.0f, 0.0f);  // the first paint is whole
    editor_.idle();
    meter->setValues(1000, 1.0f, 0.5f, 0.0f, 0.0f);
    editor_.frame()->invalidateDirtyViews();
    const std::vector<CRect> bars = editor_.frame()->getDamageRegion().rectangles();
    ASSERT_EQ(bars.size(), 2u);
    for (const CRect& r : bars) {
        EXPECT_TRUE(r.left == kInLeftBar || r.left == kInRightBar) << r.left;
        EXPECT_EQ(r.width(), 15);
        EXPECT_EQ(r.top, 42);
        EXPECT_EQ(r.bottom, 402);
    }
    editor_.idle();
    expectPeakBar(kInLeftBar, 288);
    expectPeakBar(kInRightBar, 252);

    meter->setMeterMode(kMeterK20);
    editor_.frame()->invalidateDirtyViews();
    EXPECT_EQ(editor_.frame()->getDamage(), kMeterInRect);
    editor_.idle();
    EXPECT_EQ(mismatches(editor_.frame()->getImage(), CRect(165, 38, 191, 405), editor_.art(131),
                         CPoint(1, 0)),
              0);
}

// The readouts repaint only when the value they hold changes (the meters send
// values every 20 ms; a readout's maximum moves far less often).
TEST_F(ReadoutTest, RepaintsOnlyWhenTheHeldValueMoves) {
    CMeterLCD* lcd = makeLcd();
    lcd->setValues(0.5f, 0.5f);
    editor_.idle();
    EXPECT_FALSE(lcd->isDirty());
    lcd->setValues(0.25f, 0.5f);  // below the maxima: the same picture
    EXPECT_FALSE(lcd->isDirty());
    lcd->setValues(0.25f, 0.6f);
    EXPECT_TRUE(lcd->isDirty());
    editor_.idle();
    lcd->reset();
    EXPECT_TRUE(lcd->isDirty());

    auto* gr = editor_.add(new CMeterLCDGR(CRect(217, 199, 310, 210), &editor_.log,
                                           editor_.art(128), editor_.art(137)));
    gr->setValues(0.5f, 0.5f);
    editor_.idle();
    gr->setValues(0.7f, 1.0f);  // less attenuation than held: the same picture
    EXPECT_FALSE(gr->isDirty());
    gr->setValues(0.4f, 1.0f);
    EXPECT_TRUE(gr->isDirty());
}
