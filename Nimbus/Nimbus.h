#pragma once
// The sync library's shared instance and its log routine. Every diagnostic
// text of the library goes through debugLog, which writes nothing.

#include <atomic>
#include <string_view>

namespace Nimbus {

class Nimbus {
public:
    static Nimbus& shared();
    // Kept for callers that set it; nothing is ever written either way.
    std::atomic<bool> enableLogging{true};

private:
    Nimbus() = default;
};

// Makes sure the shared instance exists, then discards the items.
template <class... Items>
void debugLog(const Items&...) {
    Nimbus::shared();
}

}  // namespace Nimbus
