#include "Platform/Foundation/FileWriting.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "Platform/Foundation/Dispatch.h"

namespace Foundation {
namespace {

std::atomic<unsigned long> temporaryCounter{0};

long writeErrorCode(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return 4;
        case EACCES:
        case EPERM:
        case EROFS:
            return 513;
        case ENOSPC:
        case EDQUOT:
            return 640;
        default:
            return kFileWriteUnknownError;
    }
}

}  // namespace

bool writeAllBytes(int fd, const void* bytes, std::size_t size) {
    const auto* data = static_cast<const char*>(bytes);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, Error* error, unsigned mode) {
    // A name of our own (O_EXCL), so two writers never share a temporary file.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++temporaryCounter);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
        if (fd < 0 && errno != EEXIST) break;
    }
    int err = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (!writeAllBytes(fd, bytes.data(), bytes.size()) || ::fsync(fd) != 0) err = errno;
        if (::close(fd) != 0 && !err) err = errno;
        if (!err && ::rename(temporary.c_str(), path.c_str()) != 0) err = errno;
        if (err) ::unlink(temporary.c_str());
    }
    if (!err) return true;
    reportError(error, makeError(kCocoaErrorDomain, writeErrorCode(err),
                                 "The file could not be saved at '" + path + "': " + std::strerror(err) + ".",
                                 Dictionary{{"NSFilePath", path}}));
    return false;
}

std::optional<std::string> setFileAside(const std::string& path, const std::vector<std::string>& companionSuffixes) {
    if (path.empty() || ::access(path.c_str(), F_OK) != 0) return std::nullopt;
    const std::time_t seconds = static_cast<std::time_t>(clock().now());
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &parts);
    const std::string stem = path + ".damaged-" + stamp;
    for (int n = 1; n < 10000; ++n) {
        const std::string target = n == 1 ? stem : stem + "-" + std::to_string(n);
        // No-replace rename: a name taken meanwhile is never overwritten.
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            for (const auto& suffix : companionSuffixes) {
                const std::string companion = path + suffix;
                if (::access(companion.c_str(), F_OK) == 0)
                    ::renameat2(AT_FDCWD, companion.c_str(), AT_FDCWD, (target + suffix).c_str(), RENAME_NOREPLACE);
            }
            return target;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace Foundation
