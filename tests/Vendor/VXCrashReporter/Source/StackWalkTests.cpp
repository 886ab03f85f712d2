// Real stack walks of this process, each in a child process so that a walker
// fault cannot take the test runner down.
#include "Vendor/VXCrashReporter/Source/VXCrashDwarfUnwind.h"
#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"
#include "tests/Vendor/VXCrashReporter/Source/CrashTestSupport.h"
#include "tests/Vendor/VXCrashReporter/Source/WalkChain.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <cstring>
#include <sstream>

namespace {

vxcrash_async_image_list_t* g_images = nullptr;

vxcrash_async_image_list_t* images() {
    if (g_images == nullptr) {
        g_images = new vxcrash_async_image_list_t();
        vxcrash_async_image_list_init(g_images);
    }
    return g_images;
}

vxcrash_async_unwind_cache_t* g_keptRows = nullptr;  // rows kept across walks, when set

void walkFrom(WalkRecord* record, const vxcrash_async_thread_state_t* state,
              const vxcrash_async_frame_reader_t* readers, size_t readerCount) {
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_task_set_unwind_cache(&task, g_keptRows);
    vxcrash_async_frame_cursor_t cursor;
    vxcrash_async_frame_cursor_init(&cursor, &task, state, images());
    record->count = 0;
    while (record->count < sizeof(record->pcs) / sizeof(record->pcs[0])) {
        auto err = readers == nullptr ? vxcrash_async_frame_cursor_next(&cursor)
                                      : vxcrash_async_frame_cursor_next_with_readers(&cursor, readers, readerCount);
        if (err != VXCRASH_FRAME_ESUCCESS) break;
        uint64_t pc;
        if (vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc) != VXCRASH_FRAME_ESUCCESS) break;
        record->pcs[record->count++] = pc;
    }
    vxcrash_async_frame_cursor_free(&cursor);
}

const vxcrash_async_frame_reader_t* g_readers = nullptr;
size_t g_readerCount = 0;

vxcrash_error_t walkBody(vxcrash_async_thread_state_t* state, void* context) {
    walkFrom(static_cast<WalkRecord*>(context), state, g_readers, g_readerCount);
    return VXCRASH_ESUCCESS;
}

std::string listing(const WalkRecord& r) {
    std::ostringstream out;
    out << std::hex << "c=" << r.cStart << " b<-" << r.returnIntoB << " a<-" << r.returnIntoA << " caller<-"
        << r.returnIntoCaller << " walked:";
    for (size_t i = 0; i < r.count; ++i) out << " " << r.pcs[i];
    return out.str();
}

// The walk must show a frame in c, then b, a and a's caller, by their return addresses.
std::string checkChain(const WalkRecord& r) {
    for (size_t i = 1; i + 2 < r.count; ++i) {
        if (r.pcs[i] != r.returnIntoB) continue;
        bool inC = r.pcs[i - 1] > r.cStart && r.pcs[i - 1] < r.cStart + 4096;
        if (inC && r.pcs[i + 1] == r.returnIntoA && r.pcs[i + 2] == r.returnIntoCaller) return "";
    }
    return "no c, b, a sequence: " + listing(r);
}

}  // namespace

void walkCurrentStack(WalkRecord* record) { vxcrash_async_thread_state_current(walkBody, record); }

void walkFromFramePointer(WalkRecord* record, uint64_t fp, uint64_t pc) {
    vxcrash_async_thread_state_t state;
    vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_FP, fp);
    vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_IP, pc);
    const vxcrash_async_frame_reader_t readers[] = {vxcrash_async_fp_frame_reader};
    walkFrom(record, &state, readers, 1);
}

