// The crash reporter front end. Every crash runs in a fresh process: the test
// binary started again with "--crash-child <scenario>" and VEXIL_HOME set to a
// folder of its own; the test then decodes the report the child left.
//
// The same binary serves tools/compare-crash-backtrace: "--crash-child"
// crashes as a test would, "--print-report <file>" prints a report's frames.
#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.pb-c.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandler.h"
#include "Vendor/VXCrashReporter/Source/VXCrashThreadStacks.h"

#include "Vendor/VXCrashReporter/Source/AllocationGuard.h"
#include "Vendor/VXCrashReporter/Source/CrashTestSupport.h"
#include "Platform/Foundation/Dispatch.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <link.h>
#include <map>
#include <stdexcept>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

// --- code the children crash in (exported, so dladdr finds their sizes) -----

extern "C" {
int* volatile vxtest_null_pointer = nullptr;
volatile int vxtest_zero = 0;

__attribute__((noinline)) int vxtest_null_dereference() { return *vxtest_null_pointer + 1; }

__attribute__((noinline)) int vxtest_crash_caller() {
    int r = vxtest_null_dereference();
    __asm__ __volatile__("" ::: "memory");
    return r + 1;
}

__attribute__((noinline)) int vxtest_divide_by_zero(int value) { return value / vxtest_zero; }

__attribute__((noinline)) void vxtest_trap() { __builtin_trap(); }

__attribute__((noinline)) int vxtest_bus_error() {
    // A shared mapping past the end of its (empty) file.
    int fd = (int)syscall(SYS_memfd_create, "vxtest", 0);
    auto* page = static_cast<volatile int*>(mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    return page[0] + 1;
}

__attribute__((noinline)) int vxtest_recurse(int depth) {
    volatile char pad[256];
    pad[0] = (char)depth;
    if (vxtest_zero != 0)  // never: the stack runs out first
        return depth;
    return vxtest_recurse(depth + 1) + pad[0];
}

// A call through a null pointer, and one into data: the pc lies in no
// image's code and the return address sits on top of the stack.
void (*volatile vxtest_null_function)() = nullptr;
volatile long vxtest_data_words[4] = {0, 0, 0, 0};

__attribute__((noinline)) int vxtest_call_null() {
    vxtest_null_function();
    __asm__ __volatile__("" ::: "memory");
    return vxtest_zero + 1;
}

__attribute__((noinline)) int vxtest_call_data() {
    auto function = reinterpret_cast<void (*)()>(reinterpret_cast<uintptr_t>(&vxtest_data_words[0]));
    vxtest_null_function = function;
    vxtest_null_function();
    __asm__ __volatile__("" ::: "memory");
    return vxtest_zero + 1;
}

// Recurses depth frames, then runs at_bottom.
__attribute__((noinline)) int vxtest_deep(int depth, void (*at_bottom)()) {
    volatile char pad[16];
    pad[0] = (char)depth;
    if (depth == 0)
        at_bottom();
    else
        vxtest_deep(depth - 1, at_bottom);
    return pad[0];
}

__attribute__((noinline)) void vxtest_throw_boom() {
    // Conditional, so that the caller's call cannot become a jump.
    if (vxtest_zero == 0) throw std::runtime_error("boom");
}

__attribute__((noinline)) void vxtest_throw_caller() {
    vxtest_throw_boom();
    __asm__ __volatile__("" ::: "memory");
}
}

// Live-report callers: exported too, so their ranges can be checked.
namespace vxtest {
std::atomic<int> g_waiterTid{0};
std::atomic<bool> g_waiterGo{false};

__attribute__((noinline)) void liveWaiter() {
    g_waiterTid.store((int)syscall(SYS_gettid));
    while (!g_waiterGo.load()) sched_yield();
}

__attribute__((noinline)) std::optional<std::vector<uint8_t>> liveCaller(VXCrashReporter& reporter,
                                                                         VXCrashReporterError* error) {
    auto report = reporter.generateLiveReport(error);
    __asm__ __volatile__("" ::: "memory");
    return report;
}
}  // namespace vxtest

namespace {

constexpr const char* kIdentifier = "com.tarnwick.vexil";
constexpr int kResumed = 42;  // a child that ran on after its crash

// --- the child side -----------------------------------------------------------

char g_markerPath[4096];

// Leaves a file named after the signal: the post-crash callback ran.
void markCallback(siginfo_t* info, ucontext_t*, void*) {
    char path[4200];
    size_t at = vxcrash_async_strlen(g_markerPath);
    vxcrash_async_memcpy(path, g_markerPath, at);
    vxcrash_async_format_int(path + at, sizeof(path) - at, info->si_signo);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        // How deep the report's writing went into the crash stack.
        char used[24];
        size_t length = vxcrash_async_format_uint(used, sizeof(used), VXCrashSignalHandler::crashStackUsed());
        vxcrash_async_writen(fd, used, length);
        close(fd);
    }
}

void abortInCallback(siginfo_t*, ucontext_t*, void*) { abort(); }

std::string home() {
    const char* value = getenv("VEXIL_HOME");
    return value != nullptr ? value : "/tmp";
}

[[noreturn]] void fail(const std::string& message) {
    fprintf(stderr, "child: %s\n", message.c_str());
    fflush(stderr);
    _exit(3);
}

std::shared_ptr<VXCrashReporter> makeReporter(uint32_t type = VXCrashReporterSignalHandlerTypeBSD,
                                              std::string base = std::string()) {
    auto config = std::make_shared<VXCrashReporterConfig>(type, 0, true, std::move(base));
    return std::make_shared<VXCrashReporter>(kIdentifier, "1", std::string("1.0.0"), config);
}

std::shared_ptr<VXCrashReporter> enableWithMarker(VXCrashReporterPostCrashSignalCallback callback = markCallback,
                                                  uint32_t type = VXCrashReporterSignalHandlerTypeBSD) {
    snprintf(g_markerPath, sizeof(g_markerPath), "%s/callback-", home().c_str());
    auto reporter = makeReporter(type);
    VXCrashReporterCallbacks callbacks = {0, nullptr, callback};
    if (!reporter->setCrashCallbacks(&callbacks)) fail("callbacks refused");
    reporter->setCustomData(std::vector<uint8_t>{'b', 'e', 'f', 'o', 'r', 'e'});
    VXCrashReporterError error;
    if (!reporter->enableCrashReporter(&error)) fail("enable failed: " + error.localizedDescription);
    return reporter;
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* out = fopen(path.c_str(), "wb");
    if (out == nullptr || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) fail("cannot write " + path);
    fclose(out);
}

void armGuard() { crashtest::armAllocationGuard(); }

using LibraryRunThread = void* (*)(int, void (*)());

// The test library's thread starter, loaded now (the executable does not link it).
LibraryRunThread libraryRunThread() {
    void* library = dlopen(VXTEST_LIBRARY_THREAD, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) fail(std::string("dlopen: ") + dlerror());
    auto run = reinterpret_cast<LibraryRunThread>(dlsym(library, "vxtest_library_run_thread"));
    if (run == nullptr) fail("no vxtest_library_run_thread");
    return run;
}

void* currentAlternateStack() {
    stack_t current;
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) != 0) return nullptr;
    return current.ss_sp;
}

