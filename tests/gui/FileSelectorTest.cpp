// File selector: filter lists, dialog command lines, and runs against stand-in
// dialog tools (small scripts) for chosen, cancelled and failing dialogs.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

#include "support/GuiTestSupport.h"

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

// A stand-in tool that writes its pid and arguments (one per line) beside
// itself, then runs `body`. The pid file appears last, when both are complete.
std::string makeRecordingTool(const std::string& name, const std::string& body) {
    const std::string path = scratchDir() + "/" + name;
    ::unlink((path + ".pid").c_str());
    ::unlink((path + ".args").c_str());
    std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << path
                        << ".args'\necho $$ > '" << path << ".tmp'\nmv '" << path << ".tmp' '"
                        << path << ".pid'\n"
                        << body << "\n";
    chmod(path.c_str(), 0755);
    return path;
}

pid_t recordedPid(const std::string& tool) {
    std::ifstream in(tool + ".pid");
    long pid = 0;
    in >> pid;
    return static_cast<pid_t>(pid);
}

std::vector<std::string> recordedArgs(const std::string& tool) {
    std::vector<std::string> lines;
    std::ifstream in(tool + ".args");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool processGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// An editor whose timer runs work handed over by the test on the frame's
// thread, with the view lock held like every event there.
class ThreadEditor : public VSTGUIEditorInterface {
  public:
    void onFrameTimer() override {
        ++ticks;
        std::function<void()> job;
        {
            std::lock_guard<std::mutex> lock(mutex);
            job.swap(pending);
        }
        if (job) {
            job();
            jobsDone++;
        }
    }
    // Runs `job` on the frame's thread and waits until it has run.
    bool onFrameThread(std::function<void()> job) {
        const int before = jobsDone;
        {
            std::lock_guard<std::mutex> lock(mutex);
            pending = std::move(job);
        }
        return waitFor([&] { return jobsDone > before; });
    }
    std::atomic<int> ticks{0};
    std::atomic<int> jobsDone{0};
    std::mutex mutex;
    std::function<void()> pending;
};

// A frame with a window on the host, live (its timer runs), and what the
// dialog's completion delivered.
struct DialogFrame {
    explicit DialogFrame(HostWindow& host)
        : frame(new CFrame(CRect(0, 0, 500, 200), host.parentHandle(), &editor)) {
        auto* view = new ProbeView(CRect(0, 0, 10, 10));
        frame->addView(view);  // a frame runs its timer once it shows views
        view->forget();
    }
    ~DialogFrame() { close(); }
    void close() {
        if (frame != nullptr) frame->forget();
        frame = nullptr;
    }
    // Starts the dialog on the frame's thread; answers runAsync's result.
    bool start(const VstFileSelect& select) {
        bool started = false;
        EXPECT_TRUE(editor.onFrameThread([&] {
            started = CFileSelector(frame).runAsync(select, [this](std::vector<std::string> p) {
                std::lock_guard<std::mutex> lock(mutex);
                paths = std::move(p);
                onFrameThread = frame->isFrameThread();
                ++calls;
            });
        }));
        return started;
    }
    ThreadEditor editor;
    CFrame* frame;
    std::mutex mutex;
    std::vector<std::string> paths;
    bool onFrameThread = false;
    std::atomic<int> calls{0};
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
        CKeyCode key;
        key.character = static_cast<unsigned char>(c);
        box.popupKeyDown(key);
    }
    CKeyCode enter;
    enter.virt = VKEY_RETURN;
    box.popupKeyDown(enter);  // "…/q" does not exist: stays open
    EXPECT_FALSE(box.popupFinished());
    CKeyCode back;
    back.virt = VKEY_BACK;
    box.popupKeyDown(back);
    for (char c : std::string("p.tvp")) {
        CKeyCode key;
        key.character = static_cast<unsigned char>(c);
        box.popupKeyDown(key);
    }
    box.popupKeyDown(enter);
    EXPECT_TRUE(box.popupFinished());
    EXPECT_TRUE(box.accepted());
    EXPECT_EQ(box.path(), dir + "p.tvp");
    PathEntryBox cancelled("Save", dir, false);
    CKeyCode escape;
    escape.virt = VKEY_ESCAPE;
    cancelled.popupKeyDown(escape);
    EXPECT_TRUE(cancelled.popupFinished());
    EXPECT_FALSE(cancelled.accepted());
}

