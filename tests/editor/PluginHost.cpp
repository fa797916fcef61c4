#include "editor/PluginHost.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dlfcn.h>

#include <cmath>
#include <cstring>

#include "gui/CBitmap.h"

namespace editortest {

namespace {

PluginHost* activeHost = nullptr;  // the host callback has no user pointer before the effect exists

using Entry = vst::AEffect* (*)(vst::HostCallback);

}  // namespace

PluginHost::PluginHost() {
    activeHost = this;
    library_ = dlopen(TQ_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) return;
    auto entry = reinterpret_cast<Entry>(dlsym(library_, "VSTPluginMain"));
    if (entry == nullptr) return;
    effect_ = entry(&PluginHost::hostCallback);
    if (effect_ == nullptr) return;
    effect_->user = this;
    dispatch(vst::effOpen);
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, 44100.0f);
    dispatch(vst::effSetBlockSize, 0, 512);
    dispatch(vst::effMainsChanged, 0, 1);
}

PluginHost::~PluginHost() {
    if (effect_ != nullptr) {
        dispatch(vst::effEditClose);
        dispatch(vst::effMainsChanged, 0, 0);
        dispatch(vst::effClose);
        effect_ = nullptr;
    }
    if (library_ != nullptr) dlclose(library_);
    activeHost = nullptr;
}

vst::intptr PluginHost::hostCallback(vst::AEffect* effect, vst::int32 opcode, vst::int32 index,
                                     vst::intptr value, void* ptr, float opt) {
    PluginHost* host = effect != nullptr && effect->user != nullptr
                           ? static_cast<PluginHost*>(effect->user)
                           : activeHost;
    if (host == nullptr) return opcode == vst::audioMasterVersion ? 2400 : 0;
    return host->answer(opcode, index, value, ptr, opt);
}

vst::intptr PluginHost::answer(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                               float opt) {
    {
        std::lock_guard<std::mutex> lock(callsMutex_);
        calls_.push_back({opcode, index, value, opt, std::this_thread::get_id()});
    }
    switch (opcode) {
        case vst::audioMasterVersion:
            return 2400;
        case vst::audioMasterCanDo:
            return answerSizeWindow && ptr != nullptr &&
                           std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0
                       ? 1
                       : 0;
        case vst::audioMasterSizeWindow:
            if (!answerSizeWindow) return 0;
            sizeWindowWidth = index;
            sizeWindowHeight = static_cast<int>(value);
            if (window_.ok()) {
                XResizeWindow(window_.display(), window_.window(), static_cast<unsigned>(index),
                              static_cast<unsigned>(value));
                XSync(window_.display(), False);
            }
            return 1;
        default:
            return 0;
    }
}

