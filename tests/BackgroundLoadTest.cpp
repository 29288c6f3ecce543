// Loading effects in the background ("backgroundLoad" 1): what the swap installs and logs, against
// the same file loaded at once; the order of the console's messages and the log at the swap; newer
// commands, clearing and destruction while a load is under way; a file change. The worker is
// waited for through the holder's hook, and held up through the simulated disk: never by sleeping.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "controller/ConsoleProtocol.h"
#include "image/BitmapImage.h"
#include "image/HostWork.h"
#include "image/WorkerLoad.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "support/GifBuilder.h"
#include "support/RuntimeHeap.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"
#ifdef VANTREL_TEST_WEBP
#include "RandomAnimation.h"
#include "WebpWriter.h"
#endif

using testsupport::Bytes;
using testsupport::GifBuilder;
using testsupport::GifFrame;
using testsupport::TempDir;
using vantrel::VoteImageSource;

namespace {

// Frames of one palette entry each (0: black, 1: white, 2: red, 3: green), the one at `broken`
// failing to decode.
Bytes Frames(uint16_t w, uint16_t h, std::vector<uint8_t> entries, int broken = -1) {
    GifBuilder gif(w, h);
    gif.Loop(0);
    for (size_t i = 0; i < entries.size(); ++i) {
        GifFrame frame = GifFrame::Solid(w, h, entries[i], static_cast<int>(5 * (i + 1)));
        if (static_cast<int>(i) == broken)
            frame.Broken();
        gif.Frame(frame);
    }
    return gif.Build();
}

// One-pixel frames, the first at (x, y): libnsgif grows the canvas to cover it.
Bytes TinyFramesAt(size_t count, uint16_t x, uint16_t y) {
    GifBuilder gif(1, 1);
    for (size_t i = 0; i < count; ++i) {
        GifFrame frame = GifFrame::Solid(1, 1, static_cast<uint8_t>(i % 4));
        if (i == 0)
            frame.left = x, frame.top = y;
        gif.Frame(frame);
    }
    return gif.Build();
}

struct Logged {
    standin::LogKind kind;
    std::wstring text;
    bool operator==(const Logged& o) const { return kind == o.kind && text == o.text; }
};
void PrintTo(const Logged& line, std::ostream* out) {
    *out << standin::ToUtf8(line.text);
}

std::vector<Logged> TakeLog() {
    std::vector<Logged> out;
    for (const standin::LogRecord& r : standin::LogRecords())
        out.push_back({r.kind, r.text});
    standin::ClearLog();
    return out;
}

// What a holder shows, as far as its owner and the host can tell.
struct Shown {
    bool animated;
    float width, height;
    unsigned frames;
    std::vector<float> delays;
    int createdFormat;
    bool isStatic;
    std::vector<uint8_t> pixels;
    bool operator==(const Shown& o) const {
        return animated == o.animated && width == o.width && height == o.height &&
               frames == o.frames && delays == o.delays && createdFormat == o.createdFormat &&
               isStatic == o.isStatic && pixels == o.pixels;
    }
};

Shown Look(BitmapImage& image) {
    Shown s{image.Snapshot().isAnimated,
            image.width,
            image.height,
            image.Snapshot().frameCount,
            {},
            0,
            false,
            {}};
    for (unsigned i = 0; i < image.Snapshot().delayCount; ++i)
        s.delays.push_back(image.Snapshot().frameDelays[i]);
    if (const standin::TextureInfo* info = standin::InspectTexture(image.texture)) {
        s.createdFormat = info->createdFormat;
        s.isStatic = info->isStatic;
        s.pixels = info->rgba;
    }
    return s;
}

#ifdef VANTREL_TEST_WEBP
// A random lossless WebP of `frames` frames of `w` x `h`.
Bytes Webp(uint32_t seed, uint32_t w, uint32_t h, uint32_t frames) {
    const fxmakefx::RandomAnimation animation = fxmakefx::MakeRandomAnimation(seed, w, h, frames);
    return fxmakefx::EncodeWebp(w, h, animation.canvases, fxmakefx::WebpOptions());
}
#endif

// What the load is to run into, the same for both drivers: a block of the host's allocator of
// exactly `hostBytes` refused (with either driver: the delays go to the host's list), the file,
// the table or the store refused in the load's own memory (`loadBytes` each driver's size), or no
// texture made.
struct Fault {
    size_t hostBytes = 0;
    size_t atOnceBytes = 0;  // the host's allocator, loading at once
    size_t workerBytes = 0;  // the runtime's heap, on the worker
    bool noTexture = false;

