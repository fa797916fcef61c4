// Controls: value model, default check, dirty rule, standard controls, text
// edit and option menu, driven by synthetic events on a headless frame.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/GuiTestSupport.h"

using namespace VSTGUI;
using namespace guitest;

namespace {

struct Rig {
    Rig() : frame(new CFrame(CRect(0, 0, 200, 200), nullptr, &editor)) { editor.frame = frame; }
    ~Rig() { frame->forget(); }
    template <class T>
    T* add(T* control) {
        frame->addView(control);
        control->forget();
        return control;
    }
    RecordingEditor editor;
    RecordingListener listener;
    CFrame* frame;
};

CKeyCode virtualKey(int virt, int modifier = 0) {
    CKeyCode key;
    key.virt = static_cast<unsigned char>(virt);
    key.modifier = static_cast<unsigned char>(modifier);
    return key;
}

CKeyCode character(char c) {
    CKeyCode key;
    key.character = static_cast<unsigned char>(c);
    return key;
}

}  // namespace

TEST(ControlValueModel, DefaultsAndUnclampedStorage) {
    CControl control(CRect(0, 0, 10, 10));
    EXPECT_EQ(control.getValue(), 0.0f);
    EXPECT_EQ(control.getMin(), 0.0f);
    EXPECT_EQ(control.getMax(), 1.0f);
    EXPECT_EQ(control.getDefaultValue(), 0.5f);
    EXPECT_EQ(control.getOldValue(), 1.0f);
    EXPECT_FLOAT_EQ(control.getWheelInc(), 0.1f);
    control.setValue(1.7f);
    EXPECT_EQ(control.getValue(), 1.7f);
    control.bounceValue();
    EXPECT_EQ(control.getValue(), 1.0f);
    control.setValue(-3.0f);
    control.bounceValue();
    EXPECT_EQ(control.getValue(), 0.0f);
}

TEST(ControlValueModel, DirtyWhenTheValueDiffersFromTheDrawnOne) {
    CControl control(CRect(0, 0, 10, 10));
    EXPECT_TRUE(control.isDirty());  // old value 1, value 0
    control.setDirty(false);
    EXPECT_FALSE(control.isDirty());
    EXPECT_EQ(control.getOldValue(), 0.0f);
    control.setValue(0.25f);
    EXPECT_TRUE(control.isDirty());
    control.setDirty(false);
    control.setDirty(true);
    EXPECT_TRUE(control.isDirty());
}

TEST(ControlDefaultValue, LeftPlusControlSetsTheDefaultInsideAnEdit) {
    Rig rig;
    auto* control = rig.add(new CControl(CRect(0, 0, 10, 10), &rig.listener, 4));
    control->setDirty(false);
    EXPECT_FALSE(control->checkDefaultValue(kLButton));
    EXPECT_FALSE(control->checkDefaultValue(kLButton | kControl | kShift));
    EXPECT_FALSE(control->checkDefaultValue(kRButton | kControl));
    EXPECT_TRUE(rig.listener.events.empty());
    EXPECT_TRUE(control->checkDefaultValue(kLButton | kControl));
    EXPECT_EQ(control->getValue(), 0.5f);
    EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"begin 4", "changed 4", "end 4"}));
    EXPECT_EQ(rig.editor.events, (std::vector<std::string>{"editor begin 4", "editor end 4"}));
    EXPECT_EQ(rig.frame->getFocusView(), control);
}

TEST(ControlDefaultValue, NoNotificationWhenAlreadyAtTheDrawnDefault) {
    Rig rig;
    auto* control = rig.add(new CControl(CRect(0, 0, 10, 10), &rig.listener, 1));
    control->setValue(0.5f);
    control->setDirty(false);
    EXPECT_TRUE(control->checkDefaultValue(kLButton | kControl));
    EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"begin 1", "end 1"}));
}

