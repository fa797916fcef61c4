// The frame on a real X server (Xvfb under `make test`) with a test window as
// the host's parent: child window, real mouse and keyboard through XTest, the
// pop-up menu, screenshots, the timer, a server that dies, and unloading.
#include <gtest/gtest.h>

#include "support/GuiTestSupport.h"

// X11 after gtest: its macros (None, Bool, ...) clash with gtest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace VSTGUI;
using namespace guitest;

namespace {

// A frame on the host window plus a listener whose records are read under the view lock.
struct LiveFrame {
    explicit LiveFrame(HostWindow& host, CCoord w = 300, CCoord h = 200)
        : frame(new CFrame(CRect(0, 0, w, h), host.parentHandle(), &editor)) {
        editor.frame = frame;
    }
    ~LiveFrame() {
        if (frame != nullptr) frame->forget();
    }
    template <class T>
    T* add(T* view) {
        frame->addView(view);
        view->forget();
        return view;
    }
    template <class F>
    auto locked(F f) {
        std::unique_lock<std::recursive_timed_mutex> lock(frame->getViewLock());
        return f();
    }
    bool waitLocked(const std::function<bool()>& condition) {
        return waitFor([&] { return locked(condition); });
    }
    RecordingEditor editor;
    RecordingListener listener;
    CFrame* frame;
};

::Window focusedWindow(Display* display) {
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus;
}

// Every pixel of the window read back from the server equals the frame's image.
int countMismatches(Display* display, ::Window window, cairo_surface_t* expected, int w, int h) {
    XImage* shot = XGetImage(display, window, 0, 0, static_cast<unsigned>(w),
                             static_cast<unsigned>(h), AllPlanes, ZPixmap);
    if (shot == nullptr) return -1;
    int mismatches = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if ((XGetPixel(shot, x, y) & 0xFFFFFF) != rgb(expected, x, y)) ++mismatches;
    XDestroyImage(shot);
    return mismatches;
}

// Waits until the window's pixel at (x, y), as the server holds it, masked by `mask`,
// reads `value`.
bool pixelBecomes(Display* display, ::Window window, int x, int y, unsigned long mask,
                  unsigned long value) {
    return waitFor([&] {
        XImage* shot = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (shot == nullptr) return false;
        const bool reached = (XGetPixel(shot, 0, 0) & mask) == value;
        XDestroyImage(shot);
        return reached;
    });
}

}  // namespace

TEST(X11Frame, FrameAppearsAsAChildOfTheHostWindow) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host, 320, 210);
    ASSERT_TRUE(f.frame->isWindowOpen());
    const auto children = host.children();
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0], f.frame->getWindowId());
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(host.display(), children[0], &attributes), 0);
    EXPECT_EQ(attributes.width, 320);
    EXPECT_EQ(attributes.height, 210);
    EXPECT_EQ(attributes.map_state, IsViewable);
    f.frame->forget();
    f.frame = nullptr;
    XSync(host.display(), False);
    EXPECT_TRUE(host.children().empty());  // closing removed the window
}

TEST(X11Frame, RefusedParentMakesOpenFailWithoutHarm) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    auto* frame = new CFrame(CRect(0, 0, 50, 50),
                             reinterpret_cast<void*>(host.window() + 0x1234567), nullptr);
    EXPECT_FALSE(frame->isWindowOpen());
    frame->forget();
    LiveFrame good(host);  // a later frame still opens
    EXPECT_TRUE(good.frame->isWindowOpen());
}

TEST(X11Frame, RealClickReachesAControl) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* button = f.add(new COnOffButton(CRect(20, 20, 60, 40), &f.listener, 11, nullptr));
    ASSERT_TRUE(f.frame->isWindowOpen());
    host.click(f.frame->getWindowId(), 30, 30);
    EXPECT_TRUE(f.waitLocked([&] { return button->getValue() == 1.0f; }));
    EXPECT_TRUE(f.waitLocked([&] { return f.listener.events.size() == 3; }));
}

