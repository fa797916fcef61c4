// Parameters by name and display text, presets and --list, seen through the
// test plug-in's own texts.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

// --list --json with the given settings, as parameter name -> entry.
std::map<std::string, Json> listed(const std::vector<std::string>& settings,
                                   const std::string& plugin = "tq-test-delay") {
    std::vector<std::string> args = {"--plugin", testPlugin(plugin), "--list", "--json"};
    args.insert(args.end(), settings.begin(), settings.end());
    const RunResult run = runTool(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::map<std::string, Json> byName;
    const Json document = Json::parse(run.out);
    for (const auto& p : document["parameters"].items) byName[p["name"].text] = p;
    return byName;
}

std::string displayAfter(const std::vector<std::string>& settings, const std::string& name) {
    return listed(settings)[name]["display"].text;
}

TEST(ParameterList, TableShowsEveryParameterWithDisplayAndLabel) {
    const RunResult run = runTool({"--plugin", testPlugin("tq-test-delay"), "--list"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Test Delay: 26 parameters"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Gain"), std::string::npos);
    EXPECT_NE(run.out.find("dB"), std::string::npos);
    EXPECT_NE(run.out.find("Spare25"), std::string::npos);
}

TEST(ParameterList, JsonHasOneEntryPerParameter) {
    const RunResult run = runTool({"--plugin", testPlugin("tq-test-delay"), "--list", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Json document = Json::parse(run.out);
    EXPECT_EQ(document["effect_name"].text, "Test Delay");
    const auto& parameters = document["parameters"].items;
    ASSERT_EQ(parameters.size(), 26u);
    EXPECT_EQ(parameters[0]["name"].text, "Gain");
    EXPECT_EQ(parameters[0]["display"].text, "0.00");
    EXPECT_EQ(parameters[0]["label"].text, "dB");
    EXPECT_EQ(parameters[0]["value"].number, 0.5);
    EXPECT_EQ(parameters[1]["display"].text, "thru");
    EXPECT_EQ(parameters[2]["display"].text, "100");
    EXPECT_EQ(parameters[25]["index"].number, 25);
}

TEST(ParameterSet, DisplayTextsAndNormalisedValues) {
    EXPECT_EQ(displayAfter({"--set", "Mode=invert"}, "Mode"), "invert");
    EXPECT_EQ(displayAfter({"--set", "Mode=swap"}, "Mode"), "swap");
    EXPECT_EQ(displayAfter({"--set", "Gain=n:0.25"}, "Gain"), "-6.02");
    EXPECT_EQ(displayAfter({"--set", "Gain=-6.02"}, "Gain"), "-6.02");
    EXPECT_EQ(displayAfter({"--set", "Gain=-oo"}, "Gain"), "-oo");
    EXPECT_EQ(displayAfter({"--set", "Delay=n:0.9"}, "Delay"), "1000");
    EXPECT_EQ(displayAfter({"--set", "Delay=0"}, "Delay"), "0");
    // Later --set of the same parameter wins.
    EXPECT_EQ(displayAfter({"--set", "Mode=invert", "--set", "Mode=swap"}, "Mode"), "swap");
}

TEST(ParameterSet, TheEffectsLabelMayFollowTheText) {
    EXPECT_EQ(displayAfter({"--set", "Gain=-6.02dB"}, "Gain"), "-6.02");
    EXPECT_EQ(displayAfter({"--set", "Gain=-6.02 DB"}, "Gain"), "-6.02");
    EXPECT_EQ(listed({"--set", "Gain=-6.02dB"}).at("Gain")["typed"].text, "-6.02dB");
}

TEST(ParameterSet, BareNumbersAreDisplayTextsNeverNormalisedValues) {
    EXPECT_EQ(displayAfter({"--set", "Delay=1"}, "Delay"), "1");
    EXPECT_EQ(displayAfter({"--set", "Delay=n:1"}, "Delay"), "1000");
    EXPECT_EQ(displayAfter({"--set", "Delay=n:0.3"}, "Delay"), "1");
    EXPECT_EQ(displayAfter({"--set", "Delay=100"}, "Delay"), "100");
    EXPECT_EQ(listed({"--set", "Marker=n:0.75"}).at("Marker")["normalised"].text, "n:0.75");
}

TEST(ParameterSet, ExactCaseFirstThenIgnoringCase) {
    EXPECT_EQ(displayAfter({"--set", "Mode=Tag"}, "Mode"), "Tag");
    EXPECT_EQ(displayAfter({"--set", "Mode=tag"}, "Mode"), "tag");
    EXPECT_EQ(displayAfter({"--set", "Mode=TAG"}, "Mode"), "tag");
    EXPECT_EQ(displayAfter({"--set", "Mode=INVERT"}, "Mode"), "invert");
    // Names too: exact first, then ignoring case.
    EXPECT_EQ(displayAfter({"--set", "mode=swap"}, "Mode"), "swap");
}

TEST(ParameterSet, NamesMatchWholeOrByAnUnambiguousStart) {
    EXPECT_EQ(listed({"--set", "LongName=n:0.25"}).at("LongName")["value"].number, 0.25);
    EXPECT_EQ(listed({"--set", "Long=n:0.5"}).at("LongName")["value"].number, 0.5);
    EXPECT_EQ(displayAfter({"--set", "mo=swap"}, "Mode"), "swap");
    // A typed name that runs past the effect's (cut) name is another name.
    const RunResult longer = runTool({"--plugin", testPlugin("tq-test-delay"), "--list", "--set",
                                      "LongNameParameter=n:0.75"});
    EXPECT_NE(longer.exitCode, 0);
    EXPECT_NE(longer.err.find("did you mean 'LongName' (4)"), std::string::npos) << longer.err;
    // "Spare" starts twenty names.
    const RunResult spare =
        runTool({"--plugin", testPlugin("tq-test-delay"), "--list", "--set", "Spare=n:0"});
    EXPECT_NE(spare.exitCode, 0);
    EXPECT_NE(spare.err.find("ambiguous"), std::string::npos) << spare.err;
}

TEST(ParameterSet, StepValueIsTheMiddleOfTheStep) {
    const auto byName = listed({"--set", "Mode=swap"});
    // Step 2 of 6 covers 1/3 .. 1/2.
    EXPECT_NEAR(byName.at("Mode")["value"].number, 5.0 / 12.0, 0.001);
}

TEST(ParameterSet, SearchingOneParameterLeavesTheOthersAlone) {
    // Probing Marker below 0.01 resets Gain inside the plug-in; the host puts it back.
    const auto byName = listed({"--set", "Gain=n:0.25", "--set", "Marker=50.0"});
    EXPECT_EQ(byName.at("Gain")["display"].text, "-6.02");
    EXPECT_EQ(byName.at("Marker")["display"].text, "50.0");
    // A deliberate value below 0.01 keeps the plug-in's own side effect.
    EXPECT_EQ(
        listed({"--set", "Gain=n:0.25", "--set", "Marker=n:0.005"}).at("Gain")["display"].text,
        "-oo");
}

TEST(ParameterPreset, AppliesAllValuesInEitherByteOrder) {
    TempDir dir;
    std::vector<float> values(26, 0.0f);
    values[0] = 0.25f;  // Gain -6.02 dB
    values[1] = 0.3f;   // invert
    values[2] = 0.3f;   // Delay 1
    values[3] = 0.75f;
    values[25] = 0.125f;
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian);
        auto bytes = presetRecord(values, bigEndian, '!', "Loud master");
        bytes.push_back(0xEE);  // bytes past the record are ignored
        writeBytes(dir.file("p.tarvel"), bytes);
        const auto byName = listed({"--preset", dir.file("p.tarvel")});
        EXPECT_EQ(byName.at("Gain")["display"].text, "-6.02");
        EXPECT_EQ(byName.at("Mode")["display"].text, "invert");
        EXPECT_EQ(byName.at("Delay")["display"].text, "1");
        EXPECT_EQ(byName.at("Marker")["value"].number, 0.75);
        EXPECT_EQ(byName.at("Spare25")["value"].number, 0.125);
    }
}

TEST(ParameterPreset, SetValuesApplyAfterThePreset) {
    TempDir dir;
    std::vector<float> values(26, 0.0f);
    values[0] = 0.5f;
    values[1] = 0.3f;  // invert
    values[3] = 0.5f;
    writeBytes(dir.file("p.tarvel"), presetRecord(values, false, '!', "Loud master"));
    EXPECT_EQ(displayAfter({"--set", "Mode=swap", "--preset", dir.file("p.tarvel")}, "Mode"),
              "swap");
}

TEST(ParameterPreset, PresetNameAppearsInTheReport) {
    TempDir dir;
    std::vector<float> values(26, 0.5f);
    values[1] = 0.1f;
    writeBytes(dir.file("p.tarvel"), presetRecord(values, false, '!', "Loud master"));
    writeAudio(dir.file("in.wav"), makeSignal(44100, 2, 500, 31));
    const RunResult run = runTool({"--plugin", testPlugin("tq-test-delay"), "--json", "--preset",
                                   dir.file("p.tarvel"), dir.file("in.wav"), dir.file("out.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out)["preset"].text, "Loud master");
}

}  // namespace
}  // namespace tq::tooltest
