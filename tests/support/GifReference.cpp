#include "support/GifReference.h"

#include <algorithm>

namespace testsupport {

namespace {

// Reads bytes in order; a read past the end gives 0 and marks the reader as failed.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool failed() const { return failed_; }
    uint8_t Byte() {
        if (at_ < size_)
            return data_[at_++];
        failed_ = true;
        return 0;
    }
    unsigned Word() {
        const unsigned low = Byte();
        return low | (Byte() << 8u);
    }
    std::vector<uint8_t> Bytes(size_t n) {
        std::vector<uint8_t> out;
        Append(out, n);
        return out;
    }
    // A run of data sub-blocks up to its empty terminator, joined.
    std::vector<uint8_t> SubBlocks() {
        std::vector<uint8_t> out;
        for (unsigned n = Byte(); n != 0 && !failed_; n = Byte())
            Append(out, n);
        return out;
    }

private:
    void Append(std::vector<uint8_t>& out, size_t n) {
        failed_ = failed_ || n > size_ - at_;
        n = std::min(n, size_ - at_);
        out.insert(out.end(), data_ + at_, data_ + at_ + n);
        at_ += n;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    bool failed_ = false;
};

// GIF's variable-length-code LZW: codes packed least significant bit first, starting one bit wider
// than the minimum code size, with a clear code (2^size) and an end code after the literals; each
// code after the first adds the previous string plus the first index of the current one to the
// table, and the code width grows when the table fills it, up to 12 bits, where the table stops
// growing. Gives exactly `count` indices, or false when the data ends first or is not valid.
bool Unpack(const std::vector<uint8_t>& data, unsigned minSize, size_t count,
            std::vector<uint8_t>& out) {
    const unsigned clear = 1u << minSize, end = clear + 1;
    unsigned prefix[4096], next = clear + 2, width = minSize + 1;
    uint8_t suffix[4096];
    for (unsigned i = 0; i < clear; ++i)
        suffix[i] = static_cast<uint8_t>(i);
    int previous = -1;
    size_t at = 0;
    uint32_t bits = 0, held = 0;  // bits not yet used, lowest first
    std::vector<uint8_t> string;
    out.reserve(count);
    while (out.size() < count) {
        for (; held < width && at < data.size(); held += 8)
            bits |= uint32_t{data[at++]} << held;
        if (held < width)
            return false;
        const unsigned code = bits & ((1u << width) - 1);
        bits >>= width;
        held -= width;
        if (code == clear) {
            width = minSize + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == end || code > next || (previous < 0 && code > clear))
            return false;
        if (previous < 0) {
            out.push_back(static_cast<uint8_t>(code));
            previous = static_cast<int>(code);
            continue;
        }
        // The string of `code`, or for the code about to be added, the previous string; back to
        // front.
        string.clear();
        for (unsigned c = code < next ? code : static_cast<unsigned>(previous);; c = prefix[c]) {
            string.push_back(suffix[c]);
            if (c < clear)
                break;
        }
        const uint8_t head = string.back();
        if (code == next)
            string.insert(string.begin(), head);
        out.insert(out.end(), string.rbegin(), string.rend());
        if (next < 4096) {
            prefix[next] = static_cast<unsigned>(previous);
            suffix[next] = head;
            if (++next == (1u << width) && width < 12)
                ++width;
        }
        previous = static_cast<int>(code);
    }
    out.resize(count);
    return true;
}

// The rows of an interlaced image in the order the file holds them: every 8th row from 0, every 8th
// from 4, every 4th from 2, every 2nd from 1.
std::vector<unsigned> InterlacedRows(unsigned height) {
    std::vector<unsigned> rows;
    const unsigned passes[4][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    for (const auto& pass : passes)
        for (unsigned y = pass[0]; y < height; y += pass[1])
            rows.push_back(y);
    return rows;
}

struct Image {
    unsigned left, top, width, height, disposal;
    std::vector<uint8_t> rgba;  // alpha 0 where the canvas shows through
};

}  // namespace

ReferenceGif ComposeGif(const uint8_t* data, size_t size, size_t maxBytes) {
    ReferenceGif gif;
    auto fail = [&gif](const char* why) {
        gif.frames.clear();
        gif.error = why;
        return gif;
    };
    Reader in(data, size);
    const std::vector<uint8_t> signature = in.Bytes(6);
    const std::string version(signature.begin(), signature.end());
    if (version != "GIF87a" && version != "GIF89a")
        return fail("not a GIF87a or GIF89a file");
    const unsigned screenWidth = in.Word(), screenHeight = in.Word(), screenFlags = in.Byte();
    in.Bytes(2);  // background colour and aspect ratio: neither changes what is drawn
    std::vector<uint8_t> globalTable;
    if (screenFlags & 0x80)
        globalTable = in.Bytes(3 * (2u << (screenFlags & 7)));

    std::vector<Image> images;
    size_t bytes = 0;
    bool control = false;
    unsigned disposal = 0;
    int transparent = -1;
    for (;;) {
        const unsigned block = in.Byte();
        if (in.failed())
            return fail("the file ends early");
        if (block == 0x3B)
            break;
        if (block == 0x21) {
            const unsigned label = in.Byte();
            if (label == 0x01)
                return fail("plain text is not drawn here");
            if (label != 0xF9) {
                in.SubBlocks();
                continue;
            }
            if (control)
                return fail("two control blocks before one image");
            if (in.Byte() != 4)
                return fail("a control block not of 4 bytes");
            const unsigned flags = in.Byte();
            in.Word();  // the delay: timing is the player's business
            const unsigned index = in.Byte();
            if (in.Byte() != 0)
                return fail("a control block not of 4 bytes");
            control = true;
            disposal = (flags >> 2) & 7;
            transparent = (flags & 1) ? static_cast<int>(index) : -1;
            if (disposal > 3)
                return fail("a reserved disposal method");
            continue;
        }
        if (block != 0x2C)
            return fail("an unknown block");

        Image image;
        image.left = in.Word();
        image.top = in.Word();
        image.width = in.Word();
        image.height = in.Word();
        image.disposal = control ? disposal : 0;
        const unsigned flags = in.Byte();
        const std::vector<uint8_t> table =
            (flags & 0x80) ? in.Bytes(3 * (2u << (flags & 7))) : globalTable;
        const unsigned minSize = in.Byte();
        const std::vector<uint8_t> lzw = in.SubBlocks();
        if (in.failed())
            return fail("the file ends early");
        if (table.empty())
            return fail("no colour table");
        if (minSize < 2 || minSize > 8)
            return fail("an LZW minimum code size outside 2 to 8");
        const size_t pixels = size_t{image.width} * image.height;
        bytes += pixels * 4;
        if (bytes > maxBytes)
            return fail("too large to compose");
        std::vector<uint8_t> indices;
        if (!Unpack(lzw, minSize, pixels, indices))
            return fail("image data that is broken or too short");

        std::vector<unsigned> rows(image.height);
        for (unsigned y = 0; y < image.height; ++y)
            rows[y] = y;
        if (flags & 0x40)
            rows = InterlacedRows(image.height);
        image.rgba.assign(pixels * 4, 0);
        for (size_t i = 0; i < pixels; ++i) {
            const unsigned index = indices[i];
            if (static_cast<int>(index) == transparent)
                continue;
            if (index * 3 + 2 >= table.size())
                return fail("a colour index past its table");
            uint8_t* pixel =
                &image.rgba[(rows[i / image.width] * size_t{image.width} + i % image.width) * 4];
            std::copy_n(&table[index * 3], 3, pixel);
            pixel[3] = 255;
        }
        images.push_back(std::move(image));
        control = false;
        transparent = -1;
    }

    gif.width = screenWidth;
    gif.height = screenHeight;
    for (const Image& image : images) {
        gif.width = std::max(gif.width, image.left + image.width);
        gif.height = std::max(gif.height, image.top + image.height);
    }
    const size_t canvasBytes = size_t{gif.width} * gif.height * 4;
    if (canvasBytes > maxBytes || canvasBytes * images.size() > maxBytes)
        return fail("too large to compose");

    std::vector<uint8_t> canvas(canvasBytes, 0);
    // Copies a frame's area between the canvas and a buffer of its own size.
    auto area = [&gif, &canvas](const Image& image, std::vector<uint8_t>& buffer, bool save) {
        buffer.resize(image.rgba.size());
        const size_t rowBytes = size_t{image.width} * 4;
        for (unsigned y = 0; y < image.height; ++y) {
            uint8_t* onCanvas = &canvas[((image.top + y) * size_t{gif.width} + image.left) * 4];
            uint8_t* inBuffer = buffer.data() + y * rowBytes;
            if (save)
                std::copy_n(onCanvas, rowBytes, inBuffer);
            else
                std::copy_n(inBuffer, rowBytes, onCanvas);
        }
    };
    std::vector<uint8_t> before;
    for (const Image& image : images) {
        // A frame without pixels draws nothing, whatever its image data holds (none of its codes
        // is needed, as none past the last pixel of any frame is), and its disposal has no area.
        if (image.width == 0 || image.height == 0) {
            gif.frames.push_back(canvas);
            continue;
        }
        area(image, before, true);
        std::vector<uint8_t> drawn = before;
        for (size_t i = 0; i < drawn.size(); i += 4)
            if (image.rgba[i + 3] != 0)
                std::copy_n(&image.rgba[i], 4, &drawn[i]);
        area(image, drawn, false);
        gif.frames.push_back(canvas);
        if (image.disposal == 2) {
            std::fill(drawn.begin(), drawn.end(), 0);
            area(image, drawn, false);
        } else if (image.disposal == 3) {
            area(image, before, false);
        }
    }
    return gif;
}

}  // namespace testsupport
