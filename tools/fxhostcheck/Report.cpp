#include "Report.h"

#include <cstdio>

#include "hostfit/MangledName.h"
#include "hostfit/Text.h"

namespace fxhostcheck {

namespace {

using hostfit::ClassCheck;
using hostfit::SlotVerdict;
using hostfit::TableState;

std::string Plural(size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string Index(unsigned i) {
    char b[16];
    std::snprintf(b, sizeof b, "%4u", i);
    return b;
}

class Writer {
public:
    explicit Writer(const ReportInput& in) : in_(in) {}
    std::string Write();

private:
    void Line(const std::string& text = "") { out_ += text + "\n"; }
    const std::string& Text(const std::string& name) const {
        const auto it = in_.texts.find(name);
        return it == in_.texts.end() ? name : it->second;
    }
    void Library();
    void Names();
    void Class(const ClassCheck& c);
    void Slots(const ClassCheck& c);

    const ReportInput& in_;
    std::string out_;
};

void Writer::Library() {
    const LibraryFile& lib = *in_.search->library;
    Line("Module: " + in_.module + ", " + in_.arch);
    Line("Host library: " + Show(lib.path) +
         (in_.search->note.empty() ? "" : " (" + in_.search->note + ")"));
    for (const std::string& s : in_.search->skipped)
        Line("  skipped:   " + s);
    Line("  file name: " + std::string(lib.importLibrary ? "import library of " : "") +
         hostfit::Printable(lib.fileName));
    Line("  machine:   " + lib.machineText);
    if (!lib.importLibrary) {
        const std::string version = lib.image.VersionText();
        Line("  version:   " + (version.empty() ? std::string("no version resource") : version));
    }
    Line();
}

void Writer::Names() {
    const hostfit::FitResult& r = *in_.result;
    const hostfit::HostExports& exports = in_.search->library->exports;
    Line("Imports of the module from " + hostfit::Printable(in_.needs->hostLabel) +
         ", looked up in " + hostfit::Printable(in_.search->library->fileName) + ": " +
         std::to_string(r.present) + " of " + std::to_string(r.names.size()) + " present");
    for (const hostfit::NameCheck& n : r.names) {
        if (n.present) {
            Line("  present  " + Text(n.name));
            continue;
        }
        Line("  MISSING  " + Text(n.name));
        Line("           " + n.name);
        const hostfit::MangledName parts = hostfit::SplitName(n.name);
        if (n.alike.empty()) {
            const std::string where =
                parts.scope.empty() ? "outside any class" : "of class " + parts.scope;
            Line("     host: exports nothing named " + hostfit::MemberLabel(parts.member) + " " +
                 where +
                 (parts.scope.empty() ? ""
                                      : " (" + std::to_string(n.classExports) +
                                            " other exports of " + parts.scope + ")"));
            continue;
        }
        for (const std::string& a : n.alike) {
            Line("     host: " + Text(a));
            Line("           " + a);
        }
    }
    (void)exports;
    Line();
}

void Writer::Class(const ClassCheck& c) {
    const hostfit::ClassLayout& ours = *c.ours;
    const std::string& cls = ours.name;
    Line(cls + ": " + Plural(ours.slots.size(), "slot") + " (" +
         (c.hostCallsUs ? "the host calls these slots in the module"
                        : "the module calls these slots in the host") +
         ")");
    std::string list;
    for (const hostfit::Slot& s : ours.slots)
        list += (list.empty() ? "" : ", ") + std::to_string(s.index) + " " + s.name;
    Line("  ours: " + list);
    if (c.table == TableState::NothingExported) {
        Line("  the host exports nothing of it");
        return;
    }
    if (c.plainCount)
        Line("  the host exports " + std::to_string(c.plainCount) +
             " plain (non-virtual) member functions of " + cls +
             "; it does not call those through a vtable");
    for (const std::string& p : c.plainOps) {
        Line("  DIFFERENT  " + hostfit::SplitName(p).member +
             ": a plain member in the host, a virtual slot in ours");
        Line("             host: " + Text(p));
    }
    if (c.table == TableState::PlainOnly) {
        Line("  " + std::to_string(c.plainOps.size()) + " of our " +
             std::to_string(ours.slots.size()) + " slots are plain members in the host: declare " +
             cls + "'s operations without `virtual` in host/ and import them");
        return;
    }
    if (c.table == TableState::NoVirtuals)
        return;
    for (const auto& t : c.otherTypes) {
        Line("  DIFFERENT  " + t.first->name + ": another type in the host");
        Line("             ours: " + Text(t.first->mangled));
        Line("             host: " + Text(t.second));
    }
    for (const hostfit::Slot* s : c.notExported)
        Line("  ?          " + s->name + ": the host exports no virtual " + s->name);
    for (const std::string& u : c.undeclared)
        Line("  DIFFERENT  the host has a virtual member that we do not declare: " + Text(u));
    if (c.table == TableState::Walked)
        Slots(c);
}

void Writer::Slots(const ClassCheck& c) {
    const hostfit::ClassLayout& ours = *c.ours;
    Line("  vftable ??_7" + ours.name + "@@6B@ exported; slot by slot (host against ours):");
    for (const hostfit::SlotCheck& s : c.slots) {
        const std::string i = "  " + Index(s.index) + "  ";
        if (s.verdict == SlotVerdict::Extra) {
            const std::string host =
                s.host.empty() ? "a function it does not export" : Text(s.host[0]);
            Line(i + (c.hostCallsUs ? "DIFFERENT  host: " : "beyond     host: ") + host +
                 "; ours has no slot " + std::to_string(s.index));
            continue;
        }
        const hostfit::Slot& slot = *s.ours;
        const std::string mine = slot.Destructor() ? slot.name + " (destructor)" : slot.name;
        switch (s.verdict) {
            case SlotVerdict::Same:
                Line(i + "same       " + mine);
                break;
            case SlotVerdict::DestructorUnnamed:
                Line(i + "same       " + mine +
                     " (the deleting destructor, which no export names)");
                break;
            case SlotVerdict::SameShared:
                Line(i + "same       " + mine + " (shares its code with " +
                     std::to_string(s.host.size() - 1) + " other exports)");
                break;
            case SlotVerdict::Unnamed:
                Line(i + "?          " + mine +
                     ": the host's slot holds a function it does not export");
                break;
            case SlotVerdict::OtherType: {
                std::string host;
                for (const std::string& h : s.host) {
                    if (hostfit::SplitName(h).member == slot.name && host.empty())
                        host = Text(h);
                }
                Line(i + "DIFFERENT  " + mine + ": another type");
                Line("              ours: " + Text(slot.mangled));
                Line("              host: " + host);
                break;
            }
            case SlotVerdict::OtherFunction: {
                std::string host = s.host.size() == 1 ? Text(s.host[0]) : "one of ";
                for (size_t k = 0; s.host.size() > 1 && k < s.host.size(); ++k)
                    host += (k ? " | " : "") + Text(s.host[k]);
                Line(i + "DIFFERENT  ours: " + Text(slot.mangled));
                Line("              host: " + host);
                break;
            }
            case SlotVerdict::Extra:
                break;
        }
    }
    if (c.hostSlots != ours.slots.size()) {
        const bool misfit = c.lengthDiffers;
        Line(std::string("  ") + (misfit ? "DIFFERENT  " : "") + "the host's vftable has " +
             Plural(c.hostSlots, "slot") + ", ours " + std::to_string(ours.slots.size()) +
             (!misfit         ? ""
              : c.hostCallsUs ? ": the host calls slots the module does not have"
                              : ": the module would call past its end"));
    }
}

std::string Writer::Write() {
    Library();
    Names();
    const hostfit::FitResult& r = *in_.result;
    Line(
        "Classes the module calls through a vtable (our slots: clang-cl's "
        "-fdump-vtable-layouts on host/, carried in the module):");
    const ClassCheck* hostCalls = nullptr;
    for (const ClassCheck& c : r.classes) {
        if (c.hostCallsUs)
            hostCalls = &c;
        else
            Class(c);
    }
    Line();
    if (hostCalls) {
        Line("The class the host calls in the module:");
        Class(*hostCalls);
        Line();
    }
    Line("Not checked:");
    for (const hostfit::Trust& t : r.trusted)
        Line("  " + t.what + ": " + t.why);
    if (in_.search->library->importLibrary)
        Line(
            "  every slot order: an import library holds names but not the addresses in the "
            "host's vftables: run the check on the DLL itself");
    else if (r.trusted.empty())
        Line("  nothing");
    Line(
        "  the calling conventions and the return of classes by hidden pointer: the names carry "
        "them, but only a call into the real host proves them");
    Line();
    if (r.Fits()) {
        Line("Result: the module fits this host in everything that could be checked");
    } else {
        Line("Result: the module does not fit this host: " +
             Plural(r.differences.size(), "difference") + " (DIFFERENT, MISSING above)");
        Line(
            "For the module's maker: change host/ as docs/windows-build.md says, rebuild, and "
            "check again: " +
            in_.checkAgain);
    }
    return out_;
}

}  // namespace

std::string Report(const ReportInput& in) {
    return Writer(in).Write();
}

}  // namespace fxhostcheck
