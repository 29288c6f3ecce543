/* The delay-load helper of a binary linked with /DELAYLOAD, in place of Microsoft's delayimp.lib.
 *
 * A delay-loaded DLL's functions are called through an address table that the linker fills with
 * thunks; the first call of each thunk asks __delayLoadHelper2 for the function. Microsoft's
 * helper loads the DLL by the file name written in the table. Ours loads nothing by name: the
 * binary chooses the module itself and binds the whole table to it at once (vantrel_delay_bind),
 * so that a missing function is known before anything is called, and the file name in the table
 * is only the name the binary was linked against. A thunk reached before that asks the notify
 * hook, which may bind then; when no module is given, or it lacks the function, the helper raises
 * the exception Microsoft's helper raises for a function that cannot be found. */
#include <windows.h>

#include "DelayLoad.h"

/* The image this code is linked into. */
extern IMAGE_DOS_HEADER __ImageBase;

PfnDliHook __pfnDliNotifyHook2 = 0;

static BYTE* ImageAt(DWORD rva) {
    return (BYTE*)&__ImageBase + rva;
}

static const ImgDelayDescr* FirstDescriptor(void) {
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)ImageAt((DWORD)__ImageBase.e_lfanew);
    const IMAGE_DATA_DIRECTORY* directory =
        &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    if (directory->VirtualAddress == 0 || directory->Size == 0)
        return 0;
    return (const ImgDelayDescr*)ImageAt(directory->VirtualAddress);
}

/* The name imported at `index` of a descriptor's name table, or null for an import by ordinal. */
static const char* NameAt(const ImgDelayDescr* descriptor, size_t index) {
    const IMAGE_THUNK_DATA* names = (const IMAGE_THUNK_DATA*)ImageAt(descriptor->rvaINT);
    if (IMAGE_SNAP_BY_ORDINAL(names[index].u1.Ordinal))
        return 0;
    return (const char*)((const IMAGE_IMPORT_BY_NAME*)ImageAt((DWORD)names[index].u1.AddressOfData))
        ->Name;
}

static size_t CountOf(const ImgDelayDescr* descriptor) {
    const IMAGE_THUNK_DATA* names = (const IMAGE_THUNK_DATA*)ImageAt(descriptor->rvaINT);
    size_t count = 0;
    while (names[count].u1.AddressOfData != 0)
        ++count;
    return count;
}

size_t vantrel_delay_bind(HMODULE target) {
    size_t unresolved = 0;
    const ImgDelayDescr* descriptor = FirstDescriptor();
    for (; descriptor && descriptor->rvaDLLName != 0; ++descriptor) {
        FARPROC* table = (FARPROC*)ImageAt(descriptor->rvaIAT);
        size_t count = CountOf(descriptor);
        for (size_t i = 0; i < count; ++i) {
            const char* name = NameAt(descriptor, i);
            FARPROC function = name ? GetProcAddress(target, name) : 0;
            if (function)
                table[i] = function;
            else
                ++unresolved;
        }
        *(HMODULE*)ImageAt(descriptor->rvaHmod) = target;
    }
    return unresolved;
}

/* What Microsoft's helper raises when a function cannot be had: VcppException(ERROR_SEVERITY_ERROR,
 * ERROR_PROC_NOT_FOUND), with the call's details as its one argument. */
#define VANTREL_DELAY_PROC_NOT_FOUND 0xC06D007FUL

FARPROC WINAPI __delayLoadHelper2(const ImgDelayDescr* descriptor, FARPROC* entry) {
    DelayLoadInfo info;
    ZeroMemory(&info, sizeof info);
    info.cb = sizeof info;
    info.pidd = descriptor;
    info.ppfn = entry;
    info.szDll = (LPCSTR)ImageAt(descriptor->rvaDLLName);
    FARPROC* table = (FARPROC*)ImageAt(descriptor->rvaIAT);
    size_t index = (size_t)(entry - table);
    const char* name = NameAt(descriptor, index);
    info.dlp.fImportByName = name != 0;
    info.dlp.szProcName = name;

    HMODULE* bound = (HMODULE*)ImageAt(descriptor->rvaHmod);
    if (!*bound && __pfnDliNotifyHook2)
        *bound = (HMODULE)__pfnDliNotifyHook2(dliNotePreLoadLibrary, &info);
    info.hmodCur = *bound;
    FARPROC function = (info.hmodCur && name) ? GetProcAddress(info.hmodCur, name) : 0;
    if (function) {
        *entry = function;
        return function;
    }
    info.dwLastError = ERROR_PROC_NOT_FOUND;
    ULONG_PTR argument = (ULONG_PTR)&info;
    RaiseException(VANTREL_DELAY_PROC_NOT_FOUND, 0, 1, &argument);
    return 0;
}
