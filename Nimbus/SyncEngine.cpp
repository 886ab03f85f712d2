#include "Nimbus/SyncEngine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <set>

#include "Nimbus/Keys.h"
#include "Nimbus/Nimbus.h"
#include "Nimbus/SyncObject.h"
#include "Platform/Foundation/Dispatch.h"

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
    std::shared_ptr<SyncEngine> engine(
        new SyncEngine(std::move(objects), std::move(container), std::move(environment)));
    std::weak_ptr<SyncEngine> weak = engine;
    for (const auto& object : engine->syncObjects_) {
        object->setRealm(realm);
        // The engine pushes what the store holds unacknowledged, not the lists
        // of one change: a change that failed or came before observation
        // started goes too.
        object->setPipeToEngine([weak](std::vector<CKRecord>, std::vector<CKRecordID>) {
            if (auto self = weak.lock()) self->schedulePush();
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

void SyncEngine::start() { checkAccount(); }

// Without an account nothing starts; the status is asked again later, so
// changes made meanwhile go up once the account is there.
void SyncEngine::checkAccount() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    defaultContainer_->accountStatus([weak](CKAccountStatus status, const OptionalError&) {
        auto self = weak.lock();
        if (!self) return;
        if (status != CKAccountStatus::available) {
            debugLog("Easy, my boy. You haven't logged into iCloud account on your device/simulator yet.");
            self->environment_.mainQueue->async([weak] {
                auto engine = weak.lock();
                if (!engine) return;
                double delay =
                    std::min(kLongestAccountCheckDelay, 15.0 * std::pow(2.0, std::min(engine->accountChecks_, 16)));
                ++engine->accountChecks_;
                engine->environment_.mainQueue->after(delay, [weak] {
                    if (auto later = weak.lock()) later->checkAccount();
                });
            });
            return;
        }
        self->runStartSequence();
    });
}

void SyncEngine::runStartSequence() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    fetchDatabaseChanges();
    resumeLongLivedOperations();
    createZonesThenPush();
    observeRemoteChangeNotice();
    // Notices sent while the channel was down are lost: fetch what they told.
    defaultContainer_->setPushChannelConnectedHandler([weak] {
        if (auto self = weak.lock()) self->fetchDatabaseChanges();
    });
    scheduleBackstopFetch();
    addObserver(kApplicationWillTerminateNotification, [weak](const Foundation::Notification&) {
        if (auto self = weak.lock()) self->cleanUp();
    });
    if (!isSubscriptionCached()) subscribeToDatabase();
}

void SyncEngine::scheduleBackstopFetch() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    const double due = lastFetchStart_.load() + kBackstopFetchInterval - Foundation::clock().uptime();
    environment_.mainQueue->after(std::max(1.0, due), [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (Foundation::clock().uptime() - self->lastFetchStart_.load() >= kBackstopFetchInterval)
            self->fetchDatabaseChanges();
        self->scheduleBackstopFetch();
    });
}

void SyncEngine::noteFailure() { failing_ = true; }

void SyncEngine::noteSuccess() {
    if (!failing_) return;
    failing_ = false;
    // Notices may have gone unheard while requests failed.
    fetchDatabaseChanges();
}

void SyncEngine::createZonesThenPush() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    createMissingZones([weak](const OptionalError& error) {
        auto self = weak.lock();
        if (!self) return;
        if (error) {
            // Without zones nothing can be pushed: ask again later.
            self->noteFailure();
            self->environment_.mainQueue->after(self->nextRetryDelay(self->pushFailures_++), [weak] {
                if (auto later = weak.lock()) later->createZonesThenPush();
            });
            return;
        }
        if (!self->ready_) {
            for (const auto& o : self->syncObjects_) o->observeLocalChanges();
            self->ready_ = true;
        }
        // Whatever the server has not acknowledged, whenever it was made: once
        // the first fetch has brought what others changed (fewer refusals), or
        // in any case after a while.
        if (self->fetchedOnce_) {
            self->pushEverythingPending();
        } else {
            self->environment_.mainQueue->after(kPushReplyTimeout, [weak] {
                if (auto later = weak.lock()) later->pushEverythingPending();
            });
        }
    });
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
    lastFetchStart_ = Foundation::clock().uptime();
    auto op = std::make_shared<CKFetchDatabaseChangesOperation>(databaseChangeToken());
    op->fetchAllChanges = true;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    op->changeTokenUpdatedBlock = [weak](const CKServerChangeTokenPtr& token) {
        if (auto self = weak.lock()) self->setDatabaseChangeToken(token);
    };
    auto answered = std::make_shared<std::atomic<bool>>(false);
    op->fetchDatabaseChangesCompletionBlock = [weak, completion, answered](const CKServerChangeTokenPtr& token, bool,
                                                                           const OptionalError& error) {
        answered->store(true);
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
                } else {
                    self->retryFetchLater();
                }
                break;
            default:
                // Offline, or a failure without a delay: others' changes would
                // otherwise wait for their next push notice.
                self->retryFetchLater();
                break;
        }
    };
    privateDatabase_->add(op);
    afterOperation([weak, answered] {
        if (answered->load()) return;
        if (auto self = weak.lock()) self->retryFetchLater();  // the reply was lost
    });
}

