#include <cmath>
#include <cstring>

#include "controller/ConsoleLink.h"
#include "controller/ConsoleProtocol.h"
#include "log/ModuleLog.h"
#include "source/Conversions.h"
#include "source/VoteImageSource.h"

namespace vantrel {

namespace {
// The command block's view while one poll works on it; sources poll one after another.
const void* commandView = nullptr;

const float kPollIntervalMs = 20.0f;
const float kLiveReportSeconds = 2.0f;

// Time the host reports is taken as it comes, except what would stall the timers for good.
float UsableSeconds(float seconds) {
    return std::isfinite(seconds) && seconds > 0.0f ? seconds : 0.0f;
}
}  // namespace

void VoteImageSource::Advance(float seconds) {
    seconds = UsableSeconds(seconds);
    uint32_t canvasWidth = 0;
    uint32_t canvasHeight = 0;
    API->GetCanvasSize(canvasWidth, canvasHeight);
    float widthBefore = bitmap.width;
    float heightBefore = bitmap.height;
    bitmap.Advance(seconds);
    if (bitmap.BackgroundSwapDue())
        ShowLoadedEffect(widthBefore, heightBefore);

    pollTimer += seconds;
    // Strictly more than 20 ms; whatever lies beyond is dropped, not carried over.
    if (pollTimer * 1000.0f > kPollIntervalMs) {
        pollTimer = 0.0f;
        if (!PollCommands(canvasWidth, canvasHeight, widthBefore, heightBefore))
            return;
    }

    liveReportTimer += seconds;
    if (liveReportTimer > kLiveReportSeconds) {
        liveReportTimer = 0.0f;
        ReportLiveState();
    }
}

// Returns false when the frame's update ends here (no scene identifier, no block, no view).
bool VoteImageSource::PollCommands(uint32_t canvasWidth, uint32_t canvasHeight, float widthBefore,
                                   float heightBefore) {
    XElement* container = ContainerElementOf(data);
    const wchar_t* sceneGuid = container ? container->GetString(L"sceneGuid", L"") : nullptr;
    if (!sceneGuid || !sceneGuid[0])
        return false;

    if (!commandMapping)
        commandMapping = OpenCommandBlock();
    if (!commandMapping)
        return false;

    commandView = MapCommandView(commandMapping);
    if (!commandView) {
        if (!viewFailureReported)
            WriteLog<LogText::CommandViewNotMapped>();
        viewFailureReported = true;
        // Let go of the block: one that another program made too small would otherwise be kept
        // alive by this handle for good. Once that program lets go too, the next poll makes a
        // block of the full size.
        CloseCommandBlock(commandMapping);
        commandMapping = nullptr;
        return false;
    }
    viewFailureReported = false;

    char16_t text[kCommandTextCapacity];
    if (ReadStableCommandText(commandView, text) && text[0] != 0) {
        EffectCommand command;
        if (ParseCommand(text, command) && command.commandId != lastCommandId)
            ApplyCommand(command, canvasWidth, canvasHeight, widthBefore, heightBefore);
    }
    UnmapCommandView(commandView);
    commandView = nullptr;
    return true;
}

// The console writes the block without a lock: a text copied while it writes can be half old and
// half new. Two copies that agree are taken as the console's whole text; otherwise the next poll
// reads again.
bool VoteImageSource::ReadStableCommandText(const void* view, char16_t* text) {
    char16_t again[kCommandTextCapacity];
    if (!CopyCommandText(view, kCommandBlockSize, text))
        return false;
    if (!CopyCommandText(view, kCommandBlockSize, again))
        return false;
    return SameCommandText(text, again);
}

void VoteImageSource::ApplyCommand(const EffectCommand& command, uint32_t canvasWidth,
                                   uint32_t canvasHeight, float widthBefore, float heightBefore) {
    lastCommandId = command.commandId;
    // A newer command replaces one that still waits for its load.
    commandPending = false;
    fitItemAtSwap = false;
    if (command.commandId < 0) {
        // Clearing: the effect goes, and nothing is reported; the stop of the cleared effect is
        // sent when the next effect starts, since effectId still holds it.
        data->SetString(L"path", L"");
        ApplySettings();
        return;
    }

    const CommandFields fields = {command.effectId, command.width, command.height,
                                  PlacementFromPercent(command.xPercent, canvasWidth),
                                  PlacementFromPercent(command.yPercent, canvasHeight)};
    // With the setting on, the worker takes stills as well as GIFs: every effect is reported,
    // placed and sized when it is swapped in (what it cannot take is loaded at once, and reported
    // so).
    if (BackgroundLoadWanted()) {
        DeferCommand(command, fields, widthBefore, heightBefore);
        return;
    }
    ReportEffectStopped();
    data->SetString(L"path", command.effectPath);
    TakeCommand(fields);
    ApplySettings();
    ReportEffectStarted(widthBefore, heightBefore);
}

void VoteImageSource::TakeCommand(const CommandFields& fields) {
    commandWidth = drawWidth = fields.width;
    commandHeight = drawHeight = fields.height;
    effectId = fields.effectId;
    drawX = fields.drawX;
    drawY = fields.drawY;
}

// The stop of the effect that was playing, before the next one is loaded.
void VoteImageSource::ReportEffectStopped() {
    if (effectId <= 0)
        return;
    if (platform::WindowHandle window = FindConsoleWindow())
        SendToConsole(window, kPlayStateMessage, effectId, -1);
    WriteLog<LogText::StopPlay>();
}

// The start of the effect just loaded, and the source's size in the scene kept in proportion to it.
void VoteImageSource::ReportEffectStarted(float widthBefore, float heightBefore) {
    if (effectId <= 0)
        return;
    WriteLog<LogText::StartPlay>();
    if (platform::WindowHandle window = FindConsoleWindow())
        SendToConsole(window, kPlayStateMessage, effectId, 0);

    if (commandWidth == 0 && commandHeight == 0)
        return;
    // Compared as floats, so that a NaN counts as different.
    bool sizeChanged = !(bitmap.width == widthBefore) || !(bitmap.height == heightBefore);
    if (!sizeChanged)
        return;

    RescaleItem();
}

// The source's size in the scene follows the effect's own size, and the host's item is updated.
void VoteImageSource::RescaleItem() {
    XElement* sourceElement = SourceElementOf(data);
    RescaleSourceSize(sourceElement, TruncateToInt32(bitmap.width, 0),
                      TruncateToInt32(bitmap.height, 0));
    if (Scene* scene = API->CurrentScene())
        scene->RefreshLayout();
    Scene* scene = API->CurrentScene();
    SceneItem* item =
        scene && sourceElement ? scene->GetSceneItem(sourceElement->GetName()) : nullptr;
    if (item)
        item->Update();
}

void VoteImageSource::ReportLiveState() {
    int live = API->IsOutputActive() ? 1 : 0;
    platform::WindowHandle window = FindConsoleWindow();
    if (!window)
        return;
    SendToConsole(window, kLiveStateMessage, 0, live);
    WriteLog<LogText::HostPlay>(live);
}

void RescaleSourceSize(XElement* sourceElement, int32_t newWidth, int32_t newHeight) {
    if (!sourceElement)
        return;
    if (newWidth < 1 || newHeight < 1)
        return;
    float cx = sourceElement->GetFloat(L"cx", 32.0f);
    float cy = sourceElement->GetFloat(L"cy", 32.0f);
    float orix = sourceElement->GetFloat(L"orix", cx);
    float oriy = sourceElement->GetFloat(L"oriy", cy);

    Vect2 scale(cx / orix, cy / oriy);
    Vect2 size(static_cast<float>(newWidth), static_cast<float>(newHeight));
    size *= scale;

    // An axis whose scale cannot be formed (a stored size of 0, say) takes the effect's own size.
    sourceElement->SetInt(L"cx", TruncateToInt32(size.x, newWidth));
    sourceElement->SetInt(L"cy", TruncateToInt32(size.y, newHeight));
    sourceElement->SetInt(L"orix", newWidth);
    sourceElement->SetInt(L"oriy", newHeight);
}

}  // namespace vantrel
