#pragma once
// How a persistent object of the store becomes a cloud record and back,
// generically by the store's schema of its class.
//
// - Record type: the class name. Zone: the class name followed by "sZone",
//   owned by the current user. Record name: the primary key's text (an
//   integer key as decimal text).
// - One field per persistent property, named as the property, in schema order:
//   single values as they are (Booleans as 0 or 1, no value removes the field);
//   a link to a NimbusAsset as an asset; another link as a reference (action
//   none) when the linked class has a text or integer primary key; non-empty
//   lists of values as arrays. Linking objects, "any" properties and lists of
//   objects are not written.
// - Reading back fills a new object of the class (fresh defaults first): a
//   value of the wrong kind counts as none (optionals become none, others keep
//   their default), a reference resolves to the object of the linked class in
//   the store whose key its record name names (by that class's key type), or
//   none when it is not there yet. Lists of dates and of objects are not read
//   back.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/CloudKit/Types.h"
#include "Platform/ObjectStore/Realm.h"

namespace Nimbus {

using CloudKit::CKRecord;
using CloudKit::CKRecordID;
using CloudKit::CKRecordZoneID;

// --- object to record ------------------------------------------------------------

CKRecordZoneID zoneIDForRecordType(const std::string& recordType);
// Aborts with the platform's message when the class has no usable primary key
// (a programming error of a synced type, never a result of data).
CKRecordID recordIDOf(const ObjectStore::Object& object);
CKRecord recordOf(const ObjectStore::Object& object);
// The object's deletion flag: its "isDeleted" property (false without one).
bool isDeletedObject(const ObjectStore::Object& object);
// Whether objects of the class can be referenced from a record: a text or
// integer primary key.
bool isRecordConvertibleClass(const ObjectStore::ObjectSchema& schema);

// --- record to object --------------------------------------------------------------

// A reference whose target was not in the store when the record was read.
struct UnresolvedLink {
    std::string property;
    std::string targetClass;
    Foundation::Value targetKey;
};

// A new unmanaged object of the class with the record's fields. `store`
// resolves references. Unresolved references are listed in `unresolved`.
std::shared_ptr<ObjectStore::Object> objectFromRecord(const std::string& className, const CKRecord& record,
                                                      const std::shared_ptr<ObjectStore::Realm>& store,
                                                      std::vector<UnresolvedLink>* unresolved = nullptr);

// The key a record name stands for, by the key type of the class: its text for
// a text key; for an integer key the number the whole name spells (nothing
// when it spells none); nothing for a class without a primary key.
std::optional<Foundation::Value> primaryKeyFromRecordName(const CKRecordID& recordID,
                                                          const ObjectStore::ObjectSchema& schema);

// --- the two protocols over a model type T -----------------------------------------

template <class T>
struct CKRecordConvertible {
    static std::string recordType() { return T::objectSchema()->className; }
    static CKRecordZoneID zoneID() { return zoneIDForRecordType(recordType()); }
    static CKRecordID recordID(const T& object) { return recordIDOf(object); }
    static CKRecord record(const T& object) { return recordOf(object); }
    static bool isDeleted(const T& object) { return isDeletedObject(object); }
};

template <class T>
struct CKRecordRecoverable {
    static std::shared_ptr<T> objectFromRecord(const CKRecord& record, const std::shared_ptr<ObjectStore::Realm>& store,
                                               std::vector<UnresolvedLink>* unresolved = nullptr) {
        return std::dynamic_pointer_cast<T>(
            ::Nimbus::objectFromRecord(T::objectSchema()->className, record, store, unresolved));
    }
};

}  // namespace Nimbus
