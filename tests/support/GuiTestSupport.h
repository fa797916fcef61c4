// Helpers of the toolkit's tests: in-memory PNGs, probe views, recording
// listeners, an X11 host window.
#pragma once

#include <cairo.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "gui/VSTGUI.h"

struct _XDisplay;

namespace guitest {

using namespace VSTGUI;
using Display = ::_XDisplay;
using Window = unsigned long;

// ARGB (non-premultiplied, 0xAARRGGBB) of each pixel, row by row.
std::vector<unsigned char> makePng(int width, int height,
                                   const std::function<unsigned int(int x, int y)>& pixel);

// A finder over numbered and named in-memory PNGs; installed for the test's life.
class FakeResources {
  public:
    FakeResources();
    ~FakeResources();
    void add(int id, std::vector<unsigned char> png);
    void add(const std::string& name, std::vector<unsigned char> png);
};

cairo_surface_t* makeImage(int width, int height, unsigned int fill = 0);
// Opaque RGB of a premultiplied pixel (0xRRGGBB) and its alpha.
unsigned int rgb(cairo_surface_t* image, int x, int y);
unsigned int alpha(cairo_surface_t* image, int x, int y);

// A view that records what reaches it and fills itself with a colour.
class ProbeView : public CView {
  public:
    ProbeView(const CRect& size, CColor color = kRedCColor,
              CMouseEventResult pressAnswer = kMouseEventHandled);
    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseEntered(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseExited(CPoint& where, const CButtonState& buttons) override;
    bool onWheel(const CPoint& where, const float& distance, const CButtonState& buttons) override;
    std::int32_t onKeyDown(CKeyCode& key) override;
    void takeFocus() override { events.push_back("focus"); }
    void looseFocus() override { events.push_back("unfocus"); }

    CColor color;
    CMouseEventResult pressAnswer;
    std::int32_t keyAnswer = kKeyNotHandled;
    int draws = 0;
    std::vector<std::string> events;
    CPoint lastPoint;
    CButtonState lastButtons = 0;
    float lastWheel = 0;
};

class RecordingListener : public CControlListener {
  public:
    void valueChanged(CControl* control) override {
        events.push_back("changed " + std::to_string(control->getTag()));
        values.push_back(control->getValue());
    }
    void controlBeginEdit(CControl* control) override {
        events.push_back("begin " + std::to_string(control->getTag()));
    }
    void controlEndEdit(CControl* control) override {
        events.push_back("end " + std::to_string(control->getTag()));
    }
    std::vector<std::string> events;
    std::vector<float> values;
};

class RecordingEditor : public VSTGUIEditorInterface {
  public:
    void beginEdit(std::int32_t index) override {
        events.push_back("editor begin " + std::to_string(index));
    }
    void endEdit(std::int32_t index) override {
        events.push_back("editor end " + std::to_string(index));
    }
    void onFrameTimer() override {
        ++timerCalls;
        if (frame != nullptr) frame->idle();
    }
    std::vector<std::string> events;
    std::atomic<int> timerCalls{0};
    CFrame* frame = nullptr;
};

// Polls `condition` every few milliseconds for up to `limit`.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

int countThreads();

// A mapped top-level window on $DISPLAY standing in for the host's window.
// Tests that use it skip when no X display is available.
class HostWindow {
  public:
    HostWindow(int width = 600, int height = 500);
    ~HostWindow();
    bool ok() const { return window_ != 0; }
    Display* display() const { return display_; }
    Window window() const { return window_; }
    void* parentHandle() const { return reinterpret_cast<void*>(window_); }
    // Root coordinates of a point of `child` (a window of any connection).
    void rootPoint(Window child, int x, int y, int& rootX, int& rootY) const;
    // Pointer moves and clicks through XTest at a point of `child`.
    void click(Window child, int x, int y, unsigned int button = 1);
    void moveTo(Window child, int x, int y);
    void press(unsigned int button);
    void release(unsigned int button);
    void typeText(const char* text);
    void typeKey(unsigned long keysym, bool shift = false);
    std::vector<Window> children() const;

  private:
    Display* display_ = nullptr;
    Window window_ = 0;
};

}  // namespace guitest

#define TQ_SKIP_WITHOUT_X(host)                                                      \
    do {                                                                             \
        if (!(host).ok()) GTEST_SKIP() << "no X display (DISPLAY unset or refused)"; \
    } while (0)
