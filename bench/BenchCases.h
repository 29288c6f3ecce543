#pragma once

// What the benchmark programs share: the GIFs they made, and where each group registers itself.
#include <cstdint>
#include <string>
#include <vector>

#include "BusyGif.h"
#include "Report.h"

namespace bench {

struct GifCase {
    BusyGifRecipe recipe;
    std::string name;  // "1920x1080x30": width, height, frames
    std::wstring path;
    std::vector<uint8_t> bytes;  // the file's bytes, for libnsgif alone
};

// Loading, the first pass of playback and cached playback, each against its floor.
void RegisterImageBenchmarks(std::vector<GifCase>& cases, std::vector<Row>& rows);

// The source between commands (Advance, Draw) and the application of a new command, which
// reloads `command`; the steady state shows the still image at `stillPath`.
void RegisterSourceBenchmarks(GifCase& command, const std::wstring& stillPath,
                              std::vector<Row>& rows);

// The name of the floor benchmark of loading `c`, registered by RegisterImageBenchmarks.
std::string LoadFloorName(const GifCase& c);

}  // namespace bench
