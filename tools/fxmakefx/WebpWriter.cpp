#include "WebpWriter.h"

#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>
#include <stdexcept>

namespace fxmakefx {

namespace {

struct EncoderDeleter {
    void operator()(WebPAnimEncoder* encoder) const { WebPAnimEncoderDelete(encoder); }
};
struct PictureFree {
    void operator()(WebPPicture* picture) const { WebPPictureFree(picture); }
};
struct DemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

[[noreturn]] void Fail(const std::string& what, WebPAnimEncoder* encoder) {
    const char* reason = encoder ? WebPAnimEncoderGetError(encoder) : nullptr;
    throw std::runtime_error("WebP: " + what +
                             (reason && *reason ? std::string(": ") + reason : ""));
}

}  // namespace

std::vector<uint8_t> EncodeWebp(unsigned width, unsigned height,
                                const std::vector<WebpCanvas>& canvases,
                                const WebpOptions& options) {
    if (canvases.empty())
        throw std::runtime_error("WebP: no frames");
    if (width < 1 || height < 1 || width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION)
        throw std::runtime_error("WebP: sides must be 1 to 16383");
    WebPAnimEncoderOptions animOptions;
    if (!WebPAnimEncoderOptionsInit(&animOptions))
        throw std::runtime_error("WebP: libwebp's version does not match its headers");
    animOptions.anim_params.loop_count = options.loopCount;
    animOptions.anim_params.bgcolor = 0;  // transparent; players clear to it anyway
    std::unique_ptr<WebPAnimEncoder, EncoderDeleter> encoder(
        WebPAnimEncoderNew(static_cast<int>(width), static_cast<int>(height), &animOptions));
    if (!encoder)
        throw std::runtime_error("WebP: cannot make the animation encoder");

    WebPConfig config;
    if (!WebPConfigInit(&config))
        throw std::runtime_error("WebP: libwebp's version does not match its headers");
    config.lossless = options.lossless ? 1 : 0;
    config.quality = options.quality;
    // Lossless means every byte: left to itself the encoder may change the colour of pixels that
    // alpha 0 hides, which a player that filters the texture would show at soft edges.
    config.exact = options.lossless ? 1 : 0;
    if (!WebPValidateConfig(&config))
        throw std::runtime_error("WebP: quality must be 0 to 100");

    const size_t bytes = static_cast<size_t>(width) * height * 4;
    // The encoder takes the start of each frame in milliseconds as an int and allows it to wrap
    // around (only differences count): kept unsigned here, where wrapping is defined.
    uint32_t timestamp = 0;
    for (const WebpCanvas& canvas : canvases) {
        if (canvas.rgba.size() != bytes)
            throw std::runtime_error("WebP: a canvas of the wrong size");
        if (canvas.durationMs < 0 || canvas.durationMs > kMaxWebpDurationMs)
            throw std::runtime_error("WebP: a frame duration out of range");
        WebPPicture picture;
        if (!WebPPictureInit(&picture))
            throw std::runtime_error("WebP: libwebp's version does not match its headers");
        picture.use_argb = 1;
        picture.width = static_cast<int>(width);
        picture.height = static_cast<int>(height);
        std::unique_ptr<WebPPicture, PictureFree> owned(&picture);
        if (!WebPPictureImportRGBA(&picture, canvas.rgba.data(), static_cast<int>(width * 4)))
            throw std::runtime_error("WebP: out of memory");
        if (!WebPAnimEncoderAdd(encoder.get(), &picture, static_cast<int>(timestamp), &config))
            Fail("cannot add a frame", encoder.get());
        timestamp += static_cast<uint32_t>(canvas.durationMs);
    }
    // The end of the last frame gives its duration.
    if (!WebPAnimEncoderAdd(encoder.get(), nullptr, static_cast<int>(timestamp), nullptr))
        Fail("cannot end the animation", encoder.get());
    WebPData data;
    WebPDataInit(&data);
    if (!WebPAnimEncoderAssemble(encoder.get(), &data))
        Fail("cannot assemble the file", encoder.get());
    std::vector<uint8_t> file(data.bytes, data.bytes + data.size);
    WebPDataClear(&data);
    return file;
}

bool DescribeWebp(const std::vector<uint8_t>& bytes, WebpLayout& layout) {
    WebPData data = {bytes.data(), bytes.size()};
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&data));
    if (!demux)
        return false;
    layout = WebpLayout();
    layout.width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    layout.height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    layout.loopCount = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_LOOP_COUNT));
    layout.animated = (WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) != 0;
    WebPIterator it;
    if (WebPDemuxGetFrame(demux.get(), 1, &it)) {
        do {
            WebpStoredFrame frame;
            frame.x = it.x_offset;
            frame.y = it.y_offset;
            frame.width = it.width;
            frame.height = it.height;
            frame.durationMs = it.duration;
            frame.blend = it.blend_method == WEBP_MUX_BLEND;
            frame.disposeToBackground = it.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND;
            layout.frames.push_back(frame);
        } while (WebPDemuxNextFrame(&it));
        WebPDemuxReleaseIterator(&it);
    }
    return true;
}

std::string SummarizeWebp(const WebpLayout& layout) {
    if (!layout.animated)
        return "still";
    int partial = 0, blended = 0, disposed = 0;
    for (const WebpStoredFrame& f : layout.frames) {
        partial += f.width != static_cast<int>(layout.width) ||
                   f.height != static_cast<int>(layout.height);
        blended += f.blend;
        disposed += f.disposeToBackground;
    }
    return std::to_string(layout.frames.size()) + " frames (" + std::to_string(partial) +
           " partial, " + std::to_string(blended) + " blended, " + std::to_string(disposed) +
           " disposed to background), " +
           (layout.loopCount == 0 ? std::string("loops forever")
                                  : "plays " + std::to_string(layout.loopCount) + " times");
}

}  // namespace fxmakefx
