// Drives the built library the way a host does: dlopen, the exported entry, the
// AEffect record and the dispatcher.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/VstAbi.h"

namespace {

struct HostLog {
    std::vector<vst::int32> opcodes;
    vst::intptr versionAnswer = 2400;
};
HostLog gHost;

vst::intptr hostCallback(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    gHost.opcodes.push_back(opcode);
    if (opcode == vst::audioMasterVersion) return gHost.versionAnswer;
    return 0;
}

using EntryFunction = vst::AEffect* (*)(vst::HostCallback);

class LoadedPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        gHost = HostLog{};
        library_ = dlopen(TQ_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        entry_ = reinterpret_cast<EntryFunction>(dlsym(library_, "VSTPluginMain"));
        ASSERT_NE(entry_, nullptr);
    }
    void TearDown() override {
        if (effect_ != nullptr) dispatch(vst::effClose);
        if (library_ != nullptr) dlclose(library_);
    }
    vst::intptr dispatch(vst::int32 opcode, vst::int32 index = 0, vst::intptr value = 0,
                         void* ptr = nullptr, float opt = 0.0f) {
        const vst::intptr answer = effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
        if (opcode == vst::effClose) effect_ = nullptr;
        return answer;
    }
    std::string text(vst::int32 opcode, vst::int32 index = 0) {
        char buffer[256];
        std::memset(buffer, 0x55, sizeof(buffer));
        dispatch(opcode, index, 0, buffer);
        return std::string(buffer);
    }
    void open() {
        effect_ = entry_(hostCallback);
        ASSERT_NE(effect_, nullptr);
    }

    void* library_ = nullptr;
    EntryFunction entry_ = nullptr;
    vst::AEffect* effect_ = nullptr;
};

TEST_F(LoadedPlugin, ExportsBothEntryNamesToTheSameEffectKind) {
    auto legacy = reinterpret_cast<EntryFunction>(dlsym(library_, "main"));
    ASSERT_NE(legacy, nullptr);
    vst::AEffect* other = legacy(hostCallback);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->uniqueID, vst::fourCharCode('T', 'R', 'q', 'l'));
    other->dispatcher(other, vst::effClose, 0, 0, nullptr, 0.0f);
}

TEST_F(LoadedPlugin, DescriptorValues) {
    open();
    EXPECT_EQ(effect_->magic, 0x56737450);
    EXPECT_EQ(effect_->numPrograms, 1);
    EXPECT_EQ(effect_->numParams, 26);
    EXPECT_EQ(effect_->numInputs, 2);
    EXPECT_EQ(effect_->numOutputs, 2);
    EXPECT_EQ(effect_->flags & vst::effFlagsCanReplacing, vst::effFlagsCanReplacing);
    EXPECT_EQ(effect_->flags & vst::effFlagsCanDoubleReplacing, vst::effFlagsCanDoubleReplacing);
    EXPECT_EQ(effect_->flags & (vst::effFlagsProgramChunks | vst::effFlagsIsSynth), 0);
    EXPECT_EQ(effect_->initialDelay, 159);
    EXPECT_EQ(effect_->uniqueID, 0x5452716C);
    EXPECT_EQ(effect_->version, 1);
    EXPECT_EQ(effect_->ioRatio, 1.0f);
    EXPECT_EQ(effect_->realQualities, 0);
    EXPECT_EQ(effect_->offQualities, 0);
    EXPECT_NE(effect_->object, nullptr);
    EXPECT_NE(effect_->processReplacing, nullptr);
    EXPECT_NE(effect_->processDoubleReplacing, nullptr);
    // Asked twice: once by the entry, once by the factory.
    int versionQueries = 0;
    for (vst::int32 opcode : gHost.opcodes) versionQueries += opcode == vst::audioMasterVersion;
    EXPECT_EQ(versionQueries, 2);
}

