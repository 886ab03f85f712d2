// Walking the same 100-frame stack with the crash reporter's frame cursor and
// with libunwind, taking turns in every iteration (bench/support/SideBySide.h:
// ours is the benchmark's time, libunwind's time and the ratio are counters):
// - warm: the frame cursor keeps decoded rows across walks and reads its own
//   stack in place (as live reports of the calling thread do); the reference
//   is libunwind's unw_backtrace, which keeps a per-thread trace cache of
//   frame shapes by return address and follows it with plain loads;
// - cold: the frame cursor starts with no decoded rows and nothing known
//   readable (as at a crash: only what the image list gathered before);
//   the reference is libunwind's unw_init_local/unw_step walk with caching
//   turned off and its caches flushed before every walk.
// Before timing, each benchmark checks that both walks give the same return
// addresses from the recursion down to main (the walks start in different
// frames: each in its own code).
// Where the comparison can still lean: unw_backtrace starts from its own
// caller's frame and returns raw addresses, while the frame cursor starts
// from a captured context (one getcontext-like capture per walk, counted in
// our time) and hands out registers; libunwind's cold walk also decodes
// .eh_frame_hdr lookups it caches nothing of, while ours keeps rows within
// one walk (the recursion's frames share one), as a crash-time walk does.
//
//   crash-unwind-bench [Google Benchmark flags]   (anything else is refused)
#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"
#include "bench/support/SideBySide.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <pthread.h>
#include <vector>

namespace {

constexpr int kDepth = 92;  // with the benchmark's and the C runtime's frames, about 100
constexpr int kMaxFrames = 256;

vxcrash_async_image_list_t* g_images;
vxcrash_async_unwind_cache_t* g_rows;

uintptr_t g_stackTop;  // this thread's stack, as a live report knows it

struct Walk {
    vxcrash_async_unwind_cache_t* rows;  // nullptr: cold
    int count;
    uint64_t pcs[kMaxFrames];
};

vxcrash_error_t walkBody(vxcrash_async_thread_state_t* state, void* context) {
    auto* walk = static_cast<Walk*>(context);
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_task_set_unwind_cache(&task, walk->rows);
    if (walk->rows != nullptr) {
        // A live report knows its own stack; a crash knows nothing.
        volatile char here = 0;
        vxcrash_async_task_set_readable_range(&task, (uintptr_t)&here & ~(uintptr_t)4095, g_stackTop);
    }
    vxcrash_async_frame_cursor_t cursor;
    vxcrash_async_frame_cursor_init(&cursor, &task, state, g_images);
    walk->count = 0;
    while (walk->count < kMaxFrames && vxcrash_async_frame_cursor_next(&cursor) == VXCRASH_FRAME_ESUCCESS) {
        if (vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_IP, &walk->pcs[walk->count]) !=
            VXCRASH_FRAME_ESUCCESS)
            break;
        ++walk->count;
    }
    return VXCRASH_ESUCCESS;
}

__attribute__((noinline)) int ourWalk(Walk* walk) {
    vxcrash_async_thread_state_current(walkBody, walk);
    return walk->count;
}

__attribute__((noinline)) int theirWalk(void** buffer) { return unw_backtrace(buffer, kMaxFrames); }

// libunwind's step-by-step walk (the cold reference: unw_backtrace's trace
// cache cannot be turned off).
__attribute__((noinline)) int theirSteppedWalk(void** buffer) {
    unw_context_t context;
    unw_cursor_t cursor;
    unw_getcontext(&context);
    unw_init_local(&cursor, &context);
    int n = 0;
    while (n < kMaxFrames && unw_step(&cursor) > 0) {
        unw_word_t ip;
        unw_get_reg(&cursor, UNW_REG_IP, &ip);
        buffer[n++] = (void*)ip;
    }
    return n;
}

bool g_failed = false;
bool sameFrames(vxcrash_async_unwind_cache_t* rows, bool stepped);

// Warm: kept rows against unw_backtrace's trace cache.
void BM_WarmWalk(benchmark::State& state) {
    if (!sameFrames(g_rows, false)) {
        g_failed = true;
        state.SkipWithError("the walks differ");
        return;
    }
    Walk walk{g_rows, 0, {}};
    void* buffer[kMaxFrames];
    int theirs = 0;
    bench::SideBySide sides(state);
    for (auto _ : state) {
        sides.iteration([&] { benchmark::DoNotOptimize(ourWalk(&walk)); },
                        [&] { benchmark::DoNotOptimize(theirs = theirWalk(buffer)); });
    }
    sides.report(walk.count, "unw_backtrace", true);
    state.counters["frames"] = walk.count;
    state.counters["unw_backtrace_frames"] = theirs;
}

// Cold: nothing kept on our side, libunwind's caches off and flushed.
void BM_ColdWalk(benchmark::State& state) {
    unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_NONE);
    if (!sameFrames(nullptr, true)) {
        unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_GLOBAL);
        g_failed = true;
        state.SkipWithError("the walks differ");
        return;
    }
    Walk walk{nullptr, 0, {}};
    void* buffer[kMaxFrames];
    int theirs = 0;
    bench::SideBySide sides(state);
    for (auto _ : state) {
        sides.iteration([&] { benchmark::DoNotOptimize(ourWalk(&walk)); },
                        [&] {
                            unw_flush_cache(unw_local_addr_space, 0, 0);
                            benchmark::DoNotOptimize(theirs = theirSteppedWalk(buffer));
                        });
    }
    unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_GLOBAL);
    sides.report(walk.count, "unw_step", true);
    state.counters["frames"] = walk.count;
    state.counters["unw_step_frames"] = theirs;
}

BENCHMARK(BM_WarmWalk)->UseManualTime();
BENCHMARK(BM_ColdWalk)->UseManualTime();

// The frames from the first recursion frame down both walks share must be
// the same return addresses (the walks start in different places).
bool sameFrames(vxcrash_async_unwind_cache_t* rows, bool stepped) {
    Walk walk{rows, 0, {}};
    ourWalk(&walk);
    void* buffer[kMaxFrames];
    int theirs = stepped ? theirSteppedWalk(buffer) : theirWalk(buffer);
    // Match the outermost frames from the end.
    int shared = 0;
    while (shared < walk.count && shared < theirs &&
           walk.pcs[walk.count - 1 - shared] == (uint64_t)(uintptr_t)buffer[theirs - 1 - shared])
        ++shared;
    if (shared < kDepth) {
        std::fprintf(stderr, "the walks differ: %d frames (cursor), %d (%s), %d the same from main up\n", walk.count,
                     theirs, stepped ? "unw_step" : "unw_backtrace", shared);
        return false;
    }
    return true;
}

__attribute__((noinline, noclone)) int descend(int depth) {
    if (depth <= 0) {
        benchmark::RunSpecifiedBenchmarks();
        return 0;
    }
    int r = descend(depth - 1);
    __asm__ __volatile__("" ::: "memory");
    return r + 1;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    g_images = new vxcrash_async_image_list_t();
    vxcrash_async_image_list_init(g_images);
    pthread_attr_t attr;
    void* stackLow = nullptr;
    size_t stackSize = 0;
    if (pthread_getattr_np(pthread_self(), &attr) != 0 || pthread_attr_getstack(&attr, &stackLow, &stackSize) != 0)
        return 2;
    pthread_attr_destroy(&attr);
    g_stackTop = (uintptr_t)stackLow + stackSize;
    g_rows = new vxcrash_async_unwind_cache_t();
    vxcrash_async_unwind_cache_init(g_rows);
    descend(kDepth);
    benchmark::Shutdown();
    return g_failed ? 1 : 0;
}
