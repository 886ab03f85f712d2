#pragma once
// What the server last acknowledged of each synced record, kept in the
// library store beside the objects (so applying a fetched record and its
// state is one commit). A local object differs from its state exactly where
// it holds changes the server has not acknowledged; those are what a push
// sends, built on the acknowledged record so the server can refuse a save
// based on an outdated one.
//
// An object whose state has no record has never been acknowledged (a new
// object, or a library from before this bookkeeping): all of it is pending.
// A record without a change tag is a new record as first sent, not yet
// acknowledged: still all pending, but when the server turns out to hold it
// (the reply was lost), changes made since are told from what it holds.
// A tombstone is a record known to be deleted: it is never applied again,
// and when it comes back from a stale push it is deleted again.

#include <memory>
#include <optional>
#include <string>

#include "Platform/CloudKit/Types.h"
#include "Platform/ObjectStore/Object.h"
#include "Platform/ObjectStore/Realm.h"

namespace Nimbus {

class NimbusRecordState : public ObjectStore::Object {
public:
    static ObjectStore::SchemaRef objectSchema();
    NimbusRecordState();
    explicit NimbusRecordState(ObjectStore::Binding binding);

    // "<record type>/<record name>".
    static std::string keyFor(const std::string& recordType, const std::string& recordName);

    std::string id() const;
    void setId(const std::string& id);
    std::string recordType() const;
    void setRecordType(const std::string& type);
    std::string recordName() const;
    void setRecordName(const std::string& name);
    // The acknowledged record with its change tag; none when never acknowledged
    // or deleted.
    std::optional<CloudKit::CKRecord> record() const;
    // The acknowledged record as stored (empty for none), and its decoding.
    std::string recordText() const;
    static std::optional<CloudKit::CKRecord> decodeRecord(const std::string& text);
    void setRecord(const std::optional<CloudKit::CKRecord>& record);
    bool tombstone() const;
    void setTombstone(bool deleted);
    // The deletion still has to reach the server.
    bool deletePending() const;
    void setDeletePending(bool pending);
};

// The state of a record, or nullptr.
std::shared_ptr<NimbusRecordState> recordState(ObjectStore::Realm& realm, const std::string& recordType,
                                               const std::string& recordName);
// Inside a write: the state of a record, made when missing.
std::shared_ptr<NimbusRecordState> makeRecordState(ObjectStore::Realm& realm, const std::string& recordType,
                                                   const std::string& recordName);

}  // namespace Nimbus
