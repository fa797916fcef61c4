#include "editor/Editor.h"

#include <mutex>

#include "editor/MeterViews.h"
#include "editor/MillisecondTick.h"
#include "editor/MyFrame.h"
#include "editor/QuoltControls.h"
#include "effect/ParameterModel.h"
#include "effect/Plugin.h"
#include "presets/MeteringPreferences.h"

using namespace VSTGUI;

namespace {

constexpr std::uint32_t kMeterInterval = 20;       // ms between meter updates
constexpr std::uint32_t kSaveHighlightTime = 500;  // ms the save legend stays lit

// The bitmaps of the controls being made, each loaded once; every control keeps
// its own reference, these go when the controls are built.
class Bitmaps {
  public:
    CBitmap* get(std::int32_t id) {
        for (const SharedPointer<CBitmap>& bitmap : bitmaps_) {
            if (bitmap->getResourceId() == id) return bitmap.get();
        }
        return bitmaps_.emplace_back(new CBitmap(id), false).get();
    }
    CBitmap* get(const char* name) {
        for (const SharedPointer<CBitmap>& bitmap : bitmaps_) {
            if (bitmap->getResourceName() == name) return bitmap.get();
        }
        return bitmaps_.emplace_back(new CBitmap(name), false).get();
    }

  private:
    std::vector<SharedPointer<CBitmap>> bitmaps_;
};

const CColor kDarkFieldBack{165, 183, 189, 255};
const CColor kDarkFieldFont{37, 36, 35, 255};
const CColor kLightFieldBack{200, 200, 200, 255};
const CColor kLightFieldFont{79, 79, 79, 255};

}  // namespace

int meterModeFor(float meterType, float scale) {
    if (tq::stepIndex(meterType, 2) == 0) return 0;
    return 1 + tq::stepIndex(scale, 3);
}

Editor::Editor(Plugin* effect)
    : CPresetSystemEditor(effect),
      plugin_(effect),
      lastIdleTime_(tq::millisecondTick()),
      saveFlashTime_(lastIdleTime_) {
    rect_.top = 0;
    rect_.left = 0;
    rect_.bottom = kEditorHeight;
    rect_.right = kEditorWidth;
    for (auto& value : pendingValues_) value.store(0.0f, std::memory_order_relaxed);
}

Editor::~Editor() { close(); }

float Editor::parameter(int index) const { return plugin_->getParameter(index); }

void Editor::automate(int index, float value) { plugin_->setParameterAutomated(index, value); }

// ------------------------------------------------------------------ open and close

bool Editor::open(void* parentWindow) {
    if (parentWindow == nullptr || plugin_ == nullptr) return false;
    if (frame != nullptr) close();  // a second open without close starts afresh
    AEffGUIEditor::open(parentWindow);

    auto* myFrame = new MyFrame(CRect(0, 0, kEditorWidth, kEditorHeight), parentWindow, this);
    if (!myFrame->isWindowOpen()) {
        myFrame->forget();
        systemWindow_ = nullptr;
        return false;
    }
    frame = myFrame;
    {
        // The frame's thread runs our idle as soon as the first view is added:
        // it waits until every control pointer is in place.
        std::lock_guard<std::recursive_timed_mutex> lock(frame->getViewLock());
        frame->setBackground(SharedPointer<CBitmap>(new CBitmap(128), false).get());
        // Whatever was posted before now is in the values the controls start from.
        pendingMask_.store(0, std::memory_order_relaxed);
        latencyChanged_.store(false, std::memory_order_relaxed);
        saveHighlightOn_ = false;
        buildControls();
        CPresetSystemEditor::open(parentWindow);
    }
    // Hosts hand over a parent of 1 x 1 and size it only after asking for the
    // rectangle; asking for the size now shows the window whole at once.
    if (plugin_->canHostDo("sizeWindow")) plugin_->sizeWindow(kEditorWidth, kEditorHeight);
    return true;
}

