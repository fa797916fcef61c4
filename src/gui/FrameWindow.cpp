#include "gui/FrameWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gui/CDrawContext.h"
#include "gui/CFrame.h"
#include "gui/PopupClient.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace VSTGUI {

namespace {

constexpr auto kTimerPeriod = std::chrono::milliseconds(50);

// The frame whose window this thread runs (nullptr on every other thread).
thread_local const CFrame* frameOfThisThread = nullptr;

// Threads of frames forgotten in a callback of their own thread. Such a thread
// deletes its frame after its loop and cannot join itself: it hands its
// std::thread here and a host thread joins it (joinEndedFrameThreads), so no
// code of the library runs once the host has closed the effect.
struct EndingThreads {
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0;  // announced, not handed over yet
    std::vector<std::thread> ended;
};
EndingThreads& endingThreads() {
    static EndingThreads threads;
    return threads;
}
constexpr auto kEndingThreadWait = std::chrono::seconds(2);
constexpr long kDoubleClickMs = 400;
constexpr CCoord kDoubleClickDistance = 4;

// ------------------------------------------------------------------ X error handling
//
// Xlib's error handlers are process-wide and shared with the host. While any
// frame is open ours is installed: it swallows errors of our own connections
// (recording them) and hands every other error to the handler that was there
// before. It is removed again when the last frame closes, so unloading the
// library never leaves the host calling into unmapped code.

struct DisplayRecord {
    Display* display;
    bool failed;  // an X error was reported for a request of ours
    bool dead;    // the connection broke
};

std::mutex& registryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<DisplayRecord>& registry() {
    static std::vector<DisplayRecord> records;
    return records;
}
int handlerUsers = 0;  // guarded by registryMutex
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIOErrorHandler = nullptr;

DisplayRecord* findRecord(Display* display) {
    for (DisplayRecord& r : registry())
        if (r.display == display) return &r;
    return nullptr;
}

int onXError(Display* display, XErrorEvent* event) {
    XErrorHandler chained = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        if (DisplayRecord* r = findRecord(display)) {
            r->failed = true;
            return 0;
        }
        chained = previousErrorHandler;
    }
    return chained != nullptr ? chained(display, event) : 0;
}

int onXIOError(Display* display) {
    XIOErrorHandler chained = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex());
        if (DisplayRecord* r = findRecord(display)) {
            r->dead = true;
            return 0;
        }
        chained = previousIOErrorHandler;
    }
    return chained != nullptr ? chained(display) : 0;
}

// Replaces Xlib's exit() after a broken connection of ours: the host lives on.
void onXIOErrorExit(Display* display, void*) {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (DisplayRecord* r = findRecord(display)) r->dead = true;
}

void installHandlers() {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (handlerUsers++ == 0) {
        previousErrorHandler = XSetErrorHandler(onXError);
        previousIOErrorHandler = XSetIOErrorHandler(onXIOError);
    }
}

void removeHandlers() {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (--handlerUsers != 0) return;
    // Put back what was there; if someone installed a handler over ours, leave
    // theirs in place rather than cutting their chain.
    XErrorHandler current = XSetErrorHandler(previousErrorHandler);
    if (current != onXError) XSetErrorHandler(current);
    XIOErrorHandler currentIO = XSetIOErrorHandler(previousIOErrorHandler);
    if (currentIO != onXIOError) XSetIOErrorHandler(currentIO);
    previousErrorHandler = nullptr;
    previousIOErrorHandler = nullptr;
}

void registerDisplay(Display* display) {
    std::lock_guard<std::mutex> lock(registryMutex());
    registry().push_back({display, false, false});
}

void unregisterDisplay(Display* display) {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto& records = registry();
    records.erase(
        std::remove_if(records.begin(), records.end(),
                       [display](const DisplayRecord& r) { return r.display == display; }),
        records.end());
}

bool takeFailure(Display* display) {
    std::lock_guard<std::mutex> lock(registryMutex());
    DisplayRecord* r = findRecord(display);
    if (r == nullptr) return true;
    const bool failed = r->failed || r->dead;
    r->failed = false;
    return failed;
}

bool isDead(Display* display) {
    std::lock_guard<std::mutex> lock(registryMutex());
    DisplayRecord* r = findRecord(display);
    return r == nullptr || r->dead;
}

void markDead(Display* display) {
    std::lock_guard<std::mutex> lock(registryMutex());
    if (DisplayRecord* r = findRecord(display)) r->dead = true;
}

Display* asDisplay(void* p) { return static_cast<Display*>(p); }

CButtonState buttonBit(unsigned int button) {
    switch (button) {
        case Button1:
            return kLButton;
        case Button2:
            return kMButton;
        case Button3:
            return kRButton;
        case 8:
            return kButton4;
        case 9:
            return kButton5;
        default:
            return 0;
    }
}

CButtonState heldButtons(unsigned int state) {
    CButtonState b = 0;
    if ((state & Button1Mask) != 0) b |= kLButton;
    if ((state & Button2Mask) != 0) b |= kMButton;
    if ((state & Button3Mask) != 0) b |= kRButton;
    return b;
}

// Visuals whose pixels are cairo's ARGB32 words: 24- or 32-bit TrueColor with
// red, green and blue in bits 23..16, 15..8, 7..0. Those get the image with a
// plain XPutImage as it is; any other visual gets it converted first.
bool isDirectVisual(const XWindowAttributes& attributes) {
    const Visual* v = attributes.visual;
    return v != nullptr && v->c_class == TrueColor &&
           (attributes.depth == 24 || attributes.depth == 32) && v->red_mask == 0xFF0000 &&
           v->green_mask == 0x00FF00 && v->blue_mask == 0x0000FF;
}

