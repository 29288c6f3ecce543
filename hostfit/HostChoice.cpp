#include "HostChoice.h"

#include <cctype>

namespace hostfit {

namespace {

bool SameFileName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool ImportedByExecutable(const Candidate& c, const std::vector<Executable>& executables) {
    for (const Executable& exe : executables) {
        if (exe.folder != c.folder)
            continue;
        for (const std::string& name : exe.imports) {
            if (SameFileName(name, c.fileName))
                return true;
        }
    }
    return false;
}

}  // namespace

bool ExportsHostEssentials(const HostExports& exports, Machine machine) {
    const HostEssentials e = EssentialNames(machine);
    return exports.Find(e.api) && exports.Find(e.graphics) && exports.Find(e.allocator) &&
           exports.Find(e.stringFromWide);
}

HostChoice ChooseHostLibrary(const std::vector<Candidate>& candidates,
                             const std::vector<Executable>& executables,
                             const std::vector<std::string>& names, Machine machine) {
    HostChoice choice;
    std::vector<int> qualified;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i].exports && ExportsHostEssentials(*candidates[i].exports, machine))
            qualified.push_back(static_cast<int>(i));
    }
    if (qualified.empty())
        return choice;
    if (qualified.size() == 1) {
        choice.index = qualified[0];
        choice.why = "the only library that exports the host's globals and String's constructor";
        return choice;
    }
    const auto complete = [&](int i) {
        return candidates[i].exports->Count(names) == names.size();
    };
    // The executable's own library first, complete or not: it is the one the host loads.
    int imported = -1;
    for (int i : qualified) {
        if (ImportedByExecutable(candidates[i], executables) &&
            (imported < 0 || (!complete(imported) && complete(i))))
            imported = i;
    }
    if (imported >= 0) {
        choice.index = imported;
        choice.why = "the host's executable imports it";
        return choice;
    }
    for (int i : qualified) {
        if (complete(i)) {
            choice.index = i;
            choice.why = "it exports every name the module uses";
            return choice;
        }
    }
    choice.index = qualified[0];
    choice.why = "the first of " + std::to_string(qualified.size()) +
                 " libraries that export the host's globals; none exports every name";
    return choice;
}

}  // namespace hostfit
