#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"

#include <mutex>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/SharedInstance.h"
#include "Platform/Foundation/UserDefaults.h"

namespace {

std::mutex& migrationLock() {
    static std::mutex lock;
    return lock;
}

// Marks a service whose keys were migrated.
std::string migratedFlagKey(const std::string& service) { return "MigratedKeys" + service; }

}  // namespace

std::shared_ptr<DAVDerAvedurUserDefaults> DAVDerAvedurUserDefaults::sharedInstance() {
    return Foundation::SharedInstance<DAVDerAvedurUserDefaults>::process().get();
}

Foundation::UserDefaults& DAVDerAvedurUserDefaults::defaults() const {
    return defaults_ ? *defaults_ : Foundation::UserDefaults::standard();
}

Foundation::Value DAVDerAvedurUserDefaults::objectForKey(const std::string& key) const {
    return defaults().objectForKey(prefixedKey(key));
}

void DAVDerAvedurUserDefaults::setObject(const Foundation::Value& value, const std::string& key) {
    defaults().set(prefixedKey(key), value);
}

void DAVDerAvedurUserDefaults::removeObjectForKey(const std::string& key) {
    defaults().removeObjectForKey(prefixedKey(key));
}

void DAVDerAvedurUserDefaults::migrateKeys(const std::vector<DAVUserDefaultsMigration>& migrations,
                                           const std::string& service) {
    std::lock_guard<std::mutex> guard(migrationLock());
    Foundation::UserDefaults& defaults = this->defaults();
    if (defaults.boolForKey(prefixedKey(migratedFlagKey(service)))) return;
    int moved = 0;
    auto move = [&](const std::string& oldKey, const std::string& newKey) {
        Foundation::Value value = defaults.objectForKey(oldKey);
        if (value.isNull()) return;
        if (defaults.objectForKey(newKey).isNull()) defaults.set(newKey, value);
        defaults.removeObjectForKey(oldKey);
        ++moved;
    };
    for (const DAVUserDefaultsMigration& migration : migrations) {
        if (!migration.oldKeyIsPrefix) {
            move(migration.oldKey, migration.newKey);
            continue;
        }
        for (const std::string& key : defaults.persistentDomain().keys()) {
            if (key.compare(0, migration.oldKey.size(), migration.oldKey) != 0) continue;
            move(key, migration.newKey + key.substr(migration.oldKey.size()));
        }
    }
    defaults.set(prefixedKey(migratedFlagKey(service)), Foundation::Value(true));
    if (moved > 0)
        DAVLogVerbose(kDAVDerAvedurLogTag, "Migrated %d user defaults key(s) of %s.", moved, service.c_str());
}
