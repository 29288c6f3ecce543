// Animated WebP: the module's first pass (each frame decoded once, as it first shows) and its
// load against libwebp's own animation decoder on the same file, the background load's worker
// against it per frame, and the module's load and first pass of the WebP against a GIF of the same
// pictures, size and frames.
//
// The pictures are the plasma of the background load's table (a realistic effect, smooth art on
// 256 colours), taken from the GIF as libnsgif decodes it; the WebP adds a soft alpha fall at the
// edges, which real WebP effects carry and the GIF cannot, and is lossy at quality 75 with its
// alpha lossless, as effects are made (fxmakefx's lossy settings). Both files are made at start.
#include <benchmark/benchmark.h>
#include <webp/demux.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <memory>

#include "BenchCases.h"
#include "HolderPlay.h"
#include "PlainGraphics.h"
#include "ThreadClock.h"
#include "WebpWriter.h"
#include "image/BitmapImage.h"
#include "image/WorkerLoad.h"
#include "standin/Standin.h"

extern "C" {
#include <libnsgif.h>
}

namespace bench {

namespace {

constexpr int kRepetitions = 5;
// A push past frame 0's delay after a load, as the GIF benchmarks give it.
constexpr float kNudge = 0.001f;
// Seconds per pixel of one lossy frame's decode, for sizing the runs only.
constexpr double kDecodeSecondsPerPixel = 4e-9;

int64_t IterationsFor(double secondsEach, double budget) {
    const double n = budget / secondsEach;
    return n < 1.0 ? 1 : static_cast<int64_t>(n);
}

void* MallocBitmap(int width, int height) {
    return std::malloc(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
}
void FreeBitmap(void* bitmap) {
    std::free(bitmap);
}
unsigned char* BitmapBuffer(void* bitmap) {
    return static_cast<unsigned char*>(bitmap);
}

// The GIF's frames as whole RGBA canvases; empty when libnsgif refuses it.
std::vector<fxmakefx::WebpCanvas> DecodeGif(std::vector<uint8_t>& gif, int durationMs) {
    gif_bitmap_callback_vt callbacks = {&MallocBitmap, &FreeBitmap, &BitmapBuffer,
                                        nullptr,       nullptr,     nullptr};
    gif_animation animation;
    gif_create(&animation, &callbacks);
    gif_result result;
    do {
        result = gif_initialise(&animation, gif.size(), gif.data());
    } while (result == GIF_WORKING);
    std::vector<fxmakefx::WebpCanvas> canvases;
    if (result == GIF_OK) {
        const size_t bytes = static_cast<size_t>(animation.width) * animation.height * 4;
        for (unsigned i = 0; i < animation.frame_count; ++i) {
            if (gif_decode_frame(&animation, i) != GIF_OK) {
                canvases.clear();
                break;
            }
            const auto* pixels = static_cast<const uint8_t*>(animation.frame_image);
            canvases.push_back({std::vector<uint8_t>(pixels, pixels + bytes), durationMs});
        }
    }
    gif_finalise(&animation);
    return canvases;
}

// Alpha that falls softly to 0 over the outer eighth of the shorter side: what a glow or a smoke
// effect has at its edges.
void SoftenEdges(std::vector<fxmakefx::WebpCanvas>& canvases, unsigned width, unsigned height) {
    const double fall = std::max(1.0, std::min(width, height) / 8.0);
    for (fxmakefx::WebpCanvas& canvas : canvases) {
        for (unsigned y = 0; y < height; ++y) {
            for (unsigned x = 0; x < width; ++x) {
                const double edge = std::min(std::min(x + 0.5, width - x - 0.5),
                                             std::min(y + 0.5, height - y - 0.5));
                const double a = std::min(1.0, edge / fall);
                canvas.rgba[(size_t(y) * width + x) * 4 + 3] =
                    static_cast<uint8_t>(std::lround(255.0 * a * a));
            }
        }
    }
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

bool IsLoaded(const BitmapImage& image, const WebpCase& c) {
    const BitmapImage::State state = image.Snapshot();
    return state.isAnimated && state.frameCount == c.recipe.frames && image.texture;
}

struct AnimDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// libwebp's animation decoder as a program that uses nothing else would: straight RGBA, as the
// texture takes it, on the calling thread.
std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter> NewAnimDecoder(const WebpCase& c) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return nullptr;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data = {c.webp.data(), c.webp.size()};
    return std::unique_ptr<WebPAnimDecoder, AnimDecoderDeleter>(
        WebPAnimDecoderNew(&data, &options));
}

bool DecodeNext(WebPAnimDecoder* decoder) {
    uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder, &pixels, &timestamp))
        return false;
    benchmark::DoNotOptimize(pixels);
    return true;
}

// ---------------------------------------------------------------- the module

// A fresh load (untimed), then one Advance per frame with that frame's delay until every frame is
// cached and frame 0 shows again: each call decodes its frame, stores it and uploads it.
void FirstPassModule(benchmark::State& state, WebpCase* c, bool webp) {
    GraphicsScope plain(PlainGraphics());
    auto image = std::make_unique<BitmapImage>();
    image->filePath = (webp ? c->webpPath : c->gifPath).c_str();
    for (auto _ : state) {
        state.PauseTiming();
        image->Init();
        image->Advance(kNudge);
        state.ResumeTiming();
        PlayOnePass(*image);
        state.PauseTiming();
        const bool ok = IsLoaded(*image, *c) && AllCached(*image);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError(webp ? "the WebP did not load as an animation, or its first pass "
                                       "did not cache every frame"
                                     : "the GIF's first pass did not cache every frame");
            break;
        }
    }
}

