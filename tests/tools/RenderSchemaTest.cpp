// The JSON report against its published schema, the render reproduced from a
// report alone, the plot, and the report's loudness and gain-reduction figures.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "tools/ToolTestSupport.h"

namespace tq::tooltest {
namespace {

// Checks a document against the part of JSON Schema the report's schema uses:
// type, enum, required, properties, additionalProperties, items, minimum,
// maximum, oneOf and local $ref. Collects every violation with its path.
class SchemaChecker {
  public:
    explicit SchemaChecker(const Json& root) : root_(root) {}

    // `reference` picks the part of the schema: "#" the whole, "#/$defs/NAME" a part.
    std::vector<std::string> check(const Json& document, const std::string& reference = "#") {
        errors_.clear();
        visit(resolve(reference), document, "$");
        return errors_;
    }

  private:
    static bool has(const Json& object, const std::string& key) {
        return object.kind == Json::Kind::object && object.members.count(key) != 0;
    }

    static bool hasType(const Json& value, const std::string& type) {
        switch (value.kind) {
            case Json::Kind::null:
                return type == "null";
            case Json::Kind::boolean:
                return type == "boolean";
            case Json::Kind::string:
                return type == "string";
            case Json::Kind::array:
                return type == "array";
            case Json::Kind::object:
                return type == "object";
            case Json::Kind::number:
                return type == "number" ||
                       (type == "integer" && std::floor(value.number) == value.number);
        }
        return false;
    }

    const Json& resolve(const std::string& reference) const {
        if (reference == "#") return root_;
        const std::string prefix = "#/$defs/";
        if (reference.compare(0, prefix.size(), prefix) != 0) {
            throw std::runtime_error("unsupported reference " + reference);
        }
        return root_["$defs"][reference.substr(prefix.size())];
    }

    bool matches(const Json& schema, const Json& value) {
        const std::vector<std::string> saved = errors_;
        visit(schema, value, "");
        const bool ok = errors_.size() == saved.size();
        errors_ = saved;
        return ok;
    }

    void visit(const Json& schema, const Json& value, const std::string& path) {
        if (has(schema, "$ref")) {
            visit(resolve(schema["$ref"].text), value, path);
            return;
        }
        if (has(schema, "type")) {
            const Json& type = schema["type"];
            bool ok = false;
            if (type.kind == Json::Kind::string) ok = hasType(value, type.text);
            for (const Json& option : type.items) ok = ok || hasType(value, option.text);
            if (!ok) {
                errors_.push_back(path + ": wrong type");
                return;
            }
        }
        if (has(schema, "enum")) {
            bool found = false;
            for (const Json& option : schema["enum"].items) {
                found = found || (option.kind == value.kind && option.text == value.text &&
                                  option.number == value.number);
            }
            if (!found) errors_.push_back(path + ": '" + value.text + "' not allowed");
        }
        if (has(schema, "oneOf")) {
            int matching = 0;
            for (const Json& option : schema["oneOf"].items)
                matching += matches(option, value) ? 1 : 0;
            if (matching != 1)
                errors_.push_back(path + ": matches " + std::to_string(matching) + " of oneOf");
        }
        if (value.kind == Json::Kind::number) {
            if (has(schema, "minimum") && value.number < schema["minimum"].number) {
                errors_.push_back(path + ": below the minimum");
            }
            if (has(schema, "maximum") && value.number > schema["maximum"].number) {
                errors_.push_back(path + ": above the maximum");
            }
        }
        if (value.kind == Json::Kind::object) {
            if (has(schema, "required")) {
                for (const Json& key : schema["required"].items) {
                    if (value.members.count(key.text) == 0)
                        errors_.push_back(path + "." + key.text + ": missing");
                }
            }
            const bool closed =
                has(schema, "additionalProperties") && !schema["additionalProperties"].boolean;
            for (const auto& [key, member] : value.members) {
                if (has(schema, "properties") && has(schema["properties"], key)) {
                    visit(schema["properties"][key], member, path + "." + key);
                } else if (closed) {
                    errors_.push_back(path + "." + key + ": not in the schema");
                }
            }
        }
        if (value.kind == Json::Kind::array && has(schema, "items")) {
            for (std::size_t i = 0; i < value.items.size(); ++i) {
                visit(schema["items"], value.items[i], path + "[" + std::to_string(i) + "]");
            }
        }
    }

