#pragma once
// The windows' usage events: sent through the analytics service; an
// observer (tests, the tour) may listen in as well.

#include <functional>
#include <string>

void trackUsageEvent(const std::string& name);
// Replaces the observer; an empty one removes it.
void setUsageEventObserver(std::function<void(const std::string&)> observer);