void Editor::buildControls() {
    Bitmaps bitmaps;
    CBitmap* background = bitmaps.get(128);
    const int mode = meterModeFor(parameter(tq::kMeterType), parameter(tq::kScale));
    // The frame keeps each view; the editor keeps a plain pointer until close.
    auto add = [this](CView* view) {
        frame->addView(view);
        view->forget();
    };

    meterIn_ = new CMeterIn(CRect(147, 38, 207, 408), this, background, bitmaps.get(155),
                            bitmaps.get(130), bitmaps.get(131), bitmaps.get(132),
                            bitmaps.get(133), bitmaps.get(154), bitmaps.get(129));
    meterIn_->setMeterMode(mode);
    add(meterIn_);
    meterOut_ = new CMeterOut(CRect(319, 38, 379, 406), this, background, bitmaps.get(155),
                              bitmaps.get(130), bitmaps.get(134), bitmaps.get(135),
                              bitmaps.get(136), bitmaps.get(154), bitmaps.get(129));
    meterOut_->setMeterMode(mode);
    add(meterOut_);
    meterGR_ = new CMeterGR(CRect(233, 39, 291, 192), this, bitmaps.get(167), bitmaps.get(156));
    meterGR_->setZoom(tq::stepIndex(parameter(tq::kAttZoom), 2) != 0);
    add(meterGR_);
    lcdIn_ = new CMeterLCD(CRect(131, 415, 224, 426), this, background, bitmaps.get(137),
                           bitmaps.get(138));
    lcdIn_->setMeterMode(mode);
    add(lcdIn_);
    lcdOut_ = new CMeterLCD(CRect(303, 415, 396, 426), this, background, bitmaps.get(137),
                            bitmaps.get(138));
    lcdOut_->setMeterMode(mode);
    add(lcdOut_);
    lcdGR_ = new CMeterLCDGR(CRect(217, 199, 310, 210), this, background, bitmaps.get(137));
    add(lcdGR_);

    auto button = [&](const CRect& r, std::int32_t tag, std::int32_t bitmap, bool saveGesture,
                      float value) {
        auto* b = new CQuoltButton(r, this, tag, bitmaps.get(bitmap),
                                   saveGesture ? static_cast<MeteringActions*>(this) : nullptr);
        b->setValue(value);
        add(b);
        return b;
    };

    detectorOrderButton_ = button(CRect(44, 40, 77, 59), tq::kDetectorOrder, 139, false,
                                  parameter(tq::kDetectorOrder));
    oversampleButton_ =
        new COversamplingButton(CRect(81, 40, 114, 59), this, tq::kOversample, bitmaps.get(140));
    oversampleButton_->setValue(parameter(tq::kOversample));
    add(oversampleButton_);
    modeButton_ =
        new CModeButton(CRect(223, 305, 258, 361), this, tq::kScale, bitmaps.get(141), this);
    modeButton_->setType(tq::stepIndex(parameter(tq::kMeterType), 2));
    modeButton_->setScale(tq::stepIndex(parameter(tq::kScale), 3));
    add(modeButton_);
    quantizeButton_ = button(CRect(412, 40, 445, 59), tq::kQuantize, 162, false,
                             parameter(tq::kQuantize));
    const bool quantizeOn = tq::stepIndex(parameter(tq::kQuantize), 2) != 0;
    autoblack_ = new CAutoBlack(CRect(449, 40, 482, 59), this, tq::kAutoblack, bitmaps.get(163));
    autoblack_->setEnabled(quantizeOn);
    autoblack_->setState(tq::stepIndex(parameter(tq::kAutoblack), 2));
    add(autoblack_);
    bits_ = new CBits(CRect(412, 78, 445, 97), this, tq::kBits, bitmaps.get(142));
    bits_->setEnabled(quantizeOn);
    bits_->setIndex(tq::stepIndex(parameter(tq::kBits), 3));
    add(bits_);
    noiseShape_ =
        new CNoiseShape(CRect(449, 78, 482, 97), this, tq::kNoiseShape, bitmaps.get(143));
    noiseShape_->setIndex(tq::stepIndex(parameter(tq::kNoiseShape), 4));
    noiseShape_->setEnabled(quantizeOn);
    add(noiseShape_);
    calibrate_ =
        new CCalibButton(CRect(269, 341, 302, 360), this, tq::kCalibrate, bitmaps.get(145));
    calibrate_->setValue(parameter(tq::kCalibrate));
    add(calibrate_);
    attZoomButton_ =
        button(CRect(269, 265, 302, 284), tq::kAttZoom, 144, true, parameter(tq::kAttZoom));
    const int attShow = tq::stepIndex(parameter(tq::kAttShow), 8);
    attShowButtons_[0] = button(CRect(224, 265, 257, 284), kTagAttShowLim1, 164, true,
                                (attShow & 1) != 0 ? 1.0f : 0.0f);
    attShowButtons_[1] = button(CRect(224, 230, 257, 249), kTagAttShowLim2, 165, true,
                                (attShow & 2) != 0 ? 1.0f : 0.0f);
    attShowButtons_[2] = button(CRect(269, 230, 302, 249), kTagAttShowLevel, 166, true,
                                (attShow & 4) != 0 ? 1.0f : 0.0f);

    auto knob = [&](const CRect& r, std::int32_t tag, std::int32_t bitmap, CCoord frameHeight,
                    float wheelIncrement, const float* defaultValue) {
        auto* k = new CMyKnob(r, this, tag, bitmaps.get(bitmap), frameHeight);
        k->setValue(parameter(tag));
        k->setWheelInc(wheelIncrement);
        if (defaultValue != nullptr) k->setDefaultValue(*defaultValue);
        add(k);
        knobs_[static_cast<std::size_t>(tag)] = k;
    };
    const float transientDefault = 0.2f;
    const float releaseDefault = 0.7237f;
    const float fullDefault = 1.0f;
    knob(CRect(55, 169, 105, 217), tq::kTransient, 152, 48, 0.03125f, &transientDefault);
    knob(CRect(56, 267, 105, 314), tq::kRelease, 153, 47, 0.03125f, &releaseDefault);
    knob(CRect(421, 169, 469, 216), tq::kLeveller, 147, 47, 0.05208336f, &fullDefault);
    knob(CRect(421, 267, 469, 314), tq::kLink, 148, 47, 0.03125f, &fullDefault);

    speedSwitch_ =
        new CSpeedSwitch(CRect(38, 121, 128, 146), this, tq::kTransShape, bitmaps.get(146));
    speedSwitch_->setValue(parameter(tq::kTransShape));
    add(speedSwitch_);
    powerButton_ =
        button(CRect(245, 400, 280, 435), tq::kPower, 149, false, parameter(tq::kPower));
    knob(CRect(52, 349, 108, 404), tq::kDrive, 150, 55, 0.01302084f, nullptr);
    knob(CRect(417, 349, 475, 405), tq::kOutput, 151, 56, 0.05208336f, &fullDefault);
    autoOutButton_ =
        button(CRect(394, 368, 412, 392), tq::kAutoOut, 161, false, parameter(tq::kAutoOut));
    postMeterButton_ = button(CRect(116, 368, 134, 392), tq::kPostMeter, 161, true,
                              parameter(tq::kPostMeter));

    about_ = new CInfo(CRect(224, 370, 301, 401), bitmaps.get(157), bitmaps.get(137),
                       bitmaps.get("bmp00158.png"));
    about_->setLatency(latency_.load(std::memory_order_relaxed));
    add(about_);

    auto textEdit = [&](const CRect& r, std::int32_t tag, const char* secondFont,
                        const CColor& back, const CColor& font) {
        auto* t = new CMyTextEdit(r, this, tag, background, bitmaps.get(137),
                                  bitmaps.get(secondFont));
        t->setBackColor(back);
        t->setFontColor(font);
        t->setFont(kNormalFontSmall);
        t->setValue(parameter(tag));
        add(t);
        textEdits_[static_cast<std::size_t>(tag)] = t;
    };
    textEdit(CRect(43, 409, 117, 427), tq::kDrive, "bmp00159.png", kDarkFieldBack,
             kDarkFieldFont);
    textEdit(CRect(410, 409, 484, 427), tq::kOutput, "bmp00159.png", kDarkFieldBack,
             kDarkFieldFont);
    textEdit(CRect(45, 221, 119, 239), tq::kTransient, "bmp00158.png", kLightFieldBack,
             kLightFieldFont);
    textEdit(CRect(45, 319, 119, 337), tq::kRelease, "bmp00158.png", kLightFieldBack,
             kLightFieldFont);
    textEdit(CRect(411, 221, 485, 239), tq::kLeveller, "bmp00158.png", kLightFieldBack,
             kLightFieldFont);
    textEdit(CRect(411, 319, 485, 337), tq::kLink, "bmp00158.png", kLightFieldBack,
             kLightFieldFont);

    meterOvsButton_ =
        button(CRect(269, 307, 302, 326), tq::kMeterOvs, 160, true, parameter(tq::kMeterOvs));
}

