#pragma once

#include <cstddef>

namespace Foundation {

// Gives the calling thread an alternate signal stack for as long as the
// scope lives, unless it already has one. A crash handler runs on it, so a
// stack overflow on any thread we start can still be reported: the kernel
// has nowhere else to put the signal frame. Every thread the project starts
// opens one of these first.
class ThreadSignalStack {
public:
    // Room for the kernel's signal frame and a handler that moves on to a
    // stack of its own (the crash reporter's does).
    static constexpr std::size_t kSize = 64 * 1024;

    ThreadSignalStack();
    ~ThreadSignalStack();
    ThreadSignalStack(const ThreadSignalStack&) = delete;
    ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

    // Whether the calling thread has an alternate signal stack now.
    static bool active();

private:
    void* mapping_ = nullptr;  // ours to remove; nullptr when the thread had one
    std::size_t length_ = 0;
};

}  // namespace Foundation
