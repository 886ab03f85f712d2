// Walking the same 100-frame stack with the crash reporter's frame cursor and
// with libunwind, in the same run, warm against warm and cold against cold:
// - warm: the frame cursor keeps decoded rows across walks and reads its own
//   stack in place (as live reports of the calling thread do); libunwind's
//   unw_backtrace keeps its caches;
// - cold: the frame cursor starts with no decoded rows (as at a crash: only
//   what the image list gathered before any crash); libunwind's caches are
//   flushed before every walk.
// Before measuring, both walks are checked to give the same frames below
// the benchmark's own (the frames from the recursion down to main).
//
//   crash-unwind-bench [Google Benchmark flags]   (anything else is refused)
#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"

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

void BM_FrameCursorWarm(benchmark::State& state) {
    Walk walk{g_rows, 0, {}};
    for (auto _ : state) benchmark::DoNotOptimize(ourWalk(&walk));
    state.counters["frames"] = walk.count;
}

void BM_UnwBacktraceWarm(benchmark::State& state) {
    void* buffer[kMaxFrames];
    int n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(n = theirWalk(buffer));
    state.counters["frames"] = n;
}

void BM_FrameCursorCold(benchmark::State& state) {
    Walk walk{nullptr, 0, {}};
    for (auto _ : state) benchmark::DoNotOptimize(ourWalk(&walk));
    state.counters["frames"] = walk.count;
}

// libunwind's step-by-step walk; unw_backtrace's trace cache cannot be
// turned off, so the cold walk is this one without caches.
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

void BM_UnwStepCold(benchmark::State& state) {
    void* buffer[kMaxFrames];
    int n = 0;
    // Without caching libunwind decodes every frame's unwind entry afresh.
    unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_NONE);
    for (auto _ : state) {
        unw_flush_cache(unw_local_addr_space, 0, 0);
        benchmark::DoNotOptimize(n = theirSteppedWalk(buffer));
    }
    unw_set_caching_policy(unw_local_addr_space, UNW_CACHE_GLOBAL);
    state.counters["frames"] = n;
}

void BM_UnwStepWarm(benchmark::State& state) {
    void* buffer[kMaxFrames];
    int n = 0;
    for (auto _ : state) benchmark::DoNotOptimize(n = theirSteppedWalk(buffer));
    state.counters["frames"] = n;
}

BENCHMARK(BM_FrameCursorWarm);
BENCHMARK(BM_UnwBacktraceWarm);
BENCHMARK(BM_UnwStepWarm);
BENCHMARK(BM_FrameCursorCold);
BENCHMARK(BM_UnwStepCold);

// The frames from the first recursion frame down both walks share must be
// the same return addresses (the walks start in different places).
bool sameFrames() {
    Walk walk{g_rows, 0, {}};
    ourWalk(&walk);
    void* buffer[kMaxFrames];
    int theirs = theirWalk(buffer);
    // Match the outermost frames from the end.
    int shared = 0;
    while (shared < walk.count && shared < theirs &&
           walk.pcs[walk.count - 1 - shared] == (uint64_t)(uintptr_t)buffer[theirs - 1 - shared])
        ++shared;
    if (shared < kDepth) {
        std::fprintf(stderr, "the walks differ: %d frames (cursor), %d (unw_backtrace), %d the same from main up\n",
                     walk.count, theirs, shared);
        return false;
    }
    return true;
}

int g_result = 0;

__attribute__((noinline, noclone)) int descend(int depth) {
    if (depth <= 0) {
        if (!sameFrames()) {
            g_result = 1;
            return 0;
        }
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
    return g_result;
}