TEST_F(LoadedPlugin, HostWithoutVersionGetsNoEffect) {
    gHost.versionAnswer = 0;
    EXPECT_EQ(entry_(hostCallback), nullptr);
    EXPECT_EQ(entry_(nullptr), nullptr);
}

TEST_F(LoadedPlugin, TextOpcodes) {
    open();
    EXPECT_EQ(text(vst::effGetEffectName), "Tarvel Quolt");
    EXPECT_EQ(text(vst::effGetProductString), "Full band precision limiter");
    EXPECT_EQ(text(vst::effGetVendorString).size(), 16u);
    EXPECT_EQ(dispatch(vst::effGetEffectName, 0, 0, nullptr), 0);  // no buffer, no answer
    EXPECT_EQ(text(vst::effGetParamName, 5), "L/R Link");
    EXPECT_EQ(text(vst::effGetParamName, 7), "DetectorOrder");
    EXPECT_EQ(text(vst::effGetParamName, 22), "dummy");
    EXPECT_EQ(text(vst::effGetParamName, 25), "resvd-vid");
    EXPECT_EQ(text(vst::effGetParamLabel, 0), "dB");
    EXPECT_EQ(text(vst::effGetParamLabel, 3), "ms");
    EXPECT_EQ(text(vst::effGetParamDisplay, 0), "0.000000");
    EXPECT_EQ(text(vst::effGetParamDisplay, 20), "12L");
    EXPECT_EQ(text(vst::effGetProgramName), "Current");
    // Indices the effect does not have, and texts that are empty, give the empty string
    // in a buffer the host never cleared, and nothing is written past it.
    const auto expectEmpty = [this](vst::int32 opcode, vst::int32 index) {
        char buffer[16];
        std::memset(buffer, 'x', sizeof(buffer));
        dispatch(opcode, index, 0, buffer);
        EXPECT_EQ(buffer[0], '\0') << "opcode " << opcode << ", index " << index;
        EXPECT_EQ(std::string(buffer + 1, 15), std::string(15, 'x'));
    };
    for (vst::int32 opcode : {vst::effGetParamName, vst::effGetParamDisplay, vst::effGetParamLabel}) {
        expectEmpty(opcode, 26);
        expectEmpty(opcode, -1);
    }
    expectEmpty(vst::effGetParamDisplay, 23);
    expectEmpty(vst::effGetParamLabel, 4);
    // Null text pointers are ignored.
    for (vst::int32 opcode : {vst::effGetParamName, vst::effGetParamDisplay, vst::effGetParamLabel,
                              vst::effGetProgramName, vst::effSetProgramName,
                              vst::effGetVendorString, vst::effGetProductString}) {
        EXPECT_EQ(dispatch(opcode, 0, 0, nullptr), 0);
    }
}

TEST_F(LoadedPlugin, ProgramNamesByIndex) {
    open();
    char name[64];
    EXPECT_EQ(dispatch(vst::effGetProgramNameIndexed, 23, 0, name), 1);
    EXPECT_STREQ(name, "Total Disorder");
    EXPECT_EQ(dispatch(vst::effGetProgramNameIndexed, 10, 0, name), 1);
    EXPECT_STREQ(name, "CD Master 3 [recon]");
    std::strcpy(name, "unchanged");
    EXPECT_EQ(dispatch(vst::effGetProgramNameIndexed, 24, 0, name), 0);
    EXPECT_EQ(dispatch(vst::effGetProgramNameIndexed, -1, 0, name), 0);
    EXPECT_STREQ(name, "unchanged");
}

// A host buffer after a text opcode: it was filled with a byte no text holds, so what
// the effect wrote and what it left alone can be told apart.
struct HostBuffer {
    static constexpr char kSentinel = '\xA5';
    char bytes[128];
    HostBuffer() { std::memset(bytes, kSentinel, sizeof(bytes)); }
    // Position of the first terminator, or -1.
    int terminator() const {
        const void* end = std::memchr(bytes, '\0', sizeof(bytes));
        return end == nullptr ? -1 : static_cast<int>(static_cast<const char*>(end) - bytes);
    }
    // One past the last byte the effect changed.
    int touched() const {
        int last = static_cast<int>(sizeof(bytes));
        while (last > 0 && bytes[last - 1] == kSentinel) --last;
        return last;
    }
};

