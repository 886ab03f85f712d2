// The log writer end to end: reports written in a child process (threads
// parked with signals, stacks walked), then read back here by protoc-c's
// generated unpack and by a plain protobuf walker that checks every length.
#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadParking.h"
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.pb-c.h"
#include "tests/Vendor/VXCrashReporter/Source/AllocationGuard.h"
#include "tests/Vendor/VXCrashReporter/Source/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using crashtest::PbField;

// --- child side --------------------------------------------------------------------

vxcrash_log_writer_t g_writer;
vxcrash_async_image_list_t* g_images = nullptr;

struct WriteSpec {
    std::string path;
    const char* marketingVersion = "1.2";
    bool withState = true;
    pid_t crashed = 0;  // 0: the calling thread
    off_t limit = 256 * 1024;
    int signo = SIGSEGV;
    int code = SEGV_MAPERR;
    uint64_t address = 0xdead;
    bool mach = false;
};

void prepareWriter(const WriteSpec& spec) {
    vxcrash_log_writer_init(&g_writer, "com.tarnwick.vexil", "42", spec.marketingVersion, 0, false);
    g_images = new vxcrash_async_image_list_t();
    vxcrash_async_image_list_init(g_images);
}

struct WriteContext {
    const WriteSpec* spec;
    vxcrash_error_t result;
};

vxcrash_error_t writeWithState(vxcrash_async_thread_state_t* state, void* context) {
    auto* ctx = static_cast<WriteContext*>(context);
    const WriteSpec& spec = *ctx->spec;
    int fd = open(spec.path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return ctx->result = VXCRASH_OUTPUT_ERR;
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, fd, spec.limit);
    vxcrash_log_bsd_signal_info_t bsd = {spec.signo, spec.code, spec.address};
    uint64_t codes[] = {1, 0xdead};
    vxcrash_log_mach_signal_info_t mach = {1, codes, 2};
    vxcrash_log_signal_info_t info = {&bsd, spec.mach ? &mach : nullptr};
    pid_t crashed = spec.crashed != 0 ? spec.crashed : (pid_t)syscall(SYS_gettid);
    vxcrash_error_t written =
        vxcrash_log_writer_write(&g_writer, crashed, g_images, &file, &info, spec.withState ? state : nullptr);
    vxcrash_error_t closed = vxcrash_async_file_close(&file);
    ctx->result = written != VXCRASH_ESUCCESS ? written : closed;
    return ctx->result;
}

vxcrash_error_t writeReport(const WriteSpec& spec) {
    WriteContext ctx{&spec, VXCRASH_EUNKNOWN};
    vxcrash_async_thread_state_current(writeWithState, &ctx);
    return ctx.result;
}

std::string expectWritten(const WriteSpec& spec) {
    vxcrash_error_t err = writeReport(spec);
    return err == VXCRASH_ESUCCESS ? std::string() : std::string("write failed: ") + vxcrash_async_strerror(err);
}

// Threads that wait in a blocking read until released; optionally with the
// parking signal blocked, so that they cannot answer.
struct Waiters {
    int fds[2];
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    std::vector<pid_t> tids;
    std::mutex lock;

    explicit Waiters(int count, bool deaf = false) {
        if (pipe(fds) != 0) abort();
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this, deaf] {
                if (deaf) {
                    sigset_t set;
                    sigemptyset(&set);
                    sigaddset(&set, vxcrash_async_thread_parking_signal());
                    pthread_sigmask(SIG_BLOCK, &set, nullptr);
                }
                {
                    std::lock_guard<std::mutex> guard(lock);
                    tids.push_back((pid_t)syscall(SYS_gettid));
                }
                ready.fetch_add(1);
                char c;
                while (read(fds[0], &c, 1) < 0 && errno == EINTR) {}
            });
        }
        while (ready.load() < count) std::this_thread::yield();
    }
    ~Waiters() {
        for (size_t i = 0; i < threads.size(); ++i) (void)!write(fds[1], "x", 1);
        for (auto& t : threads) t.join();
        close(fds[0]);
        close(fds[1]);
    }
};

