#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDefault.h"

#include <algorithm>
#include <cmath>

#include "DerAvedur/DerAvedur/DAVErrors.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr const char* kTag = kDAVDerAvedurLogTag;
constexpr const char* kStartTimerPrefix = "ChannelStartTimer";
// Intervals up to this many seconds restart in full with every stored log.
constexpr unsigned long kDefaultFlushInterval = DAVChannelUnitConfiguration::kDefaultFlushInterval;
// Wake-ups this close to the due time count as due (clock rounding).
constexpr double kTimerTolerance = 1e-6;

// The same pauser, however its pointer was converted.
bool sameObject(const std::weak_ptr<void>& a, const std::shared_ptr<void>& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

std::string typeText(const std::shared_ptr<DAVLog>& log) { return log->type().value_or(""); }

}  // namespace

DAVChannelUnitDefault::DAVChannelUnitDefault(std::shared_ptr<DAVIngestionProtocol> ingestion,
                                             std::shared_ptr<DAVStorage> storage,
                                             std::shared_ptr<DAVChannelUnitConfiguration> configuration,
                                             std::shared_ptr<Foundation::DispatchQueue> logsDispatchQueue,
                                             DAVChannelUnitDependencies dependencies)
    : configuration_(std::move(configuration)),
      logsDispatchQueue_(std::move(logsDispatchQueue)),
      ingestion_(std::move(ingestion)),
      storage_(std::move(storage)),
      dependencies_(std::move(dependencies)) {
    openJournal();
}

// Before any log is enqueued: what an earlier run left decides where the
// sequences of this run begin.
void DAVChannelUnitDefault::openJournal() {
    if (!storage_ || !configuration_) return;
    const std::string group = configuration_->groupId();
    auto path = storage_->journalPathForGroupId(group);
    if (!path) return;
    auto journal = std::make_unique<DAVLogJournal>(*path);
    if (!journal->isOpen()) return;
    std::size_t skipped = 0;
    std::vector<DAVLogJournal::Record> records = journal->readRecords(&skipped);
    const std::uint64_t folded = storage_->foldedJournalSequence(group);
    std::uint64_t top = folded;
    for (DAVLogJournal::Record& record : records) {
        top = std::max(top, record.sequence);
        if (record.sequence > folded) recovered_.push_back(std::move(record));
    }
    if (skipped > 0)
        DAVLogWarning(kTag, "The log journal of group Id %s ends with %zu byte(s) of an unfinished record; ignored.",
                      group.c_str(), skipped);
    nextSequence_ = top + 1;
    journal_ = std::move(journal);
}

std::size_t DAVChannelUnitDefault::foldRecoveredJournal() {
    std::vector<DAVLogJournal::Record> records;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (recovered_.empty()) return 0;
        records = recovered_;
    }
    std::vector<DAVLogToStore> request;
    std::uint64_t top = 0;
    for (const DAVLogJournal::Record& record : records) {
        request.push_back({record.log, record.flags});
        top = std::max(top, record.sequence);
    }
    const std::string group = groupId();
    std::vector<DAVEvictedLog> evicted;
    bool folded = false;
    const std::vector<bool> saved = storage_->saveJournaledLogs(request, group, &evicted, top, &folded);
    for (const DAVEvictedLog& entry : evicted) notifyFailureBeforeSendingForItem(entry.log, DAVLogEvictedError());
    if (!folded) {
        DAVLogError(kTag, "The %zu log(s) left in the journal of group Id %s could not be stored; tried again later.",
                    records.size(), group.c_str());
        return 0;
    }
    const auto stored = static_cast<std::size_t>(std::count(saved.begin(), saved.end(), true));
    DAVLogInfo(kTag, "Stored %zu of %zu log(s) an earlier run left in the journal of group Id %s.", stored,
               records.size(), group.c_str());
    std::lock_guard<std::mutex> guard(stateLock_);
    recovered_.clear();
    if (logsToStore_.empty()) journal_->truncate();
    return stored;
}

std::optional<Foundation::Error> DAVChannelUnitDefault::lastError() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return lastError_;
}

