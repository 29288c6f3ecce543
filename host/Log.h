#pragma once

#include "HostExport.h"

// Host logging. Formats are wide printf-style texts with the Windows convention on every platform:
// in a wide format %s takes wide text and %S narrow text; %d %i %u %x %X %c %f %g %p %%, the
// length modifiers l, ll, h, hh, z and I64, widths, precisions and flags are understood.
//
// Threads: called on the host's threads only. The background load's worker keeps its lines and the
// host's thread writes them. A call may allocate in the host and, when memory runs out, throw
// (the stand-in's throws std::bad_alloc): inside the GIF decoder's callbacks, which are C frames,
// the module logs through a wrapper that lets nothing through.

// An event or a warning that leaves everything usable.
HOSTAPI void Log(const wchar_t* format, ...);
// A failure that leaves something unusable (shown to the user by the real host).
HOSTAPI void AppWarning(const wchar_t* format, ...);
// A fatal programming error. Does not return.
[[noreturn]] HOSTAPI void DumpError(const wchar_t* format, ...);

// Hands the host the module's instance handle once, at load.
HOSTAPI void InitColorControl(void* moduleHandle);