// --- parent side ------------------------------------------------------------------

struct Decoded {
    std::vector<uint8_t> bytes;
    Vxcrash__CrashReport* report = nullptr;
    std::vector<PbField> fields;
    std::string walkError;

    ~Decoded() {
        if (report != nullptr) vxcrash__crash_report__free_unpacked(report, nullptr);
    }
};

std::unique_ptr<Decoded> decode(const std::string& path) {
    auto d = std::make_unique<Decoded>();
    d->bytes = crashtest::readFile(path);
    unlink(path.c_str());
    if (d->bytes.size() <= 8) return d;
    d->report = vxcrash__crash_report__unpack(nullptr, d->bytes.size() - 8, d->bytes.data() + 8);
    crashtest::walkMessage(d->bytes.data() + 8, d->bytes.size() - 8, "CrashReport", crashtest::crashReportSchema(),
                           &d->fields, &d->walkError);
    return d;
}

std::vector<uint32_t> numbers(const std::vector<PbField>& message) {
    std::vector<uint32_t> out;
    for (const auto& f : message)
        if (out.empty() || out.back() != f.number) out.push_back(f.number);
    return out;
}

// Both readers accept the report; header and field order are as written.
void expectWellFormed(const Decoded& d) {
    ASSERT_GT(d.bytes.size(), 8u);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.begin() + 7), "vxcrash");
    EXPECT_EQ(d.bytes[7], 1);
    EXPECT_EQ(d.walkError, "");
    ASSERT_NE(d.report, nullptr) << "protoc-c could not unpack the report";
    ASSERT_FALSE(d.fields.empty());
    EXPECT_EQ(d.fields.front().number, 9u);
}