std::size_t DAVChannelUnitDefault::recoveredJournalRecords() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return recovered_.size();
}

// --- accessors ------------------------------------------------------------------

std::shared_ptr<DAVChannelUnitConfiguration> DAVChannelUnitDefault::configuration() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return configuration_;
}

void DAVChannelUnitDefault::setConfiguration(std::shared_ptr<DAVChannelUnitConfiguration> configuration) {
    std::lock_guard<std::mutex> guard(stateLock_);
    configuration_ = std::move(configuration);
}

std::shared_ptr<Foundation::DispatchQueue> DAVChannelUnitDefault::logsDispatchQueue() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return logsDispatchQueue_;
}

void DAVChannelUnitDefault::setLogsDispatchQueue(std::shared_ptr<Foundation::DispatchQueue> queue) {
    std::lock_guard<std::mutex> guard(stateLock_);
    logsDispatchQueue_ = std::move(queue);
}

std::string DAVChannelUnitDefault::groupId() const { return configuration()->groupId(); }

bool DAVChannelUnitDefault::isTimerRunning() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return timerDue_.has_value();
}

std::vector<std::string> DAVChannelUnitDefault::pendingBatchIds() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pendingBatchIds_;
}

std::set<std::string> DAVChannelUnitDefault::pausedTargetKeys() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    return pausedTargetKeys_;
}

// --- delegates --------------------------------------------------------------------

void DAVChannelUnitDefault::addDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) {
    delegates_.add(delegate);
}

void DAVChannelUnitDefault::removeDelegate(const std::shared_ptr<DAVChannelDelegate>& delegate) {
    delegates_.remove(delegate);
}

void DAVChannelUnitDefault::enumerateDelegatesWithBlock(const std::function<void(DAVChannelDelegate&)>& block) {
    delegates_.forEach(block);
}

void DAVChannelUnitDefault::notifyFailureBeforeSendingForItem(const std::shared_ptr<DAVLog>& item,
                                                              const std::optional<Foundation::Error>& error) {
    auto self = shared_from_this();
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
        delegate.channelWillSendLog(self, item);
        delegate.channelDidFailSendingLog(self, item, error);
    });
}

// --- enqueueing -------------------------------------------------------------------

void DAVChannelUnitDefault::enqueueItem(const std::shared_ptr<DAVLog>& item, DAVFlags flags) {
    if (!item) {
        DAVLogWarning(kTag, "Log is not valid.");
        return;
    }
    if (!item->timestamp()) item->setTimestamp(Foundation::Date{Foundation::clock().now()});
    if (!item->device()) item->setDevice(dependencies_.deviceTracker->device());
    if (!item->isValid()) {
        DAVLogWarning(kTag, "Log is not valid.");
        return;
    }
    const std::string internalId = Foundation::makeUUIDString();
    auto self = shared_from_this();
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) { delegate.channelPrepareLog(self, item); });
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidPrepareLog(self, item, internalId, flags); });
    // The log is archived once, here, after the prepare delegates (analytics
    // cuts long names there): the journal record and the store's row are
    // made of that archive. Filtering delegates on the queue only decide.
    std::optional<DAVLogJournal::Encoded> encoded;
    if (journal_) encoded = journal_->encode(item);
    bool schedule = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        std::uint64_t sequence = 0;
        // Appended under the lock, in the order of the list: the store task
        // empties the journal only when the list is empty.
        if (encoded) {
            sequence = nextSequence_++;
            if (!journal_->append(DAVLogJournal::frame(sequence, flags, *encoded))) sequence = 0;
        }
        logsToStore_.push_back({item, internalId, flags, sequence,
                                encoded ? std::make_shared<const Foundation::Data>(std::move(encoded->archive))
                                        : nullptr});
        schedule = !storeScheduled_;
        storeScheduled_ = true;
    }
    if (schedule) logsDispatchQueue()->async([self] { self->storePendingLogs(); });
}

