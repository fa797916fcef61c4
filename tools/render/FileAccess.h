// Opening the files a render names, without ever blocking on or replacing something
// that is not a regular file: inputs are opened without waiting for a writer and
// must be regular files (or standard input, named "-"); outputs are resolved to what
// a write should replace, or to a stream that is written into directly.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace tq {

// An open descriptor, closed when the owner goes.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void reset();

  private:
    int fd_ = -1;
};

// Opens `path` for reading: a regular file, or standard input for "-". A directory,
// FIFO, device or socket named by path is refused at once (it is opened without
// blocking and its type checked before anything is read). Standard input that is not
// a regular file is first copied to an unnamed temporary file, so the caller always
// gets a seekable regular file; every call for "-" reads it from the start. `what` names the file in the message ("input",
// "preset"). Throws ToolError naming the file and the reason.
Descriptor openReadableFile(const std::string& path, const std::string& what);

// Reads up to `limit` bytes from the start of `fd`; answers how many it got.
// Throws ToolError naming `path` on a read error.
std::size_t readPrefix(int fd, void* buffer, std::size_t limit, const std::string& path);

// Where an output named `path` goes.
struct OutputTarget {
    enum class Kind {
        replace,  // a regular file (new or existing): write beside it, rename over it
        stream,   // an existing FIFO, device, terminal or standard output: write into it
    };
    Kind kind = Kind::replace;
    std::string path;               // the file to replace: the end of a chain of symbolic links
    bool exists = false;            // replace: a file is there already
    mode_t mode = 0;                // replace: the existing file's permission bits
    bool isStandardOutput = false;  // stream: the same open file as descriptor 1
};

// Resolves `path` ("-" is standard output). A symbolic link is followed to its target,
// which is replaced so the link stays; links into /proc (/dev/stdout, /dev/fd/N) name
// an open file and are written as a stream. Throws ToolError for a directory or a
// path that cannot be resolved.
OutputTarget resolveOutput(const std::string& path);

// Opens the stream of a resolved stream target for writing (blocking: a FIFO waits
// for its reader, as any writer does). Throws ToolError naming `path`.
Descriptor openOutputStream(const std::string& path);

// An unnamed file in $TMPDIR (else /tmp) that disappears with its last descriptor.
// Throws ToolError with `purpose` in the message.
Descriptor createUnnamedFile(const std::string& purpose);

// Copies `source` from its start to `destination`. Answers 0 or the errno of the failure.
int copyAll(int source, int destination);

// Text with control characters shown as escapes (\n, \t, \x1b), for terminal output
// of names taken from files.
std::string printable(const std::string& text);

}  // namespace tq
