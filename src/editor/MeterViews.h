// The editor's meters and readouts: the two level meters, the attenuation
// meter and the three numeric readouts under them. They take linear values
// from the editor's idle, keep their own hold and fall, and draw from bitmaps
// at the absolute frame positions the editor places them at.
//
// All six have tag 27 and the editor as listener: a left press notifies it
// (the editor resets every meter). Hold and fall run on the tick handed to
// setValues, never on the clock, so a meter draws the same pixels for the
// same sequence of values. [frame thread]
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "editor/TextPrinter.h"
#include "gui/CControl.h"

// Mode of the level meters and readouts: 0 peak, 1 K-12, 2 K-14, 3 K-20.
enum MeterMode : int { kMeterPeak = 0, kMeterK12 = 1, kMeterK14 = 2, kMeterK20 = 3 };

// Stereo bar graph with a scale between the bars. Peak mode shows the held
// peak on a +12..-48 dBFS scale; the K modes show the RMS level on a 0..-60 dB
// bar with the held peak as a 3-pixel marker.
class CLevelMeter : public VSTGUI::CControl {
  public:
    static constexpr float kResetDb = -122.0f;
    static constexpr std::int32_t kHoldMs = 50;
    static constexpr float kFallDbPerMs = 8.66f / 1000.0f;

    // Linear magnitudes; `tick` is the millisecond tick of this update.
    void setValues(std::uint32_t tick, float peakL, float peakR, float rmsL, float rmsR);
    void setMeterMode(int mode);
    int getMeterMode() const { return mode_; }
    // Peak, RMS and hold of both channels to -122 dB.
    void reset();

    // What the bar of `channel` (0 left, 1 right) shows, in dB, as of the last draw.
    float getHoldDb(int channel) const { return channels_[channelIndex(channel)].hold; }

    // New values repaint only the two bar columns (the scale between them does
    // not change); a new mode, a reset or the first draw repaint it all.
    void invalid() override;
    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

    // Bar height in pixels (6 per dB) of `db` on a bar whose bottom is -offset dB.
    static int barHeight(float db, float offset);
    // Level of a linear magnitude, floored at -120 dB.
    static float levelDb(float linear);

  protected:
    // Frame columns of the two bars and the scale; the rows are shared.
    struct Layout {
        VSTGUI::CCoord leftBar;
        VSTGUI::CCoord rightBar;
        VSTGUI::CCoord scaleLeft;
        float initialDb;  // start value of peak, RMS and hold
        bool floorsHold;  // the input meter keeps its hold at -122 dB or above
    };

    // Bitmaps in the editor's table order: background, unlit peak bar, lit
    // peak bar, scales K-20, K-14 and peak/K-12, lit K bar, unlit K bar.
    CLevelMeter(const VSTGUI::CRect& size, CControlListener* listener, const Layout& layout,
                VSTGUI::CBitmap* background, VSTGUI::CBitmap* unlitPeak, VSTGUI::CBitmap* litPeak,
                VSTGUI::CBitmap* scaleK20, VSTGUI::CBitmap* scaleK14, VSTGUI::CBitmap* scalePeakK12,
                VSTGUI::CBitmap* litK, VSTGUI::CBitmap* unlitK);

  private:
    struct Channel {
        float peak;
        float rms;
        float hold;
        std::int32_t counter = kHoldMs;  // ms left before the hold starts to fall
    };
    static int channelIndex(int channel) { return channel == 1 ? 1 : 0; }
    void holdAndFall();
    void drawPeakBar(VSTGUI::CDrawContext* context, VSTGUI::CCoord left, const Channel& channel);
    void drawKBar(VSTGUI::CDrawContext* context, VSTGUI::CCoord left, const Channel& channel);
    VSTGUI::CBitmap* scaleForMode() const;

    bool wholeRedrawPending_ = true;
    Layout layout_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> unlitPeak_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> litPeak_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> scaleK20_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> scaleK14_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> scalePeakK12_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> litK_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> unlitK_;
    std::array<Channel, 2> channels_;
    std::uint32_t currentTime_ = 0;
    std::uint32_t previousDrawTime_ = 0;
    bool timed_ = false;  // a tick has arrived since construction
    int mode_ = kMeterPeak;
};

class CMeterIn : public CLevelMeter {
  public:
    // Bitmaps in the order of the editor's table: 128, 155, 130, 131, 132, 133, 154, 129.
    CMeterIn(const VSTGUI::CRect& size, CControlListener* listener, VSTGUI::CBitmap* background,
             VSTGUI::CBitmap* unlitPeak, VSTGUI::CBitmap* litPeak, VSTGUI::CBitmap* scaleK20,
             VSTGUI::CBitmap* scaleK14, VSTGUI::CBitmap* scalePeakK12, VSTGUI::CBitmap* litK,
             VSTGUI::CBitmap* unlitK);
};