void Editor::forgetControls() {
    meterIn_ = nullptr;
    meterOut_ = nullptr;
    meterGR_ = nullptr;
    lcdIn_ = nullptr;
    lcdOut_ = nullptr;
    lcdGR_ = nullptr;
    detectorOrderButton_ = nullptr;
    oversampleButton_ = nullptr;
    modeButton_ = nullptr;
    quantizeButton_ = nullptr;
    autoblack_ = nullptr;
    bits_ = nullptr;
    noiseShape_ = nullptr;
    calibrate_ = nullptr;
    attZoomButton_ = nullptr;
    attShowButtons_.fill(nullptr);
    speedSwitch_ = nullptr;
    powerButton_ = nullptr;
    autoOutButton_ = nullptr;
    postMeterButton_ = nullptr;
    meterOvsButton_ = nullptr;
    about_ = nullptr;
    knobs_.fill(nullptr);
    textEdits_.fill(nullptr);
}

void Editor::close() {
    if (frame == nullptr) {
        systemWindow_ = nullptr;
        return;
    }
    // The frame's thread runs our idle and reads the controls: it ends first
    // (unless this is that thread, which then ends when the callback returns).
    frame->closeWindow();
    CPresetSystemEditor::close();
    forgetControls();
    AEffGUIEditor::close();
}