TEST(X11Frame, RealDragTracksAKnobUntilRelease) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* knob = f.add(new CKnob(CRect(100, 50, 140, 90), &f.listener, 12, nullptr));
    f.locked([&] {
        knob->setValue(0.5f);
        return 0;
    });
    const auto win = f.frame->getWindowId();
    host.moveTo(win, 120, 70);
    host.press(1);
    ASSERT_TRUE(f.waitLocked([&] { return f.frame->getCapturedView() == knob; }));
    host.moveTo(win, 120, 30);  // 40 px up, beyond the knob: still captured
    EXPECT_TRUE(f.waitLocked([&] { return knob->getValue() > 0.69f; }));
    host.release(1);
    EXPECT_TRUE(f.waitLocked(
        [&] { return !f.listener.events.empty() && f.listener.events.back() == "end 12"; }));
    EXPECT_NEAR(f.locked([&] { return knob->getValue(); }), 0.7f, 1e-4);
}

TEST(X11Frame, BurstOfPointerEventsKeepsTheDragInOrder) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* knob = f.add(new CKnob(CRect(100, 50, 140, 90), &f.listener, 12, nullptr));
    f.locked([&] {
        knob->setValue(0.5f);
        return 0;
    });
    const auto win = f.frame->getWindowId();
    {
        // The frame's thread waits for the view lock while the whole burst queues up.
        std::unique_lock<std::recursive_timed_mutex> lock(f.frame->getViewLock());
        host.moveTo(win, 120, 70);
        host.press(1);
        host.moveTo(win, 120, 30);  // 40 px up while the button is down
        host.release(1);
        host.moveTo(win, 250, 150);  // a move after the release
    }
    EXPECT_TRUE(f.waitLocked(
        [&] { return !f.listener.events.empty() && f.listener.events.back() == "end 12"; }));
    EXPECT_NEAR(f.locked([&] { return knob->getValue(); }), 0.7f, 1e-4);
}

TEST(X11Frame, SecondButtonDuringADragKeepsTheEditGesturePaired) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* knob = f.add(new CKnob(CRect(100, 50, 140, 90), &f.listener, 12, nullptr));
    const auto win = f.frame->getWindowId();
    host.moveTo(win, 120, 70);
    host.press(1);
    ASSERT_TRUE(f.waitLocked([&] { return f.frame->getCapturedView() == knob; }));
    host.moveTo(win, 120, 60);
    host.press(3);
    host.moveTo(win, 120, 50);
    host.release(1);
    host.moveTo(win, 130, 50);
    host.release(3);
    const std::vector<std::string> paired{"editor begin 12", "editor end 12"};
    EXPECT_TRUE(f.waitLocked([&] {
        return f.frame->getCapturedView() == nullptr && f.editor.events == paired;
    })) << f.locked([&] { return f.editor.events.size(); }) << " gesture events";
}

TEST(X11Frame, TextEditTakesTheKeyboardAndGivesItBack) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* edit = f.add(new CTextEdit(CRect(10, 10, 150, 30), &f.listener, 13, "0.0"));
    const ::Window before = focusedWindow(host.display());
    host.click(f.frame->getWindowId(), 20, 20);
    ASSERT_TRUE(f.waitLocked([&] { return edit->isEditing(); }));
    ASSERT_TRUE(waitFor([&] { return focusedWindow(host.display()) == f.frame->getWindowId(); }));
    host.typeText("-4.5");
    host.typeKey(XK_BackSpace);
    host.typeText("25");
    host.typeKey(XK_Return);
    EXPECT_TRUE(f.waitLocked([&] { return !edit->isEditing(); }));
    EXPECT_STREQ(f.locked([&] { return std::string(edit->getText()); }).c_str(), "-4.25");
    EXPECT_TRUE(f.waitLocked([&] {
        return std::find(f.listener.events.begin(), f.listener.events.end(), "changed 13") !=
               f.listener.events.end();
    }));
    EXPECT_TRUE(waitFor([&] { return focusedWindow(host.display()) == before; }));
}

