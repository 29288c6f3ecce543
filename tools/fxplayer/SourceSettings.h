#pragma once

// The source's settings as the player takes them from --set and from the script's set events:
// known keys only, each read by its type and stored as the value the module reads back.
//
//   path                          text (an effect file)
//   monitor, useColorKey          0 or 1
//   opacity                       0 to 100
//   color, keyColor               a colour: 0xAARRGGBB, or its decimal value up to 4294967295,
//                                 stored as the same 32 bits (an integer of the tree, negative
//                                 from 0x80000000 on)
//   keySimilarity, keyBlend       0 to 200 (hundredths of the colour distance)
//   cx, cy                        0 to 16384: the item's size, on the source element
//   orix, oriy                    1 to 16384: the effect's own size the item was scaled from
#include <cstdint>
#include <string>

namespace fxplayer {

struct Setting {
    std::string key;
    bool onSourceElement = false;  // cx, cy, orix, oriy; the rest go to the "data" element
    bool isText = false;           // path
    std::string text;              // path: as given
    int32_t number = 0;            // the rest: the integer the tree holds
};

// Reads "KEY=VALUE". False with a one-line `error` that names the key and what it takes; an
// unknown key's error lists the known ones.
bool ParseSetting(const std::string& assignment, Setting& setting, std::string& error);

}  // namespace fxplayer
