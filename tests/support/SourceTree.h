#pragma once

// A configuration tree shaped as the host keeps sources: a container element (the scene's list of
// sources) holding source elements, each with its "data" child.
#include <string>
#include <vector>

#include "host/Host.h"
#include "standin/Standin.h"

namespace testsupport {

class SourceTree {
public:
    SourceTree() : root_(standin::NewConfigRoot(L"scenes")) {
        container = standin::AsXElement(root_)->CreateElement(L"sources");
    }
    ~SourceTree() { standin::DeleteConfigRoot(root_); }
    SourceTree(const SourceTree&) = delete;
    SourceTree& operator=(const SourceTree&) = delete;

    // A new source element under the container, with an empty "data" child; returns the data.
    XElement* AddSource(const wchar_t* name) {
        XElement* source = container->CreateElement(name);
        return source->CreateElement(L"data");
    }

    XElement* root() { return standin::AsXElement(root_); }
    XElement* container = nullptr;

private:
    standin::ConfigElement* root_;
};

// Writes a PNG of one colour (R,G,B,A) and returns its path.
inline std::string WriteSolidPng(const std::string& path, unsigned width, unsigned height,
                                 uint32_t rgba) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = static_cast<uint8_t>(rgba >> 24);
        pixels[i + 1] = static_cast<uint8_t>(rgba >> 16);
        pixels[i + 2] = static_cast<uint8_t>(rgba >> 8);
        pixels[i + 3] = static_cast<uint8_t>(rgba);
    }
    standin::WritePng(path, width, height, pixels);
    return path;
}

}  // namespace testsupport
