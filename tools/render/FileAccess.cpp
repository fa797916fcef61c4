#include "FileAccess.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "ToolError.h"

namespace tq {
namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinks = 40;

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string systemReason(int error) { return std::strerror(error); }

std::string typeRefusal(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory, not a regular file";
    if (S_ISFIFO(mode))
        return "is a named pipe, not a regular file (give it as - on standard input)";
    if (S_ISCHR(mode)) return "is a character device, not a regular file";
    if (S_ISBLK(mode)) return "is a block device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isStandardOutputFile(const std::string& path) {
    struct stat named {};
    struct stat output {};
    return ::stat(path.c_str(), &named) == 0 && ::fstat(STDOUT_FILENO, &output) == 0 &&
           sameFile(named, output);
}

// Waits until a descriptor that was left non-blocking by whoever opened it can take more.
bool waitUntilWritable(int fd) {
    pollfd request{fd, POLLOUT, 0};
    while (::poll(&request, 1, -1) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

Descriptor duplicate(int fd, const std::string& what) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) throw ToolError("cannot use " + what + ": " + systemReason(errno));
    return Descriptor(copy);
}

// Opens `fd` again as a file description of its own (its own offset), so every reader
// of standard input starts at the beginning, however many times it is read.
Descriptor reopened(int fd) {
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    Descriptor copy(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!copy.valid()) {
        copy = duplicate(fd, "standard input");
        ::lseek(copy.get(), 0, SEEK_SET);
    }
    return copy;
}

Descriptor readableStandardInput(const std::string& what) {
    // Standard input can be read once; a copy of it serves every later reader (the
    // passes of a render, the files of a batch).
    static std::mutex spooling;
    static int spool = -1;
    const std::lock_guard<std::mutex> lock(spooling);
    if (spool >= 0) return reopened(spool);
    struct stat info {};
    if (::fstat(STDIN_FILENO, &info) != 0) {
        throw ToolError("cannot read " + what + " from standard input: " + systemReason(errno));
    }
    if (::isatty(STDIN_FILENO) != 0) {
        throw ToolError("cannot read " + what + " from standard input: it is a terminal");
    }
    if (S_ISDIR(info.st_mode)) {
        throw ToolError("cannot read " + what + " from standard input: it is a directory");
    }
    if (S_ISREG(info.st_mode)) return reopened(STDIN_FILENO);
    // A pipe cannot seek; the sound-file reader and the length check both need to.
    Descriptor copy = createUnnamedFile("standard input");
    if (const int error = copyAll(STDIN_FILENO, copy.get()); error != 0) {
        throw ToolError("cannot read " + what + " from standard input: " + systemReason(error));
    }
    spool = copy.release();
    return reopened(spool);
}

}  // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int Descriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Descriptor::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Descriptor openReadableFile(const std::string& path, const std::string& what) {
    if (path == "-") return readableStandardInput(what);
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer, possibly forever.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        throw ToolError("cannot read " + what + " " + quoted(path) + ": " + systemReason(errno));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        throw ToolError("cannot read " + what + " " + quoted(path) + ": " + systemReason(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw ToolError("cannot read " + what + " " + quoted(path) + ": it " +
                        typeRefusal(info.st_mode));
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::size_t readPrefix(int fd, void* buffer, std::size_t limit, const std::string& path) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < limit) {
        const ssize_t got = ::read(fd, bytes + done, limit - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw ToolError("cannot read " + quoted(path) + ": " + systemReason(errno));
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

OutputTarget resolveOutput(const std::string& path) {
    OutputTarget target;
    if (path == "-") {
        target.kind = OutputTarget::Kind::stream;
        target.path = path;
        target.isStandardOutput = true;
        return target;
    }
    if (path.empty()) throw ToolError("the output name is empty");
    std::string current = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT) {
                throw ToolError("cannot write " + quoted(path) + ": " + systemReason(errno));
            }
            target.path = current;  // a new file, possibly the target of a dangling link
            return target;
        }
        if (S_ISLNK(info.st_mode)) {
            std::vector<char> link(4096);
            const ssize_t length = ::readlink(current.c_str(), link.data(), link.size() - 1);
            if (length < 0) {
                throw ToolError("cannot write " + quoted(path) + ": " + systemReason(errno));
            }
            const std::string next(link.data(), static_cast<std::size_t>(length));
            // /dev/stdout and /dev/fd/N lead into /proc, where a "link" stands for an
            // open file rather than a name that could be replaced.
            if (next.rfind("/proc/", 0) == 0) break;
            current = next.front() == '/' ? next : directoryOf(current) + "/" + next;
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            throw ToolError("cannot write " + quoted(path) + ": it is a directory");
        }
        if (S_ISREG(info.st_mode) && current.rfind("/proc/", 0) != 0) {
            target.path = current;
            target.exists = true;
            target.mode = info.st_mode & 07777;
            return target;
        }
        break;  // a FIFO, device or socket: written as a stream
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw ToolError("cannot write " + quoted(path) + ": " + systemReason(errno));
    }
    if (S_ISDIR(info.st_mode))
        throw ToolError("cannot write " + quoted(path) + ": it is a directory");
    target.kind = OutputTarget::Kind::stream;
    target.path = path;
    target.isStandardOutput = isStandardOutputFile(path);
    return target;
}

Descriptor openOutputStream(const std::string& path) {
    if (path == "-" || isStandardOutputFile(path)) {
        // Standard output as the shell opened it: its offset and append mode hold.
        return duplicate(STDOUT_FILENO, "standard output");
    }
    struct stat info {};
    const bool regular = ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    Descriptor fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (regular ? O_TRUNC : 0)));
    if (!fd.valid()) throw ToolError("cannot write " + quoted(path) + ": " + systemReason(errno));
    return fd;
}

Descriptor createUnnamedFile(const std::string& purpose) {
    const char* variable = std::getenv("TMPDIR");
    const std::string directory = variable != nullptr && variable[0] == '/' ? variable : "/tmp";
    Descriptor fd(::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!fd.valid() && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without O_TMPFILE: a named file, removed at once.
        std::string pattern = directory + "/tarvel-render-XXXXXX";
        fd = Descriptor(::mkostemp(pattern.data(), O_CLOEXEC));
        if (fd.valid()) ::unlink(pattern.c_str());
    }
    if (!fd.valid()) {
        throw ToolError("cannot make a temporary file in " + quoted(directory) + " for " + purpose +
                        ": " + systemReason(errno));
    }
    return fd;
}

int copyAll(int source, int destination) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd request{source, POLLIN, 0};
                ::poll(&request, 1, -1);
                continue;
            }
            return errno;
        }
        if (got == 0) return 0;
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(got)) {
            const ssize_t put =
                ::write(destination, buffer.data() + done, static_cast<std::size_t>(got) - done);
            if (put < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN && waitUntilWritable(destination)) continue;
                return errno;
            }
            done += static_cast<std::size_t>(put);
        }
    }
}

std::string printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            shown += "\\\\";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace tq
