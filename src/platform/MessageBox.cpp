#include "platform/MessageBox.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace tq {

namespace {

std::mutex& captureMutex() {
    static std::mutex mutex;
    return mutex;
}

MessageCapture& captureFunction() {
    static MessageCapture capture;
    return capture;
}

bool hasEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// The full path of an executable program found in PATH, or empty.
std::string findProgram(const char* program) {
    const char* path = std::getenv("PATH");
    std::string_view directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!directories.empty()) {
        const std::size_t colon = directories.find(':');
        std::string directory(directories.substr(0, colon));
        directories =
            colon == std::string_view::npos ? std::string_view{} : directories.substr(colon + 1);
        if (directory.empty() || directory[0] != '/') continue;
        std::string candidate = directory + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

void closeInheritedDescriptors() {
    // The host's files, sockets and pipes must not stay open in the message program.
    if (::close_range(3, ~0U, 0) == 0) return;
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd) ::close(fd);
}

// Starts the program detached: an intermediate child starts it and exits at once, so
// the program belongs to init and the caller waits only for the intermediate child.
// Between fork and exec only async-signal-safe calls are made, since the host has
// other threads.
bool startDetached(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            const int devNull = ::open("/dev/null", O_RDWR);
            if (devNull >= 0) {
                ::dup2(devNull, STDIN_FILENO);
                ::dup2(devNull, STDOUT_FILENO);
            }
            closeInheritedDescriptors();
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

MessageCapture setMessageCapture(MessageCapture capture) {
    std::lock_guard<std::mutex> lock(captureMutex());
    MessageCapture previous = std::move(captureFunction());
    captureFunction() = std::move(capture);
    return previous;
}

MessageRoute currentMessageRoute() {
    {
        std::lock_guard<std::mutex> lock(captureMutex());
        if (captureFunction()) return MessageRoute::capture;
    }
    const bool x11 = hasEnvironment("DISPLAY");
    if ((x11 || hasEnvironment("WAYLAND_DISPLAY")) && !findProgram("zenity").empty()) {
        return MessageRoute::zenity;
    }
    if (x11 && !findProgram("xmessage").empty()) return MessageRoute::xmessage;
    return MessageRoute::standardError;
}

void showErrorMessage(std::string_view text) {
    {
        std::lock_guard<std::mutex> lock(captureMutex());
        if (captureFunction()) {
            captureFunction()(kErrorCaption, text);
            return;
        }
    }
    const std::string message(text);
    switch (currentMessageRoute()) {
        case MessageRoute::zenity:
            if (startDetached(findProgram("zenity"),
                              {"zenity", "--error", "--no-markup",
                               std::string("--title=") + kErrorCaption, "--text=" + message})) {
                return;
            }
            break;
        case MessageRoute::xmessage:
            // A text starting with '-' would be read as an option.
            if (startDetached(findProgram("xmessage"),
                              {"xmessage", "-title", kErrorCaption, "-center", "-buttons", "OK",
                               (message.starts_with('-') ? " " : "") + message})) {
                return;
            }
            break;
        case MessageRoute::capture:
        case MessageRoute::standardError:
            break;
    }
    std::fprintf(stderr, "%s %s\n", kErrorCaption, message.c_str());
}

}  // namespace tq
