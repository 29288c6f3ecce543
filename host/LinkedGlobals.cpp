// The pointers to the host's globals in a program or library that links the host's library
// directly: the tests, the tools, the module on Linux. The module DLL for Windows defines them
// itself (plugin/HostBinding.cpp) and binds them at load; this file is then never linked in, as
// the linker takes a library's member only for a symbol still undefined.
#define VANTREL_HOST_GLOBALS_DIRECT
#include "host/APIInterface.h"
#include "host/Alloc.h"
#include "host/Graphics.h"

APIInterface** vantrel_hostAPI = &API;
GraphicsSystem** vantrel_hostGS = &GS;
Alloc** vantrel_hostMainAllocator = &MainAllocator;
