// fxhostcheck: does the module DLL fit a host's API library, and where not. Reads the host's
// files (its folder, its library, or its import library) and the module's DLL, and applies the
// rules the module applies when it is loaded (hostfit/); never runs either.
//
// Exit status: 0 when every check that could be made holds, 1 when the module does not fit (the
// report says where), 2 when nothing could be checked or the command line is bad.
#include <cstdio>
#include <set>
#include <string>

#include "CommandLine.h"
#include "Demangler.h"
#include "Files.h"
#include "HostSearch.h"
#include "Report.h"
#include "Sha256.h"
#include "hostfit/FitRules.h"
#include "hostfit/ModuleNeeds.h"

namespace {

constexpr int kFits = 0;
constexpr int kDoesNotFit = 1;
constexpr int kCannotCheck = 2;

const char kUsage[] =
    "usage: fxhostcheck HOST [--dll DLL] [--arch x64|x86] [--build DIR]\n"
    "       fxhostcheck --help\n"
    "\n"
    "Checks the module DLL against the host's own files: does it fit, and where not.\n"
    "HOST is the host's folder (its DLLs and those of its direct subfolders are searched, and\n"
    "its executables say which library the host loads), or the host's API library itself: a DLL,\n"
    "or an import library (.lib: names only, no slot orders).\n"
    "\n"
    "  --dll DLL      the module (default: DIR/bin/VantrelEffect.dll with --build, else\n"
    "                 VantrelEffect.dll beside this program or in plugins/ beside it)\n"
    "  --arch ARCH    the machine the module must be built for (default: the module's)\n"
    "  --build DIR    the build folder that holds the default module\n"
    "\n"
    "The module carries its own layout of the host's classes; nothing else is needed.\n"
    "Exit status: 0 fits as far as it could be checked; 1 does not fit; 2 cannot check.\n";

std::string Quoted(const std::string& text) {
#if defined(_WIN32)
    return "\"" + text + "\"";
#else
    if (!text.empty() &&
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789_-./=:,+@%") == std::string::npos)
        return text;
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
#endif
}

int CannotCheck(const std::string& why) {
    std::fprintf(stderr, "fxhostcheck: cannot check: %s\n", why.c_str());
    return kCannotCheck;
}

// What the suite recorded of the DLL it last passed, beside the build folder.
std::string TestedNote(const fxhostcheck::Path& module, const std::vector<unsigned char>& bytes) {
    const fxhostcheck::Path record = module.parent_path().parent_path() / "tested-dll.sha256";
    std::vector<unsigned char> text;
    std::string error;
    if (!fxhostcheck::ReadWhole(record, text, error, 1 << 20))
        return "";
    const std::string hash = Sha256Hex(bytes.data(), bytes.size());
    const std::string recorded(text.begin(), text.end());
    return recorded.find(hash) != std::string::npos ? " (the DLL the suite last passed)"
                                                    : " (not the DLL the suite last passed)";
}

std::vector<std::string> NamesToShow(const hostfit::FitResult& r) {
    std::set<std::string> names;
    for (const auto& n : r.names) {
        names.insert(n.name);
        names.insert(n.alike.begin(), n.alike.end());
    }
    for (const auto& c : r.classes) {
        names.insert(c.plainOps.begin(), c.plainOps.end());
        names.insert(c.undeclared.begin(), c.undeclared.end());
        for (const auto& t : c.otherTypes)
            names.insert(t.first->mangled), names.insert(t.second);
        for (const auto& s : c.slots) {
            names.insert(s.host.begin(), s.host.end());
            if (s.ours)
                names.insert(s.ours->mangled);
        }
    }
    return {names.begin(), names.end()};
}

}  // namespace

int main(int argc, char** argv) {
    std::string host, dll, arch, build;
    cli::CommandLine line(" (fxhostcheck --help lists them)");
    line.Text("--dll", dll)
        .Option("--arch",
                [&](const std::string& value) {
                    if (value != "x64" && value != "x86")
                        return cli::Refusal("--arch", "x64 or x86", value);
                    arch = value;
                    return std::string();
                })
        .Text("--build", build)
        .Positional([&](const std::string& value) {
            if (!host.empty())
                return "one host at a time: '" + host + "' and '" + value + "' given";
            host = value;
            return std::string();
        });
    int status = 0;
    const std::vector<std::string> args = cli::Utf8Arguments(argc, argv);
    if (!line.Parse(args, "fxhostcheck", kUsage, status))
        return status;
    if (host.empty()) {
        std::fputs("fxhostcheck: no host given (fxhostcheck --help shows the usage)\n", stderr);
        return kCannotCheck;
    }

    using fxhostcheck::Path;
    Path module;
    if (!dll.empty()) {
        module = fxhostcheck::PathFromArgument(dll);
    } else if (!build.empty()) {
        module = fxhostcheck::PathFromArgument(build) / "bin" / "VantrelEffect.dll";
    } else {
        const Path here = fxhostcheck::PathFromArgument(argc > 0 ? argv[0] : "").parent_path();
        module = here / "VantrelEffect.dll";
        std::error_code ec;
        if (!std::filesystem::exists(module, ec))
            module = here / "plugins" / "VantrelEffect.dll";
    }
    std::vector<unsigned char> moduleBytes;
    std::string error;
    if (!fxhostcheck::ReadWhole(module, moduleBytes, error, size_t{1} << 30))
        return CannotCheck("no module to check: " + fxhostcheck::Show(module) + ": " + error +
                           " (build it, or pass --dll)");
    hostfit::FileImage moduleReader(moduleBytes.data(), moduleBytes.size());
    hostfit::PeImage moduleImage;
    if (!moduleImage.Open(moduleReader, error))
        return CannotCheck("cannot read " + fxhostcheck::Show(module) + ": " + error);
    const std::string moduleArch = hostfit::MachineName(moduleImage.GetMachine());
    if (!arch.empty() && moduleArch != arch)
        return CannotCheck(fxhostcheck::Show(module) + " is an " + moduleArch + " image, not " +
                           arch + " (--arch " + moduleArch + ")");
    hostfit::ModuleNeeds needs;
    if (!hostfit::ReadModuleNeeds(moduleImage, needs, error))
        return CannotCheck(fxhostcheck::Show(module) + ": " + error);
    if (!needs.hasLayout)
        return CannotCheck(fxhostcheck::Show(module) +
                           " carries no layout of the host's classes (" + needs.layoutError +
                           "): a module of the windows-msvc presets does");

    fxhostcheck::HostSearch search;
    const Path hostPath = fxhostcheck::PathFromArgument(host);
    if (!fxhostcheck::FindHostLibrary(hostPath, module, needs, search, error))
        return CannotCheck(error);
    const fxhostcheck::LibraryFile& library = *search.library;
    if (library.machine != needs.machine)
        return CannotCheck("the host library " + fxhostcheck::Show(library.path) + " is " +
                           library.machineText + ", the module " + moduleArch + ": check the " +
                           library.machineText + " module");

    hostfit::HostLibrary checked;
    checked.fileName = library.fileName;
    checked.exports = &library.exports;
    checked.image = library.importLibrary ? nullptr : &library.image;
    const hostfit::FitResult result = hostfit::CheckFit(needs, checked);

    fxhostcheck::ReportInput in;
    in.module = fxhostcheck::Show(module) + TestedNote(module, moduleBytes);
    in.arch = moduleArch;
    in.search = &search;
    in.needs = &needs;
    in.result = &result;
    in.texts = fxhostcheck::Demangle(NamesToShow(result));
    std::string again = "fxhostcheck";
#if !defined(_WIN32)
    again = "scripts/check-host";
#endif
    again +=
        " " + Quoted(fxhostcheck::Show(hostPath)) + " --dll " + Quoted(fxhostcheck::Show(module));
    in.checkAgain = again;
    std::fputs(fxhostcheck::Report(in).c_str(), stdout);
    return result.Fits() ? kFits : kDoesNotFit;
}