void DAVChannelUnitDefault::storePendingLogs() {
    if (const std::size_t folded = foldRecoveredJournal()) itemsCount_ += folded;
    std::vector<EnqueuedLog> logs;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        const std::size_t count = std::min(logsToStore_.size(), kMaxLogsPerCommit);
        logs.assign(std::make_move_iterator(logsToStore_.begin()),
                    std::make_move_iterator(logsToStore_.begin() + static_cast<long>(count)));
        logsToStore_.erase(logsToStore_.begin(), logsToStore_.begin() + static_cast<long>(count));
    }
    const bool folded = storeLogs(std::move(logs));
    // Logs that came meanwhile get a task of their own, behind the answers
    // and other work queued during this one.
    bool more = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        more = !logsToStore_.empty();
        storeScheduled_ = more;
        // Every record in the journal is now in the store.
        if (folded && !more && recovered_.empty()) journal_->truncate();
    }
    if (more) {
        auto self = shared_from_this();
        logsDispatchQueue()->async([self] { self->storePendingLogs(); });
    }
}

bool DAVChannelUnitDefault::storeLogs(std::vector<EnqueuedLog> logs) {
    auto self = shared_from_this();
    std::uint64_t sequence = 0;
    for (const EnqueuedLog& entry : logs) sequence = std::max(sequence, entry.sequence);
    // Folded in only after what an earlier run left: the store must never
    // count those records as folded before they are.
    bool journaled = false;
    if (sequence > 0 && storage_) {
        std::lock_guard<std::mutex> guard(stateLock_);
        journaled = recovered_.empty();
    }
    auto completeEnqueueing = [&](const EnqueuedLog& entry) {
        enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
            delegate.channelDidCompleteEnqueueingLog(self, entry.log, entry.internalId);
        });
    };
    std::vector<EnqueuedLog> toSave;
    for (EnqueuedLog& entry : logs) {
        const auto& item = entry.log;
        bool filtered = false;
        enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
            if (!filtered) filtered = delegate.channelUnitShouldFilterLog(self, item);
        });
        if (filtered) {
            DAVLogDebug(kTag, "Log of type '%s' was filtered out by delegate(s)", typeText(item).c_str());
            completeEnqueueing(entry);
        } else if (!ingestion_ || !ingestion_->isReadyToSend()) {
            DAVLogDebug(kTag,
                        "Log of type '%s' was not filtered out by delegate(s) but ingestion is not ready to send it.",
                        typeText(item).c_str());
            completeEnqueueing(entry);
        } else if (discardLogs_) {
            DAVLogWarning(kTag, "Channel %s disabled in log discarding mode, discard this log.", groupId().c_str());
            notifyFailureBeforeSendingForItem(item, DAVCanceledWithLogDeletionError());
            completeEnqueueing(entry);
        } else {
            DAVLogDebug(kTag, "Saving log, type: %s, flags: %u.", typeText(item).c_str(),
                        static_cast<unsigned>(entry.flags));
            toSave.push_back(std::move(entry));
        }
    }
    if (toSave.empty() && !journaled) return false;

    std::vector<DAVLogToStore> request;
    request.reserve(toSave.size());
    for (const EnqueuedLog& entry : toSave) request.push_back({entry.log, entry.flags, entry.archive});
    std::vector<DAVEvictedLog> evicted;
    bool folded = false;
    std::vector<bool> saved;
    if (journaled)
        saved = storage_->saveJournaledLogs(request, groupId(), &evicted, sequence, &folded);
    else if (storage_ && !request.empty())
        saved = storage_->saveLogs(request, groupId(), &evicted);
    saved.resize(toSave.size(), false);
    // Logs deleted to make room are lost: their delegates hear so.
    for (const DAVEvictedLog& entry : evicted) notifyFailureBeforeSendingForItem(entry.log, DAVLogEvictedError());
    std::size_t stored = 0;
    for (std::size_t i = 0; i < toSave.size(); ++i) {
        // A log the store refused is lost: its delegates hear so, as for any
        // log that fails before it is sent.
        if (!saved[i]) notifyFailureBeforeSendingForItem(toSave[i].log, DAVLogNotStoredError());
        completeEnqueueing(toSave[i]);
        stored += saved[i] ? 1 : 0;
    }
    if (stored > 0) {
        itemsCount_ += stored;
        checkPendingLogs();
    }
    return folded;
}

