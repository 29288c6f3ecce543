// The source's side of loading effects in the background ("backgroundLoad" 1): a showing command
// takes effect, and is reported to the console, when its load is swapped in, so that the console
// hears of an effect when it appears.
#include <cwchar>

#include "controller/ConsoleProtocol.h"
#include "image/WorkerLoad.h"
#include "source/VoteImageSource.h"

namespace vantrel {

namespace {
constexpr int kDefaultFrameCacheMB = 256;
constexpr float kPlaceholderSide = 32.0f;
}  // namespace

bool VoteImageSource::BackgroundLoadWanted() const {
    return data->GetInt(L"backgroundLoad", 0) == 1;
}

// Read only with the background load on; a negative budget counts as none (a ring of two frames).
uint32_t VoteImageSource::FrameCacheMB() const {
    if (!BackgroundLoadWanted())
        return kDefaultFrameCacheMB;
    const int megabytes = data->GetInt(L"frameCacheMB", kDefaultFrameCacheMB);
    return megabytes < 0 ? 0u : static_cast<uint32_t>(megabytes);
}

void VoteImageSource::WaitForBackgroundLoad() {
    bitmap.WaitForBackgroundLoad();
}

bool VoteImageSource::EndBackgroundWorkers(std::chrono::milliseconds bound) {
    return EndWorkers(bound);
}

void VoteImageSource::AllowBackgroundWorkers() {
    ReopenWorkers();
}

// The effect that shows goes on showing, at its place, until the load is swapped in; a command
// that was waiting for an earlier load is replaced by this one.
void VoteImageSource::DeferCommand(const EffectCommand& command, const CommandFields& fields,
                                   float widthBefore, float heightBefore) {
    data->SetString(L"path", command.effectPath);
    ApplySettings();
    if (bitmap.BackgroundLoadPending()) {
        commandPending = true;
        pendingCommand = fields;
        pendingPath = String(command.effectPath);
        return;
    }
    // No worker could take the load, so it was made at once: reported at once, as without the
    // setting (its log lines come before the stop here).
    ReportEffectStopped();
    TakeCommand(fields);
    ReportEffectStarted(widthBefore, heightBefore);
}

// In the order of a command applied at once: the stop of the effect that showed, the reload with
// its log lines, then the start, the placement and the rescale of the new one.
void VoteImageSource::ShowLoadedEffect(float widthBefore, float heightBefore) {
    const bool fromCommand = commandPending;
    if (fromCommand)
        ReportEffectStopped();
    bitmap.SwapInBackgroundLoad();
    if (!fromCommand) {
        FitItemToFirstEffect(widthBefore, heightBefore);
        return;
    }
    fitItemAtSwap = false;
    commandPending = false;
    TakeCommand(pendingCommand);
    ReportEffectStarted(widthBefore, heightBefore);
}

// A source made with its path set shows its effect from the first swap on, and the host sized
// its item to the placeholder before that: an item that still has that size takes the effect's,
// as it would have taken it from a load at once.
void VoteImageSource::FitItemToFirstEffect(float widthBefore, float heightBefore) {
    if (!fitItemAtSwap || bitmap.BackgroundLoadPending())
        return;
    fitItemAtSwap = false;
    XElement* sourceElement = SourceElementOf(data);
    if (!sourceElement || widthBefore != kPlaceholderSide || heightBefore != kPlaceholderSide)
        return;
    if (sourceElement->GetFloat(L"cx", 0.0f) != kPlaceholderSide ||
        sourceElement->GetFloat(L"cy", 0.0f) != kPlaceholderSide)
        return;
    if (bitmap.width == widthBefore && bitmap.height == heightBefore)
        return;
    RescaleItem();
}

// Settings applied while a command waits for its load: a path the user set by hand replaces the
// command's effect silently, as it would any effect; the same path loaded at once instead (the
// setting turned off meanwhile) shows the command's effect now, so it is reported now, not never.
void VoteImageSource::SettleCommandLoadedAtOnce(float widthBefore, float heightBefore) {
    if (!commandPending)
        return;
    const wchar_t* shown = bitmap.filePath.Array();
    const wchar_t* wanted = pendingPath.Array();
    if (!shown || !wanted || std::wcscmp(shown, wanted) != 0) {
        commandPending = false;
        return;
    }
    if (bitmap.BackgroundLoadPending())
        return;  // reported when it is swapped in
    commandPending = false;
    ReportEffectStopped();
    TakeCommand(pendingCommand);
    ReportEffectStarted(widthBefore, heightBefore);
}

}  // namespace vantrel