TEST(OnOffButton, LeftPressTogglesAndDrawsTheMatchingFrame) {
    FakeResources resources;
    resources.add(300,
                  makePng(10, 20, [](int, int y) { return y < 10 ? 0xFF000000u : 0xFFFFFFFFu; }));
    Rig rig;
    auto* bitmap = new CBitmap(300);
    auto* button = rig.add(new COnOffButton(CRect(0, 0, 10, 10), &rig.listener, 2, bitmap));
    bitmap->forget();
    CPoint p(5, 5);
    EXPECT_EQ(button->onMouseDown(p, kRButton), kMouseEventNotHandled);
    EXPECT_EQ(rig.frame->platformMouseDown(p, kLButton),
              kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    EXPECT_EQ(button->getValue(), 1.0f);
    EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"begin 2", "changed 2", "end 2"}));
    rig.frame->idle();
    EXPECT_EQ(rgb(rig.frame->getImage(), 5, 5), 0xFFFFFFu);
    rig.frame->platformMouseDown(p, kLButton);
    EXPECT_EQ(button->getValue(), 0.0f);
    rig.frame->idle();
    EXPECT_EQ(rgb(rig.frame->getImage(), 5, 5), 0x000000u);
}

TEST(KickButton, MaxWhilePressedInsideMinAfterRelease) {
    Rig rig;
    auto* kick = rig.add(new CKickButton(CRect(0, 0, 10, 10), &rig.listener, 3, nullptr));
    rig.frame->platformMouseDown(CPoint(5, 5), kLButton);
    EXPECT_EQ(kick->getValue(), 1.0f);
    rig.frame->platformMouseMoved(CPoint(50, 50), kLButton);
    EXPECT_EQ(kick->getValue(), 0.0f);
    rig.frame->platformMouseMoved(CPoint(6, 6), kLButton);
    EXPECT_EQ(kick->getValue(), 1.0f);
    rig.frame->platformMouseUp(CPoint(6, 6), 0);
    EXPECT_EQ(kick->getValue(), 0.0f);
    EXPECT_EQ(rig.listener.values, (std::vector<float>{1.0f, 0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(rig.listener.events.front(), "begin 3");
    EXPECT_EQ(rig.listener.events.back(), "end 3");
}

TEST(AnimKnob, FrameIsFloorOfValueTimesFramesMinusOne) {
    CAnimKnob knob(CRect(0, 0, 50, 48), nullptr, 0, 101, 48, nullptr);
    EXPECT_EQ(knob.frameCount(), 101);
    EXPECT_EQ(knob.sourceRowFor(0.0f), 0);
    EXPECT_EQ(knob.sourceRowFor(1.0f), 100 * 48);
    EXPECT_EQ(knob.sourceRowFor(0.5f), 50 * 48);
    EXPECT_EQ(knob.sourceRowFor(0.0099f), 0);
    EXPECT_EQ(knob.sourceRowFor(0.2f), 20 * 48);
    // Just below 1 the frame is still floor(value * 100): the last frame belongs to 1
    // alone, and each frame k covers k/100 up to (k + 1)/100.
    EXPECT_EQ(knob.sourceRowFor(0.999f), 99 * 48);
    EXPECT_EQ(knob.sourceRowFor(0.9999f), 99 * 48);
    EXPECT_EQ(knob.sourceRowFor(0.995f), 99 * 48);
    for (int k = 0; k < 100; ++k) {
        const float low = (static_cast<float>(k) + 0.1f) / 100.0f;
        const float high = (static_cast<float>(k) + 0.9f) / 100.0f;
        EXPECT_EQ(knob.sourceRowFor(low), k * 48) << low;
        EXPECT_EQ(knob.sourceRowFor(high), k * 48) << high;
    }
    // Out-of-range values never select a row outside the strip.
    EXPECT_EQ(knob.sourceRowFor(7.0f), 100 * 48);
    EXPECT_EQ(knob.sourceRowFor(-2.0f), 0);
}

TEST(AnimKnob, FrameCountFromTheBitmapAndDrawnFrame) {
    FakeResources resources;
    // Four 3-row frames whose grey level is the frame number times 60.
    resources.add(301, makePng(3, 12, [](int, int y) {
                      const unsigned g = static_cast<unsigned>(y / 3) * 60;
                      return 0xFF000000u | (g << 16) | (g << 8) | g;
                  }));
    Rig rig;
    auto* bitmap = new CBitmap(301);
    auto* knob = rig.add(new CAnimKnob(CRect(10, 10, 13, 13), &rig.listener, 5, bitmap));
    bitmap->forget();
    EXPECT_EQ(knob->frameCount(), 4);
    knob->setValue(0.7f);  // floor(0.7 * 3) = 2
    rig.frame->idle();
    EXPECT_EQ(rgb(rig.frame->getImage(), 11, 11), 0x787878u);
    knob->setValue(0.9f);  // floor(0.9 * 3) = 2: the last frame is for 1 alone
    rig.frame->idle();
    EXPECT_EQ(rgb(rig.frame->getImage(), 11, 11), 0x787878u);
    knob->setValue(1.0f);
    rig.frame->idle();
    EXPECT_EQ(rgb(rig.frame->getImage(), 11, 11), 0xB4B4B4u);
}

TEST(Knob, DragWheelAndKeysChangeTheValueWithinRange) {
    Rig rig;
    auto* knob = rig.add(new CKnob(CRect(0, 0, 40, 40), &rig.listener, 6, nullptr));
    knob->setValue(0.5f);
    EXPECT_EQ(rig.frame->platformMouseDown(CPoint(20, 20), kLButton), kMouseEventHandled);
    rig.frame->platformMouseMoved(CPoint(20, 0), kLButton);  // 20 px up
    EXPECT_NEAR(knob->getValue(), 0.6f, 1e-5);
    rig.frame->platformMouseMoved(CPoint(20, 200), kLButton);
    EXPECT_EQ(knob->getValue(), 0.0f);
    rig.frame->platformMouseUp(CPoint(20, 200), 0);
    EXPECT_EQ(rig.listener.events.front(), "begin 6");
    EXPECT_EQ(rig.listener.events.back(), "end 6");
    rig.listener.events.clear();
    knob->setWheelInc(0.25f);
    rig.frame->platformWheel(CPoint(20, 20), kMouseWheelAxisY, 1.0f, 0);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.25f);
    EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"begin 6", "changed 6", "end 6"}));
    CKeyCode up = virtualKey(VKEY_UP);
    rig.frame->setFocusView(knob);
    EXPECT_EQ(rig.frame->onKeyDown(up), kKeyHandled);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.5f);
    CKeyCode fineDown = virtualKey(VKEY_LEFT, MODIFIER_SHIFT);
    rig.frame->onKeyDown(fineDown);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.475f);
    rig.listener.events.clear();
    knob->setValue(1.0f);
    rig.frame->onKeyDown(up);  // at the limit: nothing changes, nothing is sent
    EXPECT_TRUE(rig.listener.events.empty());
}

