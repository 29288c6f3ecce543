#pragma once

// A graphics system whose costs are as low as a host's can be, so that what the benchmarks measure
// is the module's own work: a texture upload is one memcpy, a sprite draw only counts itself, and
// shaders keep their parameters. Still images are left to the stand-in's graphics.
#include <cstdint>

#include "host/Graphics.h"

namespace bench {

GraphicsSystem* PlainGraphics();
// Textures given pixels so far: made with them, updated, or made from a file by the host's loader.
uint64_t PlainTextureUploads();
// Textures made through PlainGraphics so far (each with its memory committed at creation).
uint64_t PlainTexturesMade();
// Sprites drawn through PlainGraphics so far.
uint64_t PlainSpriteCount();

// Puts a graphics system in GS for the scope's life.
class GraphicsScope {
public:
    explicit GraphicsScope(GraphicsSystem* graphics) : saved_(GS) { GS = graphics; }
    ~GraphicsScope() { GS = saved_; }
    GraphicsScope(const GraphicsScope&) = delete;
    GraphicsScope& operator=(const GraphicsScope&) = delete;

private:
    GraphicsSystem* saved_;
};

}  // namespace bench
