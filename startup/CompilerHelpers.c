/* The helpers the compiler calls on its own, which Microsoft's static runtime links into every
 * binary and which Wine's import libraries offer only as imports: the stack probe that a frame
 * of a page or more calls first (`__chkstk`, exported by Windows only from ntdll.dll, and from
 * kernel32.dll only as a forwarder), and on x86 the 64-bit unsigned division and remainder. Here
 * they are linked in, so that a DLL imports nothing that Windows does not document. */
#include <stdint.h>

#if defined(_M_X64)
/* RAX holds the size of the frame the caller is about to allocate. Touches each page from the
 * caller's stack pointer down to the frame's end, in order, so that the guard page below the
 * committed stack moves down a page at a time instead of being jumped over. Changes no register
 * but the flags; the caller lowers RSP itself. */
__asm__(
    "  .text\n"
    "  .globl __chkstk\n"
    "  .p2align 4\n"
    "__chkstk:\n"
    "  pushq %rcx\n"
    "  pushq %rax\n"
    "  leaq 24(%rsp), %rcx\n" /* the caller's RSP before the call */
    "  cmpq $0x1000, %rax\n"
    "  jb 2f\n"
    "1:\n"
    "  subq $0x1000, %rcx\n"
    "  testq %rcx, (%rcx)\n"
    "  subq $0x1000, %rax\n"
    "  cmpq $0x1000, %rax\n"
    "  jae 1b\n"
    "2:\n"
    "  subq %rax, %rcx\n"
    "  testq %rcx, (%rcx)\n"
    "  popq %rax\n"
    "  popq %rcx\n"
    "  ret\n");
#elif defined(_M_IX86)
/* EAX holds the size of the frame. The same touches as on x64, but here the helper allocates:
 * it returns with ESP lowered by EAX from where it was before the call. ECX is kept, EAX not. */
__asm__(
    "  .text\n"
    "  .globl __chkstk\n"
    "  .p2align 4\n"
    "__chkstk:\n"
    "  pushl %ecx\n"
    "  leal 8(%esp), %ecx\n" /* the caller's ESP before the call */
    "  cmpl $0x1000, %eax\n"
    "  jb 2f\n"
    "1:\n"
    "  subl $0x1000, %ecx\n"
    "  testl %ecx, (%ecx)\n"
    "  subl $0x1000, %eax\n"
    "  cmpl $0x1000, %eax\n"
    "  jae 1b\n"
    "2:\n"
    "  subl %eax, %ecx\n" /* the new top of the stack */
    "  testl %ecx, (%ecx)\n"
    "  movl %esp, %eax\n" /* the saved ECX, above it the return address */
    "  movl %ecx, %esp\n"
    "  movl (%eax), %ecx\n"
    "  pushl 4(%eax)\n"
    "  ret\n");

/* Unsigned 64-bit division with 32-bit instructions only (a 64-bit `/` here would call itself).
 * A divisor of zero divides by a 32-bit zero, so that it raises the same exception as the
 * processor's own division. */
static uint64_t DivideUnsigned(uint64_t dividend, uint64_t divisor, uint64_t* remainder) {
    if (divisor == 0) {
        volatile uint32_t zero = 0;
        *remainder = 0;
        return (uint32_t)dividend / zero;
    }
    if ((dividend >> 32) == 0 && (divisor >> 32) == 0) {
        *remainder = (uint32_t)dividend % (uint32_t)divisor;
        return (uint32_t)dividend / (uint32_t)divisor;
    }
    uint64_t quotient = 0;
    uint64_t rest = 0;
    for (int bit = 63; bit >= 0; --bit) {
        /* Before the shift `rest` holds at most the 63 - bit bits above `bit`: nothing is lost. */
        rest = rest << 1 | (dividend >> bit & 1);
        if (rest >= divisor) {
            rest -= divisor;
            quotient |= (uint64_t)1 << bit;
        }
    }
    *remainder = rest;
    return quotient;
}

/* The compiler calls these by their Microsoft names with the arguments on the stack, which the
 * callee removes, and the result in EDX:EAX: __stdcall under undecorated names. */
uint64_t __stdcall vantrel_aulldiv(uint64_t dividend, uint64_t divisor) __asm__("__aulldiv");
uint64_t __stdcall vantrel_aullrem(uint64_t dividend, uint64_t divisor) __asm__("__aullrem");

uint64_t __stdcall vantrel_aulldiv(uint64_t dividend, uint64_t divisor) {
    uint64_t remainder;
    return DivideUnsigned(dividend, divisor, &remainder);
}

uint64_t __stdcall vantrel_aullrem(uint64_t dividend, uint64_t divisor) {
    uint64_t remainder;
    DivideUnsigned(dividend, divisor, &remainder);
    return remainder;
}

/* Signed division truncates toward zero and the remainder takes the dividend's sign, as the
 * processor's IDIV does; the magnitudes are divided unsigned, so the most negative value needs no
 * special case. */
int64_t __stdcall vantrel_alldiv(int64_t dividend, int64_t divisor) __asm__("__alldiv");
int64_t __stdcall vantrel_allrem(int64_t dividend, int64_t divisor) __asm__("__allrem");

static uint64_t Magnitude(int64_t value) {
    return value < 0 ? 0 - (uint64_t)value : (uint64_t)value;
}

int64_t __stdcall vantrel_alldiv(int64_t dividend, int64_t divisor) {
    uint64_t remainder;
    const uint64_t quotient = DivideUnsigned(Magnitude(dividend), Magnitude(divisor), &remainder);
    return (int64_t)((dividend < 0) != (divisor < 0) ? 0 - quotient : quotient);
}

int64_t __stdcall vantrel_allrem(int64_t dividend, int64_t divisor) {
    uint64_t remainder;
    DivideUnsigned(Magnitude(dividend), Magnitude(divisor), &remainder);
    return (int64_t)(dividend < 0 ? 0 - remainder : remainder);
}
#endif
