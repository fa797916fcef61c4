// tq_bench_editor: what an open editor costs while music plays and the meters
// move. Opens the editor in the editor host (tools/editor-host), plays the
// music-like test signal in real time, and reads from /proc how long every
// thread the plug-in started with its editor ran, and how long the X server
// ran (drawing costs such as XPutImage land there). The host's own threads
// (audio, GUI idle) are reported apart.
//
//   tq_bench_editor [--seconds N] [--runs N] [--plugin PATH]...
//
// Without --plugin: build/tarvel-quolt.so beside this program's folder, then
// the Debian LSP stereo limiter when it is installed, for comparison.
// Not a test: make bench runs it. Without an X display it runs itself again
// under xvfb-run.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MiniHost.h"

namespace {

using tq::editorhost::HostError;
using tq::editorhost::MiniHost;
using tq::editorhost::MusicSignal;
using std::chrono::milliseconds;

constexpr const char* kPeerLimiter = "/usr/lib/vst/lsp-plugins/limiter-stereo.so";
constexpr const char* kReexecGuard = "TQ_BENCH_EDITOR_UNDER_XVFB";

struct Options {
    double seconds = 5.0;
    int runs = 3;
    std::vector<std::string> plugins;
};

// ----------------------------------------------------------------- X server

// The pid of the X server behind $DISPLAY: from its lock file, else by looking
// for an X server process with that display number on its command line.
int xServerPid() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr) return 0;
    const char* colon = std::strrchr(display, ':');
    if (colon == nullptr) return 0;
    const int number = std::atoi(colon + 1);
    std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
    int pid = 0;
    if (lock >> pid && pid > 0 && ::kill(pid, 0) == 0) return pid;
    const std::string wanted = ":" + std::to_string(number);
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return 0;
    int found = 0;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream file(std::string("/proc/") + entry->d_name + "/cmdline");
        std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<std::string> args;
        std::size_t start = 0;
        for (std::size_t i = 0; i <= all.size(); ++i) {
            if (i == all.size() || all[i] == '\0') {
                args.push_back(all.substr(start, i - start));
                start = i + 1;
            }
        }
        if (args.empty()) continue;
        const std::string program = args[0].substr(args[0].find_last_of('/') + 1);
        if (program != "Xvfb" && program != "Xorg" && program != "X" && program != "Xwayland") {
            continue;
        }
        if (std::find(args.begin(), args.end(), wanted) != args.end()) {
            found = std::atoi(entry->d_name);
            break;
        }
    }
    closedir(proc);
    return found;
}

// ----------------------------------------------------------------- one plug-in

struct ThreadCost {
    int tid;
    std::string name;
    double msPerSecond;
};

