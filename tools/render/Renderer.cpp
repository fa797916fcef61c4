#include "Renderer.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ToolError.h"

namespace tq {
namespace {

// Latency beyond this is a broken descriptor, not a real look-ahead.
constexpr int kMaxLatencySeconds = 60;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// One line on standard error, redrawn only when the shown percentage changes.
class ProgressBar {
  public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    ~ProgressBar() { finish(); }

    void update(std::int64_t done, std::int64_t total) {
        if (!enabled_ || total <= 0) return;
        const int percent = static_cast<int>(100 * done / total);
        if (percent == shown_) return;
        shown_ = percent;
        constexpr int kWidth = 40;
        char bar[kWidth + 1];
        const int filled = percent * kWidth / 100;
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\rrendering [%s] %3d%%", bar, percent);
        std::fflush(stderr);
    }

    void finish() {
        if (!enabled_ || shown_ < 0) return;
        std::fprintf(stderr, "\r%*s\r", 60, "");
        std::fflush(stderr);
        shown_ = -1;
    }

  private:
    bool enabled_;
    int shown_ = -1;
};

// Per-channel blocks for the effect in the sample type of the chosen path.
template <typename Sample>
struct ChannelBlocks {
    ChannelBlocks(int channels, int frames)
        : storage(static_cast<std::size_t>(channels),
                  std::vector<Sample>(static_cast<std::size_t>(frames))) {
        for (auto& channel : storage) pointers.push_back(channel.data());
    }
    std::vector<std::vector<Sample>> storage;
    std::vector<Sample*> pointers;
};

// The block loop for one sample type: Sample is float or double.
template <typename Sample>
class BlockLoop {
  public:
    BlockLoop(PluginHost& host, int inputChannels, int outputChannels, int blockSize)
        : host_(host),
          inputChannels_(inputChannels),
          outputChannels_(outputChannels),
          blockSize_(blockSize),
          inputs_(std::max(host.numInputs(), 1), blockSize),
          outputs_(host.numOutputs(), blockSize) {}

    // Takes `frames` interleaved input frames (the rest of the block is
    // silence), runs one full block, and returns the CPU time it took.
    double run(const double* interleaved, int frames) {
        for (int c = 0; c < static_cast<int>(inputs_.storage.size()); ++c) {
            Sample* channel = inputs_.pointers[static_cast<std::size_t>(c)];
            if (c < inputChannels_) {
                for (int i = 0; i < frames; ++i) {
                    channel[i] = static_cast<Sample>(interleaved[i * inputChannels_ + c]);
                }
                std::fill(channel + frames, channel + blockSize_, Sample(0));
            } else {
                // Unconnected inputs carry silence even if the effect wrote into them.
                std::fill(channel, channel + blockSize_, Sample(0));
            }
        }
        const double start = threadCpuSeconds();
        host_.process(inputs_.pointers.data(), outputs_.pointers.data(), blockSize_);
        return threadCpuSeconds() - start;
    }

    void copyOutput(int offset, int frames, double* interleaved) const {
        for (int c = 0; c < outputChannels_; ++c) {
            const Sample* channel = outputs_.pointers[static_cast<std::size_t>(c)] + offset;
            for (int i = 0; i < frames; ++i) {
                interleaved[i * outputChannels_ + c] = static_cast<double>(channel[i]);
            }
        }
    }

  private:
    PluginHost& host_;
    int inputChannels_;
    int outputChannels_;
    int blockSize_;
    ChannelBlocks<Sample> inputs_;
    ChannelBlocks<Sample> outputs_;
};

template <typename Sample>
RenderResult renderWith(PluginHost& host, InputFile& input, AtomicOutputFile& output,
                        const RenderSettings& settings) {
    const int block = settings.blockSize;
    const int inChannels = input.channels();
    const int outChannels = settings.outputChannels;
    RenderResult result;
    result.frames = input.frames();

    BlockLoop<Sample> loop(host, inChannels, outChannels, block);
    LevelMeter inputMeter(inChannels, input.sampleRate());
    LevelMeter outputMeter(outChannels, input.sampleRate());
    std::vector<double> inBlock(static_cast<std::size_t>(block) * inChannels);
    std::vector<double> outBlock(static_cast<std::size_t>(block) * outChannels);
    ProgressBar progress(settings.showProgress);

    std::int64_t inputLeft = result.frames;
    std::int64_t outputLeft = result.frames;
    std::int64_t framesToDrop = 0;
    while (outputLeft > 0) {
        const int fresh = static_cast<int>(std::min<std::int64_t>(block, inputLeft));
        if (fresh > 0) {
            input.read(inBlock.data(), fresh);
            inputMeter.add(inBlock.data(), fresh);
            inputLeft -= fresh;
        }
        result.cpuSeconds += loop.run(inBlock.data(), fresh);
        if (result.processedFrames == 0) {
            // Some effects settle their latency only in the first process call
            // (and tell the host through audioMasterIOChanged); nothing has been
            // written yet, so reading it here still aligns the whole output.
            result.latency = host.initialDelay();
            if (result.latency < 0 || result.latency > kMaxLatencySeconds * input.sampleRate()) {
                throw ToolError("plug-in '" + host.path() + "' reports an impossible latency of " +
                                std::to_string(result.latency) + " frames");
            }
            framesToDrop = result.latency;
        } else if (host.initialDelay() != result.latency && !result.latencyChanged) {
            // Output already written cannot be realigned; say so rather than
            // hand back a silently shifted file.
            result.latencyChanged = true;
            std::fprintf(stderr,
                         "tarvel-render: warning: plug-in latency changed from %d to %d frames "
                         "during the render; output after frame %lld is not aligned\n",
                         result.latency, host.initialDelay(),
                         static_cast<long long>(result.frames - outputLeft));
        }
        result.processedFrames += block;

        const int dropped = static_cast<int>(std::min<std::int64_t>(framesToDrop, block));
        framesToDrop -= dropped;
        const int kept = static_cast<int>(std::min<std::int64_t>(block - dropped, outputLeft));
        if (kept > 0) {
            loop.copyOutput(dropped, kept, outBlock.data());
            output.write(outBlock.data(), kept);
            outputMeter.add(outBlock.data(), kept);
            outputLeft -= kept;
        }
        progress.update(result.frames - outputLeft, result.frames);
    }
    progress.finish();
    result.input = inputMeter.summary();
    result.output = outputMeter.summary();
    return result;
}

}  // namespace

RenderResult renderFile(PluginHost& host, InputFile& input, AtomicOutputFile& output,
                        const RenderSettings& settings) {
    if (settings.precision == SamplePrecision::double_) {
        return renderWith<double>(host, input, output, settings);
    }
    return renderWith<float>(host, input, output, settings);
}

}  // namespace tq
