/* The entry point of a DLL, in the order of Microsoft's runtime: the C and C++ initialisers and
 * the loading thread's thread_locals before DllMain sees the process attach; after it sees the
 * detach (which the loader sends after the TLS callback has destroyed the detaching thread's
 * thread_locals), the DLL's atexit functions, static destructors among them. When DllMain refuses
 * the attach, the loader unloads the DLL without a word to it, so DllMain is called here for the
 * detach, in the same order as a detach, and the exit functions run; when an initialiser fails,
 * DllMain is not called at all and the exit functions registered so far run. Either way the DLL
 * undoes what it set up, and a detach the loader might still send for the failed attach finds
 * nothing to do. */
#include <windows.h>

#include "Startup.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

/* Set once DllMain has accepted the attach; the detach clears it. */
static int attached;

static BOOL ProcessAttach(HINSTANCE instance, LPVOID reserved) {
    vantrel_init_security_cookie();
    vantrel_is_dll = 1;
    if (_initialize_onexit_table(&vantrel_module_exit_table) != 0)
        return FALSE;
    if (_initterm_e(__xi_a, __xi_z) != 0) {
        _execute_onexit_table(&vantrel_module_exit_table);
        return FALSE;
    }
    _initterm(__xc_a, __xc_z);
    __dyn_tls_init(instance, DLL_THREAD_ATTACH, reserved);
    if (!DllMain(instance, DLL_PROCESS_ATTACH, reserved)) {
        vantrel_thread_local_exit(instance, DLL_PROCESS_DETACH, reserved);
        DllMain(instance, DLL_PROCESS_DETACH, reserved);
        _execute_onexit_table(&vantrel_module_exit_table);
        return FALSE;
    }
    attached = 1;
    return TRUE;
}

BOOL WINAPI _DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH)
        return ProcessAttach(instance, reserved);
    if (reason == DLL_PROCESS_DETACH) {
        if (!attached)
            return FALSE;
        attached = 0;
        BOOL ok = DllMain(instance, reason, reserved);
        _execute_onexit_table(&vantrel_module_exit_table);
        return ok;
    }
    return DllMain(instance, reason, reserved);
}
