#include "Inspection.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "Sha256.h"
#include "ThreadClock.h"
#include "image/BitmapImage.h"
#include "image/FrameDecoder.h"
#include "log/ModuleLog.h"
#include "standin/Standin.h"

namespace fxinspect {

namespace {

namespace fs = std::filesystem;

// More host frames than this (over four hours at 60 fps) are not simulated.
constexpr uint64_t kMaxHostFrames = 1000000;
// Bytes of the file read for what its header declares.
constexpr uint64_t kMostBytesRead = 256ull * 1024 * 1024;
// Passes played at the host's rate, at most, waiting for playback to stop decoding.
constexpr uint64_t kMaxPasses = 20;

void DescribeFile(Inspection& out, std::vector<uint8_t>& bytes) {
    std::error_code error;
    const fs::path path = fs::u8path(out.path);
    const fs::file_status status = fs::status(path, error);
    if (fs::is_directory(status)) {
        out.fileKind = FileKind::Folder;
        return;
    }
    if (!fs::exists(status)) {
        out.fileKind = FileKind::Missing;
        return;
    }
    out.fileKind = FileKind::File;
    out.fileBytes = fs::file_size(path, error);
    if (error)
        out.fileBytes = 0;
    // Enough for the header and for the looping extension of any real file, which comes before
    // the frames; a larger file is not read whole for them.
    bytes.resize(static_cast<size_t>(std::min<uint64_t>(out.fileBytes, kMostBytesRead)));
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(file.gcount()));
}

Format FormatOf(const std::string& path) {
    EffectFormat format;
    if (!EffectFormatOfPath(standin::FromUtf8(path).c_str(), format))
        return Format::Other;
    return format == EffectFormat::Webp ? Format::Webp : Format::Gif;
}

const char* StateOf(const BitmapImage& image) {
    if (image.Snapshot().isAnimated)
        return "animated";
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    // The placeholder is the one texture the holder makes in B,G,R,A order.
    if (!info || info->createdFormat == GS_BGRA)
        return "placeholder";
    return "still";
}

Shown Fingerprint(const BitmapImage& image, double seconds) {
    Shown shown;
    shown.seconds = seconds;
    const BitmapImage::State state = image.Snapshot();
    shown.frame = state.isAnimated ? state.currentFrame : 0;
    if (const standin::TextureInfo* info = standin::InspectTexture(image.texture))
        shown.sha256 = Sha256Hex(info->rgba.data(), info->rgba.size());
    return shown;
}

// Just enough time for the current frame's delay to be exceeded: the holder's comparison is
// strict, so the gathered time must end up above the delay, not on it.
float TimeToNextFrame(const BitmapImage& image) {
    const BitmapImage::State state = image.Snapshot();
    const float delay = state.frameDelays[state.currentFrame];
    float seconds = delay - state.frameTime;
    if (!(seconds > 0.0f))
        seconds = 0.0f;
    while (!(state.frameTime + seconds > delay))
        seconds = std::nextafter(seconds, HUGE_VALF);
    return seconds;
}

struct ChangeTally {
    void Add(double ms, uint32_t frame) {
        ++result.count;
        sum += ms;
        if (result.count == 1 || ms > result.worstMs) {
            result.worstMs = ms;
            result.worstFrame = frame;
        }
        result.meanMs = sum / result.count;
    }
    FrameChanges result;
    double sum = 0.0;
};

// Host frames a call of `ms` milliseconds makes the host miss: it takes its own frame and runs
// into the next ones.
uint64_t FramesMissed(double ms, double frameMs) {
    return ms > frameMs ? static_cast<uint64_t>(std::ceil(ms / frameMs)) - 1 : 0;
}

std::vector<LogLine> TakeLog() {
    std::vector<LogLine> lines;
    for (const standin::LogRecord& record : standin::LogRecords()) {
        const char* kind = record.kind == standin::LogKind::Log       ? "log"
                           : record.kind == standin::LogKind::Warning ? "warning"
                                                                      : "error";
        lines.push_back({kind, standin::ToUtf8(record.text)});
    }
    standin::ClearLog();
    return lines;
}

// The frames the load found undecodable, as the holder marks them. libwebp composes nothing after
// a frame that fails, so the frames of a WebP after the first failure are marked too without
// failing themselves: only that first one is undecodable.
std::vector<uint32_t> UndecodableFrames(const BitmapImage& image) {
    const BitmapImage::State state = image.Snapshot();
    std::vector<uint32_t> frames;
    if (!state.isAnimated)
        return frames;
    for (uint32_t i = 0; i < state.frameCount; ++i) {
        if (!FrameFailed(state.frameFailed, i))
            continue;
        frames.push_back(i);
        if (state.format == EffectFormat::Webp)
            break;
    }
    return frames;
}

// A GIF frame's delay as the file gives it, in centiseconds, from the seconds the holder plays:
// 0 cs plays for 0.1 s, and every other count gives its own float (10 cs gives 0.099999994).
uint32_t Centiseconds(float seconds) {
    return seconds == 0.1f ? 0 : static_cast<uint32_t>(std::lround(seconds * 100.0));
}

void ReadHolder(const BitmapImage& image, Inspection& out) {
    out.state = StateOf(image);
    out.width = static_cast<uint32_t>(image.width);
    out.height = static_cast<uint32_t>(image.height);
    if (const standin::TextureInfo* info = standin::InspectTexture(image.texture))
        out.memory.texture = uint64_t(info->width) * info->height * 4;
    if (out.state == "still")
        out.frames = 1;
    const BitmapImage::State state = image.Snapshot();
    if (!state.isAnimated)
        return;
    out.frames = state.frameCount;
    const bool gif = state.format == EffectFormat::Gif;
    out.loopCount = state.loopCount;
    out.loopLimit = state.loopLimit;
    for (uint32_t i = 0; i < state.delayCount; ++i) {
        out.delays.push_back(state.frameDelays[i]);
        if (gif)
            out.delaysCs.push_back(Centiseconds(state.frameDelays[i]));
        out.passSeconds += state.frameDelays[i];
    }
    if (!gif)
        out.durationsMs = out.webp.durationsMs;
    const uint64_t canvas = uint64_t(state.canvasWidth) * state.canvasHeight * 4;
    Memory& memory = out.memory;
    memory.fileBuffer = state.holdsFile ? out.fileBytes : 0;
    memory.frameStore = state.frameStore ? canvas * state.frameCount : 0;
    memory.decoderCanvas = gif && state.canvasHeld ? canvas : 0;
    if (!gif)
        memory.decoderHeap = 2 * canvas;
    const uint64_t named = memory.fileBuffer + memory.frameStore + memory.decoderCanvas;
    memory.tables = memory.total > named ? memory.total - named : 0;
}

// The first load, timed, then the first pass frame by frame (each call just long enough to reach
// the next frame, so that each decodes exactly one), then a second pass of cached frame changes
// when the effect plays more than once.
void MeasureFrameByFrame(Inspection& out) {
    BitmapImage image;
    image.filePath = standin::FromUtf8(out.path).c_str();

    const size_t before = standin::AllocatorStats().liveBytes;
    const double start = threadclock::FineThreadSeconds();
    image.Init();
    out.loadMs = (threadclock::FineThreadSeconds() - start) * 1e3;
    const size_t after = standin::AllocatorStats().liveBytes;
    out.memory.total = after > before ? after - before : 0;
    out.undecodable = UndecodableFrames(image);
    ReadHolder(image, out);
    const uint32_t frames = image.Snapshot().frameCount;
    if (!image.Snapshot().isAnimated) {
        out.log = TakeLog();
        return;
    }

    ChangeTally first;
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t from = image.Snapshot().currentFrame;
        const float seconds = TimeToNextFrame(image);
        const double t0 = threadclock::FineThreadSeconds();
        image.Advance(seconds);
        const double ms = (threadclock::FineThreadSeconds() - t0) * 1e3;
        const uint32_t to = image.Snapshot().currentFrame;
        if (to != from)
            first.Add(ms, to);
    }
    out.firstPass = first.result;
    out.log = TakeLog();
    if (out.loopLimit == 1)
        return;  // it plays once: no frame is ever shown from the cache

