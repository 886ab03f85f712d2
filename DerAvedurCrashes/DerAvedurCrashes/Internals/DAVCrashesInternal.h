// What the crashes service's source files share: the once-per-process guard
// of delayed processing (reset with the shared instance) and the reader of the
// service's flags in the user defaults. Private to the service.
#pragma once

#include <mutex>

namespace DAVCrashesInternal {

// Delayed processing runs once per process (until the shared instance is reset).
std::mutex& processingGuardLock();
extern bool gDelayedProcessingRan;

bool boolForKey(const char* key);

}  // namespace DAVCrashesInternal
