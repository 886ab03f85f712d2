#include "Vendor/VXCrashReporter/Source/AllocationGuard.h"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)

namespace crashtest {
void armAllocationGuard() {}
bool allocationGuardActive() { return false; }
}  // namespace crashtest

#else

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

volatile int g_armed = 0;

// Plain system calls only: the allocator itself must not be needed to fail.
void check(const char* call) {
    if (__atomic_load_n(&g_armed, __ATOMIC_ACQUIRE) == 0) return;
    static const char prefix[] = "allocation at crash time: ";
    syscall(SYS_write, 2, prefix, sizeof(prefix) - 1);
    size_t length = 0;
    while (call[length] != '\0') ++length;
    syscall(SYS_write, 2, call, length);
    syscall(SYS_write, 2, "\n", 1);
    syscall(SYS_exit_group, crashtest::kAllocatedAtCrashTime);
}

void* checkedNew(size_t size, const char* call) {
    check(call);
    void* memory = __libc_malloc(size == 0 ? 1 : size);
    if (memory == nullptr) throw std::bad_alloc();
    return memory;
}

}  // namespace

namespace crashtest {
void armAllocationGuard() { __atomic_store_n(&g_armed, 1, __ATOMIC_RELEASE); }
bool allocationGuardActive() { return true; }
}  // namespace crashtest

extern "C" {
void* malloc(size_t size) {
    check("malloc");
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    check("calloc");
    return __libc_calloc(count, size);
}
void* realloc(void* memory, size_t size) {
    check("realloc");
    return __libc_realloc(memory, size);
}
void free(void* memory) {
    check("free");
    __libc_free(memory);
}
void* memalign(size_t alignment, size_t size) {
    check("memalign");
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    check("aligned_alloc");
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    check("posix_memalign");
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return 22;  // EINVAL
    void* memory = __libc_memalign(alignment, size);
    if (memory == nullptr) return 12;  // ENOMEM
    *out = memory;
    return 0;
}
}

void* operator new(size_t size) { return checkedNew(size, "operator new"); }
void* operator new[](size_t size) { return checkedNew(size, "operator new[]"); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    check("operator new");
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    check("operator new[]");
    return __libc_malloc(size == 0 ? 1 : size);
}
void operator delete(void* memory) noexcept {
    check("operator delete");
    __libc_free(memory);
}
void operator delete[](void* memory) noexcept {
    check("operator delete[]");
    __libc_free(memory);
}
void operator delete(void* memory, size_t) noexcept {
    check("operator delete");
    __libc_free(memory);
}
void operator delete[](void* memory, size_t) noexcept {
    check("operator delete[]");
    __libc_free(memory);
}

#endif
