#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVCrashesUtil.h"

#include <mutex>

#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"

namespace {

struct DirectoryGuard {
    const char* component;
    bool created = false;
};

std::mutex& guardLock() {
    static std::mutex lock;
    return lock;
}

DirectoryGuard gCrashes{"crashes"};
DirectoryGuard gLogBuffer{"crasheslogbuffer"};
DirectoryGuard gWrapperExceptions{"crasheswrapperexceptions"};

std::string directory(DirectoryGuard& guard) {
    std::lock_guard<std::mutex> lock(guardLock());
    if (!guard.created) {
        DAVUtility::createDirectoryForPathComponent(std::string(guard.component));
        guard.created = true;
    }
    return guard.component;
}

}  // namespace

std::string DAVCrashesUtil::crashesDir() { return directory(gCrashes); }
std::string DAVCrashesUtil::logBufferDir() { return directory(gLogBuffer); }
std::string DAVCrashesUtil::wrapperExceptionsDir() { return directory(gWrapperExceptions); }

void DAVCrashesUtil::resetDirectory() {
    std::lock_guard<std::mutex> lock(guardLock());
    gCrashes.created = gLogBuffer.created = gWrapperExceptions.created = false;
}