TEST(Knob, SecondButtonDuringADragKeepsOneBeginAndOneEnd) {
    Rig rig;
    auto* knob = rig.add(new CKnob(CRect(0, 0, 40, 40), &rig.listener, 6, nullptr));
    auto* other = rig.add(new CKnob(CRect(100, 100, 140, 140), &rig.listener, 7, nullptr));
    knob->setValue(0.5f);
    rig.frame->platformMouseDown(CPoint(20, 20), kLButton);
    rig.frame->platformMouseMoved(CPoint(20, 10), kLButton);
    // The right button joins (over the other knob), then the left goes up first.
    rig.frame->platformMouseDown(CPoint(120, 120), kLButton | kRButton);
    EXPECT_EQ(rig.frame->getCapturedView(), knob);
    rig.frame->platformMouseMoved(CPoint(20, 0), kLButton | kRButton);
    rig.frame->platformMouseUp(CPoint(20, 0), kRButton);
    EXPECT_EQ(rig.frame->getCapturedView(), knob);
    rig.frame->platformMouseMoved(CPoint(30, 0), kRButton);
    rig.frame->platformMouseUp(CPoint(30, 0), 0);
    EXPECT_EQ(rig.frame->getCapturedView(), nullptr);
    EXPECT_EQ(rig.editor.events, (std::vector<std::string>{"editor begin 6", "editor end 6"}));
    EXPECT_EQ(std::count(rig.listener.events.begin(), rig.listener.events.end(), "begin 6"), 1);
    EXPECT_EQ(std::count(rig.listener.events.begin(), rig.listener.events.end(), "end 6"), 1);
    EXPECT_EQ(std::count(rig.listener.events.begin(), rig.listener.events.end(), "begin 7"), 0);
    EXPECT_NEAR(knob->getValue(), 0.6f, 1e-5);
    EXPECT_EQ(other->getValue(), 0.0f);
    // The next press starts a new drag as usual.
    EXPECT_EQ(rig.frame->platformMouseDown(CPoint(120, 120), kLButton), kMouseEventHandled);
    EXPECT_EQ(rig.frame->getCapturedView(), other);
}

