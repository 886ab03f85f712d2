#include "Platform/Foundation/Bundle.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "Platform/Foundation/PropertyList.h"

namespace Foundation {
namespace {

namespace fs = std::filesystem;

constexpr int kLevelsToWalkUp = 6;

bool isDirectory(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

fs::path executableDirectory() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return fs::current_path(ec);
    return exe.parent_path();
}

// $VEXIL_RESOURCES; "<directory of the binary>/Resources"; the first
// "Resources" directory found walking up from there (the build tree keeps test
// binaries a few levels below build/<preset>/Resources).
std::string locateResources() {
    if (const char* env = std::getenv("VEXIL_RESOURCES"); env && *env) return env;
    fs::path start = executableDirectory();
    fs::path dir = start;
    for (int level = 0; level <= kLevelsToWalkUp && !dir.empty(); ++level) {
        if (isDirectory(dir / "Resources")) return (dir / "Resources").string();
        if (dir == dir.parent_path()) break;
        dir = dir.parent_path();
    }
    return (start / "Resources").string();
}

}  // namespace

Bundle& Bundle::main() {
    static Bundle bundle;
    return bundle;
}

Bundle::Bundle() : resourcePath_(locateResources()) { reloadInfoDictionary(); }

void Bundle::reloadInfoDictionary() {
    info_ = Dictionary();
    info_.set("CFBundleIdentifier", "com.tarnwick.vexil");
    info_.set("CFBundleName", "Vexil");
    info_.set("CFBundleShortVersionString", "1.0.0");
    info_.set("CFBundleVersion", "1");
    std::ifstream in(resourcePath_ + "/Info.plist", std::ios::binary);
    if (!in) return;
    Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto value = valueFromPropertyList(bytes);
    if (!value || !value->isDictionary()) return;
    for (const auto& [key, element] : value->asDictionary()) info_.set(key, element);
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const {
    if (name.empty()) return std::nullopt;
    std::string path = resourcePath_ + "/" + name;
    if (!type.empty()) path += (type.front() == '.' ? "" : ".") + type;
    std::error_code ec;
    if (!fs::exists(path, ec)) return std::nullopt;
    return path;
}

std::string Bundle::bundleIdentifier() const {
    const Value& identifier = info_["CFBundleIdentifier"];
    return identifier.isString() ? identifier.asString() : "com.tarnwick.vexil";
}

}  // namespace Foundation
