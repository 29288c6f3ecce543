#pragma once

// The frames a run keeps: every N-th canvas as frames/NNNNN.png in the output folder, and a
// contact sheet of at most 60 of them spread evenly over the run.
#include <string>

#include "Pictures.h"

namespace fxplayer {

class OutputFolder;

class FrameKeeper {
public:
    FrameKeeper(const OutputFolder& output, unsigned canvasWidth, unsigned canvasHeight,
                long long frameCount, int every);

    // Whether frame `frame` is one to keep.
    bool Wanted(long long frame) const { return frame % every_ == 0; }
    // Writes the canvas as it stands as frame `frame`. False with `error` when it cannot.
    bool Keep(long long frame, double seconds, std::string& error);
    // Writes contact.png.
    bool Finish(std::string& error);

    long long Kept() const { return kept_; }
    // How many frames the whole run keeps.
    long long ToKeep() const { return toKeep_; }

private:
    const OutputFolder& output_;
    unsigned width_;
    unsigned height_;
    long long every_;
    long long toKeep_;
    long long contactStride_;
    long long kept_ = 0;
    ContactSheet sheet_;
};

}  // namespace fxplayer
