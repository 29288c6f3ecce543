#include <cstring>
#include <new>

#include "controller/Handshake.h"
#include "host/Host.h"
#include "plugin/Guid.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"

namespace vantrel {

ImageSource* CreateBitmapSource(XElement* data) {
    if (!data)
        return nullptr;
    void* memory = MainAllocator->Allocate(sizeof(VoteImageSource));
    if (!memory) {
        AppWarning(L"CreateBitmapSource: Out of memory, the source was not created");
        return nullptr;
    }
    // Cleared before construction: the command block's handle starts as null this way.
    std::memset(memory, 0, sizeof(VoteImageSource));
    return new (memory) VoteImageSource(data);
}

bool ConfigureBitmapSource(XElement* element, bool /*creating*/) {
    if (!element) {
        AppWarning(L"ConfigureBitmapSource: NULL element");
        return false;
    }
    XElement* container = element->GetParent();
    if (!container) {
        AppWarning(L"ConfigureBitmapSource: source '%s' has no container element",
                   element->GetName());
        return false;
    }
    XElement* data = element->GetElement(L"data");
    if (!data)
        data = element->CreateElement(L"data");

    String sourceId = EnsureGuid(data, L"guid");
    String sceneId = EnsureGuid(container, L"sceneGuid");
    NotifyController(String(sourceId), String(sceneId));
    return true;
}

}  // namespace vantrel