    void Set(bool worker) const {
        namespace heap = testsupport::runtimeheap;
        standin::FailAllocationsOfSize(worker || !atOnceBytes ? hostBytes : atOnceBytes);
        if (worker && workerBytes)
            heap::FailAllocationsOfSize(workerBytes, heap::On::Workers);
        standin::SetTextureCreationFails(noTexture);
    }
    static void Clear() {
        standin::ClearAllocationFailures();
        testsupport::runtimeheap::ClearFailure();
        standin::SetTextureCreationFails(false);
    }
};

// Every outcome of the load, each failure of its sequence included, loaded at once and in the
// background: the swap must log the same lines, of the same kinds, and leave the same picture, and
// playback must show the same frames, none of them late once the worker has been waited for.
TEST(BackgroundLoad, SwapGivesWhatALoadAtOnceGives) {
    const bool heapWatched = testsupport::runtimeheap::Available();
    testsupport::runtimeheap::SetHostThread();  // its faults are the workers'
    TempDir dir;
    // Nine frames of 40 x 30 (43200 bytes together) in a file of some 12 kB: sizes no other block
    // of either load has, nor a line's text.
    GifBuilder builder(40, 30);
    builder.Loop(0);
    for (uint8_t i = 0; i < 9; ++i)
        builder.Frame(GifFrame::Solid(40, 30, static_cast<uint8_t>(i % 4), 5));
    const Bytes nine = builder.TrailingComment(std::string(12000, 'c')).Build();
    struct Case {
        const char* name;
        Bytes bytes;  // none: the file is missing
        Fault fault;
        // The fault is in the runtime's heap, which this build may not watch.
        bool needsHeap = false;
        const wchar_t* line = nullptr;  // a line the load writes, where it is to fail
    } cases[] = {
        {"anim.gif", Frames(3, 2, {1, 2, 3}), {}},
        {"broken-frame.gif", Frames(2, 2, {1, 2, 3, 1}, 2), {}},
        {"broken-first.gif", Frames(2, 2, {1, 2, 3}, 0), {}},
        {"missing.gif", {}, {}},
        {"empty.gif", Bytes{}, {}},
        {"corrupt.gif", testsupport::Truncated(Frames(2, 2, {1, 2}), 12), {}},
        {"too-wide.gif", TinyFramesAt(2, 4096, 0), {}},
        {"canvas-refused.gif", TinyFramesAt(2, 4096, 4096), {}},
        {"four-gibibytes.gif", TinyFramesAt(64, 4095, 4095), {}},
        {"one-frame.gif", Frames(3, 2, {2}), {}},
        // No memory for the worker's copy of the picture: the host's loader takes it.
        {"one-frame-no-memory.gif", Frames(7, 5, {2}), {0, 0, 7 * 5 * 4}, true},
        {"no-texture.gif",
         Frames(3, 2, {1, 2, 3}),
         {0, 0, 0, true},
         false,
         L"no texture could be made"},
        {"no-memory-to-read.gif", nine, {0, nine.size(), nine.size()}, true, L"memory to read gif"},
        {"no-memory-for-the-table.gif",
         nine,
         {0, 9 * sizeof(uint8_t*), 9 * sizeof(uint64_t)},
         true,
         L"memory for the frame table of gif"},
        {"no-memory-for-the-frames.gif",
         nine,
         {0, 9 * 4800, 9 * 4800},
         true,
         L"memory for the 9 frames of gif"},
        // The list of delays grows a float at a time: refused as it grows to its fifth (the whole
        // list's 36 bytes are the frame table's too on x86, which would fail first).
        {"no-memory-for-the-delays.gif",
         nine,
         {5 * sizeof(float)},
         false,
         L"memory for the frame delays of gif"},
        {"still.png", Bytes{}, {}},
        {"short.gif", Bytes{}, {}, false, L"read only"},
        {"four-gibibyte-file.gif", Bytes{}, {}, false, L"too large to load (4294967296 bytes)"},
        {"not-a-picture.png", Bytes(64, 'x'), {}, false, L"could not create texture"},
#ifdef VANTREL_TEST_WEBP
        {"anim.webp", Webp(51, 4, 3, 3), {}},
        {"one-frame.webp", Webp(52, 4, 3, 1), {}},
        {"one-frame-no-memory.webp", Webp(54, 7, 5, 1), {0, 0, 7 * 5 * 4}, true},
        {"corrupt.webp", Bytes(100, 'R'), {}},
        {"no-memory-for-the-frames.webp",
         Webp(53, 40, 30, 9),
         {0, 9 * 4800, 9 * 4800},
         true,
         L"memory for the 9 frames of webp"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsHeap && !heapWatched)
            continue;
        const std::string name = c.name;
        std::wstring path = standin::FromUtf8(dir.File(name));
        if (name == "still.png") {
            testsupport::WriteSolidPng(dir.File(name), 6, 5, 0x336699FFu);
        } else if (name == "short.gif") {
            // A file that reads shorter than its size: sysfs reports 4096 bytes for a line.
#ifdef _WIN32
            continue;
#endif
            const char* sys = "/sys/devices/system/cpu/online";
            std::error_code error;
            std::filesystem::create_symlink(sys, dir.File(name), error);
            if (error || std::filesystem::file_size(sys, error) != 4096 || error)
                continue;
        } else if (name == "four-gibibyte-file.gif") {
            // Sparse: it takes no room on disk, and neither driver may try to read it.
            std::error_code error;
            std::filesystem::resize_file(dir.Write(name, Frames(2, 2, {1, 2})), uint64_t{1} << 32,
                                         error);
            if (error)
                continue;
            path = standin::FromUtf8(dir.File(name));
        } else if (name != "missing.gif") {
            path = standin::FromUtf8(dir.Write(name, c.bytes));
        }
        standin::ClearLog();

        BitmapImage now;
        now.filePath = path.c_str();
        c.fault.Set(false);
        now.Init();
        Fault::Clear();
        const std::vector<Logged> wantLog = TakeLog();
        if (c.line) {
            EXPECT_TRUE(std::any_of(wantLog.begin(), wantLog.end(), [&c](const Logged& l) {
                return l.text.find(c.line) != std::wstring::npos;
            })) << "the load meets its fault";
        }

        BitmapImage later;
        later.filePath = path.c_str();
        later.SetBackgroundLoad(true);
        c.fault.Set(true);
        later.Init();
        EXPECT_TRUE(later.BackgroundLoadPending());
        EXPECT_EQ(later.texture, nullptr);
        later.WaitForBackgroundLoad();
        EXPECT_TRUE(TakeLog().empty()) << "nothing is logged before the swap";
        later.SwapInBackgroundLoad();
        Fault::Clear();
        EXPECT_FALSE(later.BackgroundLoadPending());
        EXPECT_EQ(TakeLog(), wantLog);
        EXPECT_TRUE(Look(later) == Look(now));
        if (!later.Snapshot().isAnimated)
            continue;

        // Two passes at uneven steps, so that frames are passed over as well as shown.
        for (int step = 0; step < 40; ++step) {
            const float seconds = step % 3 == 0 ? 0.07f : 0.02f;
            now.Advance(seconds);
            later.Advance(seconds);
            ASSERT_EQ(later.Snapshot().currentFrame, now.Snapshot().currentFrame)
                << "step " << step;
            ASSERT_TRUE(Look(later) == Look(now)) << "step " << step;
        }
        EXPECT_EQ(later.Snapshot().lateFrames, 0u);
        EXPECT_EQ(TakeLog(), std::vector<Logged>()) << "each frame is reported once";
    }
}

// One source in a scene with the console running; console messages and log lines land in one
// sequence.
class Rig {
public:
    explicit Rig(bool background) {
        sim.CreateBlock(vantrel::kCommandBlockName, vantrel::kCommandBlockSize);
        console = sim.CreateWindowWithTitle(vantrel::kConsoleTitle);
        sim.SetMessageHandler([this](platform::WindowHandle, const platform::SimMessage& m) {
            events.push_back(L"msg " + std::to_wstring(m.code) + L" " +
                             std::to_wstring(static_cast<intptr_t>(m.wParam)) + L" " +
                             std::to_wstring(m.lParam));
        });
        standin::SetLogListener([this](const standin::LogRecord& r) { events.push_back(r.text); });
        data = tree.AddSource(L"fx");
        data->SetInt(L"backgroundLoad", background ? 1 : 0);
        scene = standin::NewScene();
        standin::AddSceneItem(scene, data->GetParent());
        standin::SetCurrentScene(scene);
        source = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data));
        events.clear();
    }
    ~Rig() {
        sim.HoldFileReads(false);  // a worker waiting on the disk must be let go before the join
        delete source;
        standin::SetLogListener(nullptr);
        sim.SetMessageHandler(nullptr);
        standin::SetCurrentScene(nullptr);
        standin::DeleteScene(scene);
        sim.DestroyWindow(console);
        sim.ReleaseBlock(vantrel::kCommandBlockName);
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    std::wstring File(const std::string& name, const Bytes& bytes) {
        return standin::FromUtf8(dir.Write(name, bytes));
    }
    // Writes the command and runs the frame that applies it.
    void Command(const std::wstring& text) {
        sim.WriteBlockText(vantrel::kCommandBlockName, std::u16string(text.begin(), text.end()));
        source->Advance(0.025f);
    }
    // The frame after the worker has finished: the swap.
    void Loaded() {
        source->WaitForBackgroundLoad();
        source->Advance(0.025f);
    }
    std::vector<std::wstring> Take() {
        std::vector<std::wstring> out;
        out.swap(events);
        return out;
    }

    platform::SimSystem& sim = platform::Simulation();
    platform::WindowHandle console = nullptr;
    TempDir dir;
    testsupport::SourceTree tree;
    XElement* data = nullptr;
    standin::StandinScene* scene = nullptr;
    VoteImageSource* source = nullptr;
    std::vector<std::wstring> events;
};

