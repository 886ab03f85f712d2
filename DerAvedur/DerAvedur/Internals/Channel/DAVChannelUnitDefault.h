#pragma once
// The pipeline of one group id. `enqueueItem` stamps, validates and lets the
// delegates prepare a log on the caller's thread; everything else runs on the
// group's serial queue: filtering, storing, counting, the flush timer,
// loading batches, sending them and handling the answers.
//
// Before `enqueueItem` returns, the log is appended to the group's journal
// (DAVLogJournal), so a kill of the process loses nothing that was tracked;
// the store task folds the journal's records into the store in its commit
// and empties the journal once every record in it is committed. Records an
// earlier run left are read when the unit is made and folded first.
//
// Storing is a group commit: logs enqueued while the queue is busy are
// stored together, in one transaction, by one task (at most
// kMaxLogsPerCommit at a time; the rest follow in a task queued behind
// whatever else waits, so answers are never held up by a backlog).
//
// Batches leave the unit as the design has it (up to `pendingBatchesLimit`
// handed out at once), but one request of a group is on the wire at a time:
// the next goes once the answer to the one before is recorded in the store.
// The server may take a batch whose answer a kill then loses, and the next
// launch sends that batch again; this way a kill repeats at most one batch.

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelDelegate.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDependencies.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelUnitProtocol.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVIngestionProtocol.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogJournal.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVStorage.h"
#include "Platform/Foundation/WeakList.h"

class DAVChannelUnitDefault : public DAVChannelUnitProtocol,
                              public std::enable_shared_from_this<DAVChannelUnitDefault> {
public:
    static constexpr std::size_t kMaxLogsPerCommit = 256;
    // After a batch failed for good (every retry of the HTTP client spent),
    // its logs are pending again: the next flush takes them, and without one
    // the unit flushes by itself after this wait, doubling with each failure
    // in a row up to the maximum; an answer of 200 starts afresh.
    // This is the only retry clock: the ingestion makes one attempt per
    // batch. The wait is capped so that logs leave within a minute of the
    // server answering again.
    static constexpr double kFirstRetryBackoff = 10;
    static constexpr double kMaxRetryBackoff = 60;

    DAVChannelUnitDefault(std::shared_ptr<DAVIngestionProtocol> ingestion, std::shared_ptr<DAVStorage> storage,
                          std::shared_ptr<DAVChannelUnitConfiguration> configuration,
                          std::shared_ptr<Foundation::DispatchQueue> logsDispatchQueue,
                          DAVChannelUnitDependencies dependencies);

    // --- DAVChannelProtocol -------------------------------------------------
    // Delegates join and leave at once (under the table's lock), so a log
    // enqueued right after `addDelegate` is prepared by that delegate too.
    void addDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) override;
    void removeDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) override;
    // These return before their effect, which runs on the queue.
    void setEnabled(bool isEnabled, bool deleteDataOnDisabled) override;
    void pauseWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) override;
    void resumeWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) override;

    // --- DAVChannelUnitProtocol ----------------------------------------------
    void enqueueItem(const std::shared_ptr<DAVLog>& item, DAVFlags flags) override;
    void pauseSendingLogsWithToken(const std::string& token) override;
    void resumeSendingLogsWithToken(const std::string& token) override;
    void checkPendingLogs() override;
    // At start: counts the logs an earlier run left in the store for this
    // group and schedules their sending as for logs just stored.
    void checkStoredLogs();
    std::shared_ptr<DAVChannelUnitConfiguration> configuration() const override;
    void setConfiguration(std::shared_ptr<DAVChannelUnitConfiguration> configuration) override;
    std::shared_ptr<Foundation::DispatchQueue> logsDispatchQueue() const override;
    void setLogsDispatchQueue(std::shared_ptr<Foundation::DispatchQueue> queue) override;

    // --- work methods, on the queue ------------------------------------------
    void sendLogContainer(const std::shared_ptr<DAVLogContainer>& container);
    void flushQueue();
    void startTimer(unsigned long seconds);
    // Seconds to wait before sending; for intervals above 3 s the wait counts
    // from a start time kept in the SDK user defaults across launches.
    unsigned long resolveFlushInterval();
    // "ChannelStartTimer:<group id>"
    std::string oldestPendingLogTimestampKey() const;
    void resetTimer();
    void pauseWithIdentifyingObjectSync(const DAVIdentifyingObject& identifyingObject);
    void resumeWithIdentifyingObjectSync(const DAVIdentifyingObject& identifyingObject);
    void deleteAllLogsWithError(const Foundation::Error& error);
    void deleteAllLogsWithErrorSync(const Foundation::Error& error);
    // Runs the block for a snapshot of the delegates, outside the table's lock.
    void enumerateDelegatesWithBlock(const std::function<void(DAVChannelDelegate&)>& block);
    // willSend, then didFail, delegate by delegate.
    void notifyFailureBeforeSendingForItem(const std::shared_ptr<DAVLog>& item,
                                           const std::optional<Foundation::Error>& error);

    // --- state (safe to read from any thread) ---------------------------------
    bool isEnabled() const { return enabled_; }
    bool isPaused() const { return paused_; }
    bool discardLogs() const { return discardLogs_; }
    bool availableBatchFromStorage() const { return availableBatchFromStorage_; }
    bool pendingBatchQueueFull() const { return pendingBatchQueueFull_; }
    std::size_t itemsCount() const { return itemsCount_; }
    bool isTimerRunning() const;
    std::vector<std::string> pendingBatchIds() const;
    // Seconds until the unit tries failed logs again; nothing when not waiting.
    std::optional<double> retryBackoff() const;
    std::set<std::string> pausedTargetKeys() const;
    // The error of the last batch that failed, or of the last deletion of all logs.
    std::optional<Foundation::Error> lastError() const;
    // Records of an earlier run read from the journal and not yet folded in.
    std::size_t recoveredJournalRecords() const;
    const std::shared_ptr<DAVIngestionProtocol>& ingestion() const { return ingestion_; }
    const std::shared_ptr<DAVStorage>& storage() const { return storage_; }

