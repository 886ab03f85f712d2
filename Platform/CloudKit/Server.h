#pragma once
// The cloud database server: one private database per user, shared by every
// device of that user. Transports hand it JSON requests (Wire.h); tests also
// drive its fault hooks and read its state directly.
//
// Rules
// -----
// Devices and users
//  - Every request names its user and its device. A device belongs to the user
//    of its first request.
//  - A device's account status is `available` unless a test sets another. With
//    any other status every database request fails with 9 (not authenticated);
//    "accountStatus" answers the status.
//  - An offline device's database requests fail with 3 (network unavailable).
//    "accountStatus" and the long-lived bookkeeping ("longLivedIDs",
//    "longLivedOperation", "finishLongLived") are answered by the device itself
//    and work offline.
//
// Zones
//  - Zone names are unique per user; the owner name must be
//    CKCurrentUserDefaultName and the name must not be empty (else 12, invalid
//    arguments, for the whole request).
//  - Saving an existing zone succeeds and changes nothing. Deleting a missing
//    zone succeeds. Deleting a zone removes its records.
//
// Records
//  - A record belongs to a zone that must exist (else the item fails with 26,
//    zone not found). It has a name and a type, and its type never changes
//    (else the item fails with 12).
//  - A modify request holds at most 400 items (saves plus deletions); a larger
//    one fails as a whole with 27 (limit exceeded) and applies nothing. A
//    request that names one record twice fails with 12.
//  - Save policies: `changedKeys` writes the record's changed keys over the
//    server record (a changed key with no value removes the field) with no
//    version check: the last writer wins. `allKeys` replaces every field.
//    `ifServerRecordUnchanged` writes the changed keys only when the record's
//    change tag equals the server's (a new record: none on the server); else
//    the item fails with 14 (server record changed), or 11 (unknown item) when
//    the tagged record no longer exists.
//  - Deleting a record that does not exist succeeds.
//  - Atomic requests apply all items or none: when an item fails, the request
//    fails with 2 (partial failure) whose per-item errors hold each failed
//    item's error and 22 (batch request failed) for every other item. A
//    non-atomic request applies the items that can be applied and reports the
//    others the same way (per-item errors of failed items only).
//  - Every saved record gets a new change tag and its modification date.
//
// Change logs and tokens
//  - Each zone numbers its changes; a save or deletion takes the next number.
//    The zone keeps each live record with the number of its last change and a
//    tombstone for each deleted record.
//  - Zone fetch without a token: the live records, oldest change first. With a
//    token: the records changed and the records deleted after the token, in
//    change order (each record at most once, in its latest state).
//  - The database numbers zone changes the same way (a zone changes when it is
//    created or deleted, or when a record in it is saved or deleted). Database
//    fetch without a token: every existing zone. With a token: the zones
//    changed and deleted after it.
//  - Replies come in batches of at most `batchLimit` items (default 200) with
//    "more coming" and the token that resumes after the batch. The last batch's
//    token is the log's current position.
//  - A token is valid only for the zone (or database) and the epoch it was
//    issued for. Any other token, an unreadable one, one from another server
//    or one ahead of the log, fails with 21 (change token expired).
//    `expireZoneTokens` / `expireDatabaseTokens` start a new epoch, expiring
//    every token issued before. A re-created zone has a new epoch.
//  - A zone fetch of a missing zone fails with 26.
//
// Subscriptions and pushes
//  - Saving a subscription replaces one of the same id; deleting a missing one
//    succeeds. An empty id is 12.
//  - After a request that changed the database (records saved or deleted,
//    zones created or deleted), every device of the user that registered for
//    pushes, except the writer, gets one push per database subscription of the
//    user. Pending pushes for one subscription coalesce into one.
//  - Pushes wait while pushes are held (`holdPushes`) and while the device is
//    offline; they go out on `releasePushes` / coming back online.
//
// Long-lived operations
//  - A modify request with a long-lived id is remembered for the device with
//    its reply until the device finishes it ("finishLongLived"). "longLivedIDs"
//    lists the unfinished ones in the order they arrived; "longLivedOperation"
//    gives one's request (11 when unknown); "runLongLived" answers the stored
//    reply, running the request first when it never ran.
//
// Faults
//  - `injectError` makes the next matching requests fail with the given code
//    (and retry-after), `times` times, before anything is applied. Each request
//    counts once; a zone fetch makes one request per zone.
//  - `dropReplies` runs the next matching requests but the client never gets
//    the reply (as when the application quits before it arrives): the client
//    calls no callback of that operation.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/CloudKit/Types.h"
#include "Platform/CloudKit/Wire.h"

