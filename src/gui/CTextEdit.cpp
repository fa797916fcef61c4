#include "gui/CTextEdit.h"

#include <cstdlib>
#include <cstring>

#include "gui/CFrame.h"

namespace VSTGUI {

// ---------------------------------------------------------------- TextEditBuffer

void TextEditBuffer::setText(const std::string& text) {
    text_ = text.substr(0, std::min(text.size(), kMaxLength));
    selectAll();
}

void TextEditBuffer::selectAll() {
    anchor_ = 0;
    caret_ = text_.size();
}

void TextEditBuffer::eraseSelection() {
    const std::size_t start = selectionStart();
    text_.erase(start, selectionEnd() - start);
    caret_ = anchor_ = start;
}

bool TextEditBuffer::insert(char c) {
    if (text_.size() - (selectionEnd() - selectionStart()) >= kMaxLength) return false;
    eraseSelection();
    text_.insert(text_.begin() + static_cast<std::ptrdiff_t>(caret_), c);
    anchor_ = ++caret_;
    return true;
}

void TextEditBuffer::backspace() {
    if (hasSelection()) {
        eraseSelection();
    } else if (caret_ > 0) {
        text_.erase(caret_ - 1, 1);
        anchor_ = --caret_;
    }
}

void TextEditBuffer::deleteForward() {
    if (hasSelection()) {
        eraseSelection();
    } else if (caret_ < text_.size()) {
        text_.erase(caret_, 1);
    }
}

void TextEditBuffer::setCaret(std::size_t position, bool extend) {
    caret_ = std::min(position, text_.size());
    if (!extend) anchor_ = caret_;
}

void TextEditBuffer::home(bool extend) { setCaret(0, extend); }
void TextEditBuffer::end(bool extend) { setCaret(text_.size(), extend); }

void TextEditBuffer::left(bool extend) {
    if (!extend && hasSelection()) {
        setCaret(selectionStart(), false);
    } else if (caret_ > 0) {
        setCaret(caret_ - 1, extend);
    }
}

void TextEditBuffer::right(bool extend) {
    if (!extend && hasSelection()) {
        setCaret(selectionEnd(), false);
    } else {
        setCaret(caret_ + 1, extend);
    }
}

// ---------------------------------------------------------------- CTextEdit

CTextEdit::CTextEdit(const CRect& size, CControlListener* listener, std::int32_t tag,
                     const char* text, CBitmap* background)
    : CParamDisplay(size, background) {
    listener_ = listener;
    tag_ = tag;
    setText(text);
    setWantsFocus(true);
}

CTextEdit::~CTextEdit() = default;

void CTextEdit::setText(const char* text) {
    const std::string t = text != nullptr ? text : "";
    text_ = t.substr(0, std::min(t.size(), TextEditBuffer::kMaxLength));
    setDirty(true);
}

void CTextEdit::getText(char* text) const {
    if (text == nullptr) return;
    std::memcpy(text, text_.c_str(), text_.size() + 1);
}

void CTextEdit::draw(CDrawContext* context) {
    drawText(context, text_.c_str());
    setDirty(false);
}

CMouseEventResult CTextEdit::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if ((buttons & kLButton) == 0) return kMouseEventNotHandled;
    if (frame_ != nullptr && frame_->getFocusView() != this) {
        gestureOpen_ = true;
        beginEdit();  // makes this the focus view, which opens the box
        if (!editing_) openBox();
    } else if (!editing_) {
        openBox();
    } else {
        // A press inside the open box places the caret (Shift extends the selection).
        buffer_.setCaret(caretIndexAt(where.h), (buttons & kShift) != 0);
        if (frame_ != nullptr) frame_->invalidateFrameRect(getEditBoxRect());
    }
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

std::size_t CTextEdit::caretIndexAt(CCoord x) const {
    const std::string& text = buffer_.text();
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    std::size_t best = 0;
    {
        CDrawContext measure(scratch);
        measure.setFont(font_);
        const CCoord target = x - getEditBoxRect().left + scroll_;
        CCoord bestDistance = std::abs(target);
        for (std::size_t i = 1; i <= text.size(); ++i) {
            const CCoord distance =
                std::abs(target - measure.getStringWidth(text.substr(0, i).c_str()));
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
    }
    cairo_surface_destroy(scratch);
    return best;
}

void CTextEdit::takeFocus() {
    if (!editing_) openBox();
}

void CTextEdit::looseFocus() {
    if (editing_) closeBox(true);
}

bool CTextEdit::removed(CView* parent) {
    // Leaving the tree (the editor closing) ends the box as a loss of focus
    // would: what was typed is kept and the edit gesture is closed.
    closeBox(true);
    return CParamDisplay::removed(parent);
}

void CTextEdit::openBox() {
    editing_ = true;
    cancelled_ = false;
    buffer_.setText(text_);
    if (frame_ != nullptr) {
        frame_->setActiveTextEdit(this);
        frame_->requestInputFocus();
    }
}

void CTextEdit::closeBox(bool commit) {
    if (!editing_) return;
    editing_ = false;
    cancelled_ = !commit;
    if (frame_ != nullptr) {
        frame_->setActiveTextEdit(nullptr);
        frame_->releaseInputFocus();
    }
    const bool changed = commit && buffer_.text() != text_;
    if (commit) text_ = buffer_.text();
    invalid();
    if (changed) notifyListener();
    if (gestureOpen_) {
        gestureOpen_ = false;
        endEdit();
    }
}

std::int32_t CTextEdit::onKeyDown(CKeyCode& key) {
    if (!editing_) return kKeyNotHandled;
    const bool shift = (key.modifier & MODIFIER_SHIFT) != 0;
    switch (key.virt) {
        case VKEY_RETURN:
        case VKEY_ENTER:
            closeBox(true);
            if (frame_ != nullptr && frame_->getFocusView() == this) frame_->setFocusView(nullptr);
            return kKeyHandled;
        case VKEY_ESCAPE:
            closeBox(false);
            if (frame_ != nullptr && frame_->getFocusView() == this) frame_->setFocusView(nullptr);
            return kKeyHandled;
        case VKEY_BACK:
            buffer_.backspace();
            break;
        case VKEY_DELETE:
            buffer_.deleteForward();
            break;
        case VKEY_HOME:
            buffer_.home(shift);
            break;
        case VKEY_END:
            buffer_.end(shift);
            break;
        case VKEY_LEFT:
            buffer_.left(shift);
            break;
        case VKEY_RIGHT:
            buffer_.right(shift);
            break;
        case VKEY_TAB:
            return kKeyNotHandled;  // the frame moves the focus (closing the box)
        default: {
            const bool control = (key.modifier & MODIFIER_CONTROL) != 0;
            if (control && (key.character == 'a' || key.character == 'A')) {
                buffer_.selectAll();
                break;
            }
            if (control || key.character < 32 || key.character > 255 || key.character == 127)
                return key.virt != 0 ? kKeyHandled : kKeyNotHandled;
            buffer_.insert(static_cast<char>(key.character));
            break;
        }
    }
    if (frame_ != nullptr) frame_->invalidateFrameRect(getEditBoxRect());
    return kKeyHandled;
}

CRect CTextEdit::getEditBoxRect() const {
    const CCoord lineHeight = std::min<CCoord>(size_.height(), font_->getSize() + 4);
    const CCoord top = size_.top + (size_.height() - lineHeight) / 2;
    return CRect(size_.left, top, size_.right, top + lineHeight);
}

void CTextEdit::drawEditBox(CDrawContext* context) {
    if (!editing_ || context == nullptr || !context->isValid()) return;
    const CRect box = getEditBoxRect();
    context->setFont(font_);
    context->setFillColor(backColor_);
    context->drawRect(box, kDrawFilled);
    const std::string& text = buffer_.text();
    auto widthOf = [&](std::size_t n) {
        return context->getStringWidth(text.substr(0, n).c_str());
    };
    // Scroll so the caret stays inside the box (no margins).
    const CCoord caretX = widthOf(buffer_.caret());
    const CCoord scroll = std::max<CCoord>(0, caretX - (box.width() - 2));
    scroll_ = scroll;
    const CCoord x0 = box.left - scroll;
    const CCoord selLeft = x0 + widthOf(buffer_.selectionStart());
    const CCoord selRight = x0 + widthOf(buffer_.selectionEnd());
    const CRect textRect(x0, box.top, x0 + std::max<CCoord>(box.width(), widthOf(text.size()) + 1),
                         box.bottom);

    const CRect savedClip = context->getClipRect();
    CRect clip = box;
    clip.bound(savedClip);
    context->setClipRect(clip);
    context->setFontColor(fontColor_);
    context->drawString(text.c_str(), textRect, false, kLeftText);
    if (buffer_.hasSelection()) {
        // Selected text: back and font colours exchanged.
        const CRect selection(selLeft, box.top, selRight, box.bottom);
        context->setFillColor(fontColor_);
        context->drawRect(selection, kDrawFilled);
        CRect selClip = selection;
        selClip.bound(clip);
        context->setClipRect(selClip);
        context->setFontColor(backColor_);
        context->drawString(text.c_str(), textRect, false, kLeftText);
    } else {
        context->setFillColor(fontColor_);
        context->drawRect(CRect(x0 + caretX, box.top + 1, x0 + caretX + 1, box.bottom - 1),
                          kDrawFilled);
    }
    context->setClipRect(savedClip);
}

}  // namespace VSTGUI
