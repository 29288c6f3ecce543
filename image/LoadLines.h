#pragma once

// The lines a load of a GIF or WebP writes, whichever driver runs it. Each failure of the load is
// named here with its numbers, and turned into its line of log/LogLines.def in one place
// (LoadLines.cpp): the GIF's line, or the WebP's twin with the format's name. The host's thread
// writes a line at once through the host's log; a worker keeps its text for the host's thread,
// formatted from the same line.
#include <string>

#include "image/FrameCore.h"

enum class LoadFailure {
    NotOpened,       // the file could not be opened
    FileTooLarge,    // bytes: the file's size, above kMaxEffectFileBytes
    NoMemoryToRead,  // bytes: the file's size
    ShortRead,       // count: bytes read, bytes: the file's size
    Corrupt,         // the decoder could not read the file
    BadDimensions,   // count, bytes: the canvas width and height
    Overflow,        // bytes: all frames together in 64 bits, count: the same modulo 2^32
    TooManyFrames,   // count: the frames the file has (a WebP)
    NoTexture,       // the host made no texture of frame 0 (the load goes on)
    NoMemoryForFrameTable,
    NoMemoryForFrames,  // count: the frames the store was to hold, bytes: its size
    NoMemoryForDelays,
    FrameNotDecoded,  // count: the frame (the load goes on, but for a WebP's frame 0)
    NoMemoryToLoad,   // a worker ran out of memory where no other line says so
};

struct LoadLine {
    LoadFailure failure;
    EffectFormat format;
    const wchar_t* path;
    unsigned long long count;
    unsigned long long bytes;
};

// On the host's thread: through the host's Log or AppWarning, as the line's entry says.
void WriteLoadLine(const LoadLine& line);

// A line kept for the host's thread, which writes it as WriteLoadLine would.
struct KeptLogLine {
    bool warning;  // AppWarning rather than Log
    std::wstring text;
};
// On a worker. Throws std::bad_alloc when there is no memory for the text.
KeptLogLine KeepLoadLine(const LoadLine& line);
// Writes a kept line on the host's thread.
void WriteKeptLine(const KeptLogLine& line);
