// Open and save dialogs: zenity, else kdialog, else the toolkit's own path box.
#pragma once

#include <cstdint>
#include <functional>
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
// With a window id the dialog is modal for that X window ("--modal
// --attach=<id>" for zenity, "--attach <id>" for kdialog).
std::vector<std::string> buildDialogCommand(const std::string& tool, const VstFileSelect& select,
                                            unsigned long attachTo = 0);

// The chosen paths of a tool's standard output: one per line (zenity's
// separator and kdialog's --separate-output are both a newline); only the
// first unless the command is a multiple load.
std::vector<std::string> parseDialogOutput(const std::string& output, std::int32_t command);

class CFileSelector {
  public:
    using Completion = std::function<void(std::vector<std::string> paths)>;

    // `frame` owns the dialogs runAsync starts, shows the own path box when no
    // dialog tool exists, and gives its window to the tools as parent (may be
    // null for run()).
    explicit CFileSelector(CFrame* frame = nullptr);

    // [frame thread] Starts the dialog and returns at once; false when nothing
    // could be started (no window, off the frame's thread, no tool and no path
    // box). The frame's loop keeps running meanwhile and does not hold the view
    // lock while the user chooses. When the dialog ends, `done` runs once on
    // the frame's thread with the view lock held and receives every chosen
    // path (several for a multiple load; a save path has the first type's
    // extension added when it has none; load paths that are no existing file
    // are dropped), or none when cancelled. Closing the frame while the
    // dialog is open ends the dialog program (and reaps it) and `done` is
    // never called. The selector itself may be destroyed right after the call;
    // `select` is copied.
    bool runAsync(const VstFileSelect& select, Completion done);

    // [any thread] The blocking form for callers without a frame loop: waits
    // for the dialog on the calling thread (a frame's thread stalls meanwhile,
    // so editors use runAsync). Answers the number of files chosen (0 when
    // cancelled or when the first path does not fit the return buffer), writes
    // the first path into the return buffer and keeps all of them in
    // chosenPaths().
    std::int32_t run(VstFileSelect* select);
    const std::vector<std::string>& chosenPaths() const { return chosenPaths_; }

    // Test hook: the dialog tools tried in order (default {"zenity", "kdialog"}).
    static void setDialogTools(const std::vector<std::string>& tools);

  private:
    // Runs a tool; true when it ran (chosen or cancelled), false when it could not start.
    bool runTool(const std::string& tool, const VstFileSelect& select,
                 std::vector<std::string>& chosen, bool& cancelled);
    bool runPathBox(const VstFileSelect& select, std::string& chosen);
    CFrame* frame_;
    std::vector<std::string> chosenPaths_;
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
    void popupKeyDown(const CKeyCode& key) override;
    bool popupNeedsRedraw() const override { return needsRedraw_; }
    bool popupFinished() const override { return finished_; }
    void popupClosed() override { closed_ = true; }
    // The frame took the box down (finished, replaced or the window closed).
    bool isClosed() const { return closed_; }

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
