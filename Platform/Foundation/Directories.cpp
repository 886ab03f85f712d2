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

std::string ensured(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return path;
}

}  // namespace

std::string applicationSupportDirectory() {
    std::string home = vexilHome();
    std::string base = home.empty() ? xdg("XDG_DATA_HOME", ".local/share") : home + "/.local/share";
    return ensured(base + "/" + Bundle::main().bundleIdentifier());
}

std::string cachesDirectory() {
    std::string home = vexilHome();
    return ensured(home.empty() ? xdg("XDG_CACHE_HOME", ".cache") : home + "/.cache");
}

std::string documentsDirectory() {
    std::string home = vexilHome();
    return ensured((home.empty() ? userHome() : home) + "/Documents");
}

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

}  // namespace Foundation
