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