TEST(X11Frame, PressTakesTheKeyboardAndLeavingGivesItBack) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    // Another top-level window (at the screen's corner, over the host's) has the
    // keyboard, as the host's main window would.
    HostWindow other(60, 60);
    ASSERT_TRUE(other.ok());
    XSetInputFocus(host.display(), other.window(), RevertToParent, CurrentTime);
    XSync(host.display(), False);
    LiveFrame f(host);
    auto* probe = f.add(new ProbeView(CRect(100, 100, 250, 190)));
    probe->keyAnswer = kKeyHandled;
    f.locked([&] { return f.frame->setFocusView(probe); });
    host.click(f.frame->getWindowId(), 150, 150);
    ASSERT_TRUE(waitFor([&] { return focusedWindow(host.display()) == f.frame->getWindowId(); }));
    host.typeKey(XK_Up);
    const std::string up = "key " + std::to_string(VKEY_UP) + " 0";
    EXPECT_TRUE(f.waitLocked([&] {
        return std::find(probe->events.begin(), probe->events.end(), up) != probe->events.end();
    }));
    // Out of the editor (still over the host's window): the keyboard goes back.
    host.moveTo(host.window(), 500, 400);
    EXPECT_TRUE(waitFor([&] { return focusedWindow(host.display()) == other.window(); }));
}

TEST(X11Frame, TextEditEscapeCancels) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* edit = f.add(new CTextEdit(CRect(10, 10, 150, 30), &f.listener, 13, "keep"));
    host.click(f.frame->getWindowId(), 20, 20);
    ASSERT_TRUE(f.waitLocked([&] { return edit->isEditing(); }));
    ASSERT_TRUE(waitFor([&] { return focusedWindow(host.display()) == f.frame->getWindowId(); }));
    host.typeText("gone");
    host.typeKey(XK_Escape);
    EXPECT_TRUE(f.waitLocked([&] { return !edit->isEditing(); }));
    EXPECT_STREQ(f.locked([&] { return std::string(edit->getText()); }).c_str(), "keep");
}

TEST(X11Frame, PopupMenuChoiceWithTheMouse) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* menu = f.add(new COptionMenu(CRect(40, 60, 140, 76), &f.listener, 1012));
    f.locked([&] {
        menu->addEntry("first");
        menu->addEntry("-");
        menu->addEntry("second");
        menu->addEntry("third");
        return 0;
    });
    const auto win = f.frame->getWindowId();
    host.click(win, 50, 65);
    ASSERT_TRUE(f.waitLocked([&] { return menu->isPopupOpen(); }));
    // The pop-up sits at the control's top-left; rows are 18 px, the separator 7.
    const int rowOfThird = 1 + 18 + 7 + 18 + 9;
    host.moveTo(win, 60, 60 + rowOfThird);
    host.press(1);
    host.release(1);
    EXPECT_TRUE(f.waitLocked([&] { return !menu->isPopupOpen(); }));
    EXPECT_EQ(f.locked([&] { return menu->getCurrent(); }), 3);
    EXPECT_EQ(f.locked([&] { return menu->getCurrentIndex(false); }), 2);
    EXPECT_EQ(f.locked([&] { return f.listener.events; }),
              std::vector<std::string>{"changed 1012"});
}

TEST(X11Frame, PopupMenuChoiceWithTheKeyboardAndCancelOutside) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host);
    auto* menu = f.add(new COptionMenu(CRect(40, 60, 140, 76), &f.listener, 1012));
    f.locked([&] {
        for (const char* t : {"a", "-", "b", "c"}) menu->addEntry(t);
        return 0;
    });
    const auto win = f.frame->getWindowId();
    host.click(win, 50, 65);
    ASSERT_TRUE(f.waitLocked([&] { return menu->isPopupOpen(); }));
    host.typeKey(XK_Down);
    host.typeKey(XK_Return);
    EXPECT_TRUE(f.waitLocked([&] { return !menu->isPopupOpen(); }));
    EXPECT_EQ(f.locked([&] { return menu->getCurrent(); }), 2);
    host.click(win, 50, 65);
    ASSERT_TRUE(f.waitLocked([&] { return menu->isPopupOpen(); }));
    host.click(win, 290, 190);  // outside the pop-up
    EXPECT_TRUE(f.waitLocked([&] { return !menu->isPopupOpen(); }));
    EXPECT_EQ(f.locked([&] { return menu->getCurrent(); }), 2);
    EXPECT_EQ(f.locked([&] { return f.listener.events.size(); }), 1u);
}

