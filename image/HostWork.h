#pragma once

// What the image holders did on the host's thread, counted module-wide from the module's load:
// the work a frame of the host's can cost, so that a host program can tell, frame by frame, why a
// frame took what it took (the effect player reads it through a test-only export around each call
// it makes into the module). Only the host's thread counts; a worker never does. The order of the
// counts is the export's: new ones go at the end.
#include <cstdint>

#include "host/Graphics.h"

enum class HostWork : unsigned {
    LoadsAtOnce,          // a file read and decoded on this thread, or given to the host's loader
    LoadsStarted,         // a background load handed to a worker
    FramesDecoded,        // frames decoded on this thread, for a load's checks or for playback
    TexturesMade,         // textures made, from pixels or from a file
    TextureBytesMade,     // their pixels: width x height x 4
    Uploads,              // frames copied into a texture that exists
    UploadBytes,          //
    TexturesDeleted,      //
    TextureBytesDeleted,  //
    BlocksFreed,          // a frame store or a file's bytes given back to the host's allocator,
    BytesFreed,           // whole or a slice of a store let go in slices
    // A host program's wait for a background load. No frame waits for a worker; the unload's
    // join of the workers (Workers.cpp) is bounded apart and not counted here.
    WorkerWaits,
    Count
};

void CountHostWork(HostWork what, uint64_t amount = 1);
// The count so far.
uint64_t HostWorkDone(HostWork what);

// Counted on the way: each returns or takes what the call it wraps does.
uint64_t TextureBytes(const Texture* texture);
Texture* CountTextureMade(Texture* texture);
void CountUpload(const Texture* texture);
// Before the texture is deleted.
void CountTextureDeleted(const Texture* texture);
void CountBlockFreed(uint64_t bytes);
