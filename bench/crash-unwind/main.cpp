// Walks the same 100-frame stack with the crash reporter's frame cursor and
// with libunwind's unw_backtrace, and prints the time per walk of each and
// their ratio.
#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

constexpr int kFrames = 100;
constexpr int kMaxFrames = 256;
constexpr int kIterations = 2000;
constexpr int kRounds = 7;

vxcrash_async_image_list_t *g_images;
int g_ourFrames;
int g_theirFrames;

vxcrash_error_t walk(vxcrash_async_thread_state_t *state, void *)
{
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_frame_cursor_t cursor;
    vxcrash_async_frame_cursor_init(&cursor, &task, state, g_images);
    uint64_t pcs[kMaxFrames];
    int n = 0;
    while (n < kMaxFrames && vxcrash_async_frame_cursor_next(&cursor) == VXCRASH_FRAME_ESUCCESS) {
        if (vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pcs[n]) != VXCRASH_FRAME_ESUCCESS)
            break;
        ++n;
    }
    g_ourFrames = n;
    return VXCRASH_ESUCCESS;
}

double timeIt(void (*fn)())
{
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kIterations; ++i)
            fn();
        std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / kIterations);
    }
    return best;
}

void ours()
{
    vxcrash_async_thread_state_current(walk, nullptr);
}

void theirs()
{
    void *buffer[kMaxFrames];
    g_theirFrames = unw_backtrace(buffer, kMaxFrames);
}

// libunwind's general interface, one unw_step per frame, for context.
int g_stepFrames;

void theirsStepping()
{
    unw_context_t context;
    unw_cursor_t cursor;
    unw_getcontext(&context);
    unw_init_local(&cursor, &context);
    int n = 0;
    while (n < kMaxFrames && unw_step(&cursor) > 0)
        ++n;
    g_stepFrames = n;
}

void measure()
{
    theirs(); // libunwind builds its caches on first use; so does the task cache per walk on ours
    double ourNs = timeIt(ours);
    double theirNs = timeIt(theirs);
    std::printf("frames walked: frame cursor %d, unw_backtrace %d\n", g_ourFrames, g_theirFrames);
    std::printf("frame cursor:  %10.0f ns per walk (%6.1f ns per frame)\n", ourNs, ourNs / g_ourFrames);
    std::printf("unw_backtrace: %10.0f ns per walk (%6.1f ns per frame)\n", theirNs, theirNs / g_theirFrames);
    std::printf("ratio frame cursor / unw_backtrace: %.2f\n", ourNs / theirNs);
    double stepNs = timeIt(theirsStepping);
    std::printf("(for context, unw_step loop: %.0f ns per walk of %d frames)\n", stepNs, g_stepFrames);

    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
        vxcrash_async_image_list_refresh(g_images);
    std::chrono::duration<double, std::micro> refresh = std::chrono::steady_clock::now() - start;
    std::printf("image list refresh (%u images): %.1f us\n", vxcrash_async_image_list_count(g_images),
                refresh.count() / 100);
}

__attribute__((noinline, noclone)) int descend(int depth)
{
    if (depth <= 0) {
        measure();
        return 0;
    }
    int r = descend(depth - 1);
    __asm__ __volatile__("" ::: "memory");
    return r + 1;
}

} // namespace

int main()
{
    g_images = new vxcrash_async_image_list_t();
    vxcrash_async_image_list_init(g_images);
    // main, the C runtime's frames and the measuring frames make up the rest of the 100.
    descend(kFrames - 8);
    return 0;
}