private:
    struct EnqueuedLog {
        std::shared_ptr<DAVLog> log;
        std::string internalId;
        DAVFlags flags;
        std::uint64_t sequence = 0;  // its journal record; 0: none
        std::shared_ptr<const Foundation::Data> archive;  // made for that record
    };
    void storePendingLogs();
    // Puts the oldest waiting batch on the wire unless one is there already.
    void sendNextBatch();
    // True when the journal records of these logs are committed as folded.
    bool storeLogs(std::vector<EnqueuedLog> logs);
    void openJournal();
    // Folds the records an earlier run left; the number of logs stored.
    std::size_t foldRecoveredJournal();
    void retryWake(double wakeTime);
    void handleResponse(const std::shared_ptr<DAVLogContainer>& container,
                        const std::optional<DAVHttpResponse>& response, const std::optional<Foundation::Error>& error);
    void setEnabledSync(bool isEnabled, bool deleteDataOnDisabled);
    void timerWake(double wakeTime);
    void removeStartTime();
    std::string groupId() const;

    std::atomic<bool> availableBatchFromStorage_{false};
    std::atomic<bool> pendingBatchQueueFull_{false};
    std::atomic<bool> enabled_{true};
    std::atomic<bool> paused_{false};
    std::atomic<bool> discardLogs_{false};
    std::shared_ptr<DAVChannelUnitConfiguration> configuration_;
    std::shared_ptr<Foundation::DispatchQueue> logsDispatchQueue_;
    Foundation::WeakList<DAVChannelDelegate> delegates_;
    std::shared_ptr<DAVIngestionProtocol> ingestion_;
    std::shared_ptr<DAVStorage> storage_;
    const DAVChannelUnitDependencies dependencies_;
    std::atomic<std::size_t> itemsCount_{0};

    // Guards the containers below so that readers on other threads see whole values.
    mutable std::mutex stateLock_;
    std::vector<std::string> pendingBatchIds_;
    // The batches in flight, by id: a deletion of all logs reports theirs too.
    std::map<std::string, std::shared_ptr<DAVLogContainer>> inFlight_;
    std::optional<Foundation::Error> lastError_;
    // The journal (none without a store file); its next sequence and the
    // records of an earlier run still to fold, guarded by the lock above.
    std::unique_ptr<DAVLogJournal> journal_;
    std::uint64_t nextSequence_ = 1;
    std::vector<DAVLogJournal::Record> recovered_;
    std::vector<std::weak_ptr<void>> pausedIdentifyingObjects_;
    std::set<std::string> pausedTargetKeys_;
    // The flush timer: when it fires (clock uptime), and the wake-ups already
    // scheduled on the queue; a restart that moves the time later reuses them.
    std::optional<double> timerDue_;
    std::multiset<double> scheduledWakes_;
    // Batches handed out and waiting for their turn on the wire, oldest
    // first, and the batch whose request is out.
    std::deque<std::shared_ptr<DAVLogContainer>> waitingToSend_;
    std::optional<std::string> onWire_;
    // Logs enqueued and not yet taken by a store task; whether one is queued.
    std::vector<EnqueuedLog> logsToStore_;
    bool storeScheduled_ = false;
    // A flush held back by a full pending queue or a pause.
    bool flushDeferred_ = false;
    // Failed logs wait until this uptime; the next wait lasts `nextBackoff_`.
    std::optional<double> retryAt_;
    double nextBackoff_ = kFirstRetryBackoff;
};
