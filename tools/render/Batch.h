// Batches: the files a list of inputs and folders names, their collision-free output
// names, and a pool of threads that renders them, each file on its own, so one failure
// does not stop the others.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "OutputFormats.h"

namespace tq {

struct BatchJob {
    std::string input;
    std::string output;
};

// Expands each folder into its sound files (by extension; hidden files and earlier
// "-render" outputs left out), then names every output NAME-render plus the format's
// extension, in `outputDirectory` (made if missing) or beside its input. Outputs that
// would coincide with each other or with an input get the input's extension
// ("m-mp3-render.wav"), then a number. Throws ToolError for an unreadable folder, an
// empty batch or an output directory that cannot be made.
std::vector<BatchJob> planBatch(const std::vector<std::string>& inputs,
                                const std::string& outputDirectory, FileFormat format);

// Whether `path` names a folder (following links).
bool isFolder(const std::string& path);

struct JobOutcome {
    bool succeeded = false;
    std::string error;   // the one-line reason of a failure
    std::string report;  // what the file's report printed
    double inputLufs = 0.0;
    double outputLufs = 0.0;
    double outputTruePeakDb = 0.0;
};

// Renders every job with `render` on up to `threads` threads (0: one per core) and
// answers the outcomes in job order. A job that throws fails alone; `finished` runs
// (serialised) as each job ends, in the order they end.
std::vector<JobOutcome> runBatch(
    const std::vector<BatchJob>& jobs, int threads,
    const std::function<JobOutcome(const BatchJob&)>& render,
    const std::function<void(const BatchJob&, const JobOutcome&)>& finished);

// The closing table: one line per file with its state and levels, and the count.
void printBatchSummary(std::FILE* out, const std::vector<BatchJob>& jobs,
                       const std::vector<JobOutcome>& outcomes);

}  // namespace tq
