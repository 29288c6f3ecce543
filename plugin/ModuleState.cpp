#include "plugin/ModuleState.h"

#include "controller/Handshake.h"
#include "source/VoteImageSource.h"

namespace vantrel {

void ResetModuleStateForTests() {
    ResetHandshakeStateForTests();
    VoteImageSource::AllowBackgroundWorkers();
}

}  // namespace vantrel
