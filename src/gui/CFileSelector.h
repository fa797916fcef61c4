// Open and save dialogs: zenity, else kdialog, else the toolkit's own path box.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gui/CTextEdit.h"
#include "gui/PopupClient.h"

namespace VSTGUI {

class CFrame;

enum VstFileSelectCommand : std::int32_t {
    kVstFileLoad = 0,
    kVstFileSave,
    kVstMultipleFilesLoad,
    kVstDirectorySelect,
};

struct VstFileType {
    VstFileType(const char* name, const char* extension);
    char name[128] = {};
    char dosType[8] = {};  // extension without the dot
};

struct VstFileSelect {
    std::int32_t command = kVstFileLoad;
    char title[1024] = {};
    const VstFileType* fileTypes = nullptr;
    std::int32_t nbFileTypes = 0;
    const char* initialPath = nullptr;  // initial directory
    char* returnPath = nullptr;         // receives the chosen path, terminated
    std::int32_t sizeReturnPath = 0;    // bytes available in returnPath
    std::int32_t nbReturnPath = 0;      // set by run()
};

// The dialog's filter entries: one per type ("name (*.ext)"), an "All Types: ("
// entry listing every pattern when there is more than one type, and
// "Any Type (*.*)". Each entry pairs the shown label with its patterns.
struct FileFilter {
    std::string label;
    std::vector<std::string> patterns;
};
std::vector<FileFilter> buildFileFilters(const VstFileSelect& select);

// The command line of a dialog tool ("zenity" or "kdialog") for `select`.
std::vector<std::string> buildDialogCommand(const std::string& tool, const VstFileSelect& select);

class CFileSelector {
  public:
    // `frame` shows the own path box when no dialog tool exists (may be null).
    explicit CFileSelector(CFrame* frame = nullptr);
    // [frame thread] Answers the number of files chosen (0 when cancelled or
    // when the path does not fit the return buffer) and writes the path into
    // the return buffer.
    std::int32_t run(VstFileSelect* select);

    // Test hook: the dialog tools tried in order (default {"zenity", "kdialog"}).
    static void setDialogTools(const std::vector<std::string>& tools);

  private:
    // Runs a tool; true when it ran (chosen or cancelled), false when it could not start.
    bool runTool(const std::string& tool, const VstFileSelect& select, std::string& chosen,
                 bool& cancelled);
    bool runPathBox(const VstFileSelect& select, std::string& chosen);
    CFrame* frame_;
};

// The fallback dialog: a title line and a single-line path field.
class PathEntryBox : public PopupClient {
  public:
    PathEntryBox(const std::string& title, const std::string& initialPath, bool mustExist);
    CCoord popupWidth() const override { return 420; }
    CCoord popupHeight() const override { return 74; }
    void drawPopup(CDrawContext* context) override;
    void popupMouseDown(const CPoint&, CButtonState) override {}
    void popupMouseUp(const CPoint&, CButtonState) override {}
    void popupMouseMoved(const CPoint&, CButtonState) override {}
    void popupOutsideClick() override {}
    void popupKeyDown(const VstKeyCode& key) override;
    bool popupNeedsRedraw() const override { return needsRedraw_; }
    bool popupFinished() const override { return finished_; }
    void popupClosed() override { closed_ = true; }

    bool accepted() const { return accepted_; }
    std::string path() const { return buffer_.text(); }

  private:
    std::string title_;
    std::string message_;
    TextEditBuffer buffer_;
    bool mustExist_;
    bool needsRedraw_ = true;
    bool finished_ = false;
    bool accepted_ = false;
    bool closed_ = false;
};

}  // namespace VSTGUI
