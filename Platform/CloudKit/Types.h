#pragma once
// Value types of the cloud database: zone and record identities, records and
// their field values, references, assets, change tokens, subscriptions,
// account status, error codes and push notifications.

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/Value.h"

namespace CloudKit {

using Foundation::Data;
using Foundation::Date;
using Foundation::Dictionary;
using Foundation::Value;

// The owner name that stands for the signed-in user.
inline constexpr const char* CKCurrentUserDefaultName = "__defaultOwner__";

struct CKRecordZoneID {
    std::string zoneName;
    std::string ownerName = CKCurrentUserDefaultName;

    CKRecordZoneID() = default;
    CKRecordZoneID(std::string zone, std::string owner = CKCurrentUserDefaultName)
        : zoneName(std::move(zone)), ownerName(std::move(owner)) {}

    std::string description() const;
    friend bool operator==(const CKRecordZoneID&, const CKRecordZoneID&) = default;
    friend auto operator<=>(const CKRecordZoneID&, const CKRecordZoneID&) = default;
};

struct CKRecordID {
    std::string recordName;
    CKRecordZoneID zoneID;

    CKRecordID() = default;
    CKRecordID(std::string name, CKRecordZoneID zone) : recordName(std::move(name)), zoneID(std::move(zone)) {}

    std::string description() const;
    friend bool operator==(const CKRecordID&, const CKRecordID&) = default;
    friend auto operator<=>(const CKRecordID&, const CKRecordID&) = default;
};

enum class CKReferenceAction : int { none = 0, deleteSelf = 1 };

// A field value that points at another record. Held in a record as a
// Foundation::Value object.
class CKReference : public Foundation::Object {
public:
    CKReference(CKRecordID recordID, CKReferenceAction action) : recordID_(std::move(recordID)), action_(action) {}
    static std::shared_ptr<CKReference> make(CKRecordID recordID, CKReferenceAction action = CKReferenceAction::none) {
        return std::make_shared<CKReference>(std::move(recordID), action);
    }
    // The reference a field value holds, or nullptr.
    static std::shared_ptr<const CKReference> from(const Value& value);

    const CKRecordID& recordID() const { return recordID_; }
    CKReferenceAction action() const { return action_; }
    std::string className() const override { return "CKReference"; }
    Value valueForKey(const std::string& key) const override;
    std::vector<std::string> fieldNames() const override { return {"recordName", "zoneName", "action"}; }

private:
    CKRecordID recordID_;
    CKReferenceAction action_;
};

// A file-backed field value. On the client it names a local file; the bytes
// travel with the record (`inlineData`) between client and server.
class CKAsset : public Foundation::Object {
public:
    explicit CKAsset(std::string fileURL, std::optional<Data> inlineData = std::nullopt)
        : fileURL_(std::move(fileURL)), inlineData_(std::move(inlineData)) {}
    static std::shared_ptr<CKAsset> make(std::string fileURL) { return std::make_shared<CKAsset>(std::move(fileURL)); }
    static std::shared_ptr<const CKAsset> from(const Value& value);

    // A file path (no "file://" scheme).
    const std::string& fileURL() const { return fileURL_; }
    const std::optional<Data>& inlineData() const { return inlineData_; }
    std::string className() const override { return "CKAsset"; }
    Value valueForKey(const std::string& key) const override;

private:
    std::string fileURL_;
    std::optional<Data> inlineData_;
};

// One record: a type, an identity and fields. A value type; copies are
// independent. Field values are numbers (Booleans are stored as 0 or 1),
// text, data, dates, references, assets and arrays of these.
class CKRecord {
public:
    CKRecord() = default;
    CKRecord(std::string recordType, CKRecordID recordID)
        : recordType_(std::move(recordType)), recordID_(std::move(recordID)) {}

    const std::string& recordType() const { return recordType_; }
    const CKRecordID& recordID() const { return recordID_; }

    // The field's value, or a null Value when the record has no such field.
    Value objectForKey(const std::string& key) const { return fields_[key]; }
    // Sets a field; a null value removes it. Either way the key counts as
    // changed (the server applies changed keys under the changed-keys policy).
    void setObject(const std::string& key, Value value);
    std::vector<std::string> allKeys() const { return fields_.keys(); }
    const std::vector<std::string>& changedKeys() const { return changedKeys_; }
    const Dictionary& fields() const { return fields_; }

    // Set by the server on every save; none for a record never saved.
    const std::optional<std::string>& recordChangeTag() const { return changeTag_; }
    std::optional<Date> creationDate() const { return created_; }
    std::optional<Date> modificationDate() const { return modified_; }

    // Server and codec side: a record as stored, with no changed keys.
    void setServerState(std::optional<std::string> tag, std::optional<Date> created, std::optional<Date> modified) {
        changeTag_ = std::move(tag);
        created_ = created;
        modified_ = modified;
    }
    void markAllKeysChanged();
    void clearChangedKeys() { changedKeys_.clear(); }
    void setChangedKeys(std::vector<std::string> keys) { changedKeys_ = std::move(keys); }

