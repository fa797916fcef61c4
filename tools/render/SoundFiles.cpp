#include "SoundFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "DeclaredLength.h"
#include "ToolError.h"

namespace tq {
namespace {

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// Attempts at a fresh temporary name when a stale file of an earlier process with the
// same process number is in the way.
constexpr int kTemporaryAttempts = 100;

}  // namespace

InputFile::InputFile(const std::string& path, bool strictLength)
    : path_(path), strictLength_(strictLength) {
    // Ask the system first: its reason (missing, permission, not a file) is clearer
    // than what the sound-file library says about the same failure.
    Descriptor fd = openReadableFile(path, "input");
    const std::int64_t declared = declaredFrames(fd.get());
    file_ = sf_open_fd(fd.get(), SFM_READ, &info_, SF_TRUE);
    if (file_ == nullptr) {
        throw ToolError("cannot read input " + quoted(path) + ": " + sf_strerror(nullptr));
    }
    fd.release();  // the sound file closes it
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
    if (declared > info_.frames) {
        try {
            noteTruncation(declared, info_.frames);
        } catch (...) {
            sf_close(file_);
            file_ = nullptr;
            throw;
        }
    }
}

InputFile::~InputFile() {
    if (file_ != nullptr) sf_close(file_);
}

void InputFile::noteTruncation(std::int64_t declared, std::int64_t held,
                               const std::string& reason) {
    std::string what = "input " + quoted(path_) + " is truncated: its header promises " +
                       std::to_string(declared) + " frames, the file holds " + std::to_string(held);
    if (!reason.empty()) what += " (" + reason + ")";
    if (strictLength_) throw ToolError(what + " (--strict)");
    truncation_ = {declared, held};
    std::fprintf(stderr, "tarvel-render: warning: %s; rendering those\n", what.c_str());
}

std::int64_t InputFile::read(double* interleaved, std::int64_t frames) {
    const sf_count_t got = std::max<sf_count_t>(sf_readf_double(file_, interleaved, frames), 0);
    const int error = sf_error(file_);
    if (error == SF_ERR_SYSTEM) {
        throw ToolError("cannot read input " + quoted(path_) + ": " + sf_strerror(file_) +
                        " after " + std::to_string(framesRead_ + got) + " of " +
                        std::to_string(info_.frames) + " frames");
    }
    framesRead_ += got;
    if (got < frames && !truncated()) {
        // A decoder that loses its way at a cut-off end reports an error of its own.
        noteTruncation(info_.frames, framesRead_,
                       error != SF_ERR_NO_ERROR ? sf_strerror(file_) : "");
    }
    return got;
}

AtomicOutputFile::AtomicOutputFile(const std::string& path, FileFormat format,
                                   SampleFormat sampleFormat, int sampleRate, int channels,
                                   std::int64_t expectedFrames)
    : path_(path) {
    if (format == FileFormat::flac && sampleFormat == SampleFormat::float32) {
        throw ToolError("cannot write " + quoted(path) +
                        ": FLAC stores integer samples only (use --subtype pcm16 or pcm24)");
    }
    target_ = resolveOutput(path);
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = sndfileFormat(format, sampleFormat, channels, expectedFrames);
    if (!sf_format_check(&info)) {
        throw ToolError("cannot write " + quoted(path) + ": the format cannot hold " +
                        std::to_string(channels) + " channels at " + std::to_string(sampleRate) +
                        " Hz in this sample format");
    }
    if (target_.kind == OutputTarget::Kind::stream) {
        stream_ = openOutputStream(target_.path);
        descriptor_ = createUnnamedFile("the output " + quoted(path)).release();
    } else {
        createTemporary();
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

void AtomicOutputFile::createTemporary() {
    installCleanupHandlers();
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryAttempts && error == EEXIST; ++attempt) {
        tempPath_ = temporaryNameFor(target_.path);
        // Registered before it exists: a signal at any moment finds the name.
        pending_.hold(tempPath_);
        descriptor_ = ::open(tempPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        error = descriptor_ < 0 ? errno : 0;
        if (descriptor_ < 0) pending_.release();
    }
    if (descriptor_ < 0) {
        tempPath_.clear();
        throw ToolError("cannot write " + quoted(path_) + ": " + std::strerror(error));
    }
    if (target_.exists) {
        struct stat old {};
        if (::stat(target_.path.c_str(), &old) == 0) {
            // Only the owner's own ids succeed for an ordinary user; that is enough.
            if (::fchown(descriptor_, old.st_uid, old.st_gid) != 0) {
                (void)::fchown(descriptor_, static_cast<uid_t>(-1), old.st_gid);
            }
        }
        ::fchmod(descriptor_, target_.mode & 0777);
    }
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
    int error = 0;
    if (stream_.valid()) {
        if (::lseek(descriptor_, 0, SEEK_SET) != 0) error = errno;
        if (error == 0) error = copyAll(descriptor_, stream_.get());
        if (error == 0 && ::close(stream_.release()) != 0) error = errno;
        ::close(descriptor_);
        descriptor_ = -1;
    } else {
        if (::fsync(descriptor_) != 0) error = errno;
        if (::close(descriptor_) != 0 && error == 0) error = errno;
        descriptor_ = -1;
        if (error == 0 && ::rename(tempPath_.c_str(), target_.path.c_str()) != 0) error = errno;
    }
    if (error != 0) throw ToolError("cannot write " + quoted(path_) + ": " + std::strerror(error));
    pending_.release();
    committed_ = true;
}

void AtomicOutputFile::discard() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    pending_.release();
}

bool parseSampleFormat(const std::string& text, SampleFormat& format) {
    const auto parsed = sampleFormatFromName(text);
    if (parsed) format = *parsed;
    return parsed.has_value();
}

bool parseFileFormat(const std::string& text, FileFormat& format) {
    const auto parsed = formatFromName(text);
    if (parsed) format = *parsed;
    return parsed.has_value();
}

}  // namespace tq
