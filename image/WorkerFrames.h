#pragma once

// The frames of an animation a worker loads and decodes ahead (WorkerLoad.h): the host's thread
// only copies the frame that is due into the texture, and tells the worker where playback stands.
#include <cstdint>

#include "image/Animation.h"

class WorkerLoad;

struct WorkerFrames final : FrameSource {
    WorkerLoad* load = nullptr;   // the holder's shown load, held by the holder
    int64_t reachedSequence = 0;  // the last frame shown or passed over (passes x count + frame)
    uint64_t lastLateSequence = 0;
    uint64_t readFrom = 0;  // the first frame playback may still read

    // Frame 0 is in the texture: playback reads from frame 1 on.
    void Start();
    void Show(const Playback& playback, uint32_t entryFrame, float seconds, Texture* texture,
              uint64_t& lateFrames) override;
};