// ------------------------------------------------------------------ host to controls

void Editor::setParameter(vst::int32 index, float value) {
    if (index < 0 || index >= kEditorParameters) return;
    pendingValues_[static_cast<std::size_t>(index)].store(value, std::memory_order_relaxed);
    pendingMask_.fetch_or(1u << index, std::memory_order_release);
}

void Editor::setLatency(int samples) {
    latency_.store(samples, std::memory_order_relaxed);
    latencyChanged_.store(true, std::memory_order_release);
}

void Editor::applyPendingParameters() {
    std::uint32_t mask = pendingMask_.exchange(0, std::memory_order_acquire);
    while (mask != 0) {
        const int index = __builtin_ctz(mask);
        mask &= mask - 1;
        applyParameter(index,
                       pendingValues_[static_cast<std::size_t>(index)].load(
                           std::memory_order_relaxed));
    }
}

void Editor::setLevelMeterMode(int mode) {
    if (meterIn_ != nullptr) meterIn_->setMeterMode(mode);
    if (meterOut_ != nullptr) meterOut_->setMeterMode(mode);
    if (lcdIn_ != nullptr) lcdIn_->setMeterMode(mode);
    if (lcdOut_ != nullptr) lcdOut_->setMeterMode(mode);
}

void Editor::applyParameter(int index, float x) {
    if (frame == nullptr) return;
    auto setValue = [](CControl* control, float value) {
        if (control != nullptr) control->setValue(value);
    };
    switch (index) {
        case tq::kOutput:
        case tq::kDrive:
        case tq::kTransient:
        case tq::kRelease:
        case tq::kLink:
        case tq::kLeveller:
            if (CMyKnob* knob = knobs_[static_cast<std::size_t>(index)]) {
                knob->setValue(x);
                knob->setDirty();
            }
            setValue(textEdits_[static_cast<std::size_t>(index)], x);
            break;
        case tq::kTransShape:
            setValue(speedSwitch_, x);
            break;
        case tq::kOversample:
            setValue(oversampleButton_, x);
            break;
        case tq::kDetectorOrder:
            setValue(detectorOrderButton_, x);
            break;
        case tq::kPower:
            setValue(powerButton_, x);
            break;
        case tq::kMeterOvs:
            setValue(meterOvsButton_, x);
            break;
        case tq::kAutoOut:
            setValue(autoOutButton_, x);
            break;
        case tq::kPostMeter:
            setValue(postMeterButton_, x);
            break;
        case tq::kScale:
            if (modeButton_ != nullptr) modeButton_->setScale(tq::stepIndex(x, 3));
            setLevelMeterMode(meterModeFor(parameter(tq::kMeterType), x));
            break;
        case tq::kBits:
            if (bits_ != nullptr) bits_->setIndex(tq::stepIndex(x, 3));
            break;
        case tq::kNoiseShape:
            if (noiseShape_ != nullptr) noiseShape_->setIndex(tq::stepIndex(x, 4));
            break;
        case tq::kCalibrate:
            setValue(calibrate_, x);
            break;
        case tq::kQuantize: {
            setValue(quantizeButton_, x);
            const bool on = tq::stepIndex(x, 2) != 0;
            if (bits_ != nullptr) bits_->setEnabled(on);
            if (noiseShape_ != nullptr) noiseShape_->setEnabled(on);
            if (autoblack_ != nullptr) autoblack_->setEnabled(on);
            break;
        }
        case tq::kAutoblack:
            if (autoblack_ != nullptr) autoblack_->setState(tq::stepIndex(x, 2));
            break;
        case tq::kMeterType:
            if (modeButton_ != nullptr) modeButton_->setType(tq::stepIndex(x, 2));
            setLevelMeterMode(meterModeFor(x, parameter(tq::kScale)));
            break;
        case tq::kAttZoom:
            setValue(attZoomButton_, x);
            if (meterGR_ != nullptr) meterGR_->setZoom(tq::stepIndex(x, 2) != 0);
            break;
        case tq::kAttShow: {
            if (meterGR_ != nullptr) meterGR_->reset();
            if (lcdGR_ != nullptr) lcdGR_->reset();
            const int mask = tq::stepIndex(x, 8);
            for (int bit = 0; bit < 3; ++bit) {
                setValue(attShowButtons_[static_cast<std::size_t>(bit)],
                         tq::stepCentre((mask >> bit) & 1, 2));
            }
            break;
        }
        default:
            break;
    }
}

