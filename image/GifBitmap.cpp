#include "image/GifBitmap.h"

#include <cstdint>
#include <cstring>

#include "host/Host.h"

namespace {

// libnsgif is C and calls these: nothing may be thrown through it, and the host's log may throw
// (out of memory), so a line it cannot take is dropped.
void LogCanvas(const wchar_t* format, int width, int height) noexcept {
    try {
        Log(format, width, height);
    } catch (...) {
    }
}

// libnsgif asks for the bitmap while it scans the file, sized from the header and grown to cover
// every frame, so a tiny file can ask for a canvas of 131070 x 131070. The size is taken in 64
// bits and anything beyond the largest canvas is refused, which fails the scan.
void* CreateBitmap(int width, int height) noexcept {
    if (width <= 0 || height <= 0)
        return nullptr;
    const uint64_t area = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (area > kMaxGifBitmapArea) {
        LogCanvas(L"BitmapImage: Warning, refused a gif canvas of %d x %d pixels", width, height);
        return nullptr;
    }
    const size_t bytes = static_cast<size_t>(area) * 4;
    void* bitmap = MainAllocator->Allocate(bytes);
    if (!bitmap) {
        LogCanvas(L"BitmapImage: Warning, not enough memory for a gif canvas of %d x %d pixels",
                  width, height);
        return nullptr;
    }
    // A frame that fails early is never drawn over this block; clear it so that it never shows
    // what the heap held before.
    std::memset(bitmap, 0, bytes);
    return bitmap;
}

void DestroyBitmap(void* bitmap) {
    MainAllocator->Free(bitmap);
}

unsigned char* BitmapBuffer(void* bitmap) {
    return static_cast<unsigned char*>(bitmap);
}

void SetBitmapOpaque(void*, bool) {}

bool TestBitmapOpaque(void*) {
    return false;
}

void BitmapModified(void*) {}

}  // namespace

gif_bitmap_callback_vt GifBitmapCallbacks() {
    return {&CreateBitmap,    &DestroyBitmap,    &BitmapBuffer,
            &SetBitmapOpaque, &TestBitmapOpaque, &BitmapModified};
}
