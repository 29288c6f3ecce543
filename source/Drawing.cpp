#include "log/ModuleLog.h"
#include "source/VoteImageSource.h"

namespace vantrel {

namespace {
const unsigned kKeyColorParameter = 2;
const unsigned kSimilarityParameter = 3;
const unsigned kBlendParameter = 4;

// Alpha from a 0..100 opacity: (opacity * 255) / 100, truncated.
uint32_t OpacityAlpha(int32_t opacity) {
    return (static_cast<uint32_t>(opacity) * 255u) / 100u;
}
}  // namespace

void VoteImageSource::Draw(const Vect2& pos, const Vect2& size) {
    if (!bitmap.texture)
        return;
    // No effect chosen, or cleared by the console: the placeholder only gives the source a size;
    // drawing it would put a box on the live picture where no effect is meant to be.
    if (bitmap.filePath.IsEmpty())
        return;
    if (useColorKey) {
        DrawKeyed(pos, size);
        return;
    }
    DrawPlain(pos, size);
}

void VoteImageSource::DrawKeyed(const Vect2& pos, const Vect2& size) {
    uint32_t spriteColor = (OpacityAlpha(opacity) << 24) | (color & 0x00FFFFFFu);
    float x2 = pos.x + size.x;
    float y2 = pos.y + size.y;

    if (!colorKeyShader) {
        // Without its shader the key cannot be applied; the effect still shows, with its opacity.
        if (!missingShaderReported) {
            wchar_t location[1024];
            ColorKeyShaderLocation(location, sizeof(location) / sizeof(location[0]));
            WriteLog<LogText::ColorKeyShaderMissing>(location);
            missingShaderReported = true;
        }
        GS->DrawSprite(bitmap.texture, spriteColor, pos.x, pos.y, x2, y2);
        return;
    }

    Shader* previous = GS->CurrentPixelShader();
    GS->BindPixelShader(colorKeyShader);
    float similarity = static_cast<float>(static_cast<uint32_t>(keySimilarity)) * 0.01f;
    float blend = static_cast<float>(static_cast<uint32_t>(keyBlend)) * 0.01f;
    colorKeyShader->SetColor(colorKeyShader->ParameterByIndex(kKeyColorParameter), keyColor);
    colorKeyShader->SetParameterFloat(colorKeyShader->ParameterByIndex(kSimilarityParameter),
                                      similarity);
    colorKeyShader->SetParameterFloat(colorKeyShader->ParameterByIndex(kBlendParameter), blend);
    GS->DrawSprite(bitmap.texture, spriteColor, pos.x, pos.y, x2, y2);
    GS->BindPixelShader(previous);
}

SpriteRect PlainSpriteRect(const Vect2& pos, const Vect2& size, int32_t drawX, int32_t drawY,
                           int32_t drawWidth, int32_t drawHeight) {
    if (drawX < 0 || drawY < 0)
        return SpriteRect{pos.x, pos.y, pos.x + size.x, pos.y + size.y};
    float x = static_cast<float>(drawX);
    float y = static_cast<float>(drawY);
    if (drawWidth < 0 || drawHeight < 0)
        return SpriteRect{x, y, x + size.x, y + size.y};
    // Summed in 64 bits: a commanded corner far out plus a size must not overflow.
    float x2 = static_cast<float>(static_cast<int64_t>(drawX) + drawWidth);
    float y2 = static_cast<float>(static_cast<int64_t>(drawY) + drawHeight);
    return SpriteRect{x, y, x2, y2};
}

void VoteImageSource::DrawPlain(const Vect2& pos, const Vect2& size) {
    uint32_t spriteColor = color | 0xFF000000u;
    const SpriteRect at = PlainSpriteRect(pos, size, drawX, drawY, drawWidth, drawHeight);
    GS->DrawSprite(bitmap.texture, spriteColor, at.x, at.y, at.x2, at.y2);
}

}  // namespace vantrel
