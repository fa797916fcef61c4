#include "MiniHost.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <cairo.h>
#include <dirent.h>
#include <dlfcn.h>
#include <sndfile.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numbers>
#include <set>
#include <sstream>

namespace tq::editorhost {
namespace {

constexpr vst::intptr kHostVersion = 2400;
constexpr std::size_t kTextBufferSize = 512;
// About 22 editor idles a second, as a host's GUI timer would send them.
constexpr std::chrono::milliseconds kIdlePeriod{45};

// The effect calls back from inside its entry function, before its record
// (and so effect->user) reaches us.
MiniHost* loadingHost = nullptr;

vst::intptr hostCallback(vst::AEffect* effect, vst::int32 opcode, vst::int32 index,
                         vst::intptr value, void* ptr, float opt) {
    MiniHost* host = effect != nullptr && effect->user != nullptr
                         ? static_cast<MiniHost*>(effect->user)
                         : loadingHost;
    if (host == nullptr) return opcode == vst::audioMasterVersion ? kHostVersion : 0;
    return host->callback(opcode, index, value, ptr, opt);
}

// X errors (a popup that vanished between listing and reading, say) must not
// end the program the way Xlib's default handler does; the calls that can
// fail check their results instead.
int lastXError = 0;
int recordXError(Display*, XErrorEvent* event) {
    lastXError = event->error_code;
    return 0;
}

Display* asDisplay(void* display) { return static_cast<Display*>(display); }

int maskShift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// One channel of an X pixel scaled to 8 bits, whatever the visual's mask width.
unsigned channel8(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    const int shift = maskShift(mask);
    const unsigned long maximum = mask >> shift;
    const unsigned long value = (pixel & mask) >> shift;
    return static_cast<unsigned>((value * 255 + maximum / 2) / maximum);
}

std::string readFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

}  // namespace

// ---------------------------------------------------------------- audio

void LoopedAudio::fill(float* left, float* right, int frames) {
    const std::size_t total = samples_.size() / 2;
    for (int i = 0; i < frames; ++i) {
        if (total == 0) {
            left[i] = right[i] = 0.0f;
            continue;
        }
        left[i] = samples_[2 * position_];
        right[i] = samples_[2 * position_ + 1];
        if (++position_ == total) position_ = 0;
    }
}

MusicSignal::MusicSignal(double sampleRate) {
    // Whole-hertz tones repeat every second, and the envelopes every 8 s, so
    // the loop joins without a step in the tones.
    constexpr double kSeconds = 8.0;
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const auto frames = static_cast<std::size_t>(sampleRate * kSeconds);
    samples_.resize(2 * frames);
    struct Partial {
        double hertz;
        double level;
        double pan;  // 0 left .. 1 right
        double swellHertz;
    };
    // A bass, an A minor chord with a few harmonics, and a high shimmer.
    const Partial partials[] = {
        {55.0, 0.50, 0.5, 0.25},  {110.0, 0.35, 0.45, 0.25}, {220.0, 0.22, 0.3, 0.5},
        {262.0, 0.18, 0.7, 0.375}, {330.0, 0.18, 0.4, 0.625}, {440.0, 0.12, 0.6, 0.5},
        {659.0, 0.08, 0.25, 0.75}, {880.0, 0.06, 0.8, 0.875}, {1319.0, 0.04, 0.5, 1.0},
        {3520.0, 0.015, 0.35, 0.125},
    };
    std::uint32_t noiseState = 0x2545F491u;
    double lowNoise = 0.0;
    double peak = 0.0;
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / sampleRate;
        // Phrase envelope: a slow swell between about 0.35 and 1 over 8 s.
        const double phrase = 0.675 - 0.325 * std::cos(kTwoPi * t / kSeconds);
        double left = 0.0;
        double right = 0.0;
        for (const Partial& p : partials) {
            const double swell = 0.6 + 0.4 * std::sin(kTwoPi * p.swellHertz * t);
            const double s = p.level * swell * std::sin(kTwoPi * p.hertz * t);
            left += s * (1.0 - p.pan);
            right += s * p.pan;
        }
        // Noise bursts on the beat (120 bpm) over a quiet floor, a little
        // low-passed so that they sound like a snare rather than hiss.
        noiseState ^= noiseState << 13;
        noiseState ^= noiseState >> 17;
        noiseState ^= noiseState << 5;
        const double white = static_cast<double>(noiseState) / 2147483648.0 - 1.0;
        lowNoise += 0.3 * (white - lowNoise);
        const double beatPhase = std::fmod(t * 2.0, 1.0);
        const double burst = 0.02 + 0.5 * std::exp(-beatPhase * 18.0);
        const double noise = burst * lowNoise;
        left = phrase * (left + noise);
        right = phrase * (right + 0.9 * noise);
        samples_[2 * n] = static_cast<float>(left);
        samples_[2 * n + 1] = static_cast<float>(right);
        peak = std::max({peak, std::fabs(left), std::fabs(right)});
    }
    const double target = std::pow(10.0, -3.0 / 20.0);
    const auto gain = static_cast<float>(peak > 0.0 ? target / peak : 0.0);
    for (float& s : samples_) s *= gain;
}