struct RunResult {
    std::vector<ThreadCost> editorThreads;
    double editorTotal = 0.0;  // ms per s, all editor threads
    double xServer = -1.0;     // ms per s, -1 when the server could not be read
    double audio = 0.0;
    double hostGui = 0.0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

struct Sample {
    std::vector<std::int64_t> editor;
    std::int64_t xServer = -1;
    std::int64_t audio = 0;
    std::int64_t hostGui = 0;
    std::chrono::steady_clock::time_point when;
};

Sample sample(const std::vector<int>& editorTids, int serverPid, int audioTid, int guiTid) {
    Sample s;
    const int self = static_cast<int>(::getpid());
    for (int tid : editorTids) s.editor.push_back(tq::editorhost::threadRunNanoseconds(self, tid));
    if (serverPid > 0) s.xServer = tq::editorhost::processRunNanoseconds(serverPid);
    s.audio = tq::editorhost::threadRunNanoseconds(self, audioTid);
    s.hostGui = tq::editorhost::threadRunNanoseconds(self, guiTid);
    s.when = std::chrono::steady_clock::now();
    return s;
}

double msPerSecond(std::int64_t before, std::int64_t after, double wallSeconds) {
    if (before < 0 || after < 0) return -1.0;
    return static_cast<double>(after - before) / 1e6 / wallSeconds;
}

// Measures one plug-in; false (with the reason printed) when its editor does
// not open.
bool measure(const std::string& path, const Options& options, int serverPid) {
    MiniHost host(path);
    std::printf("%s (%s):\n", host.effectName().c_str(), path.c_str());
    host.startAudio(std::make_unique<MusicSignal>(44100.0));
    const int guiTid = static_cast<int>(::gettid());
    const std::vector<int> before = tq::editorhost::threadIds();
    if (!host.hasEditorFlag() || !host.openEditor()) {
        std::printf("  the editor did not open (%s)\n",
                    host.hasEditorFlag() ? "effEditOpen answered 0" : "no editor flag");
        return false;
    }
    // The first frames (fonts, artwork, the whole window) are not the steady
    // cost; let them pass.
    host.pump(milliseconds(1500));
    std::vector<int> editorTids;
    for (int tid : tq::editorhost::threadIds()) {
        if (!std::binary_search(before.begin(), before.end(), tid)) editorTids.push_back(tid);
    }
    if (!host.sizeWindowAsked()) std::printf("  (the editor did not ask for sizeWindow)\n");
    if (editorTids.empty()) {
        std::printf("  the editor started no thread of its own: its drawing runs in the host's\n"
                    "  idle calls (host GUI thread below)\n");
    }

    std::vector<RunResult> results;
    for (int run = 0; run < options.runs; ++run) {
        const Sample a = sample(editorTids, serverPid, host.audioThreadId(), guiTid);
        host.pump(milliseconds(static_cast<long>(options.seconds * 1000.0)));
        const Sample b = sample(editorTids, serverPid, host.audioThreadId(), guiTid);
        const double wall = std::chrono::duration<double>(b.when - a.when).count();
        RunResult r;
        for (std::size_t i = 0; i < editorTids.size(); ++i) {
            const double cost = msPerSecond(a.editor[i], b.editor[i], wall);
            r.editorThreads.push_back(ThreadCost{
                editorTids[i], tq::editorhost::threadName(static_cast<int>(::getpid()), editorTids[i]),
                cost});
            if (cost > 0.0) r.editorTotal += cost;
        }
        r.xServer = msPerSecond(a.xServer, b.xServer, wall);
        r.audio = msPerSecond(a.audio, b.audio, wall);
        r.hostGui = msPerSecond(a.hostGui, b.hostGui, wall);
        results.push_back(r);
    }
    if (host.outputPeak() <= 0.0f) std::printf("  (warning: the plug-in output only silence)\n");
    host.closeEditor();
    host.stopAudio();

    // Medians over the runs: the machine is shared, one run can be disturbed.
    auto pick = [&](auto field) {
        std::vector<double> values;
        for (const RunResult& r : results) values.push_back(field(r));
        return median(values);
    };
    // The spread over the runs, so that a disturbed machine shows.
    auto spread = [&](auto field) {
        double low = field(results[0]);
        double high = low;
        for (const RunResult& r : results) {
            low = std::min(low, field(r));
            high = std::max(high, field(r));
        }
        char text[64];
        std::snprintf(text, sizeof text, "runs %.2f..%.2f", low, high);
        return std::string(text);
    };
    const double editor = pick([](const RunResult& r) { return r.editorTotal; });
    const double server = pick([](const RunResult& r) { return r.xServer; });
    const double audio = pick([](const RunResult& r) { return r.audio; });
    const double gui = pick([](const RunResult& r) { return r.hostGui; });
    for (std::size_t i = 0; i < editorTids.size(); ++i) {
        auto threadCost = [i](const RunResult& r) { return r.editorThreads[i].msPerSecond; };
        const double cost = pick(threadCost);
        if (cost < 0.0) {
            std::printf("  editor thread '%s' (%d): ended during the measurement\n",
                        results[0].editorThreads[i].name.c_str(), editorTids[i]);
        } else {
            std::printf("  editor thread '%s' (%d): %.2f ms CPU per s (%.2f%% of one core; %s)\n",
                        results[0].editorThreads[i].name.c_str(), editorTids[i], cost, cost / 10.0,
                        spread(threadCost).c_str());
        }
    }
    if (editorTids.size() > 1) {
        std::printf("  editor threads together: %.2f ms CPU per s (%.2f%% of one core)\n", editor,
                    editor / 10.0);
    }
    if (server >= 0.0) {
        std::printf("  X server (pid %d): %.2f ms CPU per s (%.2f%% of one core; %s)\n",
                    serverPid, server, server / 10.0,
                    spread([](const RunResult& r) { return r.xServer; }).c_str());
    } else {
        std::printf("  X server: not readable (not a local server?)\n");
    }
    std::printf("  host GUI thread (effEditIdle at 22 Hz): %.2f ms CPU per s (%s)\n", gui,
                spread([](const RunResult& r) { return r.hostGui; }).c_str());
    std::printf("  audio thread (processReplacing, 512-frame blocks): %.2f ms CPU per s\n", audio);
    // The host's idle calls run editor code too (all of it, for an editor
    // without a thread), so the sum counts them.
    const double total = editor + gui + std::max(server, 0.0);
    std::printf("  editor threads + host GUI thread + X server: %.2f ms CPU per s "
                "(%.2f%% of one core)\n",
                total, total / 10.0);
    return true;
}

// Runs this program again under a virtual X server; returns only on failure.
void reexecUnderXvfb(char** argv) {
    if (std::getenv(kReexecGuard) != nullptr) return;
    ::setenv(kReexecGuard, "1", 1);
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return;
    self[length] = '\0';
    std::vector<char*> args = {const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                               const_cast<char*>("-s"),
                               const_cast<char*>("-screen 0 1280x1024x24"), self};
    for (int i = 1; argv[i] != nullptr; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    std::fflush(stdout);
    ::execvp("xvfb-run", args.data());
}

std::string defaultPlugin() {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return "tarvel-quolt.so";
    std::string path(self, static_cast<std::size_t>(length));
    path = path.substr(0, path.find_last_of('/'));   // build/bench
    path = path.substr(0, path.find_last_of('/'));   // build
    return path + "/tarvel-quolt.so";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            options.seconds = std::atof(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            options.runs = std::atoi(argv[++i]);
        } else if (arg == "--plugin" && i + 1 < argc) {
            options.plugins.push_back(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--runs N] [--plugin PATH]...\n",
                         argv[0]);
            return 2;
        }
    }
    if (options.seconds <= 0.0 || options.runs < 1) {
        std::fprintf(stderr, "tq_bench_editor: --seconds and --runs must be positive\n");
        return 2;
    }
    if (std::getenv("DISPLAY") == nullptr) {
        reexecUnderXvfb(argv);
        std::fprintf(stderr,
                     "tq_bench_editor: no X display, and xvfb-run could not be started "
                     "(apt-get install xvfb xauth, or run under an X display)\n");
        return 1;
    }
    bool comparePeer = false;
    if (options.plugins.empty()) {
        options.plugins.push_back(defaultPlugin());
        comparePeer = true;
    }