// Two effects in turn, the second with a size that rescales the source (a GIF with a frame that
// fails, a log line of the load; or a still picture, which the worker decodes too): with the
// setting on, nothing is reported and nothing moves until the swap, and then the same sequence as
// a load at once, with the same placement and scene size.
TEST(BackgroundLoad, SwapReportsInTheOrderOfACommandAppliedAtOnce) {
    struct Run {
        std::vector<std::wstring> events;
        std::vector<std::wstring> scene;
        std::vector<int32_t> fields;
    };
    TempDir dir;
    const std::wstring first = standin::FromUtf8(dir.Write("first.gif", Frames(40, 20, {1, 2, 3})));
    const std::wstring secondGif =
        standin::FromUtf8(dir.Write("second.gif", Frames(30, 30, {2, 3, 1}, 1)));
    const std::wstring secondPng =
        standin::FromUtf8(testsupport::WriteSolidPng(dir.File("second.png"), 30, 30, 0x336699FFu));
    for (const std::wstring& second : {secondGif, secondPng}) {
        auto play = [&](bool background) {
            Rig rig(background);
            rig.Command(L"1|" + first + L"|100|50|x|7|10|10");
            rig.Loaded();
            rig.sim.HoldFileReads(background);
            rig.Command(L"2|" + second + L"|200|200|x|9|50|25");
            if (background) {
                for (int i = 0; i < 3; ++i)
                    rig.source->Advance(0.025f);
                EXPECT_EQ(rig.events.size(), 2u) << "only the first effect's start so far";
                EXPECT_EQ(rig.source->Snapshot().effectId, 7);
                EXPECT_EQ(rig.source->Snapshot().drawX, 192);
                EXPECT_EQ(rig.source->QuerySize().x, 40.0f);
                rig.sim.HoldFileReads(false);
                // Frames go on while the worker loads; one of them may swap.
                for (int i = 0; i < 3; ++i)
                    rig.source->Advance(0.025f);
            }
            rig.Loaded();
            const VoteImageSource::State s = rig.source->Snapshot();
            return Run{rig.Take(),
                       standin::SceneEvents(),
                       {s.effectId, s.commandWidth, s.drawX, s.drawY, s.drawWidth, s.drawHeight,
                        rig.data->GetParent()->GetInt(L"cx", 0)}};
        };
        const Run now = play(false);
        standin::Reset();
        platform::Simulation().Reset();
        const Run later = play(true);
        standin::Reset();
        platform::Simulation().Reset();
        // The reference: start 7, stop 7, (the GIF's broken frame,) start 9.
        ASSERT_EQ(now.events.size(), second == secondGif ? 7u : 6u);
        EXPECT_EQ(later.events, now.events);
        EXPECT_EQ(later.scene, now.scene);
        EXPECT_EQ(later.fields, now.fields);
    }
}

