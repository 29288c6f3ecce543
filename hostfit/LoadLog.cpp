#include "LoadLog.h"

namespace hostfit {

namespace {

std::string Line(const Difference& d) {
    const std::string slot = d.slot >= 0 ? " slot " + std::to_string(d.slot) : "";
    switch (d.kind) {
        case DifferenceKind::MissingName:
            return "MISSING " + d.ours + (d.host.empty() ? "" : " (host has " + d.host + ")");
        case DifferenceKind::PlainMember:
            return d.cls + ": plain member in the host, virtual in ours: " + d.host;
        case DifferenceKind::OtherType:
            return d.cls + ": another type in the host: " + d.host + " (ours " + d.ours + ")";
        case DifferenceKind::Undeclared:
            return d.cls + ": host virtual we do not declare: " + d.host;
        case DifferenceKind::SlotOther:
            return d.cls + slot + ": host " + d.host + ", ours " + d.ours;
        case DifferenceKind::TableShorter:
            return d.cls + ": host vftable has " + std::to_string(d.hostSlots) + " slots, ours " +
                   std::to_string(d.ourSlots) + " (we call past its end)";
        case DifferenceKind::TableLonger:
            return d.cls + ": host vftable has " + std::to_string(d.hostSlots) + " slots, ours " +
                   std::to_string(d.ourSlots) + " (the host calls past ours)";
    }
    return d.cls;
}

}  // namespace

std::vector<std::string> LoadLogLines(const FitResult& result) {
    std::vector<std::string> lines;
    for (const Difference& d : result.differences)
        lines.push_back(Line(d));
    if (!lines.empty())
        return lines;
    std::string proven, trusted;
    for (const ClassCheck& c : result.classes) {
        std::string& list = c.Proven() ? proven : trusted;
        list += (list.empty() ? "" : ",") + c.ours->name;
    }
    lines.push_back(std::to_string(result.present) +
                    " names; slot by slot: " + (proven.empty() ? "none" : proven) +
                    "; on trust: " + (trusted.empty() ? "none" : trusted));
    return lines;
}

}  // namespace hostfit
