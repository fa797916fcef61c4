// Helpers of the meter and control tests: a headless editor frame over the
// real artwork, pixel comparisons against the artwork's source rows, and a
// log of what reaches the listener, the editor interface and the metering
// actions, in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "editor/MeteringActions.h"
#include "editor/MyFrame.h"
#include "gui/VSTGUI.h"
#include "support/GuiTestSupport.h"

namespace controlstest {

using namespace VSTGUI;

// One shared event log: listener notices (as RecordingListener records them), host edit
// brackets, metering actions.
class EventLog : public guitest::RecordingListener,
                 public VSTGUIEditorInterface,
                 public MeteringActions {
  public:
    void beginEdit(std::int32_t index) override {
        events.push_back("host begin " + std::to_string(index));
    }
    void endEdit(std::int32_t index) override {
        events.push_back("host end " + std::to_string(index));
    }
    void saveMeteringPreferences() override { events.push_back("save"); }
    void setMeterScale(int scale) override { events.push_back("scale " + std::to_string(scale)); }
    void setMeterType(int type) override { events.push_back("type " + std::to_string(type)); }

    void clear() {
        events.clear();
        values.clear();
    }
};

// Bitmaps of the embedded artwork, loaded once per test.
class Artwork {
  public:
    CBitmap* operator()(int id) {
        return keep(std::to_string(id), [id] { return new CBitmap(id); });
    }
    CBitmap* operator()(const char* name) {
        return keep(name, [name] { return new CBitmap(name); });
    }
    ~Artwork() {
        for (auto& [key, bitmap] : bitmaps_) bitmap->forget();
    }

  private:
    template <class Make>
    CBitmap* keep(const std::string& key, Make make) {
        auto it = bitmaps_.find(key);
        if (it != bitmaps_.end()) return it->second;
        CBitmap* bitmap = make();
        EXPECT_TRUE(bitmap->isLoaded()) << "artwork " << key;
        bitmaps_[key] = bitmap;
        return bitmap;
    }
    std::map<std::string, CBitmap*> bitmaps_;
};

inline std::uint32_t pixelAt(cairo_surface_t* image, int x, int y) {
    return imagePixel(image, x, y);
}

inline std::uint32_t rgbOf(const CColor& colour) {
    return 0xFF000000u | (std::uint32_t{colour.red} << 16) | (std::uint32_t{colour.green} << 8) |
           colour.blue;
}

// Pixels of `destination` in `image` that differ from `bitmap` read from `source` on.
inline int mismatches(cairo_surface_t* image, const CRect& destination, CBitmap* bitmap,
                      CPoint source) {
    int count = 0;
    for (int y = destination.top; y < destination.bottom; ++y)
        for (int x = destination.left; x < destination.right; ++x)
            if (pixelAt(image, x, y) != pixelAt(bitmap->getSurface(),
                                                source.h + x - destination.left,
                                                source.v + y - destination.top))
                ++count;
    return count;
}

// Pixels of `area` in `image` that are not `colour`.
inline int notColoured(cairo_surface_t* image, const CRect& area, const CColor& colour) {
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (pixelAt(image, x, y) != rgbOf(colour)) ++count;
    return count;
}

// The editor's frame (524 x 462, background 128) painting into memory.
class HeadlessEditorFrame {
  public:
    HeadlessEditorFrame() : frame_(new MyFrame(CRect(0, 0, 524, 462), nullptr, &log)) {
        frame_->setBackground(art(128));
    }
    ~HeadlessEditorFrame() { frame_->forget(); }
    HeadlessEditorFrame(const HeadlessEditorFrame&) = delete;
    HeadlessEditorFrame& operator=(const HeadlessEditorFrame&) = delete;

    // Adds a view made with `new`; the frame keeps the only reference.
    template <class View>
    View* add(View* view) {
        frame_->addView(view);
        view->forget();
        return view;
    }
    MyFrame* frame() const { return frame_; }
    // Paints what is dirty, as the editor's idle does.
    cairo_surface_t* idle() {
        frame_->idle();
        return frame_->getImage();
    }
    cairo_surface_t* renderAll() {
        frame_->renderAll();
        return frame_->getImage();
    }
    CMouseEventResult press(CPoint where, CButtonState buttons) {
        return frame_->platformMouseDown(where, buttons);
    }

    Artwork art;
    EventLog log;

  private:
    MyFrame* frame_;
};

inline std::vector<std::string> events(std::initializer_list<const char*> list) {
    return std::vector<std::string>(list.begin(), list.end());
}

}  // namespace controlstest
