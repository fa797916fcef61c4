#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "presets/FakeProgramHost.h"
#include "presets/PresetFile.h"

namespace {

using tqtest::FakeProgramHost;
using tqtest::goldenPreset;
using tqtest::nameOf;

// Factory slot 0 ("Current") in parameter-index order, from the factory table.
constexpr float kCurrentValues[tq::kParameterCount] = {
    1.0f, 0.5f, 0.2f, 0.7237f, 0.166667f, 1.0f,  0.0f, 0.0f,    1.0f, 0.165f, 0.5f, 0.125f, 0.0f,
    1.0f, 0.0f, 0.0f, 0.25f,   0.0f,      0.25f, 0.0f, 0.9375f, 0.0f, 0.0f,   0.0f, 0.0f,   0.015f};

// Distinct values that show which index went where.
void distinctValues(float (&values)[tq::kParameterCount], float base) {
    for (int i = 0; i < tq::kParameterCount; ++i) values[i] = base + 0.01f * static_cast<float>(i);
}

tq::PresetRecord toPresetRecord(const std::vector<std::uint8_t>& bytes) {
    tq::PresetRecord record{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
    return record;
}

float byteSwapped(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return std::bit_cast<float>((bits >> 24) | ((bits >> 8) & 0xFF00u) | ((bits << 8) & 0xFF0000u) |
                                (bits << 24));
}

// What the loader keeps of a value read for slot `slot`: a value that is not a finite
// number gives way to the factory value, the others are limited to 0..1.
float kept(float value, int slot, int index) {
    if (!std::isfinite(value)) return tq::factoryValue(slot, index);
    return std::clamp(value, 0.0f, 1.0f);
}

bool finiteInRange(float value) { return std::isfinite(value) && value >= 0.0f && value <= 1.0f; }

std::vector<std::uint8_t> goldenBank(const tq::ProgramTable& table, bool bigEndian = false) {
    std::vector<std::uint8_t> bytes = bigEndian
                                          ? std::vector<std::uint8_t>{'T', 'R', 'q', 'l', '7'}
                                          : std::vector<std::uint8_t>{'l', 'q', 'R', 'T', '7'};
    for (const tq::ProgramRecord& program : table) {
        float values[tq::kParameterCount];
        std::copy(std::begin(program.values), std::end(program.values), values);
        tqtest::appendProgram(bytes, std::string(program.name, strnlen(program.name, 24)), values,
                              bigEndian);
    }
    return bytes;
}

tq::BankRecord toBankRecord(const std::vector<std::uint8_t>& bytes) {
    tq::BankRecord record{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), record.size()), record.begin());
    return record;
}

// --- building records ---

TEST(PresetRecordBuild, DefaultSlotZeroGivesTheGoldenRecord) {
    FakeProgramHost host;
    const tq::PresetRecord record = tq::buildPresetRecord(host);
    const auto golden = goldenPreset("Current", kCurrentValues);
    ASSERT_EQ(golden.size(), 133u);
    EXPECT_EQ(std::vector<std::uint8_t>(record.begin(), record.end()), golden);
    EXPECT_EQ(record[0], 0x6C);
    EXPECT_EQ(record[1], 0x71);
    EXPECT_EQ(record[2], 0x52);
    EXPECT_EQ(record[3], 0x54);
    EXPECT_EQ(record[4], 0x21);
    EXPECT_TRUE(std::all_of(record.begin() + 5 + 7, record.begin() + 29, [](std::uint8_t b) {
        return b == 0;
    })) << "the name must be followed by 17 zero bytes";
}

TEST(PresetRecordBuild, RecordIsTakenFromTheCurrentSlot) {
    FakeProgramHost host;
    host.current = 10;
    const tq::PresetRecord record = tq::buildPresetRecord(host);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 5)), "CD Master 3 [recon]");
}

