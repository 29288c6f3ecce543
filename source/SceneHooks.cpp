#include "controller/ConsoleLink.h"
#include "controller/ConsoleProtocol.h"
#include "controller/Handshake.h"
#include "identity/Guid.h"
#include "log/ModuleLog.h"
#include "source/VoteImageSource.h"

namespace vantrel {

void VoteImageSource::SceneBegin() {
    String sourceId = EnsureGuid(data, L"guid");
    XElement* container = ContainerElementOf(data);
    if (!container) {
        WriteLog<LogText::SceneNotInContainer>();
        return;
    }
    String sceneId = EnsureGuid(container, L"sceneGuid");
    NotifyController(sourceId, sceneId);
}

void VoteImageSource::SceneEnd() {
    platform::WindowHandle window = FindConsoleWindow();
    if (!window)
        return;
    SendToConsole(window, kLiveStateMessage, 0, 0);
    WriteLog<LogText::HostPlay>(0);
}

}  // namespace vantrel
