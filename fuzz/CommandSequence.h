#pragma once

// The language of the command-sequence target: its input is a setup byte followed by operations,
// each an operation byte and its argument bytes. The seed generator writes inputs in it, so both
// take the numbering from here; appending is safe, renumbering invalidates the committed seeds.
#include <cstdint>

namespace fuzzsequence {

// First byte: how the command block stands before the source's first poll.
enum Setup : uint8_t {
    kConsoleMadeBlock = 0,  // the console made it at its full size
    kNoBlock = 1,           // nobody made it: the source creates it
    kSmallBlock = 2,        // another program holds the name with a smaller block
    kMappingRefused = 3,    // the system refuses the mapping until an operation restores it
    kSetupCount
};

// Operations. Arguments are listed as bytes; "choice" bytes index the tables of the target.
enum Op : uint8_t {
    kWriteCommand = 0,  // id, path, width, height, effect id, x percent, y percent, form
    kWriteText = 1,     // length, then that many bytes taken as UTF-16LE text (no null)
    kAdvance = 2,       // seconds
    kFrames = 3,        // count: that many frames of 16 ms
    kDraw = 4,          // position, size
    kConsole = 5,       // 0 open a window, 1 close it, 2 hang, 3 answer again, 4 close after lookup
    kOutput = 6,        // 0 off, otherwise on
    kBlockFault = 7,    // 0 views fail, 1 views work, 2 mappings fail, 3 mappings work, 4 the
                        // console lets go of the block
    kSetting = 8,       // key, value; then the settings are applied
    kScene = 9,         // 0 scene begins, 1 scene ends, 2 configure, 3 the clock moves 1 s,
                        // 4 the clock moves 3 s
    kAllocationFault = 10,  // n: the n-th allocation from now fails; 255 cancels
    kTextureFault = 11,     // 0 textures are made, otherwise creation fails
    kChangeFile = 12,       // fixture, change: the effect file changes on disk and its watch fires
    kCanvas = 13,           // canvas size choice
    kSecondSource = 14,     // a second source in the same scene comes, or goes; while it is
                            // there, it takes every frame too
    kOpCount
};

// Path choices of kWriteCommand and the "path" setting.
enum Path : uint8_t {
    kAnimatedGif = 0,  // 3 frames, loop count 2
    kEndlessGif = 1,   // 2 frames of another size, endless
    kStillGif = 2,     // one frame
    kStillPng = 3,
    kBrokenFrameGif = 4,  // a frame that fails to decode
    kCorruptGif = 5,      // cut short in its header
    kWideGif = 6,         // canvas 4097 wide
    kHugeStoreGif = 7,    // frames needing 4 GiB together
    kMissingGif = 8,
    kMissingPng = 9,
    kEmptyPath = 10,
    kNoExtension = 11,   // a GIF without an extension: the host's loader reads it
    kFolderGif = 12,     // a folder named like a GIF
    kUpperCaseGif = 13,  // "ANIM.GIF"
    kBackslashGif = 14,  // "sub\anim.gif"
    kNonAsciiGif = 15,   // a name outside ASCII
    kLongPath = 16,      // longer than the command text holds
    kPathCount
};

}  // namespace fuzzsequence