    const Json& root_;
    std::vector<std::string> errors_;
};

Json loadSchema() {
    return Json::parse(readText(std::string(TQ_SOURCE_DIR) + "/tools/render/report-schema.json"));
}

Audio tone(int sampleRate, int channels, double seconds, double amplitude) {
    Audio audio;
    audio.sampleRate = sampleRate;
    audio.channels = channels;
    const auto frames = static_cast<std::int64_t>(seconds * sampleRate);
    for (std::int64_t n = 0; n < frames; ++n) {
        const double value = amplitude * std::sin(2.0 * M_PI * 997.0 * n / sampleRate);
        for (int c = 0; c < channels; ++c) audio.samples.push_back(value);
    }
    return audio;
}

class RenderSchemaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!realPluginLoads()) GTEST_SKIP() << "the plug-in cannot be created yet";
    }
    Json render(const std::vector<std::string>& arguments, int expectedExit = 0) {
        std::vector<std::string> all = {"--plugin", TQ_PLUGIN_PATH, "--json"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const RunResult run = runTool(all);
        EXPECT_EQ(run.exitCode, expectedExit) << run.err;
        return Json::parse(run.out);
    }
    TempDir dir_;
};

TEST_F(RenderSchemaTest, ReportsFollowTheSchema) {
    const Json schema = loadSchema();
    SchemaChecker checker(schema);
    writeAudio(dir_.file("stereo.wav"), makeSignal(44100, 2, 44100 * 4, 3, 0.9));
    writeAudio(dir_.file("mono.wav"), makeSignal(48000, 1, 48000 * 2, 4, 0.3));
    writeAudio(dir_.file("silent.wav"), tone(44100, 2, 1.0, 0.0));
    const std::vector<std::vector<std::string>> runs = {
        {dir_.file("stereo.wav"), dir_.file("a.wav")},
        {"--target-lufs", "-14", "--ceiling-dbtp", "-1", "--plot", dir_.file("p.png"),
         dir_.file("stereo.wav"), dir_.file("b.flac")},
        {"--ceiling-dbtp", "-3", "--double", "--mono-out", dir_.file("mono.wav"),
         dir_.file("c.wav")},
        {"--subtype", "pcm16", dir_.file("silent.wav"), dir_.file("d.wav")},
    };
    for (const auto& arguments : runs) {
        SCOPED_TRACE(arguments.front());
        const Json report = render(arguments);
        for (const std::string& error : checker.check(report)) ADD_FAILURE() << error;
    }
    // A batch wraps the same reports, and failures, in its own object.
    const RunResult batch =
        runTool({"--plugin", TQ_PLUGIN_PATH, "--json", "--outdir", dir_.file("out"),
                 dir_.file("mono.wav"), dir_.file("missing.wav")});
    EXPECT_NE(batch.exitCode, 0);
    const Json document = Json::parse(batch.out);
    for (const std::string& error : checker.check(document, "#/$defs/batch"))
        ADD_FAILURE() << error;
    ASSERT_EQ(document["files"].items.size(), 2u);
    EXPECT_EQ(document["files"].items[0]["output"]["measured_as"].text, "stereo");
    EXPECT_EQ(document["files"].items[1]["error"].kind, Json::Kind::string);

    // The checker itself refuses what the schema forbids.
    Json broken = render({dir_.file("stereo.wav"), dir_.file("a.wav")});
    broken.members.erase("settings");
    broken.members["extra"] = Json{};
    broken.members["input"].members["measured_as"].text = "quad";
    EXPECT_EQ(checker.check(broken).size(), 3u);
}

TEST_F(RenderSchemaTest, TheReportAloneReproducesTheRender) {
    writeAudio(dir_.file("in.wav"), makeSignal(48000, 2, 48000 * 3, 8, 0.7));
    const Json first =
        render({"--set", "Release=n:0.3", "--set", "Oversample=on", "--set", "Leveller=-3dB",
                "--subtype", "pcm24", "--target-lufs", "-11", "--ceiling-dbtp", "-1.5",
                dir_.file("in.wav"), dir_.file("first.wav")});
    ASSERT_TRUE(first["mastering"]["reached"].boolean);
    std::vector<std::string> again = {
        "--plugin",  first["plugin"].text,
        "--block",   std::to_string(static_cast<int>(first["block_size"].number)),
        "--format",  first["output_format"].text,
        "--subtype", first["output_subtype"].text};
    for (const Json& setting : first["settings"].items) {
        if (setting["display"].text.empty()) continue;
        again.push_back("--set");
        again.push_back(setting["name"].text + "=" + setting["normalised"].text);
    }
    again.push_back(first["input_file"].text);
    again.push_back(dir_.file("again.wav"));
    const RunResult run = runTool(again);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(readText(dir_.file("first.wav")) == readText(dir_.file("again.wav")));
}

