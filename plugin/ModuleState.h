#pragma once

// The module's process-wide state lives in plain data in the files that own it. Tests that touch
// it start from a clean slate through this one entry point; the module itself never calls it.
namespace vantrel {
void ResetModuleStateForTests();
}
