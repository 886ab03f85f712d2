#include "Nimbus/SyncObject.h"

#include <algorithm>

#include "Nimbus/Keys.h"
#include "Nimbus/Nimbus.h"
#include "Nimbus/NimbusAsset.h"
#include "Platform/Foundation/KeyedArchiver.h"

namespace Nimbus {

using CloudKit::CKRecord;
using CloudKit::CKRecordID;
using CloudKit::CKServerChangeToken;
using CloudKit::CKServerChangeTokenPtr;
using Foundation::Value;

SyncEnvironment SyncEnvironment::standard() {
    SyncEnvironment env;
    // Non-owning: the standard instances live for the process.
    env.defaults = std::shared_ptr<Foundation::UserDefaults>(std::shared_ptr<void>(), &Foundation::UserDefaults::standard());
    env.notificationCenter = std::shared_ptr<Foundation::NotificationCenter>(
        std::shared_ptr<void>(), &Foundation::NotificationCenter::defaultCenter());
    env.mainQueue = Foundation::DispatchQueue::main();
    return env;
}

std::optional<Foundation::Data> archiveChangeToken(const CKServerChangeTokenPtr& token) {
    if (!token) return std::nullopt;
    CKServerChangeToken::registerCoding();
    auto copy = std::make_shared<CKServerChangeToken>(token->opaque());
    return Foundation::KeyedArchiver::archivedData(Value(std::shared_ptr<Foundation::Object>(copy)));
}

CKServerChangeTokenPtr unarchiveChangeToken(const Value& stored) {
    if (!stored.isData()) return nullptr;
    CKServerChangeToken::registerCoding();
    return Foundation::KeyedUnarchiver::unarchivedObject<CKServerChangeToken>(stored.asData());
}

// --- the book of owners that have not arrived yet -----------------------------------
//
// Entries {"sourceClass", "sourceKey", "property", "targetClass", "targetKey"}
// in the user defaults, so that a colour whose folder comes in a later fetch,
// or after a relaunch, is still linked to it. Main thread only.

namespace {

struct LinkBook {
    Foundation::UserDefaults& defaults;

