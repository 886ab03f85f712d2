#pragma once
// Whole-file writes that never leave a half-written file at the path: the
// bytes go to a new temporary file beside it, are flushed to disk, and the
// temporary file is renamed over the path.

#include <cstddef>
#include <string>
#include <optional>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Error.h"

namespace Foundation {

// False, with an NSCocoaErrorDomain error (4 no such folder, 513 no
// permission, 640 out of space, 512 otherwise; "NSFilePath" in its userInfo),
// when the file cannot be written; whatever was at the path is then unchanged
// and no temporary file is left behind. `mode` is the new file's permission
// bits (before the umask).
bool writeFileAtomically(const std::string& path, std::string_view bytes, Error* error = nullptr, unsigned mode = 0666);

// Writes every byte to the descriptor, resuming after interruptions and short
// writes; false with errno set (EIO when nothing could be written).
bool writeAllBytes(int fd, const void* bytes, std::size_t size);

// Moves a damaged file out of the way as "<path>.damaged-<yyyyMMdd-HHmmss>"
// (UTC, from the program's clock), adding "-2", "-3"... so an earlier kept
// copy is never replaced; files named `<path><suffix>` for each companion
// suffix (a database's journals) move along with it. The new path, or
// nothing when there is no file or it cannot be moved.
std::optional<std::string> setFileAside(const std::string& path,
                                        const std::vector<std::string>& companionSuffixes = {});

}  // namespace Foundation
