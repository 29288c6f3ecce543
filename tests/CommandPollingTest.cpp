#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"

using testsupport::SourceTree;
using vantrel::VoteImageSource;

namespace {

// One source in a scene, the console running with its blocks made, and every log line and message
// recorded in one sequence.
class CommandPollingTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_.CreateBlock(vantrel::kCommandBlockName, vantrel::kCommandBlockSize);
        sim_.CreateBlock(vantrel::kHandshakeBlockName, 8192);
        console_ = sim_.CreateWindowWithTitle(vantrel::kConsoleTitle);
        sim_.SetMessageHandler([this](platform::WindowHandle, const platform::SimMessage& m) {
            events_.push_back(L"msg " + std::to_wstring(m.code) + L" " +
                              std::to_wstring(static_cast<intptr_t>(m.wParam)) + L" " +
                              std::to_wstring(m.lParam));
        });
        standin::SetLogListener([this](const standin::LogRecord& r) { events_.push_back(r.text); });
        standin::SetCanvasSize(1920, 1080);

        small_ = Png("small.png", 40, 20);
        big_ = Png("big.png", 300, 150);
        data_ = tree_.AddSource(L"fx");
        sourceElement_ = data_->GetParent();
        scene_ = standin::NewScene();
        standin::AddSceneItem(scene_, sourceElement_);
        standin::SetCurrentScene(scene_);
        source_ = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data_));
        ASSERT_NE(source_, nullptr);
        events_.clear();
    }
    void TearDown() override {
        delete source_;
        standin::SetLogListener(nullptr);
        sim_.SetMessageHandler(nullptr);
        standin::SetCurrentScene(nullptr);
        standin::DeleteScene(scene_);
    }

    std::wstring Png(const char* name, unsigned w, unsigned h) {
        return standin::FromUtf8(testsupport::WriteSolidPng(dir_.File(name), w, h, 0x336699FF));
    }
    void Command(const std::wstring& text) {
        std::u16string utf16(text.begin(), text.end());
        sim_.WriteBlockText(vantrel::kCommandBlockName, utf16);
    }
    // Frames long enough that every one polls.
    void Polls(int n) {
        for (int i = 0; i < n; ++i)
            source_->Advance(0.025f);
    }
    std::vector<platform::SimMessage> Messages() { return sim_.Messages(console_); }

    platform::SimSystem& sim_ = platform::Simulation();
    platform::WindowHandle console_ = nullptr;
    testsupport::TempDir dir_;
    SourceTree tree_;
    XElement* data_ = nullptr;
    XElement* sourceElement_ = nullptr;
    standin::StandinScene* scene_ = nullptr;
    VoteImageSource* source_ = nullptr;
    std::wstring small_, big_;
    std::vector<std::wstring> events_;
};

TEST_F(CommandPollingTest, ShowingCommandSetsPathSizeAndPlacement) {
    Command(L"5|" + small_ + L"|200|100|x|7|50|25");
    Polls(1);
    EXPECT_EQ(std::wstring(data_->GetString(L"path")), small_);
    EXPECT_EQ(source_->Snapshot().lastCommandId, 5);
    EXPECT_EQ(source_->Snapshot().effectId, 7);
    EXPECT_EQ(source_->Snapshot().drawWidth, 200);
    EXPECT_EQ(source_->Snapshot().drawHeight, 100);
    EXPECT_EQ(source_->Snapshot().commandWidth, 200);
    EXPECT_EQ(source_->Snapshot().drawX, 960);
    EXPECT_EQ(source_->Snapshot().drawY, 270);
    EXPECT_EQ(source_->QuerySize().x, 40.0f);
    auto messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 1056u);
    EXPECT_EQ(messages[0].wParam, 7u);
    EXPECT_EQ(messages[0].lParam, 0);
}

TEST_F(CommandPollingTest, NewEffectStopsTheOldOneFirst) {
    Command(L"1|" + small_ + L"|10|10|x|7|0|0");
    Polls(1);
    // Each event with the image's width at that moment: the reload comes between the two logs.
    auto width = [this] { return L" @" + std::to_wstring(int(source_->QuerySize().x)); };
    sim_.SetMessageHandler([&](platform::WindowHandle, const platform::SimMessage& m) {
        events_.push_back(L"msg " + std::to_wstring(m.code) + L" " +
                          std::to_wstring(static_cast<intptr_t>(m.wParam)) + L" " +
                          std::to_wstring(m.lParam) + width());
    });
    standin::SetLogListener(
        [&](const standin::LogRecord& r) { events_.push_back(r.text + width()); });
    events_.clear();
    Command(L"2|" + big_ + L"|10|10|x|9|0|0");
    Polls(1);
    std::vector<std::wstring> want = {L"msg 1056 7 -1 @40", L"stop play. @40", L"start play. @300",
                                      L"msg 1056 9 0 @300"};
    EXPECT_EQ(events_, want);
}

