#pragma once

#include <chrono>
#include <cstdint>

#include "host/Host.h"
#include "image/BitmapImage.h"
#include "platform/Platform.h"

namespace vantrel {

struct EffectCommand;

// The effect source: shows the effect that its settings or the controller console name, polls the
// console's command block from its per-frame update, and draws the effect over the picture. The
// host creates it through CreateBitmapSource, calls one source's operations one at a time, and
// destroys it through the virtual destructor.
class VoteImageSource : public ImageSource {
public:
    // `data` is the source's settings element ("data", child of the source element). Not owned;
    // the host keeps it alive for the source's life.
    explicit VoteImageSource(XElement* data);
    ~VoteImageSource() override;
    VoteImageSource(const VoteImageSource&) = delete;
    VoteImageSource& operator=(const VoteImageSource&) = delete;

    // Once per frame: moves the animation on, polls the console's command block at most every
    // 20 ms, and reports the host's live state every 2 seconds.
    void Advance(float seconds) override;
    // Draws the current texture, opaque at the commanded placement or through the colour key.
    void Draw(const Vect2& pos, const Vect2& size) override;
    // The image's own size: the loaded effect's, or 32 by 32 for the placeholder.
    Vect2 QuerySize() const override;
    // Rereads every setting and reloads the image from "path".
    void ApplySettings() override;
    // Announces the source and its scene to the console (or launches the console).
    void SceneBegin() override;
    // Tells the console that the host is no longer live.
    void SceneEnd() override;
    // Waits until an effect that loads in the background ("backgroundLoad" 1) has finished
    // loading, so that the next Advance shows it; at once when none is loading. For host programs
    // that want repeatable runs, and for tests: a host has no need of it.
    void WaitForBackgroundLoad();
    // For the module's unload: tells every worker of every source's background load to end, and
    // waits until all have left the module's code, but no longer than `bound`. False when one is
    // still running then (stuck in a read that does not return). Until AllowBackgroundWorkers,
    // effects load at once.
    static bool EndBackgroundWorkers(std::chrono::milliseconds bound);
    static void AllowBackgroundWorkers();

    // Memory comes from the host's allocator, cleared; a failed allocation yields null.
    static void* operator new(size_t size) noexcept;
    static void operator delete(void* block) noexcept;

    // The source's settings and command state, for tests, tools and benchmarks, which read it and
    // nothing else behind the source's face. `image` is the source's own holder, read-only, valid
    // for the source's life.
    struct State {
        const BitmapImage* image;
        bool useColorKey;
        uint32_t keyColor;
        int32_t keySimilarity;
        int32_t keyBlend;
        int32_t opacity;
        uint32_t color;
        const Shader* colorKeyShader;
        platform::MappingHandle commandMapping;
        int32_t lastCommandId;
        float pollTimer;
        int32_t commandWidth, commandHeight;
        int32_t effectId;
        int32_t drawX, drawY, drawWidth, drawHeight;
        float liveReportTimer;
    };
    State Snapshot() const;

private:
    BitmapImage bitmap;
    XElement* data;
    bool useColorKey;
    uint32_t keyColor;
    int32_t keySimilarity;
    int32_t keyBlend;
    int32_t opacity;
    uint32_t color;
    Shader* colorKeyShader;
    platform::MappingHandle commandMapping;
    int32_t lastCommandId;
    float pollTimer;
    int32_t commandWidth;
    int32_t commandHeight;
    int32_t effectId;
    int32_t drawX;
    int32_t drawY;
    int32_t drawWidth;
    int32_t drawHeight;
    float liveReportTimer;
    // Set once the failure to map the command block has been reported; cleared by a view that
    // succeeds, so that a lasting failure is reported once, not at every poll.
    bool viewFailureReported;
    // Set once a missing colour-key shader has been reported for this source.
    bool missingShaderReported;

    // What a showing command sets once its effect is on screen.
    struct CommandFields {
        int32_t effectId;
        int32_t width;
        int32_t height;
        int32_t drawX;
        int32_t drawY;
    };

    bool PollCommands(uint32_t canvasWidth, uint32_t canvasHeight, float widthBefore,
                      float heightBefore);
    bool ReadStableCommandText(const void* view, char16_t* text);
    void ApplyCommand(const EffectCommand& command, uint32_t canvasWidth, uint32_t canvasHeight,
                      float widthBefore, float heightBefore);
    void TakeCommand(const CommandFields& fields);
    void ReportEffectStopped();
    void ReportEffectStarted(float widthBefore, float heightBefore);
    void ReportLiveState();
    void RescaleItem();
    void DrawKeyed(const Vect2& pos, const Vect2& size);
    void DrawPlain(const Vect2& pos, const Vect2& size);
    // Loading in the background (BackgroundEffect.cpp).
    bool BackgroundLoadWanted() const;
    uint32_t FrameCacheMB() const;
    void DeferCommand(const EffectCommand& command, const CommandFields& fields, float widthBefore,
                      float heightBefore);
    void ShowLoadedEffect(float widthBefore, float heightBefore);
    void FitItemToFirstEffect(float widthBefore, float heightBefore);
    void SettleCommandLoadedAtOnce(float widthBefore, float heightBefore);

    // A showing command whose effect is loading in the background: it takes effect, and is
    // reported, when the load is swapped in.
    bool commandPending;
    CommandFields pendingCommand;
    String pendingPath;  // the effect file that command named
    // Made with an effect that loads in the background: the host sized the item to the
    // placeholder, which the first swap corrects.
    bool fitItemAtSwap;
};

// The source element (parent of the data element) and the container element (its parent); null
// when the tree has no such level.
XElement* SourceElementOf(XElement* data);
XElement* ContainerElementOf(XElement* data);

// The colour-key shader's file as the host looks for it: its relative path resolves against the
// host's working directory, not the plug-in's folder. Written with its null into `out` (`count`
// units); the relative path alone when the directory cannot be had or is too long.
void ColorKeyShaderLocation(wchar_t* out, size_t count);

// Where the plain path draws: the host's rectangle; the commanded corner, once both of its
// coordinates are set, with the host's size; or the commanded rectangle, once both sides are set.
struct SpriteRect {
    float x, y, x2, y2;
};
SpriteRect PlainSpriteRect(const Vect2& pos, const Vect2& size, int32_t drawX, int32_t drawY,
                           int32_t drawWidth, int32_t drawHeight);

// Keeps the source's size in the scene in the same proportion to its effect's own size when the
// effect changes: rewrites "cx", "cy", "orix" and "oriy" on the source element.
void RescaleSourceSize(XElement* sourceElement, int32_t newWidth, int32_t newHeight);

}  // namespace vantrel
