// The sound-file formats the tool writes: their names, extensions and libsndfile codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tq {

enum class FileFormat { wav, flac, ogg, opus, aiff, mp3 };
enum class SampleFormat { float32, pcm16, pcm24 };

// "wav", "flac", "ogg" (Vorbis), "opus", "aiff", "mp3", as --format takes them.
const char* formatName(FileFormat format);
std::optional<FileFormat> formatFromName(const std::string& name);
// The format an output name's extension stands for, ignoring case (.wav, .flac, .ogg,
// .oga, .opus, .aif, .aiff, .aifc, .mp3); nothing for another or no extension.
std::optional<FileFormat> formatFromExtension(const std::string& path);
// The extension of a name that extension-less rules give it: ".wav", ".ogg", ...
const char* defaultExtension(FileFormat format);
// The name's extension without the dot, as written ("" when it has none).
std::string extensionOf(const std::string& path);
// Every format name, for messages: "wav, flac, ogg, opus, aiff, mp3".
const char* formatNames();

// Vorbis, Opus and MP3 are encoded: they have no integer or float sample word.
bool isLossy(FileFormat format);
// Samples a format stores when --subtype does not say: float for WAV, 24-bit for FLAC
// and AIFF; lossy formats encode from float.
SampleFormat defaultSampleFormat(FileFormat format);

const char* sampleFormatName(SampleFormat format);
std::optional<SampleFormat> sampleFormatFromName(const std::string& name);
// Bits of an integer sample word; 0 for float.
int integerBits(SampleFormat format);

// The libsndfile format code. A WAV whose data would pass 4 GB becomes RF64.
int sndfileFormat(FileFormat format, SampleFormat sampleFormat, int channels,
                  std::int64_t expectedFrames);

}  // namespace tq
