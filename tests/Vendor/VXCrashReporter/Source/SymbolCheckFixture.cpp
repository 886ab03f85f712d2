// An object the crash-time symbol check must refuse: it allocates. Its other
// calls (a write, a function of its own) are allowed.
#include <cstdlib>
#include <unistd.h>

namespace {
__attribute__((noinline)) long own(long value) { return value + 1; }
}  // namespace

extern "C" long vxtest_symbol_check_fixture(long value) {
    // The buffer goes out to write() so an optimised build cannot drop the
    // allocation.
    void* memory = malloc((size_t)own(value));
    (void)!write(2, memory, 0);
    free(memory);
    return value;
}
