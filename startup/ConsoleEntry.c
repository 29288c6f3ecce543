/* The entry point of a console program with main(): arguments and environment from the C
 * runtime, the initialisers, then main's result to exit(), which also runs the atexit functions. */
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
    exit(main(*__p___argc(), *__p___argv()));
}
