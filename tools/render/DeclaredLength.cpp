#include "DeclaredLength.h"

#include <unistd.h>

#include <cstring>

namespace tq {
namespace {

// A header walk that finds nothing within this many chunks is not worth continuing.
constexpr int kMaxChunks = 512;
constexpr std::int64_t kGoOn = -2;

bool readAt(int fd, std::int64_t offset, unsigned char* bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

std::uint64_t little(const unsigned char* bytes, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

std::uint64_t big(const unsigned char* bytes, int size) {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) value = (value << 8) | bytes[i];
    return value;
}

bool is(const unsigned char* bytes, const char* code) { return std::memcmp(bytes, code, 4) == 0; }

// Walks the chunks after the 12-byte file header; `visit(header, offset, size)` answers
// the frame count once it knows it, -2 to go on, or -1 to give up.
template <typename Visit>
std::int64_t walkChunks(int fd, bool bigEndian, Visit visit) {
    std::int64_t offset = 12;
    for (int chunk = 0; chunk < kMaxChunks; ++chunk) {
        unsigned char header[8];
        if (!readAt(fd, offset, header, sizeof header)) return -1;
        const std::uint64_t size = bigEndian ? big(header + 4, 4) : little(header + 4, 4);
        const std::int64_t frames = visit(header, offset, size);
        if (frames != kGoOn) return frames;
        offset += 8 + static_cast<std::int64_t>(size + (size & 1));
    }
    return -1;
}

// RIFF and RF64: little-endian chunks. In RF64 the data chunk's size field is a
// placeholder and the real size sits in the ds64 chunk.
std::int64_t riffFrames(int fd, bool rf64) {
    std::uint64_t blockAlign = 0;
    std::uint64_t ds64DataSize = 0;
    return walkChunks(
        fd, false,
        [&](const unsigned char* header, std::int64_t offset, std::uint64_t size) -> std::int64_t {
            if (is(header, "ds64")) {
                unsigned char sizes[16];
                if (!readAt(fd, offset + 8, sizes, sizeof sizes)) return -1;
                ds64DataSize = little(sizes + 8, 8);
            } else if (is(header, "fmt ")) {
                unsigned char format[14];
                if (!readAt(fd, offset + 8, format, sizeof format)) return -1;
                blockAlign = little(format + 12, 2);
            } else if (is(header, "data")) {
                const std::uint64_t dataSize = rf64 ? ds64DataSize : size;
                // Writers that stream leave the size open as all ones.
                if (blockAlign == 0 || (!rf64 && size == 0xFFFFFFFFu)) return -1;
                return static_cast<std::int64_t>(dataSize / blockAlign);
            }
            return kGoOn;
        });
}

// AIFF and AIFC: big-endian chunks; the COMM chunk states the frame count outright.
std::int64_t aiffFrames(int fd) {
    return walkChunks(
        fd, true,
        [&](const unsigned char* header, std::int64_t offset, std::uint64_t) -> std::int64_t {
            if (!is(header, "COMM")) return kGoOn;
            unsigned char common[6];
            if (!readAt(fd, offset + 8, common, sizeof common)) return -1;
            return static_cast<std::int64_t>(big(common + 2, 4));
        });
}

}  // namespace

std::int64_t declaredFrames(int fd) {
    unsigned char header[12];
    if (!readAt(fd, 0, header, sizeof header)) return -1;
    if (is(header, "RIFF") && is(header + 8, "WAVE")) return riffFrames(fd, false);
    if (is(header, "RF64") && is(header + 8, "WAVE")) return riffFrames(fd, true);
    if (is(header, "FORM") && (is(header + 8, "AIFF") || is(header + 8, "AIFC"))) {
        return aiffFrames(fd);
    }
    return -1;
}

}  // namespace tq
