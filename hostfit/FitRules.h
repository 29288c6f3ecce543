#pragma once

// The rules of fit: the module's needs against the host's library, as parsed from its image (or
// only its names, from an import library). The same rules run in the module at load and in the
// offline tool; the result is plain data for either to render.
#include <cstdint>
#include <string>
#include <vector>

#include "HostExports.h"
#include "ModuleNeeds.h"

namespace hostfit {

struct HostLibrary {
    std::string fileName;
    const HostExports* exports = nullptr;
    const PeImage* image = nullptr;  // null for an import library: names, no addresses
};

// One name the module takes from the host.
struct NameCheck {
    std::string name;
    bool present = false;
    // For a missing one: what the host exports of the same class and member, and, when nothing,
    // how many other exports the class has.
    std::vector<std::string> alike;
    size_t classExports = 0;
};

enum class SlotVerdict {
    Same,               // our function, named by an export at the host's slot
    SameShared,         // ... and other exports share its address (folded code)
    DestructorUnnamed,  // our destructor's slot; no export names the host's (the deleting one)
    Unnamed,            // no export names the host's slot: taken on trust
    OtherType,          // the same member with another type
    OtherFunction,      // another function
    Extra,              // the host's table goes on past ours
};

struct SlotCheck {
    unsigned index = 0;
    SlotVerdict verdict = SlotVerdict::Same;
    const Slot* ours = nullptr;     // null for Extra
    std::vector<std::string> host;  // the exports at the host's slot
};

enum class TableState {
    NothingExported,  // the host exports nothing of the class
    NoVirtuals,       // it exports neither virtual members nor a vftable
    PlainOnly,        // it exports its operations as plain members
    NamesOnly,        // an import library: names, no addresses
    NoVftable,        // virtual members, but no vftable
    Walked,           // its vftable, read slot by slot
};

struct ClassCheck {
    const ClassLayout* ours = nullptr;
    bool hostCallsUs = false;
    TableState table = TableState::NothingExported;
    size_t plainCount = 0;
    std::vector<std::string> plainOps;  // plain host members that are virtual slots of ours
    std::vector<std::pair<const Slot*, std::string>> otherTypes;  // by name, ours and the host's
    std::vector<const Slot*> notExported;  // ours without a virtual of that name in the host
    std::vector<std::string> undeclared;   // virtual members of the host's that we do not declare
    std::vector<SlotCheck> slots;
    unsigned hostSlots = 0;
    bool lengthDiffers = false;  // shorter than ours where we call, longer where the host calls
    size_t differences = 0;
    bool Proven() const { return table == TableState::Walked && differences == 0; }
};

// What was taken on trust, and why.
struct Trust {
    std::string what;
    std::string why;
};

enum class DifferenceKind {
    MissingName,
    PlainMember,   // a plain member in the host, a virtual slot in ours
    OtherType,     // the same member with another type
    Undeclared,    // a virtual member of the host's that we do not declare
    SlotOther,     // another function at one of our slots
    TableShorter,  // a class the module calls: the host's table ends before ours
    TableLonger,   // ImageSource: the host's table goes on past ours
};

struct Difference {
    DifferenceKind kind;
    std::string cls;
    int slot = -1;
    std::string ours;  // mangled
    std::string host;  // mangled (or the first of several)
    unsigned ourSlots = 0, hostSlots = 0;
};

struct FitResult {
    std::vector<NameCheck> names;  // missing ones first, then by name
    size_t present = 0;
    std::vector<ClassCheck> classes;  // the classes the module calls by name, then ImageSource
    std::vector<Trust> trusted;
    std::vector<Difference> differences;
    bool Fits() const { return differences.empty(); }
};

// The class the host calls in the module; every other class of the layout the module calls.
extern const char kHostCallsUs[];

FitResult CheckFit(const ModuleNeeds& needs, const HostLibrary& library);

}  // namespace hostfit