bool isMapped(void* address) {
    auto page = reinterpret_cast<uintptr_t>(address) & ~(uintptr_t)(sysconf(_SC_PAGESIZE) - 1);
    unsigned char resident;
    return mincore(reinterpret_cast<void*>(page), 1, &resident) == 0;
}

// Threads started after enabling get an alternate stack, whoever starts
// them, and lose it when they end however they end; threads started before
// keep none.
int checkThreadStacks() {
    void* before = reinterpret_cast<void*>(1);
    std::thread([&before] { before = currentAlternateStack(); }).join();
    if (before != nullptr) fail("a thread started before enabling has an alternate stack");

    if (!makeReporter()->enableCrashReporter()) fail("enable failed");
    if (!vxcrash_thread_stacks_interposed()) fail("pthread_create is not the reporter's");

    struct Seen {
        void* ours = nullptr;
        void* theirs = nullptr;
    };
    struct Case {
        const char* name;
        void* (*body)(void*);
    };
    static const Case cases[] = {
        {"returns",
         [](void* seen) -> void* {
             static_cast<Seen*>(seen)->ours = currentAlternateStack();
             return nullptr;
         }},
        {"pthread_exit",
         [](void* seen) -> void* {
             static_cast<Seen*>(seen)->ours = currentAlternateStack();
             pthread_exit(nullptr);
         }},
        {"turns it off",
         [](void* seen) -> void* {
             static_cast<Seen*>(seen)->ours = currentAlternateStack();
             stack_t off{};
             off.ss_flags = SS_DISABLE;
             sigaltstack(&off, nullptr);
             return nullptr;
         }},
        {"replaces it",
         [](void* seen) -> void* {
             auto* s = static_cast<Seen*>(seen);
             s->ours = currentAlternateStack();
             s->theirs = mmap(nullptr, 64 * 1024, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
             stack_t own{};
             own.ss_sp = s->theirs;
             own.ss_size = 64 * 1024;
             sigaltstack(&own, nullptr);
             return nullptr;
         }},
    };
    for (const Case& c : cases) {
        Seen seen;
        pthread_t thread;
        if (pthread_create(&thread, nullptr, c.body, &seen) != 0) fail(std::string("no thread: ") + c.name);
        pthread_join(thread, nullptr);
        if (seen.ours == nullptr) fail(std::string("no alternate stack: ") + c.name);
        if (isMapped(seen.ours)) fail(std::string("the alternate stack outlives its thread: ") + c.name);
        if (seen.theirs != nullptr && !isMapped(seen.theirs)) fail("the thread's own stack was unmapped");
    }

    void* seen = nullptr;
    std::thread([&seen] { seen = currentAlternateStack(); }).join();
    if (seen == nullptr || isMapped(seen)) fail("std::thread: no alternate stack, or one left mapped");
    seen = libraryRunThread()(0, nullptr);
    if (seen == nullptr || isMapped(seen)) fail("library thread: no alternate stack, or one left mapped");
    return 0;
}

// Each scenario crashes (or checks something and returns 0).
const std::map<std::string, std::function<int()>>& scenarios() {
    static const std::map<std::string, std::function<int()>> table = {
        {"segv",
         [] {
             enableWithMarker();
             armGuard();
             return vxtest_crash_caller();
         }},
        {"exception",
         [] {
             // Throwing allocates: armed when the abort comes, by a callback
             // that runs before the reporter's.
             VXCrashSignalHandler::sharedHandler().registerHandlerForSignal(
                 SIGABRT,
                 [](int, siginfo_t*, ucontext_t*, void*) {
                     armGuard();
                     return false;
                 },
                 nullptr, nullptr);
             enableWithMarker();
             vxtest_throw_caller();
             return 0;
         }},
        {"fpe",
         [] {
             enableWithMarker();
             armGuard();
             return vxtest_divide_by_zero(7);
         }},
        {"ill",
         [] {
             // The Mach type installs the same signal handlers.
             enableWithMarker(markCallback, VXCrashReporterSignalHandlerTypeMach);
             armGuard();
             vxtest_trap();
             return 0;
         }},
        {"bus",
         [] {
             enableWithMarker();
             armGuard();
             return vxtest_bus_error();
         }},
        {"thread",
         [] {
             auto reporter = enableWithMarker();
             // Changed after enabling: still reaches the report.
             reporter->setCustomData(std::vector<uint8_t>{'a', 'f', 't', 'e', 'r'});
             std::thread crasher([] {
                 armGuard();
                 vxtest_crash_caller();
             });
             crasher.join();
             return 0;
         }},
        {"overflow",
         [] {
             enableWithMarker();
             armGuard();
             return vxtest_recurse(0);
         }},
        {"two-threads",
         [] {
             enableWithMarker();
             std::atomic<int> ready{0};
             auto body = [&ready] {
                 ready.fetch_add(1);
                 while (ready.load() < 2) {}
                 armGuard();
                 vxtest_crash_caller();
             };
             std::thread a(body), b(body);
             a.join();
             b.join();
             return 0;
         }},
        {"int3",
         [] {
             enableWithMarker();
             armGuard();
             __asm__ __volatile__("int3");
             return 0;
         }},
        {"kill-trap",
         [] {
             enableWithMarker();
             armGuard();
             kill(getpid(), SIGTRAP);
             return 0;
         }},
        {"chain",
         [] {
             // A handler installed before the reporter gets the original fault.
             struct sigaction earlier;
             memset(&earlier, 0, sizeof(earlier));
             earlier.sa_flags = SA_SIGINFO;
             earlier.sa_sigaction = [](int signo, siginfo_t* info, void*) {
                 bool original = signo == SIGSEGV && info->si_code == SEGV_MAPERR && info->si_addr == nullptr;
                 _exit(original ? 7 : 8);
             };
             sigaction(SIGSEGV, &earlier, nullptr);
             enableWithMarker();
             armGuard();
             return vxtest_crash_caller();
         }},
        {"callback-aborts",
         [] {
             enableWithMarker(abortInCallback);
             armGuard();
             return vxtest_crash_caller();
         }},
        {"unwritable",
         [] {
             // A directory where the report should go: no one can write it.
             auto reporter = makeReporter();
             fs::create_directories(reporter->crashReportPath());
             snprintf(g_markerPath, sizeof(g_markerPath), "%s/callback-", home().c_str());
             VXCrashReporterCallbacks callbacks = {0, nullptr, markCallback};
             reporter->setCrashCallbacks(&callbacks);
             if (!reporter->enableCrashReporter()) fail("enable failed");
             armGuard();
             return vxtest_crash_caller();
         }},
        {"second-enable",
         [] {
             auto first = makeReporter();
             if (!first->enableCrashReporter()) fail("first enable failed");
             struct sigaction ours;
             sigaction(SIGSEGV, nullptr, &ours);
             // The application replaces one handler after enabling.
             struct sigaction replaced;
             memset(&replaced, 0, sizeof(replaced));
             replaced.sa_handler = [](int) {};
             sigaction(SIGBUS, &replaced, nullptr);

             auto second = makeReporter(VXCrashReporterSignalHandlerTypeBSD, home() + "/elsewhere");
             for (auto* reporter : {second.get(), first.get()}) {
                 VXCrashReporterError error;
                 if (reporter->enableCrashReporter(&error)) fail("a second enable succeeded");
                 if (error.domain != "VXCrashReporterErrorDomain" || error.code != 3 ||
                     error.localizedDescription != "A VXCrashReporter instance has already been enabled")
                     fail("wrong error: " + error.localizedDescription);
             }
             if (fs::exists(home() + "/elsewhere")) fail("the second enable made its directories");
             struct sigaction now;
             sigaction(SIGSEGV, nullptr, &now);
             if (now.sa_sigaction != ours.sa_sigaction || (now.sa_flags & SA_ONSTACK) == 0)
                 fail("SIGSEGV handler changed");
             sigaction(SIGBUS, nullptr, &now);
             if (now.sa_handler != replaced.sa_handler) fail("SIGBUS handler reinstalled");
             for (int signo : VXCrashSignalHandler::kCrashSignals) {
                 if (VXCrashSignalHandler::sharedHandler().callbackCount(signo) != 1)
                     fail("callback lists changed for " + std::to_string(signo));
             }
             try {
                 VXCrashReporterCallbacks callbacks = {0, nullptr, markCallback};
                 first->setCrashCallbacks(&callbacks);
                 fail("callbacks accepted after enabling");
             } catch (const VXCrashReporterException& e) {
                 if (std::string(e.what()) != "The crash reporter has alread been enabled") fail(e.what());
             }
             return 0;
         }},
        {"enable-after-failure",
         [] {
             // The first enable fails: a file stands where its directories go.
             auto first = makeReporter(VXCrashReporterSignalHandlerTypeBSD, home() + "/blocked");
             writeFile(home() + "/blocked", {'x'});
             VXCrashReporterError error;
             if (first->enableCrashReporter(&error)) fail("an enable into a file succeeded");
             if (error.domain != "NSPOSIXErrorDomain")
                 fail("wrong error: " + error.domain + " " + error.localizedDescription);
             // The process has had its enable: a later one, of any reporter, fails.
             auto second = makeReporter(VXCrashReporterSignalHandlerTypeBSD, home() + "/elsewhere");
             for (auto* reporter : {second.get(), first.get()}) {
                 error = {};
                 if (reporter->enableCrashReporter(&error)) fail("an enable after the failed one succeeded");
                 if (error.domain != "VXCrashReporterErrorDomain" || error.code != 3 ||
                     error.localizedDescription != "A VXCrashReporter instance has already been enabled")
                     fail("wrong error: " + error.localizedDescription);
             }
             if (fs::exists(home() + "/elsewhere")) fail("the later enable made its directories");
             for (int signo : VXCrashSignalHandler::kCrashSignals) {
                 if (VXCrashSignalHandler::sharedHandler().callbackCount(signo) != 0)
                     fail("a handler was installed for " + std::to_string(signo));
             }
             return 0;
         }},
        {"null-call",
         [] {
             enableWithMarker();
             armGuard();
             return vxtest_call_null();
         }},
        {"data-call",
         [] {
             enableWithMarker();
             armGuard();
             return vxtest_call_data();
         }},
        {"small-stack",
         [] {
             // No alternate stack (the thread turns its own off), 24 KiB of
             // stack: the handler moves to a stack of its own.
             enableWithMarker();
             pthread_attr_t attr;
             pthread_attr_init(&attr);
             size_t size = 24 * 1024;
             long minimum = sysconf(_SC_THREAD_STACK_MIN);
             if (minimum > 0 && (size_t)minimum > size) size = (size_t)minimum;
             pthread_attr_setstacksize(&attr, size);
             pthread_t thread;
             if (pthread_create(
                     &thread, &attr,
                     [](void*) -> void* {
                         stack_t off{};
                         off.ss_flags = SS_DISABLE;
                         if (sigaltstack(&off, nullptr) != 0) fail("the alternate stack stays");
                         armGuard();
                         vxtest_crash_caller();
                         return nullptr;
                     },
                     nullptr) != 0)
                 fail("no thread");
             pthread_join(thread, nullptr);
             return 0;
         }},
        {"queue-overflow",
         [] {
             // The queue's thread exists before the reporter is enabled.
             auto queue = Foundation::DispatchQueue::makeSerial("com.tarnwick.test.overflow");
             queue->sync([] {});
             enableWithMarker();
             queue->async([] {
                 armGuard();
                 vxtest_recurse(0);
             });
             for (;;) pause();
             return 0;
         }},
        {"thread-overflow",
         [] {
             // A plain thread of the application's, which asks for nothing.
             enableWithMarker();
             std::thread([] {
                 armGuard();
                 vxtest_recurse(0);
             }).join();
             return 0;
         }},
        {"library-thread-overflow",
         [] {
             // A thread made by a library loaded after the program started.
             enableWithMarker();
             libraryRunThread()(1, armGuard);
             return 0;
         }},
        {"thread-stacks", checkThreadStacks},
        {"directory-gone",
         [] {
             auto reporter = enableWithMarker();
             // A cache cleaner removes the folder while the program runs.
             fs::remove_all(reporter->crashReportDirectory());
             armGuard();
             return vxtest_crash_caller();
         }},
        {"writer-dies",
         [] {
             auto reporter = enableWithMarker();
             writeFile(reporter->crashReportPath(), {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
             // The writer is killed (SIGXFSZ) after its first 512 bytes.
             struct rlimit small = {512, 512};
             setrlimit(RLIMIT_FSIZE, &small);
             armGuard();
             return vxtest_crash_caller();
         }},
        {"fork",
         [] {
             auto reporter = enableWithMarker();
             auto crashChild = [&](const std::string& pidFile) {
                 pid_t pid = fork();
                 if (pid == 0) {
                     armGuard();
                     vxtest_crash_caller();
                     _exit(kResumed);
                 }
                 int status = 0;
                 waitpid(pid, &status, 0);
                 if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGSEGV) fail("the forked child did not crash");
                 std::string text = std::to_string(pid);
                 writeFile(home() + "/" + pidFile, std::vector<uint8_t>(text.begin(), text.end()));
             };
             // Nothing pending: the child's report takes the pending path.
             crashChild("first-pid");
             fs::rename(reporter->crashReportPath(), home() + "/first.vxcrash");
             // A report pending: the child leaves it and queues its own.
             writeFile(reporter->crashReportPath(), {'e', 'a', 'r', 'l', 'i', 'e', 'r'});
             crashChild("second-pid");
             return 0;
         }},
        {"stale-temporary",
         [] {
             // Files of a writer that died (its process is gone) and of one
             // that may still be writing (this process).
             auto reporter = makeReporter();
             pid_t gone = fork();
             if (gone == 0) _exit(0);
             waitpid(gone, nullptr, 0);
             fs::create_directories(reporter->crashReportDirectory());
             std::string dead = reporter->crashReportPath() + "." + std::to_string(gone) + ".tmp";
             std::string alive = reporter->crashReportPath() + "." + std::to_string(getpid()) + ".tmp";
             writeFile(dead, {'x'});
             writeFile(alive, {'x'});
             if (!reporter->enableCrashReporter()) fail("enable failed");
             if (fs::exists(dead) || !fs::exists(alive)) fail("wrong temporary files removed");
             return 0;
         }},
        {"deep-threads",
         [] {
             // 64 threads 500 frames deep and a crash 300 frames deep: more
             // than the report's 256 KiB.
             enableWithMarker();
             static std::atomic<int> ready{0};
             std::vector<std::thread> threads;
             for (int i = 0; i < 64; ++i) {
                 threads.emplace_back([] {
                     vxtest_deep(500, [] {
                         ready.fetch_add(1);
                         for (;;) pause();
                     });
                 });
             }
             while (ready.load() < 64) sched_yield();
             vxtest_deep(300, [] {
                 armGuard();
                 vxtest_crash_caller();
             });
             return 0;
         }},
        {"many-threads",
         [] {
             // More threads than the thread table holds; the last one crashes.
             enableWithMarker();
             static std::atomic<int> ready{0};
             constexpr int kThreads = 1100;
             pthread_attr_t attr;
             pthread_attr_init(&attr);
             pthread_attr_setstacksize(&attr, 64 * 1024);
             for (int i = 0; i < kThreads; ++i) {
                 pthread_t thread;
                 if (pthread_create(
                         &thread, &attr,
                         [](void*) -> void* {
                             ready.fetch_add(1);
                             for (;;) pause();
                             return nullptr;
                         },
                         nullptr) != 0)
                     fail("thread " + std::to_string(i) + " not started");
             }
             while (ready.load() < kThreads) sched_yield();
             pthread_t thread;
             pthread_create(
                 &thread, &attr,
                 [](void*) -> void* {
                     armGuard();
                     vxtest_crash_caller();
                     return nullptr;
                 },
                 nullptr);
             pthread_join(thread, nullptr);
             return 0;
         }},
        {"live",
         [] {
             auto reporter = makeReporter();
             reporter->setCustomData(std::vector<uint8_t>{'l', 'i', 'v', 'e'});
             VXCrashReporterError error;
             auto own = vxtest::liveCaller(*reporter, &error);
             if (!own) fail("live report failed: " + error.localizedDescription);
             writeFile(home() + "/live-own.vxcrash", *own);
             using vxtest::g_waiterGo;
             using vxtest::g_waiterTid;
             std::thread waiter(vxtest::liveWaiter);
             while (g_waiterTid.load() == 0) sched_yield();
             auto other = reporter->generateLiveReportWithThread(g_waiterTid.load(), &error);
             g_waiterGo.store(true);
             waiter.join();
             if (!other) fail("live report of a thread failed: " + error.localizedDescription);
             writeFile(home() + "/live-thread.vxcrash", *other);
             return 0;
         }},
    };
    return table;
}

int runCrashChild(const std::string& name) {
    auto found = scenarios().find(name);
    if (found == scenarios().end()) fail("no scenario " + name);
    int result = found->second();
    // A crash scenario that gets here resumed after its crash.
    bool checksOnly = name == "second-enable" || name == "enable-after-failure" || name == "live" || name == "fork" ||
                      name == "stale-temporary" || name == "thread-stacks";
    _exit(result == 0 && checksOnly ? 0 : kResumed);
}

// Prints the crashed thread's frames, one address a line (for the gdb comparison).
int printReport(const char* path) {
    std::vector<uint8_t> bytes = crashtest::readFile(path);
    VXCrashReporterError error;
    auto report = VXCrashReport::initWithData(bytes, &error);
    if (!report) {
        fprintf(stderr, "%s\n", error.localizedDescription.c_str());
        return 1;
    }
    printf("signal %s %s 0x%llx\n", report->signalInfo()->name().c_str(), report->signalInfo()->code().c_str(),
           (unsigned long long)report->signalInfo()->address());
    for (const auto& thread : report->threads()) {
        if (!thread->crashed()) continue;
        for (const auto& frame : thread->stackFrames())
            printf("frame 0x%llx\n", (unsigned long long)frame->instructionPointer());
    }
    return 0;
}

// --- the parent side ------------------------------------------------------------

struct Child {
    bool exited = false;
    int status = -1;  // exit code or the signal that ended it
    std::string output;
    pid_t pid = 0;
    std::string home;  // the child's VEXIL_HOME

    std::string crashDirectory() const { return home + "/.local/state/" + kIdentifier; }
    std::string reportPath() const { return crashDirectory() + "/live_report.vxcrash"; }
    bool callbackRan(int signo) const { return fs::exists(home + "/callback-" + std::to_string(signo)); }
    std::string describe() const { return (exited ? "exit " : "signal ") + std::to_string(status) + ": " + output; }
};

Child runChild(const std::string& scenario) {
    static int counter = 0;
    Child child;
    // Each scenario belongs to one test, so a run replaces the last run's folder.
    child.home = home() + "/crash-" + scenario + "-" + std::to_string(counter++);
    fs::remove_all(child.home);
    fs::create_directories(child.home);

    int fds[2];
    if (pipe(fds) != 0) return child;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        setenv("VEXIL_HOME", child.home.c_str(), 1);
        execl("/proc/self/exe", "crash-child", "--crash-child", scenario.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof(buffer))) > 0) child.output.append(buffer, (size_t)n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    child.pid = pid;
    if (WIFEXITED(status)) {
        child.exited = true;
        child.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        child.status = WTERMSIG(status);
    }
    return child;
}

std::shared_ptr<VXCrashReport> decodeFile(const std::string& path) {
    std::vector<uint8_t> bytes = crashtest::readFile(path);
    VXCrashReporterError error;
    auto report = VXCrashReport::initWithData(bytes, &error);
    EXPECT_NE(report, nullptr) << path << ": " << error.localizedDescription;
    return report;
}

std::shared_ptr<const VXCrashReportThreadInfo> crashedThread(const VXCrashReport& report) {
    std::shared_ptr<const VXCrashReportThreadInfo> crashed;
    int count = 0;
    for (const auto& thread : report.threads()) {
        if (thread->crashed()) {
            crashed = thread;
            ++count;
        }
    }
    EXPECT_EQ(count, 1) << "crashed threads";
    return crashed;
}

// Where a function of this binary lies in the child that wrote report: its
// offset from the executable's base here (size from the symbol table),
// moved to the executable's base in the child.
struct Range {
    uint64_t start = 0;
    uint64_t end = 0;
    bool contains(uint64_t address) const { return address >= start && address < end; }
};

Range rangeInChild(const VXCrashReport& report, const void* function) {
    Dl_info info;
    void* entry = nullptr;
    if (dladdr1(function, &info, &entry, RTLD_DL_SYMENT) == 0 || entry == nullptr) {
        ADD_FAILURE() << "no symbol for " << function;
        return {};
    }
    std::string self = fs::read_symlink("/proc/self/exe");
    for (const auto& image : report.images()) {
        if (image->imageName() != self) continue;
        uint64_t offset = (uint64_t)(uintptr_t)info.dli_saddr - (uint64_t)(uintptr_t)info.dli_fbase;
        uint64_t start = image->imageBaseAddress() + offset;
        return {start, start + static_cast<const ElfW(Sym)*>(entry)->st_size};
    }
    ADD_FAILURE() << "the executable is not among the report's images";
    return {};
}

bool anyFrameIn(const VXCrashReportStackFrames& frames, const Range& range) {
    for (const auto& frame : frames) {
        if (range.contains(frame->instructionPointer())) return true;
    }
    return false;
}

std::string listing(const VXCrashReportStackFrames& frames) {
    std::string text;
    char line[32];
    for (const auto& frame : frames) {
        snprintf(line, sizeof(line), " 0x%llx", (unsigned long long)frame->instructionPointer());
        text += line;
    }
    return text;
}

#define SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS() CRASHTEST_SKIP_WHEN_SANITIZED()

TEST(CrashReporterFrontEnd, NullDereferenceReport) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("segv");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    EXPECT_TRUE(child.callbackRan(SIGSEGV));
    // The directories were made with the mode asked for.
    struct stat st;
    ASSERT_EQ(stat((child.crashDirectory() + "/queued_reports").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);

    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    EXPECT_EQ(report->signalInfo()->code(), "SEGV_MAPERR");
    EXPECT_EQ(report->signalInfo()->address(), 0u);
    EXPECT_EQ(report->machExceptionInfo(), nullptr);
    EXPECT_FALSE(report->hasExceptionInfo());
    EXPECT_EQ(report->processInfo()->processID(), (uint64_t)child.pid);
    EXPECT_EQ(report->applicationInfo()->applicationIdentifier(), kIdentifier);
    EXPECT_EQ(report->customData(), (std::vector<uint8_t>{'b', 'e', 'f', 'o', 'r', 'e'}));

    auto thread = crashedThread(*report);
    ASSERT_NE(thread, nullptr);
    ASSERT_GE(thread->stackFrames().size(), 3u);
    ASSERT_FALSE(thread->registers().empty());
    EXPECT_EQ(thread->registers()[0]->registerName(), "rip");
    uint64_t pc = thread->stackFrames()[0]->instructionPointer();
    EXPECT_EQ(pc, thread->registers()[0]->registerValue());
    Range crashing = rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_null_dereference));
    Range caller = rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_crash_caller));
    EXPECT_TRUE(crashing.contains(pc)) << listing(thread->stackFrames());
    EXPECT_TRUE(caller.contains(thread->stackFrames()[1]->instructionPointer())) << listing(thread->stackFrames());
}

