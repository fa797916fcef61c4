#include "SoundFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "ToolError.h"

namespace tq {
namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// The temporary file being written, for the signal handler to remove. Only one
// output is open at a time.
char pendingTempPath[4096] = {};
bool handlersInstalled = false;

extern "C" void removePendingOutput(int signalNumber) {
    if (pendingTempPath[0] != '\0') ::unlink(pendingTempPath);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// Holds off the interrupting signals while the temporary file comes into being and its
// name is recorded: a signal in between would otherwise end the process with the file
// left behind. A signal that arrives meanwhile is delivered when the guard ends, and then
// finds the name.
class InterruptionGuard {
  public:
    InterruptionGuard() {
        if (!handlersInstalled) {
            std::signal(SIGINT, removePendingOutput);
            std::signal(SIGTERM, removePendingOutput);
            std::signal(SIGHUP, removePendingOutput);
            handlersInstalled = true;
        }
        sigset_t interrupting;
        sigemptyset(&interrupting);
        sigaddset(&interrupting, SIGINT);
        sigaddset(&interrupting, SIGTERM);
        sigaddset(&interrupting, SIGHUP);
        sigprocmask(SIG_BLOCK, &interrupting, &previous_);
    }
    ~InterruptionGuard() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;

  private:
    sigset_t previous_;
};

void rememberPendingOutput(const std::string& tempPath) {
    const std::size_t length = std::min(tempPath.size(), sizeof pendingTempPath - 1);
    std::memcpy(pendingTempPath, tempPath.data(), length);
    pendingTempPath[length] = '\0';
}

void forgetPendingOutput() { pendingTempPath[0] = '\0'; }

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int bytesPerSample(SampleFormat sampleFormat) {
    switch (sampleFormat) {
        case SampleFormat::pcm16:
            return 2;
        case SampleFormat::pcm24:
            return 3;
        case SampleFormat::float32:
            break;
    }
    return 4;
}

int sndfileFormat(FileFormat format, SampleFormat sampleFormat, int channels,
                  std::int64_t expectedFrames) {
    // Plain WAV stops at 4 GB; an album-length render at a high rate goes to
    // RF64, the WAV variant with 64-bit sizes. Ordinary files stay ordinary WAV.
    constexpr std::int64_t kWavLimit = 0xFFFFFFFFll - (1 << 20);
    const bool large = expectedFrames * channels * bytesPerSample(sampleFormat) > kWavLimit;
    int container = large ? SF_FORMAT_RF64 : SF_FORMAT_WAV;
    if (format == FileFormat::flac) container = SF_FORMAT_FLAC;
    switch (sampleFormat) {
        case SampleFormat::pcm16:
            return container | SF_FORMAT_PCM_16;
        case SampleFormat::pcm24:
            return container | SF_FORMAT_PCM_24;
        case SampleFormat::float32:
            break;
    }
    return container | SF_FORMAT_FLOAT;
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
    // Ask the system first: its reason (missing, permission) is clearer than
    // what the sound-file library says about the same failure.
    const int probe = ::open(path.c_str(), O_RDONLY);
    if (probe < 0)
        throw ToolError("cannot read input " + quoted(path) + ": " + std::strerror(errno));
    struct stat status {};
    const bool regular = ::fstat(probe, &status) == 0 && S_ISREG(status.st_mode);
    ::close(probe);
    if (!regular) throw ToolError("cannot read input " + quoted(path) + ": not a regular file");

    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (file_ == nullptr) {
        throw ToolError("cannot read input " + quoted(path) + ": " + sf_strerror(nullptr));
    }
    std::string fault;
    if (info_.channels < 1 || info_.channels > 2) {
        fault = std::to_string(info_.channels) + " channels (mono or stereo only)";
    } else if (info_.samplerate < kMinSampleRate || info_.samplerate > kMaxSampleRate) {
        fault = "sample rate " + std::to_string(info_.samplerate) + " Hz (5000 to 200000 Hz only)";
    } else if (info_.frames <= 0) {
        fault = "it holds no audio frames";
    }
    if (!fault.empty()) {
        sf_close(file_);
        file_ = nullptr;
        throw ToolError("unsupported input " + quoted(path) + ": " + fault);
    }
}

InputFile::~InputFile() {
    if (file_ != nullptr) sf_close(file_);
}

void InputFile::read(double* interleaved, std::int64_t frames) {
    const sf_count_t got = sf_readf_double(file_, interleaved, frames);
    if (got != frames) {
        const char* reason =
            sf_error(file_) != SF_ERR_NO_ERROR ? sf_strerror(file_) : "file is truncated";
        throw ToolError("cannot read input " + quoted(path_) + ": " + reason + " after " +
                        std::to_string(framesRead_ + got) + " of " + std::to_string(info_.frames) +
                        " frames");
    }
    framesRead_ += got;
}

AtomicOutputFile::AtomicOutputFile(const std::string& path, FileFormat format,
                                   SampleFormat sampleFormat, int sampleRate, int channels,
                                   std::int64_t expectedFrames)
    : path_(path) {
    if (format == FileFormat::flac && sampleFormat == SampleFormat::float32) {
        throw ToolError("cannot write " + quoted(path) +
                        ": FLAC stores integer samples only (use --subtype pcm16 or pcm24)");
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        throw ToolError("cannot write " + quoted(path) + ": it is a directory");
    }
    tempPath_ = directoryOf(path) + "/." + fileNameOf(path) + ".partial-XXXXXX";
    int error = 0;
    {
        const InterruptionGuard guard;
        descriptor_ = ::mkstemp(tempPath_.data());
        error = errno;
        if (descriptor_ >= 0) rememberPendingOutput(tempPath_);
    }
    if (descriptor_ < 0) {
        tempPath_.clear();
        throw ToolError("cannot write " + quoted(path) + ": " + std::strerror(error));
    }
    // mkstemp makes the file private; give it the permissions a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor_, 0666 & ~mask);

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = sndfileFormat(format, sampleFormat, channels, expectedFrames);
    if (!sf_format_check(&info)) {
        discard();
        throw ToolError("cannot write " + quoted(path) + ": the format cannot hold " +
                        std::to_string(channels) + " channels at " + std::to_string(sampleRate) +
                        " Hz in this sample format");
    }
    file_ = sf_open_fd(descriptor_, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
        const std::string reason = sf_strerror(nullptr);
        discard();
        throw ToolError("cannot write " + quoted(path) + ": " + reason);
    }
    // Integer formats saturate at full scale instead of wrapping around.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The PEAK chunk carries a time stamp; without it the same render gives the
    // same bytes on every run.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
}

AtomicOutputFile::~AtomicOutputFile() {
    if (!committed_) discard();
}

void AtomicOutputFile::write(const double* interleaved, std::int64_t frames) {
    if (sf_writef_double(file_, interleaved, frames) != frames) {
        throw ToolError("cannot write " + quoted(path_) + ": " + sf_strerror(file_));
    }
}

void AtomicOutputFile::commit() {
    const int closeError = sf_close(file_);
    file_ = nullptr;
    if (closeError != 0) {
        throw ToolError("cannot write " + quoted(path_) + ": " + sf_error_number(closeError));
    }
    if (::fsync(descriptor_) != 0 || ::close(descriptor_) != 0) {
        descriptor_ = -1;
        throw ToolError("cannot write " + quoted(path_) + ": " + std::strerror(errno));
    }
    descriptor_ = -1;
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        throw ToolError("cannot write " + quoted(path_) + ": " + std::strerror(errno));
    }
    forgetPendingOutput();
    committed_ = true;
}

void AtomicOutputFile::discard() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    forgetPendingOutput();
}

bool parseSampleFormat(const std::string& text, SampleFormat& format) {
    if (text == "float") {
        format = SampleFormat::float32;
    } else if (text == "pcm16") {
        format = SampleFormat::pcm16;
    } else if (text == "pcm24") {
        format = SampleFormat::pcm24;
    } else {
        return false;
    }
    return true;
}

bool parseFileFormat(const std::string& text, FileFormat& format) {
    if (text == "wav") {
        format = FileFormat::wav;
    } else if (text == "flac") {
        format = FileFormat::flac;
    } else {
        return false;
    }
    return true;
}

}  // namespace tq
