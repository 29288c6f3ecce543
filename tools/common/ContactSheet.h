#pragma once

// contact.png: the kept frames scaled down in a grid, in time order, each labelled with its time
// and frame number.
#include <string>
#include <vector>

#include "Image.h"

namespace pictures {

class ContactSheet {
public:
    // Frames of canvasWidth x canvasHeight; thumbnails are sized so that a row of `columns` is
    // about as wide as a 1920-pixel screen.
    ContactSheet(unsigned canvasWidth, unsigned canvasHeight, unsigned columns = 5);

    // Scales the frame down at once; only the thumbnail is kept.
    void Add(const Image& frame, double seconds, long long frameNumber);
    size_t Count() const { return cells_.size(); }

    Image Build() const;

private:
    struct Cell {
        Image thumbnail;
        std::string label;
    };
    unsigned columns_;
    unsigned thumbWidth_;
    unsigned thumbHeight_;
    std::vector<Cell> cells_;
};

// The time label of a frame: "1.250s #75".
std::string FrameLabel(double seconds, long long frameNumber);

}  // namespace pictures
