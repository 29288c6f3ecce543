/* The stack buffer checks that code compiled with /GS calls (GoogleTest's own build asks for
 * them, as Visual Studio does by default): a per-process cookie placed beside a function's local
 * buffers and compared before the function returns. A mismatch means the stack was overwritten,
 * and the process ends at once through the system's fail-fast path rather than run on. */
#include <windows.h>

#include "Startup.h"

#ifdef _WIN64
#define DEFAULT_COOKIE ((UINT_PTR)0x00002B992DDFA232ull)
#else
#define DEFAULT_COOKIE ((UINT_PTR)0xBB40E64Eu)
#endif

UINT_PTR __security_cookie = DEFAULT_COOKIE;
UINT_PTR __security_cookie_complement = ~DEFAULT_COOKIE;

/* Once, from the entry point, before any checked function runs. Mixed from values that differ
 * between processes and runs; the top 16 bits stay clear on x64 as in Microsoft's runtime, so a
 * string overflow cannot write a matching cookie. */
void vantrel_init_security_cookie(void) {
    if (__security_cookie != DEFAULT_COOKIE)
        return;
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    UINT_PTR cookie = (UINT_PTR)(counter.QuadPart ^ (counter.QuadPart >> 32));
    cookie ^= (UINT_PTR)GetCurrentProcessId() << 8 ^ GetCurrentThreadId();
    cookie ^= (UINT_PTR)GetTickCount64() << 16;
    cookie ^= (UINT_PTR)&cookie;
#ifdef _WIN64
    cookie &= 0x0000FFFFFFFFFFFFull;
#endif
    if (cookie == DEFAULT_COOKIE || cookie == 0)
        cookie = DEFAULT_COOKIE ^ 0x4711;
    __security_cookie = cookie;
    __security_cookie_complement = ~cookie;
}

void __fastcall __security_check_cookie(UINT_PTR cookie) {
    if (cookie != __security_cookie)
        __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}
