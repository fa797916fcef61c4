// A module that opens a frame on a host window, for the unload test.
#include "gui/VSTGUI.h"

using namespace VSTGUI;

namespace {
class Swatch : public CView {
  public:
    explicit Swatch(const CRect& size) : CView(size) {}
    void draw(CDrawContext* context) override {
        context->setFillColor(CColor{200, 40, 40, 255});
        context->drawRect(size_, kDrawFilled);
        setDirty(false);
    }
};
}  // namespace

extern "C" __attribute__((visibility("default"))) void* tqTestOpenFrame(unsigned long parent) {
    auto* frame = new CFrame(CRect(0, 0, 200, 120), reinterpret_cast<void*>(parent), nullptr);
    auto* swatch = new Swatch(CRect(10, 10, 60, 60));
    frame->addView(swatch);
    swatch->forget();
    return frame;
}

extern "C" __attribute__((visibility("default"))) int tqTestFrameIsOpen(void* frame) {
    return static_cast<CFrame*>(frame)->isWindowOpen() ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) void tqTestCloseFrame(void* frame) {
    static_cast<CFrame*>(frame)->forget();
}