TEST(Knob, ControlClickResetsToTheDefault) {
    Rig rig;
    auto* knob = rig.add(new CKnob(CRect(0, 0, 40, 40), &rig.listener, 6, nullptr));
    knob->setDefaultValue(0.2f);
    knob->setValue(0.9f);
    EXPECT_EQ(rig.frame->platformMouseDown(CPoint(20, 20), kLButton | kControl),
              kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    EXPECT_EQ(knob->getValue(), 0.2f);
}

TEST(RockerSwitch, HalvesSetMinOrMaxAndReleaseCentres) {
    Rig rig;
    auto* rocker = rig.add(new CRockerSwitch(CRect(0, 0, 20, 10), &rig.listener, 8, nullptr));
    rig.frame->platformMouseDown(CPoint(3, 5), kLButton);
    EXPECT_EQ(rocker->getValue(), -1.0f);
    rig.frame->platformMouseUp(CPoint(3, 5), 0);
    EXPECT_EQ(rocker->getValue(), 0.0f);
    rig.frame->platformMouseDown(CPoint(15, 5), kLButton);
    EXPECT_EQ(rocker->getValue(), 1.0f);
    rig.frame->platformMouseUp(CPoint(15, 5), 0);
    EXPECT_EQ(rig.listener.values, (std::vector<float>{-1.0f, 0.0f, 1.0f, 0.0f}));
}

// ---------------------------------------------------------------- text edit

TEST(TextEditBuffer, EditingOperations) {
    TextEditBuffer b;
    b.setText("12.5");
    EXPECT_EQ(b.selectionStart(), 0u);
    EXPECT_EQ(b.selectionEnd(), 4u);
    b.insert('7');  // replaces everything selected
    EXPECT_EQ(b.text(), "7");
    b.insert('8');
    b.home(false);
    b.insert('-');
    EXPECT_EQ(b.text(), "-78");
    b.end(false);
    b.backspace();
    EXPECT_EQ(b.text(), "-7");
    b.left(false);
    b.deleteForward();
    EXPECT_EQ(b.text(), "-");
    b.right(false);
    b.right(false);
    EXPECT_EQ(b.caret(), 1u);
    b.setText("abc");
    b.left(false);  // collapses the selection to its start
    EXPECT_EQ(b.caret(), 0u);
    b.right(true);
    b.right(true);
    b.backspace();
    EXPECT_EQ(b.text(), "c");
    b.home(false);
    b.backspace();  // nothing before the caret
    EXPECT_EQ(b.text(), "c");
}

TEST(TextEditBuffer, NeverHoldsMoreThan255Characters) {
    TextEditBuffer b;
    b.setText(std::string(300, 'x'));
    EXPECT_EQ(b.text().size(), 255u);
    b.end(false);
    EXPECT_FALSE(b.insert('y'));
    EXPECT_EQ(b.text().size(), 255u);
    b.selectAll();
    EXPECT_TRUE(b.insert('z'));  // replacing a selection is fine
    EXPECT_EQ(b.text(), "z");
}

TEST(TextEdit, ClickOpensTheBoxWithAllTextSelectedAndEnterCommits) {
    Rig rig;
    auto* edit = rig.add(new CTextEdit(CRect(10, 10, 90, 30), &rig.listener, 9, "0.0"));
    rig.frame->platformMouseDown(CPoint(20, 20), kLButton);
    ASSERT_TRUE(edit->isEditing());
    EXPECT_EQ(rig.frame->getActiveTextEdit(), edit);
    EXPECT_EQ(edit->getEditBuffer().selectionEnd(), 3u);
    for (char c : std::string("-6.5")) {
        CKeyCode key = character(c);
        EXPECT_EQ(rig.frame->onKeyDown(key), kKeyHandled);
    }
    CKeyCode enter = virtualKey(VKEY_RETURN);
    EXPECT_EQ(rig.frame->onKeyDown(enter), kKeyHandled);
    EXPECT_FALSE(edit->isEditing());
    EXPECT_STREQ(edit->getText(), "-6.5");
    EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"begin 9", "changed 9", "end 9"}));
    EXPECT_EQ(rig.frame->getActiveTextEdit(), nullptr);
    EXPECT_EQ(rig.frame->getFocusView(), nullptr);
}

