#include "platform/MessageBox.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
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

// A box program that was started: its reaper thread waits for it. `exited` is set
// (under the registry's mutex) before the process is reaped, so a signal sent under
// the mutex while `exited` is false always reaches this process, never a later one
// that got the same pid.
struct Box {
    pid_t pid = -1;
    std::uint64_t owner = 0;
    bool exited = false;
    bool reaped = false;
    std::thread reaper;
};

class BoxRegistry {
  public:
    // Unloading the library or leaving the process: no box and no reaper thread may
    // outlive the code they run.
    ~BoxRegistry() {
        close([](const Box&) { return true; });
    }

    void add(pid_t pid, std::uint64_t owner) {
        auto box = std::make_shared<Box>();
        box->pid = pid;
        box->owner = owner;
        std::lock_guard<std::mutex> lock(mutex_);
        box->reaper = std::thread(&BoxRegistry::reap, this, box);
        boxes_.push_back(std::move(box));
    }

    // Joins the reapers of boxes the user has closed already.
    void sweep() {
        std::vector<std::shared_ptr<Box>> done;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = boxes_.begin(); it != boxes_.end();) {
                if ((*it)->reaped) {
                    done.push_back(std::move(*it));
                    it = boxes_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const auto& box : done) box->reaper.join();
    }

    // Ends and reaps every box `which` selects. A box is taken out of the list
    // before it is ended, so two closing threads never join the same reaper.
    template <class Which>
    void close(Which which) {
        std::vector<std::shared_ptr<Box>> closing;
        std::unique_lock<std::mutex> lock(mutex_);
        for (auto it = boxes_.begin(); it != boxes_.end();) {
            if (which(**it)) {
                closing.push_back(std::move(*it));
                it = boxes_.erase(it);
            } else {
                ++it;
            }
        }
        if (closing.empty()) return;
        const auto allExited = [&closing] {
            for (const auto& box : closing)
                if (!box->exited) return false;
            return true;
        };
        signalAll(closing, SIGTERM);
        changed_.wait_for(lock, kGrace, allExited);
        signalAll(closing, SIGKILL);
        changed_.wait(lock, [&closing] {
            for (const auto& box : closing)
                if (!box->reaped) return false;
            return true;
        });
        lock.unlock();
        for (const auto& box : closing) box->reaper.join();
    }

    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t open = 0;
        for (const auto& box : boxes_)
            if (!box->reaped) ++open;
        return open;
    }

  private:
    static constexpr auto kGrace = std::chrono::milliseconds(200);

    // Called with the mutex held.
    static void signalAll(const std::vector<std::shared_ptr<Box>>& boxes, int signal) {
        for (const auto& box : boxes) {
            if (box->exited) continue;
            // The box's process group: also whatever the program started.
            if (::kill(-box->pid, signal) != 0) ::kill(box->pid, signal);
        }
    }

    void reap(std::shared_ptr<Box> box) {
        // Wait for the exit without reaping, so the pid stays ours until `exited` is set.
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(box->pid), &info, WEXITED | WNOWAIT) < 0 &&
               errno == EINTR) {
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            box->exited = true;
        }
        int status = 0;
        while (::waitpid(box->pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            box->reaped = true;
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<Box>> boxes_;
};

BoxRegistry& boxRegistry() {
    static BoxRegistry registry;
    return registry;
}

std::atomic<std::uint64_t> nextOwner{1};

// Starts the box program as a child in a process group of its own and hands it to
// the registry. Between fork and exec only async-signal-safe calls are made, since
// the host has other threads.
bool startBox(const std::string& program, const std::vector<std::string>& arguments,
              std::uint64_t owner) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    BoxRegistry& registry = boxRegistry();
    registry.sweep();
    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::setpgid(0, 0);
        const int devNull = ::open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            ::dup2(devNull, STDIN_FILENO);
            ::dup2(devNull, STDOUT_FILENO);
        }
        closeInheritedDescriptors();
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    // Also here, so the group exists before anyone signals it.
    ::setpgid(child, child);
    registry.add(child, owner);
    return true;
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

void showErrorMessage(std::string_view text, std::uint64_t owner) {
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
            if (startBox(findProgram("zenity"),
                         {"zenity", "--error", "--no-markup",
                          std::string("--title=") + kErrorCaption, "--text=" + message},
                         owner)) {
                return;
            }
            break;
        case MessageRoute::xmessage:
            // A text starting with '-' would be read as an option.
            if (startBox(findProgram("xmessage"),
                         {"xmessage", "-title", kErrorCaption, "-center", "-buttons", "OK",
                          (message.starts_with('-') ? " " : "") + message},
                         owner)) {
                return;
            }
            break;
        case MessageRoute::capture:
        case MessageRoute::standardError:
            break;
    }
    std::fprintf(stderr, "%s %s\n", kErrorCaption, message.c_str());
}

std::uint64_t openMessageOwner() { return nextOwner.fetch_add(1); }

void closeErrorMessages(std::uint64_t owner) {
    boxRegistry().close([owner](const Box& box) { return box.owner == owner; });
}

void closeErrorMessages() {
    boxRegistry().close([](const Box&) { return true; });
}

std::size_t openErrorMessageCount() { return boxRegistry().count(); }

}  // namespace tq
