// PeImage::VersionText: the version resource (RT_VERSION) as the report shows it.
#include <vector>

#include "PeHeaders.h"
#include "PeImage.h"
#include "Text.h"

namespace hostfit {

namespace {

constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kMaxVersionBytes = 64u << 10;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr int kMaxDepth = 4;

// The first entry of a resource directory at `offset` in the resource tree whose id is `id` (or
// any entry when `id` is 0); the entry's OffsetToData.
bool Entry(const ImageReader& reader, uint32_t tree, uint32_t offset, uint32_t id,
           uint32_t& target) {
    unsigned char d[16];
    if (!reader.Read(tree + offset, d, sizeof d))
        return false;
    const uint32_t count = uint32_t{pe::U16(d + 12)} + pe::U16(d + 14);
    for (uint32_t i = 0; i < count && i < 4096; ++i) {
        unsigned char e[8];
        if (!reader.Read(tree + offset + 16 + i * 8, e, 8))
            return false;
        if (id == 0 || pe::U32(e) == id) {
            target = pe::U32(e + 4);
            return true;
        }
    }
    return false;
}

// One block of the version tree: wLength, wValueLength, wType, a key, then its value and children
// at 4-byte boundaries (counted from the resource's start).
struct Block {
    size_t start = 0, end = 0, value = 0, children = 0;
    uint16_t valueLength = 0, type = 0;
    std::string key;
};

bool ReadBlock(const std::vector<unsigned char>& v, size_t at, size_t limit, Block& b) {
    if (at + 6 > limit)
        return false;
    const uint16_t length = pe::U16(&v[at]);
    if (length < 6 || at + length > limit)
        return false;
    b.start = at;
    b.end = at + length;
    b.valueLength = pe::U16(&v[at + 2]);
    b.type = pe::U16(&v[at + 4]);
    std::vector<uint16_t> key;
    size_t k = at + 6;
    for (; k + 2 <= b.end && pe::U16(&v[k]); k += 2)
        key.push_back(pe::U16(&v[k]));
    b.key = Utf16ToUtf8(key.data(), key.size());
    b.value = (k + 2 + 3) & ~size_t{3};
    // wValueLength counts words in a text value, bytes in a binary one.
    const size_t valueBytes = b.type == 1 ? size_t{b.valueLength} * 2 : b.valueLength;
    b.children = (b.value + valueBytes + 3) & ~size_t{3};
    return true;
}

void ReadStrings(const std::vector<unsigned char>& v, const Block& parent, int depth,
                 std::vector<std::string>& out) {
    if (depth > kMaxDepth)
        return;
    for (size_t at = parent.children; at < parent.end;) {
        Block b;
        if (!ReadBlock(v, at, parent.end, b))
            return;
        if (depth == 2) {
            // A String: its value is text of wValueLength words, the last of them NUL.
            std::vector<uint16_t> text;
            for (size_t k = b.value;
                 k + 2 <= b.end && text.size() < b.valueLength && pe::U16(&v[k]); k += 2)
                text.push_back(pe::U16(&v[k]));
            out.push_back(b.key + ": " + Utf16ToUtf8(text.data(), text.size()));
        } else if (depth == 0 ? b.key == "StringFileInfo" : true) {
            ReadStrings(v, b, depth + 1, out);
        }
        at = (b.end + 3) & ~size_t{3};
    }
}

}  // namespace

std::string PeImage::VersionText() const {
    uint32_t tree = 0, size = 0, offset = 0;
    if (!Directory(pe::kResourceDirectory, tree, size))
        return "";
    // Type, name, language: the first version resource of the first name and language.
    if (!Entry(*reader_, tree, 0, kRtVersion, offset) || !(offset & kSubdirectory) ||
        !Entry(*reader_, tree, offset & ~kSubdirectory, 0, offset) || !(offset & kSubdirectory) ||
        !Entry(*reader_, tree, offset & ~kSubdirectory, 0, offset) || (offset & kSubdirectory))
        return "";
    unsigned char data[8];
    if (!reader_->Read(tree + offset, data, sizeof data))
        return "";
    const uint32_t rva = pe::U32(data), length = pe::U32(data + 4);
    if (length > kMaxVersionBytes)
        return "";
    std::vector<unsigned char> v(length);
    if (v.empty() || !reader_->Read(rva, v.data(), length))
        return "";
    Block root;
    if (!ReadBlock(v, 0, v.size(), root) || root.key != "VS_VERSION_INFO")
        return "";
    std::string fixed;
    if (root.valueLength >= 52 && root.value + 52 <= root.end &&
        pe::U32(&v[root.value]) == kFixedSignature) {
        const uint32_t ms = pe::U32(&v[root.value + 8]), ls = pe::U32(&v[root.value + 12]);
        fixed = std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
                std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
    }
    std::vector<std::string> strings;
    ReadStrings(v, root, 0, strings);
    std::string text = fixed;
    if (!strings.empty()) {
        text += text.empty() ? "(" : " (";
        for (size_t i = 0; i < strings.size(); ++i)
            text += (i ? "; " : "") + strings[i];
        text += ")";
    }
    return text;
}

}  // namespace hostfit
