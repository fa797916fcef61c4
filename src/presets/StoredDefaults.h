// The records the preset system keeps in the per-user store: the default bank and
// default preset loaded by every new instance, the quick memories A and B, and the
// directory and file names last used by the file dialogs.
//
// Values (in the store's root key): "DefaultBank" (bank record, 3077 bytes),
// "DefaultPreset", "MemoA", "MemoB" (preset records, 133 bytes), and the strings
// "CurrDir" (at most 1023 bytes), "CurrBank" and "CurrPreset" (at most 511 bytes each).
//
// Store failures are silent, as a missing value is: a record that is missing, short or
// unreadable reads as the zero record, which the record loaders refuse, so nothing
// changes. The store operations answer whether the value was written, for a caller
// that wants to tell the user.
//
// One object per effect instance, [ui-thread]. It reads the locations in
// loadStoredDefaults() and writes them back when it is destroyed, so the last
// instance to close decides the locations the next one starts with.
#pragma once

#include <cstddef>
#include <string_view>

#include "presets/PresetFile.h"
#include "presets/ProgramHost.h"

namespace tq {

inline constexpr std::size_t kDirectoryBytes = 1024;  // including the terminator
inline constexpr std::size_t kFileNameBytes = 512;

inline constexpr const char* kDefaultBankValue = "DefaultBank";
inline constexpr const char* kDefaultPresetValue = "DefaultPreset";
inline constexpr const char* kMemoryAValue = "MemoA";
inline constexpr const char* kMemoryBValue = "MemoB";
inline constexpr const char* kDirectoryValue = "CurrDir";
inline constexpr const char* kBankFileValue = "CurrBank";
inline constexpr const char* kPresetFileValue = "CurrPreset";

class StoredDefaults {
  public:
    enum class Memory { a, b };

    // The locations start as the process's current directory and empty file names.
    explicit StoredDefaults(ProgramHost& host);
    // Saves the file locations.
    ~StoredDefaults();
    StoredDefaults(const StoredDefaults&) = delete;
    StoredDefaults& operator=(const StoredDefaults&) = delete;

    // In this order: the default bank (without one, only the bank loader's selection of
    // slot 0 happens), the default preset into the current slot, then the locations
    // (a missing location value keeps its initial contents).
    void loadStoredDefaults();

    bool storeDefaultPreset();
    bool clearDefaultPreset();
    bool storeDefaultBank();
    bool clearDefaultBank();
    bool storeMemory(Memory memory);
    // Loads the memory as a preset record into the current slot; false (nothing
    // changed) when none is stored.
    bool recallMemory(Memory memory);

    void saveFileLocations() const;
    FileLocations& locations() { return locations_; }
    const FileLocations& locations() const { return locations_; }

    // The preset panel's file operations, remembering the locations here.
    FileResult loadPresetFile(std::string_view path, bool reversed);
    FileResult savePresetFile(std::string_view path);
    FileResult loadBankFile(std::string_view path, bool reversed);
    FileResult saveBankFile(std::string_view path);

  private:
    ProgramHost& host_;
    FileLocations locations_;
};

}  // namespace tq
