#pragma once
// The persistent queue of logs between enqueueing and sending, as the
// channel units use it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"

// The logs of a batch and its id (nothing when no log was loaded).
using DAVLoadDataCompletionHandler =
    std::function<void(const std::vector<std::shared_ptr<DAVLog>>& logs, const std::optional<std::string>& batchId)>;

// One log of a group stored together, and its flags.
struct DAVLogToStore {
    DAVLogToStore(std::shared_ptr<DAVLog> log = nullptr, DAVFlags flags = DAVFlagsDefault,
                  std::shared_ptr<const Foundation::Data> archive = nullptr)
        : log(std::move(log)), flags(flags), archive(std::move(archive)) {}
    std::shared_ptr<DAVLog> log;
    DAVFlags flags = DAVFlagsDefault;
    // The log's keyed archive made when it was enqueued (for its journal
    // record), stored as is; without it the store archives the log.
    std::shared_ptr<const Foundation::Data> archive;
};

// A log removed to make room for a newer one, and the group it was stored for.
struct DAVEvictedLog {
    std::string groupId;
    std::shared_ptr<DAVLog> log;
};

class DAVStorage {
public:
    virtual ~DAVStorage() = default;

    // True when the log was stored.
    virtual bool saveLog(const std::shared_ptr<DAVLog>& log, const std::string& groupId, DAVFlags flags) = 0;
    // Stores the logs together (one transaction where the store has them);
    // one answer per log, in order. Logs evicted to make room are added to
    // `evicted`. The default stores them one by one.
    virtual std::vector<bool> saveLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                                       std::vector<DAVEvictedLog>* evicted) {
        (void)evicted;
        std::vector<bool> stored;
        for (const auto& entry : logs) stored.push_back(saveLog(entry.log, groupId, entry.flags));
        return stored;
    }
    // Where the journal of a group's enqueued logs lives; nothing means no journal.
    virtual std::optional<std::string> journalPathForGroupId(const std::string& /*groupId*/) { return std::nullopt; }
    // The highest journal sequence of the group folded into the store. Any thread.
    virtual std::uint64_t foldedJournalSequence(const std::string& /*groupId*/) { return 0; }
    // As `saveLogs`, and records in the same transaction that the group's
    // journal records up to `journalSequence` are folded in (even when no log
    // is given); `folded` tells whether that was committed.
    virtual std::vector<bool> saveJournaledLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                                                std::vector<DAVEvictedLog>* evicted, std::uint64_t /*journalSequence*/,
                                                bool* folded) {
        if (folded) *folded = false;
        return logs.empty() ? std::vector<bool>() : saveLogs(logs, groupId, evicted);
    }
    // Runs the completion before returning; true when more logs than `limit` matched.
    virtual bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                                     const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                     const DAVLoadDataCompletionHandler& completionHandler) = 0;
    virtual void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
    // Forgets the batch without deleting its logs: they load again.
    virtual void releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) = 0;
    // The group's logs as they were before deletion.
    virtual std::vector<std::shared_ptr<DAVLog>> deleteLogsWithGroupId(const std::string& groupId) = 0;
    virtual std::size_t countLogs() = 0;
    virtual std::size_t countLogsWithGroupId(const std::string& groupId) = 0;
    virtual void setMaxStorageSize(std::int64_t sizeInBytes,
                                   const std::function<void(bool success)>& completionHandler) = 0;
};