void DAVChannelUnitDefault::checkStoredLogs() {
    if (storage_) foldRecoveredJournal();
    const std::size_t stored = storage_ ? storage_->countLogsWithGroupId(groupId()) : 0;
    if (stored == 0) return;
    DAVLogDebug(kTag, "Found %zu stored log(s) of group Id %s.", stored, groupId().c_str());
    itemsCount_ += stored;
    checkPendingLogs();
}

// --- deciding when to send ----------------------------------------------------------

void DAVChannelUnitDefault::checkPendingLogs() {
    auto config = configuration();
    if (!paused_ && config->flushInterval() == kDefaultFlushInterval && itemsCount_ >= config->batchSizeLimit()) {
        flushQueue();
        return;
    }
    if (itemsCount_ == 0) return;
    const unsigned long interval = resolveFlushInterval();
    if (paused_) return;
    if (interval > 0) {
        startTimer(interval);
    } else {
        flushQueue();
    }
}

std::string DAVChannelUnitDefault::oldestPendingLogTimestampKey() const {
    return Foundation::format("%s:%s", kStartTimerPrefix, groupId().c_str());
}

void DAVChannelUnitDefault::removeStartTime() {
    dependencies_.defaults->removeObjectForKey(oldestPendingLogTimestampKey());
}

unsigned long DAVChannelUnitDefault::resolveFlushInterval() {
    const unsigned long interval = configuration()->flushInterval();
    if (interval <= kDefaultFlushInterval) return interval;
    const std::string key = oldestPendingLogTimestampKey();
    Foundation::Value stored = dependencies_.defaults->objectForKey(key);
    const double now = Foundation::clock().now();
    if (!stored.isDate() || stored.asDate().secondsSince1970 > now) {
        dependencies_.defaults->setObject(Foundation::Value(Foundation::Date{now}), key);
        return interval;
    }
    const double start = stored.asDate().secondsSince1970;
    if (now > start + static_cast<double>(interval)) {
        dependencies_.defaults->removeObjectForKey(key);
        return 0;
    }
    const auto elapsed = static_cast<unsigned long>(now - start);
    return elapsed >= interval ? 0 : interval - elapsed;
}

void DAVChannelUnitDefault::startTimer(unsigned long seconds) {
    if (!enabled_) return;
    resetTimer();
    const double due = Foundation::clock().uptime() + static_cast<double>(seconds);
    bool schedule = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        timerDue_ = due;
        // A wake-up already scheduled at or before the due time will carry
        // the timer on; only an earlier due time needs a new one.
        schedule = scheduledWakes_.empty() || *scheduledWakes_.begin() > due + kTimerTolerance;
        if (schedule) scheduledWakes_.insert(due);
    }
    if (!schedule) return;
    std::weak_ptr<DAVChannelUnitDefault> weak = weak_from_this();
    logsDispatchQueue()->after(static_cast<double>(seconds), [weak, due] {
        if (auto self = weak.lock()) self->timerWake(due);
    });
}

void DAVChannelUnitDefault::timerWake(double wakeTime) {
    const double now = Foundation::clock().uptime();
    std::optional<double> reschedule;
    bool fire = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (auto it = scheduledWakes_.find(wakeTime); it != scheduledWakes_.end()) scheduledWakes_.erase(it);
        if (!timerDue_) return;
        if (now + kTimerTolerance >= *timerDue_) {
            fire = true;
        } else if (scheduledWakes_.empty() || *scheduledWakes_.begin() > *timerDue_ + kTimerTolerance) {
            // The timer was restarted for later: carry on until then.
            reschedule = *timerDue_;
            scheduledWakes_.insert(*timerDue_);
        }
    }
    if (reschedule) {
        std::weak_ptr<DAVChannelUnitDefault> weak = weak_from_this();
        const double due = *reschedule;
        logsDispatchQueue()->after(due - now, [weak, due] {
            if (auto self = weak.lock()) self->timerWake(due);
        });
        return;
    }
    if (!fire) return;
    if (itemsCount_ > 0) flushQueue();
    resetTimer();
    removeStartTime();
}

