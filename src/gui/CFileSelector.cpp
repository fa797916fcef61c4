#include "gui/CFileSelector.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "gui/CFrame.h"
#include "gui/ChildWatch.h"

extern char** environ;

namespace VSTGUI {

namespace {

std::mutex toolsMutex;
std::vector<std::string> dialogTools{"zenity", "kdialog"};

bool findExecutable(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string dirs = path;
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string patternFor(const VstFileType& type) { return std::string("*.") + type.dosType; }

bool hasExtension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
}

bool pathExists(const std::string& path, bool directory) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    return directory ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode);
}

std::string directoryWithSlash(const char* dir) {
    std::string d = dir != nullptr ? dir : "";
    if (!d.empty() && d.back() != '/') d.push_back('/');
    return d;
}

}  // namespace

VstFileType::VstFileType(const char* typeName, const char* extension) {
    std::snprintf(name, sizeof name, "%s", typeName != nullptr ? typeName : "");
    std::snprintf(dosType, sizeof dosType, "%s", extension != nullptr ? extension : "");
}

std::vector<FileFilter> buildFileFilters(const VstFileSelect& select) {
    std::vector<FileFilter> filters;
    const int count = select.fileTypes != nullptr ? std::max(0, select.nbFileTypes) : 0;
    std::vector<std::string> all;
    for (int i = 0; i < count; ++i) {
        const VstFileType& type = select.fileTypes[i];
        const std::string pattern = patternFor(type);
        filters.push_back({std::string(type.name) + " (" + pattern + ")", {pattern}});
        all.push_back(pattern);
    }
    if (count > 1) {
        std::string label = "All Types: (";
        for (std::size_t i = 0; i < all.size(); ++i) label += (i > 0 ? " " : "") + all[i];
        label += ")";
        filters.push_back({label, all});
    }
    filters.push_back({"Any Type (*.*)", {"*"}});
    return filters;
}

std::vector<std::string> buildDialogCommand(const std::string& tool, const VstFileSelect& select,
                                            unsigned long attachTo) {
    std::vector<std::string> args{tool};
    const std::string title = select.title;
    const std::string start = directoryWithSlash(select.initialPath);
    const std::vector<FileFilter> filters = buildFileFilters(select);
    const std::string window = std::to_string(attachTo);
    if (tool == "kdialog") {
        if (!title.empty()) args.insert(args.end(), {"--title", title});
        // kdialog's dialogs are modal for the window they are attached to.
        if (attachTo != 0) args.insert(args.end(), {"--attach", window});
        if (select.command == kVstDirectorySelect) {
            args.insert(args.end(), {"--getexistingdirectory", start.empty() ? "." : start});
            return args;
        }
        if (select.command == kVstMultipleFilesLoad)
            args.insert(args.end(), {"--multiple", "--separate-output"});
        args.push_back(select.command == kVstFileSave ? "--getsavefilename" : "--getopenfilename");
        args.push_back(start.empty() ? "." : start);
        std::string filterText;
        for (const FileFilter& f : filters) {
            std::string patterns;
            for (const std::string& p : f.patterns) patterns += (patterns.empty() ? "" : " ") + p;
            filterText += (filterText.empty() ? "" : "\n") + patterns + "|" + f.label;
        }
        args.push_back(filterText);
        return args;
    }
    args.push_back("--file-selection");
    if (!title.empty()) args.push_back("--title=" + title);
    if (attachTo != 0) args.insert(args.end(), {"--modal", "--attach=" + window});
    if (select.command == kVstFileSave) args.insert(args.end(), {"--save", "--confirm-overwrite"});
    if (select.command == kVstDirectorySelect) args.push_back("--directory");
    if (select.command == kVstMultipleFilesLoad)
        args.insert(args.end(), {"--multiple", "--separator=\n"});
    if (!start.empty()) args.push_back("--filename=" + start);
    if (select.command != kVstDirectorySelect) {
        for (const FileFilter& f : filters) {
            std::string patterns;
            for (const std::string& p : f.patterns) patterns += " " + p;
            args.push_back("--file-filter=" + f.label + " |" + patterns);
        }
    }
    return args;
}

