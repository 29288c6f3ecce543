// One effect source in a scene, driven by a sequence of operations read from the fuzzer's bytes
// (CommandSequence.h): console commands naming fixture files, good and bad, with sizes, placements
// and ids of every kind; frames of any length; drawing; the console coming, going and hanging; the
// command block failing; settings; scene start and end; allocations and textures failing; effect
// files changing on disk. After every step the source must be sound, and once it is destroyed
// everything it took must be back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "controller/ConsoleProtocol.h"
#include "fuzz/CommandSequence.h"
#include "fuzz/FuzzSupport.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "standin/Standin.h"
#include "support/GifBuilder.h"

using namespace fuzzsequence;
using fuzzsupport::ByteReader;
using testsupport::Bytes;
using testsupport::GifBuilder;
using testsupport::GifFrame;

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();

// ---------------------------------------------------------------- fixture files

Bytes AnimatedGif() {
    return GifBuilder(8, 6)
        .Loop(2)
        .Frame(GifFrame::Solid(8, 6, 1, 10))
        .Frame(GifFrame::Solid(8, 6, 2, 0))
        .Frame(GifFrame::Solid(8, 6, 3, 25))
        .Build();
}

Bytes EndlessGif() {
    return GifBuilder(12, 4)
        .Loop(0)
        .Frame(GifFrame::Solid(12, 4, 2, 5))
        .Frame(GifFrame::Solid(6, 2, 3, 7))
        .Build();
}

Bytes StillGif() {
    return GifBuilder(5, 5).Frame(GifFrame::Solid(5, 5, 2)).Build();
}

Bytes BrokenFrameGif() {
    GifFrame broken = GifFrame::Solid(4, 4, 1, 10);
    broken.Broken();
    return GifBuilder(4, 4)
        .Frame(GifFrame::Solid(4, 4, 1, 10))
        .Frame(broken)
        .Frame(GifFrame::Solid(4, 4, 3, 10))
        .Build();
}

Bytes WideGif() {
    return GifBuilder(4097, 2)
        .Frame(GifFrame::Solid(1, 1, 1))
        .Frame(GifFrame::Solid(1, 1, 2))
        .Build();
}

// 256 one-pixel frames on a 2048 by 2048 canvas: 4 GiB of frame store from a few kilobytes.
Bytes HugeStoreGif() {
    GifBuilder gif(2048, 2048);
    for (int i = 0; i < 256; ++i)
        gif.Frame(GifFrame::Solid(1, 1, static_cast<uint8_t>(i & 3), 1));
    return gif.Build();
}

struct Fixture {
    const char* name;
    Bytes (*make)();
};

const Fixture kChangeable[] = {
    {"anim.gif", &AnimatedGif},
    {"endless.gif", &EndlessGif},
    {"still.gif", &StillGif},
    {"noext", &AnimatedGif},
};

// The name of each path choice as the console writes it (relative to the work folder, which is
// the host's base folder during a run).
std::u16string PathText(size_t choice) {
    switch (choice) {
        case kAnimatedGif:
            return u"anim.gif";
        case kEndlessGif:
            return u"endless.gif";
        case kStillGif:
            return u"still.gif";
        case kStillPng:
            return u"still.png";
        case kBrokenFrameGif:
            return u"broken.gif";
        case kCorruptGif:
            return u"corrupt.gif";
        case kWideGif:
            return u"wide.gif";
        case kHugeStoreGif:
            return u"huge.gif";
        case kMissingGif:
            return u"missing.gif";
        case kMissingPng:
            return u"missing.png";
        case kEmptyPath:
            return u"";
        case kNoExtension:
            return u"noext";
        case kFolderGif:
            return u"folder.gif";
        case kUpperCaseGif:
            return u"ANIM.GIF";
        case kBackslashGif:
            return u"sub\\anim.gif";
        case kNonAsciiGif:
            return u"\u52A8\u753B.gif";
        default:
            return std::u16string(1100, u'a') + u".gif";
    }
}

