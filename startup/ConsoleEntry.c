/* The entry point of a console program with main(): arguments and environment from the C
 * runtime, the initialisers (the main thread's thread_locals last), then main's result to exit(),
 * which also runs the main thread's thread_local destructors and the atexit functions. */
#include <stdlib.h>
#include <windows.h>

#include "Startup.h"

int __cdecl _configure_narrow_argv(int mode);
int __cdecl _initialize_narrow_environment(void);
void __cdecl _set_app_type(int type);
int main(int argc, char** argv);

enum { console_app = 1, expand_argv_unexpanded = 2 };

int mainCRTStartup(void) {
    vantrel_init_security_cookie();
    _set_app_type(console_app);
    _configure_narrow_argv(expand_argv_unexpanded);
    _initialize_narrow_environment();
    if (_initterm_e(__xi_a, __xi_z) != 0)
        exit(255);
    _initterm(__xc_a, __xc_z);
    /* This thread's thread_locals, and their destructors run by exit() before the static ones. */
    __dyn_tls_init(NULL, DLL_THREAD_ATTACH, NULL);
    _register_thread_local_exe_atexit_callback(vantrel_thread_local_exit);
    exit(main(*__p___argc(), *__p___argv()));
}
