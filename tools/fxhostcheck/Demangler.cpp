#include "Demangler.h"

#include <cstdio>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
// dbghelp.h after windows.h, which it needs.
#include <dbghelp.h>
#else
#include <unistd.h>
#endif

namespace fxhostcheck {

#if defined(_WIN32)

// Leaves out the "__ptr64" after every pointer of a 64-bit name (Microsoft's dbghelp.h has it).
#ifndef UNDNAME_NO_PTR64
#define UNDNAME_NO_PTR64 0x20000
#endif

std::map<std::string, std::string> Demangle(const std::vector<std::string>& names) {
    std::map<std::string, std::string> texts;
    // dbghelp.dll is loaded when needed rather than imported: Wine's 32-bit import library of it
    // fails lld-link's SafeSEH check, and without it the names stay as they are.
    using Undecorate = DWORD(WINAPI*)(PCSTR, PSTR, DWORD, DWORD);
    const HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    const auto undecorate = dbghelp ? reinterpret_cast<Undecorate>(reinterpret_cast<void*>(
                                          GetProcAddress(dbghelp, "UnDecorateSymbolName")))
                                    : nullptr;
    for (const std::string& name : names) {
        char text[2048];
        const DWORD length =
            undecorate ? undecorate(name.c_str(), text, sizeof text, UNDNAME_NO_PTR64) : 0;
        texts[name] = length ? std::string(text, length) : name;
    }
    if (dbghelp)
        FreeLibrary(dbghelp);
    return texts;
}

#else

namespace {

// Names are printable ASCII, one a line; anything else is not a name llvm-undname is given.
bool Plain(const std::string& name) {
    for (char c : name) {
        if (c < 0x21 || c > 0x7E)
            return false;
    }
    return !name.empty();
}

std::string ShellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

std::map<std::string, std::string> Demangle(const std::vector<std::string>& names) {
    std::map<std::string, std::string> texts;
    for (const std::string& name : names)
        texts[name] = name;
    const char* tool = std::getenv("VANTREL_LLVM_UNDNAME");
    const std::string undname = tool && *tool ? tool : "llvm-undname-14";
    // The names go in through a file, the texts come back through a pipe.
    char input[] = "/tmp/fxhostcheck-names-XXXXXX";
    const int fd = mkstemp(input);
    if (fd < 0)
        return texts;
    FILE* f = fdopen(fd, "w");
    size_t given = 0;
    for (const std::string& name : names) {
        if (f && Plain(name))
            std::fprintf(f, "%s\n", name.c_str()), ++given;
    }
    if (f)
        std::fclose(f);
    FILE* out = given ? popen((ShellQuoted(undname) + " < " + input + " 2>/dev/null").c_str(), "r")
                      : nullptr;
    if (out) {
        // For each name: the name, its text, an empty line.
        std::string all;
        char chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, out)) > 0)
            all.append(chunk, got);
        pclose(out);
        size_t at = 0;
        std::string previous;
        while (at < all.size()) {
            size_t end = all.find('\n', at);
            if (end == std::string::npos)
                end = all.size();
            const std::string line = all.substr(at, end - at);
            at = end + 1;
            const auto known = texts.find(previous);
            if (known != texts.end() && known->second == previous && !line.empty() &&
                line.rfind("Invalid", 0) != 0)
                known->second = line;
            previous = line;
        }
    }
    unlink(input);
    return texts;
}

#endif

}  // namespace fxhostcheck
