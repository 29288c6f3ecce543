// The worker's side of a still picture and of a GIF or WebP of one frame: the file is read and
// decoded here, so that the host's thread only makes the texture from the pixels. Whatever the
// system's decoder cannot take goes back to the host's own loader, which then does what it does
// without the background load; the worker reports no still's failure itself, but a WebP's.
#include <functional>
#include <new>
#include <vector>

#include "image/BackgroundWorker.h"
#include "log/ModuleLog.h"
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

// After the scan and the size checks, as the holder's path: a GIF's frame 0 is what the host's
// loader shows of such a file, and any doubt (no frame, a frame that does not decode) goes to it.
// A still WebP that does not decode is refused here, with the line the holder writes for it (the
// host's loader cannot be assumed to read WebP); one there is no memory for goes back to the
// holder, which decodes it on the host's thread as without the background load.
void GifStream::KeepSingleFrame() {
    FrameDecoder decoder = Decoder();
    const bool decoded = frameCount == 1 &&
                         decoder.Decode(0, nullptr) == FrameDecodeResult::Decoded &&
                         decoder.Canvas() != nullptr;
    if (decoded) {
        const uint8_t* canvas = decoder.Canvas();
        try {
            stillPixels_.assign(canvas, canvas + FrameBytes());
        } catch (const std::bad_alloc&) {
            stillPixels_.clear();
        }
    }
    decoder.Finalise();
    holdsDecoder_ = false;
    std::vector<uint8_t>().swap(fileData_);
    if (format == EffectFormat::Webp && !decoded) {
        Fail(PendingLogLine{false, LogLineText<LogText::GifFrameNotDecoded>(0, path.c_str())});
        return;
    }
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