FileSignal::FileSignal(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw HostError("cannot read '" + path + "': " + sf_strerror(nullptr));
    }
    if (info.channels < 1 || info.channels > 2 || info.frames <= 0) {
        sf_close(file);
        throw HostError("'" + path + "' must be mono or stereo and not empty");
    }
    std::vector<float> read(static_cast<std::size_t>(info.frames) *
                            static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_float(file, read.data(), info.frames);
    sf_close(file);
    if (got <= 0) throw HostError("'" + path + "' has no readable audio");
    samples_.resize(2 * static_cast<std::size_t>(got));
    for (sf_count_t i = 0; i < got; ++i) {
        const auto n = static_cast<std::size_t>(i);
        samples_[2 * n] = read[n * static_cast<std::size_t>(info.channels)];
        samples_[2 * n + 1] = read[n * static_cast<std::size_t>(info.channels) +
                                   static_cast<std::size_t>(info.channels - 1)];
    }
}

// ---------------------------------------------------------------- host

DisplayKeeper::DisplayKeeper() {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        const char* name = std::getenv("DISPLAY");
        throw HostError(std::string("cannot open the X display '") + (name ? name : "") +
                        "' (run under xvfb-run)");
    }
}

DisplayKeeper::~DisplayKeeper() { XCloseDisplay(asDisplay(display_)); }

