#pragma once

// What the image holder makes of one effect file and what it costs on the host's render thread:
// every figure is read from a BitmapImage on the stand-in host, or measured around its calls.
#include <cstdint>
#include <string>
#include <vector>

#include "GifHeader.h"
#include "WebpHeader.h"

namespace fxinspect {

struct Options {
    std::string file;
    bool json = false;
    double fps = 60.0;
    bool realTime = true;  // --no-real-time clears it: the late frames are then not measured
    // --step / --steps: a walk of its own, recorded frame by frame with the texture's fingerprint.
    bool hasStep = false;
    float step = 0.0f;
    long steps = -1;  // -1: not given
    bool StepsAsked() const { return hasStep || steps >= 0; }
};

enum class FileKind { Missing, Folder, File };

// The holder's path a file takes, by its extension as the module tells them.
enum class Format { Other, Gif, Webp };

// The holder's bytes in the host's allocator, by what they are for, and the texture beside them.
struct Memory {
    uint64_t fileBuffer = 0;     // the whole file, kept while it plays
    uint64_t frameStore = 0;     // every frame's pixels, allocated and cleared at load
    uint64_t decoderCanvas = 0;  // libnsgif's bitmap of the last decoded frame
    uint64_t tables = 0;         // the rest: the frame table, the delays, the texture object
    uint64_t total = 0;          // measured: the allocator's live bytes after the load, less before
    uint64_t texture = 0;        // the texture's pixels, on the graphics side
    // Beside the host's allocator, in the C runtime's heap: libwebp's animation decoder keeps the
    // canvas it composes on and the one before it, as long as the WebP shows.
    uint64_t decoderHeap = 0;
};

struct FrameChanges {
    uint32_t count = 0;
    double meanMs = 0.0, worstMs = 0.0;
    uint32_t worstFrame = 0;
};

// What the figures mean at the host's frame rate, from the module's time alone.
struct AtHostRate {
    double fps = 60.0;
    double frameMs = 0.0;         // the host's budget for one frame
    uint64_t droppedAtStart = 0;  // frames the load's host frame runs over into
    // The host frames of the first pass, each one Advance of 1/fps seconds after a fresh load, up
    // to the last that decoded a frame.
    uint64_t hostFrames = 0;
    uint64_t passHostFrames = 0;  // host frames in one pass
    bool stillDecoding = false;   // the simulation gave up while playback still decoded
    uint64_t overBudget = 0;
    uint64_t droppedInFirstPass = 0;
    double worstMs = 0.0;
    uint32_t uncached = 0;     // frames shorter than a host frame that it never landed on
    uint32_t shortFrames = 0;  // frames whose delay is shorter than one host frame
};

// The same file through the background load ("backgroundLoad" 1 with the default "frameCacheMB"):
// the worker decodes, the host's thread copies.
struct Background {
    bool measured = false;
    double firstFrameMs = 0.0;  // wall time from the load's start until frame 0 can be shown
    uint64_t heldBytes = 0;     // the C++ runtime's memory while it shows: file, store, canvas
    uint32_t storedFrames = 0;  // frames the store holds: all of them, or a ring
    double workerFirstMs =
        -1.0;  // the worker's CPU time until the first pass is decoded; -1: unknown
    double workerPassMs = -1.0;  // ... and for each later pass (0 when every frame is kept)
    double playedSeconds = 0.0;  // played in real time at the host's rate
    uint64_t lateFrames = 0;     // frames due before the worker had them, in that time
};

struct Shown {
    double seconds = 0.0;  // time passed to Advance so far
    uint32_t frame = 0;
    std::string sha256;  // of the texture's pixels; empty when there is no texture
};

struct LogLine {
    std::string kind;  // "log", "warning" or "error"
    std::string text;
};

struct Warning {
    std::string kind;  // a stable name for machines
    std::string text;
};

struct Inspection {
    std::string path;
    FileKind fileKind = FileKind::Missing;
    uint64_t fileBytes = 0;
    Format format = Format::Other;
    GifHeader header;
    WebpHeader webp;

    std::string state;  // "animated", "still" or "placeholder"
    uint32_t width = 0, height = 0;
    uint32_t frames = 0;
    int loopCount = 0;               // as libnsgif reports it, or the WebP file's (animated only)
    uint32_t loopLimit = 0;          // plays in all; 0: forever
    std::vector<uint32_t> delaysCs;  // a GIF's, as libnsgif reports them
    std::vector<uint32_t> durationsMs;  // a WebP's, as the file stores them
    std::vector<float> delays;          // seconds, as the holder keeps them
    double passSeconds = 0.0;
    std::vector<uint32_t> undecodable;

    Memory memory;
    const char* clock = "";
    double loadMs = 0.0;
    FrameChanges firstPass;
    FrameChanges cached;  // count 0: never reached (the effect plays once)
    AtHostRate host;
    Background background;

    std::vector<LogLine> log;  // what the module logged while loading and in its first pass
    std::vector<Warning> warnings;
    std::vector<Shown> shown;
    bool shownFromSteps = false;

    bool Shows() const { return state != "placeholder"; }
};

Inspection Inspect(const Options& options);
// Fills `out.background` for an animation (Background.cpp).
void MeasureBackground(const Options& options, Inspection& out);

// The frame store size above which the report warns.
constexpr uint64_t kLargeFrameStore = 256ull * 1024 * 1024;

}  // namespace fxinspect
