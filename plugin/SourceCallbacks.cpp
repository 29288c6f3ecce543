#include "controller/Handshake.h"
#include "host/Host.h"
#include "identity/Guid.h"
#include "image/HostWork.h"
#include "log/ModuleLog.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"

namespace vantrel {

ImageSource* CreateBitmapSource(XElement* data) {
    if (!data)
        return nullptr;
    // The class's own new takes the memory from the host's allocator and clears it before the
    // constructor runs: the command block's handle starts as null this way.
    VoteImageSource* source = new VoteImageSource(data);
    if (!source)
        WriteLog<LogText::SourceOutOfMemory>();
    return source;
}

void WaitForBackgroundLoad(ImageSource* source) {
    // Only the host's own sources come here, but a stray pointer of another kind is no reason to
    // touch memory that is not ours.
    if (VoteImageSource* ours = dynamic_cast<VoteImageSource*>(source))
        ours->WaitForBackgroundLoad();
}

unsigned long long LateFrames(ImageSource* source) {
    VoteImageSource* ours = dynamic_cast<VoteImageSource*>(source);
    return ours ? ours->Snapshot().image->Snapshot().lateFrames : 0;
}

unsigned HostThreadWork(unsigned long long* counts, unsigned capacity) {
    const unsigned kept = static_cast<unsigned>(HostWork::Count);
    for (unsigned i = 0; counts && i < capacity && i < kept; ++i)
        counts[i] = HostWorkDone(static_cast<HostWork>(i));
    return kept;
}

bool ConfigureBitmapSource(XElement* element, bool /*creating*/) {
    if (!element) {
        WriteLog<LogText::ConfigureNullElement>();
        return false;
    }
    XElement* container = element->GetParent();
    if (!container) {
        WriteLog<LogText::ConfigureNoContainer>(element->GetName());
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
