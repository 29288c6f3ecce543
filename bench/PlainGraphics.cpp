#include "PlainGraphics.h"

#include <cstring>

namespace bench {

namespace {

// Pixels handed to a texture: at its creation, by UploadPixels, or read from a file by the host.
uint64_t textureUploads = 0;
uint64_t texturesMade = 0;

unsigned BytesPerPixel(int format) {
    return format == GS_ALPHA || format == GS_GRAYSCALE ? 1 : 4;
}

class PlainTexture final : public Texture {
public:
    PlainTexture(unsigned width, unsigned height, int format)
        : width_(width),
          height_(height),
          rowBytes_(static_cast<size_t>(width) * BytesPerPixel(format)) {
        // Touched once here, as a driver would commit the texture's memory at creation.
        pixels_ = static_cast<uint8_t*>(MainAllocator->Allocate(rowBytes_ * height));
        if (pixels_)
            std::memset(pixels_, 0, rowBytes_ * height);
    }
    ~PlainTexture() override { MainAllocator->Free(pixels_); }

    // From here on the pixels are never replaced.
    void MakeStatic() { isStatic_ = true; }

    unsigned GetWidth() const override { return width_; }
    unsigned GetHeight() const override { return height_; }

    void UploadPixels(const void* pixels, int, unsigned pitch) override {
        if (isStatic_ || !pixels || !pixels_)
            return;
        ++textureUploads;
        if (pitch == rowBytes_) {
            std::memcpy(pixels_, pixels, rowBytes_ * height_);
            return;
        }
        for (unsigned y = 0; y < height_; ++y)
            std::memcpy(pixels_ + y * rowBytes_, static_cast<const uint8_t*>(pixels) + y * pitch,
                        rowBytes_);
    }

private:
    unsigned width_, height_;
    size_t rowBytes_;
    bool isStatic_ = false;
    uint8_t* pixels_ = nullptr;
};

class PlainShader final : public Shader {
public:
    ShaderParameter ParameterByIndex(unsigned index) override {
        return index < kParameters ? &values_[index] : nullptr;
    }
    void SetColor(ShaderParameter parameter, uint32_t color) override {
        if (parameter)
            *static_cast<float*>(parameter) = static_cast<float>(color);
    }
    void SetParameterFloat(ShaderParameter parameter, float value) override {
        if (parameter)
            *static_cast<float*>(parameter) = value;
    }

private:
    static constexpr unsigned kParameters = 8;
    float values_[kParameters] = {};
};

class Plain final : public GraphicsSystem {
public:
    Shader* CreatePixelShaderFromFile(const wchar_t*) override { return new PlainShader; }
    Shader* CurrentPixelShader() override { return bound_; }
    void BindPixelShader(Shader* shader) override { bound_ = shader; }
    void DrawSprite(Texture* texture, uint32_t, float, float, float, float) override {
        if (texture)
            ++sprites_;
    }
    Texture* CreateTexture(unsigned width, unsigned height, int format, const void* pixels, bool,
                           bool isStatic) override {
        auto* texture = new PlainTexture(width, height, format);
        if (!texture)
            return nullptr;
        ++texturesMade;
        texture->UploadPixels(pixels, format, width * BytesPerPixel(format));
        if (isStatic)
            texture->MakeStatic();
        return texture;
    }
    Texture* CreateTextureFromFile(const wchar_t* path, bool buildMipMaps) override {
        ++textureUploads;
        return stillImages->CreateTextureFromFile(path, buildMipMaps);
    }

    GraphicsSystem* stillImages = nullptr;
    Shader* bound_ = nullptr;
    uint64_t sprites_ = 0;
};

Plain gPlain;

}  // namespace

GraphicsSystem* PlainGraphics() {
    if (!gPlain.stillImages && GS != &gPlain)
        gPlain.stillImages = GS;
    return &gPlain;
}

uint64_t PlainTextureUploads() {
    return textureUploads;
}

uint64_t PlainTexturesMade() {
    return texturesMade;
}

uint64_t PlainSpriteCount() {
    return gPlain.sprites_;
}

}  // namespace bench
