// Built with -fomit-frame-pointer.
#include "tests/Vendor/VXCrashReporter/Source/WalkChain.h"

namespace walk_nofp {

__attribute__((noinline, noclone)) void c(WalkRecord* record) {
    record->returnIntoB = (uint64_t)__builtin_return_address(0);
    record->cStart = (uint64_t)(uintptr_t)&c;
    walkCurrentStack(record);
    __asm__ __volatile__("" ::: "memory");
}

__attribute__((noinline, noclone)) void b(WalkRecord* record) {
    record->returnIntoA = (uint64_t)__builtin_return_address(0);
    c(record);
    __asm__ __volatile__("" ::: "memory");
}

__attribute__((noinline, noclone)) void a(WalkRecord* record) {
    record->returnIntoCaller = (uint64_t)__builtin_return_address(0);
    b(record);
    __asm__ __volatile__("" ::: "memory");
}

__attribute__((noinline, noclone)) void cAfterTrampoline(WalkRecord* record) {
    record->returnIntoB = (uint64_t)__builtin_return_address(0);
    record->cStart = (uint64_t)(uintptr_t)&cAfterTrampoline;
    walkCurrentStack(record);
    __asm__ __volatile__("" ::: "memory");
}

__attribute__((noinline, noclone)) void aThroughTrampoline(WalkRecord* record) {
    record->returnIntoCaller = (uint64_t)__builtin_return_address(0);
    vxtest_fp_trampoline(record, cAfterTrampoline);
    __asm__ __volatile__("" ::: "memory");
}

}  // namespace walk_nofp

// The trampoline stores its own return address in record->returnIntoA.
static_assert(offsetof(WalkRecord, returnIntoA) == 8);

// No CFI directives: the image's unwind tables do not cover it.
__asm__(
    ".text\n"
    ".globl vxtest_fp_trampoline\n"
    ".globl vxtest_fp_trampoline_return\n"
    ".type vxtest_fp_trampoline, @function\n"
    "vxtest_fp_trampoline:\n"
    "    pushq %rbp\n"
    "    movq %rsp, %rbp\n"
    "    movq 8(%rbp), %rax\n"
    "    movq %rax, 8(%rdi)\n"
    "    callq *%rsi\n"
    "vxtest_fp_trampoline_return:\n"
    "    popq %rbp\n"
    "    retq\n"
    ".size vxtest_fp_trampoline, . - vxtest_fp_trampoline\n");
