#include "Progress.h"

#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define FXPLAYER_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define FXPLAYER_ISATTY(fd) isatty(fd)
#endif

namespace fxplayer {

Progress::Progress(long long totalFrames)
    : terminal_(FXPLAYER_ISATTY(2) != 0), total_(totalFrames > 0 ? totalFrames : 1) {}

void Progress::Update(long long frame, double seconds) {
    if (!terminal_)
        return;
    long long percent = (frame + 1) * 100 / total_;
    // Redrawn once per percent, not per frame.
    if (percent == shownPercent_)
        return;
    shownPercent_ = percent;
    std::fprintf(stderr, "\rfxplayer: frame %lld of %lld (%.2f s) %3lld%%", frame + 1, total_,
                 seconds, percent);
    std::fflush(stderr);
}

void Progress::Done() {
    if (!terminal_ || shownPercent_ < 0)
        return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
}

}  // namespace fxplayer