class CMeterOut : public CLevelMeter {
  public:
    // Bitmaps: 128, 155, 130, 134, 135, 136, 154, 129.
    CMeterOut(const VSTGUI::CRect& size, CControlListener* listener, VSTGUI::CBitmap* background,
              VSTGUI::CBitmap* unlitPeak, VSTGUI::CBitmap* litPeak, VSTGUI::CBitmap* scaleK20,
              VSTGUI::CBitmap* scaleK14, VSTGUI::CBitmap* scalePeakK12, VSTGUI::CBitmap* litK,
              VSTGUI::CBitmap* unlitK);
};

// Two attenuation bars hanging from the top over a 0..-24 dB scale (0..-12 dB
// zoomed). The held attenuation returns toward 0 dB at 30 dB per second once
// it has been held 50 ms.
class CMeterGR : public VSTGUI::CControl {
  public:
    static constexpr float kFloorDb = -30.0f;

    CMeterGR(const VSTGUI::CRect& size, CControlListener* listener, VSTGUI::CBitmap* scale,
             VSTGUI::CBitmap* bar);

    // Linear gains (at most 1); `tick` is the millisecond tick of this update.
    void setValues(std::uint32_t tick, float gainL, float gainR);
    void setZoom(bool zoom);
    bool getZoom() const { return zoom_; }
    // Attenuation and hold of both channels to 0 dB.
    void reset();
    float getHoldDb(int channel) const { return channels_[channel == 1 ? 1 : 0].hold; }

    // New values repaint only the two bar columns; zoom, reset and the first
    // draw repaint the scale too.
    void invalid() override;
    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

    // Length in pixels of the bar for a held attenuation of `db`.
    static int barLength(float db, bool zoom);

  private:
    struct Channel {
        float attenuation = 0.0f;
        float hold = 0.0f;
        std::int32_t counter = 10;
    };
    void holdAndRise();

    VSTGUI::SharedPointer<VSTGUI::CBitmap> scale_;
    VSTGUI::SharedPointer<VSTGUI::CBitmap> bar_;
    VSTGUI::SharedPointer<VSTGUI::COffscreenContext> offscreen_;
    std::array<Channel, 2> channels_;
    std::uint32_t currentTime_ = 0;
    std::uint32_t previousDrawTime_ = 0;
    bool wholeRedrawPending_ = true;
    bool timed_ = false;
    bool zoom_ = false;
};

// Highest peak of each channel since the last reset, in dBFS plus the K
// offset of the mode, on a box that turns red once the channel has gone over
// 0 dBFS.
class CMeterLCD : public VSTGUI::CControl {
  public:
    static constexpr float kResetDb = -120.0f;

    CMeterLCD(const VSTGUI::CRect& size, CControlListener* listener, VSTGUI::CBitmap* background,
              VSTGUI::CBitmap* font, VSTGUI::CBitmap* overFont);

    void setValues(float peakL, float peakR);
    void setMeterMode(int mode);
    void reset();
    float getMaximumDb(int channel) const { return maximum_[channel == 1 ? 1 : 0]; }

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

    // dB added to the dBFS maximum in `mode` (0, 12, 14, 20).
    static float offsetDb(int mode);
    // "%+2.1f" of `db`, or "-oo" at -100 dB and below.
    static std::string valueText(float db);

  private:
    VSTGUI::SharedPointer<VSTGUI::COffscreenContext> offscreen_;
    CTextPrinter2Color printer_;
    std::array<float, 2> maximum_{kResetDb, kResetDb};
    int mode_ = kMeterPeak;
};

// Deepest attenuation of each channel since the last reset, in dB.
class CMeterLCDGR : public VSTGUI::CControl {
  public:
    CMeterLCDGR(const VSTGUI::CRect& size, CControlListener* listener, VSTGUI::CBitmap* background,
                VSTGUI::CBitmap* font);

    void setValues(float gainL, float gainR);
    void reset();
    float getMinimumDb(int channel) const { return minimum_[channel == 1 ? 1 : 0]; }

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where,
                                          const VSTGUI::CButtonState& buttons) override;

    // "%2.1f" of `db`, or "-oo" at -100 dB and below.
    static std::string valueText(float db);

  private:
    VSTGUI::SharedPointer<VSTGUI::COffscreenContext> offscreen_;
    CTextPrinter printer_;
    std::array<float, 2> minimum_{0.0f, 0.0f};
};