TEST(TextEdit, EscapeCancelsAndUnchangedTextIsNotReported) {
    Rig rig;
    auto* edit = rig.add(new CTextEdit(CRect(10, 10, 90, 30), &rig.listener, 9, "abc"));
    rig.frame->setFocusView(edit);
    CKeyCode x = character('x');
    rig.frame->onKeyDown(x);
    CKeyCode escape = virtualKey(VKEY_ESCAPE);
    rig.frame->onKeyDown(escape);
    EXPECT_FALSE(edit->isEditing());
    EXPECT_TRUE(edit->wasCancelled());
    EXPECT_STREQ(edit->getText(), "abc");
    rig.frame->setFocusView(edit);
    CKeyCode enter = virtualKey(VKEY_ENTER);
    rig.frame->onKeyDown(enter);
    EXPECT_TRUE(rig.listener.events.empty());
}

TEST(TextEdit, FocusLossCommitsAndNavigationKeysWork) {
    Rig rig;
    auto* edit = rig.add(new CTextEdit(CRect(10, 10, 90, 30), &rig.listener, 9, "hello"));
    auto* other = rig.add(new ProbeView(CRect(100, 100, 120, 120)));
    rig.frame->setFocusView(edit);
    for (int virt :
         {VKEY_HOME, VKEY_DELETE, VKEY_END, VKEY_BACK, VKEY_LEFT}) {
        CKeyCode key = virtualKey(virt);
        rig.frame->onKeyDown(key);
    }
    CKeyCode bang = character('!');
    rig.frame->onKeyDown(bang);
    rig.frame->platformMouseDown(CPoint(110, 110), kLButton);  // a press elsewhere
    EXPECT_FALSE(edit->isEditing());
    EXPECT_STREQ(edit->getText(), "el!l");
    EXPECT_EQ(rig.listener.events, std::vector<std::string>{"changed 9"});
    EXPECT_EQ(other->events.size(), 1u);
}

TEST(TextEdit, WindowFocusLossClosesTheBoxAndTheBoxIsDrawnOverTheControl) {
    Rig rig;
    auto* edit = rig.add(new CTextEdit(CRect(10, 10, 90, 40), &rig.listener, 9, "W"));
    edit->setBackColor(kWhiteCColor);
    edit->setFontColor(kBlackCColor);
    rig.frame->setFocusView(edit);
    const CRect box = edit->getEditBoxRect();
    EXPECT_EQ(box.left, 10);
    EXPECT_EQ(box.right, 90);
    EXPECT_NEAR((box.top + box.bottom) / 2.0, 25.0, 1.0);
    rig.frame->idle();
    // All text selected: the selection shows in the font colour.
    EXPECT_EQ(rgb(rig.frame->getImage(), 11, box.top), 0x000000u);
    EXPECT_EQ(rgb(rig.frame->getImage(), 80, box.top), 0xFFFFFFu);
    rig.frame->platformFocusLost();
    EXPECT_FALSE(edit->isEditing());
}

