#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "controller/ConsoleProtocol.h"
#include "platform/SimPlatform.h"
#include "plugin/PluginEntry.h"
#include "source/VoteImageSource.h"
#include "support/SourceTree.h"
#include "support/TestHost.h"

using standin::GraphicsEvent;
using standin::GraphicsEventKind;
using testsupport::SourceTree;
using vantrel::VoteImageSource;

namespace {

// A source showing a small red PNG, with the settings given, and its drawing record cleared.
class DrawingTest : public ::testing::Test {
protected:
    void MakeSource(bool useColorKey, int opacity, int color) {
        data_ = tree_.AddSource(L"fx");
        data_->SetString(L"path", standin::FromUtf8(testsupport::WriteSolidPng(dir_.File("red.png"),
                                                                               4, 4, 0xFF0000FF))
                                      .c_str());
        data_->SetInt(L"useColorKey", useColorKey ? 1 : 0);
        data_->SetInt(L"opacity", opacity);
        data_->SetInt(L"color", color);
        source_ = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data_));
        ASSERT_NE(source_, nullptr);
        standin::ClearGraphicsEvents();
    }
    void TearDown() override { delete source_; }

    std::vector<GraphicsEvent> Draws() {
        std::vector<GraphicsEvent> draws;
        for (const auto& e : standin::GraphicsEvents())
            if (e.kind == GraphicsEventKind::DrawSprite)
                draws.push_back(e);
        return draws;
    }
    GraphicsEvent OnlyDraw() {
        auto draws = Draws();
        EXPECT_EQ(draws.size(), 1u);
        return draws.empty() ? GraphicsEvent{} : draws[0];
    }

    testsupport::TempDir dir_;
    SourceTree tree_;
    XElement* data_ = nullptr;
    VoteImageSource* source_ = nullptr;
};

void ExpectRect(const GraphicsEvent& e, float x, float y, float x2, float y2) {
    EXPECT_EQ(e.x, x);
    EXPECT_EQ(e.y, y);
    EXPECT_EQ(e.x2, x2);
    EXPECT_EQ(e.y2, y2);
}

TEST_F(DrawingTest, KeyedPathAppliesOpacityAndKeepsTheLowColourBits) {
    struct Case {
        int opacity;
        uint32_t want;
    } cases[] = {{50, 0x7F345678u},
                 {0, 0x00345678u},
                 {100, 0xFF345678u},
                 {1, 0x02345678u},
                 {99, 0xFC345678u}};
    MakeSource(true, 50, 0x12345678);
    ASSERT_NE(source_->Snapshot().colorKeyShader, nullptr)
        << "the shader file should sit beside the tests";
    for (const Case& c : cases) {
        data_->SetInt(L"opacity", c.opacity);
        source_->ApplySettings();
        standin::ClearGraphicsEvents();
        source_->Draw(Vect2(10, 20), Vect2(30, 40));
        EXPECT_EQ(OnlyDraw().color, c.want) << "opacity " << c.opacity;
    }
}

TEST_F(DrawingTest, KeyedPathSetsItsParametersAndRestoresTheShader) {
    MakeSource(true, 100, -1);
    // A command places the effect and sizes it; the keyed path ignores both.
    platform::SimSystem& sim = platform::Simulation();
    sim.CreateBlock(vantrel::kCommandBlockName, vantrel::kCommandBlockSize);
    const std::wstring command =
        L"1|" + std::wstring(data_->GetString(L"path")) + L"|5|5|x|7|50|50";
    sim.WriteBlockText(vantrel::kCommandBlockName, std::u16string(command.begin(), command.end()));
    source_->Advance(0.025f);
    ASSERT_EQ(source_->Snapshot().drawWidth, 5);
    ASSERT_GE(source_->Snapshot().drawX, 0);
    standin::ClearGraphicsEvents();
    source_->Draw(Vect2(10, 20), Vect2(30, 40));

    auto events = standin::GraphicsEvents();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].kind, GraphicsEventKind::BindShader);
    EXPECT_EQ(events[0].shader, source_->Snapshot().colorKeyShader);
    EXPECT_EQ(events[1].kind, GraphicsEventKind::SetColor);
    EXPECT_EQ(events[1].parameter, 2u);
    EXPECT_EQ(events[1].color, 0xFFFFFFFFu);
    EXPECT_EQ(events[2].kind, GraphicsEventKind::SetFloat);
    EXPECT_EQ(events[2].parameter, 3u);
    EXPECT_EQ(events[2].value, 10.0f * 0.01f);
    EXPECT_EQ(events[3].parameter, 4u);
    EXPECT_EQ(events[3].value, 0.0f);
    EXPECT_EQ(events[4].kind, GraphicsEventKind::DrawSprite);
    EXPECT_EQ(events[4].shader, source_->Snapshot().colorKeyShader);
    ExpectRect(events[4], 10, 20, 40, 60);
    EXPECT_EQ(events[5].kind, GraphicsEventKind::BindShader);
    EXPECT_EQ(events[5].shader, nullptr);  // none was bound before

    // With a shader bound before, that one is bound again.
    Shader* other = GS->CreatePixelShaderFromFile(L"shaders\\ColorKey_RGB.pShader");
    GS->BindPixelShader(other);
    standin::ClearGraphicsEvents();
    source_->Draw(Vect2(0, 0), Vect2(1, 1));
    EXPECT_EQ(standin::GraphicsEvents().back().shader, other);
    GS->BindPixelShader(nullptr);
    delete other;
}