void SyncEngine::retryFetchLater() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    environment_.mainQueue->async([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->noteFailure();
        self->pushEverythingPending();  // a push may go through where the fetch did not
        if (self->fetchRetryScheduled_) return;
        self->fetchRetryScheduled_ = true;
        self->environment_.mainQueue->after(self->nextRetryDelay(self->fetchFailures_++), [weak] {
            auto later = weak.lock();
            if (!later) return;
            later->fetchRetryScheduled_ = false;
            later->fetchDatabaseChanges();
        });
    });
}

void SyncEngine::fetchZoneChanges(Completion completion) {
    std::vector<CKRecordZoneID> zoneIDs;
    std::map<CKRecordZoneID, CKFetchRecordZoneChangesOptions> options;
    // Zones fetched from no token: what they bring is all the server has, so
    // objects it did not bring were deleted meanwhile. Their tokens are saved
    // only at the end, so an interrupted full fetch starts over.
    struct FullFetch {
        std::mutex mutex;
        std::map<CKRecordZoneID, std::set<std::string>> names;
    };
    auto full = std::make_shared<FullFetch>();
    for (const auto& o : syncObjects_) {
        zoneIDs.push_back(o->zoneID());
        auto token = o->zoneChangesToken();
        options[o->zoneID()].previousServerChangeToken = token;
        if (!token) full->names[o->zoneID()];
    }
    auto op = std::make_shared<CKFetchRecordZoneChangesOperation>(zoneIDs, options);
    op->fetchAllChanges = true;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    auto mainQueue = environment_.mainQueue;

    op->recordZoneChangeTokensUpdatedBlock = [weak, mainQueue, full](const CKRecordZoneID& zoneID,
                                                                     const CKServerChangeTokenPtr& token, const auto&) {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard lock(full->mutex);
            if (full->names.count(zoneID)) return;
        }
        // Saved on the main queue behind the records of this batch, so the
        // token never runs ahead of what the store holds.
        if (auto object = self->objectForZone(zoneID))
            mainQueue->async([object, token] { object->saveZoneChangesTokenAfterApplying(token, false); });
    };
    op->recordChangedBlock = [weak, full](const CKRecord& record) {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard lock(full->mutex);
            if (auto it = full->names.find(record.recordID().zoneID); it != full->names.end())
                it->second.insert(record.recordID().recordName);
        }
        if (auto object = self->objectForRecordType(record.recordType())) object->addRecord(record);
    };
    op->recordWithIDWasDeletedBlock = [weak](const CKRecordID& recordID, const std::string&) {
        auto self = weak.lock();
        if (!self) return;
        if (auto object = self->objectForZone(recordID.zoneID)) object->deleteRecord(recordID);
    };
    // Once every zone is applied: merged or renumbered records, deletions to
    // repeat, and at start whatever was made before.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    op->fetchRecordZoneChangesCompletionBlock = [weak, mainQueue, answered](const OptionalError&) {
        answered->store(true);
        mainQueue->async([weak] {
            auto self = weak.lock();
            if (!self) return;
            self->fetchedOnce_ = true;
            self->pushEverythingPending();
        });
    };
    op->recordZoneFetchCompletionBlock = [weak, mainQueue, completion, full](
                                             const CKRecordZoneID& zoneID, const CKServerChangeTokenPtr& token,
                                             const auto&, bool, const OptionalError& error) {
        auto self = weak.lock();
        if (!self) return;
        auto result = self->errorHandler_.classify(error);
        switch (result.kind) {
            case Kind::success: {
                auto object = self->objectForZone(zoneID);
                if (!object) break;
                // Posted from the main queue once this zone's writes have run.
                auto center = self->environment_.notificationCenter;
                std::optional<std::set<std::string>> fetched;
                {
                    std::lock_guard lock(full->mutex);
                    if (auto it = full->names.find(zoneID); it != full->names.end()) fetched = std::move(it->second);
                }
                std::weak_ptr<SyncEngine> engine = self;
                mainQueue->async([engine, object, token, completion, center, zoneID, fetched] {
                    if (fetched) object->reconcileAfterFullFetch(*fetched);
                    if (auto self = engine.lock()) self->requestFullScans();
                    object->saveZoneChangesTokenAfterApplying(token, true);
                    if (completion) completion();
                    debugLog("Sync successfully: " + zoneID.description() + ")");
                    center->post(name(Notifications::cloudKitNewData));
                    if (auto self = engine.lock()) {
                        self->fetchFailures_ = 0;
                        self->noteSuccess();
                    }
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
                } else {
                    self->retryFetchLater();
                }
                break;
            default:
                self->retryFetchLater();
                break;
        }
    };
    privateDatabase_->add(op);
    afterOperation([weak, answered] {
        if (answered->load()) return;
        if (auto self = weak.lock()) self->retryFetchLater();  // the reply was lost
    });
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
                container->fetchLongLivedOperation(
                    id, [container](std::shared_ptr<CKOperation> op, const OptionalError& e) {
                        auto modify = std::dynamic_pointer_cast<CKModifyRecordsOperation>(op);
                        if (e || !modify) return;
                        // A push that did not check change tags would overwrite newer
                        // changes; what it held is still pending locally and goes again.
                        if (modify->savePolicy != CKSavePolicy::ifServerRecordUnchanged) return;
                        modify->modifyRecordsCompletionBlock = [](const auto&, const auto&, const OptionalError&) {
                            debugLog("Resume modify records success!");
                        };
                        container->add(modify);
                    });
            }
        });
}

