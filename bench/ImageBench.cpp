// The image holder against libnsgif alone and against memcpy: loading, the first pass of playback
// (each frame decoded once, lazily) and playback once every frame is cached.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "BenchCases.h"
#include "HolderPlay.h"
#include "PlainGraphics.h"
#include "image/BitmapImage.h"
#include "standin/Standin.h"

namespace bench {

namespace {

// Seconds per pixel of one busy frame's decode, for sizing the runs only.
constexpr double kDecodeSecondsPerPixel = 7e-9;
// A push past the first frame's delay, so that a call of exactly one frame's delay always moves
// on (a frame stays while the gathered time merely equals its delay).
constexpr float kNudge = 0.001f;
constexpr int kRepetitions = 5;

int64_t IterationsFor(double secondsEach, double budget) {
    const double n = budget / secondsEach;
    return n < 1.0 ? 1 : static_cast<int64_t>(n);
}

double Pixels(const GifCase& c) {
    return static_cast<double>(c.recipe.width) * c.recipe.height;
}

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

// The bitmap from the host's allocator, as the module's is: the copies out of it then meet the same
// alignment as the module's do.
void* HostCreate(int width, int height) {
    return MainAllocator->Allocate(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
}
void HostDestroy(void* bitmap) {
    MainAllocator->Free(bitmap);
}

struct FloorDecoder {
    explicit FloorDecoder(std::vector<uint8_t>& bytes, bool hostBitmap = false)
        : FloorDecoder(bytes.data(), bytes.size(), hostBitmap) {}
    FloorDecoder(uint8_t* bytes, size_t size, bool hostBitmap = false) {
        callbacks = {hostBitmap ? &HostCreate : &FloorCreate,
                     hostBitmap ? &HostDestroy : &FloorDestroy,
                     &FloorBuffer,
                     nullptr,
                     nullptr,
                     nullptr};
        gif_create(&gif, &callbacks);
        gif_result result;
        do {
            result = gif_initialise(&gif, size, bytes);
        } while (result == GIF_WORKING);
        ok = result == GIF_OK;
    }
    ~FloorDecoder() { Finalise(); }
    void Finalise() {
        if (!finalised)
            gif_finalise(&gif);
        finalised = true;
    }
    FloorDecoder(const FloorDecoder&) = delete;
    FloorDecoder& operator=(const FloorDecoder&) = delete;

    gif_bitmap_callback_vt callbacks;
    gif_animation gif;
    bool ok = false;
    bool finalised = false;
};

std::unique_ptr<BitmapImage> LoadedImage(const GifCase& c) {
    auto image = std::make_unique<BitmapImage>();
    image->filePath = c.path.c_str();
    image->Init();
    return image;
}

bool IsLoaded(const BitmapImage& image, const GifCase& c) {
    return image.Snapshot().isAnimated && image.Snapshot().frameCount == c.recipe.frames &&
           image.texture;
}

uint64_t Allocations() {
    return standin::AllocatorStats().allocations;
}

// ---------------------------------------------------------------- loading

void LoadModule(benchmark::State& state, GifCase* c) {
    GraphicsScope plain(PlainGraphics());
    for (auto _ : state) {
        state.PauseTiming();
        auto image = std::make_unique<BitmapImage>();
        image->filePath = c->path.c_str();
        state.ResumeTiming();
        image->Init();
        state.PauseTiming();
        const bool loaded = IsLoaded(*image, *c);
        image.reset();
        state.ResumeTiming();
        if (!loaded) {
            state.SkipWithError("the GIF did not load as an animation");
            break;
        }
    }
}

// The calls Init makes of libnsgif, on the same bytes: initialise, frame 0, every frame in order,
// frame 0 again.
void LoadFloor(benchmark::State& state, GifCase* c) {
    for (auto _ : state) {
        auto decoder = std::make_unique<FloorDecoder>(c->bytes);
        const unsigned frames = decoder->gif.frame_count;
        unsigned failed = gif_decode_frame(&decoder->gif, 0) != GIF_OK;
        for (unsigned i = 0; i < frames; ++i)
            failed += gif_decode_frame(&decoder->gif, i) != GIF_OK;
        failed += gif_decode_frame(&decoder->gif, 0) != GIF_OK;
        benchmark::DoNotOptimize(decoder->gif.frame_image);
        state.PauseTiming();
        const bool ok = decoder->ok && frames == c->recipe.frames && failed == 0;
        // Finalised outside the timing, as the module's holder is released outside it.
        decoder.reset();
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("libnsgif could not initialise the GIF or decode a frame");
            break;
        }
    }
}

// The same, plus the memory the design asks of every load beyond libnsgif's: the file read whole
// into a block of its own, and the frame store allocated and zero-filled, both from MainAllocator
// as the holder's are. The gap to this floor is the holder's own work; the gap between the two
// floors is the cost of that memory.
void LoadDesignFloor(benchmark::State& state, GifCase* c) {
    const size_t storeBytes =
        static_cast<size_t>(c->recipe.frames) * c->recipe.width * c->recipe.height * 4;
    const std::string path = standin::ToUtf8(c->path);
    for (auto _ : state) {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        auto* bytes = static_cast<uint8_t*>(MainAllocator->Allocate(c->bytes.size()));
        const size_t read = file ? std::fread(bytes, 1, c->bytes.size(), file) : 0;
        if (file)
            std::fclose(file);
        FloorDecoder decoder(bytes, read);
        const unsigned frames = decoder.gif.frame_count;
        auto* store = static_cast<uint8_t*>(MainAllocator->Allocate(storeBytes));
        std::memset(store, 0, storeBytes);
        unsigned failed = gif_decode_frame(&decoder.gif, 0) != GIF_OK;
        for (unsigned i = 0; i < frames; ++i)
            failed += gif_decode_frame(&decoder.gif, i) != GIF_OK;
        failed += gif_decode_frame(&decoder.gif, 0) != GIF_OK;
        benchmark::DoNotOptimize(decoder.gif.frame_image);
        benchmark::DoNotOptimize(store);
        state.PauseTiming();
        const bool ok = decoder.ok && frames == c->recipe.frames && failed == 0;
        decoder.Finalise();
        MainAllocator->Free(store);
        MainAllocator->Free(bytes);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("libnsgif could not initialise the GIF or decode a frame");
            break;
        }
    }
}

// ---------------------------------------------------------------- first pass

void FirstPassModule(benchmark::State& state, GifCase* c, bool plainHost) {
    GraphicsScope host(plainHost ? PlainGraphics() : GS);
    auto image = std::make_unique<BitmapImage>();
    image->filePath = c->path.c_str();
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
            state.SkipWithError("the first pass did not cache every frame");
            break;
        }
    }
}

