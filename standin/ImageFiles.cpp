// Image files: PNG, JPEG and BMP read through stb_image, a GIF's first frame through libnsgif
// (stb_image's own GIF decoder is left out: it crashed on a valid GIF in our trials), and PNG
// written through stb_image_write. Every file goes through our own file access, so that UTF-8
// paths work on Windows too.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "standin/Internal.h"
#include "standin/Standin.h"

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wtype-limits"
#endif
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 16384
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

extern "C" {
#include <libnsgif.h>
}

namespace {

constexpr size_t kMaxImageFile = 256u << 20;

// ---------------------------------------------------------------- GIF through libnsgif
// libnsgif draws each frame into a bitmap of ours: 4 bytes per pixel, R, G, B, A.
struct GifBitmap {
    unsigned width, height;
    uint8_t* pixels;
};

void* CreateBitmap(int width, int height) {
    if (width <= 0 || height <= 0 ||
        static_cast<unsigned>(width) > standin::detail::kMaxImageSide ||
        static_cast<unsigned>(height) > standin::detail::kMaxImageSide ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) >
            standin::detail::kMaxImagePixels)
        return nullptr;
    auto* bitmap = static_cast<GifBitmap*>(std::malloc(sizeof(GifBitmap)));
    if (!bitmap)
        return nullptr;
    bitmap->width = static_cast<unsigned>(width);
    bitmap->height = static_cast<unsigned>(height);
    bitmap->pixels = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(width) * height, 4));
    if (!bitmap->pixels) {
        std::free(bitmap);
        return nullptr;
    }
    return bitmap;
}

void DestroyBitmap(void* bitmap) {
    if (!bitmap)
        return;
    std::free(static_cast<GifBitmap*>(bitmap)->pixels);
    std::free(bitmap);
}

unsigned char* BitmapBuffer(void* bitmap) {
    return static_cast<GifBitmap*>(bitmap)->pixels;
}

bool ReadGif(std::vector<uint8_t>& bytes, unsigned& width, unsigned& height,
             std::vector<uint8_t>& rgba) {
    gif_bitmap_callback_vt callbacks = {CreateBitmap, DestroyBitmap, BitmapBuffer,
                                        nullptr,      nullptr,       nullptr};
    gif_animation gif;
    gif_create(&gif, &callbacks);
    gif_result result;
    do {
        result = gif_initialise(&gif, bytes.size(), bytes.data());
    } while (result == GIF_WORKING);
    bool ok = (result == GIF_OK || result == GIF_INSUFFICIENT_FRAME_DATA) && gif.frame_count > 0 &&
              gif_decode_frame(&gif, 0) == GIF_OK && gif.frame_image;
    if (ok) {
        auto* bitmap = static_cast<GifBitmap*>(gif.frame_image);
        width = bitmap->width;
        height = bitmap->height;
        try {
            rgba.assign(bitmap->pixels, bitmap->pixels + static_cast<size_t>(width) * height * 4);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    gif_finalise(&gif);
    return ok;
}

bool IsGif(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 6 && (std::memcmp(bytes.data(), "GIF87a", 6) == 0 ||
                                 std::memcmp(bytes.data(), "GIF89a", 6) == 0);
}

void AppendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    auto* bytes = static_cast<const uint8_t*>(data);
    if (size > 0)
        out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

namespace standin {

bool ReadImage(const std::string& path, unsigned& width, unsigned& height,
               std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> bytes;
    if (!detail::ReadWholeFile(path, kMaxImageFile, bytes) || bytes.empty())
        return false;
    unsigned w = 0, h = 0;
    std::vector<uint8_t> pixels;
    if (IsGif(bytes)) {
        if (!ReadGif(bytes, w, h, pixels))
            return false;
    } else {
        int x = 0, y = 0, channels = 0;
        stbi_uc* data = stbi_load_from_memory(bytes.data(), static_cast<int>(bytes.size()), &x, &y,
                                              &channels, 4);
        if (!data)
            return false;
        bool fits = x > 0 && y > 0 &&
                    static_cast<uint64_t>(x) * static_cast<uint64_t>(y) <= detail::kMaxImagePixels;
        try {
            if (fits)
                pixels.assign(data, data + static_cast<size_t>(x) * y * 4);
        } catch (const std::bad_alloc&) {
            fits = false;
        }
        stbi_image_free(data);
        if (!fits)
            return false;
        w = static_cast<unsigned>(x);
        h = static_cast<unsigned>(y);
    }
    width = w;
    height = h;
    rgba = std::move(pixels);
    return true;
}

bool WritePng(const std::string& path, unsigned width, unsigned height,
              const std::vector<uint8_t>& rgba) {
    if (width == 0 || height == 0 || width > detail::kMaxImageSide ||
        height > detail::kMaxImageSide || rgba.size() != static_cast<size_t>(width) * height * 4)
        return false;
    std::vector<uint8_t> png;
    if (!stbi_write_png_to_func(&AppendBytes, &png, static_cast<int>(width),
                                static_cast<int>(height), 4, rgba.data(),
                                static_cast<int>(width * 4)))
        return false;
    return detail::WriteWholeFile(path, png.data(), png.size());
}

}  // namespace standin
