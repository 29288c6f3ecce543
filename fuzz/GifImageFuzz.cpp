// Any bytes as a GIF or WebP effect file (a WebP by its signature, RIFF....WEBP, so that the
// fuzzer keeps to the format of the seed it starts from): loaded by BitmapImage on the stand-in
// host, played with frame times of every kind (including those the host should never pass), loaded
// again over itself, and destroyed. The holder must stay in a sound state throughout, playback must
// not log, every block, texture and the decoder's bitmap must be given back, and wherever the
// reference defines the frames, the texture must show the reference's frame for the frame the
// holder says it shows: the GIF89a reference of the tests for a GIF, libwebp's own animation
// decoder for a WebP.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "fuzz/FuzzSupport.h"
#include "image/BitmapImage.h"
#include "standin/Standin.h"
#include "support/GifReference.h"

#ifdef VANTREL_FUZZ_WEBP
#include <webp/demux.h>
#endif

namespace {

const float kSeconds[] = {0.016f,
                          0.05f,
                          0.05f,
                          0.1f,
                          0.0f,
                          0.25f,
                          1.0f,
                          0.016f,
                          -1.0f,
                          std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(),
                          7.5f,
                          0.033f,
                          1e9f,
                          0.016f};

// The reference's frames when the holder's picture is held against them, else null. Not held: a
// load that made no animation or said anything (a frame that fails to decode is passed over by
// design, and libnsgif leaves on the canvas what it could make of it); a file whose frames the
// reference does not define (GifReference.h lists them: among others image data cut short, which
// libnsgif draws in part, colour indices past their table, and the reserved disposal 4, which
// libnsgif reads as 3); and a canvas of another size (libnsgif takes some logical screens, such as
// 640 x 480 or any side above 2048, for the extent of the frames alone).
bool Reference(const BitmapImage& image, const uint8_t* data, size_t size,
               testsupport::ReferenceGif& reference) {
    if (!image.Snapshot().isAnimated || !image.texture || !standin::LogRecords().empty())
        return false;
    reference = testsupport::ComposeGif(data, size);
    if (!reference.error.empty() || reference.width != image.Snapshot().canvasWidth ||
        reference.height != image.Snapshot().canvasHeight)
        return false;
    FUZZ_CHECK(reference.frames.size() == image.Snapshot().frameCount);
    return true;
}

bool IsWebp(const uint8_t* data, size_t size) {
    return size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

// libwebp's own frames of a WebP the holder plays without a word, else false.
bool WebpReference(const BitmapImage& image, const uint8_t* data, size_t size,
                   testsupport::ReferenceGif& reference) {
#ifdef VANTREL_FUZZ_WEBP
    const BitmapImage::State state = image.Snapshot();
    if (!state.isAnimated || !image.texture || !standin::LogRecords().empty())
        return false;
    FUZZ_CHECK(state.format == EffectFormat::Webp);
    WebPAnimDecoderOptions options;
    FUZZ_CHECK(WebPAnimDecoderOptionsInit(&options));
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData bytes = {data, size};
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&bytes, &options);
    FUZZ_CHECK(decoder != nullptr);
    WebPAnimInfo info;
    FUZZ_CHECK(WebPAnimDecoderGetInfo(decoder, &info));
    reference.width = info.canvas_width;
    reference.height = info.canvas_height;
    const size_t frameBytes = size_t{info.canvas_width} * info.canvas_height * 4;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        uint8_t* pixels = nullptr;
        int timestamp = 0;
        // The holder logged nothing, so it decoded every frame: so must libwebp.
        FUZZ_CHECK(WebPAnimDecoderGetNext(decoder, &pixels, &timestamp));
        reference.frames.emplace_back(pixels, pixels + frameBytes);
    }
    WebPAnimDecoderDelete(decoder);
    FUZZ_CHECK(reference.width == state.canvasWidth && reference.height == state.canvasHeight);
    FUZZ_CHECK(reference.frames.size() == state.frameCount);
    return true;
#else
    (void)image, (void)data, (void)size, (void)reference;
    return false;
#endif
}

void CheckPicture(const BitmapImage& image, const testsupport::ReferenceGif* want) {
    if (!want)
        return;
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    FUZZ_CHECK(info && info->rgba == want->frames[image.Snapshot().currentFrame]);
}

void Play(BitmapImage& image, size_t steps, const testsupport::ReferenceGif* want) {
    const size_t logged = standin::LogRecords().size();
    CheckPicture(image, want);
    for (size_t i = 0; i < steps; ++i) {
        image.Advance(kSeconds[i % (sizeof(kSeconds) / sizeof(kSeconds[0]))]);
        fuzzsupport::CheckImage(image);
        CheckPicture(image, want);
    }
    // Playback never logs: the load has already reported every bad frame.
    FUZZ_CHECK(standin::LogRecords().size() == logged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::BeginInput();
    const bool webp = IsWebp(data, size);
    const std::string path =
        fuzzsupport::WriteWorkFile(webp ? "input.webp" : "input.gif", data, size);
    const std::wstring widePath = standin::FromUtf8(path);
    const fuzzsupport::Baseline baseline = fuzzsupport::TakeBaseline();
    {
        BitmapImage image;
        image.filePath = widePath.c_str();
        image.Init();
        fuzzsupport::CheckImage(image);
        // A bad file leaves a line or two for the load (what was refused, and the outcome), plus
        // one per bad frame.
        FUZZ_CHECK(standin::LogRecords().size() <= 2 + image.Snapshot().frameCount);
        testsupport::ReferenceGif reference;
        const bool compare = webp ? WebpReference(image, data, size, reference)
                                  : Reference(image, data, size, reference);
        Play(image, sizeof(kSeconds) / sizeof(kSeconds[0]), compare ? &reference : nullptr);

        // Loading over an animation releases everything first.
        standin::ClearLog();
        image.Init();
        fuzzsupport::CheckImage(image);
        Play(image, 4, compare && image.Snapshot().isAnimated ? &reference : nullptr);
    }
    fuzzsupport::CheckBackAt(baseline);
    return 0;
}
