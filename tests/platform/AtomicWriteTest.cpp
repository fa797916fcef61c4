// Atomic replacement makes its temporary file beside the file it replaces: a rename
// works only within one file system, so a temporary anywhere else fails (EXDEV) as soon
// as the target lives on another file system than that place.
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileIo.h"
#include "support/TempConfig.h"

namespace {

using tqtest::readBytes;
using tqtest::TempDirectory;

struct DirectoryEvent {
    std::uint32_t mask;
    std::string name;
};

// Every create and rename event of one directory, as inotify reports them.
class DirectoryWatch {
  public:
    explicit DirectoryWatch(const std::string& directory)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ >= 0) ::inotify_add_watch(fd_, directory.c_str(), IN_CREATE | IN_MOVE);
    }
    ~DirectoryWatch() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    std::vector<DirectoryEvent> events() const {
        std::vector<DirectoryEvent> events;
        alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, sizeof(buffer));
            if (got <= 0) break;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                events.push_back({event->mask, event->len > 0 ? event->name : ""});
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return events;
    }

  private:
    int fd_;
};

std::string makeDirectoryIn(const std::string& parent) {
    std::string pattern = parent + "/tq-atomic-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return ::mkdtemp(buffer.data()) != nullptr ? std::string(buffer.data()) : std::string();
}

bool sameFileSystem(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev;
}

// Only the new value is left in `directory`: no temporary survives the write.
std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST(AtomicWrite, TheTemporaryIsCreatedInTheTargetsDirectoryAndRenamedOverIt) {
    TempDirectory directory;
    DirectoryWatch watch(directory.path());
    ASSERT_TRUE(watch.ok());
    const std::string target = directory / "Value";
    for (const char* contents : {"first", "second"}) {
        ASSERT_EQ(tq::writeFileAtomically(target, contents, std::strlen(contents)), 0);
        const std::vector<DirectoryEvent> events = watch.events();
        std::string temporary;
        for (const DirectoryEvent& event : events) {
            if ((event.mask & IN_CREATE) != 0) temporary = event.name;
        }
        ASSERT_FALSE(temporary.empty()) << "nothing was created beside the target";
        EXPECT_NE(temporary, "Value") << "the target itself must never be written in place";
        bool movedFrom = false, movedTo = false;
        for (const DirectoryEvent& event : events) {
            movedFrom = movedFrom || ((event.mask & IN_MOVED_FROM) != 0 && event.name == temporary);
            movedTo = movedTo || ((event.mask & IN_MOVED_TO) != 0 && event.name == "Value");
        }
        EXPECT_TRUE(movedFrom && movedTo) << "the temporary " << temporary
                                          << " must be renamed over the target";
        const std::vector<std::uint8_t> bytes = readBytes(target);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), contents);
    }
    EXPECT_EQ(namesIn(directory.path()), std::vector<std::string>{"Value"});
}

// The same on a target whose file system is not that of the system's temporary
// directory, directly and through a symbolic link that lives there.
TEST(AtomicWrite, ReplacesAFileOnAnotherFileSystem) {
    const std::string temporaryRoot = std::filesystem::temp_directory_path().string();
    if (!std::filesystem::is_directory("/dev/shm") || sameFileSystem("/dev/shm", temporaryRoot)) {
        GTEST_SKIP() << "no second file system at /dev/shm";
    }
    const std::string elsewhere = makeDirectoryIn("/dev/shm");
    ASSERT_FALSE(elsewhere.empty());
    const std::string target = elsewhere + "/Value";
    EXPECT_EQ(tq::writeFileAtomically(target, "new", 3), 0) << "a new file";
    EXPECT_EQ(tq::writeFileAtomically(target, "replaced", 8), 0) << "replacing it";
    std::vector<std::uint8_t> bytes = readBytes(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "replaced");

    TempDirectory links;
    const std::string link = links / "Linked";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(tq::writeFileAtomically(link, "through the link", 16), 0);
    bytes = readBytes(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "through the link");
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(namesIn(elsewhere), std::vector<std::string>{"Value"});
    EXPECT_EQ(namesIn(links.path()), std::vector<std::string>{"Linked"});
    std::filesystem::remove_all(elsewhere);
}

}  // namespace
