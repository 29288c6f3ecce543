// The colour-key shader file itself: compiled by a real HLSL front end (glslang) and run on a
// software GPU (lavapipe), its pixels compared with the stand-in's CPU twin of it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/Graphics.h"
#include "standin/Standin.h"
#include "support/Lavapipe.h"
#include "support/TestHost.h"

using testsupport::RgbaImage;

#ifdef __SANITIZE_ADDRESS__
// Lavapipe keeps a few blocks in its globals for as long as it is loaded, and the Vulkan loader
// unloads it when the instance goes: LeakSanitizer then finds them unreachable and can name no
// module to suppress them by. Leak checking is off in this program alone; AddressSanitizer and
// UBSan still check it.
extern "C" const char* __lsan_default_options() {
    return "detect_leaks=0";
}
#endif

namespace {

// A full-screen triangle whose texture coordinates run from 0,0 at the target's top-left to 1,1
// at its bottom-right, so each pixel's centre samples where the host's sprite would.
const char kVertexShader[] = R"(
struct VertData
{
    float4 pos : SV_Position;
    float2 texCoord : TexCoord0;
};

VertData main(uint id : SV_VertexID)
{
    VertData output;
    float2 corner = float2((id << 1) & 2, id & 2);
    output.pos = float4(corner * 2.0 - 1.0, 0.0, 1.0);
    output.texCoord = corner;
    return output;
}
)";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The host's effect file as plain HLSL. The host's effect compiler takes a sampler's states in a
// block after its name ("SamplerState s { Filter = Linear; };"); glslang parses such a block but
// drops it ("immediate sampler state: unimplemented"). So the block becomes a plain declaration
// here, and its states, returned in `states`, go to the GPU's sampler instead.
std::string PlainHlsl(const std::string& effect, std::map<std::string, std::string>& states) {
    static const std::regex block(R"(SamplerState\s+(\w+)\s*\{([^}]*)\}\s*;)");
    static const std::regex state(R"((\w+)\s*=\s*(\w+)\s*;)");
    std::smatch found;
    if (std::regex_search(effect, found, block)) {
        std::string body = found[2];
        for (std::sregex_iterator it(body.begin(), body.end(), state), end; it != end; ++it)
            states[(*it)[1]] = (*it)[2];
    }
    return std::regex_replace(effect, block, "SamplerState $1;");
}

// HLSL to SPIR-V through glslangValidator; empty on failure, with its output in `log`.
std::vector<uint32_t> Compile(const testsupport::TempDir& dir, const std::string& name,
                              const std::string& hlsl, const char* stage, std::string& log) {
    std::string source = dir.Write(name + ".hlsl", {hlsl.begin(), hlsl.end()});
    std::string spirv = dir.File(name + ".spv"), output = dir.File(name + ".log");
    std::string command = std::string("\"") + GLSLANG_VALIDATOR + "\" -D -V -S " + stage +
                          " -e main --auto-map-bindings --auto-map-locations -o \"" + spirv +
                          "\" \"" + source + "\" >\"" + output + "\" 2>&1";
    int status = std::system(command.c_str());
    log = ReadFile(output);
    std::string bytes = ReadFile(spirv);
    if (status != 0 || bytes.empty() || bytes.size() % 4 != 0)
        return {};
    std::vector<uint32_t> words(bytes.size() / 4);
    std::memcpy(words.data(), bytes.data(), bytes.size());
    return words;
}

// What the host's SetColor makes of a 0xAARRGGBB colour: red, green, blue, alpha in 0..1.
void ColorFloats(uint32_t color, float* out) {
    out[0] = static_cast<float>((color >> 16) & 0xFF) / 255.0f;
    out[1] = static_cast<float>((color >> 8) & 0xFF) / 255.0f;
    out[2] = static_cast<float>(color & 0xFF) / 255.0f;
    out[3] = static_cast<float>(color >> 24) / 255.0f;
}

// One draw's settings: the sprite colour and the shader's parameters as the source sets them.
struct Setting {
    uint32_t spriteColor;
    uint32_t keyColor;
    uint32_t similarity, blend;  // the settings' integers; the source scales them by 0.01f
};