TEST(CrashReporterFrontEnd, UncaughtExceptionReachesTheAbortReport) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("exception");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGABRT) << child.describe();
    EXPECT_TRUE(child.callbackRan(SIGABRT));

    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->signalInfo()->name(), "SIGABRT");
    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "boom");
    // Both stacks still lead through the throw: the thrower's caller is on
    // them (the throw itself may sit in a block the compiler moved away from
    // its function).
    Range thrower = rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_throw_caller));
    ASSERT_TRUE(report->exceptionInfo()->stackFrames().has_value());
    const auto& frames = *report->exceptionInfo()->stackFrames();
    EXPECT_TRUE(anyFrameIn(frames, thrower)) << listing(frames);
    auto thread = crashedThread(*report);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(anyFrameIn(thread->stackFrames(), thrower)) << listing(thread->stackFrames());
}

TEST(CrashReporterFrontEnd, FaultSignalsNameTheirCodeAndFunction) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    struct Case {
        const char* scenario;
        int signo;
        const char* name;
        const char* code;
        const void* function;
    };
    const Case cases[] = {
        {"fpe", SIGFPE, "SIGFPE", "FPE_INTDIV", reinterpret_cast<const void*>(&vxtest_divide_by_zero)},
        {"ill", SIGILL, "SIGILL", "ILL_ILLOPN", reinterpret_cast<const void*>(&vxtest_trap)},
        {"bus", SIGBUS, "SIGBUS", "BUS_ADRERR", reinterpret_cast<const void*>(&vxtest_bus_error)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        Child child = runChild(c.scenario);
        ASSERT_FALSE(child.exited) << child.describe();
        EXPECT_EQ(child.status, c.signo) << child.describe();
        EXPECT_TRUE(child.callbackRan(c.signo));
        auto report = decodeFile(child.reportPath());
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->signalInfo()->name(), c.name);
        EXPECT_EQ(report->signalInfo()->code(), c.code);
        EXPECT_EQ(report->machExceptionInfo(), nullptr);
        auto thread = crashedThread(*report);
        ASSERT_NE(thread, nullptr);
        ASSERT_FALSE(thread->stackFrames().empty());
        Range range = rangeInChild(*report, c.function);
        EXPECT_TRUE(range.contains(thread->stackFrames()[0]->instructionPointer())) << listing(thread->stackFrames());
        if (c.signo == SIGBUS) {
            EXPECT_NE(report->signalInfo()->address(), 0u);
        } else {
            // Faults of an instruction report the instruction's address.
            EXPECT_TRUE(range.contains(report->signalInfo()->address()));
        }
    }
}

