// Proof that crash-time code allocates nothing: the test binaries that link
// AllocationGuard.cpp replace the allocator (malloc and its kin, operator
// new and delete) with one that forwards to the C library's until armed, and
// then ends the process (exit status kAllocatedAtCrashTime, a line naming the
// call on standard error) at the first call from any thread. A crashing child
// arms it just before its crash. Builds with a sanitizer keep the
// sanitizer's allocator: there the guard does nothing.
#pragma once

namespace crashtest {

constexpr int kAllocatedAtCrashTime = 86;

void armAllocationGuard();

// Whether the guard replaces the allocator in this build.
bool allocationGuardActive();

}  // namespace crashtest
