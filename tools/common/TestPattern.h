#pragma once

#include "Image.h"

namespace pictures {

// The picture under the effect when no background is given: colour bars over a grey ramp, with a
// grid every 10% of the canvas labelled in percent (the units of the console's placement), so
// that an effect's place can be read off a frame.
Image MakeTestPattern(unsigned width, unsigned height);

}  // namespace pictures
