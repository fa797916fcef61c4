#include "platform/UserStore.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/FileIo.h"

namespace tq {

namespace {

constexpr const char* kStorePath = "Tarvel/Tarvelquolt/";

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

std::string withSlash(std::string directory) {
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

// A value or sub-key name must stay one file name inside its key.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

}  // namespace

std::string UserStore::rootDirectory() {
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules (it would follow the host's
    // current directory), so it counts as unset.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return withSlash(config) + kStorePath;
    const std::string home = homeDirectory();
    if (home.empty()) return {};
    return withSlash(home) + ".config/" + kStorePath;
}

UserStore::UserStore(std::string_view subKey) : directory_(rootDirectory()) {
    if (directory_.empty() || subKey.empty()) return;
    if (!isPlainName(subKey)) {
        directory_.clear();
        return;
    }
    directory_ += std::string(subKey) + "/";
}

std::string UserStore::valuePath(std::string_view name) const {
    if (directory_.empty() || !isPlainName(name)) return {};
    return directory_ + std::string(name);
}

bool UserStore::createKey() const {
    if (directory_.empty()) return false;
    return makeDirectories(directory_.substr(0, directory_.size() - 1));
}

bool UserStore::readRecord(std::string_view name, void* buffer, std::size_t size) const {
    std::memset(buffer, 0, size);
    const std::string path = valuePath(name);
    if (path.empty()) return false;
    const FileReadResult read = readFilePrefix(path, buffer, size);
    if (read.opened && read.error == 0 && read.bytes == size) return true;
    std::memset(buffer, 0, size);
    return false;
}

std::optional<std::string> UserStore::readString(std::string_view name,
                                                 std::size_t maxBytes) const {
    const std::string path = valuePath(name);
    if (path.empty() || maxBytes == 0) return std::nullopt;
    // The text may use maxBytes - 1 bytes; one byte more tells an over-long value apart.
    std::vector<char> buffer(maxBytes, '\0');
    const FileReadResult read = readFilePrefix(path, buffer.data(), maxBytes);
    if (!read.opened || read.error != 0 || read.bytes >= maxBytes) return std::nullopt;
    return std::string(buffer.data(), ::strnlen(buffer.data(), read.bytes));
}

std::optional<std::int32_t> UserStore::readInt32(std::string_view name) const {
    const std::string path = valuePath(name);
    if (path.empty()) return std::nullopt;
    std::array<unsigned char, 5> bytes{};
    const FileReadResult read = readFilePrefix(path, bytes.data(), bytes.size());
    if (!read.opened || read.error != 0 || read.bytes != 4) return std::nullopt;
    const std::uint32_t value = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
                                (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
    return static_cast<std::int32_t>(value);
}

bool UserStore::writeRecord(std::string_view name, const void* data, std::size_t size) const {
    const std::string path = valuePath(name);
    if (path.empty() || !createKey()) return false;
    return writeFileAtomically(path, data, size) == 0;
}

bool UserStore::writeString(std::string_view name, std::string_view text) const {
    return writeRecord(name, text.data(), text.size());
}

bool UserStore::writeInt32(std::string_view name, std::int32_t value) const {
    const auto bits = static_cast<std::uint32_t>(value);
    const std::array<unsigned char, 4> bytes = {
        static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
        static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
    return writeRecord(name, bytes.data(), bytes.size());
}

bool UserStore::deleteValue(std::string_view name) const {
    const std::string path = valuePath(name);
    if (path.empty()) return false;
    return ::unlink(path.c_str()) == 0 || errno == ENOENT || errno == ENOTDIR;
}

}  // namespace tq
