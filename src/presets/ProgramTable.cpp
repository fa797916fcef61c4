#include "presets/ProgramTable.h"

#include <cstring>

namespace tq {

namespace {

// The fifteen values that differ between factory programs, in this column order.
constexpr int kVariedIndices[15] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 13, 14, 16, 18};

struct FactoryProgram {
    const char* name;
    float varied[15];
};

// Output, Drive, Transient, Release, TransShape, L/R Link, Oversample, DetectorOrder,
// Scale, Bits, NoiseShape, Leveller, MeterOvs, Quantize, MeterType.
constexpr FactoryProgram kFactoryPrograms[kProgramCount] = {
    {"Current", {1.0f, 0.5f, 0.2f, 0.7237f, 0.166667f, 1.0f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 1.0f, 0.0f, 0.25f, 0.25f}},
    {"Limiter Smooth", {0.999167f, 0.5625f, 0.150375f, 0.723711f, 0.833333f, 1.0f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 1.0f, 0.0f, 0.25f, 0.25f}},
    {"Limiter Gentle", {0.999167f, 0.604167f, 0.353483f, 0.656363f, 0.5f, 1.0f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 1.0f, 0.0f, 0.25f, 0.25f}},
    {"Limiter Fast", {0.999167f, 0.625f, 0.45f, 0.5f, 0.5f, 1.0f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 1.0f, 0.0f, 0.25f, 0.25f}},
    {"Limiter Hard", {0.999167f, 0.625f, 0.5f, 0.656363f, 0.166667f, 0.5f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 1.0f, 0.0f, 0.25f, 0.25f}},
    {"Loudness 1", {0.999167f, 0.604167f, 0.238667f, 0.656363f, 0.5f, 0.5f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 0.5f, 0.0f, 0.25f, 0.25f}},
    {"Loudness 2", {0.999167f, 0.625f, 0.404367f, 0.656363f, 0.833333f, 0.5f, 0.0f, 1.0f, 0.165f, 0.5f, 0.125f, 0.5f, 0.0f, 0.25f, 0.25f}},
    {"Loudness 3", {0.999167f, 0.6875f, 0.5f, 0.5f, 0.5f, 0.33f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 0.25f, 0.0f, 0.25f, 0.25f}},
    {"CD Master 1", {0.999167f, 0.583333f, 0.25f, 0.723711f, 0.833333f, 1.0f, 0.0f, 0.0f, 0.5f, 0.5f, 0.625f, 0.5f, 0.0f, 0.75f, 0.75f}},
    {"CD Master 2", {0.999167f, 0.625f, 0.4f, 0.610005f, 0.5f, 1.0f, 0.0f, 0.0f, 0.5f, 0.5f, 0.875f, 0.5f, 0.0f, 0.75f, 0.75f}},
    {"CD Master 3 [recon]", {0.999167f, 0.625f, 0.4f, 0.656363f, 0.5f, 1.0f, 1.0f, 0.0f, 0.5f, 0.5f, 0.875f, 0.333333f, 1.0f, 0.75f, 0.75f}},
    {"Game 1", {0.999167f, 0.625f, 0.3f, 0.610005f, 0.33f, 0.5f, 0.0f, 0.0f, 0.165f, 0.165f, 0.375f, 0.5f, 0.0f, 0.75f, 0.25f}},
    {"Game 2", {0.999167f, 0.625f, 0.5f, 0.5f, 0.5f, 0.5f, 0.0f, 0.0f, 0.165f, 0.165f, 0.625f, 0.5f, 0.0f, 0.75f, 0.25f}},
    {"TV Limiter", {0.166667f, 0.625f, 0.4f, 0.676097f, 0.5f, 1.0f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 1.0f, 0.0f, 0.25f, 0.75f}},
    {"TV Loudness", {0.166667f, 0.625f, 0.4f, 0.610005f, 0.5f, 1.0f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 0.5f, 0.0f, 0.25f, 0.75f}},
    {"TV Hot", {0.166667f, 0.6875f, 0.5f, 0.465453f, 0.5f, 0.33f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 0.5f, 0.0f, 0.25f, 0.75f}},
    {"HiRes Limiter", {0.999167f, 0.583333f, 0.15f, 0.676097f, 0.833333f, 1.0f, 0.0f, 0.0f, 0.825f, 0.825f, 0.625f, 1.0f, 0.0f, 0.75f, 0.75f}},
    {"HiRes Loudness", {0.999167f, 0.625f, 0.3f, 0.563874f, 0.833333f, 0.5f, 0.0f, 0.0f, 0.825f, 0.825f, 0.875f, 0.5f, 0.0f, 0.75f, 0.75f}},
    {"Cine 1", {0.999167f, 0.583333f, 0.1f, 0.723711f, 0.833333f, 1.0f, 0.0f, 0.0f, 0.825f, 0.825f, 0.625f, 1.0f, 0.0f, 0.75f, 0.75f}},
    {"Cine 2 [recon]", {0.999167f, 0.625f, 0.3f, 0.676097f, 0.833333f, 1.0f, 1.0f, 0.0f, 0.825f, 0.825f, 0.875f, 0.5f, 1.0f, 0.75f, 0.75f}},
    {"Cine 3", {0.999167f, 0.645833f, 0.4f, 0.610005f, 0.5f, 1.0f, 0.0f, 0.0f, 0.825f, 0.825f, 0.875f, 0.25f, 0.0f, 0.75f, 0.75f}},
    {"Loud Love", {0.999167f, 0.6875f, 0.6f, 0.5f, 0.833333f, 0.66f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 0.5f, 0.0f, 0.25f, 0.25f}},
    {"Loud It Up", {0.999167f, 0.6875f, 0.5f, 0.5f, 0.166667f, 0.33f, 0.0f, 0.0f, 0.165f, 0.5f, 0.125f, 0.5f, 0.0f, 0.25f, 0.25f}},
    {"Total Disorder", {0.999167f, 0.75f, 0.8f, 0.436034f, 0.33f, 0.0f, 0.0f, 0.0f, 0.165f, 0.5f, 0.0f, 0.5f, 0.0f, 0.25f, 0.25f}},
};

void fillFactoryProgram(ProgramRecord& record, int slot) {
    const FactoryProgram& factory = kFactoryPrograms[slot];
    storeProgramName(record, factory.name);
    // Settings shared by every factory program: Power on, Calibrate, AutoOut,
    // Autoblack, AttZoom and PostMeter off, AttShow "12L", the unused values 0 and
    // the layout marker that keeps the old-layout conversion from running.
    for (float& value : record.values) value = 0.0f;
    record.values[8] = 1.0f;
    record.values[20] = 0.9375f;
    record.values[25] = 0.015f;
    for (int column = 0; column < 15; ++column) {
        record.values[kVariedIndices[column]] = factory.varied[column];
    }
}

}  // namespace

void storeProgramName(ProgramRecord& record, const char* name) {
    // The name may live in the table itself (a slot's name copied to slot 0), so it
    // is taken out before the record is cleared.
    char stored[sizeof(record.name)] = {};
    if (name != nullptr) std::memcpy(stored, name, strnlen(name, sizeof(stored)));
    std::memcpy(record.name, stored, sizeof(stored));
}

void readProgramName(const ProgramRecord& record, char* text) {
    if (text == nullptr) return;
    std::memcpy(text, record.name, sizeof(record.name));
    text[sizeof(record.name)] = '\0';
}

void fillFactoryPrograms(ProgramTable& table) {
    for (int slot = 0; slot < kProgramCount; ++slot) {
        fillFactoryProgram(table[static_cast<std::size_t>(slot)], slot);
    }
}

float factoryValue(int slot, int index) {
    if (slot < 0 || slot >= kProgramCount || index < 0 || index >= kParameterCount) return 0.0f;
    ProgramRecord record{};
    fillFactoryProgram(record, slot);
    return record.values[index];
}

}  // namespace tq
