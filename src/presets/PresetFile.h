// Preset and bank records and the files that hold them.
//
// Preset record, 133 bytes: magic 'TRql' as a little-endian 32-bit integer ("lqRT"),
// kind byte '!', 24 name bytes, 26 little-endian 32-bit floats.
// Bank record, 3077 bytes: magic, kind byte '7', 24 slots of 24 name bytes and 26 floats.
// A record whose magic reads "TRql" was written with the other byte order: its values
// are byte-reversed on loading. The user can ask for one more reversal of every value;
// the two reversals cancel. Names are never converted. Loaded values that are not
// finite numbers become the slot's factory values; the others are limited to 0..1.
//
// Loading a record goes through the ProgramHost (select slot, set current name), so the
// values reach the engine exactly as a menu selection would apply them. A refused record
// (wrong magic or kind byte) changes nothing in the table; a bank load re-applies slot 0
// before it looks at the record.
//
// Files are opened by their full path (the process's current directory belongs to the
// host and is never changed), read-only for loading. Saving replaces the file
// atomically: a save that fails leaves an existing file as it was, tells the user in
// the "Error..." message box and answers the failure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "presets/ProgramHost.h"

namespace tq {

inline constexpr std::size_t kPresetRecordBytes = 133;
inline constexpr std::size_t kBankRecordBytes = 3077;
inline constexpr std::uint8_t kPresetKind = '!';
inline constexpr std::uint8_t kBankKind = '7';
// The effect's unique ID 'TRql'.
inline constexpr std::uint32_t kRecordMagic = 0x5452716Cu;

inline constexpr const char* kPresetExtension = "tarvel";
inline constexpr const char* kBankExtension = "tvb";
inline constexpr const char* kPresetFileTypeName = "Tarvel Preset";
inline constexpr const char* kBankFileTypeName = "Tarvel Bank";

enum class RecordKind { preset, bank };

// The file dialog's title: "Load preset", "Save preset", "Load bank" or "Save bank";
// a reversed load adds " (endian-reversed)".
std::string fileDialogTitle(RecordKind kind, bool load, bool reversed);

using PresetRecord = std::array<std::uint8_t, kPresetRecordBytes>;
using BankRecord = std::array<std::uint8_t, kBankRecordBytes>;

// [ui-thread] Records of the current slot and of the whole table, values as stored.
PresetRecord buildPresetRecord(const ProgramHost& host);
BankRecord buildBankRecord(const ProgramTable& table);
// The same from the host's table, copied under its program lock.
BankRecord buildBankRecord(const ProgramHost& host);

// [ui-thread] Loads a preset record into the current slot: name, values, set current
// name, select the slot. False (nothing changed) for a wrong magic or kind byte.
bool loadPresetRecord(ProgramHost& host, const PresetRecord& record, bool reversed);

// [ui-thread] Selects slot 0, then loads a bank record into all 24 slots and selects
// slot 0 again. False for a wrong magic or kind byte; the table is then unchanged.
bool loadBankRecord(ProgramHost& host, const BankRecord& record, bool reversed);

// The last used directory (with its trailing '/') and file names of the file dialogs.
struct FileLocations {
    std::string directory;
    std::string presetFile;
    std::string bankFile;
};

// A full path split at its last '/': the directory keeps the '/'. Nothing when the path
// holds no '/' (a cancelled dialog gives an empty path).
struct SplitPath {
    std::string directory;
    std::string fileName;
};
std::optional<SplitPath> splitPath(std::string_view path);

// The path with ".<extension>" appended when its file name has no extension at all.
std::string withDefaultExtension(std::string_view path, std::string_view extension);

enum class FileOutcome {
    cancelled,  // the path holds no directory: nothing read or written
    loaded,     // the record was accepted
    refused,    // the file was missing, unreadable, or not a record of that kind
    saved,
    failed,  // the save failed; the message box has told the user
};

struct FileResult {
    FileOutcome outcome = FileOutcome::cancelled;
    std::string reason;  // why a load was refused or a save failed
};

// [ui-thread] The four file operations of the preset panel, given the dialog's full
// path. They remember the directory and file name in `locations` (when given) as soon as
// the path is known. A load reads at most one record; a shorter file is padded with
// zeros. Saves append the extension when the name has none.
FileResult loadPresetFile(ProgramHost& host, std::string_view path, bool reversed,
                          FileLocations* locations = nullptr);
FileResult savePresetFile(const ProgramHost& host, std::string_view path,
                          FileLocations* locations = nullptr);
FileResult loadBankFile(ProgramHost& host, std::string_view path, bool reversed,
                        FileLocations* locations = nullptr);
FileResult saveBankFile(const ProgramHost& host, std::string_view path,
                        FileLocations* locations = nullptr);

}  // namespace tq
