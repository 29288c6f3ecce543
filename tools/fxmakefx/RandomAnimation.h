#pragma once

// Animations whose every picture is known before they are encoded, for proving a player against
// the truth: the same seed makes the same canvases on every system. The canvases change the way
// effects do, so that an encoder writes partial frames, blends and disposals: a sprite moves over
// a transparent field (its old place cleared), patches of opaque and translucent colour come and
// go over a fixed background, and now and then the whole picture is new. Pixels with alpha 0 are
// (0,0,0,0). No two neighbouring canvases are the same.
#include <cstdint>
#include <vector>

#include "WebpWriter.h"

namespace fxmakefx {

struct RandomAnimation {
    unsigned width = 0, height = 0;
    int loopCount = 0;                 // 0 to 3; 0 loops forever
    std::vector<WebpCanvas> canvases;  // durations from 0 ms (shorter than a player shows) up
};

RandomAnimation MakeRandomAnimation(uint32_t seed, unsigned width, unsigned height,
                                    unsigned frames);

}  // namespace fxmakefx
