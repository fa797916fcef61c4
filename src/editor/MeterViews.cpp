#include "editor/MeterViews.h"

#include <algorithm>
#include <cmath>

#include "editor/MillisecondTick.h"
#include "editor/NumberText.h"

using namespace VSTGUI;

namespace {

constexpr std::int32_t kMeterTag = 27;

// Rows shared by both level meters: the bar area and the scale.
constexpr CCoord kBarTop = 42;
constexpr CCoord kBarBottom = 402;
constexpr int kBarRows = kBarBottom - kBarTop;  // 360: 6 pixels per dB over 60 dB
constexpr CCoord kBarWidth = 15;
constexpr CCoord kScaleTop = 38;
constexpr CCoord kScaleBottom = 405;
constexpr CCoord kScaleWidth = 27;
constexpr CCoord kMarkerRows = 3;
// Source row of the lit peak bar at the bottom of the bar area, and of the
// unlit one at its top.
constexpr CCoord kPeakLitBase = 408;
constexpr CCoord kPeakUnlitTop = 48;

// Attenuation meter: bars hang from row 42 at these columns.
constexpr CCoord kGrBarTop = 42;
constexpr CCoord kGrLeftBar = 234;
constexpr CCoord kGrRightBar = 275;
constexpr CCoord kGrBarWidth = 15;
constexpr CCoord kGrScaleRows = 153;
constexpr int kGrMaxBar = 145;

constexpr CMouseEventResult kPressTaken = kMouseDownEventHandledButDontNeedMovedOrUpEvents;

// trunc(x) limited to lo..hi; NaN gives lo (the conversion of NaN to an integer is undefined).
int truncLimited(double x, int lo, int hi) {
    if (!(x > lo)) return lo;
    if (x >= hi) return hi;
    return static_cast<int>(x);
}

void drawIfLoaded(CBitmap* bitmap, CDrawContext* context, const CRect& destination,
                  const CPoint& source) {
    if (bitmap != nullptr) bitmap->draw(context, destination, source);
}

// The off-screen image of a control, made on its first draw (and again if the
// control was resized), addressed in frame coordinates.
COffscreenContext* offscreenFor(SharedPointer<COffscreenContext>& holder, CFrame* frame,
                                const CRect& size) {
    if (!holder || holder->getWidth() != size.width() || holder->getHeight() != size.height())
        holder = SharedPointer<COffscreenContext>(
            new COffscreenContext(frame, size.width(), size.height()), false);
    holder->setOffset(CPoint(-size.left, -size.top));
    return holder.get();
}

// Milliseconds from `since` to `now`; a tick that went backwards counts as none.
std::int32_t elapsedMs(std::uint32_t since, std::uint32_t now) {
    return std::max<std::int32_t>(0, tq::ticksBetween(since, now));
}

// 20 log10 of a linear value without a floor: -inf for 0, NaN for NaN.
float decibels(float linear) { return static_cast<float>(20.0 * std::log10(linear)); }

// The level readout's value text: "-oo" for -100 dB and below.
std::string levelReadoutText(float db) {
    if (db <= -100.0f) return "-oo";
    return tq::fixedText(db, 1, true);
}

}  // namespace

// ---------------------------------------------------------------- CLevelMeter

CLevelMeter::CLevelMeter(const CRect& size, CControlListener* listener, const Layout& layout,
                         CBitmap* background, CBitmap* unlitPeak, CBitmap* litPeak,
                         CBitmap* scaleK20, CBitmap* scaleK14, CBitmap* scalePeakK12, CBitmap* litK,
                         CBitmap* unlitK)
    : CControl(size, listener, kMeterTag, background), layout_(layout) {
    unlitPeak_.reset(unlitPeak);
    litPeak_.reset(litPeak);
    scaleK20_.reset(scaleK20);
    scaleK14_.reset(scaleK14);
    scalePeakK12_.reset(scalePeakK12);
    litK_.reset(litK);
    unlitK_.reset(unlitK);
    for (Channel& channel : channels_)
        channel = Channel{layout.initialDb, layout.initialDb, layout.initialDb, kHoldMs};
}

