// Any bytes as a host's library and as a module, through everything the host check reads of a PE
// file: headers, sections, exports, imports, delay-load imports, the version resource, the layout
// section, and the rules over a layout of two classes (a vftable walked slot by slot). A hostile
// file must give what could be read and never read outside itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hostfit/FitRules.h"
#include "hostfit/HostChoice.h"
#include "hostfit/LoadLog.h"
#include "hostfit/ModuleNeeds.h"

namespace {

const char kLayout[] =
    "vantrel-host-layout 1\n"
    "class ImageSource 2\n"
    "slot 0 ~ImageSource ??_DImageSource@@QEAAXXZ\n"
    "slot 1 Preprocess ?Preprocess@ImageSource@@UEAAXXZ\n"
    "class Scene 2\n"
    "slot 0 GetSceneItem ?GetSceneItem@Scene@@UEAAPEAVSceneItem@@PEB_W@Z\n"
    "slot 1 RefreshLayout ?RefreshLayout@Scene@@UEAAXXZ\n"
    "end\n";

void Check(bool holds) {
    if (!holds)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hostfit::FileImage reader(data, size);
    hostfit::PeImage image;
    std::string error;
    if (!reader.Valid() || !image.Open(reader, error))
        return 0;
    const std::vector<hostfit::Export> exports = image.Exports();
    (void)image.Imports();
    (void)image.VersionText();

    // As a module: its needs; as a host's library: the rules over a layout of our own.
    hostfit::ModuleNeeds needs;
    if (!hostfit::ReadModuleNeeds(image, needs, error)) {
        needs.machine = hostfit::Machine::X64;
        needs.names = {"?API@@3PEAVAPIInterface@@EA", "??0String@@QEAA@PEB_W@Z"};
    }
    Check(hostfit::ParseLayout(reinterpret_cast<const unsigned char*>(kLayout), sizeof kLayout - 1,
                               needs.layout, error));
    const hostfit::HostExports sorted(exports, true);
    for (const hostfit::Export& e : exports)
        Check(sorted.Find(e.name) != nullptr);
    const hostfit::HostLibrary library{"fuzz.dll", &sorted, &image};
    const hostfit::FitResult result = hostfit::CheckFit(needs, library);
    Check(result.names.size() == needs.names.size());
    for (const hostfit::ClassCheck& c : result.classes)
        Check(c.hostSlots <= 4096);
    (void)hostfit::LoadLogLines(result);
    (void)hostfit::ChooseHostLibrary({hostfit::Candidate{"fuzz.dll", "", &sorted}}, {}, needs.names,
                                     needs.machine);
    return 0;
}
