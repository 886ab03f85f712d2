// Parking every other thread of the process while a report is written.
//
// The threads are listed from /proc/self/task with raw system calls into a
// table made in advance. Each is sent a reserved real-time signal whose
// handler saves the thread's context into its slot, acknowledges and waits
// on a futex until the session ends. The caller waits a bounded time for
// the acknowledgements; a thread that does not answer stays in the table
// without a state (it is reported by number only).
//
// One session runs at a time. Everything from begin to end is async-safe;
// prepare is not.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadState.h"

constexpr size_t VXCRASH_THREAD_LIST_CAPACITY = 1024;

enum vxcrash_async_parked_state_t : uint32_t {
    VXCRASH_THREAD_LISTED = 0,     // not signalled (yet)
    VXCRASH_THREAD_SELF = 1,       // the thread running the session
    VXCRASH_THREAD_SIGNALLED = 2,  // signal sent, no answer yet
    VXCRASH_THREAD_SAVING = 3,     // its handler is saving the context
    VXCRASH_THREAD_PARKED = 4,     // context saved, waiting in its handler
    VXCRASH_THREAD_NO_ANSWER = 5,  // did not answer in time
    VXCRASH_THREAD_GONE = 6,       // exited before it could be signalled
};

struct vxcrash_async_thread_entry_t {
    pid_t tid;
    vxcrash_async_parked_state_t state;
    const vxcrash_async_thread_state_t *thread_state;  // set when parked
};

// Installs the handler of the reserved signal (once per process).
vxcrash_error_t vxcrash_async_thread_parking_prepare();
int vxcrash_async_thread_parking_signal();

// How long a session waits for the acknowledgements (default 500 ms).
void vxcrash_async_thread_parking_set_timeout_ms(uint32_t milliseconds);

// Where threads are listed from; "/proc/self/task" unless changed (tests use a
// missing directory to see a failed listing).
void vxcrash_async_thread_parking_set_task_directory(const char *path);

// Starts a session: lists and parks every thread but the caller. The caller
// and first (a thread id, when not 0) are listed first, so they are in the
// table even when the process has more threads than it holds.
// VXCRASH_EINTERNAL when the thread list cannot be read (no session is then
// running and end must not be called); VXCRASH_EACCESS when another session
// holds the table past a bounded wait.
vxcrash_error_t vxcrash_async_thread_parking_begin(pid_t first = 0);

// The session's threads in listing order (the caller included, as SELF).
size_t vxcrash_async_thread_parking_count();
bool vxcrash_async_thread_parking_entry(size_t index, vxcrash_async_thread_entry_t *entry);

// The saved state of a parked thread of the running session.
bool vxcrash_async_thread_parking_get_state(pid_t tid, vxcrash_async_thread_state_t *state);

// Lets every parked thread go and ends the session.
void vxcrash_async_thread_parking_end();