void LoadModule(benchmark::State& state, WebpCase* c, bool webp) {
    GraphicsScope plain(PlainGraphics());
    for (auto _ : state) {
        state.PauseTiming();
        auto image = std::make_unique<BitmapImage>();
        image->filePath = (webp ? c->webpPath : c->gifPath).c_str();
        state.ResumeTiming();
        image->Init();
        state.PauseTiming();
        const bool loaded = IsLoaded(*image, *c);
        image.reset();
        state.ResumeTiming();
        if (!loaded) {
            state.SkipWithError(webp ? "the WebP did not load as an animation"
                                     : "the GIF did not load as an animation");
            break;
        }
    }
}

// Once every frame is cached: a frame change is one copy into the texture, as a GIF's is.
void CachedModule(benchmark::State& state, WebpCase* c, bool webp) {
    GraphicsScope plain(PlainGraphics());
    BitmapImage image;
    image.filePath = (webp ? c->webpPath : c->gifPath).c_str();
    image.Init();
    image.Advance(kNudge);
    PlayOnePass(image);
    if (!IsLoaded(image, *c) || !AllCached(image)) {
        state.SkipWithError("the first pass did not cache every frame");
        return;
    }
    const uint64_t before = standin::AllocatorStats().allocations;
    for (auto _ : state)
        PlayOnePass(image);
    state.counters["allocs_per_loop"] =
        static_cast<double>(standin::AllocatorStats().allocations - before) /
        static_cast<double>(state.iterations());
    if (!AllCached(image))
        state.SkipWithError("playback lost its place");
}

// ---------------------------------------------------------------- libwebp alone

// The decodes of the first pass in its order, after frame 0 (untimed, as the load decodes it):
// frames 1 to the last, then frame 0 again, which the animation decoder reaches by starting over.
void FirstPassAnimDecoder(benchmark::State& state, WebpCase* c) {
    for (auto _ : state) {
        state.PauseTiming();
        auto decoder = NewAnimDecoder(*c);
        const bool made = decoder && DecodeNext(decoder.get());
        state.ResumeTiming();
        if (!made) {
            state.SkipWithError("libwebp's animation decoder refused the file");
            break;
        }
        unsigned decoded = 0;
        while (WebPAnimDecoderHasMoreFrames(decoder.get()))
            decoded += DecodeNext(decoder.get());
        WebPAnimDecoderReset(decoder.get());
        decoded += DecodeNext(decoder.get());
        state.PauseTiming();
        decoder.reset();
        state.ResumeTiming();
        if (decoded != c->recipe.frames) {
            state.SkipWithError("libwebp's animation decoder did not decode every frame");
            break;
        }
    }
}