// The decodes of the first pass, in its order: frames 1 to the last, then frame 0, each once.
void FirstPassFloor(benchmark::State& state, GifCase* c) {
    auto decoder = std::make_unique<FloorDecoder>(c->bytes);
    for (auto _ : state) {
        state.PauseTiming();
        decoder.reset();
        decoder = std::make_unique<FloorDecoder>(c->bytes);
        gif_decode_frame(&decoder->gif, 0);
        state.ResumeTiming();
        const unsigned frames = decoder->gif.frame_count;
        unsigned failed = 0;
        for (unsigned i = 1; i < frames; ++i)
            failed += gif_decode_frame(&decoder->gif, i) != GIF_OK;
        failed += gif_decode_frame(&decoder->gif, 0) != GIF_OK;
        benchmark::DoNotOptimize(decoder->gif.frame_image);
        if (failed != 0) {
            state.SkipWithError("libnsgif could not decode every frame");
            break;
        }
    }
}

// The first pass as the design has it: the same decodes, and for each frame the two copies the
// design asks for, into its slot of a frame store allocated and cleared as the load does, and from
// there into a buffer of the texture's size, as the host's upload does. Every buffer comes from the
// host's allocator, as the module's do. What the module takes beyond this is its own work.
void FirstPassDesignFloor(benchmark::State& state, GifCase* c) {
    const size_t frameBytes = static_cast<size_t>(c->recipe.width) * c->recipe.height * 4;
    const size_t storeBytes = frameBytes * c->recipe.frames;
    std::unique_ptr<FloorDecoder> decoder;
    uint8_t* store = nullptr;
    uint8_t* texture = nullptr;
    unsigned failed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // As a load does: the previous effect released, then the store and the texture anew.
        decoder.reset();
        MainAllocator->Free(store);
        MainAllocator->Free(texture);
        decoder = std::make_unique<FloorDecoder>(c->bytes, true);
        store = static_cast<uint8_t*>(MainAllocator->Allocate(storeBytes));
        texture = static_cast<uint8_t*>(MainAllocator->Allocate(frameBytes));
        if (!store || !texture) {
            state.SkipWithError("no memory for the frame store or the texture");
            break;
        }
        std::memset(store, 0, storeBytes);
        failed = gif_decode_frame(&decoder->gif, 0) != GIF_OK;
        std::memcpy(texture, decoder->gif.frame_image, frameBytes);
        state.ResumeTiming();
        const unsigned frames = decoder->gif.frame_count;
        for (unsigned n = 1; n <= frames; ++n) {
            const unsigned i = n % frames;
            failed += gif_decode_frame(&decoder->gif, i) != GIF_OK;
            uint8_t* slot = store + i * frameBytes;
            std::memcpy(slot, decoder->gif.frame_image, frameBytes);
            std::memcpy(texture, slot, frameBytes);
            benchmark::ClobberMemory();
        }
        if (failed != 0) {
            state.SkipWithError("libnsgif could not decode every frame");
            break;
        }
    }
    decoder.reset();
    MainAllocator->Free(store);
    MainAllocator->Free(texture);
}