TEST(CrashReporterFrontEnd, CrashOnASecondThread) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("thread");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->customData(), (std::vector<uint8_t>{'a', 'f', 't', 'e', 'r'}));
    ASSERT_GE(report->threads().size(), 2u);
    auto thread = crashedThread(*report);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(anyFrameIn(thread->stackFrames(),
                           rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_null_dereference))));
    // The main thread was parked and walked, without registers.
    for (const auto& other : report->threads()) {
        if (other == thread) continue;
        EXPECT_TRUE(other->registers().empty());
        EXPECT_FALSE(other->stackFrames().empty()) << "thread " << other->threadNumber();
    }
}

TEST(CrashReporterFrontEnd, StackOverflowIsReportedFromTheAlternateStack) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("overflow");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    EXPECT_TRUE(child.callbackRan(SIGSEGV));
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
    auto thread = crashedThread(*report);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->stackFrames().size(), 512u);
    Range recurse = rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_recurse));
    size_t inside = 0;
    for (const auto& frame : thread->stackFrames()) inside += recurse.contains(frame->instructionPointer()) ? 1 : 0;
    EXPECT_EQ(inside, 512u);
}

TEST(CrashReporterFrontEnd, TwoThreadsCrashingTogetherGiveOneReport) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    for (int round = 0; round < 3; ++round) {
        Child child = runChild("two-threads");
        ASSERT_FALSE(child.exited) << child.describe();
        EXPECT_EQ(child.status, SIGSEGV) << child.describe();
        auto report = decodeFile(child.reportPath());
        ASSERT_NE(report, nullptr);
        EXPECT_GE(report->threads().size(), 3u);
        auto thread = crashedThread(*report);
        ASSERT_NE(thread, nullptr);
        EXPECT_TRUE(anyFrameIn(thread->stackFrames(),
                               rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_null_dereference))));
    }
}

