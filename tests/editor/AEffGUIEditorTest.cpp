// AEffGUIEditor: rectangle, open/close, idle with its re-entry flag, keys,
// edit gestures reaching the host.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "editor/AEffGUIEditor.h"
#include "host/AudioEffectX.h"
#include "support/GuiTestSupport.h"

// X11 after gtest and the toolkit: its macros (None, Bool, ...) clash with their names.
#include <X11/Xlib.h>

using namespace VSTGUI;
using namespace guitest;

namespace {

std::mutex hostCallsMutex;
std::vector<std::pair<int, int>> hostCalls;  // opcode, index

vst::intptr recordingHost(vst::AEffect*, vst::int32 opcode, vst::int32 index, vst::intptr, void*,
                          float) {
    std::lock_guard<std::mutex> lock(hostCallsMutex);
    hostCalls.emplace_back(opcode, index);
    return 0;
}

class TestEffect : public AudioEffectX {
  public:
    TestEffect() : AudioEffectX(recordingHost, 1, 4) {}
};

// A host that closes the editor inside the end-edit call, which the frame's
// own thread makes when a drag ends.
std::atomic<AudioEffect*> effectClosedOnEndEdit{nullptr};
vst::intptr closingHost(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    AudioEffect* effect = effectClosedOnEndEdit;
    if (opcode == vst::audioMasterEndEdit && effect != nullptr)
        effect->dispatcher(vst::effEditClose, 0, 0, nullptr, 0);
    return 0;
}

class ClosingHostEffect : public AudioEffectX {
  public:
    ClosingHostEffect() : AudioEffectX(closingHost, 1, 4) {}
};

// A view that records the thread it is drawn on and can re-enter the editor's idle.
class ThreadProbe : public CView {
  public:
    explicit ThreadProbe(const CRect& r) : CView(r) {}
    void draw(CDrawContext* context) override {
        ++draws;
        {
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
        }
        if (reenter != nullptr) reenter->idle();
        context->setFillColor(kGreenCColor);
        context->drawRect(size_, kDrawFilled);
        setDirty(false);
    }
    std::atomic<int> draws{0};
    std::mutex mutex;
    std::set<std::thread::id> threads;
    AEffEditor* reenter = nullptr;
};

class TestEditor : public AEffGUIEditor {
  public:
    explicit TestEditor(AudioEffect* effect) : AEffGUIEditor(effect) {
        rect_.top = 0;
        rect_.left = 0;
        rect_.bottom = 100;
        rect_.right = 200;
    }
    bool open(void* parent) override {
        AEffGUIEditor::open(parent);
        frame = new CFrame(CRect(0, 0, rect_.right, rect_.bottom), parent, this);
        probe = new ThreadProbe(CRect(0, 0, 20, 20));
        frame->addView(probe);
        probe->forget();
        return parent == nullptr || frame->isWindowOpen();
    }
    void close() override {
        probe = nullptr;
        AEffGUIEditor::close();
    }
    void idle() override {
        ++idles;
        AEffGUIEditor::idle();
    }
    ThreadProbe* probe = nullptr;
    std::atomic<int> idles{0};
};

}  // namespace

TEST(GuiEditor, RectangleIsAnsweredBeforeOpen) {
    TestEffect effect;
    auto* editor = new TestEditor(&effect);
    effect.setEditor(editor);
    vst::ERect* rect = nullptr;
    EXPECT_EQ(effect.dispatcher(vst::effEditGetRect, 0, 0, &rect, 0), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right, 200);
    EXPECT_EQ(rect->bottom, 100);
    EXPECT_FALSE(editor->getRect(nullptr));
}

TEST(GuiEditor, HeadlessIdleRedrawsAndDoesNotReenter) {
    TestEffect effect;
    auto* editor = new TestEditor(&effect);
    effect.setEditor(editor);
    ASSERT_TRUE(editor->open(nullptr));
    editor->probe->reenter = editor;
    editor->probe->setDirty(true);
    editor->idle();
    EXPECT_EQ(editor->probe->draws, 1);
    EXPECT_EQ(editor->idles, 2);  // the nested call came in and did nothing
    editor->idle();
    EXPECT_EQ(editor->probe->draws, 1);  // nothing dirty
    editor->close();
    EXPECT_EQ(editor->getFrame(), nullptr);
    editor->idle();  // after close: harmless
}

TEST(GuiEditor, KeysAreHandledWhenTheFrameUsesThem) {
    TestEffect effect;
    auto* editor = new TestEditor(&effect);
    effect.setEditor(editor);
    editor->open(nullptr);
    VstKeyCode key;
    key.virt = vst::VKEY_UP;
    EXPECT_FALSE(editor->onKeyDown(key));
    auto* knob = new CKnob(CRect(30, 0, 60, 30), nullptr, 1, nullptr);
    editor->getFrame()->addView(knob);
    knob->forget();
    editor->getFrame()->setFocusView(knob);
    EXPECT_TRUE(editor->onKeyDown(key));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.1f);
    key.modifier = vst::MODIFIER_SHIFT;  // reaches the knob as its fine step
    EXPECT_TRUE(editor->onKeyDown(key));
    EXPECT_FLOAT_EQ(knob->getValue(), 0.11f);
    EXPECT_FALSE(editor->onKeyUp(key));
    // A character and a named key reach the focused view as the host sent them.
    auto* probe = new ProbeView(CRect(60, 0, 90, 30));
    editor->getFrame()->addView(probe);
    probe->forget();
    editor->getFrame()->setFocusView(probe);
    VstKeyCode character;
    character.character = 'a';
    editor->onKeyDown(character);
    VstKeyCode escape;
    escape.virt = vst::VKEY_ESCAPE;
    editor->onKeyDown(escape);
    EXPECT_EQ(probe->events, (std::vector<std::string>{"focus", "key 0 97", "key 6 0"}));
    editor->close();
    EXPECT_FALSE(editor->onKeyDown(key));
}

