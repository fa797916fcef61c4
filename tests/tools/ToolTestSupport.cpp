#include "ToolTestSupport.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tq::tooltest {

RunResult runTool(const std::vector<std::string>& arguments, const std::string& workingDirectory) {
    RunSetup setup;
    setup.workingDirectory = workingDirectory;
    return runToolWith(arguments, setup);
}

RunResult runToolWith(const std::vector<std::string>& arguments, const RunSetup& setup) {
    TempDir streams;
    const std::string outPath = streams.file("stdout");
    const std::string errPath = streams.file("stderr");
    std::vector<std::string> argv = {TQ_RENDER_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);

    int feed[2] = {-1, -1};
    if (setup.inputFromPipe && pipe2(feed, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string inputPath = setup.inputFile.empty() ? "/dev/null" : setup.inputFile;
    const pid_t child = fork();
    if (child == 0) {
        const int in = setup.inputFromPipe ? feed[0] : open(inputPath.c_str(), O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!setup.workingDirectory.empty() && chdir(setup.workingDirectory.c_str()) != 0)
            _exit(126);
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (setup.fileSizeLimit >= 0) {
            const auto limit = static_cast<rlim_t>(setup.fileSizeLimit);
            const rlimit size{limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &size) != 0) _exit(126);
        }
        if (setup.alarmSeconds > 0) alarm(setup.alarmSeconds);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    if (setup.inputFromPipe) {
        close(feed[0]);
        // The child may stop reading early; that must not end the test with SIGPIPE.
        const auto previous = signal(SIGPIPE, SIG_IGN);
        std::size_t done = 0;
        while (done < setup.inputBytes.size()) {
            const ssize_t put =
                write(feed[1], setup.inputBytes.data() + done, setup.inputBytes.size() - done);
            if (put <= 0) break;
            done += static_cast<std::size_t>(put);
        }
        close(feed[1]);
        signal(SIGPIPE, previous);
    }
    RunResult result;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.out = readText(outPath);
    result.err = readText(errPath);
    return result;
}

RunResult runToolOnTerminal(const std::vector<std::string>& arguments) {
    TempDir streams;
    const std::string outPath = streams.file("stdout");
    std::vector<std::string> argv = {TQ_RENDER_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);

    int terminal = -1;
    int side = -1;
    if (openpty(&terminal, &side, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    const pid_t child = fork();
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(side, 2);
        close(terminal);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(side);
    RunResult result;
    // Read until the terminal closes (EIO once the child is gone).
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(terminal, buffer, sizeof buffer);
        if (got <= 0) break;
        result.err.append(buffer, static_cast<std::size_t>(got));
    }
    close(terminal);
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child) {
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    result.out = readText(outPath);
    return result;
}

std::string testPlugin(const std::string& name) {
    return std::string(TQ_TEST_PLUGIN_DIR) + "/" + name + ".so";
}

bool realPluginLoads() {
    static const bool loads = runTool({"--plugin", TQ_PLUGIN_PATH, "--list"}).exitCode == 0;
    return loads;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tq-tools-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

Audio makeSignal(int sampleRate, int channels, std::int64_t frames, unsigned seed, double peak) {
    Audio audio;
    audio.sampleRate = sampleRate;
    audio.channels = channels;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    audio.samples.resize(static_cast<std::size_t>(frames * channels));
    for (std::int64_t n = 0; n < frames; ++n) {
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(n) / sampleRate;
            const double value = 0.5 * std::sin(2.0 * M_PI * (220.0 + 110.0 * c) * t) +
                                 0.2 * std::sin(2.0 * M_PI * 3100.0 * t) + 0.3 * noise(random);
            // Single precision, so a float file holds the values exactly.
            audio.samples[static_cast<std::size_t>(n * channels + c)] =
                static_cast<float>(peak * value);
        }
    }
    return audio;
}

void writeAudio(const std::string& path, const Audio& audio, int format) {
    SF_INFO info{};
    info.samplerate = audio.sampleRate;
    info.channels = audio.channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) throw std::runtime_error("cannot write " + path);
    sf_writef_double(file, audio.samples.data(), audio.frames());
    sf_close(file);
}

Audio readAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        throw std::runtime_error("cannot read " + path + ": " + sf_strerror(nullptr));
    Audio audio;
    audio.sampleRate = info.samplerate;
    audio.channels = info.channels;
    audio.format = info.format;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(file, audio.samples.data(), info.frames);
    sf_close(file);
    return audio;
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> presetRecord(const std::vector<float>& values, bool bigEndian,
                                        unsigned char kind, const std::string& name) {
    std::vector<unsigned char> bytes(133, 0);
    const unsigned char magic[4] = {'l', 'q', 'R', 'T'};
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = bigEndian ? magic[3 - i] : magic[i];
    bytes[4] = kind;
    std::copy(name.begin(),
              name.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(name.size(), 24)),
              bytes.begin() + 5);
    for (std::size_t i = 0; i < values.size() && i < 26; ++i) {
        std::uint32_t word;
        std::memcpy(&word, &values[i], 4);
        for (int b = 0; b < 4; ++b) {
            const int shift = bigEndian ? 8 * (3 - b) : 8 * b;
            bytes[29 + 4 * i + static_cast<std::size_t>(b)] =
                static_cast<unsigned char>(word >> shift);
        }
    }
    return bytes;
}

// --- Json ---------------------------------------------------------------

namespace {

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    Json document() {
        Json value = parseValue();
        skipSpace();
        if (position_ != text_.size()) fail("text after the document");
        return value;
    }

  private:
    [[noreturn]] void fail(const std::string& what) {
        throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(position_));
    }
    void skipSpace() {
        while (position_ < text_.size() &&
               std::isspace(static_cast<unsigned char>(text_[position_]))) {
            ++position_;
        }
    }
    bool consume(const std::string& word) {
        if (text_.compare(position_, word.size(), word) != 0) return false;
        position_ += word.size();
        return true;
    }
    char peek() {
        skipSpace();
        if (position_ >= text_.size()) fail("unexpected end");
        return text_[position_];
    }

    Json parseValue() {
        const char c = peek();
        Json value;
        if (c == '{') {
            value.kind = Json::Kind::object;
            ++position_;
            if (peek() == '}') {
                ++position_;
                return value;
            }
            for (;;) {
                if (peek() != '"') fail("expected a member name");
                const std::string key = parseString();
                if (peek() != ':') fail("expected ':'");
                ++position_;
                value.members[key] = parseValue();
                const char next = peek();
                ++position_;
                if (next == '}') return value;
                if (next != ',') fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            value.kind = Json::Kind::array;
            ++position_;
            if (peek() == ']') {
                ++position_;
                return value;
            }
            for (;;) {
                value.items.push_back(parseValue());
                const char next = peek();
                ++position_;
                if (next == ']') return value;
                if (next != ',') fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            value.kind = Json::Kind::string;
            value.text = parseString();
            return value;
        }
        if (consume("true")) {
            value.kind = Json::Kind::boolean;
            value.boolean = true;
            return value;
        }
        if (consume("false")) {
            value.kind = Json::Kind::boolean;
            return value;
        }
        if (consume("null")) return value;
        return parseNumber();
    }

    std::string parseString() {
        ++position_;  // opening quote
        std::string result;
        while (position_ < text_.size() && text_[position_] != '"') {
            char c = text_[position_++];
            if (static_cast<unsigned char>(c) < 0x20) fail("control character in string");
            if (c == '\\') {
                if (position_ >= text_.size()) fail("unfinished escape");
                const char e = text_[position_++];
                if (e == 'u') {
                    if (position_ + 4 > text_.size()) fail("short \\u escape");
                    const unsigned code = std::stoul(text_.substr(position_, 4), nullptr, 16);
                    position_ += 4;
                    result += code < 0x80 ? static_cast<char>(code) : '?';
                    continue;
                }
                const std::string plain = "\"\\/bfnrt";
                if (plain.find(e) == std::string::npos) fail("bad escape");
                c = e == 'n' ? '\n' : e == 't' ? '\t' : e;
            }
            result += c;
        }
        if (position_ >= text_.size()) fail("unterminated string");
        ++position_;
        return result;
    }

    Json parseNumber() {
        const std::size_t start = position_;
        if (position_ < text_.size() && text_[position_] == '-') ++position_;
        while (position_ < text_.size() &&
               (std::isdigit(static_cast<unsigned char>(text_[position_])) ||
                std::string(".eE+-").find(text_[position_]) != std::string::npos)) {
            ++position_;
        }
        if (start == position_) fail("unexpected character");
        Json value;
        value.kind = Json::Kind::number;
        std::size_t used = 0;
        const std::string token = text_.substr(start, position_ - start);
        value.number = std::stod(token, &used);
        if (used != token.size()) fail("malformed number");
        return value;
    }

    const std::string& text_;
    std::size_t position_ = 0;
};

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    const auto found = members.find(key);
    if (kind != Kind::object || found == members.end()) {
        throw std::runtime_error("JSON: no member '" + key + "'");
    }
    return found->second;
}

Json Json::parse(const std::string& document) { return JsonReader(document).document(); }

}  // namespace tq::tooltest