// The same decodes, and for each frame the two copies the design asks for: into its slot of a
// frame store allocated and cleared as a load does (outside the timing), and from there into a
// buffer of the texture's size, as the host's upload does; every buffer from the host's allocator,
// as the module's are. What the module takes beyond this is its own work.
void FirstPassTwoCopies(benchmark::State& state, WebpCase* c) {
    const size_t frameBytes = static_cast<size_t>(c->recipe.width) * c->recipe.height * 4;
    const size_t storeBytes = frameBytes * c->recipe.frames;
    uint8_t* store = nullptr;
    uint8_t* texture = nullptr;
    for (auto _ : state) {
        state.PauseTiming();
        MainAllocator->Free(store);
        MainAllocator->Free(texture);
        store = static_cast<uint8_t*>(MainAllocator->Allocate(storeBytes));
        texture = static_cast<uint8_t*>(MainAllocator->Allocate(frameBytes));
        auto decoder = NewAnimDecoder(*c);
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        const bool made = store && texture && decoder &&
                          WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp);
        if (made) {
            std::memset(store, 0, storeBytes);
            std::memcpy(texture, pixels, frameBytes);
        }
        state.ResumeTiming();
        if (!made) {
            state.SkipWithError("no memory, or libwebp's animation decoder refused the file");
            break;
        }
        unsigned decoded = 0;
        for (unsigned n = 1; n <= c->recipe.frames; ++n) {
            const unsigned i = n % c->recipe.frames;
            if (i == 0)
                WebPAnimDecoderReset(decoder.get());
            if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp))
                break;
            ++decoded;
            uint8_t* slot = store + i * frameBytes;
            std::memcpy(slot, pixels, frameBytes);
            std::memcpy(texture, slot, frameBytes);
            benchmark::ClobberMemory();
        }
        state.PauseTiming();
        decoder.reset();
        state.ResumeTiming();
        if (decoded != c->recipe.frames) {
            state.SkipWithError("libwebp's animation decoder did not decode every frame");
            break;
        }
    }
    MainAllocator->Free(store);
    MainAllocator->Free(texture);
}

// The decodes a load makes, on the same bytes: the decoder made (it reads the container), every
// frame in order (frame 0 for the texture, the others to find the broken ones), then frame 0
// again, which the animation decoder reaches by starting over.
void LoadAnimDecoder(benchmark::State& state, WebpCase* c) {
    for (auto _ : state) {
        auto decoder = NewAnimDecoder(*c);
        unsigned decoded = 0;
        if (decoder) {
            while (WebPAnimDecoderHasMoreFrames(decoder.get()))
                decoded += DecodeNext(decoder.get());
            WebPAnimDecoderReset(decoder.get());
            decoded += DecodeNext(decoder.get());
        }
        state.PauseTiming();
        decoder.reset();
        state.ResumeTiming();
        if (decoded != c->recipe.frames + 1) {
            state.SkipWithError("libwebp's animation decoder refused the file or a frame");
            break;
        }
    }
}

// ---------------------------------------------------------------- the background load's worker

// Per frame, at the fastest pass: the worker's and libwebp's alone. A table of its own, since the
// worker's time is not the benchmark thread's.
struct WorkerRow {
    double module = -1.0;  // seconds per frame
    double floor = -1.0;
    double floorCopy = -1.0;
};

std::map<std::string, WorkerRow>& WorkerRows() {
    static auto* rows = new std::map<std::string, WorkerRow>;
    return *rows;
}

void KeepLowest(double& kept, double value) {
    if (kept < 0.0 || value < kept)
        kept = value;
}

// The worker's CPU time (the process's less this thread's, which only waits) for one pass of a
// ring of four frames, which it decodes again on every pass, per frame.
void WorkerModule(benchmark::State& state, WebpCase* c) {
    GraphicsScope plain(PlainGraphics());
    WaitForWorkersToEnd();
    const uint64_t frameBytes = uint64_t{c->recipe.width} * c->recipe.height * 4;
    BitmapImage image;
    image.filePath = c->webpPath.c_str();
    image.SetBackgroundLoad(true);
    image.SetFrameCacheBytes(4 * frameBytes);
    image.Init();
    image.WaitForBackgroundFirstFrame();
    image.SwapInBackgroundLoad();
    if (!IsLoaded(image, *c)) {
        state.SkipWithError("the WebP did not load as an animation on the worker");
        return;
    }
    auto onePass = [&image, c] {
        for (uint32_t i = 0; i < c->recipe.frames; ++i) {
            const BitmapImage::State shown = image.Snapshot();
            image.Advance(shown.frameDelays[shown.currentFrame] + 1e-4f);
            image.WaitForBackgroundLoad();
        }
    };
    onePass();
    for (auto _ : state) {
        const double start = threadclock::ProcessCpuSeconds() - threadclock::ThreadCpuSeconds();
        onePass();
        const double perFrame =
            (threadclock::ProcessCpuSeconds() - threadclock::ThreadCpuSeconds() - start) /
            c->recipe.frames;
        state.SetIterationTime(perFrame);
        KeepLowest(WorkerRows()[c->name].module, perFrame);
    }
}

