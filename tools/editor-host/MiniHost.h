// A small VST2 host for tools that need a plug-in's editor on screen: the
// picture-taking program and the editor benchmark. It loads an effect with
// dlopen, gives its editor a mapped top-level X window as parent (1 x 1 until
// the plug-in asks for audioMasterSizeWindow, as hosts do), feeds audio through
// processReplacing from a thread of its own in real time, sends effEditIdle at
// about 22 Hz, clicks with XTest and writes window pixels to PNG files.
//
// Threads: everything but the audio runs on the thread that made the MiniHost
// (the "host GUI thread"); its X connection is used there only. The plug-in
// may call audioMasterSizeWindow from any thread: the size is posted and
// applied by the GUI thread at once or at its next idle tick.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/VstAbi.h"

namespace tq::editorhost {

class HostError : public std::runtime_error {
  public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Stereo audio that loops forever; filled from the audio thread, so it must
// not allocate or block.
class AudioSource {
  public:
    virtual ~AudioSource() = default;
    virtual void fill(float* left, float* right, int frames) = 0;
};

// Interleaved stereo held in memory and played in a loop.
class LoopedAudio : public AudioSource {
  public:
    void fill(float* left, float* right, int frames) override;

  protected:
    std::vector<float> samples_;  // interleaved left, right
    std::size_t position_ = 0;    // in frames
};

// Eight seconds of a music-like signal: a bass line and chord partials with
// slowly moving levels, a beat of noise bursts and a noise floor, scaled so
// that its highest peak is -3 dBFS. Loops without a click in the tones.
class MusicSignal : public LoopedAudio {
  public:
    explicit MusicSignal(double sampleRate);
};

// A WAV or FLAC file (libsndfile) read whole into memory; mono is doubled.
// Throws HostError naming the file when it cannot be read.
class FileSignal : public LoopedAudio {
  public:
    explicit FileSignal(const std::string& path);
};

// Holds one X connection for as long as it lives. An X server without -noreset
// (xvfb-run starts Xvfb so) resets when its last client leaves, and a
// connection attempted during the reset fails; a program that makes one
// MiniHost after another keeps a DisplayKeeper so that never happens.
class DisplayKeeper {
  public:
    // Throws HostError when $DISPLAY cannot be opened.
    DisplayKeeper();
    ~DisplayKeeper();
    DisplayKeeper(const DisplayKeeper&) = delete;
    DisplayKeeper& operator=(const DisplayKeeper&) = delete;

  private:
    void* display_ = nullptr;
};

class MiniHost {
  public:
    // Loads the effect, opens it, sets rate and block size and switches it on.
    // Needs an X display ($DISPLAY). Throws HostError with the reason.
    explicit MiniHost(const std::string& pluginPath, double sampleRate = 44100.0,
                      int blockSize = 512);
    ~MiniHost();
    MiniHost(const MiniHost&) = delete;
    MiniHost& operator=(const MiniHost&) = delete;

    const std::string& path() const { return path_; }
    std::string effectName() const;
    bool hasEditorFlag() const;
    int numParams() const { return effect_->numParams; }
    std::string parameterName(int index) const;
    std::string parameterDisplay(int index) const;
    // -1 when no parameter has that name.
    int findParameter(const std::string& name) const;
    void setParameter(int index, float value);
    float getParameter(int index) const;

    // Creates the 1 x 1 parent, asks effEditGetRect, sends effEditOpen with the
    // parent's id. Answers what effEditOpen answered (non-zero: open).
    bool openEditor();
    void closeEditor();
    bool editorOpen() const { return editorOpen_; }
    // Whether the plug-in asked for audioMasterSizeWindow, and with what size.
    bool sizeWindowAsked() const { return sizeAsked_.load(); }
    int askedWidth() const { return askedWidth_.load(); }
    int askedHeight() const { return askedHeight_.load(); }
    // The rectangle effEditGetRect gave before the editor opened (0 x 0 if none).
    Rect editorRect() const { return rectBeforeOpen_; }

    // Plays `source` through processReplacing in real time (block by block,
    // paced by the clock) until stopAudio. The host keeps the source.
    void startAudio(std::unique_ptr<AudioSource> source);
    void stopAudio();
    bool audioRunning() const { return audioThread_.joinable(); }
    // Linux thread id of the audio thread (0 when not running).
    int audioThreadId() const { return audioTid_.load(); }
    // Highest output sample magnitude seen since startAudio.
    float outputPeak() const { return outputPeak_.load(); }

    // Runs the host GUI loop for `duration`: effEditIdle at about 22 Hz,
    // posted window sizes, and this connection's events.
    void pump(std::chrono::milliseconds duration);

    // Left click at editor coordinates (origin: the editor's top-left corner)
    // through XTest: move, press, a short pause, release.
    void click(int x, int y, int button = 1);

    // The parent window and the editor's own window (its first child, 0 if
    // there is none yet), and where they are on the root window.
    unsigned long parentWindow() const { return parent_; }
    unsigned long editorWindow() const;
    Rect windowOnRoot(unsigned long window) const;
    Rect screenRect() const;
    // Mapped override-redirect top-level windows other than the parent: the
    // editor's popups (menus, tool tips).
    std::vector<Rect> popupWindows() const;

    // Pixels of the editor window (the parent's area when the editor has no
    // window of its own) or of a root-window area, written as a PNG. Throws
    // HostError when the pixels cannot be read or the file cannot be written.
    // Answers the number of distinct colours in the picture, so that callers
    // can tell a picture of nothing (one colour) from a drawn editor.
    int grabEditor(const std::string& pngPath) const;
    int grabRootArea(const Rect& area, const std::string& pngPath) const;

    // Called by the effect through the host callback.
    vst::intptr callback(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                         float opt);

  private:
    vst::intptr dispatch(vst::int32 opcode, vst::int32 index = 0, vst::intptr value = 0,
                         void* ptr = nullptr, float opt = 0.0f) const;
    void applyPostedSize();
    void drainEvents();
    void audioLoop();
    int grabWindowArea(unsigned long window, const Rect& area, const std::string& pngPath) const;

    std::string path_;
    void* library_ = nullptr;
    vst::AEffect* effect_ = nullptr;
    double sampleRate_;
    int blockSize_;

    void* display_ = nullptr;  // Display*, used on the GUI thread only
    unsigned long parent_ = 0;
    std::thread::id guiThread_;
    bool editorOpen_ = false;
    Rect rectBeforeOpen_;
    std::atomic<bool> sizeAsked_{false};
    std::atomic<int> askedWidth_{0};
    std::atomic<int> askedHeight_{0};
    std::atomic<bool> sizePosted_{false};
    std::chrono::steady_clock::time_point nextIdle_;

    std::unique_ptr<AudioSource> source_;
    std::thread audioThread_;
    std::atomic<bool> audioQuit_{false};
    std::atomic<int> audioTid_{0};
    std::atomic<float> outputPeak_{0.0f};
};

// Linux thread ids of this process (from /proc/self/task).
std::vector<int> threadIds();
// Nanoseconds a thread (or a whole process, summed over its threads) has run,
// from schedstat; -1 when unreadable.
std::int64_t threadRunNanoseconds(int pid, int tid);
std::int64_t processRunNanoseconds(int pid);
std::string threadName(int pid, int tid);
// The processor as /proc/cpuinfo names it, with family and model numbers.
std::string processorName();

}  // namespace tq::editorhost
