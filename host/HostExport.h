#pragma once

// Marks what the host library exports: its globals and its exported classes and functions.
// The stand-in host defines VANTREL_BUILDING_HOST while it is built; everyone else imports.
#if defined(_WIN32)
#if defined(VANTREL_BUILDING_HOST)
#define HOSTAPI __declspec(dllexport)
#else
#define HOSTAPI __declspec(dllimport)
#endif
#else
#define HOSTAPI __attribute__((visibility("default")))
#endif

// The host's three globals, API, GS and MainAllocator. The host's library defines and exports them;
// everyone else reaches each through a pointer to it (vantrel_hostAPI, ...), set before first use.
// A program that links the library sets the pointers as it starts (host/LinkedGlobals.cpp); the
// module DLL sets them in LoadPlugin, once it has found the host's library among the loaded
// modules, whatever that library's file name (data cannot go through the delay-load table, which
// binds the host's functions). The host's own code, and the one file that takes the globals'
// addresses, see the globals themselves (VANTREL_HOST_GLOBALS_DIRECT).
#if defined(VANTREL_BUILDING_HOST) && !defined(VANTREL_HOST_GLOBALS_DIRECT)
#define VANTREL_HOST_GLOBALS_DIRECT
#endif
