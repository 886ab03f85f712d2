#include "Nimbus/SyncEngine.h"

#include "Nimbus/Keys.h"
#include "Nimbus/Nimbus.h"
#include "Nimbus/SyncObject.h"

namespace Nimbus {

using namespace CloudKit;
using Kind = ErrorHandler::OperationResult::Kind;
using Reason = ErrorHandler::FailReason;

std::vector<PushPiece> splitOversizedPush(const std::vector<CKRecord>& save, const std::vector<CKRecordID>& remove) {
    std::vector<PushPiece> pieces;
    if (save.size() > kPushChunkSize) {
        for (std::size_t start = 0; start < save.size(); start += kPushChunkSize) {
            std::size_t end = std::min(save.size(), start + kPushChunkSize);
            pieces.push_back(PushPiece{std::vector<CKRecord>(save.begin() + static_cast<std::ptrdiff_t>(start),
                                                             save.begin() + static_cast<std::ptrdiff_t>(end)),
                                       remove});
        }
        return pieces;
    }
    const std::size_t total = save.size() + remove.size();
    if (total <= 1) return pieces;
    // Halve the items in order, saves first: each half is smaller than the whole.
    const std::size_t firstHalf = (total + 1) / 2;
    PushPiece first, second;
    for (std::size_t i = 0; i < save.size(); ++i) (i < firstHalf ? first : second).recordsToSave.push_back(save[i]);
    for (std::size_t i = 0; i < remove.size(); ++i)
        (save.size() + i < firstHalf ? first : second).recordIDsToDelete.push_back(remove[i]);
    pieces.push_back(std::move(first));
    pieces.push_back(std::move(second));
    return pieces;
}

std::shared_ptr<SyncEngine> SyncEngine::make(std::vector<std::shared_ptr<Syncable>> objects,
                                             std::shared_ptr<CKContainer> container,
                                             std::shared_ptr<ObjectStore::Realm> realm, SyncEnvironment environment) {
    std::shared_ptr<SyncEngine> engine(new SyncEngine(std::move(objects), std::move(container), std::move(environment)));
    std::weak_ptr<SyncEngine> weak = engine;
    for (const auto& object : engine->syncObjects_) {
        object->setRealm(realm);
        object->setPipeToEngine([weak](std::vector<CKRecord> save, std::vector<CKRecordID> remove) {
            if (auto self = weak.lock()) self->modifyRecords(std::move(save), std::move(remove));
        });
        object->setSkipTokens([weak] {
            std::vector<ObjectStore::NotificationTokenRef> tokens;
            if (auto self = weak.lock()) {
                for (const auto& o : self->syncObjects_)
                    if (auto token = o->notificationToken()) tokens.push_back(token);
            }
            return tokens;
        });
    }
    return engine;
}

SyncEngine::SyncEngine(std::vector<std::shared_ptr<Syncable>> objects, std::shared_ptr<CKContainer> container,
                       SyncEnvironment environment)
    : defaultContainer_(std::move(container)),
      privateDatabase_(defaultContainer_->privateCloudDatabase()),
      syncObjects_(std::move(objects)),
      environment_(std::move(environment)) {
    SyncEnvironment standard = SyncEnvironment::standard();
    if (!environment_.defaults) environment_.defaults = standard.defaults;
    if (!environment_.notificationCenter) environment_.notificationCenter = standard.notificationCenter;
    if (!environment_.mainQueue) environment_.mainQueue = standard.mainQueue;
}

SyncEngine::~SyncEngine() {
    std::lock_guard lock(observersMutex_);
    for (auto token : observers_) environment_.notificationCenter->removeObserver(token);
}

void SyncEngine::addObserver(const std::string& name, Foundation::NotificationCenter::Block block) {
    auto token = environment_.notificationCenter->addObserver(name, std::move(block));
    std::lock_guard lock(observersMutex_);
    observers_.push_back(token);
}

std::shared_ptr<Syncable> SyncEngine::objectForZone(const CKRecordZoneID& zoneID) const {
    for (const auto& o : syncObjects_)
        if (o->zoneID() == zoneID) return o;
    return nullptr;
}

std::shared_ptr<Syncable> SyncEngine::objectForRecordType(const std::string& recordType) const {
    for (const auto& o : syncObjects_)
        if (o->recordType() == recordType) return o;
    return nullptr;
}

// --- persistent state ------------------------------------------------------------------

CKServerChangeTokenPtr SyncEngine::databaseChangeToken() const {
    return unarchiveChangeToken(environment_.defaults->objectForKey(value(NimbusKey::databaseChangesTokenKey)));
}

void SyncEngine::setDatabaseChangeToken(const CKServerChangeTokenPtr& token) {
    auto data = archiveChangeToken(token);
    if (data) {
        environment_.defaults->set(value(NimbusKey::databaseChangesTokenKey), *data);
    } else {
        environment_.defaults->removeObjectForKey(value(NimbusKey::databaseChangesTokenKey));
    }
}

bool SyncEngine::isSubscriptionCached() const {
    Foundation::Value v = environment_.defaults->objectForKey(value(NimbusKey::subscriptionIsLocallyCachedKey));
    return v.isBool() && v.asBool();
}

// --- start-up ----------------------------------------------------------------------------

void SyncEngine::start() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    defaultContainer_->accountStatus([weak](CKAccountStatus status, const OptionalError&) {
        auto self = weak.lock();
        if (!self) return;
        if (status != CKAccountStatus::available) {
            debugLog("Easy, my boy. You haven't logged into iCloud account on your device/simulator yet.");
            return;
        }
        self->runStartSequence();
    });
}

