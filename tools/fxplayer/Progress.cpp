#include "Progress.h"

#include <cmath>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define FXPLAYER_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define FXPLAYER_ISATTY(fd) isatty(fd)
#endif

namespace fxplayer {

namespace {
// The line is redrawn when the share done moves on, and at least this often for slow runs.
constexpr std::chrono::seconds kRedraw(1);
// Before this much work the pace says little.
constexpr double kMinElapsed = 0.5;
}  // namespace

std::string TimeLeftText(double elapsedSeconds, long long done, long long total) {
    if (done <= 0 || total <= done || elapsedSeconds < kMinElapsed)
        return std::string();
    double left = elapsedSeconds * static_cast<double>(total - done) / static_cast<double>(done);
    long long whole = std::llround(left);
    char text[64];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "about %lld h %lld min left", whole / 3600,
                      whole % 3600 / 60);
    } else if (whole >= 60) {
        std::snprintf(text, sizeof text, "about %lld min %lld s left", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "about %lld s left", whole);
    }
    return text;
}

Progress::Progress(long long totalFrames)
    : terminal_(FXPLAYER_ISATTY(2) != 0),
      total_(totalFrames > 0 ? totalFrames : 1),
      start_(Clock::now()),
      shownAt_(start_) {}

void Progress::Update(long long frame, double seconds) {
    if (!terminal_)
        return;
    long long percent = (frame + 1) * 100 / total_;
    Clock::time_point now = Clock::now();
    // Redrawn once per percent, or once a second, not per frame.
    if (percent == shownPercent_ && now - shownAt_ < kRedraw)
        return;
    shownPercent_ = percent;
    shownAt_ = now;
    double elapsed = std::chrono::duration<double>(now - start_).count();
    std::string left = TimeLeftText(elapsed, frame + 1, total_);
    std::fprintf(stderr, "\rfxplayer: frame %lld of %lld (%.2f s) %3lld%% %-28s", frame + 1, total_,
                 seconds, percent, left.c_str());
    std::fflush(stderr);
}

void Progress::Done() {
    if (!terminal_ || shownPercent_ < 0)
        return;
    std::fprintf(stderr, "\r%90s\r", "");
    std::fflush(stderr);
}

}  // namespace fxplayer
