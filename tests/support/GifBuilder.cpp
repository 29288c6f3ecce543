#include "support/GifBuilder.h"

#include <algorithm>

namespace testsupport {

namespace {

void Put16(Bytes& out, unsigned value) {
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
}

// The size field of a colour table (2^(field+1) entries) big enough for `entries`.
uint8_t PaletteSizeField(size_t entries) {
    uint8_t field = 0;
    while (field < 7 && (size_t{2} << field) < entries)
        ++field;
    return field;
}

void PutPalette(Bytes& out, const std::vector<uint8_t>& rgb) {
    size_t entries = size_t{2} << PaletteSizeField(rgb.size() / 3);
    for (size_t i = 0; i < entries * 3; ++i)
        out.push_back(i < rgb.size() ? rgb[i] : 0);
}

void PutSubBlocks(Bytes& out, const Bytes& data) {
    for (size_t at = 0; at < data.size(); at += 255) {
        size_t n = std::min<size_t>(255, data.size() - at);
        out.push_back(static_cast<unsigned char>(n));
        out.insert(out.end(), data.begin() + static_cast<long>(at),
                   data.begin() + static_cast<long>(at + n));
    }
    out.push_back(0);
}

void PutControl(Bytes& out, const GifFrame& frame) {
    if (frame.delayCs < 0)
        return;
    out.insert(out.end(), {0x21, 0xF9, 0x04});
    unsigned packed = (frame.disposal & 7u) << 2;
    if (frame.transparentIndex >= 0)
        packed |= 1;
    out.push_back(static_cast<unsigned char>(packed));
    Put16(out, static_cast<unsigned>(frame.delayCs));
    out.push_back(
        static_cast<unsigned char>(frame.transparentIndex >= 0 ? frame.transparentIndex : 0));
    out.push_back(0);
}

std::vector<uint8_t> InterlacedOrder(const std::vector<uint8_t>& indices, size_t width,
                                     size_t height) {
    std::vector<uint8_t> out;
    const size_t passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    for (const auto& pass : passes)
        for (size_t y = pass[0]; y < height; y += pass[1])
            out.insert(out.end(), indices.begin() + static_cast<long>(y * width),
                       indices.begin() + static_cast<long>((y + 1) * width));
    return out;
}

}  // namespace

GifFrame GifFrame::Solid(uint16_t width, uint16_t height, uint8_t index, int delayCs) {
    GifFrame frame;
    frame.width = width;
    frame.height = height;
    frame.indices.assign(static_cast<size_t>(width) * height, index);
    frame.delayCs = delayCs;
    return frame;
}

GifFrame& GifFrame::Broken() {
    useRawData = true;
    rawData = {0xFF, 0xFF, 0xFF};  // all ones: a first code above the clear code
    return *this;
}

GifBuilder::GifBuilder(uint16_t width, uint16_t height)
    : width_(width),
      height_(height),
      globalPalette_{0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0} {}

GifBuilder& GifBuilder::GlobalPalette(std::vector<uint8_t> rgb) {
    globalPalette_ = std::move(rgb);
    hasGlobalPalette_ = true;
    return *this;
}

GifBuilder& GifBuilder::NoGlobalPalette() {
    hasGlobalPalette_ = false;
    return *this;
}

GifBuilder& GifBuilder::Background(uint8_t index) {
    background_ = index;
    return *this;
}

GifBuilder& GifBuilder::Loop(uint16_t count) {
    loop_ = count;
    return *this;
}

GifBuilder& GifBuilder::Frame(const GifFrame& frame) {
    frames_.push_back(frame);
    return *this;
}

GifBuilder& GifBuilder::TrailingComment(std::string text) {
    trailingComments_.push_back(std::move(text));
    return *this;
}

Bytes GifBuilder::Build() const {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, width_);
    Put16(out, height_);
    uint8_t globalField = PaletteSizeField(globalPalette_.size() / 3);
    out.push_back(static_cast<unsigned char>((hasGlobalPalette_ ? 0x80 : 0) | 0x70 | globalField));
    out.push_back(background_);
    out.push_back(0);
    if (hasGlobalPalette_)
        PutPalette(out, globalPalette_);

    if (loop_ >= 0) {
        out.insert(out.end(), {0x21, 0xFF, 0x0B});
        for (char c : std::string("NETSCAPE2.0"))
            out.push_back(static_cast<unsigned char>(c));
        out.insert(out.end(), {0x03, 0x01});
        Put16(out, static_cast<unsigned>(loop_));
        out.push_back(0);
    }

    for (const GifFrame& frame : frames_) {
        PutControl(out, frame);
        out.push_back(0x2C);
        Put16(out, frame.left);
        Put16(out, frame.top);
        Put16(out, frame.width);
        Put16(out, frame.height);
        bool local = !frame.localPalette.empty();
        uint8_t localField = PaletteSizeField(frame.localPalette.size() / 3);
        out.push_back(static_cast<unsigned char>((local ? 0x80 | localField : 0) |
                                                 (frame.interlaced ? 0x40 : 0)));
        if (local)
            PutPalette(out, frame.localPalette);

        uint8_t tableBits = static_cast<uint8_t>((local ? localField : globalField) + 1);
        uint8_t codeSize = frame.minCodeSize ? frame.minCodeSize : std::max<uint8_t>(2, tableBits);
        out.push_back(codeSize);
        if (frame.useRawData) {
            PutSubBlocks(out, frame.rawData);
            continue;
        }
        std::vector<uint8_t> indices = frame.indices;
        indices.resize(static_cast<size_t>(frame.width) * frame.height, 0);
        if (frame.interlaced)
            indices = InterlacedOrder(indices, frame.width, frame.height);
        PutSubBlocks(out, LzwEncode(indices, codeSize));
    }

    for (const std::string& text : trailingComments_) {
        out.insert(out.end(), {0x21, 0xFE});
        PutSubBlocks(out, Bytes(text.begin(), text.end()));
    }
    out.push_back(0x3B);
    return out;
}

Bytes LzwEncode(const std::vector<uint8_t>& indices, uint8_t minCodeSize) {
    const uint32_t clear = 1u << minCodeSize;
    const unsigned bits = minCodeSize + 1u;
    // After a clear the decoder adds one table entry per code after the first; it widens its codes
    // once the table reaches 2^bits - 1. Runs of clear - 2 literals stay below that.
    const size_t run = clear - 2;
    std::vector<std::pair<uint32_t, unsigned>> codes;
    for (size_t at = 0; at < indices.size(); ++at) {
        if (at % run == 0)
            codes.emplace_back(clear, bits);
        codes.emplace_back(indices[at], bits);
    }
    if (indices.empty())
        codes.emplace_back(clear, bits);
    codes.emplace_back(clear + 1, bits);
    return PackCodes(codes);
}

Bytes PackCodes(const std::vector<std::pair<uint32_t, unsigned>>& codes) {
    Bytes out;
    uint64_t pending = 0;
    unsigned pendingBits = 0;
    for (const auto& [code, bits] : codes) {
        pending |= static_cast<uint64_t>(code) << pendingBits;
        pendingBits += bits;
        while (pendingBits >= 8) {
            out.push_back(static_cast<unsigned char>(pending & 0xFF));
            pending >>= 8;
            pendingBits -= 8;
        }
    }
    if (pendingBits > 0)
        out.push_back(static_cast<unsigned char>(pending & 0xFF));
    return out;
}

Bytes Truncated(Bytes bytes, size_t size) {
    if (size < bytes.size())
        bytes.resize(size);
    return bytes;
}

}  // namespace testsupport
