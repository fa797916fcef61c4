// tq_editor_shots: pictures of the plug-in's editor in a few states, for a
// person to look at (make shots). Each picture comes from a fresh instance of
// the effect, so one state never leaks into the next.
//
//   tq_editor_shots PLUGIN.so OUTPUT_DIR [--audio FILE]
//
// Needs an X display (make shots runs it under xvfb-run). Exits non-zero with
// a message when the plug-in cannot be loaded, has no editor, draws nothing or
// a picture cannot be written.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MiniHost.h"

namespace {

using tq::editorhost::AudioSource;
using tq::editorhost::FileSignal;
using tq::editorhost::HostError;
using tq::editorhost::MiniHost;
using tq::editorhost::MusicSignal;
using tq::editorhost::Rect;
using std::chrono::milliseconds;

// Time for the editor's thread to draw after a change (it redraws every
// 20-50 ms, so this leaves room for a slow, shared machine).
constexpr milliseconds kSettle{700};

struct Options {
    std::string plugin;
    std::string outputDir;
    std::string audioFile;
};

std::unique_ptr<AudioSource> makeAudio(const Options& options, double sampleRate) {
    if (!options.audioFile.empty()) return std::make_unique<FileSignal>(options.audioFile);
    return std::make_unique<MusicSignal>(sampleRate);
}

// The parameter with this name; the index the editor was laid out with when
// the plug-in names it differently (said, so that a rename is noticed).
int parameterIndex(const MiniHost& host, const std::string& name, int expected) {
    const int found = host.findParameter(name);
    if (found >= 0) return found;
    std::fprintf(stderr, "shots: no parameter named %s; using index %d (%s)\n", name.c_str(),
                 expected, host.parameterName(expected).c_str());
    return expected;
}

// A plug-in without an editor fails every picture the same way: said once.
class NoEditor : public HostError {
  public:
    using HostError::HostError;
};

void openEditorOrThrow(MiniHost& host) {
    if (!host.hasEditorFlag()) {
        throw NoEditor("'" + host.path() + "' does not declare an editor (effFlagsHasEditor)");
    }
    if (!host.openEditor()) {
        throw NoEditor("'" + host.path() + "' answered 0 to effEditOpen: it has no editor");
    }
    if (!host.sizeWindowAsked()) {
        std::fprintf(stderr, "shots: the editor did not ask for audioMasterSizeWindow\n");
    }
    host.pump(kSettle);
    if (host.editorWindow() == 0) {
        throw HostError("effEditOpen answered 1 but no editor window appeared under the parent");
    }
}

// A picture of one flat colour means the editor drew nothing there.
void checkDrawn(int colours, const std::string& path) {
    if (colours < 2) throw HostError(path + " is a single flat colour: the editor drew nothing");
}

struct Shot {
    const char* file;
    const char* what;
    std::function<void(MiniHost&, const Options&, const std::string&)> take;
};

void shotDefault(MiniHost& host, const Options&, const std::string& path) {
    openEditorOrThrow(host);
    checkDrawn(host.grabEditor(path), path);
}

void shotK14Music(MiniHost& host, const Options& options, const std::string& path) {
    host.setParameter(parameterIndex(host, "MeterType", 18), 0.75f);
    host.setParameter(parameterIndex(host, "Scale", 9), 0.5f);
    host.startAudio(makeAudio(options, 44100.0));
    openEditorOrThrow(host);
    host.pump(milliseconds(2000));
    checkDrawn(host.grabEditor(path), path);
    if (host.outputPeak() <= 0.0f) {
        throw HostError(path + ": the plug-in gave only silence for the music");
    }
}

void shotAbout(MiniHost& host, const Options&, const std::string& path) {
    openEditorOrThrow(host);
    host.click(262, 385);
    host.pump(kSettle);
    checkDrawn(host.grabEditor(path), path);
}

void shotCalibrate(MiniHost& host, const Options& options, const std::string& path) {
    // Processing runs so that the meters show the calibration level.
    host.startAudio(makeAudio(options, 44100.0));
    openEditorOrThrow(host);
    // Set while the editor is open: the change has to reach the open window.
    host.setParameter(parameterIndex(host, "Calibrate", 12), 0.375f);
    host.pump(milliseconds(1200));
    checkDrawn(host.grabEditor(path), path);
}

void shotProgramMenu(MiniHost& host, const Options&, const std::string& path) {
    openEditorOrThrow(host);
    host.click(326, 454);
    host.pump(kSettle);
    const std::vector<Rect> popups = host.popupWindows();
    Rect editor = host.windowOnRoot(host.editorWindow());
    int left = editor.x;
    int top = editor.y;
    int right = editor.x + editor.width;
    int bottom = editor.y + editor.height;
    for (const Rect& popup : popups) {
        left = std::min(left, popup.x);
        top = std::min(top, popup.y);
        right = std::max(right, popup.x + popup.width);
        bottom = std::max(bottom, popup.y + popup.height);
    }
    const Rect screen = host.screenRect();
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, screen.width);
    bottom = std::min(bottom, screen.height);
    checkDrawn(host.grabRootArea(Rect{left, top, right - left, bottom - top}, path), path);
    if (popups.empty()) {
        throw HostError(path + " was written, but no popup window appeared after the click");
    }
}

int run(const Options& options) {
    const std::vector<Shot> shots = {
        {"editor-default.png", "default state", shotDefault},
        {"editor-k14-music.png", "K-14 meters with music playing", shotK14Music},
        {"editor-about.png", "About box", shotAbout},
        {"editor-calibrate.png", "calibration on", shotCalibrate},
        {"editor-program-menu.png", "program menu open", shotProgramMenu},
    };
    int failures = 0;
    for (const Shot& shot : shots) {
        const std::string path = options.outputDir + "/" + shot.file;
        // Nothing stale may pass for a fresh picture.
        std::remove(path.c_str());
        try {
            MiniHost host(options.plugin);
            shot.take(host, options, path);
            std::printf("shots: %-26s %s\n", shot.file, shot.what);
        } catch (const NoEditor& error) {
            std::fprintf(stderr, "shots: no pictures: %s\n", error.what());
            return 1;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "shots: %s FAILED: %s\n", shot.file, error.what());
            ++failures;
        }
        std::fflush(stdout);
    }
    if (failures > 0) {
        std::fprintf(stderr, "shots: %d of %zu pictures failed\n", failures, shots.size());
        return 1;
    }
    std::printf("shots: %zu pictures in %s\n", shots.size(), options.outputDir.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--audio" && i + 1 < argc) {
            options.audioFile = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::printf("usage: %s PLUGIN.so OUTPUT_DIR [--audio FILE]\n", argv[0]);
            return 0;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        std::fprintf(stderr, "usage: %s PLUGIN.so OUTPUT_DIR [--audio FILE]\n", argv[0]);
        return 2;
    }
    options.plugin = positional[0];
    options.outputDir = positional[1];
    if (::access(options.outputDir.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "shots: cannot write into %s: %s\n", options.outputDir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "shots: no X display; run under xvfb-run -a (make shots does)\n");
        return 1;
    }
    try {
        // A bad sound file is said once, before any picture is attempted.
        if (!options.audioFile.empty()) FileSignal check(options.audioFile);
        const tq::editorhost::DisplayKeeper keeper;
        return run(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "shots: %s\n", error.what());
        return 1;
    }
}
