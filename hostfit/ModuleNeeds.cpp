#include "ModuleNeeds.h"

#include <algorithm>

#include "MangledName.h"

namespace hostfit {

namespace {

bool Holds(const ImportedDll& dll, const std::string& name) {
    return std::find(dll.names.begin(), dll.names.end(), name) != dll.names.end();
}

}  // namespace

bool ReadModuleNeeds(const PeImage& module, ModuleNeeds& needs, std::string& error) {
    needs = ModuleNeeds();
    needs.machine = module.GetMachine();
    if (needs.machine == Machine::Unknown) {
        error = "the module is built for neither x64 nor x86";
        return false;
    }
    const HostEssentials essentials = EssentialNames(needs.machine);
    const std::string constructor = essentials.stringFromWide;

    const std::vector<ImportedDll> delayed = module.DelayImports();
    for (const ImportedDll& dll : delayed) {
        if (delayed.size() == 1 || Holds(dll, constructor)) {
            needs.names.insert(needs.names.end(), dll.names.begin(), dll.names.end());
            needs.hostLabel = needs.hostLabel.empty() ? dll.dll : needs.hostLabel;
            needs.delayLoaded = true;
        }
    }
    if (!needs.delayLoaded) {
        for (const ImportedDll& dll : module.Imports()) {
            if (Holds(dll, constructor)) {
                needs.names = dll.names;
                needs.hostLabel = dll.dll;
                break;
            }
        }
    }
    if (needs.hostLabel.empty()) {
        error = std::string(
                    "the module takes nothing from a host library (no import of String's "
                    "constructor ") +
                constructor + ")";
        return false;
    }
    // The globals, which a delay-loaded module looks up by name rather than importing.
    for (const char* global : {essentials.api, essentials.graphics, essentials.allocator})
        needs.names.emplace_back(global);
    std::sort(needs.names.begin(), needs.names.end());
    needs.names.erase(std::unique(needs.names.begin(), needs.names.end()), needs.names.end());

    const std::vector<unsigned char> blob = module.SectionBytes(kLayoutSection);
    if (blob.empty())
        needs.layoutError = std::string("the module carries no ") + kLayoutSection + " section";
    else
        needs.hasLayout = ParseLayout(blob.data(), blob.size(), needs.layout, needs.layoutError);
    return true;
}

}  // namespace hostfit
