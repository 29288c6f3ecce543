#pragma once

// frametimes.png: every frame's module time against the frame budget, on a logarithmic scale so
// that a load of half a second and a cached frame of a few microseconds both show, with the
// script's events marked on the time axis and listed below.
#include "Pictures.h"

namespace fxplayer {

class FrameTimes;

// The plot's width in pixels: one column per pixel, each the worst of the frames it covers.
constexpr unsigned kFrameChartColumns = 1400;

Image DrawFrameChart(const FrameTimes& times);

}  // namespace fxplayer