TEST(TextEdit, ControlCharactersAndLongTextAreHandledSafely) {
    Rig rig;
    auto* edit = rig.add(
        new CTextEdit(CRect(10, 10, 90, 30), &rig.listener, 9, std::string(400, 'a').c_str()));
    EXPECT_EQ(std::string(edit->getText()).size(), 255u);
    char copy[256];
    edit->getText(copy);
    EXPECT_EQ(std::string(copy).size(), 255u);
    rig.frame->setFocusView(edit);
    CKeyCode bell = character('\a');
    EXPECT_EQ(rig.frame->onKeyDown(bell), kKeyNotHandled);
    CKeyCode high = character('\xe9');
    rig.frame->onKeyDown(high);
    EXPECT_EQ(edit->getEditBuffer().text(), "\xe9");
    rig.frame->idle();  // drawing the 8-bit text keeps working
    EXPECT_TRUE(edit->isEditing());
}

// ---------------------------------------------------------------- option menu

TEST(OptionMenu, EntriesSeparatorsAndCurrentIndexWithoutSeparators) {
    Rig rig;
    auto* menu = rig.add(new COptionMenu(CRect(0, 0, 50, 15), &rig.listener, 1012));
    menu->addEntry("one");
    menu->addSeparator();
    menu->addEntry("two");
    menu->addEntry("-");
    menu->addEntry("three");
    EXPECT_EQ(menu->getNbEntries(), 5);
    EXPECT_TRUE(menu->getEntry(1)->isSeparator());
    EXPECT_TRUE(menu->getEntry(3)->isSeparator());
    EXPECT_TRUE(menu->setCurrent(4));
    EXPECT_EQ(menu->getCurrent(), 4);
    EXPECT_EQ(menu->getCurrentIndex(false), 2);
    EXPECT_EQ(menu->getValue(), 4.0f);
    EXPECT_TRUE(menu->setCurrent(1, false));  // the second real entry
    EXPECT_EQ(menu->getCurrent(), 2);
    EXPECT_FALSE(menu->setCurrent(9));
    EXPECT_FALSE(menu->setCurrent(3, false));
    char text[256];
    menu->getCurrent(text);
    EXPECT_STREQ(text, "two");
    EXPECT_STREQ(menu->getCurrentEntry()->getTitle(), "two");
    EXPECT_FALSE(menu->getEntry(7, text));
}

TEST(OptionMenu, CheckMarksAndStyles) {
    COptionMenu menu(CRect(0, 0, 50, 15), nullptr, 0);
    menu.addEntry("a");
    menu.addEntry("b");
    menu.addEntry("c");
    menu.checkEntry(0, true);
    menu.checkEntryAlone(2);
    EXPECT_FALSE(menu.isCheckEntry(0));
    EXPECT_TRUE(menu.isCheckEntry(2));
    EXPECT_TRUE(menu.showsCheck(2));
    menu.setStyle(kCheckStyle);
    menu.setCurrent(1);
    EXPECT_TRUE(menu.showsCheck(1));
    EXPECT_FALSE(menu.showsCheck(2));
    menu.setPrefixNumbers(2);
    EXPECT_EQ(menu.displayTitle(0), "01 a");
    menu.setPrefixNumbers(3);
    EXPECT_EQ(menu.displayTitle(2), "003 c");
    menu.setPrefixNumbers(1);
    EXPECT_EQ(menu.displayTitle(1), "2 b");
}

