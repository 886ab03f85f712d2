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

// The whole run: launch, then the main run loop until the application
// terminates (Quit, SIGINT, SIGTERM). Returns the exit status.
int runApplication();

}  // namespace vexil
