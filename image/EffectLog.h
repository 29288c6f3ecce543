#pragma once

// A load's log lines by format: a WebP's lines are a GIF's with the format's name in place, each a
// line of its own in the table (log/LogLines.def).
#include <string>

#include "image/FrameCore.h"
#include "log/ModuleLog.h"

// On the host's thread: `gif`'s line for a GIF, `webp`'s for a WebP.
template <LogText gif, LogText webp, class... Args>
void WriteLogFor(EffectFormat format, Args... args) {
    if (format == EffectFormat::Webp)
        WriteLog<webp>(args...);
    else
        WriteLog<gif>(args...);
}