    ChangeTally cached;
    for (uint32_t i = 0; i < frames; ++i) {
        const BitmapImage::State before = image.Snapshot();
        const uint32_t from = before.currentFrame;
        const float seconds = TimeToNextFrame(image);
        const bool wasCached = before.frameCache[(from + 1) % frames] != nullptr;
        const double t0 = threadclock::FineThreadSeconds();
        image.Advance(seconds);
        const double ms = (threadclock::FineThreadSeconds() - t0) * 1e3;
        const uint32_t to = image.Snapshot().currentFrame;
        if (to != from && wasCached)
            cached.Add(ms, to);
    }
    out.cached = cached.result;
    standin::ClearLog();
}

// The first pass as the host plays it: a fresh load, then one Advance of 1/fps seconds per host
// frame for as long as playback still decodes. When frames are shorter than a host frame, a pass
// passes over some of them and may land on them in a later one, so decoding can outlast the first
// pass; it is over once a whole pass has gone by without a decode, or the animation has finished.
void MeasureAtHostRate(const Options& options, Inspection& out) {
    AtHostRate& host = out.host;
    host.fps = options.fps;
    host.frameMs = 1e3 / options.fps;
    host.droppedAtStart = FramesMissed(out.loadMs, host.frameMs);
    for (float delay : out.delays)
        if (delay * 1e3 < host.frameMs)
            ++host.shortFrames;
    if (out.state != "animated")
        return;

    BitmapImage image;
    image.filePath = standin::FromUtf8(out.path).c_str();
    image.Init();
    if (!image.Snapshot().isAnimated)
        return;  // the file changed since the first load
    const uint32_t frames = image.Snapshot().frameCount;
    const float seconds = static_cast<float>(1.0 / options.fps);
    const double perPass = std::ceil(out.passSeconds * options.fps) + 1.0;
    host.passHostFrames = static_cast<uint64_t>(std::min(perPass, double(kMaxHostFrames)));
    const uint64_t most = std::min<uint64_t>(kMaxHostFrames, host.passHostFrames * kMaxPasses);
    std::vector<bool> cached(frames, false);
    uint32_t lastDecoded = image.Snapshot().lastDecodedFrame;
    uint64_t quiet = 0, over = 0, dropped = 0;
    double worst = 0.0;
    bool finished = false;
    uint64_t i = 0;
    for (; i < most && quiet < host.passHostFrames && !finished; ++i) {
        const double t0 = threadclock::FineThreadSeconds();
        image.Advance(seconds);
        const double ms = (threadclock::FineThreadSeconds() - t0) * 1e3;
        over += ms > host.frameMs;
        dropped += FramesMissed(ms, host.frameMs);
        worst = std::max(worst, ms);
        // A decode either caches the frame it lands on or, when that fails, still marks it.
        const BitmapImage::State state = image.Snapshot();
        bool decoded = state.lastDecodedFrame != lastDecoded;
        lastDecoded = state.lastDecodedFrame;
        const uint32_t frame = state.currentFrame;
        if (state.frameCache[frame] && !cached[frame])
            decoded = cached[frame] = true;
        finished = out.loopLimit != 0 && state.loopsPlayed >= out.loopLimit;
        if (!decoded) {
            ++quiet;
            continue;
        }
        quiet = 0;
        host.hostFrames = i + 1;
        host.overBudget = over;
        host.droppedInFirstPass = dropped;
        host.worstMs = worst;
    }
    host.stillDecoding = !finished && quiet < host.passHostFrames;
    if (host.stillDecoding)
        host.hostFrames = i;
    // Frames too short to be landed on; one that fails to decode is never cached either, nor in a
    // WebP any frame after it.
    const uint8_t* const* frameCache = image.Snapshot().frameCache;
    const uint32_t reach =
        out.format == Format::Webp && !out.undecodable.empty() ? out.undecodable[0] : frames;
    if (out.loopLimit != 1)
        for (uint32_t f = 0; f < reach; ++f)
            host.uncached += !frameCache[f] && out.delays[f] * 1e3 < host.frameMs &&
                             std::find(out.undecodable.begin(), out.undecodable.end(), f) ==
                                 out.undecodable.end();
    standin::ClearLog();
}

