// The editor base of the preset system: the strip along the bottom edge of the
// window through which the user picks, steps through and renames the 24
// program slots, loads and saves preset and bank files, stores and clears the
// default preset and bank, and uses the quick memories A and B.
//
// Threads. open, close and the host's idle and keys arrive on host threads
// [ui-thread]; every control, gesture and file dialog lives on the frame's
// thread [frame thread]. A rename by the host is handed over (a short mutex
// that only the host's rename and the frame's idle take) and shown at the
// frame's next idle.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "editor/AEffGUIEditor.h"
#include "gui/VSTGUI.h"

class CPresetSystemEffect;
class CPSTextEdit;
class CPSRockerSwitch;
class CSaveLoadButton;
class CPSKickButton;

namespace tq {
struct FileResult;
enum class RecordKind;
}  // namespace tq

// Tags of the panel's controls.
enum PresetPanelTag : std::int32_t {
    kTagProgramName = 1000,
    kTagProgramStep = 1001,
    kTagLoadBank = 1002,
    kTagSaveBank = 1003,
    kTagLoadPreset = 1004,
    kTagSavePreset = 1005,
    kTagProgramMenu = 1012,
    kTagDefaultBank = 1013,
    kTagDefaultPreset = 1014,
    kTagStoreMemoryA = 1015,
    kTagStoreMemoryB = 1016,
    kTagRecallMemoryA = 1017,
    kTagRecallMemoryB = 1018,
};

// Menu index of program slot n: slot 0, a separator, then slots 1..23.
int programMenuIndex(int slot);

class CPresetSystemEditor : public AEffGUIEditor, public CControlListener {
  public:
    explicit CPresetSystemEditor(CPresetSystemEffect* effect);
    ~CPresetSystemEditor() override;

    // [ui-thread] Adds the panel to the frame the subclass has made; false
    // without a frame or an effect.
    bool open(void* parentWindow) override;
    // [ui-thread] Ends an open file dialog and forgets every control.
    void close() override;
    // [frame thread] Shows a pending host rename, then the toolkit's idle pass.
    void idle() override;
    // [frame thread] The panel's gestures, by tag; other tags are the subclass's.
    void valueChanged(VSTGUI::CControl* control) override;

    // [ui-thread] The host renamed the current program.
    virtual void programNameChanged(const char* name);
    // [ui-thread] Default bank, default preset, file locations.
    virtual void loadStoredDefaults();

    // For tests: the panel's controls while open (null while closed).
    VSTGUI::COptionMenu* programMenu() const { return programMenu_; }
    CPSTextEdit* nameField() const { return nameField_; }

  protected:
    // Runs the file dialog of one of the four file operations [frame thread].
    void runFileOperation(tq::RecordKind kind, bool load, bool reversed);
    void finishFileOperation(tq::RecordKind kind, bool load, bool reversed,
                             const std::string& path);
    // Shows slot `slot` as current in the menu and its name in the field.
    void showSlot(int slot);
    // Name field, current menu entry and entry 0 show `name`.
    void showName(const char* name);
    // Every menu entry from the program table (after a bank load).
    void showAllNames();
    std::string slotName(int slot) const;
    // A store or clear that could not write tells the user.
    void reportStoreFailure(bool written, const char* what);

    CPresetSystemEffect* presetEffect_;
    // The message boxes this editor shows; closing the editor ends them.
    std::uint64_t messageOwner_;

  private:
    CPSTextEdit* nameField_ = nullptr;
    VSTGUI::COptionMenu* programMenu_ = nullptr;
    CPSRockerSwitch* stepSwitch_ = nullptr;
    std::vector<VSTGUI::CControl*> panelControls_;
    std::unique_ptr<VSTGUI::CFileSelector> fileSelector_;
    std::mutex pendingNameMutex_;
    std::optional<std::string> pendingName_;
};
