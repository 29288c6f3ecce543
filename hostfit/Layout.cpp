#include "Layout.h"

#include <cstdlib>

namespace hostfit {

const char kLayoutSection[] = ".hostfit";
const char kLayoutMagic[] = "vantrel-host-layout 1";

namespace {

constexpr size_t kMaxSlots = 4096;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = line.find(' ', at);
        words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return words;
}

bool Number(const std::string& text, size_t& value) {
    if (text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

const ClassLayout* Layout::Find(const std::string& name) const {
    for (const ClassLayout& c : classes) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

bool ParseLayout(const unsigned char* bytes, size_t size, Layout& layout, std::string& error) {
    layout.classes.clear();
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    size_t at = 0, lineNumber = 0, expected = 0;
    bool ended = false;
    while (at < text.size() && !ended) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++lineNumber;
        const std::vector<std::string> w = Words(line);
        const auto fail = [&](const char* why) {
            error = "line " + std::to_string(lineNumber) + " of the layout: " + why;
            return false;
        };
        if (lineNumber == 1) {
            if (line != kLayoutMagic)
                return fail("not a layout of this module's making");
            continue;
        }
        if (line == "end") {
            ended = true;
        } else if (w.size() == 3 && w[0] == "class") {
            if (!layout.classes.empty() && layout.classes.back().slots.size() != expected)
                return fail("the class before has another number of slots");
            if (!Number(w[2], expected) || expected > kMaxSlots)
                return fail("a class's slot count");
            layout.classes.push_back(ClassLayout{w[1], {}});
        } else if (w.size() == 4 && w[0] == "slot" && !layout.classes.empty()) {
            size_t index = 0;
            std::vector<Slot>& slots = layout.classes.back().slots;
            if (!Number(w[1], index) || index != slots.size() || index >= expected)
                return fail("a slot out of order");
            slots.push_back(Slot{static_cast<unsigned>(index), w[2], w[3]});
        } else {
            return fail("neither a class nor a slot");
        }
    }
    if (!ended) {
        error = "the layout has no end";
        return false;
    }
    if (!layout.classes.empty() && layout.classes.back().slots.size() != expected) {
        error = "the last class has another number of slots";
        return false;
    }
    return true;
}

}  // namespace hostfit
