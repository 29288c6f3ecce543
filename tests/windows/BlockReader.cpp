// A second process for the Windows tests: opens a named block made by another process, prints the
// UTF-16 text at its start (as UTF-8, one line) and, when asked, writes a reply text over it.
//   blockreader NAME VIEWSIZE [REPLY]
// Exit codes: 0 done, 1 bad arguments, 2 no such block, 3 the view was refused (error printed).

// clang-format off
#include <windows.h>  // first: the other system headers rely on it
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on

#include <cstdio>
#include <cwchar>
#include <string>

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) {
        std::fputs("usage: blockreader NAME VIEWSIZE [REPLY]\n", stderr);
        return 1;
    }
    DWORD size = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, argv[1]);
    if (mapping == nullptr) {
        std::printf("error %lu\n", GetLastError());
        return 2;
    }
    wchar_t* view = static_cast<wchar_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size));
    if (view == nullptr) {
        std::printf("error %lu\n", GetLastError());
        CloseHandle(mapping);
        return 3;
    }
    size_t length = 0;
    while (length < size / sizeof(wchar_t) && view[length] != L'\0') {
        ++length;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, view, static_cast<int>(length), nullptr, 0, nullptr,
                                    nullptr);
    std::string text(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, view, static_cast<int>(length), &text[0], bytes, nullptr,
                            nullptr);
    }
    std::printf("text %s\n", text.c_str());
    if (argc > 3) {
        size_t replyLength = std::wcslen(argv[3]);
        if (replyLength < size / sizeof(wchar_t)) {
            std::wmemcpy(view, argv[3], replyLength + 1);
        }
    }
    std::fflush(stdout);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    LocalFree(argv);
    return 0;
}
