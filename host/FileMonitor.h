#pragma once

#include "HostExport.h"
#include "String.h"

// A change watch on one file.
struct OSFileChangeData;

// Starts watching `path`; null when the watch cannot be made. `suppressLastWrite` is reserved.
HOSTAPI OSFileChangeData* OSMonitorFileStart(String path, bool suppressLastWrite);
// Nonzero once for each change of the file since the previous call.
HOSTAPI bool OSFileHasChanged(OSFileChangeData* data);
// Ends the watch; null is ignored.
HOSTAPI void OSMonitorFileDestroy(OSFileChangeData* data);
