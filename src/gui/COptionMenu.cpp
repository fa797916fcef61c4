#include "gui/COptionMenu.h"

#include <cstdio>
#include <cstring>

#include "gui/CFrame.h"

namespace VSTGUI {

namespace {
constexpr CCoord kItemHeight = 18;
constexpr CCoord kSeparatorHeight = 7;
constexpr CCoord kCheckColumn = 18;
constexpr CCoord kRightMargin = 14;
constexpr CColor kMenuBack{238, 238, 236, 255};
constexpr CColor kMenuText{20, 20, 20, 255};
constexpr CColor kMenuDisabled{150, 150, 150, 255};
constexpr CColor kMenuHighlight{52, 101, 164, 255};
constexpr CColor kMenuBorder{90, 90, 90, 255};
}  // namespace

// ---------------------------------------------------------------- MenuLayout

MenuLayout::MenuLayout(const std::vector<CMenuItem>& items, const std::vector<CCoord>& widths,
                       int entriesPerColumn, CCoord itemHeight, CCoord separatorHeight) {
    const int count = static_cast<int>(items.size());
    const bool columns = entriesPerColumn > 0 && count < kMaxEntriesForColumns;
    rects_.resize(items.size());
    columns_.resize(items.size());
    std::vector<CCoord> columnWidths;
    int column = 0;
    CCoord y = 1;
    CCoord columnWidth = 0;
    std::vector<int> columnStart{0};
    for (int i = 0; i < count; ++i) {
        if (columns && i > 0 && i % entriesPerColumn == 0) {
            columnWidths.push_back(columnWidth);
            columnStart.push_back(i);
            ++column;
            height_ = std::max(height_, y + 1);
            y = 1;
            columnWidth = 0;
        }
        const CCoord h =
            items[static_cast<std::size_t>(i)].isSeparator() ? separatorHeight : itemHeight;
        rects_[static_cast<std::size_t>(i)] = CRect(0, y, 0, y + h);
        columns_[static_cast<std::size_t>(i)] = column;
        const CCoord w =
            i < static_cast<int>(widths.size()) ? widths[static_cast<std::size_t>(i)] : 0;
        columnWidth = std::max(columnWidth, w + kCheckColumn + kRightMargin);
        y += h;
    }
    columnWidths.push_back(std::max<CCoord>(columnWidth, 40));
    height_ = std::max(height_, y + 1);
    // Horizontal placement once every column's width is known.
    std::vector<CCoord> columnLeft(columnWidths.size(), 1);
    for (std::size_t c = 1; c < columnWidths.size(); ++c)
        columnLeft[c] = columnLeft[c - 1] + columnWidths[c - 1];
    for (int i = 0; i < count; ++i) {
        const auto c = static_cast<std::size_t>(columns_[static_cast<std::size_t>(i)]);
        CRect& r = rects_[static_cast<std::size_t>(i)];
        r.left = columnLeft[c];
        r.right = columnLeft[c] + columnWidths[c];
    }
    width_ = columnLeft.back() + columnWidths.back() + 1;
    if (count == 0) height_ = itemHeight + 2;
}

int MenuLayout::itemAt(const CPoint& where) const {
    for (int i = 0; i < itemCount(); ++i)
        if (rects_[static_cast<std::size_t>(i)].pointInside(where)) return i;
    return -1;
}

// ---------------------------------------------------------------- COptionMenu

COptionMenu::COptionMenu(const CRect& size, CControlListener* listener, std::int32_t tag,
                         CBitmap* background, CBitmap* backgroundWhenClicked, std::int32_t style)
    : CParamDisplay(size, background), style_(style) {
    listener_ = listener;
    tag_ = tag;
    backgroundWhenClicked_.reset(backgroundWhenClicked);
}

COptionMenu::~COptionMenu() = default;

bool COptionMenu::addEntry(const char* title, std::int32_t index, std::int32_t flags) {
    if (title != nullptr && std::strcmp(title, "-") == 0) flags |= CMenuItem::kSeparator;
    CMenuItem item(title, flags);
    if (index < 0 || index >= getNbEntries()) {
        items_.push_back(item);
    } else {
        items_.insert(items_.begin() + index, item);
    }
    setDirty(true);
    return true;
}

bool COptionMenu::addSeparator() { return addEntry("-", -1, CMenuItem::kSeparator); }

bool COptionMenu::removeEntry(std::int32_t index) {
    if (index < 0 || index >= getNbEntries()) return false;
    items_.erase(items_.begin() + index);
    if (current_ >= getNbEntries()) current_ = std::max(0, getNbEntries() - 1);
    setDirty(true);
    return true;
}

bool COptionMenu::removeAllEntry() {
    items_.clear();
    current_ = 0;
    setDirty(true);
    return true;
}

CMenuItem* COptionMenu::getEntry(std::int32_t index) {
    if (index < 0 || index >= getNbEntries()) return nullptr;
    return &items_[static_cast<std::size_t>(index)];
}

bool COptionMenu::getEntry(std::int32_t index, char* text) const {
    if (text == nullptr || index < 0 || index >= getNbEntries()) return false;
    std::snprintf(text, 256, "%s", items_[static_cast<std::size_t>(index)].getTitle());
    return true;
}

bool COptionMenu::setCurrent(std::int32_t index, bool countSeparator) {
    if (!countSeparator) {
        // The index-th entry that is not a separator.
        std::int32_t seen = -1;
        std::int32_t found = -1;
        for (std::int32_t i = 0; i < getNbEntries() && found < 0; ++i) {
            if (items_[static_cast<std::size_t>(i)].isSeparator()) continue;
            if (++seen == index) found = i;
        }
        if (found < 0) return false;
        index = found;
    }
    if (index < 0 || index >= getNbEntries()) return false;
    current_ = index;
    value_ = static_cast<float>(index);
    setDirty(true);
    return true;
}

std::int32_t COptionMenu::getCurrent(char* text, bool countSeparator) const {
    if (text != nullptr) {
        text[0] = 0;
        if (current_ >= 0 && current_ < getNbEntries()) getEntry(current_, text);
    }
    if (countSeparator) return current_;
    std::int32_t index = 0;
    for (std::int32_t i = 0; i < current_ && i < getNbEntries(); ++i)
        if (!items_[static_cast<std::size_t>(i)].isSeparator()) ++index;
    return index;
}

CMenuItem* COptionMenu::getCurrentEntry() { return getEntry(current_); }

bool COptionMenu::checkEntry(std::int32_t index, bool checked) {
    CMenuItem* item = getEntry(index);
    if (item == nullptr || item->isSeparator()) return false;
    item->setChecked(checked);
    return true;
}

bool COptionMenu::checkEntryAlone(std::int32_t index) {
    if (index < 0 || index >= getNbEntries()) return false;
    for (std::int32_t i = 0; i < getNbEntries(); ++i)
        items_[static_cast<std::size_t>(i)].setChecked(i == index);
    return true;
}

bool COptionMenu::isCheckEntry(std::int32_t index) const {
    return index >= 0 && index < getNbEntries() &&
           items_[static_cast<std::size_t>(index)].isChecked();
}

bool COptionMenu::showsCheck(std::int32_t index) const {
    if (index < 0 || index >= getNbEntries()) return false;
    if ((style_ & kCheckStyle) != 0) return index == current_;
    return isCheckEntry(index);
}

std::string COptionMenu::displayTitle(std::int32_t index) const {
    if (index < 0 || index >= getNbEntries()) return {};
    const char* title = items_[static_cast<std::size_t>(index)].getTitle();
    if (prefixDigits_ == 0) return title;
    static const char* const formats[] = {"%1d %s", "%02d %s", "%03d %s"};
    char text[300];
    std::snprintf(text, sizeof text, formats[prefixDigits_ - 1], static_cast<int>(index + 1),
                  title);
    return text;
}

void COptionMenu::draw(CDrawContext* context) {
    char text[256] = {};
    getCurrent(text, true);
    if (popupOpen_ && backgroundWhenClicked_) {
        backgroundWhenClicked_->draw(context, size_, backOffset_);
        if (!textTransparent_) {
            context->setFont(font_);
            context->setFontColor(fontColor_);
            context->drawString(text, size_, false, horiAlign_);
        }
    } else {
        drawText(context, text);
    }
    setDirty(false);
}

CMouseEventResult COptionMenu::onMouseDown(CPoint&, const CButtonState& buttons) {
    if ((buttons & (kLButton | kRButton)) == 0) return kMouseEventNotHandled;
    if (popupOpen_ || frame_ == nullptr) return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    auto* popup = new MenuPopup(this);
    CPoint where(size_.left, size_.top);
    localToFrame(where);
    popupOpen_ = true;
    setDirty(true);
    if (!frame_->openPopup(popup, where)) {
        popupOpen_ = false;
        delete popup;
    }
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

void COptionMenu::choose(std::int32_t index) {
    lastResult_ = index;
    if (index < 0 || index >= getNbEntries()) return;
    const CMenuItem& item = items_[static_cast<std::size_t>(index)];
    if (item.isSeparator() || !item.isEnabled()) return;
    setCurrent(index);
    if ((style_ & kMultipleCheckStyle) != 0) checkEntry(index, !isCheckEntry(index));
    invalid();
    notifyListener();
}

bool COptionMenu::isTypeOf(const char* className) const {
    return (className != nullptr && std::strcmp(className, "COptionMenu") == 0) ||
           CParamDisplay::isTypeOf(className);
}

// ---------------------------------------------------------------- MenuPopup

MenuPopup::MenuPopup(COptionMenu* menu) : menu_(menu) {
    menu_->remember();
    std::vector<CCoord> widths;
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    {
        CDrawContext measure(scratch);
        measure.setFont(kNormalFont);
        for (std::int32_t i = 0; i < menu_->getNbEntries(); ++i)
            widths.push_back(measure.getStringWidth(menu_->displayTitle(i).c_str()));
    }
    cairo_surface_destroy(scratch);
    layout_ =
        MenuLayout(menu_->items_, widths, menu_->itemsPerColumn_, kItemHeight, kSeparatorHeight);
    highlighted_ = selectable(menu_->current_) ? menu_->current_ : -1;
}

MenuPopup::~MenuPopup() { menu_->forget(); }

bool MenuPopup::selectable(int index) const {
    if (index < 0 || index >= menu_->getNbEntries()) return false;
    const CMenuItem& item = menu_->items_[static_cast<std::size_t>(index)];
    return !item.isSeparator() && item.isEnabled();
}

void MenuPopup::drawPopup(CDrawContext* context) {
    needsRedraw_ = false;
    context->setFillColor(kMenuBack);
    context->drawRect(CRect(0, 0, layout_.width(), layout_.height()), kDrawFilled);
    context->setFrameColor(kMenuBorder);
    context->drawRect(CRect(0, 0, layout_.width(), layout_.height()), kDrawStroked);
    context->setFont(kNormalFont);
    for (int i = 0; i < layout_.itemCount(); ++i) {
        const CRect& r = layout_.itemRect(i);
        const CMenuItem& item = menu_->items_[static_cast<std::size_t>(i)];
        if (item.isSeparator()) {
            context->setFillColor(kMenuDisabled);
            const CCoord y = (r.top + r.bottom) / 2;
            context->drawRect(CRect(r.left + 4, y, r.right - 4, y + 1), kDrawFilled);
            continue;
        }
        const bool lit = i == highlighted_;
        if (lit) {
            context->setFillColor(kMenuHighlight);
            context->drawRect(r, kDrawFilled);
        }
        const CColor text = !item.isEnabled() ? kMenuDisabled : lit ? kWhiteCColor : kMenuText;
        context->setFontColor(text);
        CRect textRect(r.left + kCheckColumn, r.top, r.right - 4, r.bottom);
        context->drawString(menu_->displayTitle(i).c_str(), textRect, false, kLeftText);
        if (menu_->showsCheck(i)) {
            // A check mark drawn as two strokes.
            cairo_t* cr = context->getCairo();
            const double x = r.left + 5;
            const double y = r.top + r.height() / 2.0;
            cairo_save(cr);
            cairo_set_source_rgb(cr, text.red / 255.0, text.green / 255.0, text.blue / 255.0);
            cairo_set_line_width(cr, 2.0);
            cairo_move_to(cr, x, y);
            cairo_line_to(cr, x + 3, y + 4);
            cairo_line_to(cr, x + 9, y - 4);
            cairo_stroke(cr);
            cairo_restore(cr);
        }
    }
}

void MenuPopup::popupMouseDown(const CPoint& where, CButtonState) {
    const int index = layout_.itemAt(where);
    if (selectable(index)) finish(index);
}

void MenuPopup::popupMouseUp(const CPoint& where, CButtonState) {
    // Press on the control, drag onto an entry, release: that entry.
    const int index = layout_.itemAt(where);
    if (moved_ && selectable(index)) finish(index);
}

void MenuPopup::popupMouseMoved(const CPoint& where, CButtonState buttons) {
    const int index = layout_.itemAt(where);
    if (buttons != 0) moved_ = true;
    const int lit = selectable(index) ? index : -1;
    if (lit != highlighted_) {
        highlighted_ = lit;
        needsRedraw_ = true;
    }
}

void MenuPopup::moveHighlight(int step) {
    const int count = menu_->getNbEntries();
    if (count == 0) return;
    int index = highlighted_;
    for (int tries = 0; tries < count; ++tries) {
        index = index < 0 ? (step > 0 ? 0 : count - 1) : (index + step + count) % count;
        if (selectable(index)) {
            highlighted_ = index;
            needsRedraw_ = true;
            return;
        }
    }
}

void MenuPopup::moveColumn(int step) {
    if (highlighted_ < 0) {
        moveHighlight(step);
        return;
    }
    const int targetColumn = layout_.columnOf(highlighted_) + step;
    const CCoord y = layout_.itemRect(highlighted_).top;
    int best = -1;
    for (int i = 0; i < layout_.itemCount(); ++i) {
        if (layout_.columnOf(i) != targetColumn || !selectable(i)) continue;
        if (best < 0 ||
            std::abs(layout_.itemRect(i).top - y) < std::abs(layout_.itemRect(best).top - y))
            best = i;
    }
    if (best >= 0) {
        highlighted_ = best;
        needsRedraw_ = true;
    }
}

void MenuPopup::popupKeyDown(const CKeyCode& key) {
    switch (key.virt) {
        case VKEY_UP:
            moveHighlight(-1);
            break;
        case VKEY_DOWN:
            moveHighlight(1);
            break;
        case VKEY_LEFT:
            moveColumn(-1);
            break;
        case VKEY_RIGHT:
            moveColumn(1);
            break;
        case VKEY_HOME:
            highlighted_ = -1;
            moveHighlight(1);
            break;
        case VKEY_END:
            highlighted_ = -1;
            moveHighlight(-1);
            break;
        case VKEY_RETURN:
        case VKEY_ENTER:
        case VKEY_SPACE:
            if (selectable(highlighted_)) finish(highlighted_);
            break;
        case VKEY_ESCAPE:
            finish(-1);
            break;
        default:
            break;
    }
}

void MenuPopup::finish(int choice) {
    if (finished_) return;
    finished_ = true;
    choice_ = choice;
}

void MenuPopup::popupClosed() {
    menu_->popupOpen_ = false;
    menu_->setDirty(true);
    if (finished_ && choice_ >= 0 && menu_->getFrame() != nullptr) {
        menu_->choose(choice_);
    } else {
        menu_->lastResult_ = -1;
    }
    delete this;
}

}  // namespace VSTGUI
