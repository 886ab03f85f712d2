#pragma once
// Golden-picture checks. A snapshot lives in the source tree below tests/
// ("Platform/CoreGraphics/snapshots/menu.png"). On a mismatch the actual
// picture is written beside it as "<name>.actual.png" for a person to look
// at; with VEXIL_UPDATE_SNAPSHOTS=1 the golden picture is (re)written instead.

#include <gtest/gtest.h>

#include <string>

#include "Platform/CoreGraphics/Drawing.h"

namespace TestSupport {

// `goldenPath` is relative to tests/. The tolerance is per channel, a
// fraction of the full range.
::testing::AssertionResult matchesSnapshot(const CoreGraphics::Image& actual, const std::string& goldenPath,
                                           double tolerance = 0.25);

}  // namespace TestSupport