std::vector<std::string> parseDialogOutput(const std::string& output, std::int32_t command) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) paths.push_back(line);
        start = end + 1;
    }
    if (command != kVstMultipleFilesLoad && paths.size() > 1) paths.resize(1);
    return paths;
}

namespace {

enum class ToolOutcome { chosen, cancelled, failed };

// zenity and kdialog answer 0 with the paths, 1 when cancelled; anything else
// means the tool could not show a dialog (no display, unknown option).
ToolOutcome judgeTool(bool haveStatus, int status, const std::string& output) {
    // A host that ignores SIGCHLD leaves no status: judge by the output alone.
    const int code =
        haveStatus && WIFEXITED(status) ? WEXITSTATUS(status) : (output.empty() ? 1 : 0);
    const bool anyPath = output.find_first_not_of("\r\n") != std::string::npos;
    if (code == 0 && anyPath) return ToolOutcome::chosen;
    if (code == 0 || code == 1) return ToolOutcome::cancelled;
    return ToolOutcome::failed;
}

// Starts `args` (args[0] the tool, a name or a path) with its standard output
// on a pipe whose read end lands in `readFd` (non-blocking when asked). The
// tool gets a process group of its own, so ending it also ends whatever it
// started, and none of the host's descriptors.
bool spawnTool(std::vector<std::string> args, bool nonBlocking, pid_t& pid, int& readFd) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | (nonBlocking ? O_NONBLOCK : 0)) != 0) return false;
    // Only the read end is ours to poll; the tool's end blocks like any stdout.
    if (nonBlocking) ::fcntl(pipeFds[1], F_SETFL, ::fcntl(pipeFds[1], F_GETFL) & ~O_NONBLOCK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return false;
    }
    readFd = pipeFds[0];
    return true;
}