vst::intptr PluginHost::dispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                                 float opt) {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

void PluginHost::setParameter(int index, float value) { effect_->setParameter(effect_, index, value); }

float PluginHost::getParameter(int index) { return effect_->getParameter(effect_, index); }

bool PluginHost::openEditor() {
    return dispatch(vst::effEditOpen, 0, 0, window_.parentHandle()) == 1;
}

void PluginHost::closeEditor() { dispatch(vst::effEditClose); }

unsigned long PluginHost::editorWindow() const {
    const std::vector<guitest::Window> children = window_.children();
    return children.empty() ? 0 : children.back();
}

void PluginHost::moveTo(int x, int y) { window_.moveTo(editorWindow(), x, y); }
void PluginHost::press(unsigned int button) { window_.press(button); }
void PluginHost::release(unsigned int button) { window_.release(button); }

void PluginHost::click(int x, int y, unsigned int button) {
    window_.click(editorWindow(), x, y, button);
}

void PluginHost::doubleClick(int x, int y, unsigned int button) {
    click(x, y, button);
    click(x, y, button);
}

void PluginHost::drag(int x, int y, int dx, int dy, int steps) {
    moveTo(x, y);
    press(1);
    for (int i = 1; i <= steps; ++i) {
        moveTo(x + dx * i / steps, y + dy * i / steps);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    release(1);
}

void PluginHost::wheel(int x, int y, int notches) {
    moveTo(x, y);
    const unsigned int button = notches > 0 ? 4 : 5;
    for (int i = 0; i < std::abs(notches); ++i) {
        press(button);
        release(button);
    }
}

void PluginHost::clickWithModifier(int x, int y, unsigned long modifierKeysym) {
    Display* display = window_.display();
    const KeyCode modifier = XKeysymToKeycode(display, modifierKeysym);
    moveTo(x, y);
    XTestFakeKeyEvent(display, modifier, True, CurrentTime);
    XSync(display, False);
    press(1);
    release(1);
    XTestFakeKeyEvent(display, modifier, False, CurrentTime);
    XSync(display, False);
}

void PluginHost::key(unsigned long keysym, unsigned long modifierKeysym) {
    Display* display = window_.display();
    const KeyCode code = XKeysymToKeycode(display, keysym);
    const KeyCode modifier = modifierKeysym != 0 ? XKeysymToKeycode(display, modifierKeysym) : 0;
    if (modifier != 0) XTestFakeKeyEvent(display, modifier, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (modifier != 0) XTestFakeKeyEvent(display, modifier, False, CurrentTime);
    XSync(display, False);
}

void PluginHost::typeText(const char* text) { window_.typeText(text); }

Pixels PluginHost::grab() const {
    Pixels pixels;
    const unsigned long window = editorWindow();
    if (window == 0) return pixels;
    Display* display = window_.display();
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) == 0) return pixels;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (image == nullptr) return pixels;
    pixels.width = attributes.width;
    pixels.height = attributes.height;
    pixels.rgb.resize(static_cast<std::size_t>(pixels.width) *
                      static_cast<std::size_t>(pixels.height));
    for (int y = 0; y < pixels.height; ++y) {
        for (int x = 0; x < pixels.width; ++x) {
            pixels.rgb[static_cast<std::size_t>(y * pixels.width + x)] =
                static_cast<unsigned int>(XGetPixel(image, x, y)) & 0xFFFFFFu;
        }
    }
    XDestroyImage(image);
    return pixels;
}

bool PluginHost::waitForPixels(const std::function<bool(const Pixels&)>& condition,
                               std::chrono::milliseconds limit) {
    return guitest::waitFor([&] { return condition(grab()); }, limit);
}

void PluginHost::process(float peak, int frames) {
    std::vector<float> left(static_cast<std::size_t>(frames));
    std::vector<float> right(static_cast<std::size_t>(frames));
    std::vector<float> outLeft(left.size());
    std::vector<float> outRight(left.size());
    for (int i = 0; i < frames; ++i) {
        const float v = peak * static_cast<float>(std::sin(phase_));
        phase_ += 2.0 * M_PI * 997.0 / 44100.0;
        left[static_cast<std::size_t>(i)] = v;
        right[static_cast<std::size_t>(i)] = v;
    }
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    effect_->processReplacing(effect_, inputs, outputs, frames);
}

std::vector<HostCall> PluginHost::calls() const {
    std::lock_guard<std::mutex> lock(callsMutex_);
    return calls_;
}

void PluginHost::clearCalls() {
    std::lock_guard<std::mutex> lock(callsMutex_);
    calls_.clear();
}

std::string PluginHost::editTrace(int index) const {
    std::string trace;
    for (const HostCall& call : calls()) {
        if (call.index != index) continue;
        if (call.opcode == vst::audioMasterBeginEdit) trace += 'b';
        if (call.opcode == vst::audioMasterAutomate) trace += 'a';
        if (call.opcode == vst::audioMasterEndEdit) trace += 'e';
    }
    return trace;
}

Pixels bitmapPixels(int resourceId) {
    Pixels pixels;
    auto* bitmap = new VSTGUI::CBitmap(resourceId);
    cairo_surface_t* surface = bitmap->getSurface();
    if (surface != nullptr) {
        cairo_surface_flush(surface);
        pixels.width = cairo_image_surface_get_width(surface);
        pixels.height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const std::size_t count =
            static_cast<std::size_t>(pixels.width) * static_cast<std::size_t>(pixels.height);
        pixels.rgb.resize(count);
        pixels.alpha.resize(count);
        for (int y = 0; y < pixels.height; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
            for (int x = 0; x < pixels.width; ++x) {
                const auto at = static_cast<std::size_t>(y * pixels.width + x);
                pixels.rgb[at] = row[x] & 0xFFFFFFu;
                pixels.alpha[at] = static_cast<unsigned char>(row[x] >> 24);
            }
        }
    }
    bitmap->forget();
    return pixels;
}

bool sameBlock(const Pixels& window, int x, int y, const Pixels& bitmap, int sourceX, int sourceY,
               int w, int h) {
    if (x < 0 || y < 0 || x + w > window.width || y + h > window.height) return false;
    if (sourceX < 0 || sourceY < 0 || sourceX + w > bitmap.width || sourceY + h > bitmap.height) {
        return false;
    }
    int compared = 0;
    for (int row = 0; row < h; ++row) {
        for (int column = 0; column < w; ++column) {
            const int sx = sourceX + column;
            const int sy = sourceY + row;
            if (!bitmap.alpha.empty() &&
                bitmap.alpha[static_cast<std::size_t>(sy * bitmap.width + sx)] != 255) {
                continue;
            }
            if (window.at(x + column, y + row) != bitmap.at(sx, sy)) return false;
            ++compared;
        }
    }
    return compared > 0;
}

}  // namespace editortest