float CLevelMeter::levelDb(float linear) {
    // Written so that NaN takes the floor too.
    const float floored = linear > 0.000001f ? linear : 0.000001f;
    return decibels(floored);
}

int CLevelMeter::barHeight(float db, float offset) {
    return truncLimited(6.0 * (static_cast<double>(db) + offset) + 0.5, 0, kBarRows);
}

void CLevelMeter::setValues(std::uint32_t tick, float peakL, float peakR, float rmsL, float rmsR) {
    if (!timed_) {
        // The first update starts the clock: no fall is owed for the time before it.
        previousDrawTime_ = tick;
        timed_ = true;
    }
    currentTime_ = tick;
    channels_[0].peak = std::min(levelDb(peakL), 20.0f);
    channels_[1].peak = std::min(levelDb(peakR), 20.0f);
    channels_[0].rms = levelDb(rmsL);
    channels_[1].rms = levelDb(rmsR);
    setDirty(true);
}

void CLevelMeter::setMeterMode(int mode) {
    mode_ = std::clamp(mode, static_cast<int>(kMeterPeak), static_cast<int>(kMeterK20));
    wholeRedrawPending_ = true;
    setDirty(true);
}

void CLevelMeter::reset() {
    for (Channel& channel : channels_) channel.peak = channel.rms = channel.hold = kResetDb;
    wholeRedrawPending_ = true;
    setDirty(true);
}

void CLevelMeter::invalid() {
    if (wholeRedrawPending_) {
        wholeRedrawPending_ = false;
        CControl::invalid();
        return;
    }
    setDirty(false);
    invalidRect(CRect(layout_.leftBar, kBarTop, layout_.leftBar + kBarWidth, kBarBottom));
    invalidRect(CRect(layout_.rightBar, kBarTop, layout_.rightBar + kBarWidth, kBarBottom));
}

void CLevelMeter::holdAndFall() {
    const std::int32_t elapsed = elapsedMs(previousDrawTime_, currentTime_);
    previousDrawTime_ = currentTime_;
    for (Channel& channel : channels_) {
        std::int64_t counter = static_cast<std::int64_t>(channel.counter) - elapsed;
        if (counter < 1) {
            // counter is the (non-positive) time the hold has been falling since the last draw.
            channel.hold += static_cast<float>(static_cast<double>(counter) * kFallDbPerMs);
            counter = 0;
        }
        channel.counter = static_cast<std::int32_t>(counter);
        if (layout_.floorsHold && channel.hold < kResetDb) channel.hold = kResetDb;
        if (channel.hold < channel.peak) {
            channel.hold = channel.peak;
            channel.counter = kHoldMs;
        }
    }
}

CBitmap* CLevelMeter::scaleForMode() const {
    if (mode_ == kMeterK20) return scaleK20_.get();
    if (mode_ == kMeterK14) return scaleK14_.get();
    return scalePeakK12_.get();
}

void CLevelMeter::drawPeakBar(CDrawContext* context, CCoord left, const Channel& channel) {
    // Top of the bar +12 dBFS, bottom -48 dBFS.
    const int h = barHeight(channel.hold, 48.0f);
    drawIfLoaded(litPeak_.get(), context, CRect(left, kBarBottom - h, left + kBarWidth, kBarBottom),
                 CPoint(0, kPeakLitBase - h));
    drawIfLoaded(unlitPeak_.get(), context, CRect(left, kBarTop, left + kBarWidth, kBarBottom - h),
                 CPoint(0, kPeakUnlitTop));
}

