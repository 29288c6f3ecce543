// Faults injected through the stand-in host and the simulated desktop while one source in a scene
// takes commands from the console: memory running out at every allocation of a load, an effect
// file that shrinks or grows between its size and its read, textures that cannot be made, a
// console window that closes between its lookup and the message, a command block that cannot be
// mapped or viewed, a console that stops answering. Each must leave a sound source (the placeholder
// or the effect), a line in the log rather than one per frame, a frame that goes on, and nothing
// left behind once the source is destroyed.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "support/GifBuilder.h"
#include "support/RuntimeHeap.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"

using testsupport::Bytes;
using testsupport::GifBuilder;
using testsupport::GifFrame;
using vantrel::VoteImageSource;

namespace {

Bytes ThreeFrames() {
    return GifBuilder(8, 6)
        .Loop(0)
        .Frame(GifFrame::Solid(8, 6, 1, 10))
        .Frame(GifFrame::Solid(8, 6, 2, 10))
        .Frame(GifFrame::Solid(8, 6, 3, 10))
        .Build();
}

// The holder is in one of its three states, with nothing of another state left in it.
void ExpectSound(const BitmapImage& image) {
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    if (image.texture) {
        ASSERT_NE(info, nullptr) << "the texture is not a live one";
    }
    if (!image.Snapshot().isAnimated) {
        EXPECT_FALSE(image.Snapshot().holdsFile);
        EXPECT_EQ(image.Snapshot().frameCache, nullptr);
        EXPECT_EQ(image.Snapshot().frameStore, nullptr);
        EXPECT_EQ(image.Snapshot().delayCount, 0u);
        if (info) {
            EXPECT_EQ(image.width, static_cast<float>(info->width));
            EXPECT_EQ(image.height, static_cast<float>(info->height));
        } else {
            EXPECT_EQ(image.width, 32.0f);
            EXPECT_EQ(image.height, 32.0f);
        }
        return;
    }
    EXPECT_TRUE(image.Snapshot().holdsFile);
    EXPECT_NE(image.Snapshot().frameCache, nullptr);
    EXPECT_NE(image.Snapshot().frameStore, nullptr);
    EXPECT_EQ(image.Snapshot().delayCount, image.Snapshot().frameCount);
    EXPECT_LT(image.Snapshot().currentFrame, image.Snapshot().frameCount);
    EXPECT_EQ(image.width, static_cast<float>(image.Snapshot().canvasWidth));
    if (info) {
        EXPECT_EQ(info->width, image.Snapshot().canvasWidth);
    }
}

bool IsPlaceholder(const BitmapImage& image) {
    const standin::TextureInfo* info = standin::InspectTexture(image.texture);
    return !image.Snapshot().isAnimated && info && info->width == 32 &&
           info->createdFormat == GS_BGRA;
}

// One source in a scene with the console running and its block made. Every test ends by
// destroying the source and finding the allocator, the textures and the shaders as they were.
class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override {
        gif_ = standin::FromUtf8(dir_.Write("anim.gif", ThreeFrames()));
        png_ = standin::FromUtf8(
            testsupport::WriteSolidPng(dir_.File("still.png"), 20, 10, 0x112233FF));
        data_ = tree_.AddSource(L"fx");
        tree_.container->SetString(L"sceneGuid", L"{00000000-0000-0000-0000-00000000000A}");
        scene_ = standin::NewScene();
        standin::AddSceneItem(scene_, data_->GetParent());
        standin::SetCurrentScene(scene_);
        baseline_ = standin::AllocatorStats().liveBlocks;
    }
    void TearDown() override {
        standin::ClearAllocationFailures();
        standin::SetTextureCreationFails(false);
        DestroySource();
        EXPECT_EQ(standin::AllocatorStats().liveBlocks, baseline_);
        EXPECT_EQ(standin::LiveTextureCount(), 0u);
        EXPECT_EQ(standin::LiveShaderCount(), 0u);
        standin::SetCurrentScene(nullptr);
        standin::DeleteScene(scene_);
    }

