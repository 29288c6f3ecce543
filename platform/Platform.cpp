#include "platform/Platform.h"

#if !defined(_WIN32)
#include "platform/SimPlatform.h"
#endif

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

}  // namespace platform
