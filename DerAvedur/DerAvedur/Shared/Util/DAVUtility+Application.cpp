#include <unistd.h>

#include <mutex>

#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Dispatch.h"

namespace {

std::mutex& providerLock() {
    static std::mutex lock;
    return lock;
}

std::function<bool()>& hiddenProvider() {
    static std::function<bool()> provider;
    return provider;
}

std::string executablePath() {
    char buffer[4096];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace

int DAVUtility::currentAppEnvironment() { return 99; }

bool DAVUtility::hasEmbeddedMobileProvision() {
    return Foundation::Bundle::main().pathForResource("embedded", "mobileprovision").has_value();
}

// This platform has no store receipt, so the bundle has no receipt URL.
bool DAVUtility::isAppStoreReceiptSandbox() { return false; }

int DAVUtility::applicationState() {
    if (executablePath().find(".appex/") != std::string::npos) return 3;
    if (!Foundation::DispatchQueue::isMainThread()) return 3;
    std::function<bool()> provider;
    {
        std::lock_guard<std::mutex> guard(providerLock());
        provider = hiddenProvider();
    }
    return provider && provider() ? 2 : 0;
}

void DAVUtility::setApplicationHiddenProvider(std::function<bool()> provider) {
    std::lock_guard<std::mutex> guard(providerLock());
    hiddenProvider() = std::move(provider);
}
