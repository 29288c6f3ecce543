#include "ContactSheet.h"

#include <algorithm>
#include <cstdio>

#include "TinyFont.h"

namespace pictures {

namespace {
constexpr unsigned kSheetWidth = 1920;
constexpr unsigned kGap = 8;
constexpr int kLabelScale = 2;
constexpr unsigned kLabelHeight = kGlyphHeight * kLabelScale + 8;
const Rgba kSheetColour{40, 40, 44, 255};
const Rgba kLabelColour{235, 235, 235, 255};
}  // namespace

std::string FrameLabel(double seconds, long long frameNumber) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3fs #%lld", seconds, frameNumber);
    return text;
}

ContactSheet::ContactSheet(unsigned canvasWidth, unsigned canvasHeight, unsigned columns)
    : columns_(std::max(1u, columns)) {
    thumbWidth_ = (kSheetWidth - kGap * (columns_ + 1)) / columns_;
    unsigned long long h =
        static_cast<unsigned long long>(thumbWidth_) * canvasHeight / std::max(1u, canvasWidth);
    // A very tall canvas gets narrower thumbnails instead of very tall ones.
    if (h > thumbWidth_ * 2ull) {
        thumbWidth_ = static_cast<unsigned>(
            std::max(1ull, thumbWidth_ * 2ull * canvasWidth / std::max(1u, canvasHeight)));
        h = thumbWidth_ * 2ull;
    }
    thumbHeight_ = static_cast<unsigned>(std::max(1ull, h));
}

void ContactSheet::Add(const Image& frame, double seconds, long long frameNumber) {
    Cell cell;
    cell.thumbnail = Scaled(frame, thumbWidth_, thumbHeight_);
    for (size_t i = 3; i < cell.thumbnail.rgba.size(); i += 4)
        cell.thumbnail.rgba[i] = 255;
    cell.label = FrameLabel(seconds, frameNumber);
    cells_.push_back(std::move(cell));
}

Image ContactSheet::Build() const {
    unsigned columns =
        static_cast<unsigned>(std::min<size_t>(columns_, std::max<size_t>(1, cells_.size())));
    unsigned rows = static_cast<unsigned>((cells_.size() + columns - 1) / columns);
    rows = std::max(1u, rows);
    const unsigned cellWidth = thumbWidth_ + kGap;
    const unsigned cellHeight = thumbHeight_ + kLabelHeight + kGap;
    Image sheet(kGap + columns * cellWidth, kGap + rows * cellHeight, kSheetColour);
    for (size_t i = 0; i < cells_.size(); ++i) {
        int x = static_cast<int>(kGap + (i % columns) * cellWidth);
        int y = static_cast<int>(kGap + (i / columns) * cellHeight);
        Paste(sheet, cells_[i].thumbnail, x, y);
        DrawText(sheet, x + 2, y + static_cast<int>(thumbHeight_) + 4, cells_[i].label, kLabelScale,
                 kLabelColour);
    }
    return sheet;
}

}  // namespace pictures
