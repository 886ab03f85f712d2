#pragma once
// The log store: the table "logs" of "Logs.sqlite" (user_version 5) in the
// SDK's directory. Logs saved together are written in one transaction; a
// batch is read through the index on (groupId, priority DESC, id), so its
// cost does not grow with the backlog.

#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBStorage.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"

class DAVLogDBStorage : public DAVDBStorage, public DAVStorage {
public:
    static constexpr unsigned kSchemaVersion = 5;
    static constexpr const char* kFileName = "Logs.sqlite";
    static constexpr const char* kTableName = "logs";
    static constexpr const char* kIdColumnName = "id";
    static constexpr const char* kGroupIdColumnName = "groupId";
    static constexpr const char* kLogColumnName = "log";
    static constexpr const char* kTargetTokenColumnName = "targetToken";
    static constexpr const char* kTargetKeyColumnName = "targetKey";
    static constexpr const char* kPriorityColumnName = "priority";

    // `filename` other than "Logs.sqlite" serves tests and benchmarks.
    explicit DAVLogDBStorage(const std::string& filename = kFileName);

    static constexpr const char* kBatchIndexName = "ix_logs_groupId_priority_id";

    bool saveLog(const std::shared_ptr<DAVLog>& log, const std::string& groupId, DAVFlags flags) override;
    std::vector<bool> saveLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                               std::vector<DAVEvictedLog>* evicted) override;
    // "<store file>.pending-<group id, percent-encoded>"
    std::optional<std::string> journalPathForGroupId(const std::string& groupId) override;
    std::uint64_t foldedJournalSequence(const std::string& groupId) override;
    std::vector<bool> saveJournaledLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                                        std::vector<DAVEvictedLog>* evicted, std::uint64_t journalSequence,
                                        bool* folded) override;
    // Per group, the highest journal sequence folded in: table "journal", beside "logs".
    static constexpr const char* kJournalTableName = "journal";
    bool loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                             const std::optional<std::vector<std::string>>& excludedTargetKeys,
                             const DAVLoadDataCompletionHandler& completionHandler) override;
    void deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
    void releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) override;
    std::vector<std::shared_ptr<DAVLog>> deleteLogsWithGroupId(const std::string& groupId) override;
    std::size_t countLogs() override;
    std::size_t countLogsWithGroupId(const std::string& groupId) override;
    void setMaxStorageSize(std::int64_t sizeInBytes,
                           const std::function<void(bool success)>& completionHandler) override {
        DAVDBStorage::setMaxStorageSize(sizeInBytes, completionHandler);
    }

    static DAVDBSchema logsSchema();

    // Batches handed out and not yet deleted: (group id, batch id) -> row ids.
    const std::map<std::pair<std::string, std::string>, std::vector<std::int64_t>>& batches() const { return batches_; }

protected:
    void customizeDatabase(sqlite3* db) override;
    void migrateDatabase(sqlite3* db, unsigned fromVersion) override;
    int prepareDatabase(sqlite3* db) override;
    std::size_t salvageDatabase(sqlite3* damaged, sqlite3* fresh, std::size_t* unreadable) override;
    std::size_t salvagePages(const DAVDBPageReader& pages, sqlite3* fresh) override;

private:
    struct LoadedLog {
        std::int64_t id;
        std::shared_ptr<DAVLog> log;
    };
    // A log ready for its insert.
    struct EncodedLog {
        bool valid = false;
        std::string base64;
        std::optional<std::string> encryptedToken;
        std::optional<std::string> targetKey;
        std::int64_t priority = 0;
    };

    EncodedLog encode(const DAVLogToStore& entry);
    std::vector<bool> save(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                           std::vector<DAVEvictedLog>* evicted, std::optional<std::uint64_t> journalSequence,
                           bool* folded);
    void loadFoldedSequences(sqlite3* db);
    static int createJournalTable(sqlite3* db);
    // Inside the open transaction, after an insert found the store full:
    // deletes logs of equal or lower priority (lowest, then oldest first;
    // never one in flight), retrying the insert after each.
    int evictAndInsert(sqlite3* db, std::int64_t priority, const std::function<int()>& insert,
                       std::vector<DAVEvictedLog>& evicted, long& evictedCount);
    std::shared_ptr<DAVLog> decodeLog(std::int64_t id, const std::string* text, const std::string* token);
    std::set<std::int64_t> handedOutIds(const std::optional<std::string>& groupId) const;

    std::vector<std::shared_ptr<DAVLog>> logsFromDBWithGroupId(const std::string& groupId);
    // Rows matching the condition, decoded; rows whose id is in `skippedIds`
    // are left out before decoding, and at most `maxCount` logs are returned.
    std::vector<LoadedLog> logsWithCondition(const std::string& condition, const DAVStorageBindableArray& values,
                                             const std::set<std::int64_t>* skippedIds = nullptr,
                                             std::size_t maxCount = SIZE_MAX);
    void deleteLogFromDBWithId(std::int64_t id);
    void deleteLogsFromDBWithColumnValue(const Foundation::Value& value, const std::string& columnName);
    void deleteLogsFromDBWithColumnValues(const std::vector<Foundation::Value>& values, const std::string& columnName);
    static int deleteLogsFromDBWithColumnValues(const std::vector<Foundation::Value>& values,
                                                const std::string& columnName, sqlite3* db);
    static std::string buildKeyFormatWithCount(std::size_t count);
    static int createPriorityIndex(sqlite3* db);

    std::map<std::pair<std::string, std::string>, std::vector<std::int64_t>> batches_;
    std::size_t idColumnIndex_ = 0;
    std::size_t groupIdColumnIndex_ = 1;
    std::size_t logColumnIndex_ = 2;
    std::size_t targetTokenColumnIndex_ = 3;
    DAVEncrypter targetTokenEncrypter_;
    // Mirror of table "journal", read by channel units on any thread.
    mutable std::mutex foldedLock_;
    std::map<std::string, std::uint64_t> foldedSequences_;
    // The store file's path as configured; journals are named after it.
    std::string journalBase_;
};
