#include "image/webp/WebpDecoder.h"

#include <webp/demux.h>

FrameScan ScanWebp(WebpAnimation& webp, const uint8_t* data, size_t size) {
    FinaliseWebp(webp);
    FrameScan scan;
    const WebPData bytes = {data, size};
    // The container alone first: the decoder allocates its canvases as soon as it is made.
    WebPDemuxer* demux = WebPDemux(&bytes);
    if (!demux)
        return scan;
    scan.frameCount = WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT);
    scan.width = WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH);
    scan.height = WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT);
    const int loopCount = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_LOOP_COUNT));
    WebPDemuxDelete(demux);
    if (scan.frameCount == 0)
        return scan;
    if (scan.frameCount > kMaxWebpFrames) {
        scan.result = FrameScanResult::TooManyFrames;
        return scan;
    }
    CheckCanvasLimits(scan);
    if (scan.result != FrameScanResult::Scanned)
        return scan;

    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) {
        scan.result = FrameScanResult::Corrupt;
        return scan;
    }
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    webp.decoder = WebPAnimDecoderNew(&bytes, &options);
    WebPAnimInfo info;
    if (!webp.decoder || !WebPAnimDecoderGetInfo(webp.decoder, &info) ||
        info.frame_count != scan.frameCount || info.canvas_width != scan.width ||
        info.canvas_height != scan.height) {
        FinaliseWebp(webp);
        scan.result = FrameScanResult::Corrupt;
        return scan;
    }
    webp.width = scan.width;
    webp.height = scan.height;
    webp.frameCount = scan.frameCount;
    webp.reach = scan.frameCount;
    webp.loopCount = loopCount;
    return scan;
}

float WebpFrameDelay(const WebpAnimation& webp, uint32_t frame) {
    WebPIterator iterator;
    int ms = 0;
    if (WebPDemuxGetFrame(WebPAnimDecoderGetDemuxer(webp.decoder), static_cast<int>(frame) + 1,
                          &iterator)) {
        ms = iterator.duration;
        WebPDemuxReleaseIterator(&iterator);
    }
    if (ms <= 0)
        return 0.1f;
    if (ms < 10)
        return 0.01f;
    return static_cast<float>(ms) * 0.001f;
}

uint32_t WebpLoopLimit(int loopCount) {
    return loopCount <= 0 ? 0 : static_cast<uint32_t>(loopCount);
}

FrameDecodeResult DecodeWebpFrame(WebpAnimation& webp, uint32_t frame, FrameMark* marks) {
    // The frame composed last is still in the canvas.
    if (frame + 1 == webp.next && webp.canvas)
        return FrameDecodeResult::Decoded;
    if (frame < webp.next) {
        WebPAnimDecoderReset(webp.decoder);
        webp.next = 0;
    }
    while (webp.next <= frame && webp.next < webp.reach) {
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(webp.decoder, &pixels, &timestamp)) {
            // libwebp stays at this frame, its canvas half-drawn.
            webp.reach = webp.next;
            webp.canvas = nullptr;
            break;
        }
        webp.canvas = pixels;
        ++webp.next;
    }
    if (frame < webp.next)
        return FrameDecodeResult::Decoded;
    if (!marks)
        return FrameDecodeResult::Failed;
    if (marks[frame].exchange(1) == 0 && frame == webp.reach)
        return FrameDecodeResult::FailedAtFirst;
    return FrameDecodeResult::Failed;
}

void FinaliseWebp(WebpAnimation& webp) {
    if (webp.decoder)
        WebPAnimDecoderDelete(webp.decoder);
    webp = WebpAnimation();
}