// While a command's load is held on the disk the effect that shows keeps its picture, and settings
// applied meanwhile report nothing; the swap reports the command once, and a reload by settings
// after it reports nothing (the pending mark went with the swap).
TEST(BackgroundLoad, HeldLoadKeepsThePictureAndReportsOnlyAtTheSwap) {
    Rig rig(true);
    const std::wstring white = rig.File("white.gif", Frames(8, 8, {1, 1}));
    const std::wstring red = rig.File("red.gif", Frames(16, 8, {2, 2}));
    auto pixels = [&rig] {
        const standin::TextureInfo* info =
            standin::InspectTexture(rig.source->Snapshot().image->texture);
        return info ? info->rgba : std::vector<uint8_t>{};
    };
    rig.Command(L"1|" + white + L"|0|0|x|7|0|0");
    rig.Loaded();
    const std::vector<uint8_t> before = pixels();
    ASSERT_EQ(before[0], 0xFF);
    rig.Take();

    rig.sim.HoldFileReads(true);
    rig.Command(L"2|" + red + L"|0|0|x|8|0|0");
    rig.source->Advance(0.025f);
    EXPECT_EQ(pixels(), before);
    rig.data->SetInt(L"opacity", 50);
    rig.source->ApplySettings();
    rig.source->Advance(0.025f);
    EXPECT_EQ(pixels(), before);
    EXPECT_TRUE(rig.Take().empty());
    rig.sim.HoldFileReads(false);
    rig.Loaded();
    const std::vector<std::wstring> want = {L"msg 1056 7 -1", L"stop play.", L"start play.",
                                            L"msg 1056 8 0"};
    EXPECT_EQ(rig.Take(), want);
    EXPECT_EQ(pixels()[1], 0x00) << "red";
    rig.source->ApplySettings();
    rig.Loaded();
    EXPECT_TRUE(rig.Take().empty());
    EXPECT_EQ(rig.source->Snapshot().effectId, 8);
}

// Newer commands while a load waits on the disk: only the effects that reach the screen are
// reported, a clearing command clears at once, and a still image is shown at once.
TEST(BackgroundLoad, NewerCommandsSupersedeALoadUnderWay) {
    Rig rig(true);
    const std::wstring a = rig.File("a.gif", Frames(8, 8, {1, 2}));
    const std::wstring b = rig.File("b.gif", Frames(16, 8, {2, 3}));
    const std::wstring still =
        standin::FromUtf8(testsupport::WriteSolidPng(rig.dir.File("still.png"), 4, 4, 0xFF));
    rig.Command(L"1|" + a + L"|0|0|x|7|0|0");
    rig.Loaded();
    rig.Take();

    rig.sim.HoldFileReads(true);
    rig.Command(L"2|" + b + L"|0|0|x|8|0|0");
    rig.Command(L"3|" + a + L"|0|0|x|9|0|0");
    rig.Command(L"-4|x|0|0|x|0|0|0");
    EXPECT_EQ(rig.Take(), std::vector<std::wstring>{L"BitmapImage::Init: Empty path"});
    EXPECT_EQ(std::wstring(rig.data->GetString(L"path")), L"");
    EXPECT_EQ(rig.source->QuerySize().x, 32.0f);
    rig.Command(L"5|" + b + L"|0|0|x|11|0|0");
    rig.sim.HoldFileReads(false);
    rig.Loaded();
    // The cleared effect 7 is stopped when the next one starts, as without the setting.
    std::vector<std::wstring> want = {L"msg 1056 7 -1", L"stop play.", L"start play.",
                                      L"msg 1056 11 0"};
    EXPECT_EQ(rig.Take(), want);
    EXPECT_EQ(rig.source->QuerySize().x, 16.0f);

    rig.sim.HoldFileReads(true);
    rig.Command(L"6|" + a + L"|0|0|x|12|0|0");
    rig.Command(L"7|" + still + L"|0|0|x|13|0|0");
    // The still loads on the worker too: it supersedes the GIF's load and is reported at its swap.
    EXPECT_TRUE(rig.Take().empty());
    rig.sim.HoldFileReads(false);
    rig.Loaded();
    want = {L"msg 1056 11 -1", L"stop play.", L"start play.", L"msg 1056 13 0"};
    EXPECT_EQ(rig.Take(), want);
    EXPECT_FALSE(rig.source->Snapshot().image->Snapshot().isAnimated);
    // A load that no command asked for (the path set by hand) reports nothing.
    rig.data->SetString(L"path", a.c_str());
    rig.source->ApplySettings();
    rig.Loaded();
    EXPECT_TRUE(rig.Take().empty());
    EXPECT_EQ(rig.source->QuerySize().x, 8.0f);
    // The setting turned off while a command waits: its effect is loaded at once, and reported.
    rig.sim.HoldFileReads(true);
    rig.Command(L"8|" + b + L"|0|0|x|14|0|0");
    rig.data->SetInt(L"backgroundLoad", 0);
    rig.source->ApplySettings();
    rig.sim.HoldFileReads(false);
    want = {L"msg 1056 13 -1", L"stop play.", L"start play.", L"msg 1056 14 0"};
    EXPECT_EQ(rig.Take(), want);
    EXPECT_EQ(rig.source->Snapshot().effectId, 14);
    rig.data->SetInt(L"backgroundLoad", 1);

    // A load that has finished but was not swapped in yet is replaced as well.
    BitmapImage image;
    image.SetBackgroundLoad(true);
    image.filePath = a.c_str();
    image.Init();
    image.WaitForBackgroundLoad();
    rig.sim.HoldFileReads(true);
    image.filePath = b.c_str();
    image.Init();
    EXPECT_FALSE(image.BackgroundLoadFinished());
    rig.sim.HoldFileReads(false);
    image.WaitForBackgroundLoad();
    image.SwapInBackgroundLoad();
    EXPECT_EQ(image.width, 16.0f);
}

