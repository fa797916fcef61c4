// Parameter values in the effect's own units: every parameter's typed forms,
// the refusals, and the round trip of what --list prints, first on the pieces,
// then through the built tool and the project's own plug-in.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ParameterUnits.h"
#include "ToolError.h"
#include "effect/ParameterModel.h"
#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

constexpr int kLastShownParameter = kPostMeter;  // 22..25 show no value

bool isContinuous(int index) { return !std::isnan(parameterNumber(index, 0.5f)); }

// The message of the ToolError that `typed` raises for parameter `index`.
std::string refusal(int index, const std::string& typed) {
    try {
        const float x = modelValueFor(index, typed);
        ADD_FAILURE() << parameterName(index) << " took '" << typed << "' as " << x;
    } catch (const ToolError& error) {
        return error.what();
    }
    return {};
}

TEST(UnitValues, EveryContinuousParameterInItsUnit) {
    struct Case {
        int index;
        const char* typed;
        double number;  // the parameter's own number the value must carry
    };
    const Case cases[] = {
        {kOutput, "-1dB", -1.0},        {kOutput, "-1 dB", -1.0},
        {kOutput, "-12", -12.0},        {kOutput, "-0.5DB", -0.5},
        {kDrive, "+3dB", 3.0},          {kDrive, "-24dB", -24.0},
        {kDrive, "24.08 dB", 24.08},    {kDrive, "-0.1", -0.1},
        {kTransient, "0.25", 0.25},     {kTransient, "0.02ms", 0.02},  // the effect's label
        {kRelease, "100ms", 100.0},     {kRelease, "1", 1.0},
        {kRelease, "1000 ms", 1000.0},  {kRelease, "50.5", 50.5},
        {kLink, "50%", 50.0},           {kLink, "12.5", 12.5},
        {kLeveller, "-6dB", -6.0},      {kLeveller, "-30", -30.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(parameterName(c.index)) + " " + c.typed);
        const float x = modelValueFor(c.index, c.typed);
        EXPECT_NEAR(parameterNumber(c.index, x), c.number, 2e-5 * std::max(1.0, std::abs(c.number)));
    }
}

TEST(UnitValues, WordsEndsAndTheKnobPercentage) {
    EXPECT_EQ(modelValueFor(kLeveller, "off"), 1.0f);  // exactly 1.0 disengages it
    EXPECT_EQ(modelValueFor(kLeveller, "OFF"), 1.0f);
    EXPECT_EQ(modelValueFor(kLeveller, "0dB"), 1.0f);
    EXPECT_EQ(modelValueFor(kLeveller, "-oo"), 0.0f);
    EXPECT_EQ(modelValueFor(kOutput, "0dB"), 1.0f);
    EXPECT_EQ(modelValueFor(kDrive, "0dB"), 0.5f);
    EXPECT_EQ(modelValueFor(kRelease, "1ms"), 0.0f);
    EXPECT_EQ(modelValueFor(kRelease, "1000ms"), 1.0f);
    // The transient knob shows its position in percent, the host its share.
    EXPECT_EQ(modelValueFor(kTransient, "20%"), 0.2f);
    EXPECT_EQ(modelValueFor(kTransient, "100 %"), 1.0f);
    EXPECT_EQ(parameterDisplay(kTransient, modelValueFor(kTransient, "20%")), "0.020000");
    // The last digits the user typed may round the end of the range.
    EXPECT_EQ(modelValueFor(kDrive, "24.0824dB"), 1.0f);
    EXPECT_EQ(modelValueFor(kOutput, "-12.0412dB"), 0.0f);
}

TEST(UnitValues, StepsByTheirTextsAtTheStepCentres) {
    for (int index = 0; index <= kLastShownParameter; ++index) {
        const int steps = parameterSteps(index);
        for (int step = 0; step < steps; ++step) {
            SCOPED_TRACE(std::string(parameterName(index)) + " step " + std::to_string(step));
            const float centre = stepCentre(step, steps);
            std::string upper = parameterDisplay(index, centre);
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_EQ(modelValueFor(index, modelTypedText(index, centre)), centre);
            EXPECT_EQ(modelValueFor(index, upper), centre);
        }
    }
    EXPECT_EQ(modelValueFor(kBits, "24"), stepCentre(2, 3));
    EXPECT_EQ(modelValueFor(kNoiseShape, "type B"), stepCentre(2, 4));
    EXPECT_EQ(modelValueFor(kCalibrate, "l+r uncor"), stepCentre(2, 4));
    EXPECT_EQ(modelValueFor(kAttShow, ""), stepCentre(0, 8));
    EXPECT_EQ(modelValueFor(kAttShow, "\"\""), stepCentre(0, 8));
    EXPECT_EQ(modelValueFor(kAttShow, "12l"), stepCentre(7, 8));
}

