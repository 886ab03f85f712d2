#include "Nimbus/SyncObject.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "Nimbus/Keys.h"
#include "Nimbus/Nimbus.h"
#include "Nimbus/NimbusAsset.h"
#include "Nimbus/RecordState.h"
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
    env.defaults =
        std::shared_ptr<Foundation::UserDefaults>(std::shared_ptr<void>(), &Foundation::UserDefaults::standard());
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

// A reference whose target is not in the store: a local link that reads as
// none there has not been changed, it is waiting for its target.
bool referencesMissingObject(ObjectStore::Realm& realm, const Value& value) {
    auto reference = CloudKit::CKReference::from(value);
    if (!reference) return false;
    std::string zone = reference->recordID().zoneID.zoneName;
    const std::string suffix = "sZone";
    if (zone.size() <= suffix.size() || zone.compare(zone.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    auto schema = realm.objectSchema(zone.substr(0, zone.size() - suffix.size()));
    if (!schema) return true;
    auto key = primaryKeyFromRecordName(reference->recordID(), *schema);
    return !key || !realm.object(schema->className, *key);
}

// The fields in which the local record differs from the acknowledged one.
std::vector<std::string> changedFields(const CKRecord& local, const CKRecord& base, ObjectStore::Realm& realm) {
    std::vector<std::string> keys = local.allKeys();
    for (const auto& k : base.allKeys())
        if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
    std::vector<std::string> changed;
    for (const auto& k : keys) {
        const Value mine = local.objectForKey(k);
        const Value acknowledged = base.objectForKey(k);
        if (CloudKit::fieldValuesEqual(mine, acknowledged)) continue;
        if (mine.isNull() && referencesMissingObject(realm, acknowledged)) continue;
        changed.push_back(k);
    }
    return changed;
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
    observing_ = false;
    notificationToken_ = realm_->objects(className_)
                             .observe(
                                 [weak](const ObjectStore::AnyCollectionChange& change) {
                                     if (auto self = weak.lock()) self->localChangeHandler(change);
                                 },
                                 environment_.mainQueue);
}

void SyncObjectBase::track(std::string recordName) {
    if (tracked_.insert(recordName).second) trackedOrder_.push_back(std::move(recordName));
}

void SyncObjectBase::untrack(const std::string& recordName) {
    if (tracked_.erase(recordName)) std::erase(trackedOrder_, recordName);
}

void SyncObjectBase::requestFullScan() {
    fullScanDue_ = true;
    sentUnchanged_.clear();
}

void SyncObjectBase::localChangeHandler(const ObjectStore::AnyCollectionChange& change) {
    using Kind = ObjectStore::AnyCollectionChange::Kind;
    if (change.kind == Kind::Error) {
        observing_ = false;  // nothing more is heard: every push scans
        return;
    }
    if (change.kind == Kind::Initial) {
        // Changes from before this delivery are not reported.
        observing_ = true;
        fullScanDue_ = true;
        return;
    }
    if (!change.results) return;
    const auto& results = *change.results;
    const std::size_t count = results.count();
    std::vector<CKRecord> toSave;
    std::vector<CKRecordID> toDelete;
    auto visit = [&](const std::vector<std::size_t>& indexes, bool modified) {
        for (std::size_t i : indexes) {
            auto object = i < count ? results.at(i) : nullptr;
            if (!object) {
                fullScanDue_ = true;
                continue;
            }
            CKRecordID id = recordIDOf(*object);
            sentUnchanged_.erase(id.recordName);
            track(id.recordName);
            if (!isDeletedObject(*object)) {
                toSave.push_back(recordOf(*object));
            } else if (modified) {
                toDelete.push_back(std::move(id));
            }
        }
    };
    visit(change.insertions, false);
    visit(change.modifications, true);
    if (toSave.empty() && toDelete.empty()) return;
    if (pipe_) pipe_(std::move(toSave), std::move(toDelete));
}

// Only what the server has not acknowledged: the whole library would
// overwrite what other devices changed meanwhile.
void SyncObjectBase::pushAllLocalObjects() {
    PendingChanges pending = pendingChanges();
    if (pipe_) pipe_(std::move(pending.recordsToSave), std::move(pending.recordIDsToDelete));
}

void SyncObjectBase::cleanUp() {
    if (!realm_) return;
    try {
        // A flagged object stays until the server has acknowledged its deletion.
        std::vector<std::shared_ptr<ObjectStore::Object>> done;
        for (const auto& object : realm_->objects(className_).filter("isDeleted == true").objects()) {
            auto state = recordState(*realm_, className_, recordIDOf(*object).recordName);
            if (state && state->tombstone() && !state->deletePending()) done.push_back(object);
        }
        if (done.empty()) return;
        realm_->beginWrite();
        for (const auto& object : done) realm_->remove(object);
        realm_->commitWrite(tokensToSkip());
    } catch (const std::exception&) {
        // The flagged objects stay for the next run.
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
    }
}

// --- pending changes ------------------------------------------------------------

std::shared_ptr<const CKRecord> SyncObjectBase::acknowledgedRecord(const std::string& stateId,
                                                                   const std::string& text) {
    std::lock_guard lock(decodedMutex_);
    auto [it, added] = decoded_.try_emplace(stateId);
    if (added || it->second.first != text) {
        auto record = NimbusRecordState::decodeRecord(text);
        it->second = {text, record ? std::make_shared<const CKRecord>(std::move(*record)) : nullptr};
    }
    return it->second.second;
}

bool SyncObjectBase::addPendingChange(const std::shared_ptr<ObjectStore::Object>& object, const CKRecordID& id,
                                      const std::shared_ptr<NimbusRecordState>& state, PendingChanges& out,
                                      std::vector<std::shared_ptr<ObjectStore::Object>>& deletedElsewhere) {
    const bool tombstone = state && state->tombstone();
    const bool flagged = isDeletedObject(*object);
    if (flagged || tombstone) {
        if (tombstone && !flagged) deletedElsewhere.push_back(object);
        if (tombstone && !state->deletePending()) return false;
        out.recordIDsToDelete.push_back(id);
        return true;
    }
    CKRecord local = recordOf(*object);
    auto base = state ? acknowledgedRecord(state->id(), state->recordText()) : nullptr;
    if (!base || !base->recordChangeTag()) {  // never acknowledged: all of it
        out.recordsToSave.push_back(std::move(local));
        return true;
    }
    auto keys = changedFields(local, *base, *realm_);
    if (keys.empty()) return false;
    CKRecord save = *base;
    save.clearChangedKeys();
    for (const auto& k : keys) save.setObject(k, local.objectForKey(k));
    out.recordsToSave.push_back(std::move(save));
    return true;
}

void SyncObjectBase::removeDeletedElsewhere(const std::vector<std::shared_ptr<ObjectStore::Object>>& objects) {
    if (objects.empty()) return;
    // A deletion the server reported wins over a live local copy.
    try {
        realm_->beginWrite();
        for (const auto& object : objects) realm_->remove(object);
        realm_->commitWrite(tokensToSkip());
    } catch (const std::exception&) {
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
        fullScanDue_ = true;
    }
}

PendingChanges SyncObjectBase::pendingChanges() {
    PendingChanges out;
    if (!realm_) return out;
    std::vector<std::shared_ptr<ObjectStore::Object>> deletedElsewhere;
    std::set<std::string> seen;
    std::unordered_set<std::string> looked;
    std::vector<std::string> pendingNames;
    for (const auto& object : realm_->objects(className_).objects()) {
        CKRecordID id = recordIDOf(*object);
        seen.insert(id.recordName);
        auto state = recordState(*realm_, className_, id.recordName);
        if (state) looked.insert(state->id());
        if (addPendingChange(object, id, state, out, deletedElsewhere)) pendingNames.push_back(id.recordName);
    }
    {
        // Decodings of states no object needs any more go.
        std::lock_guard lock(decodedMutex_);
        std::erase_if(decoded_, [&](const auto& entry) { return !looked.count(entry.first); });
    }
    for (const auto& state :
         realm_->objects<NimbusRecordState>()
             .filter(ObjectStore::Predicate("recordType == %@ AND deletePending == true", {className_}))
             .objects()) {
        if (seen.count(state->recordName())) continue;
        out.recordIDsToDelete.emplace_back(state->recordName(), zoneID());
        pendingNames.push_back(state->recordName());
    }
    // What was found pending is what later pushes look at, with what the
    // observation reports from now on.
    trackedOrder_.clear();
    tracked_.clear();
    for (auto& name : pendingNames) track(std::move(name));
    if (observing_) fullScanDue_ = false;
    removeDeletedElsewhere(deletedElsewhere);
    return out;
}

PendingChanges SyncObjectBase::changesToPush() {
    if (!realm_) return {};
    auto schema = realm_->objectSchema(className_);
    if (fullScanDue_ || !observing_ || !schema) return pendingChanges();
    PendingChanges out;
    std::vector<std::shared_ptr<ObjectStore::Object>> deletedElsewhere;
    std::vector<std::string> stillPending;
    for (const auto& name : trackedOrder_) {
        CKRecordID id(name, zoneID());
        auto key = primaryKeyFromRecordName(id, *schema);
        auto object = key ? realm_->object(className_, *key) : nullptr;
        auto state = recordState(*realm_, className_, name);
        bool pending = false;
        if (object) {
            pending = addPendingChange(object, id, state, out, deletedElsewhere);
        } else if (state && state->deletePending()) {
            out.recordIDsToDelete.push_back(id);
            pending = true;
        }
        if (pending) stillPending.push_back(name);
    }
    trackedOrder_.clear();
    tracked_.clear();
    for (auto& name : stillPending) track(std::move(name));
    removeDeletedElsewhere(deletedElsewhere);
    return out;
}

void SyncObjectBase::markSent(const std::vector<CKRecord>& records) {
    if (!realm_) return;
    std::vector<const CKRecord*> first;
    for (const auto& record : records) {
        if (record.recordType() != className_) continue;
        sentUnchanged_.insert_or_assign(record.recordID().recordName, record);
        if (record.recordChangeTag()) continue;
        auto state = recordState(*realm_, className_, record.recordID().recordName);
        if (!state || (!state->tombstone() && !state->record())) first.push_back(&record);
    }
    if (first.empty()) return;
    try {
        realm_->beginWrite();
        for (const auto* record : first)
            makeRecordState(*realm_, className_, record->recordID().recordName)->setRecord(*record);
        realm_->commitWrite(tokensToSkip());
    } catch (const std::exception&) {
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
        fullScanDue_ = true;
    }
}

void SyncObjectBase::acknowledge(const std::vector<CKRecord>& sent, const std::vector<CKRecord>& saved,
                                 const std::vector<CKRecordID>& deleted) {
    if (!realm_) return;
    auto mine = [&](const CKRecord& r) { return r.recordType() == className_; };
    const CKRecordZoneID zone = zoneID();
    if (std::none_of(saved.begin(), saved.end(), mine) &&
        std::none_of(deleted.begin(), deleted.end(), [&](const CKRecordID& id) { return id.zoneID == zone; }))
        return;  // nothing of this type: no write
    std::vector<std::string> inStep;
    try {
        realm_->beginWrite();
        for (const auto& record : saved) {
            if (record.recordType() != className_) continue;
            const std::string& name = record.recordID().recordName;
            auto state = makeRecordState(*realm_, className_, name);
            // The server's record may hold other devices' changes this store has
            // not applied yet: the acknowledged state is what was sent, under
            // the server's new tag, so those changes are neither taken for local
            // ones nor skipped when the record is fetched.
            CKRecord acknowledged = record;
            for (const auto& s : sent)
                if (s.recordID() == record.recordID()) {
                    acknowledged = s;
                    acknowledged.setServerState(record.recordChangeTag(), record.creationDate(),
                                                record.modificationDate());
                    auto it = sentUnchanged_.find(name);
                    if (it != sentUnchanged_.end() && it->second.recordChangeTag() == s.recordChangeTag() &&
                        CloudKit::sameContent(it->second, s))
                        inStep.push_back(name);
                    break;
                }
            state->setRecord(acknowledged);
            state->setTombstone(false);
            state->setDeletePending(false);
        }
        for (const auto& id : deleted) {
            if (id.zoneID != zone) continue;
            auto state = makeRecordState(*realm_, className_, id.recordName);
            state->setRecord(std::nullopt);
            state->setTombstone(true);
            state->setDeletePending(false);
        }
        realm_->commitWrite(tokensToSkip());
        // Sent as they are and acknowledged: nothing left to look at.
        for (const auto& name : inStep) {
            sentUnchanged_.erase(name);
            untrack(name);
        }
    } catch (const std::exception& e) {
        // Unrecorded, the changes count as pending and go again; the server's
        // change tags make that harmless.
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
        fullScanDue_ = true;
        debugLog("Recording a push failed: ", std::string(e.what()));
    }
}

void SyncObjectBase::reconcileAfterFullFetch(const std::set<std::string>& recordNames) {
    if (!realm_) return;
    requestFullScan();
    std::vector<std::pair<std::shared_ptr<ObjectStore::Object>, std::shared_ptr<NimbusRecordState>>> gone;
    for (const auto& object : realm_->objects(className_).objects()) {
        const std::string name = recordIDOf(*object).recordName;
        if (recordNames.count(name) || isDeletedObject(*object)) continue;
        auto state = recordState(*realm_, className_, name);
        auto base = state ? state->record() : std::nullopt;
        if (!base || !base->recordChangeTag()) continue;  // never acknowledged: still to be sent
        if (!changedFields(recordOf(*object), *base, *realm_).empty()) continue;  // the push settles it
        gone.emplace_back(object, state);
    }
    if (gone.empty()) return;
    try {
        realm_->beginWrite();
        for (auto& [object, state] : gone) {
            NimbusAsset::deleteFilesOfObject(state->recordName());
            realm_->remove(object);
            state->setRecord(std::nullopt);
            state->setTombstone(true);
            state->setDeletePending(false);
        }
        realm_->commitWrite(tokensToSkip());
    } catch (const std::exception& e) {
        if (realm_->isInWriteTransaction()) realm_->cancelWrite();
        debugLog("Removing objects the cloud no longer has failed: ", std::string(e.what()));
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
    // The observation does not hear this write, nor what the applied-record
    // rule changes beside it.
    requestFullScan();
    const std::string& name = record.recordID().recordName;
    auto state = recordState(*realm_, className_, name);
    if (state && state->tombstone()) {
        // Brought back by a stale push: deleted again, never applied.
        if (!state->deletePending()) {
            try {
                realm_->write([&] { state->setDeletePending(true); }, tokensToSkip());
            } catch (const std::exception&) {
                if (realm_->isInWriteTransaction()) realm_->cancelWrite();
            }
        }
        return;
    }
    auto schema = realm_->objectSchema(className_);
    auto key = schema ? primaryKeyFromRecordName(record.recordID(), *schema) : std::nullopt;
    auto existing = key ? realm_->object(className_, *key) : nullptr;
    if (existing && isDeletedObject(*existing)) return;  // the local deletion goes up and wins
    auto base = state ? state->record() : std::nullopt;
    if (existing && base && base->recordChangeTag() && base->recordChangeTag() == record.recordChangeTag() &&
        CloudKit::sameContent(*base, record))
        return;

    // Local changes the server has not acknowledged stay on top of the
    // server's record; they are pushed next, based on it.
    CKRecord merged = record;
    std::optional<CKRecord> previous;
    if (existing) previous = recordOf(*existing);
    if (existing && base) {
        CKRecord local = *previous;
        for (const auto& k : changedFields(local, *base, *realm_)) merged.setObject(k, local.objectForKey(k));
    }
    std::vector<UnresolvedLink> unresolved;
    auto object = objectFromRecord(className_, merged, realm_, &unresolved);
    if (!object) {
        debugLog("There is something wrong with the converson from cloud record to local object");
        return;
    }
    LinkBook book{*environment_.defaults};
    try {
        realm_->beginWrite();
        realm_->add(object, ObjectStore::UpdatePolicy::modified);
        auto newState = makeRecordState(*realm_, className_, name);
        newState->setRecord(record);
        newState->setTombstone(false);
        newState->setDeletePending(false);
        if (appliedHook_) {
            auto stored = key ? realm_->object(className_, *key) : nullptr;
            appliedHook_(*realm_, stored ? stored : object, previous);
        }
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
    requestFullScan();
    auto schema = realm_->objectSchema(className_);
    if (!schema) return;
    auto key = primaryKeyFromRecordName(recordID, *schema);
    if (!key) return;
    auto object = realm_->object(className_, *key);
    auto state = recordState(*realm_, className_, recordID.recordName);
    if (state && state->tombstone() && !state->deletePending() && !object) return;
    // A deletion wins over local changes: the tombstone keeps it deleted.
    if (object) NimbusAsset::deleteFilesOfObject(recordID.recordName);
    try {
        realm_->beginWrite();
        if (object) realm_->remove(object);
        auto tomb = makeRecordState(*realm_, className_, recordID.recordName);
        tomb->setRecord(std::nullopt);
        tomb->setTombstone(true);
        tomb->setDeletePending(false);
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