// ---------------------------------------------------------------- cached playback

void CachedModule(benchmark::State& state, GifCase* c, bool plainHost) {
    GraphicsScope host(plainHost ? PlainGraphics() : GS);
    std::unique_ptr<BitmapImage> image = LoadedImage(*c);
    image->Advance(kNudge);
    PlayOnePass(*image);
    if (!IsLoaded(*image, *c) || !AllCached(*image)) {
        state.SkipWithError("the first pass did not cache every frame");
        return;
    }
    const uint64_t before = Allocations();
    for (auto _ : state)
        PlayOnePass(*image);
    const uint64_t allocations = Allocations() - before;
    state.counters["allocs_per_loop"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    if (!AllCached(*image))
        state.SkipWithError("playback lost its place");
}

// One copy of each frame's bytes, from the same frame store, into a buffer of the texture's size.
void CachedFloor(benchmark::State& state, GifCase* c) {
    GraphicsScope plain(PlainGraphics());
    std::unique_ptr<BitmapImage> image = LoadedImage(*c);
    image->Advance(kNudge);
    PlayOnePass(*image);
    if (!IsLoaded(*image, *c) || !AllCached(*image)) {
        state.SkipWithError("the first pass did not cache every frame");
        return;
    }
    const size_t bytes = static_cast<size_t>(c->recipe.width) * c->recipe.height * 4;
    std::vector<uint8_t> texture(bytes, 0);
    const BitmapImage::State loaded = image->Snapshot();
    const uint32_t frames = loaded.frameCount;
    for (auto _ : state) {
        for (uint32_t i = 1; i <= frames; ++i) {
            std::memcpy(texture.data(), loaded.frameCache[i % frames], bytes);
            benchmark::ClobberMemory();
        }
    }
    benchmark::DoNotOptimize(texture.data());
}

}  // namespace

std::string LoadFloorName(const GifCase& c) {
    return "load/" + c.name + "/libnsgif";
}

