#pragma once

// The load of a GIF or WebP effect, one sequence for both drivers: the host's thread, which loads
// inside the frame (HostThreadLoad.cpp), and a worker (WorkerLoad.cpp). It reads the file
// within kMaxEffectFileBytes, scans it, decodes frame 0, allocates the frame store and, at each
// failure, produces the failure's one line (LoadLines.h). What differs between the drivers is
// passed in: the memory (the host's allocator or the C++ runtime's heap), where a line goes
// (written at once, or kept for the host's thread), and the store's shape (a slot per frame, or a
// ring within the worker's budget).
#include <cstddef>
#include <cstdint>

#include "image/FrameDecoder.h"
#include "image/FrameStore.h"
#include "image/LoadLines.h"
#include "platform/Platform.h"

class LoadDriver {
public:
    // Reads the whole file, checking its size against `maxBytes` before it allocates for it. On
    // Done, `data` points at the `size` bytes read (at one byte at least, also for an empty file),
    // held by the driver until it lets go of the load; on ShortRead, `read` is the count read.
    virtual platform::FileRead Read(uint64_t maxBytes, const uint8_t*& data, uint64_t& size,
                                    uint64_t& read) = 0;
    // One line of the load, in order.
    virtual void Line(const LoadLine& line) = 0;
    // Frame 0 of an animation is decoded (or failed: its pixels as far as they were drawn) and the
    // store not yet allocated. The host's thread makes the texture here.
    virtual void FirstFrame(const uint8_t* canvas) { (void)canvas; }
    // The load has been given up: the sequence ends where it is, without a line.
    virtual bool Stopped() const { return false; }

protected:
    ~LoadDriver() = default;
};

// What the driver asks of the load.
struct LoadRequest {
    EffectFormat format;
    const wchar_t* path;
    gif_bitmap_callback_vt* callbacks;  // libnsgif's canvas in the driver's memory
    // A GIF of one frame goes to the host's loader undecoded (the host's thread, as the design
    // has it); otherwise its frame 0 is decoded, as a WebP's always is.
    bool singleGifToHost;
    // The store: its memory, the budget that bounds its slots (a slot per frame when all fit), the
    // driver's table entry per slot, and whether it is cleared.
    StoreMemory memory;
    uint64_t storeBudgetBytes;
    size_t tableEntryBytes;
    bool clearStore;
};

enum class LoadOutcome {
    Animation,   // frame 0 decoded (or a GIF's failed), the store allocated
    Still,       // one frame, decoded: its pixels are in the decoder's canvas
    HostLoader,  // a GIF of one frame the host's loader takes (the decoder holds nothing to show)
    Failed,      // the line is out; the placeholder follows
    Stopped,     // given up by the driver
};

struct LoadedEffect {
    const uint8_t* data = nullptr;  // the file, as Read gave it
    uint64_t size = 0;
    FrameScan scan;
    bool firstFrameDecoded = false;
    uint32_t slots = 0;
    uint64_t storeBytes = 0;
    StoreBlocks blocks;  // whatever was allocated, also on failure, for the driver to free
};

// Runs the load. The decoder is made afresh first, and holds what the scan made until the driver
// finalises it, whatever the outcome; the file and the store's blocks are the driver's to free.
LoadOutcome RunEffectLoad(LoadDriver& driver, FrameDecoder decoder, const LoadRequest& request,
                          LoadedEffect& loaded);