TEST(GuiEditor, EditGesturesReachTheHost) {
    {
        std::lock_guard<std::mutex> lock(hostCallsMutex);
        hostCalls.clear();
    }
    TestEffect effect;
    auto* editor = new TestEditor(&effect);
    effect.setEditor(editor);
    editor->open(nullptr);
    auto* control = new CControl(CRect(0, 0, 5, 5), nullptr, 3);
    editor->getFrame()->addView(control);
    control->forget();
    control->checkDefaultValue(kLButton | kControl);
    std::lock_guard<std::mutex> lock(hostCallsMutex);
    EXPECT_EQ(hostCalls, (std::vector<std::pair<int, int>>{{vst::audioMasterBeginEdit, 3},
                                                           {vst::audioMasterEndEdit, 3}}));
}

TEST(GuiEditor, KnobModeIsStored) {
    TestEffect effect;
    TestEditor editor(&effect);
    EXPECT_TRUE(editor.setKnobMode(2));
    EXPECT_EQ(getGlobalKnobMode(), 2);
    setGlobalKnobMode(0);
}

TEST(GuiEditorX11, TimerDrivesIdleAndHostIdleNeverDrawsOnTheHostThread) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    const int threadsBefore = countThreads();
    TestEffect effect;
    auto* editor = new TestEditor(&effect);
    effect.setEditor(editor);
    ASSERT_EQ(effect.dispatcher(vst::effEditOpen, 0, 0, host.parentHandle(), 0), 1);
    EXPECT_TRUE(waitFor([&] { return editor->idles >= 3; }));  // no host idle was sent
    for (int i = 0; i < 50; ++i) {
        {
            std::unique_lock<std::recursive_timed_mutex> lock(editor->getFrame()->getViewLock());
            editor->probe->setDirty(true);
        }
        effect.dispatcher(vst::effEditIdle, 0, 0, nullptr, 0);
    }
    EXPECT_TRUE(waitFor([&] { return editor->probe->draws >= 2; }));
    {
        std::lock_guard<std::mutex> lock(editor->probe->mutex);
        EXPECT_EQ(editor->probe->threads.count(std::this_thread::get_id()), 0u);
        EXPECT_EQ(editor->probe->threads.size(), 1u);
    }
    effect.dispatcher(vst::effEditClose, 0, 0, nullptr, 0);
    EXPECT_EQ(countThreads(), threadsBefore);
    EXPECT_TRUE(host.children().empty());
    // Open again after close: every open builds anew.
    ASSERT_EQ(effect.dispatcher(vst::effEditOpen, 0, 0, host.parentHandle(), 0), 1);
    effect.dispatcher(vst::effEditClose, 0, 0, nullptr, 0);
}

// Hosts such as Ardour open and close the editor on their GUI thread and send
// keys and idle from another: ThreadSanitizer sees every access of the frame.
TEST(GuiEditorThreads, OpenAndCloseOnOneThreadWhileAnotherSendsKeysIdleAndDraw) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    TestEffect effect;
    auto* editor = new TestEditor(&effect);
    effect.setEditor(editor);
    std::atomic<bool> done{false};
    std::atomic<int> keysSent{0};
    std::thread keyThread([&] {
        while (!done) {
            VstKeyCode key;
            key.virt = vst::VKEY_UP;
            editor->onKeyDown(key);
            editor->onKeyUp(key);
            editor->idle();
            editor->draw(nullptr);
            ++keysSent;
        }
    });
    for (int round = 0; round < 25; ++round) {
        ASSERT_TRUE(editor->open(host.parentHandle()));
        const int sent = keysSent;
        EXPECT_TRUE(waitFor([&] { return keysSent > sent + 2; }));
        editor->close();
        EXPECT_EQ(editor->getFrame(), nullptr);
    }
    done = true;
    keyThread.join();
    EXPECT_TRUE(host.children().empty());
}

TEST(GuiEditorX11, HostClosingTheEditorInACallbackOfTheFramesThread) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    const int threadsBefore = countThreads();
    auto* effect = new ClosingHostEffect;
    auto* editor = new TestEditor(effect);
    effect->setEditor(editor);
    ASSERT_EQ(effect->dispatcher(vst::effEditOpen, 0, 0, host.parentHandle(), 0), 1);
    CFrame* frame = editor->getFrame();
    auto* knob = new CKnob(CRect(40, 20, 80, 60), nullptr, 2, nullptr);
    frame->addView(knob);
    knob->forget();
    effectClosedOnEndEdit = effect;
    host.click(frame->getWindowId(), 60, 40);  // the release ends the edit: the host closes
    EXPECT_TRUE(waitFor([&] { return editor->getFrame() == nullptr; }));
    EXPECT_TRUE(waitFor([&] {
        XSync(host.display(), False);
        return host.children().empty();
    }));
    effectClosedOnEndEdit = nullptr;
    delete effect;  // effClose: the frame's thread is gone when this returns
    EXPECT_EQ(countThreads(), threadsBefore);
}
