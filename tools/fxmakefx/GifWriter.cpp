#include "GifWriter.h"

#include <cstdio>
#include <stdexcept>

namespace fxmakefx {

namespace {

class BitPacker {
public:
    void Put(uint32_t code, int width) {
        buffer_ |= code << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            out_.push_back(static_cast<uint8_t>(buffer_ & 0xFF));
            buffer_ >>= 8;
            bits_ -= 8;
        }
    }
    std::vector<uint8_t> Finish() {
        if (bits_ > 0)
            out_.push_back(static_cast<uint8_t>(buffer_ & 0xFF));
        buffer_ = 0;
        bits_ = 0;
        return out_;
    }

private:
    std::vector<uint8_t> out_;
    uint32_t buffer_ = 0;
    int bits_ = 0;
};

void Put16(std::vector<uint8_t>& out, unsigned value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

int PaletteBits(size_t colours) {
    int bits = 1;
    while ((1u << bits) < colours)
        ++bits;
    return bits;
}

}  // namespace

std::vector<uint8_t> LzwCompress(const std::vector<uint8_t>& indices, int minCodeSize) {
    const uint32_t clear = 1u << minCodeSize;
    const uint32_t end = clear + 1;
    // The dictionary: for each code, the code that extends it by each byte (0: none yet).
    std::vector<uint16_t> next(4096 * 256, 0);
    BitPacker packer;
    int width = minCodeSize + 1;
    uint32_t lastCode = end;  // the newest code in the dictionary
    packer.Put(clear, width);
    if (indices.empty()) {
        packer.Put(end, width);
        return packer.Finish();
    }
    uint32_t current = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        uint8_t byte = indices[i];
        uint16_t extended = next[current * 256 + byte];
        if (extended != 0) {
            current = extended;
            continue;
        }
        packer.Put(current, width);
        // The decoder adds the same entry one code later and widens at the same point.
        next[current * 256 + byte] = static_cast<uint16_t>(++lastCode);
        if (lastCode >= (1u << width) && width < 12)
            ++width;
        if (lastCode == 4095) {
            packer.Put(clear, width);
            std::fill(next.begin(), next.end(), 0);
            width = minCodeSize + 1;
            lastCode = end;
        }
        current = byte;
    }
    packer.Put(current, width);
    // The decoder adds an entry for that last code too, and may widen before reading the end.
    if (lastCode != end && ++lastCode >= (1u << width) && width < 12)
        ++width;
    packer.Put(end, width);
    return packer.Finish();
}

GifWriter::GifWriter(uint16_t width, uint16_t height, std::vector<uint8_t> palette)
    : width_(width), height_(height), palette_(std::move(palette)) {
    if (palette_.size() % 3 != 0 || palette_.empty() || palette_.size() > 768)
        throw std::invalid_argument("a GIF palette holds 1 to 256 R,G,B triples");
}

void GifWriter::Loop(uint16_t count) {
    loop_ = count;
}

void GifWriter::Add(GifImage image) {
    if (image.indices.size() != static_cast<size_t>(width_) * height_)
        throw std::invalid_argument("a GIF frame must cover the whole canvas");
    images_.push_back(std::move(image));
}

std::vector<uint8_t> GifWriter::Bytes() const {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, width_);
    Put16(out, height_);
    const int bits = PaletteBits(palette_.size() / 3);
    out.push_back(static_cast<uint8_t>(0x80 | 0x70 | (bits - 1)));  // global table, 8-bit colour
    out.push_back(0);                                               // background index
    out.push_back(0);                                               // aspect
    std::vector<uint8_t> table = palette_;
    table.resize(static_cast<size_t>(3) << bits, 0);
    out.insert(out.end(), table.begin(), table.end());

    if (loop_ >= 0) {
        const char app[] = "NETSCAPE2.0";
        out.push_back(0x21);
        out.push_back(0xFF);
        out.push_back(11);
        out.insert(out.end(), app, app + 11);
        out.push_back(3);
        out.push_back(1);
        Put16(out, static_cast<unsigned>(loop_));
        out.push_back(0);
    }

    const int minCodeSize = bits < 2 ? 2 : bits;
    for (const GifImage& image : images_) {
        out.push_back(0x21);
        out.push_back(0xF9);
        out.push_back(4);
        out.push_back(static_cast<uint8_t>((image.disposal & 7) << 2 |
                                           (image.transparentIndex >= 0 ? 1 : 0)));
        Put16(out, image.delayCs);
        out.push_back(
            static_cast<uint8_t>(image.transparentIndex >= 0 ? image.transparentIndex : 0));
        out.push_back(0);

        out.push_back(0x2C);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, width_);
        Put16(out, height_);
        out.push_back(0);

        out.push_back(static_cast<uint8_t>(minCodeSize));
        std::vector<uint8_t> data = LzwCompress(image.indices, minCodeSize);
        // After the first clear code, codes of all ones: beyond the dictionary, which a decoder
        // refuses when it decodes the frame (a scan of the file sees nothing wrong).
        if (image.broken)
            std::fill(data.begin() + 2, data.end(), 0xFF);
        for (size_t at = 0; at < data.size(); at += 255) {
            size_t length = std::min<size_t>(255, data.size() - at);
            out.push_back(static_cast<uint8_t>(length));
            out.insert(out.end(), data.begin() + static_cast<long>(at),
                       data.begin() + static_cast<long>(at + length));
        }
        out.push_back(0);
    }
    out.push_back(0x3B);
    return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace fxmakefx
