#include "PeImage.h"

#include "PeHeaders.h"

namespace hostfit {

namespace {

// Far beyond any real library, small enough that a hostile count costs nothing.
constexpr uint32_t kMaxExports = 1u << 20;
constexpr uint32_t kMaxDescriptors = 4096;
constexpr uint32_t kMaxNamesPerDll = 1u << 16;
constexpr uint32_t kMaxSectionBytes = 16u << 20;
constexpr uint32_t kExportDirectorySize = 40;
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kDelayDescriptorSize = 32;
constexpr uint32_t kDelayRvaBased = 1;

bool ReadU32(const ImageReader& reader, uint32_t rva, uint32_t& value) {
    unsigned char b[4];
    if (!reader.Read(rva, b, 4))
        return false;
    value = pe::U32(b);
    return true;
}

// `count` little-endian values of `width` bytes at `rva`, read at once.
bool ReadArray(const ImageReader& reader, uint32_t rva, uint32_t count, unsigned width,
               std::vector<uint32_t>& out) {
    std::vector<unsigned char> bytes(size_t{count} * width);
    if (count && !reader.Read(rva, bytes.data(), static_cast<uint32_t>(bytes.size())))
        return false;
    out.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        out[i] = width == 2 ? pe::U16(&bytes[i * 2]) : pe::U32(&bytes[i * 4]);
    return true;
}

}  // namespace

const char* MachineName(Machine machine) {
    switch (machine) {
        case Machine::X64:
            return "x64";
        case Machine::X86:
            return "x86";
        case Machine::Unknown:
            break;
    }
    return "unknown";
}

bool PeImage::Open(const ImageReader& reader, std::string& error) {
    reader_ = &reader;
    sections_.clear();
    unsigned char dos[pe::kDosLfanew + 4];
    uint32_t nt = 0;
    if (!reader.Read(0, dos, sizeof dos) || pe::U16(dos) != pe::kDosMagic) {
        error = "not a PE image (no MZ header)";
        return false;
    }
    nt = pe::U32(dos + pe::kDosLfanew);
    unsigned char head[4 + pe::kFileHeaderSize + 2];
    if (!reader.Read(nt, head, sizeof head) || pe::U32(head) != pe::kNtSignature) {
        error = "not a PE image (no PE signature)";
        return false;
    }
    rawMachine_ = pe::U16(head + 4);
    machine_ = rawMachine_ == pe::kMachineX64   ? Machine::X64
               : rawMachine_ == pe::kMachineX86 ? Machine::X86
                                                : Machine::Unknown;
    const uint16_t sectionCount = pe::U16(head + 4 + 2);
    const uint16_t optionalSize = pe::U16(head + 4 + 16);
    const uint16_t magic = pe::U16(head + 4 + pe::kFileHeaderSize);
    if (magic != pe::kPe32 && magic != pe::kPe32Plus) {
        error = "not a PE image (unknown optional header)";
        return false;
    }
    pe32Plus_ = magic == pe::kPe32Plus;
    const uint32_t optional = nt + 4 + pe::kFileHeaderSize;
    const uint32_t countAt = pe32Plus_ ? pe::kDirectoryCount64 : pe::kDirectoryCount32;
    directoriesAt_ = optional + (pe32Plus_ ? pe::kDirectories64 : pe::kDirectories32);
    if (optionalSize < countAt + 4 || !ReadU32(reader, optional + countAt, directoryCount_)) {
        error = "not a PE image (optional header cut short)";
        return false;
    }
    // Only the directories the optional header has room for are there.
    const uint32_t room = (optionalSize - (countAt + 4)) / 8;
    directoryCount_ = directoryCount_ < room ? directoryCount_ : room;

    std::vector<unsigned char> table(size_t{sectionCount} * pe::kSectionHeaderSize);
    if (!table.empty() &&
        !reader.Read(optional + optionalSize, table.data(), static_cast<uint32_t>(table.size()))) {
        error = "the section table lies outside the image";
        return false;
    }
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const unsigned char* s = &table[i * pe::kSectionHeaderSize];
        Section section;
        size_t length = 0;
        while (length < 8 && s[length])
            ++length;
        section.name.assign(reinterpret_cast<const char*>(s), length);
        section.size = pe::U32(s + 8) ? pe::U32(s + 8) : pe::U32(s + 16);
        section.rva = pe::U32(s + 12);
        const uint32_t flags = pe::U32(s + 36);
        section.executable = (flags & (pe::kSectionExecutable | pe::kSectionCode)) != 0;
        sections_.push_back(section);
    }
    return true;
}

bool PeImage::IsExecutable(uint32_t rva) const {
    for (const Section& s : sections_) {
        if (s.executable && rva >= s.rva && rva - s.rva < s.size)
            return true;
    }
    return false;
}

bool PeImage::Directory(uint32_t index, uint32_t& rva, uint32_t& size) const {
    unsigned char b[8];
    if (index >= directoryCount_ || !reader_->Read(directoriesAt_ + index * 8, b, 8))
        return false;
    rva = pe::U32(b);
    size = pe::U32(b + 4);
    return rva != 0;
}