// Of the floats that show the same text, the chosen one lies closest to the
// typed number: the mapping is inverted to the last bit, not approximately.
TEST(UnitValues, ClosestFloatToTheTypedNumber) {
    for (int index = 0; index <= kLastShownParameter; ++index) {
        if (!isContinuous(index)) continue;
        const double low = std::max(parameterNumber(index, 0.0f), -60.0);
        const double high = parameterNumber(index, 1.0f);
        for (int i = 0; i <= 200; ++i) {
            char typed[32];
            std::snprintf(typed, sizeof typed, "%.5f", low + (high - low) * i / 200.0);
            const double t = std::strtod(typed, nullptr);
            SCOPED_TRACE(std::string(parameterName(index)) + " " + typed);
            const float x = modelValueFor(index, typed);
            const double distance = std::abs(parameterNumber(index, x) - t);
            for (const float neighbour : {std::nextafter(x, 0.0f), std::nextafter(x, 1.0f)}) {
                if (neighbour == x || parameterDisplay(index, neighbour) != parameterDisplay(index, x)) {
                    continue;
                }
                EXPECT_LE(distance, std::abs(parameterNumber(index, neighbour) - t));
            }
            EXPECT_LT(distance, 1e-3 * std::max(1.0, std::abs(t)));
        }
    }
}

TEST(UnitValues, EveryTypedTextGivesItsDisplayBack) {
    std::mt19937 random(17);
    std::uniform_real_distribution<float> anywhere(0.0f, 1.0f);
    std::vector<float> grid;
    for (int i = 0; i <= 400; ++i) grid.push_back(static_cast<float>(i) / 400.0f);
    for (int i = 0; i < 400; ++i) grid.push_back(anywhere(random));
    for (const float edge : {1e-7f, 1e-6f, 0.0099f, 0.999999f, std::nextafter(1.0f, 0.0f)}) {
        grid.push_back(edge);
    }
    for (int index = 0; index <= kLastShownParameter; ++index) {
        for (const float x : grid) {
            const std::string typed = modelTypedText(index, x);
            const float back = modelValueFor(index, typed);
            ASSERT_EQ(parameterDisplay(index, back), parameterDisplay(index, x))
                << parameterName(index) << " at " << x << " typed as '" << typed << "'";
        }
    }
}

TEST(UnitRefusals, OutOfRangeStatesTheRange) {
    const std::string drive = refusal(kDrive, "+25dB");
    EXPECT_NE(drive.find("'Drive' takes -24.0823dB .. 24.08239dB"), std::string::npos) << drive;
    EXPECT_NE(drive.find("+25dB"), std::string::npos) << drive;
    const std::string release = refusal(kRelease, "0.5ms");
    EXPECT_NE(release.find("1.000000ms .. 1000.000ms"), std::string::npos) << release;
    EXPECT_NE(refusal(kLink, "101%").find("0.000000% .. 100.0000%"), std::string::npos);
    for (const auto& [index, typed] : std::vector<std::pair<int, std::string>>{
             {kOutput, "+0.1dB"}, {kOutput, "-13dB"}, {kOutput, "-oo"}, {kRelease, "1001ms"},
             {kTransient, "0.51"}, {kTransient, "101%"}, {kTransient, "-1%"}, {kLeveller, "+1dB"},
             {kDrive, "24.09dB"}}) {
        EXPECT_NE(refusal(index, typed).find("takes"), std::string::npos) << typed;
    }
}

TEST(UnitRefusals, WrongUnitsWordsAndSteps) {
    for (const auto& [index, typed] : std::vector<std::pair<int, std::string>>{
             {kDrive, "3ms"}, {kRelease, "100dB"}, {kLink, "50dB"}, {kDrive, "three"},
             {kDrive, "nan"}, {kDrive, "inf"}, {kDrive, "1e1"}, {kDrive, "0x10"}, {kOutput, ""},
             {kOutput, "off"}, {kLeveller, "on"}, {kDrive, "+"}, {kRelease, "."}}) {
        const std::string message = refusal(index, typed);
        EXPECT_NE(message.find(parameterName(index)), std::string::npos) << message;
        EXPECT_NE(message.find("n:VALUE"), std::string::npos) << message;
    }
    const std::string bits = refusal(kBits, "12");
    EXPECT_NE(bits.find("8 | 16 | 24"), std::string::npos) << bits;
    EXPECT_NE(refusal(kBits, "0.5").find("no step '0.5'"), std::string::npos);
    EXPECT_NE(refusal(kNoiseShape, "type D").find("off | type A | type B | type C"),
              std::string::npos);
    EXPECT_NE(refusal(kAttShow, "3").find("\"\" | 1 | 2 | 12 | L | 1L | 2L | 12L"),
              std::string::npos);
    for (int index = kDummyFirst; index < kNumParameters; ++index) {
        EXPECT_NE(refusal(index, "0.5").find("only n:VALUE"), std::string::npos);
    }
}

