// The host-interface base classes with a minimal effect and editor.
#include <gtest/gtest.h>

#include <cmath>

#include "host/AudioEffectX.h"

namespace {

struct RecordingEditor : AEffEditor {
    explicit RecordingEditor(AudioEffect* effect, int* destroyed)
        : AEffEditor(effect), destroyed_(destroyed) {}
    ~RecordingEditor() override { ++*destroyed_; }
    bool getRect(vst::ERect** rect) override {
        *rect = &rect_;
        return true;
    }
    bool open(void* parent) override {
        parent_ = parent;
        return true;
    }
    void close() override { ++closes; }
    void idle() override { ++idles; }
    bool onKeyDown(VstKeyCode& key) override {
        last = key;
        return key.character == 'a';
    }
    bool setKnobMode(vst::int32 mode) override {
        knobMode = mode;
        return true;
    }
    vst::ERect rect_{0, 0, 462, 524};
    void* parent_ = nullptr;
    int closes = 0, idles = 0, knobMode = -1;
    VstKeyCode last;
    int* destroyed_;
};

vst::intptr silentHost(vst::AEffect*, vst::int32, vst::int32, vst::intptr, void*, float) { return 0; }

TEST(AudioEffectBase, EditorOpcodesAreForwardedAndTheEditorIsOwned) {
    int destroyed = 0;
    auto* effect = new AudioEffectX(silentHost, 1, 2);
    auto* editor = new RecordingEditor(effect, &destroyed);
    effect->setEditor(editor);
    vst::AEffect* record = effect->getAeffect();
    EXPECT_EQ(record->flags & vst::effFlagsHasEditor, vst::effFlagsHasEditor);

    vst::ERect* rect = nullptr;
    EXPECT_EQ(record->dispatcher(record, vst::effEditGetRect, 0, 0, &rect, 0.0f), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right, 524);
    EXPECT_EQ(record->dispatcher(record, vst::effEditOpen, 0, 0, reinterpret_cast<void*>(0x1234), 0.0f), 1);
    EXPECT_EQ(editor->parent_, reinterpret_cast<void*>(0x1234));
    record->dispatcher(record, vst::effEditIdle, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(editor->idles, 1);
    EXPECT_EQ(record->dispatcher(record, vst::effEditKeyDown, 'a', vst::VKEY_RETURN, nullptr, 9.0f), 1);
    EXPECT_EQ(editor->last.character, 'a');
    EXPECT_EQ(editor->last.virt, vst::VKEY_RETURN);
    EXPECT_EQ(editor->last.modifier, 9);
    EXPECT_EQ(record->dispatcher(record, vst::effEditKeyDown, 'b', 0, nullptr, NAN), 0);
    EXPECT_EQ(editor->last.modifier, 0);  // a modifier value that is not a number counts as none
    EXPECT_EQ(record->dispatcher(record, vst::effEditKeyUp, 'a', 0, nullptr, 0.0f), 0);
    EXPECT_EQ(record->dispatcher(record, vst::effSetEditKnobMode, 0, 2, nullptr, 0.0f), 1);
    EXPECT_EQ(editor->knobMode, 2);
    record->dispatcher(record, vst::effEditClose, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(editor->closes, 1);

    EXPECT_EQ(record->dispatcher(record, vst::effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(destroyed, 1);
}

TEST(AudioEffectBase, RecordWithoutObjectIsHarmless) {
    vst::AEffect empty{};
    auto* effect = new AudioEffectX(silentHost, 1, 2);
    empty = *effect->getAeffect();
    empty.object = nullptr;
    EXPECT_EQ(empty.dispatcher(&empty, vst::effGetVstVersion, 0, 0, nullptr, 0.0f), 0);
    empty.setParameter(&empty, 0, 1.0f);
    EXPECT_EQ(empty.getParameter(&empty, 0), 0.0f);
    empty.processReplacing(&empty, nullptr, nullptr, 16);
    delete effect;
}

}  // namespace
