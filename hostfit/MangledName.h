#pragma once

// What the check reads from a Microsoft C++ name without a demangler: its class and member, and
// what kind of symbol it is (the letter after the qualified name says it).
#include <string>

#include "PeImage.h"

namespace hostfit {

enum class SymbolKind { Other, Special, Virtual, Plain, Static, Function, Data };

struct MangledName {
    std::string scope;   // "XFile", "Outer::Inner", "" outside any class
    std::string member;  // "Open"; a special member by its code: "?0" constructor, "?1"
                         // destructor, "?_7" vftable, "?_G" / "?_E" deleting destructors
    SymbolKind kind = SymbolKind::Other;
};

MangledName SplitName(const std::string& name);
bool IsDestructorCode(const std::string& member);  // ?1, ?_G, ?_E
// "constructor", "vftable", ... or the member's own name.
std::string MemberLabel(const std::string& member);

// The host's globals and String's constructor from wide text, as the module's machine names them.
struct HostEssentials {
    const char* api;
    const char* graphics;
    const char* allocator;
    const char* stringFromWide;
};
HostEssentials EssentialNames(Machine machine);

}  // namespace hostfit