TEST(CrashReporterFrontEnd, TrapsAndSentSignalsDoNotResume) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    struct Case {
        const char* scenario;
        const char* code;
    };
    for (const Case& c : {Case{"int3", "SI_KERNEL"}, Case{"kill-trap", "SI_USER"}}) {
        SCOPED_TRACE(c.scenario);
        Child child = runChild(c.scenario);
        ASSERT_FALSE(child.exited) << child.describe();
        EXPECT_EQ(child.status, SIGTRAP) << child.describe();
        auto report = decodeFile(child.reportPath());
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->signalInfo()->name(), "SIGTRAP");
        EXPECT_EQ(report->signalInfo()->code(), c.code);
        // A sent signal carries its sender where a fault has its address.
        EXPECT_EQ(report->signalInfo()->address(), 0u);
    }
}

TEST(CrashReporterFrontEnd, AnEarlierHandlerGetsTheOriginalSignalAfterTheReport) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("chain");
    EXPECT_TRUE(child.exited && child.status == 7) << child.describe();
    EXPECT_TRUE(child.callbackRan(SIGSEGV));
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
}

TEST(CrashReporterFrontEnd, ACrashInsideTheCallbackTakesTheDefaultAction) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("callback-aborts");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGABRT) << child.describe();
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->signalInfo()->name(), "SIGSEGV");
}

