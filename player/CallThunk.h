// Calls a 32-bit Windows function whose convention is not known: every
// argument is one 32-bit word, and the stack pointer is put back after the
// call whether the callee popped its arguments (stdcall) or left them to the
// caller (cdecl).
#pragma once

#include <cstdint>

extern "C" {
// Pushes count words (words[0] last, so that it is the first argument) on a
// 16-byte aligned stack, calls function, and returns its 32-bit result. When
// popped_bytes is not null it receives how many bytes the callee removed
// from the stack: 0 for cdecl, 4 * count for stdcall.
uint32_t varnel_call_words(const void* function, const uint32_t* words, int count,
                           int* popped_bytes);
}
