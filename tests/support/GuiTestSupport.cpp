#include "support/GuiTestSupport.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <strings.h>

#include <cstdio>
#include <cstring>

// fontconfig keeps its pattern caches for the life of the process (only a
// library-wide teardown would free them, which a plug-in must never call).
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace guitest {

namespace {

std::map<int, std::vector<unsigned char>>& numbered() {
    static std::map<int, std::vector<unsigned char>> m;
    return m;
}
std::map<std::string, std::vector<unsigned char>>& named() {
    static std::map<std::string, std::vector<unsigned char>> m;
    return m;
}

ResourceBytes byNumber(int id) {
    auto it = numbered().find(id);
    if (it == numbered().end()) return {};
    return {it->second.data(), it->second.size()};
}

ResourceBytes byName(const char* name) {
    for (auto& [key, bytes] : named())
        if (strcasecmp(key.c_str(), name) == 0) return {bytes.data(), bytes.size()};
    return {};
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<unsigned char>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

unsigned int premultiply(unsigned int argb) {
    const unsigned a = argb >> 24;
    auto ch = [a](unsigned v) { return (v * a + 127) / 255; };
    return (a << 24) | (ch((argb >> 16) & 255) << 16) | (ch((argb >> 8) & 255) << 8) |
           ch(argb & 255);
}

}  // namespace

std::vector<unsigned char> makePng(int width, int height,
                                   const std::function<unsigned int(int x, int y)>& pixel) {
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_surface_flush(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = premultiply(pixel(x, y));
            std::memcpy(data + y * stride + 4 * x, &p, 4);
        }
    cairo_surface_mark_dirty(image);
    std::vector<unsigned char> png;
    cairo_surface_write_to_png_stream(image, appendBytes, &png);
    cairo_surface_destroy(image);
    return png;
}

FakeResources::FakeResources() {
    numbered().clear();
    named().clear();
    ResourceFinder finder;
    finder.byNumber = byNumber;
    finder.byName = byName;
    setResourceFinder(finder);
}

FakeResources::~FakeResources() {
    setResourceFinder(defaultResourceFinder());
    numbered().clear();
    named().clear();
}

void FakeResources::add(int id, std::vector<unsigned char> png) { numbered()[id] = std::move(png); }
void FakeResources::add(const std::string& name, std::vector<unsigned char> png) {
    named()[name] = std::move(png);
}

cairo_surface_t* makeImage(int width, int height, unsigned int fill) {
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_surface_flush(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    const int stride = cairo_image_surface_get_stride(image);
    const std::uint32_t p = premultiply(fill);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) std::memcpy(data + y * stride + 4 * x, &p, 4);
    cairo_surface_mark_dirty(image);
    return image;
}

unsigned int rgb(cairo_surface_t* image, int x, int y) {
    return imagePixel(image, x, y) & 0xFFFFFF;
}
unsigned int alpha(cairo_surface_t* image, int x, int y) { return imagePixel(image, x, y) >> 24; }

// ---------------------------------------------------------------- ProbeView

ProbeView::ProbeView(const CRect& size, CColor c, CMouseEventResult answer)
    : CView(size), color(c), pressAnswer(answer) {}

void ProbeView::draw(CDrawContext* context) {
    ++draws;
    context->setFillColor(color);
    context->drawRect(size_, kDrawFilled);
    setDirty(false);
}

CMouseEventResult ProbeView::onMouseDown(CPoint& where, const CButtonState& buttons) {
    events.push_back("down");
    lastPoint = where;
    lastButtons = buttons;
    return pressAnswer;
}
CMouseEventResult ProbeView::onMouseUp(CPoint& where, const CButtonState& buttons) {
    events.push_back("up");
    lastPoint = where;
    lastButtons = buttons;
    return kMouseEventHandled;
}
CMouseEventResult ProbeView::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    events.push_back("moved");
    lastPoint = where;
    lastButtons = buttons;
    return kMouseEventHandled;
}
CMouseEventResult ProbeView::onMouseEntered(CPoint&, const CButtonState&) {
    events.push_back("entered");
    return kMouseEventHandled;
}
CMouseEventResult ProbeView::onMouseExited(CPoint&, const CButtonState&) {
    events.push_back("exited");
    return kMouseEventHandled;
}
bool ProbeView::onWheel(const CPoint& where, const float& distance, const CButtonState& buttons) {
    events.push_back("wheel");
    lastPoint = where;
    lastWheel = distance;
    lastButtons = buttons;
    return true;
}
std::int32_t ProbeView::onKeyDown(CKeyCode& key) {
    events.push_back("key " + std::to_string(key.virt) + " " + std::to_string(key.character));
    return keyAnswer;
}

// ---------------------------------------------------------------- waiting, threads

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

int countThreads() {
    // Sanitizer runtimes start a helper thread with the first thread a process
    // makes; make one first so counts before and after compare like for like.
    static const bool warmedUp = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmedUp;
    int count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        closedir(dir);
    }
    return count;
}