void DAVChannelUnitDefault::resetTimer() {
    std::lock_guard<std::mutex> guard(stateLock_);
    timerDue_.reset();
}

// --- sending --------------------------------------------------------------------

void DAVChannelUnitDefault::flushQueue() {
    auto config = configuration();
    std::vector<std::string> excludedKeys;
    for (;;) {
        if (!ingestion_ || !enabled_ || !ingestion_->isReadyToSend() || config->batchSizeLimit() == 0) return;
        resetTimer();
        if (paused_ || pendingBatchQueueFull_) {
            if (itemsCount_ >= config->batchSizeLimit()) {
                availableBatchFromStorage_ = true;
                itemsCount_ = 0;
            }
            // Held back, not forgotten: the next answer, resume or retry sends.
            std::lock_guard<std::mutex> guard(stateLock_);
            flushDeferred_ = true;
            return;
        }
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            flushDeferred_ = false;
        }
        itemsCount_ = 0;
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            excludedKeys.assign(pausedTargetKeys_.begin(), pausedTargetKeys_.end());
        }
        std::size_t loaded = 0;
        const bool more = storage_->loadLogsWithGroupId(
            config->groupId(), config->batchSizeLimit(), excludedKeys,
            [&](const std::vector<std::shared_ptr<DAVLog>>& logs, const std::optional<std::string>& batchId) {
                loaded = logs.size();
                if (!logs.empty() && batchId) sendLogContainer(std::make_shared<DAVLogContainer>(*batchId, logs));
            });
        // Nothing loaded means nothing to send, whatever the store said: the
        // loop must not spin on it.
        availableBatchFromStorage_ = more && loaded > 0;
        if (!availableBatchFromStorage_ || pendingBatchQueueFull_) return;
    }
}

void DAVChannelUnitDefault::sendLogContainer(const std::shared_ptr<DAVLogContainer>& container) {
    auto config = configuration();
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        pendingBatchIds_.push_back(container->batchId);
        inFlight_[container->batchId] = container;
        if (pendingBatchIds_.size() >= config->pendingBatchesLimit()) pendingBatchQueueFull_ = true;
    }
    if (DAVLogger::currentLogLevel() <= DAVLogLevelDebug) {
        const std::size_t count = container->logs.size();
        for (std::size_t i = 0; i < count; ++i) {
            const auto& log = container->logs[i];
            const std::string payload = log->serializeLogWithPrettyPrinting(true).value_or("");
            DAVLogDebug(kTag, "Sending %zu/%zu log, group Id: %s, batch Id: %s, session Id: %s, payload:\n%s", i + 1,
                        count, config->groupId().c_str(), container->batchId.c_str(), log->sid().value_or("").c_str(),
                        payload.c_str());
        }
    }
    auto self = shared_from_this();
    enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
        for (const auto& log : container->logs) delegate.channelWillSendLog(self, log);
    });
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        waitingToSend_.push_back(container);
    }
    sendNextBatch();
}

void DAVChannelUnitDefault::sendNextBatch() {
    std::shared_ptr<DAVLogContainer> container;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (onWire_ || waitingToSend_.empty()) return;
        container = waitingToSend_.front();
        waitingToSend_.pop_front();
        onWire_ = container->batchId;
    }
    std::weak_ptr<DAVChannelUnitDefault> weak = weak_from_this();
    std::shared_ptr<Foundation::DispatchQueue> queue = logsDispatchQueue();
    ingestion_->sendAsync(container,
                          [weak, queue, container](const std::string&, const std::optional<DAVHttpResponse>& response,
                                                   const std::optional<Foundation::Data>&,
                                                   const std::optional<Foundation::Error>& error) {
                              queue->async([weak, container, response, error] {
                                  if (auto unit = weak.lock()) unit->handleResponse(container, response, error);
                              });
                          });
}

