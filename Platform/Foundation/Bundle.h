#pragma once
// The application bundle: the resource directory and the Info dictionary.
//
// Resource directory: $VEXIL_RESOURCES when set; else "Resources" in the
// binary's own directory; else the installed resources relative to it
// ("../share/vexil" for <prefix>/bin); else the first "Resources" directory up
// to six directories above it (the build tree keeps binaries below
// build/<preset>/, resources in build/<preset>/Resources); else
// "<directory of the binary>/Resources".
//
// Info dictionary: CFBundleIdentifier "com.tarnwick.vexil", CFBundleName
// "Vexil", CFBundleShortVersionString the project's version (VEXIL_VERSION),
// CFBundleVersion the build number, then every key of
// "<resources>/Info.plist" (picker/Resources/Info.plist) when it reads as a
// dictionary, its values winning.

#include <optional>
#include <string>

#include "Platform/Foundation/Value.h"

namespace Foundation {

class Bundle {
public:
    static Bundle& main();

    // "<resources>/<name>.<type>" (no dot when the type is empty; a leading dot
    // of the type is not doubled) when the file or directory exists.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
    const std::string& resourcePath() const { return resourcePath_; }

    // "CFBundleIdentifier" = "com.tarnwick.vexil", "CFBundleShortVersionString",
    // "CFBundleVersion", "CFBundleName" and the application's own keys.
    const Dictionary& infoDictionary() const { return info_; }
    Value objectForInfoDictionaryKey(const std::string& key) const { return info_[key]; }
    std::string bundleIdentifier() const;

    // Tests may point the bundle elsewhere or add Info keys.
    void setResourcePath(std::string path) { resourcePath_ = std::move(path); }
    void setInfoValue(const std::string& key, Value value) { info_.set(key, std::move(value)); }
    // The built-in keys again, then those of "<resourcePath()>/Info.plist".
    void reloadInfoDictionary();

    // The resource directory of a binary in that directory, VEXIL_RESOURCES aside.
    static std::string resourceDirectoryFor(const std::string& executableDirectory);

private:
    Bundle();
    std::string resourcePath_;
    Dictionary info_;
};

}  // namespace Foundation