TEST(UnitRanges, UnitsEndsAndSteps) {
    EXPECT_EQ(rangeText(modelRange(kOutput)), "-12.0411dB .. 0.000000dB");
    EXPECT_EQ(rangeText(modelRange(kTransShape)), "hard | med | soft");
    EXPECT_EQ(modelRange(kRelease).unit, "ms");
    EXPECT_EQ(modelRange(kLink).unit, "%");
    EXPECT_EQ(modelRange(kLeveller).minimum, "-oo");
    EXPECT_FALSE(modelRange(kLeveller).alsoAccepted.empty());
    EXPECT_FALSE(modelRange(kLayoutMarker).showsValue);
    for (int index = 0; index <= kLastShownParameter; ++index) {
        const ParameterRange range = modelRange(index);
        EXPECT_EQ(range.steps.size(), static_cast<std::size_t>(parameterSteps(index)));
        EXPECT_NE(range.steps.empty(), range.minimum.empty()) << parameterName(index);
    }
}

TEST(UnitModel, DescribesOnlyTheEffectWithItsNames) {
    std::vector<std::string> names;
    for (int i = 0; i < kNumParameters; ++i) names.emplace_back(parameterName(i));
    const int code = ('T' << 24) | ('R' << 16) | ('q' << 8) | 'l';
    EXPECT_TRUE(modelDescribes(code, names));
    EXPECT_FALSE(modelDescribes(code + 1, names));
    names[kLink] = "Link";
    EXPECT_FALSE(modelDescribes(code, names));
    names.pop_back();
    EXPECT_FALSE(modelDescribes(code, names));
}

// Through the built tool with the project's plug-in.
class UnitsThroughTheTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!realPluginLoads()) GTEST_SKIP() << "the plug-in's entry returns no effect yet";
    }
    // --list --json after `settings`, by parameter index.
    std::vector<Json> listed(const std::vector<std::string>& settings) {
        std::vector<std::string> args = {"--plugin", TQ_PLUGIN_PATH, "--list", "--json"};
        args.insert(args.end(), settings.begin(), settings.end());
        const RunResult run = runTool(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        if (run.exitCode != 0) return std::vector<Json>(kNumParameters);
        return Json::parse(run.out)["parameters"].items;
    }
    RunResult refused(const std::string& assignment) {
        const RunResult run = runTool({"--plugin", TQ_PLUGIN_PATH, "--list", "--set", assignment});
        EXPECT_NE(run.exitCode, 0) << assignment;
        EXPECT_TRUE(run.out.empty()) << run.out;
        return run;
    }
};

TEST_F(UnitsThroughTheTool, ValuesInRealUnits) {
    const auto p = listed({"--set", "Drive=+3dB", "--set", "Release=100ms", "--set",
                           "Output=-1dB", "--set", "Transient=20%", "--set", "Leveller=-6dB",
                           "--set", "L/R Link=50%", "--set", "Bits=24", "--set",
                           "NoiseShape=type B"});
    EXPECT_NEAR(parameterNumber(kDrive, static_cast<float>(p[kDrive]["value"].number)), 3.0, 1e-5);
    EXPECT_EQ(p[kRelease]["display"].text, "100.0000");
    EXPECT_EQ(p[kOutput]["display"].text, "-1.00000");
    EXPECT_EQ(p[kTransient]["display"].text, "0.020000");
    EXPECT_EQ(p[kLeveller]["display"].text, "-6.00000");
    EXPECT_EQ(p[kLink]["display"].text, "50.00000");
    EXPECT_EQ(p[kBits]["display"].text, "24");
    EXPECT_EQ(p[kNoiseShape]["display"].text, "type B");

    const auto q = listed({"--set", "Leveller=-6dB", "--set", "Leveller=off", "--set",
                           "Drive=n:0.56", "--set", "release=1000"});
    EXPECT_EQ(q[kLeveller]["normalised"].text, "n:1");
    EXPECT_EQ(q[kDrive]["normalised"].text, "n:0.560000002");
    EXPECT_EQ(q[kRelease]["normalised"].text, "n:1");
}