TEST(OptionMenu, ChoiceBecomesCurrentAndValueAndNotifies) {
    Rig rig;
    auto* menu = rig.add(new COptionMenu(CRect(0, 0, 50, 15), &rig.listener, 1012));
    menu->addEntry("a");
    menu->addSeparator();
    menu->addEntry("b", -1, CMenuItem::kDisabled);
    menu->addEntry("c");
    menu->choose(3);
    EXPECT_EQ(menu->getCurrent(), 3);
    EXPECT_EQ(menu->getValue(), 3.0f);
    EXPECT_EQ(rig.listener.events, std::vector<std::string>{"changed 1012"});
    menu->choose(1);  // a separator
    menu->choose(2);  // disabled
    menu->choose(-1);
    EXPECT_EQ(menu->getCurrent(), 3);
    EXPECT_EQ(rig.listener.events.size(), 1u);
}

TEST(OptionMenuLayout, ColumnBreakBeforeEveryNthEntry) {
    std::vector<CMenuItem> items;
    for (int i = 0; i < 24; ++i) items.emplace_back("x", 0);
    std::vector<CCoord> widths(items.size(), 30);
    MenuLayout layout(items, widths, 8, 18, 7);
    EXPECT_EQ(layout.columnOf(0), 0);
    EXPECT_EQ(layout.columnOf(7), 0);
    EXPECT_EQ(layout.columnOf(8), 1);
    EXPECT_EQ(layout.columnOf(23), 2);
    EXPECT_EQ(layout.itemRect(8).top, layout.itemRect(0).top);
    EXPECT_GT(layout.itemRect(8).left, layout.itemRect(0).left);
    EXPECT_EQ(layout.itemAt(CPoint(layout.itemRect(9).left + 2, layout.itemRect(9).top + 2)), 9);
    EXPECT_EQ(layout.itemAt(CPoint(-5, -5)), -1);
    // From 160 entries on there are no column breaks.
    std::vector<CMenuItem> many(160, CMenuItem("y", 0));
    MenuLayout single(many, std::vector<CCoord>(160, 30), 8, 18, 7);
    EXPECT_EQ(single.columnOf(159), 0);
}

TEST(OptionMenuPopup, KeyboardSkipsSeparatorsAndDisabledEntries) {
    Rig rig;
    auto* menu = rig.add(new COptionMenu(CRect(0, 0, 50, 15), &rig.listener, 7));
    menu->addEntry("a");
    menu->addSeparator();
    menu->addEntry("b", -1, CMenuItem::kDisabled);
    menu->addEntry("c");
    auto* popup = new MenuPopup(menu);
    EXPECT_EQ(popup->highlighted(), 0);
    popup->popupKeyDown(virtualKey(VKEY_DOWN));
    EXPECT_EQ(popup->highlighted(), 3);
    popup->popupKeyDown(virtualKey(VKEY_DOWN));
    EXPECT_EQ(popup->highlighted(), 0);  // wraps
    popup->popupKeyDown(virtualKey(VKEY_UP));
    popup->popupKeyDown(virtualKey(VKEY_RETURN));
    EXPECT_TRUE(popup->popupFinished());
    popup->popupClosed();  // deletes the pop-up and applies the choice
    EXPECT_EQ(menu->getCurrent(), 3);
    EXPECT_EQ(rig.listener.events, std::vector<std::string>{"changed 7"});
}

TEST(OptionMenuPopup, MouseChoosesAndOutsideClickCancels) {
    Rig rig;
    auto* menu = rig.add(new COptionMenu(CRect(0, 0, 50, 15), &rig.listener, 7));
    menu->addEntry("a");
    menu->addEntry("b");
    auto* popup = new MenuPopup(menu);
    const CRect second = popup->layout().itemRect(1);
    popup->popupMouseMoved(CPoint(second.left + 3, second.top + 3), 0);
    EXPECT_EQ(popup->highlighted(), 1);
    popup->popupMouseDown(CPoint(second.left + 3, second.top + 3), kLButton);
    popup->popupClosed();
    EXPECT_EQ(menu->getCurrent(), 1);
    auto* cancelled = new MenuPopup(menu);
    cancelled->popupOutsideClick();
    EXPECT_TRUE(cancelled->popupFinished());
    cancelled->popupClosed();
    EXPECT_EQ(menu->getCurrent(), 1);
    EXPECT_EQ(menu->getLastResult(), -1);
    EXPECT_EQ(rig.listener.events.size(), 1u);
}

