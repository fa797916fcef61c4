// The editor's custom controls driven headless: gestures through the mouse,
// wheel and key handlers with a recording listener and editor interface, and
// frames compared with the artwork's source rows.
#include <gtest/gtest.h>

#include <cmath>

#include "ControlsTestSupport.h"
#include "editor/QuoltControls.h"
#include "effect/ParameterModel.h"

namespace {

using namespace VSTGUI;
using namespace controlstest;

constexpr CMouseEventResult kTaken = kMouseDownEventHandledButDontNeedMovedOrUpEvents;

CKeyCode key(char character, unsigned char virt = 0, unsigned char modifier = 0) {
    CKeyCode code;
    code.character = character;
    code.virt = virt;
    code.modifier = modifier;
    return code;
}

// The control's rectangle shows frame row `row` of `bitmap`.
int frameMismatches(HeadlessEditorFrame& editor, const CControl* control, CBitmap* bitmap,
                    CCoord row) {
    return mismatches(editor.frame()->getImage(), control->getViewSize(), bitmap, CPoint(0, row));
}

// ---------------------------------------------------------------- knobs

constexpr CRect kOutputKnobRect{417, 349, 475, 405};

class KnobTest : public ::testing::Test {
  protected:
    KnobTest() {
        knob_ = editor_.add(new CMyKnob(kOutputKnobRect, &editor_.log, 0, editor_.art(151), 56));
        knob_->setWheelInc(0.05208336f);
        knob_->setDefaultValue(1.0f);
        knob_->setValue(0.5f);
    }
    CMouseEventResult press(CPoint where, CButtonState buttons) {
        return knob_->onMouseDown(where, buttons);
    }
    void move(CPoint where, CButtonState buttons) { knob_->onMouseMoved(where, buttons); }
    void release(CPoint where) { knob_->onMouseUp(where, kLButton); }

