// Small file helpers shared by the per-user store and the preset files: bounded reads
// that never block on special files, and atomic replacement of a file's contents.
// [any thread]; they change no process-wide state (no current directory, no umask).
#pragma once

#include <cstddef>
#include <string>

namespace tq {

struct FileReadResult {
    bool opened = false;    // a regular file was opened for reading
    std::size_t bytes = 0;  // bytes read, at most the limit
    int error = 0;          // errno of the failure when !opened or the read failed
};

// Reads at most `limit` bytes from the start of the file at `path` into `buffer`.
// Only regular files are read (a directory, FIFO or device is refused without blocking);
// the file is opened read-only.
FileReadResult readFilePrefix(const std::string& path, void* buffer, std::size_t limit);

// Replaces the contents of the file at `path` with `size` bytes: writes a temporary
// file in the same directory, flushes it to disk and renames it over the target, so
// the target holds either its old or its new contents, never a mixture, and a failed
// write leaves it untouched. A symbolic link at `path` is followed and its target
// replaced. Only a regular file is ever replaced: a directory answers EISDIR, and a
// FIFO, device or socket (directly or as a link's target) or a dangling link is
// refused untouched (EINVAL, or the errno of resolving the link). The new file keeps
// the mode of the file it replaces; a new file gets 0666 minus the process's umask.
// Answers 0 or the errno of the step that failed.
int writeFileAtomically(const std::string& path, const void* data, std::size_t size);

// Creates `directory` and its missing parents (mode 0777 minus umask). True when it
// exists as a directory afterwards.
bool makeDirectories(const std::string& directory);

// The system's text for an errno value.
std::string errorText(int error);

}  // namespace tq
