// The temporary files a render is writing, removed by a signal handler when a signal
// ends the process, so no hidden `.NAME.partial-*` file outlives an interrupted run.
// Several outputs may be open at once (one per render thread).
#pragma once

#include <string>

namespace tq {

// Installs the handlers once: every signal whose default action ends the process and
// that can be caught gets one that removes the pending files and then lets the
// signal take its course. Signals the process inherited as ignored stay ignored.
// SIGXFSZ is ignored, so an exceeded file-size limit comes back from write() as
// EFBIG and is reported like any other write error.
void installCleanupHandlers();

// One registered temporary name. The name is registered before the file exists (the
// caller creates it with O_EXCL under a name no other process uses), so there is no
// moment at which a signal could find the file but not its name.
class PendingFile {
  public:
    PendingFile() = default;
    ~PendingFile() { release(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Registers `path` in place of any name held before. Throws ToolError when every
    // slot is taken.
    void hold(const std::string& path);
    // The name is no longer the handler's to remove (renamed or removed by the owner).
    void release();

  private:
    int slot_ = -1;
};

// A hidden name beside `finalPath` that no other process uses:
// "dir/.NAME.partial-PID-N" with N counting up within the process.
std::string temporaryNameFor(const std::string& finalPath);

}  // namespace tq