TEST(OptionMenuPopup, HeadlessFrameOpensNoPopup) {
    Rig rig;
    auto* menu = rig.add(new COptionMenu(CRect(0, 0, 50, 15), &rig.listener, 7));
    menu->addEntry("a");
    EXPECT_EQ(rig.frame->platformMouseDown(CPoint(5, 5), kLButton),
              kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    EXPECT_FALSE(menu->isPopupOpen());
    EXPECT_EQ(rig.frame->platformMouseDown(CPoint(5, 5), kMButton), kMouseEventNotHandled);
}

TEST(TextEdit, ClosingTheFrameWithTheBoxOpenCommitsAndEndsTheEdit) {
    RecordingEditor editor;
    RecordingListener listener;
    auto* frame = new CFrame(CRect(0, 0, 200, 200), nullptr, &editor);
    auto* edit = new CTextEdit(CRect(10, 10, 190, 30), &listener, 9, "1.0");
    frame->addView(edit);  // our own reference outlives the frame
    frame->platformMouseDown(CPoint(100, 20), kLButton);
    ASSERT_TRUE(edit->isEditing());
    for (char c : std::string("2.5")) {
        CKeyCode key = character(c);
        frame->onKeyDown(key);
    }
    frame->forget();
    EXPECT_FALSE(edit->isEditing());
    EXPECT_STREQ(edit->getText(), "2.5");
    EXPECT_EQ(listener.events, (std::vector<std::string>{"begin 9", "changed 9", "end 9"}));
    EXPECT_EQ(editor.events, (std::vector<std::string>{"editor begin 9", "editor end 9"}));
    edit->forget();
}

TEST(TextEdit, RemovingTheOpenBoxCommitsAndEndsTheEdit) {
    Rig rig;
    auto* edit = rig.add(new CTextEdit(CRect(10, 10, 190, 30), &rig.listener, 9, "1.0"));
    rig.frame->platformMouseDown(CPoint(100, 20), kLButton);
    ASSERT_TRUE(edit->isEditing());
    CKeyCode key = character('7');
    rig.frame->onKeyDown(key);
    edit->remember();
    rig.frame->removeView(edit);
    EXPECT_FALSE(edit->isEditing());
    EXPECT_STREQ(edit->getText(), "7");
    EXPECT_EQ(rig.frame->getActiveTextEdit(), nullptr);
    EXPECT_EQ(rig.listener.events, (std::vector<std::string>{"begin 9", "changed 9", "end 9"}));
    edit->forget();
}

TEST(TextEdit, PressInsideTheOpenBoxPlacesTheCaret) {
    Rig rig;
    auto* edit = rig.add(new CTextEdit(CRect(10, 10, 190, 30), &rig.listener, 9, "abcdef"));
    rig.frame->platformMouseDown(CPoint(100, 20), kLButton);  // opens, all selected
    ASSERT_TRUE(edit->isEditing());
    rig.frame->idle();
    rig.frame->platformMouseDown(CPoint(10, 20), kLButton);  // left edge: before the text
    EXPECT_EQ(edit->getEditBuffer().caret(), 0u);
    EXPECT_FALSE(edit->getEditBuffer().hasSelection());
    rig.frame->platformMouseDown(CPoint(185, 20), kLButton | kShift);  // past the end, extending
    EXPECT_EQ(edit->getEditBuffer().caret(), 6u);
    EXPECT_EQ(edit->getEditBuffer().selectionStart(), 0u);
    EXPECT_TRUE(edit->isEditing());
}