TEST(X11Frame, ScreenshotMatchesTheInMemoryRendering) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    const int w = 240;
    const int h = 160;
    LiveFrame f(host, w, h);
    ASSERT_TRUE(f.frame->isWindowOpen());
    f.locked([&] {
        f.frame->setBackgroundColor(CColor{30, 60, 90, 255});
        return 0;
    });
    f.add(new ProbeView(CRect(10, 10, 80, 60), kRedCColor));
    f.add(new ProbeView(CRect(50, 40, 120, 100), CColor{10, 200, 30, 255}));
    auto* label = f.add(new CTextLabel(CRect(20, 110, 220, 140), "Tarvel Quolt 0.5 dB"));
    f.locked([&] {
        label->setFontColor(kWhiteCColor);
        label->setBackColor(CColor{50, 50, 50, 255});
        return 0;
    });
    cairo_surface_t* expected = renderFrameToImage(f.frame);
    ASSERT_NE(expected, nullptr);
    const auto win = f.frame->getWindowId();
    EXPECT_TRUE(waitFor([&] { return countMismatches(host.display(), win, expected, w, h) == 0; }))
        << countMismatches(host.display(), win, expected, w, h) << " pixels differ";
    cairo_surface_destroy(expected);
}

TEST(X11Frame, TimerDrivesIdleAndRedrawWithoutHostCalls) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host, 100, 100);
    auto* probe = f.add(new ProbeView(CRect(0, 0, 20, 20), kRedCColor));
    EXPECT_TRUE(waitFor([&] { return f.editor.timerCalls >= 3; }));
    const int draws = f.locked([&] { return probe->draws; });
    f.locked([&] {
        probe->color = kBlueCColor;
        probe->setDirty(true);  // what an editor's setParameter does from a host thread
        return 0;
    });
    EXPECT_TRUE(f.waitLocked([&] { return probe->draws > draws && !probe->isDirty(); }));
    EXPECT_TRUE(pixelBecomes(host.display(), f.frame->getWindowId(), 5, 5, 0xFFFFFF, 0x0000FF));
}

TEST(X11Frame, HostIdleAndKeysFromAnotherThreadAreSerialised) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host, 100, 100);
    auto* knob = f.add(new CKnob(CRect(0, 0, 40, 40), &f.listener, 3, nullptr));
    f.locked([&] {
        knob->setWheelInc(0.001f);
        knob->setValue(0.0f);
        f.frame->setFocusView(knob);
        return 0;
    });
    std::thread hostThread([&] {
        for (int i = 0; i < 200; ++i) {
            CKeyCode up;
            up.virt = VKEY_UP;
            f.frame->onKeyDown(up);
            f.frame->idle();
        }
    });
    hostThread.join();
    EXPECT_NEAR(f.locked([&] { return knob->getValue(); }), 0.2f, 1e-3);
}

namespace {

// An X server of our own that the test can kill.
struct PrivateServer {
    // `defaultClass` is Xvfb's -cc (the class of the default visual), nullptr for its own choice.
    explicit PrivateServer(const char* screen = "320x240x24", const char* defaultClass = nullptr) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            if (defaultClass != nullptr) {
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-cc",
                       defaultClass, "-nolisten", "tcp", static_cast<char*>(nullptr));
            } else {
                execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen,
                       "-nolisten", "tcp", static_cast<char*>(nullptr));
            }
            _exit(127);
        }
        close(fds[1]);
        char buffer[32] = {};
        ssize_t got = 0;
        do {
            got = read(fds[0], buffer, sizeof buffer - 1);
        } while (got < 0 && errno == EINTR);
        if (got > 0) name = ":" + std::to_string(std::atoi(buffer));
        readEnd = fds[0];  // kept open: the server may write more
    }
    ~PrivateServer() {
        stop();
        if (readEnd >= 0) close(readEnd);
    }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    pid_t pid = -1;
    int readEnd = -1;
    std::string name;
};

}  // namespace

