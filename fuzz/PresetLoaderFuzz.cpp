// libFuzzer target for the preset and bank record loaders.
//
// Input: one control byte (bit 0 bank, bit 1 user reversal, bits 2..7 the current slot),
// then the file contents, padded with zeros or cut to the record size as a file load
// does. Checks, besides the sanitizers' own: a refused record leaves the table
// unchanged and makes no call but the bank's initial select of slot 0; an accepted
// record stores the decoded names and values, a value that is not a finite number
// replaced by the slot's factory value and the others limited to 0..1; building the
// record again gives back the input for a native file whose values were all kept.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "presets/PresetFile.h"

namespace {

class FuzzHost : public tq::ProgramHost {
  public:
    FuzzHost() { tq::fillFactoryPrograms(table); }
    int currentSlot() const override { return current; }
    void selectSlot(int slot) override {
        selects.push_back(slot);
        current = slot;
        for (int i = 0; i < tq::kParameterCount; ++i) {
            table[0].values[i] = table[static_cast<std::size_t>(slot)].values[i];
        }
    }
    void setCurrentName(const char* name) override {
        ++names;
        tq::storeProgramName(table[static_cast<std::size_t>(current)], name);
        tq::storeProgramName(table[0], name);
    }
    tq::ProgramTable& programs() override { return table; }
    const tq::ProgramTable& programs() const override { return table; }

    tq::ProgramTable table{};
    int current = 0;
    std::vector<int> selects;
    int names = 0;
};

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

std::uint32_t swapped(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// The value bits a loader must store, decoded here independently of the loader.
std::uint32_t expectedBits(const std::uint8_t* bytes, bool fileReversed, bool userReversed) {
    std::uint32_t bits = std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
                         (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
    if (fileReversed) bits = swapped(bits);
    if (userReversed) bits = swapped(bits);
    return bits;
}

// The value bits the table must hold for decoded value bits `bits` in slot `slot`.
std::uint32_t keptBits(std::uint32_t bits, int slot, int index) {
    const float value = std::bit_cast<float>(bits);
    if (!std::isfinite(value)) {
        tq::ProgramTable factory{};
        tq::fillFactoryPrograms(factory);
        return std::bit_cast<std::uint32_t>(factory[static_cast<std::size_t>(slot)].values[index]);
    }
    if (value < 0.0f) return std::bit_cast<std::uint32_t>(0.0f);
    if (value > 1.0f) return std::bit_cast<std::uint32_t>(1.0f);
    return bits;
}

template <std::size_t Size>
std::array<std::uint8_t, Size> recordFrom(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, Size> record{};
    std::memcpy(record.data(), data, std::min(size, Size));
    return record;
}

bool fileIsReversed(const std::uint8_t* record) { return std::memcmp(record, "TRql", 4) == 0; }
bool magicIsValid(const std::uint8_t* record) {
    return std::memcmp(record, "lqRT", 4) == 0 || fileIsReversed(record);
}

void fuzzPreset(const std::uint8_t* data, std::size_t size, bool reversed, int slot) {
    FuzzHost host;
    host.current = slot;
    const tq::ProgramTable before = host.table;
    const auto record = recordFrom<tq::kPresetRecordBytes>(data, size);
    const bool accepted = tq::loadPresetRecord(host, record, reversed);
    const bool valid = magicIsValid(record.data()) && record[4] == '!';
    check(accepted == valid, "preset acceptance follows magic and kind");
    if (!accepted) {
        check(std::memcmp(&host.table, &before, sizeof before) == 0,
              "refused preset changed the table");
        check(host.selects.empty() && host.names == 0, "refused preset called the effect");
        return;
    }
    check(host.selects == std::vector<int>{slot} && host.names == 1, "preset call sequence");
    const bool fileReversed = fileIsReversed(record.data());
    const auto& program = host.table[static_cast<std::size_t>(slot)];
    bool allKept = true;
    for (int i = 0; i < tq::kParameterCount; ++i) {
        const std::uint32_t decoded =
            expectedBits(record.data() + 29 + 4 * i, fileReversed, reversed);
        const std::uint32_t bits = keptBits(decoded, slot, i);
        allKept = allKept && bits == decoded;
        check(std::bit_cast<std::uint32_t>(program.values[i]) == bits, "preset value");
        check(std::bit_cast<std::uint32_t>(host.table[0].values[i]) == bits, "slot 0 value");
    }
    char name[25] = {};
    std::memcpy(name, record.data() + 5, 24);
    tq::ProgramRecord expected{};
    tq::storeProgramName(expected, name);
    check(std::memcmp(program.name, expected.name, 24) == 0, "preset name");
    for (int other = 1; other < tq::kProgramCount; ++other) {
        if (other == slot) continue;
        check(std::memcmp(&host.table[static_cast<std::size_t>(other)],
                          &before[static_cast<std::size_t>(other)], sizeof(tq::ProgramRecord)) == 0,
              "preset load touched another slot");
    }
    if (!fileReversed && !reversed && allKept) {
        const tq::PresetRecord rebuilt = tq::buildPresetRecord(host);
        check(std::memcmp(rebuilt.data() + 29, record.data() + 29, 104) == 0, "preset rebuild");
    }
}

void fuzzBank(const std::uint8_t* data, std::size_t size, bool reversed, int slot) {
    FuzzHost host;
    host.current = slot;
    const tq::ProgramTable before = host.table;
    const auto record = recordFrom<tq::kBankRecordBytes>(data, size);
    const bool accepted = tq::loadBankRecord(host, record, reversed);
    const bool valid = magicIsValid(record.data()) && record[4] == '7';
    check(accepted == valid, "bank acceptance follows magic and kind");
    if (!accepted) {
        check(std::memcmp(&host.table, &before, sizeof before) == 0,
              "refused bank changed the table");
        check(host.selects == std::vector<int>{0} && host.names == 0, "refused bank call sequence");
        return;
    }
    check(host.selects == (std::vector<int>{0, 0}) && host.names == 0, "bank call sequence");
    const bool fileReversed = fileIsReversed(record.data());
    bool allKept = true;
    for (int s = 0; s < tq::kProgramCount; ++s) {
        const auto& program = host.table[static_cast<std::size_t>(s)];
        const std::uint8_t* bytes = record.data() + 5 + 128 * s;
        check(std::memcmp(program.name, bytes, 24) == 0, "bank name copied unchanged");
        for (int i = 0; i < tq::kParameterCount; ++i) {
            const std::uint32_t decoded = expectedBits(bytes + 24 + 4 * i, fileReversed, reversed);
            const std::uint32_t bits = keptBits(decoded, s, i);
            allKept = allKept && bits == decoded;
            check(std::bit_cast<std::uint32_t>(program.values[i]) == bits, "bank value");
        }
    }
    if (!fileReversed && !reversed && allKept) {
        const tq::BankRecord rebuilt = tq::buildBankRecord(host.table);
        check(std::memcmp(rebuilt.data(), record.data(), record.size()) == 0, "bank rebuild");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t control = data[0];
    const bool bank = (control & 1) != 0;
    const bool reversed = (control & 2) != 0;
    const int slot = (control >> 2) % tq::kProgramCount;
    if (bank) {
        fuzzBank(data + 1, size - 1, reversed, slot);
    } else {
        fuzzPreset(data + 1, size - 1, reversed, slot);
    }
    return 0;
}
