// The helpers that the compiler calls on its own and that the MSVC-ABI build links from its
// start-up library: the stack probe of large frames, and on x86 the 64-bit unsigned division.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A frame of several pages, entered with arguments in registers (RCX and RDX on x64, ECX and EDX
// with __fastcall on x86): the probe runs before the body reads them, so a probe that changes a
// register, or leaves the stack pointer elsewhere, shows in the sum.
#if defined(_M_IX86)
#define REGISTER_ARGUMENTS __fastcall
#else
#define REGISTER_ARGUMENTS
#endif
#if defined(_MSC_VER)
#define NO_INLINE __declspec(noinline)
#else
#define NO_INLINE __attribute__((noinline))
#endif
NO_INLINE uint64_t REGISTER_ARGUMENTS SumOverLargeFrame(uint32_t seed, uint32_t count) {
    volatile uint8_t block[5 * 4096 + 123];
    for (size_t i = 0; i < sizeof(block); ++i)
        block[i] = static_cast<uint8_t>(seed + i);
    uint64_t sum = seed + uint64_t{count} * 1000;
    for (size_t i = 0; i < sizeof(block); i += 97)
        sum += block[i];
    return sum + block[sizeof(block) - 1];
}

uint64_t ExpectedSum(uint32_t seed, uint32_t count) {
    const size_t size = 5 * 4096 + 123;
    uint64_t sum = seed + uint64_t{count} * 1000;
    for (size_t i = 0; i < size; i += 97)
        sum += static_cast<uint8_t>(seed + i);
    return sum + static_cast<uint8_t>(seed + size - 1);
}

TEST(CompilerHelpers, LargeFramesAndAllocaKeepArgumentsAndStack) {
    for (uint32_t seed : {0u, 7u, 0xFFFFFFFFu})
        EXPECT_EQ(SumOverLargeFrame(seed, seed ^ 5), ExpectedSum(seed, seed ^ 5)) << seed;

    // _alloca probes through the same helper; on x86 the helper itself moves the stack pointer.
    // Sizes just below, at and above a page, and several pages.
    for (size_t size : {size_t{4095}, size_t{4096}, size_t{4097}, size_t{3 * 4096 + 5}}) {
        const uint32_t before = 0x5EED0000u + static_cast<uint32_t>(size);
        volatile uint32_t guard = before;
        auto* bytes = static_cast<uint8_t*>(_alloca(size));
        std::memset(bytes, 0xA5, size);
        EXPECT_EQ(bytes[0], 0xA5);
        EXPECT_EQ(bytes[size - 1], 0xA5);
        EXPECT_EQ(guard, before) << size;
    }
}

// The full 128-bit product, from 32-bit halves (multiplication only, no division).
void MultiplyWide(uint64_t a, uint64_t b, uint64_t& high, uint64_t& low) {
    const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    low = (middle << 32) | (p00 & 0xFFFFFFFFu);
    high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
}

// 64-bit unsigned division and remainder, which on x86 are calls to the start-up library. The
// reference is the definition: quotient * divisor + remainder == dividend exactly (in 128 bits)
// with remainder < divisor, checked with multiplication and comparison only.
TEST(CompilerHelpers, UnsignedDivisionMatchesItsDefinition) {
    std::vector<uint64_t> values = {1,
                                    2,
                                    3,
                                    7,
                                    0xFFFFFFFFull,
                                    0x100000000ull,
                                    0x100000001ull,
                                    0x123456789ABCDEFull,
                                    0x7FFFFFFFFFFFFFFFull,
                                    0x8000000000000000ull,
                                    0x8000000000000001ull,
                                    0xFFFFFFFF00000000ull,
                                    0xFFFFFFFFFFFFFFFEull,
                                    0xFFFFFFFFFFFFFFFFull};
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 200; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        if (state >> (i % 64) != 0)
            values.push_back(state >> (i % 64));
    }
    volatile uint64_t zero = 0;  // keeps the compiler from working the results out itself
    // A few worked by another program (Python's integers), at the edges of the 32-bit halves.
    const struct {
        uint64_t dividend, divisor, quotient, remainder;
    } known[] = {
        {0x100000000ULL, 0x7ULL, 0x24924924ULL, 0x4ULL},
        {0xFFFFFFFFFFFFFFFFULL, 0x100000001ULL, 0xFFFFFFFFULL, 0x0ULL},
        {0x123456789ABCDEF0ULL, 0xFEDCBA9ULL, 0x12492492EULL, 0x48D1592ULL},
        {0x8000000000000000ULL, 0x8000000000000001ULL, 0x0ULL, 0x8000000000000000ULL},
        {0xFFFFFFFFFFFFFFFFULL, 0x8000000000000000ULL, 0x1ULL, 0x7FFFFFFFFFFFFFFFULL},
        {0x3039ULL, 0x100000000ULL, 0x0ULL, 0x3039ULL},
    };
    for (const auto& k : known) {
        EXPECT_EQ((k.dividend + zero) / (k.divisor + zero), k.quotient) << k.dividend;
        EXPECT_EQ((k.dividend + zero) % (k.divisor + zero), k.remainder) << k.dividend;
    }
    for (uint64_t dividend : values) {
        for (uint64_t divisor : values) {
            const uint64_t n = dividend + zero, d = divisor + zero;
            const uint64_t q = n / d, r = n % d;
            uint64_t high, low;
            MultiplyWide(q, d, high, low);
            ASSERT_LT(r, d) << n << " / " << d;
            ASSERT_EQ(high, 0u) << n << " / " << d << " gave " << q;
            ASSERT_TRUE(low + r >= low && low + r == n)
                << n << " / " << d << " gave " << q << " rest " << r;
        }
    }
}

// Signed 64-bit division and remainder (x86: the start-up library's __alldiv and __allrem):
// truncated toward zero, the remainder with the dividend's sign. Worked by Python's integers.
TEST(CompilerHelpers, SignedDivisionTruncatesTowardZero) {
    volatile int64_t zero = 0;
    const struct {
        int64_t dividend, divisor, quotient, remainder;
    } known[] = {
        {-7, 2, -3, -1},
        {7, -2, -3, 1},
        {-7, -2, 3, -1},
        {-1099511627781LL, 3, -366503875927LL, 0},
        {4611686018427388027LL, -8589934593LL, -536870911LL, 8053063804LL},
        {-9223372036854775807LL, -4294967296LL, 2147483647LL, -4294967295LL},
        {INT64_MIN, 7, -1317624576693539401LL, -1},
        {INT64_MIN, INT64_MAX, -1, -1},
        {12345, -1099511627776LL, 0, 12345},
    };
    for (const auto& k : known) {
        EXPECT_EQ((k.dividend + zero) / (k.divisor + zero), k.quotient)
            << k.dividend << " / " << k.divisor;
        EXPECT_EQ((k.dividend + zero) % (k.divisor + zero), k.remainder)
            << k.dividend << " % " << k.divisor;
    }
}

}  // namespace
