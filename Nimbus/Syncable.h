#pragma once
// What the sync engine drives for each synchronised type, and the
// surroundings both run in (defaults, notification centre, main queue).

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Platform/CloudKit/Types.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/ObjectStore/Realm.h"

namespace Nimbus {

// The application has one of each; a test gives each simulated device its own
// defaults and notification centre.
struct SyncEnvironment {
    std::shared_ptr<Foundation::UserDefaults> defaults;
    std::shared_ptr<Foundation::NotificationCenter> notificationCenter;
    std::shared_ptr<Foundation::DispatchQueue> mainQueue;

    // The standard defaults, the default centre and the main queue.
    static SyncEnvironment standard();
};

// What the server has not acknowledged yet.
struct PendingChanges {
    std::vector<CloudKit::CKRecord> recordsToSave;
    std::vector<CloudKit::CKRecordID> recordIDsToDelete;
    bool empty() const { return recordsToSave.empty() && recordIDsToDelete.empty(); }
};

class Syncable {
public:
    using Pipe = std::function<void(std::vector<CloudKit::CKRecord> recordsToSave,
                                    std::vector<CloudKit::CKRecordID> recordIDsToDelete)>;

    virtual ~Syncable() = default;

    virtual std::string recordType() const = 0;
    virtual CloudKit::CKRecordZoneID zoneID() const = 0;
    virtual CloudKit::CKServerChangeTokenPtr zoneChangesToken() const = 0;
    virtual void setZoneChangesToken(CloudKit::CKServerChangeTokenPtr token) = 0;
    virtual bool hasCustomZoneCreated() const = 0;
    virtual void setHasCustomZoneCreated(bool created) = 0;
    virtual std::shared_ptr<ObjectStore::Realm> realm() const = 0;
    virtual void setRealm(std::shared_ptr<ObjectStore::Realm> realm) = 0;

    virtual void observeLocalChanges() = 0;
    virtual void cleanUp() = 0;
    virtual void addRecord(const CloudKit::CKRecord& record) = 0;
    virtual void deleteRecord(const CloudKit::CKRecordID& recordID) = 0;
    virtual void pushAllLocalObjects() = 0;

    virtual Pipe pipeToEngine() const = 0;
    virtual void setPipeToEngine(Pipe pipe) = 0;

    // --- additions of ours ---
    // The token of the running observation (skipped by this type's own writes).
    virtual ObjectStore::NotificationTokenRef notificationToken() const = 0;
    // The tokens every write that applies cloud changes skips: the engine hands
    // each type all of them, so linking a waiting colour to its folder does not
    // echo either type back to the cloud.
    virtual void setSkipTokens(std::function<std::vector<ObjectStore::NotificationTokenRef>()> tokens) = 0;
    // Main queue: saves a zone token reported after records that this type
    // has already applied (they were queued on the main queue before it),
    // unless applying one of them failed since the zone's last fetch ended;
    // then the token is not saved, so the next fetch brings those records again.
    virtual void saveZoneChangesTokenAfterApplying(CloudKit::CKServerChangeTokenPtr token, bool fetchEnded) = 0;

    // Main thread. Every local change the server has not acknowledged, made
    // whenever (also before this run): saves built on the last acknowledged
    // record (its change tag, only the changed fields), and deletions.
    virtual PendingChanges pendingChanges() = 0;
    // Main thread, for a push: the same changes, found by looking only at the
    // objects that may hold some (those changed since they were last found in
    // step with the server), unless a full scan is due. By default a full scan.
    virtual PendingChanges changesToPush() { return pendingChanges(); }
    // Main thread: the next changesToPush() looks at every object (after a
    // fetch, whose writes the observation does not hear, and after failures).
    virtual void requestFullScan() {}
    // Main thread, before a push: new records are remembered as first sent,
    // so that when the reply is lost and the server turns out to hold the
    // record, changes made since are told from what the server has.
    virtual void markSent(const std::vector<CloudKit::CKRecord>& records) = 0;
    // Main thread. The server saved these records (as sent: `sent`; as the
    // server now holds them: `saved`) and deleted these IDs.
    virtual void acknowledge(const std::vector<CloudKit::CKRecord>& sent, const std::vector<CloudKit::CKRecord>& saved,
                             const std::vector<CloudKit::CKRecordID>& deleted) = 0;
    // Main thread, after the records of a fetch from no token were applied:
    // acknowledged objects the server no longer has, and that carry no
    // pending change, are removed.
    virtual void reconcileAfterFullFetch(const std::set<std::string>& recordNames) = 0;
};

}  // namespace Nimbus