TEST(X11FrameBadServer, ServerThatGoesAwayLeavesTheHostRunning) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    PrivateServer server;
    if (server.name.empty()) GTEST_SKIP() << "cannot start a private Xvfb";
    Display* display = XOpenDisplay(server.name.c_str());
    ASSERT_NE(display, nullptr);
    const ::Window parent =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 200, 0, 0, 0);
    XMapWindow(display, parent);
    XSetCloseDownMode(display, RetainPermanent);  // the parent outlives our connection
    XSync(display, False);
    XCloseDisplay(display);

    setFrameDisplayName(server.name.c_str());
    auto* frame = new CFrame(CRect(0, 0, 100, 100), reinterpret_cast<void*>(parent), nullptr);
    setFrameDisplayName(nullptr);
    ASSERT_TRUE(frame->isWindowOpen());
    auto* probe = new ProbeView(CRect(0, 0, 50, 50));
    frame->addView(probe);
    probe->forget();
    server.stop();
    // Keep giving the frame work while its connection is broken.
    for (int i = 0; i < 20; ++i) {
        {
            std::unique_lock<std::recursive_timed_mutex> lock(frame->getViewLock());
            probe->setDirty(true);
        }
        frame->idle();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    frame->forget();  // returns, and this process is still alive
    SUCCEED();
}

TEST(X11FrameUnload, UnloadRightAfterCloseLeavesNoThreadBehind) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    const int threadsBefore = countThreads();
    const XErrorHandler handlerBefore = XSetErrorHandler(nullptr);
    XSetErrorHandler(handlerBefore);
    for (int round = 0; round < 3; ++round) {
        void* module = dlopen(TQ_GUI_TEST_MODULE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        auto open = reinterpret_cast<void* (*)(unsigned long)>(dlsym(module, "tqTestOpenFrame"));
        auto isOpen = reinterpret_cast<int (*)(void*)>(dlsym(module, "tqTestFrameIsOpen"));
        auto close = reinterpret_cast<void (*)(void*)>(dlsym(module, "tqTestCloseFrame"));
        ASSERT_TRUE(open != nullptr && isOpen != nullptr && close != nullptr);
        void* frame = open(host.window());
        EXPECT_EQ(isOpen(frame), 1);
        EXPECT_EQ(countThreads(), threadsBefore + 1);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(120));  // let the timer and painting run
        close(frame);
        EXPECT_EQ(dlclose(module), 0);
        EXPECT_EQ(countThreads(), threadsBefore);
        XSync(host.display(), False);
        EXPECT_TRUE(host.children().empty());
    }
    const XErrorHandler handlerAfter = XSetErrorHandler(nullptr);
    XSetErrorHandler(handlerAfter);
    EXPECT_EQ(handlerAfter, handlerBefore);  // nothing of the module stays installed
}

namespace {
// Runs a load dialog on a press, as the preset panel's load button does.
class LoadButton : public CControl {
  public:
    explicit LoadButton(const CRect& r) : CControl(r) {}
    CMouseEventResult onMouseDown(CPoint&, const CButtonState&) override {
        char buffer[1024] = {};
        VstFileSelect select;
        std::snprintf(select.title, sizeof select.title, "Load");
        select.initialPath = directory.c_str();
        select.returnPath = buffer;
        select.sizeReturnPath = sizeof buffer;
        answer = CFileSelector(getFrame()).run(&select);
        chosen = buffer;
        ran = true;
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    }
    std::string directory;
    std::string chosen;
    int answer = -1;
    bool ran = false;
};
}  // namespace

TEST(X11FileSelector, OwnPathBoxWhenNoDialogToolExists) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    CFileSelector::setDialogTools({"/nonexistent/zenity"});
    const std::string dir = std::string(TQ_BINARY_DIR) + "/gui_path_box";
    mkdir(dir.c_str(), 0755);
    FILE* file = std::fopen((dir + "/a.tvp").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    LiveFrame f(host);
    auto* button = f.add(new LoadButton(CRect(0, 0, 50, 50)));
    button->directory = dir;
    host.click(f.frame->getWindowId(), 10, 10);
    // The box is modal on the frame's thread (which holds the view lock meanwhile);
    // type once it has grabbed the keyboard.
    Display* d = host.display();
    EXPECT_TRUE(waitFor([&] {
        const int result = XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync,
                                         GrabModeAsync, CurrentTime);
        if (result == GrabSuccess) XUngrabKeyboard(d, CurrentTime);
        XSync(d, False);
        return result == AlreadyGrabbed;
    }));
    host.typeText("a.tvp");
    host.typeKey(XK_Return);
    EXPECT_TRUE(f.waitLocked([&] { return button->ran; }));
    EXPECT_EQ(f.locked([&] { return button->answer; }), 1);
    EXPECT_EQ(f.locked([&] { return button->chosen; }), dir + "/a.tvp");
    CFileSelector::setDialogTools({"zenity", "kdialog"});
}

