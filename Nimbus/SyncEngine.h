#pragma once
// The cloud sync engine: pulls remote changes with change tokens, pushes local
// changes as record modifications, creates one zone per synced type,
// subscribes to database pushes, resumes long-lived pushes, and hands every
// cloud error to ErrorHandler.
//
// What it pushes is what the store holds unacknowledged (see RecordState.h),
// not the lists of one change: at start after the first fetch, after each
// local change and each fetch, and on retries, which follow a failure of any
// kind. After a local change only the objects the observation reported are
// looked at; at start, after a fetch and on retries, every object. Saves
// carry the change tag they are based on; one the server refuses as outdated
// is fetched, merged under the local changes and sent again.
//
// A change notice can be missed (the application was not running, a long
// poll was cut), so the engine also fetches whenever it cannot be sure it
// heard every notice: when the notification channel (re)connects, at start
// once the first push has ended, every 60 s while no other fetch ran, and at
// once when a failure ends (the first success after failed requests).
//
// Made with `make`, then `start()`ed (the account check and the start-up
// sequence need the engine's shared owner). Every cloud callback holds the
// engine weakly; scheduled retries hold it until they have run. Destroying it
// removes its notification observers.
//
// Threads: cloud callbacks run on the container's cloud queue; store writes,
// zone tokens, "cloudKitNewData", completions and retries go to the main queue.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Nimbus/ErrorHandler.h"
#include "Nimbus/Syncable.h"
#include "Platform/CloudKit/Container.h"

namespace Nimbus {

// The largest push piece after the server found a push too large.
inline constexpr std::size_t kPushChunkSize = 300;

struct PushPiece {
    std::vector<CloudKit::CKRecord> recordsToSave;
    std::vector<CloudKit::CKRecordID> recordIDsToDelete;
};

// How a push the server found too large is sent again: more than 300 saves go
// as pieces of 300 saves, each with every deletion; a push that cannot be
// split that way is halved (saves and deletions together), so every piece is
// smaller than the push and splitting ends; a single item is not split.
std::vector<PushPiece> splitOversizedPush(const std::vector<CloudKit::CKRecord>& recordsToSave,
                                          const std::vector<CloudKit::CKRecordID>& recordIDsToDelete);

class SyncEngine : public std::enable_shared_from_this<SyncEngine> {
public:
    using ErrorCompletion = std::function<void(const CloudKit::OptionalError&)>;
    using Completion = std::function<void()>;

    static std::shared_ptr<SyncEngine> make(std::vector<std::shared_ptr<Syncable>> objects,
                                            std::shared_ptr<CloudKit::CKContainer> container,
                                            std::shared_ptr<ObjectStore::Realm> realm,
                                            SyncEnvironment environment = SyncEnvironment::standard());
    ~SyncEngine();
    SyncEngine(const SyncEngine&) = delete;
    SyncEngine& operator=(const SyncEngine&) = delete;

    // Asks for the account status; with an account, runs the start-up sequence.
    void start();

    // Pushes what every sync object holds unacknowledged, as one push.
    void pushAll();
    void pull();
    // At termination: every sync object removes its flagged objects.
    void cleanUp();
    void modifyRecords(std::vector<CloudKit::CKRecord> recordsToSave,
                       std::vector<CloudKit::CKRecordID> recordIDsToDelete, ErrorCompletion completion = nullptr);

    CloudKit::CKServerChangeTokenPtr databaseChangeToken() const;
    void setDatabaseChangeToken(const CloudKit::CKServerChangeTokenPtr& token);
    bool isSubscriptionCached() const;

    // The steps of a run, public for the host and tests.
    void fetchDatabaseChanges(Completion completion = nullptr);
    void fetchZoneChanges(Completion completion = nullptr);
    void createMissingZones(ErrorCompletion completion = nullptr);
    void subscribeToDatabase();
    void resumeLongLivedOperations();
    void observeRemoteChangeNotice();

    // Pushes every change the server has not acknowledged, one push at a time
    // (a push asked for meanwhile follows the running one). A failure of any
    // kind is retried later; a save refused as based on an outdated record
    // fetches the newer one first. From any thread.
    void schedulePush();

    const std::vector<std::shared_ptr<Syncable>>& syncObjects() const { return syncObjects_; }
    const std::shared_ptr<CloudKit::CKContainer>& defaultContainer() const { return defaultContainer_; }

    // A push whose reply has not come after this long counts as failed.
    static constexpr double kPushReplyTimeout = 30.0;
    // Retries of failures that name no delay wait 1, 2, 4 ... up to this.
    static constexpr double kLongestRetryDelay = 30.0;
    // Without an account the status is asked again after 15, 30 ... up to this.
    static constexpr double kLongestAccountCheckDelay = 300.0;
    // A fetch comes at least this often while no other fetch starts.
    static constexpr double kBackstopFetchInterval = 60.0;

private:
    SyncEngine(std::vector<std::shared_ptr<Syncable>> objects, std::shared_ptr<CloudKit::CKContainer> container,
               SyncEnvironment environment);
    void checkAccount();
    void createZonesThenPush();
    // Main queue. A push looks at the objects the sync objects saw change;
    // at start, after a fetch and on every retry it looks at all of them.
    void pushPendingChanges();
    void pushEverythingPending();
    void requestFullScans();
    void sendPushPiece(PendingChanges piece, std::uint64_t generation);
    void pushPieceAnswered(std::uint64_t generation, const PendingChanges& sent,
                           const std::vector<CloudKit::CKRecord>& saved,
                           const std::vector<CloudKit::CKRecordID>& deleted, const CloudKit::OptionalError& error);
    void finishPush(std::uint64_t generation);
    void retryPushLater(std::optional<double> seconds);
    void retryFetchLater();
    // Runs on the cloud queue once the operations added so far have ended.
    void afterOperation(std::function<void()> block);
    double nextRetryDelay(int failures) const;
    void runStartSequence();
    void scheduleBackstopFetch();
    // Main queue: a request failed / one succeeded (fetches once a failure ends).
    void noteFailure();
    void noteSuccess();
    std::shared_ptr<Syncable> objectForZone(const CloudKit::CKRecordZoneID& zoneID) const;
    std::shared_ptr<Syncable> objectForRecordType(const std::string& recordType) const;
    void addObserver(const std::string& name, Foundation::NotificationCenter::Block block);

    std::shared_ptr<CloudKit::CKContainer> defaultContainer_;
    std::shared_ptr<CloudKit::CKDatabase> privateDatabase_;
    ErrorHandler errorHandler_;
    std::vector<std::shared_ptr<Syncable>> syncObjects_;
    SyncEnvironment environment_;

    // Main queue only.
    struct PushOutcome {
        bool failed = false;
        std::optional<double> retryAfter;
        bool needsFetch = false;
        bool needsZones = false;
    };
    bool ready_ = false;  // zones exist: pushes may go
    bool fetchedOnce_ = false;
    bool pushing_ = false;
    bool pushAgain_ = false;
    std::uint64_t pushGeneration_ = 0;
    int outstandingPieces_ = 0;
    PushOutcome outcome_;
    int pushFailures_ = 0;
    bool pushRetryScheduled_ = false;
    int fetchFailures_ = 0;
    bool fetchRetryScheduled_ = false;
    int accountChecks_ = 0;
    bool failing_ = false;
    bool firstPushEnded_ = false;
    std::atomic<double> lastFetchStart_{0};  // Foundation::clock().uptime()

    std::mutex observersMutex_;
    std::vector<Foundation::NotificationCenter::ObserverToken> observers_;
};

}  // namespace Nimbus