    HeadlessEditorFrame editor_;
    CMyKnob* knob_;
};

TEST_F(KnobTest, DrawsFrameFloorOfValueTimesFramesLessOne) {
    EXPECT_EQ(knob_->frameCount(), 101);
    for (float value : {0.999f, 0.5f, 0.0f, 1.0f, 0.257f}) {
        knob_->setValue(value);
        editor_.idle();
        const int frame = static_cast<int>(std::floor(value * 100.0f));
        EXPECT_EQ(frameMismatches(editor_, knob_, editor_.art(151), 56 * frame), 0)
            << "value " << value;
    }
    // The neighbouring frame looks different, so the comparison can tell them apart.
    EXPECT_GT(frameMismatches(editor_, knob_, editor_.art(151), 56 * 24), 0);
}

TEST_F(KnobTest, DragMoves400PixelsPerRangeRightAndUpRaise) {
    EXPECT_EQ(press(CPoint(440, 380), kLButton), kMouseEventHandled);
    EXPECT_EQ(editor_.log.events, events({"begin 0", "host begin 0", "changed 0"}));
    EXPECT_EQ(editor_.frame()->getFocusView(), knob_);
    move(CPoint(440, 340), kLButton);  // 40 up
    EXPECT_NEAR(knob_->getValue(), 0.6f, 1e-6);
    move(CPoint(420, 340), kLButton);  // and 20 left
    EXPECT_NEAR(knob_->getValue(), 0.55f, 1e-6);
    move(CPoint(420, 340), kLButton);  // same place: nothing
    EXPECT_EQ(editor_.log.values.size(), 3u);
    move(CPoint(2000, 340), kLButton);
    EXPECT_FLOAT_EQ(knob_->getValue(), 1.0f);
    release(CPoint(2000, 340));
    EXPECT_EQ(editor_.log.events.back(), "end 0");
    EXPECT_EQ(editor_.log.events[editor_.log.events.size() - 2], "host end 0");
}

TEST_F(KnobTest, ShiftDragIsFinerAndChangingShiftMidDragDoesNotJump) {
    press(CPoint(440, 380), kLButton | kShift);
    move(CPoint(440, 280), kLButton | kShift);  // 100 up at 1000 pixels per range
    EXPECT_NEAR(knob_->getValue(), 0.6f, 1e-6);

    // Shift released: the move that tells of it still counts at the old rate
    // (no jump), the following ones at 400 pixels per range.
    move(CPoint(441, 280), kLButton);
    EXPECT_NEAR(knob_->getValue(), 0.601f, 1e-6);
    move(CPoint(441, 240), kLButton);
    EXPECT_NEAR(knob_->getValue(), 0.601f + 40.0f / 400.0f, 1e-6);
    // Pressed again: 1000 pixels per range from the current value on.
    move(CPoint(441, 230), kLButton | kShift);
    EXPECT_NEAR(knob_->getValue(), 0.701f + 10.0f / 400.0f, 1e-6);
    move(CPoint(441, 130), kLButton | kShift);
    EXPECT_NEAR(knob_->getValue(), 0.726f + 100.0f / 1000.0f, 1e-6);
    release(CPoint(441, 130));
}

TEST_F(KnobTest, ControlClickSetsTheDefaultInsideOneEdit) {
    knob_->setValue(0.3f);
    knob_->setDirty(false);
    EXPECT_EQ(press(CPoint(440, 380), kLButton | kControl), kTaken);
    EXPECT_FLOAT_EQ(knob_->getValue(), 1.0f);
    EXPECT_EQ(editor_.log.events,
              events({"begin 0", "host begin 0", "changed 0", "host end 0", "end 0"}));
    // With another modifier as well it is an ordinary drag.
    editor_.log.clear();
    EXPECT_EQ(press(CPoint(440, 380), kLButton | kControl | kShift), kMouseEventHandled);
    release(CPoint(440, 380));
    EXPECT_FLOAT_EQ(knob_->getValue(), 1.0f);
    EXPECT_EQ(press(CPoint(440, 380), kRButton), kMouseEventNotHandled);
}

TEST_F(KnobTest, WheelStepsAHundredthAndArrowKeysTheWheelIncrement) {
    EXPECT_TRUE(knob_->onWheel(CPoint(440, 380), 1.0f, 0));
    EXPECT_NEAR(knob_->getValue(), 0.51f, 1e-6);
    EXPECT_EQ(editor_.log.events,
              events({"begin 0", "host begin 0", "changed 0", "host end 0", "end 0"}));
    knob_->onWheel(CPoint(440, 380), -2.0f, kShift);
    EXPECT_NEAR(knob_->getValue(), 0.508f, 1e-6);

    // The begin edit made the knob the focus view: keys reach it through the frame.
    ASSERT_EQ(editor_.frame()->getFocusView(), knob_);
    CKeyCode up = key(0, VKEY_UP);
    EXPECT_EQ(editor_.frame()->onKeyDown(up), kKeyHandled);
    EXPECT_NEAR(knob_->getValue(), 0.508f + 0.05208336f, 1e-6);
    CKeyCode fineDown = key(0, VKEY_LEFT, MODIFIER_SHIFT);
    editor_.frame()->onKeyDown(fineDown);
    EXPECT_NEAR(knob_->getValue(), 0.508f + 0.05208336f * 0.9f, 1e-6);

    // At the end of the range nothing changes and nothing is sent.
    knob_->setValue(1.0f);
    editor_.log.clear();
    knob_->onWheel(CPoint(440, 380), 3.0f, 0);
    EXPECT_FLOAT_EQ(knob_->getValue(), 1.0f);
    EXPECT_TRUE(editor_.log.events.empty());
}

TEST_F(KnobTest, OnlyItsOwnDragMovesItAndARemovedKnobEndsItsEdit) {
    move(CPoint(440, 300), kLButton);  // a pointer passing over with the button held
    EXPECT_FLOAT_EQ(knob_->getValue(), 0.5f);
    EXPECT_TRUE(editor_.log.events.empty());

    press(CPoint(440, 380), kLButton);
    knob_->remember();
    editor_.frame()->removeView(knob_);
    EXPECT_EQ(editor_.log.events.back(), "end 0");
    EXPECT_EQ(std::count(editor_.log.events.begin(), editor_.log.events.end(), "host end 0"), 1);
    knob_->forget();
}

// ---------------------------------------------------------------- text fields

TEST(TextFieldTexts, DisplayAndEditingTextsByTag) {
    EXPECT_EQ(CMyTextEdit::displayText(0, 1.0f), "+0.00dB");
    EXPECT_EQ(CMyTextEdit::displayText(0, 0.0f), "-12.00dB");
    EXPECT_EQ(CMyTextEdit::editingText(0, 0.0f), "-12.00");
    EXPECT_EQ(CMyTextEdit::displayText(1, 0.5f), "+0.00dB");
    EXPECT_EQ(CMyTextEdit::displayText(1, 1.0f), "+24.00dB");
    EXPECT_EQ(CMyTextEdit::editingText(1, 0.25f), "-12.00");
    EXPECT_EQ(CMyTextEdit::displayText(2, 0.2f), "20.0%");
    EXPECT_EQ(CMyTextEdit::editingText(5, 1.0f), "100.0");
    EXPECT_EQ(CMyTextEdit::displayText(3, 0.0f), "1.0ms");
    EXPECT_EQ(CMyTextEdit::displayText(3, 1.0f), "1000.0ms");
    EXPECT_EQ(CMyTextEdit::editingText(3, 1.0f), "1000.0");
    EXPECT_EQ(CMyTextEdit::displayText(13, 1.0f), "off");
    EXPECT_EQ(CMyTextEdit::editingText(13, 1.0f), "off");
    EXPECT_EQ(CMyTextEdit::displayText(13, 0.5f), "-6.00dB");
    EXPECT_EQ(CMyTextEdit::editingText(13, 0.5f), "-6.00");
}

TEST(TextFieldTexts, TypedTextIsReadAsALeadingNumberAndClamped) {
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(0, "-30"), 0.0f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(0, "-6"), 0.5f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(0, "3"), 1.0f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(0, "abc"), 1.0f);  // no number: 0 dB
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(1, "12dB"), 0.75f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(1, "-100"), 0.0f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(2, " 150"), 1.0f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(5, "+2.5e1"), 0.25f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(3, "letters"), 0.0f);  // 1 ms
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(3, "2000"), 1.0f);
    EXPECT_NEAR(CMyTextEdit::valueFromText(3, "10"), std::pow(1.0 / 3.0, 1.2190630447230832), 1e-6);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(13, "OFF"), 1.0f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(13, " Off "), 1.0f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(13, "0"), 1.0f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(13, "-6"), 0.5f);
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(13, "-99"), 0.0f);
    // "nan" is a number to the C library, but no value a parameter can take.
    EXPECT_FLOAT_EQ(CMyTextEdit::valueFromText(2, "nan"), 0.0f);
}