TEST(X11Frame, NothingIsDrawnWhileTheHostWindowIsHidden) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    LiveFrame f(host, 100, 100);
    auto* probe = f.add(new ProbeView(CRect(0, 0, 20, 20), kRedCColor));
    ASSERT_TRUE(f.waitLocked([&] { return probe->draws > 0; }));
    XUnmapWindow(host.display(), host.window());
    XSync(host.display(), False);
    // Let the frame see the unmapping: a few timer ticks after a host-side change.
    const int ticks = f.editor.timerCalls;
    ASSERT_TRUE(waitFor([&] { return f.editor.timerCalls >= ticks + 3; }));
    const int drawsHidden = f.locked([&] { return probe->draws; });
    f.locked([&] {
        probe->color = kBlueCColor;
        probe->setDirty(true);
        return 0;
    });
    const int ticksHidden = f.editor.timerCalls;
    ASSERT_TRUE(waitFor([&] { return f.editor.timerCalls >= ticksHidden + 3; }));
    EXPECT_EQ(f.locked([&] { return probe->draws; }), drawsHidden);
    XMapWindow(host.display(), host.window());
    XSync(host.display(), False);
    EXPECT_TRUE(f.waitLocked([&] { return probe->draws > drawsHidden; }));
    EXPECT_TRUE(pixelBecomes(host.display(), f.frame->getWindowId(), 5, 5, 0xFFFFFF, 0x0000FF));
}

TEST(X11FrameBadHost, HostDestroysItsWindowBeforeClosingTheEditor) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    Display* d = host.display();
    const ::Window parent = XCreateSimpleWindow(d, host.window(), 0, 0, 200, 200, 0, 0, 0);
    XMapWindow(d, parent);
    XSync(d, False);
    auto* frame = new CFrame(CRect(0, 0, 100, 100), reinterpret_cast<void*>(parent), nullptr);
    ASSERT_TRUE(frame->isWindowOpen());
    auto* probe = new ProbeView(CRect(0, 0, 20, 20));
    frame->addView(probe);
    probe->forget();
    XDestroyWindow(d, parent);  // our child goes with it
    XSync(d, False);
    for (int i = 0; i < 5; ++i) {
        {
            std::unique_lock<std::recursive_timed_mutex> lock(frame->getViewLock());
            probe->setDirty(true);
        }
        frame->idle();
    }
    const int threads = countThreads();
    frame->forget();  // destroying a window that is gone already is harmless
    EXPECT_EQ(countThreads(), threads - 1);
}

namespace {

// A connection to a private server and a mapped window on it that stands in
// for the host's window.
struct ServerParent {
    explicit ServerParent(const PrivateServer& server) {
        display = XOpenDisplay(server.name.c_str());
        if (display == nullptr) return;
        parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 200, 0, 0, 0);
        XMapWindow(display, parent);
        XSync(display, False);
    }
    ~ServerParent() {
        if (display != nullptr) XCloseDisplay(display);
    }
    ServerParent(const ServerParent&) = delete;
    ServerParent& operator=(const ServerParent&) = delete;
    CFrame* openFrame(const PrivateServer& server, CCoord size = 100) const {
        setFrameDisplayName(server.name.c_str());
        auto* frame = new CFrame(CRect(0, 0, size, size), reinterpret_cast<void*>(parent), nullptr);
        setFrameDisplayName(nullptr);
        return frame;
    }
    Display* display = nullptr;
    ::Window parent = 0;
};

ProbeView* addProbe(CFrame* frame, const CColor& color) {
    auto* probe = new ProbeView(CRect(0, 0, 50, 50), color);
    frame->addView(probe);
    probe->forget();
    return probe;
}

// The host's own X error handler, installed before any frame.
int hostSentinelHandler(Display*, XErrorEvent*) { return 0; }

}  // namespace