TEST_F(RenderSchemaTest, PlotIsAPictureOfTheRender) {
    writeAudio(dir_.file("in.wav"), makeSignal(44100, 2, 44100 * 5, 9, 1.2));
    render({"--target-lufs", "-10", "--ceiling-dbtp", "-1", "--plot", dir_.file("plot.png"),
            dir_.file("in.wav"), dir_.file("out.wav")});
    const std::string bytes = readText(dir_.file("plot.png"));
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    cairo_surface_t* image = cairo_image_surface_create_from_png(dir_.file("plot.png").c_str());
    ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
    EXPECT_GE(cairo_image_surface_get_width(image), 800);
    const int width = cairo_image_surface_get_width(image);
    const int height = cairo_image_surface_get_height(image);
    const int stride = cairo_image_surface_get_stride(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    std::set<std::uint32_t> colours;
    std::size_t reddish = 0;  // the gain-reduction bars of a limited render
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = row[x] & 0xFFFFFFu;
            colours.insert(pixel);
            const unsigned red = (pixel >> 16) & 0xFF, green = (pixel >> 8) & 0xFF;
            if (red > 150 && green < 90) ++reddish;
        }
    }
    cairo_surface_destroy(image);
    // Background, both envelopes, gain reduction and text: far from blank.
    EXPECT_GT(colours.size(), 20u);
    EXPECT_GT(reddish, 500u);

    // A plot that cannot be written fails the run and names the file.
    const RunResult bad =
        runTool({"--plugin", TQ_PLUGIN_PATH, "--plot", dir_.file("no/such/dir.png"),
                 dir_.file("in.wav"), dir_.file("out2.wav")});
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_NE(bad.err.find("dir.png"), std::string::npos) << bad.err;
}

TEST_F(RenderSchemaTest, LoudnessFiguresOfKnownSignals) {
    // Ten seconds 10 dB apart: the loudness range spans the two levels.
    Audio steps = tone(48000, 2, 10.0, 0.5);
    const Audio quiet = tone(48000, 2, 10.0, 0.5 * std::pow(10.0, -10.0 / 20.0));
    steps.samples.insert(steps.samples.end(), quiet.samples.begin(), quiet.samples.end());
    writeAudio(dir_.file("steps.wav"), steps);
    const Json report = render({"--set", "Power=off", dir_.file("steps.wav"), dir_.file("o.wav")});
    const Json& in = report["input"];
    EXPECT_NEAR(in["loudness_range_lu"].number, 10.0, 0.5);
    EXPECT_NEAR(in["max_short_term_lufs"].number, -6.02, 0.1);
    EXPECT_NEAR(in["max_momentary_lufs"].number, -6.02, 0.1);
    // Power off passes the input: nothing is reduced.
    EXPECT_LT(report["gain_reduction"]["max_db"].number, 0.05);

    // Shorter than the 3 s window: no short-term figure rather than a wrong one.
    writeAudio(dir_.file("short.wav"), tone(48000, 2, 1.0, 0.5));
    const Json shortReport = render({dir_.file("short.wav"), dir_.file("s.wav")});
    EXPECT_EQ(shortReport["input"]["max_short_term_lufs"].kind, Json::Kind::null);
    EXPECT_NEAR(shortReport["input"]["max_momentary_lufs"].number, -6.02, 0.1);
}

TEST_F(RenderSchemaTest, GainReductionOfADrivenTone) {
    // A -6 dBFS tone driven by +12 dB: the limiter takes it back to full scale,
    // 6 dB below where Drive put it, all the time.
    writeAudio(dir_.file("tone.wav"), tone(48000, 2, 3.0, 0.5));
    const Json report = render({"--set", "Drive=+12dB", dir_.file("tone.wav"), dir_.file("o.wav")});
    EXPECT_NEAR(report["gain_reduction"]["max_db"].number, 6.0, 0.5);
    EXPECT_NEAR(report["gain_reduction"]["average_db"].number, 6.0, 0.5);
    // With Output down 3 dB the reduction is the same: it is measured against both gains.
    const Json trimmed = render({"--set", "Drive=+12dB", "--set", "Output=-3dB",
                                 dir_.file("tone.wav"), dir_.file("o.wav")});
    EXPECT_NEAR(trimmed["gain_reduction"]["average_db"].number,
                report["gain_reduction"]["average_db"].number, 0.05);
}

}  // namespace
}  // namespace tq::tooltest
