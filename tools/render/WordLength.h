// The effect's own requantization matched to the output's sample word: a 16- or 24-bit
// file gets the effect's dithered requantization at its word length, so the file holds
// exactly what the effect shaped instead of a plain rounding by the file writer.
#pragma once

#include <string>
#include <vector>

#include "OutputFormats.h"
#include "PluginHost.h"

namespace tq {

// For an integer sample word: sets "Quantize" on and "Bits" to the word length, unless
// the user set Quantize (or Bits) in `assignments`; effects without those parameters are
// left alone. Answers a warning (empty when none) when the effect's requantization is
// coarser than the file's word, e.g. 16-bit content in a 24-bit file.
std::string matchWordLength(PluginHost& host, const std::vector<std::string>& assignments,
                            SampleFormat sampleFormat, FileFormat format);

}  // namespace tq
