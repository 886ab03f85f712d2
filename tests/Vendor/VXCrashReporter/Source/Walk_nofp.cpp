// Built with -fomit-frame-pointer.
#include "tests/Vendor/VXCrashReporter/Source/WalkChain.h"

namespace walk_nofp {

__attribute__((noinline, noclone)) void c(WalkRecord *record)
{
    record->returnIntoB = (uint64_t)__builtin_return_address(0);
    record->cStart = (uint64_t)(uintptr_t)&c;
    walkCurrentStack(record);
    __asm__ __volatile__("" ::: "memory");
}

__attribute__((noinline, noclone)) void b(WalkRecord *record)
{
    record->returnIntoA = (uint64_t)__builtin_return_address(0);
    c(record);
    __asm__ __volatile__("" ::: "memory");
}

__attribute__((noinline, noclone)) void a(WalkRecord *record)
{
    record->returnIntoCaller = (uint64_t)__builtin_return_address(0);
    b(record);
    __asm__ __volatile__("" ::: "memory");
}

} // namespace walk
