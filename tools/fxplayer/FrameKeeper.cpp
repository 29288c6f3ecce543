#include "FrameKeeper.h"

#include <cstdio>

#include "OutputFolder.h"
#include "standin/Standin.h"

namespace fxplayer {

namespace {
// The contact sheet shows at most this many frames, evenly spread over those kept.
constexpr long long kMaxContactFrames = 60;
}  // namespace

FrameKeeper::FrameKeeper(const OutputFolder& output, unsigned canvasWidth, unsigned canvasHeight,
                         long long frameCount, int every)
    : output_(output),
      width_(canvasWidth),
      height_(canvasHeight),
      every_(every),
      toKeep_((frameCount - 1) / every + 1),
      contactStride_((toKeep_ + kMaxContactFrames - 1) / kMaxContactFrames),
      sheet_(canvasWidth, canvasHeight) {}

bool FrameKeeper::Keep(long long frame, double seconds, std::string& error) {
    char name[40];
    std::snprintf(name, sizeof name, "frames/%05lld.png", frame);
    if (!standin::WriteCanvasPng(output_.Path(name))) {
        error = "cannot write " + output_.Path(name);
        return false;
    }
    if (kept_ % contactStride_ == 0) {
        Image picture;
        picture.width = width_;
        picture.height = height_;
        picture.rgba = standin::CanvasPixels();
        sheet_.Add(picture, seconds, frame);
    }
    ++kept_;
    return true;
}

bool FrameKeeper::Finish(std::string& error) {
    Image sheet = sheet_.Build();
    if (!standin::WritePng(output_.Path("contact.png"), sheet.width, sheet.height, sheet.rgba)) {
        error = "cannot write " + output_.Path("contact.png");
        return false;
    }
    return true;
}

}  // namespace fxplayer