// --- pushes ------------------------------------------------------------------------------------

// What every type holds unacknowledged goes up in one push. The observation
// has already noted what changed, so this looks only at those objects
// instead of every object of every type (the whole-library scan of
// pushAllLocalObjects, after every pick).
void SyncEngine::pushAll() { schedulePush(); }

void SyncEngine::requestFullScans() {
    for (const auto& o : syncObjects_) o->requestFullScan();
}

void SyncEngine::pushEverythingPending() {
    requestFullScans();
    pushPendingChanges();
}

void SyncEngine::schedulePush() {
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    environment_.mainQueue->async([weak] {
        if (auto self = weak.lock()) self->pushPendingChanges();
    });
}

double SyncEngine::nextRetryDelay(int failures) const {
    return std::min(kLongestRetryDelay, std::pow(2.0, std::min(failures, 16)));
}

void SyncEngine::pushPendingChanges() {
    if (!ready_) return;
    if (pushing_) {
        pushAgain_ = true;
        return;
    }
    PendingChanges all;
    for (const auto& o : syncObjects_) {
        PendingChanges mine = o->changesToPush();
        for (auto& r : mine.recordsToSave) all.recordsToSave.push_back(std::move(r));
        for (auto& id : mine.recordIDsToDelete) all.recordIDsToDelete.push_back(std::move(id));
    }
    pushAgain_ = false;
    if (all.empty()) return;
    for (const auto& o : syncObjects_) o->markSent(all.recordsToSave);
    pushing_ = true;
    outcome_ = PushOutcome{};
    const std::uint64_t generation = ++pushGeneration_;
    outstandingPieces_ = 0;
    sendPushPiece(std::move(all), generation);
    // A reply that never comes (the connection dropped) must not stop pushing.
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    environment_.mainQueue->after(kPushReplyTimeout, [weak, generation] {
        auto self = weak.lock();
        if (!self || !self->pushing_ || self->pushGeneration_ != generation) return;
        self->outcome_.failed = true;
        self->outstandingPieces_ = 0;
        self->finishPush(generation);
    });
}

void SyncEngine::sendPushPiece(PendingChanges piece, std::uint64_t generation) {
    ++outstandingPieces_;
    auto op = std::make_shared<CKModifyRecordsOperation>(piece.recordsToSave, piece.recordIDsToDelete);
    op->configuration.longLived = true;
    // Each save names the change tag it is based on: the server refuses one
    // based on an outdated record instead of overwriting a newer change.
    op->savePolicy = CKSavePolicy::ifServerRecordUnchanged;
    // One refused record must not hold back the others.
    op->atomic = false;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    auto mainQueue = environment_.mainQueue;
    auto answered = std::make_shared<std::atomic<bool>>(false);
    op->modifyRecordsCompletionBlock = [weak, mainQueue, generation, piece, answered](
                                           const std::vector<CKRecord>& saved, const std::vector<CKRecordID>& deleted,
                                           const OptionalError& error) {
        answered->store(true);
        mainQueue->async([weak, generation, piece, saved, deleted, error] {
            if (auto self = weak.lock()) self->pushPieceAnswered(generation, piece, saved, deleted, error);
        });
    };
    privateDatabase_->add(op);
    // Operations run one after another on the cloud queue: when this runs,
    // the push has ended, and without a reply its answer is lost.
    afterOperation([weak, mainQueue, generation, piece, answered] {
        if (answered->load()) return;
        mainQueue->async([weak, generation, piece] {
            if (auto self = weak.lock())
                self->pushPieceAnswered(generation, piece, {}, {}, makeCKError(CKErrorServerResponseLost));
        });
    });
}

