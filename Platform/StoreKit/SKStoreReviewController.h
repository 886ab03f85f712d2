#pragma once
// The store's rating prompt. There is no store on this platform: a request
// is counted and handed to the installed presenter (none by default, so it
// shows nothing); nothing comes back to the caller.

#include <functional>

namespace StoreKit {

class SKStoreReviewController {
public:
    static void requestReview();
    // Replaces the presenter; an empty one shows nothing.
    static void setPresenter(std::function<void()> presenter);
    // Requests made since the process started or the last reset (tests).
    static int requestCount();
    static void resetForTests();
};

}  // namespace StoreKit
