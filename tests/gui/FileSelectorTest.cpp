// File selector: filter lists, dialog command lines, and runs against stand-in
// dialog tools (small scripts) for chosen, cancelled and failing dialogs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "gui/GuiTestSupport.h"

using namespace VSTGUI;
using namespace guitest;

namespace {

const VstFileType kPreset("Tarvel Preset", "tvp");
const VstFileType kTwoTypes[] = {VstFileType("Tarvel Preset", "tvp"),
                                 VstFileType("Tarvel Bank", "tvb")};

std::string scratchDir() {
    const std::string dir = std::string(TQ_BINARY_DIR) + "/gui_file_selector";
    mkdir(dir.c_str(), 0755);
    return dir;
}

// A stand-in dialog tool: prints `output` and exits with `code`.
std::string makeTool(const std::string& name, const std::string& output, int code) {
    const std::string path = scratchDir() + "/" + name;
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' '" << output << "'\nexit " << code << "\n";
    chmod(path.c_str(), 0755);
    return path;
}

struct ToolsGuard {
    ~ToolsGuard() { CFileSelector::setDialogTools({"zenity", "kdialog"}); }
};

}  // namespace

TEST(FileSelectorFilters, OneTypeThenAnyType) {
    VstFileSelect select;
    select.fileTypes = &kPreset;
    select.nbFileTypes = 1;
    const auto filters = buildFileFilters(select);
    ASSERT_EQ(filters.size(), 2u);
    EXPECT_EQ(filters[0].label, "Tarvel Preset (*.tvp)");
    EXPECT_EQ(filters[0].patterns, std::vector<std::string>{"*.tvp"});
    EXPECT_EQ(filters[1].label, "Any Type (*.*)");
}

TEST(FileSelectorFilters, SeveralTypesAddAnAllTypesEntry) {
    VstFileSelect select;
    select.fileTypes = kTwoTypes;
    select.nbFileTypes = 2;
    const auto filters = buildFileFilters(select);
    ASSERT_EQ(filters.size(), 4u);
    EXPECT_EQ(filters[1].label, "Tarvel Bank (*.tvb)");
    EXPECT_EQ(filters[2].label, "All Types: (*.tvp *.tvb)");
    EXPECT_EQ(filters[2].patterns.size(), 2u);
    EXPECT_EQ(filters[3].label, "Any Type (*.*)");
    select.nbFileTypes = -3;  // bad count: no types at all
    EXPECT_EQ(buildFileFilters(select).size(), 1u);
}

TEST(FileSelectorCommand, ZenityAndKdialogLines) {
    VstFileSelect select;
    select.command = kVstFileSave;
    std::snprintf(select.title, sizeof select.title, "Save Preset");
    select.fileTypes = &kPreset;
    select.nbFileTypes = 1;
    select.initialPath = "/tmp/presets";
    const auto zenity = buildDialogCommand("zenity", select);
    const std::vector<std::string> expected{"zenity",
                                            "--file-selection",
                                            "--title=Save Preset",
                                            "--save",
                                            "--confirm-overwrite",
                                            "--filename=/tmp/presets/",
                                            "--file-filter=Tarvel Preset (*.tvp) | *.tvp",
                                            "--file-filter=Any Type (*.*) | *"};
    EXPECT_EQ(zenity, expected);
    const auto kdialog = buildDialogCommand("kdialog", select);
    ASSERT_EQ(kdialog.size(), 6u);
    EXPECT_EQ(kdialog[3], "--getsavefilename");
    EXPECT_EQ(kdialog[5], "*.tvp|Tarvel Preset (*.tvp)\n*|Any Type (*.*)");
    select.command = kVstDirectorySelect;
    const auto directory = buildDialogCommand("zenity", select);
    EXPECT_NE(std::find(directory.begin(), directory.end(), "--directory"), directory.end());
}

TEST(FileSelectorRun, ChosenFileIsWrittenToTheReturnBuffer) {
    ToolsGuard guard;
    const std::string file = scratchDir() + "/chosen.tvp";
    std::ofstream(file) << "x";
    CFileSelector::setDialogTools({scratchDir() + "/missing-tool", makeTool("choose", file, 0)});
    char buffer[512] = {};
    VstFileSelect select;
    select.fileTypes = &kPreset;
    select.nbFileTypes = 1;
    select.returnPath = buffer;
    select.sizeReturnPath = sizeof buffer;
    CFileSelector selector;
    EXPECT_EQ(selector.run(&select), 1);
    EXPECT_EQ(std::string(buffer), file);
    EXPECT_EQ(select.nbReturnPath, 1);
}

