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

extern vantrel_pifv __xi_a[], __xi_z[];
extern vantrel_pvfv __xc_a[], __xc_z[];
extern vantrel_onexit_table vantrel_module_exit_table;
extern int vantrel_is_dll;

/* Called first by each entry point. */
void vantrel_init_security_cookie(void);
