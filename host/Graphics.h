#pragma once

#include <cstdint>

#include "Alloc.h"
#include "HostExport.h"

// Pixel layouts of texture data handed to the host.
enum GSColorFormat : int {
    GS_UNKNOWNFORMAT = 0,
    GS_ALPHA = 1,      // 8-bit alpha
    GS_GRAYSCALE = 2,  // 8-bit grey
    GS_BGRA = 3,       // 32-bit pixels, bytes blue, green, red, alpha
    GS_RGBA = 4,       // 32-bit pixels, bytes red, green, blue, alpha, taken as they are
};

using ShaderParameter = void*;

// Host objects that the module creates and then releases with `delete`. Their class-level delete
// goes back to MainAllocator, which module and host share.
class Texture : public MainAllocated {
public:
    virtual ~Texture() = default;
    virtual unsigned GetWidth() const = 0;
    virtual unsigned GetHeight() const = 0;
    // Replaces every pixel. `pitch` is the byte distance between rows of `pixels`. Ignored for a
    // texture created static.
    virtual void UploadPixels(const void* pixels, int format, unsigned pitch) = 0;
};

class Shader : public MainAllocated {
public:
    virtual ~Shader() = default;
    // A handle for the parameter at `index`, or null when the shader has no such parameter.
    virtual ShaderParameter ParameterByIndex(unsigned index) = 0;
    // Colours are 0xAARRGGBB. A null handle is ignored.
    virtual void SetColor(ShaderParameter parameter, uint32_t color) = 0;
    virtual void SetParameterFloat(ShaderParameter parameter, float value) = 0;
};

class GraphicsSystem {
public:
    // Null when the file is missing or holds no program the host knows. The caller owns the result.
    virtual Shader* CreatePixelShaderFromFile(const wchar_t* path) = 0;
    // The pixel shader now bound, or null for the host's default drawing.
    virtual Shader* CurrentPixelShader() = 0;
    // Null restores the host's default drawing.
    virtual void BindPixelShader(Shader* shader) = 0;
    // Draws the whole texture into the rectangle with corners (x, y) and (x2, y2), in canvas
    // pixels. `color` is 0xAARRGGBB: its alpha is the sprite's alpha, its colour modulates.
    virtual void DrawSprite(Texture* texture, uint32_t color, float x, float y, float x2,
                            float y2) = 0;
    // A texture of the given size from `pixels` in `format` (rows packed, no gap), or null.
    // A static texture's pixels are never replaced. The caller owns the result.
    virtual Texture* CreateTexture(unsigned width, unsigned height, int format, const void* pixels,
                                   bool buildMipMaps, bool isStatic) = 0;
    // A static texture from an image file (PNG, JPEG, BMP, GIF's first frame), or null.
    virtual Texture* CreateTextureFromFile(const wchar_t* path, bool buildMipMaps) = 0;

protected:
    ~GraphicsSystem() = default;
};

#if defined(VANTREL_HOST_GLOBALS_DIRECT)
extern HOSTAPI GraphicsSystem* GS;
#else
extern GraphicsSystem** vantrel_hostGS;
#define GS (*vantrel_hostGS)
#endif