// Visuals whose pixels the toolkit can compute from the colour masks alone.
// Below 15 bits (3-3-2 TrueColor) the picture would be too coarse to use;
// PseudoColor and the grey classes would need a palette.
bool isMaskVisual(const Visual* visual, int depth) {
    return visual != nullptr && (visual->c_class == TrueColor || visual->c_class == DirectColor) &&
           depth >= 15 && visual->red_mask != 0 && visual->green_mask != 0 &&
           visual->blue_mask != 0;
}

// A TrueColor visual of `screen` for a window whose parent's visual is not a
// mask visual; 24 bits first, whose pixels need no conversion.
bool findMaskVisual(Display* display, int screen, XVisualInfo* found) {
    for (const int depth : {24, 32, 16, 15})
        if (XMatchVisualInfo(display, screen, depth, TrueColor, found) != 0 &&
            isMaskVisual(found->visual, found->depth))
            return true;
    return false;
}

// What a window made with the choice below needs in XCreateWindow.
struct VisualChoice {
    Visual* visual = nullptr;  // nullptr: CopyFromParent
    int depth = CopyFromParent;
    Colormap colormap = 0;  // created for `visual`; the window's owner frees it
};

// Picks the visual for a window under a parent of `parentVisual`: the
// parent's own when the toolkit can fill it, else a TrueColor visual of the
// screen with a colormap of its own. False (with one line on stderr) when the
// screen has none.
bool chooseVisual(Display* display, int screen, const Visual* parentVisual, int parentDepth,
                  VisualChoice* choice) {
    *choice = VisualChoice{};
    if (isMaskVisual(parentVisual, parentDepth)) return true;
    XVisualInfo info{};
    if (!findMaskVisual(display, screen, &info)) {
        std::fprintf(stderr,
                     "Tarvel Quolt: the X screen has no TrueColor visual of 15 bits or more; "
                     "the editor window stays closed\n");
        return false;
    }
    choice->visual = info.visual;
    choice->depth = info.depth;
    choice->colormap =
        XCreateColormap(display, RootWindow(display, screen), info.visual, AllocNone);
    return true;
}

// Lets XCreateWindow use `choice`: a visual other than the parent's needs its
// own colormap and a border pixel, or the server refuses the window.
unsigned long applyVisualChoice(const VisualChoice& choice, XSetWindowAttributes* attributes) {
    if (choice.visual == nullptr) return 0;
    attributes->colormap = choice.colormap;
    attributes->border_pixel = 0;
    return CWColormap | CWBorderPixel;
}

bool isLittleEndianHost() {
    const std::uint32_t probe = 1;
    return *reinterpret_cast<const unsigned char*>(&probe) == 1;
}

}  // namespace

// The frame's ARGB32 words to the pixels of a visual that is not ARGB32: each
// 8-bit channel has a table of the bits it sets in a pixel, built once per
// window from the visual's masks, so any TrueColor or DirectColor layout
// (5-6-5, 5-5-5, BGR, 10 bits a channel) is one lookup and two ORs a pixel.
struct PixelConverter {
    explicit PixelConverter(const Visual& visual) {
        fillTable(red, visual.red_mask);
        fillTable(green, visual.green_mask);
        fillTable(blue, visual.blue_mask);
    }
    std::uint32_t pixel(std::uint32_t argb) const {
        return red[(argb >> 16) & 0xFF] | green[(argb >> 8) & 0xFF] | blue[argb & 0xFF];
    }
    std::uint32_t red[256];
    std::uint32_t green[256];
    std::uint32_t blue[256];
    // Converted pixels on their way to XPutImage; kept to spare an allocation a paint.
    std::vector<std::uint32_t> scratch;

  private:
    static void fillTable(std::uint32_t (&table)[256], unsigned long mask) {
        const int shift = mask != 0 ? std::countr_zero(mask) : 0;
        const int bits = std::popcount(mask);
        for (std::uint32_t v = 0; v < 256; ++v) {
            std::uint32_t value = 0;
            if (bits <= 8) {
                // The top bits of the channel, as a truncating 8-to-n conversion does.
                value = v >> (8 - bits);
            } else {
                // Wider channels: full scale stays full scale.
                const std::uint32_t top = (1u << bits) - 1;
                value = (v * top + 127) / 255;
            }
            table[v] =
                static_cast<std::uint32_t>((static_cast<unsigned long>(value) << shift) & mask);
        }
    }
};

