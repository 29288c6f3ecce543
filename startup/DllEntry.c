/* The entry point of a DLL: runs the C and C++ initialisers before DllMain sees the process
 * attach, and the DLL's atexit functions (static destructors among them) after it sees the
 * detach, or when the attach failed. */
#include <windows.h>

#include "Startup.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

BOOL WINAPI _DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        vantrel_init_security_cookie();
        vantrel_is_dll = 1;
        if (_initialize_onexit_table(&vantrel_module_exit_table) != 0 ||
            _initterm_e(__xi_a, __xi_z) != 0)
            return FALSE;
        _initterm(__xc_a, __xc_z);
    }
    BOOL ok = DllMain(instance, reason, reserved);
    if (reason == DLL_PROCESS_DETACH || (reason == DLL_PROCESS_ATTACH && !ok))
        _execute_onexit_table(&vantrel_module_exit_table);
    return ok;
}
