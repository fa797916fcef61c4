#include "gui/FrameWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo-xlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
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
// plain XPutImage; anything else goes through cairo's Xlib backend.
bool isDirectVisual(const XWindowAttributes& attributes) {
    const Visual* v = attributes.visual;
    return v != nullptr && v->c_class == TrueColor &&
           (attributes.depth == 24 || attributes.depth == 32) && v->red_mask == 0xFF0000 &&
           v->green_mask == 0x00FF00 && v->blue_mask == 0x0000FF;
}

// Copies `area` of `image` to the same place of `window`.
void putImageArea(Display* display, Window window, GC gc, const XWindowAttributes& attributes,
                  cairo_surface_t* image, const CRect& area) {
    cairo_surface_flush(image);
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    XImage* ximage = XCreateImage(
        display, attributes.visual, static_cast<unsigned>(attributes.depth), ZPixmap, 0,
        reinterpret_cast<char*>(cairo_image_surface_get_data(image)), static_cast<unsigned>(width),
        static_cast<unsigned>(height), 32, cairo_image_surface_get_stride(image));
    if (ximage == nullptr) return;
    // cairo's words are in this machine's byte order; Xlib swaps if the server's differs.
    const std::uint32_t probe = 1;
    ximage->byte_order = *reinterpret_cast<const unsigned char*>(&probe) == 1 ? LSBFirst : MSBFirst;
    XPutImage(display, window, gc, ximage, area.left, area.top, area.left, area.top,
              static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()));
    ximage->data = nullptr;  // cairo's memory
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