namespace {

// Copies `area` of `image` to the same place of `window`: the image's own
// memory on an ARGB32 visual (`pixels` nullptr), else converted pixels.
void putImageArea(Display* display, Window window, GC gc, const XWindowAttributes& attributes,
                  PixelConverter* pixels, cairo_surface_t* image, const CRect& wanted) {
    cairo_surface_flush(image);
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    const CRect area(std::max<CCoord>(0, wanted.left), std::max<CCoord>(0, wanted.top),
                     std::min<CCoord>(width, wanted.right),
                     std::min<CCoord>(height, wanted.bottom));
    if (area.width() <= 0 || area.height() <= 0) return;
    const int stride = cairo_image_surface_get_stride(image);
    unsigned char* data = cairo_image_surface_get_data(image);
    // cairo's words are in this machine's byte order, and so are the converted
    // pixels; Xlib swaps if the server's differs.
    const int byteOrder = isLittleEndianHost() ? LSBFirst : MSBFirst;
    if (pixels == nullptr) {
        XImage* ximage =
            XCreateImage(display, attributes.visual, static_cast<unsigned>(attributes.depth),
                         ZPixmap, 0, reinterpret_cast<char*>(data), static_cast<unsigned>(width),
                         static_cast<unsigned>(height), 32, stride);
        if (ximage == nullptr) return;
        ximage->byte_order = byteOrder;
        XPutImage(display, window, gc, ximage, area.left, area.top, area.left, area.top,
                  static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()));
        ximage->data = nullptr;  // cairo's memory
        XDestroyImage(ximage);
        return;
    }
    // Only the area is converted: an image of its size, laid out as Xlib
    // wants it for this depth (bits per pixel and row length).
    const int w = area.width();
    const int h = area.height();
    XImage* ximage =
        XCreateImage(display, attributes.visual, static_cast<unsigned>(attributes.depth), ZPixmap,
                     0, nullptr, static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
    if (ximage == nullptr) return;
    ximage->byte_order = byteOrder;
    const std::size_t bytes = static_cast<std::size_t>(ximage->bytes_per_line) * h;
    pixels->scratch.resize((bytes + 3) / 4);
    auto* out = reinterpret_cast<unsigned char*>(pixels->scratch.data());
    ximage->data = reinterpret_cast<char*>(out);
    for (int y = 0; y < h; ++y) {
        const auto* row =
            reinterpret_cast<const std::uint32_t*>(data + (area.top + y) * stride) + area.left;
        unsigned char* line = out + static_cast<std::size_t>(y) * ximage->bytes_per_line;
        if (ximage->bits_per_pixel == 16) {
            for (int x = 0; x < w; ++x) {
                const auto value = static_cast<std::uint16_t>(pixels->pixel(row[x]));
                std::memcpy(line + 2 * x, &value, 2);
            }
        } else if (ximage->bits_per_pixel == 32) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t value = pixels->pixel(row[x]);
                std::memcpy(line + 4 * x, &value, 4);
            }
        } else {
            // Packed 24-bit pixels and other rare layouts: Xlib places them.
            for (int x = 0; x < w; ++x) XPutPixel(ximage, x, y, pixels->pixel(row[x]));
        }
    }
    XPutImage(display, window, gc, ximage, 0, 0, area.left, area.top, static_cast<unsigned>(w),
              static_cast<unsigned>(h));
    ximage->data = nullptr;  // the scratch buffer
    XDestroyImage(ximage);
}

}  // namespace

CButtonState translateX11Modifiers(unsigned int state) {
    CButtonState b = 0;
    if ((state & ShiftMask) != 0) b |= kShift;
    if ((state & ControlMask) != 0) b |= kControl;
    if ((state & Mod1Mask) != 0) b |= kAlt;
    return b;
}

CKeyCode translateX11Key(unsigned long keysym, const char* latin1, unsigned int state) {
    CKeyCode key;
    if ((state & ShiftMask) != 0) key.modifier |= MODIFIER_SHIFT;
    if ((state & Mod1Mask) != 0) key.modifier |= MODIFIER_ALTERNATE;
    if ((state & ControlMask) != 0) key.modifier |= MODIFIER_CONTROL;
    struct Entry {
        unsigned long sym;
        VirtualKey virt;
    };
    static constexpr Entry table[] = {
        {XK_BackSpace, VKEY_BACK},
        {XK_Tab, VKEY_TAB},
        {XK_ISO_Left_Tab, VKEY_TAB},
        {XK_Clear, VKEY_CLEAR},
        {XK_Return, VKEY_RETURN},
        {XK_Pause, VKEY_PAUSE},
        {XK_Escape, VKEY_ESCAPE},
        {XK_space, VKEY_SPACE},
        {XK_Next, VKEY_NEXT},
        {XK_End, VKEY_END},
        {XK_Home, VKEY_HOME},
        {XK_Left, VKEY_LEFT},
        {XK_Up, VKEY_UP},
        {XK_Right, VKEY_RIGHT},
        {XK_Down, VKEY_DOWN},
        {XK_Prior, VKEY_PAGEUP},
        {XK_KP_Prior, VKEY_PAGEUP},
        {XK_KP_Next, VKEY_PAGEDOWN},
        {XK_Select, VKEY_SELECT},
        {XK_Print, VKEY_PRINT},
        {XK_KP_Enter, VKEY_ENTER},
        {XK_Insert, VKEY_INSERT},
        {XK_Delete, VKEY_DELETE},
        {XK_KP_Delete, VKEY_DELETE},
        {XK_Help, VKEY_HELP},
        {XK_KP_Home, VKEY_HOME},
        {XK_KP_End, VKEY_END},
        {XK_KP_Left, VKEY_LEFT},
        {XK_KP_Up, VKEY_UP},
        {XK_KP_Right, VKEY_RIGHT},
        {XK_KP_Down, VKEY_DOWN},
        {XK_KP_Multiply, VKEY_MULTIPLY},
        {XK_KP_Add, VKEY_ADD},
        {XK_KP_Separator, VKEY_SEPARATOR},
        {XK_KP_Subtract, VKEY_SUBTRACT},
        {XK_KP_Decimal, VKEY_DECIMAL},
        {XK_KP_Divide, VKEY_DIVIDE},
        {XK_Num_Lock, VKEY_NUMLOCK},
        {XK_Scroll_Lock, VKEY_SCROLL},
        {XK_Shift_L, VKEY_SHIFT},
        {XK_Shift_R, VKEY_SHIFT},
        {XK_Control_L, VKEY_CONTROL},
        {XK_Control_R, VKEY_CONTROL},
        {XK_Alt_L, VKEY_ALT},
        {XK_Alt_R, VKEY_ALT},
        {XK_KP_Equal, VKEY_EQUALS},
    };
    for (const Entry& e : table) {
        if (e.sym == keysym) {
            key.virt = static_cast<unsigned char>(e.virt);
            break;
        }
    }
    if (key.virt == 0 && keysym >= XK_F1 && keysym <= XK_F12)
        key.virt = static_cast<unsigned char>(VKEY_F1 + (keysym - XK_F1));
    if (key.virt == 0 && keysym >= XK_KP_0 && keysym <= XK_KP_9)
        key.virt = static_cast<unsigned char>(VKEY_NUMPAD0 + (keysym - XK_KP_0));
    if (key.virt == VKEY_SPACE) key.character = ' ';
    if (key.virt == 0 || (key.virt >= VKEY_NUMPAD0 && key.virt <= VKEY_DIVIDE)) {
        const unsigned char c = latin1 != nullptr ? static_cast<unsigned char>(latin1[0])
                                                  : static_cast<unsigned char>(0);
        if (c >= 32 && c != 127) key.character = c;
    }
    return key;
}