TEST_F(UnitsThroughTheTool, NamesOnlyExactOrAnUnambiguousStart) {
    for (const char* wrong : {"OversampleOFF=on", "Oversampled=on", "DetectorOrderXYZ=II"}) {
        const RunResult run = refused(wrong);
        EXPECT_NE(run.err.find("unknown parameter"), std::string::npos) << run.err;
        const std::string real = std::string(wrong).find("Detector") == 0 ? "'DetectorOrder'"
                                                                            : "'Oversample'";
        EXPECT_NE(run.err.find("did you mean " + real), std::string::npos) << run.err;
    }
    const RunResult trans = refused("Trans=hard");
    EXPECT_NE(trans.err.find("ambiguous"), std::string::npos) << trans.err;
    EXPECT_NE(trans.err.find("'Transient' (2), 'TransShape' (4)"), std::string::npos) << trans.err;
    EXPECT_NE(refused("dummy=n:0").err.find("'dummy' (22), 'dummy' (23), 'dummy' (24)"),
              std::string::npos);
    EXPECT_NE(refused("Link=50%").err.find("'L/R Link'"), std::string::npos);

    const auto p = listed({"--set", "overs=on", "--set", "Detector=II", "--set", "TransS=soft",
                           "--set", "OUTPUT=-3dB", "--set", "resvd-vid=n:0.5"});
    EXPECT_EQ(p[kOversample]["display"].text, "on");
    EXPECT_EQ(p[kDetectorOrder]["display"].text, "II");
    EXPECT_EQ(p[kTransShape]["display"].text, "soft");
    EXPECT_EQ(p[kOutput]["display"].text, "-3.00000");
}

TEST_F(UnitsThroughTheTool, RefusalsNameTheRangeAndTheForms) {
    EXPECT_NE(refused("Drive=+30dB").err.find("-24.0823dB .. 24.08239dB"), std::string::npos);
    EXPECT_NE(refused("Bits=n:1.5").err.find("from 0 to 1"), std::string::npos);
    EXPECT_NE(refused("Bits=12").err.find("8 | 16 | 24"), std::string::npos);
    // A bare number is read in the unit, never as a normalised value.
    EXPECT_EQ(listed({"--set", "Drive=0.56"})[kDrive]["display"].text.substr(0, 4), "0.55");
}

TEST_F(UnitsThroughTheTool, ListShowsUnitsRangesAndSteps) {
    const auto p = listed({});
    EXPECT_EQ(p[kDrive]["unit"].text, "dB");
    EXPECT_EQ(p[kDrive]["minimum"].text, "-24.0823dB");
    EXPECT_EQ(p[kDrive]["maximum"].text, "24.08239dB");
    EXPECT_EQ(p[kRelease]["typed"].text, "199.9867ms");
    ASSERT_EQ(p[kBits]["steps"].items.size(), 3u);
    EXPECT_EQ(p[kBits]["steps"].items[1].text, "16");
    EXPECT_EQ(p[kLayoutMarker]["normalised"].text, "n:0.0149999997");

    const RunResult table = runTool({"--plugin", TQ_PLUGIN_PATH, "--list"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    for (const char* shown : {"-12.0411dB .. 0.000000dB", "hard | med | soft", "199.9867ms",
                              "n:0.723699987", "off | type A | type B | type C"}) {
        EXPECT_NE(table.out.find(shown), std::string::npos) << shown << "\n" << table.out;
    }
}

// What --list prints for a value, typed back, gives the same display; the
// normalised form gives the very same value.
TEST_F(UnitsThroughTheTool, ListOutputTypedBackGivesTheSameValue) {
    std::vector<std::string> names;
    for (int i = 0; i <= kLastShownParameter; ++i) names.emplace_back(parameterName(i));
    for (const double g : {0.0, 0.0004, 0.013, 0.1, 0.25, 0.3333, 0.5, 0.61, 0.75, 0.9, 0.9999, 1.0}) {
        SCOPED_TRACE(g);
        std::vector<std::string> normalisedSettings;
        for (const auto& name : names) {
            normalisedSettings.insert(normalisedSettings.end(),
                                      {"--set", name + "=n:" + std::to_string(g)});
        }
        const auto first = listed(normalisedSettings);
        std::vector<std::string> typedSettings;
        std::vector<std::string> exactSettings;
        for (std::size_t i = 0; i < names.size(); ++i) {
            typedSettings.insert(typedSettings.end(), {"--set", names[i] + "=" + first[i]["typed"].text});
            exactSettings.insert(exactSettings.end(),
                                 {"--set", names[i] + "=" + first[i]["normalised"].text});
        }
        const auto typedBack = listed(typedSettings);
        const auto exactBack = listed(exactSettings);
        for (std::size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(typedBack[i]["display"].text, first[i]["display"].text) << names[i];
            EXPECT_EQ(typedBack[i]["typed"].text, first[i]["typed"].text) << names[i];
            EXPECT_EQ(exactBack[i]["normalised"].text, first[i]["normalised"].text) << names[i];
        }
    }
}

}  // namespace
}  // namespace tq::tooltest
