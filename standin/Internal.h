#pragma once

// Shared between the stand-in's own source files; not part of its interface.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "standin/Standin.h"

namespace standin::detail {

// The stand-in's implementations of the host's global objects (Install points the globals here).
Alloc* HostAllocator();
GraphicsSystem* HostGraphics();
APIInterface* HostApiObject();

// Each concern forgets its recorded calls and settings; Reset calls them all.
void ResetLog();
void ResetGraphics();
void ResetCanvas();
void ResetScenes();
void ClearSceneEvents();

// The scene CurrentScene() returns, or null.
Scene* CurrentStandinScene();

// ---------------------------------------------------------------- files
// Opens a file by its UTF-8 path (through the wide path on Windows). Null on failure.
FILE* OpenFile(const std::string& path, const char* mode);
// Reads a whole regular file of at most `limit` bytes. False when missing, unreadable or larger.
bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes);
// Writes a whole file through a temporary beside it, so that a failed write leaves the old one.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

struct FileStamp {
    bool exists = false;
    bool isRegular = false;
    uint64_t size = 0;
    int64_t modified = 0;  // file clock ticks, as fine as the system keeps them
};
FileStamp StampOf(const std::string& path);
// Tells the file-read listener, if any, that the module read this file.
void ReportFileRead(const std::string& resolvedPath);
// Whether file watches look at the disk (SetFileWatchesPollDisk).
bool FileWatchesPollDisk();

// ---------------------------------------------------------------- numbers
// The shortest text that reads back as the same float ("32", "0.1", "1e+20"; "nan", "inf").
std::wstring FloatText(float value);
// Reads a decimal integer as _wtoi does: leading blanks, a sign, digits up to the first other
// character; saturates at the int range; no digits gives 0.
int ParseIntText(const wchar_t* text);
// Reads a float as _wtof does: leading blanks, then the longest number; none gives 0.
float ParseFloatText(const wchar_t* text);
// Checked conversions: NaN gives 0, values out of range saturate.
int SaturatingInt(double value);
float SaturatingFloat(double value);

// ---------------------------------------------------------------- graphics
// What the bound pixel shader does to each texel, as DrawSprite needs it.
struct PixelProgram {
    enum class Kind { None, ColorKeyRgb };
    Kind kind = Kind::None;
    float key[3] = {0, 0, 0};  // key colour, channels 0..1
    float similarity = 0;
    float blend = 0;
};
PixelProgram ProgramOf(const Shader* shader);
// The colour-key factor for one texel (channels 0..1): 0 removes it, 1 keeps it.
float ColorKeyCoverage(const PixelProgram& program, float r, float g, float b);

// Shaders of the stand-in register when made and forget themselves when deleted (a deleted
// shader is never left bound).
void AddLiveShader(const Shader* shader);
void ForgetShader(const Shader* shader);
Shader* LoadPixelShader(const std::string& resolvedPath);
void RecordGraphicsEvent(const GraphicsEvent& event);

// Composites a texture (R,G,B,A, rows packed) onto the canvas.
void Composite(const TextureInfo& texture, uint32_t color, float x, float y, float x2, float y2,
               const PixelProgram& program);
void CanvasSize(uint32_t& width, uint32_t& height);

// Pixel limits for textures, images and the canvas: a side at most this long.
constexpr unsigned kMaxImageSide = 16384;
// And at most this many pixels (256 MiB of RGBA).
constexpr uint64_t kMaxImagePixels = uint64_t(1) << 26;

}  // namespace standin::detail
