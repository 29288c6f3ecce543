#include "HostExports.h"

#include <algorithm>

namespace hostfit {

HostExports::HostExports(std::vector<Export> exports, bool haveAddresses)
    : haveAddresses_(haveAddresses) {
    byName_.reserve(exports.size());
    for (Export& e : exports) {
        HostExport h;
        h.parts = SplitName(e.name);
        h.name = std::move(e.name);
        h.rva = e.rva;
        byName_.push_back(std::move(h));
    }
    std::sort(byName_.begin(), byName_.end(),
              [](const HostExport& a, const HostExport& b) { return a.name < b.name; });
    // A name exported twice (a hostile table) counts once.
    byName_.erase(
        std::unique(byName_.begin(), byName_.end(),
                    [](const HostExport& a, const HostExport& b) { return a.name == b.name; }),
        byName_.end());
    if (!haveAddresses_)
        return;
    byRva_.reserve(byName_.size());
    for (size_t i = 0; i < byName_.size(); ++i)
        byRva_.emplace_back(byName_[i].rva, i);
    std::sort(byRva_.begin(), byRva_.end());
}

const HostExport* HostExports::Find(const std::string& name) const {
    const auto it =
        std::lower_bound(byName_.begin(), byName_.end(), name,
                         [](const HostExport& e, const std::string& n) { return e.name < n; });
    return it != byName_.end() && it->name == name ? &*it : nullptr;
}

std::vector<const HostExport*> HostExports::At(uint32_t rva) const {
    std::vector<const HostExport*> out;
    auto it = std::lower_bound(byRva_.begin(), byRva_.end(), std::make_pair(rva, size_t{0}));
    for (; it != byRva_.end() && it->first == rva; ++it)
        out.push_back(&byName_[it->second]);
    return out;
}

std::vector<const HostExport*> HostExports::OfClass(const std::string& scope) const {
    std::vector<const HostExport*> out;
    for (const HostExport& e : byName_) {
        if (!scope.empty() && e.parts.scope == scope)
            out.push_back(&e);
    }
    return out;
}

size_t HostExports::Count(const std::vector<std::string>& names) const {
    size_t count = 0;
    for (const std::string& n : names)
        count += Find(n) != nullptr;
    return count;
}

}  // namespace hostfit