// Every text the host reads is terminated and nothing is written past the terminator:
// hosts hand over buffers they never cleared, and many of them smaller than ours.
TEST_F(LoadedPlugin, EveryTextEndsAtItsTerminator) {
    open();
    const auto check = [this](vst::int32 opcode, vst::int32 index, const std::string& what) {
        HostBuffer buffer;
        dispatch(opcode, index, 0, buffer.bytes);
        const int end = buffer.terminator();
        ASSERT_GE(end, 0) << what << ": no terminator";
        EXPECT_EQ(buffer.touched(), end + 1) << what << ": \"" << buffer.bytes << "\"";
    };
    for (vst::int32 opcode : {vst::effGetEffectName, vst::effGetVendorString,
                              vst::effGetProductString}) {
        check(opcode, 0, "opcode " + std::to_string(opcode));
    }
    // Every index, each parameter at both ends, in the middle and at the factory steps.
    for (float x : {0.0f, 0.1f, 0.5f, 0.999167f, 1.0f}) {
        for (vst::int32 index = 0; index <= 21; ++index) effect_->setParameter(effect_, index, x);
        for (vst::int32 index = -1; index <= 26; ++index) {
            const std::string at = " of " + std::to_string(index) + " at " + std::to_string(x);
            check(vst::effGetParamName, index, "name" + at);
            check(vst::effGetParamLabel, index, "label" + at);
            check(vst::effGetParamDisplay, index, "display" + at);
        }
    }
}

// Program names are copied as their 24 stored bytes (the name, zero-filled) and a
// terminator after them: 25 bytes, never more, whatever the name's length.
TEST_F(LoadedPlugin, ProgramNamesWriteTwentyFiveBytes) {
    open();
    const auto check = [](const HostBuffer& buffer, const std::string& expected,
                          const std::string& what) {
        EXPECT_EQ(std::string(buffer.bytes), expected) << what;
        for (int i = static_cast<int>(expected.size()); i < 25; ++i) {
            ASSERT_EQ(buffer.bytes[i], '\0') << what << ": byte " << i;
        }
        EXPECT_LE(buffer.touched(), 25) << what;
    };
    for (vst::int32 slot = 0; slot < 24; ++slot) {
        HostBuffer buffer;
        ASSERT_EQ(dispatch(vst::effGetProgramNameIndexed, slot, 0, buffer.bytes), 1);
        EXPECT_GT(std::strlen(buffer.bytes), 0u) << "slot " << slot;
        check(buffer, buffer.bytes, "slot " + std::to_string(slot));
    }
    for (const char* name : {"", "short", "exactly twenty-four char",
                             "thirty characters of a program"}) {
        dispatch(vst::effSetProgramName, 0, 0, const_cast<char*>(name));
        const std::string stored = std::string(name).substr(0, 24);
        HostBuffer current;
        dispatch(vst::effGetProgramName, 0, 0, current.bytes);
        check(current, stored, std::string("current, named \"") + name + "\"");
        HostBuffer indexed;
        ASSERT_EQ(dispatch(vst::effGetProgramNameIndexed, 0, 0, indexed.bytes), 1);
        check(indexed, stored, std::string("slot 0, named \"") + name + "\"");
    }
    HostBuffer refused;
    EXPECT_EQ(dispatch(vst::effGetProgramNameIndexed, 24, 0, refused.bytes), 0);
    EXPECT_EQ(refused.touched(), 0);
}