namespace {

// The plug-ins this host loads keep per-user settings (stored defaults, file
// locations). A tool run must neither read the user's (the pictures and the
// timings would depend on them) nor write them: every run gets a private
// configuration folder, removed when the process ends.
void usePrivateConfiguration() {
    static std::once_flag once;
    std::call_once(once, [] {
        static char folder[] = "/tmp/tq-editor-host-XXXXXX";
        if (::mkdtemp(folder) == nullptr) return;
        ::setenv("XDG_CONFIG_HOME", folder, 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
    });
}

}  // namespace

MiniHost::MiniHost(const std::string& pluginPath, double sampleRate, int blockSize)
    : path_(pluginPath), sampleRate_(sampleRate), blockSize_(blockSize) {
    usePrivateConfiguration();
    guiThread_ = std::this_thread::get_id();
    XSetErrorHandler(recordXError);
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        const char* name = std::getenv("DISPLAY");
        throw HostError(std::string("cannot open the X display '") + (name ? name : "") +
                        "' (run under xvfb-run)");
    }
    // A path without a slash would make dlopen search the library path.
    const std::string openName =
        pluginPath.find('/') == std::string::npos ? "./" + pluginPath : pluginPath;
    dlerror();
    // RTLD_NODELETE: the plug-in's libraries (cairo, pixman, fontconfig) keep
    // process-wide state that must outlive one instance; a tool that opens the
    // same plug-in several times should not map and unmap it each time.
    library_ = dlopen(openName.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library_ == nullptr) {
        const char* reason = dlerror();
        XCloseDisplay(asDisplay(display_));
        throw HostError("cannot load '" + pluginPath + "': " + (reason ? reason : "dlopen failed"));
    }
    using EntryProc = vst::AEffect* (*)(vst::HostCallback);
    void* symbol = dlsym(library_, "VSTPluginMain");
    if (symbol == nullptr) symbol = dlsym(library_, "main");
    if (symbol == nullptr) {
        XCloseDisplay(asDisplay(display_));
        throw HostError("'" + pluginPath + "' exports neither VSTPluginMain nor main");
    }
    loadingHost = this;
    effect_ = reinterpret_cast<EntryProc>(symbol)(&hostCallback);
    loadingHost = nullptr;
    if (effect_ == nullptr || effect_->magic != vst::kEffectMagic ||
        effect_->dispatcher == nullptr || effect_->processReplacing == nullptr ||
        effect_->setParameter == nullptr || effect_->getParameter == nullptr) {
        effect_ = nullptr;
        XCloseDisplay(asDisplay(display_));
        throw HostError("'" + pluginPath + "' gave no usable VST2 effect record");
    }
    effect_->user = this;
    dispatch(vst::effOpen);
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate_));
    dispatch(vst::effSetBlockSize, 0, blockSize_);
    dispatch(vst::effMainsChanged, 0, 1);
    nextIdle_ = std::chrono::steady_clock::now();
}

MiniHost::~MiniHost() {
    stopAudio();
    closeEditor();
    if (effect_ != nullptr) {
        dispatch(vst::effMainsChanged, 0, 0);
        dispatch(vst::effClose);
        effect_ = nullptr;
    }
    if (library_ != nullptr) dlclose(library_);
    if (display_ != nullptr) XCloseDisplay(asDisplay(display_));
}

vst::intptr MiniHost::dispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                               float opt) const {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

vst::intptr MiniHost::callback(vst::int32 opcode, vst::int32 index, vst::intptr value,
                               void* ptr, float /*opt*/) {
    switch (opcode) {
        case vst::audioMasterVersion:
            return kHostVersion;
        case vst::audioMasterCanDo:
            return ptr != nullptr && std::strcmp(static_cast<const char*>(ptr), "sizeWindow") == 0
                       ? 1
                       : 0;
        case vst::audioMasterSizeWindow:
            // index carries the width, value the height.
            if (index <= 0 || value <= 0 || index > 8192 || value > 8192) return 0;
            askedWidth_.store(index);
            askedHeight_.store(static_cast<int>(value));
            sizeAsked_.store(true);
            sizePosted_.store(true);
            // Only the GUI thread may use our connection; from any other thread
            // the size waits for its next idle tick.
            if (std::this_thread::get_id() == guiThread_) applyPostedSize();
            return 1;
        default:
            return 0;
    }
}

std::string MiniHost::effectName() const {
    char text[kTextBufferSize] = {};
    dispatch(vst::effGetEffectName, 0, 0, text);
    if (text[0] == '\0') dispatch(vst::effGetProductString, 0, 0, text);
    return text;
}

bool MiniHost::hasEditorFlag() const { return (effect_->flags & vst::effFlagsHasEditor) != 0; }

std::string MiniHost::parameterName(int index) const {
    char text[kTextBufferSize] = {};
    dispatch(vst::effGetParamName, index, 0, text);
    return text;
}

std::string MiniHost::parameterDisplay(int index) const {
    char text[kTextBufferSize] = {};
    dispatch(vst::effGetParamDisplay, index, 0, text);
    return text;
}

int MiniHost::findParameter(const std::string& name) const {
    for (int i = 0; i < effect_->numParams; ++i) {
        if (parameterName(i) == name) return i;
    }
    return -1;
}

void MiniHost::setParameter(int index, float value) {
    effect_->setParameter(effect_, index, value);
}

float MiniHost::getParameter(int index) const { return effect_->getParameter(effect_, index); }

// ---------------------------------------------------------------- editor

bool MiniHost::openEditor() {
    if (editorOpen_) return true;
    Display* display = asDisplay(display_);
    const int screen = DefaultScreen(display);
    // A mapped 1 x 1 top-level window, as hosts make before they know the size.
    parent_ = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 1, 1, 0,
                                  BlackPixel(display, screen), BlackPixel(display, screen));
    XStoreName(display, parent_, "editor-host");
    XSelectInput(display, parent_, StructureNotifyMask);
    XMapWindow(display, parent_);
    XSync(display, False);

    vst::ERect* rect = nullptr;
    if (dispatch(vst::effEditGetRect, 0, 0, &rect) != 0 && rect != nullptr) {
        rectBeforeOpen_ = Rect{rect->left, rect->top, rect->right - rect->left,
                               rect->bottom - rect->top};
    }
    const auto window = static_cast<std::uintptr_t>(parent_);
    editorOpen_ = dispatch(vst::effEditOpen, 0, 0, reinterpret_cast<void*>(window)) != 0;
    if (!editorOpen_) {
        XDestroyWindow(display, parent_);
        XSync(display, False);
        parent_ = 0;
        return false;
    }
    applyPostedSize();
    return true;
}