// Ends a tool that still runs: SIGTERM to its group, a short grace to let it
// tidy up, then SIGKILL; always reaped, so no zombie outlives the dialog.
void endTool(pid_t pid) {
    if (::kill(-pid, SIGTERM) != 0) ::kill(pid, SIGTERM);
    constexpr int kGraceSteps = 40;  // 40 x 5 ms
    for (int i = 0; i < kGraceSteps; ++i) {
        int status = 0;
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        if (got == pid || (got < 0 && errno == ECHILD)) return;
        ::usleep(5000);
    }
    if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// A descriptor that becomes readable when the child `pid` exits (a pidfd), so
// a tool that closed its output just before exiting wakes the loop at once;
// -1 on kernels without pidfds (the loop then looks every pass). The child is
// not reaped yet, so the pid cannot name another process.
int openExitFd(pid_t pid) {
#if defined(SYS_pidfd_open)
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    (void)pid;
    return -1;
#endif
}

// Chosen paths as the caller gets them: a save path gets the first type's
// extension when it has none; load paths must name existing files.
std::vector<std::string> finishPaths(const VstFileSelect& select, std::vector<std::string> paths) {
    std::vector<std::string> result;
    for (std::string& path : paths) {
        if (path.empty()) continue;
        if (select.command == kVstFileSave && select.nbFileTypes > 0 &&
            select.fileTypes != nullptr && !hasExtension(path) &&
            select.fileTypes[0].dosType[0] != 0)
            path += std::string(".") + select.fileTypes[0].dosType;
        if ((select.command == kVstFileLoad || select.command == kVstMultipleFilesLoad) &&
            !pathExists(path, false))
            continue;
        result.push_back(std::move(path));
    }
    return result;
}

std::vector<std::string> currentTools() {
    std::lock_guard<std::mutex> lock(toolsMutex);
    return dialogTools;
}

std::string toolName(const std::string& tool) {
    const std::size_t slash = tool.rfind('/');
    return slash == std::string::npos ? tool : tool.substr(slash + 1);
}

// One dialog of runAsync, owned by the frame's loop: tries the tools in turn
// (each first attached to the frame's window, then, should it fail, once more
// without, for a tool version that does not know --attach), then the own path
// box; calls the completion once with the result.
class DialogSession : public ChildWatch {
  public:
    DialogSession(CFrame* frame, const VstFileSelect& select, CFileSelector::Completion done)
        : frame_(frame), done_(std::move(done)) {
        select_ = select;
        if (select.fileTypes != nullptr && select.nbFileTypes > 0)
            types_.assign(select.fileTypes, select.fileTypes + select.nbFileTypes);
        initialPath_ = select.initialPath != nullptr ? select.initialPath : "";
        select_.fileTypes = types_.empty() ? nullptr : types_.data();
        select_.nbFileTypes = static_cast<std::int32_t>(types_.size());
        select_.initialPath = initialPath_.c_str();
        select_.returnPath = nullptr;
        select_.sizeReturnPath = 0;
        select_.nbReturnPath = 0;
        const unsigned long window = frame->getWindowId();
        for (const std::string& tool : currentTools()) {
            if (window != 0) attempts_.push_back({tool, window});
            attempts_.push_back({tool, 0});
        }
    }

    ~DialogSession() override {
        if (fd_ >= 0) ::close(fd_);
        if (exitFd_ >= 0) ::close(exitFd_);
        if (pid_ > 0) endTool(pid_);
        if (box_ != nullptr && !box_->isClosed()) frame_->closePopup();
    }

    // Starts the first tool that starts, else the path box.
    bool start() { return startNextTool() || openPathBox(); }

    int watchFd() const override { return fd_ >= 0 ? fd_ : exitFd_; }

    bool service() override {
        if (box_ != nullptr) {
            if (!box_->isClosed()) return false;
            std::vector<std::string> paths;
            if (box_->accepted()) paths.push_back(box_->path());
            return finish(std::move(paths));
        }
        if (fd_ >= 0) {
            if (!drainPipe()) return false;
            exitFd_ = openExitFd(pid_);
        }
        // The pipe is closed; the tool is about to exit (or has).
        int status = 0;
        pid_t got = 0;
        do {
            got = ::waitpid(pid_, &status, WNOHANG);
        } while (got < 0 && errno == EINTR);
        if (got == 0) return false;
        pid_ = -1;
        if (exitFd_ >= 0) ::close(exitFd_);
        exitFd_ = -1;
        const ToolOutcome outcome = judgeTool(got > 0, status, output_);
        if (outcome == ToolOutcome::chosen)
            return finish(parseDialogOutput(output_, select_.command));
        if (outcome == ToolOutcome::cancelled) return finish({});
        if (startNextTool() || openPathBox()) return false;
        return finish({});
    }

  private:
    struct Attempt {
        std::string tool;
        unsigned long attachTo;
    };

    bool startNextTool() {
        while (next_ < attempts_.size()) {
            const Attempt& attempt = attempts_[next_++];
            if (!findExecutable(attempt.tool)) continue;
            std::vector<std::string> args =
                buildDialogCommand(toolName(attempt.tool), select_, attempt.attachTo);
            args[0] = attempt.tool;
            output_.clear();
            if (spawnTool(std::move(args), true, pid_, fd_)) return true;
            pid_ = -1;
            fd_ = -1;
        }
        return false;
    }

    // The own path box, shown without a nested loop: the frame keeps running
    // and service() sees when the box is gone.
    bool openPathBox() {
        auto box = std::make_unique<PathEntryBox>(
            select_.title[0] != 0 ? select_.title : "Path", directoryWithSlash(select_.initialPath),
            select_.command == kVstFileLoad || select_.command == kVstMultipleFilesLoad);
        const CRect size = frame_->getViewSize();
        const CPoint where((size.width() - box->popupWidth()) / 2,
                           (size.height() - box->popupHeight()) / 2);
        if (!frame_->openPopup(box.get(), where)) return false;
        box_ = std::move(box);
        return true;
    }

    // Reads what the pipe holds; true at its end (the descriptor is closed then).
    bool drainPipe() {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got > 0) {
                output_.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
            ::close(fd_);
            fd_ = -1;
            return true;
        }
    }

    bool finish(std::vector<std::string> paths) {
        CFileSelector::Completion done = std::move(done_);
        done_ = nullptr;
        if (done) done(finishPaths(select_, std::move(paths)));
        return true;
    }

    CFrame* frame_;
    CFileSelector::Completion done_;
    VstFileSelect select_;
    std::vector<VstFileType> types_;
    std::string initialPath_;
    std::vector<Attempt> attempts_;
    std::size_t next_ = 0;
    pid_t pid_ = -1;
    int fd_ = -1;
    int exitFd_ = -1;  // readable once the tool has exited (-1: serviced every pass)
    std::string output_;
    std::unique_ptr<PathEntryBox> box_;
};

}  // namespace

