// Helpers for running the built render tool on generated files.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tq::tooltest {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs tarvel-render with `arguments` in `workingDirectory` (empty: inherited),
// standard input from /dev/null, and collects both output streams.
RunResult runTool(const std::vector<std::string>& arguments,
                  const std::string& workingDirectory = "");

// How the child of runToolWith starts.
struct RunSetup {
    std::string workingDirectory;  // empty: inherited
    std::string inputFile;         // standard input from this file (empty: /dev/null)
    bool inputFromPipe = false;    // ...or from a pipe carrying `inputBytes`
    std::string inputBytes;
    unsigned alarmSeconds = 0;  // a SIGALRM ends a child that would otherwise hang
    long fileSizeLimit = -1;    // RLIMIT_FSIZE in bytes, as `ulimit -f` sets it
};
RunResult runToolWith(const std::vector<std::string>& arguments, const RunSetup& setup);

// The same with standard error on a pseudo-terminal, as in an interactive shell;
// `err` then holds what the terminal received.
RunResult runToolOnTerminal(const std::vector<std::string>& arguments);

std::string testPlugin(const std::string& name);  // "tq-test-delay" -> its .so path
// Whether the project's own plug-in can be created yet (its entry may return null).
bool realPluginLoads();

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of all entries, hidden ones included.
    std::vector<std::string> entries() const;

  private:
    std::string path_;
};

struct Audio {
    int sampleRate = 44100;
    int channels = 2;
    int format = 0;
    std::vector<double> samples;  // interleaved
    std::int64_t frames() const { return static_cast<std::int64_t>(samples.size()) / channels; }
    double at(std::int64_t frame, int channel) const {
        return samples[static_cast<std::size_t>(frame * channels + channel)];
    }
};

// Seeded noise plus two sines, peaking near `peak`.
Audio makeSignal(int sampleRate, int channels, std::int64_t frames, unsigned seed,
                 double peak = 0.5);
void writeAudio(const std::string& path, const Audio& audio,
                int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT);
Audio readAudio(const std::string& path);
bool fileExists(const std::string& path);
std::string readText(const std::string& path);
void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes);
// A 133-byte preset record as the effect writes it: magic, `kind`, `name`, then up to 26
// values, each word little-endian unless `bigEndian` (the whole record byte-reversed).
std::vector<unsigned char> presetRecord(const std::vector<float>& values, bool bigEndian = false,
                                        unsigned char kind = '!',
                                        const std::string& name = "Test preset");

// Just enough JSON to check the tool's documents: objects, arrays, strings,
// numbers, true, false and null. Throws std::runtime_error on malformed input.
struct Json {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& key) const;
    static Json parse(const std::string& document);
};

}  // namespace tq::tooltest