void RegisterImageBenchmarks(std::vector<GifCase>& cases, std::vector<Row>& rows) {
    for (GifCase& c : cases) {
        const double decodes = (c.recipe.frames + 1) * Pixels(c) * kDecodeSecondsPerPixel;
        const int64_t loads = IterationsFor(decodes, 0.25);
        benchmark::RegisterBenchmark(("load/" + c.name + "/module").c_str(), LoadModule, &c)
            ->Iterations(loads)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(LoadFloorName(c).c_str(), LoadFloor, &c)
            ->Iterations(loads)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("load/" + c.name + "/libnsgif_file_store").c_str(),
                                     LoadDesignFloor, &c)
            ->Iterations(loads)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        Row load;
        load.label = "load (Init) " + c.name;
        load.figure = "load/" + c.name + "/module";
        load.floorLabel = "libnsgif";
        load.floor = LoadFloorName(c);
        load.maxRatio = 1.10;
        load.unit = "load";
        rows.push_back(load);
        Row design = load;
        design.label = "load (Init) " + c.name + " vs +file+store";
        design.floorLabel = "+file+store";
        design.floor = "load/" + c.name + "/libnsgif_file_store";
        design.maxRatio = 0.0;
        rows.push_back(design);
    }
    for (GifCase& c : cases) {
        const double pass = c.recipe.frames * Pixels(c) * kDecodeSecondsPerPixel;
        const int64_t passes = IterationsFor(2 * pass, 0.25);
        for (bool plainHost : {true, false}) {
            const std::string name =
                "first_pass/" + c.name + (plainHost ? "/module" : "/module_standin_upload");
            benchmark::RegisterBenchmark(name.c_str(), FirstPassModule, &c, plainHost)
                ->Iterations(passes)
                ->Repetitions(kRepetitions)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("first_pass/" + c.name + "/libnsgif").c_str(), FirstPassFloor,
                                     &c)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("first_pass/" + c.name + "/libnsgif_two_copies").c_str(),
                                     FirstPassDesignFloor, &c)
            ->Iterations(passes)
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        for (bool plainHost : {true, false}) {
            Row row;
            row.label = "first pass " + c.name + (plainHost ? "" : " (stand-in upload)");
            row.figure =
                "first_pass/" + c.name + (plainHost ? "/module" : "/module_standin_upload");
            row.floorLabel = "libnsgif";
            row.floor = "first_pass/" + c.name + "/libnsgif";
            row.maxRatio = plainHost ? 1.10 : 0.0;
            row.unit = "pass over every frame";
            rows.push_back(row);
            if (!plainHost)
                continue;
            // The design's own floor: the module's overhead beyond its two copies per frame.
            row.label = "first pass " + c.name + " vs +2 copies";
            row.floorLabel = "+2 copies";
            row.floor = "first_pass/" + c.name + "/libnsgif_two_copies";
            row.maxRatio = 1.05;
            rows.push_back(row);
        }
    }
    for (GifCase& c : cases) {
        // A memcpy moves some gigabytes a second; the stand-in's upload converts pixel by pixel.
        const double loop = c.recipe.frames * Pixels(c) * 4 / 4e9;
        for (bool plainHost : {true, false}) {
            const std::string name =
                "cached/" + c.name + (plainHost ? "/module" : "/module_standin_upload");
            benchmark::RegisterBenchmark(name.c_str(), CachedModule, &c, plainHost)
                ->Iterations(IterationsFor(plainHost ? loop : 4 * loop, 0.2))
                ->Repetitions(kRepetitions)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("cached/" + c.name + "/memcpy").c_str(), CachedFloor, &c)
            ->Iterations(IterationsFor(loop, 0.2))
            ->Repetitions(kRepetitions)
            ->Unit(benchmark::kMillisecond);
        for (bool plainHost : {true, false}) {
            Row row;
            row.label = "cached playback " + c.name + (plainHost ? "" : " (stand-in upload)");
            row.figure = "cached/" + c.name + (plainHost ? "/module" : "/module_standin_upload");
            row.floorLabel = "memcpy";
            row.floor = "cached/" + c.name + "/memcpy";
            row.maxRatio = plainHost ? 1.5 : 0.0;
            row.allocCounter = "allocs_per_loop";
            row.allocUnit = "loop";
            row.maxAllocs = 0.0;
            row.unit = "loop over every frame";
            rows.push_back(row);
        }
    }
}

}  // namespace bench
