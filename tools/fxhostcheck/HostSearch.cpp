#include "HostSearch.h"

#include <algorithm>
#include <cctype>

#include "ImportLibrary.h"
#include "hostfit/HostChoice.h"
#include "hostfit/MangledName.h"

namespace fxhostcheck {

namespace {

// Larger than any host library; a bigger file is not read.
constexpr size_t kMaxFile = size_t{1} << 30;

bool HasExtension(const Path& path, const char* extension) {
    std::string e = path.extension().string();
    for (char& c : e)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e == extension;
}

std::string Relative(const Path& path, const Path& base) {
    std::error_code ec;
    const Path relative = std::filesystem::relative(path, base, ec);
    return Show(ec || relative.empty() ? path : relative);
}

bool IsEssential(const std::string& name, hostfit::Machine machine) {
    const hostfit::HostEssentials e = hostfit::EssentialNames(machine);
    return name == e.api || name == e.graphics || name == e.allocator || name == e.stringFromWide;
}

}  // namespace

bool ReadLibrary(const Path& path, std::unique_ptr<LibraryFile>& library, std::string& error) {
    auto file = std::make_unique<LibraryFile>();
    file->path = path;
    if (!ReadWhole(path, file->bytes, error, kMaxFile))
        return false;
    if (HasExtension(path, ".lib")) {
        ImportLibrary lib;
        if (!ReadImportLibrary(file->bytes, lib, error))
            return false;
        file->importLibrary = true;
        file->fileName = lib.dll;
        file->machine = lib.machine;
        file->machineText = lib.machineText;
        file->exports = hostfit::HostExports(std::move(lib.exports), false);
        file->bytes.clear();
        library = std::move(file);
        return true;
    }
    file->reader = std::make_unique<hostfit::FileImage>(file->bytes.data(), file->bytes.size());
    if (!file->image.Open(*file->reader, error))
        return false;
    file->fileName = FileNameText(path);
    file->machine = file->image.GetMachine();
    file->machineText = file->machine == hostfit::Machine::Unknown
                            ? "machine " + std::to_string(file->image.RawMachine())
                            : hostfit::MachineName(file->machine);
    file->exports = hostfit::HostExports(file->image.Exports(), true);
    library = std::move(file);
    return true;
}

bool FindHostLibrary(const Path& host, const Path& module, const hostfit::ModuleNeeds& needs,
                     HostSearch& search, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(host, ec)) {
        error = "no such file or folder: " + Show(host);
        return false;
    }
    if (!std::filesystem::is_directory(host, ec)) {
        std::string why;
        if (!ReadLibrary(host, search.library, why)) {
            error = "cannot read " + Show(host) + ": " + why;
            return false;
        }
        if (search.library->exports.Count(needs.names) == 0) {
            error = Show(host) +
                    " exports none of the names the module uses (the globals API, "
                    "GS and MainAllocator, String's constructors, ...)";
            return false;
        }
        return true;
    }

    std::vector<Entry> top;
    std::string why;
    if (!ListFolder(host, top, why)) {
        error = "cannot list " + Show(host) + ": " + why;
        return false;
    }
    std::vector<Path> folders{host};
    for (const Entry& e : top) {
        if (e.folder)
            folders.push_back(e.path);
    }
    std::vector<std::unique_ptr<LibraryFile>> qualified;
    std::unique_ptr<LibraryFile> partial;  // lacks only globals or String's constructor
    size_t partialCount = 0, looked = 0, nearestCount = 0;
    std::string nearest;
    std::vector<hostfit::Executable> executables;
    for (const Path& folder : folders) {
        std::vector<Entry> entries;
        if (folder == host) {
            entries = top;
        } else if (!ListFolder(folder, entries, why)) {
            search.skipped.push_back(Relative(folder, host) + " (cannot list it: " + why + ")");
            continue;
        }
        for (const Entry& e : entries) {
            if (e.folder)
                continue;
            const bool dll = HasExtension(e.path, ".dll"), exe = HasExtension(e.path, ".exe");
            if ((!dll && !exe) || SameFile(e.path, module))
                continue;
            std::unique_ptr<LibraryFile> file;
            if (!ReadLibrary(e.path, file, why)) {
                // Not a PE image: neither the host's library nor its executable.
                if (dll)
                    ++looked;
                continue;
            }
            if (exe) {
                hostfit::Executable executable;
                executable.folder = Show(folder);
                for (const auto& table : {file->image.Imports(), file->image.DelayImports()}) {
                    for (const hostfit::ImportedDll& d : table)
                        executable.imports.push_back(d.dll);
                }
                executables.push_back(std::move(executable));
                continue;
            }
            ++looked;
            if (file->machine == needs.machine &&
                hostfit::ExportsHostEssentials(file->exports, needs.machine)) {
                qualified.push_back(std::move(file));
                continue;
            }
            const size_t count = file->exports.Count(needs.names);
            bool onlyEssentials = count > 0 && file->machine == needs.machine;
            for (const std::string& n : needs.names) {
                if (onlyEssentials && !file->exports.Find(n) && !IsEssential(n, needs.machine))
                    onlyEssentials = false;
            }
            if (onlyEssentials && count > partialCount) {
                partialCount = count;
                partial = std::move(file);
            } else if (count > nearestCount) {
                nearestCount = count;
                nearest = Relative(e.path, host);
            }
        }
    }
    const std::string among = "found among " + std::to_string(looked) + " DLLs in " + Show(host) +
                              " and its direct subfolders";
    if (qualified.empty() && partial) {
        search.note = among +
                      "; it exports every name the module uses but globals or String's "
                      "constructor";
        search.library = std::move(partial);
        return true;
    }
    if (qualified.empty()) {
        error = "none of the " + std::to_string(looked) + " DLLs in " + Show(host) +
                " and its direct subfolders exports what the module takes from the host by name "
                "(the globals API, GS and MainAllocator, String's constructor)";
        if (nearestCount)
            error += "; the nearest is " + nearest + ", which exports " +
                     std::to_string(nearestCount) + " of the module's " +
                     std::to_string(needs.names.size()) + " names";
        return false;
    }
    std::vector<hostfit::Candidate> candidates;
    for (const auto& q : qualified)
        candidates.push_back(
            hostfit::Candidate{q->fileName, Show(q->path.parent_path()), &q->exports});
    const hostfit::HostChoice choice =
        hostfit::ChooseHostLibrary(candidates, executables, needs.names, needs.machine);
    search.note = among;
    if (qualified.size() > 1) {
        search.note += "; chosen because " + choice.why + "; also exporting the globals: ";
        bool first = true;
        for (size_t i = 0; i < qualified.size(); ++i) {
            if (static_cast<int>(i) == choice.index)
                continue;
            search.note += (first ? "" : ", ") + Relative(qualified[i]->path, host);
            first = false;
        }
    }
    search.library = std::move(qualified[choice.index]);
    return true;
}

}  // namespace fxhostcheck
