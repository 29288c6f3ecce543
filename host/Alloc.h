#pragma once

#include <cstddef>
#include <cstring>

#include "HostExport.h"

// The host's allocator. Every heap block of the module comes from here, so that the module and the
// host can free each other's objects.
//
// Threads: called on the host's threads only, never from the background load's worker (which takes
// its memory from the C++ runtime). Never waits on anything of the module's.
class Alloc {
public:
    // Returns an uncleared block of `size` bytes, or null when no memory is to be had.
    virtual void* Allocate(size_t size) = 0;
    // Keeps the contents up to the smaller size; a null block behaves as Allocate. On failure
    // returns null and leaves the old block untouched.
    virtual void* ReAllocate(void* block, size_t size) = 0;
    // Null is allowed and ignored.
    virtual void Free(void* block) = 0;

protected:
    ~Alloc() = default;
};

#if defined(VANTREL_HOST_GLOBALS_DIRECT)
extern HOSTAPI Alloc* MainAllocator;
#else
extern Alloc** vantrel_hostMainAllocator;
#define MainAllocator (*vantrel_hostMainAllocator)
#endif

// Class-level new/delete over MainAllocator. new clears the whole block; a failed allocation makes
// the new-expression yield null (the operator is noexcept), never throw.
struct MainAllocated {
    static void* operator new(size_t size) noexcept {
        void* block = MainAllocator->Allocate(size);
        if (block)
            std::memset(block, 0, size);
        return block;
    }
    static void* operator new(size_t, void* place) noexcept { return place; }
    static void operator delete(void* block) noexcept { MainAllocator->Free(block); }
    static void operator delete(void*, void*) noexcept {}
};
