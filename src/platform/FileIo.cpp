#include "platform/FileIo.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace tq {

namespace {

// Reading the umask through umask() would change it for a moment for every thread of
// the host, so it is taken from /proc; 022 when that is not available.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        }
    }
    return 022;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size, int& error) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (written == 0) {
            error = EIO;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The path that a write to `path` should replace: the target of a symbolic link, so that
// a linked preset or store value stays a link. Only a regular file (or nothing) may be
// replaced: renaming over a device, FIFO or directory that a value was linked to would
// destroy it. Answers 0 or the errno that refuses the write.
int replacementTarget(const std::string& path, std::string& target, struct stat& existing) {
    target = path;
    if (::lstat(path.c_str(), &existing) != 0) return errno == ENOENT ? 0 : errno;
    if (S_ISLNK(existing.st_mode)) {
        // A dangling link is refused too: the rename would replace the link itself.
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr) return errno;
        target = resolved;
        if (::stat(target.c_str(), &existing) != 0) return errno;
    }
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    return S_ISREG(existing.st_mode) ? 0 : EINVAL;
}

}  // namespace

FileReadResult readFilePrefix(const std::string& path, void* buffer, std::size_t limit) {
    FileReadResult result;
    // O_NONBLOCK keeps open() from waiting for a writer when the path is a FIFO.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        result.error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return result;
    }
    result.opened = true;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (result.bytes < limit) {
        const ssize_t got = ::read(fd, bytes + result.bytes, limit - result.bytes);
        if (got < 0) {
            if (errno == EINTR) continue;
            result.error = errno;
            break;
        }
        if (got == 0) break;
        result.bytes += static_cast<std::size_t>(got);
    }
    ::close(fd);
    return result;
}

int writeFileAtomically(const std::string& path, const void* data, std::size_t size) {
    std::string target;
    struct stat existing {};
    if (const int refusal = replacementTarget(path, target, existing); refusal != 0) {
        return refusal;
    }
    const bool replacing = S_ISREG(existing.st_mode);
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) return EISDIR;

    // A hidden name with a unique suffix: two writers never share a temporary file.
    std::string pattern = directory + "/." + name + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return errno;

    const mode_t mode = replacing ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
    int error = 0;
    bool ok = ::fchmod(fd, mode) == 0 || (error = errno, false);
    ok = ok && writeAll(fd, static_cast<const unsigned char*>(data), size, error);
    ok = ok && (::fsync(fd) == 0 || (error = errno, false));
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    ok = ok && (::rename(temporary.data(), target.c_str()) == 0 || (error = errno, false));
    if (!ok) {
        ::unlink(temporary.data());
        return error != 0 ? error : EIO;
    }
    return 0;
}

bool makeDirectories(const std::string& directory) {
    struct stat info {};
    if (directory.empty()) return false;
    if (::stat(directory.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    std::size_t position = 1;
    while (position <= directory.size()) {
        position = directory.find('/', position);
        if (position == std::string::npos) position = directory.size();
        const std::string part = directory.substr(0, position);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        ++position;
    }
    return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string errorText(int error) {
    char text[256] = {};
    // The GNU strerror_r may answer a static string instead of filling the buffer.
    const char* message = ::strerror_r(error, text, sizeof text);
    return message != nullptr ? std::string(message)
                              : std::string("error ") + std::to_string(error);
}

}  // namespace tq
