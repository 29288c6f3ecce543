#include "plugin/ModuleState.h"

#include "controller/Handshake.h"

namespace vantrel {

void ResetModuleStateForTests() {
    ResetHandshakeStateForTests();
}

}  // namespace vantrel
