#pragma once

// The tools' shared pictures (tools/common), under the names the player uses.
#include "ContactSheet.h"
#include "Image.h"
#include "TestPattern.h"
#include "TinyFont.h"

namespace fxplayer {

using pictures::BlendRect;
using pictures::ContactSheet;
using pictures::DrawText;
using pictures::FillRect;
using pictures::FrameLabel;
using pictures::Image;
using pictures::kGlyphHeight;
using pictures::kGlyphWidth;
using pictures::MakeTestPattern;
using pictures::Paste;
using pictures::Rgba;
using pictures::Scaled;
using pictures::TextWidth;

}  // namespace fxplayer
