// Keys from X: keysyms and modifier state become the toolkit's virtual keys,
// characters and modifiers.
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "gui/FrameWindow.h"

using namespace VSTGUI;

namespace {

TEST(X11KeyTranslation, KeysymsBecomeVirtualKeysAndCharacters) {
    CKeyCode k = translateX11Key(XK_Return, "\r", 0);
    EXPECT_EQ(k.virt, VKEY_RETURN);
    EXPECT_EQ(k.character, 0);
    k = translateX11Key(XK_a, "a", 1 /* ShiftMask */);
    EXPECT_EQ(k.virt, 0);
    EXPECT_EQ(k.character, 'a');
    EXPECT_EQ(k.modifier, MODIFIER_SHIFT);
    k = translateX11Key(XK_ISO_Left_Tab, "", 1);
    EXPECT_EQ(k.virt, VKEY_TAB);
    k = translateX11Key(XK_F5, "", 0);
    EXPECT_EQ(k.virt, VKEY_F5);
    k = translateX11Key(XK_KP_7, "7", 0);
    EXPECT_EQ(k.virt, VKEY_NUMPAD7);
    EXPECT_EQ(k.character, '7');
    k = translateX11Key(XK_space, " ", 0);
    EXPECT_EQ(k.virt, VKEY_SPACE);
    EXPECT_EQ(k.character, ' ');
    k = translateX11Key(XK_eacute, "\xe9", 0);
    EXPECT_EQ(k.character, 0xE9);
    k = translateX11Key(XK_Left, "", 4 /* ControlMask */);
    EXPECT_EQ(k.virt, VKEY_LEFT);
    EXPECT_EQ(k.modifier, MODIFIER_CONTROL);
    k = translateX11Key(XK_BackSpace, "\b", 0);
    EXPECT_EQ(k.virt, VKEY_BACK);
    EXPECT_EQ(k.character, 0);  // no control characters as text
    EXPECT_EQ(translateX11Modifiers(1 | 4 | 8), kShift | kControl | kAlt);
}

}  // namespace