TEST(TextFieldTexts, EditingTextReadsBackToNearlyTheSameValue) {
    for (std::int32_t tag : {0, 1, 2, 3, 5, 13}) {
        for (float value : {0.0f, 0.1f, 0.7237f, 0.99f, 1.0f}) {
            const float back =
                CMyTextEdit::valueFromText(tag, CMyTextEdit::editingText(tag, value).c_str());
            EXPECT_NEAR(back, value, 2e-3) << "tag " << tag << " value " << value;
        }
    }
}

constexpr CRect kOutputFieldRect{410, 409, 484, 427};

class TextFieldTest : public ::testing::Test {
  protected:
    TextFieldTest() {
        field_ = editor_.add(new CMyTextEdit(kOutputFieldRect, &editor_.log, 0, editor_.art(128),
                                             editor_.art(137), editor_.art("bmp00159.png")));
        field_->setValue(1.0f);
    }
    void type(const char* text) {
        for (const char* c = text; *c != 0; ++c) {
            CKeyCode code = key(*c);
            editor_.frame()->onKeyDown(code);
        }
    }
    void pressKey(unsigned char virt) {
        CKeyCode code = key(0, virt);
        editor_.frame()->onKeyDown(code);
    }
    long count(const char* event) const {
        return std::count(editor_.log.events.begin(), editor_.log.events.end(), event);
    }

