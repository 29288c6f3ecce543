// A host library whose exported vftable of Scene is one slot shorter than ours: its first slot
// points at a function of this library, the entry after it at data, where a table read slot by
// slot ends. The library's own scenes keep their full tables, so only a check of what the host
// exports can tell; a module that calls a scene's second slot through such a table would jump into
// data.
#include "host/Scene.h"

namespace {

int firstSlotCalls = 0;

// Code of its own, which the linker cannot fold into another function of the library.
SceneItem* FirstSlot(Scene*, const wchar_t*) {
    ++firstSlotCalls;
    return nullptr;
}

const char kNotCode[] = "not code";

}  // namespace

struct ShortSceneTable {
    SceneItem* (*first)(Scene*, const wchar_t*);
    const char* notCode;
};

// Exported as Scene's vftable (??_7Scene@@6B@) by the link (tests/windows/HostRefusal.cmake).
extern "C" const ShortSceneTable vantrel_short_scene_vftable = {&FirstSlot, kNotCode};
