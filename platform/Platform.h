#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "PlatformExport.h"

// The operating system as the module sees it: every system call the module makes goes through
// this one interface. On Windows the default is the Win32 implementation; elsewhere it is an
// in-process simulation (SimPlatform.h). Tests and tools may swap in their own.
namespace platform {

using MappingHandle = void*;
using WindowHandle = void*;
using FileHandle = void*;

// Windows error codes the module may see.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorAlreadyExists = 183;

// How ReadWholeFile ended.
enum class FileRead { Done, NotOpened, TooLarge, NoMemory, ShortRead, Stopped };

struct Guid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

class PLATFORMAPI System {
public:
    virtual ~System() = default;

    // A named mapping backed by the paging file, read-write: created with `size` bytes, or opened
    // when it exists already, in which case it keeps the size it was created with. Null on failure.
    virtual MappingHandle CreateOrOpenMapping(const wchar_t* name, uint32_t size) = 0;
    // A full-access view of the first `size` bytes; null on failure (among other causes, when the
    // mapping is smaller than `size`).
    virtual void* MapView(MappingHandle mapping, uint32_t size) = 0;
    virtual void UnmapView(void* view) = 0;
    virtual void CloseHandle(MappingHandle mapping) = 0;
    // The calling thread's last error code.
    virtual uint32_t LastError() = 0;

    // The top-level window with exactly this title (any class), or null.
    virtual WindowHandle FindWindowByTitle(const wchar_t* title) = 0;
    // Sends a message and waits until the window has handled it, but gives up on a window whose
    // thread has stopped answering, or after `timeoutMs`. False when it was not handled.
    virtual bool SendMessageTo(WindowHandle window, uint32_t code, uintptr_t wParam,
                               intptr_t lParam, uint32_t timeoutMs) = 0;

    // Shell execution with no owner window and no directory; returns the shell's result value
    // (greater than 32 on success).
    virtual intptr_t OpenWithShell(const char* operation, const char* file, const char* parameters,
                                   int showCommand) = 0;

    virtual uint32_t ProcessId() = 0;
    // Calendar time in whole seconds since 1970.
    virtual int64_t CalendarSeconds() = 0;
    // A new GUID; false when none could be made.
    virtual bool NewGuid(Guid& guid) = 0;
    // Converts null-terminated text in the system's ANSI code page to UTF-16, its null included,
    // into `out` (at most `outCount` units). Returns the units written, null included; 0 on
    // failure.
    virtual int AnsiToUtf16(const char* text, char16_t* out, int outCount) = 0;
    // Writes text to the process's standard output.
    virtual void PrintToStdout(const wchar_t* text) = 0;
    // The process's working directory, against which the host resolves relative paths, written
    // with its null into `out` (at most `outCount` units). Returns its length without the null; 0
    // when it cannot be had or does not fit.
    virtual size_t WorkingDirectory(wchar_t* out, size_t outCount) = 0;

    // Files, for reading; the three calls are safe from any thread and touch nothing else of the
    // system. Opens the regular file at `path` (relative paths from the process's working
    // directory) and gives its size as found now, letting others go on reading, writing and
    // deleting it meanwhile, as an effect's author saves it. Null for anything else: no such file,
    // a folder, a device, a pipe.
    virtual FileHandle OpenFileForReading(const wchar_t* path, uint64_t& size) = 0;
    // Reads up to `count` bytes at the file's position into `out`: the bytes read, fewer at the
    // end of the file, 0 on an error.
    virtual size_t ReadFromFile(FileHandle file, uint8_t* out, size_t count) = 0;
    virtual void CloseFile(FileHandle file) = 0;

    // Reads the whole of the regular file at `path` into `bytes` (memory from the C++ runtime) and
    // gives its size, as found when it was opened, in `size`. Relative paths are taken from the
    // process's working directory. A file of more than `maxBytes` is not read (TooLarge, `size`
    // set); a file that ends early leaves what was read (ShortRead). `stop` is asked between
    // chunks of a few megabytes, so that a caller can give up on a long read (Stopped). Safe to
    // call from any thread; it touches nothing else of the system. Written once, above the three
    // calls before (WholeFile.cpp).
    virtual FileRead ReadWholeFile(const wchar_t* path, uint64_t maxBytes,
                                   std::vector<uint8_t>& bytes, uint64_t& size,
                                   const std::function<bool()>& stop);
};

// The system now in use.
PLATFORMAPI System& Current();
// Puts `system` in use (null restores the default) and returns the one used before.
PLATFORMAPI System* Swap(System* system);

}  // namespace platform
