#include "Batch.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>

#include "ToolError.h"

namespace tq {
namespace {

// Sound files a folder may hold besides the formats the tool writes.
constexpr const char* kOtherReadableExtensions[] = {"w64", "rf64", "caf", "au", "snd"};

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash + 1);
}

std::string stemOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string extension = extensionOf(name);
    return extension.empty() ? name : name.substr(0, name.size() - extension.size() - 1);
}

bool isSoundFileName(const std::string& name) {
    if (name.empty() || name.front() == '.') return false;
    // An earlier run's outputs beside their inputs are not new inputs.
    if (stemOf(name).size() >= 7 && stemOf(name).substr(stemOf(name).size() - 7) == "-render") {
        return false;
    }
    if (formatFromExtension(name)) return true;
    const std::string extension = lowerCase(extensionOf(name));
    return std::any_of(std::begin(kOtherReadableExtensions), std::end(kOtherReadableExtensions),
                       [&](const char* other) { return extension == other; });
}

std::vector<std::string> folderFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) throw ToolError("cannot read folder '" + folder + "': " + error.message());
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        std::error_code typeError;
        if (isSoundFileName(name) && entry.is_regular_file(typeError)) {
            files.push_back((std::filesystem::path(folder) / name).string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The same file whichever way it is spelt ("./a.wav", "a.wav").
std::string normalised(const std::string& path) {
    return std::filesystem::absolute(path).lexically_normal().string();
}

std::string levelText(double value) {
    if (!std::isfinite(value)) return "-inf";
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f", value);
    return text;
}

}  // namespace

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<BatchJob> planBatch(const std::vector<std::string>& inputs,
                                const std::string& outputDirectory, FileFormat format) {
    std::vector<BatchJob> jobs;
    for (const auto& input : inputs) {
        if (isFolder(input)) {
            for (auto& file : folderFiles(input)) jobs.push_back({std::move(file), {}});
        } else {
            jobs.push_back({input, {}});
        }
    }
    if (jobs.empty()) throw ToolError("the batch holds no sound files");
    std::string directory = outputDirectory;
    if (!directory.empty()) {
        std::error_code error;
        std::filesystem::create_directories(directory, error);
        if (!isFolder(directory)) {
            throw ToolError("cannot make output folder '" + directory +
                            "': " + (error ? error.message() : "not a folder"));
        }
        if (directory.back() != '/') directory += '/';
    }

    auto placeOf = [&](const BatchJob& job) {
        return directory.empty() ? directoryOf(job.input) : directory;
    };
    auto plainName = [&](const BatchJob& job) {
        return placeOf(job) + stemOf(job.input) + "-render" + defaultExtension(format);
    };
    std::map<std::string, int> plainUses;
    for (const auto& job : jobs) ++plainUses[normalised(plainName(job))];
    std::set<std::string> taken;
    for (const auto& job : jobs) taken.insert(normalised(job.input));

    for (auto& job : jobs) {
        std::string name = plainName(job);
        const std::string inputExtension = lowerCase(extensionOf(job.input));
        if ((plainUses[normalised(name)] > 1 || taken.count(normalised(name)) > 0) &&
            !inputExtension.empty()) {
            name = placeOf(job) + stemOf(job.input) + "-" + inputExtension + "-render" +
                   defaultExtension(format);
        }
        const std::string base =
            name.substr(0, name.size() - std::string(defaultExtension(format)).size());
        for (int number = 2; taken.count(normalised(name)) > 0; ++number) {
            name = base + "-" + std::to_string(number) + defaultExtension(format);
        }
        taken.insert(normalised(name));
        job.output = name;
    }
    return jobs;
}

std::vector<JobOutcome> runBatch(
    const std::vector<BatchJob>& jobs, int threads,
    const std::function<JobOutcome(const BatchJob&)>& render,
    const std::function<void(const BatchJob&, const JobOutcome&)>& finished) {
    std::vector<JobOutcome> outcomes(jobs.size());
    std::atomic<std::size_t> next{0};
    std::mutex reporting;
    auto work = [&] {
        for (std::size_t i = next.fetch_add(1); i < jobs.size(); i = next.fetch_add(1)) {
            JobOutcome outcome;
            try {
                outcome = render(jobs[i]);
                outcome.succeeded = true;
            } catch (const ToolError& error) {
                outcome.error = error.what();
            } catch (const std::bad_alloc&) {
                outcome.error = "out of memory";
            } catch (const std::exception& error) {
                outcome.error = error.what();
            }
            const std::lock_guard<std::mutex> lock(reporting);
            outcomes[i] = std::move(outcome);
            finished(jobs[i], outcomes[i]);
        }
    };
    unsigned count =
        threads > 0 ? static_cast<unsigned>(threads) : std::thread::hardware_concurrency();
    count = std::clamp<unsigned>(count, 1, static_cast<unsigned>(jobs.size()));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < count; ++t) pool.emplace_back(work);
    work();
    for (auto& thread : pool) thread.join();
    return outcomes;
}

void printBatchSummary(std::FILE* out, const std::vector<BatchJob>& jobs,
                       const std::vector<JobOutcome>& outcomes) {
    std::size_t width = 5;
    for (const auto& job : jobs) width = std::max(width, job.input.size());
    width = std::min<std::size_t>(width, 48);
    std::fprintf(out, "\n%-*s  %-6s  %8s  %8s  %8s  %s\n", static_cast<int>(width), "input",
                 "state", "in LUFS", "out LUFS", "out dBTP", "output or reason");
    std::size_t failed = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const JobOutcome& outcome = outcomes[i];
        if (outcome.succeeded) {
            std::fprintf(out, "%-*s  %-6s  %8s  %8s  %8s  %s\n", static_cast<int>(width),
                         jobs[i].input.c_str(), "ok", levelText(outcome.inputLufs).c_str(),
                         levelText(outcome.outputLufs).c_str(),
                         levelText(outcome.outputTruePeakDb).c_str(), jobs[i].output.c_str());
        } else {
            ++failed;
            std::fprintf(out, "%-*s  %-6s  %8s  %8s  %8s  %s\n", static_cast<int>(width),
                         jobs[i].input.c_str(), "FAILED", "", "", "", outcome.error.c_str());
        }
    }
    std::fprintf(out, "%zu of %zu files rendered%s\n", jobs.size() - failed, jobs.size(),
                 failed > 0 ? ", some FAILED" : "");
}

}  // namespace tq