    // The console's side: its block, its window.
    void ConsoleUp() {
        sim_.CreateBlock(vantrel::kCommandBlockName, vantrel::kCommandBlockSize);
        console_ = sim_.CreateWindowWithTitle(vantrel::kConsoleTitle);
    }
    void CreateSource() {
        source_ = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data_));
        ASSERT_NE(source_, nullptr);
    }
    // The source's image holder, read-only.
    const BitmapImage& Image() const { return *source_->Snapshot().image; }
    void DestroySource() {
        delete source_;
        source_ = nullptr;
    }
    void Command(int id, const std::wstring& path, int effectId = 7) {
        const std::wstring text = std::to_wstring(id) + L"|" + path + L"|40|30|x|" +
                                  std::to_wstring(effectId) + L"|10|20";
        sim_.WriteBlockText(vantrel::kCommandBlockName, std::u16string(text.begin(), text.end()));
    }
    // Frames of 25 ms: every one polls the block.
    void Frames(int n) {
        for (int i = 0; i < n; ++i)
            source_->Advance(0.025f);
    }
    // Log lines so far, leaving out the live reports that come every two seconds.
    size_t Logged() const {
        size_t n = 0;
        for (const auto& record : standin::LogRecords())
            n += record.text.rfind(L"isHostPlay: ", 0) == 0 ? 0 : 1;
        return n;
    }
    std::vector<platform::SimMessage> Messages() {
        return console_ ? sim_.Messages(console_) : std::vector<platform::SimMessage>();
    }

    platform::SimSystem& sim_ = platform::Simulation();
    testsupport::TempDir dir_;
    testsupport::SourceTree tree_;
    XElement* data_ = nullptr;
    standin::StandinScene* scene_ = nullptr;
    platform::WindowHandle console_ = nullptr;
    VoteImageSource* source_ = nullptr;
    std::wstring gif_, png_;
    size_t baseline_ = 0;
};

// ---------------------------------------------------------------- memory

// The n-th allocation after a command arrives fails, for every n until the command's whole load
// runs through: each time the source ends up with the effect or the placeholder, logs no more
// than a couple of lines, plays on silently, takes the next command as if nothing had happened,
// and gives everything back when destroyed.
TEST_F(FaultInjection, AllocationFailingAtEachPointOfACommandedLoad) {
    ConsoleUp();
    int failedLoads = 0;
    for (long long n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        ASSERT_LT(n, 200) << "the load never ran through";
        CreateSource();
        Command(1, png_);
        Frames(1);
        ASSERT_EQ(source_->Snapshot().lastCommandId, 1);

        Command(2, gif_);
        const size_t logged = Logged();
        const uint64_t failures = standin::AllocatorStats().failures;
        standin::FailAllocationAt(n);
        Frames(1);
        standin::ClearAllocationFailures();
        const bool failed = standin::AllocatorStats().failures > failures;
        // Whatever failed, the holder is in a sound state: the effect, the placeholder, a still
        // image (when the host's own path handling ran out of memory and the GIF went to its
        // still-image loader), the previous effect (when the host could not store the new path),
        // or no texture at all.
        ExpectSound(Image());
        EXPECT_LE(Logged(), logged + 4);  // stop, the failure and its outcome, start
        if (!failed) {
            EXPECT_TRUE(Image().Snapshot().isAnimated);
            DestroySource();
            break;
        }
        ++failedLoads;
        const size_t beforePlay = Logged();
        Frames(40);  // a second of playback: the command is not applied again
        ExpectSound(Image());
        EXPECT_EQ(Logged(), beforePlay);

        Command(3, gif_);
        Frames(1);
        EXPECT_TRUE(Image().Snapshot().isAnimated);
        EXPECT_EQ(source_->Snapshot().lastCommandId, 3);
        DestroySource();
        EXPECT_EQ(standin::AllocatorStats().liveBlocks, baseline_);
        EXPECT_EQ(standin::LiveTextureCount(), 0u);
    }
    EXPECT_GT(failedLoads, 5);
}

// Playback and the polls that find no new command allocate nothing, so there is nothing there
// that could fail: with every allocation refused, an animation plays on and the console's reports
// go on.
TEST_F(FaultInjection, PlaybackAndIdlePollsNeedNoMemory) {
    ConsoleUp();
    CreateSource();
    Command(1, gif_);
    Frames(1);
    ASSERT_TRUE(Image().Snapshot().isAnimated);
    sim_.ClearMessages();
    const uint64_t failures = standin::AllocatorStats().failures;
    const size_t logged = Logged();
    standin::FailAllocationAt(0);  // the first allocation, if any, fails and is counted
    Frames(200);                   // five seconds
    standin::ClearAllocationFailures();
    EXPECT_EQ(standin::AllocatorStats().failures, failures);
    ExpectSound(Image());
    EXPECT_NE(Image().Snapshot().frameCache[1], nullptr);  // it played
    EXPECT_EQ(Logged(), logged);
    EXPECT_EQ(testsupport::CountLog(L"isHostPlay: 0"), 2u);
    EXPECT_EQ(Messages().size(), 2u);
}

