/* Shared by the start-up library's files: the initialiser tables and the C runtime functions
 * (ucrtbase.dll) that run them, which Wine's headers do not declare. */
#pragma once

typedef void(__cdecl* vantrel_pvfv)(void);
typedef int(__cdecl* vantrel_pifv)(void);
typedef struct {
    vantrel_pvfv *first, *last, *end;
} vantrel_onexit_table;

int __cdecl _initialize_onexit_table(vantrel_onexit_table* table);
int __cdecl _register_onexit_function(vantrel_onexit_table* table, vantrel_pvfv function);
int __cdecl _execute_onexit_table(vantrel_onexit_table* table);
int __cdecl _crt_atexit(vantrel_pvfv function);
void __cdecl _initterm(vantrel_pvfv* first, vantrel_pvfv* last);
int __cdecl _initterm_e(vantrel_pifv* first, vantrel_pifv* last);
typedef void(__stdcall* vantrel_tls_callback)(void* module, unsigned long reason, void* reserved);
int __cdecl _register_thread_local_exe_atexit_callback(vantrel_tls_callback callback);

extern vantrel_pifv __xi_a[], __xi_z[];
extern vantrel_pvfv __xc_a[], __xc_z[];
extern vantrel_onexit_table vantrel_module_exit_table;
extern int vantrel_is_dll;

/* Called first by each entry point. */
void vantrel_init_security_cookie(void);

/* The dynamic initialisers of thread_local variables, run for the calling thread (once per
 * thread; the entry points call it for the thread that starts the program or loads the DLL,
 * the loader for every thread created after that), and the destructors the calling thread
 * registered, newest first. Both take the arguments of a TLS callback. */
void __stdcall __dyn_tls_init(void* module, unsigned long reason, void* reserved);
void __stdcall vantrel_thread_local_exit(void* module, unsigned long reason, void* reserved);
