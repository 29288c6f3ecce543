#include "source/VoteImageSource.h"

#include <cstring>

#include "identity/Guid.h"
#include "log/ModuleLog.h"

namespace vantrel {

namespace {
const wchar_t kColorKeyShaderPath[] = L"shaders\\ColorKey_RGB.pShader";
}  // namespace

void ColorKeyShaderLocation(wchar_t* out, size_t count) {
    const size_t relative = sizeof(kColorKeyShaderPath) / sizeof(kColorKeyShaderPath[0]);
    if (count < relative) {
        if (count > 0)
            out[0] = L'\0';
        return;
    }
    // Room is kept for a separator and the relative path with its null; a directory too long
    // for that leaves the relative path alone.
    size_t length = platform::Current().WorkingDirectory(out, count - relative);
    if (length > 0 && out[length - 1] != L'\\' && out[length - 1] != L'/')
        out[length++] = L'\\';
    std::memcpy(out + length, kColorKeyShaderPath, sizeof(kColorKeyShaderPath));
}

XElement* SourceElementOf(XElement* data) {
    return data ? data->GetParent() : nullptr;
}

XElement* ContainerElementOf(XElement* data) {
    XElement* sourceElement = SourceElementOf(data);
    return sourceElement ? sourceElement->GetParent() : nullptr;
}

void* VoteImageSource::operator new(size_t size) noexcept {
    void* block = MainAllocator->Allocate(size);
    if (block)
        std::memset(block, 0, size);
    return block;
}

void VoteImageSource::operator delete(void* block) noexcept {
    MainAllocator->Free(block);
}

VoteImageSource::VoteImageSource(XElement* dataElement)
    : data(dataElement),
      useColorKey(false),
      keyColor(0xFFFFFFFFu),
      keySimilarity(0),
      keyBlend(0),
      opacity(100),
      color(0xFFFFFFFFu),
      colorKeyShader(nullptr),
      commandMapping(nullptr),
      lastCommandId(-1),
      pollTimer(0.0f),
      commandWidth(0),
      commandHeight(0),
      effectId(0),
      drawX(-1),
      drawY(-1),
      drawWidth(-1),
      drawHeight(-1),
      liveReportTimer(0.0f),
      viewFailureReported(false),
      missingShaderReported(false),
      commandPending(false),
      pendingCommand(),
      fitItemAtSwap(false) {
    ApplySettings();
    fitItemAtSwap = bitmap.BackgroundLoadPending();
    colorKeyShader = GS->CreatePixelShaderFromFile(kColorKeyShaderPath);
    WriteLog<LogText::UsingBitmapImage>();
}

VoteImageSource::~VoteImageSource() {
    delete colorKeyShader;
    // The command block's mapping stays open for the rest of the process on purpose: the console
    // and the other sources share the block.
}

VoteImageSource::State VoteImageSource::Snapshot() const {
    return State{&bitmap,   useColorKey,  keyColor,       keySimilarity,  keyBlend,
                 opacity,   color,        colorKeyShader, commandMapping, lastCommandId,
                 pollTimer, commandWidth, commandHeight,  effectId,       drawX,
                 drawY,     drawWidth,    drawHeight,     liveReportTimer};
}

Vect2 VoteImageSource::QuerySize() const {
    return Vect2(bitmap.width, bitmap.height);
}

void VoteImageSource::ApplySettings() {
    if (XElement* container = ContainerElementOf(data))
        EnsureGuid(container, L"sceneGuid");

    bitmap.filePath = data->GetString(L"path", L"");

    bool watchWanted = data->GetInt(L"monitor", 0) == 1;
    if (bitmap.fileMonitor) {
        OSMonitorFileDestroy(bitmap.fileMonitor);
        bitmap.fileMonitor = nullptr;
    }
    if (watchWanted)
        bitmap.fileMonitor = OSMonitorFileStart(String(bitmap.filePath), false);

    const float widthBefore = bitmap.width;
    const float heightBefore = bitmap.height;
    bitmap.SetBackgroundLoad(BackgroundLoadWanted());
    bitmap.SetFrameCacheBytes(uint64_t{FrameCacheMB()} << 20);
    bitmap.Init();
    SettleCommandLoadedAtOnce(widthBefore, heightBefore);

    opacity = data->GetInt(L"opacity", 100);
    color = static_cast<uint32_t>(data->GetInt(L"color", -1));
    // Taken as unsigned, so that a negative opacity becomes 100 as well.
    if (static_cast<uint32_t>(opacity) > 100u)
        opacity = 100;
    useColorKey = data->GetInt(L"useColorKey", 0) != 0;
    keyColor = static_cast<uint32_t>(data->GetInt(L"keyColor", -1));
    keySimilarity = data->GetInt(L"keySimilarity", 10);
    keyBlend = data->GetInt(L"keyBlend", 0);
}

}  // namespace vantrel