VstKeyCode translateX11Key(unsigned long keysym, const char* latin1, unsigned int state) {
    VstKeyCode key;
    if ((state & ShiftMask) != 0) key.modifier |= vst::MODIFIER_SHIFT;
    if ((state & Mod1Mask) != 0) key.modifier |= vst::MODIFIER_ALTERNATE;
    if ((state & ControlMask) != 0) key.modifier |= vst::MODIFIER_CONTROL;
    struct Entry {
        unsigned long sym;
        vst::VirtualKey virt;
    };
    static constexpr Entry table[] = {
        {XK_BackSpace, vst::VKEY_BACK},
        {XK_Tab, vst::VKEY_TAB},
        {XK_ISO_Left_Tab, vst::VKEY_TAB},
        {XK_Clear, vst::VKEY_CLEAR},
        {XK_Return, vst::VKEY_RETURN},
        {XK_Pause, vst::VKEY_PAUSE},
        {XK_Escape, vst::VKEY_ESCAPE},
        {XK_space, vst::VKEY_SPACE},
        {XK_Next, vst::VKEY_NEXT},
        {XK_End, vst::VKEY_END},
        {XK_Home, vst::VKEY_HOME},
        {XK_Left, vst::VKEY_LEFT},
        {XK_Up, vst::VKEY_UP},
        {XK_Right, vst::VKEY_RIGHT},
        {XK_Down, vst::VKEY_DOWN},
        {XK_Prior, vst::VKEY_PAGEUP},
        {XK_KP_Prior, vst::VKEY_PAGEUP},
        {XK_KP_Next, vst::VKEY_PAGEDOWN},
        {XK_Select, vst::VKEY_SELECT},
        {XK_Print, vst::VKEY_PRINT},
        {XK_KP_Enter, vst::VKEY_ENTER},
        {XK_Insert, vst::VKEY_INSERT},
        {XK_Delete, vst::VKEY_DELETE},
        {XK_KP_Delete, vst::VKEY_DELETE},
        {XK_Help, vst::VKEY_HELP},
        {XK_KP_Home, vst::VKEY_HOME},
        {XK_KP_End, vst::VKEY_END},
        {XK_KP_Left, vst::VKEY_LEFT},
        {XK_KP_Up, vst::VKEY_UP},
        {XK_KP_Right, vst::VKEY_RIGHT},
        {XK_KP_Down, vst::VKEY_DOWN},
        {XK_KP_Multiply, vst::VKEY_MULTIPLY},
        {XK_KP_Add, vst::VKEY_ADD},
        {XK_KP_Separator, vst::VKEY_SEPARATOR},
        {XK_KP_Subtract, vst::VKEY_SUBTRACT},
        {XK_KP_Decimal, vst::VKEY_DECIMAL},
        {XK_KP_Divide, vst::VKEY_DIVIDE},
        {XK_Num_Lock, vst::VKEY_NUMLOCK},
        {XK_Scroll_Lock, vst::VKEY_SCROLL},
        {XK_Shift_L, vst::VKEY_SHIFT},
        {XK_Shift_R, vst::VKEY_SHIFT},
        {XK_Control_L, vst::VKEY_CONTROL},
        {XK_Control_R, vst::VKEY_CONTROL},
        {XK_Alt_L, vst::VKEY_ALT},
        {XK_Alt_R, vst::VKEY_ALT},
        {XK_KP_Equal, vst::VKEY_EQUALS},
    };
    for (const Entry& e : table) {
        if (e.sym == keysym) {
            key.virt = static_cast<unsigned char>(e.virt);
            break;
        }
    }
    if (key.virt == 0 && keysym >= XK_F1 && keysym <= XK_F12)
        key.virt = static_cast<unsigned char>(vst::VKEY_F1 + (keysym - XK_F1));
    if (key.virt == 0 && keysym >= XK_KP_0 && keysym <= XK_KP_9)
        key.virt = static_cast<unsigned char>(vst::VKEY_NUMPAD0 + (keysym - XK_KP_0));
    if (key.virt == vst::VKEY_SPACE) key.character = ' ';
    if (key.virt == 0 || (key.virt >= vst::VKEY_NUMPAD0 && key.virt <= vst::VKEY_DIVIDE)) {
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

bool isThreadOfFrame(const CFrame* frame) {
    return frame != nullptr && frameOfThisThread == frame;
}

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

    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            EnterWindowMask | LeaveWindowMask | KeyPressMask | KeyReleaseMask |
                            FocusChangeMask | StructureNotifyMask | VisibilityChangeMask;
    const Window window = XCreateWindow(
        display, parent, 0, 0, static_cast<unsigned>(width_), static_cast<unsigned>(height_), 0,
        CopyFromParent, InputOutput, CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
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
    if (isDirectVisual(*own)) {
        windowGC_ = XCreateGC(display, window, 0, nullptr);
    } else {
        windowSurface_ = cairo_xlib_surface_create(display, window, own->visual, width_, height_);
    }
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
        if (windowSurface_ != nullptr) __lsan_ignore_object(windowSurface_);
        if (windowGC_ != nullptr) __lsan_ignore_object(windowGC_);
#endif
        windowSurface_ = nullptr;
        windowGC_ = nullptr;
        delete static_cast<XWindowAttributes*>(windowAttributes_);
        windowAttributes_ = nullptr;
        window_ = 0;
        windowId_ = 0;
        display_ = nullptr;
        return;
    }
    if (windowSurface_ != nullptr) {
        cairo_surface_destroy(static_cast<cairo_surface_t*>(windowSurface_));
        windowSurface_ = nullptr;
    }
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
        XSync(display, False);
    }
    window_ = 0;
    windowId_ = 0;
    // cairo's per-connection data goes with the connection (cairo hooks
    // XCloseDisplay); library-wide state of cairo and fontconfig stays alone.
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
                popupSurface_ = nullptr;  // left behind with the dead connection
                popupGC_ = nullptr;
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
    if (windowGC_ != nullptr) {
        for (const CRect& area : damage)
            putImageArea(asDisplay(display_), window_, static_cast<GC>(windowGC_),
                         *static_cast<XWindowAttributes*>(windowAttributes_), image, area);
        return;
    }
    auto* target = static_cast<cairo_surface_t*>(windowSurface_);
    if (target == nullptr) return;
    cairo_t* cr = cairo_create(target);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, image, 0, 0);
    for (const CRect& area : damage)
        cairo_rectangle(cr, area.left, area.top, area.width(), area.height());
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
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
            VstKeyCode key = translateX11Key(keysym, text, event.xkey.state);
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

    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                            KeyPressMask | StructureNotifyMask;
    const Window popup =
        XCreateWindow(display, root, x, y, static_cast<unsigned>(popupWidth_),
                      static_cast<unsigned>(popupHeight_), 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect | CWBackPixmap | CWEventMask, &attributes);
    XMapRaised(display, popup);
    XSync(display, False);
    if (takeFailure(display)) {
        if (popup != 0) XDestroyWindow(display, popup);
        return false;
    }
    auto* own = new XWindowAttributes{};
    popupAttributes_ = own;
    XGetWindowAttributes(display, popup, own);
    if (isDirectVisual(*own)) {
        popupGC_ = XCreateGC(display, popup, 0, nullptr);
    } else {
        popupSurface_ =
            cairo_xlib_surface_create(display, popup, own->visual, popupWidth_, popupHeight_);
    }
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
    if (popupSurface_ != nullptr && display != nullptr && !isDead(display))
        cairo_surface_destroy(static_cast<cairo_surface_t*>(popupSurface_));
    popupSurface_ = nullptr;
    if (popupGC_ != nullptr && display != nullptr && !isDead(display))
        XFreeGC(display, static_cast<GC>(popupGC_));
    popupGC_ = nullptr;
    delete static_cast<XWindowAttributes*>(popupAttributes_);
    popupAttributes_ = nullptr;
    if (display != nullptr && !isDead(display)) {
        XUngrabPointer(display, CurrentTime);
        XUngrabKeyboard(display, CurrentTime);
        if (popupWindow_ != 0) XDestroyWindow(display, popupWindow_);
        XFlush(display);
    }
    popupWindow_ = 0;
    popupGrabbed_ = false;
    client->popupClosed();
}

void FrameWindow::paintPopup() {
    if (popup_ == nullptr || (popupSurface_ == nullptr && popupGC_ == nullptr)) return;
    cairo_surface_t* image =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, popupWidth_, popupHeight_);
    {
        CDrawContext context(image);
        popup_->drawPopup(&context);
    }
    if (popupGC_ != nullptr) {
        putImageArea(asDisplay(display_), popupWindow_, static_cast<GC>(popupGC_),
                     *static_cast<XWindowAttributes*>(popupAttributes_), image,
                     CRect(0, 0, popupWidth_, popupHeight_));
    } else {
        auto* target = static_cast<cairo_surface_t*>(popupSurface_);
        cairo_t* cr = cairo_create(target);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, image, 0, 0);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(target);
    }
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
