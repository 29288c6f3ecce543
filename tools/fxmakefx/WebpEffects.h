#pragma once

// The WebP effects of fxmakefx: the example with soft alpha edges, and random animations for
// tests and long runs.
#include <cstdint>
#include <string>
#include <vector>

namespace fxmakefx {

// glow.webp: 160x160, loops forever; a ring of light that breathes while three sparks circle it,
// every edge a soft fall of alpha, which a GIF's one bit of transparency cannot carry.
std::vector<uint8_t> MakeGlow();

// fxmakefx --webp WxH FRAMES SEED lossless|lossy FILE, given the words after the option.
int MakeRandomWebpFile(const std::vector<std::string>& words);

}  // namespace fxmakefx