TEST(CrashLogWriter, ReportIsReadByProtocCAndByAPlainWalker) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("report.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        spec.mach = true;
        prepareWriter(spec);
        uint64_t addresses[] = {0x1000, 0x2000, 0x3000};
        vxcrash_log_writer_set_exception(&g_writer, "NSRangeException", "index 3 beyond bounds", addresses, 3);
        vxcrash_log_writer_set_custom_data(&g_writer, "first", 5);
        vxcrash_log_writer_set_custom_data(&g_writer, "custom\0data", 11);
        Waiters waiters(2);
        return expectWritten(spec);
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    const Vxcrash__CrashReport* r = d->report;
    ASSERT_NE(r, nullptr);

    // Top level, in writing order.
    EXPECT_EQ(numbers(d->fields), (std::vector<uint32_t>{9, 1, 8, 2, 7, 3, 4, 5, 6, 10}));

    ASSERT_NE(r->report_info, nullptr);
    EXPECT_FALSE(r->report_info->user_requested);
    EXPECT_EQ(r->report_info->uuid.len, 16u);

    ASSERT_NE(r->system_info, nullptr);
    EXPECT_EQ(r->system_info->operating_system, VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX);
    EXPECT_EQ(r->system_info->architecture, VXCRASH__ARCHITECTURE__X86_64);
    EXPECT_GT(r->system_info->timestamp, 1600000000);
    EXPECT_NE(std::string(r->system_info->os_version), "");
    ASSERT_NE(r->system_info->os_build, nullptr);
    EXPECT_EQ(numbers(d->fields[1].children), (std::vector<uint32_t>{1, 2, 5, 3, 4}));

    ASSERT_NE(r->machine_info, nullptr);
    ASSERT_NE(r->machine_info->processor, nullptr);
    EXPECT_EQ(r->machine_info->processor->encoding,
              VXCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH);
    EXPECT_EQ(r->machine_info->processor->type, 0x1000007u);
    EXPECT_GT(r->machine_info->logical_processor_count, 0u);
    EXPECT_GT(r->machine_info->processor_count, 0u);

    ASSERT_NE(r->application_info, nullptr);
    EXPECT_STREQ(r->application_info->identifier, "com.tarnwick.vexil");
    EXPECT_STREQ(r->application_info->version, "42");
    EXPECT_STREQ(r->application_info->marketing_version, "1.2");

    ASSERT_NE(r->process_info, nullptr);
    EXPECT_NE(r->process_info->process_id, 0u);
    EXPECT_EQ(r->process_info->parent_process_id, (uint32_t)getpid());
    EXPECT_TRUE(r->process_info->native);
    EXPECT_NE(std::string(r->process_info->process_path).find("VXCrashReporterLogWriterTests"), std::string::npos);
    EXPECT_TRUE(r->process_info->has_start_time);

    // The caller and both waiters; only the crashed caller carries registers, before its frames.
    ASSERT_EQ(r->n_threads, 3u);
    size_t crashed = 0;
    for (size_t i = 0; i < r->n_threads; ++i) {
        const Vxcrash__CrashReport__Thread* t = r->threads[i];
        EXPECT_EQ(t->thread_number, i);
        EXPECT_GT(t->n_frames, 2u) << "thread " << i;
        if (t->crashed) {
            ++crashed;
            ASSERT_EQ(t->n_registers, 21u);
            EXPECT_STREQ(t->registers[0]->name, "rip");
            EXPECT_STREQ(t->registers[20]->name, "gs");
            EXPECT_EQ(t->registers[0]->value, t->frames[0]->pc);
        } else {
            EXPECT_EQ(t->n_registers, 0u);
        }
    }
    EXPECT_EQ(crashed, 1u);
    for (const PbField* thread : crashtest::fields(d->fields, 3)) {
        std::vector<uint32_t> order = numbers(thread->children);
        bool hasRegisters = std::find(order.begin(), order.end(), 4u) != order.end();
        EXPECT_EQ(order, hasRegisters ? (std::vector<uint32_t>{1, 3, 4, 2}) : (std::vector<uint32_t>{1, 3, 2}));
    }

    // Images: the executable first, with its base, size, build-id and code type.
    ASSERT_GT(r->n_binary_images, 2u);
    const Vxcrash__CrashReport__BinaryImage* exe = r->binary_images[0];
    EXPECT_NE(std::string(exe->name).find("VXCrashReporterLogWriterTests"), std::string::npos);
    EXPECT_TRUE(exe->has_uuid);
    EXPECT_EQ(exe->uuid.len, 20u);
    EXPECT_GT(exe->size, 0u);
    ASSERT_NE(exe->code_type, nullptr);
    EXPECT_EQ(exe->code_type->type, 0x1000007u);
    EXPECT_EQ(numbers(crashtest::fields(d->fields, 4).front()->children), (std::vector<uint32_t>{2, 1, 3, 4, 5}));
    bool frameInExecutable = false;
    for (size_t i = 0; i < r->threads[0]->n_frames; ++i) {
        uint64_t pc = r->threads[0]->frames[i]->pc;
        frameInExecutable |= pc >= exe->base_address && pc < exe->base_address + exe->size;
    }
    EXPECT_TRUE(frameInExecutable);

    ASSERT_NE(r->exception, nullptr);
    EXPECT_STREQ(r->exception->name, "NSRangeException");
    EXPECT_STREQ(r->exception->reason, "index 3 beyond bounds");
    ASSERT_EQ(r->exception->n_frames, 3u);
    EXPECT_EQ(r->exception->frames[2]->pc, 0x3000u);

    ASSERT_NE(r->signal, nullptr);
    EXPECT_STREQ(r->signal->name, "SIGSEGV");
    EXPECT_STREQ(r->signal->code, "SEGV_MAPERR");
    EXPECT_EQ(r->signal->address, 0xdeadu);
    ASSERT_NE(r->signal->mach_exception, nullptr);
    EXPECT_EQ(r->signal->mach_exception->type, 1u);
    ASSERT_EQ(r->signal->mach_exception->n_codes, 2u);
    EXPECT_EQ(r->signal->mach_exception->codes[1], 0xdeadu);

    ASSERT_TRUE(r->has_custom_data);
    EXPECT_EQ(std::string((const char*)r->custom_data.data, r->custom_data.len), std::string("custom\0data", 11));
}