// A load that is given up decodes nothing more, and nothing waits for it: a clear and a newer
// command while its read is held, and the source's destruction, which returns while the read is
// still held (the worker owns what it works on and frees it when the read returns).
TEST(BackgroundLoad, GivenUpLoadsDecodeNothingMoreAndAreNeverWaitedFor) {
    WaitForWorkersToEnd();
    Rig rig(true);
    const std::wstring longer = rig.File("long.gif", Frames(16, 16, std::vector<uint8_t>(60, 1)));
    const std::wstring two = rig.File("two.gif", Frames(8, 8, {2, 3}));

    rig.sim.HoldFileReads(true);
    rig.Command(L"1|" + longer + L"|0|0|x|7|0|0");
    rig.Command(L"-2|x|0|0|x|0|0|0");
    uint64_t decoded = WorkerFramesDecoded();
    rig.sim.HoldFileReads(false);
    WaitForWorkersToEnd();
    rig.source->Advance(0.025f);
    EXPECT_EQ(WorkerFramesDecoded(), decoded);
    EXPECT_FALSE(rig.source->Snapshot().image->BackgroundLoadPending());
    EXPECT_FALSE(rig.source->Snapshot().image->Snapshot().isAnimated);

    rig.sim.HoldFileReads(true);
    rig.Command(L"3|" + longer + L"|0|0|x|8|0|0");
    rig.Command(L"4|" + two + L"|0|0|x|9|0|0");
    decoded = WorkerFramesDecoded();
    rig.sim.HoldFileReads(false);
    rig.Loaded();
    WaitForWorkersToEnd(1);  // the shown load's worker stays with it
    EXPECT_EQ(WorkerFramesDecoded() - decoded, 2u) << "the two frames of the newer effect";
    EXPECT_EQ(rig.source->Snapshot().effectId, 9);

    rig.sim.HoldFileReads(true);
    rig.Command(L"5|" + longer + L"|0|0|x|10|0|0");
    decoded = WorkerFramesDecoded();
    delete rig.source;
    rig.source = nullptr;
    EXPECT_GE(RunningWorkers(), 1u) << "the held read outlives the source";
    rig.sim.HoldFileReads(false);
    WaitForWorkersToEnd();
    EXPECT_EQ(WorkerFramesDecoded(), decoded);
}

// A changed file is reloaded in the background as well: the old picture stays until the swap, and
// no command is reported for it.
TEST(BackgroundLoad, FileChangeReloadsInTheBackground) {
    Rig rig(true);
    const std::wstring path = rig.File("fx.gif", Frames(8, 8, {1, 2}));
    rig.data->SetString(L"path", path.c_str());
    rig.data->SetInt(L"monitor", 1);
    rig.source->ApplySettings();
    EXPECT_EQ(rig.source->QuerySize().x, 32.0f) << "nothing shown yet, and nothing drawn";
    EXPECT_EQ(rig.source->Snapshot().image->texture, nullptr);
    rig.Loaded();
    EXPECT_EQ(rig.source->QuerySize().x, 8.0f);

    rig.File("fx.gif", Frames(24, 8, {3, 1}));
    rig.sim.HoldFileReads(true);
    standin::TouchWatchedFile(standin::ResolvePath(path.c_str()));
    rig.source->Advance(0.5f);
    rig.source->Advance(1.1f);
    EXPECT_TRUE(rig.source->Snapshot().image->BackgroundLoadPending());
    EXPECT_EQ(rig.source->QuerySize().x, 8.0f);
    rig.sim.HoldFileReads(false);
    rig.Loaded();
    EXPECT_EQ(rig.source->QuerySize().x, 24.0f);
    EXPECT_TRUE(rig.Take().empty());
}

// Sources destroyed while their load runs, after it finished but before the swap, and while they
// show a load: nothing is left behind, with the host or in the runtime's heap.
TEST(BackgroundLoad, DestructionStopsTheWorkerAndFreesEverything) {
    const standin::AllocStats before = standin::AllocatorStats();
    const size_t textures = standin::LiveTextureCount();
    TempDir dir;
    const std::wstring path =
        standin::FromUtf8(dir.Write("long.gif", Frames(64, 64, std::vector<uint8_t>(60, 1))));
    for (int when = 0; when < 3; ++when) {
        SCOPED_TRACE(when);
        testsupport::SourceTree tree;
        XElement* data = tree.AddSource(L"fx");
        data->SetInt(L"backgroundLoad", 1);
        data->SetString(L"path", path.c_str());
        auto* source = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data));
        ASSERT_TRUE(source->Snapshot().image->BackgroundLoadPending());
        if (when >= 1)
            source->WaitForBackgroundLoad();
        if (when == 2)
            source->Advance(0.01f);
        EXPECT_EQ(source->Snapshot().image->Snapshot().isAnimated, when == 2);
        delete source;
    }
    EXPECT_EQ(standin::AllocatorStats().liveBlocks, before.liveBlocks);
    EXPECT_EQ(standin::LiveTextureCount(), textures);
}