    std::string description() const;

private:
    std::string recordType_;
    CKRecordID recordID_;
    Dictionary fields_;
    std::vector<std::string> changedKeys_;
    std::optional<std::string> changeTag_;
    std::optional<Date> created_, modified_;
};

// Equal when type, identity and fields are equal (references and assets by content).
bool fieldValuesEqual(const Value& a, const Value& b);
bool sameContent(const CKRecord& a, const CKRecord& b);

struct CKRecordZone {
    CKRecordZoneID zoneID;
    CKRecordZone() = default;
    explicit CKRecordZone(CKRecordZoneID id) : zoneID(std::move(id)) {}
};

// An opaque server change token. Only the server reads its contents. It is
// keyed-archivable under the class name "CKServerChangeToken".
class CKServerChangeToken : public Foundation::Coding {
public:
    explicit CKServerChangeToken(std::string opaque = {}) : opaque_(std::move(opaque)) {}
    const std::string& opaque() const { return opaque_; }
    std::string className() const override { return "CKServerChangeToken"; }
    Value valueForKey(const std::string& key) const override;
    std::vector<std::string> fieldNames() const override { return {"opaque"}; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    // Registers the class with the keyed unarchiver (once; any thread).
    static void registerCoding();
    friend bool operator==(const CKServerChangeToken& a, const CKServerChangeToken& b) {
        return a.opaque_ == b.opaque_;
    }

private:
    std::string opaque_;
};
using CKServerChangeTokenPtr = std::shared_ptr<const CKServerChangeToken>;

struct CKNotificationInfo {
    bool shouldSendContentAvailable = false;
};

// Only database subscriptions exist here.
struct CKDatabaseSubscription {
    std::string subscriptionID;
    CKNotificationInfo notificationInfo;
    explicit CKDatabaseSubscription(std::string id = {}) : subscriptionID(std::move(id)) {}
};

enum class CKAccountStatus : int {
    couldNotDetermine = 0,
    available = 1,
    restricted = 2,
    noAccount = 3,
    temporarilyUnavailable = 4,
};

enum class CKSavePolicy : int {
    ifServerRecordUnchanged = 0,
    changedKeys = 1,
    allKeys = 2,
};

// --- errors ------------------------------------------------------------------

inline constexpr const char* CKErrorDomain = "CKErrorDomain";
// userInfo keys, as the platform spells them.
inline constexpr const char* CKErrorRetryAfterKey = "CKRetryAfter";
inline constexpr const char* CKPartialErrorsByItemIDKey = "CKPartialErrors";
inline constexpr const char* CKRecordChangedErrorServerRecordKey = "ServerRecord";

enum CKErrorCode : long {
    CKErrorInternalError = 1,
    CKErrorPartialFailure = 2,
    CKErrorNetworkUnavailable = 3,
    CKErrorNetworkFailure = 4,
    CKErrorBadContainer = 5,
    CKErrorServiceUnavailable = 6,
    CKErrorRequestRateLimited = 7,
    CKErrorMissingEntitlement = 8,
    CKErrorNotAuthenticated = 9,
    CKErrorPermissionFailure = 10,
    CKErrorUnknownItem = 11,
    CKErrorInvalidArguments = 12,
    CKErrorResultsTruncated = 13,
    CKErrorServerRecordChanged = 14,
    CKErrorServerRejectedRequest = 15,
    CKErrorAssetFileNotFound = 16,
    CKErrorAssetFileModified = 17,
    CKErrorIncompatibleVersion = 18,
    CKErrorConstraintViolation = 19,
    CKErrorOperationCancelled = 20,
    CKErrorChangeTokenExpired = 21,
    CKErrorBatchRequestFailed = 22,
    CKErrorZoneBusy = 23,
    CKErrorBadDatabase = 24,
    CKErrorQuotaExceeded = 25,
    CKErrorZoneNotFound = 26,
    CKErrorLimitExceeded = 27,
    CKErrorUserDeletedZone = 28,
    CKErrorTooManyParticipants = 29,
    CKErrorAlreadyShared = 30,
    CKErrorReferenceViolation = 31,
    CKErrorManagedAccountRestricted = 32,
    CKErrorParticipantMayNeedVerification = 33,
    CKErrorServerResponseLost = 34,
};

using CKError = Foundation::Error;

// An error of CKErrorDomain. A retry-after is stored under CKErrorRetryAfterKey.
CKError makeCKError(long code, std::string description = {}, std::optional<double> retryAfter = std::nullopt);
bool isCKError(const Foundation::Error& error);
std::optional<double> retryAfterSeconds(const Foundation::Error& error);

// Per-item errors of a partial failure, keyed by record ID. In the error's
// userInfo they are a dictionary under CKPartialErrorsByItemIDKey from the
// record ID's description to {"recordName", "zoneName", "code", "description"}.
CKError makePartialFailure(const std::map<CKRecordID, CKError>& itemErrors);
std::map<CKRecordID, CKError> partialErrors(const Foundation::Error& error);

// --- pushes ------------------------------------------------------------------

// A push as the application receives it: a remote-notification dictionary
// {"aps": {"content-available": 1}, "ck": {"cid": container, "nid": id,
//  "met": {"sid": subscription id, "dbs": 1}}}.
struct CKNotification {
    enum class Type { query = 1, recordZone = 2, readNotification = 3, database = 4 };
    Type notificationType = Type::database;
    std::string subscriptionID;
    std::string notificationID;
    std::string containerIdentifier;

    static std::optional<CKNotification> fromRemoteNotificationDictionary(const Dictionary& userInfo);
    Dictionary remoteNotificationDictionary() const;
};

}  // namespace CloudKit
