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

// An animated WebP and a GIF of the same pictures, size and frames (WebpBench.cpp).
struct WebpCase {
    BusyGifRecipe recipe;
    std::string name;
    std::vector<uint8_t> webp, gif;
    std::wstring webpPath, gifPath;
};

// Makes both files in `folder`; false, with a line on standard error, when that fails.
bool MakeWebpCase(const BusyGifRecipe& recipe, const std::string& folder, WebpCase& c);
// The module's first pass and load of the WebP against libwebp's animation decoder and against
// the GIF.
void RegisterWebpBenchmarks(std::vector<WebpCase>& cases, std::vector<Row>& rows);
// The background load's worker on each WebP, per frame, against libwebp: a table of its own.
bool PrintWebpWorkerTable();

// Loading, the first pass of playback and cached playback, each against its floor.
void RegisterImageBenchmarks(std::vector<GifCase>& cases, std::vector<Row>& rows);

// The source between commands (Advance, Draw) and the application of a new command, which
// reloads `command`; the steady state shows the still image at `stillPath`.
void RegisterSourceBenchmarks(GifCase& command, const std::wstring& stillPath,
                              std::vector<Row>& rows);

// Starting an effect, frame by frame on the host's thread, on the design's path and with
// "backgroundLoad" 1 (StartBench.cpp). Their figures go into a table of their own: the worst host
// frame of each kind against the budget of one frame at 60 fps. `still` is a still picture (its
// recipe has no frames), started the same way.
void RegisterStartBenchmarks(std::vector<GifCase>& cases, GifCase& still);
// Prints that table; false when the background path missed the budget.
bool PrintStartTable();
bool WriteStartJson(const std::string& path);

// The background load against its floors (StreamBench.cpp): command to first pixel, peak memory of
// a long effect, the worker's decode per frame, late frames in real time; a table of their own.
void RegisterStreamBenchmarks(std::vector<GifCase>& cases);
bool PrintStreamTable();
bool WriteStreamJson(const std::string& path);

// The name of the floor benchmark of loading `c`, registered by RegisterImageBenchmarks.
std::string LoadFloorName(const GifCase& c);

}  // namespace bench