TEST(X11FrameVisuals, SixteenBitScreenShowsTheColourIn565) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    PrivateServer server("320x240x16");
    if (server.name.empty()) GTEST_SKIP() << "cannot start a private Xvfb";
    ServerParent host(server);
    ASSERT_NE(host.display, nullptr);
    ASSERT_EQ(DefaultDepth(host.display, DefaultScreen(host.display)), 16);
    CFrame* frame = host.openFrame(server);
    ASSERT_TRUE(frame->isWindowOpen());
    ProbeView* probe = addProbe(frame, kRedCColor);
    // Red in 5-6-5.
    EXPECT_TRUE(pixelBecomes(host.display, frame->getWindowId(), 10, 10, ~0UL, 0xF800));
    {
        std::unique_lock<std::recursive_timed_mutex> lock(frame->getViewLock());
        probe->color = CColor(0x12, 0x34, 0x56, 0xFF);
        probe->setDirty(true);
    }
    // Each channel keeps its top bits: 0x12 >> 3, 0x34 >> 2, 0x56 >> 3.
    EXPECT_TRUE(pixelBecomes(host.display, frame->getWindowId(), 10, 10, ~0UL,
                             (0x02u << 11) | (0x0Du << 5) | 0x0Au));
    // Outside the probe the frame's background, black.
    EXPECT_TRUE(pixelBecomes(host.display, frame->getWindowId(), 70, 70, ~0UL, 0));
    frame->forget();
}

TEST(X11FrameVisuals, FifteenBitScreenShowsTheColourIn555) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    PrivateServer server("320x240x15");
    if (server.name.empty()) GTEST_SKIP() << "cannot start a private Xvfb";
    ServerParent host(server);
    ASSERT_NE(host.display, nullptr);
    ASSERT_EQ(DefaultDepth(host.display, DefaultScreen(host.display)), 15);
    CFrame* frame = host.openFrame(server);
    ASSERT_TRUE(frame->isWindowOpen());
    addProbe(frame, CColor(0x12, 0x34, 0x56, 0xFF));
    EXPECT_TRUE(pixelBecomes(host.display, frame->getWindowId(), 10, 10, 0x7FFF,
                             (0x02u << 10) | (0x06u << 5) | 0x0Au));
    frame->forget();
}

TEST(X11FrameVisuals, FramesOnManyThreadsLeaveTheHostsErrorHandlerInPlace) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    PrivateServer server("320x240x16");
    if (server.name.empty()) GTEST_SKIP() << "cannot start a private Xvfb";
    ServerParent host(server);
    ASSERT_NE(host.display, nullptr);
    constexpr int kThreads = 4;
    constexpr int kRounds = 10;
    // A host window for each, side by side: a frame that is fully covered paints nothing.
    ::Window parents[kThreads] = {};
    for (int i = 0; i < kThreads; ++i) {
        parents[i] = XCreateSimpleWindow(host.display, DefaultRootWindow(host.display), i * 80, 0,
                                         80, 80, 0, 0, 0);
        XMapWindow(host.display, parents[i]);
    }
    XSync(host.display, False);
    const XErrorHandler before = XSetErrorHandler(hostSentinelHandler);
    setFrameDisplayName(server.name.c_str());
    std::atomic<int> opened{0};
    std::atomic<int> paints{0};
    for (int round = 0; round < kRounds; ++round) {
        // All four open, paint and close at the same moments, as far as threads allow.
        std::latch ready(kThreads);
        std::latch painted(kThreads);
        std::vector<std::thread> hosts;
        for (int i = 0; i < kThreads; ++i) {
            hosts.emplace_back([&, i] {
                ready.arrive_and_wait();
                auto* frame =
                    new CFrame(CRect(0, 0, 80, 80), reinterpret_cast<void*>(parents[i]), nullptr);
                if (frame->isWindowOpen()) ++opened;
                ProbeView* probe = addProbe(frame, kBlueCColor);
                const bool drawn = waitFor([&] {
                    std::unique_lock<std::recursive_timed_mutex> lock(frame->getViewLock());
                    return probe->draws > 0;
                });
                if (drawn) ++paints;
                painted.arrive_and_wait();
                frame->forget();
            });
        }
        for (std::thread& t : hosts) t.join();
    }
    setFrameDisplayName(nullptr);
    const XErrorHandler after = XSetErrorHandler(before);
    EXPECT_EQ(opened.load(), kThreads * kRounds);
    EXPECT_EQ(paints.load(), kThreads * kRounds);
    EXPECT_EQ(after, &hostSentinelHandler);
}

