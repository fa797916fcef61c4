// Option menu: a control showing its current entry; a press opens the
// toolkit's own pop-up menu window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gui/CControl.h"
#include "gui/PopupClient.h"

namespace VSTGUI {

class CMenuItem {
  public:
    enum Flags : std::int32_t {
        kNoFlags = 0,
        kDisabled = 1 << 0,
        kChecked = 1 << 1,
        kSeparator = 1 << 2
    };
    CMenuItem(const char* title, std::int32_t flags)
        : title_(title != nullptr ? title : ""), flags_(flags) {}
    const char* getTitle() const { return title_.c_str(); }
    void setTitle(const char* title) { title_ = title != nullptr ? title : ""; }
    bool isSeparator() const { return (flags_ & kSeparator) != 0; }
    bool isChecked() const { return (flags_ & kChecked) != 0; }
    bool isEnabled() const { return (flags_ & kDisabled) == 0; }
    void setChecked(bool checked) { flags_ = checked ? (flags_ | kChecked) : (flags_ & ~kChecked); }
    void setEnabled(bool enabled) {
        flags_ = enabled ? (flags_ & ~kDisabled) : (flags_ | kDisabled);
    }
    std::int32_t getFlags() const { return flags_; }

  private:
    std::string title_;
    std::int32_t flags_;
};

// Styles of COptionMenu.
constexpr std::int32_t kCheckStyle = 1 << 0;          // only the current entry shows a check mark
constexpr std::int32_t kMultipleCheckStyle = 1 << 1;  // every checked entry shows one

// Where each entry of a pop-up menu sits: columns of n entries (a column
// break before every n-th entry while there are fewer than 160 entries).
class MenuLayout {
  public:
    static constexpr int kMaxEntriesForColumns = 160;
    MenuLayout() = default;
    // `widths`: text width of each entry; separators are thinner rows.
    MenuLayout(const std::vector<CMenuItem>& items, const std::vector<CCoord>& widths,
               int entriesPerColumn, CCoord itemHeight, CCoord separatorHeight);
    CCoord width() const { return width_; }
    CCoord height() const { return height_; }
    const CRect& itemRect(int index) const { return rects_[static_cast<std::size_t>(index)]; }
    int itemCount() const { return static_cast<int>(rects_.size()); }
    int columnOf(int index) const { return columns_[static_cast<std::size_t>(index)]; }
    // Entry under `where`, -1 for none.
    int itemAt(const CPoint& where) const;

  private:
    std::vector<CRect> rects_;
    std::vector<int> columns_;
    CCoord width_ = 0;
    CCoord height_ = 0;
};

class COptionMenu : public CParamDisplay {
  public:
    COptionMenu(const CRect& size, CControlListener* listener, std::int32_t tag,
                CBitmap* background = nullptr, CBitmap* backgroundWhenClicked = nullptr,
                std::int32_t style = 0);
    ~COptionMenu() override;

    // A title of "-" adds a separator. `index` -1 appends.
    bool addEntry(const char* title, std::int32_t index = -1,
                  std::int32_t flags = CMenuItem::kNoFlags);
    bool addSeparator();
    bool removeEntry(std::int32_t index);
    bool removeAllEntry();
    std::int32_t getNbEntries() const { return static_cast<std::int32_t>(items_.size()); }
    CMenuItem* getEntry(std::int32_t index);
    bool getEntry(std::int32_t index, char* text) const;  // text holds 256 bytes
    // Index in the list (separators counted); makes it the value too.
    bool setCurrent(std::int32_t index, bool countSeparator = true);
    // Current index, counting separators or not.
    std::int32_t getCurrent(char* text = nullptr, bool countSeparator = true) const;
    std::int32_t getCurrentIndex(bool countSeparator = false) const {
        return getCurrent(nullptr, countSeparator);
    }
    CMenuItem* getCurrentEntry();
    bool checkEntry(std::int32_t index, bool checked);
    // Checks `index` and unchecks every other entry.
    bool checkEntryAlone(std::int32_t index);
    bool isCheckEntry(std::int32_t index) const;
    void setNbItemsPerColumn(int count) { itemsPerColumn_ = std::max(0, count); }
    int getNbItemsPerColumn() const { return itemsPerColumn_; }
    void setStyle(std::int32_t style) { style_ = style; }
    std::int32_t getStyle() const { return style_; }
    // Numbers the shown titles: 1 ("%1d %s"), 2 ("%02d %s") or 3 ("%03d %s") digits; 0 off.
    void setPrefixNumbers(int digits) { prefixDigits_ = (digits >= 1 && digits <= 3) ? digits : 0; }
    // The title as the menu shows it (with the optional number prefix).
    std::string displayTitle(std::int32_t index) const;
    // Whether entry `index` shows a check mark under the current style.
    bool showsCheck(std::int32_t index) const;

    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    bool isTypeOf(const char* className) const override;

    // The menu's choice (list index) or -1 for none: current entry, value and
    // listener. Used by the pop-up; public for tests.
    void choose(std::int32_t index);
    bool isPopupOpen() const { return popupOpen_; }
    std::int32_t getLastResult() const { return lastResult_; }

  private:
    friend class MenuPopup;
    std::vector<CMenuItem> items_;
    std::int32_t current_ = 0;
    std::int32_t style_;
    int itemsPerColumn_ = 0;
    int prefixDigits_ = 0;
    bool popupOpen_ = false;
    std::int32_t lastResult_ = -1;
    SharedPointer<CBitmap> backgroundWhenClicked_;
};

// The pop-up window's content: draws the entries and turns mouse and keys
// into a choice. Keeps its menu alive while it is shown.
class MenuPopup : public PopupClient {
  public:
    explicit MenuPopup(COptionMenu* menu);
    ~MenuPopup() override;

    CCoord popupWidth() const override { return layout_.width(); }
    CCoord popupHeight() const override { return layout_.height(); }
    void drawPopup(CDrawContext* context) override;
    void popupMouseDown(const CPoint& where, CButtonState buttons) override;
    void popupMouseUp(const CPoint& where, CButtonState buttons) override;
    void popupMouseMoved(const CPoint& where, CButtonState buttons) override;
    void popupOutsideClick() override { finish(-1); }
    void popupKeyDown(const CKeyCode& key) override;
    bool popupNeedsRedraw() const override { return needsRedraw_; }
    bool popupFinished() const override { return finished_; }
    void popupClosed() override;

    int highlighted() const { return highlighted_; }
    const MenuLayout& layout() const { return layout_; }

  private:
    bool selectable(int index) const;
    void moveHighlight(int step);
    void moveColumn(int step);
    void finish(int choice);

    COptionMenu* menu_;
    MenuLayout layout_;
    int highlighted_ = -1;
    int choice_ = -1;
    bool finished_ = false;
    bool needsRedraw_ = true;
    bool moved_ = false;
};

}  // namespace VSTGUI