// ---------------------------------------------------------------- HostWindow

HostWindow::HostWindow(int width, int height) {
    if (std::getenv("DISPLAY") == nullptr) return;
    // A fresh connection right after another client left is now and then
    // refused by Xvfb; a few tries ride over that.
    for (int attempt = 0; attempt < 20 && display_ == nullptr; ++attempt) {
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (display_ == nullptr) {
        std::fprintf(stderr, "HostWindow: cannot open display %s\n", std::getenv("DISPLAY"));
        return;
    }
    XSetWindowAttributes attributes{};
    attributes.background_pixel = 0x202020;
    attributes.event_mask = StructureNotifyMask;
    window_ =
        XCreateWindow(display_, DefaultRootWindow(display_), 0, 0, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWBackPixel | CWEventMask, &attributes);
    XMapRaised(display_, window_);
    XSync(display_, False);
    for (;;) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MapNotify && event.xmap.window == window_) break;
    }
    // Start without focus or pointer inside, as a host window would be.
    XWarpPointer(display_, None, DefaultRootWindow(display_), 0, 0, 0, 0, width + 50, height + 50);
    XSync(display_, False);
}

HostWindow::~HostWindow() {
    if (display_ == nullptr) return;
    if (window_ != 0) XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

void HostWindow::rootPoint(Window child, int x, int y, int& rootX, int& rootY) const {
    Window ignored = 0;
    XTranslateCoordinates(display_, child, DefaultRootWindow(display_), x, y, &rootX, &rootY,
                          &ignored);
}

void HostWindow::moveTo(Window child, int x, int y) {
    int rx = 0;
    int ry = 0;
    rootPoint(child, x, y, rx, ry);
    XTestFakeMotionEvent(display_, DefaultScreen(display_), rx, ry, CurrentTime);
    XSync(display_, False);
}

void HostWindow::press(unsigned int button) {
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XSync(display_, False);
}

void HostWindow::release(unsigned int button) {
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

void HostWindow::click(Window child, int x, int y, unsigned int button) {
    moveTo(child, x, y);
    press(button);
    release(button);
}

void HostWindow::typeKey(unsigned long keysym, bool shift) {
    const KeyCode code = XKeysymToKeycode(display_, keysym);
    const KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
    if (shift) XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
    XSync(display_, False);
}

void HostWindow::typeText(const char* text) {
    for (const char* p = text; *p != 0; ++p) {
        const char c = *p;
        unsigned long sym = static_cast<unsigned char>(c);
        bool shift = false;
        if (c == '.') sym = XK_period;
        if (c == '-') sym = XK_minus;
        if (c == ' ') sym = XK_space;
        if (c == '/') sym = XK_slash;
        if (c >= 'A' && c <= 'Z') {
            shift = true;
            sym = static_cast<unsigned long>(c - 'A' + 'a');
        }
        typeKey(sym, shift);
    }
}

std::vector<Window> HostWindow::children() const {
    Window root = 0;
    Window parent = 0;
    Window* list = nullptr;
    unsigned int count = 0;
    std::vector<Window> out;
    if (XQueryTree(display_, window_, &root, &parent, &list, &count) != 0) {
        out.assign(list, list + count);
        if (list != nullptr) XFree(list);
    }
    return out;
}

}  // namespace guitest
