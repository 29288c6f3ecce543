#pragma once

// Still pictures (PNG, JPEG, BMP) decoded by the system's own decoder, for the background load:
// Windows Imaging Component on Windows, and on other systems the decoder the stand-in host reads
// stills with, so that the simulation shows what the host's loader shows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "PlatformExport.h"

namespace platform {

enum class StillDecode {
    Done,      // `rgba` holds width x height pixels, bytes R, G, B, A, rows top to bottom, packed
    Unknown,   // not a format this decoder reads
    Failed,    // a format it reads, but the picture could not be decoded
    TooLarge,  // more than `maxBytes` of pixels: nothing was allocated for them
    NoMemory,
};

// The formats DecodeStill reads, told by their first bytes (the file's extension says nothing):
// PNG, JPEG and BMP. Anything else is left to the host's own loader.
inline bool IsStillFormat(const uint8_t* bytes, size_t size) {
    auto begins = [bytes, size](const char* signature, size_t length) {
        return size >= length && std::memcmp(bytes, signature, length) == 0;
    };
    return bytes && (begins("\x89PNG\r\n\x1a\n", 8) || begins("\xFF\xD8", 2) || begins("BM", 2));
}

// Decodes the picture in `bytes`. Safe to call from any thread, several at once; it touches
// nothing else of the system. Alpha is straight (not premultiplied); a picture without alpha gets
// 255.
PLATFORMAPI StillDecode DecodeStill(const uint8_t* bytes, size_t size, uint64_t maxBytes,
                                    std::vector<uint8_t>& rgba, uint32_t& width, uint32_t& height);

}  // namespace platform