CFileSelector::CFileSelector(CFrame* frame) : frame_(frame) {}

void CFileSelector::setDialogTools(const std::vector<std::string>& tools) {
    std::lock_guard<std::mutex> lock(toolsMutex);
    dialogTools = tools;
}

bool CFileSelector::runAsync(const VstFileSelect& select, Completion done) {
    if (frame_ == nullptr || !frame_->isWindowOpen() || !frame_->isFrameThread()) return false;
    auto session = std::make_unique<DialogSession>(frame_, select, std::move(done));
    if (!session->start()) return false;
    return frame_->watchChild(std::move(session));
}

bool CFileSelector::runTool(const std::string& tool, const VstFileSelect& select,
                            std::vector<std::string>& chosen, bool& cancelled) {
    if (!findExecutable(tool)) return false;
    std::vector<std::string> args = buildDialogCommand(toolName(tool), select);
    args[0] = tool;
    pid_t pid = -1;
    int fd = -1;
    if (!spawnTool(std::move(args), false, pid, fd)) return false;
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            output.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    ::close(fd);
    int status = 0;
    pid_t waited = 0;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    switch (judgeTool(waited == pid, status, output)) {
        case ToolOutcome::chosen:
            chosen = parseDialogOutput(output, select.command);
            cancelled = false;
            return true;
        case ToolOutcome::cancelled:
            cancelled = true;
            return true;
        case ToolOutcome::failed:
            break;
    }
    return false;  // the tool failed (no display, bad arguments): try the next one
}

bool CFileSelector::runPathBox(const VstFileSelect& select, std::string& chosen) {
    if (frame_ == nullptr || !frame_->isWindowOpen() || !frame_->isFrameThread()) return false;
    PathEntryBox box(select.title[0] != 0 ? select.title : "Path",
                     directoryWithSlash(select.initialPath),
                     select.command == kVstFileLoad || select.command == kVstMultipleFilesLoad);
    const CRect size = frame_->getViewSize();
    const CPoint where((size.width() - box.popupWidth()) / 2,
                       (size.height() - box.popupHeight()) / 2);
    if (!frame_->runModalPopup(&box, where) || !box.accepted()) return false;
    chosen = box.path();
    return true;
}