TEST(PresetRecordBuild, TwentyFourCharacterNameHasNoTerminator) {
    FakeProgramHost host;
    tq::storeProgramName(host.table[0], "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const tq::PresetRecord record = tq::buildPresetRecord(host);
    EXPECT_EQ(std::string(record.begin() + 5, record.begin() + 29), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(record[29], 0x00) << "first value byte (Output 1.0f, little-endian 00 00 80 3F)";
    EXPECT_EQ(record[31], 0x80);
    EXPECT_EQ(record[32], 0x3F);
}

TEST(BankRecordBuild, FactoryTableGivesTheGoldenRecord) {
    FakeProgramHost host;
    const tq::BankRecord record = tq::buildBankRecord(host.table);
    const auto golden = goldenBank(host.table);
    ASSERT_EQ(golden.size(), 3077u);
    EXPECT_EQ(std::vector<std::uint8_t>(record.begin(), record.end()), golden);
    // Slot 23's name starts at 5 + 23 * 128.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 5 + 23 * 128)),
              "Total Disorder");
}

// --- loading a preset record ---

TEST(PresetRecordLoad, LoadsIntoTheCurrentSlotThenNamesAndSelectsIt) {
    FakeProgramHost host;
    host.current = 5;
    float values[tq::kParameterCount];
    distinctValues(values, 0.1f);
    ASSERT_TRUE(tq::loadPresetRecord(host, toPresetRecord(goldenPreset("Mine", values)), false));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"name Mine", "select 5"}));
    for (int i = 0; i < tq::kParameterCount; ++i) {
        EXPECT_EQ(host.table[5].values[i], values[i]) << i;
        EXPECT_EQ(host.table[0].values[i], values[i]) << i;
    }
    EXPECT_EQ(nameOf(host.table[5]), "Mine");
    EXPECT_EQ(nameOf(host.table[0]), "Mine");
    EXPECT_EQ(nameOf(host.table[4]), "Limiter Hard") << "other slots untouched";
}

TEST(PresetRecordLoad, ByteReversedFileLoadsTheSameValues) {
    FakeProgramHost host;
    float values[tq::kParameterCount];
    distinctValues(values, 0.3f);
    ASSERT_TRUE(tq::loadPresetRecord(
        host, toPresetRecord(goldenPreset("Other order", values, true)), false));
    for (int i = 0; i < tq::kParameterCount; ++i)
        EXPECT_EQ(host.table[0].values[i], values[i]) << i;
    EXPECT_EQ(nameOf(host.table[0]), "Other order") << "names are never converted";
}

TEST(PresetRecordLoad, UserReversalSwapsEveryValueOfANativeFile) {
    FakeProgramHost host;
    float values[tq::kParameterCount];
    distinctValues(values, 0.3f);
    ASSERT_TRUE(tq::loadPresetRecord(host, toPresetRecord(goldenPreset("N", values)), true));
    for (int i = 0; i < tq::kParameterCount; ++i) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(host.table[0].values[i]),
                  std::bit_cast<std::uint32_t>(kept(byteSwapped(values[i]), 0, i)))
            << i;
    }
}

TEST(PresetRecordLoad, TwoReversalsCancel) {
    FakeProgramHost host;
    float values[tq::kParameterCount];
    distinctValues(values, 0.4f);
    ASSERT_TRUE(tq::loadPresetRecord(host, toPresetRecord(goldenPreset("R", values, true)), true));
    for (int i = 0; i < tq::kParameterCount; ++i) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(host.table[0].values[i]),
                  std::bit_cast<std::uint32_t>(kept(byteSwapped(values[i]), 0, i)))
            << "a reversed file read with reversal is read without conversion";
    }
}

TEST(PresetRecordLoad, WrongMagicIsRefusedWithoutAnyChange) {
    FakeProgramHost host;
    host.current = 3;
    const tq::ProgramTable before = host.table;
    auto bytes = goldenPreset("X", kCurrentValues);
    bytes[3] = 'X';
    EXPECT_FALSE(tq::loadPresetRecord(host, toPresetRecord(bytes), false));
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
    EXPECT_TRUE(host.calls.empty());
    EXPECT_FALSE(tq::loadPresetRecord(host, tq::PresetRecord{}, false)) << "zero record";
    EXPECT_TRUE(host.calls.empty());
}

TEST(PresetRecordLoad, BankKindIsRefused) {
    FakeProgramHost host;
    const tq::ProgramTable before = host.table;
    auto bytes = goldenPreset("X", kCurrentValues);
    bytes[4] = '7';
    EXPECT_FALSE(tq::loadPresetRecord(host, toPresetRecord(bytes), false));
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
    EXPECT_TRUE(host.calls.empty());
}

