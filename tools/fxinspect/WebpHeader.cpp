#include "WebpHeader.h"

#include <webp/demux.h>

namespace fxinspect {

WebpHeader ReadWebpHeader(const std::vector<uint8_t>& bytes) {
    WebpHeader header;
    const WebPData data = {bytes.data(), bytes.size()};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    // Partial: a truncated file still tells its canvas, its loop count and its whole frames.
    WebPDemuxer* demux = WebPDemuxPartial(&data, &state);
    if (!demux)
        return header;
    if (state >= WEBP_DEMUX_PARSED_HEADER) {
        header.isWebp = true;
        header.complete = state == WEBP_DEMUX_DONE;
        const uint32_t flags = WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS);
        header.animated = (flags & ANIMATION_FLAG) != 0;
        header.alpha = (flags & ALPHA_FLAG) != 0;
        header.width = WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH);
        header.height = WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT);
        if (header.animated)
            header.loopCount = WebPDemuxGetI(demux, WEBP_FF_LOOP_COUNT);
        WebPIterator it;
        if (WebPDemuxGetFrame(demux, 1, &it)) {
            do {
                if (it.complete)
                    header.durationsMs.push_back(static_cast<uint32_t>(it.duration));
            } while (WebPDemuxNextFrame(&it));
            WebPDemuxReleaseIterator(&it);
        }
    }
    WebPDemuxDelete(demux);
    return header;
}

}  // namespace fxinspect