void CLevelMeter::drawKBar(CDrawContext* context, CCoord left, const Channel& channel) {
    // The base row puts the same colour zone of the bar bitmaps on the K
    // reference level in every K mode. Top of the bar 0 dBFS, bottom -60.
    const CCoord base = mode_ == kMeterK12 ? 432 : mode_ == kMeterK14 ? 420 : 384;
    const int h = barHeight(channel.rms, 60.0f);
    drawIfLoaded(litK_.get(), context, CRect(left, kBarBottom - h, left + kBarWidth, kBarBottom),
                 CPoint(0, base - h));
    drawIfLoaded(unlitK_.get(), context, CRect(left, kBarTop, left + kBarWidth, kBarBottom - h),
                 CPoint(0, base - kBarRows));
    const int k = barHeight(channel.hold, 60.0f);
    if (k > 2) {
        drawIfLoaded(litK_.get(), context,
                     CRect(left, kBarBottom - k, left + kBarWidth, kBarBottom - k + kMarkerRows),
                     CPoint(0, base - k));
    }
}

void CLevelMeter::draw(CDrawContext* context) {
    holdAndFall();
    drawIfLoaded(scaleForMode(), context,
                 CRect(layout_.scaleLeft, kScaleTop, layout_.scaleLeft + kScaleWidth, kScaleBottom),
                 CPoint(0, 0));
    const CCoord bars[2] = {layout_.leftBar, layout_.rightBar};
    for (int i = 0; i < 2; ++i) {
        if (mode_ == kMeterPeak) {
            drawPeakBar(context, bars[i], channels_[i]);
        } else {
            drawKBar(context, bars[i], channels_[i]);
        }
    }
    setDirty(false);
}

CMouseEventResult CLevelMeter::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    notifyListener();
    invalid();
    return kPressTaken;
}

CMeterIn::CMeterIn(const CRect& size, CControlListener* listener, CBitmap* background,
                   CBitmap* unlitPeak, CBitmap* litPeak, CBitmap* scaleK20, CBitmap* scaleK14,
                   CBitmap* scalePeakK12, CBitmap* litK, CBitmap* unlitK)
    : CLevelMeter(size, listener, Layout{150, 191, 164, kResetDb, true}, background, unlitPeak,
                  litPeak, scaleK20, scaleK14, scalePeakK12, litK, unlitK) {}

CMeterOut::CMeterOut(const CRect& size, CControlListener* listener, CBitmap* background,
                     CBitmap* unlitPeak, CBitmap* litPeak, CBitmap* scaleK20, CBitmap* scaleK14,
                     CBitmap* scalePeakK12, CBitmap* litK, CBitmap* unlitK)
    : CLevelMeter(size, listener, Layout{320, 363, 335, -121.0f, false}, background, unlitPeak,
                  litPeak, scaleK20, scaleK14, scalePeakK12, litK, unlitK) {}

// ---------------------------------------------------------------- CMeterGR

CMeterGR::CMeterGR(const CRect& size, CControlListener* listener, CBitmap* scale, CBitmap* bar)
    : CControl(size, listener, kMeterTag) {
    scale_.reset(scale);
    bar_.reset(bar);
}

void CMeterGR::setValues(std::uint32_t tick, float gainL, float gainR) {
    if (!timed_) {
        previousDrawTime_ = tick;
        timed_ = true;
    }
    currentTime_ = tick;
    const float gains[2] = {gainL, gainR};
    for (int i = 0; i < 2; ++i) {
        const float db = decibels(gains[i]);
        // An unknown (NaN) gain shows no attenuation rather than the full bar.
        channels_[i].attenuation = std::isnan(db) ? 0.0f : std::max(db, kFloorDb);
    }
    setDirty(true);
}

void CMeterGR::setZoom(bool zoom) {
    zoom_ = zoom;
    wholeRedrawPending_ = true;
    setDirty(true);
}

void CMeterGR::reset() {
    for (Channel& channel : channels_) channel.attenuation = channel.hold = 0.0f;
    wholeRedrawPending_ = true;
    setDirty(true);
}

void CMeterGR::invalid() {
    if (wholeRedrawPending_) {
        wholeRedrawPending_ = false;
        CControl::invalid();
        return;
    }
    setDirty(false);
    const CCoord bottom = kGrBarTop + kGrMaxBar;
    invalidRect(CRect(kGrLeftBar, kGrBarTop, kGrLeftBar + kGrBarWidth, bottom));
    invalidRect(CRect(kGrRightBar, kGrBarTop, kGrRightBar + kGrBarWidth, bottom));
}

