#include "presets/StoredDefaults.h"

#include <unistd.h>

#include <vector>

#include "platform/UserStore.h"

namespace tq {

namespace {

std::string currentDirectory() {
    std::vector<char> buffer(kDirectoryBytes);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) return {};
    std::string directory(buffer.data());
    if (directory.empty() || directory.back() != '/') directory += '/';
    return directory;
}

const char* memoryValue(StoredDefaults::Memory memory) {
    return memory == StoredDefaults::Memory::a ? kMemoryAValue : kMemoryBValue;
}

// A string longer than its buffer is not written: reading it back would refuse it, and
// the previous value stays usable.
void writeLocation(const UserStore& store, const char* name, const std::string& text,
                   std::size_t maxBytes) {
    if (text.size() < maxBytes) store.writeString(name, text);
}

}  // namespace

StoredDefaults::StoredDefaults(ProgramHost& host) : host_(host) {
    locations_.directory = currentDirectory();
}

StoredDefaults::~StoredDefaults() { saveFileLocations(); }

void StoredDefaults::loadStoredDefaults() {
    const UserStore store;
    BankRecord bank{};
    store.readRecord(kDefaultBankValue, bank.data(), bank.size());
    loadBankRecord(host_, bank, false);

    PresetRecord preset{};
    store.readRecord(kDefaultPresetValue, preset.data(), preset.size());
    loadPresetRecord(host_, preset, false);

    if (auto directory = store.readString(kDirectoryValue, kDirectoryBytes)) {
        locations_.directory = *directory;
    }
    if (auto bankFile = store.readString(kBankFileValue, kFileNameBytes)) {
        locations_.bankFile = *bankFile;
    }
    if (auto presetFile = store.readString(kPresetFileValue, kFileNameBytes)) {
        locations_.presetFile = *presetFile;
    }
}

bool StoredDefaults::storeDefaultPreset() {
    const PresetRecord record = buildPresetRecord(host_);
    return UserStore().writeRecord(kDefaultPresetValue, record.data(), record.size());
}

bool StoredDefaults::clearDefaultPreset() { return UserStore().deleteValue(kDefaultPresetValue); }

bool StoredDefaults::storeDefaultBank() {
    const BankRecord record = buildBankRecord(host_);
    return UserStore().writeRecord(kDefaultBankValue, record.data(), record.size());
}

bool StoredDefaults::clearDefaultBank() { return UserStore().deleteValue(kDefaultBankValue); }

bool StoredDefaults::storeMemory(Memory memory) {
    const PresetRecord record = buildPresetRecord(host_);
    return UserStore().writeRecord(memoryValue(memory), record.data(), record.size());
}

bool StoredDefaults::recallMemory(Memory memory) {
    PresetRecord record{};
    UserStore().readRecord(memoryValue(memory), record.data(), record.size());
    return loadPresetRecord(host_, record, false);
}

void StoredDefaults::saveFileLocations() const {
    const UserStore store;
    writeLocation(store, kDirectoryValue, locations_.directory, kDirectoryBytes);
    writeLocation(store, kBankFileValue, locations_.bankFile, kFileNameBytes);
    writeLocation(store, kPresetFileValue, locations_.presetFile, kFileNameBytes);
}

FileResult StoredDefaults::loadPresetFile(std::string_view path, bool reversed) {
    return tq::loadPresetFile(host_, path, reversed, &locations_);
}

FileResult StoredDefaults::savePresetFile(std::string_view path) {
    return tq::savePresetFile(host_, path, &locations_);
}

FileResult StoredDefaults::loadBankFile(std::string_view path, bool reversed) {
    return tq::loadBankFile(host_, path, reversed, &locations_);
}

FileResult StoredDefaults::saveBankFile(std::string_view path) {
    return tq::saveBankFile(host_, path, &locations_);
}

}  // namespace tq