    std::unique_ptr<tq::editorhost::DisplayKeeper> keeper;
    try {
        keeper = std::make_unique<tq::editorhost::DisplayKeeper>();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tq_bench_editor: %s\n", error.what());
        return 1;
    }
    const int serverPid = xServerPid();
    std::printf("Editor cost, music playing, %.1f s x %d runs (median), display %s\n",
                options.seconds, options.runs, std::getenv("DISPLAY"));
    std::printf("CPU: %s\n", tq::editorhost::processorName().c_str());
    {
        // Other work on the machine inflates CPU times (caches, shared cores).
        std::ifstream load("/proc/loadavg");
        double one = 0.0;
        if (load >> one) std::printf("load average at start: %.2f\n", one);
    }
    int failures = 0;
    for (const std::string& path : options.plugins) {
        try {
            if (!measure(path, options, serverPid)) ++failures;
        } catch (const std::exception& error) {
            std::printf("%s: %s\n", path.c_str(), error.what());
            ++failures;
        }
    }
    if (comparePeer) {
        if (::access(kPeerLimiter, R_OK) != 0) {
            std::printf("peer: %s is not installed (apt-get install lsp-plugins-vst)\n",
                        kPeerLimiter);
        } else {
            try {
                // The peer not opening is a finding, not a failure of ours.
                measure(kPeerLimiter, options, serverPid);
            } catch (const std::exception& error) {
                std::printf("peer %s: %s\n", kPeerLimiter, error.what());
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