// A reload brought about by a changed file runs out of memory at each point in turn: the
// placeholder or the effect, and nothing left behind.
TEST_F(FaultInjection, AllocationFailingAtEachPointOfAReload) {
    data_->SetInt(L"monitor", 1);
    data_->SetString(L"path", gif_.c_str());
    for (long long n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        ASSERT_LT(n, 200);
        CreateSource();
        ASSERT_TRUE(Image().Snapshot().isAnimated);
        standin::TouchWatchedFile(standin::ResolvePath(gif_.c_str()));
        source_->Advance(0.1f);  // the change is seen; the reload is due a second later
        const uint64_t failures = standin::AllocatorStats().failures;
        standin::FailAllocationAt(n);
        source_->Advance(1.0f);
        standin::ClearAllocationFailures();
        const bool failed = standin::AllocatorStats().failures > failures;
        ExpectSound(Image());
        const size_t logged = Logged();
        Frames(40);
        EXPECT_EQ(Logged(), logged);
        DestroySource();
        EXPECT_EQ(standin::AllocatorStats().liveBlocks, baseline_);
        if (!failed)
            break;
    }
}

// With "backgroundLoad" 1 the worker takes its memory from the C++ runtime. The n-th runtime
// allocation on a worker after a command fails, and every one after it until the test lets
// memory come back, for every n until the load runs through (a frame
// that fails to decode adds a line while it plays): nothing is thrown, into the host or out of the
// worker (which would end the process), the source shows the effect or the placeholder, and the
// next command shows its effect. Once the effect plays, the holder takes nothing from the runtime
// on the host's thread: there is nothing there that could fail.
TEST_F(FaultInjection, RuntimeAllocationFailingAtEachPointOfABackgroundLoad) {
    namespace heap = testsupport::runtimeheap;
    if (!heap::Available())
        GTEST_SKIP() << "this build cannot refuse the runtime's allocations";
    heap::SetHostThread();
    const std::wstring broken =
        standin::FromUtf8(dir_.Write("broken.gif", GifBuilder(8, 6)
                                                       .Loop(0)
                                                       .Frame(GifFrame::Solid(8, 6, 1, 10))
                                                       .Frame(GifFrame::Solid(8, 6, 2, 10).Broken())
                                                       .Frame(GifFrame::Solid(8, 6, 3, 10))
                                                       .Build()));
    data_->SetInt(L"backgroundLoad", 1);
    ConsoleUp();
    int failedLoads = 0;
    for (long long n = 0;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        ASSERT_LT(n, 300) << "the load never ran through";
        CreateSource();
        Command(1, broken);
        const uint64_t failures = heap::Failures();
        heap::FailAllocationAt(n, heap::On::Workers, true);
        EXPECT_NO_THROW({
            Frames(1);
            source_->WaitForBackgroundLoad();
            Frames(12);  // past the broken frame
            source_->WaitForBackgroundLoad();
        });
        heap::ClearFailure();
        const bool failed = heap::Failures() > failures;
        // The animation the worker plays, or the placeholder.
        if (Image().Snapshot().isAnimated) {
            EXPECT_EQ(Image().width, 8.0f);
            EXPECT_EQ(Image().Snapshot().delayCount, 3u);
            EXPECT_NE(Image().Snapshot().streamedBytes, 0u);
        } else {
            EXPECT_TRUE(IsPlaceholder(Image()));
        }
        Command(2, gif_);
        Frames(1);
        source_->WaitForBackgroundLoad();
        Frames(1);
        EXPECT_TRUE(Image().Snapshot().isAnimated);
        EXPECT_EQ(source_->Snapshot().effectId, 7);
        if (!failed) {
            // A holder's playback alone, as the source's plays it: the simulated desktop's views,
            // which the source's polls map, take runtime memory.
            BitmapImage image;
            image.filePath = gif_.c_str();
            image.SetBackgroundLoad(true);
            image.Init();
            image.WaitForBackgroundLoad();
            image.SwapInBackgroundLoad();
            ASSERT_TRUE(image.Snapshot().isAnimated);
            const uint64_t before = heap::Allocations(heap::On::Host);
            for (int frame = 0; frame < 80; ++frame)
                image.Advance(0.025f);
            EXPECT_EQ(heap::Allocations(heap::On::Host), before);
            DestroySource();
            break;
        }
        ++failedLoads;
        DestroySource();
    }
    EXPECT_GT(failedLoads, 5);
}

