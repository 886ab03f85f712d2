#pragma once
// The rating prompt after a number of picked colours, at most once per build.
// The count lives under "APP_OPENED_COUNT" (it counts picks, not launches);
// "LAST_REVIWED_APP_VERSION" and "APP_REVIEWD" record the last request.

#include <cstdint>
#include <optional>

// Adds one picked colour to the count (1 when there was none). Only an
// integral number counts as a stored count; text or anything else restarts
// it at 1. The count stops at the largest integer.
void incrementAppOpenedCount();

// Asks for a review when the count is 10, 50 or a positive multiple of 100
// and no request was made for this build version.
void requestReviewIfNeeded();

// The stored count when it is an integral number.
std::optional<std::int64_t> storedAppOpenedCount();
