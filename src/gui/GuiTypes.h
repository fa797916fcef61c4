// Geometry, colours, mouse and key vocabulary shared by every class of the toolkit.
#pragma once

#include <algorithm>
#include <cstdint>

namespace VSTGUI {

using CCoord = std::int32_t;

struct CPoint {
    CCoord h = 0;  // x
    CCoord v = 0;  // y
    constexpr CPoint() = default;
    constexpr CPoint(CCoord x, CCoord y) : h(x), v(y) {}
    constexpr bool operator==(const CPoint&) const = default;
    constexpr CPoint& offset(CCoord dx, CCoord dy) {
        h += dx;
        v += dy;
        return *this;
    }
};

// Left/top inclusive, right/bottom exclusive.
struct CRect {
    CCoord left = 0;
    CCoord top = 0;
    CCoord right = 0;
    CCoord bottom = 0;
    constexpr CRect() = default;
    constexpr CRect(CCoord l, CCoord t, CCoord r, CCoord b)
        : left(l), top(t), right(r), bottom(b) {}
    constexpr bool operator==(const CRect&) const = default;

    constexpr CCoord width() const { return right - left; }
    constexpr CCoord height() const { return bottom - top; }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    constexpr bool pointInside(const CPoint& p) const {
        return p.h >= left && p.h < right && p.v >= top && p.v < bottom;
    }
    constexpr CRect& offset(CCoord dx, CCoord dy) {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
        return *this;
    }
    constexpr CRect& moveTo(CCoord x, CCoord y) { return offset(x - left, y - top); }
    constexpr bool rectOverlap(const CRect& r) const {
        return r.left < right && r.right > left && r.top < bottom && r.bottom > top;
    }
    // Intersection; empty (0,0,0,0) when the rectangles do not overlap.
    constexpr CRect& bound(const CRect& r) {
        left = std::max(left, r.left);
        top = std::max(top, r.top);
        right = std::min(right, r.right);
        bottom = std::min(bottom, r.bottom);
        if (isEmpty()) *this = CRect();
        return *this;
    }
    // Smallest rectangle holding both; an empty rectangle adds nothing.
    constexpr CRect& unite(const CRect& r) {
        if (r.isEmpty()) return *this;
        if (isEmpty()) return *this = r;
        left = std::min(left, r.left);
        top = std::min(top, r.top);
        right = std::max(right, r.right);
        bottom = std::max(bottom, r.bottom);
        return *this;
    }
};

struct CColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 255;
    constexpr bool operator==(const CColor&) const = default;
};

constexpr CColor kTransparentCColor{255, 255, 255, 0};
constexpr CColor kBlackCColor{0, 0, 0, 255};
constexpr CColor kWhiteCColor{255, 255, 255, 255};
constexpr CColor kGreyCColor{127, 127, 127, 255};
constexpr CColor kRedCColor{255, 0, 0, 255};
constexpr CColor kGreenCColor{0, 255, 0, 255};
constexpr CColor kBlueCColor{0, 0, 255, 255};

// Mouse button and modifier set handed to the mouse handlers.
enum CButton : std::int32_t {
    kLButton = 1 << 1,
    kMButton = 1 << 2,
    kRButton = 1 << 3,
    kShift = 1 << 4,
    kControl = 1 << 5,
    kAlt = 1 << 6,
    kButton4 = 1 << 8,
    kButton5 = 1 << 9,
    kDoubleClick = 1 << 10,
};
using CButtonState = std::int32_t;

enum CMouseEventResult : std::int32_t {
    kMouseEventNotImplemented = 0,
    kMouseEventHandled = 1,  // handled; move and release events follow (capture)
    kMouseEventNotHandled = 2,
    kMouseDownEventHandledButDontNeedMovedOrUpEvents = 3,
};

enum CMouseWheelAxis : std::int32_t { kMouseWheelAxisX = 0, kMouseWheelAxisY = 1 };

enum CHoriTxtAlign : std::int32_t { kLeftText = 0, kCenterText = 1, kRightText = 2 };

enum CDrawStyle : std::int32_t { kDrawStroked = 0, kDrawFilled = 1, kDrawFilledAndStroked = 2 };

// A key press or release: the character typed and the key's name, either 0 when none.
// The toolkit's own vocabulary, numbered like the host's key events, so that an editor
// joining the two passes a host's key through field by field.
enum VirtualKey : std::int32_t {
    VKEY_BACK = 1, VKEY_TAB, VKEY_CLEAR, VKEY_RETURN, VKEY_PAUSE, VKEY_ESCAPE, VKEY_SPACE,
    VKEY_NEXT, VKEY_END, VKEY_HOME, VKEY_LEFT, VKEY_UP, VKEY_RIGHT, VKEY_DOWN, VKEY_PAGEUP,
    VKEY_PAGEDOWN, VKEY_SELECT, VKEY_PRINT, VKEY_ENTER, VKEY_SNAPSHOT, VKEY_INSERT,
    VKEY_DELETE, VKEY_HELP, VKEY_NUMPAD0, VKEY_NUMPAD1, VKEY_NUMPAD2, VKEY_NUMPAD3,
    VKEY_NUMPAD4, VKEY_NUMPAD5, VKEY_NUMPAD6, VKEY_NUMPAD7, VKEY_NUMPAD8, VKEY_NUMPAD9,
    VKEY_MULTIPLY, VKEY_ADD, VKEY_SEPARATOR, VKEY_SUBTRACT, VKEY_DECIMAL, VKEY_DIVIDE,
    VKEY_F1, VKEY_F2, VKEY_F3, VKEY_F4, VKEY_F5, VKEY_F6, VKEY_F7, VKEY_F8, VKEY_F9,
    VKEY_F10, VKEY_F11, VKEY_F12, VKEY_NUMLOCK, VKEY_SCROLL, VKEY_SHIFT, VKEY_CONTROL,
    VKEY_ALT, VKEY_EQUALS,
};

enum KeyModifier : std::int32_t {
    MODIFIER_SHIFT = 1 << 0,
    MODIFIER_ALTERNATE = 1 << 1,
    MODIFIER_COMMAND = 1 << 2,
    MODIFIER_CONTROL = 1 << 3,
};

struct CKeyCode {
    std::int32_t character = 0;  // ASCII character, 0 when none
    unsigned char virt = 0;      // VirtualKey, 0 when none
    unsigned char modifier = 0;  // KeyModifier bits
};

// Key answers of the frame and of onKeyDown handlers.
constexpr std::int32_t kKeyHandled = 1;
constexpr std::int32_t kKeyNotHandled = -1;

}  // namespace VSTGUI
