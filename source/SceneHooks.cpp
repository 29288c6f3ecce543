#include "controller/ConsoleLink.h"
#include "controller/ConsoleProtocol.h"
#include "controller/Handshake.h"
#include "identity/Guid.h"
#include "source/VoteImageSource.h"

namespace vantrel {

void VoteImageSource::SceneBegin() {
    String sourceId = EnsureGuid(data, L"guid");
    XElement* container = ContainerElementOf(data);
    if (!container) {
        AppWarning(
            L"VoteImageSource::SceneBegin: the source is in no container element; the "
            L"console was not told of it");
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
    Log(L"isHostPlay: %d", 0);
}

}  // namespace vantrel
