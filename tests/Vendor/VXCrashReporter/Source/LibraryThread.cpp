// A library that starts a thread of its own: the front end's tests load it
// with dlopen, so the executable knew nothing of it when it was linked.
#include <csignal>
#include <pthread.h>

extern "C" {

volatile int vxtest_library_zero = 0;

__attribute__((noinline)) int vxtest_library_recurse(int depth) {
    volatile char pad[256];
    pad[0] = (char)depth;
    if (vxtest_library_zero != 0)  // never: the stack runs out first
        return depth;
    return vxtest_library_recurse(depth + 1) + pad[0];
}

namespace {
void (*g_first)();  // run first on the thread, when set

void* overflow(void*) {
    if (g_first != nullptr) g_first();
    return reinterpret_cast<void*>((long)vxtest_library_recurse(0));
}

// The thread's alternate stack as it starts, ss_sp or nullptr.
void* alternate_stack(void*) {
    stack_t current;
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) != 0) return nullptr;
    return current.ss_sp;
}
}  // namespace

// Starts a thread and waits for it: it runs first (when given) and overflows
// its stack (overflows != 0), or hands back its alternate stack's address.
void* vxtest_library_run_thread(int overflows, void (*first)()) {
    g_first = first;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, overflows != 0 ? overflow : alternate_stack, nullptr) != 0) return nullptr;
    void* result = nullptr;
    pthread_join(thread, &result);
    return result;
}
}
