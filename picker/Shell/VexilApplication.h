#pragma once
// The application as `vexil` runs it: the command line, then the main
// interface (the application delegate with its status menu) made the
// application's delegate, launched, and the main run loop until Quit or a
// termination signal.

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "picker/Shell/AppDelegate.h"

namespace vexil {

std::string usageText();
// "Vexil <short version> (<build>)".
std::string versionText();

// "--help" and "--version" answer on `out` and give 0; an unknown argument
// prints usage on `err` and gives 2; nothing (no arguments) means run.
std::optional<int> handleCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// Makes the delegate the application's and finishes launching (the launch
// steps run in their order). The delegate is held by the application.
void launchApplication(const std::shared_ptr<AppDelegate>& delegate);

// The whole run: launch, then the main run loop until the application
// terminates (Quit, SIGINT, SIGTERM). Returns the exit status.
int runApplication();

}  // namespace vexil