TEST_F(CommandPollingTest, ACommandIsAppliedOnceHoweverOftenItIsSeen) {
    Command(L"3|" + small_ + L"|10|10|x|4|0|0");
    Polls(10);
    EXPECT_EQ(testsupport::CountLog(L"start play."), 1u);
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(CommandPollingTest, FirstClearingIdMinusOneIsIgnoredMinusTwoClearsZeroShows) {
    data_->SetString(L"path", small_.c_str());
    source_->ApplySettings();
    Command(L"-1|a|b|c|d|e|f|g");
    Polls(1);
    EXPECT_EQ(std::wstring(data_->GetString(L"path")), small_);
    Command(L"-2");  // too few fields: no command at all
    Polls(1);
    EXPECT_EQ(std::wstring(data_->GetString(L"path")), small_);
    Command(L"-2|a|b|c|d|e|f|g");
    Polls(1);
    EXPECT_EQ(std::wstring(data_->GetString(L"path")), L"");
    EXPECT_EQ(source_->QuerySize().x, 32.0f);
    Command(L"0|" + small_ + L"|10|10|x|3|0|0");  // only a negative id clears
    Polls(1);
    EXPECT_EQ(std::wstring(data_->GetString(L"path")), small_);
}

TEST_F(CommandPollingTest, ClearingReportsNothingAndTheNextEffectStopsTheClearedOne) {
    Command(L"1|" + small_ + L"|30|20|x|7|50|25");
    Polls(1);
    events_.clear();
    Command(L"2|x|1|1|x|1|1|1");
    Command(L"-5|x|1|1|x|1|1|1");
    Polls(1);
    // Only the placeholder's own warning: no play message, no "start play.".
    std::vector<std::wstring> want = {L"BitmapImage::Init: Empty path"};
    EXPECT_EQ(events_, want);
    // The cleared effect's id, size and placement stay.
    EXPECT_EQ(source_->Snapshot().effectId, 7);
    EXPECT_EQ(source_->Snapshot().commandWidth, 30);
    EXPECT_EQ(source_->Snapshot().commandHeight, 20);
    EXPECT_EQ(source_->Snapshot().drawWidth, 30);
    EXPECT_EQ(source_->Snapshot().drawHeight, 20);
    EXPECT_EQ(source_->Snapshot().drawX, 960);
    EXPECT_EQ(source_->Snapshot().drawY, 270);
    events_.clear();
    Command(L"6|" + big_ + L"|10|10|x|9|0|0");
    Polls(1);
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ(events_[0], L"msg 1056 7 -1");
}

TEST_F(CommandPollingTest, EffectIdZeroOrNegativeAppliesSilently) {
    Command(L"1|" + small_ + L"|10|10|x|0|10|10");
    Polls(1);
    EXPECT_EQ(std::wstring(data_->GetString(L"path")), small_);
    EXPECT_EQ(source_->Snapshot().drawX, 192);
    // A negative id neither starts nor, when the next effect comes, stops.
    Command(L"2|" + big_ + L"|10|10|x|-3|10|10");
    Polls(1);
    Command(L"3|" + small_ + L"|10|10|x|-4|10|10");
    Polls(1);
    EXPECT_EQ(source_->Snapshot().lastCommandId, 3);
    EXPECT_TRUE(events_.empty());
}

// A poll needs strictly more than 20 ms: frames of exactly 20 ms poll on every second one too.
TEST_F(CommandPollingTest, PollsOnEverySecondFrameOfSixteenOrTwentyMilliseconds) {
    int id = 0;
    for (float seconds : {0.016f, 0.02f}) {
        int applied = 0;
        for (int frame = 1; frame <= 6; ++frame) {
            ++id;
            Command(std::to_wstring(id) + L"|" + small_ + L"|0|0|x|0|0|0");
            source_->Advance(seconds);
            if (source_->Snapshot().lastCommandId == id)
                ++applied;
            EXPECT_EQ(source_->Snapshot().lastCommandId == id, frame % 2 == 0)
                << seconds << " s, frame " << frame;
        }
        EXPECT_EQ(applied, 3);
    }
}

TEST_F(CommandPollingTest, LiveStateEveryTwoSecondsOnlyWithTheConsole) {
    standin::SetOutputActive(true);
    for (int i = 0; i < 100; ++i)
        source_->Advance(0.021f);  // 2.1 s
    auto messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 1057u);
    EXPECT_EQ(messages[0].wParam, 0u);
    EXPECT_EQ(messages[0].lParam, 1);
    EXPECT_EQ(testsupport::CountLog(L"isHostPlay: 1"), 1u);

    // The timer starts again from 0: with 0.9 s frames the next reports come on the third and
    // sixth frames, not on the fifth as a carried-over remainder would have it.
    for (int frame = 1; frame <= 6; ++frame) {
        source_->Advance(0.9f);
        EXPECT_EQ(testsupport::CountLog(L"isHostPlay: 1"), 1u + frame / 3) << "frame " << frame;
    }

    sim_.DestroyWindow(console_);
    for (int i = 0; i < 100; ++i)
        source_->Advance(0.021f);
    EXPECT_EQ(testsupport::CountLog(L"isHostPlay: 1"), 3u);
}

