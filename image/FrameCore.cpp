#include "image/FrameCore.h"

#include <new>

void CheckCanvasLimits(FrameScan& scan) {
    if (scan.width > kMaxCanvasSide || scan.height > kMaxCanvasSide) {
        scan.result = FrameScanResult::BadDimensions;
        return;
    }
    scan.bytes64 = static_cast<uint64_t>(scan.frameCount) * scan.height * scan.width * 4;
    scan.bytes32 = scan.frameCount * scan.height * scan.width * 4u;
    scan.result =
        scan.bytes64 == scan.bytes32 ? FrameScanResult::Scanned : FrameScanResult::TooLarge;
}

FrameMark* MakeFrameMarks(void* block, uint32_t count) {
    auto* marks = static_cast<FrameMark*>(block);
    for (uint32_t i = 0; i < count; ++i)
        new (&marks[i]) FrameMark(0);
    return marks;
}