// libwebp decoding one pass on this thread, per frame; with `copy`, each frame also copied into a
// slot of a ring of four, as the worker stores it.
void WorkerFloor(benchmark::State& state, WebpCase* c, bool copy) {
    auto decoder = NewAnimDecoder(*c);
    if (!decoder) {
        state.SkipWithError("libwebp's animation decoder refused the file");
        return;
    }
    const size_t frameBytes = static_cast<size_t>(c->recipe.width) * c->recipe.height * 4;
    std::vector<uint8_t> ring(copy ? 4 * frameBytes : 0);
    for (auto _ : state) {
        const double start = threadclock::ThreadCpuSeconds();
        WebPAnimDecoderReset(decoder.get());
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        for (unsigned i = 0; WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp); ++i) {
            if (copy)
                std::memcpy(&ring[(i % 4) * frameBytes], pixels, frameBytes);
            benchmark::ClobberMemory();
        }
        const double perFrame = (threadclock::ThreadCpuSeconds() - start) / c->recipe.frames;
        state.SetIterationTime(perFrame);
        WorkerRow& row = WorkerRows()[c->name];
        KeepLowest(copy ? row.floorCopy : row.floor, perFrame);
    }
}

}  // namespace

bool MakeWebpCase(const BusyGifRecipe& recipe, const std::string& folder, WebpCase& c) {
    c.recipe = recipe;
    c.name = std::to_string(recipe.width) + "x" + std::to_string(recipe.height) + "x" +
             std::to_string(recipe.frames);
    c.gif = MakePlasmaGif(recipe);
    std::vector<fxmakefx::WebpCanvas> canvases = DecodeGif(c.gif, recipe.delayCs * 10);
    if (canvases.size() != recipe.frames) {
        std::fprintf(stderr, "vantrel_bench: libnsgif could not decode the plasma %s\n",
                     c.name.c_str());
        return false;
    }
    SoftenEdges(canvases, recipe.width, recipe.height);
    fxmakefx::WebpOptions options;
    options.lossless = false;
    options.quality = 75;
    try {
        c.webp = fxmakefx::EncodeWebp(recipe.width, recipe.height, canvases, options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vantrel_bench: %s\n", error.what());
        return false;
    }
    const std::string base = folder + "/plasma-" + c.name;
    if (!WriteFile(base + ".gif", c.gif) || !WriteFile(base + ".webp", c.webp)) {
        std::fprintf(stderr, "vantrel_bench: could not write %s.gif and .webp\n", base.c_str());
        return false;
    }
    c.gifPath = standin::FromUtf8(base + ".gif");
    c.webpPath = standin::FromUtf8(base + ".webp");
    std::printf("made %s.webp: %zu bytes (the GIF of the same frames: %zu bytes)\n", base.c_str(),
                c.webp.size(), c.gif.size());
    return true;
}

void RegisterWebpBenchmarks(std::vector<WebpCase>& cases, std::vector<Row>& rows) {
    for (WebpCase& c : cases) {
        const double pixels = static_cast<double>(c.recipe.width) * c.recipe.height;
        const int64_t passes =
            IterationsFor(2 * c.recipe.frames * pixels * kDecodeSecondsPerPixel, 0.25);
        const std::string prefix = "webp/" + c.name;
        benchmark::RegisterBenchmark((prefix + "/first_pass/module").c_str(), FirstPassModule, &c,
                                     true)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/first_pass/libwebp").c_str(), FirstPassAnimDecoder,
                                     &c)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/first_pass/libwebp_two_copies").c_str(),
                                     FirstPassTwoCopies, &c)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/first_pass/gif_module").c_str(), FirstPassModule,
                                     &c, false)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/load/module").c_str(), LoadModule, &c, true)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/load/libwebp").c_str(), LoadAnimDecoder, &c)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/load/gif_module").c_str(), LoadModule, &c, false)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        const double loop = c.recipe.frames * pixels * 4 / 4e9;
        for (bool webp : {true, false})
            benchmark::RegisterBenchmark(
                (prefix + (webp ? "/cached/module" : "/cached/gif_module")).c_str(), CachedModule,
                &c, webp)
                ->Iterations(IterationsFor(loop, 0.2))
                ->Repetitions(kRepetitions)
                ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/worker/module").c_str(), WorkerModule, &c)
            ->Iterations(3)
            ->Repetitions(kRepetitions)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
        for (bool copy : {false, true})
            benchmark::RegisterBenchmark(
                (prefix + (copy ? "/worker/libwebp_copy" : "/worker/libwebp")).c_str(), WorkerFloor,
                &c, copy)
                ->Iterations(3)
                ->Repetitions(kRepetitions)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);

        const std::string frames = std::to_string(c.recipe.frames) + " frames";
        Row row;
        row.label = "WebP first pass " + c.name;
        row.figure = prefix + "/first_pass/module";
        row.floorLabel = "libwebp anim";
        row.floor = prefix + "/first_pass/libwebp";
        row.unit = "pass over every frame (" + frames + ")";
        rows.push_back(row);
        // The decode per frame: the module's overhead beyond libwebp and the design's two copies.
        row.label = "WebP first pass " + c.name + " vs +2 copies";
        row.floorLabel = "+2 copies";
        row.floor = prefix + "/first_pass/libwebp_two_copies";
        row.maxRatio = 1.05;
        rows.push_back(row);
        row.maxRatio = 0.0;
        row.label = "WebP first pass " + c.name + " vs GIF";
        row.floorLabel = "same as GIF";
        row.floor = prefix + "/first_pass/gif_module";
        row.maxRatio = 0.0;
        rows.push_back(row);
        row.label = "WebP load (Init) " + c.name;
        row.figure = prefix + "/load/module";
        row.floorLabel = "libwebp";
        row.floor = prefix + "/load/libwebp";
        row.unit = "load";
        rows.push_back(row);
        row.label = "WebP load (Init) " + c.name + " vs GIF";
        row.floorLabel = "same as GIF";
        row.floor = prefix + "/load/gif_module";
        rows.push_back(row);
        // Against the GIF's cached loop of the same size and frames: the same copies.
        Row cached;
        cached.label = "WebP cached playback " + c.name;
        cached.figure = prefix + "/cached/module";
        cached.floorLabel = "same as GIF";
        cached.floor = prefix + "/cached/gif_module";
        cached.unit = "loop over every frame";
        cached.allocCounter = "allocs_per_loop";
        cached.allocUnit = "loop";
        cached.maxAllocs = 0.0;
        rows.push_back(cached);
    }
}

bool PrintWebpWorkerTable() {
    if (WorkerRows().empty())
        return true;
    bool met = true;
    std::printf(
        "\nThe background load's worker on a WebP, per frame, in a ring of four frames "
        "(CPU time, fastest pass)\n");
    std::printf("%-24s %11s %11s %7s %13s %7s  %-8s %s\n", "effect", "worker", "libwebp", "ratio",
                "libwebp+copy", "ratio", "target", "met");
    for (const auto& [name, row] : WorkerRows()) {
        const bool measured = row.module > 0.0 && row.floor > 0.0 && row.floorCopy > 0.0;
        const double ratio = measured ? row.module / row.floor : 0.0;
        const double ratioCopy = measured ? row.module / row.floorCopy : 0.0;
        const bool ok = measured && ratioCopy <= 1.05;
        met = met && (ok || !measured);
        std::printf("%-24s %8.3f ms %8.3f ms %7.3f %10.3f ms %7.3f  %-8s %s\n", name.c_str(),
                    row.module * 1e3, row.floor * 1e3, ratio, row.floorCopy * 1e3, ratioCopy,
                    "<= 1.05", measured ? (ok ? "yes" : "MISSED") : "not run");
    }
    return met;
}

}  // namespace bench