void CMeterGR::holdAndRise() {
    const std::int32_t elapsed = elapsedMs(previousDrawTime_, currentTime_);
    previousDrawTime_ = currentTime_;
    for (Channel& channel : channels_) {
        std::int64_t counter = static_cast<std::int64_t>(channel.counter) - elapsed;
        if (counter < 1) {
            // Returns toward 0 dB at 30 dB per second.
            channel.hold -= static_cast<float>(static_cast<double>(counter) * 30.0 / 1000.0);
            counter = 0;
        }
        channel.counter = static_cast<std::int32_t>(counter);
        if (channel.hold > channel.attenuation) {
            channel.hold = channel.attenuation;
            channel.counter = 50;
        }
    }
}

int CMeterGR::barLength(float db, bool zoom) {
    if (db > -0.1f) return 0;
    const double pixelsPerDb = zoom ? 12.0 : 6.0;
    return truncLimited(1.0 - std::trunc(pixelsPerDb * db - 0.5), 0, kGrMaxBar);
}

void CMeterGR::draw(CDrawContext* context) {
    holdAndRise();
    COffscreenContext* offscreen = offscreenFor(offscreen_, frame_, size_);
    drawIfLoaded(scale_.get(), offscreen, size_, CPoint(0, zoom_ ? kGrScaleRows : 0));
    const CCoord bars[2] = {kGrLeftBar, kGrRightBar};
    for (int i = 0; i < 2; ++i) {
        const int n = barLength(channels_[i].hold, zoom_);
        drawIfLoaded(bar_.get(), offscreen,
                     CRect(bars[i], kGrBarTop, bars[i] + kGrBarWidth, kGrBarTop + n), CPoint(0, 0));
    }
    offscreen->copyTo(context, size_, CPoint(0, 0));
    setDirty(false);
}

CMouseEventResult CMeterGR::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    notifyListener();
    invalid();
    return kPressTaken;
}

// ---------------------------------------------------------------- readout layout

namespace {

// Both readouts are 93 x 11 pixels: a value box at each end, the unit between.
struct ReadoutLayout {
    CCoord left;
    CCoord bottom;
    CCoord baseline() const { return bottom - 2; }
    CRect box(int channel) const {
        const CCoord boxLeft = left + (channel == 0 ? 1 : 61);
        return CRect(boxLeft, bottom - 10, boxLeft + 31, bottom - 1);
    }
    // Left x of `text` centred on the box of `channel`.
    CCoord textLeft(int channel, const std::string& text) const {
        return left + (channel == 0 ? 17 : 77) - 3 * static_cast<CCoord>(text.size());
    }
};

}  // namespace

// ---------------------------------------------------------------- CMeterLCD

CMeterLCD::CMeterLCD(const CRect& size, CControlListener* listener, CBitmap* background,
                     CBitmap* font, CBitmap* overFont)
    : CControl(size, listener, kMeterTag, background), printer_(font, overFont) {}

float CMeterLCD::offsetDb(int mode) {
    switch (mode) {
        case kMeterK12:
            return 12.0f;
        case kMeterK14:
            return 14.0f;
        case kMeterK20:
            return 20.0f;
        default:
            return 0.0f;
    }
}

std::string CMeterLCD::valueText(float db) { return levelReadoutText(db); }

void CMeterLCD::setValues(float peakL, float peakR) {
    const float peaks[2] = {peakL, peakR};
    bool raised = false;
    for (int i = 0; i < 2; ++i) {
        const float db = decibels(peaks[i]);
        if (db > maximum_[i]) {  // NaN never raises the maximum
            maximum_[i] = db;
            raised = true;
        }
    }
    // The readout shows the maxima only: unchanged, it would paint the same pixels.
    if (raised) setDirty(true);
}