TEST_F(LoadedPlugin, NumericOpcodes) {
    open();
    EXPECT_EQ(dispatch(vst::effIdentify), vst::fourCharCode('N', 'v', 'E', 'f'));
    EXPECT_EQ(dispatch(vst::effGetPlugCategory), 4);
    EXPECT_EQ(dispatch(vst::effGetVstVersion), 2400);
    EXPECT_EQ(dispatch(vst::effGetVendorVersion), 0);
    EXPECT_EQ(dispatch(vst::effGetTailSize), 0);
    EXPECT_EQ(dispatch(vst::effGetCurrentMidiProgram), -1);
    EXPECT_EQ(dispatch(vst::effGetProgram), 0);
    EXPECT_EQ(dispatch(vst::effGetChunk), 0);
    EXPECT_EQ(dispatch(vst::effSetChunk), 0);
    EXPECT_EQ(dispatch(vst::effString2Parameter, 0, 0, const_cast<char*>("1.0")), 0);
    EXPECT_EQ(dispatch(vst::effSetTotalSampleToProcess, 0, 777), 777);
    EXPECT_EQ(dispatch(vst::effOpen), 0);
    for (vst::int32 index : {0, 25, 99}) EXPECT_EQ(dispatch(vst::effCanBeAutomated, index), 1);
    for (const char* query : {"receiveVstMidiEvent", "bypass", "sendVstEvents", ""}) {
        EXPECT_EQ(dispatch(vst::effCanDo, 0, 0, const_cast<char*>(query)), 0) << query;
    }
    // The editor exists from construction: the rectangle is answered before any
    // open; without a parent window there is nothing to open and no key is used.
    EXPECT_EQ(effect_->flags & vst::effFlagsHasEditor, vst::effFlagsHasEditor);
    vst::ERect* rect = nullptr;
    EXPECT_EQ(dispatch(vst::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->right - rect->left, 524);
    EXPECT_EQ(rect->bottom - rect->top, 462);
    EXPECT_EQ(dispatch(vst::effEditGetRect), 0);
    EXPECT_EQ(dispatch(vst::effEditOpen), 0);
    EXPECT_EQ(dispatch(vst::effEditKeyDown, 'a', 0, nullptr, NAN), 0);
    dispatch(vst::effEditIdle);
    dispatch(vst::effEditClose);
    // Opcodes the effect does not know answer 0.
    for (vst::int32 opcode : {9, 16, 17, 18, 20, 21, 28, 30, 31, 40, 53, 57, 64, 70, 74, 78, 1000, -5}) {
        EXPECT_EQ(dispatch(opcode), 0) << opcode;
    }
    // setProgram is ignored for every value; the host sees program 0.
    dispatch(vst::effSetProgram, 0, 1);
    dispatch(vst::effSetProgram, 0, -1);
    EXPECT_EQ(dispatch(vst::effGetProgram), 0);
}

TEST_F(LoadedPlugin, ParameterPropertiesAndSpeakerArrangement) {
    open();
    vst::VstParameterProperties properties;
    std::memset(&properties, 0x7f, sizeof(properties));
    EXPECT_EQ(dispatch(vst::effGetParameterProperties, 3, 0, &properties), 1);
    EXPECT_FLOAT_EQ(properties.stepFloat, 0.0001f);
    EXPECT_EQ(properties.flags, vst::kVstParameterUsesFloatStep);
    EXPECT_EQ(properties.label[0], 0x7f);  // left as the host passed it
    EXPECT_EQ(properties.minInteger, 0x7f7f7f7f);
    EXPECT_EQ(dispatch(vst::effGetParameterProperties, 99, 0, &properties), 1);
    EXPECT_EQ(dispatch(vst::effGetParameterProperties, 0, 0, nullptr), 0);

    void* inputArrangement = &properties;
    void* outputArrangement = &properties;
    EXPECT_EQ(dispatch(vst::effGetSpeakerArrangement, 0,
                       reinterpret_cast<vst::intptr>(&inputArrangement), &outputArrangement),
              0);
    EXPECT_EQ(inputArrangement, nullptr);
    EXPECT_EQ(outputArrangement, nullptr);
}

TEST_F(LoadedPlugin, SampleRateChangesTheReportedLatencyWithoutTellingTheHost) {
    open();
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, 48000.0f);
    EXPECT_EQ(effect_->initialDelay, 159);
    gHost.opcodes.clear();
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, 96000.0f);
    EXPECT_EQ(effect_->initialDelay, 287);
    EXPECT_TRUE(gHost.opcodes.empty());
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, 192000.0f);
    EXPECT_EQ(effect_->initialDelay, 543);
    for (float bad : {0.0f, -48000.0f, 250000.0f, NAN, INFINITY, 1e30f}) {
        dispatch(vst::effSetSampleRate, 0, 0, nullptr, bad);
        EXPECT_EQ(effect_->initialDelay, 159) << bad;
    }
}

