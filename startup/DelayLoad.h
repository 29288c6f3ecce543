/* The delay-load table as the linker writes it (/DELAYLOAD), and the start-up library's helper for
 * it (DelayLoad.c). Names as in Microsoft's delayimp.h, which Wine's headers lack. */
#pragma once

#include <stddef.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One delay-loaded DLL: every field is an RVA in the binary (attribute 1). */
typedef struct ImgDelayDescr {
    DWORD grAttrs;
    DWORD rvaDLLName; /* the file name the binary was linked against */
    DWORD rvaHmod;    /* the module the table is bound to */
    DWORD rvaIAT;     /* the addresses the calls go through */
    DWORD rvaINT;     /* the names, as in an import table */
    DWORD rvaBoundIAT;
    DWORD rvaUnloadIAT;
    DWORD dwTimeStamp;
} ImgDelayDescr;

typedef struct DelayLoadProc {
    BOOL fImportByName;
    LPCSTR szProcName;
} DelayLoadProc;

typedef struct DelayLoadInfo {
    DWORD cb;
    const ImgDelayDescr* pidd;
    FARPROC* ppfn;
    LPCSTR szDll;
    DelayLoadProc dlp;
    HMODULE hmodCur;
    FARPROC pfnCur;
    DWORD dwLastError;
} DelayLoadInfo;

enum {
    dliStartProcessing,
    dliNotePreLoadLibrary,
    dliNotePreGetProcAddress,
    dliFailLoadLib,
    dliFailGetProc,
    dliNoteEndProcessing
};

/* For dliNotePreLoadLibrary the hook returns the module to bind the DLL's table to (an HMODULE
 * cast to FARPROC), or null when it has none. */
typedef FARPROC(WINAPI* PfnDliHook)(unsigned notification, DelayLoadInfo* info);
extern PfnDliHook __pfnDliNotifyHook2;

FARPROC WINAPI __delayLoadHelper2(const ImgDelayDescr* descriptor, FARPROC* entry);

/* Binds every delay-loaded function of this binary to `target` at once (GetProcAddress by name):
 * the calls go straight to `target` from then on. Returns how many names `target` does not
 * export; those keep their thunks, and a call of one raises the helper's exception. */
size_t vantrel_delay_bind(HMODULE target);

#ifdef __cplusplus
}
#endif
