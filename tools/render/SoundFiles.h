// Sound files through libsndfile: a checked reader, and an output that is
// written under a temporary name beside its destination and renamed only when
// complete, so a failed or interrupted render never leaves a truncated file.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

#include "FileAccess.h"
#include "OutputFormats.h"
#include "PendingFiles.h"

namespace tq {

constexpr int kMinSampleRate = 5000;
constexpr int kMaxSampleRate = 200000;

// A file that holds fewer frames than its header promises.
struct Truncation {
    std::int64_t declaredFrames = 0;
    std::int64_t heldFrames = 0;
};

class InputFile {
  public:
    // Throws ToolError naming the file: missing, unreadable, not a regular file (or
    // standard input, "-"), not a sound file, more than two channels, or a rate
    // outside 5000..200000 Hz. A truncated file is read as far as it goes unless
    // `strictLength`, which makes truncation an error.
    InputFile(const std::string& path, bool strictLength);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return path_; }
    int sampleRate() const { return info_.samplerate; }
    int channels() const { return info_.channels; }
    // What the file is expected to hold; a truncated file may end sooner.
    std::int64_t frames() const { return info_.frames; }
    // Reads up to `frames` interleaved frames and answers how many it got: fewer only
    // when the file ends early or its decoder stops on a cut-off end, which is then
    // recorded as truncation (or, strict, an error). A system read error is always an
    // error.
    std::int64_t read(double* interleaved, std::int64_t frames);
    bool truncated() const { return truncation_.declaredFrames > 0; }
    const Truncation& truncation() const { return truncation_; }

  private:
    void noteTruncation(std::int64_t declared, std::int64_t held, const std::string& reason = "");

    std::string path_;
    bool strictLength_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    std::int64_t framesRead_ = 0;
    Truncation truncation_;
};

// A regular file (new, or existing and reached directly or through symbolic links) is
// written under a temporary name beside it and renamed over it, keeping its mode and,
// where allowed, its owner; the links stay links. An existing FIFO, device or standard
// output ("-") is never replaced: the sound file is assembled in an unnamed temporary
// file (WAV headers carry sizes known only at the end) and then written into it.
class AtomicOutputFile {
  public:
    // Creates the temporary file at once (and opens a stream), so an unwritable
    // destination fails before any work is done. `expectedFrames` picks WAV or, past
    // 4 GB, RF64. Throws ToolError naming `path`.
    AtomicOutputFile(const std::string& path, FileFormat format, SampleFormat sampleFormat,
                     int sampleRate, int channels, std::int64_t expectedFrames);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    void write(const double* interleaved, std::int64_t frames);
    // Finishes the file, flushes it to disk and renames it to its final name (or
    // copies it into the stream).
    void commit();
    // Whether the sound goes to this process's standard output, which then cannot
    // also carry the report.
    bool writesStandardOutput() const { return target_.isStandardOutput; }

  private:
    void createTemporary();
    void discard();

    std::string path_;
    OutputTarget target_;
    std::string tempPath_;
    PendingFile pending_;
    Descriptor stream_;
    int descriptor_ = -1;
    SNDFILE* file_ = nullptr;
    bool committed_ = false;
};

// "float", "pcm16", "pcm24" and the format names as given on the command line.
bool parseSampleFormat(const std::string& text, SampleFormat& format);
bool parseFileFormat(const std::string& text, FileFormat& format);

}  // namespace tq
