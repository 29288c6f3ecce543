#pragma once

// What the host check reads of a PE image (PE32 or PE32+), through an ImageReader: the machine,
// the sections, the exports, the imports and delay-load imports, a section's bytes and the version
// resource. A damaged image gives what could be read and an error; it never reads outside itself.
#include <cstdint>
#include <string>
#include <vector>

#include "ImageReader.h"

namespace hostfit {

enum class Machine { Unknown, X64, X86 };
const char* MachineName(Machine machine);

struct Section {
    std::string name;  // at most 8 characters
    uint32_t rva = 0;
    uint32_t size = 0;  // as mapped (the virtual size)
    bool executable = false;
};

struct Export {
    std::string name;
    uint32_t rva = 0;
};

struct ImportedDll {
    std::string dll;                 // the file name the image names
    std::vector<std::string> names;  // imported by name (by ordinal: not listed)
};

class PeImage {
public:
    // Reads the headers and the section table; false with `error` when they are not a PE
    // image's. The reader must outlive the image.
    bool Open(const ImageReader& reader, std::string& error);

    const ImageReader& Reader() const { return *reader_; }
    Machine GetMachine() const { return machine_; }
    uint16_t RawMachine() const { return rawMachine_; }
    unsigned PointerSize() const { return pe32Plus_ ? 8 : 4; }
    const std::vector<Section>& Sections() const { return sections_; }
    bool IsExecutable(uint32_t rva) const;

    // Named exports (forwarders are left out: their code is another library's). Capped at a
    // number no real library reaches, so a hostile count costs nothing.
    std::vector<Export> Exports() const;
    // The ordinary import table, and the delay-load table (its descriptors hold RVAs).
    std::vector<ImportedDll> Imports() const;
    std::vector<ImportedDll> DelayImports() const;
    // The bytes of the first section of that name, as mapped (empty when there is none).
    std::vector<unsigned char> SectionBytes(const std::string& name) const;
    // The version resource as one line ("1.2.3.4 (ProductName: X; ...)"), or "".
    std::string VersionText() const;

    // A NUL-terminated text at `rva`, at most `limit` bytes; false when unreadable or unended.
    bool ReadText(uint32_t rva, std::string& out, size_t limit = 4096) const;
    // A pointer-sized value at `rva`.
    bool ReadPointer(uint32_t rva, uint64_t& value) const;

private:
    bool Directory(uint32_t index, uint32_t& rva, uint32_t& size) const;
    std::vector<ImportedDll> ReadImportTable(uint32_t directory, uint32_t descriptorSize,
                                             uint32_t nameAt, uint32_t namesAt,
                                             uint32_t attributesMask) const;

    const ImageReader* reader_ = nullptr;
    Machine machine_ = Machine::Unknown;
    uint16_t rawMachine_ = 0;
    bool pe32Plus_ = false;
    uint32_t directoriesAt_ = 0;
    uint32_t directoryCount_ = 0;
    std::vector<Section> sections_;
};

}  // namespace hostfit
