// A program host without the effect: selectSlot and setCurrentName do to the table
// what the effect does, and every call is logged so tests can check the sequence.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "presets/ProgramHost.h"

namespace tqtest {

class FakeProgramHost : public tq::ProgramHost {
  public:
    FakeProgramHost() { tq::fillFactoryPrograms(table); }

    int currentSlot() const override { return current; }
    void selectSlot(int slot) override {
        calls.push_back("select " + std::to_string(slot));
        current = slot;
        for (int i = 0; i < tq::kParameterCount; ++i) {
            table[0].values[i] = table[static_cast<std::size_t>(slot)].values[i];
        }
    }
    void setCurrentName(const char* name) override {
        calls.push_back(std::string("name ") + name);
        tq::storeProgramName(table[static_cast<std::size_t>(current)], name);
        tq::storeProgramName(table[0], name);
    }
    tq::ProgramTable& programs() override { return table; }
    const tq::ProgramTable& programs() const override { return table; }

    tq::ProgramTable table{};
    int current = 0;
    std::vector<std::string> calls;
};

inline std::string nameOf(const tq::ProgramRecord& record) {
    char text[tq::kProgramNameBytes + 1];
    tq::readProgramName(record, text);
    return text;
}

inline bool sameTable(const tq::ProgramTable& a, const tq::ProgramTable& b) {
    return std::memcmp(a.data(), b.data(), sizeof(tq::ProgramTable)) == 0;
}

// Golden record writers, straight from the format tables.
inline void appendLittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

inline void appendBigEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

inline void appendProgram(std::vector<std::uint8_t>& bytes, const std::string& name,
                          const float (&values)[tq::kParameterCount], bool bigEndian = false) {
    for (std::size_t i = 0; i < 24; ++i) {
        bytes.push_back(i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0);
    }
    for (const float value : values) {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        bigEndian ? appendBigEndian(bytes, bits) : appendLittleEndian(bytes, bits);
    }
}

inline std::vector<std::uint8_t> goldenPreset(const std::string& name,
                                              const float (&values)[tq::kParameterCount],
                                              bool bigEndian = false) {
    std::vector<std::uint8_t> bytes = bigEndian
                                          ? std::vector<std::uint8_t>{'T', 'R', 'q', 'l', '!'}
                                          : std::vector<std::uint8_t>{0x6C, 0x71, 0x52, 0x54, 0x21};
    appendProgram(bytes, name, values, bigEndian);
    return bytes;
}

}  // namespace tqtest
