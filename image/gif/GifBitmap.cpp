#include "image/gif/GifBitmap.h"

#include <cstdlib>
#include <cstring>

#include "host/Host.h"
#include "image/Limits.h"
#include "log/ModuleLog.h"

namespace {

thread_local GifLineSink lineSink = nullptr;
thread_local void* lineSinkContext = nullptr;

struct HostMemory {
    static void* Allocate(size_t bytes) {
        void* block = MainAllocator->Allocate(bytes);
        if (block)
            std::memset(block, 0, bytes);
        return block;
    }
    static void Free(void* block) { MainAllocator->Free(block); }
    // The host's log may throw (out of memory): nothing may be thrown through libnsgif, which is
    // C, so a line it cannot take is dropped.
    template <LogText line>
    static void ReportCanvas(int width, int height) noexcept {
        try {
            WriteLog<line>(width, height);
        } catch (...) {
        }
    }
};

struct RuntimeMemory {
    static void* Allocate(size_t bytes) { return std::calloc(bytes, 1); }
    static void Free(void* block) { std::free(block); }
    template <LogText line>
    static void ReportCanvas(int width, int height) noexcept {
        if (!lineSink)
            return;
        wchar_t text[128];
        FormatLog<line>(text, sizeof(text) / sizeof(text[0]), width, height);
        lineSink(lineSinkContext, text);
    }
};

// libnsgif asks for the bitmap while it scans the file, sized from the header and grown to cover
// every frame, so a tiny file can ask for a canvas of 131070 x 131070. The size is taken in 64
// bits and anything beyond the largest canvas is refused, which fails the scan.
template <class Memory>
void* CreateBitmap(int width, int height) noexcept {
    if (width <= 0 || height <= 0)
        return nullptr;
    const uint64_t area = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    if (area > kMaxCanvasPixels) {
        Memory::template ReportCanvas<LogText::GifCanvasRefused>(width, height);
        return nullptr;
    }
    // Cleared: a frame that fails early is never drawn over this block, and must not show what
    // the heap held before.
    void* bitmap = Memory::Allocate(static_cast<size_t>(area) * 4);
    if (!bitmap)
        Memory::template ReportCanvas<LogText::GifCanvasNoMemory>(width, height);
    return bitmap;
}

template <class Memory>
void DestroyBitmap(void* bitmap) {
    Memory::Free(bitmap);
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

gif_bitmap_callback_vt GifBitmapCallbacks(GifMemory memory) {
    if (memory == GifMemory::Runtime)
        return {&CreateBitmap<RuntimeMemory>,
                &DestroyBitmap<RuntimeMemory>,
                &BitmapBuffer,
                &SetBitmapOpaque,
                &TestBitmapOpaque,
                &BitmapModified};
    return {&CreateBitmap<HostMemory>, &DestroyBitmap<HostMemory>, &BitmapBuffer,
            &SetBitmapOpaque,          &TestBitmapOpaque,          &BitmapModified};
}

void SetGifLineSinkForThisThread(GifLineSink sink, void* context) {
    lineSink = sink;
    lineSinkContext = context;
}
