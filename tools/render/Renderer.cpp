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

// Frames per timed stretch of process calls. The clock is read once before and once after
// each stretch, not around every call: a thread CPU clock read costs about 190 ns, which
// at 512 frames a block would add most of a nanosecond to every frame measured.
constexpr int kStretchFrames = 8192;

// The effect's channels for a stretch of consecutive blocks, in the sample type of the
// chosen path; block b of channel c starts at frame b * blockSize, and each block has its
// own array of channel pointers, made once.
template <typename Sample>
struct ChannelStretch {
    ChannelStretch(int channels, int blocks, int blockSize)
        : channelCount(static_cast<std::size_t>(channels)),
          storage(channelCount, std::vector<Sample>(static_cast<std::size_t>(blocks) * blockSize)) {
        for (int b = 0; b < blocks; ++b) {
            for (auto& channel : storage) {
                pointers.push_back(channel.data() + static_cast<std::size_t>(b) * blockSize);
            }
        }
    }
    Sample** block(int b) { return pointers.data() + static_cast<std::size_t>(b) * channelCount; }
    std::size_t channelCount;
    std::vector<std::vector<Sample>> storage;
    std::vector<Sample*> pointers;
};

// The block loop for one sample type: Sample is float or double. A stretch of blocks is
// filled first, then processed back to back under one pair of clock reads, then read out.
template <typename Sample>
class BlockLoop {
  public:
    BlockLoop(PluginHost& host, int inputChannels, int outputChannels, int blockSize)
        : host_(host),
          inputChannels_(inputChannels),
          outputChannels_(outputChannels),
          blockSize_(blockSize),
          capacity_(std::max(1, kStretchFrames / blockSize)),
          inputs_(std::max(host.numInputs(), 1), capacity_, blockSize),
          outputs_(host.numOutputs(), capacity_, blockSize),
          latencies_(static_cast<std::size_t>(capacity_)) {}

    int capacity() const { return capacity_; }

    // Block `b` of the stretch gets `frames` interleaved input frames (the rest of the
    // block is silence).
    void fill(int b, const double* interleaved, int frames) {
        const std::size_t offset = static_cast<std::size_t>(b) * blockSize_;
        for (int c = 0; c < static_cast<int>(inputs_.storage.size()); ++c) {
            Sample* channel = inputs_.storage[static_cast<std::size_t>(c)].data() + offset;
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
    }

    // Processes blocks 0 .. blocks-1 of the stretch and returns the CPU time they took;
    // latencyAfter(b) is then the latency the effect reported after block b.
    double run(int blocks) {
        const double start = threadCpuSeconds();
        for (int b = 0; b < blocks; ++b) {
            host_.process(inputs_.block(b), outputs_.block(b), blockSize_);
            latencies_[static_cast<std::size_t>(b)] = host_.initialDelay();
        }
        return threadCpuSeconds() - start;
    }

    int latencyAfter(int b) const { return latencies_[static_cast<std::size_t>(b)]; }

    void copyOutput(int b, int offset, int frames, double* interleaved) const {
        const std::size_t start = static_cast<std::size_t>(b) * blockSize_ + offset;
        for (int c = 0; c < outputChannels_; ++c) {
            const Sample* channel = outputs_.storage[static_cast<std::size_t>(c)].data() + start;
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
    int capacity_;
    ChannelStretch<Sample> inputs_;
    ChannelStretch<Sample> outputs_;
    std::vector<int> latencies_;
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
    result.trace = EnvelopeTrace(input.sampleRate(), inChannels, outChannels);
    std::vector<double> inBlock(static_cast<std::size_t>(block) * inChannels);
    std::vector<double> outBlock(static_cast<std::size_t>(block) * outChannels);
    ProgressBar progress(settings.showProgress);

    std::int64_t inputLeft = result.frames;
    std::int64_t outputLeft = result.frames;
    std::int64_t framesToDrop = 0;
    while (outputLeft > 0) {
        // The first stretch is one block: some effects settle their latency only in the
        // first process call, and the number of blocks still to run depends on it. Each
        // block after that either drops latency frames or keeps output frames.
        int blocks = 1;
        if (result.processedFrames > 0) {
            const std::int64_t needed = (outputLeft + framesToDrop + block - 1) / block;
            blocks = static_cast<int>(std::min<std::int64_t>(needed, loop.capacity()));
        }
        for (int b = 0; b < blocks; ++b) {
            int fresh = static_cast<int>(std::min<std::int64_t>(block, inputLeft));
            if (fresh > 0) {
                const auto got = static_cast<int>(input.read(inBlock.data(), fresh));
                if (settings.measureInput) inputMeter.add(inBlock.data(), got);
                result.trace.addInput(inBlock.data(), got);
                inputLeft -= got;
                if (got < fresh) {
                    // The file ended before its header said: the output keeps the length
                    // of what was there.
                    outputLeft -= inputLeft;
                    result.frames -= inputLeft;
                    inputLeft = 0;
                    fresh = got;
                }
            }
            loop.fill(b, inBlock.data(), std::max(fresh, 0));
        }
        result.cpuSeconds += loop.run(blocks);

        for (int b = 0; b < blocks && outputLeft > 0; ++b) {
            if (result.processedFrames == 0) {
                // Nothing has been written yet, so reading the latency after the first
                // call still aligns the whole output (effects may announce it there,
                // through audioMasterIOChanged).
                result.latency = loop.latencyAfter(b);
                if (result.latency < 0 ||
                    result.latency > kMaxLatencySeconds * input.sampleRate()) {
                    throw ToolError("plug-in '" + host.path() +
                                    "' reports an impossible latency of " +
                                    std::to_string(result.latency) + " frames");
                }
                framesToDrop = result.latency;
            } else if (loop.latencyAfter(b) != result.latency && !result.latencyChanged) {
                // Output already written cannot be realigned; say so rather than
                // hand back a silently shifted file.
                result.latencyChanged = true;
                std::fprintf(stderr,
                             "tarvel-render: warning: plug-in latency changed from %d to %d "
                             "frames during the render; output after frame %lld is not aligned\n",
                             result.latency, loop.latencyAfter(b),
                             static_cast<long long>(result.frames - outputLeft));
            }
            result.processedFrames += block;

            const int dropped = static_cast<int>(std::min<std::int64_t>(framesToDrop, block));
            framesToDrop -= dropped;
            const int kept = static_cast<int>(std::min<std::int64_t>(block - dropped, outputLeft));
            if (kept > 0) {
                loop.copyOutput(b, dropped, kept, outBlock.data());
                output.write(outBlock.data(), kept);
                outputMeter.add(outBlock.data(), kept);
                result.trace.addOutput(outBlock.data(), kept);
                outputLeft -= kept;
            }
            progress.update(result.frames - outputLeft, result.frames);
        }
    }
    progress.finish();
    if (input.truncated()) result.declaredFrames = input.truncation().declaredFrames;
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