    Foundation::Array entries() const {
        auto stored = defaults.arrayForKey(kUnresolvedLinksKey);
        return stored ? *stored : Foundation::Array{};
    }
    void store(const Foundation::Array& list) {
        if (list.empty()) {
            defaults.removeObjectForKey(kUnresolvedLinksKey);
        } else {
            defaults.set(kUnresolvedLinksKey, list);
        }
    }
};

bool entryIs(const Value& e, const char* classKey, const char* keyKey, const std::string& className, const Value& key) {
    return e[classKey] == Value(className) && e[keyKey] == key;
}

}  // namespace

SyncObjectBase::SyncObjectBase(std::string className, std::shared_ptr<ObjectStore::Realm> realm,
                               SyncEnvironment environment)
    : className_(std::move(className)), realm_(std::move(realm)), environment_(std::move(environment)) {
    if (!environment_.defaults || !environment_.notificationCenter || !environment_.mainQueue) {
        SyncEnvironment standard = SyncEnvironment::standard();
        if (!environment_.defaults) environment_.defaults = standard.defaults;
        if (!environment_.notificationCenter) environment_.notificationCenter = standard.notificationCenter;
        if (!environment_.mainQueue) environment_.mainQueue = standard.mainQueue;
    }
}

SyncObjectBase::~SyncObjectBase() = default;

std::string SyncObjectBase::zoneChangesTokenKey() const { return className_ + value(NimbusKey::zoneChangesTokenKey); }
std::string SyncObjectBase::hasCustomZoneCreatedKey() const {
    return className_ + value(NimbusKey::hasCustomZoneCreatedKey);
}

CKServerChangeTokenPtr SyncObjectBase::zoneChangesToken() const {
    return unarchiveChangeToken(environment_.defaults->objectForKey(zoneChangesTokenKey()));
}

void SyncObjectBase::setZoneChangesToken(CKServerChangeTokenPtr token) {
    auto data = archiveChangeToken(token);
    if (data) {
        environment_.defaults->set(zoneChangesTokenKey(), *data);
    } else {
        environment_.defaults->removeObjectForKey(zoneChangesTokenKey());
    }
}

bool SyncObjectBase::hasCustomZoneCreated() const {
    Value v = environment_.defaults->objectForKey(hasCustomZoneCreatedKey());
    return v.isBool() && v.asBool();
}

void SyncObjectBase::setHasCustomZoneCreated(bool created) {
    environment_.defaults->set(hasCustomZoneCreatedKey(), created);
}

void SyncObjectBase::saveZoneChangesTokenAfterApplying(CKServerChangeTokenPtr token, bool fetchEnded) {
    if (!applyFailed_) setZoneChangesToken(std::move(token));
    if (fetchEnded) applyFailed_ = false;
}

std::vector<ObjectStore::NotificationTokenRef> SyncObjectBase::tokensToSkip() const {
    std::vector<ObjectStore::NotificationTokenRef> tokens;
    if (skipTokens_) tokens = skipTokens_();
    if (notificationToken_ && std::find(tokens.begin(), tokens.end(), notificationToken_) == tokens.end())
        tokens.push_back(notificationToken_);
    std::erase(tokens, nullptr);
    return tokens;
}

// --- local changes --------------------------------------------------------------

void SyncObjectBase::observeLocalChanges() {
    if (!realm_) return;
    std::weak_ptr<SyncObjectBase> weak = weak_from_this();
    notificationToken_ = realm_->objects(className_).observe(
        [weak](const ObjectStore::AnyCollectionChange& change) {
            if (auto self = weak.lock()) self->localChangeHandler(change);
        },
        environment_.mainQueue);
}

void SyncObjectBase::localChangeHandler(const ObjectStore::AnyCollectionChange& change) {
    if (change.kind != ObjectStore::AnyCollectionChange::Kind::Update || !change.results) return;
    const auto& results = *change.results;
    const std::size_t count = results.count();
    std::vector<CKRecord> toSave;
    std::vector<CKRecordID> toDelete;
    auto visit = [&](const std::vector<std::size_t>& indexes, bool deletions) {
        for (std::size_t i : indexes) {
            if (i >= count) continue;
            auto object = results.at(i);
            if (!object) continue;
            bool flagged = isDeletedObject(*object);
            if (!deletions && !flagged) toSave.push_back(recordOf(*object));
            if (deletions && flagged) toDelete.push_back(recordIDOf(*object));
        }
    };
    visit(change.insertions, false);
    visit(change.modifications, false);
    visit(change.modifications, true);
    if (toSave.empty() && toDelete.empty()) return;
    if (pipe_) pipe_(std::move(toSave), std::move(toDelete));
}

void SyncObjectBase::pushAllLocalObjects() {
    std::vector<CKRecord> records;
    if (realm_) {
        for (const auto& object : realm_->objects(className_).filter("isDeleted == false").objects())
            records.push_back(recordOf(*object));
    }
    if (pipe_) pipe_(std::move(records), {});
}

void SyncObjectBase::cleanUp() {
    if (!realm_) return;
    try {
        auto flagged = realm_->objects(className_).filter("isDeleted == true");
        realm_->beginWrite();
        realm_->remove(flagged);
        realm_->commitWrite(tokensToSkip());
    } catch (const std::exception&) {
        // The flagged objects stay for the next run.
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
    }
}

// --- remote changes -----------------------------------------------------------------

void SyncObjectBase::addRecord(const CKRecord& record) {
    auto self = shared_from_this();
    environment_.mainQueue->async([self, record] { self->applyRemoteRecord(record); });
}

void SyncObjectBase::deleteRecord(const CKRecordID& recordID) {
    auto self = shared_from_this();
    environment_.mainQueue->async([self, recordID] { self->applyRemoteDeletion(recordID); });
}

void SyncObjectBase::applyRemoteRecord(const CKRecord& record) {
    if (!realm_) return;
    std::vector<UnresolvedLink> unresolved;
    auto object = objectFromRecord(className_, record, realm_, &unresolved);
    if (!object) {
        debugLog("There is something wrong with the converson from cloud record to local object");
        return;
    }
    LinkBook book{*environment_.defaults};
    try {
        realm_->beginWrite();
        realm_->add(object, ObjectStore::UpdatePolicy::modified);
        const auto* keyProperty = object->objectSchema().primaryKeyProperty();
        const Value key = keyProperty ? object->value(keyProperty->name) : Value();

        // Objects that waited for this one get their link now (when nothing
        // has linked them elsewhere meanwhile).
        Foundation::Array remaining;
        for (const auto& e : book.entries()) {
            if (!keyProperty || !entryIs(e, "targetClass", "targetKey", className_, key)) {
                // This object's own earlier waits are replaced by the ones below.
                if (!(keyProperty && entryIs(e, "sourceClass", "sourceKey", className_, key))) remaining.push_back(e);
                continue;
            }
            const auto* sourceClass = e["sourceClass"].stringOrNull();
            const auto* property = e["property"].stringOrNull();
            if (!sourceClass || !property) continue;
            auto source = realm_->object(*sourceClass, e["sourceKey"]);
            if (source && source->value(*property).isNull()) source->setValue(*property, Value(object));
        }
        if (keyProperty) {
            for (const auto& link : unresolved) {
                remaining.push_back(Foundation::Dictionary{{"sourceClass", className_},
                                                           {"sourceKey", key},
                                                           {"property", link.property},
                                                           {"targetClass", link.targetClass},
                                                           {"targetKey", link.targetKey}});
            }
        }
        realm_->commitWrite(tokensToSkip());
        book.store(remaining);
    } catch (const std::exception& e) {
        // Not saving the zone's token makes the next fetch bring the record again.
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
        applyFailed_ = true;
        debugLog("Applying a cloud record failed: ", std::string(e.what()));
    }
}

void SyncObjectBase::applyRemoteDeletion(const CKRecordID& recordID) {
    if (!realm_) return;
    auto schema = realm_->objectSchema(className_);
    if (!schema) return;
    auto key = primaryKeyFromRecordName(recordID, *schema);
    if (!key) return;
    auto object = realm_->object(className_, *key);
    if (!object) return;
    NimbusAsset::deleteFilesOfObject(recordID.recordName);
    try {
        realm_->beginWrite();
        realm_->remove(object);
        realm_->commitWrite(tokensToSkip());
    } catch (const std::exception& e) {
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
        applyFailed_ = true;
        debugLog("Applying a cloud deletion failed: ", std::string(e.what()));
        return;
    }
    LinkBook book{*environment_.defaults};
    Foundation::Array remaining;
    for (const auto& e : book.entries()) {
        if (entryIs(e, "sourceClass", "sourceKey", className_, *key) ||
            entryIs(e, "targetClass", "targetKey", className_, *key))
            continue;
        remaining.push_back(e);
    }
    book.store(remaining);
}

}  // namespace Nimbus
