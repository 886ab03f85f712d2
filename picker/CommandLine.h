#pragma once
// The application's own command-line options (--help, --version).

namespace vexil {

// Handles the options; -1 when the application should go on starting, else
// the exit status (0 after --help/--version, 2 for a usage error).
int handleCommandLine(int argc, char** argv);

// 0 when the bundle's resources are where the application looks; else says
// where it looked and how to point it elsewhere, and answers 1.
int checkResources();

}  // namespace vexil
