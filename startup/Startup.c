/* What Microsoft's static runtime links into every binary and Wine's import libraries leave out:
 * the tables of C++ static constructors, atexit per module, thread-safe local statics and the TLS
 * directory. The entry points that run the tables are in DllEntry.c and ConsoleEntry.c. Every C
 * runtime function called here is one that ucrtbase.dll exports on Windows 10 and later. */
#include "Startup.h"

#include <limits.h>
#include <windows.h>

/* The compiler puts pointers to initialisers into .CRT$XI* (C) and .CRT$XC* (C++); the linker
 * sorts the sections by name, so these empty entries mark where each table starts and ends. */
#pragma section(".CRT$XIA", long, read)
#pragma section(".CRT$XIZ", long, read)
#pragma section(".CRT$XCA", long, read)
#pragma section(".CRT$XCZ", long, read)
#pragma section(".CRT$XLA", long, read)
#pragma section(".CRT$XLZ", long, read)
#pragma section(".rdata$T", long, read)
__declspec(allocate(".CRT$XIA")) vantrel_pifv __xi_a[] = {0};
__declspec(allocate(".CRT$XIZ")) vantrel_pifv __xi_z[] = {0};
__declspec(allocate(".CRT$XCA")) vantrel_pvfv __xc_a[] = {0};
__declspec(allocate(".CRT$XCZ")) vantrel_pvfv __xc_z[] = {0};

/* The TLS directory: the loader gives each thread its copy of .tls (thread_local variables and
 * the epoch of thread-safe statics) and stores the slot in _tls_index. The linker points the
 * image's TLS entry at _tls_used. */
ULONG _tls_index = 0;
#pragma data_seg(".tls")
char _tls_start = 0;
#pragma data_seg(".tls$ZZZ")
char _tls_end = 0;
#pragma data_seg()
__declspec(allocate(".CRT$XLA")) PIMAGE_TLS_CALLBACK __xl_a = 0;
__declspec(allocate(".CRT$XLZ")) PIMAGE_TLS_CALLBACK __xl_z = 0;
#ifdef _WIN64
__declspec(allocate(".rdata$T")) const IMAGE_TLS_DIRECTORY64 _tls_used = {
    .StartAddressOfRawData = (ULONGLONG)&_tls_start,
    .EndAddressOfRawData = (ULONGLONG)&_tls_end,
    .AddressOfIndex = (ULONGLONG)&_tls_index,
    .AddressOfCallBacks = (ULONGLONG)(&__xl_a + 1),
};
#else
__declspec(allocate(".rdata$T")) const IMAGE_TLS_DIRECTORY32 _tls_used = {
    .StartAddressOfRawData = (DWORD)&_tls_start,
    .EndAddressOfRawData = (DWORD)&_tls_end,
    .AddressOfIndex = (DWORD)&_tls_index,
    .AddressOfCallBacks = (DWORD)(&__xl_a + 1),
};
/* The compiler reads the thread's TLS array as fs:[_tls_array]: the offset of
 * ThreadLocalStoragePointer in the 32-bit TEB, as an absolute symbol. */
__asm__(".globl __tls_array\n\t.set __tls_array, 0x2C");
/* The load configuration that points the loader at the table of safe exception handlers the
 * linker builds with /safeseh; without it a 32-bit image with handlers is refused them. */
extern PVOID __safe_se_handler_table[];
extern BYTE __safe_se_handler_count;
const IMAGE_LOAD_CONFIG_DIRECTORY32 _load_config_used = {
    .Size = sizeof(IMAGE_LOAD_CONFIG_DIRECTORY32),
    .SEHandlerTable = (DWORD)__safe_se_handler_table,
    .SEHandlerCount = (DWORD)&__safe_se_handler_count,
};
#endif

/* Referenced by every object that uses floating point. */
int _fltused = 0x9875;

/* A DLL runs its own atexit functions when it is unloaded, before the process ends; a program
 * hands them to the C runtime's exit(). */
vantrel_onexit_table vantrel_module_exit_table;
int vantrel_is_dll;
int __cdecl atexit(vantrel_pvfv f) {
    return vantrel_is_dll ? _register_onexit_function(&vantrel_module_exit_table, f)
                          : _crt_atexit(f);
}

/* Thread-safe initialisation of local statics, the protocol the compiler emits: a guard of 0
 * means not started, -1 in progress, anything else the epoch at which it was finished. A thread
 * that finds it in progress waits for the one that runs the initialiser. */
int _Init_global_epoch = INT_MIN;
__declspec(thread) int _Init_thread_epoch = INT_MIN;
static SRWLOCK init_lock = SRWLOCK_INIT;
static CONDITION_VARIABLE init_done = CONDITION_VARIABLE_INIT;

void __cdecl _Init_thread_header(int* guard) {
    AcquireSRWLockExclusive(&init_lock);
    for (;;) {
        if (*guard == 0) {
            *guard = -1; /* this thread runs the initialiser */
            break;
        }
        if (*guard != -1) { /* finished while this thread waited for the lock */
            _Init_thread_epoch = _Init_global_epoch;
            break;
        }
        SleepConditionVariableSRW(&init_done, &init_lock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&init_lock);
}

void __cdecl _Init_thread_footer(int* guard) {
    AcquireSRWLockExclusive(&init_lock);
    ++_Init_global_epoch;
    *guard = _Init_global_epoch;
    _Init_thread_epoch = _Init_global_epoch;
    ReleaseSRWLockExclusive(&init_lock);
    WakeAllConditionVariable(&init_done);
}

/* The initialiser threw: the next thread to arrive tries again. */
void __cdecl _Init_thread_abort(int* guard) {
    AcquireSRWLockExclusive(&init_lock);
    *guard = 0;
    ReleaseSRWLockExclusive(&init_lock);
    WakeAllConditionVariable(&init_done);
}
