#pragma once
// The sync engine's user-defaults keys, its two in-process notification
// names and its subscription identifier.

#include <optional>
#include <string>
#include <string_view>

namespace Nimbus {

enum class NimbusKey {
    databaseChangesTokenKey,
    zoneChangesTokenKey,
    subscriptionIsLocallyCachedKey,
    hasCustomZoneCreatedKey,
};

// The case name ("databaseChangesTokenKey").
std::string rawValue(NimbusKey key);
// "nimbus.keys." followed by the raw value.
std::string value(NimbusKey key);
// Exactly the four raw values; anything else gives nothing.
std::optional<NimbusKey> nimbusKeyFromRawValue(std::string_view raw);

enum class Notifications {
    cloudKitDataDidChangeRemotely,
    cloudKitNewData,
};

std::string rawValue(Notifications notification);
// The notification name (the raw value).
std::string name(Notifications notification);
std::optional<Notifications> notificationsFromRawValue(std::string_view raw);

namespace NimbusConstant {
inline constexpr const char* subscriptionID = "private_changes";
}

// Where the engine keeps the owners of applied records whose folder has not
// arrived yet (an addition of ours: a colour fetched before its folder is
// linked when the folder comes).
inline constexpr const char* kUnresolvedLinksKey = "nimbus.keys.unresolvedLinksKey";

// The application's termination notification, on which the engine cleans up.
inline constexpr const char* kApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";

}  // namespace Nimbus
