#include "image/WorkerFrames.h"

#include "image/HostWork.h"
#include "image/WorkerLoad.h"

void WorkerFrames::Start() {
    reachedSequence = 0;
    readFrom = 1;
    lastLateSequence = 0;  // frame 0 is never late
    load->Follow(readFrom);
}

// The worker decodes, this thread only copies. A frame that is due before the worker has it is
// late: the texture keeps what it shows, or moves on to the newest decoded frame that is due, never
// back; the timing goes on as if it had been shown. The worker is then told that playback reads
// nothing before the due frame, so that its window follows the due frame and not the one last
// shown: once it catches up, the frame that is due shows.
void WorkerFrames::Show(const Playback& playback, uint32_t, float seconds, Texture* texture,
                        uint64_t& lateFrames) {
    const uint32_t pitch = playback.width * 4u;
    const uint64_t due = playback.Sequence();
    if (static_cast<int64_t>(due) != reachedSequence) {
        // Only frames from readFrom on, which the worker was told playback may still read: it may
        // be writing the slots of older ones. Of those, no more than the store holds.
        const uint8_t* pixels = due >= readFrom ? load->Frame(due) : nullptr;
        if (pixels) {
            if (texture)
                texture->UploadPixels(pixels, GS_RGBA, pitch);
            CountUpload(texture);
            reachedSequence = static_cast<int64_t>(due);
        } else if (load->FrameFailed(playback.currentFrame)) {
            reachedSequence = static_cast<int64_t>(due);  // passed over, as a load at once does
        } else {
            if (due != lastLateSequence)
                ++lateFrames;
            lastLateSequence = due;
            uint64_t at = due < readFrom + load->slots ? due : readFrom + load->slots;
            while (at-- > readFrom && static_cast<int64_t>(at) > reachedSequence) {
                if (!(pixels = load->Frame(at)))
                    continue;
                if (texture)
                    texture->UploadPixels(pixels, GS_RGBA, pitch);
                CountUpload(texture);
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
        const uint64_t next =
            load->slots == playback.frameCount ? due : playback.ExpectedSequence(seconds, due);
        if (next >= from + load->slots)
            from = next - load->slots + 1;
    }
    readFrom = from;
    load->Follow(from);
}