// ---------------------------------------------------------------- files

// Another program changes the effect file after its size has been taken and before it is read.
TEST_F(FaultInjection, FileChangingBetweenItsSizeAndItsRead) {
    ConsoleUp();
    CreateSource();
    const std::string path = standin::ResolvePath(gif_.c_str());
    const Bytes whole = ThreeFrames();
    struct Case {
        const char* what;
        Bytes replacement;
        bool loads;
    } cases[] = {
        {"shrinks to half", testsupport::Truncated(whole, whole.size() / 2), false},
        {"is emptied", Bytes(), false},
        // Growing is harmless: only the bytes counted are read, a whole GIF here.
        {"grows",
         [&] {
             Bytes longer = whole;
             longer.insert(longer.end(), 5000, 0x21);
             return longer;
         }(),
         true},
    };
    int id = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir_.Write("anim.gif", whole);
        standin::OnNextFileSize([&] { dir_.Write("anim.gif", c.replacement); });
        Command(id++, gif_);
        const size_t logged = Logged();
        Frames(1);
        ExpectSound(Image());
        EXPECT_EQ(Image().Snapshot().isAnimated, c.loads);
        if (!c.loads) {
            EXPECT_TRUE(IsPlaceholder(Image()));
            const auto records = standin::LogRecords();
            bool reported = false;
            for (size_t i = logged; i < records.size(); ++i)
                reported = reported || records[i].text.find(L"read only") != std::wstring::npos;
            EXPECT_TRUE(reported);
        }
        const size_t afterLoad = Logged();
        Frames(40);
        EXPECT_EQ(Logged(), afterLoad);
    }
}

// ---------------------------------------------------------------- textures

// The host makes no texture: an animation plays on without one, a still image and the placeholder
// have none, nothing is drawn, and one line says so per load, not per frame. Once textures can be
// made again, the next command shows its effect.
TEST_F(FaultInjection, TexturesThatCannotBeMade) {
    ConsoleUp();
    CreateSource();
    standin::SetTextureCreationFails(true);
    int id = 0;
    for (const std::wstring& path : {gif_, png_}) {
        SCOPED_TRACE(standin::ToUtf8(path));
        Command(++id, path);
        const size_t logged = Logged();
        Frames(1);
        EXPECT_EQ(Image().texture, nullptr);
        ExpectSound(Image());
        EXPECT_LE(Logged(), logged + 3);  // stop, the texture, start
        const size_t afterLoad = Logged();
        standin::ClearGraphicsEvents();
        for (int i = 0; i < 40; ++i) {
            source_->Advance(0.025f);
            source_->Draw(Vect2(0, 0), Vect2(100, 100));
        }
        EXPECT_EQ(Logged(), afterLoad);
        for (const auto& event : standin::GraphicsEvents())
            EXPECT_NE(event.kind, standin::GraphicsEventKind::DrawSprite);
    }
    standin::SetTextureCreationFails(false);
    Command(99, gif_);
    Frames(1);
    EXPECT_NE(Image().texture, nullptr);
    EXPECT_TRUE(Image().Snapshot().isAnimated);
}

// ---------------------------------------------------------------- the console

// The console closes just after the source has found its window: the message goes nowhere, the
// effect is applied all the same, and later frames neither find a window nor log for it.
TEST_F(FaultInjection, ConsoleClosingBetweenLookupAndMessage) {
    ConsoleUp();
    CreateSource();
    sim_.CloseWindowAfterNextLookup(true);
    Command(1, gif_, 7);
    Frames(1);
    EXPECT_EQ(source_->Snapshot().effectId, 7);
    EXPECT_TRUE(Image().Snapshot().isAnimated);
    EXPECT_EQ(testsupport::CountLog(L"start play."), 1u);
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(sim_.FindWindowByTitle(vantrel::kConsoleTitle), nullptr);

    const size_t logged = Logged();
    Frames(200);  // five seconds: no window, so no live report and no line
    EXPECT_EQ(Logged(), logged);

    // The console comes back: the next effect stops the old one and starts.
    console_ = sim_.CreateWindowWithTitle(vantrel::kConsoleTitle);
    Command(2, png_, 9);
    Frames(1);
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].wParam, 7u);
    EXPECT_EQ(messages[1].wParam, 9u);
}

