#include "Platform/Foundation/Directories.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "Platform/Foundation/Bundle.h"

namespace Foundation {
namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string vexilHome() { return environment("VEXIL_HOME"); }

std::string userHome() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

// XDG: a relative value of the variable is ignored.
std::string xdg(const char* variable, const char* fallbackBelowHome) {
    std::string value = environment(variable);
    if (!value.empty() && value.front() == '/') return value;
    return userHome() + "/" + fallbackBelowHome;
}

constexpr const char* kApplicationFolder = "vexil";

std::string ensured(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return path;
}

}  // namespace

std::string homeDirectory() {
    std::string home = vexilHome();
    return home.empty() ? userHome() : home;
}

std::string applicationSupportDirectory() {
    std::string home = vexilHome();
    std::string base = home.empty() ? xdg("XDG_DATA_HOME", ".local/share") : home + "/.local/share";
    const std::string directory = base + "/" + kApplicationFolder;
    // Older versions named the folder after the bundle identifier.
    moveOldFolder(base + "/" + Bundle::main().bundleIdentifier(), directory);
    return ensured(directory);
}

std::string sharedCachesBase() {
    std::string home = vexilHome();
    return home.empty() ? xdg("XDG_CACHE_HOME", ".cache") : home + "/.cache";
}

std::string cachesDirectory() { return ensured(sharedCachesBase() + "/" + kApplicationFolder); }

std::string preferencesDirectory() {
    std::string home = vexilHome();
    std::string base = home.empty() ? xdg("XDG_CONFIG_HOME", ".config") : home + "/.config";
    return ensured(base + "/" + Bundle::main().bundleIdentifier());
}

std::string temporaryDirectory() {
    std::string home = vexilHome();
    std::string base = home.empty() ? environment("TMPDIR") : home + "/tmp";
    if (base.empty()) base = "/tmp";
    ensured(base);
    std::string pattern = base + "/vexil-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) return ensured(base);
    return std::string(buffer.data());
}

void moveOldFolder(const std::string& from, const std::string& to) {
    std::error_code ec;
    const fs::path source(from), target(to);
    if (!fs::is_directory(source, ec)) return;  // a link to a folder moves as the link
    if (!fs::exists(fs::symlink_status(target, ec))) {
        fs::create_directories(target.parent_path(), ec);
        fs::rename(source, target, ec);
        if (!ec) return;
    }
    fs::create_directories(target, ec);
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    for (const auto& entry : entries) {
        const fs::path destination = target / entry.filename();
        std::error_code exists;
        if (fs::exists(fs::symlink_status(destination, exists))) continue;  // never overwritten
        std::error_code moved;
        fs::rename(entry, destination, moved);
        if (!moved) continue;
        // Another file system: copy whole, then drop the source.
        std::error_code copied;
        fs::copy(entry, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks, copied);
        if (!copied)
            fs::remove_all(entry, copied);
        else
            fs::remove_all(destination, copied);  // a partial copy; the source stays
    }
    fs::remove(source, ec);  // only when empty
}

}  // namespace Foundation
