// The 32-bit thunk of player/CallThunk.h: ebx, esi, edi and ebp survive
// any callee, so the stack pointer is taken back from ebp after the call.
// The same code serves the Windows binding and, as a 32-bit Linux program,
// its check under an emulator where the kernel runs no 32-bit programs.
#include "player/CallThunk.h"

#if defined(__i386__)
#if defined(_WIN32)
#define VARNEL_THUNK_HEAD                 \
    ".globl _varnel_call_words\n"         \
    ".def _varnel_call_words; .scl 2; .type 32; .endef\n" \
    "_varnel_call_words:\n"
#else
#define VARNEL_THUNK_HEAD                          \
    ".globl varnel_call_words\n"                   \
    ".type varnel_call_words, @function\n"         \
    "varnel_call_words:\n"
#endif
asm(".text\n" VARNEL_THUNK_HEAD R"(
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 16(%ebp), %ecx
    leal 0(,%ecx,4), %eax
    subl %eax, %esp
    andl $-16, %esp
    movl 12(%ebp), %esi
    xorl %edx, %edx
1:  cmpl %ecx, %edx
    jae 2f
    movl (%esi,%edx,4), %eax
    movl %eax, (%esp,%edx,4)
    incl %edx
    jmp 1b
2:  movl %esp, %edi
    call *8(%ebp)
    movl %esp, %ecx
    subl %edi, %ecx
    movl 20(%ebp), %edx
    testl %edx, %edx
    jz 3f
    movl %ecx, (%edx)
3:  leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
#endif
