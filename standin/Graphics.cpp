// The host's graphics system on the CPU: textures held as R,G,B,A bytes, the pixel-shader binding,
// sprites composited onto the canvas, and a record of every call the module makes.
//
// Texture formats (the codes of GSColorFormat):
//   1 GS_ALPHA      one byte per pixel, alpha; held as white with that alpha
//   2 GS_GRAYSCALE  one byte per pixel, grey; held opaque
//   3 GS_BGRA       four bytes per pixel: blue, green, red, alpha
//   4 GS_RGBA       four bytes per pixel: red, green, blue, alpha, taken as they are
#include "host/Graphics.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

#include "host/Log.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

namespace {

using standin::GraphicsEvent;
using standin::GraphicsEventKind;
using standin::TextureInfo;

unsigned BytesPerPixel(int format) {
    switch (format) {
        case GS_ALPHA:
        case GS_GRAYSCALE:
            return 1;
        case GS_BGRA:
        case GS_RGBA:
            return 4;
        default:
            return 0;
    }
}

// Converts rows of `format` pixels `pitch` bytes apart into packed R,G,B,A.
void ToRgba(const uint8_t* source, int format, unsigned width, unsigned height, size_t pitch,
            uint8_t* target) {
    if (format == GS_RGBA) {
        // Already the stored layout: one copy per row, as a GPU upload would cost.
        const size_t rowBytes = static_cast<size_t>(width) * 4;
        for (unsigned y = 0; y < height; ++y)
            std::memcpy(target + y * rowBytes, source + y * pitch, rowBytes);
        return;
    }
    for (unsigned y = 0; y < height; ++y) {
        const uint8_t* in = source + y * pitch;
        uint8_t* out = target + static_cast<size_t>(y) * width * 4;
        for (unsigned x = 0; x < width; ++x, out += 4) {
            switch (format) {
                case GS_ALPHA:
                    out[0] = out[1] = out[2] = 255, out[3] = in[x];
                    break;
                case GS_GRAYSCALE:
                    out[0] = out[1] = out[2] = in[x], out[3] = 255;
                    break;
                case GS_BGRA:
                    out[0] = in[4 * x + 2], out[1] = in[4 * x + 1], out[2] = in[4 * x];
                    out[3] = in[4 * x + 3];
                    break;
                default:
                    out[0] = in[4 * x], out[1] = in[4 * x + 1], out[2] = in[4 * x + 2];
                    out[3] = in[4 * x + 3];
                    break;
            }
        }
    }
}

class StandinTexture;

struct GraphicsState {
    std::mutex mutex;
    std::vector<GraphicsEvent> events;
    std::unordered_set<const Texture*> textures;
    std::unordered_set<const Shader*> shaders;
    Shader* bound = nullptr;
    bool textureCreationFails = false;
};

GraphicsState& State() {
    static GraphicsState* state = new GraphicsState;  // leaked: objects may die after main
    return *state;
}

// Trivially destructible, so it may live as a plain global.
std::atomic<standin::CompositeHook> compositeHook{nullptr};

class StandinTexture final : public Texture {
public:
    StandinTexture() = default;
    ~StandinTexture() override {
        std::lock_guard<std::mutex> lock(State().mutex);
        State().textures.erase(this);
    }

    unsigned GetWidth() const override { return info.width; }
    unsigned GetHeight() const override { return info.height; }

    void UploadPixels(const void* pixels, int format, unsigned pitch) override {
        if (info.isStatic || !pixels)
            return;
        unsigned bytes = BytesPerPixel(format);
        if (bytes == 0) {
            Log(L"Texture::UploadPixels: unknown format %d; pixels kept", format);
            return;
        }
        if (pitch < static_cast<uint64_t>(info.width) * bytes) {
            Log(L"Texture::UploadPixels: row pitch %u is shorter than a row; pixels kept", pitch);
            return;
        }
        ToRgba(static_cast<const uint8_t*>(pixels), format, info.width, info.height, pitch,
               info.rgba.data());
        ++info.uploads;
    }

    TextureInfo info;
};

Texture* MakeTexture(unsigned width, unsigned height, int format, const void* pixels,
                     bool isStatic) {
    unsigned bytes = BytesPerPixel(format);
    if (bytes == 0 || width == 0 || height == 0)
        return nullptr;
    if (width > standin::detail::kMaxImageSide || height > standin::detail::kMaxImageSide ||
        static_cast<uint64_t>(width) * height > standin::detail::kMaxImagePixels)
        return nullptr;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        if (State().textureCreationFails)
            return nullptr;
    }
    auto* texture = new StandinTexture;
    if (!texture)
        return nullptr;  // MainAllocator had no memory
    try {
        texture->info.width = width;
        texture->info.height = height;
        texture->info.createdFormat = format;
        texture->info.isStatic = isStatic;
        texture->info.rgba.assign(static_cast<size_t>(width) * height * 4, 0);
        if (pixels)
            ToRgba(static_cast<const uint8_t*>(pixels), format, width, height,
                   static_cast<size_t>(width) * bytes, texture->info.rgba.data());
        std::lock_guard<std::mutex> lock(State().mutex);
        State().textures.insert(texture);
    } catch (const std::bad_alloc&) {
        delete texture;
        return nullptr;
    }
    return texture;
}

