// Alternate signal stacks for every thread the process starts.
//
// A stack overflow can only be reported when the kernel has somewhere else to
// put the signal frame. Programs that link VXCrashReporter through its CMake
// target get a pthread_create of the reporter's own in the executable (the
// target's link options pull it in and export it), which every caller in the
// process reaches: the executable, the libraries it links, libraries loaded
// later with dlopen, and std::thread. Once the reporter is enabled, each new
// thread first gets a 64 KiB alternate stack (unless its own code gives it
// one later, which then replaces ours), unmapped when the thread ends,
// whether it returns or calls pthread_exit.
//
// Not reached: threads that already existed when the reporter was enabled
// (they keep whatever alternate stack they had: none unless they asked, so an
// overflow there still goes unreported), threads made before enabling, and
// threads a library makes without calling pthread_create (raw clone).
#pragma once

#include <cstddef>

// From now on every new thread gets an alternate stack. Idempotent; not
// async-safe. Called by the signal handler's first registration.
void vxcrash_thread_stacks_enable();
bool vxcrash_thread_stacks_enabled();

// Gives the calling thread an alternate stack of size bytes unless it has
// one; the stack is unmapped when the thread ends (when thread stacks are
// enabled; otherwise it stays for the process's life). false, with errno
// set, when none could be made.
bool vxcrash_thread_stack_install(size_t size);

// Whether the process's pthread_create is the reporter's (false when the
// executable was linked without the target's link options).
bool vxcrash_thread_stacks_interposed();
