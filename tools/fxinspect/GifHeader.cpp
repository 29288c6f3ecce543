#include "GifHeader.h"

#include <cstring>

namespace fxinspect {

namespace {

constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kImage = 0x2C;
constexpr uint8_t kApplication = 0xFF;
constexpr size_t kScreenEnd = 13;  // signature, version, logical screen descriptor

size_t ColourTableBytes(uint8_t flags) {
    return flags & 0x80 ? 3u * (2u << (flags & 7)) : 0;
}

// The offset just past a run of data sub-blocks and its terminator; `size` when it runs off the
// end.
size_t SkipSubBlocks(const std::vector<uint8_t>& bytes, size_t at) {
    while (at < bytes.size() && bytes[at] != 0)
        at += bytes[at] + 1u;
    return at < bytes.size() ? at + 1 : bytes.size();
}

// libnsgif's test: an 11-byte block "NETSCAPE2.0", then a 3-byte sub-block of id 1 and the count.
bool ReadLoopExtension(const std::vector<uint8_t>& bytes, size_t block, uint32_t& count) {
    if (block + 16 > bytes.size() || bytes[block] != 0x0B ||
        std::memcmp(&bytes[block + 1], "NETSCAPE2.0", 11) != 0 || bytes[block + 12] != 0x03 ||
        bytes[block + 13] != 0x01)
        return false;
    count = bytes[block + 14] | static_cast<uint32_t>(bytes[block + 15]) << 8;
    return true;
}

}  // namespace

GifHeader ReadGifHeader(const std::vector<uint8_t>& bytes) {
    GifHeader header;
    if (bytes.size() < kScreenEnd || std::memcmp(bytes.data(), "GIF", 3) != 0)
        return header;
    header.isGif = true;
    header.width = bytes[6] | static_cast<uint32_t>(bytes[7]) << 8;
    header.height = bytes[8] | static_cast<uint32_t>(bytes[9]) << 8;

    size_t at = kScreenEnd + ColourTableBytes(bytes[10]);
    while (at < bytes.size()) {
        if (bytes[at] == kExtension && at + 1 < bytes.size()) {
            uint32_t count = 0;
            if (bytes[at + 1] == kApplication && ReadLoopExtension(bytes, at + 2, count)) {
                header.hasLoopExtension = true;
                header.loopCount = count;
            }
            at = SkipSubBlocks(bytes, at + 2);
        } else if (bytes[at] == kImage && at + 10 < bytes.size()) {
            // Descriptor, local colour table, LZW minimum code size, then the image data.
            at += 10 + ColourTableBytes(bytes[at + 9]) + 1;
            at = SkipSubBlocks(bytes, at);
        } else {
            break;  // the trailer, or something no decoder would read on
        }
    }
    return header;
}

}  // namespace fxinspect
