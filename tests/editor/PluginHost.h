// A small host for the editor tests: loads the built plug-in with dlopen, answers
// its calls (logging each with its thread), embeds the editor in a real X window
// and reads the editor's pixels back from the server.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/VstAbi.h"
#include "support/GuiTestSupport.h"

namespace editortest {

struct HostCall {
    vst::int32 opcode = 0;
    vst::int32 index = 0;
    vst::intptr value = 0;
    float opt = 0.0f;
    std::thread::id thread;
};

// Pixels of a window or image as 0xRRGGBB, row by row.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<unsigned int> rgb;
    std::vector<unsigned char> alpha;  // bitmaps only; empty for windows (opaque)
    unsigned int at(int x, int y) const {
        return rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)];
    }
};

class PluginHost {
  public:
    // Loads the plug-in and makes one effect; a 1 x 1 host window as real hosts
    // hand over. ok() is false without the library or an X display.
    PluginHost();
    ~PluginHost();
    bool ok() const { return effect_ != nullptr; }
    bool hasDisplay() const { return window_.ok(); }

    vst::AEffect* effect() const { return effect_; }
    vst::intptr dispatch(vst::int32 opcode, vst::int32 index = 0, vst::intptr value = 0,
                         void* ptr = nullptr, float opt = 0.0f);
    void setParameter(int index, float value);
    float getParameter(int index);

    // effEditOpen on the host window; answers the plug-in's answer.
    bool openEditor();
    void closeEditor();
    // The plug-in's window inside the host window (0 when there is none).
    unsigned long editorWindow() const;
    guitest::HostWindow& hostWindow() { return window_; }

    // Pointer input at editor coordinates through XTest.
    void click(int x, int y, unsigned int button = 1);
    void doubleClick(int x, int y, unsigned int button = 1);
    void moveTo(int x, int y);
    void press(unsigned int button);
    void release(unsigned int button);
    void drag(int x, int y, int dx, int dy, int steps = 10);
    void wheel(int x, int y, int notches);  // positive = up
    void key(unsigned long keysym, unsigned long modifierKeysym = 0);
    // A left click with a modifier key (XK_Control_L, XK_Shift_L) held.
    void clickWithModifier(int x, int y, unsigned long modifierKeysym);
    void typeText(const char* text);

    // The editor window's pixels as the server has them.
    Pixels grab() const;
    // Waits until `condition` holds on freshly grabbed pixels.
    bool waitForPixels(const std::function<bool(const Pixels&)>& condition,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(3000));

    // Runs a block of a steady sine of `peak` (linear) through processReplacing.
    void process(float peak, int frames);

    std::vector<HostCall> calls() const;
    void clearCalls();
    // Opcodes of the logged calls for `index` among begin edit, automate and end
    // edit, in order: "b" begin, "a" automate, "e" end.
    std::string editTrace(int index) const;

    // The host's answer to canDo("sizeWindow").
    bool answerSizeWindow = true;
    int sizeWindowWidth = 0;
    int sizeWindowHeight = 0;

  private:
    static vst::intptr hostCallback(vst::AEffect* effect, vst::int32 opcode, vst::int32 index,
                                    vst::intptr value, void* ptr, float opt);
    vst::intptr answer(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                       float opt);

    void* library_ = nullptr;
    vst::AEffect* effect_ = nullptr;
    guitest::HostWindow window_{1, 1};
    mutable std::mutex callsMutex_;
    std::vector<HostCall> calls_;
    double phase_ = 0.0;
};

// Pixels of an embedded bitmap (decoded by the test's own copy of the toolkit).
Pixels bitmapPixels(int resourceId);
// True when `window` at (x, y) shows `bitmap` at (sourceX, sourceY), for a w x h block
// (pixels the bitmap does not cover fully are not compared; at least one must be).
bool sameBlock(const Pixels& window, int x, int y, const Pixels& bitmap, int sourceX,
               int sourceY, int w, int h);

}  // namespace editortest

#define TQ_SKIP_WITHOUT_EDITOR_HOST(host)                                            \
    do {                                                                             \
        if (!(host).hasDisplay()) GTEST_SKIP() << "no X display";                    \
        ASSERT_TRUE((host).ok()) << "the plug-in did not load";                      \
    } while (0)
