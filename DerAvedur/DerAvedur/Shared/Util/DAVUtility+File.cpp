#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileWriting.h"
#include "Platform/Foundation/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDirectoryName = "com.vaveruvav.deravedur";
// The freedesktop attribute that backup tools read.
constexpr const char* kBackupAttribute = "user.xdg.robots.backup";

std::mutex& fileLock() {
    static std::mutex lock;
    return lock;
}

bool writeAll(int fd, const Foundation::Data& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeFile(const std::string& path, const Foundation::Data& data, bool atomically) {
    if (!atomically) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return false;
        bool ok = writeAll(fd, data);
        ok = (::close(fd) == 0) && ok;
        return ok;
    }
    return Foundation::writeFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), nullptr, 0644);
}

}  // namespace

const std::string& DAVUtility::sdkDirectory() {
    static Foundation::OnceFlag flag;
    static std::string directory;
    Foundation::once(flag, [] { directory = Foundation::applicationSupportDirectory() + "/" + kDirectoryName; });
    return directory;
}

namespace {

// The caller holds fileLock().
bool createDirectoryLocked(const std::string& path) {
    std::error_code error;
    fs::create_directories(path, error);
    if (error || !fs::is_directory(path)) {
        std::string reason = error ? error.message() : "not a directory";
        DAVLogError(kDAVDerAvedurLogTag, "Couldn't create directory at %s: %s", path.c_str(), reason.c_str());
        return false;
    }
    if (::setxattr(path.c_str(), kBackupAttribute, "false", 5, 0) != 0 && errno != ENOTSUP && errno != EOPNOTSUPP) {
        DAVLogError(kDAVDerAvedurLogTag, "Error excluding %s from iCloud backup %s", path.c_str(),
                    std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

bool DAVUtility::createDirectoryAtURL(const std::string& path) {
    std::lock_guard<std::mutex> guard(fileLock());
    return createDirectoryLocked(path);
}

std::optional<std::string> DAVUtility::fullURLForPathComponent(const std::optional<std::string>& component) {
    if (!component) return std::nullopt;
    return sdkDirectory() + "/" + *component;
}

bool DAVUtility::fileExistsForPathComponent(const std::optional<std::string>& component) {
    auto path = fullURLForPathComponent(component);
    if (!path) return false;
    std::error_code error;
    return fs::exists(*path, error);
}

std::optional<std::string> DAVUtility::createFileAtPathComponent(const std::optional<std::string>& component,
                                                                 const std::optional<Foundation::Data>& data,
                                                                 bool atomically, bool forceOverwrite) {
    if (!component) return std::nullopt;
    std::lock_guard<std::mutex> guard(fileLock());
    std::string path = *fullURLForPathComponent(component);
    std::error_code error;
    if (forceOverwrite || !fs::exists(path, error)) {
        createDirectoryLocked(fs::path(path).parent_path().string());
        if (!writeFile(path, data ? *data : Foundation::Data(), atomically)) {
            DAVLogError(kDAVDerAvedurLogTag, "Couldn't create new file at path %s", path.c_str());
            return std::nullopt;
        }
    }
    return path;
}

bool DAVUtility::deleteFileAtURL(const std::optional<std::string>& path) {
    if (!path) return false;
    std::lock_guard<std::mutex> guard(fileLock());
    std::error_code error;
    std::uintmax_t removed = fs::remove_all(*path, error);
    if (error || removed == 0) {
        std::string reason = error ? error.message() : "No such file or directory";
        DAVLogDebug(kDAVDerAvedurLogTag, "Couldn't remove item at %s: %s", path->c_str(), reason.c_str());
        return false;
    }
    return true;
}

bool DAVUtility::deleteItemForPathComponent(const std::optional<std::string>& component) {
    if (!component) return false;
    return deleteFileAtURL(fullURLForPathComponent(component));
}

std::optional<std::string> DAVUtility::createDirectoryForPathComponent(const std::optional<std::string>& component) {
    if (!component) return std::nullopt;
    std::lock_guard<std::mutex> guard(fileLock());
    std::string path = *fullURLForPathComponent(component);
    if (!createDirectoryLocked(path)) return std::nullopt;
    return path;
}

std::optional<Foundation::Data> DAVUtility::loadDataForPathComponent(const std::optional<std::string>& component) {
    if (!component) return std::nullopt;
    std::lock_guard<std::mutex> guard(fileLock());
    std::string path = *fullURLForPathComponent(component);
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Foundation::Data data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}

std::optional<std::vector<std::string>> DAVUtility::contentsOfDirectory(const std::optional<std::string>& component) {
    if (!component || component->empty()) return std::nullopt;
    std::lock_guard<std::mutex> guard(fileLock());
    std::string path = *fullURLForPathComponent(component);
    std::error_code error;
    std::vector<std::string> entries;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path().string());
    if (error) {
        DAVLogDebug(kDAVDerAvedurLogTag, "Couldn't get files in the directory \"%s\": %s", component->c_str(),
                    error.message().c_str());
        return std::nullopt;
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}