// ------------------------------------------------------------------ controls to host

void Editor::valueChanged(CControl* control) {
    if (control == nullptr) return;
    CPresetSystemEditor::valueChanged(control);
    const std::int32_t tag = control->getTag();
    const float v = control->getValue();
    switch (tag) {
        case tq::kOutput:
        case tq::kDrive:
        case tq::kTransient:
        case tq::kRelease:
        case tq::kTransShape:
        case tq::kLink:
        case tq::kDetectorOrder:
        case tq::kPower:
        case tq::kBits:
        case tq::kNoiseShape:
        case tq::kLeveller:
        case tq::kAutoOut:
        case tq::kQuantize:
        case tq::kAutoblack:
            automate(tag, v);
            break;
        case tq::kOversample:
        case tq::kCalibrate:
        case tq::kMeterOvs:
            resetAllMeters();
            automate(tag, v);
            break;
        case tq::kAttZoom:
            if (meterGR_ != nullptr) meterGR_->reset();
            automate(tag, v);
            break;
        case tq::kPostMeter:
            if (meterIn_ != nullptr) meterIn_->reset();
            if (lcdIn_ != nullptr) lcdIn_->reset();
            automate(tag, v);
            break;
        case kTagMeters:
            resetAllMeters();
            break;
        case kTagAttShowLim1:
        case kTagAttShowLim2:
        case kTagAttShowLevel: {
            const int bit = tag - kTagAttShowLim1;
            int mask = tq::stepIndex(parameter(tq::kAttShow), 8);
            if (tq::stepIndex(v, 2) == 1) {
                mask |= 1 << bit;
            } else {
                mask &= ~(1 << bit);
            }
            automate(tq::kAttShow, tq::stepCentre(mask, 8));
            break;
        }
        default:
            break;
    }
    // The change came back through setParameter on this thread: show it now.
    applyPendingParameters();
}