TEST(CrashReporterFrontEnd, UnwritableReportMeansNoCallback) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("unwritable");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    EXPECT_FALSE(child.callbackRan(SIGSEGV));
    EXPECT_TRUE(fs::is_directory(child.reportPath()));
}

TEST(CrashReporterFrontEnd, SecondEnableFailsAndLeavesTheHandlersAlone) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("second-enable");
    EXPECT_TRUE(child.exited && child.status == 0) << child.describe();
}

TEST(CrashReporterFrontEnd, AFailedEnableStillEndsLaterEnables) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("enable-after-failure");
    EXPECT_TRUE(child.exited && child.status == 0) << child.describe();
}

TEST(CrashReporterFrontEnd, LiveReports) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("live");
    ASSERT_TRUE(child.exited && child.status == 0) << child.describe();
    // Nothing of the temporary files is left.
    for (const auto& entry : fs::directory_iterator(child.home + "/tmp"))
        ADD_FAILURE() << "left behind: " << entry.path();
    EXPECT_FALSE(fs::exists(child.reportPath()));

    for (const char* name : {"live-own.vxcrash", "live-thread.vxcrash"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = crashtest::readFile(child.home + "/" + name);
        ASSERT_GT(bytes.size(), 8u);
        Vxcrash__CrashReport* raw = vxcrash__crash_report__unpack(nullptr, bytes.size() - 8, bytes.data() + 8);
        ASSERT_NE(raw, nullptr);
        ASSERT_NE(raw->report_info, nullptr);
        EXPECT_TRUE(raw->report_info->user_requested);
        vxcrash__crash_report__free_unpacked(raw, nullptr);

        auto report = decodeFile(child.home + "/" + name);
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->signalInfo()->name(), "SIGTRAP");
        EXPECT_EQ(report->signalInfo()->code(), "TRAP_TRACE");
        EXPECT_EQ(report->customData(), (std::vector<uint8_t>{'l', 'i', 'v', 'e'}));
        auto thread = crashedThread(*report);
        ASSERT_NE(thread, nullptr);
        if (std::string(name) == "live-own.vxcrash") {
            // The address is the caller's; the calling thread's own frames lead there.
            Range caller = rangeInChild(*report, reinterpret_cast<const void*>(&vxtest::liveCaller));
            EXPECT_TRUE(caller.contains(report->signalInfo()->address()));
            EXPECT_TRUE(anyFrameIn(thread->stackFrames(), caller)) << listing(thread->stackFrames());
        } else {
            EXPECT_TRUE(anyFrameIn(thread->stackFrames(),
                                   rangeInChild(*report, reinterpret_cast<const void*>(&vxtest::liveWaiter))))
                << listing(thread->stackFrames());
        }
    }
}

// Every frame after the first lies in one of the report's images.
std::string framesOutsideImages(const VXCrashReport& report, const VXCrashReportStackFrames& frames) {
    std::string outside;
    for (size_t i = 1; i < frames.size(); ++i) {
        uint64_t pc = frames[i]->instructionPointer();
        bool inside = false;
        for (const auto& image : report.images())
            inside = inside || (pc >= image->imageBaseAddress() && pc < image->imageBaseAddress() + image->imageSize());
        if (!inside) outside += " " + std::to_string(i);
    }
    return outside;
}

// A call through a null pointer or into data: the caller that made the call
// is the second frame, and nothing after it is garbage.
TEST(CrashReporterFrontEnd, ACallThroughABadPointerKeepsItsCaller) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    struct Case {
        const char* scenario;
        const void* caller;
        bool nullPc;
    };
    const Case cases[] = {
        {"null-call", reinterpret_cast<const void*>(&vxtest_call_null), true},
        {"data-call", reinterpret_cast<const void*>(&vxtest_call_data), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        Child child = runChild(c.scenario);
        ASSERT_FALSE(child.exited) << child.describe();
        EXPECT_EQ(child.status, SIGSEGV) << child.describe();
        auto report = decodeFile(child.reportPath());
        ASSERT_NE(report, nullptr);
        auto thread = crashedThread(*report);
        ASSERT_NE(thread, nullptr);
        const auto& frames = thread->stackFrames();
        ASSERT_GE(frames.size(), 3u) << listing(frames);
        if (c.nullPc) {
            EXPECT_EQ(frames[0]->instructionPointer(), 0u);
        }
        EXPECT_EQ(frames[0]->instructionPointer(), report->signalInfo()->address());
        EXPECT_TRUE(rangeInChild(*report, c.caller).contains(frames[1]->instructionPointer())) << listing(frames);
        EXPECT_EQ(framesOutsideImages(*report, frames), "") << listing(frames);
    }
}

// The callbacks run on the reporter's own stack: a thread with little stack
// and no alternate stack still gets its report.
TEST(CrashReporterFrontEnd, ACrashOnASmallStackIsReported) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("small-stack");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    EXPECT_TRUE(child.callbackRan(SIGSEGV));
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    auto thread = crashedThread(*report);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(anyFrameIn(thread->stackFrames(),
                           rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_null_dereference))))
        << listing(thread->stackFrames());

    // The writer's stack need, as measured by the post-crash callback.
    std::vector<uint8_t> used = crashtest::readFile(child.home + "/callback-" + std::to_string(SIGSEGV));
    size_t bytes = std::stoul(std::string(used.begin(), used.end()));
    RecordProperty("crash_stack_used", (int)bytes);
    EXPECT_GT(bytes, 0u);
    EXPECT_LT(bytes, VXCrashSignalHandler::kCrashStackSize / 2);
}

