#include "MangledName.h"

namespace hostfit {

namespace {

// "Name@" pieces up to the "@" that ends a qualified name; false at a template or nested name,
// whose scopes this reader does not take apart.
bool ReadScopes(const std::string& name, size_t& at, std::string& scope) {
    std::string joined;
    while (at < name.size() && name[at] != '@') {
        const size_t end = name.find('@', at);
        if (end == std::string::npos || name.find('?', at) < end)
            return false;
        joined =
            joined.empty() ? name.substr(at, end - at) : name.substr(at, end - at) + "::" + joined;
        at = end + 1;
    }
    if (at >= name.size())
        return false;
    ++at;  // the '@' that ends it
    scope = joined;
    return true;
}

SymbolKind KindOf(char code) {
    switch (code) {
        case 'A':
        case 'B':
        case 'I':
        case 'J':
        case 'Q':
        case 'R':
            return SymbolKind::Plain;
        case 'E':
        case 'F':
        case 'M':
        case 'N':
        case 'U':
        case 'V':
            return SymbolKind::Virtual;
        case 'C':
        case 'D':
        case 'K':
        case 'L':
        case 'S':
        case 'T':
            return SymbolKind::Static;
        case 'Y':
        case 'Z':
            return SymbolKind::Function;
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
            return SymbolKind::Data;
        default:
            return SymbolKind::Other;
    }
}

}  // namespace

MangledName SplitName(const std::string& name) {
    MangledName out;
    out.member = name;
    if (name.size() < 3 || name[0] != '?')
        return out;
    size_t at = 1;
    std::string member;
    bool special = false;
    if (name[1] == '?') {
        // ??0, ??1, ??_7, ??_G: one code letter, after an '_' for the longer set.
        at = 2;
        if (at < name.size() && name[at] == '_')
            ++at;
        if (at >= name.size() ||
            !((name[at] >= '0' && name[at] <= '9') || (name[at] >= 'A' && name[at] <= 'Z')))
            return out;
        member = "?" + name.substr(2, at - 1);
        ++at;
        special = true;
    } else {
        const size_t end = name.find('@', 1);
        if (end == std::string::npos || end == 1 || name.find('?', 1) < end)
            return out;
        member = name.substr(1, end - 1);
        at = end + 1;
    }
    std::string scope;
    if (!ReadScopes(name, at, scope))
        return out;
    out.scope = scope;
    out.member = member;
    out.kind =
        special ? SymbolKind::Special : (at < name.size() ? KindOf(name[at]) : SymbolKind::Other);
    return out;
}

bool IsDestructorCode(const std::string& member) {
    return member == "?1" || member == "?_G" || member == "?_E";
}

std::string MemberLabel(const std::string& member) {
    if (member == "?0")
        return "constructor";
    if (member == "?1")
        return "destructor";
    if (member == "?4")
        return "operator=";
    if (member == "?_7")
        return "vftable";
    if (member == "?_G" || member == "?_E")
        return "deleting destructor";
    return member;
}

HostEssentials EssentialNames(Machine machine) {
    if (machine == Machine::X86)
        return {"?API@@3PAVAPIInterface@@A", "?GS@@3PAVGraphicsSystem@@A",
                "?MainAllocator@@3PAVAlloc@@A", "??0String@@QAE@PB_W@Z"};
    return {"?API@@3PEAVAPIInterface@@EA", "?GS@@3PEAVGraphicsSystem@@EA",
            "?MainAllocator@@3PEAVAlloc@@EA", "??0String@@QEAA@PEB_W@Z"};
}

}  // namespace hostfit