void DAVChannelUnitDefault::handleResponse(const std::shared_ptr<DAVLogContainer>& container,
                                           const std::optional<DAVHttpResponse>& response,
                                           const std::optional<Foundation::Error>& error) {
    const std::string& batchId = container->batchId;
    auto config = configuration();
    // The wire is free once this answer is recorded; the next batch waits till then.
    auto leaveWire = [&] {
        std::lock_guard<std::mutex> guard(stateLock_);
        if (onWire_ == batchId) onWire_.reset();
    };
    {
        std::unique_lock<std::mutex> guard(stateLock_);
        if (std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId) == pendingBatchIds_.end()) {
            DAVLogWarning(kTag, "Batch Id %s not expected, ignore.", batchId.c_str());
            guard.unlock();
            leaveWire();
            sendNextBatch();
            return;
        }
    }
    auto self = shared_from_this();
    const long statusCode = response ? response->statusCode : 0;
    if (statusCode == 200) {
        DAVLogDebug(kTag, "Log(s) sent with success, batch Id:%s.", batchId.c_str());
        enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
            for (const auto& log : container->logs) delegate.channelDidSucceedSendingLog(self, log);
        });
        storage_->deleteLogsWithBatchId(batchId, config->groupId());
        // The server takes logs again: failed ones need not wait any longer.
        std::lock_guard<std::mutex> guard(stateLock_);
        if (retryAt_) flushDeferred_ = true;
        retryAt_.reset();
        nextBackoff_ = kFirstRetryBackoff;
    } else {
        DAVLogError(kTag, "Log(s) sent with failure, batch Id:%s, status code:%ld", batchId.c_str(), statusCode);
        const Foundation::Error failure =
            error ? *error
                  : Foundation::makeError(kDAVHttpErrorDomain, statusCode,
                                          Foundation::format("The server answered with status code %ld.", statusCode));
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            lastError_ = failure;
        }
        enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
            for (const auto& log : container->logs) delegate.channelDidFailSendingLog(self, log, error);
        });
        if (!DAVHttpUtil::isRecoverableError(statusCode)) {
            DAVLogError(kTag, "Fatal error encountered; shutting down channel unit with group ID %s",
                        config->groupId().c_str());
            // This batch's logs are reported above; the deletion of all logs
            // that follows reports every other one, in flight or stored.
            storage_->deleteLogsWithBatchId(batchId, config->groupId());
            {
                std::lock_guard<std::mutex> guard(stateLock_);
                pendingBatchIds_.erase(std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId));
                inFlight_.erase(batchId);
                // The batches waiting for the wire are never sent: the deletion reports them.
                waitingToSend_.clear();
            }
            leaveWire();
            setEnabled(false, true);
            return;
        }
        // Every retry of the call is spent: the logs are pending again. They
        // go with the next flush (new logs, a resume, room after a success),
        // and at the latest after a wait that grows with each failure in a row.
        storage_->releaseLogsWithBatchId(batchId, config->groupId());
        availableBatchFromStorage_ = true;
        std::optional<double> wake;
        double backoff = 0;
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            flushDeferred_ = true;
            if (!retryAt_) {
                backoff = nextBackoff_;
                retryAt_ = Foundation::clock().uptime() + backoff;
                wake = retryAt_;
                nextBackoff_ = std::min(nextBackoff_ * 2, kMaxRetryBackoff);
            }
        }
        if (wake) {
            DAVLogWarning(kTag, "Log(s) of group Id %s will be sent again in %.0f second(s).",
                          config->groupId().c_str(), backoff);
            std::weak_ptr<DAVChannelUnitDefault> weak = self;
            const double due = *wake;
            logsDispatchQueue()->after(backoff, [weak, due] {
                if (auto unit = weak.lock()) unit->retryWake(due);
            });
        }
    }
    leaveWire();
    sendNextBatch();
    bool flush = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        pendingBatchIds_.erase(std::find(pendingBatchIds_.begin(), pendingBatchIds_.end(), batchId));
        inFlight_.erase(batchId);
        if (pendingBatchQueueFull_ && pendingBatchIds_.size() < config->pendingBatchesLimit())
            pendingBatchQueueFull_ = false;
        // Room again: what was held back, or is known to wait in the store, leaves now.
        flush = statusCode == 200 && !pendingBatchQueueFull_ && (flushDeferred_ || availableBatchFromStorage_);
    }
    if (flush) flushQueue();
}