// ------------------------------------------------------------------ FrameWindow

FrameWindow::FrameWindow(CFrame& frame) : frame_(frame) {}

FrameWindow::~FrameWindow() {
    close();
    if (wakeFd_ >= 0) ::close(wakeFd_);  // left open by a close on the window thread
}

void FrameWindow::setOpenState(OpenState state) {
    {
        std::lock_guard<std::mutex> lock(openMutex_);
        openState_ = state;
    }
    openCondition_.notify_all();
}

bool FrameWindow::open(unsigned long parent, CCoord width, CCoord height, const char* displayName) {
    if (thread_.joinable()) return isOpen();
    joinEndedFrameThreads();
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) return false;
    installHandlers();
    quit_ = false;
    openState_ = kPending;
    thread_ = std::thread(&FrameWindow::threadMain, this, parent, width, height, displayName);
    std::unique_lock<std::mutex> lock(openMutex_);
    openCondition_.wait(lock, [this] { return openState_ != kPending; });
    const bool ok = openState_ == kOpen;
    lock.unlock();
    if (!ok) close();
    return ok;
}

void FrameWindow::close() {
    if (isWindowThread()) {
        // Closed from a callback on our own thread: the loop ends when the
        // callback returns and the thread tidies up after it. It cannot wait for
        // itself; whoever deletes this joins it (or it is handed on when the
        // thread deletes the frame itself, deleteFrameWhenDone).
        quit_ = true;
        openState_ = kFailed;
        return;
    }
    if (thread_.joinable()) {
        quit_ = true;
        wake();
        thread_.join();
        removeHandlers();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    openState_ = kFailed;
}

void FrameWindow::wake() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void FrameWindow::setLive() {
    if (!live_.exchange(true)) {
        repaintRequested_ = true;
        wake();
    }
}

void FrameWindow::requestRepaint() {
    if (!repaintRequested_.exchange(true)) wake();
}

void FrameWindow::requestIdle() {
    if (!idleRequested_.exchange(true)) wake();
}

void FrameWindow::requestInputFocus() {
    focusRequest_ = 1;
    if (isWindowThread()) {
        applyFocusRequest();
    } else {
        wake();
    }
}

void FrameWindow::releaseInputFocus() {
    focusRequest_ = 2;
    if (isWindowThread()) {
        applyFocusRequest();
    } else {
        wake();
    }
}

bool isThreadOfFrame(const CFrame* frame) { return frame != nullptr && frameOfThisThread == frame; }

void joinEndedFrameThreads() {
    if (frameOfThisThread != nullptr) return;  // a frame's thread cannot wait for itself
    EndingThreads& threads = endingThreads();
    std::vector<std::thread> ended;
    {
        std::unique_lock<std::mutex> lock(threads.mutex);
        threads.changed.wait_for(lock, kEndingThreadWait, [&] { return threads.running == 0; });
        ended.swap(threads.ended);
    }
    for (std::thread& thread : ended) thread.join();
}

void FrameWindow::deleteFrameWhenDone() {
    if (!isWindowThread() || deleteFrameWhenDone_) return;
    deleteFrameWhenDone_ = true;
    quit_ = true;
    EndingThreads& threads = endingThreads();
    std::lock_guard<std::mutex> lock(threads.mutex);
    ++threads.running;
}

void FrameWindow::threadMain(unsigned long parent, CCoord width, CCoord height,
                             const char* displayName) {
    threadId_ = std::this_thread::get_id();
    frameOfThisThread = &frame_;
    // A name of its own in the host's thread lists and in profiles.
    pthread_setname_np(pthread_self(), "tq-editor");
    if (!createWindow(parent, width, height, displayName)) {
        destroyWindow();
        setOpenState(kFailed);
        return;
    }
    setOpenState(kOpen);
    nextTick_ = std::chrono::steady_clock::now() + kTimerPeriod;
    runLoop(nullptr);
    {
        std::unique_lock<std::recursive_timed_mutex> lock(frame_.getViewLock());
        if (popup_ != nullptr) closePopup();
        // After the pop-up: a path box owned by a watch must be closed before its owner dies.
        closeChildWatches();
        destroyWindow();
    }
    if (!deleteFrameWhenDone_) return;
    // The frame was forgotten in a callback of this thread: delete it now that
    // nothing of it is on the stack. Its destructor deletes this FrameWindow,
    // so no member is touched after the forget.
    removeHandlers();
    {
        EndingThreads& threads = endingThreads();
        std::lock_guard<std::mutex> lock(threads.mutex);
        threads.ended.push_back(std::move(thread_));
        --threads.running;
    }
    endingThreads().changed.notify_all();
    CFrame& frame = frame_;
    frame.CBaseObject::forget();  // the last reference; CFrame::forget would defer again
}

bool FrameWindow::createWindow(unsigned long parent, CCoord width, CCoord height,
                               const char* displayName) {
    Display* display = XOpenDisplay(displayName);
    if (display == nullptr) return false;
    display_ = display;
    registerDisplay(display);
    XSetIOErrorExitHandler(display, onXIOErrorExit, nullptr);
    width_ = std::max<CCoord>(1, width);
    height_ = std::max<CCoord>(1, height);

    XWindowAttributes parentAttributes;
    if (parent == 0 || XGetWindowAttributes(display, parent, &parentAttributes) == 0 ||
        takeFailure(display))
        return false;

    // The frame's picture needs a visual with colour masks; the host's window
    // may have another (an 8-bit PseudoColor screen).
    VisualChoice choice;
    if (!chooseVisual(display, XScreenNumberOfScreen(parentAttributes.screen),
                      parentAttributes.visual, parentAttributes.depth, &choice))
        return false;
    windowColormap_ = choice.colormap;
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            EnterWindowMask | LeaveWindowMask | KeyPressMask | KeyReleaseMask |
                            FocusChangeMask | StructureNotifyMask | VisibilityChangeMask;
    const unsigned long visualMask = applyVisualChoice(choice, &attributes);
    const Window window =
        XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(width_),
                      static_cast<unsigned>(height_), 0, choice.depth, InputOutput, choice.visual,
                      CWBackPixmap | CWEventMask | visualMask, &attributes);
    XSync(display, False);
    if (window == 0 || takeFailure(display)) return false;
    window_ = window;
    parent_ = parent;
    parentMapped_ = parentAttributes.map_state != IsUnmapped;
    // Our own interest in the host's window: whether it is shown (this
    // connection's event mask only; the host's selections are untouched).
    XSelectInput(display, parent, StructureNotifyMask);
    XStoreName(display, window, "Window");
    XMapWindow(display, window);
    XSync(display, False);
    if (takeFailure(display)) return false;

    auto* own = new XWindowAttributes{};
    windowAttributes_ = own;
    if (XGetWindowAttributes(display, window, own) == 0 || takeFailure(display)) return false;
    windowGC_ = XCreateGC(display, window, 0, nullptr);
    if (!isDirectVisual(*own)) windowPixels_ = std::make_unique<PixelConverter>(*own->visual);
    windowId_ = window;
    return true;
}

