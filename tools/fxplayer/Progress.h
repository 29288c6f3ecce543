#pragma once

// The progress line on standard error, written only when standard error is a terminal, so that
// logs and pipes stay clean.
namespace fxplayer {

class Progress {
public:
    explicit Progress(long long totalFrames);
    void Update(long long frame, double seconds);
    // Clears the line.
    void Done();

private:
    bool terminal_;
    long long total_;
    long long shownPercent_ = -1;
};

}  // namespace fxplayer