TEST(CrashLogWriter, OptionalFieldsAndSignalsWithoutNames) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("optional.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        spec.marketingVersion = nullptr;
        spec.signo = 99;
        spec.code = 12345;
        prepareWriter(spec);
        return expectWritten(spec);
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    const Vxcrash__CrashReport* r = d->report;
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->application_info->marketing_version, nullptr);
    EXPECT_EQ(numbers(crashtest::fields(d->fields, 2).front()->children), (std::vector<uint32_t>{1, 2}));
    EXPECT_STREQ(r->signal->name, "#99");
    EXPECT_STREQ(r->signal->code, "#12345");
    EXPECT_EQ(r->signal->mach_exception, nullptr);
    EXPECT_EQ(r->exception, nullptr);
    EXPECT_FALSE(r->has_custom_data);
    EXPECT_EQ(numbers(d->fields), (std::vector<uint32_t>{9, 1, 8, 2, 7, 3, 4, 6}));
}

// A name made from a number is "#%d" cut to 9 characters at most.
TEST(CrashLogWriter, NamesMadeFromNumbersAreCutToNineCharacters) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("long-numbers.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        spec.signo = 1234567890;
        spec.code = -1234567890;
        prepareWriter(spec);
        return expectWritten(spec);
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    const Vxcrash__CrashReport* r = d->report;
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->signal->name, "#12345678");
    EXPECT_STREQ(r->signal->code, "#-1234567");
}

__attribute__((noinline, noclone)) void faultHere(volatile int* p) { *p = 1; }

__attribute__((noinline, noclone)) void callFault() {
    faultHere(reinterpret_cast<volatile int*>(0x10));
    __asm__ __volatile__("" ::: "memory");
}

char g_faultPath[4096];

void onFault(int, siginfo_t* info, void* context) {
    vxcrash_async_thread_state_t state;
    vxcrash_async_thread_state_ucontext_init(&state, static_cast<ucontext_t*>(context));
    int fd = open(g_faultPath, O_RDWR | O_CREAT | O_TRUNC, 0644);
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, fd, 256 * 1024);
    vxcrash_log_bsd_signal_info_t bsd = {info->si_signo, info->si_code, (uint64_t)(uintptr_t)info->si_addr};
    vxcrash_log_signal_info_t si = {&bsd, nullptr};
    vxcrash_error_t err = vxcrash_log_writer_write(&g_writer, vxcrash_async_gettid(), g_images, &file, &si, &state);
    vxcrash_error_t closed = vxcrash_async_file_close(&file);
    _exit(err == VXCRASH_ESUCCESS && closed == VXCRASH_ESUCCESS ? 0 : 3);
}