bool changedFixtures = false;

void WriteFixtures() {
    static bool written = false;
    if (written && !changedFixtures)
        return;
    for (const Fixture& fixture : kChangeable)
        fuzzsupport::WriteWorkFile(fixture.name, fixture.make());
    changedFixtures = false;
    if (written)
        return;
    written = true;
    fuzzsupport::WriteWorkFile("broken.gif", BrokenFrameGif());
    fuzzsupport::WriteWorkFile("corrupt.gif", testsupport::Truncated(AnimatedGif(), 11));
    fuzzsupport::WriteWorkFile("wide.gif", WideGif());
    fuzzsupport::WriteWorkFile("huge.gif", HugeStoreGif());
    fuzzsupport::WriteWorkFile("ANIM.GIF", EndlessGif());
    std::filesystem::create_directories(std::filesystem::u8path(fuzzsupport::WorkDir() + "/sub"));
    fuzzsupport::WriteWorkFile("sub/anim.gif", AnimatedGif());
    fuzzsupport::WriteWorkFile("\xE5\x8A\xA8\xE7\x94\xBB.gif", AnimatedGif());
    std::filesystem::create_directories(
        std::filesystem::u8path(fuzzsupport::WorkDir() + "/folder.gif"));
    std::vector<uint8_t> pixels(7 * 3 * 4, 0x80);
    standin::WritePng(fuzzsupport::WorkDir() + "/still.png", 7, 3, pixels);
}

void ChangeFixture(ByteReader& in) {
    const Fixture& fixture = kChangeable[in.Pick(sizeof(kChangeable) / sizeof(kChangeable[0]))];
    const std::string path = fuzzsupport::WorkDir() + "/" + fixture.name;
    const Bytes bytes = fixture.make();
    switch (in.Pick(5)) {
        case 0:
            fuzzsupport::WriteWorkFile(fixture.name, EndlessGif());
            break;
        case 1:
            fuzzsupport::WriteWorkFile(fixture.name, bytes.data(), bytes.size() / 2);
            break;
        case 2: {
            std::error_code ignored;
            std::filesystem::remove(std::filesystem::u8path(path), ignored);
            break;
        }
        case 3:
            fuzzsupport::WriteWorkFile(fixture.name, bytes.data(), 0);
            break;
        default:
            fuzzsupport::WriteWorkFile(fixture.name, bytes);
            break;
    }
    changedFixtures = true;
    standin::TouchWatchedFile(path);
}

// ---------------------------------------------------------------- command texts

const char16_t* const kSizes[] = {u"0",     u"1",          u"200",         u"100",         u"-1",
                                  u"-200",  u"2147483647", u"-2147483648", u"99999999999", u"abc",
                                  u"12abc", u" 40",        u"4096"};
const char16_t* const kEffectIds[] = {u"0", u"7",          u"9",           u"-3",
                                      u"1", u"2147483647", u"-2147483648", u"abc"};
const char16_t* const kPercents[] = {u"0",  u"50",         u"100",         u"-10", u"250",
                                     u"25", u"2147483647", u"-2147483648", u"abc", u"99"};

template <size_t N>
std::u16string PickText(ByteReader& in, const char16_t* const (&table)[N]) {
    return table[in.Pick(N)];
}

