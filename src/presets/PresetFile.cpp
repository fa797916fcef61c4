#include "presets/PresetFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/FileIo.h"
#include "platform/MessageBox.h"

namespace tq {

namespace {

constexpr std::size_t kKindOffset = 4;
constexpr std::size_t kBodyOffset = 5;
constexpr std::size_t kValueBytes = 4;
// One program inside a record: 24 name bytes, then 26 values.
constexpr std::size_t kProgramBytes = kProgramNameBytes + kParameterCount * kValueBytes;
static_assert(kBodyOffset + kProgramBytes == kPresetRecordBytes);
static_assert(kBodyOffset + kProgramCount * kProgramBytes == kBankRecordBytes);

std::uint32_t readLittleEndian(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void writeLittleEndian(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t byteReversed(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

enum class ByteOrder { native, reversed, unknown };

// The magic tells the byte order of the writer; anything else is not a record.
ByteOrder recordByteOrder(const std::uint8_t* record) {
    const std::uint32_t magic = readLittleEndian(record);
    if (magic == kRecordMagic) return ByteOrder::native;
    if (magic == byteReversed(kRecordMagic)) return ByteOrder::reversed;
    return ByteOrder::unknown;
}

void writeHeader(std::uint8_t* record, std::uint8_t kind) {
    writeLittleEndian(record, kRecordMagic);
    record[kKindOffset] = kind;
}

void writeProgram(std::uint8_t* bytes, const ProgramRecord& program) {
    std::memcpy(bytes, program.name, kProgramNameBytes);
    for (int index = 0; index < kParameterCount; ++index) {
        writeLittleEndian(bytes + kProgramNameBytes + index * kValueBytes,
                          std::bit_cast<std::uint32_t>(program.values[index]));
    }
}

// A damaged file, or a reversal asked for by mistake, can hold values no parameter
// takes. setParameter would ignore a NaN while the table kept it (and wrote it into the
// next saved file), so the table gets only values the effect accepts: one that is not
// a finite number becomes the slot's factory value, the others are limited to 0..1.
float loadedValue(float value, int slot, int index) {
    if (!std::isfinite(value)) return factoryValue(slot, index);
    return std::clamp(value, 0.0f, 1.0f);
}

// Copies name and values into table slot `slot`; each value is reversed once for a
// reversed file and once more when the user asked for it.
void readProgram(const std::uint8_t* bytes, bool fileReversed, bool userReversed, int slot,
                 ProgramRecord& program) {
    std::memcpy(program.name, bytes, kProgramNameBytes);
    for (int index = 0; index < kParameterCount; ++index) {
        std::uint32_t bits = readLittleEndian(bytes + kProgramNameBytes + index * kValueBytes);
        if (fileReversed) bits = byteReversed(bits);
        if (userReversed) bits = byteReversed(bits);
        program.values[index] = loadedValue(std::bit_cast<float>(bits), slot, index);
    }
}

int validSlot(int slot) { return slot >= 0 && slot < kProgramCount ? slot : -1; }

void remember(FileLocations* locations, const SplitPath& split, bool bank) {
    if (locations == nullptr) return;
    locations->directory = split.directory;
    (bank ? locations->bankFile : locations->presetFile) = split.fileName;
}

// Reads at most one record from the file; the rest of the buffer stays zero, so a
// missing or unreadable file gives the zero record that the loaders refuse.
template <std::size_t Size>
std::string readRecordFile(const std::string& path, std::array<std::uint8_t, Size>& record) {
    record.fill(0);
    const FileReadResult read = readFilePrefix(path, record.data(), record.size());
    if (!read.opened) return errorText(read.error);
    if (read.error != 0) {
        // A read error part-way gives no trustworthy record.
        record.fill(0);
        return errorText(read.error);
    }
    return {};
}

FileResult saveRecordFile(std::string_view path, std::string_view extension, const void* data,
                          std::size_t size, const char* what, FileLocations* locations, bool bank) {
    FileResult result;
    const std::string fullPath = withDefaultExtension(path, extension);
    const std::optional<SplitPath> split = splitPath(fullPath);
    if (!split) return result;
    remember(locations, *split, bank);
    const int error = split->fileName.empty() ? EISDIR : writeFileAtomically(fullPath, data, size);
    if (error == 0) {
        result.outcome = FileOutcome::saved;
        return result;
    }
    result.outcome = FileOutcome::failed;
    result.reason = errorText(error);
    showErrorMessage(std::string("Could not save ") + what + " \"" + fullPath +
                     "\": " + result.reason);
    return result;
}

}  // namespace

std::string fileDialogTitle(RecordKind kind, bool load, bool reversed) {
    std::string title = load ? "Load " : "Save ";
    title += kind == RecordKind::preset ? "preset" : "bank";
    if (load && reversed) title += " (endian-reversed)";
    return title;
}

PresetRecord buildPresetRecord(const ProgramHost& host) {
    PresetRecord record{};
    writeHeader(record.data(), kPresetKind);
    const auto lock = host.lockPrograms();
    const int slot = validSlot(host.currentSlot());
    writeProgram(record.data() + kBodyOffset,
                 host.programs()[static_cast<std::size_t>(slot < 0 ? 0 : slot)]);
    return record;
}

BankRecord buildBankRecord(const ProgramHost& host) {
    const auto lock = host.lockPrograms();
    return buildBankRecord(host.programs());
}

BankRecord buildBankRecord(const ProgramTable& table) {
    BankRecord record{};
    writeHeader(record.data(), kBankKind);
    for (int slot = 0; slot < kProgramCount; ++slot) {
        writeProgram(record.data() + kBodyOffset + slot * kProgramBytes,
                     table[static_cast<std::size_t>(slot)]);
    }
    return record;
}

bool loadPresetRecord(ProgramHost& host, const PresetRecord& record, bool reversed) {
    const ByteOrder order = recordByteOrder(record.data());
    if (order == ByteOrder::unknown || record[kKindOffset] != kPresetKind) return false;
    char name[kProgramNameBytes + 1];
    int slot = 0;
    {
        const auto lock = host.lockPrograms();
        slot = validSlot(host.currentSlot());
        if (slot < 0) return false;
        ProgramRecord& program = host.programs()[static_cast<std::size_t>(slot)];
        readProgram(record.data() + kBodyOffset, order == ByteOrder::reversed, reversed, slot,
                    program);
        readProgramName(program, name);
    }
    host.setCurrentName(name);
    host.selectSlot(slot);
    return true;
}

bool loadBankRecord(ProgramHost& host, const BankRecord& record, bool reversed) {
    host.selectSlot(0);
    const ByteOrder order = recordByteOrder(record.data());
    if (order == ByteOrder::unknown || record[kKindOffset] != kBankKind) return false;
    {
        const auto lock = host.lockPrograms();
        ProgramTable& table = host.programs();
        for (int slot = 0; slot < kProgramCount; ++slot) {
            readProgram(record.data() + kBodyOffset + slot * kProgramBytes,
                        order == ByteOrder::reversed, reversed, slot,
                        table[static_cast<std::size_t>(slot)]);
        }
    }
    host.selectSlot(0);
    return true;
}

std::optional<SplitPath> splitPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return std::nullopt;
    return SplitPath{std::string(path.substr(0, slash + 1)), std::string(path.substr(slash + 1))};
}

std::string withDefaultExtension(std::string_view path, std::string_view extension) {
    std::string result(path);
    const std::size_t slash = result.rfind('/');
    const std::string_view name =
        std::string_view(result).substr(slash == std::string::npos ? 0 : slash + 1);
    // Only a dot after the first character starts an extension: ".tarvel" alone is a
    // hidden file without one.
    if (!name.empty() && name.find('.', 1) == std::string_view::npos) {
        result += '.';
        result += extension;
    }
    return result;
}

FileResult loadPresetFile(ProgramHost& host, std::string_view path, bool reversed,
                          FileLocations* locations) {
    FileResult result;
    const std::optional<SplitPath> split = splitPath(path);
    if (!split) return result;
    remember(locations, *split, false);
    PresetRecord record{};
    result.reason = readRecordFile(std::string(path), record);
    const bool accepted = loadPresetRecord(host, record, reversed);
    result.outcome = accepted ? FileOutcome::loaded : FileOutcome::refused;
    if (!accepted && result.reason.empty()) result.reason = "not a preset file";
    return result;
}

FileResult loadBankFile(ProgramHost& host, std::string_view path, bool reversed,
                        FileLocations* locations) {
    FileResult result;
    const std::optional<SplitPath> split = splitPath(path);
    if (!split) return result;
    remember(locations, *split, true);
    BankRecord record{};
    result.reason = readRecordFile(std::string(path), record);
    const bool accepted = loadBankRecord(host, record, reversed);
    result.outcome = accepted ? FileOutcome::loaded : FileOutcome::refused;
    if (!accepted && result.reason.empty()) result.reason = "not a bank file";
    return result;
}

FileResult savePresetFile(const ProgramHost& host, std::string_view path,
                          FileLocations* locations) {
    const PresetRecord record = buildPresetRecord(host);
    return saveRecordFile(path, kPresetExtension, record.data(), record.size(), "preset file",
                          locations, false);
}

FileResult saveBankFile(const ProgramHost& host, std::string_view path, FileLocations* locations) {
    const BankRecord record = buildBankRecord(host);
    return saveRecordFile(path, kBankExtension, record.data(), record.size(), "bank file",
                          locations, true);
}

}  // namespace tq