TEST_F(DrawingTest, KeyedPathWithoutItsShaderDrawsUnkeyedAndSaysSoOnce) {
    platform::Simulation().SetWorkingDirectory(L"C:\\Host");
    // Made where the host finds no shaders folder.
    const std::filesystem::path folder = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    MakeSource(true, 50, 0x12345678);
    std::filesystem::current_path(folder);
    ASSERT_EQ(source_->Snapshot().colorKeyShader, nullptr);
    source_->Draw(Vect2(1, 2), Vect2(3, 4));
    source_->Draw(Vect2(1, 2), Vect2(3, 4));
    auto events = standin::GraphicsEvents();
    ASSERT_EQ(events.size(), 2u);
    for (const auto& e : events) {
        EXPECT_EQ(e.kind, GraphicsEventKind::DrawSprite);
        EXPECT_EQ(e.color, 0x7F345678u);
        ExpectRect(e, 1, 2, 4, 6);
    }
    // Where the host looked, for a streamer who put the file elsewhere.
    size_t warnings = 0;
    for (const auto& r : standin::LogRecords())
        if (r.text.find(L"colour-key shader") != std::wstring::npos) {
            ++warnings;
            EXPECT_NE(r.text.find(L" C:\\Host\\shaders\\ColorKey_RGB.pShader;"), std::wstring::npos)
                << standin::ToUtf8(r.text);
        }
    EXPECT_EQ(warnings, 1u);
}

TEST_F(DrawingTest, PlainPathIsOpaqueWhateverTheOpacity) {
    MakeSource(false, 0, 0x12345678);
    source_->Draw(Vect2(0, 0), Vect2(8, 8));
    EXPECT_EQ(OnlyDraw().color, 0xFF345678u);
    EXPECT_EQ(OnlyDraw().shader, nullptr);
}

TEST_F(DrawingTest, PlainPathRectangleRules) {
    struct Case {
        const char* what;
        int drawX, drawY, drawWidth, drawHeight;
        float x, y, x2, y2;
    } cases[] = {
        {"no command yet", -1, -1, -1, -1, 10, 20, 40, 60},
        {"commanded corner and size", 100, 200, 50, 60, 100, 200, 150, 260},
        {"origin is a valid corner", 0, 0, 5, 5, 0, 0, 5, 5},
        {"corner with the host's size", 7, 9, -1, 50, 7, 9, 37, 49},
        {"empty rectangle", 3, 4, 0, 0, 3, 4, 3, 4},
        {"corner is all or nothing", 100, -1, 50, 60, 10, 20, 40, 60},
        {"sums past 32 bits", 2147483000, 5, 2000, 1, 2147483000.0f, 5, 2147485000.0f, 6},
    };
    for (const Case& c : cases) {
        const vantrel::SpriteRect at = vantrel::PlainSpriteRect(
            Vect2(10, 20), Vect2(30, 40), c.drawX, c.drawY, c.drawWidth, c.drawHeight);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(at.x, c.x);
        EXPECT_EQ(at.y, c.y);
        EXPECT_EQ(at.x2, c.x2);
        EXPECT_EQ(at.y2, c.y2);
    }
}