// The block glslang makes of the shader's globals, in HLSL's packing: outputColor at 0,
// colorKey at 16, similarity at 32, blend at 36.
std::vector<uint8_t> Uniforms(const Setting& s) {
    float block[12] = {};
    ColorFloats(s.spriteColor, block);
    ColorFloats(s.keyColor, block + 4);
    block[8] = static_cast<float>(s.similarity) * 0.01f;
    block[9] = static_cast<float>(s.blend) * 0.01f;
    std::vector<uint8_t> bytes(sizeof block);
    std::memcpy(bytes.data(), block, sizeof block);
    return bytes;
}

class ColorKeyShader : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::map<std::string, std::string> states;
        std::string hlsl = PlainHlsl(ReadFile(SHADER_FILE), states);
        samplerStates_ = new std::map<std::string, std::string>(states);
        linear_ = states["Filter"] == "Linear";
        log_ = new std::string;
        testsupport::TempDir dir;
        vertex_ = new std::vector<uint32_t>(Compile(dir, "vertex", kVertexShader, "vert", *log_));
        pixel_ = new std::vector<uint32_t>(Compile(dir, "pixel", hlsl, "frag", *log_));
        gpu_ = new testsupport::Lavapipe;
    }
    static void TearDownTestSuite() {
        delete gpu_;
        delete vertex_;
        delete pixel_;
        delete samplerStates_;
        delete log_;
    }

    void SetUp() override {
        ASSERT_FALSE(vertex_->empty()) << *log_;
        ASSERT_FALSE(pixel_->empty()) << *log_;
        ASSERT_EQ(gpu_->Error(), "");
        standin::SetBaseDirectory(SOURCE_DIR);
        shader_ = GS->CreatePixelShaderFromFile(L"shaders\\ColorKey_RGB.pShader");
        ASSERT_NE(shader_, nullptr);
    }
    void TearDown() override {
        GS->BindPixelShader(nullptr);
        delete shader_;
        standin::SetBaseDirectory("");
    }

    // The same sprite, stretched over the whole target, on the GPU and on the stand-in.
    void Compare(const RgbaImage& texture, unsigned width, unsigned height, const Setting& s) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "sprite 0x" << s.spriteColor << " key 0x" << s.keyColor
                     << std::dec << " similarity " << s.similarity << " blend " << s.blend
                     << " into " << width << "x" << height);
        RgbaImage gpu;
        gpu.width = width, gpu.height = height;
        std::string error;
        ASSERT_TRUE(gpu_->Draw(*vertex_, *pixel_, texture, Uniforms(s), linear_, gpu, error))
            << error;

        Texture* cpuTexture = GS->CreateTexture(texture.width, texture.height, GS_RGBA,
                                                texture.pixels.data(), false, true);
        ASSERT_NE(cpuTexture, nullptr);
        standin::SetCanvasSize(width, height);
        standin::ClearCanvas(0);
        GS->BindPixelShader(shader_);
        shader_->SetColor(shader_->ParameterByIndex(2), s.keyColor);
        shader_->SetParameterFloat(shader_->ParameterByIndex(3),
                                   static_cast<float>(s.similarity) * 0.01f);
        shader_->SetParameterFloat(shader_->ParameterByIndex(4),
                                   static_cast<float>(s.blend) * 0.01f);
        GS->DrawSprite(cpuTexture, s.spriteColor, 0, 0, float(width), float(height));
        delete cpuTexture;
        const std::vector<uint8_t>& cpu = standin::CanvasPixels();

        int mismatches = 0;
        for (size_t i = 0; i < cpu.size() && mismatches < 8; ++i) {
            if (std::abs(int(cpu[i]) - int(gpu.pixels[i])) <= 1)
                continue;
            ++mismatches;
            size_t pixel = i / 4;
            ADD_FAILURE() << "pixel " << pixel % width << "," << pixel / width << " channel "
                          << i % 4 << ": stand-in " << int(cpu[i]) << ", GPU "
                          << int(gpu.pixels[i]);
        }
    }

    static std::map<std::string, std::string>* samplerStates_;
    static bool linear_;
    static std::vector<uint32_t>* vertex_;
    static std::vector<uint32_t>* pixel_;
    static std::string* log_;
    static testsupport::Lavapipe* gpu_;
    Shader* shader_ = nullptr;
};