std::optional<double> DAVChannelUnitDefault::retryBackoff() const {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (!retryAt_) return std::nullopt;
    return std::max(0.0, *retryAt_ - Foundation::clock().uptime());
}

void DAVChannelUnitDefault::retryWake(double wakeTime) {
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        // A wait ended early by a success, or replaced by a later one.
        if (!retryAt_ || std::abs(*retryAt_ - wakeTime) > kTimerTolerance) return;
        retryAt_.reset();
    }
    flushQueue();
}

// --- enabling, pausing, deleting -------------------------------------------------

void DAVChannelUnitDefault::setEnabled(bool isEnabled, bool deleteDataOnDisabled) {
    auto self = shared_from_this();
    logsDispatchQueue()->async(
        [self, isEnabled, deleteDataOnDisabled] { self->setEnabledSync(isEnabled, deleteDataOnDisabled); });
}

void DAVChannelUnitDefault::setEnabledSync(bool isEnabled, bool deleteDataOnDisabled) {
    auto self = shared_from_this();
    if (enabled_ != isEnabled) {
        enabled_ = isEnabled;
        if (isEnabled) {
            resumeWithIdentifyingObjectSync(self);
        } else {
            pauseWithIdentifyingObjectSync(self);
        }
    }
    if (!isEnabled && deleteDataOnDisabled) {
        DAVLogDebug(kTag, "Delete all logs for group Id %s", groupId().c_str());
        deleteAllLogsWithErrorSync(DAVCanceledWithLogDeletionError());
        itemsCount_ = 0;
        availableBatchFromStorage_ = false;
        pendingBatchQueueFull_ = false;
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            flushDeferred_ = false;
            retryAt_.reset();
            nextBackoff_ = kFirstRetryBackoff;
        }
        removeStartTime();
        discardLogs_ = true;
    } else {
        discardLogs_ = false;
    }
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidSetEnabled(self, isEnabled, deleteDataOnDisabled); });
}

void DAVChannelUnitDefault::deleteAllLogsWithError(const Foundation::Error& error) {
    auto self = shared_from_this();
    logsDispatchQueue()->async([self, error] { self->deleteAllLogsWithErrorSync(error); });
}

void DAVChannelUnitDefault::deleteAllLogsWithErrorSync(const Foundation::Error& error) {
    const std::string group = groupId();
    std::vector<std::string> pending;
    std::map<std::string, std::shared_ptr<DAVLogContainer>> inFlight;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        pending.swap(pendingBatchIds_);
        inFlight.swap(inFlight_);
        // Batches not yet on the wire never leave; the one out is answered and ignored.
        waitingToSend_.clear();
        lastError_ = error;
        // Nothing is in flight any more: a full pending queue would otherwise
        // hold the unit back for good, since the late answers are ignored.
        pendingBatchQueueFull_ = false;
    }
    // Logs in flight were told they are being sent: now they hear of their failure.
    auto self = shared_from_this();
    for (const std::string& batchId : pending) {
        storage_->deleteLogsWithBatchId(batchId, group);
        auto container = inFlight.find(batchId);
        if (container == inFlight.end()) continue;
        enumerateDelegatesWithBlock([&](DAVChannelDelegate& delegate) {
            for (const auto& log : container->second->logs) delegate.channelDidFailSendingLog(self, log, error);
        });
    }
    for (const auto& log : storage_->deleteLogsWithGroupId(group)) notifyFailureBeforeSendingForItem(log, error);
}

void DAVChannelUnitDefault::pauseWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) {
    auto self = shared_from_this();
    logsDispatchQueue()->async([self, identifyingObject] { self->pauseWithIdentifyingObjectSync(identifyingObject); });
}