bool PeImage::ReadText(uint32_t rva, std::string& out, size_t limit) const {
    out.clear();
    char chunk[64];
    while (out.size() < limit) {
        // A text near the image's end may not have a whole chunk after it.
        uint32_t take = sizeof chunk;
        while (take && !reader_->Read(rva, chunk, take))
            take /= 2;
        if (!take)
            return false;
        for (uint32_t i = 0; i < take; ++i) {
            if (!chunk[i])
                return true;
            out.push_back(chunk[i]);
        }
        rva += take;
    }
    return false;
}

bool PeImage::ReadPointer(uint32_t rva, uint64_t& value) const {
    unsigned char b[8];
    if (!reader_->Read(rva, b, PointerSize()))
        return false;
    value = pe32Plus_ ? pe::U64(b) : pe::U32(b);
    return true;
}

std::vector<Export> PeImage::Exports() const {
    std::vector<Export> exports;
    uint32_t at = 0, size = 0;
    unsigned char d[kExportDirectorySize];
    if (!Directory(pe::kExportDirectory, at, size) || !reader_->Read(at, d, sizeof d))
        return exports;
    const uint32_t functionCount = pe::U32(d + 20);
    const uint32_t nameCount = pe::U32(d + 24);
    if (functionCount > kMaxExports || nameCount > kMaxExports)
        return exports;
    std::vector<uint32_t> functions, names, ordinals;
    if (!ReadArray(*reader_, pe::U32(d + 28), functionCount, 4, functions) ||
        !ReadArray(*reader_, pe::U32(d + 32), nameCount, 4, names) ||
        !ReadArray(*reader_, pe::U32(d + 36), nameCount, 2, ordinals))
        return exports;
    exports.reserve(nameCount);
    for (uint32_t i = 0; i < nameCount; ++i) {
        if (ordinals[i] >= functionCount)
            continue;
        const uint32_t rva = functions[ordinals[i]];
        // A forwarder's "address" is its text ("OTHER.Name") inside the export directory.
        if (rva >= at && rva - at < size)
            continue;
        Export e;
        if (!ReadText(names[i], e.name) || e.name.empty())
            continue;
        e.rva = rva;
        exports.push_back(std::move(e));
    }
    return exports;
}

namespace {

// The names of one import descriptor's thunk array (imports by ordinal have none).
void ReadThunkNames(const PeImage& image, uint32_t thunks, std::vector<std::string>& names) {
    const unsigned width = image.PointerSize();
    const uint64_t byOrdinal = width == 8 ? uint64_t{1} << 63 : uint64_t{1} << 31;
    for (uint32_t i = 0; i < kMaxNamesPerDll; ++i) {
        uint64_t thunk = 0;
        if (!image.ReadPointer(thunks + i * width, thunk) || thunk == 0)
            return;
        if (thunk & byOrdinal)
            continue;
        std::string name;
        // A hint (two bytes), then the name.
        if (thunk <= UINT32_MAX - 2 && image.ReadText(static_cast<uint32_t>(thunk) + 2, name) &&
            !name.empty())
            names.push_back(std::move(name));
    }
}

}  // namespace

std::vector<ImportedDll> PeImage::Imports() const {
    std::vector<ImportedDll> dlls;
    uint32_t at = 0, size = 0;
    if (!Directory(pe::kImportDirectory, at, size))
        return dlls;
    for (uint32_t i = 0; i < kMaxDescriptors; ++i) {
        unsigned char d[kImportDescriptorSize];
        if (!reader_->Read(at + i * kImportDescriptorSize, d, sizeof d))
            break;
        const uint32_t lookup = pe::U32(d), name = pe::U32(d + 12), bound = pe::U32(d + 16);
        if (name == 0)
            break;
        ImportedDll dll;
        if (!ReadText(name, dll.dll))
            continue;
        // Without a lookup table the address table still holds the names until bound.
        ReadThunkNames(*this, lookup ? lookup : bound, dll.names);
        dlls.push_back(std::move(dll));
    }
    return dlls;
}

std::vector<ImportedDll> PeImage::DelayImports() const {
    std::vector<ImportedDll> dlls;
    uint32_t at = 0, size = 0;
    if (!Directory(pe::kDelayImportDirectory, at, size))
        return dlls;
    for (uint32_t i = 0; i < kMaxDescriptors; ++i) {
        unsigned char d[kDelayDescriptorSize];
        if (!reader_->Read(at + i * kDelayDescriptorSize, d, sizeof d))
            break;
        const uint32_t attributes = pe::U32(d), name = pe::U32(d + 4), names = pe::U32(d + 16);
        if (name == 0)
            break;
        // Descriptors of addresses rather than RVAs come from linkers of the last century.
        if (!(attributes & kDelayRvaBased))
            continue;
        ImportedDll dll;
        if (!ReadText(name, dll.dll))
            continue;
        ReadThunkNames(*this, names, dll.names);
        dlls.push_back(std::move(dll));
    }
    return dlls;
}

std::vector<unsigned char> PeImage::SectionBytes(const std::string& name) const {
    for (const Section& s : sections_) {
        if (s.name != name)
            continue;
        std::vector<unsigned char> bytes(s.size < kMaxSectionBytes ? s.size : 0);
        if (!bytes.empty() &&
            !reader_->Read(s.rva, bytes.data(), static_cast<uint32_t>(bytes.size())))
            bytes.clear();
        return bytes;
    }
    return {};
}

}  // namespace hostfit
