#include "image/gif/GifDecoder.h"

#include <new>

GifFrameMark* MakeGifFrameMarks(void* block, uint32_t count) {
    auto* marks = static_cast<GifFrameMark*>(block);
    for (uint32_t i = 0; i < count; ++i)
        new (&marks[i]) GifFrameMark(0);
    return marks;
}

GifDecodeResult DecodeGifFrame(gif_animation& animation, uint32_t frame, GifFrameMark* marks) {
    if (gif_decode_frame(&animation, frame) == GIF_OK)
        return GifDecodeResult::Decoded;
    if (marks && marks[frame].exchange(1) == 0)
        return GifDecodeResult::FailedAtFirst;
    return GifDecodeResult::Failed;
}