// The texture's fingerprint after the load and after each step, on a fresh load: the steps of
// --step and --steps, or else the first pass frame by frame. Kept apart from the timed walks, so
// that hashing does not disturb what they measure.
void WalkSteps(const Options& options, Inspection& out) {
    BitmapImage image;
    image.filePath = standin::FromUtf8(out.path).c_str();
    image.Init();
    out.shownFromSteps = options.StepsAsked();
    out.shown.push_back(Fingerprint(image, 0.0));
    double elapsed = 0.0;
    if (options.hasStep) {
        const long steps = options.steps < 0 ? 1 : options.steps;
        for (long i = 0; i < steps; ++i) {
            image.Advance(options.step);
            elapsed += options.step;
            out.shown.push_back(Fingerprint(image, elapsed));
        }
    } else if (image.Snapshot().isAnimated) {
        const long steps =
            options.steps < 0 ? static_cast<long>(image.Snapshot().frameCount) : options.steps;
        for (long i = 0; i < steps; ++i) {
            const float seconds = TimeToNextFrame(image);
            image.Advance(seconds);
            elapsed += seconds;
            out.shown.push_back(Fingerprint(image, elapsed));
        }
    }
    standin::ClearLog();
}

std::string FrameList(const std::vector<uint32_t>& frames) {
    std::string text;
    for (size_t i = 0; i < frames.size();) {
        size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1)
            ++j;
        if (!text.empty())
            text += ", ";
        text += std::to_string(frames[i]);
        if (j > i)
            text += (j == i + 1 ? ", " : "-") + std::to_string(frames[j]);
        i = j + 1;
    }
    return text;
}

