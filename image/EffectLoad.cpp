#include "image/EffectLoad.h"

namespace {

LoadOutcome Fail(LoadDriver& driver, const LoadRequest& request, LoadFailure failure,
                 unsigned long long count = 0, unsigned long long bytes = 0) {
    driver.Line(LoadLine{failure, request.format, request.path, count, bytes});
    return LoadOutcome::Failed;
}

LoadOutcome Read(LoadDriver& driver, const LoadRequest& request, LoadedEffect& loaded) {
    uint64_t read = 0;
    switch (driver.Read(kMaxEffectFileBytes, loaded.data, loaded.size, read)) {
        case platform::FileRead::Done:
            return driver.Stopped() ? LoadOutcome::Stopped : LoadOutcome::Animation;
        case platform::FileRead::Stopped:
            return LoadOutcome::Stopped;
        case platform::FileRead::NotOpened:
            return Fail(driver, request, LoadFailure::NotOpened);
        case platform::FileRead::TooLarge:
            return Fail(driver, request, LoadFailure::FileTooLarge, 0, loaded.size);
        case platform::FileRead::NoMemory:
            return Fail(driver, request, LoadFailure::NoMemoryToRead, 0, loaded.size);
        case platform::FileRead::ShortRead:
            return Fail(driver, request, LoadFailure::ShortRead, read, loaded.size);
    }
    return LoadOutcome::Stopped;
}

LoadOutcome Scan(LoadDriver& driver, FrameDecoder& decoder, const LoadRequest& request,
                 LoadedEffect& loaded) {
    const FrameScan scan = decoder.Scan(loaded.data, static_cast<size_t>(loaded.size));
    loaded.scan = scan;
    switch (scan.result) {
        case FrameScanResult::Scanned:
            return LoadOutcome::Animation;
        case FrameScanResult::Corrupt:
            return Fail(driver, request, LoadFailure::Corrupt);
        case FrameScanResult::BadDimensions:
            return Fail(driver, request, LoadFailure::BadDimensions, scan.width, scan.height);
        case FrameScanResult::TooLarge:
            return Fail(driver, request, LoadFailure::Overflow, scan.bytes32, scan.bytes64);
        case FrameScanResult::TooManyFrames:
            return Fail(driver, request, LoadFailure::TooManyFrames, scan.frameCount);
    }
    return Fail(driver, request, LoadFailure::Corrupt);
}

// A GIF of one frame shows what the host's loader makes of it, on the host's thread; a worker keeps
// libnsgif's frame 0, the same picture, and leaves any doubt to the host's loader. A WebP of one
// frame is always decoded here (the host's loader cannot be assumed to read WebP), and one that
// does not decode has nothing to show.
LoadOutcome SingleFrame(LoadDriver& driver, FrameDecoder& decoder, const LoadRequest& request,
                        const LoadedEffect& loaded) {
    const bool gif = request.format == EffectFormat::Gif;
    if (gif && request.singleGifToHost)
        return LoadOutcome::HostLoader;
    const bool decoded = loaded.scan.frameCount == 1 &&
                         decoder.Decode(0, nullptr) == FrameDecodeResult::Decoded &&
                         decoder.Canvas() != nullptr;
    if (decoded)
        return LoadOutcome::Still;
    if (gif)
        return LoadOutcome::HostLoader;
    return Fail(driver, request, LoadFailure::FrameNotDecoded, 0);
}

}  // namespace

LoadOutcome RunEffectLoad(LoadDriver& driver, FrameDecoder decoder, const LoadRequest& request,
                          LoadedEffect& loaded) {
    loaded = LoadedEffect();
    decoder.Create(*request.callbacks);
    LoadOutcome outcome = Read(driver, request, loaded);
    if (outcome != LoadOutcome::Animation)
        return outcome;
    outcome = Scan(driver, decoder, request, loaded);
    if (outcome != LoadOutcome::Animation)
        return outcome;
    const uint32_t frameCount = loaded.scan.frameCount;
    if (frameCount <= 1)
        return SingleFrame(driver, decoder, request, loaded);
    if (driver.Stopped())
        return LoadOutcome::Stopped;

    loaded.firstFrameDecoded = decoder.Decode(0, nullptr) == FrameDecodeResult::Decoded;
    if (!loaded.firstFrameDecoded && request.format == EffectFormat::Webp) {
        // libwebp composes no frame after one it cannot decode: nothing of this file can be shown.
        return Fail(driver, request, LoadFailure::FrameNotDecoded, 0);
    }
    driver.FirstFrame(decoder.Canvas());

    // Under 2^32 bytes, and every product below exact: the scan refused any larger animation.
    const uint32_t frameBytes = loaded.scan.width * loaded.scan.height * 4u;
    loaded.slots = FrameStore::SlotsWithin(request.storeBudgetBytes, frameCount, frameBytes);
    loaded.storeBytes = static_cast<uint64_t>(loaded.slots) * frameBytes;
    const StoreShortage shortage =
        AllocateStore(request.memory, loaded.slots, request.tableEntryBytes, frameCount,
                      loaded.storeBytes, request.clearStore, loaded.blocks);
    if (shortage == StoreShortage::Table)
        return Fail(driver, request, LoadFailure::NoMemoryForFrameTable);
    // The frames the store was to hold, with its bytes: the animation's frame count for a whole
    // store, the ring's slots for a ring, so that count x frame size is the size the line gives.
    if (shortage == StoreShortage::Store)
        return Fail(driver, request, LoadFailure::NoMemoryForFrames, loaded.slots,
                    loaded.storeBytes);
    return LoadOutcome::Animation;
}