    HeadlessEditorFrame editor_;
    CMyTextEdit* field_;
};

TEST_F(TextFieldTest, ShowsTheValueCentredInTheSecondFont) {
    field_->setValue(0.5f);
    editor_.idle();
    const std::string text = "-6.00dB";
    const CCoord left = 410 + (74 - 6 * 7) / 2;
    const CCoord baseline = (409 + 427) / 2 + 4;
    CBitmap* font = editor_.art("bmp00159.png");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const CCoord x = left + 6 * static_cast<CCoord>(i);
        EXPECT_EQ(
            mismatches(editor_.frame()->getImage(), CRect(x, baseline - 7, x + 5, baseline + 1),
                       font, CPoint(0, 8 * CTextPrinter::glyphFor(text[i], false))),
            0)
            << text[i];
    }
    // Left of the text the background shows.
    EXPECT_EQ(mismatches(editor_.frame()->getImage(), CRect(410, 409, left, 427), editor_.art(128),
                         CPoint(410, 409)),
              0);
}

TEST_F(TextFieldTest, ATypedValueReachesTheHostInsideOneEditPair) {
    CPoint where(420, 415);
    EXPECT_EQ(field_->onMouseDown(where, kLButton), kTaken);
    EXPECT_TRUE(field_->isEditing());
    EXPECT_EQ(field_->getEditBuffer().text(), "0.00");
    type("-6");
    pressKey(VKEY_RETURN);
    EXPECT_FALSE(field_->isEditing());
    EXPECT_FLOAT_EQ(field_->getValue(), 0.5f);
    EXPECT_EQ(editor_.log.events,
              events({"begin 0", "host begin 0", "changed 0", "host end 0", "end 0"}));
    EXPECT_EQ(editor_.log.values, std::vector<float>({0.5f}));
}

TEST_F(TextFieldTest, BoxesClosedWithoutAChangeStillEndTheirEdit) {
    CPoint where(420, 415);
    field_->onMouseDown(where, kLButton);
    pressKey(VKEY_RETURN);  // unchanged text
    field_->onMouseDown(where, kLButton);
    type("-3");
    pressKey(VKEY_ESCAPE);  // cancelled
    EXPECT_FLOAT_EQ(field_->getValue(), 1.0f);
    EXPECT_EQ(count("begin 0"), 2);
    EXPECT_EQ(count("end 0"), 2);
    EXPECT_EQ(count("host begin 0"), 2);
    EXPECT_EQ(count("host end 0"), 2);
    EXPECT_EQ(count("changed 0"), 0);
}

TEST_F(TextFieldTest, APressElsewhereCommitsAndRemovalEndsTheEdit) {
    CPoint where(420, 415);
    field_->onMouseDown(where, kLButton);
    type("-12");
    editor_.press(CPoint(10, 10), kLButton);  // on the background: the box loses the focus
    EXPECT_FLOAT_EQ(field_->getValue(), 0.0f);
    EXPECT_EQ(editor_.log.events,
              events({"begin 0", "host begin 0", "changed 0", "host end 0", "end 0"}));

    editor_.log.clear();
    field_->onMouseDown(where, kLButton);
    type("-1");
    field_->remember();
    editor_.frame()->removeView(field_);
    // The typed value is kept, as on a loss of focus, inside the one pair.
    EXPECT_EQ(editor_.log.events,
              events({"begin 0", "host begin 0", "changed 0", "host end 0", "end 0"}));
    EXPECT_NEAR(field_->getValue(), 11.0f / 12.0f, 1e-6);
    field_->forget();
}

TEST_F(TextFieldTest, ABoxOpenedByTheFocusAloneGetsItsOwnPair) {
    editor_.frame()->setFocusView(field_);  // as the Tab key does
    ASSERT_TRUE(field_->isEditing());
    type("-9");
    pressKey(VKEY_RETURN);
    EXPECT_FLOAT_EQ(field_->getValue(), 0.25f);
    EXPECT_EQ(editor_.log.events,
              events({"begin 0", "host begin 0", "changed 0", "host end 0", "end 0"}));
}