namespace CloudKit {

// The request methods of the wire protocol.
namespace method {
inline constexpr const char* accountStatus = "accountStatus";
inline constexpr const char* registerForPushes = "registerForPushes";
inline constexpr const char* fetchDatabaseChanges = "fetchDatabaseChanges";
inline constexpr const char* fetchZoneChanges = "fetchZoneChanges";
inline constexpr const char* modifyZones = "modifyZones";
inline constexpr const char* modifySubscriptions = "modifySubscriptions";
inline constexpr const char* modifyRecords = "modifyRecords";
inline constexpr const char* longLivedIDs = "longLivedIDs";
inline constexpr const char* longLivedOperation = "longLivedOperation";
inline constexpr const char* runLongLived = "runLongLived";
inline constexpr const char* finishLongLived = "finishLongLived";
}  // namespace method

inline constexpr std::size_t kModifyItemLimit = 400;
inline constexpr const char* kContainerIdentifier = "iCloud.com.tarnwick.vexil";

class CloudServer {
public:
    using Json = wire::Json;
    using PushSink = std::function<void(const Dictionary& userInfo)>;

    CloudServer();
    ~CloudServer();
    CloudServer(const CloudServer&) = delete;
    CloudServer& operator=(const CloudServer&) = delete;

    // One request. Always answers a JSON object: the method's reply, or
    // {"error": ...}, or {"dropped": true} when the reply is to be lost.
    Json handle(const std::string& userId, const std::string& deviceId, const std::string& methodName,
                const Json& body);

    // Push delivery. A sink receives the device's pushes as they go out
    // (called on the writer's thread, never under the server's lock). Without
    // a sink, pushes wait for `takePushes`.
    void setPushSink(const std::string& deviceId, PushSink sink);
    // Waits up to `waitSeconds` (real time) for deliverable pushes and takes
    // them. A newer wait for the same device ends an older one empty-handed.
    std::vector<Dictionary> takePushes(const std::string& deviceId, double waitSeconds);
    // Ends every wait of takePushes now and later (the daemon is stopping).
    void stopWaiting();

    // --- fault hooks ------------------------------------------------------------
    struct Fault {
        Fault() = default;
        Fault(std::string m, long c, std::optional<double> after = std::nullopt, int n = 1)
            : method(std::move(m)), code(c), retryAfter(after), times(n) {}
        std::string method;  // a method name
        long code = CKErrorServiceUnavailable;
        std::optional<double> retryAfter;  // stored under CKErrorRetryAfterKey
        int times = 1;
        std::string deviceId;  // empty: any device
        std::string zoneName;  // empty: any zone (zone fetches only)
    };
    void injectError(Fault fault);
    void dropReplies(const std::string& methodName, int times, const std::string& deviceId = {});
    void clearFaults();
    void setAccountStatus(const std::string& deviceId, CKAccountStatus status);
    void setOffline(const std::string& deviceId, bool offline);
    void holdPushes();
    void releasePushes();
    // Empty zone name: every zone of the user.
    void expireZoneTokens(const std::string& userId, const std::string& zoneName = {});
    void expireDatabaseTokens(const std::string& userId);
    void setBatchLimit(std::size_t limit);

    // --- inspection -------------------------------------------------------------
    struct RequestLogEntry {
        std::string userId, deviceId, method;
        std::size_t saves = 0, deletes = 0;
        std::string zoneName;  // zone fetches
        long errorCode = 0;    // 0: answered without error
    };
    std::vector<RequestLogEntry> requestLog() const;
    // Number of logged requests of a method (of one device when given).
    std::size_t requestCount(const std::string& methodName, const std::string& deviceId = {}) const;
    void clearRequestLog();

    std::vector<std::string> zoneNames(const std::string& userId) const;
    // Live records of a zone, oldest change first.
    std::vector<CKRecord> records(const std::string& userId, const std::string& zoneName) const;
    std::optional<CKRecord> record(const std::string& userId, const CKRecordID& id) const;
    std::vector<std::string> subscriptionIDs(const std::string& userId) const;
    std::vector<std::string> longLivedOperationIDs(const std::string& deviceId) const;
    // Pushes delivered to a device so far.
    std::size_t pushesDelivered(const std::string& deviceId) const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace CloudKit
