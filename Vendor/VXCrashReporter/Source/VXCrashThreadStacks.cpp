// Thread creation runs here, not at crash time: it may allocate and lock.
#include "Vendor/VXCrashReporter/Source/VXCrashThreadStacks.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using CreateFunction = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

std::atomic<bool> g_enabled{false};
pthread_key_t g_stackKey;  // a thread's mapping (guard page first), freed with the thread
std::once_flag g_keyOnce;

// What a stack of ours takes: the usable bytes and a guard page below them.
struct Mapping {
    void *base;
    size_t length;
};

size_t page_size() { return (size_t)sysconf(_SC_PAGESIZE); }

// Runs when a thread that has a stack of ours ends (after its thread_local
// destructors): turn the stack off when it is still the thread's, then unmap it.
void release_stack(void *value) {
    auto *mapping = static_cast<Mapping *>(value);
    char *usable = static_cast<char *>(mapping->base) + page_size();
    stack_t current;
    bool free = true;
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == usable && (current.ss_flags & SS_DISABLE) == 0) {
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        // Still in use only while a handler runs on it, which cannot end a thread.
        free = sigaltstack(&off, nullptr) == 0;
    }
    if (free) munmap(mapping->base, mapping->length);
    std::free(mapping);
}

void make_key() { pthread_key_create(&g_stackKey, release_stack); }

CreateFunction next_create() {
    static std::atomic<CreateFunction> next{nullptr};
    CreateFunction found = next.load(std::memory_order_acquire);
    if (found == nullptr) {
        // The definition after ours: the C library's, or a sanitizer's.
        found = reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
        if (found == nullptr) found = reinterpret_cast<CreateFunction>(dlsym(RTLD_DEFAULT, "pthread_create"));
        next.store(found, std::memory_order_release);
    }
    return found;
}

struct Start {
    void *(*routine)(void *);
    void *argument;
};

void *start_with_stack(void *value) {
    Start start = *static_cast<Start *>(value);
    std::free(value);
    // Without one the thread still runs, unreported when it overflows.
    vxcrash_thread_stack_install(64 * 1024);
    return start.routine(start.argument);
}

}  // namespace

void vxcrash_thread_stacks_enable() {
    std::call_once(g_keyOnce, make_key);
    g_enabled.store(true, std::memory_order_release);
}

bool vxcrash_thread_stacks_enabled() { return g_enabled.load(std::memory_order_acquire); }

bool vxcrash_thread_stack_install(size_t size) {
    stack_t current;
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return true;

    const size_t page = page_size();
    size = (size + page - 1) & ~(page - 1);
    void *memory = mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return false;
    // The guard page: a handler that overflows faults instead of writing past.
    mprotect(memory, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char *>(memory) + page;
    stack.ss_size = size;
    if (sigaltstack(&stack, nullptr) != 0) {
        int errnum = errno;
        munmap(memory, size + page);
        errno = errnum;
        return false;
    }
    if (vxcrash_thread_stacks_enabled()) {
        // A stack of ours the thread's code turned off is not in use: replaced.
        if (void *old = pthread_getspecific(g_stackKey)) {
            pthread_setspecific(g_stackKey, nullptr);
            release_stack(old);
        }
        auto *mapping = static_cast<Mapping *>(std::malloc(sizeof(Mapping)));
        if (mapping != nullptr) {
            *mapping = {memory, size + page};
            if (pthread_setspecific(g_stackKey, mapping) != 0) std::free(mapping);
        }
    }
    return true;
}

bool vxcrash_thread_stacks_interposed() {
    return reinterpret_cast<void *>(dlsym(RTLD_DEFAULT, "pthread_create")) == reinterpret_cast<void *>(&pthread_create);
}

// Every pthread_create of the process lands here once the executable holds
// this definition (see the target's link options).
extern "C" __attribute__((visibility("default"))) int pthread_create(pthread_t *thread, const pthread_attr_t *attr,
                                                                     void *(*routine)(void *), void *argument) {
    CreateFunction next = next_create();
    if (next == nullptr) return EAGAIN;
    if (!vxcrash_thread_stacks_enabled()) return next(thread, attr, routine, argument);
    auto *start = static_cast<Start *>(std::malloc(sizeof(Start)));
    if (start == nullptr) return next(thread, attr, routine, argument);
    *start = {routine, argument};
    int result = next(thread, attr, start_with_stack, start);
    if (result != 0) std::free(start);
    return result;
}
