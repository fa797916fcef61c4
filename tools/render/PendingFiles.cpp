#include "PendingFiles.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "ToolError.h"

namespace tq {
namespace {

// More than any batch opens at once; the handler walks a fixed table because it may
// neither allocate nor lock.
constexpr int kSlots = 256;
constexpr std::size_t kPathSize = 4096;

enum SlotState : int { kFree = 0, kFilling = 1, kActive = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[kPathSize] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");

Slot slots[kSlots];
std::atomic<unsigned> nameCounter{0};

// Synchronous faults re-run the faulting instruction when the handler returns, so the
// previous disposition (the default, or a sanitizer's handler) sees the same fault.
bool isFault(int signalNumber) {
    return signalNumber == SIGSEGV || signalNumber == SIGBUS || signalNumber == SIGFPE ||
           signalNumber == SIGILL;
}

struct sigaction previousActions[NSIG];

extern "C" void removePendingFiles(int signalNumber, siginfo_t* info, void*) {
    for (Slot& slot : slots) {
        if (slot.state.load(std::memory_order_acquire) == kActive) ::unlink(slot.path);
    }
    ::sigaction(signalNumber, &previousActions[signalNumber], nullptr);
    const bool sentByProcess = info != nullptr && info->si_code <= 0;
    if (isFault(signalNumber) && !sentByProcess) return;
    ::raise(signalNumber);
}

bool endsTheProcess(int signalNumber) {
    switch (signalNumber) {
        case SIGCHLD:
        case SIGCONT:
        case SIGSTOP:
        case SIGTSTP:
        case SIGTTIN:
        case SIGTTOU:
        case SIGURG:
        case SIGWINCH:
        case SIGKILL:
        case SIGXFSZ:
            return false;
        default:
            return true;
    }
}

}  // namespace

void installCleanupHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGXFSZ, &ignore, nullptr);

        struct sigaction cleanup {};
        cleanup.sa_sigaction = removePendingFiles;
        cleanup.sa_flags = SA_SIGINFO;
        sigemptyset(&cleanup.sa_mask);
        // Run the handler with every other ending signal held, so two signals in a
        // row do not interleave their clean-ups.
        for (int s = 1; s < NSIG; ++s) {
            if (endsTheProcess(s)) sigaddset(&cleanup.sa_mask, s);
        }
        for (int s = 1; s < NSIG; ++s) {
            if (!endsTheProcess(s)) continue;
            struct sigaction previous {};
            if (::sigaction(s, nullptr, &previous) != 0) continue;  // not a valid signal
            if (previous.sa_handler == SIG_IGN) continue;           // e.g. SIGHUP under nohup
            previousActions[s] = previous;
            ::sigaction(s, &cleanup, nullptr);
        }
    });
}

void PendingFile::hold(const std::string& path) {
    release();
    if (path.size() >= kPathSize) throw ToolError("path too long: '" + path + "'");
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acq_rel)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].state.store(kActive, std::memory_order_release);
            slot_ = i;
            return;
        }
    }
    throw ToolError("too many output files open at once");
}

void PendingFile::release() {
    if (slot_ < 0) return;
    slots[slot_].state.store(kFree, std::memory_order_release);
    slot_ = -1;
}

std::string temporaryNameFor(const std::string& finalPath) {
    const auto slash = finalPath.find_last_of('/');
    const std::string directory =
        slash == std::string::npos ? "." : (slash == 0 ? "" : finalPath.substr(0, slash));
    const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    return directory + "/." + name + ".partial-" + std::to_string(::getpid()) + "-" +
           std::to_string(nameCounter.fetch_add(1));
}

}  // namespace tq
