#pragma once

// Plain effects of any size, for long runs of the player: a few bands of colour with a bar that
// sweeps across them frame by frame, flat enough that even 1920x1080 stays small as a GIF.
#include <cstdint>
#include <string>
#include <vector>

namespace fxmakefx {

enum class SizedKind { Loop, Once, BrokenFrame, Still };

// "loop", "once", "broken" (loops; its second frame does not decode) or "still" (a PNG).
bool ParseSizedKind(const std::string& word, SizedKind& kind);

// The file's bytes: a GIF of `frames` frames, or, for Still, a PNG.
std::vector<uint8_t> MakeSizedEffect(unsigned width, unsigned height, unsigned frames,
                                     SizedKind kind);

}  // namespace fxmakefx
