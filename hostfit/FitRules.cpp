#include "FitRules.h"

#include <algorithm>

namespace hostfit {

const char kHostCallsUs[] = "ImageSource";

namespace {

// Far more slots than any class has; a table that seems longer is not a table.
constexpr unsigned kMaxTable = 4096;

std::string Plural(size_t count, const char* word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

class Checker {
public:
    Checker(const ModuleNeeds& needs, const HostLibrary& library, FitResult& result)
        : needs_(needs), library_(library), exports_(*library.exports), result_(result) {
        if (library_.image)
            FindDataExports();
    }

    void CheckNames();
    void CheckClass(const ClassLayout& ours);

private:
    void FindDataExports();
    bool IsDataExport(uint32_t rva) const {
        return std::binary_search(dataExports_.begin(), dataExports_.end(), rva);
    }
    std::vector<uint32_t> ReadTable(uint32_t vftable) const;
    void CompareSlots(ClassCheck& check, const std::vector<uint32_t>& table);
    void Differ(ClassCheck& check, Difference d) {
        ++check.differences;
        result_.differences.push_back(std::move(d));
    }
    void Trusted(std::string what, std::string why) {
        result_.trusted.push_back(Trust{std::move(what), std::move(why)});
    }

    const ModuleNeeds& needs_;
    const HostLibrary& library_;
    const HostExports& exports_;
    FitResult& result_;
    std::vector<uint32_t> dataExports_;  // exports outside the executable sections, sorted
};

void Checker::FindDataExports() {
    for (const HostExport& e : exports_.All()) {
        if (!library_.image->IsExecutable(e.rva))
            dataExports_.push_back(e.rva);
    }
    std::sort(dataExports_.begin(), dataExports_.end());
}

void Checker::CheckNames() {
    for (const std::string& name : needs_.names) {
        NameCheck check;
        check.name = name;
        check.present = exports_.Find(name) != nullptr;
        if (check.present) {
            ++result_.present;
        } else {
            const MangledName parts = SplitName(name);
            for (const HostExport* e : exports_.OfClass(parts.scope)) {
                if (e->parts.member == parts.member)
                    check.alike.push_back(e->name);
                else
                    ++check.classExports;
            }
            if (parts.scope.empty()) {
                // Outside any class: the host's functions and globals of the same name.
                for (const HostExport& e : exports_.All()) {
                    if (e.parts.scope.empty() && e.parts.member == parts.member)
                        check.alike.push_back(e.name);
                }
            }
            result_.differences.push_back(Difference{DifferenceKind::MissingName, parts.scope, -1,
                                                     name,
                                                     check.alike.empty() ? "" : check.alike[0]});
        }
        result_.names.push_back(std::move(check));
    }
    std::stable_partition(result_.names.begin(), result_.names.end(),
                          [](const NameCheck& c) { return !c.present; });
}

// The host's table from its start: pointer-sized entries while each points into the library's
// code. An entry pointing elsewhere (the next table's locator, data) ends it, and so does the
// address of another export that is not code (the next exported vftable); an entry into code
// that no export names (a pure virtual's stub, an unexported function) still counts.
std::vector<uint32_t> Checker::ReadTable(uint32_t vftable) const {
    std::vector<uint32_t> table;
    const PeImage& image = *library_.image;
    const uint64_t base = image.Reader().Base();
    const unsigned width = image.PointerSize();
    for (unsigned i = 0; i < kMaxTable; ++i) {
        const uint64_t at = uint64_t{vftable} + uint64_t{i} * width;
        if (at > UINT32_MAX || (i > 0 && IsDataExport(static_cast<uint32_t>(at))))
            break;
        uint64_t va = 0;
        if (!image.ReadPointer(static_cast<uint32_t>(at), va) || va < base ||
            va - base > UINT32_MAX || !image.IsExecutable(static_cast<uint32_t>(va - base)))
            break;
        table.push_back(static_cast<uint32_t>(va - base));
    }
    return table;
}

void Checker::CompareSlots(ClassCheck& check, const std::vector<uint32_t>& table) {
    const ClassLayout& ours = *check.ours;
    const std::string& cls = ours.name;
    const size_t common = std::min(table.size(), ours.slots.size());
    std::vector<unsigned> unnamed;
    for (size_t i = 0; i < common; ++i) {
        const Slot& slot = ours.slots[i];
        SlotCheck s;
        s.index = static_cast<unsigned>(i);
        s.ours = &slot;
        const std::vector<const HostExport*> there = exports_.At(table[i]);
        for (const HostExport* e : there)
            s.host.push_back(e->name);
        const bool ourName = std::find(s.host.begin(), s.host.end(), slot.mangled) != s.host.end();
        const bool destructorThere =
            std::any_of(there.begin(), there.end(), [&](const HostExport* e) {
                return e->parts.scope == cls && IsDestructorCode(e->parts.member);
            });
        if (slot.Destructor() && (there.empty() || destructorThere)) {
            s.verdict = there.empty() ? SlotVerdict::DestructorUnnamed : SlotVerdict::Same;
            if (there.empty())
                Trusted(cls + "'s slot " + std::to_string(i),
                        "no export names it; taken to be the deleting destructor, as in ours");
        } else if (ourName) {
            s.verdict = there.size() > 1 ? SlotVerdict::SameShared : SlotVerdict::Same;
            if (there.size() > 1) {
                std::string others;
                for (const HostExport* e : there) {
                    if (e->name != slot.mangled)
                        others += (others.empty() ? "" : ", ") + e->parts.member;
                }
                Trusted(cls + "'s slot " + std::to_string(i),
                        "its address names " + others + " as well as " + slot.name +
                            ": which of them the slot means is not proven");
            }
        } else if (there.empty()) {
            s.verdict = SlotVerdict::Unnamed;
            unnamed.push_back(s.index);
        } else {
            const bool sameMember =
                std::any_of(there.begin(), there.end(), [&](const HostExport* e) {
                    return e->parts.scope == cls && e->parts.member == slot.name;
                });
            s.verdict = sameMember ? SlotVerdict::OtherType : SlotVerdict::OtherFunction;
            Differ(check, Difference{DifferenceKind::SlotOther, cls, static_cast<int>(i),
                                     slot.mangled, s.host[0]});
        }
        check.slots.push_back(std::move(s));
    }
    for (size_t i = common; i < table.size(); ++i) {
        SlotCheck s;
        s.index = static_cast<unsigned>(i);
        s.verdict = SlotVerdict::Extra;
        for (const HostExport* e : exports_.At(table[i]))
            s.host.push_back(e->name);
        check.slots.push_back(std::move(s));
    }
    if (!unnamed.empty()) {
        std::string list;
        for (unsigned i : unnamed)
            list += (list.empty() ? "" : ", ") + std::to_string(i);
        Trusted(cls + "'s slot" + (unnamed.size() > 1 ? "s " : " ") + list,
                "the host's vftable points to functions it does not export");
    }
    // The module calls up to its last slot; the host calls up to its own.
    const bool shorter = table.size() < ours.slots.size();
    const bool longer = table.size() > ours.slots.size();
    if ((shorter && !check.hostCallsUs) || (longer && check.hostCallsUs)) {
        check.lengthDiffers = true;
        Difference d{shorter ? DifferenceKind::TableShorter : DifferenceKind::TableLonger, cls, -1,
                     "", ""};
        d.ourSlots = static_cast<unsigned>(ours.slots.size());
        d.hostSlots = static_cast<unsigned>(table.size());
        if (longer && !check.slots.empty() && !check.slots[common].host.empty())
            d.host = check.slots[common].host[0];
        Differ(check, d);
    }
}

void Checker::CheckClass(const ClassLayout& ours) {
    ClassCheck check;
    check.ours = &ours;
    check.hostCallsUs = ours.name == kHostCallsUs;
    const std::string& cls = ours.name;
    const std::vector<const HostExport*> own = exports_.OfClass(cls);
    std::vector<const HostExport*> virtuals, plain;
    for (const HostExport* e : own) {
        if (e->parts.kind == SymbolKind::Virtual)
            virtuals.push_back(e);
        else if (e->parts.kind == SymbolKind::Plain)
            plain.push_back(e);
    }
    const HostExport* vftable = exports_.Find("??_7" + cls + "@@6B@");
    const auto ourSlotNamed = [&](const std::string& member) {
        return std::any_of(ours.slots.begin(), ours.slots.end(),
                           [&](const Slot& s) { return !s.Destructor() && s.name == member; });
    };
    const auto finish = [&] { result_.classes.push_back(std::move(check)); };

    if (own.empty()) {
        check.table = TableState::NothingExported;
        Trusted(cls, "the host exports nothing of it; our order of its " +
                         Plural(ours.slots.size(), "slot") + " is taken on trust");
        return finish();
    }
    check.plainCount = plain.size();
    for (const HostExport* e : plain) {
        if (!ourSlotNamed(e->parts.member))
            continue;
        check.plainOps.push_back(e->name);
        Differ(check, Difference{DifferenceKind::PlainMember, cls, -1, "", e->name});
    }
    if (!check.plainOps.empty() && virtuals.empty()) {
        check.table = TableState::PlainOnly;
        return finish();
    }
    if (virtuals.empty() && !vftable) {
        check.table = TableState::NoVirtuals;
        Trusted(cls, "the host exports no virtual member of it and no vftable");
        return finish();
    }

    // Names first: each of our slots' functions against the host's virtual members.
    const auto hostHas = [&](const std::string& mangled) {
        return std::any_of(virtuals.begin(), virtuals.end(),
                           [&](const HostExport* e) { return e->name == mangled; });
    };
    for (const Slot& slot : ours.slots) {
        if (slot.Destructor() || hostHas(slot.mangled))
            continue;
        bool alike = false;
        for (const HostExport* e : virtuals) {
            if (e->parts.member != slot.name)
                continue;
            alike = true;
            check.otherTypes.emplace_back(&slot, e->name);
            Differ(check, Difference{DifferenceKind::OtherType, cls, -1, slot.mangled, e->name});
        }
        if (!alike && !virtuals.empty()) {
            // Pure in the host's class, perhaps, or not there at all: the vftable may tell.
            check.notExported.push_back(&slot);
            Trusted(cls + "::" + slot.name,
                    "the host exports no virtual member of that name (a pure one is not exported)");
        }
    }
    for (const HostExport* e : virtuals) {
        const bool ours_ = std::any_of(ours.slots.begin(), ours.slots.end(), [&](const Slot& s) {
            return s.mangled == e->name || s.name == e->parts.member;
        });
        if (ours_)
            continue;
        check.undeclared.push_back(e->name);
        Differ(check, Difference{DifferenceKind::Undeclared, cls, -1, "", e->name});
    }

    if (!library_.image || !exports_.HaveAddresses()) {
        check.table = TableState::NamesOnly;
        return finish();
    }
    if (!vftable) {
        check.table = TableState::NoVftable;
        Trusted(cls + "'s slot order",
                "the host exports its virtual members but not its vftable (??_7" + cls + "@@6B@)");
        return finish();
    }
    check.table = TableState::Walked;
    const std::vector<uint32_t> table = ReadTable(vftable->rva);
    check.hostSlots = static_cast<unsigned>(table.size());
    CompareSlots(check, table);
    finish();
}

}  // namespace

FitResult CheckFit(const ModuleNeeds& needs, const HostLibrary& library) {
    FitResult result;
    if (!library.exports)
        return result;
    Checker checker(needs, library, result);
    checker.CheckNames();
    const ClassLayout* hostCalls = nullptr;
    for (const ClassLayout& c : needs.layout.classes) {
        if (c.name == kHostCallsUs)
            hostCalls = &c;
        else
            checker.CheckClass(c);
    }
    if (hostCalls)
        checker.CheckClass(*hostCalls);
    return result;
}

}  // namespace hostfit