TEST(PresetRecordLoad, RecordCutInsideTheValuesLoadsZerosForTheRest) {
    FakeProgramHost host;
    float values[tq::kParameterCount];
    distinctValues(values, 0.5f);
    auto bytes = goldenPreset("Cut", values);
    bytes.resize(29 + 4 * 10 + 2);  // ten whole values and half of the eleventh
    ASSERT_TRUE(tq::loadPresetRecord(host, toPresetRecord(bytes), false));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(host.table[0].values[i], values[i]) << i;
    for (int i = 11; i < tq::kParameterCount; ++i) EXPECT_EQ(host.table[0].values[i], 0.0f) << i;
}

TEST(PresetRecordLoad, OldLayoutMarkerReachesTheEffectAsZero) {
    // Index 25 = 0 marks an old value set; the effect converts it while the slot is
    // selected, so the loader must hand over the 0 unchanged.
    FakeProgramHost host;
    float values[tq::kParameterCount];
    std::copy(std::begin(kCurrentValues), std::end(kCurrentValues), values);
    values[25] = 0.0f;
    ASSERT_TRUE(tq::loadPresetRecord(host, toPresetRecord(goldenPreset("Old", values)), false));
    EXPECT_EQ(host.table[0].values[25], 0.0f);
    EXPECT_EQ(host.calls.back(), "select 0");
}

TEST(PresetRecordLoad, RoundTripKeepsEveryBit) {
    FakeProgramHost source;
    source.current = 7;
    source.table[7].values[3] = -0.0f;
    source.table[7].values[4] = std::bit_cast<float>(0x00000001u);  // the smallest denormal
    const tq::PresetRecord record = tq::buildPresetRecord(source);
    FakeProgramHost target;
    target.current = 2;
    ASSERT_TRUE(tq::loadPresetRecord(target, record, false));
    EXPECT_EQ(std::memcmp(target.table[2].values, source.table[7].values, 104), 0);
    EXPECT_EQ(nameOf(target.table[2]), "Loudness 3");
}

// Values a damaged file can hold, with what the table keeps of them in slot `slot`.
struct DamagedValue {
    int index;
    float value;
};
const DamagedValue kDamaged[] = {
    {1, std::numeric_limits<float>::quiet_NaN()},
    {2, std::numeric_limits<float>::infinity()},
    {3, -std::numeric_limits<float>::infinity()},
    {5, 1.5f},
    {13, -0.5f},
    {25, std::bit_cast<float>(0xFFC12345u)},  // a negative NaN with a payload
};

void expectDamagedValuesKept(const tq::ProgramRecord& program, int slot, const char* what) {
    for (int i = 0; i < tq::kParameterCount; ++i) {
        EXPECT_TRUE(finiteInRange(program.values[i])) << what << " value " << i;
    }
    EXPECT_EQ(program.values[1], tq::factoryValue(slot, 1)) << what << ": NaN";
    EXPECT_EQ(program.values[2], tq::factoryValue(slot, 2)) << what << ": +inf";
    EXPECT_EQ(program.values[3], tq::factoryValue(slot, 3)) << what << ": -inf";
    EXPECT_EQ(program.values[5], 1.0f) << what << ": 1.5";
    EXPECT_EQ(program.values[13], 0.0f) << what << ": -0.5";
    EXPECT_EQ(program.values[25], 0.015f) << what << ": the marker's NaN converts nothing";
}

// Every value of a record, decoded as the file holds it.
template <std::size_t Size>
bool recordHoldsNoNaN(const std::array<std::uint8_t, Size>& record, int programs) {
    for (int p = 0; p < programs; ++p) {
        for (int i = 0; i < tq::kParameterCount; ++i) {
            const std::uint8_t* b = record.data() + 5 + 128 * p + 24 + 4 * i;
            const std::uint32_t bits = std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) |
                                       (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
            if (std::isnan(std::bit_cast<float>(bits))) return false;
        }
    }
    return true;
}

TEST(PresetRecordLoad, ValuesThatAreNoNumbersOrOutOfRangeAreNotStored) {
    FakeProgramHost host;
    host.current = 9;  // "CD Master 2"
    float values[tq::kParameterCount];
    distinctValues(values, 0.2f);
    for (const DamagedValue& damaged : kDamaged) values[damaged.index] = damaged.value;
    ASSERT_TRUE(tq::loadPresetRecord(host, toPresetRecord(goldenPreset("Damaged", values)), false));
    expectDamagedValuesKept(host.table[9], 9, "slot 9");
    expectDamagedValuesKept(host.table[0], 9, "slot 0");
    EXPECT_EQ(host.table[9].values[4], values[4]) << "values in range are kept";
    EXPECT_TRUE(recordHoldsNoNaN(tq::buildPresetRecord(host), 1));

    FakeProgramHost reversedHost;
    reversedHost.current = 9;
    ASSERT_TRUE(tq::loadPresetRecord(
        reversedHost, toPresetRecord(goldenPreset("Damaged", values, true)), false));
    expectDamagedValuesKept(reversedHost.table[9], 9, "byte-reversed file");
}

