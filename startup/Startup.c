/* What Microsoft's static runtime links into every binary and Wine's import libraries leave out:
 * the tables of C++ static constructors, atexit per module, thread-safe local statics and the TLS
 * directory. The entry points that run the tables are in DllEntry.c and ConsoleEntry.c. Every C
 * runtime function called here is one that ucrtbase.dll exports on Windows 10 and later. */
#include "Startup.h"

#include <limits.h>
#include <stddef.h>
#include <windows.h>

/* From ucrtbase.dll, declared here: <stdlib.h> declares atexit as an import, and it is defined
 * below. */
void* __cdecl calloc(size_t count, size_t size);
void __cdecl free(void* block);

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

/* thread_local variables with a dynamic initialiser or a destructor. The compiler puts a pointer
 * to each translation unit's initialiser into .CRT$XDU and has it register each destructor with
 * __tlregdtor; it asks the linker for __dyn_tls_init and calls nothing when a thread first uses
 * such a variable. So the initialisers run when a thread starts: from the TLS callback below for
 * every thread created after the program started or the DLL loaded, and from the entry points
 * for the thread that started the program or loaded the DLL, once the static constructors have
 * run. A thread that was running before the DLL loaded gets no callback: in it, namespace-scope
 * thread_locals of the DLL stay zero-filled and unconstructed, as with Microsoft's runtime for
 * code without on-demand TLS guards (which this compiler does not emit). Local thread_locals are
 * constructed by the function on first use, on every thread. */
#pragma section(".CRT$XDA", long, read)
#pragma section(".CRT$XDZ", long, read)
#pragma section(".CRT$XLC", long, read)
#pragma section(".CRT$XLD", long, read)
__declspec(allocate(".CRT$XDA")) vantrel_pvfv __xd_a[] = {0};
__declspec(allocate(".CRT$XDZ")) vantrel_pvfv __xd_z[] = {0};

static __declspec(thread) int thread_locals_initialised;

void NTAPI __dyn_tls_init(void* module, DWORD reason, void* reserved) {
    (void)module;
    (void)reserved;
    if (reason != DLL_THREAD_ATTACH || thread_locals_initialised)
        return;
    thread_locals_initialised = 1;
    for (vantrel_pvfv* initialiser = __xd_a + 1; initialiser < __xd_z; ++initialiser) {
        if (*initialiser)
            (*initialiser)();
    }
}

/* Each thread's destructors, in blocks: the first in the thread's own TLS, so that the usual
 * few need no allocation; more from the heap. */
enum { DESTRUCTORS_PER_BLOCK = 8 };
typedef struct destructor_block {
    struct destructor_block* older;
    int count;
    vantrel_pvfv destructors[DESTRUCTORS_PER_BLOCK];
} destructor_block;
static __declspec(thread) destructor_block first_destructors;
static __declspec(thread) destructor_block* newest_destructors;

/* Called by a thread_local's initialiser once the variable is constructed. Nonzero when there was
 * no memory to keep the destructor: the variable then stays undestroyed. */
int __cdecl __tlregdtor(vantrel_pvfv destructor) {
    if (!newest_destructors)
        newest_destructors = &first_destructors;
    if (newest_destructors->count == DESTRUCTORS_PER_BLOCK) {
        destructor_block* block = calloc(1, sizeof *block);
        if (!block)
            return -1;
        block->older = newest_destructors;
        newest_destructors = block;
    }
    newest_destructors->destructors[newest_destructors->count++] = destructor;
    return 0;
}

/* The calling thread's destructors, newest first, when it ends or the module is unloaded (the
 * loader calls TLS callbacks before the entry point, so before the static destructors). A
 * destructor that constructs another thread_local adds to the list it is being run from. */
void NTAPI vantrel_thread_local_exit(void* module, DWORD reason, void* reserved) {
    (void)module;
    (void)reserved;
    if (reason != DLL_THREAD_DETACH && reason != DLL_PROCESS_DETACH)
        return;
    while (newest_destructors) {
        destructor_block* block = newest_destructors;
        if (block->count > 0) {
            block->destructors[--block->count]();
            continue;
        }
        newest_destructors = block->older;
        if (block != &first_destructors)
            free(block);
    }
}

__declspec(allocate(".CRT$XLC")) const PIMAGE_TLS_CALLBACK vantrel_tls_init_callback =
    __dyn_tls_init;
__declspec(allocate(".CRT$XLD")) const PIMAGE_TLS_CALLBACK vantrel_tls_exit_callback =
    vantrel_thread_local_exit;

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
