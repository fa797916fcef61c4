// The length a sound file's header promises, read from the header itself: the sound-file
// library quietly shortens a WAV or AIFF whose data was cut off to what is there, and a
// render must be able to say that the file is incomplete.
#pragma once

#include <cstdint>

namespace tq {

// Frames the header of the RIFF/WAVE, RF64 or AIFF/AIFC file open at `fd` declares;
// -1 for other containers or when the header cannot be walked. Reads with pread, so
// the descriptor's offset stays where it was.
std::int64_t declaredFrames(int fd);

}  // namespace tq