TEST_F(TextFieldTest, APressOnTheFocusedFieldOpensNothingMore) {
    CPoint where(420, 415);
    field_->onMouseDown(where, kLButton);
    EXPECT_EQ(field_->onMouseDown(where, kLButton), kTaken);
    EXPECT_EQ(count("begin 0"), 1);
    EXPECT_EQ(field_->onMouseDown(where, kRButton), kMouseEventNotHandled);
}

// ---------------------------------------------------------------- buttons

class ButtonTest : public ::testing::Test {
  protected:
    HeadlessEditorFrame editor_;
    CPoint where_;
};

TEST_F(ButtonTest, QuoltButtonTogglesStepCentresAndDrawsItsSaveFrame) {
    auto* button = editor_.add(new CQuoltButton(CRect(269, 265, 302, 284), &editor_.log, 19,
                                                editor_.art(144), &editor_.log));
    EXPECT_EQ(button->onMouseDown(where_, kLButton), kTaken);
    EXPECT_FLOAT_EQ(button->getValue(), 0.75f);
    button->onMouseDown(where_, kLButton);
    EXPECT_FLOAT_EQ(button->getValue(), 0.25f);
    EXPECT_EQ(editor_.log.events, events({"changed 19", "changed 19"}));

    EXPECT_EQ(button->onMouseDown(where_, kRButton), kTaken);
    EXPECT_EQ(editor_.log.events.back(), "save");
    EXPECT_FLOAT_EQ(button->getValue(), 0.25f);

    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, button, editor_.art(144), 0), 0);
    button->setValue(0.75f);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, button, editor_.art(144), 19), 0);
    button->setSaveHighlight(true);
    EXPECT_TRUE(button->isDirty());
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, button, editor_.art(144), 38), 0);

    auto* plain = editor_.add(
        new CQuoltButton(CRect(44, 40, 77, 59), &editor_.log, 7, editor_.art(139), nullptr));
    EXPECT_EQ(plain->onMouseDown(where_, kRButton), kMouseEventNotHandled);
}

TEST_F(ButtonTest, OversamplingButtonSwitchesBetweenZeroAndOne) {
    auto* button = editor_.add(
        new COversamplingButton(CRect(81, 40, 114, 59), &editor_.log, 6, editor_.art(140)));
    button->setValue(0.75f);  // integer part 0
    button->onMouseDown(where_, kLButton);
    EXPECT_FLOAT_EQ(button->getValue(), 1.0f);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, button, editor_.art(140), 19), 0);
    button->onMouseDown(where_, kLButton);
    EXPECT_FLOAT_EQ(button->getValue(), 0.0f);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, button, editor_.art(140), 0), 0);
    EXPECT_EQ(editor_.log.events, events({"changed 6", "changed 6"}));
}

TEST_F(ButtonTest, ModeButtonZones) {
    auto* mode = editor_.add(new CModeButton(CRect(223, 305, 258, 361), &editor_.log, 9,
                                             editor_.art(141), &editor_.log));
    auto pressAt = [&](CCoord y, CButtonState buttons = kLButton) {
        CPoint p(240, y);
        return mode->onMouseDown(p, buttons);
    };
    EXPECT_EQ(pressAt(305), kTaken);
    pressAt(323);
    EXPECT_EQ(editor_.log.events, events({"type 0", "type 0"}));
    editor_.log.clear();
    EXPECT_EQ(pressAt(324), kTaken);  // rows 19 to 37: nothing
    pressAt(342);
    EXPECT_TRUE(editor_.log.events.empty());
    pressAt(343);  // in peak mode: k-system, same scale
    EXPECT_EQ(editor_.log.events, events({"type 1"}));
    editor_.log.clear();
    mode->setType(1);
    mode->setScale(2);
    pressAt(360);
    EXPECT_EQ(editor_.log.events, events({"scale 0", "type 1"}));
    editor_.log.clear();
    pressAt(340, kLButton | kRButton);
    EXPECT_EQ(editor_.log.events, events({"save"}));
    EXPECT_EQ(pressAt(340, kRButton), kMouseEventNotHandled);

    // The button shows what the editor told it, not what it asked for.
    EXPECT_EQ(mode->getType(), 1);
    EXPECT_EQ(mode->getScale(), 2);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, mode, editor_.art(141), 56 * 5), 0);
    mode->setType(0);
    mode->setScale(1);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, mode, editor_.art(141), 56 * 1), 0);
    mode->setSaveHighlight(true);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, mode, editor_.art(141), 56 * 6), 0);

    auto* deaf = editor_.add(
        new CModeButton(CRect(0, 0, 35, 56), nullptr, 9, editor_.art(141), &editor_.log));
    CPoint top(5, 5);
    EXPECT_EQ(deaf->onMouseDown(top, kLButton), kMouseEventNotHandled);
}

