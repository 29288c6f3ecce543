#pragma once

// Where the PE format keeps what the readers need: offsets into the headers, read field by field
// (every target we build for is little-endian, as the format is).
#include <cstdint>
#include <cstring>

namespace hostfit {
namespace pe {

constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr uint32_t kNtSignature = 0x4550;  // "PE\0\0"
constexpr uint32_t kDosLfanew = 0x3C;      // where the DOS header keeps the NT headers' offset
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint16_t kPe32 = 0x10B;
constexpr uint16_t kPe32Plus = 0x20B;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionExecutable = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
constexpr uint32_t kSectionCode = 0x00000020;        // IMAGE_SCN_CNT_CODE
constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kMachineX86 = 0x14C;

// Offsets within the optional header.
constexpr uint32_t kImageBase32 = 28;
constexpr uint32_t kImageBase64 = 24;
constexpr uint32_t kSizeOfImage = 56;
constexpr uint32_t kSizeOfHeaders = 60;
constexpr uint32_t kDirectoryCount32 = 92;
constexpr uint32_t kDirectoryCount64 = 108;
constexpr uint32_t kDirectories32 = 96;
constexpr uint32_t kDirectories64 = 112;

enum Directory : uint32_t {
    kExportDirectory = 0,
    kImportDirectory = 1,
    kResourceDirectory = 2,
    kDelayImportDirectory = 13,
};

inline uint16_t U16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t U32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t U64(const unsigned char* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

}  // namespace pe
}  // namespace hostfit
