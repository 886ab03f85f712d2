#include "Platform/StoreKit/SKStoreReviewController.h"

#include <atomic>
#include <mutex>

namespace StoreKit {
namespace {
std::mutex gMutex;
std::function<void()> gPresenter;
std::atomic<int> gRequests{0};
}  // namespace

void SKStoreReviewController::requestReview() {
    ++gRequests;
    std::function<void()> presenter;
    {
        std::lock_guard lock(gMutex);
        presenter = gPresenter;
    }
    if (presenter) presenter();
}

void SKStoreReviewController::setPresenter(std::function<void()> presenter) {
    std::lock_guard lock(gMutex);
    gPresenter = std::move(presenter);
}

int SKStoreReviewController::requestCount() { return gRequests.load(); }

void SKStoreReviewController::resetForTests() {
    gRequests = 0;
    setPresenter(nullptr);
}

}  // namespace StoreKit
