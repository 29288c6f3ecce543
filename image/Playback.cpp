// BitmapImage::Advance: plays an animation in time with its own delays and loop count, decoding
// each frame on first use and caching its pixels, and reloads the file one second after the last
// reported change.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "image/BackgroundWorker.h"
#include "image/BitmapImage.h"
#include "image/FrameStore.h"

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
    if (retiring[0].block)
        RetireSome();
    if (isAnimated)
        AdvanceAnimation(seconds);
    if (streamed)
        WriteStreamLines();
    // The reload runs before the watch is polled, so a change reported now counts from the next
    // call on: the reload comes once a full second has been counted after the last report.
    AdvanceReload(seconds);
    if (fileMonitor && OSFileHasChanged(fileMonitor))
        reloadCountdown = 1.0f;
}

uint32_t BitmapImage::LoopLimit() const {
    return LoopLimitOf(format, animation.loop_count);
}

void BitmapImage::AdvanceAnimation(float seconds) {
    const uint32_t limit = LoopLimit();
    if (limit != 0 && loopsPlayed >= limit) {
        // Finished: the last frame stays, once the worker has it.
        if (streamed)
            ShowStreamedFrame(seconds);
        return;
    }

    const uint32_t shown = currentFrame;
    frameTime += seconds;
    if (frameTime > kLongSpanSeconds)
        SkipWholePasses(limit);
    FrameWalk walk{currentFrame, loopsPlayed, passesStarted, frameTime};
    walk.Walk(frameDelays, frameCount, limit);
    const uint32_t frame = walk.frame;
    loopsPlayed = walk.loopsPlayed;
    passesStarted = walk.passesStarted;
    frameTime = walk.time;
    if (streamed) {
        currentFrame = frame;
        ShowStreamedFrame(seconds);
        return;
    }
    if (frame == shown)
        return;

    if (!frameCache[frame] && !FrameFailed(frameFailed, frame))
        DecodeIntoCache(frame);
    if (frameCache[frame] && texture)
        texture->UploadPixels(frameCache[frame], GS_RGBA, animation.width * 4u);
    // A frame that failed to decode is passed over on screen: the texture keeps the previous one.
    currentFrame = frame;
}

// Each format builds a frame on the one before it, so the frames between the last decoded one and
// `frame` are decoded first (from frame 0 when going back). Only `frame` is cached, and only when
// it decodes. A GIF frame on the way that fails is passed over: libnsgif leaves on the canvas what
// it could decode and the next frames are drawn over it, just as when the broken frame is itself
// the one due. Stopping there instead would meet the same frame again at every call and freeze the
// picture. A frame that fails is marked, so that it is never asked for again: asked for the frame
// it decoded last, libnsgif would call the half-drawn canvas done. (libwebp composes nothing past a
// frame that fails: those frames are marked too, and the texture keeps the last good one.)
void BitmapImage::DecodeIntoCache(uint32_t frame) {
    FrameDecoder decoder = Decoder();
    const uint32_t first = frame > lastDecodedFrame ? lastDecodedFrame + 1 : 0;
    for (uint32_t i = first; i < frame; ++i)
        decoder.Decode(i, frameFailed);
    framesDecoded += frame - first + 1;
    lastDecodedFrame = frame;
    if (decoder.Decode(frame, frameFailed) != FrameDecodeResult::Decoded)
        return;
    // The holder's store is whole, in the host's allocator: frame i in slot i.
    frameCache[frame] =
        FrameStore(frameStore, frameCount, frameCount, FrameBytes()).Keep(decoder.Canvas(), frame);
}

// Takes away whole passes through the animation, all but the last one, counting them as loops. A
// limited animation keeps at least its final pass for the frame-by-frame walk, which ends it.
void BitmapImage::SkipWholePasses(uint32_t limit) {
    double pass = 0.0;
    for (uint32_t i = 0; i < frameCount; ++i)
        pass += frameDelays[i];
    double passes = std::floor(frameTime / pass) - 1.0;
    if (passes < 1.0)
        return;
    if (limit == 0) {
        frameTime = static_cast<float>(std::fmod(static_cast<double>(frameTime), pass) + pass);
        passesStarted += static_cast<uint64_t>(passes);
        return;
    }
    const double passesLeft = static_cast<double>(limit - loopsPlayed - 1);
    if (passes > passesLeft)
        passes = passesLeft;
    if (passes < 1.0)
        return;
    loopsPlayed += static_cast<uint32_t>(passes);
    passesStarted += static_cast<uint64_t>(passes);
    frameTime = static_cast<float>(static_cast<double>(frameTime) - passes * pass);
}

// Playback of a background load: the worker decodes, this thread only copies. A frame that is due
// before the worker has it is late: the texture keeps what it shows, or moves on to the newest
// decoded frame that is due, never back; the timing goes on as if it had been shown. The worker is
// then told that playback reads nothing before the due frame, so that its window follows the due
// frame and not the one last shown: once it catches up, the frame that is due shows.
void BitmapImage::ShowStreamedFrame(float seconds) {
    const uint64_t due = passesStarted * frameCount + currentFrame;
    if (static_cast<int64_t>(due) != reachedSequence) {
        // Only frames from readFrom on, which the worker was told playback may still read: it may
        // be writing the slots of older ones. Of those, no more than the store holds.
        const uint8_t* pixels = due >= readFrom ? streamed->Frame(due) : nullptr;
        if (pixels) {
            if (texture)
                texture->UploadPixels(pixels, GS_RGBA, animation.width * 4u);
            reachedSequence = static_cast<int64_t>(due);
        } else if (streamed->FrameFailed(currentFrame)) {
            reachedSequence = static_cast<int64_t>(due);  // passed over, as a load at once does
        } else {
            if (due != lastLateSequence)
                ++lateFrames;
            lastLateSequence = due;
            uint64_t at = due < readFrom + streamed->slots ? due : readFrom + streamed->slots;
            while (at-- > readFrom && static_cast<int64_t>(at) > reachedSequence) {
                if (!(pixels = streamed->Frame(at)))
                    continue;
                if (texture)
                    texture->UploadPixels(pixels, GS_RGBA, animation.width * 4u);
                reachedSequence = static_cast<int64_t>(at);
                break;
            }
        }
    }
    // Behind, the worker catches up with the frame that is due. On time, a ring that one call
    // spans whole holds the frames up to the one the next call of the same length will show, so
    // that a host at a steady rate finds it there.
    uint64_t from = due;
    if (static_cast<int64_t>(due) == reachedSequence) {
        from = due + 1;
        const uint64_t next = ExpectedSequence(seconds, due);
        if (next >= from + streamed->slots)
            from = next - streamed->slots + 1;
    }
    readFrom = from;
    streamed->Follow(from);
}

// The sequence that one more call of `seconds` would make due, by the walk AdvanceAnimation takes;
// `due` when that is far off (a long span, a finished animation) or the whole animation is stored.
uint64_t BitmapImage::ExpectedSequence(float seconds, uint64_t due) const {
    constexpr uint32_t kMaxSteps = 1024;
    const uint32_t limit = LoopLimit();
    if (streamed->slots == frameCount || (limit != 0 && loopsPlayed >= limit))
        return due;
    const float time = frameTime + seconds;
    if (time > kLongSpanSeconds)
        return due;
    FrameWalk walk{currentFrame, loopsPlayed, passesStarted, time};
    if (!walk.Walk(frameDelays, frameCount, limit, kMaxSteps))
        return due;
    return walk.passesStarted * frameCount + walk.frame;
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
