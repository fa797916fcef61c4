// The effect's own table of 24 named programs. The layout is the file layout: preset
// and bank files copy records of this table byte for byte.
#pragma once

#include <array>
#include <cstddef>

#include "presets/ParameterLayout.h"

namespace tq {

inline constexpr int kParameterCount = kNumParameters;
inline constexpr int kProgramCount = 24;
inline constexpr int kProgramNameBytes = 24;

struct ProgramRecord {
    // 8-bit text; a name of 24 characters or more is stored without terminator.
    char name[kProgramNameBytes];
    float values[kParameterCount];  // normalised values in parameter-index order
};
static_assert(sizeof(ProgramRecord) == 128);
static_assert(offsetof(ProgramRecord, values) == 24);

using ProgramTable = std::array<ProgramRecord, kProgramCount>;
static_assert(sizeof(ProgramTable) == 24 * 128);

// Stores `name` by the 24-byte rule: shorter names are terminated and zero-filled,
// longer ones keep exactly their first 24 bytes. A null name stores the empty name.
void storeProgramName(ProgramRecord& record, const char* name);

// Copies the 24 name bytes and a terminator into `text` (25 bytes).
void readProgramName(const ProgramRecord& record, char* text);

// The 24 factory programs.
void fillFactoryPrograms(ProgramTable& table);

// Value `index` (0..25) of factory program `slot` (0..23); 0 outside those ranges.
float factoryValue(int slot, int index);

}  // namespace tq
