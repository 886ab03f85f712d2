#include "Nimbus/Keys.h"

namespace Nimbus {

std::string rawValue(NimbusKey key) {
    switch (key) {
        case NimbusKey::databaseChangesTokenKey:
            return "databaseChangesTokenKey";
        case NimbusKey::zoneChangesTokenKey:
            return "zoneChangesTokenKey";
        case NimbusKey::subscriptionIsLocallyCachedKey:
            return "subscriptionIsLocallyCachedKey";
        case NimbusKey::hasCustomZoneCreatedKey:
            return "hasCustomZoneCreatedKey";
    }
    return {};
}

std::string value(NimbusKey key) { return "nimbus.keys." + rawValue(key); }

std::optional<NimbusKey> nimbusKeyFromRawValue(std::string_view raw) {
    for (auto key : {NimbusKey::databaseChangesTokenKey, NimbusKey::zoneChangesTokenKey,
                     NimbusKey::subscriptionIsLocallyCachedKey, NimbusKey::hasCustomZoneCreatedKey}) {
        if (rawValue(key) == raw) return key;
    }
    return std::nullopt;
}

std::string rawValue(Notifications notification) {
    switch (notification) {
        case Notifications::cloudKitDataDidChangeRemotely:
            return "cloudKitDataDidChangeRemotely";
        case Notifications::cloudKitNewData:
            return "cloudKitNewData";
    }
    return {};
}

std::string name(Notifications notification) { return rawValue(notification); }

std::optional<Notifications> notificationsFromRawValue(std::string_view raw) {
    for (auto n : {Notifications::cloudKitDataDidChangeRemotely, Notifications::cloudKitNewData}) {
        if (rawValue(n) == raw) return n;
    }
    return std::nullopt;
}

}  // namespace Nimbus
