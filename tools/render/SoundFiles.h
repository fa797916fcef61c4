// Sound files through libsndfile: a checked reader, and an output that is
// written under a temporary name beside its destination and renamed only when
// complete, so a failed or interrupted render never leaves a truncated file.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

namespace tq {

constexpr int kMinSampleRate = 5000;
constexpr int kMaxSampleRate = 200000;

class InputFile {
  public:
    // Throws ToolError naming the file: missing, unreadable, not a sound file,
    // more than two channels, or a rate outside 5000..200000 Hz.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return path_; }
    int sampleRate() const { return info_.samplerate; }
    int channels() const { return info_.channels; }
    std::int64_t frames() const { return info_.frames; }
    // Reads exactly `frames` interleaved frames; a file that ends before its
    // header said is an error, not silence.
    void read(double* interleaved, std::int64_t frames);

  private:
    std::string path_;
    SF_INFO info_{};
    SNDFILE* file_ = nullptr;
    std::int64_t framesRead_ = 0;
};

enum class FileFormat { wav, flac };
enum class SampleFormat { float32, pcm16, pcm24 };

class AtomicOutputFile {
  public:
    // Creates the temporary file at once, so an unwritable destination fails
    // before any work is done. `expectedFrames` picks WAV or, past 4 GB, RF64.
    // Throws ToolError naming `path`.
    AtomicOutputFile(const std::string& path, FileFormat format, SampleFormat sampleFormat,
                     int sampleRate, int channels, std::int64_t expectedFrames);
    // Removes the temporary file unless commit() succeeded.
    ~AtomicOutputFile();
    AtomicOutputFile(const AtomicOutputFile&) = delete;
    AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

    void write(const double* interleaved, std::int64_t frames);
    // Finishes the file, flushes it to disk and renames it to its final name.
    void commit();

  private:
    void discard();

    std::string path_;
    std::string tempPath_;
    int descriptor_ = -1;
    SNDFILE* file_ = nullptr;
    bool committed_ = false;
};

// "float", "pcm16", "pcm24" and "wav", "flac" as given on the command line.
bool parseSampleFormat(const std::string& text, SampleFormat& format);
bool parseFileFormat(const std::string& text, FileFormat& format);

}  // namespace tq
