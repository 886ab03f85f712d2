#pragma once
// The application bundle: the resource directory beside the binary
// ("Resources"), or VEXIL_RESOURCES when set, and the Info dictionary.

#include <optional>
#include <string>

#include "Platform/Foundation/Value.h"

namespace Foundation {

class Bundle {
public:
    static Bundle& main();

    // "<resources>/<name>.<type>" (no dot when the type is empty) when the file exists.
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

private:
    Bundle();
    std::string resourcePath_;
    Dictionary info_;
};

}  // namespace Foundation
