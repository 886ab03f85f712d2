#pragma once
// Per-user directories following XDG, all below VEXIL_HOME when it is set
// (tests always set it). Each call reads the environment again and creates the
// directory when missing. The home is $HOME, else the password database's.

#include <string>

namespace Foundation {

// $VEXIL_HOME/.local/share or $XDG_DATA_HOME or ~/.local/share, then "vexil".
// What older versions kept below the bundle identifier there moves over once.
std::string applicationSupportDirectory();
// $VEXIL_HOME/.cache or $XDG_CACHE_HOME or ~/.cache, then "vexil".
std::string cachesDirectory();
// The base of the two above without the application's folder, not created:
// where older versions kept files of their own ("CloudKit" in the cache base).
std::string sharedCachesBase();
// $VEXIL_HOME or the user's home, not created.
std::string homeDirectory();
// $VEXIL_HOME/.config or $XDG_CONFIG_HOME or ~/.config, then the bundle identifier.
std::string preferencesDirectory();
// A fresh directory for temporary files ("vexil-XXXXXX", made by mkdtemp)
// below $VEXIL_HOME/tmp, else $TMPDIR, else /tmp.
std::string temporaryDirectory();

// Moves what an older version kept in `from` into `to` (both folders): `to`
// is made when missing; an entry whose name `to` already holds stays in
// `from`, never overwriting; `from` is removed once empty. Nothing is lost
// when a move fails half-way: a copy across file systems removes its source
// only after it completed. Without `from`, nothing happens.
void moveOldFolder(const std::string& from, const std::string& to);

}  // namespace Foundation
