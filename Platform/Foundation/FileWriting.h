#pragma once
// Whole-file writes that never leave a half-written file at the path: the
// bytes go to a new temporary file beside it, are flushed to disk, and the
// temporary file is renamed over the path.

#include <cstddef>
#include <string>
#include <string_view>

#include "Platform/Foundation/Error.h"

namespace Foundation {

// False, with an NSCocoaErrorDomain error (4 no such folder, 513 no
// permission, 640 out of space, 512 otherwise; "NSFilePath" in its userInfo),
// when the file cannot be written; whatever was at the path is then unchanged
// and no temporary file is left behind.
bool writeFileAtomically(const std::string& path, std::string_view bytes, Error* error = nullptr);

// Writes every byte to the descriptor, resuming after interruptions and short
// writes; false with errno set (EIO when nothing could be written).
bool writeAllBytes(int fd, const void* bytes, std::size_t size);

}  // namespace Foundation