namespace {

// Whether the default screen has a TrueColor visual of at least `depth` bits.
bool hasTrueColorVisual(Display* display, int depth) {
    XVisualInfo wanted{};
    wanted.screen = DefaultScreen(display);
    wanted.c_class = TrueColor;
    int count = 0;
    XVisualInfo* visuals =
        XGetVisualInfo(display, VisualScreenMask | VisualClassMask, &wanted, &count);
    bool found = false;
    for (int i = 0; i < count; ++i) found = found || visuals[i].depth >= depth;
    if (visuals != nullptr) XFree(visuals);
    return found;
}

}  // namespace

// Xvfb's plain 8-bit screen has only 8-bit visuals (PseudoColor the default):
// nothing the frame can show its picture on, so it refuses the window with
// one line and stays usable headless.
TEST(X11FrameVisuals, EightBitScreenWithoutTrueColorIsRefusedWithOneLine) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    PrivateServer server("640x480x8");
    if (server.name.empty()) GTEST_SKIP() << "cannot start a private Xvfb";
    ServerParent host(server);
    ASSERT_NE(host.display, nullptr);
    ASSERT_EQ(DefaultDepth(host.display, DefaultScreen(host.display)), 8);
    ASSERT_FALSE(hasTrueColorVisual(host.display, 15));

    const XErrorHandler before = XSetErrorHandler(hostSentinelHandler);
    testing::internal::CaptureStderr();
    CFrame* frame = host.openFrame(server);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(frame->isWindowOpen());
    EXPECT_EQ(frame->getWindowId(), 0u);
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("visual"), std::string::npos) << said;
    // Nothing of ours is left on the host's window.
    ::Window root = 0;
    ::Window parentOfParent = 0;
    ::Window* children = nullptr;
    unsigned int childCount = 0;
    XQueryTree(host.display, host.parent, &root, &parentOfParent, &children, &childCount);
    if (children != nullptr) XFree(children);
    EXPECT_EQ(childCount, 0u);
    // Headless, it still draws into its image.
    ProbeView* probe = addProbe(frame, kRedCColor);
    frame->idle();
    EXPECT_GT(probe->draws, 0);
    EXPECT_EQ(rgb(frame->getImage(), 10, 10), 0xFF0000u);
    frame->forget();
    EXPECT_EQ(XSetErrorHandler(before), &hostSentinelHandler);
}

// With a 3-3-2 TrueColor default (-cc 4) Xvfb also offers 32-bit TrueColor
// visuals: the frame's window takes one (with a colormap of its own) under the
// host's 8-bit window and shows the exact colours.
TEST(X11FrameVisuals, EightBitScreenWithADeeperTrueColorVisualShowsTheColours) {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    PrivateServer server("640x480x8", "4");
    if (server.name.empty()) GTEST_SKIP() << "cannot start a private Xvfb";
    ServerParent host(server);
    ASSERT_NE(host.display, nullptr);
    ASSERT_EQ(DefaultDepth(host.display, DefaultScreen(host.display)), 8);
    if (!hasTrueColorVisual(host.display, 15))
        GTEST_SKIP() << "this Xvfb offers no deeper TrueColor visual on an 8-bit screen";
    CFrame* frame = host.openFrame(server);
    ASSERT_TRUE(frame->isWindowOpen());
    XWindowAttributes attributes;
    ASSERT_NE(XGetWindowAttributes(host.display, frame->getWindowId(), &attributes), 0);
    EXPECT_GE(attributes.depth, 15);
    EXPECT_EQ(attributes.visual->c_class, TrueColor);
    addProbe(frame, CColor(0x12, 0x34, 0x56, 0xFF));
    EXPECT_TRUE(pixelBecomes(host.display, frame->getWindowId(), 10, 10, 0xFFFFFF, 0x123456));
    EXPECT_TRUE(pixelBecomes(host.display, frame->getWindowId(), 70, 70, 0xFFFFFF, 0));
    frame->forget();
}
