#pragma once
// Database operations, shaped as the sync engine calls them. An operation is
// configured, then added to a database; it runs on the container's cloud
// queue and every block is called there, never on the main queue.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/CloudKit/Types.h"

namespace CloudKit {

class ClientCore;

struct CKOperationConfiguration {
    bool longLived = false;
    int qualityOfService = -1;
};

class CKOperation : public std::enable_shared_from_this<CKOperation> {
public:
    CKOperation();
    virtual ~CKOperation() = default;
    const std::string& operationID() const { return operationID_; }
    CKOperationConfiguration configuration;
    int qualityOfService = -1;
    bool isLongLived() const { return configuration.longLived; }

    // Runs the operation on the calling thread (the container's cloud queue).
    virtual void run(ClientCore& client) = 0;

protected:
    std::string operationID_;
};

using OptionalError = std::optional<CKError>;

class CKFetchDatabaseChangesOperation : public CKOperation {
public:
    explicit CKFetchDatabaseChangesOperation(CKServerChangeTokenPtr previousServerChangeToken = nullptr)
        : previousServerChangeToken(std::move(previousServerChangeToken)) {}
    CKServerChangeTokenPtr previousServerChangeToken;
    bool fetchAllChanges = true;

    std::function<void(const CKRecordZoneID&)> recordZoneWithIDChangedBlock;
    std::function<void(const CKRecordZoneID&)> recordZoneWithIDWasDeletedBlock;
    std::function<void(const CKServerChangeTokenPtr&)> changeTokenUpdatedBlock;
    std::function<void(const CKServerChangeTokenPtr& token, bool moreComing, const OptionalError&)>
        fetchDatabaseChangesCompletionBlock;

    void run(ClientCore& client) override;
};

struct CKFetchRecordZoneChangesOptions {
    CKServerChangeTokenPtr previousServerChangeToken;
};

class CKFetchRecordZoneChangesOperation : public CKOperation {
public:
    CKFetchRecordZoneChangesOperation(std::vector<CKRecordZoneID> zoneIDs,
                                      std::map<CKRecordZoneID, CKFetchRecordZoneChangesOptions> options)
        : recordZoneIDs(std::move(zoneIDs)), optionsByRecordZoneID(std::move(options)) {}
    std::vector<CKRecordZoneID> recordZoneIDs;
    std::map<CKRecordZoneID, CKFetchRecordZoneChangesOptions> optionsByRecordZoneID;
    bool fetchAllChanges = true;

    std::function<void(const CKRecord&)> recordChangedBlock;
    std::function<void(const CKRecordID&, const std::string& recordType)> recordWithIDWasDeletedBlock;
    std::function<void(const CKRecordZoneID&, const CKServerChangeTokenPtr&, const std::optional<Data>& clientData)>
        recordZoneChangeTokensUpdatedBlock;
    std::function<void(const CKRecordZoneID&, const CKServerChangeTokenPtr&, const std::optional<Data>& clientData,
                       bool moreComing, const OptionalError&)>
        recordZoneFetchCompletionBlock;
    // After every zone; a partial failure when a zone failed.
    std::function<void(const OptionalError&)> fetchRecordZoneChangesCompletionBlock;

    void run(ClientCore& client) override;
};

class CKModifyRecordZonesOperation : public CKOperation {
public:
    CKModifyRecordZonesOperation(std::vector<CKRecordZone> save, std::vector<CKRecordZoneID> remove)
        : recordZonesToSave(std::move(save)), recordZoneIDsToDelete(std::move(remove)) {}
    std::vector<CKRecordZone> recordZonesToSave;
    std::vector<CKRecordZoneID> recordZoneIDsToDelete;
    std::function<void(const std::vector<CKRecordZone>&, const std::vector<CKRecordZoneID>&, const OptionalError&)>
        modifyRecordZonesCompletionBlock;

    void run(ClientCore& client) override;
};

class CKModifySubscriptionsOperation : public CKOperation {
public:
    CKModifySubscriptionsOperation(std::vector<CKDatabaseSubscription> save, std::vector<std::string> remove)
        : subscriptionsToSave(std::move(save)), subscriptionIDsToDelete(std::move(remove)) {}
    std::vector<CKDatabaseSubscription> subscriptionsToSave;
    std::vector<std::string> subscriptionIDsToDelete;
    std::function<void(const std::vector<CKDatabaseSubscription>&, const std::vector<std::string>&,
                       const OptionalError&)>
        modifySubscriptionsCompletionBlock;

    void run(ClientCore& client) override;
};

class CKModifyRecordsOperation : public CKOperation {
public:
    CKModifyRecordsOperation(std::vector<CKRecord> save, std::vector<CKRecordID> remove)
        : recordsToSave(std::move(save)), recordIDsToDelete(std::move(remove)) {}
    std::vector<CKRecord> recordsToSave;
    std::vector<CKRecordID> recordIDsToDelete;
    CKSavePolicy savePolicy = CKSavePolicy::ifServerRecordUnchanged;
    bool atomic = true;
    std::function<void(const std::vector<CKRecord>&, const std::vector<CKRecordID>&, const OptionalError&)>
        modifyRecordsCompletionBlock;

    void run(ClientCore& client) override;

    // A long-lived operation fetched back from the container: running it
    // answers the server's remembered reply (running the request if it never ran).
    static std::shared_ptr<CKModifyRecordsOperation> resumed(const std::string& operationID, std::vector<CKRecord> save,
                                                             std::vector<CKRecordID> remove, CKSavePolicy policy,
                                                             bool atomic);
    bool isResumed() const { return resumed_; }

private:
    bool resumed_ = false;
};

}  // namespace CloudKit
