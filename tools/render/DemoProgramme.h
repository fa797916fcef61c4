// The built-in demo: about 20 s of deterministic synthetic programme material
// (drums with sharp transients, bass, pad, and a passage of inter-sample overs),
// mastered hot so that its sample peak lies above full scale.
#pragma once

#include <vector>

namespace tq {

struct DemoProgramme {
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    static constexpr double kSeconds = 20.0;
    // Sample peak of the finished programme: +1.5 dBFS.
    static constexpr double kPeak = 1.1885022274370185;

    // Interleaved stereo frames; the same on every run and every machine.
    static std::vector<double> generate();
};

}  // namespace tq
