#include "gui/CFileSelector.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "gui/CFrame.h"

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

std::vector<std::string> buildDialogCommand(const std::string& tool, const VstFileSelect& select) {
    std::vector<std::string> args{tool};
    const std::string title = select.title;
    const std::string start = directoryWithSlash(select.initialPath);
    const std::vector<FileFilter> filters = buildFileFilters(select);
    if (tool == "kdialog") {
        if (!title.empty()) args.insert(args.end(), {"--title", title});
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

CFileSelector::CFileSelector(CFrame* frame) : frame_(frame) {}

void CFileSelector::setDialogTools(const std::vector<std::string>& tools) {
    std::lock_guard<std::mutex> lock(toolsMutex);
    dialogTools = tools;
}

bool CFileSelector::runTool(const std::string& tool, const VstFileSelect& select,
                            std::string& chosen, bool& cancelled) {
    if (!findExecutable(tool)) return false;
    const std::string name =
        tool.substr(tool.rfind('/') == std::string::npos ? 0 : tool.rfind('/') + 1);
    std::vector<std::string> args = buildDialogCommand(name, select);
    args[0] = tool;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return false;
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got > 0) {
            output.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    pid_t waited = 0;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    // A host that ignores SIGCHLD leaves no status: judge by the output alone.
    const int code =
        waited == pid && WIFEXITED(status) ? WEXITSTATUS(status) : (output.empty() ? 1 : 0);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    if (code == 0 && !output.empty()) {
        chosen = output.substr(0, output.find('\n'));  // the first of several
        cancelled = false;
        return true;
    }
    if (code == 1 || code == 0) {
        cancelled = true;
        return true;
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
    if (select == nullptr) return 0;
    select->nbReturnPath = 0;
    if (select->returnPath == nullptr || select->sizeReturnPath <= 0) return 0;
    std::vector<std::string> tools;
    {
        std::lock_guard<std::mutex> lock(toolsMutex);
        tools = dialogTools;
    }
    std::string chosen;
    bool ran = false;
    bool cancelled = false;
    for (const std::string& tool : tools) {
        if (runTool(tool, *select, chosen, cancelled)) {
            ran = true;
            break;
        }
    }
    if (!ran) {
        cancelled = !runPathBox(*select, chosen);
    }
    if (cancelled || chosen.empty()) return 0;
    if (select->command == kVstFileSave && select->nbFileTypes > 0 &&
        select->fileTypes != nullptr && !hasExtension(chosen) &&
        select->fileTypes[0].dosType[0] != 0)
        chosen += std::string(".") + select->fileTypes[0].dosType;
    if ((select->command == kVstFileLoad || select->command == kVstMultipleFilesLoad) &&
        !pathExists(chosen, false))
        return 0;
    // A path that does not fit would name another file: refuse it whole.
    if (chosen.size() + 1 > static_cast<std::size_t>(select->sizeReturnPath)) return 0;
    std::memcpy(select->returnPath, chosen.c_str(), chosen.size() + 1);
    select->nbReturnPath = 1;
    return 1;
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

void PathEntryBox::popupKeyDown(const VstKeyCode& key) {
    needsRedraw_ = true;
    switch (key.virt) {
        case vst::VKEY_RETURN:
        case vst::VKEY_ENTER:
            if (mustExist_ && !pathExists(buffer_.text(), false)) {
                message_ = "No such file";
                return;
            }
            accepted_ = !buffer_.text().empty();
            finished_ = true;
            return;
        case vst::VKEY_ESCAPE:
            finished_ = true;
            return;
        case vst::VKEY_BACK:
            buffer_.backspace();
            return;
        case vst::VKEY_DELETE:
            buffer_.deleteForward();
            return;
        case vst::VKEY_HOME:
            buffer_.home(false);
            return;
        case vst::VKEY_END:
            buffer_.end(false);
            return;
        case vst::VKEY_LEFT:
            buffer_.left(false);
            return;
        case vst::VKEY_RIGHT:
            buffer_.right(false);
            return;
        default:
            if (key.character >= 32 && key.character <= 255 && key.character != 127 &&
                (key.modifier & vst::MODIFIER_CONTROL) == 0)
                buffer_.insert(static_cast<char>(key.character));
            return;
    }
}

}  // namespace VSTGUI