// --- loading a bank record ---

TEST(BankRecordLoad, ValuesThatAreNoNumbersOrOutOfRangeAreNotStored) {
    FakeProgramHost source;
    for (tq::ProgramRecord& program : source.table) {
        for (const DamagedValue& damaged : kDamaged) program.values[damaged.index] = damaged.value;
    }
    FakeProgramHost host;
    ASSERT_TRUE(tq::loadBankRecord(host, toBankRecord(goldenBank(source.table)), false));
    for (int slot = 0; slot < tq::kProgramCount; ++slot) {
        expectDamagedValuesKept(host.table[static_cast<std::size_t>(slot)], slot,
                                ("slot " + std::to_string(slot)).c_str());
    }
    EXPECT_NE(host.table[4].values[2], host.table[5].values[2])
        << "each slot falls back to its own factory value";
    EXPECT_TRUE(recordHoldsNoNaN(tq::buildBankRecord(host.table), tq::kProgramCount));
}

TEST(BankRecordLoad, LoadsAllSlotsThenSelectsSlotZero) {
    FakeProgramHost source;
    for (int slot = 0; slot < tq::kProgramCount; ++slot) {
        distinctValues(source.table[static_cast<std::size_t>(slot)].values, 0.02f * slot);
        tq::storeProgramName(source.table[static_cast<std::size_t>(slot)],
                             ("Bank slot " + std::to_string(slot)).c_str());
    }
    FakeProgramHost host;
    host.current = 9;
    ASSERT_TRUE(tq::loadBankRecord(host, toBankRecord(goldenBank(source.table)), false));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"select 0", "select 0"}));
    EXPECT_TRUE(tqtest::sameTable(host.table, source.table));
    EXPECT_EQ(host.current, 0);
}

TEST(BankRecordLoad, ByteReversedBankLoadsTheSameTable) {
    FakeProgramHost source;
    distinctValues(source.table[12].values, 0.7f);
    FakeProgramHost host;
    tq::storeProgramName(host.table[1], "to be replaced");
    ASSERT_TRUE(tq::loadBankRecord(host, toBankRecord(goldenBank(source.table, true)), false));
    EXPECT_TRUE(tqtest::sameTable(host.table, source.table));
}

TEST(BankRecordLoad, PresetFileIsRefusedAfterSlotZeroIsReapplied) {
    FakeProgramHost host;
    host.current = 4;
    const tq::ProgramTable before = host.table;
    auto preset = goldenPreset("P", kCurrentValues);
    EXPECT_FALSE(tq::loadBankRecord(host, toBankRecord(preset), false));
    EXPECT_EQ(host.calls, std::vector<std::string>{"select 0"});
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
}

TEST(BankRecordLoad, WrongMagicIsRefused) {
    FakeProgramHost host;
    const tq::ProgramTable before = host.table;
    auto bytes = goldenBank(host.table);
    bytes[0] = 'L';
    EXPECT_FALSE(tq::loadBankRecord(host, toBankRecord(bytes), false));
    EXPECT_TRUE(tqtest::sameTable(host.table, before));
    EXPECT_FALSE(tq::loadBankRecord(host, tq::BankRecord{}, false));
}

TEST(BankRecordLoad, UserReversalAppliesToEverySlot) {
    FakeProgramHost source;
    FakeProgramHost host;
    ASSERT_TRUE(tq::loadBankRecord(host, toBankRecord(goldenBank(source.table)), true));
    for (int slot = 0; slot < tq::kProgramCount; ++slot) {
        const auto s = static_cast<std::size_t>(slot);
        EXPECT_EQ(nameOf(host.table[s]), nameOf(source.table[s]));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(host.table[s].values[1]),
                  std::bit_cast<std::uint32_t>(kept(byteSwapped(source.table[s].values[1]), slot, 1)));
    }
}

}  // namespace
