#include "DerAvedur/DerAvedur/Internals/Util/DAVKeychainUtil.h"

#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Bundle.h"

std::string DAVKeychainUtil::serviceName() { return Foundation::Bundle::main().bundleIdentifier() + ".DerAvedur"; }

Security::Keychain& DAVKeychainUtil::keychain() {
    static Security::Keychain keychain(DAVUtility::sdkDirectory() + "/Keychain.json");
    return keychain;
}

bool DAVKeychainUtil::storeString(const std::string& string, const std::string& key) {
    Foundation::Data secret(string.begin(), string.end());
    Security::OSStatus status = keychain().addGenericPassword(serviceName(), key, secret);
    if (status == Security::errSecDuplicateItem) status = keychain().updateGenericPassword(serviceName(), key, secret);
    return status == Security::errSecSuccess;
}

std::optional<std::string> DAVKeychainUtil::stringForKey(const std::string& key, Security::OSStatus* status) {
    Foundation::Data secret;
    Security::OSStatus result = keychain().copyGenericPassword(serviceName(), key, secret);
    if (status) *status = result;
    if (result != Security::errSecSuccess) return std::nullopt;
    return std::string(secret.begin(), secret.end());
}

std::optional<std::string> DAVKeychainUtil::deleteStringForKey(const std::string& key) {
    auto existing = stringForKey(key);
    if (keychain().deleteGenericPassword(serviceName(), key) != Security::errSecSuccess) return std::nullopt;
    return existing;
}