void SyncEngine::runStartSequence() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    fetchDatabaseChanges();
    resumeLongLivedOperations();
    createMissingZones([weak](const OptionalError& error) {
        if (error) return;
        if (auto self = weak.lock())
            for (const auto& o : self->syncObjects_) o->observeLocalChanges();
    });
    observeRemoteChangeNotice();
    addObserver(kApplicationWillTerminateNotification, [weak](const Foundation::Notification&) {
        if (auto self = weak.lock()) self->cleanUp();
    });
    if (!isSubscriptionCached()) subscribeToDatabase();
}

void SyncEngine::observeRemoteChangeNotice() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    addObserver(name(Notifications::cloudKitDataDidChangeRemotely), [weak](const Foundation::Notification&) {
        auto self = weak.lock();
        if (!self) return;
        Foundation::DispatchQueue::global()->async([self] { self->fetchDatabaseChanges(); });
    });
}

// --- pulls ----------------------------------------------------------------------------------

void SyncEngine::pull() { fetchDatabaseChanges(); }

void SyncEngine::fetchDatabaseChanges(Completion completion) {
    auto op = std::make_shared<CKFetchDatabaseChangesOperation>(databaseChangeToken());
    op->fetchAllChanges = true;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    op->changeTokenUpdatedBlock = [weak](const CKServerChangeTokenPtr& token) {
        if (auto self = weak.lock()) self->setDatabaseChangeToken(token);
    };
    op->fetchDatabaseChangesCompletionBlock = [weak, completion](const CKServerChangeTokenPtr& token, bool,
                                                                 const OptionalError& error) {
        auto self = weak.lock();
        if (!self) return;
        auto result = self->errorHandler_.classify(error);
        switch (result.kind) {
            case Kind::success:
                self->setDatabaseChangeToken(token);
                self->fetchZoneChanges(completion);
                break;
            case Kind::retry:
                self->errorHandler_.scheduleRetry(
                    result.afterSeconds, [self, completion] { self->fetchDatabaseChanges(completion); },
                    self->environment_.mainQueue);
                break;
            case Kind::recoverableError:
                if (result.reason == Reason::changeTokenExpired) {
                    self->environment_.defaults->removeObjectForKey(value(NimbusKey::databaseChangesTokenKey));
                    self->fetchDatabaseChanges(completion);
                }
                break;
            default:
                break;
        }
    };
    privateDatabase_->add(op);
}

