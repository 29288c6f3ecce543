#pragma once

// Draws with real shaders on Mesa's software GPU (lavapipe) through Vulkan, with no window system
// and no hardware: a reference for what the host's GPU does with a pixel shader.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct RgbaImage {
    unsigned width = 0, height = 0;
    std::vector<uint8_t> pixels;  // R, G, B, A rows, packed
};

class Lavapipe {
public:
    Lavapipe();
    ~Lavapipe();
    Lavapipe(const Lavapipe&) = delete;
    Lavapipe& operator=(const Lavapipe&) = delete;

    // Empty when the device is ready, else what is missing.
    const std::string& Error() const { return error_; }

    // One full-screen triangle into an RGBA8 (UNORM) target of `target`'s size, cleared to
    // transparent black and blended source-over with straight alpha, as the host blends a sprite:
    // rgb = src.rgb * a + dst.rgb * (1 - a), alpha = a + dst.alpha * (1 - a). Set 0 holds the
    // `texture` (RGBA8 UNORM) at binding 0, `uniforms` as a uniform buffer at binding 1, and a
    // sampler at binding 2 (`linear` filtering or nearest, clamped at the edges). The vertex
    // shader gets the vertex index only. False and `error` when anything fails.
    bool Draw(const std::vector<uint32_t>& vertexSpirv, const std::vector<uint32_t>& pixelSpirv,
              const RgbaImage& texture, const std::vector<uint8_t>& uniforms, bool linear,
              RgbaImage& target, std::string& error);

private:
    struct Device;
    std::unique_ptr<Device> device_;
    std::string error_;
};

}  // namespace testsupport