void FrameWindow::destroyWindow() {
    Display* display = asDisplay(display_);
    if (display != nullptr && isDead(display)) {
        // The server is gone: any further Xlib or cairo-xlib call may spin on the
        // broken connection. Leave the connection's memory and the surface
        // behind (a few kilobytes), close the socket, and never touch them again.
        ::close(ConnectionNumber(display));
        unregisterDisplay(display);
#if defined(__SANITIZE_ADDRESS__)
        __lsan_ignore_object(display);
        if (windowGC_ != nullptr) __lsan_ignore_object(windowGC_);
#endif
        windowGC_ = nullptr;
        windowPixels_.reset();
        windowColormap_ = 0;  // went with the server
        delete static_cast<XWindowAttributes*>(windowAttributes_);
        windowAttributes_ = nullptr;
        window_ = 0;
        windowId_ = 0;
        display_ = nullptr;
        return;
    }
    windowPixels_.reset();
    delete static_cast<XWindowAttributes*>(windowAttributes_);
    windowAttributes_ = nullptr;
    if (display == nullptr) return;
    if (windowGC_ != nullptr) XFreeGC(display, static_cast<GC>(windowGC_));
    windowGC_ = nullptr;
    {
        if (haveFocus_) {
            focusRequest_ = 2;
            applyFocusRequest();
        }
        if (window_ != 0) XDestroyWindow(display, window_);
        if (windowColormap_ != 0) XFreeColormap(display, windowColormap_);
        XSync(display, False);
    }
    window_ = 0;
    windowId_ = 0;
    windowColormap_ = 0;
    // Nothing but Xlib knows this connection (no cairo-xlib surface ever made
    // on it), so closing it swaps no process-wide error handler.
    XCloseDisplay(display);
    unregisterDisplay(display);
    display_ = nullptr;
}

void FrameWindow::waitForWork(std::chrono::steady_clock::time_point deadline) {
    Display* display = asDisplay(display_);
    const bool dead = isDead(display);
    if (!dead) {
        XFlush(display);
        if (XPending(display) > 0) return;
    }
    const auto now = std::chrono::steady_clock::now();
    int timeout = 0;
    if (deadline > now)
        timeout = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
    std::vector<pollfd> fds;
    fds.push_back({wakeFd_, POLLIN, 0});
    if (!dead && !isDead(display)) fds.push_back({ConnectionNumber(display), POLLIN, 0});
    const std::size_t count = fds.size();
    // Child watches' pipes wake the loop too; runLoop services them.
    for (const ChildWatchEntry& entry : childWatches_)
        if (entry.watch->watchFd() >= 0) fds.push_back({entry.watch->watchFd(), POLLIN, 0});
    if (::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeout) > 0) {
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &value, sizeof value);
        }
        if (count > 1 && (fds[1].revents & (POLLHUP | POLLERR)) != 0) markDead(display);
    }
}

