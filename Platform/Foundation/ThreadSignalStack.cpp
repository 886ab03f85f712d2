#include "Platform/Foundation/ThreadSignalStack.h"

#include <csignal>
#include <sys/mman.h>
#include <unistd.h>

namespace Foundation {

ThreadSignalStack::ThreadSignalStack() {
    if (active()) return;
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t length = kSize + page;
    void* memory = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return;  // the thread runs on without one
    // A guard page below: a handler that overflows faults instead of writing past.
    mprotect(memory, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(memory) + page;
    stack.ss_size = kSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, length);
        return;
    }
    mapping_ = memory;
    length_ = length;
}

ThreadSignalStack::~ThreadSignalStack() {
    if (mapping_ == nullptr) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    // Still in use only if a handler is running on it, which cannot end here.
    if (sigaltstack(&off, nullptr) == 0) munmap(mapping_, length_);
}

bool ThreadSignalStack::active() {
    stack_t current{};
    return sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0;
}

}  // namespace Foundation