void Record(const GraphicsEvent& event) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().events.push_back(event);
}

class StandinGraphics final : public GraphicsSystem {
public:
    constexpr StandinGraphics() = default;

    Shader* CreatePixelShaderFromFile(const wchar_t* path) override {
        std::string resolved = standin::ResolvePath(path);
        if (resolved.empty())
            return nullptr;
        return standin::detail::LoadPixelShader(resolved);
    }

    Shader* CurrentPixelShader() override {
        std::lock_guard<std::mutex> lock(State().mutex);
        return State().bound;
    }

    void BindPixelShader(Shader* shader) override {
        GraphicsEvent event;
        event.kind = GraphicsEventKind::BindShader;
        event.shader = shader;
        std::lock_guard<std::mutex> lock(State().mutex);
        State().events.push_back(event);
        State().bound = shader;
    }

    void DrawSprite(Texture* texture, uint32_t color, float x, float y, float x2,
                    float y2) override {
        GraphicsEvent event;
        event.kind = GraphicsEventKind::DrawSprite;
        event.color = color;
        event.texture = texture;
        event.x = x, event.y = y, event.x2 = x2, event.y2 = y2;
        const TextureInfo* info = nullptr;
        standin::detail::PixelProgram program;
        {
            std::lock_guard<std::mutex> lock(State().mutex);
            event.shader = State().bound;
            State().events.push_back(event);
            if (State().textures.count(texture))
                info = &static_cast<const StandinTexture*>(texture)->info;
            // A shader that is not ours (or no longer alive) cannot be run: draw as with none.
            if (State().shaders.count(State().bound))
                program = standin::detail::ProgramOf(State().bound);
        }
        if (!info)
            return;
        standin::CompositeHook hook = compositeHook.load();
        if (hook)
            hook(true);
        standin::detail::Composite(*info, color, x, y, x2, y2, program);
        if (hook)
            hook(false);
    }

    Texture* CreateTexture(unsigned width, unsigned height, int format, const void* pixels,
                           bool buildMipMaps, bool isStatic) override {
        (void)buildMipMaps;
        return MakeTexture(width, height, format, pixels, isStatic);
    }

    Texture* CreateTextureFromFile(const wchar_t* path, bool buildMipMaps) override {
        (void)buildMipMaps;
        {
            std::lock_guard<std::mutex> lock(State().mutex);
            if (State().textureCreationFails)
                return nullptr;
        }
        std::string resolved = standin::ResolvePath(path);
        unsigned width = 0, height = 0;
        std::vector<uint8_t> rgba;
        if (resolved.empty() || !standin::ReadImage(resolved, width, height, rgba))
            return nullptr;
        standin::detail::ReportFileRead(resolved);
        return MakeTexture(width, height, GS_RGBA, rgba.data(), true);
    }
};

StandinGraphics gGraphics;

}  // namespace

// Initialised statically, so that a module loaded by any program finds the graphics system.
HOSTAPI GraphicsSystem* GS = &gGraphics;

namespace standin {

namespace detail {

GraphicsSystem* HostGraphics() {
    return &gGraphics;
}

void RecordGraphicsEvent(const GraphicsEvent& event) {
    Record(event);
}

void AddLiveShader(const Shader* shader) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().shaders.insert(shader);
}

void ForgetShader(const Shader* shader) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().shaders.erase(shader);
    if (State().bound == shader)
        State().bound = nullptr;
}

void ResetGraphics() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().events.clear();
    State().bound = nullptr;
    State().textureCreationFails = false;
}

}  // namespace detail

const TextureInfo* InspectTexture(const Texture* texture) {
    std::lock_guard<std::mutex> lock(State().mutex);
    if (!State().textures.count(texture))
        return nullptr;
    return &static_cast<const StandinTexture*>(texture)->info;
}

size_t LiveTextureCount() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().textures.size();
}

size_t LiveShaderCount() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().shaders.size();
}

void SetCompositeHook(CompositeHook hook) {
    compositeHook.store(hook);
}

void SetTextureCreationFails(bool fails) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().textureCreationFails = fails;
}

std::vector<GraphicsEvent> GraphicsEvents() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().events;
}

void ClearGraphicsEvents() {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().events.clear();
}

}  // namespace standin