void FrameWindow::runLoop(PopupClient* modalClient) {
    Display* display = asDisplay(display_);
    while (!quit_) {
        if (modalClient != nullptr && popup_ != modalClient) return;
        waitForWork(nextTick_);
        if (quit_) return;
        std::unique_lock<std::recursive_timed_mutex> lock(frame_.getViewLock());
        if (!isDead(display)) {
            while (XPending(display) > 0 && !isDead(display)) {
                XEvent event;
                XNextEvent(display, &event);
                if (popup_ != nullptr && event.xany.window == popupWindow_) {
                    handlePopupEvent(&event);
                } else if (event.xany.window == window_) {
                    handleEvent(&event);
                } else if (event.xany.window == parent_) {
                    if (event.type == MapNotify) parentMapped_ = true;
                    if (event.type == UnmapNotify) parentMapped_ = false;
                }
                if (quit_) return;
            }
        }
        serviceChildWatches();
        if (quit_) return;
        if (isDead(display)) {
            // The server went away: keep the host alive and wait to be closed.
            if (popup_ != nullptr) {
                PopupClient* client = popup_;
                popup_ = nullptr;
                popupWindow_ = 0;
                popupGC_ = nullptr;  // left behind with the dead connection
                popupColormap_ = 0;
                popupPixels_.reset();
                delete static_cast<XWindowAttributes*>(popupAttributes_);
                popupAttributes_ = nullptr;
                client->popupClosed();
            }
            nextTick_ = std::chrono::steady_clock::now() + std::chrono::hours(1);
            continue;
        }
        applyFocusRequest();
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextTick_) {
            nextTick_ += kTimerPeriod;
            if (nextTick_ <= now) nextTick_ = now + kTimerPeriod;
            if (live_) frame_.platformTimer();
        }
        // A host's idle call from its own thread: the editor's idle runs here.
        if (idleRequested_.exchange(false) && live_) frame_.platformTimer();
        if (live_) {
            repaintRequested_ = false;
            paintWindow();
        }
        if (popup_ != nullptr) {
            if (popup_->popupFinished()) {
                closePopup();
            } else if (popup_->popupNeedsRedraw()) {
                paintPopup();
            }
        }
    }
}

void FrameWindow::paintWindow() {
    // Nothing is drawn while it cannot be seen; the damage waits for the
    // Expose that follows showing the window again.
    if (!mapped_ || !parentMapped_ || fullyObscured_) return;
    frame_.paintDamage();
    // Also what another thread painted into the image (a headless render).
    const std::vector<CRect> damage = frame_.takePaintedAreas();
    if (damage.empty()) return;
    cairo_surface_t* image = frame_.getImage();
    if (image == nullptr) return;
    if (windowGC_ == nullptr) return;
    for (const CRect& area : damage)
        putImageArea(asDisplay(display_), window_, static_cast<GC>(windowGC_),
                     *static_cast<XWindowAttributes*>(windowAttributes_), windowPixels_.get(),
                     image, area);
}

void FrameWindow::handleEvent(void* xevent) {
    XEvent& event = *static_cast<XEvent*>(xevent);
    switch (event.type) {
        case Expose: {
            const XExposeEvent& e = event.xexpose;
            frame_.invalidateFrameRect(CRect(e.x, e.y, e.x + e.width, e.y + e.height));
            break;
        }
        case MapNotify:
            mapped_ = true;
            frame_.invalidateFrameRect(CRect(0, 0, width_, height_));
            break;
        case UnmapNotify:
            mapped_ = false;
            break;
        case VisibilityNotify:
            fullyObscured_ = event.xvisibility.state == VisibilityFullyObscured;
            break;
        case ButtonPress: {
            if (!live_) break;
            const XButtonEvent& e = event.xbutton;
            const CPoint where(e.x, e.y);
            const CButtonState modifiers = translateX11Modifiers(e.state);
            if (e.button >= 4 && e.button <= 7) {
                const bool vertical = e.button <= 5;
                const float notches = (e.button == 4 || e.button == 6) ? 1.0f : -1.0f;
                frame_.platformWheel(where, vertical ? kMouseWheelAxisY : kMouseWheelAxisX,
                                     vertical ? notches : -notches, modifiers);
                break;
            }
            CButtonState buttons = buttonBit(e.button) | heldButtons(e.state) | modifiers;
            const long time = static_cast<long>(e.time);
            if (e.button == lastPressButton_ && time - lastPressTime_ < kDoubleClickMs &&
                std::abs(where.h - lastPressPoint_.h) <= kDoubleClickDistance &&
                std::abs(where.v - lastPressPoint_.v) <= kDoubleClickDistance) {
                buttons |= kDoubleClick;
                lastPressButton_ = 0;
            } else {
                lastPressButton_ = e.button;
                lastPressTime_ = time;
                lastPressPoint_ = where;
            }
            // A press is the user turning to the editor: keys typed now (arrows on
            // a knob) must come here, not to whatever window had the focus.
            if (!haveFocus_) {
                focusRequest_ = 1;
                applyFocusRequest();
                focusTakenByPress_ = true;
            }
            frame_.platformMouseDown(where, buttons);
            break;
        }
        case ButtonRelease: {
            if (!live_) break;
            const XButtonEvent& e = event.xbutton;
            if (e.button >= 4 && e.button <= 7) break;
            // The state still holds the released button; report what stays down.
            const CButtonState buttons =
                (heldButtons(e.state) & ~buttonBit(e.button)) | translateX11Modifiers(e.state);
            frame_.platformMouseUp(CPoint(e.x, e.y), buttons);
            break;
        }
        case MotionNotify: {
            if (!live_) break;
            // Only moves that follow one another directly are merged: reaching past
            // a press or a release would reorder the drag around it.
            Display* display = asDisplay(display_);
            XEvent latest = event;
            while (XEventsQueued(display, QueuedAlready) > 0) {
                XEvent next;
                XPeekEvent(display, &next);
                if (next.type != MotionNotify || next.xany.window != window_) break;
                XNextEvent(display, &latest);
            }
            const XMotionEvent& e = latest.xmotion;
            frame_.platformMouseMoved(CPoint(e.x, e.y),
                                      heldButtons(e.state) | translateX11Modifiers(e.state));
            break;
        }
        case EnterNotify: {
            if (!live_) break;
            const XCrossingEvent& e = event.xcrossing;
            frame_.platformMouseMoved(CPoint(e.x, e.y),
                                      heldButtons(e.state) | translateX11Modifiers(e.state));
            break;
        }
        case LeaveNotify:
            if (live_ && event.xcrossing.mode == NotifyNormal) {
                frame_.platformMouseExited();
                // The focus a press took goes back once the pointer leaves, unless
                // the user is still typing into an edit box or still dragging.
                if (focusTakenByPress_ && haveFocus_ && heldButtons(event.xcrossing.state) == 0 &&
                    frame_.getActiveTextEdit() == nullptr) {
                    focusRequest_ = 2;
                    applyFocusRequest();
                }
            }
            break;
        case KeyPress:
        case KeyRelease: {
            if (!live_) break;
            char text[8] = {};
            KeySym keysym = 0;
            XLookupString(&event.xkey, text, sizeof text - 1, &keysym, nullptr);
            CKeyCode key = translateX11Key(keysym, text, event.xkey.state);
            if (event.type == KeyPress) {
                frame_.onKeyDown(key);
            } else {
                frame_.onKeyUp(key);
            }
            break;
        }
        case FocusIn:
            if (event.xfocus.detail != NotifyPointer) haveFocus_ = true;
            break;
        case FocusOut:
            if (event.xfocus.mode == NotifyGrab || event.xfocus.mode == NotifyUngrab) break;
            if (event.xfocus.detail == NotifyInferior || event.xfocus.detail == NotifyPointer)
                break;
            haveFocus_ = false;
            focusTakenByPress_ = false;
            if (live_) frame_.platformFocusLost();
            break;
        default:
            break;
    }
}