// Where a function of the test library lies in the child that wrote report.
Range libraryRangeInChild(const VXCrashReport& report, const char* name) {
    void* library = dlopen(VXTEST_LIBRARY_THREAD, RTLD_NOW | RTLD_LOCAL);
    void* function = library != nullptr ? dlsym(library, name) : nullptr;
    Dl_info info;
    void* entry = nullptr;
    if (function == nullptr || dladdr1(function, &info, &entry, RTLD_DL_SYMENT) == 0 || entry == nullptr) {
        ADD_FAILURE() << "no symbol " << name << " in " << VXTEST_LIBRARY_THREAD;
        return {};
    }
    for (const auto& image : report.images()) {
        if (image->imageName() != VXTEST_LIBRARY_THREAD) continue;
        uint64_t start = image->imageBaseAddress() + ((uintptr_t)info.dli_saddr - (uintptr_t)info.dli_fbase);
        return {start, start + static_cast<const ElfW(Sym)*>(entry)->st_size};
    }
    ADD_FAILURE() << "the test library is not among the report's images";
    return {};
}

// A stack overflow on a thread other than the one that enabled the reporter,
// frame for frame: a queue's thread (which has an alternate stack from the
// start), a plain std::thread, and a thread a library loaded with dlopen made.
TEST(CrashReporterFrontEnd, StackOverflowOnOtherThreadsIsReported) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    for (const char* scenario : {"queue-overflow", "thread-overflow", "library-thread-overflow"}) {
        SCOPED_TRACE(scenario);
        Child child = runChild(scenario);
        ASSERT_FALSE(child.exited) << child.describe();
        EXPECT_EQ(child.status, SIGSEGV) << child.describe();
        EXPECT_TRUE(child.callbackRan(SIGSEGV));
        auto report = decodeFile(child.reportPath());
        ASSERT_NE(report, nullptr);
        auto thread = crashedThread(*report);
        ASSERT_NE(thread, nullptr);
        EXPECT_EQ(report->threads()[0], thread);
        EXPECT_EQ(thread->stackFrames().size(), 512u);
        // The walk went deeper than the frames a thread keeps.
        EXPECT_TRUE(thread->framesTruncated());
        Range recurse = std::string(scenario) == "library-thread-overflow"
                            ? libraryRangeInChild(*report, "vxtest_library_recurse")
                            : rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_recurse));
        // Every frame is the recursion's, and after the first each is the
        // same return address.
        const auto& frames = thread->stackFrames();
        size_t inside = 0, repeated = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            inside += recurse.contains(frames[i]->instructionPointer()) ? 1 : 0;
            repeated += i >= 2 && frames[i]->instructionPointer() == frames[1]->instructionPointer() ? 1 : 0;
        }
        EXPECT_EQ(inside, 512u) << listing(frames);
        EXPECT_EQ(repeated, 510u) << listing(frames);
    }
}

TEST(CrashReporterFrontEnd, ThreadsStartedAfterEnablingHaveAnAlternateStackForTheirLife) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("thread-stacks");
    EXPECT_TRUE(child.exited && child.status == 0) << child.describe();
}

TEST(CrashReporterFrontEnd, TheCrashDirectoryIsMadeAgainWhenItWasRemoved) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("directory-gone");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    EXPECT_TRUE(child.callbackRan(SIGSEGV));
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    EXPECT_NE(crashedThread(*report), nullptr);
    EXPECT_TRUE(fs::is_directory(child.crashDirectory() + "/queued_reports"));
}

// A writer that dies part-way leaves the earlier report as it was.
TEST(CrashReporterFrontEnd, AWriterThatDiesLeavesTheEarlierReport) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("writer-dies");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGXFSZ) << child.describe();
    EXPECT_FALSE(child.callbackRan(SIGSEGV));
    EXPECT_EQ(crashtest::readFile(child.reportPath()), (std::vector<uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    // Its partial file is removed by the next enable once its process is gone.
    Child next = runChild("stale-temporary");
    EXPECT_TRUE(next.exited && next.status == 0) << next.describe();
}

TEST(CrashReporterFrontEnd, AForkedChildReportsItsOwnPidAndKeepsAPendingReport) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("fork");
    ASSERT_TRUE(child.exited && child.status == 0) << child.describe();
    auto pidIn = [&](const char* name) {
        std::vector<uint8_t> text = crashtest::readFile(child.home + "/" + name);
        return (uint64_t)std::stoul(std::string(text.begin(), text.end()));
    };

    auto first = decodeFile(child.home + "/first.vxcrash");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->processInfo()->processID(), pidIn("first-pid"));
    EXPECT_EQ(first->processInfo()->parentProcessID(), (uint64_t)child.pid);

    // The pending report stays; the second child's report is queued.
    EXPECT_EQ(crashtest::readFile(child.reportPath()), (std::vector<uint8_t>{'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
    uint64_t second = pidIn("second-pid");
    auto queued =
        decodeFile(child.crashDirectory() + "/queued_reports/live_report-" + std::to_string(second) + ".vxcrash");
    ASSERT_NE(queued, nullptr);
    EXPECT_EQ(queued->processInfo()->processID(), second);
    EXPECT_NE(queued->uuidRef(), first->uuidRef());
}

// More than the size limit's worth of frames: the report still decodes, the
// crashed thread comes first and whole, other threads are cut and marked.
TEST(CrashReporterFrontEnd, AReportLargerThanItsLimitKeepsTheCrashedThread) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("deep-threads");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    EXPECT_LE(fs::file_size(child.reportPath()), 256u * 1024u);
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    auto thread = crashedThread(*report);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(report->threads()[0], thread);
    EXPECT_FALSE(thread->framesTruncated());
    EXPECT_GT(thread->stackFrames().size(), 300u);
    EXPECT_TRUE(anyFrameIn(thread->stackFrames(),
                           rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_null_dereference))));
    EXPECT_EQ(report->threads().size(), 65u);
    size_t cut = 0;
    for (const auto& other : report->threads()) cut += other->framesTruncated() ? 1 : 0;
    EXPECT_GT(cut, 0u);
    EXPECT_FALSE(report->images().empty());
    EXPECT_EQ(report->customData(), (std::vector<uint8_t>{'b', 'e', 'f', 'o', 'r', 'e'}));
}

TEST(CrashReporterFrontEnd, TheCrashedThreadIsWrittenWhateverTheThreadCount) {
    SKIP_WHEN_SIGNALS_ARE_THE_SANITIZERS();
    Child child = runChild("many-threads");
    ASSERT_FALSE(child.exited) << child.describe();
    EXPECT_EQ(child.status, SIGSEGV) << child.describe();
    auto report = decodeFile(child.reportPath());
    ASSERT_NE(report, nullptr);
    auto thread = crashedThread(*report);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(report->threads()[0], thread);
    EXPECT_TRUE(anyFrameIn(thread->stackFrames(),
                           rangeInChild(*report, reinterpret_cast<const void*>(&vxtest_null_dereference))));
}

