// The worker's side of a still picture and of a GIF of one frame: the file is read and decoded
// here, so that the host's thread only makes the texture from the pixels. Whatever the system's
// decoder cannot take goes back to the host's own loader, which then does what it does without the
// background load; the worker never reports a still's failure itself.
#include <functional>
#include <new>
#include <vector>

#include "image/BackgroundWorker.h"
#include "image/gif/GifBitmap.h"
#include "platform/Platform.h"
#include "platform/StillDecoder.h"

namespace {

// The largest still the worker decodes, in bytes of pixels: the largest GIF canvas the holder
// shows (4096 x 4096). A larger picture is the host's loader's to take or refuse.
constexpr uint64_t kMaxStillBytes = uint64_t{4096} * 4096 * 4;
// A file larger than any such picture could need is the host's loader's too.
constexpr uint64_t kMaxStillFile = uint64_t{256} << 20;

}  // namespace

void GifStream::LoadStillPicture() {
    uint64_t size = 0;
    const std::function<bool()> stop = [this] { return Stopped(); };
    const platform::FileRead read =
        system_.ReadWholeFile(path.c_str(), kMaxStillFile, fileData_, size, stop);
    if (read == platform::FileRead::Stopped || Stopped())
        return;
    if (read != platform::FileRead::Done) {
        HandBackToHost();
        return;
    }
    uint32_t w = 0, h = 0;
    const platform::StillDecode decoded = platform::DecodeStill(fileData_.data(), fileData_.size(),
                                                                kMaxStillBytes, stillPixels_, w, h);
    std::vector<uint8_t>().swap(fileData_);
    if (decoded != platform::StillDecode::Done) {
        HandBackToHost();
        return;
    }
    width = w;
    height = h;
    outcome = Outcome::Still;
    MarkReady();
}

// After the scan and the size checks, as the holder's GIF path: its frame 0 is what the host's
// loader shows of such a file. Any doubt (no frame, a frame that does not decode) goes to it.
void GifStream::KeepSingleFrame() {
    const bool decoded = frameCount == 1 &&
                         DecodeGifFrame(animation_, 0, nullptr) == GifDecodeResult::Decoded &&
                         GifCanvasPixels(animation_) != nullptr;
    if (decoded) {
        const uint8_t* canvas = GifCanvasPixels(animation_);
        try {
            stillPixels_.assign(canvas, canvas + FrameBytes());
        } catch (const std::bad_alloc&) {
            stillPixels_.clear();
        }
    }
    gif_finalise(&animation_);
    holdsDecoder_ = false;
    std::vector<uint8_t>().swap(fileData_);
    if (!decoded || stillPixels_.empty()) {
        HandBackToHost();
        return;
    }
    outcome = Outcome::Still;
    MarkReady();
}

void GifStream::HandBackToHost() {
    std::vector<uint8_t>().swap(fileData_);
    std::vector<uint8_t>().swap(stillPixels_);
    width = height = 0;
    outcome = Outcome::LoadAsStill;
    MarkReady();
}