std::u16string Number(int64_t value) {
    std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

class Run {
public:
    explicit Run(ByteReader& in) : in_(in) {}

    void Start() {
        platform::SimSystem& sim = platform::Simulation();
        switch (in_.Pick(kSetupCount)) {
            case kConsoleMadeBlock:
                sim.CreateBlock(vantrel::kCommandBlockName, vantrel::kCommandBlockSize);
                break;
            case kSmallBlock:
                sim.CreateBlock(vantrel::kCommandBlockName, 100);
                break;
            case kMappingRefused:
                sim.SetMappingFailure(platform::kErrorAccessDenied);
                break;
            default:
                break;
        }
        sim.CreateBlock(vantrel::kHandshakeBlockName, 8192);
        console_ = sim.CreateWindowWithTitle(vantrel::kConsoleTitle);

        root_ = standin::NewConfigRoot(L"scenes");
        XElement* container = standin::AsXElement(root_)->CreateElement(L"sources");
        container->SetString(L"sceneGuid", L"{00000000-0000-0000-0000-000000000001}");
        XElement* sourceElement = container->CreateElement(L"fx");
        data_ = sourceElement->CreateElement(L"data");
        scene_ = standin::NewScene();
        standin::AddSceneItem(scene_, sourceElement);
        standin::SetCurrentScene(scene_);

        baseline_ = fuzzsupport::TakeBaseline();
        source_ = static_cast<vantrel::VoteImageSource*>(vantrel::CreateBitmapSource(data_));
        FUZZ_CHECK(source_ != nullptr);
    }

    void Step() {
        platform::SimSystem& sim = platform::Simulation();
        switch (in_.Pick(kOpCount)) {
            case kWriteCommand:
                sim.WriteBlockText(vantrel::kCommandBlockName, CommandText());
                break;
            case kWriteText: {
                const std::vector<uint8_t> bytes = in_.Bytes(2 * size_t{in_.Byte()});
                std::u16string text;
                for (size_t i = 0; i + 1 < bytes.size(); i += 2)
                    text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
                sim.WriteBlockText(vantrel::kCommandBlockName, text);
                break;
            }
            case kAdvance:
                Advance(Seconds());
                break;
            case kFrames:
                Frames(in_.Byte());
                break;
            case kDraw:
                Draw();
                break;
            case kConsole:
                Console();
                break;
            case kOutput:
                standin::SetOutputActive(in_.Byte() != 0);
                break;
            case kBlockFault:
                BlockFault();
                break;
            case kSetting:
                Setting();
                break;
            case kScene:
                Scene();
                break;
            case kAllocationFault: {
                const uint8_t n = in_.Byte();
                standin::FailAllocationAt(n == 255 ? -1 : n);
                break;
            }
            case kTextureFault:
                standin::SetTextureCreationFails(in_.Byte() != 0);
                break;
            case kChangeFile:
                ChangeFixture(in_);
                break;
            case kSecondSource:
                SecondSource();
                break;
            case kCanvas:
                Canvas();
                break;
            default:
                break;
        }
        Check();
    }

    void Finish() {
        standin::ClearAllocationFailures();
        delete second_;
        delete source_;
        fuzzsupport::CheckBackAt(baseline_);
        standin::SetCurrentScene(nullptr);
        standin::DeleteScene(scene_);
        standin::DeleteConfigRoot(root_);
    }

private:
    std::u16string CommandText() {
        std::u16string id;
        switch (in_.Pick(12)) {
            case 0:
                id = Number(nextId_++);
                break;
            case 1:
                id = Number(nextId_ - 1);
                break;
            case 2:
                id = u"-1";
                break;
            case 3:
                id = u"-2";
                break;
            case 4:
                id = u"0";
                break;
            case 5:
                id = u"2147483647";
                break;
            case 6:
                id = u"-2147483648";
                break;
            case 7:
                id = u"99999999999";
                break;
            case 8:
                id = u" +" + Number(nextId_++);
                break;
            case 9:
                id = Number(nextId_++) + u"abc";
                break;
            case 10:
                id = u"abc";
                break;
            default:
                id = Number(-2 - nextId_++);
                break;
        }
        const std::u16string path = PathText(in_.Pick(kPathCount));
        const std::u16string width = PickText(in_, kSizes);
        const std::u16string height = PickText(in_, kSizes);
        const std::u16string effect = PickText(in_, kEffectIds);
        const std::u16string x = PickText(in_, kPercents);
        const std::u16string y = PickText(in_, kPercents);
        const std::u16string fields[8] = {id, path, width, height, u"x", effect, x, y};
        std::u16string text;
        switch (in_.Pick(7)) {
            case 0:  // bars at both ends and doubled between fields
                text = u"|";
                for (const auto& field : fields)
                    text += field + u"||";
                return text;
            case 1:  // the placeholder field left empty: seven fields, no command
                return id + u"|" + path + u"|" + width + u"|" + height + u"||" + effect + u"|" + x +
                       u"|" + y;
            case 2:  // seventeen fields
                for (const auto& field : fields)
                    text += field + u"|";
                for (int i = 0; i < 9; ++i)
                    text += u"extra|";
                return text;
            case 3:  // longer than the reader's copy holds
                for (const auto& field : fields)
                    text += field + u"|";
                return text + std::u16string(1500, u'z');
            case 4:  // the id alone
                return id;
            case 5:  // white space around the numbers
                for (const auto& field : fields)
                    text += u" " + field + u"\t|";
                return text;
            default:
                for (const auto& field : fields)
                    text += (text.empty() ? u"" : u"|") + field;
                return text;
        }
    }

    float Seconds() {
        static const float kChoices[] = {0.016f, 0.021f, 0.025f, 0.1f,      0.5f, 1.0f,  2.5f,
                                         0.0f,   -1.0f,  kNaN,   kInfinity, 1e9f, 1e-9f, 0.02f};
        return kChoices[in_.Pick(sizeof(kChoices) / sizeof(kChoices[0]))];
    }

    void Advance(float seconds) {
        const size_t views = platform::Simulation().OpenViewCount();
        source_->Advance(seconds);
        if (second_)
            second_->Advance(seconds);
        // Every view a poll maps is given back within the poll.
        FUZZ_CHECK(platform::Simulation().OpenViewCount() == views);
    }

    // A run of ordinary frames with nothing else going on logs a handful of lines per source at
    // most: a command being applied (stop, the load's failure and its bad frames, start), a
    // reload, a live report every two seconds; never a line per frame.
    void Frames(unsigned count) {
        const size_t logged = standin::LogRecords().size();
        for (unsigned i = 0; i < count; ++i)
            Advance(0.016f);
        const size_t sources = second_ ? 2 : 1;
        FUZZ_CHECK(standin::LogRecords().size() <= logged + sources * (10 + count / 50));
    }

    void Draw() {
        static const Vect2 kPositions[] = {{0, 0},       {10, 10},     {-100, -100},
                                           {1e9f, 1e9f}, {kNaN, kNaN}, {1919, 1079}};
        static const Vect2 kSizes2[] = {
            {0, 0}, {100, 100}, {-50, 50}, {1e9f, 1e9f}, {kInfinity, kInfinity}, {1920, 1080}};
        const Vect2 pos = kPositions[in_.Pick(sizeof(kPositions) / sizeof(kPositions[0]))];
        const Vect2 size = kSizes2[in_.Pick(sizeof(kSizes2) / sizeof(kSizes2[0]))];
        source_->Draw(pos, size);
    }

    void Console() {
        platform::SimSystem& sim = platform::Simulation();
        switch (in_.Pick(5)) {
            case 0:
                if (!console_)
                    console_ = sim.CreateWindowWithTitle(vantrel::kConsoleTitle);
                break;
            case 1:
                if (console_)
                    sim.DestroyWindow(console_);
                console_ = nullptr;
                break;
            case 2:
                if (console_)
                    sim.SetWindowHung(console_, true);
                break;
            case 3:
                if (console_)
                    sim.SetWindowHung(console_, false);
                break;
            default:
                sim.CloseWindowAfterNextLookup(true);
                // The window is gone after the next lookup: forget it so that a later "open"
                // makes a new one (a second window of the same title would also be sound).
                console_ = nullptr;
                break;
        }
    }

    void BlockFault() {
        platform::SimSystem& sim = platform::Simulation();
        switch (in_.Pick(5)) {
            case 0:
                sim.SetViewFailure(platform::kErrorAccessDenied);
                break;
            case 1:
                sim.SetViewFailure(0);
                break;
            case 2:
                sim.SetMappingFailure(platform::kErrorNotEnoughMemory);
                break;
            case 3:
                sim.SetMappingFailure(0);
                break;
            default:
                sim.ReleaseBlock(vantrel::kCommandBlockName);
                break;
        }
    }

    void Setting() {
        static const wchar_t* const kKeys[] = {L"useColorKey", L"keyColor", L"keySimilarity",
                                               L"keyBlend",    L"opacity",  L"color",
                                               L"monitor",     L"path"};
        static const int kValues[] = {0, 1, -1, 100, 101, 255, INT32_MIN, INT32_MAX};
        const size_t key = in_.Pick(sizeof(kKeys) / sizeof(kKeys[0]));
        if (key == 7) {
            const std::u16string path = PathText(in_.Pick(kPathCount));
            data_->SetString(L"path", std::wstring(path.begin(), path.end()).c_str());
        } else {
            data_->SetInt(kKeys[key], kValues[in_.Pick(sizeof(kValues) / sizeof(kValues[0]))]);
        }
        source_->ApplySettings();
    }

    void Scene() {
        platform::SimSystem& sim = platform::Simulation();
        switch (in_.Pick(5)) {
            case 0:
                source_->SceneBegin();
                break;
            case 1:
                source_->SceneEnd();
                break;
            case 2:
                vantrel::ConfigureBitmapSource(data_->GetParent(), false);
                break;
            case 3:
                sim.SetCalendarSeconds(sim.CalendarSeconds() + 1);
                break;
            default:
                sim.SetCalendarSeconds(sim.CalendarSeconds() + 3);
                break;
        }
    }

    // Sources share the command block, the handshake state and the console.
    void SecondSource() {
        if (second_) {
            delete second_;
            second_ = nullptr;
            return;
        }
        if (!secondData_)
            secondData_ =
                data_->GetParent()->GetParent()->CreateElement(L"fx2")->CreateElement(L"data");
        const uint64_t refusedBefore = standin::AllocatorStats().failures;
        second_ = vantrel::CreateBitmapSource(secondData_);
        // Only a refused allocation (an injected fault) may leave it unmade.
        FUZZ_CHECK(second_ != nullptr || standin::AllocatorStats().failures > refusedBefore);
    }

    void Canvas() {
        static const uint32_t kCanvases[][2] = {
            {1920, 1080}, {0, 0}, {1, 1}, {640, 360}, {3, 9000}};
        const auto& canvas = kCanvases[in_.Pick(sizeof(kCanvases) / sizeof(kCanvases[0]))];
        standin::SetCanvasSize(canvas[0], canvas[1]);
    }

    void Check() {
        const vantrel::VoteImageSource::State state = source_->Snapshot();
        fuzzsupport::CheckImage(*state.image);
        const Vect2 size = source_->QuerySize();
        FUZZ_CHECK(size.x == state.image->width && size.y == state.image->height);
        FUZZ_CHECK(state.pollTimer >= 0.0f && std::isfinite(state.pollTimer));
        FUZZ_CHECK(state.liveReportTimer >= 0.0f && std::isfinite(state.liveReportTimer));
        FUZZ_CHECK(state.opacity >= 0 && state.opacity <= 100);
    }

    ByteReader& in_;
    standin::ConfigElement* root_ = nullptr;
    XElement* data_ = nullptr;
    standin::StandinScene* scene_ = nullptr;
    platform::WindowHandle console_ = nullptr;
    vantrel::VoteImageSource* source_ = nullptr;
    XElement* secondData_ = nullptr;
    ImageSource* second_ = nullptr;
    fuzzsupport::Baseline baseline_{};
    int64_t nextId_ = 1;
};

// Steps per input at most: enough for long stories, few enough to keep each run short.
constexpr int kMaxSteps = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::BeginInput();
    WriteFixtures();
    ByteReader in(data, size);
    Run run(in);
    run.Start();
    for (int step = 0; step < kMaxSteps && !in.Empty(); ++step)
        run.Step();
    run.Finish();
    return 0;
}