// A ring plays a limited animation by decoding its passes again, and not a frame beyond the last
// pass: three frames played twice are six decodes, however long playback stands on the last.
TEST(BackgroundLoad, RingDecodesNoFramePastTheLastPass) {
    TempDir dir;
    GifBuilder gif(4, 4);
    gif.Loop(2);
    for (uint8_t i = 0; i < 3; ++i)
        gif.Frame(GifFrame::Solid(4, 4, i, 5));
    const std::wstring path = standin::FromUtf8(dir.Write("twice.gif", gif.Build()));
    WaitForWorkersToEnd();
    const uint64_t before = WorkerFramesDecoded();
    BitmapImage image;
    image.SetBackgroundLoad(true);
    image.SetFrameCacheBytes(2 * 4 * 4 * 4);
    image.filePath = path.c_str();
    image.Init();
    image.WaitForBackgroundLoad();
    image.SwapInBackgroundLoad();
    ASSERT_EQ(image.Snapshot().streamedSlots, 2u);
    for (int call = 0; call < 20; ++call) {
        image.Advance(0.03f);
        image.WaitForBackgroundLoad();
    }
    EXPECT_EQ(image.Snapshot().loopsPlayed, 2u);
    EXPECT_EQ(image.Snapshot().currentFrame, 2u);
    EXPECT_EQ(image.Snapshot().lateFrames, 0u);
    EXPECT_EQ(WorkerFramesDecoded() - before, 6u);
}

// ---------------------------------------------------------------- the module's unload

// A worker held at the very end of its life, after it has counted itself out: the host may unmap
// the module as soon as UnloadPlugin returns, so UnloadPlugin must wait for the thread itself.
struct EndLatch {
    std::mutex mutex;
    std::condition_variable changed;
    bool reached = false;
    bool released = false;
};
EndLatch* endLatch = nullptr;

void HoldAtEnd() {
    std::unique_lock<std::mutex> lock(endLatch->mutex);
    endLatch->reached = true;
    endLatch->changed.notify_all();
    endLatch->changed.wait(lock, [] { return endLatch->released; });
}

// UnloadPlugin on a thread of its own, as the host's exit would call it.
struct Unload {
    std::promise<bool> result;
    std::future<bool> done = result.get_future();
    std::thread thread{[this] { result.set_value(vantrel::UnloadPlugin()); }};
    ~Unload() { thread.join(); }
    bool Returned(std::chrono::milliseconds within) {
        return done.wait_for(within) == std::future_status::ready;
    }
};

TEST(BackgroundLoad, UnloadReturnsOnlyOnceNoWorkerRunsTheModulesCode) {
    TempDir dir;
    const std::wstring path = standin::FromUtf8(dir.Write("fx.gif", Frames(4, 4, {1, 2})));
    // Earlier tests' workers joined, so that none meets the hook (or is joined by the next
    // worker while it holds there).
    WaitForWorkersToEnd();
    ASSERT_TRUE(vantrel::UnloadPlugin());
    VoteImageSource::AllowBackgroundWorkers();
    EndLatch latch;
    endLatch = &latch;
    SetWorkerEndHookForTests(&HoldAtEnd);
    {
        BitmapImage image;
        image.SetBackgroundLoad(true);
        image.filePath = path.c_str();
        image.Init();
        image.WaitForBackgroundLoad();
    }  // let go: its worker ends, and stops at its last step
    {
        std::unique_lock<std::mutex> lock(latch.mutex);
        latch.changed.wait(lock, [&] { return latch.reached; });
    }
    EXPECT_EQ(RunningWorkers(), 0u) << "counted out, and still in the module";
    Unload unload;
    EXPECT_FALSE(unload.Returned(std::chrono::milliseconds(300)));
    {
        std::lock_guard<std::mutex> lock(latch.mutex);
        latch.released = true;
        latch.changed.notify_all();
    }
    EXPECT_TRUE(unload.done.get());
    SetWorkerEndHookForTests(nullptr);
    endLatch = nullptr;
}

// A source that shows an animation keeps its worker waiting for it; a host that unloads the module
// before it destroys its sources must not hang. A read that never returns is waited for no longer
// than the bound; loads after the unload are made at once, and the sources still work.
TEST(BackgroundLoad, UnloadEndsWorkersThatWaitForTheirSourcesAndWaitsForAHungReadOnlyToItsBound) {
    platform::SimSystem& sim = platform::Simulation();
    TempDir dir;
    const std::wstring path = standin::FromUtf8(dir.Write("fx.gif", Frames(4, 4, {1, 2, 3})));
    auto shown = std::make_unique<BitmapImage>();
    shown->SetBackgroundLoad(true);
    shown->filePath = path.c_str();
    shown->Init();
    shown->WaitForBackgroundLoad();
    shown->SwapInBackgroundLoad();
    ASSERT_TRUE(shown->Snapshot().isAnimated);
    ASSERT_EQ(RunningWorkers(), 1u);
    {
        Unload unload;
        if (!unload.Returned(std::chrono::seconds(20))) {
            ADD_FAILURE() << "UnloadPlugin waits for a worker that only waits for its source";
            shown.reset();  // lets the worker go, so that the unload returns
        }
        EXPECT_TRUE(unload.done.get());
    }
    EXPECT_EQ(RunningWorkers(), 0u);

    // Loaded again in the same process, the module loads in the background again.
    ASSERT_TRUE(vantrel::LoadPlugin());
    sim.HoldFileReads(true);
    BitmapImage hung;
    hung.SetBackgroundLoad(true);
    hung.filePath = path.c_str();
    hung.Init();
    ASSERT_TRUE(hung.BackgroundLoadPending()) << "a worker after LoadPlugin";
    // The entry point tells the host that a worker outlived the wait (kUnloadWait, 2 s).
    EXPECT_FALSE(vantrel::UnloadPlugin());
    EXPECT_EQ(RunningWorkers(), 1u);
    BitmapImage after;
    after.SetBackgroundLoad(true);
    after.filePath = path.c_str();
    after.Init();
    EXPECT_FALSE(after.BackgroundLoadPending());
    EXPECT_TRUE(after.Snapshot().isAnimated) << "loaded at once";
    sim.HoldFileReads(false);
    WaitForWorkersToEnd();
    if (shown) {
        shown->Advance(0.2f);  // plays on what its worker left
        EXPECT_TRUE(shown->Snapshot().isAnimated);
    }
}

