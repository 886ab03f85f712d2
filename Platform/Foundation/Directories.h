#pragma once
// Per-user directories following XDG, all below VEXIL_HOME when it is set
// (tests always set it). Each call reads the environment again and creates the
// directory when missing. The home is $HOME, else the password database's.

#include <string>

namespace Foundation {

// $VEXIL_HOME/.local/share or $XDG_DATA_HOME or ~/.local/share, then the bundle identifier.
std::string applicationSupportDirectory();
// $VEXIL_HOME/.cache or $XDG_CACHE_HOME or ~/.cache (not per application).
std::string cachesDirectory();
// $VEXIL_HOME/Documents or ~/Documents.
std::string documentsDirectory();
// $VEXIL_HOME/.config or $XDG_CONFIG_HOME or ~/.config, then the bundle identifier.
std::string preferencesDirectory();
// A fresh directory for temporary files ("vexil-XXXXXX", made by mkdtemp)
// below $VEXIL_HOME/tmp, else $TMPDIR, else /tmp.
std::string temporaryDirectory();

}  // namespace Foundation
