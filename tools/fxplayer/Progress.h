#pragma once

// The progress line on standard error, written only when standard error is a terminal, so that
// logs and pipes stay clean: the frame, the run's time, the share done and an estimate of the
// time left, from the pace so far.
#include <chrono>
#include <string>

namespace fxplayer {

class Progress {
public:
    explicit Progress(long long totalFrames);
    void Update(long long frame, double seconds);
    // Clears the line.
    void Done();

private:
    using Clock = std::chrono::steady_clock;
    bool terminal_;
    long long total_;
    long long shownPercent_ = -1;
    Clock::time_point start_;
    Clock::time_point shownAt_;
};

// "about 2 min 5 s left", "about 40 s left"; empty while there is too little to go by.
std::string TimeLeftText(double elapsedSeconds, long long done, long long total);

}  // namespace fxplayer
