#include "picker/Shell/ReviewPrompt.h"

#include <cmath>
#include <limits>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/StoreKit/SKStoreReviewController.h"

namespace {
constexpr const char* kCountKey = "APP_OPENED_COUNT";
constexpr const char* kLastVersionKey = "LAST_REVIWED_APP_VERSION";
constexpr const char* kReviewedKey = "APP_REVIEWD";

bool qualifies(std::int64_t count) { return count == 10 || count == 50 || (count > 0 && count % 100 == 0); }
}  // namespace

std::optional<std::int64_t> storedAppOpenedCount() {
    auto value = Foundation::UserDefaults::standard().objectForKey(kCountKey);
    if (value.isInt()) return value.asInt();
    if (value.isDouble()) {
        const double d = value.asDouble();
        // 2^63 itself is out of range; every double below it converts exactly.
        if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

void incrementAppOpenedCount() {
    auto count = storedAppOpenedCount();
    std::int64_t n = 1;
    if (count) n = *count == std::numeric_limits<std::int64_t>::max() ? *count : *count + 1;
    Foundation::UserDefaults::standard().set(kCountKey, n);
}

void requestReviewIfNeeded() {
    auto& defaults = Foundation::UserDefaults::standard();
    auto count = storedAppOpenedCount();
    if (!count) {
        defaults.set(kCountKey, std::int64_t{1});
        return;
    }
    auto version = Foundation::Bundle::main().objectForInfoDictionaryKey("CFBundleVersion");
    if (!version.isString()) return;
    if (defaults.stringForKey(kLastVersionKey) == version.asString()) return;
    if (!qualifies(*count)) return;
    defaults.set(kLastVersionKey, version.asString());
    defaults.set(kReviewedKey, true);
    defaults.synchronize();
    StoreKit::SKStoreReviewController::requestReview();
}