// --- no crash needed: these run in the test process ------------------------------

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        const char* old = getenv(name);
        m_saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// Reports an older version left in the cache directory move to the state
// directory once; a report already there is never replaced.
TEST(CrashReporterFrontEnd, ReportsInTheOldCacheDirectoryMoveToTheStateDirectory) {
    const std::string root = home() + "/upgrade";
    const std::string legacy = root + "/.cache/" + kIdentifier;
    const std::string current = root + "/.local/state/" + kIdentifier;
    fs::create_directories(legacy + "/queued_reports");
    writeFile(legacy + "/live_report.vxcrash", {'o', 'l', 'd'});
    writeFile(legacy + "/queued_reports/one.vxcrash", {'1'});
    ScopedEnvironment environment;
    environment.set("VEXIL_HOME", root.c_str());

    VXCrashReporter first(kIdentifier, "1", std::nullopt, VXCrashReporterConfig::defaultConfiguration());
    EXPECT_TRUE(first.hasPendingCrashReport());
    EXPECT_EQ(crashtest::readFile(current + "/live_report.vxcrash"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(crashtest::readFile(current + "/queued_reports/one.vxcrash"), (std::vector<uint8_t>{'1'}));
    EXPECT_FALSE(fs::exists(legacy));

    fs::create_directories(legacy);
    writeFile(legacy + "/live_report.vxcrash", {'x'});
    VXCrashReporter second(kIdentifier, "1", std::nullopt, VXCrashReporterConfig::defaultConfiguration());
    EXPECT_EQ(crashtest::readFile(current + "/live_report.vxcrash"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::exists(legacy + "/live_report.vxcrash")) << "kept for a later start";

    // A reporter with a directory of its own leaves the old place alone.
    VXCrashReporter based(kIdentifier, "1", std::nullopt,
                          std::make_shared<VXCrashReporterConfig>(0, 0, true, root + "/base"));
    EXPECT_TRUE(fs::exists(legacy + "/live_report.vxcrash"));
    EXPECT_FALSE(based.hasPendingCrashReport());
}

TEST(CrashReporterFrontEnd, PathsFollowTheStateDirectoryAndTheIdentifier) {
    struct Case {
        const char* vexilHome;
        const char* xdgHome;
        const char* expectedState;
        const char* expectedCache;
    };
    const Case cases[] = {
        {"/v", "/x", "/v/.local/state", "/v/.cache"},
        {nullptr, "/x", "/x", "/x"},
        {nullptr, "relative", "/h/.local/state", "/h/.cache"},  // XDG paths must be absolute
        {nullptr, nullptr, "/h/.local/state", "/h/.cache"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment environment;
        environment.set("VEXIL_HOME", c.vexilHome);
        environment.set("XDG_STATE_HOME", c.xdgHome);
        environment.set("XDG_CACHE_HOME", c.xdgHome);
        environment.set("HOME", "/h");
        EXPECT_EQ(vxcrash_user_state_directory(), c.expectedState);
        EXPECT_EQ(vxcrash_user_cache_directory(), c.expectedCache);
    }

    ScopedEnvironment environment;
    environment.set("VEXIL_HOME", "/v");
    const std::string directory = "/v/.local/state/com.tarnwick.vexil";
    VXCrashReporter plain("com.tarnwick.vexil", "1", std::nullopt, VXCrashReporterConfig::defaultConfiguration());
    EXPECT_EQ(plain.crashReportDirectory(), directory);
    EXPECT_EQ(plain.queuedCrashReportDirectory(), directory + "/queued_reports");
    EXPECT_EQ(plain.crashReportPath(), directory + "/live_report.vxcrash");

    VXCrashReporter slashed("group/app/name", "1", std::nullopt,
                            std::make_shared<VXCrashReporterConfig>(0, 0, true, "/base"));
    EXPECT_EQ(slashed.crashReportDirectory(), "/base/group_app_name");

    // A bundle without identifier or version falls back to the process name and "".
    VXCrashReporter unnamed(VXCrashReporterBundle{}, VXCrashReporterConfig::defaultConfiguration());
    EXPECT_EQ(unnamed.applicationIdentifier(), program_invocation_short_name);
    EXPECT_EQ(unnamed.applicationVersion(), "");
    EXPECT_FALSE(unnamed.applicationMarketingVersion().has_value());

    VXCrashReporter main;
    EXPECT_EQ(main.applicationIdentifier(), "com.tarnwick.vexil");
    EXPECT_TRUE(main.configuration()->shouldRegisterUncaughtExceptionHandler());
}

TEST(CrashReporterFrontEnd, PendingReportIsLoadedAndPurged) {
    auto config = std::make_shared<VXCrashReporterConfig>(0, 0, true, home() + "/pending-" + std::to_string(getpid()));
    VXCrashReporter reporter("com.tarnwick.vexil", "1", std::nullopt, config);
    fs::create_directories(reporter.crashReportDirectory());
    EXPECT_FALSE(reporter.hasPendingCrashReport());
    VXCrashReporterError error;
    EXPECT_FALSE(reporter.loadPendingCrashReportData(&error).has_value());
    EXPECT_EQ(error.code, ENOENT);

    writeFile(reporter.crashReportPath(), {'v', 'x', 1, 2, 3});
    EXPECT_TRUE(reporter.hasPendingCrashReport());
    EXPECT_EQ(reporter.loadPendingCrashReportData(), (std::vector<uint8_t>{'v', 'x', 1, 2, 3}));
    EXPECT_TRUE(reporter.purgePendingCrashReport());
    EXPECT_FALSE(reporter.hasPendingCrashReport());
    error = {};
    EXPECT_FALSE(reporter.purgePendingCrashReport(&error));
    EXPECT_EQ(error.domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(error.code, ENOENT);
    fs::remove_all(config->crashReportBaseDirectory());
}

TEST(CrashReporterFrontEnd, CallbacksOfAnotherVersionAreRefused) {
    VXCrashReporter reporter("com.tarnwick.vexil", "1", std::nullopt, VXCrashReporterConfig::defaultConfiguration());
    VXCrashReporterCallbacks callbacks = {1, nullptr, markCallback};
    VXCrashReporterError error;
    EXPECT_FALSE(reporter.setCrashCallbacks(&callbacks, &error));
    EXPECT_EQ(error.domain, "VXCrashReporterErrorDomain");
    EXPECT_EQ(error.localizedDescription, "Unsupported crash callbacks version 1");
    callbacks.version = 0;
    EXPECT_TRUE(reporter.setCrashCallbacks(&callbacks));
    EXPECT_TRUE(reporter.setCrashCallbacks(nullptr));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "--crash-child") == 0) return runCrashChild(argv[2]);
    if (argc == 3 && strcmp(argv[1], "--print-report") == 0) return printReport(argv[2]);
    vexil::test::prepareEnvironment();
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    vexil::test::finishEnvironment(result);
    return result;
}
