#include "Vendor/VXCrashReporter/Source/VXCrashUncaughtException.h"

#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSharedImageList.h"

#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <mutex>
#include <typeinfo>

namespace {

std::atomic<VXCrashUncaughtExceptionHandler> g_handler{nullptr};
std::terminate_handler g_previousTerminate = nullptr;
std::once_flag g_hookOnce;
std::atomic<bool> g_inHook{false};

struct WalkContext {
    std::vector<uint64_t> *addresses;
};

vxcrash_error_t walk(vxcrash_async_thread_state_t *state, void *context) {
    auto *walk = static_cast<WalkContext *>(context);
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    vxcrash_async_frame_cursor_t cursor;
    vxcrash_async_frame_cursor_init(&cursor, &task, state, vxcrash_shared_image_list());
    // The first frame is this capture itself.
    bool first = true;
    while (walk->addresses->size() < VXCRASH_WRITER_MAX_FRAMES &&
           vxcrash_async_frame_cursor_next(&cursor) == VXCRASH_FRAME_ESUCCESS) {
        uint64_t pc;
        if (vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc) != VXCRASH_FRAME_ESUCCESS) break;
        if (!first) walk->addresses->push_back(pc);
        first = false;
    }
    vxcrash_async_frame_cursor_free(&cursor);
    return VXCRASH_ESUCCESS;
}

[[noreturn]] void terminate_hook() {
    bool expected = false;
    if (g_inHook.compare_exchange_strong(expected, true)) {
        VXCrashUncaughtException exception;
        VXCrashUncaughtExceptionHandler handler = g_handler.load();
        if (handler != nullptr && vxcrash_describe_current_exception(&exception)) handler(exception);
        if (g_previousTerminate != nullptr) g_previousTerminate();
    }
    abort();
}

}  // namespace

bool vxcrash_describe_current_exception(VXCrashUncaughtException *exception) {
    std::exception_ptr current = std::current_exception();
    if (!current) return false;

    const std::type_info *type = abi::__cxa_current_exception_type();
    exception->name = type != nullptr ? type->name() : "unknown";
    if (type != nullptr) {
        int status = 0;
        char *demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
        if (status == 0 && demangled != nullptr) exception->name = demangled;
        free(demangled);
    }
    exception->reason.clear();
    try {
        std::rethrow_exception(current);
    } catch (const std::exception &e) {
        exception->reason = e.what();
    } catch (...) {}

    exception->callStackReturnAddresses.clear();
    exception->callStackReturnAddresses.reserve(64);
    WalkContext context{&exception->callStackReturnAddresses};
    vxcrash_async_thread_state_current(walk, &context);
    return true;
}

void vxcrash_set_uncaught_exception_handler(VXCrashUncaughtExceptionHandler handler) {
    g_handler.store(handler);
    std::call_once(g_hookOnce, [] { g_previousTerminate = std::set_terminate(terminate_hook); });
}

VXCrashUncaughtExceptionHandler vxcrash_get_uncaught_exception_handler() { return g_handler.load(); }
