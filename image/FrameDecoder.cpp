#include "image/FrameDecoder.h"

#include "host/Host.h"
#include "image/gif/GifBitmap.h"
#include "image/gif/GifDecoder.h"
#include "image/gif/GifScan.h"

bool EffectFormatOfPath(const wchar_t* path, EffectFormat& format) {
    if (!path || path[0] == 0)
        return false;
    const String extension = GetPathExtension(path);
    if (extension.CompareI(L"gif")) {
        format = EffectFormat::Gif;
        return true;
    }
#ifdef VANTREL_WEBP
    if (extension.CompareI(L"webp")) {
        format = EffectFormat::Webp;
        return true;
    }
#endif
    return false;
}

uint32_t LoopLimitOf(EffectFormat format, int loopCount) {
    return format == EffectFormat::Webp ? WebpLoopLimit(loopCount) : GifLoopLimit(loopCount);
}

void FrameDecoder::Create(gif_bitmap_callback_vt& callbacks) {
    if (format_ == EffectFormat::Gif) {
        gif_create(&gif_, &callbacks);
        return;
    }
    FinaliseWebp(webp_);
    gif_ = gif_animation();
}

FrameScan FrameDecoder::Scan(const uint8_t* data, size_t size) {
    if (format_ == EffectFormat::Gif)
        return ScanGif(gif_, data, size);
    const FrameScan scan = ScanWebp(webp_, data, size);
    if (scan.result == FrameScanResult::Scanned) {
        gif_.width = scan.width;
        gif_.height = scan.height;
        gif_.frame_count = scan.frameCount;
        gif_.loop_count = webp_.loopCount;
    }
    return scan;
}

float FrameDecoder::FrameDelay(uint32_t frame) const {
    return format_ == EffectFormat::Gif ? GifFrameDelay(gif_, frame) : WebpFrameDelay(webp_, frame);
}

FrameDecodeResult FrameDecoder::Decode(uint32_t frame, FrameMark* marks) {
    return format_ == EffectFormat::Gif ? DecodeGifFrame(gif_, frame, marks)
                                        : DecodeWebpFrame(webp_, frame, marks);
}

const uint8_t* FrameDecoder::Canvas() const {
    return format_ == EffectFormat::Gif ? GifCanvasPixels(gif_) : webp_.canvas;
}

void FrameDecoder::Finalise() {
    if (format_ == EffectFormat::Gif) {
        gif_finalise(&gif_);
        return;
    }
    FinaliseWebp(webp_);
    gif_ = gif_animation();
}