TEST_F(ButtonTest, SelectorsCycleThroughStepCentresAndShowEnabledFrames) {
    auto* bits =
        editor_.add(new CBits(CRect(412, 78, 445, 97), &editor_.log, 10, editor_.art(142)));
    auto* shape =
        editor_.add(new CNoiseShape(CRect(449, 78, 482, 97), &editor_.log, 11, editor_.art(143)));
    std::vector<float> bitValues;
    for (int i = 0; i < 3; ++i) {
        bits->onMouseDown(where_, kLButton);
        bitValues.push_back(bits->getValue());
    }
    EXPECT_EQ(bitValues, std::vector<float>(
                             {tq::stepCentre(1, 3), tq::stepCentre(2, 3), tq::stepCentre(0, 3)}));
    bits->setIndex(2);
    bits->setEnabled(true);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, bits, editor_.art(142), 19 * 5), 0);
    bits->setEnabled(false);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, bits, editor_.art(142), 19 * 2), 0);

    shape->setIndex(3);
    shape->onMouseDown(where_, kLButton);
    EXPECT_EQ(shape->getIndex(), 0);
    EXPECT_FLOAT_EQ(shape->getValue(), 0.125f);
    shape->setEnabled(true);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, shape, editor_.art(143), 0), 0);  // off has one frame
    shape->setIndex(2);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, shape, editor_.art(143), 19 * 5), 0);
    shape->setEnabled(false);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, shape, editor_.art(143), 19 * 2), 0);
    shape->setIndex(9);  // out of range: held to the last step
    EXPECT_EQ(shape->getIndex(), 3);
}

TEST_F(ButtonTest, AutoBlackTogglesAndDimsWhileRequantizingIsOff) {
    auto* autoBlack =
        editor_.add(new CAutoBlack(CRect(449, 40, 482, 59), &editor_.log, 17, editor_.art(163)));
    autoBlack->onMouseDown(where_, kLButton);
    EXPECT_FLOAT_EQ(autoBlack->getValue(), 0.75f);
    autoBlack->onMouseDown(where_, kLButton);
    EXPECT_FLOAT_EQ(autoBlack->getValue(), 0.25f);
    autoBlack->setState(1);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, autoBlack, editor_.art(163), 38), 0);
    autoBlack->setEnabled(true);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, autoBlack, editor_.art(163), 19), 0);
    autoBlack->setState(0);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, autoBlack, editor_.art(163), 0), 0);
}

TEST_F(ButtonTest, CalibrateStepsRoundAndBlinksOnTheIdleTick) {
    auto* calib = editor_.add(
        new CCalibButton(CRect(269, 341, 302, 360), &editor_.log, 12, editor_.art(145)));
    calib->setValue(tq::stepCentre(3, 4));
    calib->onMouseDown(where_, kLButton);
    EXPECT_FLOAT_EQ(calib->getValue(), tq::stepCentre(0, 4));  // right returns to off
    calib->setDirty(false);
    calib->idleTick(4000);
    EXPECT_FALSE(calib->isDirty());  // off does not blink
    EXPECT_EQ(calib->sourceRow(), 0);

    calib->idleTick(5000);
    calib->onMouseDown(where_, kLButton);  // left
    EXPECT_FLOAT_EQ(calib->getValue(), tq::stepCentre(1, 4));
    calib->idleTick(5100);
    EXPECT_TRUE(calib->isDirty());
    EXPECT_EQ(calib->sourceRow(), 19 + 57);  // bit 8 of 100 is clear: dark
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, calib, editor_.art(145), 76), 0);
    calib->idleTick(5300);
    EXPECT_EQ(calib->sourceRow(), 19);  // 300 has bit 8 set: bright
    calib->idleTick(5600);
    EXPECT_EQ(calib->sourceRow(), 76);

    calib->setValue(tq::stepCentre(2, 4));  // left and right: the strip's L+R frame
    EXPECT_EQ(calib->sourceRow(), 57 + 57);
    calib->setValue(tq::stepCentre(3, 4));  // right
    EXPECT_EQ(calib->sourceRow(), 38 + 57);
    calib->idleTick(5300);
    EXPECT_EQ(calib->sourceRow(), 38);
}