std::int32_t CFileSelector::run(VstFileSelect* select) {
    chosenPaths_.clear();
    if (select == nullptr) return 0;
    select->nbReturnPath = 0;
    if (select->returnPath == nullptr || select->sizeReturnPath <= 0) return 0;
    std::vector<std::string> chosen;
    bool ran = false;
    bool cancelled = false;
    for (const std::string& tool : currentTools()) {
        if (runTool(tool, *select, chosen, cancelled)) {
            ran = true;
            break;
        }
    }
    if (!ran) {
        std::string path;
        cancelled = !runPathBox(*select, path);
        if (!cancelled) chosen.push_back(path);
    }
    if (cancelled) return 0;
    std::vector<std::string> paths = finishPaths(*select, std::move(chosen));
    if (paths.empty()) return 0;
    // A path that does not fit would name another file: refuse it whole.
    const std::string& first = paths.front();
    if (first.size() + 1 > static_cast<std::size_t>(select->sizeReturnPath)) return 0;
    std::memcpy(select->returnPath, first.c_str(), first.size() + 1);
    chosenPaths_ = std::move(paths);
    select->nbReturnPath = static_cast<std::int32_t>(chosenPaths_.size());
    return select->nbReturnPath;
}

// ---------------------------------------------------------------- PathEntryBox

PathEntryBox::PathEntryBox(const std::string& title, const std::string& initialPath, bool mustExist)
    : title_(title), mustExist_(mustExist) {
    buffer_.setText(initialPath);
    buffer_.end(false);
    message_ = "Enter a path, then Enter (Escape cancels)";
}

void PathEntryBox::drawPopup(CDrawContext* context) {
    needsRedraw_ = false;
    const CRect all(0, 0, popupWidth(), popupHeight());
    context->setFillColor(CColor{236, 236, 232, 255});
    context->drawRect(all, kDrawFilled);
    context->setFrameColor(CColor{80, 80, 80, 255});
    context->drawRect(all, kDrawStroked);
    context->setFont(kNormalFont);
    context->setFontColor(kBlackCColor);
    context->drawString(title_.c_str(), CRect(8, 4, popupWidth() - 8, 22), false, kLeftText);
    const CRect field(8, 26, popupWidth() - 8, 46);
    context->setFillColor(kWhiteCColor);
    context->drawRect(field, kDrawFilled);
    context->drawRect(field, kDrawStroked);
    const std::string& text = buffer_.text();
    const CCoord caretX = context->getStringWidth(text.substr(0, buffer_.caret()).c_str());
    const CCoord scroll = std::max<CCoord>(0, caretX - (field.width() - 8));
    CRect textRect(field.left + 3 - scroll, field.top, field.right + 2000, field.bottom);
    context->setClipRect(CRect(field.left + 1, field.top + 1, field.right - 1, field.bottom - 1));
    context->drawString(text.c_str(), textRect, false, kLeftText);
    context->setFillColor(kBlackCColor);
    const CCoord x = textRect.left + caretX;
    context->drawRect(CRect(x, field.top + 3, x + 1, field.bottom - 3), kDrawFilled);
    context->resetClipRect();
    context->setFontColor(CColor{90, 90, 90, 255});
    context->drawString(message_.c_str(), CRect(8, 50, popupWidth() - 8, 70), false, kLeftText);
}

void PathEntryBox::popupKeyDown(const CKeyCode& key) {
    needsRedraw_ = true;
    switch (key.virt) {
        case VKEY_RETURN:
        case VKEY_ENTER:
            if (mustExist_ && !pathExists(buffer_.text(), false)) {
                message_ = "No such file";
                return;
            }
            accepted_ = !buffer_.text().empty();
            finished_ = true;
            return;
        case VKEY_ESCAPE:
            finished_ = true;
            return;
        case VKEY_BACK:
            buffer_.backspace();
            return;
        case VKEY_DELETE:
            buffer_.deleteForward();
            return;
        case VKEY_HOME:
            buffer_.home(false);
            return;
        case VKEY_END:
            buffer_.end(false);
            return;
        case VKEY_LEFT:
            buffer_.left(false);
            return;
        case VKEY_RIGHT:
            buffer_.right(false);
            return;
        default:
            if (key.character >= 32 && key.character <= 255 && key.character != 127 &&
                (key.modifier & MODIFIER_CONTROL) == 0)
                buffer_.insert(static_cast<char>(key.character));
            return;
    }
}

}  // namespace VSTGUI
