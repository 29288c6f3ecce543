// The worker's side of a still picture and of a GIF or WebP of one frame: the file is read and
// decoded here, so that the host's thread only makes the texture from the pixels. Whatever the
// system's decoder cannot take goes back to the host's own loader, which then does what it does
// without the background load; the worker reports no still's failure itself, but a WebP's.
#include <new>
#include <vector>

#include "image/WorkerLoad.h"
#include "log/ModuleLog.h"
#include "platform/Platform.h"
#include "platform/StillDecoder.h"

// Read as an effect file is read (the same step of the load), within the bound of a still.
void WorkerLoad::LoadStillPicture() {
    const uint8_t* data = nullptr;
    uint64_t size = 0, read = 0;
    const platform::FileRead result = Read(kMaxStillFileBytes, data, size, read);
    if (result == platform::FileRead::Stopped || Stopped())
        return;
    if (result != platform::FileRead::Done) {
        HandBackToHost();
        return;
    }
    uint32_t w = 0, h = 0;
    const platform::StillDecode decoded = platform::DecodeStill(
        data, static_cast<size_t>(size), kMaxCanvasPixels * 4, stillPixels_, w, h);
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

// A GIF or WebP of one frame that the load decoded: its frame 0 is what the host's loader shows of
// such a file. A picture there is no memory for goes back to the holder, which loads it on the
// host's thread as without the background load.
void WorkerLoad::KeepStill() {
    FrameDecoder decoder = Decoder();
    const uint8_t* canvas = decoder.Canvas();
    try {
        stillPixels_.assign(canvas, canvas + FrameBytes());
    } catch (const std::bad_alloc&) {
        stillPixels_.clear();
    }
    decoder.Finalise();
    holdsDecoder_ = false;
    std::vector<uint8_t>().swap(fileData_);
    if (stillPixels_.empty()) {
        HandBackToHost();
        return;
    }
    outcome = Outcome::Still;
    MarkReady();
}

void WorkerLoad::HandBackToHost() {
    if (holdsDecoder_)
        Decoder().Finalise();
    holdsDecoder_ = false;
    std::vector<uint8_t>().swap(fileData_);
    std::vector<uint8_t>().swap(stillPixels_);
    width = height = 0;
    outcome = Outcome::LoadAsStill;
    MarkReady();
}