TEST(FileSelectorOutput, OneLinePerPathAndOnlyTheFirstUnlessMultiple) {
    const std::string output = "/a/one.tvp\n/b/two words.tvp\r\n\n/c/three.tvp\n";
    EXPECT_EQ(parseDialogOutput(output, kVstMultipleFilesLoad),
              (std::vector<std::string>{"/a/one.tvp", "/b/two words.tvp", "/c/three.tvp"}));
    EXPECT_EQ(parseDialogOutput(output, kVstFileLoad), std::vector<std::string>{"/a/one.tvp"});
    EXPECT_TRUE(parseDialogOutput("\n", kVstMultipleFilesLoad).empty());
}

TEST(FileSelectorCommand, AttachedDialogsAreModalForTheWindow) {
    VstFileSelect select;
    select.command = kVstMultipleFilesLoad;
    const auto zenity = buildDialogCommand("zenity", select, 4242);
    EXPECT_NE(std::find(zenity.begin(), zenity.end(), "--modal"), zenity.end());
    EXPECT_NE(std::find(zenity.begin(), zenity.end(), "--attach=4242"), zenity.end());
    EXPECT_NE(std::find(zenity.begin(), zenity.end(), "--multiple"), zenity.end());
    EXPECT_NE(std::find(zenity.begin(), zenity.end(), "--separator=\n"), zenity.end());
    const auto kdialog = buildDialogCommand("kdialog", select, 4242);
    const auto attach = std::find(kdialog.begin(), kdialog.end(), "--attach");
    ASSERT_NE(attach, kdialog.end());
    EXPECT_EQ(*(attach + 1), "4242");
    const auto detached = buildDialogCommand("zenity", select);
    EXPECT_EQ(std::find(detached.begin(), detached.end(), "--modal"), detached.end());
}

TEST(FileSelectorRun, MultipleLoadCountsEveryPathAndKeepsThemAll) {
    ToolsGuard guard;
    const std::string a = scratchDir() + "/multi-a.tvp";
    const std::string b = scratchDir() + "/multi b.tvp";
    std::ofstream(a) << "x";
    std::ofstream(b) << "x";
    CFileSelector::setDialogTools(
        {makeRecordingTool("multi-run", "printf '%s\\n' '" + a + "' '" + b + "'")});
    char buffer[512] = {};
    VstFileSelect select;
    select.command = kVstMultipleFilesLoad;
    select.returnPath = buffer;
    select.sizeReturnPath = sizeof buffer;
    CFileSelector selector;
    EXPECT_EQ(selector.run(&select), 2);
    EXPECT_EQ(select.nbReturnPath, 2);
    EXPECT_EQ(std::string(buffer), a);
    EXPECT_EQ(selector.chosenPaths(), (std::vector<std::string>{a, b}));
}

TEST(FileSelectorAsync, WithoutAWindowNothingStarts) {
    ToolsGuard guard;
    CFileSelector::setDialogTools({makeTool("never", "/x", 0)});
    VstFileSelect select;
    EXPECT_FALSE(CFileSelector(nullptr).runAsync(select, [](std::vector<std::string>) {}));
    CFrame* headless = new CFrame(CRect(0, 0, 50, 50), nullptr, nullptr);
    EXPECT_FALSE(CFileSelector(headless).runAsync(select, [](std::vector<std::string>) {}));
    headless->forget();
}

TEST(FileSelectorAsync, FrameKeepsRunningAndDoneGetsEveryPath) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    ToolsGuard guard;
    const std::string go = scratchDir() + "/async-go";
    ::unlink(go.c_str());
    std::vector<std::string> files;
    for (const char* name : {"async-1.tvp", "async two.tvp", "async-3.tvp"}) {
        files.push_back(scratchDir() + "/" + name);
        std::ofstream(files.back()) << "x";
    }
    // Waits until the test says go, like a user who takes their time.
    const std::string tool = makeRecordingTool(
        "async-multi", "while [ ! -e '" + go + "' ]; do sleep 0.02; done\nprintf '%s\\n' '" +
                           files[0] + "' '" + files[1] + "' '" + files[2] + "'");
    CFileSelector::setDialogTools({tool});
    DialogFrame f(host);
    ASSERT_TRUE(f.frame->isWindowOpen());
    VstFileSelect select;
    select.command = kVstMultipleFilesLoad;
    select.fileTypes = &kPreset;
    select.nbFileTypes = 1;
    ASSERT_TRUE(f.start(select));
    ASSERT_TRUE(waitFor([&] { return recordedPid(tool) > 0; }));

    // The dialog is open: the timer ticks and another thread gets the view lock.
    const int ticks = f.editor.ticks;
    EXPECT_TRUE(waitFor([&] { return f.editor.ticks >= ticks + 3; }));
    std::unique_lock<std::recursive_timed_mutex> lock(f.frame->getViewLock(), std::defer_lock);
    EXPECT_TRUE(waitFor([&] { return lock.try_lock(); }, std::chrono::milliseconds(1000)));
    if (lock.owns_lock()) lock.unlock();
    EXPECT_EQ(f.calls, 0);

    std::ofstream(go) << "x";
    ASSERT_TRUE(waitFor([&] { return f.calls > 0; }));
    std::lock_guard<std::mutex> guardPaths(f.mutex);
    EXPECT_EQ(f.calls, 1);
    EXPECT_TRUE(f.onFrameThread);
    EXPECT_EQ(f.paths, files);
    EXPECT_TRUE(waitFor([&] { return processGone(recordedPid(tool)); }));
}

