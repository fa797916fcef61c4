// A picture of a render for an engineer to read at a glance: the input and
// output waveform envelopes over time, the gain reduction below them, and the
// target and result in the title. Written as PNG with cairo.
#pragma once

#include <string>

#include "Report.h"

namespace tq {

// Throws ToolError naming `path` when the picture cannot be written.
void writePlot(const std::string& path, const RenderReport& report);

}  // namespace tq