void FrameWindow::applyFocusRequest() {
    const int request = focusRequest_.exchange(0);
    Display* display = asDisplay(display_);
    if (request == 0 || display == nullptr || window_ == 0 || isDead(display)) return;
    if (request == 1) {
        Window current = 0;
        int revert = 0;
        XGetInputFocus(display, &current, &revert);
        if (current != window_) savedFocus_ = current;
        XSetInputFocus(display, window_, RevertToParent, CurrentTime);
        haveFocus_ = true;
    } else {
        Window current = 0;
        int revert = 0;
        XGetInputFocus(display, &current, &revert);
        if (current == window_) {
            // The window that had the focus before may be gone: the error is ours
            // and harmless; fall back to the root window's default.
            const Window target = savedFocus_ > PointerRoot ? savedFocus_ : PointerRoot;
            XSetInputFocus(display, target, RevertToParent, CurrentTime);
            XSync(display, False);
            if (takeFailure(display))
                XSetInputFocus(display, PointerRoot, RevertToParent, CurrentTime);
        }
        haveFocus_ = false;
        savedFocus_ = 0;
        focusTakenByPress_ = false;
    }
    XFlush(display);
}

// ------------------------------------------------------------------ pop-ups

bool FrameWindow::openPopup(PopupClient* client, const CPoint& whereInFrame) {
    Display* display = asDisplay(display_);
    if (client == nullptr || display == nullptr || window_ == 0 || isDead(display)) return false;
    if (popup_ != nullptr) closePopup();
    popupWidth_ = std::max<CCoord>(1, client->popupWidth());
    popupHeight_ = std::max<CCoord>(1, client->popupHeight());
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window_, root, whereInFrame.h, whereInFrame.v, &x, &y, &child);
    // Keep the whole pop-up on the screen.
    const int screenWidth = DisplayWidth(display, screen);
    const int screenHeight = DisplayHeight(display, screen);
    x = std::max(0, std::min(x, screenWidth - popupWidth_));
    y = std::max(0, std::min(y, screenHeight - popupHeight_));

    // The pop-up is a child of the root window: the same choice of visual as
    // for the frame's window, against the screen's default visual.
    VisualChoice choice;
    if (!chooseVisual(display, screen, DefaultVisual(display, screen),
                      DefaultDepth(display, screen), &choice))
        return false;
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | StructureNotifyMask;
    const unsigned long visualMask = applyVisualChoice(choice, &attributes);
    const Window popup = XCreateWindow(
        display, root, x, y, static_cast<unsigned>(popupWidth_),
        static_cast<unsigned>(popupHeight_), 0, choice.depth, InputOutput, choice.visual,
        CWOverrideRedirect | CWBackPixmap | CWEventMask | visualMask, &attributes);
    XMapRaised(display, popup);
    XSync(display, False);
    if (takeFailure(display)) {
        if (popup != 0) XDestroyWindow(display, popup);
        if (choice.colormap != 0) XFreeColormap(display, choice.colormap);
        return false;
    }
    popupColormap_ = choice.colormap;
    auto* own = new XWindowAttributes{};
    popupAttributes_ = own;
    XGetWindowAttributes(display, popup, own);
    popupGC_ = XCreateGC(display, popup, 0, nullptr);
    if (!isDirectVisual(*own)) popupPixels_ = std::make_unique<PixelConverter>(*own->visual);
    popupWindow_ = popup;
    popup_ = client;
    popupGrabbed_ = false;
    grabForPopup();
    paintPopup();
    return true;
}