// ---------------------------------------------------------------- memory

// Whoever lets go of a load last frees it: a load the host's thread let go of must be freed by
// its worker, never in a host frame (a large one takes milliseconds). Three thousand changes of
// every kind: a load given up pending, a shown animation replaced, a failed load, a ring.
TEST(BackgroundLoad, LoadsAreFreedOnTheirWorkersNeverOnTheHostsThread) {
    namespace heap = testsupport::runtimeheap;
    if (!heap::Available())
        GTEST_SKIP() << "this build cannot watch the runtime's heap";
    heap::SetHostThread();
    TempDir dir;
    const std::wstring paths[] = {
        standin::FromUtf8(dir.Write("a.gif", Frames(16, 16, {1, 2, 3, 1}, 2))),
        standin::FromUtf8(dir.Write("b.gif", Frames(8, 8, {2, 3}))),
        standin::FromUtf8(dir.File("missing.gif")),
    };
    const uint64_t before = heap::WorkerBlocksFreedOnHost();
    {
        BitmapImage image;
        image.SetBackgroundLoad(true);
        image.SetFrameCacheBytes(2 * 16 * 16 * 4);  // a.gif plays from a ring of two
        for (int change = 0; change < 3000; ++change) {
            image.filePath = paths[change % 3].c_str();
            image.Init();
            if (change % 4 == 3)
                continue;  // given up while it loads
            image.WaitForBackgroundLoad();
            image.SwapInBackgroundLoad();
            image.Advance(0.06f);
        }
        standin::ClearLog();
    }
    WaitForWorkersToEnd();
    EXPECT_EQ(heap::WorkerBlocksFreedOnHost() - before, 0u);
}

// The swap gives an animation of the shown one's size the shown texture: frame 0 copied into it,
// one upload, and not also the frame the old animation came to in the same call, which the swap
// replaces before anything is drawn. An animation of another size gets a texture of its own. The
// module's record of its work on the host's thread agrees with the stand-in's textures.
TEST(BackgroundLoad, SwapHandsTheTextureToAnAnimationOfTheSameSize) {
    TempDir dir;
    // White, red, black; green, white; and a smaller one.
    const std::wstring a = standin::FromUtf8(dir.Write("a.gif", Frames(16, 16, {1, 2, 0})));
    const std::wstring b = standin::FromUtf8(dir.Write("b.gif", Frames(16, 16, {3, 1})));
    const std::wstring c = standin::FromUtf8(dir.Write("c.gif", Frames(8, 8, {2, 1})));
    const size_t live = standin::LiveTextureCount();
    BitmapImage image;
    image.SetBackgroundLoad(true);
    // As the source does: the frame's Advance, then the swap of a load that is ready.
    auto frame = [&](float seconds) {
        image.Advance(seconds);
        if (image.BackgroundLoadFinished())
            image.SwapInBackgroundLoad();
    };
    auto load = [&](const std::wstring& path) {
        image.filePath = path.c_str();
        image.Init();
        image.WaitForBackgroundLoad();
    };
    load(a);
    frame(0.0f);
    frame(0.06f);
    Texture* shown = image.texture;
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(image.Snapshot().currentFrame, 1u);
    const unsigned uploads = standin::InspectTexture(shown)->uploads;
    auto record = [](HostWork what) { return HostWorkDone(what); };
    const uint64_t made = record(HostWork::TexturesMade), copied = record(HostWork::Uploads);

    load(b);
    frame(0.11f);  // would take a.gif on to its black frame 2
    ASSERT_FALSE(image.BackgroundLoadPending());
    EXPECT_EQ(image.texture, shown);
    EXPECT_EQ(standin::InspectTexture(shown)->uploads, uploads + 1);
    const std::vector<uint8_t>& rgba = standin::InspectTexture(shown)->rgba;
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin(), rgba.begin() + 4),
              (std::vector<uint8_t>{0, 255, 0, 255}))
        << "b.gif's green frame 0";
    EXPECT_EQ(record(HostWork::TexturesMade), made);
    EXPECT_EQ(record(HostWork::Uploads) - copied, 1u);

    const uint64_t bytesMade = record(HostWork::TextureBytesMade);
    const uint64_t deleted = record(HostWork::TexturesDeleted);
    const uint64_t bytesDeleted = record(HostWork::TextureBytesDeleted);
    load(c);
    frame(0.0f);
    EXPECT_EQ(image.width, 8.0f);
    EXPECT_EQ(record(HostWork::TexturesMade) - made, 1u);
    EXPECT_EQ(record(HostWork::TextureBytesMade) - bytesMade, 8u * 8 * 4);
    EXPECT_EQ(record(HostWork::TexturesDeleted) - deleted, 1u);
    EXPECT_EQ(record(HostWork::TextureBytesDeleted) - bytesDeleted, 16u * 16 * 4);
    EXPECT_EQ(standin::LiveTextureCount(), live + 1);
    standin::ClearLog();
}

