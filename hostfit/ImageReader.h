#pragma once

// The bytes of a PE image by relative virtual address (RVA), wherever the image is: mapped into
// this process by the loader, or read from a file. Every read is bounds-checked and fails rather
// than reading outside the image, so a damaged or hostile file cannot crash its reader.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hostfit {

class ImageReader {
public:
    virtual ~ImageReader() = default;
    // Copies `size` bytes at `rva` into `out`; false, and nothing copied, when any of them lies
    // outside the image.
    virtual bool Read(uint32_t rva, void* out, uint32_t size) const = 0;
    // The address the image's absolute pointers (VAs) are relative to: where it is loaded, or the
    // preferred base of its headers for a file.
    virtual uint64_t Base() const = 0;
};

// A module the loader has mapped into this process, from its base address (its HMODULE). Its
// size comes from SizeOfImage in its own headers; a base whose headers are not a PE image's reads
// nothing.
class MappedImage final : public ImageReader {
public:
    explicit MappedImage(const void* base);
    bool Read(uint32_t rva, void* out, uint32_t size) const override;
    uint64_t Base() const override;
    bool Valid() const { return size_ != 0; }

private:
    const unsigned char* base_;
    uint32_t size_ = 0;
};

// A PE file's bytes, laid out as the loader would map them: RVAs through the section table, the
// part of a section beyond its file data reads as zeros. The bytes are the caller's and must
// outlive the reader.
class FileImage final : public ImageReader {
public:
    FileImage(const unsigned char* bytes, size_t size);
    bool Read(uint32_t rva, void* out, uint32_t size) const override;
    uint64_t Base() const override { return base_; }
    // False when the headers could not be read as a PE image's.
    bool Valid() const { return valid_; }

private:
    struct Span {
        uint32_t rva;
        uint32_t virtualSize;
        uint32_t fileOffset;
        uint32_t fileSize;
    };
    const unsigned char* bytes_;
    size_t size_;
    uint64_t base_ = 0;
    uint32_t headerSize_ = 0;
    std::vector<Span> spans_;
    bool valid_ = false;
};

}  // namespace hostfit