TEST(FileSelectorAsync, DialogIsModalForTheFramesWindow) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    ToolsGuard guard;
    const std::string tool = makeRecordingTool("async-args", "exit 1");
    CFileSelector::setDialogTools({tool});
    DialogFrame f(host);
    VstFileSelect select;
    ASSERT_TRUE(f.start(select));
    ASSERT_TRUE(waitFor([&] { return f.calls > 0; }));
    const auto args = recordedArgs(tool);
    EXPECT_NE(std::find(args.begin(), args.end(), "--modal"), args.end());
    EXPECT_NE(
        std::find(args.begin(), args.end(), "--attach=" + std::to_string(f.frame->getWindowId())),
        args.end());
    std::lock_guard<std::mutex> lock(f.mutex);
    EXPECT_TRUE(f.paths.empty());  // cancelled
}

TEST(FileSelectorAsync, ToolThatRefusesToAttachIsRunAgainWithout) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    ToolsGuard guard;
    const std::string file = scratchDir() + "/unattached.tvp";
    std::ofstream(file) << "x";
    const std::string tool =
        makeRecordingTool("old-tool",
                          "for a in \"$@\"; do case \"$a\" in --attach*) exit 255;; esac; done\n"
                          "printf '%s\\n' '" +
                              file + "'");
    CFileSelector::setDialogTools({tool});
    DialogFrame f(host);
    VstFileSelect select;
    ASSERT_TRUE(f.start(select));
    ASSERT_TRUE(waitFor([&] { return f.calls > 0; }));
    std::lock_guard<std::mutex> lock(f.mutex);
    EXPECT_EQ(f.paths, std::vector<std::string>{file});
}

TEST(FileSelectorAsync, ClosingTheFrameEndsTheDialogAtOnce) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    ToolsGuard guard;
    // A user who never answers; `exec` keeps the recorded pid the sleeping one.
    const std::string tool = makeRecordingTool("async-forever", "exec sleep 120");
    CFileSelector::setDialogTools({tool});
    DialogFrame f(host);
    VstFileSelect select;
    ASSERT_TRUE(f.start(select));
    ASSERT_TRUE(waitFor([&] { return recordedPid(tool) > 0; }));
    const pid_t pid = recordedPid(tool);
    ASSERT_EQ(::kill(pid, 0), 0);

    // Waiting for the user would take two minutes; ending the tool takes far less.
    const auto before = std::chrono::steady_clock::now();
    f.close();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
    EXPECT_TRUE(processGone(pid));  // ended and reaped: not even a zombie
    EXPECT_EQ(f.calls, 0);
}

TEST(FileSelectorAsync, OwnPathBoxIsNotModalEither) {
    HostWindow host;
    TQ_SKIP_WITHOUT_X(host);
    ToolsGuard guard;
    const std::string file = scratchDir() + "/p.tvp";
    std::ofstream(file) << "x";
    CFileSelector::setDialogTools({scratchDir() + "/missing-tool"});
    DialogFrame f(host);
    const std::string start = scratchDir();
    VstFileSelect select;
    select.initialPath = start.c_str();
    ASSERT_TRUE(f.start(select));
    const int ticks = f.editor.ticks;
    EXPECT_TRUE(waitFor([&] { return f.editor.ticks >= ticks + 3; }));
    EXPECT_EQ(f.calls, 0);
    host.typeText("p.tvp");
    host.typeKey(XK_Return);
    ASSERT_TRUE(waitFor([&] { return f.calls > 0; }));
    std::lock_guard<std::mutex> lock(f.mutex);
    EXPECT_EQ(f.paths, std::vector<std::string>{file});
}