void MiniHost::closeEditor() {
    if (!editorOpen_) return;
    dispatch(vst::effEditClose);
    editorOpen_ = false;
    Display* display = asDisplay(display_);
    XDestroyWindow(display, parent_);
    XSync(display, False);
    parent_ = 0;
    drainEvents();
}

void MiniHost::applyPostedSize() {
    if (!sizePosted_.exchange(false) || parent_ == 0) return;
    Display* display = asDisplay(display_);
    XResizeWindow(display, parent_, static_cast<unsigned>(askedWidth_.load()),
                  static_cast<unsigned>(askedHeight_.load()));
    XSync(display, False);
}

void MiniHost::drainEvents() {
    Display* display = asDisplay(display_);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

void MiniHost::pump(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextIdle_) {
            if (editorOpen_) dispatch(vst::effEditIdle);
            applyPostedSize();
            drainEvents();
            nextIdle_ += kIdlePeriod;
            // After a long stall, restart the ticks instead of catching up.
            if (nextIdle_ < now) nextIdle_ = now + kIdlePeriod;
        }
        if (now >= end) break;
        std::this_thread::sleep_until(std::min(nextIdle_, end));
    }
}

// ---------------------------------------------------------------- audio thread

void MiniHost::startAudio(std::unique_ptr<AudioSource> source) {
    stopAudio();
    source_ = std::move(source);
    audioQuit_.store(false);
    outputPeak_.store(0.0f);
    audioThread_ = std::thread([this] { audioLoop(); });
    // The thread id is wanted by callers that measure; wait until it is known.
    while (audioTid_.load() == 0) std::this_thread::yield();
}

void MiniHost::stopAudio() {
    if (!audioThread_.joinable()) return;
    audioQuit_.store(true);
    audioThread_.join();
    audioTid_.store(0);
}

