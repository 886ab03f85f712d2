#pragma once
// The SDK's keys in the standard user defaults, each stored under the prefix
// "DAVDerAvedur".

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Foundation/Value.h"

namespace Foundation {
class UserDefaults;
}

// One entry of a key migration: the value of `oldKey` (or of every key that
// begins with it, when `oldKeyIsPrefix`) moves to `newKey` (a full key,
// prefix included; a prefix match appends the rest of the old key).
struct DAVUserDefaultsMigration {
    std::string newKey;
    std::string oldKey;
    bool oldKeyIsPrefix = false;
};

class DAVDerAvedurUserDefaults {
public:
    static constexpr const char* kKeyPrefix = "DAVDerAvedur";

    // Over the standard user defaults, whichever instance is standard at each call.
    static std::shared_ptr<DAVDerAvedurUserDefaults> sharedInstance();
    static DAVDerAvedurUserDefaults& shared() { return *sharedInstance(); }

    DAVDerAvedurUserDefaults() = default;
    // Over other defaults (tests).
    explicit DAVDerAvedurUserDefaults(std::shared_ptr<Foundation::UserDefaults> defaults)
        : defaults_(std::move(defaults)) {}

    // `key` is given without the prefix.
    Foundation::Value objectForKey(const std::string& key) const;
    void setObject(const Foundation::Value& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Moves old keys to their new names once per service; an existing new
    // key is never overwritten, and old keys are removed.
    void migrateKeys(const std::vector<DAVUserDefaultsMigration>& migrations, const std::string& service);

    static std::string prefixedKey(const std::string& key) { return kKeyPrefix + key; }

private:
    Foundation::UserDefaults& defaults() const;

    std::shared_ptr<Foundation::UserDefaults> defaults_;
};