TEST(FileSelectorRun, CancelAnswersZeroAndLeavesTheBuffer) {
    ToolsGuard guard;
    CFileSelector::setDialogTools({makeTool("cancel", "", 1)});
    char buffer[64] = "untouched";
    VstFileSelect select;
    select.returnPath = buffer;
    select.sizeReturnPath = sizeof buffer;
    EXPECT_EQ(CFileSelector().run(&select), 0);
    EXPECT_STREQ(buffer, "untouched");
}

TEST(FileSelectorRun, SaveAddsTheFirstTypesExtension) {
    ToolsGuard guard;
    CFileSelector::setDialogTools({makeTool("save", scratchDir() + "/new", 0)});
    char buffer[512] = {};
    VstFileSelect select;
    select.command = kVstFileSave;
    select.fileTypes = kTwoTypes;
    select.nbFileTypes = 2;
    select.returnPath = buffer;
    select.sizeReturnPath = sizeof buffer;
    EXPECT_EQ(CFileSelector().run(&select), 1);
    EXPECT_EQ(std::string(buffer), scratchDir() + "/new.tvp");
}

TEST(FileSelectorBadInput, PathLongerThanTheBufferIsRefusedWhole) {
    ToolsGuard guard;
    const std::string file = scratchDir() + "/chosen.tvp";
    std::ofstream(file) << "x";
    CFileSelector::setDialogTools({makeTool("choose2", file, 0)});
    char buffer[8] = "old";
    VstFileSelect select;
    select.returnPath = buffer;
    select.sizeReturnPath = sizeof buffer;
    EXPECT_EQ(CFileSelector().run(&select), 0);
    EXPECT_STREQ(buffer, "old");
    select.returnPath = nullptr;  // no buffer at all
    EXPECT_EQ(CFileSelector().run(&select), 0);
    EXPECT_EQ(CFileSelector().run(nullptr), 0);
}

TEST(FileSelectorBadInput, LoadOfAMissingFileAnswersZero) {
    ToolsGuard guard;
    CFileSelector::setDialogTools({makeTool("ghost", scratchDir() + "/does-not-exist.tvp", 0)});
    char buffer[512] = {};
    VstFileSelect select;
    select.returnPath = buffer;
    select.sizeReturnPath = sizeof buffer;
    EXPECT_EQ(CFileSelector().run(&select), 0);
}

TEST(FileSelectorBadInput, FailingToolsFallBackAndWithoutAWindowAnswerZero) {
    ToolsGuard guard;
    CFileSelector::setDialogTools({makeTool("broken", "", 255), scratchDir() + "/missing-tool"});
    char buffer[512] = {};
    VstFileSelect select;
    select.returnPath = buffer;
    select.sizeReturnPath = sizeof buffer;
    EXPECT_EQ(CFileSelector(nullptr).run(&select), 0);
}

TEST(PathEntryBox, TypingAndEnterAcceptEscapeCancels) {
    const std::string dir = scratchDir() + "/";
    std::ofstream(dir + "p.tvp") << "x";
    PathEntryBox box("Load", dir, true);
    for (char c : std::string("q")) {
        VstKeyCode key;
        key.character = static_cast<unsigned char>(c);
        box.popupKeyDown(key);
    }
    VstKeyCode enter;
    enter.virt = vst::VKEY_RETURN;
    box.popupKeyDown(enter);  // "…/q" does not exist: stays open
    EXPECT_FALSE(box.popupFinished());
    VstKeyCode back;
    back.virt = vst::VKEY_BACK;
    box.popupKeyDown(back);
    for (char c : std::string("p.tvp")) {
        VstKeyCode key;
        key.character = static_cast<unsigned char>(c);
        box.popupKeyDown(key);
    }
    box.popupKeyDown(enter);
    EXPECT_TRUE(box.popupFinished());
    EXPECT_TRUE(box.accepted());
    EXPECT_EQ(box.path(), dir + "p.tvp");
    PathEntryBox cancelled("Save", dir, false);
    VstKeyCode escape;
    escape.virt = vst::VKEY_ESCAPE;
    cancelled.popupKeyDown(escape);
    EXPECT_TRUE(cancelled.popupFinished());
    EXPECT_FALSE(cancelled.accepted());
}
