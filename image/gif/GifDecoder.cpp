#include "image/gif/GifDecoder.h"

FrameDecodeResult DecodeGifFrame(gif_animation& animation, uint32_t frame, FrameMark* marks) {
    if (gif_decode_frame(&animation, frame) == GIF_OK)
        return FrameDecodeResult::Decoded;
    if (marks && marks[frame].exchange(1) == 0)
        return FrameDecodeResult::FailedAtFirst;
    return FrameDecodeResult::Failed;
}