void SyncEngine::afterOperation(std::function<void()> block) {
    defaultContainer_->cloudQueue()->async(std::move(block));
}

void SyncEngine::pushPieceAnswered(std::uint64_t generation, const PendingChanges& sent,
                                   const std::vector<CKRecord>& saved, const std::vector<CKRecordID>& deleted,
                                   const OptionalError& error) {
    // What the server applied is recorded even from a late reply.
    for (const auto& o : syncObjects_) o->acknowledge(sent.recordsToSave, saved, deleted);
    if (generation != pushGeneration_ || !pushing_) return;
    auto result = errorHandler_.classify(error);
    switch (result.kind) {
        case Kind::success:
            break;
        case Kind::retry:
            outcome_.failed = true;
            outcome_.retryAfter = std::max(outcome_.retryAfter.value_or(0.0), result.afterSeconds);
            break;
        case Kind::chunk: {
            auto pieces = splitOversizedPush(sent.recordsToSave, sent.recordIDsToDelete);
            if (pieces.empty()) {
                outcome_.failed = true;
                break;
            }
            for (auto& p : pieces)
                sendPushPiece(PendingChanges{std::move(p.recordsToSave), std::move(p.recordIDsToDelete)}, generation);
            break;
        }
        case Kind::recoverableError:
            if (result.reason == Reason::partialFailure && error) {
                for (const auto& [id, itemError] : partialErrors(*error)) {
                    switch (itemError.code) {
                        case CKErrorServerRecordChanged:
                            outcome_.needsFetch = true;  // merge the newer record, then push again
                            break;
                        case CKErrorUnknownItem:
                            // Deleted on the server since: the deletion wins.
                            if (auto object = objectForZone(id.zoneID)) object->deleteRecord(id);
                            break;
                        case CKErrorZoneNotFound:
                        case CKErrorUserDeletedZone:
                            outcome_.needsZones = true;
                            outcome_.failed = true;
                            break;
                        default:
                            outcome_.failed = true;
                            break;
                    }
                }
                break;
            }
            outcome_.failed = true;
            break;
        default:
            outcome_.failed = true;
            break;
    }
    if (--outstandingPieces_ <= 0) finishPush(generation);
}

void SyncEngine::finishPush(std::uint64_t generation) {
    if (generation != pushGeneration_ || !pushing_) return;
    pushing_ = false;
    ++pushGeneration_;  // later replies of this push only record what they saved
    const PushOutcome outcome = outcome_;
    if (outcome.needsZones) {
        for (const auto& o : syncObjects_) o->setHasCustomZoneCreated(false);
        createZonesThenPush();
    }
    if (outcome.needsFetch) {
        fetchDatabaseChanges();              // its end pushes what stays pending
        retryPushLater(outcome.retryAfter);  // and a conflict that keeps coming backs off
        return;
    }
    if (outcome.failed) {
        retryPushLater(outcome.retryAfter);
        return;
    }
    pushFailures_ = 0;
    if (!isSubscriptionCached()) subscribeToDatabase();
    if (!firstPushEnded_) {
        // What others pushed between our first fetch and our first push.
        firstPushEnded_ = true;
        fetchDatabaseChanges();
    } else {
        noteSuccess();
    }
    if (pushAgain_) pushPendingChanges();
}

void SyncEngine::retryPushLater(std::optional<double> seconds) {
    noteFailure();
    double delay = seconds ? *seconds : nextRetryDelay(pushFailures_++);
    if (pushRetryScheduled_) return;
    pushRetryScheduled_ = true;
    std::weak_ptr<SyncEngine> weak = weak_from_this();
    environment_.mainQueue->after(delay, [weak] {
        auto self = weak.lock();
        if (!self) return;
        self->pushRetryScheduled_ = false;
        self->pushEverythingPending();
    });
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
