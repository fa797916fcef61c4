#include "OutputFormats.h"

#include <sndfile.h>

#include <array>
#include <cctype>

namespace tq {
namespace {

struct FormatEntry {
    FileFormat format;
    const char* name;
    const char* extension;  // the one given to derived names
    int container;
    int encoding;  // for lossy formats; 0 for sample-word formats
};

constexpr std::array<FormatEntry, 6> kFormats = {{
    {FileFormat::wav, "wav", ".wav", SF_FORMAT_WAV, 0},
    {FileFormat::flac, "flac", ".flac", SF_FORMAT_FLAC, 0},
    {FileFormat::ogg, "ogg", ".ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {FileFormat::opus, "opus", ".opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
    {FileFormat::aiff, "aiff", ".aiff", SF_FORMAT_AIFF, 0},
    {FileFormat::mp3, "mp3", ".mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
}};

struct ExtensionEntry {
    const char* extension;
    FileFormat format;
};

constexpr std::array<ExtensionEntry, 9> kExtensions = {{
    {"wav", FileFormat::wav},
    {"flac", FileFormat::flac},
    {"ogg", FileFormat::ogg},
    {"oga", FileFormat::ogg},
    {"opus", FileFormat::opus},
    {"aif", FileFormat::aiff},
    {"aiff", FileFormat::aiff},
    {"aifc", FileFormat::aiff},
    {"mp3", FileFormat::mp3},
}};

const FormatEntry& entryOf(FileFormat format) {
    for (const auto& entry : kFormats) {
        if (entry.format == format) return entry;
    }
    return kFormats[0];
}

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int bytesPerSample(SampleFormat sampleFormat) {
    return sampleFormat == SampleFormat::float32 ? 4 : integerBits(sampleFormat) / 8;
}

}  // namespace

const char* formatName(FileFormat format) { return entryOf(format).name; }

std::optional<FileFormat> formatFromName(const std::string& name) {
    for (const auto& entry : kFormats) {
        if (name == entry.name) return entry.format;
    }
    return std::nullopt;
}

std::string extensionOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    const bool has =
        dot != std::string::npos && (slash == std::string::npos ? dot > 0 : dot > slash + 1);
    return has ? path.substr(dot + 1) : std::string();
}

std::optional<FileFormat> formatFromExtension(const std::string& path) {
    const std::string extension = lowerCase(extensionOf(path));
    for (const auto& entry : kExtensions) {
        if (extension == entry.extension) return entry.format;
    }
    return std::nullopt;
}

const char* defaultExtension(FileFormat format) { return entryOf(format).extension; }

const char* formatNames() { return "wav, flac, ogg, opus, aiff, mp3"; }

bool isLossy(FileFormat format) { return entryOf(format).encoding != 0; }

SampleFormat defaultSampleFormat(FileFormat format) {
    return format == FileFormat::flac || format == FileFormat::aiff ? SampleFormat::pcm24
                                                                    : SampleFormat::float32;
}

const char* sampleFormatName(SampleFormat format) {
    switch (format) {
        case SampleFormat::pcm16:
            return "pcm16";
        case SampleFormat::pcm24:
            return "pcm24";
        case SampleFormat::float32:
            break;
    }
    return "float";
}

std::optional<SampleFormat> sampleFormatFromName(const std::string& name) {
    for (const SampleFormat format :
         {SampleFormat::float32, SampleFormat::pcm16, SampleFormat::pcm24}) {
        if (name == sampleFormatName(format)) return format;
    }
    return std::nullopt;
}

int integerBits(SampleFormat format) {
    switch (format) {
        case SampleFormat::pcm16:
            return 16;
        case SampleFormat::pcm24:
            return 24;
        case SampleFormat::float32:
            break;
    }
    return 0;
}

int sndfileFormat(FileFormat format, SampleFormat sampleFormat, int channels,
                  std::int64_t expectedFrames) {
    const FormatEntry& entry = entryOf(format);
    if (entry.encoding != 0) return entry.container | entry.encoding;
    int container = entry.container;
    // Plain WAV stops at 4 GB; an album-length render at a high rate goes to
    // RF64, the WAV variant with 64-bit sizes. Ordinary files stay ordinary WAV.
    constexpr std::int64_t kWavLimit = 0xFFFFFFFFll - (1 << 20);
    if (format == FileFormat::wav &&
        expectedFrames * channels * bytesPerSample(sampleFormat) > kWavLimit) {
        container = SF_FORMAT_RF64;
    }
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

}  // namespace tq