TEST_F(ButtonTest, SpeedSwitchAnswersOnlyInItsSquares) {
    auto* speed =
        editor_.add(new CSpeedSwitch(CRect(38, 121, 128, 146), &editor_.log, 4, editor_.art(146)));
    EXPECT_EQ(CSpeedSwitch::zoneAt(CPoint(39, 123)), 0);
    EXPECT_EQ(CSpeedSwitch::zoneAt(CPoint(56, 140)), 0);
    EXPECT_EQ(CSpeedSwitch::zoneAt(CPoint(72, 130)), 1);
    EXPECT_EQ(CSpeedSwitch::zoneAt(CPoint(122, 130)), 2);
    EXPECT_EQ(CSpeedSwitch::zoneAt(CPoint(123, 130)), -1);
    EXPECT_EQ(CSpeedSwitch::zoneAt(CPoint(60, 130)), -1);
    EXPECT_EQ(CSpeedSwitch::zoneAt(CPoint(80, 141)), -1);

    CPoint middle(80, 130);
    EXPECT_EQ(speed->onMouseDown(middle, kLButton), kTaken);
    EXPECT_FLOAT_EQ(speed->getValue(), 0.5f);
    CPoint between(64, 130);
    EXPECT_EQ(speed->onMouseDown(between, kLButton), kTaken);
    EXPECT_FLOAT_EQ(speed->getValue(), 0.5f);
    EXPECT_EQ(editor_.log.events, events({"changed 4"}));
    EXPECT_EQ(speed->onMouseDown(middle, kRButton), kMouseEventNotHandled);
    editor_.idle();
    EXPECT_EQ(frameMismatches(editor_, speed, editor_.art(146), 25), 0);
}

// ---------------------------------------------------------------- About box and overlay

constexpr CRect kInfoRect{224, 370, 301, 401};

class AboutBoxTest : public ::testing::Test {
  protected:
    AboutBoxTest() {
        // A control under the panel, added before the About box as in the editor.
        power_ = editor_.add(new CQuoltButton(CRect(245, 400, 280, 435), &editor_.log, 8,
                                              editor_.art(149), nullptr));
        info_ = editor_.add(
            new CInfo(kInfoRect, editor_.art(157), editor_.art(137), editor_.art("bmp00158.png")));
    }
    // The panel at (x, y) blended at 200/255 over `under` (opaque ARGB).
    void expectBlend(int x, int y, std::uint32_t under) {
        const std::uint32_t panel = pixelAt(editor_.art(157)->getSurface(), x - 43, y - 294);
        const std::uint32_t shown = pixelAt(editor_.frame()->getImage(), x, y);
        for (int shift : {0, 8, 16}) {
            const double expected =
                (((panel >> shift) & 0xFF) * 200.0 + ((under >> shift) & 0xFF) * 55.0) / 255.0;
            EXPECT_NEAR(static_cast<double>((shown >> shift) & 0xFF), expected, 1.01)
                << "at " << x << "," << y;
        }
    }
    // Opaque pixels of the second-font glyphs of `text` from x on `baseline`.
    void expectText(CCoord x, CCoord baseline, const std::string& text) {
        CBitmap* font = editor_.art("bmp00158.png");
        int opaque = 0;
        for (char c : text) {
            const int glyph = CTextPrinter::glyphFor(c, false);
            for (int row = 0; row < 8; ++row) {
                for (int column = 0; column < 5; ++column) {
                    const std::uint32_t source =
                        pixelAt(font->getSurface(), column, 8 * glyph + row);
                    if ((source >> 24) != 0xFF) continue;
                    ++opaque;
                    EXPECT_EQ(pixelAt(editor_.frame()->getImage(), x + column, baseline - 7 + row),
                              source);
                }
            }
            x += 6;
        }
        EXPECT_GT(opaque, 0);
    }