void DAVChannelUnitDefault::resumeWithIdentifyingObject(const DAVIdentifyingObject& identifyingObject) {
    auto self = shared_from_this();
    logsDispatchQueue()->async([self, identifyingObject] { self->resumeWithIdentifyingObjectSync(identifyingObject); });
}

void DAVChannelUnitDefault::pauseWithIdentifyingObjectSync(const DAVIdentifyingObject& identifyingObject) {
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        const bool held = std::any_of(pausedIdentifyingObjects_.begin(), pausedIdentifyingObjects_.end(),
                                      [&](const std::weak_ptr<void>& pauser) {
                                          return !pauser.expired() && sameObject(pauser, identifyingObject);
                                      });
        if (!held) pausedIdentifyingObjects_.push_back(identifyingObject);
    }
    DAVLogVerbose(kTag, "Identifying object %p added to pause lane for channel %s.", identifyingObject.get(),
                  groupId().c_str());
    if (!paused_) {
        DAVLogDebug(kTag, "Pause channel %s.", groupId().c_str());
        paused_ = true;
        resetTimer();
    }
    auto self = shared_from_this();
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidPauseWithIdentifyingObject(self, identifyingObject); });
}

void DAVChannelUnitDefault::resumeWithIdentifyingObjectSync(const DAVIdentifyingObject& identifyingObject) {
    bool empty = false;
    {
        std::lock_guard<std::mutex> guard(stateLock_);
        // Released pausers no longer count.
        pausedIdentifyingObjects_.erase(
            std::remove_if(pausedIdentifyingObjects_.begin(), pausedIdentifyingObjects_.end(),
                           [&](const std::weak_ptr<void>& pauser) {
                               return pauser.expired() || sameObject(pauser, identifyingObject);
                           }),
            pausedIdentifyingObjects_.end());
        empty = pausedIdentifyingObjects_.empty();
    }
    DAVLogVerbose(kTag, "Identifying object %p removed from pause lane for channel %s.", identifyingObject.get(),
                  groupId().c_str());
    if (empty) {
        DAVLogDebug(kTag, "Resume channel %s.", groupId().c_str());
        paused_ = false;
        bool deferred = false;
        {
            // A resume starts afresh: failed logs need not wait any longer.
            std::lock_guard<std::mutex> guard(stateLock_);
            deferred = flushDeferred_ || retryAt_.has_value();
            retryAt_.reset();
            nextBackoff_ = kFirstRetryBackoff;
        }
        if (deferred)
            flushQueue();
        else
            checkPendingLogs();
    }
    auto self = shared_from_this();
    enumerateDelegatesWithBlock(
        [&](DAVChannelDelegate& delegate) { delegate.channelDidResumeWithIdentifyingObject(self, identifyingObject); });
}

void DAVChannelUnitDefault::pauseSendingLogsWithToken(const std::string& token) {
    std::optional<std::string> targetKey = DAVUtility::targetKeyFromTargetToken(token);
    if (!targetKey) return;
    auto self = shared_from_this();
    logsDispatchQueue()->async([self, key = *targetKey] {
        DAVLogDebug(kTag, "Pause channel for target key %s.", key.c_str());
        std::lock_guard<std::mutex> guard(self->stateLock_);
        self->pausedTargetKeys_.insert(key);
    });
}

void DAVChannelUnitDefault::resumeSendingLogsWithToken(const std::string& token) {
    std::optional<std::string> targetKey = DAVUtility::targetKeyFromTargetToken(token);
    if (!targetKey) return;
    auto self = shared_from_this();
    logsDispatchQueue()->async([self, key = *targetKey] {
        DAVLogDebug(kTag, "Resume channel for target key %s.", key.c_str());
        {
            std::lock_guard<std::mutex> guard(self->stateLock_);
            self->pausedTargetKeys_.erase(key);
        }
        self->itemsCount_ = self->storage_->countLogs();
        self->checkPendingLogs();
    });
}