std::string Frames(const std::vector<uint32_t>& frames) {
    return (frames.size() == 1 ? "frame " : "frames ") + FrameList(frames);
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

void AddWarnings(Inspection& out) {
    auto warn = [&out](const char* kind, std::string text) {
        out.warnings.push_back({kind, std::move(text)});
    };
    // libwebp composes each frame on the one before it and goes no further than a frame that
    // fails: every later frame of the pass is out of its reach, and the module reports only the
    // first.
    const uint32_t last = out.frames ? out.frames - 1 : 0;
    if (!out.undecodable.empty() && out.format == Format::Webp && out.undecodable[0] < last)
        warn("undecodable-frames",
             Frames(out.undecodable) +
                 " fails to decode, and libwebp composes no frame after it: from it to the last "
                 "frame (" +
                 std::to_string(last) + ") the module keeps showing frame " +
                 std::to_string(out.undecodable[0] - 1) + " on every pass");
    else if (!out.undecodable.empty())
        warn("undecodable-frames",
             Frames(out.undecodable) + (out.undecodable.size() == 1 ? " fails" : " fail") +
                 " to decode: while it is due the module keeps showing the frame before it");

    if (out.webp.isWebp && !out.webp.complete)
        warn("truncated",
             "the file ends before the last of the chunks it announces, after " +
                 std::to_string(out.webp.durationsMs.size()) +
                 (out.webp.durationsMs.size() == 1 ? " whole frame" : " whole frames") +
                 ": it was cut short (a download or a copy that did not finish)");

    // The module takes the format from the name alone: a GIF named .webp or a WebP named .gif
    // does not load, and under any other name the host's loader shows a placeholder or, at best,
    // one frame.
    const char* holds = out.header.isGif ? "GIF" : out.webp.isWebp ? "WebP" : nullptr;
    const bool named = out.format == (out.header.isGif ? Format::Gif : Format::Webp);
    if (holds && !named && (out.state == "placeholder" || out.webp.animated))
        warn("misnamed", std::string("the file holds a ") + holds +
                             ", but the module takes the format from the file's name, which "
                             "does not end in ." +
                             (out.header.isGif ? "gif" : "webp") + ": rename it");

    if (out.header.isGif && out.Shows() &&
        (out.header.width != out.width || out.header.height != out.height)) {
        const std::string declared =
            std::to_string(out.header.width) + " x " + std::to_string(out.header.height);
        const std::string canvas = std::to_string(out.width) + " x " + std::to_string(out.height);
        if (out.width >= out.header.width && out.height >= out.header.height)
            warn("canvas-grown", "the file declares its canvas as " + declared +
                                     ", but its frames reach beyond it: the decoder grew "
                                     "the canvas to " +
                                     canvas + ", and the effect is sized and placed at " + canvas +
                                     "; other viewers may cut it to " + declared);
        else
            warn("canvas-changed", "the file declares its canvas as " + declared +
                                       ", but the decoder sized it by the frames, at " + canvas +
                                       " (it takes some screen sizes, and anything above "
                                       "2048, for the size of the author's screen)");
    }

    std::vector<uint32_t> oneCs;
    for (uint32_t i = 0; i < out.delaysCs.size(); ++i)
        if (out.delaysCs[i] == 1)
            oneCs.push_back(i);
    if (!oneCs.empty()) {
        const bool all = oneCs.size() == out.delaysCs.size();
        std::string text = (all ? std::string("every frame has")
                                : Frames(oneCs) + (oneCs.size() == 1 ? " has" : " have")) +
                           " a delay of 1 cs: browsers show such frames for 100 ms, the module "
                           "for 10 ms";
        warn("one-centisecond-delays", text);
    }

    // The same surprise in a WebP, whose durations are milliseconds; 0 plays as 100 ms everywhere.
    std::vector<uint32_t> shortMs;
    for (uint32_t i = 0; i < out.durationsMs.size(); ++i)
        if (out.durationsMs[i] >= 1 && out.durationsMs[i] <= 10)
            shortMs.push_back(i);
    if (!shortMs.empty()) {
        const bool all = shortMs.size() == out.durationsMs.size();
        warn("short-durations",
             (all ? std::string("every frame has")
                  : Frames(shortMs) + (shortMs.size() == 1 ? " has" : " have")) +
                 " a duration of 1 to 10 ms: browsers show such frames for 100 ms, the module "
                 "for 10 ms");
    }

    // A WebP's loop count is the plays in all, to the module and to browsers alike.
    if (out.state == "animated" && out.format == Format::Gif && out.loopLimit != 0 &&
        (out.loopLimit > 1 || out.header.hasLoopExtension)) {
        const std::string n = std::to_string(out.loopLimit);
        warn("loop-count", "the file's loop count is " + n + ": the module plays it " + n +
                               (out.loopLimit == 1 ? " time" : " times") +
                               " in all, browsers play it " + std::to_string(out.loopLimit + 1) +
                               " times (to them the count is the repeats after the first play)");
    }

    if (out.memory.frameStore > kLargeFrameStore)
        warn("large-frame-store", "the frame store takes " + Megabytes(out.memory.frameStore) +
                                      ", more than " + Megabytes(kLargeFrameStore) +
                                      ": every source showing this effect holds that much for as "
                                      "long as it shows it; with \"backgroundLoad\" 1, "
                                      "\"frameCacheMB\" bounds it");
}

}  // namespace

Inspection Inspect(const Options& options) {
    Inspection out;
    out.path = options.file;
    out.clock = threadclock::FineThreadClockName();
    std::vector<uint8_t> bytes;
    DescribeFile(out, bytes);
    out.format = FormatOf(out.path);
    out.header = ReadGifHeader(bytes);
#ifdef FXINSPECT_WEBP
    out.webp = ReadWebpHeader(bytes);
#endif
    bytes.clear();
    bytes.shrink_to_fit();

    standin::ClearLog();
    MeasureFrameByFrame(out);
    MeasureAtHostRate(options, out);
    MeasureBackground(options, out);
    if (options.StepsAsked() || options.json)
        WalkSteps(options, out);
    AddWarnings(out);
    return out;
}

}  // namespace fxinspect
