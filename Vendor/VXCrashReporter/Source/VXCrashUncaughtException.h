// Uncaught C++ exceptions: the process-wide uncaught-exception handler slot
// and the terminate hook that feeds it.
//
// The first handler set installs a terminate hook (std::set_terminate, the
// hook it replaces kept). When std::terminate runs with an exception in
// flight, the hook describes the exception (its demangled type, what() for a
// std::exception, the return addresses of the stack walked with the crash
// reporter's own frame cursor, which still holds the throw site), calls the
// handler in the slot, then the replaced terminate hook, then aborts. Without
// an exception in flight the replaced hook runs alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct VXCrashUncaughtException {
    std::string name;    // "std::runtime_error"
    std::string reason;  // what(), empty for other types
    std::vector<uint64_t> callStackReturnAddresses;
};

typedef void (*VXCrashUncaughtExceptionHandler)(const VXCrashUncaughtException &exception);

void vxcrash_set_uncaught_exception_handler(VXCrashUncaughtExceptionHandler handler);
VXCrashUncaughtExceptionHandler vxcrash_get_uncaught_exception_handler();

// Describes the exception in flight (false when there is none). Used by the hook.
bool vxcrash_describe_current_exception(VXCrashUncaughtException *exception);
