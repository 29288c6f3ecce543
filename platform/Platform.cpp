#include "platform/Platform.h"

#include "platform/SimPlatform.h"

namespace platform {

#if defined(_WIN32)
// Defined in Win32Platform.cpp.
System& Win32();
#endif

namespace {

// Plain data only: nothing here needs a destructor when the module is unloaded.
System* swapped = nullptr;

System& Default() {
#if defined(_WIN32)
    return Win32();
#else
    return Simulation();
#endif
}

}  // namespace

System& Current() {
    return swapped != nullptr ? *swapped : Default();
}

System* Swap(System* system) {
    System* before = &Current();
    swapped = system;
    return before;
}

SimSystem& Simulation() {
    // Made once and never destroyed, so no destructor runs at unload or exit.
    static SimSystem* simulation = new SimSystem;
    return *simulation;
}

}  // namespace platform
