#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "image/BitmapImage.h"
#include "platform/Platform.h"
#include "platform/SimPlatform.h"
#include "plugin/ModuleState.h"
#include "standin/Standin.h"

namespace fuzzsupport {

namespace {

std::string& WorkDirPath() {
    static std::string path;
    return path;
}

void RemoveWorkDir() {
    std::error_code ignored;
    if (!WorkDirPath().empty())
        std::filesystem::remove_all(WorkDirPath(), ignored);
}

// A DumpError is a programming error in the module: stop as on any other crash.
[[noreturn]] void FatalReport(const std::wstring& text) {
    std::fprintf(stderr, "fuzz: DumpError: %s\n", standin::ToUtf8(text).c_str());
    std::abort();
}

void SetUpOnce() {
    static bool done = false;
    if (done)
        return;
    done = true;
    standin::Install();
    standin::SetLogEcho(false);
    standin::SetFatalHandler(&FatalReport);
}

}  // namespace

void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz: check failed: %s (%s:%d)\n", what, file, line);
    for (const standin::LogRecord& record : standin::LogRecords())
        std::fprintf(stderr, "fuzz: log: %s\n", standin::ToUtf8(record.text).c_str());
    std::abort();
}

void BeginInput() {
    SetUpOnce();
    standin::Reset();
    standin::SetLogEcho(false);
    platform::Simulation().Reset();
    platform::Swap(&platform::Simulation());
    vantrel::ResetModuleStateForTests();
    standin::SetBaseDirectory(WorkDir());
    standin::FailAllocationsLargerThan(kAllocationLimit);
}

Baseline TakeBaseline() {
    return Baseline{standin::AllocatorStats().liveBlocks, standin::LiveTextureCount(),
                    standin::LiveShaderCount()};
}

void CheckBackAt(const Baseline& baseline) {
    const Baseline now = TakeBaseline();
    if (now.liveBlocks != baseline.liveBlocks)
        std::fprintf(stderr, "fuzz: %zu blocks alive, %zu before\n", now.liveBlocks,
                     baseline.liveBlocks);
    FUZZ_CHECK(now.liveBlocks == baseline.liveBlocks);
    FUZZ_CHECK(now.liveTextures == baseline.liveTextures);
    FUZZ_CHECK(now.liveShaders == baseline.liveShaders);
}

void CheckImage(const BitmapImage& image) {
    const BitmapImage::State state = image.Snapshot();
    const standin::TextureInfo* info =
        image.texture ? standin::InspectTexture(image.texture) : nullptr;
    if (image.texture)
        FUZZ_CHECK(info != nullptr);  // a live texture of the host, not a freed one
    FUZZ_CHECK(std::isfinite(image.width) && std::isfinite(image.height));
    FUZZ_CHECK(image.width >= 1.0f && image.height >= 1.0f);

    if (!state.isAnimated) {
        FUZZ_CHECK(!state.holdsFile);
        FUZZ_CHECK(state.frameCache == nullptr);
        FUZZ_CHECK(state.frameStore == nullptr);
        FUZZ_CHECK(state.delayCount == 0);
        if (info) {
            FUZZ_CHECK(image.width == static_cast<float>(info->width));
            FUZZ_CHECK(image.height == static_cast<float>(info->height));
        } else {
            // Only the placeholder's size stands without a texture (the host made none).
            FUZZ_CHECK(image.width == 32.0f && image.height == 32.0f);
        }
        return;
    }

    const uint32_t frames = state.frameCount;
    const uint32_t w = state.canvasWidth;
    const uint32_t h = state.canvasHeight;
    FUZZ_CHECK(frames > 1);
    FUZZ_CHECK(state.frameFailed != nullptr);
    FUZZ_CHECK(w >= 1 && w <= 4096 && h >= 1 && h <= 4096);
    FUZZ_CHECK(static_cast<uint64_t>(frames) * w * h * 4 < (uint64_t{1} << 32));
    FUZZ_CHECK(image.width == static_cast<float>(w) && image.height == static_cast<float>(h));
    FUZZ_CHECK(state.holdsFile && state.frameCache && state.frameStore);
    FUZZ_CHECK(state.delayCount == frames);
    FUZZ_CHECK(state.currentFrame < frames);
    FUZZ_CHECK(state.lastDecodedFrame < frames);
    FUZZ_CHECK(std::isfinite(state.frameTime) && state.frameTime >= 0.0f);
    const size_t frameBytes = static_cast<size_t>(w) * h * 4;
    for (uint32_t i = 0; i < frames; ++i) {
        const float delay = state.frameDelays[i];
        FUZZ_CHECK(std::isfinite(delay) && delay > 0.0f);
        FUZZ_CHECK(state.frameCache[i] == nullptr ||
                   state.frameCache[i] == state.frameStore + i * frameBytes);
    }
    if (info) {
        FUZZ_CHECK(info->width == w && info->height == h);
        FUZZ_CHECK(!info->isStatic);
    }
}

const std::string& WorkDir() {
    std::string& path = WorkDirPath();
    if (!path.empty())
        return path;
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate = base / ("vantrel-fuzz-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path = candidate.generic_string();
            break;
        }
    }
    std::atexit(&RemoveWorkDir);
    return path;
}

std::string WriteWorkFile(const std::string& name, const void* bytes, size_t size) {
    const std::string path = WorkDir() + "/" + name;
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    out.close();
    if (!out)
        Fail("the fuzz input could not be written to a file", __FILE__, __LINE__);
    return path;
}

std::string WriteWorkFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    return WriteWorkFile(name, bytes.data(), bytes.size());
}

}  // namespace fuzzsupport
