#include "plugin/ModuleState.h"

namespace vantrel {

void ResetModuleStateForTests() {}

}  // namespace vantrel