TEST_F(CommandPollingTest, WithoutTheConsoleEffectsStillApplyAndLog) {
    sim_.DestroyWindow(console_);
    Command(L"1|" + small_ + L"|10|10|x|7|0|0");
    Polls(1);
    Command(L"2|" + big_ + L"|10|10|x|8|0|0");
    Polls(1);
    std::vector<std::wstring> want = {L"start play.", L"stop play.", L"start play."};
    EXPECT_EQ(events_, want);
}

TEST_F(CommandPollingTest, SourceSizeFollowsTheEffectSize) {
    sourceElement_->SetInt(L"cx", 400);
    sourceElement_->SetInt(L"cy", 200);
    Command(L"1|" + big_ + L"|300|150|x|7|0|0");
    Polls(1);
    EXPECT_EQ(sourceElement_->GetInt(L"cx"), 300);
    EXPECT_EQ(sourceElement_->GetInt(L"cy"), 150);
    // The scene is refreshed before the item is looked up and takes its new size.
    std::vector<std::wstring> scene = {L"refresh", L"item fx", L"update fx 300 150"};
    EXPECT_EQ(standin::SceneEvents(), scene);

    // The user halves it; the next effect is 600 by 600.
    sourceElement_->SetInt(L"cx", 150);
    sourceElement_->SetInt(L"cy", 75);
    Command(L"2|" + Png("square.png", 600, 600) + L"|300|150|x|8|0|0");
    Polls(1);
    EXPECT_EQ(sourceElement_->GetInt(L"cx"), 300);
    EXPECT_EQ(sourceElement_->GetInt(L"cy"), 300);
    EXPECT_EQ(sourceElement_->GetInt(L"orix"), 600);
}

TEST_F(CommandPollingTest, NoRescaleForZeroSizeOrUnchangedImageSize) {
    Command(L"1|" + big_ + L"|0|0|x|7|0|0");
    Polls(1);
    EXPECT_FALSE(standin::HasKey(sourceElement_, L"orix"));
    Command(L"2|" + small_ + L"|10|10|x|7|0|0");
    Polls(1);
    EXPECT_EQ(sourceElement_->GetInt(L"orix"), 40);
    Command(L"3|" + Png("small2.png", 40, 20) + L"|10|10|x|7|0|0");
    sourceElement_->SetInt(L"orix", 1234);
    Polls(1);
    EXPECT_EQ(sourceElement_->GetInt(L"orix"), 1234);
}

// Only both sides 0 skip the rescale: a command that gives one side follows the new effect.
TEST_F(CommandPollingTest, OneSideOfZeroStillRescales) {
    Command(L"1|" + big_ + L"|0|150|x|7|0|0");
    Polls(1);
    EXPECT_EQ(sourceElement_->GetInt(L"orix"), 300);
    Command(L"2|" + small_ + L"|40|0|x|7|0|0");
    Polls(1);
    EXPECT_EQ(sourceElement_->GetInt(L"orix"), 40);
    EXPECT_EQ(sourceElement_->GetInt(L"oriy"), 20);
}

TEST(RescaleSourceSize, DegenerateStoredSizesTakeTheEffectSize) {
    SourceTree tree;
    XElement* source = tree.AddSource(L"fx")->GetParent();
    vantrel::RescaleSourceSize(source, 0, 50);
    EXPECT_FALSE(standin::HasKey(source, L"cx"));

    source->SetInt(L"cx", 100);
    source->SetInt(L"cy", 0);
    source->SetInt(L"orix", 0);
    vantrel::RescaleSourceSize(source, 64, 48);  // 100/0 and 0/0
    EXPECT_EQ(source->GetInt(L"cx"), 64);
    EXPECT_EQ(source->GetInt(L"cy"), 48);

    source->SetFloat(L"cx", 1e30f);
    source->SetInt(L"orix", 1);
    vantrel::RescaleSourceSize(source, 64, 48);  // far beyond 32 bits
    EXPECT_EQ(source->GetInt(L"cx"), 64);
}

