// Still pictures on the simulated system: stb_image, the decoder the stand-in host reads stills
// with, limited to the formats the stand-in reads (PNG, JPEG, BMP).
#include <new>

#include "platform/StillDecoder.h"

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
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace platform {

StillDecode DecodeStill(const uint8_t* bytes, size_t size, uint64_t maxBytes,
                        std::vector<uint8_t>& rgba, uint32_t& width, uint32_t& height) {
    rgba.clear();
    width = height = 0;
    if (!IsStillFormat(bytes, size))
        return StillDecode::Unknown;
    if (size > static_cast<size_t>(INT32_MAX))
        return StillDecode::Failed;
    const int length = static_cast<int>(size);
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(bytes, length, &w, &h, &channels) || w <= 0 || h <= 0)
        return StillDecode::Failed;
    const uint64_t pixelBytes = static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4u;
    if (pixelBytes > maxBytes)
        return StillDecode::TooLarge;
    stbi_uc* data = stbi_load_from_memory(bytes, length, &w, &h, &channels, 4);
    if (!data)
        return StillDecode::Failed;
    StillDecode result = StillDecode::Done;
    if (static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4u != pixelBytes) {
        result = StillDecode::Failed;  // the header said otherwise than the picture
    } else {
        try {
            rgba.assign(data, data + pixelBytes);
            width = static_cast<uint32_t>(w);
            height = static_cast<uint32_t>(h);
        } catch (const std::bad_alloc&) {
            result = StillDecode::NoMemory;
        }
    }
    stbi_image_free(data);
    return result;
}

}  // namespace platform