void SyncEngine::fetchZoneChanges(Completion completion) {
    std::vector<CKRecordZoneID> zoneIDs;
    std::map<CKRecordZoneID, CKFetchRecordZoneChangesOptions> options;
    for (const auto& o : syncObjects_) {
        zoneIDs.push_back(o->zoneID());
        options[o->zoneID()].previousServerChangeToken = o->zoneChangesToken();
    }
    auto op = std::make_shared<CKFetchRecordZoneChangesOperation>(zoneIDs, options);
    op->fetchAllChanges = true;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    auto mainQueue = environment_.mainQueue;

    op->recordZoneChangeTokensUpdatedBlock = [weak, mainQueue](const CKRecordZoneID& zoneID,
                                                                const CKServerChangeTokenPtr& token, const auto&) {
        auto self = weak.lock();
        if (!self) return;
        // Saved on the main queue behind the records of this batch, so the
        // token never runs ahead of what the store holds.
        if (auto object = self->objectForZone(zoneID))
            mainQueue->async([object, token] { object->saveZoneChangesTokenAfterApplying(token, false); });
    };
    op->recordChangedBlock = [weak](const CKRecord& record) {
        auto self = weak.lock();
        if (!self) return;
        if (auto object = self->objectForRecordType(record.recordType())) object->addRecord(record);
    };
    op->recordWithIDWasDeletedBlock = [weak](const CKRecordID& recordID, const std::string&) {
        auto self = weak.lock();
        if (!self) return;
        if (auto object = self->objectForZone(recordID.zoneID)) object->deleteRecord(recordID);
    };
    op->recordZoneFetchCompletionBlock = [weak, mainQueue, completion](const CKRecordZoneID& zoneID,
                                                                       const CKServerChangeTokenPtr& token, const auto&,
                                                                       bool, const OptionalError& error) {
        auto self = weak.lock();
        if (!self) return;
        auto result = self->errorHandler_.classify(error);
        switch (result.kind) {
            case Kind::success: {
                auto object = self->objectForZone(zoneID);
                if (!object) break;
                // Posted from the main queue once this zone's writes have run.
                auto center = self->environment_.notificationCenter;
                mainQueue->async([object, token, completion, center, zoneID] {
                    object->saveZoneChangesTokenAfterApplying(token, true);
                    if (completion) completion();
                    debugLog("Sync successfully: " + zoneID.description() + ")");
                    center->post(name(Notifications::cloudKitNewData));
                });
                break;
            }
            case Kind::retry:
                self->errorHandler_.scheduleRetry(
                    result.afterSeconds, [self, completion] { self->fetchZoneChanges(completion); }, mainQueue);
                break;
            case Kind::recoverableError:
                if (result.reason == Reason::changeTokenExpired) {
                    if (auto object = self->objectForZone(zoneID)) {
                        // Behind the writes still queued, which would otherwise
                        // save the expired token again.
                        mainQueue->async([self, object, completion] {
                            object->setZoneChangesToken(nullptr);
                            self->fetchZoneChanges(completion);
                        });
                    }
                }
                break;
            default:
                break;
        }
    };
    privateDatabase_->add(op);
}

// --- zones and subscription ------------------------------------------------------------------

void SyncEngine::createMissingZones(ErrorCompletion completion) {
    std::vector<CKRecordZone> zones;
    for (const auto& o : syncObjects_)
        if (!o->hasCustomZoneCreated()) zones.emplace_back(o->zoneID());
    auto op = std::make_shared<CKModifyRecordZonesOperation>(zones, std::vector<CKRecordZoneID>{});
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    op->modifyRecordZonesCompletionBlock = [weak, completion](const auto&, const auto&, const OptionalError& error) {
        auto self = weak.lock();
        if (!self) return;
        auto result = self->errorHandler_.classify(error);
        auto mainQueue = self->environment_.mainQueue;
        if (result.kind == Kind::success) {
            for (const auto& o : self->syncObjects_) o->setHasCustomZoneCreated(true);
            mainQueue->async([completion] {
                if (completion) completion(std::nullopt);
            });
        } else if (result.kind == Kind::retry) {
            self->errorHandler_.scheduleRetry(
                result.afterSeconds, [self, completion] { self->createMissingZones(completion); }, mainQueue);
        } else {
            mainQueue->async([completion, error] {
                if (completion) completion(error);
            });
        }
    };
    privateDatabase_->add(op);
}

