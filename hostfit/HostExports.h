#pragma once

// A library's named exports, sorted once by name and once by address, so that every lookup the
// check makes is a binary search.
#include <string>
#include <utility>
#include <vector>

#include "MangledName.h"
#include "PeImage.h"

namespace hostfit {

struct HostExport {
    std::string name;
    uint32_t rva = 0;
    MangledName parts;
};

class HostExports {
public:
    HostExports() = default;
    // `haveAddresses` is false for an import library, which names exports without addresses.
    HostExports(std::vector<Export> exports, bool haveAddresses);

    const HostExport* Find(const std::string& name) const;
    // The exports at one address (several where the linker folded identical functions).
    std::vector<const HostExport*> At(uint32_t rva) const;
    // Every export of one class, by name.
    std::vector<const HostExport*> OfClass(const std::string& scope) const;
    const std::vector<HostExport>& All() const { return byName_; }
    bool HaveAddresses() const { return haveAddresses_; }
    size_t Count(const std::vector<std::string>& names) const;

private:
    std::vector<HostExport> byName_;
    std::vector<std::pair<uint32_t, size_t>> byRva_;  // (address, index into byName_)
    bool haveAddresses_ = false;
};

}  // namespace hostfit
