// Built with -fno-omit-frame-pointer.
#include "tests/Vendor/VXCrashReporter/Source/WalkChain.h"

namespace walk_fp {

__attribute__((noinline, noclone)) void c(WalkRecord* record) {
    record->returnIntoB = (uint64_t)__builtin_return_address(0);
    record->cStart = (uint64_t)(uintptr_t)&c;
    if (record->framePointerOnly)
        walkFromFramePointer(record, (uint64_t)(uintptr_t)__builtin_frame_address(0), record->cStart + 1);
    else
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

}  // namespace walk_fp