void SyncEngine::subscribeToDatabase() {
    CKDatabaseSubscription subscription(NimbusConstant::subscriptionID);
    subscription.notificationInfo.shouldSendContentAvailable = true;
    auto op = std::make_shared<CKModifySubscriptionsOperation>(std::vector<CKDatabaseSubscription>{subscription},
                                                               std::vector<std::string>{});
    op->qualityOfService = 17;
    auto defaults = environment_.defaults;
    op->modifySubscriptionsCompletionBlock = [defaults](const auto&, const auto&, const OptionalError& error) {
        if (!error) defaults->set(value(NimbusKey::subscriptionIsLocallyCachedKey), true);
    };
    privateDatabase_->add(op);
}

void SyncEngine::resumeLongLivedOperations() {
    auto container = defaultContainer_;
    container->fetchAllLongLivedOperationIDs(
        [container](const std::optional<std::vector<std::string>>& ids, const OptionalError& error) {
            if (error || !ids) return;
            for (const auto& id : *ids) {
                container->fetchLongLivedOperation(id, [container](std::shared_ptr<CKOperation> op, const OptionalError& e) {
                    auto modify = std::dynamic_pointer_cast<CKModifyRecordsOperation>(op);
                    if (e || !modify) return;
                    modify->modifyRecordsCompletionBlock = [](const auto&, const auto&, const OptionalError&) {
                        debugLog("Resume modify records success!");
                    };
                    container->add(modify);
                });
            }
        });
}

// --- pushes ------------------------------------------------------------------------------------

void SyncEngine::pushAll() {
    for (const auto& o : syncObjects_) o->pushAllLocalObjects();
}

void SyncEngine::cleanUp() {
    for (const auto& o : syncObjects_) o->cleanUp();
}

void SyncEngine::modifyRecords(std::vector<CKRecord> recordsToSave, std::vector<CKRecordID> recordIDsToDelete,
                               ErrorCompletion completion) {
    auto op = std::make_shared<CKModifyRecordsOperation>(recordsToSave, recordIDsToDelete);
    op->configuration.longLived = true;
    op->savePolicy = CKSavePolicy::changedKeys;
    op->atomic = true;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    op->modifyRecordsCompletionBlock = [weak, recordsToSave, recordIDsToDelete, completion](
                                           const auto&, const auto&, const OptionalError& error) {
        auto self = weak.lock();
        if (!self) return;
        auto result = self->errorHandler_.classify(error);
        auto mainQueue = self->environment_.mainQueue;
        switch (result.kind) {
            case Kind::success:
                mainQueue->async([self, completion] {
                    if (completion) completion(std::nullopt);
                    if (!self->isSubscriptionCached()) self->subscribeToDatabase();
                });
                break;
            case Kind::retry:
                self->errorHandler_.scheduleRetry(
                    result.afterSeconds,
                    [self, recordsToSave, recordIDsToDelete, completion] {
                        self->modifyRecords(recordsToSave, recordIDsToDelete, completion);
                    },
                    mainQueue);
                break;
            case Kind::chunk:
                for (auto& piece : splitOversizedPush(recordsToSave, recordIDsToDelete))
                    self->modifyRecords(std::move(piece.recordsToSave), std::move(piece.recordIDsToDelete), completion);
                break;
            default:
                break;
        }
    };
    privateDatabase_->add(op);
}

}  // namespace Nimbus
