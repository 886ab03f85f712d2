#pragma once
// One line for a person who started the program from a launcher and will
// never see its standard error: a desktop notification through the session
// bus (org.freedesktop.Notifications), when a notification service answers.

#include <string>

namespace X11Display {

// True when the notification service took it.
bool notifyDesktop(const std::string& summary, const std::string& body);

}  // namespace X11Display