// A real fault: the report is written from the signal's context on the alternate stack.
TEST(CrashLogWriter, CrashedThreadIsWrittenFromTheFaultContext) {
    CRASHTEST_SKIP_WHEN_SANITIZED();
    std::string path = crashtest::scratchPath("fault.vxcrash");
    auto child = crashtest::runInChild([&] {
        snprintf(g_faultPath, sizeof(g_faultPath), "%s", path.c_str());
        WriteSpec spec;
        prepareWriter(spec);
        static std::vector<char> altStack(64 * 1024);
        stack_t ss = {};
        ss.ss_sp = altStack.data();
        ss.ss_size = altStack.size();
        sigaltstack(&ss, nullptr);
        struct sigaction action = {};
        action.sa_sigaction = onFault;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigaction(SIGSEGV, &action, nullptr);
        crashtest::armAllocationGuard();
        callFault();
        return std::string("no fault");
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    const Vxcrash__CrashReport* r = d->report;
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->signal->name, "SIGSEGV");
    EXPECT_STREQ(r->signal->code, "SEGV_MAPERR");
    EXPECT_EQ(r->signal->address, 0x10u);
    ASSERT_EQ(r->n_threads, 1u);
    const Vxcrash__CrashReport__Thread* t = r->threads[0];
    EXPECT_TRUE(t->crashed);
    ASSERT_EQ(t->n_registers, 21u);
    ASSERT_GT(t->n_frames, 2u);
    uint64_t fault = (uint64_t)(uintptr_t)&faultHere;
    uint64_t caller = (uint64_t)(uintptr_t)&callFault;
    EXPECT_GE(t->frames[0]->pc, fault);
    EXPECT_LT(t->frames[0]->pc, fault + 64);
    EXPECT_GT(t->frames[1]->pc, caller);
    EXPECT_LT(t->frames[1]->pc, caller + 256);
}

TEST(CrashLogWriter, ThreadsThatDoNotAnswerAreReportedByNumberOnly) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("deaf.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        prepareWriter(spec);
        vxcrash_async_thread_parking_set_timeout_ms(50);
        Waiters deaf(1, true);
        return expectWritten(spec);
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    const Vxcrash__CrashReport* r = d->report;
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->n_threads, 2u);
    size_t silent = 0;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(r->threads[i]->thread_number, i);
        if (!r->threads[i]->crashed) {
            ++silent;
            EXPECT_EQ(r->threads[i]->n_frames, 0u);
            EXPECT_EQ(r->threads[i]->n_registers, 0u);
        }
    }
    EXPECT_EQ(silent, 1u);
}

TEST(CrashLogWriter, WithoutAThreadListTheCrashedThreadIsStillWritten) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("nolist.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        prepareWriter(spec);
        vxcrash_async_thread_parking_set_task_directory("/nonexistent/task");
        Waiters waiters(1);
        return expectWritten(spec);
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    ASSERT_NE(d->report, nullptr);
    ASSERT_EQ(d->report->n_threads, 1u);
    EXPECT_TRUE(d->report->threads[0]->crashed);
    EXPECT_EQ(d->report->threads[0]->n_registers, 21u);
    EXPECT_GT(d->report->threads[0]->n_frames, 2u);
}

// Without a state for the caller, the caller is left out; the numbers stay
// contiguous and the crashed thread (another one) carries the registers.
TEST(CrashLogWriter, CallingThreadWithoutStateIsLeftOut) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("nostate.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        spec.withState = false;
        prepareWriter(spec);
        Waiters waiters(2);
        spec.crashed = waiters.tids[1];
        return expectWritten(spec);
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    const Vxcrash__CrashReport* r = d->report;
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->n_threads, 2u);
    size_t crashed = 0;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(r->threads[i]->thread_number, i);
        EXPECT_GT(r->threads[i]->n_frames, 0u);
        if (r->threads[i]->crashed) {
            ++crashed;
            EXPECT_EQ(r->threads[i]->n_registers, 21u);
        } else {
            EXPECT_EQ(r->threads[i]->n_registers, 0u);
        }
    }
    EXPECT_EQ(crashed, 1u);
}

__attribute__((noinline, noclone)) vxcrash_error_t recurse(int depth, const WriteSpec& spec) {
    if (depth == 0) return writeReport(spec);
    vxcrash_error_t result = recurse(depth - 1, spec);
    __asm__ __volatile__("" ::: "memory");
    return result;
}

TEST(CrashLogWriter, DeepStacksAndLongExceptionStacksAreCutAt512Frames) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("deep.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        prepareWriter(spec);
        std::vector<uint64_t> addresses(600, 0x4000);
        vxcrash_log_writer_set_exception(&g_writer, "E", nullptr, addresses.data(), addresses.size());
        vxcrash_error_t err = recurse(600, spec);
        return err == VXCRASH_ESUCCESS ? std::string() : std::string("write failed");
    });
    ASSERT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
    auto d = decode(path);
    expectWellFormed(*d);
    ASSERT_NE(d->report, nullptr);
    ASSERT_EQ(d->report->n_threads, 1u);
    EXPECT_EQ(d->report->threads[0]->n_frames, 512u);
    ASSERT_NE(d->report->exception, nullptr);
    EXPECT_EQ(d->report->exception->n_frames, 512u);
    EXPECT_STREQ(d->report->exception->reason, "");
}

