// BitmapImage::Advance: plays an animation in time with its own delays and loop count, its frames
// from its source (decoded on demand on this thread, or handed over by a worker), and reloads the
// file one second after the last reported change.
#include <cmath>
#include <cstdint>

#include "image/BitmapImage.h"

namespace {

// Beyond this much gathered time, whole passes through the animation are skipped arithmetically
// instead of frame by frame, so that a long stall of the host cannot stall it again.
constexpr float kLongSpanSeconds = 60.0f;

// Where playback stands in its walk through frames and passes. Playback moves on with it, and the
// look one call ahead for a background load takes a copy, so that both step alike to the float.
struct FrameWalk {
    uint32_t frame;
    uint32_t loopsPlayed;
    uint64_t passesStarted;
    float time;  // gathered toward leaving `frame`

    // Leaves frames while the gathered time is above the frame's delay: a frame stays while the
    // time merely equals it, and what is left over carries on to the next frame, so that timing
    // does not drift with the host's frame rate. After the last frame the next pass begins, unless
    // `limit` passes (not 0) are played: then the last frame stays, whatever time is left. False
    // when it gave up after `maxSteps` frames with time still to walk.
    bool Walk(const List<float>& delays, uint32_t frameCount, uint32_t limit,
              uint64_t maxSteps = UINT64_MAX) {
        for (uint64_t step = 0; time > delays[frame]; ++step) {
            if (step == maxSteps)
                return false;
            time -= delays[frame];
            if (++frame < frameCount)
                continue;
            if (limit == 0 || ++loopsPlayed < limit) {
                frame = 0;
                ++passesStarted;
                continue;
            }
            frame = frameCount - 1;
            break;
        }
        return true;
    }
};

}  // namespace

void BitmapImage::Advance(float seconds) {
    // A host hiccup (NaN, infinity, a clock going backwards) must not freeze or rewind playback.
    if (!std::isfinite(seconds) || seconds < 0.0f)
        seconds = 0.0f;
    CountHostFrame();
    if (retiring[0].block)
        RetireSome();
    if (content == Content::Animation) {
        // One path for both sources: the walk, then the frame that is due, from where it comes.
        const uint32_t entryFrame = playback.currentFrame;
        playback.Advance(seconds);
        // A load the owner swaps in after this call replaces the picture before it is drawn: the
        // frame due now is not copied into the texture only to be overwritten (unless a reload
        // due now gives that load up).
        const bool replaced =
            BackgroundSwapDue() && (reloadCountdown == 0.0f || reloadCountdown > seconds);
        if (!replaced)
            frames->Show(playback, entryFrame, seconds, texture, lateFrames);
    }
    if (frames == &workerFrames)
        WriteWorkerLines();
    // The reload runs before the watch is polled, so a change reported now counts from the next
    // call on: the reload comes once a full second has been counted after the last report.
    AdvanceReload(seconds);
    if (fileMonitor && OSFileHasChanged(fileMonitor))
        reloadCountdown = 1.0f;
}

void Playback::Advance(float seconds) {
    // Finished: the last frame stays, and the time no longer grows.
    if (Finished())
        return;
    frameTime += seconds;
    if (frameTime > kLongSpanSeconds)
        SkipWholePasses();
    FrameWalk walk{currentFrame, loopsPlayed, passesStarted, frameTime};
    walk.Walk(delays, frameCount, loopLimit);
    currentFrame = walk.frame;
    loopsPlayed = walk.loopsPlayed;
    passesStarted = walk.passesStarted;
    frameTime = walk.time;
}

// Takes away whole passes through the animation, all but the last one, counting them as loops. A
// limited animation keeps at least its final pass for the frame-by-frame walk, which ends it.
void Playback::SkipWholePasses() {
    double pass = 0.0;
    for (uint32_t i = 0; i < frameCount; ++i)
        pass += delays[i];
    double passes = std::floor(frameTime / pass) - 1.0;
    if (passes < 1.0)
        return;
    if (loopLimit == 0) {
        frameTime = static_cast<float>(std::fmod(static_cast<double>(frameTime), pass) + pass);
        passesStarted += static_cast<uint64_t>(passes);
        return;
    }
    const double passesLeft = static_cast<double>(loopLimit - loopsPlayed - 1);
    if (passes > passesLeft)
        passes = passesLeft;
    if (passes < 1.0)
        return;
    loopsPlayed += static_cast<uint32_t>(passes);
    passesStarted += static_cast<uint64_t>(passes);
    frameTime = static_cast<float>(static_cast<double>(frameTime) - passes * pass);
}

uint64_t Playback::ExpectedSequence(float seconds, uint64_t due) const {
    constexpr uint32_t kMaxSteps = 1024;
    if (Finished())
        return due;
    const float time = frameTime + seconds;
    if (time > kLongSpanSeconds)
        return due;
    FrameWalk walk{currentFrame, loopsPlayed, passesStarted, time};
    if (!walk.Walk(delays, frameCount, loopLimit, kMaxSteps))
        return due;
    return walk.passesStarted * frameCount + walk.frame;
}

void Playback::Restart() {
    currentFrame = 0;
    loopsPlayed = 0;
    passesStarted = 0;
    frameTime = 0.0f;
}

void BitmapImage::AdvanceReload(float seconds) {
    if (reloadCountdown == 0.0f)
        return;
    reloadCountdown -= seconds;
    if (reloadCountdown > 0.0f)
        return;
    reloadCountdown = 0.0f;
    Init();
}
