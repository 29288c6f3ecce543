#include "ImportLibrary.h"

#include <cstring>
#include <set>

namespace fxhostcheck {

namespace {

constexpr size_t kMemberHeader = 60;
constexpr size_t kImportHeader = 20;

uint16_t U16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The texts of a member's NUL-separated strings: symbol, DLL, and (name type 4) the export name.
std::vector<std::string> Strings(const unsigned char* p, size_t size) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < size && out.size() < 3) {
        const void* nul = std::memchr(p + at, 0, size - at);
        const size_t end = nul ? static_cast<const unsigned char*>(nul) - p : size;
        out.emplace_back(reinterpret_cast<const char*>(p + at), end - at);
        at = end + 1;
    }
    return out;
}

}  // namespace

bool ReadImportLibrary(const std::vector<unsigned char>& bytes, ImportLibrary& library,
                       std::string& error) {
    if (bytes.size() < 8 || std::memcmp(bytes.data(), "!<arch>\n", 8) != 0) {
        error = "neither a DLL nor an import library";
        return false;
    }
    std::set<std::string> dlls;
    std::set<uint16_t> machines;
    size_t at = 8;
    while (at + kMemberHeader <= bytes.size()) {
        // The member's size: decimal text in ten bytes at offset 48.
        size_t size = 0;
        for (size_t i = 48; i < 58; ++i) {
            const unsigned char c = bytes[at + i];
            if (c >= '0' && c <= '9')
                size = size * 10 + (c - '0');
            else if (c != ' ')
                break;
        }
        const size_t body = at + kMemberHeader;
        if (size > bytes.size() - body)
            break;
        const unsigned char* b = bytes.data() + body;
        if (size >= kImportHeader && U32(b) == 0xFFFF0000u) {
            const uint16_t machine = U16(b + 6);
            const uint32_t length = U32(b + 12);
            const uint16_t info = U16(b + 18);
            if (length <= size - kImportHeader) {
                const std::vector<std::string> s = Strings(b + kImportHeader, length);
                if (s.size() >= 2) {
                    std::string symbol = s[0];
                    if (((info >> 2) & 7) == 4 && s.size() > 2 && !s[2].empty())
                        symbol = s[2];  // exported under another name
                    library.exports.push_back(hostfit::Export{symbol, 0});
                    dlls.insert(s[1]);
                    machines.insert(machine);
                }
            }
        }
        at = body + size + (size & 1);
    }
    if (library.exports.empty()) {
        error =
            "holds no short import members (an import library in the long format, or a "
            "static library): read the DLL instead";
        return false;
    }
    if (dlls.size() != 1) {
        error = "names more than one DLL";
        return false;
    }
    library.dll = *dlls.begin();
    for (uint16_t m : machines) {
        const hostfit::Machine machine = m == 0x8664  ? hostfit::Machine::X64
                                         : m == 0x14C ? hostfit::Machine::X86
                                                      : hostfit::Machine::Unknown;
        library.machine = machines.size() == 1 ? machine : hostfit::Machine::Unknown;
        library.machineText +=
            (library.machineText.empty() ? "" : ", ") + std::string(hostfit::MachineName(machine));
    }
    return true;
}

}  // namespace fxhostcheck
