#include "image/HostWork.h"

#include <atomic>

namespace {

// Plain data: trivially destructible, so it may live in the module for the process's life. Atomic
// only because a program may drive sources from more than one thread.
std::atomic<uint64_t> counts[static_cast<unsigned>(HostWork::Count)];

}  // namespace

void CountHostWork(HostWork what, uint64_t amount) {
    counts[static_cast<unsigned>(what)].fetch_add(amount, std::memory_order_relaxed);
}

uint64_t HostWorkDone(HostWork what) {
    return counts[static_cast<unsigned>(what)].load(std::memory_order_relaxed);
}

uint64_t TextureBytes(const Texture* texture) {
    return texture ? uint64_t{texture->GetWidth()} * texture->GetHeight() * 4 : 0;
}

Texture* CountTextureMade(Texture* texture) {
    if (texture) {
        CountHostWork(HostWork::TexturesMade);
        CountHostWork(HostWork::TextureBytesMade, TextureBytes(texture));
    }
    return texture;
}

void CountUpload(const Texture* texture) {
    if (texture) {
        CountHostWork(HostWork::Uploads);
        CountHostWork(HostWork::UploadBytes, TextureBytes(texture));
    }
}

void CountTextureDeleted(const Texture* texture) {
    if (texture) {
        CountHostWork(HostWork::TexturesDeleted);
        CountHostWork(HostWork::TextureBytesDeleted, TextureBytes(texture));
    }
}

void CountBlockFreed(uint64_t bytes) {
    CountHostWork(HostWork::BlocksFreed);
    CountHostWork(HostWork::BytesFreed, bytes);
}
