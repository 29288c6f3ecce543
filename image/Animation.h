#pragma once

// An animation as the holder plays it, whatever gives its frames: its delays and loop limit, where
// playback stands, and the frame source, which puts the frame that is due into the texture. One
// walk through frames and passes for both sources, so that they step alike to the float.
#include <cstdint>

#include "host/Host.h"
#include "image/FrameCore.h"

struct Playback {
    List<float> delays;  // seconds per frame, each at least 0.01; one per frame
    EffectFormat format = EffectFormat::Gif;
    uint32_t frameCount = 0;
    int loopCount = 0;               // as the file gives it
    uint32_t loopLimit = 0;          // how many times the frames are played in all; 0: forever
    uint32_t width = 0, height = 0;  // the canvas
    uint32_t currentFrame = 0, loopsPlayed = 0;
    uint64_t passesStarted = 0;  // passes through the animation begun since the load
    float frameTime = 0.0f;      // seconds gathered toward leaving currentFrame

    bool Finished() const { return loopLimit != 0 && loopsPlayed >= loopLimit; }
    // The frame that is due, counted from the start of playback: passes x frame count + frame.
    uint64_t Sequence() const { return passesStarted * frameCount + currentFrame; }
    // Moves on by `seconds`, unless Finished: frames are left while the gathered time is above the
    // frame's delay, and what is left over carries on.
    void Advance(float seconds);
    // The sequence one more call of `seconds` would make due; `due` when that is far off (a long
    // span, a finished animation).
    uint64_t ExpectedSequence(float seconds, uint64_t due) const;
    // Frame 0, no loop played, no time gathered; the delays stay.
    void Restart();

private:
    void SkipWholePasses();
};

// Where the frames come from: decoded on demand on the host's thread (HostFrames.h), or handed
// over by a worker (WorkerFrames.h).
class FrameSource {
public:
    // After Playback::Advance: puts the frame that is due into `texture` (null: the host made
    // none), or leaves the picture as it is when the frame is not there. `entryFrame` is the frame
    // that was current before the advance. Frames that came late are added to `lateFrames`.
    virtual void Show(const Playback& playback, uint32_t entryFrame, float seconds,
                      Texture* texture, uint64_t& lateFrames) = 0;

protected:
    ~FrameSource() = default;
};
