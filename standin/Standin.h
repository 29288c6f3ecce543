#pragma once

// The stand-in host's own controls: what tests, the effect player and the other tools use to set
// the host up, steer it and read back what the module asked of it. The module never includes this.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/APIInterface.h"
#include "host/Graphics.h"
#include "host/HostExport.h"
#include "host/Scene.h"
#include "host/XElement.h"

namespace standin {

// Sets the globals API, GS and MainAllocator to the stand-in's objects. Safe to call twice.
HOSTAPI void Install();
// Forgets logs, recorded calls, scenes, registrations, injected failures and settings (canvas
// size back to 1920x1080, output off, base directory unchanged). Live allocations stay counted.
HOSTAPI void Reset();
// Forgets what the stand-in has recorded (log records, graphics calls, scene calls) and nothing
// else. The records grow with every call; a host program that runs for long takes what it needs
// from them (or from the listeners) and clears them, so that its memory stays flat.
HOSTAPI void ClearRecords();

// ---------------------------------------------------------------- allocator
struct AllocStats {
    size_t liveBlocks = 0;
    size_t liveBytes = 0;
    uint64_t allocations = 0;  // successful Allocate and ReAllocate calls so far
    uint64_t failures = 0;     // calls made to fail so far
};
HOSTAPI AllocStats AllocatorStats();
// The `n`-th allocating call from now (0: the next one) fails; -1 cancels.
HOSTAPI void FailAllocationAt(long long n);
// Every allocating call asking for more than `bytes` fails; 0 cancels.
HOSTAPI void FailAllocationsLargerThan(size_t bytes);
// Every allocating call asking for exactly `bytes` fails; 0 cancels.
HOSTAPI void FailAllocationsOfSize(size_t bytes);
HOSTAPI void ClearAllocationFailures();

// ---------------------------------------------------------------- log
enum class LogKind { Log, Warning, Error };
struct LogRecord {
    LogKind kind;
    std::wstring text;  // formatted, as the module asked
};
using LogListener = std::function<void(const LogRecord&)>;
HOSTAPI std::vector<LogRecord> LogRecords();
HOSTAPI void ClearLog();
// Called for every record as it is made (null removes it).
HOSTAPI void SetLogListener(LogListener listener);
// Also write each record to standard error (default on).
HOSTAPI void SetLogEcho(bool echo);
// DumpError calls this with its text; it must not return (tests throw, tools exit). The default
// writes the text to standard error and aborts.
using FatalHandler = void (*)(const std::wstring& text);
HOSTAPI void SetFatalHandler(FatalHandler handler);
// The formatter behind Log: wide printf-style with the Windows convention (%s wide, %S narrow).
HOSTAPI std::wstring FormatV(const wchar_t* format, va_list args);
HOSTAPI std::wstring Format(const wchar_t* format, ...);

// ---------------------------------------------------------------- configuration tree
// A configuration element of the stand-in. The root of a tree has no parent; deleting a root (only
// a root) deletes its whole tree.
class ConfigElement;
HOSTAPI ConfigElement* NewConfigRoot(const wchar_t* name);
HOSTAPI void DeleteConfigRoot(ConfigElement* root);
HOSTAPI XElement* AsXElement(ConfigElement* element);
// Saved as human-readable JSON. Load replaces `root`'s contents; false (and a log line) on failure.
HOSTAPI bool SaveConfig(XElement* root, const std::string& path);
HOSTAPI bool LoadConfig(XElement* root, const std::string& path);
// Whether the key is present, and the names of an element's keys and children, for tests and tools.
HOSTAPI bool HasKey(XElement* element, const wchar_t* key);
HOSTAPI std::vector<std::wstring> KeyNames(XElement* element);
HOSTAPI std::vector<XElement*> Children(XElement* element);

// ---------------------------------------------------------------- files
// Relative paths given to the host (shader files, effect files) resolve against this folder;
// "\" and "/" are both separators. Default: the current directory.
HOSTAPI void SetBaseDirectory(const std::string& directory);
HOSTAPI std::string ResolvePath(const wchar_t* path);
// Wide text to UTF-8 and back (UTF-16 or UTF-32 wchar_t alike).
HOSTAPI std::string ToUtf8(const std::wstring& text);
HOSTAPI std::wstring FromUtf8(const std::string& text);
// File watches report a change when the file's size or modification time differs from what the
// previous poll saw (or it appeared or vanished). Tests may also raise a change by hand.
HOSTAPI void TouchWatchedFile(const std::string& resolvedPath);
// Whether file watches look at the disk (the default) or report only the changes raised with
// TouchWatchedFile. A host program that changes files on a clock of its own turns the disk off,
// so that a change is reported at the moment it says, never missed when the file's size and time
// happen to stay the same, and never raised by another program: its runs repeat exactly.
HOSTAPI void SetFileWatchesPollDisk(bool poll);
// Called with the resolved path whenever the module has read a file through the host: an XFile
// opened for reading, or a texture made from a file (null removes it). Reset removes it too.
using FileReadListener = std::function<void(const std::string& resolvedPath)>;
HOSTAPI void SetFileReadListener(FileReadListener listener);
// Runs `action` once, inside the next XFile::GetFileSize, after the size has been taken (null
// cancels): a test shrinks or replaces the file there, as another program might between the
// module's size query and its read.
HOSTAPI void OnNextFileSize(std::function<void()> action);

// ---------------------------------------------------------------- graphics
struct TextureInfo {
    unsigned width = 0;
    unsigned height = 0;
    int createdFormat = 0;
    bool isStatic = false;
    unsigned uploads = 0;       // UploadPixels calls that replaced the pixels
    std::vector<uint8_t> rgba;  // the pixels now held, as R,G,B,A bytes, rows packed
};
// Null when `texture` is not a live texture of the stand-in.
HOSTAPI const TextureInfo* InspectTexture(const Texture* texture);
HOSTAPI size_t LiveTextureCount();
HOSTAPI size_t LiveShaderCount();
// Make CreateTexture / CreateTextureFromFile give null.
HOSTAPI void SetTextureCreationFails(bool fails);

enum class GraphicsEventKind { BindShader, SetColor, SetFloat, DrawSprite };
struct GraphicsEvent {
    GraphicsEventKind kind;
    const Shader* shader = nullptr;    // BindShader: the shader bound (or null); Set*: the target;
                                       // DrawSprite: the shader bound while drawing
    unsigned parameter = 0;            // Set*: the parameter index
    uint32_t color = 0;                // SetColor, DrawSprite
    float value = 0.0f;                // SetFloat
    const Texture* texture = nullptr;  // DrawSprite
    float x = 0, y = 0, x2 = 0, y2 = 0;  // DrawSprite corners
};
HOSTAPI std::vector<GraphicsEvent> GraphicsEvents();
HOSTAPI void ClearGraphicsEvents();

// The canvas that DrawSprite composites onto: R,G,B,A bytes, rows packed, canvas size as set.
HOSTAPI void SetCanvasSize(uint32_t width, uint32_t height);
HOSTAPI void ClearCanvas(uint32_t rgba);  // 0xRRGGBBAA
HOSTAPI void SetCanvasPixels(const std::vector<uint8_t>& rgba);
HOSTAPI const std::vector<uint8_t>& CanvasPixels();
HOSTAPI bool WriteCanvasPng(const std::string& path);
// Called with true just before DrawSprite composites onto the canvas and with false just after, on
// the drawing thread (null removes it): a host draws sprites on its GPU, so a program that measures
// the module's CPU time leaves this work out.
using CompositeHook = void (*)(bool starting);
HOSTAPI void SetCompositeHook(CompositeHook hook);
// Writes any R,G,B,A pixels as PNG.
HOSTAPI bool WritePng(const std::string& path, unsigned width, unsigned height,
                      const std::vector<uint8_t>& rgba);
// Reads an image file (PNG, JPEG, BMP, GIF's first frame) as R,G,B,A; false when unreadable.
HOSTAPI bool ReadImage(const std::string& path, unsigned& width, unsigned& height,
                       std::vector<uint8_t>& rgba);

// ---------------------------------------------------------------- host state, scenes
HOSTAPI void SetOutputActive(bool active);
// The handle the module gave InitColorControl; null before it did.
HOSTAPI void* ColorControlHandle();
struct SourceClassRecord {
    std::wstring className;
    std::wstring displayName;
    CreateSourceProc create = nullptr;
    ConfigureSourceProc configure = nullptr;
};
HOSTAPI std::vector<SourceClassRecord> SourceClasses();

// A scene whose items stand for the source elements given; the items are named after them.
class StandinScene;
HOSTAPI StandinScene* NewScene();
HOSTAPI void DeleteScene(StandinScene* scene);
HOSTAPI Scene* AsScene(StandinScene* scene);
HOSTAPI void AddSceneItem(StandinScene* scene, XElement* sourceElement);
// The scene CurrentScene() returns (null: none).
HOSTAPI void SetCurrentScene(StandinScene* scene);
struct SceneItemState {
    float cx = 0, cy = 0;  // the size the item took at its last Update
    unsigned updates = 0;
};
// False when the scene has no item of that name.
HOSTAPI bool InspectSceneItem(StandinScene* scene, const wchar_t* name, SceneItemState& state);
HOSTAPI unsigned SceneRefreshCount(StandinScene* scene);

// Scene-level calls in order, as text, for tests that check sequences: "refresh", "item <name>",
// "update <name> <cx> <cy>".
HOSTAPI std::vector<std::wstring> SceneEvents();

}  // namespace standin
