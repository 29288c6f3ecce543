// The stand-in's CPU graphics: textures and their formats, the compositor's alpha, modulation,
// sampling and clipping, the colour-key shader file run on the CPU, and image files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "host/Alloc.h"
#include "host/Graphics.h"
#include "standin/Standin.h"
#include "support/GifBuilder.h"
#include "support/TestHost.h"

namespace {

using Pixel = std::vector<int>;

Pixel CanvasAt(unsigned x, unsigned y) {
    uint32_t width, height;
    API->GetCanvasSize(width, height);
    const auto& pixels = standin::CanvasPixels();
    size_t at = (static_cast<size_t>(y) * width + x) * 4;
    return {pixels[at], pixels[at + 1], pixels[at + 2], pixels[at + 3]};
}

void ExpectNear(const Pixel& have, const Pixel& want, const char* what) {
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(have[c], want[c], 1) << what << " channel " << c;
}

// An RGBA texture from pixels given as 0xRRGGBBAA.
Texture* RgbaTexture(unsigned width, unsigned height, const std::vector<uint32_t>& pixels) {
    std::vector<uint8_t> bytes;
    for (uint32_t p : pixels)
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(uint8_t(p >> shift));
    return GS->CreateTexture(width, height, GS_RGBA, bytes.data(), false, true);
}

// The shipped shader file, found from this source file's place in the tree (a compiler cache may
// make __FILE__ relative: the build then names the tree).
std::string SourceRoot() {
#if defined(SOURCE_DIR)
    return SOURCE_DIR;
#else
    std::string file = __FILE__;
    for (char& c : file)
        if (c == '\\')
            c = '/';
    auto at = file.rfind("/tests/");
    return at == std::string::npos ? std::string("..") : file.substr(0, at);
#endif
}

class StandinGraphics : public ::testing::Test {
protected:
    void SetUp() override {
        standin::SetCanvasSize(4, 4);
        standin::ClearCanvas(0x0000FFFF);  // opaque blue
    }
    void TearDown() override { standin::SetBaseDirectory(""); }
};

TEST_F(StandinGraphics, TextureFormatsBecomeRgba) {
    const uint8_t bgra[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t single[] = {9, 200};
    Texture* fromBgra = GS->CreateTexture(2, 1, GS_BGRA, bgra, false, false);
    Texture* fromRgba = GS->CreateTexture(2, 1, GS_RGBA, bgra, false, false);
    Texture* fromAlpha = GS->CreateTexture(2, 1, GS_ALPHA, single, false, false);
    Texture* fromGrey = GS->CreateTexture(2, 1, GS_GRAYSCALE, single, false, false);
    ASSERT_TRUE(fromBgra && fromRgba && fromAlpha && fromGrey);
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(standin::InspectTexture(fromBgra)->rgba, (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
    EXPECT_EQ(standin::InspectTexture(fromRgba)->rgba, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(standin::InspectTexture(fromAlpha)->rgba,
              (Bytes{255, 255, 255, 9, 255, 255, 255, 200}));
    EXPECT_EQ(standin::InspectTexture(fromGrey)->rgba, (Bytes{9, 9, 9, 255, 200, 200, 200, 255}));
    EXPECT_EQ(fromBgra->GetWidth(), 2u);
    EXPECT_EQ(fromBgra->GetHeight(), 1u);
    EXPECT_EQ(standin::InspectTexture(fromBgra)->createdFormat, GS_BGRA);
    EXPECT_EQ(standin::LiveTextureCount(), 4u);
    for (Texture* t : {fromBgra, fromRgba, fromAlpha, fromGrey})
        delete t;
    EXPECT_EQ(standin::LiveTextureCount(), 0u);
    EXPECT_EQ(standin::InspectTexture(fromBgra), nullptr);

    EXPECT_EQ(GS->CreateTexture(2, 1, 7, bgra, false, false), nullptr);
    EXPECT_EQ(GS->CreateTexture(0, 1, GS_RGBA, bgra, false, false), nullptr);
    EXPECT_EQ(GS->CreateTexture(100000, 100000, GS_RGBA, nullptr, false, false), nullptr);
    standin::SetTextureCreationFails(true);
    EXPECT_EQ(GS->CreateTexture(2, 1, GS_RGBA, bgra, false, false), nullptr);
    standin::SetTextureCreationFails(false);
    standin::FailAllocationAt(0);  // the texture object itself comes from MainAllocator
    EXPECT_EQ(GS->CreateTexture(2, 1, GS_RGBA, bgra, false, false), nullptr);
    EXPECT_EQ(standin::LiveTextureCount(), 0u);
}

TEST_F(StandinGraphics, UploadsReplacePixelsOfDynamicTexturesOnly) {
    Texture* dynamic = GS->CreateTexture(2, 2, GS_RGBA, nullptr, false, false);
    Texture* still = GS->CreateTexture(1, 1, GS_RGBA, nullptr, false, true);
    ASSERT_TRUE(dynamic && still);
    // Rows 12 bytes apart: the last 4 bytes of each row are padding.
    const uint8_t rows[] = {1, 2, 3, 4, 5, 6, 7, 8, 99, 99, 99, 99, 9, 10, 11, 12, 13, 14, 15, 16};
    dynamic->UploadPixels(rows, GS_BGRA, 12);
    const auto* info = standin::InspectTexture(dynamic);
    EXPECT_EQ(info->uploads, 1u);
    EXPECT_EQ(info->rgba,
              (std::vector<uint8_t>{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}));
    dynamic->UploadPixels(rows, GS_BGRA, 4);  // shorter than a row: refused
    dynamic->UploadPixels(nullptr, GS_BGRA, 8);
    EXPECT_EQ(info->uploads, 1u);
    still->UploadPixels(rows, GS_RGBA, 4);
    EXPECT_EQ(standin::InspectTexture(still)->uploads, 0u);
    EXPECT_EQ(standin::InspectTexture(still)->rgba, (std::vector<uint8_t>{0, 0, 0, 0}));
    delete dynamic;
    delete still;
}

TEST_F(StandinGraphics, HalfAlphaSpriteBlendsOverTheCanvas) {
    Texture* red = RgbaTexture(1, 1, {0xFF0000FF});
    GS->DrawSprite(red, 0x80FFFFFF, 1, 1, 3, 3);
    // 128/255 of red over blue.
    ExpectNear(CanvasAt(1, 1), {128, 0, 127, 255}, "inside");
    ExpectNear(CanvasAt(2, 2), {128, 0, 127, 255}, "inside");
    ExpectNear(CanvasAt(0, 0), {0, 0, 255, 255}, "outside");
    ExpectNear(CanvasAt(3, 3), {0, 0, 255, 255}, "outside");

    // A texel's own alpha multiplies the sprite's; over a transparent canvas the alpha adds up.
    standin::ClearCanvas(0x00000000);
    Texture* halfWhite = RgbaTexture(1, 1, {0xFFFFFF80});
    GS->DrawSprite(halfWhite, 0x80FFFFFF, 0, 0, 1, 1);
    ExpectNear(CanvasAt(0, 0), {64, 64, 64, 64}, "quarter");
    GS->DrawSprite(halfWhite, 0xFFFFFFFF, 0, 0, 1, 1);
    ExpectNear(CanvasAt(0, 0), {160, 160, 160, 160}, "stacked");
    delete red;
    delete halfWhite;
}

TEST_F(StandinGraphics, SpriteColourModulatesAndSamplingIsLinear) {
    Texture* white = RgbaTexture(1, 1, {0xFFFFFFFF});
    GS->DrawSprite(white, 0xFF336699, 0, 0, 1, 1);
    ExpectNear(CanvasAt(0, 0), {0x33, 0x66, 0x99, 255}, "modulated");
    // Stretched to 4 pixels, whose centres fall a quarter and three quarters between the two
    // texel centres, and clamped past them.
    Texture* stripes = RgbaTexture(2, 1, {0xFF0000FF, 0x00FF00FF});
    GS->DrawSprite(stripes, 0xFFFFFFFF, 0, 1, 4, 2);
    ExpectNear(CanvasAt(0, 1), {255, 0, 0, 255}, "0");
    ExpectNear(CanvasAt(1, 1), {191, 64, 0, 255}, "1");
    ExpectNear(CanvasAt(2, 1), {64, 191, 0, 255}, "2");
    ExpectNear(CanvasAt(3, 1), {0, 255, 0, 255}, "3");
    GS->DrawSprite(white, 0x00FFFFFF, 0, 2, 4, 3);  // alpha 0 draws nothing
    ExpectNear(CanvasAt(0, 2), {0, 0, 255, 255}, "invisible");
    delete white;
    delete stripes;
}

TEST_F(StandinGraphics, RectanglesAreClippedAndEmptyOnesDrawNothing) {
    Texture* red = RgbaTexture(1, 1, {0xFF0000FF});
    std::vector<uint8_t> before = standin::CanvasPixels();
    GS->DrawSprite(red, 0xFFFFFFFF, 2, 2, 2, 4);      // no width
    GS->DrawSprite(red, 0xFFFFFFFF, 3, 3, 1, 1);      // inverted
    GS->DrawSprite(red, 0xFFFFFFFF, 10, 10, 20, 20);  // off the canvas
    GS->DrawSprite(red, 0xFFFFFFFF, NAN, 0, 2, 2);    // not a number
    GS->DrawSprite(red, 0xFFFFFFFF, -INFINITY, 0, INFINITY, 2);
    GS->DrawSprite(nullptr, 0xFFFFFFFF, 0, 0, 4, 4);  // no texture
    EXPECT_EQ(standin::CanvasPixels(), before);
    EXPECT_EQ(standin::GraphicsEvents().size(), 6u);  // every call is still recorded

    GS->DrawSprite(red, 0xFFFFFFFF, -1e9f, -5, 2, 2);  // hangs over the top-left corner
    ExpectNear(CanvasAt(0, 0), {255, 0, 0, 255}, "clipped in");
    ExpectNear(CanvasAt(1, 1), {255, 0, 0, 255}, "clipped in");
    ExpectNear(CanvasAt(2, 2), {0, 0, 255, 255}, "beyond");
    auto events = standin::GraphicsEvents();
    EXPECT_EQ(events.back().kind, standin::GraphicsEventKind::DrawSprite);
    EXPECT_EQ(events.back().texture, red);
    EXPECT_EQ(events.back().x, -1e9f);
    EXPECT_EQ(events.back().y2, 2.0f);
    EXPECT_EQ(events.back().shader, nullptr);
    delete red;
}

TEST_F(StandinGraphics, ColourKeyShaderRunsOnTheCpu) {
    standin::SetBaseDirectory(SourceRoot());
    Shader* shader = GS->CreatePixelShaderFromFile(L"shaders\\ColorKey_RGB.pShader");
    ASSERT_NE(shader, nullptr);
    EXPECT_EQ(standin::LiveShaderCount(), 1u);
    for (unsigned i = 0; i < 5; ++i)
        EXPECT_NE(shader->ParameterByIndex(i), nullptr) << i;
    EXPECT_EQ(shader->ParameterByIndex(5), nullptr);

    // Key green; similarity 0.1, blend 0.2. Texels: the key, red (far), and green with red 0.2
    // (distance 0.2: halfway up the ramp).
    Texture* texture = RgbaTexture(3, 1, {0x00FF00FF, 0xFF0000FF, 0x33FF00FF});
    standin::ClearCanvas(0x00000000);
    GS->BindPixelShader(shader);
    shader->SetColor(shader->ParameterByIndex(2), 0xFF00FF00);
    shader->SetParameterFloat(shader->ParameterByIndex(3), 0.1f);
    shader->SetParameterFloat(shader->ParameterByIndex(4), 0.2f);
    shader->SetParameterFloat(nullptr, 5.0f);  // ignored
    GS->DrawSprite(texture, 0xFFFFFFFF, 0, 0, 3, 1);
    ExpectNear(CanvasAt(0, 0), {0, 0, 0, 0}, "key colour vanishes");
    ExpectNear(CanvasAt(1, 0), {255, 0, 0, 255}, "far colour stays");
    ExpectNear(CanvasAt(2, 0), {26, 128, 0, 128}, "blend range is partly transparent");

    // The sprite's alpha multiplies the keyed result.
    GS->DrawSprite(texture, 0x80FFFFFF, 0, 1, 3, 2);
    ExpectNear(CanvasAt(0, 1), {0, 0, 0, 0}, "key, half alpha");
    ExpectNear(CanvasAt(1, 1), {128, 0, 0, 128}, "far, half alpha");

    // Unbound, the key is not applied.
    GS->BindPixelShader(nullptr);
    GS->DrawSprite(texture, 0xFFFFFFFF, 0, 2, 3, 3);
    ExpectNear(CanvasAt(0, 2), {0, 255, 0, 255}, "no shader");

    auto events = standin::GraphicsEvents();
    ASSERT_EQ(events.size(), 8u);
    using Kind = standin::GraphicsEventKind;
    EXPECT_EQ(events[0].kind, Kind::BindShader);
    EXPECT_EQ(events[0].shader, shader);
    EXPECT_EQ(events[1].kind, Kind::SetColor);
    EXPECT_EQ(events[1].parameter, 2u);
    EXPECT_EQ(events[1].color, 0xFF00FF00u);
    EXPECT_EQ(events[3].kind, Kind::SetFloat);
    EXPECT_EQ(events[3].parameter, 4u);
    EXPECT_EQ(events[3].value, 0.2f);
    EXPECT_EQ(events[4].kind, Kind::DrawSprite);
    EXPECT_EQ(events[4].shader, shader);
    EXPECT_EQ(events[7].shader, nullptr);

    // A shader deleted while bound is unbound with it.
    GS->BindPixelShader(shader);
    delete shader;
    EXPECT_EQ(GS->CurrentPixelShader(), nullptr);
    EXPECT_EQ(standin::LiveShaderCount(), 0u);
    delete texture;
}

TEST_F(StandinGraphics, UnknownOrMissingShaderFilesGiveNoShader) {
    testsupport::TempDir dir;
    standin::SetBaseDirectory(dir.path());
    std::string plain =
        "uniform float4 colorKey;\nuniform float similarity;\nuniform float blend;\n";
    dir.Write("other.pShader", {plain.begin(), plain.end()});
    std::string wrongOrder =
        "// program: colorkey-rgb\nuniform Texture2D t;\nuniform float4 c;\nuniform float "
        "similarity;\nuniform float4 colorKey;\nuniform float blend;\n";
    dir.Write("shuffled.pShader", {wrongOrder.begin(), wrongOrder.end()});
    EXPECT_EQ(GS->CreatePixelShaderFromFile(L"other.pShader"), nullptr);
    EXPECT_EQ(GS->CreatePixelShaderFromFile(L"shuffled.pShader"), nullptr);
    EXPECT_EQ(GS->CreatePixelShaderFromFile(L"shaders\\missing.pShader"), nullptr);
    EXPECT_EQ(GS->CreatePixelShaderFromFile(nullptr), nullptr);
    EXPECT_EQ(standin::LiveShaderCount(), 0u);
}

TEST_F(StandinGraphics, ImageFilesLoadAsStaticTextures) {
    testsupport::TempDir dir;
    standin::SetBaseDirectory(dir.path());
    std::vector<uint8_t> rgba = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 0, 1, 2, 3, 4};
    ASSERT_TRUE(standin::WritePng(dir.File("still.png"), 2, 2, rgba));
    Texture* still = GS->CreateTextureFromFile(L"still.png", true);
    ASSERT_NE(still, nullptr);
    const auto* info = standin::InspectTexture(still);
    EXPECT_EQ(info->width, 2u);
    EXPECT_EQ(info->height, 2u);
    EXPECT_TRUE(info->isStatic);
    EXPECT_EQ(info->rgba, rgba);
    delete still;

    // A GIF's first frame through libnsgif: palette colours, and the transparent index clear.
    testsupport::GifFrame frame;
    frame.width = 3;
    frame.indices = {2, 3, 1};
    frame.delayCs = 10;
    frame.transparentIndex = 1;
    testsupport::GifFrame second = testsupport::GifFrame::Solid(3, 1, 0);
    dir.Write("anim.gif", testsupport::GifBuilder(3, 1).Frame(frame).Frame(second).Build());
    unsigned width = 0, height = 0;
    std::vector<uint8_t> pixels;
    ASSERT_TRUE(standin::ReadImage(dir.File("anim.gif"), width, height, pixels));
    EXPECT_EQ(width, 3u);
    EXPECT_EQ(height, 1u);
    ASSERT_EQ(pixels.size(), 12u);
    EXPECT_EQ(std::vector<uint8_t>(pixels.begin(), pixels.begin() + 8),
              (std::vector<uint8_t>{255, 0, 0, 255, 0, 255, 0, 255}));
    EXPECT_EQ(pixels[11], 0);

    dir.Write("broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
    dir.Write("broken.gif", testsupport::Truncated(testsupport::GifBuilder(3, 1).Build(), 8));
    EXPECT_EQ(GS->CreateTextureFromFile(L"broken.png", true), nullptr);
    EXPECT_EQ(GS->CreateTextureFromFile(L"broken.gif", true), nullptr);
    EXPECT_EQ(GS->CreateTextureFromFile(L"missing.png", true), nullptr);
    standin::SetTextureCreationFails(true);
    EXPECT_EQ(GS->CreateTextureFromFile(L"still.png", true), nullptr);
    EXPECT_EQ(standin::LiveTextureCount(), 0u);
}

TEST_F(StandinGraphics, CanvasSizeAndPng) {
    uint32_t width = 0, height = 0;
    API->GetCanvasSize(width, height);
    EXPECT_EQ(width, 4u);
    EXPECT_EQ(height, 4u);
    standin::SetCanvasPixels(std::vector<uint8_t>(8, 1));  // wrong size: refused
    EXPECT_EQ(CanvasAt(0, 0), (Pixel{0, 0, 255, 255}));
    std::vector<uint8_t> pattern(4 * 4 * 4);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<uint8_t>(i * 7);
    standin::SetCanvasPixels(pattern);

    testsupport::TempDir dir;
    ASSERT_TRUE(standin::WriteCanvasPng(dir.File("canvas.png")));
    std::vector<uint8_t> read;
    ASSERT_TRUE(standin::ReadImage(dir.File("canvas.png"), width, height, read));
    EXPECT_EQ(read, pattern);

    standin::Reset();
    API->GetCanvasSize(width, height);
    EXPECT_EQ(width, 1920u);
    EXPECT_EQ(height, 1080u);
}

}  // namespace
