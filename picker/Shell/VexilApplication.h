#pragma once
// The application as `vexil` runs it once its command line has been read:
// the main interface (the application delegate with its status menu) made the
// application's delegate, launched, and the main run loop until Quit or a
// termination signal.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "picker/Shell/AppDelegate.h"

namespace vexil {

// Makes the delegate the application's and finishes launching (the launch
// steps run in their order). The delegate is held by the application.
void launchApplication(const std::shared_ptr<AppDelegate>& delegate);

// The lock file beside the library that one running copy per home holds.
inline constexpr const char* kInstanceLockName = "vexil.lock";

// The whole run: launch, then the main run loop until the application
// terminates (Quit, SIGINT, SIGTERM, SIGHUP). Returns the exit status: 0, also
// when another copy already runs on this home; 1 without a display.
int runApplication();

}  // namespace vexil
