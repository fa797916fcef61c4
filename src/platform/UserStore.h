// The per-user store: the place of the effect's registry key on Linux.
//
// Layout (users and other tools rely on it):
//   root  $XDG_CONFIG_HOME/Tarvel/Tarvelquolt/, or $HOME/.config/Tarvel/Tarvelquolt/ when
//         XDG_CONFIG_HOME is unset, empty or relative
//   sub-key            a sub-directory of the root (PREFS/)
//   value              one file named exactly as the value
//   binary value       its raw bytes
//   string value       its text without terminator
//   32-bit int value   4 bytes little-endian
//
// Writes are atomic: the value is written to a temporary file in the key's directory,
// flushed and renamed over the old value, so a crash or a second instance writing at
// the same moment never leaves a torn record. Reads never read past the caller's limit.
// A value file that is missing, shorter than the record, a directory or unreadable reads
// as a missing value. All operations are [ui-thread]; they take no lock and several
// processes may use the same store at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tq {

class UserStore {
  public:
    // The store's root directory with a trailing '/', from the environment as it is now;
    // empty when neither XDG_CONFIG_HOME nor a home directory can be found.
    static std::string rootDirectory();

    // A key: the root itself (empty `subKey`) or one sub-key of it, such as "PREFS".
    explicit UserStore(std::string_view subKey = {});

    // The key's directory with a trailing '/'; empty when the store has no root.
    const std::string& directory() const { return directory_; }

    // Creates the key's directory (and its parents) unless it exists. False when it
    // cannot be created or is not a directory.
    bool createKey() const;

    // Fills `size` bytes of `buffer`: the first `size` bytes of the value. True when the
    // value holds at least `size` bytes (the rest is ignored); otherwise the buffer is
    // all zeros and the answer false.
    bool readRecord(std::string_view name, void* buffer, std::size_t size) const;

    // The text of a string value of at most `maxBytes` bytes including its terminator;
    // the text ends at its first zero byte. Nothing when the value is missing, unreadable
    // or longer than the limit.
    std::optional<std::string> readString(std::string_view name, std::size_t maxBytes) const;

    // A 4-byte little-endian value; nothing unless the value is exactly 4 bytes long.
    std::optional<std::int32_t> readInt32(std::string_view name) const;

    // Write a value, creating the key when needed. False when the value could not be
    // written; the old value, if any, is then left as it was.
    bool writeRecord(std::string_view name, const void* data, std::size_t size) const;
    bool writeString(std::string_view name, std::string_view text) const;
    bool writeInt32(std::string_view name, std::int32_t value) const;

    // Deletes a value. Deleting a missing value succeeds.
    bool deleteValue(std::string_view name) const;

  private:
    // The value's file path, or empty when the name cannot be a file name.
    std::string valuePath(std::string_view name) const;

    std::string directory_;
};

}  // namespace tq