void CMeterLCD::setMeterMode(int mode) {
    mode_ = std::clamp(mode, static_cast<int>(kMeterPeak), static_cast<int>(kMeterK20));
    setDirty(true);
}

void CMeterLCD::reset() {
    maximum_ = {kResetDb, kResetDb};
    setDirty(true);
}

void CMeterLCD::draw(CDrawContext* context) {
    COffscreenContext* offscreen = offscreenFor(offscreen_, frame_, size_);
    drawIfLoaded(background_.get(), offscreen, size_, CPoint(size_.left, size_.top));
    offscreen->setFillColor(CTextPrinter::kGrey);
    const ReadoutLayout layout{size_.left, size_.bottom};
    const CCoord baseline = layout.baseline();
    if (mode_ == kMeterPeak) {
        printer_.print(offscreen, CPoint(layout.left + 35, baseline), "dBFS", false, false, false);
    } else {
        printer_.print(offscreen, CPoint(layout.left + 35, baseline), "    ", false, false, false);
        printer_.print(offscreen, CPoint(layout.left + 38, baseline), "dBr", false, false, false);
    }
    for (int i = 0; i < 2; ++i) {
        const std::string text = valueText(maximum_[i] + offsetDb(mode_));
        // The box colour follows the dBFS value, not the displayed one.
        const bool over = maximum_[i] > 0.0f;
        if (over) offscreen->setFillColor(CTextPrinter::kRed);
        offscreen->drawRect(layout.box(i), kDrawFilled);
        offscreen->setFillColor(CTextPrinter::kGrey);
        printer_.print(offscreen, CPoint(layout.textLeft(i, text), baseline), text.c_str(), false,
                       true, over);
    }
    offscreen->copyTo(context, size_, CPoint(0, 0));
    setDirty(false);
}

CMouseEventResult CMeterLCD::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    notifyListener();
    invalid();
    reset();
    return kPressTaken;
}

// ---------------------------------------------------------------- CMeterLCDGR

CMeterLCDGR::CMeterLCDGR(const CRect& size, CControlListener* listener, CBitmap* background,
                         CBitmap* font)
    : CControl(size, listener, kMeterTag, background), printer_(font, nullptr) {}

// Unlike the level readout, the attenuation readout has no "-oo": "%2.1f" as it is.
std::string CMeterLCDGR::valueText(float db) { return tq::fixedText(db, 1, false); }

void CMeterLCDGR::setValues(float gainL, float gainR) {
    const float gains[2] = {gainL, gainR};
    bool lowered = false;
    for (int i = 0; i < 2; ++i) {
        const float db = decibels(gains[i]);
        if (db < minimum_[i]) {  // NaN never lowers the minimum
            minimum_[i] = db;
            lowered = true;
        }
    }
    // The readout shows the minima only: unchanged, it would paint the same pixels.
    if (lowered) setDirty(true);
}

void CMeterLCDGR::reset() {
    minimum_ = {0.0f, 0.0f};
    setDirty(true);
}

void CMeterLCDGR::draw(CDrawContext* context) {
    COffscreenContext* offscreen = offscreenFor(offscreen_, frame_, size_);
    drawIfLoaded(background_.get(), offscreen, size_, CPoint(size_.left, size_.top));
    offscreen->setFillColor(CTextPrinter::kGrey);
    const ReadoutLayout layout{size_.left, size_.bottom};
    const CCoord baseline = layout.baseline();
    printer_.print(offscreen, CPoint(layout.left + 41, baseline), "dB", false, false, false);
    for (int i = 0; i < 2; ++i) {
        const std::string text = valueText(minimum_[i]);
        offscreen->drawRect(layout.box(i), kDrawFilled);
        printer_.print(offscreen, CPoint(layout.textLeft(i, text), baseline), text.c_str(), false,
                       true, false);
    }
    offscreen->copyTo(context, size_, CPoint(0, 0));
    setDirty(false);
}

CMouseEventResult CMeterLCDGR::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    notifyListener();
    invalid();
    reset();
    return kPressTaken;
}