void FrameWindow::grabForPopup() {
    Display* display = asDisplay(display_);
    if (popupGrabbed_ || popupWindow_ == 0) return;
    const int pointer = XGrabPointer(display, popupWindow_, False,
                                     ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                                     GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    const int keyboard =
        XGrabKeyboard(display, popupWindow_, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    popupGrabbed_ = pointer == GrabSuccess && keyboard == GrabSuccess;
}

bool FrameWindow::runModalPopup(PopupClient* client, const CPoint& whereInFrame) {
    if (!isWindowThread() || !openPopup(client, whereInFrame)) return false;
    runLoop(client);
    if (popup_ == client) closePopup();
    return true;
}

void FrameWindow::closePopup() {
    Display* display = asDisplay(display_);
    PopupClient* client = popup_;
    if (client == nullptr) return;
    popup_ = nullptr;
    popupPixels_.reset();
    if (popupGC_ != nullptr && display != nullptr && !isDead(display))
        XFreeGC(display, static_cast<GC>(popupGC_));
    popupGC_ = nullptr;
    delete static_cast<XWindowAttributes*>(popupAttributes_);
    popupAttributes_ = nullptr;
    if (display != nullptr && !isDead(display)) {
        XUngrabPointer(display, CurrentTime);
        XUngrabKeyboard(display, CurrentTime);
        if (popupWindow_ != 0) XDestroyWindow(display, popupWindow_);
        if (popupColormap_ != 0) XFreeColormap(display, popupColormap_);
        XFlush(display);
    }
    popupWindow_ = 0;
    popupColormap_ = 0;
    popupGrabbed_ = false;
    client->popupClosed();
}

void FrameWindow::paintPopup() {
    if (popup_ == nullptr || popupGC_ == nullptr) return;
    cairo_surface_t* image =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, popupWidth_, popupHeight_);
    {
        CDrawContext context(image);
        popup_->drawPopup(&context);
    }
    putImageArea(asDisplay(display_), popupWindow_, static_cast<GC>(popupGC_),
                 *static_cast<XWindowAttributes*>(popupAttributes_), popupPixels_.get(), image,
                 CRect(0, 0, popupWidth_, popupHeight_));
    cairo_surface_destroy(image);
}

void FrameWindow::handlePopupEvent(void* xevent) {
    XEvent& event = *static_cast<XEvent*>(xevent);
    PopupClient* client = popup_;
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) paintPopup();
            break;
        case MapNotify:
            grabForPopup();
            break;
        case ButtonPress: {
            const XButtonEvent& e = event.xbutton;
            if (e.button >= 4 && e.button <= 7) break;
            const CPoint where(e.x, e.y);
            if (where.h < 0 || where.v < 0 || where.h >= popupWidth_ || where.v >= popupHeight_) {
                client->popupOutsideClick();
            } else {
                client->popupMouseDown(where, buttonBit(e.button) | translateX11Modifiers(e.state));
            }
            break;
        }
        case ButtonRelease: {
            const XButtonEvent& e = event.xbutton;
            if (e.button >= 4 && e.button <= 7) break;
            client->popupMouseUp(CPoint(e.x, e.y),
                                 buttonBit(e.button) | translateX11Modifiers(e.state));
            break;
        }
        case MotionNotify:
            client->popupMouseMoved(CPoint(event.xmotion.x, event.xmotion.y),
                                    heldButtons(event.xmotion.state));
            break;
        case KeyPress: {
            char text[8] = {};
            KeySym keysym = 0;
            XLookupString(&event.xkey, text, sizeof text - 1, &keysym, nullptr);
            client->popupKeyDown(translateX11Key(keysym, text, event.xkey.state));
            break;
        }
        default:
            break;
    }
    if (popup_ == client && client->popupFinished()) {
        closePopup();
    } else if (popup_ == client && client->popupNeedsRedraw()) {
        paintPopup();
    }
}

// ------------------------------------------------------------------ child watches

bool FrameWindow::addChildWatch(std::unique_ptr<ChildWatch> watch) {
    if (watch == nullptr || !isWindowThread() || childWatchesClosed_ || quit_) return false;
    childWatches_.push_back({std::move(watch), false});
    return true;
}

void FrameWindow::serviceChildWatches() {
    if (childWatches_.empty()) return;
    // A completion may add watches or run a nested loop: go through a snapshot
    // and find each watch again by address after every call.
    std::vector<ChildWatch*> snapshot;
    for (const ChildWatchEntry& entry : childWatches_)
        if (!entry.busy) snapshot.push_back(entry.watch.get());
    const auto find = [this](ChildWatch* watch) {
        return std::find_if(childWatches_.begin(), childWatches_.end(),
                            [watch](const ChildWatchEntry& e) { return e.watch.get() == watch; });
    };
    for (ChildWatch* watch : snapshot) {
        auto it = find(watch);
        if (it == childWatches_.end() || it->busy) continue;
        it->busy = true;
        const bool finished = watch->service();
        it = find(watch);  // busy entries are never removed elsewhere
        it->busy = false;
        if (finished) childWatches_.erase(it);
    }
}

void FrameWindow::closeChildWatches() {
    childWatchesClosed_ = true;
    // Destroying a watch ends its child; its completion is never called.
    std::vector<ChildWatchEntry> watches;
    watches.swap(childWatches_);
    watches.clear();
}

}  // namespace VSTGUI