// A console that has stopped answering takes no message, and the source does not wait for it:
// effects are applied, the live report comes every two seconds as before, nothing piles up.
TEST_F(FaultInjection, ConsoleThatStopsAnswering) {
    ConsoleUp();
    CreateSource();
    sim_.SetWindowHung(console_, true);
    Command(1, gif_, 7);
    Frames(1);
    Command(2, png_, 9);
    Frames(1);
    EXPECT_EQ(source_->Snapshot().effectId, 9);
    EXPECT_EQ(testsupport::CountLog(L"stop play."), 1u);
    EXPECT_EQ(testsupport::CountLog(L"start play."), 2u);
    const size_t logged = Logged();
    Frames(400);  // ten seconds
    // One live report per two seconds, nothing else.
    EXPECT_EQ(Logged(), logged);
    EXPECT_GE(testsupport::CountLog(L"isHostPlay: 0"), 4u);
    EXPECT_LE(testsupport::CountLog(L"isHostPlay: 0"), 5u);
    EXPECT_TRUE(Messages().empty());

    sim_.SetWindowHung(console_, false);
    Command(3, gif_, 11);
    Frames(1);
    EXPECT_EQ(Messages().size(), 2u);  // stop 9, start 11
}

// ---------------------------------------------------------------- the command block

// The system refuses the block's mapping: the source tries again at each poll without a word and
// keeps showing what its settings say; once the mapping works, commands arrive.
TEST_F(FaultInjection, CommandBlockThatCannotBeMapped) {
    data_->SetString(L"path", png_.c_str());
    console_ = sim_.CreateWindowWithTitle(vantrel::kConsoleTitle);
    sim_.SetMappingFailure(platform::kErrorNotEnoughMemory);
    CreateSource();
    const size_t logged = Logged();
    Frames(200);
    EXPECT_EQ(Logged(), logged);
    EXPECT_EQ(source_->Snapshot().commandMapping, nullptr);
    EXPECT_EQ(Image().width, 20.0f);

    sim_.SetMappingFailure(0);
    Frames(1);
    ASSERT_NE(source_->Snapshot().commandMapping, nullptr);
    Command(1, gif_);
    Frames(1);
    EXPECT_TRUE(Image().Snapshot().isAnimated);
}

// Another program holds the block's name with a smaller block: the view is refused. One warning
// however long it lasts, the frame goes on (animation included), and no view is left open.
TEST_F(FaultInjection, CommandBlockHeldSmallerByAnotherProgram) {
    sim_.CreateBlock(vantrel::kCommandBlockName, 100);
    console_ = sim_.CreateWindowWithTitle(vantrel::kConsoleTitle);
    data_->SetString(L"path", gif_.c_str());
    CreateSource();
    ASSERT_TRUE(Image().Snapshot().isAnimated);
    Frames(400);
    EXPECT_EQ(testsupport::CountLog(L"VoteImageSource::Advance: Could not map view of file"), 1u);
    EXPECT_EQ(sim_.OpenViewCount(), 0u);
    EXPECT_NE(Image().Snapshot().frameCache[1], nullptr);  // it played
    ExpectSound(Image());

    // Once the other program lets go, the source no longer keeps the small block alive: the next
    // poll makes a full one, and commands arrive.
    sim_.ReleaseBlock(vantrel::kCommandBlockName);
    Frames(2);
    EXPECT_EQ(sim_.BlockSize(vantrel::kCommandBlockName), vantrel::kCommandBlockSize);
    Command(1, png_);
    Frames(2);
    EXPECT_EQ(source_->Snapshot().lastCommandId, 1);
    EXPECT_EQ(sim_.OpenMappingCount(), 1u);
}

// The view fails now and then: a warning for each spell of failures, the commands in between
// applied, every view that was mapped given back.
TEST_F(FaultInjection, CommandViewFailingOnAndOff) {
    ConsoleUp();
    CreateSource();
    for (int spell = 0; spell < 3; ++spell) {
        sim_.SetViewFailure(platform::kErrorAccessDenied);
        Command(spell + 1, spell % 2 ? png_ : gif_);
        Frames(50);
        EXPECT_EQ(source_->Snapshot().lastCommandId,
                  spell == 0 ? -1 : spell);  // unseen while it fails
        sim_.SetViewFailure(0);
        Frames(1);
        EXPECT_EQ(source_->Snapshot().lastCommandId, spell + 1);
        ExpectSound(Image());
    }
    EXPECT_EQ(testsupport::CountLog(L"VoteImageSource::Advance: Could not map view of file"), 3u);
    EXPECT_EQ(sim_.OpenViewCount(), 0u);
}

}  // namespace
