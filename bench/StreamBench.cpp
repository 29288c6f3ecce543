// The background load ("backgroundLoad" 1) as a viewer and a host meet it, each figure against its
// floor from the same run: the command to the first pixel, the memory of a long effect within the
// default budget, the worker's decode of a frame, and late frames in real time. The figures go
// into a table of their own (`results/latest-stream.json` beside latest.json).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchCases.h"
#include "PlainGraphics.h"
#include "ThreadClock.h"
#include "image/BitmapImage.h"
#include "image/WorkerLoad.h"
#include "standin/Standin.h"

extern "C" {
#include <libnsgif.h>
}

namespace bench {

namespace {

constexpr int kRepetitions = 5;
constexpr double kHostFrame = 1.0 / 60.0;
constexpr uint64_t kDefaultBudget = 256ull << 20;
constexpr double kLateSeconds = 10.0;
// The long effect of the issue: ten seconds of full-screen frames of 40 ms.
const BusyGifRecipe kLongRecipe = {1920, 1080, 240, 4};
// Where the long effect is kept between runs (about 28 MB, made in code, never in git).
const char* const kCacheFolder = "build/bench-gifs";

struct StreamRow {
    std::string label;
    std::string floorLabel;
    double figure = -1.0;  // seconds, bytes or a count; -1: not measured
    double floor = -1.0;
    double slack = 0.0;  // the target: figure <= floor x maxRatio + slack
    double maxRatio = 1.0;
    std::string unit;       // "ms", "MB" or "frames"
    bool hasTarget = true;  // false: a figure derived for the reader, met by nothing
    std::string error;
};

// libnsgif as a program that uses nothing else would: bitmaps from malloc.
void* FloorCreate(int width, int height) {
    return std::malloc(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
}
void FloorDestroy(void* bitmap) {
    std::free(bitmap);
}
unsigned char* FloorBuffer(void* bitmap) {
    return static_cast<unsigned char*>(bitmap);
}
gif_bitmap_callback_vt LibnsgifCallbacks() {
    return {&FloorCreate, &FloorDestroy, &FloorBuffer, nullptr, nullptr, nullptr};
}

std::map<std::string, StreamRow>& Rows() {
    static auto* rows = new std::map<std::string, StreamRow>;
    return *rows;
}

// The CPU time of the process's other threads: the workers', while this one waits for them.
double WorkerCpu() {
    return threadclock::ProcessCpuSeconds() - threadclock::ThreadCpuSeconds();
}

uint64_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void Keep(const std::string& key, double figure, bool lowest = true) {
    StreamRow& row = Rows()[key];
    if (row.figure < 0.0 || (lowest ? figure < row.figure : figure > row.figure))
        row.figure = figure;
}

void KeepFloor(const std::string& key, double floor) {
    StreamRow& row = Rows()[key];
    if (row.floor < 0.0 || floor < row.floor)
        row.floor = floor;
}

// A long effect, made once and kept under build/ between runs as `<kind>-<name>.gif`.
const GifCase& CachedCase(const std::string& kind,
                          std::vector<uint8_t> (*make)(const BusyGifRecipe&)) {
    static auto* made = new std::map<std::string, GifCase>;
    GifCase& longCase = (*made)[kind];
    if (!longCase.bytes.empty())
        return longCase;
    longCase.recipe = kLongRecipe;
    longCase.name = "1920x1080x240";
    const std::string path = std::string(kCacheFolder) + "/" + kind + "-" + longCase.name + ".gif";
    std::ifstream in(path, std::ios::binary);
    longCase.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (longCase.bytes.empty()) {
        std::printf("making %s (once; kept for later runs)\n", path.c_str());
        longCase.bytes = make(kLongRecipe);
        std::error_code ignored;
        std::filesystem::create_directories(kCacheFolder, ignored);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(longCase.bytes.data()),
                  static_cast<std::streamsize>(longCase.bytes.size()));
    }
    if (kind != "busy")
        longCase.name += " " + kind;
    longCase.path = standin::FromUtf8(std::filesystem::absolute(path).string());
    return longCase;
}

// The long effect with noise in every pixel (about 535 MB): the worst case, where reading the file
// is most of the wait.
const GifCase& LongCase() {
    return CachedCase("busy", &MakeBusyGif);
}

// The same length and size as a real effect codes it (about 31 MB, like the 28 MB of a
// ten-second effect through a converter's palette filters).
const GifCase& PlasmaCase() {
    return CachedCase("plasma", &MakePlasmaGif);
}

// The long GIFs are made on first use, not at registration, so that a filter that skips them
// skips making them.
using CaseMaker = const GifCase& (*)();

bool StartAndSwap(BitmapImage& image, const GifCase& gif, uint64_t budget) {
    image.filePath = gif.path.c_str();
    image.SetBackgroundLoad(true);
    image.SetFrameCacheBytes(budget);
    image.Init();
    image.WaitForBackgroundFirstFrame();
    image.SwapInBackgroundLoad();
    return image.Snapshot().isAnimated && image.Snapshot().frameCount == gif.recipe.frames;
}

// Each frame change of one pass, waited for, so that the worker does what it does in a pass.
void PlayPass(BitmapImage& image, uint64_t* heapPeak = nullptr) {
    const uint32_t frames = image.Snapshot().frameCount;
    for (uint32_t i = 0; i < frames; ++i) {
        const BitmapImage::State state = image.Snapshot();
        image.Advance(state.frameDelays[state.currentFrame] + 1e-4f);
        image.WaitForBackgroundLoad();
        if (heapPeak)
            *heapPeak = std::max(*heapPeak, HeapInUse());
    }
}

// From the command (the load's start) to frame 0 in the texture, in wall time: what a viewer waits.
// A host adds up to one frame, until its next Advance swaps the load in.
void FirstPixel(benchmark::State& state, const GifCase* given, CaseMaker maker) {
    const GifCase& gif = given ? *given : maker();
    GraphicsScope plain(PlainGraphics());
    StreamRow& row = Rows()["first pixel " + gif.name];
    row.label = "command to first pixel, " + gif.name;
    row.floorLabel = "read frame 0's bytes + initialise + decode frame 0";
    row.unit = "ms";
    row.maxRatio = 1.2;
    row.slack = kHostFrame;
    StreamRow& whole = Rows()["first pixel whole " + gif.name];
    whole.label = row.label + " (whole file)";
    whole.floorLabel = "read the whole file + initialise + decode frame 0";
    whole.unit = row.unit;
    whole.maxRatio = row.maxRatio;
    whole.slack = row.slack;
    for (auto _ : state) {
        WaitForWorkersToEnd();
        BitmapImage image;
        const double start = threadclock::WallSeconds();
        const bool shown = StartAndSwap(image, gif, kDefaultBudget);
        const double seconds = threadclock::WallSeconds() - start;
        if (!shown) {
            state.SkipWithError("the effect did not load");
            row.error = "did not load";
            return;
        }
        state.SetIterationTime(seconds);
        Keep("first pixel " + gif.name, seconds);
        Keep("first pixel whole " + gif.name, seconds);
    }
    WaitForWorkersToEnd();
}

// The floor: just the bytes up to the end of frame 0 read from the file (or the whole file, which
// the module must scan to know the canvas, the frames and their delays before it shows any),
// libnsgif initialised on them, and frame 0 decoded.
void FirstPixelFloor(benchmark::State& state, const GifCase* given, CaseMaker maker,
                     bool wholeFile) {
    const GifCase& gif = given ? *given : maker();
    size_t frame0Bytes = gif.bytes.size();
    {
        gif_bitmap_callback_vt callbacks = LibnsgifCallbacks();
        gif_animation whole;
        gif_create(&whole, &callbacks);
        std::vector<uint8_t> bytes = gif.bytes;
        while (gif_initialise(&whole, bytes.size(), bytes.data()) == GIF_WORKING) {
        }
        if (whole.frame_count > 1 && !wholeFile)
            frame0Bytes = whole.frames[1].frame_pointer;
        gif_finalise(&whole);
    }
    const std::string path = standin::ToUtf8(gif.path);
    for (auto _ : state) {
        const double start = threadclock::WallSeconds();
        std::vector<uint8_t> bytes(frame0Bytes);
        std::FILE* file = std::fopen(path.c_str(), "rb");
        const size_t read = file ? std::fread(bytes.data(), 1, bytes.size(), file) : 0;
        if (file)
            std::fclose(file);
        gif_bitmap_callback_vt callbacks = LibnsgifCallbacks();
        gif_animation partial;
        gif_create(&partial, &callbacks);
        while (gif_initialise(&partial, read, bytes.data()) == GIF_WORKING) {
        }
        const gif_result decoded = gif_decode_frame(&partial, 0);
        const double seconds = threadclock::WallSeconds() - start;
        gif_finalise(&partial);
        if (read != frame0Bytes || decoded != GIF_OK) {
            state.SkipWithError("frame 0 did not decode from its own bytes");
            return;
        }
        state.SetIterationTime(seconds);
        KeepFloor((wholeFile ? "first pixel whole " : "first pixel ") + gif.name, seconds);
    }
}

// The heap at its highest while the long effect loads and plays two passes with the default
// budget, above what it was before; against the budget plus what comes on top of it.
void PeakMemory(benchmark::State& state, CaseMaker maker) {
    const GifCase& gif = maker();
    GraphicsScope plain(PlainGraphics());
    const std::string key = "peak memory " + gif.name;
    StreamRow& row = Rows()[key];
    row.label = "peak memory, " + gif.name + ", default budget";
    row.floorLabel = "budget + file + decoder canvas + texture + 2 frames";
    row.unit = "MB";
    const uint64_t frameBytes = uint64_t{gif.recipe.width} * gif.recipe.height * 4;
    row.floor = static_cast<double>(kDefaultBudget + gif.bytes.size() + 4 * frameBytes);
    for (auto _ : state) {
        WaitForWorkersToEnd();
        malloc_trim(0);
        const uint64_t before = HeapInUse();
        uint64_t peak = before;
        {
            BitmapImage image;
            if (!StartAndSwap(image, gif, kDefaultBudget)) {
                state.SkipWithError("the effect did not load");
                return;
            }
            PlayPass(image, &peak);
            PlayPass(image, &peak);
        }
        Keep(key, static_cast<double>(peak - before), false);
        WaitForWorkersToEnd();
    }
}

// The worker's CPU time for one pass of a ring (decoded again on every pass), per frame, against
// libnsgif decoding the same frames in order on this thread.
void WorkerDecode(benchmark::State& state, const GifCase* gif) {
    GraphicsScope plain(PlainGraphics());
    StreamRow& row = Rows()["worker decode"];
    row.label = "worker's decode per frame, " + gif->name + " in a ring";
    row.floorLabel = "libnsgif alone, per frame";
    row.unit = "ms";
    row.maxRatio = 1.05;
    const uint64_t frameBytes = uint64_t{gif->recipe.width} * gif->recipe.height * 4;
    BitmapImage image;
    if (!StartAndSwap(image, *gif, 4 * frameBytes)) {
        state.SkipWithError("the effect did not load");
        return;
    }
    PlayPass(image);
    for (auto _ : state) {
        const double start = WorkerCpu();
        PlayPass(image);
        const double perFrame = (WorkerCpu() - start) / gif->recipe.frames;
        state.SetIterationTime(perFrame);
        Keep("worker decode", perFrame);
    }
}

void DecodeFloor(benchmark::State& state, const GifCase* gif) {
    gif_bitmap_callback_vt callbacks = LibnsgifCallbacks();
    gif_animation animation;
    gif_create(&animation, &callbacks);
    std::vector<uint8_t> bytes = gif->bytes;
    while (gif_initialise(&animation, bytes.size(), bytes.data()) == GIF_WORKING) {
    }
    for (auto _ : state) {
        const double start = threadclock::ThreadCpuSeconds();
        for (uint32_t i = 0; i < gif->recipe.frames; ++i)
            gif_decode_frame(&animation, i);
        const double perFrame = (threadclock::ThreadCpuSeconds() - start) / gif->recipe.frames;
        state.SetIterationTime(perFrame);
        KeepFloor("worker decode", perFrame);
    }
    gif_finalise(&animation);
}

// Ten seconds of host frames at 60 fps in wall time, from the command on: frames due before the
// worker had them.
void LateFrames(benchmark::State& state, const GifCase* gif) {
    GraphicsScope plain(PlainGraphics());
    StreamRow& row = Rows()["late frames"];
    row.label = "late frames, " + gif->name + ", 10 s at 60 fps";
    row.floorLabel = "none";
    row.unit = "frames";
    row.floor = 0.0;
    for (auto _ : state) {
        WaitForWorkersToEnd();
        BitmapImage image;
        if (!StartAndSwap(image, *gif, kDefaultBudget)) {
            state.SkipWithError("the effect did not load");
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        const int frames = static_cast<int>(kLateSeconds / kHostFrame);
        for (int i = 1; i <= frames; ++i) {
            std::this_thread::sleep_until(start + std::chrono::duration<double>(i * kHostFrame));
            image.Advance(static_cast<float>(kHostFrame));
        }
        state.SetIterationTime(kLateSeconds);
        Keep("late frames", static_cast<double>(image.Snapshot().lateFrames));
    }
    WaitForWorkersToEnd();
}

std::string Figure(const StreamRow& row, double value) {
    if (value < 0.0)
        return "-";
    char text[48];
    if (row.unit == "ms")
        std::snprintf(text, sizeof text, "%.1f ms", value * 1e3);
    else if (row.unit == "MB")
        std::snprintf(text, sizeof text, "%.0f MB", value / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

bool Met(const StreamRow& row) {
    return row.hasTarget && row.figure >= 0.0 && row.floor >= 0.0 &&
           row.figure <= row.floor * row.maxRatio + row.slack;
}

std::string Target(const StreamRow& row) {
    if (!row.hasTarget)
        return "-";
    if (row.unit == "frames")
        return "0";
    char text[48];
    if (row.slack > 0.0)
        std::snprintf(text, sizeof text, "%.3gx + %.1f ms", row.maxRatio, row.slack * 1e3);
    else
        std::snprintf(text, sizeof text, "%.3gx", row.maxRatio);
    return text;
}

// What initialising libnsgif on a buffer still filling could win at most: frame 0 could be decoded
// once its own bytes are in, instead of after the whole file is read and scanned. Both floors
// decode frame 0, so their difference is the reading and scanning of the frames after it.
void AddStreamingBounds() {
    std::map<std::string, StreamRow> bounds;
    for (const auto& [key, whole] : Rows()) {
        const std::string prefix = "first pixel whole ";
        if (key.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string name = key.substr(prefix.size());
        const auto part = Rows().find("first pixel " + name);
        if (part == Rows().end() || whole.floor < 0.0 || part->second.floor < 0.0)
            continue;
        StreamRow& bound = bounds["streaming bound " + name];
        bound.label = "the most a streaming initialise saves, " + name;
        bound.floorLabel = "(the whole file's floor less frame 0's)";
        bound.unit = "ms";
        bound.hasTarget = false;
        bound.figure = std::max(0.0, whole.floor - part->second.floor);
    }
    Rows().insert(bounds.begin(), bounds.end());
}

}  // namespace

void RegisterStreamBenchmarks(std::vector<GifCase>& cases) {
    const GifCase* full = nullptr;
    for (const GifCase& c : cases)
        if (c.name == "1920x1080x30")
            full = &c;
    if (!full)
        return;
    auto add = [](const std::string& name, auto&& fn, auto... args) {
        return benchmark::RegisterBenchmark(name.c_str(), fn, args...)
            ->Iterations(1)
            ->Repetitions(kRepetitions)
            ->ReportAggregatesOnly(false)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    const CaseMaker given = nullptr;
    add("stream/first_pixel/1920x1080x30/background", FirstPixel, full, given);
    add("stream/first_pixel/1920x1080x30/floor", FirstPixelFloor, full, given, false);
    add("stream/first_pixel/1920x1080x30/whole_file_floor", FirstPixelFloor, full, given, true);
    const GifCase* made = nullptr;
    for (const auto& [kind, maker] : {std::pair{"busy", &LongCase}, {"plasma", &PlasmaCase}}) {
        const std::string name = std::string("stream/first_pixel/1920x1080x240/") + kind;
        add(name + "/background", FirstPixel, made, maker);
        add(name + "/floor", FirstPixelFloor, made, maker, false);
        add(name + "/whole_file_floor", FirstPixelFloor, made, maker, true);
        add(std::string("stream/peak_memory/1920x1080x240/") + kind, PeakMemory, maker)
            ->Repetitions(2);
    }
    add("stream/worker_decode/1920x1080x30/ring", WorkerDecode, full);
    add("stream/worker_decode/1920x1080x30/libnsgif", DecodeFloor, full);
    add("stream/late_frames/1920x1080x30", LateFrames, full)->Repetitions(1);
}

bool PrintStreamTable() {
    if (Rows().empty())
        return true;
    AddStreamingBounds();
    std::printf(
        "\nthe background load (wall time for the first pixel, the workers' CPU time for "
        "decoding, the heap for memory; fastest of the repetitions)\n");
    std::printf("%-60s %10s  %-52s %10s %8s %14s  %s\n", "figure", "", "floor", "", "ratio",
                "target", "met");
    bool allMet = true;
    for (const auto& [key, row] : Rows()) {
        const double ratio = row.floor > 0.0 && row.figure >= 0.0 ? row.figure / row.floor : -1.0;
        char ratioText[16] = "-";
        if (ratio >= 0.0)
            std::snprintf(ratioText, sizeof ratioText, "%.2f", ratio);
        const bool met = Met(row);
        allMet = allMet && (met || row.figure < 0.0 || !row.hasTarget);
        std::printf("%-60s %10s  %-52s %10s %8s %14s  %s\n", row.label.c_str(),
                    Figure(row, row.figure).c_str(), row.floorLabel.c_str(),
                    Figure(row, row.floor).c_str(), ratioText, Target(row).c_str(),
                    !row.hasTarget     ? "-"
                    : row.figure < 0.0 ? "not measured"
                    : met              ? "yes"
                                       : "NO");
    }
    return allMet;
}

bool WriteStreamJson(const std::string& path) {
    if (Rows().empty())
        return true;
    AddStreamingBounds();
    std::ofstream out(path, std::ios::trunc);
    out << "[\n";
    bool first = true;
    for (const auto& [key, row] : Rows()) {
        out << (first ? "" : ",\n") << "  {\"figure\": \"" << row.label
            << "\", \"value\": " << row.figure << ", \"floor\": \"" << row.floorLabel
            << "\", \"floorValue\": " << row.floor << ", \"unit\": \""
            << (row.unit == "ms"   ? "seconds"
                : row.unit == "MB" ? "bytes"
                                   : row.unit)
            << "\", \"target\": \"" << Target(row) << "\", \"met\": "
            << (!row.hasTarget ? "null"
                : Met(row)     ? "true"
                               : "false")
            << "}";
        first = false;
    }
    out << "\n]\n";
    return static_cast<bool>(out);
}

}  // namespace bench
