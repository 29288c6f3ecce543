// A path's extension. A file of its own, so that a fixture host can be linked from the stand-in's
// objects without it (tests/windows/HostRefusal.cmake).
#include <cwchar>

#include "host/String.h"

String GetPathExtension(const wchar_t* path) {
    if (!path)
        return String();
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'/' || *p == L'\\')
            name = p + 1;
    const wchar_t* dot = std::wcsrchr(name, L'.');
    if (!dot)
        return String();
    return String(dot + 1);
}
