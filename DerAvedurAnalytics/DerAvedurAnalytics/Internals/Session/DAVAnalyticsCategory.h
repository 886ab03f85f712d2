#pragma once
// The page shown before the analytics service could track it. There are no
// runtime page hooks here: the shell reports the page it shows, and the
// service replays it once when it is enabled with automatic page tracking.

#include <string>

class DAVAnalyticsCategory {
public:
    // Empty when no page is waiting.
    static std::string missedPageViewName();
    static void setMissedPageViewName(std::string name);
};
