// The effect's window: a 524 x 462 frame over the background picture with the
// knobs, switches, text fields and meters at fixed places, kept in step with
// the effect's parameters both ways, and the preset panel of the base class
// along the bottom edge.
//
// Threads.
//   [ui-thread]    open, close, getRect and the host's idle and keys (the host's
//                  GUI thread; keys may come from another host thread).
//   [any thread]   setParameter and setLatency, also from the audio thread
//                  during automation. They never block and never touch a view:
//                  the value goes into a slot of its own and the frame's thread
//                  applies it at its next idle.
//   [frame thread] everything that touches a view: idle (the frame's 50 ms
//                  timer and every host idle end there), the gestures
//                  (valueChanged), the meter fetch and all drawing.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "editor/MeteringActions.h"
#include "editor/PresetSystemEditor.h"

class Plugin;
class AEffEditor;
class CMeterIn;
class CMeterOut;
class CMeterGR;
class CMeterLCD;
class CMeterLCDGR;
class CQuoltButton;
class COversamplingButton;
class CModeButton;
class CBits;
class CNoiseShape;
class CAutoBlack;
class CCalibButton;
class CSpeedSwitch;
class CMyKnob;
class CMyTextEdit;
class CInfo;

// Tags beyond the parameter indices.
inline constexpr std::int32_t kTagMeters = 27;
inline constexpr std::int32_t kTagAttShowLim1 = 28;
inline constexpr std::int32_t kTagAttShowLim2 = 29;
inline constexpr std::int32_t kTagAttShowLevel = 30;

inline constexpr int kEditorWidth = 524;
inline constexpr int kEditorHeight = 462;

// Meter mode of the level meters: 0 peak, else 1 + the K scale (K-12, K-14, K-20).
int meterModeFor(float meterType, float scale);

class Editor : public CPresetSystemEditor, public MeteringActions {
  public:
    explicit Editor(Plugin* effect);
    ~Editor() override;

    bool open(void* parentWindow) override;
    void close() override;
    void idle() override;
    void setParameter(vst::int32 index, float value) override;
    void valueChanged(VSTGUI::CControl* control) override;

    // [any thread] The latency the About box shows; survives close and open.
    void setLatency(int samples);
    int getLatency() const { return latency_.load(std::memory_order_relaxed); }

    // MeteringActions [frame thread]
    void saveMeteringPreferences() override;
    void setMeterScale(int scale) override;
    void setMeterType(int type) override;

    // [frame thread] Every meter and readout back to its floor.
    void resetAllMeters();

  private:
    static constexpr int kEditorParameters = 22;

    void buildControls();
    void forgetControls();
    // [frame thread] Applies the parameter values posted since the last call.
    void applyPendingParameters();
    void applyParameter(int index, float x);
    void updateMeters(std::uint32_t tick);
    void setSaveHighlight(bool on);
    void setLevelMeterMode(int mode);
    float parameter(int index) const;
    void automate(int index, float value);

    Plugin* plugin_;
    std::array<std::atomic<float>, kEditorParameters> pendingValues_{};
    std::atomic<std::uint32_t> pendingMask_{0};
    std::atomic<int> latency_{0};
    std::atomic<bool> latencyChanged_{false};
    std::uint32_t lastIdleTime_;
    std::uint32_t saveFlashTime_;
    bool saveHighlightOn_ = false;

    CMeterIn* meterIn_ = nullptr;
    CMeterOut* meterOut_ = nullptr;
    CMeterGR* meterGR_ = nullptr;
    CMeterLCD* lcdIn_ = nullptr;
    CMeterLCD* lcdOut_ = nullptr;
    CMeterLCDGR* lcdGR_ = nullptr;
    CQuoltButton* detectorOrderButton_ = nullptr;
    COversamplingButton* oversampleButton_ = nullptr;
    CModeButton* modeButton_ = nullptr;
    CQuoltButton* quantizeButton_ = nullptr;
    CAutoBlack* autoblack_ = nullptr;
    CBits* bits_ = nullptr;
    CNoiseShape* noiseShape_ = nullptr;
    CCalibButton* calibrate_ = nullptr;
    CQuoltButton* attZoomButton_ = nullptr;
    std::array<CQuoltButton*, 3> attShowButtons_{};
    CSpeedSwitch* speedSwitch_ = nullptr;
    CQuoltButton* powerButton_ = nullptr;
    CQuoltButton* autoOutButton_ = nullptr;
    CQuoltButton* postMeterButton_ = nullptr;
    CQuoltButton* meterOvsButton_ = nullptr;
    CInfo* about_ = nullptr;
    // By parameter index (0 Output, 1 Drive, 2 Transient, 3 Release, 5 L/R Link,
    // 13 Leveller); null for the others.
    std::array<CMyKnob*, kEditorParameters> knobs_{};
    std::array<CMyTextEdit*, kEditorParameters> textEdits_{};
};