// A report cut short by the file's size limit is a failure, not a success.
TEST(CrashLogWriter, SizeLimitFailureIsReturned) {
    CRASHTEST_SKIP_WHEN_THREAD_SANITIZED();
    std::string path = crashtest::scratchPath("capped.vxcrash");
    auto child = crashtest::runInChild([&] {
        WriteSpec spec;
        spec.path = path;
        spec.limit = 200;
        prepareWriter(spec);
        vxcrash_error_t err = writeReport(spec);
        if (err != VXCRASH_OUTPUT_ERR) return std::string("write returned ") + vxcrash_async_strerror(err);
        if (crashtest::readFile(spec.path).size() > 200) return std::string("file exceeds its limit");
        return std::string();
    });
    unlink(path.c_str());
    EXPECT_TRUE(child.exited && child.status == 0) << crashtest::describe(child);
}

// Custom data replaced while another thread writes reports is never freed under
// the writer. No parking here (the thread list is made unreadable), so this
// also runs under the sanitizers, which see any use after free.
TEST(CrashLogWriter, CustomDataReplacedDuringWritesStaysValid) {
    vxcrash_log_writer_t writer;
    ASSERT_EQ(vxcrash_log_writer_init(&writer, "id", "1", nullptr, 0, false), VXCRASH_ESUCCESS);
    vxcrash_async_thread_parking_set_task_directory("/nonexistent/task");
    int devnull = open("/dev/null", O_WRONLY);
    ASSERT_GE(devnull, 0);

    std::atomic<bool> done{false};
    std::thread replacer([&] {
        std::string data;
        for (int i = 0; !done.load(); ++i) {
            data.assign((size_t)(i % 64) + 1, (char)('a' + i % 26));
            vxcrash_log_writer_set_custom_data(&writer, data.data(), data.size());
        }
    });
    vxcrash_log_bsd_signal_info_t bsd = {SIGTRAP, 2, 0};
    vxcrash_log_signal_info_t info = {&bsd, nullptr};
    for (int i = 0; i < 300; ++i) {
        vxcrash_async_file_t file;
        vxcrash_async_file_init(&file, devnull, 0);
        EXPECT_EQ(vxcrash_log_writer_write(&writer, 0, nullptr, &file, &info, nullptr), VXCRASH_ESUCCESS);
    }
    done.store(true);
    replacer.join();
    close(devnull);
    vxcrash_async_thread_parking_set_task_directory("/proc/self/task");
    vxcrash_log_writer_free(&writer);
}

TEST(CrashLogWriter, InitGathersTheProcessAndSystem) {
    vxcrash_log_writer_t writer;
    ASSERT_EQ(vxcrash_log_writer_init(&writer, "id", "1", "2.0", 3, true), VXCRASH_ESUCCESS);
    EXPECT_EQ(writer.symbolication_strategy, 3u);
    EXPECT_TRUE(writer.user_requested);
    EXPECT_EQ(writer.process_info.process_id, (uint32_t)getpid());
    EXPECT_EQ(writer.process_info.parent_process_id, (uint32_t)getppid());
    ASSERT_NE(writer.process_info.process_name.data, nullptr);
    EXPECT_GT(writer.process_info.process_name.length, 0u);
    EXPECT_GT(writer.process_info.start_time, 1600000000u);
    EXPECT_LE(writer.process_info.start_time, (uint64_t)time(nullptr));
    ASSERT_NE(writer.system_info.os_version.data, nullptr);
    // "major.minor" or "major.minor.patch".
    std::string version = writer.system_info.os_version.data;
    EXPECT_GE(std::count(version.begin(), version.end(), '.'), 1);
    EXPECT_LE(std::count(version.begin(), version.end(), '.'), 2);
    EXPECT_EQ(writer.uuid[6] >> 4, 4);
    vxcrash_log_writer_free(&writer);
    EXPECT_EQ(writer.application_info.identifier.data, nullptr);
}

}  // namespace
