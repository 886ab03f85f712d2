#include "Platform/Foundation/Bundle.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "Platform/Foundation/PropertyList.h"
#include "VexilConfig.h"

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

std::string locateResources() {
    if (const char* env = std::getenv("VEXIL_RESOURCES"); env && *env) return env;
    return Bundle::resourceDirectoryFor(executableDirectory().string());
}

}  // namespace

Bundle& Bundle::main() {
    static Bundle bundle;
    return bundle;
}

std::string Bundle::resourceDirectoryFor(const std::string& executableDirectory) {
    fs::path start(executableDirectory);
    if (isDirectory(start / "Resources")) return (start / "Resources").string();
    // An installed binary: <prefix>/bin/vexil with <prefix>/share/vexil.
    fs::path installed = (start / VEXIL_INSTALLED_RESOURCES).lexically_normal();
    if (isDirectory(installed)) return installed.string();
    fs::path dir = start.parent_path();
    for (int level = 1; level <= kLevelsToWalkUp && !dir.empty(); ++level) {
        if (isDirectory(dir / "Resources")) return (dir / "Resources").string();
        if (dir == dir.parent_path()) break;
        dir = dir.parent_path();
    }
    return (start / "Resources").string();
}

Bundle::Bundle() : resourcePath_(locateResources()) { reloadInfoDictionary(); }

void Bundle::reloadInfoDictionary() {
    info_ = Dictionary();
    info_.set("CFBundleIdentifier", "com.tarnwick.vexil");
    info_.set("CFBundleName", "Vexil");
    info_.set("CFBundleShortVersionString", VEXIL_VERSION);
    info_.set("CFBundleVersion", VEXIL_BUILD_NUMBER);
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