void MiniHost::audioLoop() {
    audioTid_.store(static_cast<int>(::syscall(SYS_gettid)));
    const int channels = std::max({2, effect_->numInputs, effect_->numOutputs});
    const auto frames = static_cast<std::size_t>(blockSize_);
    std::vector<std::vector<float>> in(static_cast<std::size_t>(channels),
                                       std::vector<float>(frames, 0.0f));
    std::vector<std::vector<float>> out = in;
    std::vector<float*> inputs;
    std::vector<float*> outputs;
    for (auto& channel : in) inputs.push_back(channel.data());
    for (auto& channel : out) outputs.push_back(channel.data());
    const auto blockTime = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(blockSize_) / sampleRate_));
    auto next = std::chrono::steady_clock::now();
    float peak = 0.0f;
    while (!audioQuit_.load()) {
        source_->fill(inputs[0], inputs[1], blockSize_);
        effect_->processReplacing(effect_, inputs.data(), outputs.data(), blockSize_);
        for (int c = 0; c < std::min(2, effect_->numOutputs); ++c) {
            for (std::size_t i = 0; i < frames; ++i) {
                peak = std::max(peak, std::fabs(outputs[static_cast<std::size_t>(c)][i]));
            }
        }
        outputPeak_.store(peak);
        // Real time: the meters should move as they would in a host.
        next += blockTime;
        std::this_thread::sleep_until(next);
    }
}

// ---------------------------------------------------------------- input and windows

void MiniHost::click(int x, int y, int button) {
    Display* display = asDisplay(display_);
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        throw HostError("the X server has no XTEST extension: cannot click");
    }
    unsigned long target = editorWindow();
    if (target == 0) target = parent_;
    if (target == 0) throw HostError("cannot click: no editor window");
    const Rect where = windowOnRoot(target);
    XTestFakeMotionEvent(display, DefaultScreen(display), where.x + x, where.y + y, CurrentTime);
    XSync(display, False);
    pump(std::chrono::milliseconds(60));
    XTestFakeButtonEvent(display, static_cast<unsigned>(button), True, CurrentTime);
    XSync(display, False);
    pump(std::chrono::milliseconds(80));
    XTestFakeButtonEvent(display, static_cast<unsigned>(button), False, CurrentTime);
    XSync(display, False);
}

unsigned long MiniHost::editorWindow() const {
    if (parent_ == 0) return 0;
    Display* display = asDisplay(display_);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent_, &root, &parent, &children, &count)) return 0;
    const unsigned long first = count > 0 ? children[0] : 0;
    if (children != nullptr) XFree(children);
    return first;
}

Rect MiniHost::windowOnRoot(unsigned long window) const {
    Display* display = asDisplay(display_);
    XWindowAttributes attributes{};
    lastXError = 0;
    if (!XGetWindowAttributes(display, window, &attributes) || lastXError != 0) return Rect{};
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child);
    return Rect{x, y, attributes.width, attributes.height};
}

Rect MiniHost::screenRect() const {
    Display* display = asDisplay(display_);
    const int screen = DefaultScreen(display);
    return Rect{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
}

std::vector<Rect> MiniHost::popupWindows() const {
    Display* display = asDisplay(display_);
    std::vector<Rect> popups;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        return popups;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (children[i] == parent_) continue;
        XWindowAttributes attributes{};
        lastXError = 0;
        if (!XGetWindowAttributes(display, children[i], &attributes) || lastXError != 0) continue;
        if (attributes.map_state == IsViewable && attributes.override_redirect) {
            popups.push_back(Rect{attributes.x, attributes.y, attributes.width, attributes.height});
        }
    }
    if (children != nullptr) XFree(children);
    return popups;
}

int MiniHost::grabEditor(const std::string& pngPath) const {
    unsigned long window = editorWindow();
    if (window == 0) window = parent_;
    if (window == 0) throw HostError("cannot take " + pngPath + ": the editor is not open");
    const Rect onRoot = windowOnRoot(window);
    if (onRoot.width <= 1 || onRoot.height <= 1) {
        throw HostError("cannot take " + pngPath + ": the editor window is " +
                        std::to_string(onRoot.width) + " x " + std::to_string(onRoot.height));
    }
    return grabWindowArea(window, Rect{0, 0, onRoot.width, onRoot.height}, pngPath);
}

int MiniHost::grabRootArea(const Rect& area, const std::string& pngPath) const {
    return grabWindowArea(DefaultRootWindow(asDisplay(display_)), area, pngPath);
}