TEST_F(LoadedPlugin, ParametersThroughTheRecord) {
    open();
    effect_->setParameter(effect_, 9, 1.0f);
    EXPECT_EQ(text(vst::effGetParamDisplay, 9), "K-20");
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, 9), 1.0f);
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, 25), 0.015f);
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, 23), 0.0f);
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, 26), 0.0f);
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, -7), 0.0f);
    effect_->setParameter(effect_, 26, 0.5f);
    effect_->setParameter(effect_, -1, 0.5f);
    effect_->setParameter(effect_, 0, NAN);
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, 0), 1.0f);
    effect_->setParameter(effect_, 0, -INFINITY);
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, 0), 0.0f);
    effect_->setParameter(effect_, 1, 7.0f);
    EXPECT_FLOAT_EQ(effect_->getParameter(effect_, 1), 1.0f);
}

TEST_F(LoadedPlugin, ProcessingThroughTheRecordIsSafeWithOddArguments) {
    open();
    std::vector<float> left(64, 0.5f), right(64, -0.5f), outLeft(64, 9.0f), outRight(64, 9.0f);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outLeft.data(), outRight.data()};
    effect_->processReplacing(effect_, inputs, outputs, 0);
    EXPECT_EQ(outLeft[0], 9.0f);
    effect_->processReplacing(effect_, inputs, outputs, -5);
    effect_->processReplacing(effect_, nullptr, outputs, 64);
    for (float v : outLeft) EXPECT_EQ(v, 0.0f);
    effect_->processReplacing(effect_, inputs, nullptr, 64);
    float* nullInputs[2] = {nullptr, nullptr};
    effect_->processReplacing(effect_, nullInputs, outputs, 64);
    float* noFirstOutput[2] = {nullptr, outRight.data()};
    effect_->processReplacing(effect_, inputs, noFirstOutput, 64);
    effect_->process(effect_, inputs, outputs, 64);  // the obsolete entry does nothing
    double dl[8] = {}, dr[8] = {};
    double* dInputs[2] = {dl, dr};
    double* dOutputs[2] = {dl, dr};
    effect_->processDoubleReplacing(effect_, dInputs, dOutputs, 8);
}

TEST(LibraryExports, OnlyTheTwoEntryNames) {
    const std::string command = std::string("nm -D --defined-only '") + TQ_PLUGIN_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::size_t space = text.rfind(' ');
        names.push_back(space == std::string::npos ? text : text.substr(space + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"VSTPluginMain", "main"}));
}

TEST(EffectClose, WithoutOpenAndWithoutProcessing) {
    void* library = dlopen(TQ_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr);
    auto entry = reinterpret_cast<EntryFunction>(dlsym(library, "VSTPluginMain"));
    gHost = HostLog{};
    vst::AEffect* effect = entry(hostCallback);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->dispatcher(effect, vst::effClose, 0, 0, nullptr, 0.0f), 1);
    dlclose(library);
}

}  // namespace
