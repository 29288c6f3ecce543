#pragma once

// A 5x7 pixel font built in, for the labels of the contact sheet and the test pattern: digits,
// capital letters (small ones are drawn as capitals, but for s and x) and . : % # - = ! / and
// space.
#include <string>

#include "Image.h"

namespace pictures {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

// The width of `text` drawn at `scale`, one blank column between letters.
int TextWidth(const std::string& text, int scale);
// Draws `text` with its top-left corner at (x, y), each font pixel a scale x scale square.
// Characters the font lacks are drawn as a small box.
void DrawText(Image& image, int x, int y, const std::string& text, int scale, Rgba colour);

}  // namespace pictures
