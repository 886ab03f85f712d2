#pragma once
// The SDK's secrets in the keychain: generic passwords under the service
// "<bundle identifier>.DerAvedur".

#include <optional>
#include <string>

#include "Platform/Security/Security.h"

class DAVKeychainUtil {
public:
    // Adds or replaces the item.
    static bool storeString(const std::string& string, const std::string& key);
    static std::optional<std::string> stringForKey(const std::string& key, Security::OSStatus* status = nullptr);
    // The removed text, nothing when there was none.
    static std::optional<std::string> deleteStringForKey(const std::string& key);

    static std::string serviceName();
    // The keychain file: "Keychain.json" (mode 0600) in the SDK's directory.
    static Security::Keychain& keychain();
};