int MiniHost::grabWindowArea(unsigned long window, const Rect& area,
                             const std::string& pngPath) const {
    Display* display = asDisplay(display_);
    // Whatever the editor's thread sent must have reached the server's screen.
    XSync(display, False);
    lastXError = 0;
    XImage* image = XGetImage(display, window, area.x, area.y, static_cast<unsigned>(area.width),
                              static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (image == nullptr || lastXError != 0) {
        if (image != nullptr) XDestroyImage(image);
        throw HostError("cannot take " + pngPath + ": XGetImage failed (X error " +
                        std::to_string(lastXError) + ")");
    }
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, area.width, area.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        XDestroyImage(image);
        cairo_surface_destroy(surface);
        throw HostError("cannot take " + pngPath + ": no memory for the picture");
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    std::set<std::uint32_t> colours;
    for (int y = 0; y < area.height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < area.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const std::uint32_t rgb = (channel8(pixel, image->red_mask) << 16) |
                                      (channel8(pixel, image->green_mask) << 8) |
                                      channel8(pixel, image->blue_mask);
            row[x] = rgb;
            // Enough to tell "drew something" from "one flat colour" cheaply.
            if (colours.size() < 4096) colours.insert(rgb);
        }
    }
    XDestroyImage(image);
    cairo_surface_mark_dirty(surface);
    const cairo_status_t status = cairo_surface_write_to_png(surface, pngPath.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        throw HostError("cannot write " + pngPath + ": " + cairo_status_to_string(status));
    }
    return static_cast<int>(colours.size());
}

// ---------------------------------------------------------------- /proc

std::vector<int> threadIds() {
    std::vector<int> ids;
    DIR* directory = opendir("/proc/self/task");
    if (directory == nullptr) return ids;
    while (dirent* entry = readdir(directory)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') ids.push_back(std::atoi(entry->d_name));
    }
    closedir(directory);
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::int64_t threadRunNanoseconds(int pid, int tid) {
    // schedstat's first field is the time on a CPU in nanoseconds; stat's
    // utime and stime only count 10 ms ticks, too coarse for a few seconds.
    const std::string line = readFirstLine("/proc/" + std::to_string(pid) + "/task/" +
                                           std::to_string(tid) + "/schedstat");
    if (line.empty()) return -1;
    return std::strtoll(line.c_str(), nullptr, 10);
}

std::int64_t processRunNanoseconds(int pid) {
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR* directory = opendir(taskDir.c_str());
    if (directory == nullptr) return -1;
    std::int64_t total = 0;
    while (dirent* entry = readdir(directory)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const std::int64_t run = threadRunNanoseconds(pid, std::atoi(entry->d_name));
        if (run > 0) total += run;
    }
    closedir(directory);
    return total;
}

std::string threadName(int pid, int tid) {
    return readFirstLine("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) +
                         "/comm");
}

std::string processorName() {
    std::ifstream file("/proc/cpuinfo");
    std::string line;
    std::string model;
    std::string family;
    std::string number;
    auto valueOf = [](const std::string& text) {
        const auto colon = text.find(':');
        return colon == std::string::npos ? std::string() : text.substr(colon + 2);
    };
    while (std::getline(file, line)) {
        if (model.empty() && line.rfind("model name", 0) == 0) model = valueOf(line);
        if (family.empty() && line.rfind("cpu family", 0) == 0) family = valueOf(line);
        if (number.empty() && line.rfind("model\t", 0) == 0) number = valueOf(line);
        if (line.empty() && !model.empty()) break;
    }
    if (model.empty()) model = "unknown processor";
    std::ostringstream text;
    text << model;
    if (!family.empty()) text << " (family " << family << ", model " << number << ")";
    text << ", " << std::thread::hardware_concurrency() << " logical CPUs";
    return text.str();
}

}  // namespace tq::editorhost