namespace {

TEST(CrashStackWalk, CurrentThreadWithFramePointers) {
    auto result = crashtest::runInChild([] {
        WalkRecord record;
        walk_fp::a(&record);
        return checkChain(record);
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

TEST(CrashStackWalk, CurrentThreadWithoutFramePointers) {
    auto result = crashtest::runInChild([] {
        WalkRecord record;
        walk_nofp::a(&record);
        return checkChain(record);
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

TEST(CrashStackWalk, DwarfReaderAloneWalksCodeWithoutFramePointers) {
    auto result = crashtest::runInChild([] {
        static const vxcrash_async_frame_reader_t readers[] = {vxcrash_async_dwarf_frame_reader};
        g_readers = readers;
        g_readerCount = 1;
        WalkRecord record;
        walk_nofp::a(&record);
        return checkChain(record);
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

TEST(CrashStackWalk, FramePointerReaderAloneFollowsTheChain) {
    auto result = crashtest::runInChild([] {
        WalkRecord record;
        record.framePointerOnly = true;
        walk_fp::a(&record);
        if (record.count < 4 || record.pcs[0] != record.cStart + 1 || record.pcs[1] != record.returnIntoB ||
            record.pcs[2] != record.returnIntoA || record.pcs[3] != record.returnIntoCaller)
            return "frame-pointer walk: " + listing(record);
        return std::string();
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

// Hand-written code without unwind information, between functions without
// frame pointers: one frame-pointer step, then DWARF again.
TEST(CrashStackWalk, DwarfTakesOverAgainAfterAFramePointerStep) {
    auto result = crashtest::runInChild([] {
        WalkRecord record;
        walk_nofp::aThroughTrampoline(&record);
        if (record.returnIntoB != (uint64_t)(uintptr_t)vxtest_fp_trampoline_return)
            return std::string("the trampoline did not call c");
        return checkChain(record);
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

// A frame record that links to itself, under a pc the unwind tables do not
// cover: the walk ends instead of repeating the frame.
TEST(CrashStackWalk, AFramePointerChainThatPointsAtItselfEndsTheWalk) {
    auto result = crashtest::runInChild([] {
        uint64_t stack[8] = {};
        stack[4] = (uint64_t)(uintptr_t)&stack[4];
        stack[5] = (uint64_t)(uintptr_t)vxtest_fp_trampoline_return;
        vxcrash_async_thread_state_t state;
        vxcrash_async_thread_state_init(&state, VXCRASH_CPU_TYPE_X86_64);
        vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_IP, (uint64_t)(uintptr_t)vxtest_fp_trampoline_return);
        vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_SP, (uint64_t)(uintptr_t)&stack[0]);
        vxcrash_async_thread_state_set_reg(&state, VXCRASH_REG_FP, (uint64_t)(uintptr_t)&stack[4]);
        WalkRecord record;
        walkFrom(&record, &state, nullptr, 0);
        if (record.count > 2) return "the looping record was followed: " + listing(record);
        return std::string();
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

size_t keptRowCount(const vxcrash_async_unwind_cache_t& cache) {
    size_t n = 0;
    for (const auto& row : cache.rows) n += row.pc != 0 ? 1 : 0;
    return n;
}

// Rows kept across walks give the same frames as decoding; a change of the
// images empties them.
TEST(CrashStackWalk, RowsKeptAcrossWalksGiveTheSameFrames) {
    auto result = crashtest::runInChild([] {
        auto cache = std::make_unique<vxcrash_async_unwind_cache_t>();
        vxcrash_async_unwind_cache_init(cache.get());
        WalkRecord cold, warm;
        walk_nofp::a(&cold);
        g_keptRows = cache.get();
        walk_nofp::a(&warm);  // fills the cache
        size_t kept = keptRowCount(*cache);
        walk_nofp::a(&warm);  // reads it
        if (std::string error = checkChain(warm); !error.empty()) return error;
        if (kept < 5 || warm.count != cold.count)
            return "kept " + std::to_string(kept) + " rows; " + listing(cold) + " / " + listing(warm);

        vxcrash_async_image_t generated{};
        generated.start = generated.header_address = 0x10000;
        generated.end = 0x20000;
        uint64_t before = images()->generation;
        if (vxcrash_async_image_list_append(images(), &generated) != VXCRASH_ESUCCESS || images()->generation == before)
            return std::string("appending an image kept the generation");
        walk_nofp::a(&warm);
        if (cache->generation != images()->generation || keptRowCount(*cache) > kept)
            return std::string("rows of the old images were kept");
        return checkChain(warm);
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

uint64_t g_recursionReturns[24];

__attribute__((noinline, noclone)) void recurse(WalkRecord* record, int depth) {
    g_recursionReturns[depth] = (uint64_t)__builtin_return_address(0);
    if (depth == 0)
        walkCurrentStack(record);
    else
        recurse(record, depth - 1);
    __asm__ __volatile__("" ::: "memory");
}

// Frames of a recursion share one decoded row; every one of them must still
// come out at its own return address.
TEST(CrashStackWalk, RecursionFramesEachFindTheirCaller) {
    auto result = crashtest::runInChild([] {
        WalkRecord record;
        recurse(&record, 20);
        for (size_t i = 0; i + 21 <= record.count; ++i) {
            bool all = true;
            for (int depth = 0; depth <= 20 && all; ++depth)
                all = record.pcs[i + (size_t)depth] == g_recursionReturns[depth];
            if (all) return std::string();
        }
        return "recursion not walked frame by frame: " + listing(record);
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

WalkRecord g_signalRecord;

void onSignal(int) { walkCurrentStack(&g_signalRecord); }

__attribute__((noinline, noclone)) void interrupted(WalkRecord* record) {
    record->returnIntoCaller = (uint64_t)__builtin_return_address(0);
    raise(SIGUSR1);
    __asm__ __volatile__("" ::: "memory");
}

// From inside a signal handler the walk crosses the signal trampoline (whose
// unwind rules are DWARF expressions) back into the interrupted code.
TEST(CrashStackWalk, CrossesASignalFrame) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    auto result = crashtest::runInChild([] {
        signal(SIGUSR1, onSignal);
        interrupted(&g_signalRecord);
        for (size_t i = 0; i < g_signalRecord.count; ++i)
            if (g_signalRecord.pcs[i] == g_signalRecord.returnIntoCaller) return std::string();
        return "caller of the interrupted function not reached: " + listing(g_signalRecord);
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

TEST(CrashImageList, ListsTheExecutableAndLibrariesWithBuildIds) {
    auto result = crashtest::runInChild([] {
        vxcrash_async_image_list_t* list = images();
        vxcrash_async_image_list_set_reading(list, true);
        std::ostringstream problems;
        const vxcrash_async_image_t* self =
            vxcrash_async_image_list_image_for_address(list, (uintptr_t)(void*)&walkCurrentStack);
        const vxcrash_async_image_t* libc = vxcrash_async_image_list_image_for_address(list, (uintptr_t)(void*)&raise);
        vxcrash_async_task_t task;
        vxcrash_async_task_init(&task);
        char name[4096];
        if (self == nullptr || !self->is_executable) {
            problems << "executable not found; ";
        } else {
            vxcrash_async_image_copy_name(list, self, &task, name, sizeof(name));
            if (std::string(name).find("VXCrashReporterStackWalkTests") == std::string::npos)
                problems << "executable named " << name << "; ";
            if (self->build_id_length != 20) problems << "executable build-id length " << self->build_id_length << "; ";
            if (memcmp((const void*)self->header_address,
                       "\x7f"
                       "ELF",
                       4) != 0)
                problems << "executable header not at its base; ";
        }
        if (libc == nullptr || libc == self) {
            problems << "libc not found; ";
        } else {
            vxcrash_async_image_copy_name(list, libc, &task, name, sizeof(name));
            if (std::string(name).find("libc") == std::string::npos) problems << "libc named " << name << "; ";
            if (libc->eh_frame_hdr == 0) problems << "libc without eh_frame_hdr; ";
        }
        vxcrash_async_image_list_set_reading(list, false);
        return problems.str();
    });
    EXPECT_TRUE(result.exited && result.status == 0) << crashtest::describe(result);
}

}  // namespace