TEST_F(DrawingTest, NothingToShowDrawsNothingAndTouchesNoShader) {
    MakeSource(true, 100, -1);
    standin::SetTextureCreationFails(true);  // not even the placeholder is made
    source_->ApplySettings();
    standin::SetTextureCreationFails(false);
    ASSERT_EQ(source_->Snapshot().image->texture, nullptr);
    standin::ClearGraphicsEvents();
    source_->Draw(Vect2(0, 0), Vect2(8, 8));
    EXPECT_TRUE(standin::GraphicsEvents().empty());

    // An empty path: the placeholder gives the size but is not drawn.
    data_->SetString(L"path", L"");
    source_->ApplySettings();
    standin::ClearGraphicsEvents();
    source_->Draw(Vect2(0, 0), Vect2(8, 8));
    data_->SetInt(L"useColorKey", 0);
    source_->ApplySettings();
    source_->Draw(Vect2(0, 0), Vect2(8, 8));
    EXPECT_TRUE(standin::GraphicsEvents().empty());
    EXPECT_EQ(source_->QuerySize().x, 32.0f);

    // A file that fails to load shows the placeholder, so the streamer sees it is broken.
    data_->SetString(L"path", L"missing.png");
    source_->ApplySettings();
    standin::ClearGraphicsEvents();
    source_->Draw(Vect2(0, 0), Vect2(8, 8));
    EXPECT_EQ(Draws().size(), 1u);
}

TEST_F(DrawingTest, ColourKeyOnRealPixels) {
    // Over opaque black, from the left: cyan; blue, exactly 1.0 from cyan (100 * 0.01f is 1.0f);
    // yellow, cyan with red and blue swapped; cyan one step off; cyan 55/255 off (inside the
    // ramp of case 3). The key is cyan, whose red and blue differ.
    const std::vector<uint8_t> rgba = {0, 255, 255, 255, 0,   0,   255, 255, 255, 255,
                                       0, 255, 0,   254, 255, 255, 0,   200, 255, 255};
    std::string path = dir_.File("keyed.png");
    ASSERT_TRUE(standin::WritePng(path, 5, 1, rgba));
    // Per pixel: k keyed (black shows), s shown as it is, p partly.
    struct Case {
        int similarity, blend;
        const char* want;
    } cases[] = {
        {100, 0, "kkskk"},  // the boundary is keyed with blend 0 too; yellow is not the key
        {0, 0, "kssss"},    // similarity 0 keys the key colour itself
        {10, 40, "ksskp"},
        {static_cast<int>(0x80000000u), 0, "kkkkk"},  // both taken as unsigned: huge, not negative
        {0, static_cast<int>(0x80000000u), "kkkkk"},
    };
    data_ = tree_.AddSource(L"keyed");
    data_->SetString(L"path", standin::FromUtf8(path).c_str());
    data_->SetInt(L"useColorKey", 1);
    data_->SetInt(L"keyColor", static_cast<int>(0xFF00FFFFu));
    source_ = static_cast<VoteImageSource*>(vantrel::CreateBitmapSource(data_));
    ASSERT_NE(source_->Snapshot().colorKeyShader, nullptr);
    standin::SetCanvasSize(5, 1);
    for (const Case& c : cases) {
        data_->SetInt(L"keySimilarity", c.similarity);
        data_->SetInt(L"keyBlend", c.blend);
        source_->ApplySettings();
        standin::ClearCanvas(0x000000FFu);
        source_->Draw(Vect2(0, 0), Vect2(5, 1));
        const auto& canvas = standin::CanvasPixels();
        for (size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE(testing::Message() << "similarity " << c.similarity << " blend " << c.blend
                                            << " pixel " << i);
            int shown = canvas[4 * i] + canvas[4 * i + 1] + canvas[4 * i + 2];
            int own = rgba[4 * i] + rgba[4 * i + 1] + rgba[4 * i + 2];
            if (c.want[i] == 'k')
                EXPECT_EQ(shown, 0);
            else if (c.want[i] == 's')
                EXPECT_EQ(shown, own);
            else
                EXPECT_TRUE(shown > 0 && shown < own) << shown;
        }
    }
}

}  // namespace
