// Pixel shaders on the CPU. The stand-in reads a shader file, recognises the program by the
// "// program: <name>" line and the uniforms it declares, and runs its C++ twin while the shader
// is bound. Parameters are numbered in the order the file declares its uniforms.
//
// Known programs:
//   colorkey-rgb  (shaders/ColorKey_RGB.pShader) uniforms: 0 Texture2D (the texture), 1 float4
//                 (the sprite colour), 2 float4 colorKey, 3 float similarity, 4 float blend.
//                 Distance: the Euclidean distance between the pixel's RGB and the key's RGB, each
//                 channel in 0..1 (so from 0 to about 1.73). At or below similarity the pixel's
//                 alpha becomes 0, whatever the blend; above it the alpha ramps up linearly to the
//                 pixel's own over the blend width (blend 0: kept at once). A distance within
//                 kKeyRounding of the similarity counts as at it, as in the shader file (a GPU's
//                 conversions of texel and key may differ in their last bits). The sprite colour
//                 then multiplies the result (alpha by alpha, rgb by rgb).
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/Graphics.h"
#include "standin/Internal.h"
#include "standin/Standin.h"

namespace {

using standin::detail::PixelProgram;

constexpr size_t kMaxShaderFile = 1u << 20;
constexpr unsigned kMaxParameters = 16;
// The shader file's keyRounding.
constexpr float kKeyRounding = 0.00001f;

struct Uniform {
    std::string type;
    std::string name;
};

bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The words and punctuation of HLSL source, comments left out.
std::vector<std::string> Tokens(const std::string& text) {
    std::vector<std::string> tokens;
    for (size_t i = 0; i < text.size();) {
        char c = text[i];
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 2;
        } else if (IsWordChar(c)) {
            size_t start = i;
            while (i < text.size() && IsWordChar(text[i]))
                ++i;
            tokens.push_back(text.substr(start, i - start));
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
        } else {
            tokens.push_back(std::string(1, c));
            ++i;
        }
    }
    return tokens;
}

// "uniform <type> <name>" in the order declared.
std::vector<Uniform> Uniforms(const std::string& text) {
    std::vector<Uniform> uniforms;
    std::vector<std::string> tokens = Tokens(text);
    for (size_t i = 0; i + 2 < tokens.size(); ++i) {
        if (tokens[i] != "uniform")
            continue;
        if (!IsWordChar(tokens[i + 1][0]) || !IsWordChar(tokens[i + 2][0]))
            continue;
        uniforms.push_back({tokens[i + 1], tokens[i + 2]});
    }
    return uniforms;
}

// The name on the file's "// program: <name>" line, or empty.
std::string ProgramName(const std::string& text) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        size_t p = line.find_first_not_of(" \t");
        if (p == std::string::npos || line.compare(p, 2, "//") != 0)
            continue;
        p = line.find_first_not_of(" \t", p + 2);
        if (p == std::string::npos || line.compare(p, 8, "program:") != 0)
            continue;
        p = line.find_first_not_of(" \t", p + 8);
        if (p == std::string::npos)
            continue;
        size_t q = line.find_last_not_of(" \t\r");
        return line.substr(p, q + 1 - p);
    }
    return std::string();
}

bool Declares(const std::vector<Uniform>& uniforms, size_t index, const char* type,
              const char* name) {
    return index < uniforms.size() && uniforms[index].type == type && uniforms[index].name == name;
}

class StandinShader final : public Shader {
public:
    StandinShader(PixelProgram::Kind kind, unsigned parameters)
        : kind_(kind), parameters_(parameters) {}
    ~StandinShader() override { standin::detail::ForgetShader(this); }

    ShaderParameter ParameterByIndex(unsigned index) override {
        return index < parameters_ ? &slots_[index] : nullptr;
    }

    void SetColor(ShaderParameter parameter, uint32_t color) override {
        int index = IndexOf(parameter);
        if (index < 0)
            return;
        float* value = slots_[index].value;
        value[0] = static_cast<float>((color >> 16) & 0xFF) / 255.0f;
        value[1] = static_cast<float>((color >> 8) & 0xFF) / 255.0f;
        value[2] = static_cast<float>(color & 0xFF) / 255.0f;
        value[3] = static_cast<float>(color >> 24) / 255.0f;
        standin::GraphicsEvent event;
        event.kind = standin::GraphicsEventKind::SetColor;
        event.shader = this;
        event.parameter = static_cast<unsigned>(index);
        event.color = color;
        standin::detail::RecordGraphicsEvent(event);
    }

    void SetParameterFloat(ShaderParameter parameter, float value) override {
        int index = IndexOf(parameter);
        if (index < 0)
            return;
        slots_[index].value[0] = value;
        standin::GraphicsEvent event;
        event.kind = standin::GraphicsEventKind::SetFloat;
        event.shader = this;
        event.parameter = static_cast<unsigned>(index);
        event.value = value;
        standin::detail::RecordGraphicsEvent(event);
    }

    PixelProgram Program() const {
        PixelProgram program;
        program.kind = kind_;
        if (kind_ == PixelProgram::Kind::ColorKeyRgb) {
            for (int c = 0; c < 3; ++c)
                program.key[c] = slots_[2].value[c];
            program.similarity = slots_[3].value[0];
            program.blend = slots_[4].value[0];
        }
        return program;
    }

private:
    struct Slot {
        float value[4];
    };

    // The index of one of our handles, or -1 for null or a handle of another shader.
    int IndexOf(ShaderParameter parameter) const {
        std::less<const void*> before;
        if (!parameter || before(parameter, &slots_[0]) || !before(parameter, &slots_[parameters_]))
            return -1;
        return static_cast<int>(static_cast<const Slot*>(parameter) - slots_);
    }

    PixelProgram::Kind kind_;
    unsigned parameters_;
    Slot slots_[kMaxParameters] = {};
};

}  // namespace

namespace standin::detail {

Shader* LoadPixelShader(const std::string& resolvedPath) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(resolvedPath, kMaxShaderFile, bytes))
        return nullptr;
    std::string text(bytes.begin(), bytes.end());
    std::vector<Uniform> uniforms = Uniforms(text);
    if (ProgramName(text) != "colorkey-rgb" || uniforms.size() != 5 ||
        !Declares(uniforms, 2, "float4", "colorKey") ||
        !Declares(uniforms, 3, "float", "similarity") || !Declares(uniforms, 4, "float", "blend"))
        return nullptr;
    auto* shader = new StandinShader(PixelProgram::Kind::ColorKeyRgb, 5);
    if (shader)
        AddLiveShader(shader);
    return shader;
}

PixelProgram ProgramOf(const Shader* shader) {
    if (!shader)
        return PixelProgram();
    return static_cast<const StandinShader*>(shader)->Program();
}

float ColorKeyCoverage(const PixelProgram& program, float r, float g, float b) {
    float dr = r - program.key[0], dg = g - program.key[1], db = b - program.key[2];
    float beyond = std::sqrt(dr * dr + dg * dg + db * db) - program.similarity - kKeyRounding;
    if (program.blend > 0.0f) {
        float keep = beyond / program.blend;
        if (!(keep > 0.0f))
            return 0.0f;  // NaN too, as the GPU's saturate gives
        return keep < 1.0f ? keep : 1.0f;
    }
    return beyond > 0.0f ? 1.0f : 0.0f;
}

}  // namespace standin::detail
