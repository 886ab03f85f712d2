#pragma once
// The sync of one persistent type: watches the type's local objects and hands
// changed ones to the engine as records to save or IDs to delete; applies
// fetched records and deletions to the store on the main queue without
// echoing them back; keeps the type's zone token and zone flag in the user
// defaults under "<class name>nimbus.keys.zoneChangesTokenKey" and
// "<class name>nimbus.keys.hasCustomZoneCreatedKey".

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Nimbus/RecordMapping.h"
#include "Nimbus/Syncable.h"

namespace Nimbus {

class NimbusRecordState;

// Everything but the type itself; SyncObject<T> names the class.
class SyncObjectBase : public Syncable, public std::enable_shared_from_this<SyncObjectBase> {
public:
    SyncObjectBase(std::string className, std::shared_ptr<ObjectStore::Realm> realm, SyncEnvironment environment);
    ~SyncObjectBase() override;

    std::string recordType() const override { return className_; }
    CloudKit::CKRecordZoneID zoneID() const override { return zoneIDForRecordType(className_); }
    CloudKit::CKServerChangeTokenPtr zoneChangesToken() const override;
    void setZoneChangesToken(CloudKit::CKServerChangeTokenPtr token) override;
    bool hasCustomZoneCreated() const override;
    void setHasCustomZoneCreated(bool created) override;
    std::shared_ptr<ObjectStore::Realm> realm() const override { return realm_; }
    void setRealm(std::shared_ptr<ObjectStore::Realm> realm) override { realm_ = std::move(realm); }

    void observeLocalChanges() override;
    void cleanUp() override;
    void addRecord(const CloudKit::CKRecord& record) override;
    void deleteRecord(const CloudKit::CKRecordID& recordID) override;
    void pushAllLocalObjects() override;

    Pipe pipeToEngine() const override { return pipe_; }
    void setPipeToEngine(Pipe pipe) override { pipe_ = std::move(pipe); }

    ObjectStore::NotificationTokenRef notificationToken() const override { return notificationToken_; }
    void setSkipTokens(std::function<std::vector<ObjectStore::NotificationTokenRef>()> tokens) override {
        skipTokens_ = std::move(tokens);
    }
    void saveZoneChangesTokenAfterApplying(CloudKit::CKServerChangeTokenPtr token, bool fetchEnded) override;
    // Every object, and the states of deletions still to send; it also
    // starts the set of objects changesToPush() looks at afresh.
    PendingChanges pendingChanges() override;
    PendingChanges changesToPush() override;
    void requestFullScan() override;
    void markSent(const std::vector<CloudKit::CKRecord>& records) override;
    void acknowledge(const std::vector<CloudKit::CKRecord>& sent, const std::vector<CloudKit::CKRecord>& saved,
                     const std::vector<CloudKit::CKRecordID>& deleted) override;
    void reconcileAfterFullFetch(const std::set<std::string>& recordNames) override;

    // Runs inside the write that applies a fetched record, after the object
    // was stored, with the record of the object as it was before (none for a
    // new one). The application keeps its own rules there, such as unique
    // folder numbers; changes it makes count as local changes to push.
    using AppliedRecordHook = std::function<void(ObjectStore::Realm&, const std::shared_ptr<ObjectStore::Object>&,
                                                 const std::optional<CloudKit::CKRecord>& previous)>;
    void setAppliedRecordHook(AppliedRecordHook hook) { appliedHook_ = std::move(hook); }

    const SyncEnvironment& environment() const { return environment_; }
    std::string zoneChangesTokenKey() const;
    std::string hasCustomZoneCreatedKey() const;

    // Main queue bodies of addRecord and deleteRecord.
    void applyRemoteRecord(const CloudKit::CKRecord& record);
    void applyRemoteDeletion(const CloudKit::CKRecordID& recordID);
    void localChangeHandler(const ObjectStore::AnyCollectionChange& change);

private:
    std::vector<ObjectStore::NotificationTokenRef> tokensToSkip() const;
    // The object's change the server has not acknowledged, added to `out`
    // (none when it is in step); true when there is one. A live object the
    // server reported deleted goes to `deletedElsewhere` instead.
    bool addPendingChange(const std::shared_ptr<ObjectStore::Object>& object, const CloudKit::CKRecordID& id,
                          const std::shared_ptr<NimbusRecordState>& state, PendingChanges& out,
                          std::vector<std::shared_ptr<ObjectStore::Object>>& deletedElsewhere);
    void removeDeletedElsewhere(const std::vector<std::shared_ptr<ObjectStore::Object>>& objects);
    void track(std::string recordName);
    void untrack(const std::string& recordName);
    // The acknowledged record of a state, decoded once per stored text: a push
    // looks at every object, and decoding every state each time cost more
    // than the commit that started it.
    // Null when never acknowledged (or unreadable).
    std::shared_ptr<const CloudKit::CKRecord> acknowledgedRecord(const std::string& stateId, const std::string& text);

    std::string className_;
    ObjectStore::NotificationTokenRef notificationToken_;
    Pipe pipe_;
    std::shared_ptr<ObjectStore::Realm> realm_;
    SyncEnvironment environment_;
    std::function<std::vector<ObjectStore::NotificationTokenRef>()> skipTokens_;
    bool applyFailed_ = false;  // main thread only

    // Main thread. The record names that may hold unacknowledged changes, in
    // the order first noted: every object with such changes is here unless a
    // full scan is due. A name leaves once the object is found in step.
    // Writes the observation does not hear (fetched records, their rules,
    // this object's own bookkeeping) and failures make a full scan due; so
    // does the time before the observation's first delivery, since only
    // changes after it are reported, and an observation that failed.
    std::vector<std::string> trackedOrder_;
    std::unordered_set<std::string> tracked_;
    bool fullScanDue_ = true;
    bool observing_ = false;
    // Main thread. Records sent whose objects have not been reported changed
    // since: once the server acknowledges exactly that record, the object is
    // in step and leaves the tracked names without being looked at again.
    std::unordered_map<std::string, CloudKit::CKRecord> sentUnchanged_;
    AppliedRecordHook appliedHook_;
    std::mutex decodedMutex_;
    std::unordered_map<std::string, std::pair<std::string, std::shared_ptr<const CloudKit::CKRecord>>> decoded_;
};

template <class T>
class SyncObject : public SyncObjectBase {
public:
    explicit SyncObject(std::shared_ptr<ObjectStore::Realm> realm,
                        SyncEnvironment environment = SyncEnvironment::standard())
        : SyncObjectBase(CKRecordConvertible<T>::recordType(), std::move(realm), std::move(environment)) {}

    static std::shared_ptr<SyncObject> make(std::shared_ptr<ObjectStore::Realm> realm,
                                            SyncEnvironment environment = SyncEnvironment::standard()) {
        return std::make_shared<SyncObject>(std::move(realm), std::move(environment));
    }
};

// Change tokens as keyed archives in the user defaults.
std::optional<Foundation::Data> archiveChangeToken(const CloudKit::CKServerChangeTokenPtr& token);
// Nothing unless the data is a keyed archive of a change token.
CloudKit::CKServerChangeTokenPtr unarchiveChangeToken(const Foundation::Value& stored);

}  // namespace Nimbus