    HeadlessEditorFrame editor_;
    CQuoltButton* power_;
    CInfo* info_;
};

TEST_F(AboutBoxTest, ClosedItDrawsNothing) {
    cairo_surface_t* image = editor_.renderAll();
    EXPECT_EQ(mismatches(image, kInfoRect, editor_.art(128), CPoint(224, 370)), 0);
    EXPECT_FALSE(info_->isOpen());
}

TEST_F(AboutBoxTest, OpenItBlendsThePanelOverEverythingAndTakesEveryPress) {
    info_->setLatency(543);
    editor_.renderAll();
    const std::uint32_t backgroundAt = pixelAt(editor_.frame()->getImage(), 60, 420);
    const std::uint32_t powerAt = pixelAt(editor_.frame()->getImage(), 262, 425);

    EXPECT_EQ(editor_.press(CPoint(230, 380), kLButton), kTaken);
    ASSERT_TRUE(info_->isOpen());
    EXPECT_EQ(editor_.frame()->getOverlayView(), info_);
    editor_.idle();
    expectBlend(60, 420, backgroundAt);
    expectBlend(262, 425, powerAt);  // over a control added before it
    expectText(200, 309, "Brickwall Limiting, Metering and Requantizing");
    expectText(440, 323, "1.1.9");
    expectText(470 - 18, 337, "543");

    // Views redrawn on their own are covered again.
    power_->setValue(0.75f);
    editor_.idle();
    expectBlend(262, 425, pixelAt(editor_.art(149)->getSurface(), 262 - 245, 35 + 25));

    // A latency change while open repaints the panel.
    info_->setLatency(7);
    editor_.idle();
    expectText(470 - 6, 337, "7");

    // The press on the power button goes to the About box, which closes.
    EXPECT_EQ(editor_.press(CPoint(262, 425), kLButton), kTaken);
    EXPECT_FALSE(info_->isOpen());
    EXPECT_TRUE(editor_.log.events.empty());
    EXPECT_EQ(editor_.frame()->getOverlayView(), nullptr);
    EXPECT_EQ(info_->getViewSize(), kInfoRect);
    cairo_surface_t* image = editor_.idle();
    EXPECT_EQ(pixelAt(image, 60, 420), backgroundAt);
    // And the next one reaches the button again.
    editor_.press(CPoint(262, 425), kLButton);
    EXPECT_EQ(editor_.log.events, events({"changed 8"}));
}

TEST_F(AboutBoxTest, RemovingTheOpenBoxClearsTheOverlay) {
    editor_.press(CPoint(230, 380), kLButton);
    ASSERT_TRUE(info_->isOpen());
    info_->remember();
    editor_.frame()->removeView(info_);
    EXPECT_EQ(editor_.frame()->getOverlayView(), nullptr);
    EXPECT_EQ(editor_.frame()->getModalView(), nullptr);
    EXPECT_FALSE(info_->isOpen());
    editor_.renderAll();  // nothing left to draw an overlay from
    info_->forget();
}

TEST_F(AboutBoxTest, OverlayIsRefusedWhileAnotherViewHoldsTheModalSlot) {
    auto* other = editor_.add(new CView(CRect(0, 0, 10, 10)));
    editor_.frame()->setModalView(other);
    CPoint inside(230, 380);
    info_->onMouseDown(inside, kLButton);
    EXPECT_FALSE(info_->isOpen());
    EXPECT_EQ(editor_.frame()->getOverlayView(), nullptr);
    EXPECT_EQ(editor_.frame()->getModalView(), other);
}

}  // namespace
