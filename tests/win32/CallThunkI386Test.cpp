// The binding's 32-bit call thunk on its own, built as a 32-bit Linux
// program (scripts/test-thunk-i386.sh) so that it runs under an emulator
// where neither the kernel nor Wine runs 32-bit programs: functions of
// both conventions and of every arity the contract uses get their words in
// order, their results come back, the bytes they popped tell the
// convention, and the caller's stack pointer is where it was.
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "player/CallThunk.h"

namespace {

#define STACK_POINTER(variable) asm volatile("movl %%esp, %0" : "=r"(variable))

int g_failures = 0;

void Check(bool ok, const char* what, int arity, const char* convention) {
    if (ok) return;
    ++g_failures;
    std::printf("FAILED: %s (%d words, %s)\n", what, arity, convention);
}

// Each word weighed by its place, so that a word out of order shows.
#define WEIGH(...) Weigh({__VA_ARGS__})
uint32_t Weigh(std::initializer_list<uint32_t> words) {
    uint32_t sum = 0, place = 1;
    for (uint32_t word : words) sum += word * place++;
    return sum;
}

#define FUNCTIONS(convention, prefix)                                                                      \
    uint32_t convention prefix##0() { return 77; }                                                         \
    uint32_t convention prefix##1(uint32_t a) { return WEIGH(a); }                                         \
    uint32_t convention prefix##2(uint32_t a, uint32_t b) { return WEIGH(a, b); }                          \
    uint32_t convention prefix##3(uint32_t a, uint32_t b, uint32_t c) { return WEIGH(a, b, c); }           \
    uint32_t convention prefix##6(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f) { \
        return WEIGH(a, b, c, d, e, f);                                                                    \
    }                                                                                                      \
    uint32_t convention prefix##7(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f,   \
                                  uint32_t g) {                                                            \
        return WEIGH(a, b, c, d, e, f, g);                                                                 \
    }                                                                                                      \
    uint32_t convention prefix##9(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f,   \
                                  uint32_t g, uint32_t h, uint32_t i) {                                    \
        return WEIGH(a, b, c, d, e, f, g, h, i);                                                           \
    }                                                                                                      \
    uint32_t convention prefix##13(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f,  \
                                   uint32_t g, uint32_t h, uint32_t i, uint32_t j, uint32_t k, uint32_t l,  \
                                   uint32_t m) {                                                           \
        return WEIGH(a, b, c, d, e, f, g, h, i, j, k, l, m);                                               \
    }

FUNCTIONS(__attribute__((cdecl)), Cdecl)
FUNCTIONS(__attribute__((stdcall)), Stdcall)

struct Case {
    const void* function;
    int arity;
    bool pops;
};

}  // namespace

int main() {
    const Case cases[] = {
        {reinterpret_cast<const void*>(&Cdecl0), 0, false},   {reinterpret_cast<const void*>(&Cdecl1), 1, false},
        {reinterpret_cast<const void*>(&Cdecl2), 2, false},   {reinterpret_cast<const void*>(&Cdecl3), 3, false},
        {reinterpret_cast<const void*>(&Cdecl6), 6, false},   {reinterpret_cast<const void*>(&Cdecl7), 7, false},
        {reinterpret_cast<const void*>(&Cdecl9), 9, false},   {reinterpret_cast<const void*>(&Cdecl13), 13, false},
        {reinterpret_cast<const void*>(&Stdcall0), 0, true},  {reinterpret_cast<const void*>(&Stdcall1), 1, true},
        {reinterpret_cast<const void*>(&Stdcall2), 2, true},  {reinterpret_cast<const void*>(&Stdcall3), 3, true},
        {reinterpret_cast<const void*>(&Stdcall6), 6, true},  {reinterpret_cast<const void*>(&Stdcall7), 7, true},
        {reinterpret_cast<const void*>(&Stdcall9), 9, true},  {reinterpret_cast<const void*>(&Stdcall13), 13, true},
    };
    const uint32_t words[13] = {0x10000001u, 2, 3, 0xFFFFFFFFu, 5, 6, 7, 8, 9, 10, 11, 12, 0x80000000u};
    for (const Case& c : cases) {
        const char* convention = c.pops ? "stdcall" : "cdecl";
        uint32_t expected = c.arity == 0 ? 77 : 0;
        for (int i = 0; i < c.arity; ++i) expected += words[i] * static_cast<uint32_t>(i + 1);
        uintptr_t before = 0, after = 0;
        int popped = -1;
        STACK_POINTER(before);
        const uint32_t result = varnel_call_words(c.function, words, c.arity, &popped);
        STACK_POINTER(after);
        Check(result == expected, "the words arrive in order and the result comes back", c.arity, convention);
        Check(popped == (c.pops ? 4 * c.arity : 0), "the popped bytes tell the convention", c.arity, convention);
        Check(before == after, "the caller's stack pointer is where it was", c.arity, convention);
    }
    std::printf("%s: %zu calls of both conventions checked\n", g_failures == 0 ? "PASSED" : "FAILED",
                sizeof cases / sizeof cases[0]);
    return g_failures == 0 ? 0 : 1;
}
