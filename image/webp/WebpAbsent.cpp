// A build without libwebp (the MinGW test build): EffectFormatOfPath never names WebP there, so
// nothing reaches these; they refuse, should anything ever do.
#include "image/webp/WebpDecoder.h"

FrameScan ScanWebp(WebpAnimation& webp, const uint8_t*, size_t) {
    webp = WebpAnimation();
    return FrameScan();
}

float WebpFrameDelay(const WebpAnimation&, uint32_t) {
    return 0.1f;
}

uint32_t WebpLoopLimit(int loopCount) {
    return loopCount <= 0 ? 0 : static_cast<uint32_t>(loopCount);
}

FrameDecodeResult DecodeWebpFrame(WebpAnimation&, uint32_t, FrameMark*) {
    return FrameDecodeResult::Failed;
}

void FinaliseWebp(WebpAnimation& webp) {
    webp = WebpAnimation();
}
