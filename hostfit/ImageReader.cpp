#include "ImageReader.h"

#include <cstring>

#include "PeHeaders.h"

namespace hostfit {

namespace {

// The NT headers' offset and the optional header's magic, from the first bytes of an image; false
// when they are not a PE image's. `readable` bytes from `p` may be read.
bool FindNtHeaders(const unsigned char* p, size_t readable, uint32_t& nt, uint16_t& magic) {
    if (readable < pe::kDosLfanew + 4 || pe::U16(p) != pe::kDosMagic)
        return false;
    nt = pe::U32(p + pe::kDosLfanew);
    if (nt > readable || readable - nt < 4 + pe::kFileHeaderSize + 2 ||
        pe::U32(p + nt) != pe::kNtSignature)
        return false;
    magic = pe::U16(p + nt + 4 + pe::kFileHeaderSize);
    return magic == pe::kPe32 || magic == pe::kPe32Plus;
}

}  // namespace

MappedImage::MappedImage(const void* base) : base_(static_cast<const unsigned char*>(base)) {
    // The loader maps the headers whole (at least one page); what they say is the loader's own.
    constexpr size_t kHeaderPage = 4096;
    uint32_t nt = 0;
    uint16_t magic = 0;
    if (!base_ || !FindNtHeaders(base_, kHeaderPage, nt, magic))
        return;
    const unsigned char* optional = base_ + nt + 4 + pe::kFileHeaderSize;
    if (nt + 4 + pe::kFileHeaderSize + pe::kSizeOfImage + 4 > kHeaderPage)
        return;
    size_ = pe::U32(optional + pe::kSizeOfImage);
}

bool MappedImage::Read(uint32_t rva, void* out, uint32_t size) const {
    if (rva > size_ || size > size_ - rva)
        return false;
    std::memcpy(out, base_ + rva, size);
    return true;
}

uint64_t MappedImage::Base() const {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(base_));
}

FileImage::FileImage(const unsigned char* bytes, size_t size) : bytes_(bytes), size_(size) {
    uint32_t nt = 0;
    uint16_t magic = 0;
    if (!bytes_ || !FindNtHeaders(bytes_, size_, nt, magic))
        return;
    const uint64_t optionalAt = uint64_t{nt} + 4 + pe::kFileHeaderSize;
    const unsigned char* file = bytes_ + nt + 4;
    const uint16_t sections = pe::U16(file + 2);
    const uint16_t optionalSize = pe::U16(file + 16);
    if (optionalAt + pe::kSizeOfHeaders + 4 > size_ || optionalSize < pe::kSizeOfHeaders + 4)
        return;
    const unsigned char* optional = bytes_ + optionalAt;
    base_ = magic == pe::kPe32Plus ? pe::U64(optional + pe::kImageBase64)
                                   : pe::U32(optional + pe::kImageBase32);
    headerSize_ = pe::U32(optional + pe::kSizeOfHeaders);
    const uint64_t tableAt = optionalAt + optionalSize;
    if (tableAt + uint64_t{sections} * pe::kSectionHeaderSize > size_)
        return;
    spans_.reserve(sections);
    for (uint32_t i = 0; i < sections; ++i) {
        const unsigned char* s = bytes_ + tableAt + i * pe::kSectionHeaderSize;
        Span span{pe::U32(s + 12), pe::U32(s + 8), pe::U32(s + 20), pe::U32(s + 16)};
        if (span.virtualSize == 0)
            span.virtualSize = span.fileSize;
        // A file cut short: what its sections lack reads as zeros, as beyond their file data.
        if (span.fileOffset > size_)
            span.fileSize = 0;
        else if (span.fileSize > size_ - span.fileOffset)
            span.fileSize = static_cast<uint32_t>(size_ - span.fileOffset);
        spans_.push_back(span);
    }
    valid_ = true;
}

bool FileImage::Read(uint32_t rva, void* out, uint32_t size) const {
    const uint64_t end = uint64_t{rva} + size;
    if (end <= headerSize_ && end <= size_) {
        std::memcpy(out, bytes_ + rva, size);
        return true;
    }
    for (const Span& span : spans_) {
        if (rva < span.rva || end > uint64_t{span.rva} + span.virtualSize)
            continue;
        // Within the section: its file data, then zeros to its virtual size.
        const uint32_t offset = rva - span.rva;
        unsigned char* to = static_cast<unsigned char*>(out);
        uint32_t fromFile = 0;
        if (offset < span.fileSize)
            fromFile = span.fileSize - offset < size ? span.fileSize - offset : size;
        if (fromFile)
            std::memcpy(to, bytes_ + span.fileOffset + offset, fromFile);
        std::memset(to + fromFile, 0, size - fromFile);
        return true;
    }
    return false;
}

}  // namespace hostfit
