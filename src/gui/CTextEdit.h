// Single-line text field with the toolkit's own edit box.
#pragma once

#include <string>

#include "gui/CControl.h"

namespace VSTGUI {

// Text, caret and selection of an edit box; knows nothing of drawing.
// Positions are byte offsets (the text is 8-bit).
class TextEditBuffer {
  public:
    static constexpr std::size_t kMaxLength = 255;

    // Replaces the text (cut to kMaxLength) and selects all of it.
    void setText(const std::string& text);
    const std::string& text() const { return text_; }
    std::size_t caret() const { return caret_; }
    std::size_t selectionStart() const { return std::min(anchor_, caret_); }
    std::size_t selectionEnd() const { return std::max(anchor_, caret_); }
    bool hasSelection() const { return anchor_ != caret_; }

    void selectAll();
    // Replaces the selection; refused (false) when the text would grow past kMaxLength.
    bool insert(char c);
    void backspace();
    void deleteForward();
    void home(bool extend);
    void end(bool extend);
    void left(bool extend);
    void right(bool extend);
    void setCaret(std::size_t position, bool extend);

  private:
    void eraseSelection();
    std::string text_;
    std::size_t caret_ = 0;
    std::size_t anchor_ = 0;
};

// Taking the focus opens the edit box over the control with all text selected
// and takes the X keyboard focus for the frame's window (many hosts never
// forward keys). Enter or the loss of the focus closes it, copies the text back
// and notifies the listener if the text changed; Escape closes it unchanged.
// Keys reach it through the frame (from the window or from the host).
class CTextEdit : public CParamDisplay {
  public:
    CTextEdit(const CRect& size, CControlListener* listener, std::int32_t tag,
              const char* text = nullptr, CBitmap* background = nullptr);
    ~CTextEdit() override;

    void setText(const char* text);
    // At most 255 characters plus terminator.
    void getText(char* text) const;
    const char* getText() const { return text_.c_str(); }

    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    std::int32_t onKeyDown(CKeyCode& key) override;
    void takeFocus() override;
    void looseFocus() override;
    bool removed(CView* parent) override;

    bool isEditing() const { return editing_; }
    // True when the last box was closed with Escape.
    bool wasCancelled() const { return cancelled_; }
    const TextEditBuffer& getEditBuffer() const { return buffer_; }
    // The box: the control's width, one text line high, centred vertically.
    CRect getEditBoxRect() const;
    // Drawn by the frame above all views while the box is open.
    void drawEditBox(CDrawContext* context);

  protected:
    void openBox();
    void closeBox(bool commit);
    // Caret position nearest to frame column `x` in the open box.
    std::size_t caretIndexAt(CCoord x) const;

    std::string text_;
    TextEditBuffer buffer_;
    bool editing_ = false;
    bool cancelled_ = false;
    bool gestureOpen_ = false;  // a begin edit was sent for the open box
    CCoord scroll_ = 0;         // horizontal scroll of the box's text at the last draw
};

}  // namespace VSTGUI
