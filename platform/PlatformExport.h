#pragma once

// On Linux the simulated platform is a shared library of its own, standing in for the operating
// system: the module, the tools and the tests all see one and the same simulated desktop. On
// Windows the platform layer is linked into each binary statically.
#if defined(_WIN32)
#define PLATFORMAPI
#elif defined(VANTREL_BUILDING_PLATFORM)
#define PLATFORMAPI __attribute__((visibility("default")))
#else
#define PLATFORMAPI __attribute__((visibility("default")))
#endif