std::map<std::string, std::string>* ColorKeyShader::samplerStates_ = nullptr;
std::vector<uint32_t>* ColorKeyShader::vertex_ = nullptr;
std::vector<uint32_t>* ColorKeyShader::pixel_ = nullptr;
bool ColorKeyShader::linear_ = false;
std::string* ColorKeyShader::log_ = nullptr;
testsupport::Lavapipe* ColorKeyShader::gpu_ = nullptr;

TEST_F(ColorKeyShader, DeclaresTheSamplingTheStandinDoes) {
    std::map<std::string, std::string> want = {
        {"AddressU", "Clamp"}, {"AddressV", "Clamp"}, {"Filter", "Linear"}};
    EXPECT_EQ(*samplerStates_, want);
}

// Each texel drawn at its own place: the key's distance, edge and ramp, the sprite colour.
TEST_F(ColorKeyShader, GpuMatchesTheStandinAtTexelCentres) {
    const uint32_t keys[] = {0xFF00FF00u, 0xFF2080E0u, 0x00FFFFFFu, 0xFF000000u};
    RgbaImage texture;
    texture.width = 16, texture.height = 4;
    // The keys, their neighbours and swaps, greys, part and full transparency, then a spread.
    const uint32_t fixed[] = {0x00FF00FF, 0x01FF00FF, 0x00FE00FF, 0x33FF00FF, 0x00C800FF,
                              0x80FF80FF, 0x2080E0FF, 0xE08020FF, 0x2181E0FF, 0x2080E080,
                              0xFFFFFFFF, 0xFEFFFFFF, 0x000000FF, 0x010000FF, 0x808080FF,
                              0x00FF0000, 0xFF00FFFF, 0x00FFFFFF, 0xFFFF00FF, 0x0000FFFF};
    uint32_t seed = 12345;
    for (unsigned i = 0; i < texture.width * texture.height; ++i) {
        uint32_t rgba = i < std::size(fixed) ? fixed[i] : (seed = seed * 1103515245u + 12345u);
        for (int shift = 24; shift >= 0; shift -= 8)
            texture.pixels.push_back(uint8_t(rgba >> shift));
    }
    // Similarity and blend as the settings hold them: the edge alone, a ramp, the distance to
    // a texel one channel away (100: 1.0), past the largest distance, and above 2^31.
    const uint32_t pairs[][2] = {{0, 0},   {10, 0},  {10, 20},         {40, 10},
                                 {0, 5},   {100, 0}, {100, 1},         {30, 100},
                                 {174, 0}, {0, 400}, {0x80000000u, 0}, {0, 0x80000000u}};
    const uint32_t sprites[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0xD9336699u};
    unsigned n = 0;
    for (uint32_t key : keys)
        for (const auto& pair : pairs)
            Compare(texture, texture.width, texture.height,
                    {sprites[n++ % std::size(sprites)], key, pair[0], pair[1]});
}

// An effect on the key colour, enlarged and shrunk: the linear filter, and the fringe the key
// leaves where the effect's colours blend into the key's.
TEST_F(ColorKeyShader, GpuMatchesTheStandinStretched) {
    RgbaImage texture;
    texture.width = 6, texture.height = 5;
    const char* rows[] = {"gggggg", "grrwgg", "gwbbtg", "gghrgg", "gggggg"};
    for (const char* row : rows)
        for (const char* p = row; *p; ++p) {
            uint32_t rgba = *p == 'g'   ? 0x00FF00FF
                            : *p == 'r' ? 0xE02010FF
                            : *p == 'w' ? 0xFFFFFFFF
                            : *p == 'b' ? 0x2040C0FF
                            : *p == 'h' ? 0x80008080
                                        : 0x00000000;
            for (int shift = 24; shift >= 0; shift -= 8)
                texture.pixels.push_back(uint8_t(rgba >> shift));
        }
    const uint32_t pairs[][2] = {{0, 0}, {10, 0}, {10, 20}, {40, 60}, {0, 100}};
    const unsigned sizes[][2] = {{23, 17}, {40, 40}, {4, 3}};
    for (const auto& size : sizes)
        for (const auto& pair : pairs)
            Compare(texture, size[0], size[1], {0xFFFFFFFFu, 0xFF00FF00u, pair[0], pair[1]});
}

}  // namespace