void Editor::resetAllMeters() {
    if (meterIn_ != nullptr) meterIn_->reset();
    if (meterOut_ != nullptr) meterOut_->reset();
    if (meterGR_ != nullptr) meterGR_->reset();
    if (lcdIn_ != nullptr) lcdIn_->reset();
    if (lcdOut_ != nullptr) lcdOut_->reset();
    if (lcdGR_ != nullptr) lcdGR_->reset();
}

void Editor::setMeterScale(int scale) {
    automate(tq::kScale, tq::stepCentre(scale, 3));
    applyPendingParameters();
}

void Editor::setMeterType(int type) {
    automate(tq::kMeterType, tq::stepCentre(type, 2));
    applyPendingParameters();
}

void Editor::setSaveHighlight(bool on) {
    saveHighlightOn_ = on;
    for (CQuoltButton* button : attShowButtons_) {
        if (button != nullptr) button->setSaveHighlight(on);
    }
    if (attZoomButton_ != nullptr) attZoomButton_->setSaveHighlight(on);
    if (meterOvsButton_ != nullptr) meterOvsButton_->setSaveHighlight(on);
    if (modeButton_ != nullptr) modeButton_->setSaveHighlight(on);
    if (postMeterButton_ != nullptr) postMeterButton_->setSaveHighlight(on);
}

void Editor::saveMeteringPreferences() {
    saveFlashTime_ = tq::millisecondTick();
    setSaveHighlight(true);
    tq::saveMeteringPreferences([this](int index) { return parameter(index); });
}

// ------------------------------------------------------------------ idle

void Editor::updateMeters(std::uint32_t tick) {
    float values[10] = {};
    plugin_->fetchMeters(values);
    if (meterIn_ != nullptr) meterIn_->setValues(tick, values[0], values[1], values[4], values[5]);
    if (meterOut_ != nullptr) {
        meterOut_->setValues(tick, values[2], values[3], values[6], values[7]);
    }
    if (meterGR_ != nullptr) meterGR_->setValues(tick, values[8], values[9]);
    if (lcdIn_ != nullptr) lcdIn_->setValues(values[0], values[1]);
    if (lcdOut_ != nullptr) lcdOut_->setValues(values[2], values[3]);
    if (lcdGR_ != nullptr) lcdGR_->setValues(values[8], values[9]);
    if (calibrate_ != nullptr) calibrate_->idleTick(tick);
}

void Editor::idle() {
    if (!isOnFrameThread()) {
        AEffGUIEditor::idle();  // asks the frame's thread to come here
        return;
    }
    if (frame == nullptr) return;
    applyPendingParameters();
    if (latencyChanged_.exchange(false, std::memory_order_acquire) && about_ != nullptr) {
        about_->setLatency(latency_.load(std::memory_order_relaxed));
    }
    const std::uint32_t tick = tq::millisecondTick();
    if (tick - lastIdleTime_ >= kMeterInterval) {
        updateMeters(tick);
        lastIdleTime_ = tick;
    }
    // The legends go back once; redrawing them on every idle would cost for nothing.
    if (saveHighlightOn_ && tick - saveFlashTime_ > kSaveHighlightTime) setSaveHighlight(false);
    CPresetSystemEditor::idle();
}

// ------------------------------------------------------------------ factory

namespace {

AEffEditor* createEditor(Plugin& effect) { return new Editor(&effect); }

void setEditorLatency(AEffEditor& editor, int samples) {
    static_cast<Editor&>(editor).setLatency(samples);
}

void editorProgramNameChanged(AEffEditor& editor, const char* name) {
    static_cast<Editor&>(editor).programNameChanged(name);
}

}  // namespace

EditorFactory makeEditorFactory() {
    EditorFactory factory;
    factory.create = createEditor;
    factory.setLatency = setEditorLatency;
    factory.programNameChanged = editorProgramNameChanged;
    return factory;
}