TEST_F(CommandPollingTest, AnEmptyOrUnterminatedBlockIsNoCommand) {
    Polls(3);  // the block is all zeros
    EXPECT_EQ(source_->Snapshot().lastCommandId, -1);
    EXPECT_EQ(sim_.OpenViewCount(), 0u);

    uint8_t* block = sim_.BlockBytes(vantrel::kCommandBlockName);
    for (uint32_t i = 0; i < vantrel::kCommandBlockSize; i += 2) {
        block[i] = '7';
        block[i + 1] = 0;
    }
    Polls(2);
    EXPECT_EQ(source_->Snapshot().lastCommandId, -1);
    Command(L"4|" + small_ + L"|1|1|x|0|0|0");
    Polls(1);
    EXPECT_EQ(source_->Snapshot().lastCommandId, 4);
    EXPECT_EQ(sim_.OpenViewCount(), 0u);
}

TEST_F(CommandPollingTest, AFailingViewIsReportedOnceUntilAViewWorksAgain) {
    sim_.SetViewFailure(platform::kErrorAccessDenied);
    Polls(20);
    const std::wstring warning = L"VoteImageSource::Advance: Could not map view of file";
    EXPECT_EQ(testsupport::CountLog(warning), 1u);
    sim_.SetViewFailure(0);
    Polls(1);
    sim_.SetViewFailure(platform::kErrorAccessDenied);
    Polls(5);
    EXPECT_EQ(testsupport::CountLog(warning), 2u);
}

TEST_F(CommandPollingTest, HungConsoleDoesNotHoldTheFrame) {
    sim_.SetWindowHung(console_, true);
    Command(L"1|" + small_ + L"|10|10|x|7|0|0");
    Polls(1);
    EXPECT_EQ(source_->Snapshot().effectId, 7);
    EXPECT_TRUE(Messages().empty());
}

// No scene identifier, no block or no view: the frame's update ends there, live report included.
TEST_F(CommandPollingTest, APollThatEndsEarlyEndsTheFrame) {
    standin::SetOutputActive(true);
    Command(L"1|" + small_ + L"|10|10|x|7|0|0");
    for (int cause = 0; cause < 3; ++cause) {
        SCOPED_TRACE(cause);
        if (cause == 0)
            tree_.container->SetString(L"sceneGuid", L"");
        else
            tree_.container->SetString(L"sceneGuid", L"scene");
        sim_.SetMappingFailure(cause == 1 ? platform::kErrorAccessDenied : 0);
        sim_.SetViewFailure(cause == 2 ? platform::kErrorAccessDenied : 0);
        Polls(100);  // 2.5 s
        EXPECT_EQ(source_->Snapshot().lastCommandId, -1);
        EXPECT_TRUE(Messages().empty());
        if (cause < 2) {
            EXPECT_EQ(source_->Snapshot().commandMapping, nullptr);
        }
    }
}

TEST_F(CommandPollingTest, SceneEndTellsTheConsoleTheHostIsNotLive) {
    source_->SceneEnd();
    auto messages = Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 1057u);
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(testsupport::CountLog(L"isHostPlay: 0"), 1u);
    sim_.DestroyWindow(console_);
    source_->SceneEnd();
    EXPECT_EQ(testsupport::CountLog(L"isHostPlay: 0"), 1u);
}

TEST_F(CommandPollingTest, SceneBeginMakesTheSourceIdentifierAndHandsItToTheConsole) {
    // Without a source identifier the console is not told, and the next scene start goes on.
    sim_.SetCalendarSeconds(4999);
    sim_.SetGuidFails(true);
    source_->SceneBegin();
    EXPECT_TRUE(Messages().empty());
    sim_.SetGuidFails(false);
    sim_.SetCalendarSeconds(5000);
    source_->SceneBegin();
    std::wstring guid = data_->GetString(L"guid", L"");
    ASSERT_EQ(guid.size(), 38u);
    std::wstring scene = tree_.container->GetString(L"sceneGuid", L"");
    ASSERT_EQ(scene.size(), 38u);
    // The whole text, each identifier in its place: the console ties commands and reports to the
    // source by the last field.
    std::u16string text = sim_.ReadBlockText(vantrel::kHandshakeBlockName);
    EXPECT_EQ(std::wstring(text.begin(), text.end()),
              std::to_wstring(sim_.ProcessId()) + L"|" + scene + L"|" + guid);
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().back().code, 1045u);
}

}  // namespace
