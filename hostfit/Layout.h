#pragma once

// Our slot layout of every polymorphic class in host/, as the compiler laid it out when the module
// was built. The module carries it as text in a section of its own, so the check reads it from the
// module's image, loaded or on disk, and nothing of the build is needed at check time.
//
//   vantrel-host-layout 1
//   class GraphicsSystem 6
//   slot 0 CreatePixelShaderFromFile
//   ?CreatePixelShaderFromFile@GraphicsSystem@@UEAAPEAVShader@@PEB_W@Z
//   ...
//   end
//
// One line per class (its name and slot count), then one per slot (index, member name, mangled
// name; a destructor's member name starts with '~'). Classes are sorted by name, so two builds of
// one commit carry the same bytes.
#include <cstddef>
#include <string>
#include <vector>

namespace hostfit {

// The section's name in the module (at most 8 characters, as the PE format allows).
extern const char kLayoutSection[];
extern const char kLayoutMagic[];

struct Slot {
    unsigned index = 0;
    std::string name;
    std::string mangled;
    bool Destructor() const { return !name.empty() && name[0] == '~'; }
};

struct ClassLayout {
    std::string name;
    std::vector<Slot> slots;
};

struct Layout {
    std::vector<ClassLayout> classes;
    const ClassLayout* Find(const std::string& name) const;
};

// Reads the text up to its "end" line (the section's zero padding after it is ignored); false with
// `error` at the first line it cannot read.
bool ParseLayout(const unsigned char* bytes, size_t size, Layout& layout, std::string& error);

}  // namespace hostfit