// Two sources reading one command block finish their loads together; each swap makes or fills a
// texture, so the host's frame takes one of them and the next frame the other. The source that
// waits plays on meanwhile: the frame that comes due reaches its texture.
TEST(BackgroundLoad, TwoSourcesSwapInFramesOfTheirOwn) {
    Rig rig(true);
    XElement* data = rig.tree.AddSource(L"fx2");
    data->SetInt(L"backgroundLoad", 1);
    standin::AddSceneItem(rig.scene, data->GetParent());
    std::unique_ptr<VoteImageSource> other(
        static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data)));
    VoteImageSource* sources[] = {rig.source, other.get()};
    auto frame = [&](float seconds) {
        for (VoteImageSource* source : sources)
            source->Advance(seconds);
    };
    auto loaded = [&] {
        for (VoteImageSource* source : sources)
            source->WaitForBackgroundLoad();
    };
    auto effectIds = [&] {
        return std::vector<int>{rig.source->Snapshot().effectId, other->Snapshot().effectId};
    };
    // White, red, green for 50, 100 and 150 ms; green, red.
    const std::wstring first = rig.File("first.gif", Frames(16, 16, {1, 2, 3}));
    const std::wstring second = rig.File("second.gif", Frames(16, 16, {3, 2}));

    rig.sim.WriteBlockText(vantrel::kCommandBlockName,
                           u"1|" + std::u16string(first.begin(), first.end()) + u"|0|0|x|7|0|0");
    frame(0.025f);
    loaded();
    frame(0.025f);
    EXPECT_EQ(effectIds(), (std::vector<int>{7, 0}));
    frame(0.025f);
    EXPECT_EQ(effectIds(), (std::vector<int>{7, 7}));

    rig.sim.WriteBlockText(vantrel::kCommandBlockName,
                           u"2|" + std::u16string(second.begin(), second.end()) + u"|0|0|x|8|0|0");
    frame(0.025f);
    loaded();
    frame(0.16f);  // longer than any frame of first.gif: the waiting source's picture changes
    EXPECT_EQ(effectIds(), (std::vector<int>{8, 7}));
    const BitmapImage& waiting = *other->Snapshot().image;
    const uint8_t colors[3][3] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}};
    const uint8_t* due = colors[waiting.Snapshot().currentFrame];
    const std::vector<uint8_t>& rgba = standin::InspectTexture(waiting.texture)->rgba;
    EXPECT_EQ(std::vector<uint8_t>(rgba.begin(), rgba.begin() + 3),
              std::vector<uint8_t>(due, due + 3));
    frame(0.025f);
    EXPECT_EQ(effectIds(), (std::vector<int>{8, 8}));
    other.reset();
}

// ---------------------------------------------------------------- settings

Bytes LargeFrames(size_t count) {
    GifBuilder gif(256, 256);
    gif.Loop(0);
    for (size_t i = 0; i < count; ++i)
        gif.Frame(GifFrame::Solid(256, 256, static_cast<uint8_t>(i % 4), 4));
    return gif.Build();
}

// "frameCacheMB" is in mebibytes: sixteen frames of 256 KiB fit 4 exactly and are kept whole;
// one less makes a ring of as many as fit; 0 and below, a ring of two.
TEST(BackgroundLoad, FrameCacheMBBoundsTheStoreInMebibytes) {
    TempDir dir;
    const std::wstring path = standin::FromUtf8(dir.Write("large.gif", LargeFrames(16)));
    const struct {
        int megabytes;
        uint32_t slots;
    } cases[] = {{4, 16}, {3, 12}, {0, 2}, {-5, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.megabytes);
        testsupport::SourceTree tree;
        XElement* data = tree.AddSource(L"fx");
        data->SetInt(L"backgroundLoad", 1);
        data->SetInt(L"frameCacheMB", c.megabytes);
        data->SetString(L"path", path.c_str());
        auto* source = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data));
        source->WaitForBackgroundLoad();
        source->Advance(0.01f);
        EXPECT_EQ(source->Snapshot().image->Snapshot().streamedSlots, c.slots);
        delete source;
    }
}

// A source made with its effect set: the host sizes the new item to the source's size, which in
// the background is the placeholder's until the swap; the item then takes the effect's size, as
// it has it at once without the setting. An item the user sized otherwise keeps its size.
TEST(BackgroundLoad, ItemSizedToThePlaceholderTakesTheEffectsSizeAtTheSwap) {
    TempDir dir;
    const std::wstring path = standin::FromUtf8(dir.Write("fx.gif", Frames(8, 6, {1, 2})));
    auto itemAfterLoad = [&](bool background, int userWidth) {
        testsupport::SourceTree tree;
        XElement* data = tree.AddSource(L"fx");
        XElement* element = data->GetParent();
        data->SetInt(L"backgroundLoad", background ? 1 : 0);
        data->SetString(L"path", path.c_str());
        standin::StandinScene* scene = standin::NewScene();
        standin::AddSceneItem(scene, element);
        standin::SetCurrentScene(scene);
        auto* source = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data));
        const Vect2 size = source->QuerySize();  // as the host does when it adds the item
        element->SetInt(L"cx", userWidth ? userWidth : static_cast<int>(size.x));
        element->SetInt(L"cy", static_cast<int>(size.y));
        source->WaitForBackgroundLoad();
        source->Advance(0.01f);
        source->Advance(0.01f);
        const std::vector<int> item = {element->GetInt(L"cx", 0), element->GetInt(L"cy", 0)};
        delete source;
        standin::SetCurrentScene(nullptr);
        standin::DeleteScene(scene);
        return item;
    };
    EXPECT_EQ(itemAfterLoad(false, 0), (std::vector<int>{8, 6}));
    EXPECT_EQ(itemAfterLoad(true, 0), (std::vector<int>{8, 6}));
    EXPECT_EQ(itemAfterLoad(true, 40), (std::vector<int>{40, 32}));
}

}  // namespace
