#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBPageReader.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBStatement.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr const char* kTag = kDAVDerAvedurLogTag;

// Above this many handed-out ids the exclusion is done in memory, so that the
// statement stays well within SQLite's limit on bound parameters.
constexpr std::size_t kMaxBoundExcludedIds = 10000;
// Deletions bind at most this many values per statement.
constexpr std::size_t kDeleteChunkSize = 500;

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

std::string joined(const std::vector<Foundation::Value>& values, const char* separator) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) text += separator;
        if (const std::string* s = values[i].stringOrNull())
            text += *s;
        else if (auto n = values[i].integerValue())
            text += std::to_string(*n);
    }
    return text;
}

}  // namespace

DAVDBSchema DAVLogDBStorage::logsSchema() {
    return {{kTableName,
             {{kIdColumnName, {"INTEGER", "PRIMARY", "KEY", "AUTOINCREMENT"}},
              {kGroupIdColumnName, {"TEXT", "NOT", "NULL"}},
              {kLogColumnName, {"TEXT", "NOT", "NULL"}},
              {kTargetTokenColumnName, {"TEXT"}},
              {kTargetKeyColumnName, {"TEXT"}},
              {kPriorityColumnName, {"INTEGER"}}}}};
}

DAVLogDBStorage::DAVLogDBStorage(const std::string& filename)
    : DAVDBStorage(logsSchema(), kSchemaVersion, filename, false) {
    auto indexes = columnsIndexes(logsSchema())[kTableName];
    idColumnIndex_ = indexes[kIdColumnName];
    groupIdColumnIndex_ = indexes[kGroupIdColumnName];
    logColumnIndex_ = indexes[kLogColumnName];
    targetTokenColumnIndex_ = indexes[kTargetTokenColumnName];
    initializeDatabase();
    journalBase_ = dbFileURL();
}

void DAVLogDBStorage::customizeDatabase(sqlite3* db) { createPriorityIndex(db); }

// Older layouts are not converted: their logs are dropped with the table.
void DAVLogDBStorage::migrateDatabase(sqlite3* db, unsigned) {
    executeNonSelectionQuery("DROP TABLE IF EXISTS " + quoted(kTableName) + ";", db);
    createTablesWithSchema(schema(), db);
    createPriorityIndex(db);
}

int DAVLogDBStorage::createPriorityIndex(sqlite3* db) {
    return executeNonSelectionQuery(std::string("CREATE INDEX \"ix_") + kTableName + "_" + kPriorityColumnName +
                                        "\" ON " + quoted(kTableName) + " (" + quoted(kPriorityColumnName) + ")",
                                    db);
}

std::string DAVLogDBStorage::buildKeyFormatWithCount(std::size_t count) {
    std::string list = "(";
    for (std::size_t i = 0; i < count; ++i) list += i ? ",?" : "?";
    return list + ")";
}

int DAVLogDBStorage::prepareDatabase(sqlite3* db) {
    // A commit writes (and syncs) the write-ahead log only: one sync instead
    // of the rollback journal's several, so a group of logs is durable
    // sooner. The mode is kept in the file; any SQLite since 3.7 reads it.
    int result = SQLITE_OK;
    std::vector<DAVDBRow> mode = executeSelectionQuery("PRAGMA journal_mode = WAL", db, nullptr, &result);
    if (isCorruption(result)) return result;
    if (mode.empty() || mode.front().empty() || mode.front().front().stringOrNull() == nullptr ||
        *mode.front().front().stringOrNull() != "wal")
        DAVLogWarning(kTag, "The log store keeps its rollback journal: the write-ahead log is not available.");
    // Deleted rows leave no bytes behind, so that reading a damaged file
    // page by page never brings a sent log back.
    executeSelectionQuery("PRAGMA secure_delete = ON", db);
    loadFoldedSequences(db);
    // Files of the earlier layout gain the index here; it changes nothing
    // they need to be read by an earlier version.
    return executeNonSelectionQuery(std::string("CREATE INDEX IF NOT EXISTS \"") + kBatchIndexName + "\" ON " +
                                        quoted(kTableName) + " (" + quoted(kGroupIdColumnName) + ", " +
                                        quoted(kPriorityColumnName) + " DESC, " + quoted(kIdColumnName) + ")",
                                    db);
}

bool DAVLogDBStorage::saveLog(const std::shared_ptr<DAVLog>& log, const std::string& groupId, DAVFlags flags) {
    if (!log) return false;
    return saveLogs({{log, flags}}, groupId, nullptr).front();
}

namespace {

std::optional<std::string> archiveInBase64(const std::shared_ptr<DAVLog>& log) {
    auto object = std::dynamic_pointer_cast<Foundation::Coding>(log);
    if (!object) {
        DAVLogError(kTag, "Log of type '%s' cannot be archived.", log->type().value_or("").c_str());
        return std::nullopt;
    }
    auto archive = DAVUtility::archiveKeyedData(Foundation::Value(object));
    if (!archive) return std::nullopt;
    return Foundation::base64Encode(*archive);
}

}  // namespace

DAVLogDBStorage::EncodedLog DAVLogDBStorage::encode(const DAVLogToStore& entry) {
    EncodedLog row;
    const auto& log = entry.log;
    if (!log) return row;
    auto base64 = entry.archive ? std::optional<std::string>(Foundation::base64Encode(*entry.archive))
                                : archiveInBase64(log);
    if (!base64) return row;
    row.base64 = std::move(*base64);
    row.priority = static_cast<std::int64_t>(entry.flags & DAVFlagsPersistenceMask);
    if (std::dynamic_pointer_cast<DAVCommonSchemaLog>(log)) {
        std::set<std::string> tokens = log->transmissionTargetTokens();
        if (!tokens.empty()) {
            const std::string& token = *tokens.begin();
            // Never store the token in plain text: without a cipher the log is not stored.
            row.encryptedToken = targetTokenEncrypter_.encryptString(token);
            if (!row.encryptedToken) {
                DAVLogError(kTag, "Failed to encrypt the target token; the log is not stored.");
                return row;
            }
            row.targetKey = DAVUtility::targetKeyFromTargetToken(token);
        }
    }
    row.valid = true;
    return row;
}

namespace {

// The text must outlive the step: it is not copied.
int bindText(sqlite3_stmt* statement, int index, const std::string* text) {
    if (!text) return sqlite3_bind_null(statement, index);
    return sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
}

}  // namespace

int DAVLogDBStorage::evictAndInsert(sqlite3* db, std::int64_t priority, const std::function<int()>& insert,
                                    std::vector<DAVEvictedLog>& evicted, long& evictedCount) {
    // Logs in flight are about to be deleted by their answer: evicting them
    // would report them failed and then sent.
    const std::set<std::int64_t> inFlight = handedOutIds(std::nullopt);
    const std::string candidatesQuery = "SELECT " + quoted(kIdColumnName) + " FROM " + quoted(kTableName) + " WHERE " +
                                        quoted(kPriorityColumnName) + " <= ? ORDER BY " + quoted(kPriorityColumnName) +
                                        " ASC, " + quoted(kIdColumnName) + " ASC LIMIT ?";
    const std::string rowQuery = "SELECT " + quoted(kGroupIdColumnName) + ", " + quoted(kLogColumnName) + ", " +
                                 quoted(kTargetTokenColumnName) + " FROM " + quoted(kTableName) + " WHERE " +
                                 quoted(kIdColumnName) + " = ?";
    const std::string deleteQuery = "DELETE FROM " + quoted(kTableName) + " WHERE " + quoted(kIdColumnName) + " = ?";
    for (;;) {
        DAVStorageBindableArray candidateValues;
        candidateValues.addNumber(priority);
        candidateValues.addNumber(static_cast<std::int64_t>(inFlight.size() + 8));
        int code = SQLITE_OK;
        std::vector<DAVDBRow> candidates = executeSelectionQuery(candidatesQuery, db, &candidateValues, &code);
        if (code != SQLITE_OK) return code;
        bool deletedAny = false;
        for (const DAVDBRow& candidate : candidates) {
            const std::int64_t id = candidate.front().integerValue().value_or(0);
            if (inFlight.count(id)) continue;
            DAVStorageBindableArray idValue;
            idValue.addNumber(id);
            std::vector<DAVDBRow> rows = executeSelectionQuery(rowQuery, db, &idValue, &code);
            if (code != SQLITE_OK) return code;
            code = executeNonSelectionQuery(deleteQuery, db, &idValue);
            if (code != SQLITE_OK) return code;
            deletedAny = true;
            ++evictedCount;
            DAVLogDebug(kTag, "Deleted a log with id %lld to store a new log.", static_cast<long long>(id));
            if (!rows.empty() && rows.front().size() >= 3) {
                const DAVDBRow& row = rows.front();
                if (auto log = decodeLog(id, row[1].stringOrNull(), row[2].stringOrNull()))
                    evicted.push_back({row[0].stringOrNull() ? *row[0].stringOrNull() : std::string(), std::move(log)});
            }
            code = insert();
            if (code != SQLITE_FULL || sqlite3_get_autocommit(db)) return code;
        }
        if (!deletedAny) break;
    }
    DAVLogError(kTag, "Storage is full and no logs with equal or lower priority exist; discarding the log.");
    return SQLITE_FULL;
}

std::set<std::int64_t> DAVLogDBStorage::handedOutIds(const std::optional<std::string>& groupId) const {
    std::set<std::int64_t> ids;
    for (const auto& [key, batch] : batches_)
        if (!groupId || key.first == *groupId) ids.insert(batch.begin(), batch.end());
    return ids;
}

std::shared_ptr<DAVLog> DAVLogDBStorage::decodeLog(std::int64_t id, const std::string* text, const std::string* token) {
    std::shared_ptr<DAVLog> log;
    if (text) {
        if (auto data = Foundation::base64DecodeLenient(*text)) {
            Foundation::Value object = DAVUtility::unarchiveKeyedData(*data);
            if (object.isObject()) log = std::dynamic_pointer_cast<DAVLog>(object.asObject());
        }
    }
    if (!log) return nullptr;
    if (token) {
        if (token->empty()) {
            DAVLogError(kTag, "Unexpected empty target token for log with Id %lld.", static_cast<long long>(id));
        } else if (auto decrypted = targetTokenEncrypter_.decryptString(*token)) {
            log->addTransmissionTargetToken(*decrypted);
        } else {
            DAVLogError(kTag, "Failed to decrypt the target token for log with Id %lld.", static_cast<long long>(id));
        }
    }
    return log;
}

std::vector<bool> DAVLogDBStorage::saveLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                                            std::vector<DAVEvictedLog>* evicted) {
    return save(logs, groupId, evicted, std::nullopt, nullptr);
}

std::vector<bool> DAVLogDBStorage::saveJournaledLogs(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                                                     std::vector<DAVEvictedLog>* evicted,
                                                     std::uint64_t journalSequence, bool* folded) {
    return save(logs, groupId, evicted, journalSequence, folded);
}

std::optional<std::string> DAVLogDBStorage::journalPathForGroupId(const std::string& groupId) {
    if (journalBase_.empty()) return std::nullopt;
    static const char* hex = "0123456789ABCDEF";
    std::string name;
    for (unsigned char c : groupId) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            name.push_back(static_cast<char>(c));
        } else {
            name.push_back('%');
            name.push_back(hex[c >> 4]);
            name.push_back(hex[c & 0xF]);
        }
    }
    return journalBase_ + ".pending-" + name;
}

std::uint64_t DAVLogDBStorage::foldedJournalSequence(const std::string& groupId) {
    std::lock_guard<std::mutex> guard(foldedLock_);
    auto found = foldedSequences_.find(groupId);
    return found == foldedSequences_.end() ? 0 : found->second;
}

// Reads the table into the mirror and writes back what the mirror knows
// beyond it (a store rebuilt after damage starts with an empty table).
// The table is made by the first journalled save, so a store used without
// journals keeps its earlier layout page for page.
void DAVLogDBStorage::loadFoldedSequences(sqlite3* db) {
    if (!tableExists(kJournalTableName, db)) {
        std::lock_guard<std::mutex> guard(foldedLock_);
        if (foldedSequences_.empty()) return;
    }
    createJournalTable(db);
    int code = SQLITE_OK;
    std::vector<DAVDBRow> rows =
        executeSelectionQuery("SELECT \"groupId\", \"sequence\" FROM " + quoted(kJournalTableName), db, nullptr, &code);
    std::lock_guard<std::mutex> guard(foldedLock_);
    for (const DAVDBRow& row : rows) {
        if (row.size() < 2 || !row[0].stringOrNull()) continue;
        const auto sequence = static_cast<std::uint64_t>(row[1].integerValue().value_or(0));
        std::uint64_t& known = foldedSequences_[*row[0].stringOrNull()];
        known = std::max(known, sequence);
    }
    for (const auto& [group, sequence] : foldedSequences_) {
        DAVStorageBindableArray values;
        values.addString(group);
        values.addNumber(static_cast<std::int64_t>(sequence));
        executeNonSelectionQuery("INSERT INTO " + quoted(kJournalTableName) +
                                     " (\"groupId\", \"sequence\") VALUES (?, ?) ON CONFLICT(\"groupId\") DO UPDATE SET "
                                     "\"sequence\" = max(\"sequence\", excluded.\"sequence\")",
                                 db, &values);
    }
}

int DAVLogDBStorage::createJournalTable(sqlite3* db) {
    return executeNonSelectionQuery(std::string("CREATE TABLE IF NOT EXISTS ") + quoted(kJournalTableName) +
                                        " (\"groupId\" TEXT PRIMARY KEY, \"sequence\" INTEGER NOT NULL) WITHOUT ROWID",
                                    db);
}

std::vector<bool> DAVLogDBStorage::save(const std::vector<DAVLogToStore>& logs, const std::string& groupId,
                                        std::vector<DAVEvictedLog>* evicted,
                                        std::optional<std::uint64_t> journalSequence, bool* folded) {
    if (folded) *folded = false;
    std::vector<EncodedLog> rows;
    rows.reserve(logs.size());
    for (const auto& entry : logs) rows.push_back(encode(entry));
    std::vector<bool> stored(logs.size(), false);

    // The form with SELECT runs under a statement journal: a full store then
    // undoes only this insert, where a plain VALUES insert would lose the
    // whole transaction.
    const std::string insertQuery = "INSERT INTO " + quoted(kTableName) + " (" + quoted(kGroupIdColumnName) + ", " +
                                    quoted(kLogColumnName) + ", " + quoted(kTargetTokenColumnName) + ", " +
                                    quoted(kTargetKeyColumnName) + ", " + quoted(kPriorityColumnName) +
                                    ") SELECT ?, ?, ?, ?, ?";
    // A damaged file is set aside and salvaged by the first failing attempt,
    // and a transaction SQLite gave up on is started again: one more try each.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::vector<DAVEvictedLog> evictedNow;
        long evictedCount = 0;
        bool transactionLost = false;
        bool committedSequence = false;
        std::fill(stored.begin(), stored.end(), false);
        int result = executeQueryUsingBlock([&](sqlite3* db) {
            int code = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            if (code != SQLITE_OK) {
                DAVLogError(kTag, "Could not begin a transaction, result=%d\n\t%s", code, sqlite3_errmsg(db));
                return code;
            }
            // Prepared once for the life of the transaction.
            DAVDBStatement statement(db, insertQuery);
            if (statement.prepared() != SQLITE_OK) {
                DAVLogError(kTag, "Failed to prepare SQLite statement, result=%d\n\t%s", statement.prepared(),
                            sqlite3_errmsg(db));
                return statement.prepared();
            }
            const std::int64_t maxSize = maxSizeInBytes();
            for (std::size_t i = 0; i < rows.size(); ++i) {
                const EncodedLog& row = rows[i];
                if (!row.valid) continue;
                if (static_cast<std::int64_t>(row.base64.size()) >= maxSize) {
                    DAVLogError(kTag,
                                "Log is too large (%zu bytes) to store in database. Current maximum database size is "
                                "%lld bytes.",
                                row.base64.size(), static_cast<long long>(maxSize));
                    continue;
                }
                auto insert = [&] {
                    sqlite3_stmt* prepared = statement.get();
                    bindText(prepared, 1, &groupId);
                    bindText(prepared, 2, &row.base64);
                    bindText(prepared, 3, row.encryptedToken ? &*row.encryptedToken : nullptr);
                    bindText(prepared, 4, row.targetKey ? &*row.targetKey : nullptr);
                    sqlite3_bind_int64(prepared, 5, row.priority);
                    return statement.run();
                };
                code = insert();
                if (code == SQLITE_FULL && !sqlite3_get_autocommit(db))
                    code = evictAndInsert(db, row.priority, insert, evictedNow, evictedCount);
                if (code == SQLITE_OK) {
                    stored[i] = true;
                    DAVLogVerbose(kTag, "Log is stored with id: '%lld'",
                                  static_cast<long long>(sqlite3_last_insert_rowid(db)));
                    continue;
                }
                if (isCorruption(code)) return code;
                if (sqlite3_get_autocommit(db)) {
                    transactionLost = true;
                    return code;
                }
            }
            // The journal's records are folded in with the logs, in the same commit.
            bool sequenceWritten = false;
            if (journalSequence) {
                code = createJournalTable(db);
                if (isCorruption(code)) return code;
                DAVStorageBindableArray values;
                values.addString(groupId);
                values.addNumber(static_cast<std::int64_t>(*journalSequence));
                code = executeNonSelectionQuery(
                    "INSERT INTO " + quoted(kJournalTableName) +
                        " (\"groupId\", \"sequence\") VALUES (?, ?) ON CONFLICT(\"groupId\") DO UPDATE SET "
                        "\"sequence\" = max(\"sequence\", excluded.\"sequence\")",
                    db, &values);
                if (isCorruption(code)) return code;
                if (sqlite3_get_autocommit(db)) {
                    transactionLost = true;
                    return code;
                }
                sequenceWritten = code == SQLITE_OK;
            }
            code = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            if (code != SQLITE_OK)
                DAVLogError(kTag, "Could not commit the stored logs, result=%d\n\t%s", code, sqlite3_errmsg(db));
            else
                committedSequence = sequenceWritten;
            return code;
        });
        if (result == SQLITE_OK) {
            if (committedSequence) {
                {
                    std::lock_guard<std::mutex> guard(foldedLock_);
                    std::uint64_t& known = foldedSequences_[groupId];
                    known = std::max(known, *journalSequence);
                }
                if (folded) *folded = true;
            }
            if (evictedCount > 0)
                DAVLogWarning(kTag,
                              "Log storage was over capacity, %ld oldest log(s) with equal or lower priority deleted.",
                              evictedCount);
            if (evicted) evicted->insert(evicted->end(), evictedNow.begin(), evictedNow.end());
            return stored;
        }
        std::fill(stored.begin(), stored.end(), false);
        if (!isCorruption(result) && !transactionLost) break;
    }
    return stored;
}

bool DAVLogDBStorage::loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                                          const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                          const DAVLoadDataCompletionHandler& completionHandler) {
    // Logs of batches in flight of this very group (never of another group
    // whose id merely begins the same way).
    const std::set<std::int64_t> handedOut = handedOutIds(groupId);

    DAVStorageBindableArray values;
    std::string condition = quoted(kGroupIdColumnName) + " = ?";
    values.addString(groupId);
    if (excludedTargetKeys && !excludedTargetKeys->empty()) {
        condition +=
            " AND " + quoted(kTargetKeyColumnName) + " NOT IN " + buildKeyFormatWithCount(excludedTargetKeys->size());
        for (const std::string& key : *excludedTargetKeys) values.addString(key);
    }
    const bool bindIds = !handedOut.empty() && handedOut.size() <= kMaxBoundExcludedIds;
    if (bindIds) {
        condition += " AND " + quoted(kIdColumnName) + " NOT IN " + buildKeyFormatWithCount(handedOut.size());
        for (std::int64_t id : handedOut) values.addNumber(id);
    }
    condition += " ORDER BY " + quoted(kPriorityColumnName) + " DESC, " + quoted(kIdColumnName) + " ASC";
    // One more than asked tells whether more are waiting; the largest limits
    // are clamped to what SQLite accepts.
    constexpr std::uint64_t kMaxLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - 1;
    std::uint64_t wanted = std::min<std::uint64_t>(limit, kMaxLimit) + 1;
    std::uint64_t sqlLimit = bindIds ? wanted : std::min<std::uint64_t>(wanted + handedOut.size(), kMaxLimit + 1);
    condition += " LIMIT ?";
    values.addNumber(static_cast<std::int64_t>(sqlLimit));

    const std::size_t setAside = setAsideFiles().size();
    std::vector<LoadedLog> loaded =
        logsWithCondition(condition, values, bindIds ? nullptr : &handedOut, static_cast<std::size_t>(wanted));
    // Damage found on the way: the salvaged store (same ids) is read again.
    if (setAsideFiles().size() != setAside)
        loaded = logsWithCondition(condition, values, bindIds ? nullptr : &handedOut, static_cast<std::size_t>(wanted));
    bool more = false;
    if (loaded.size() > limit) {
        loaded.resize(limit);
        more = true;
    }
    std::vector<std::shared_ptr<DAVLog>> logs;
    std::optional<std::string> batchId;
    if (!loaded.empty()) {
        batchId = Foundation::makeUUIDString();
        std::vector<std::int64_t> ids;
        std::string idsText;
        for (const LoadedLog& entry : loaded) {
            ids.push_back(entry.id);
            logs.push_back(entry.log);
            idsText += (idsText.empty() ? "" : "','") + std::to_string(entry.id);
        }
        batches_[{groupId, *batchId}] = std::move(ids);
        DAVLogVerbose(kTag, "Load log(s) with id(s) '%s' as batch Id:%s", idsText.c_str(), batchId->c_str());
    }
    if (completionHandler) completionHandler(logs, batchId);
    return more;
}

std::vector<DAVLogDBStorage::LoadedLog> DAVLogDBStorage::logsWithCondition(const std::string& condition,
                                                                           const DAVStorageBindableArray& values,
                                                                           const std::set<std::int64_t>* skippedIds,
                                                                           std::size_t maxCount) {
    std::string query = "SELECT * FROM " + quoted(kTableName);
    if (!condition.empty()) query += " WHERE " + condition;
    std::vector<DAVDBRow> rows = executeSelectionQuery(query, &values);
    std::vector<LoadedLog> logs;
    for (const DAVDBRow& row : rows) {
        if (logs.size() >= maxCount) break;
        if (row.size() <= std::max({idColumnIndex_, logColumnIndex_, targetTokenColumnIndex_})) continue;
        const std::int64_t id = row[idColumnIndex_].integerValue().value_or(0);
        if (skippedIds && skippedIds->count(id)) continue;

        std::shared_ptr<DAVLog> log =
            decodeLog(id, row[logColumnIndex_].stringOrNull(), row[targetTokenColumnIndex_].stringOrNull());
        if (!log) {
            DAVLogError(kTag, "Deserialization failed for log with Id %lld", static_cast<long long>(id));
            deleteLogFromDBWithId(id);
            continue;
        }
        logs.push_back({id, std::move(log)});
    }
    return logs;
}

std::vector<std::shared_ptr<DAVLog>> DAVLogDBStorage::logsFromDBWithGroupId(const std::string& groupId) {
    DAVStorageBindableArray values;
    values.addString(groupId);
    std::vector<std::shared_ptr<DAVLog>> logs;
    for (LoadedLog& entry : logsWithCondition(quoted(kGroupIdColumnName) + " = ?", values))
        logs.push_back(std::move(entry.log));
    return logs;
}

void DAVLogDBStorage::deleteLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
    auto batch = batches_.find({groupId, batchId});
    if (batch == batches_.end()) return;
    std::vector<Foundation::Value> ids(batch->second.begin(), batch->second.end());
    // The batch is answered: its deletion is written at once (a kill of the
    // process keeps it) but not synced, since a power cut that undid it would
    // only send the logs again. The next batch waits for this, not for a sync.
    executeQueryUsingBlock([&](sqlite3* db) {
        int level = SQLITE_OK;
        const std::int64_t synchronous = querySingleValue("PRAGMA synchronous", db, &level);
        const bool relaxed = level == SQLITE_OK && synchronous > 1 &&
                             sqlite3_exec(db, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr) == SQLITE_OK;
        const int result = deleteLogsFromDBWithColumnValues(ids, kIdColumnName, db);
        if (relaxed)
            sqlite3_exec(db, ("PRAGMA synchronous = " + std::to_string(synchronous)).c_str(), nullptr, nullptr,
                         nullptr);
        return result;
    });
    batches_.erase(batch);
}

std::vector<std::shared_ptr<DAVLog>> DAVLogDBStorage::deleteLogsWithGroupId(const std::string& groupId) {
    std::vector<std::shared_ptr<DAVLog>> logs = logsFromDBWithGroupId(groupId);
    deleteLogsFromDBWithColumnValue(Foundation::Value(groupId), kGroupIdColumnName);
    for (auto it = batches_.begin(); it != batches_.end();) {
        if (it->first.first == groupId)
            it = batches_.erase(it);
        else
            ++it;
    }
    return logs;
}

std::size_t DAVLogDBStorage::countLogs() { return countEntriesForTable(kTableName, std::nullopt); }

std::size_t DAVLogDBStorage::countLogsWithGroupId(const std::string& groupId) {
    DAVStorageBindableArray values;
    values.addString(groupId);
    return countEntriesForTable(kTableName, quoted(kGroupIdColumnName) + " = ?", &values);
}

void DAVLogDBStorage::releaseLogsWithBatchId(const std::string& batchId, const std::string& groupId) {
    batches_.erase({groupId, batchId});
}

// Reads the damaged table in id order; where a part cannot be read, finds
// the next id from which reading works again (doubling the step, then
// narrowing it down) and goes on from there. Ids are kept, so batches handed
// out before the damage still name the same logs.
std::size_t DAVLogDBStorage::salvageDatabase(sqlite3* damaged, sqlite3* fresh, std::size_t* unreadable) {
    std::size_t lost = 0;
    std::size_t salvaged = 0;
    const std::string columns = quoted(kIdColumnName) + ", " + quoted(kGroupIdColumnName) + ", " +
                                quoted(kLogColumnName) + ", " + quoted(kTargetTokenColumnName) + ", " +
                                quoted(kTargetKeyColumnName) + ", " + quoted(kPriorityColumnName);
    const std::string select = "SELECT " + columns + " FROM " + quoted(kTableName) + " WHERE " + quoted(kIdColumnName) +
                               " > ? ORDER BY " + quoted(kIdColumnName);
    const std::string insertQuery =
        "INSERT OR IGNORE INTO " + quoted(kTableName) + " (" + columns + ") VALUES (?, ?, ?, ?, ?, ?)";
    DAVDBStatement readStatement(damaged, select);
    if (readStatement.prepared() != SQLITE_OK) {
        if (unreadable) *unreadable = 1;
        return 0;
    }
    DAVDBStatement writeStatement(fresh, insertQuery);
    if (writeStatement.prepared() != SQLITE_OK) {
        if (unreadable) *unreadable = 1;
        return 0;
    }
    sqlite3_stmt* reader = readStatement.get();
    sqlite3_stmt* writer = writeStatement.get();
    sqlite3_exec(fresh, "BEGIN", nullptr, nullptr, nullptr);
    // Copies the rows after `cursor`, moving it on; SQLITE_DONE at the end, else the error.
    std::int64_t cursor = 0;
    bool full = false;
    auto copy = [&] {
        sqlite3_reset(reader);
        sqlite3_bind_int64(reader, 1, cursor);
        int step;
        while ((step = sqlite3_step(reader)) == SQLITE_ROW) {
            cursor = sqlite3_column_int64(reader, 0);
            const unsigned char* group = sqlite3_column_text(reader, 1);
            const unsigned char* text = sqlite3_column_text(reader, 2);
            if (!group || !text) {
                ++lost;  // the row is there, its content is not
                continue;
            }
            if (full) continue;
            for (int column = 0; column < 6; ++column)
                sqlite3_bind_value(writer, column + 1, sqlite3_column_value(reader, column));
            const int written = sqlite3_step(writer);
            sqlite3_reset(writer);
            if (written == SQLITE_DONE)
                ++salvaged;
            else
                full = true;
        }
        return step;
    };
    // Whether reading can start after `after`: SQLITE_ROW, SQLITE_DONE or the error.
    auto probe = [&](std::int64_t after) {
        sqlite3_reset(reader);
        sqlite3_bind_int64(reader, 1, after);
        return sqlite3_step(reader);
    };
    while (copy() != SQLITE_DONE) {
        ++lost;
        // Past the damage: the first start that reads again, doubling the step ...
        const std::int64_t from = cursor;
        std::int64_t step = 1;
        int found = SQLITE_ERROR;
        while (step < (std::int64_t{1} << 62)) {
            found = probe(from + step);
            if (found == SQLITE_ROW || found == SQLITE_DONE) break;
            step *= 2;
        }
        if (found != SQLITE_ROW) break;
        // ... then narrowed down between the last failing start and it.
        std::int64_t bad = step == 1 ? from : from + step / 2;
        std::int64_t good = from + step;
        while (good - bad > 1) {
            const std::int64_t middle = bad + (good - bad) / 2;
            (probe(middle) == SQLITE_ROW ? good : bad) = middle;
        }
        cursor = good;
    }
    readStatement.finalize();
    writeStatement.finalize();
    sqlite3_exec(fresh, "COMMIT", nullptr, nullptr, nullptr);
    if (unreadable) *unreadable = lost;
    // The journal sequences folded in go along, so that no journal record is
    // stored a second time by the next launch.
    if (tableExists(kJournalTableName, damaged)) {
        int code = SQLITE_OK;
        const std::vector<DAVDBRow> rows = executeSelectionQuery(
            "SELECT \"groupId\", \"sequence\" FROM " + quoted(kJournalTableName), damaged, nullptr, &code);
        {
            std::lock_guard<std::mutex> guard(foldedLock_);
            for (const DAVDBRow& row : rows) {
                if (row.size() < 2 || !row[0].stringOrNull()) continue;
                std::uint64_t& known = foldedSequences_[*row[0].stringOrNull()];
                known = std::max(known, static_cast<std::uint64_t>(row[1].integerValue().value_or(0)));
            }
        }
        loadFoldedSequences(fresh);
    }
    return salvaged;
}

// Rows of "logs" are told from the other tables' by their shape (six
// columns: the id kept in the row id, group, archive, token, key, priority)
// and kept only when their archive reads as a log.
std::size_t DAVLogDBStorage::salvagePages(const DAVDBPageReader& pages, sqlite3* fresh) {
    const std::string insertQuery = "INSERT OR IGNORE INTO " + quoted(kTableName) + " (" + quoted(kIdColumnName) +
                                    ", " + quoted(kGroupIdColumnName) + ", " + quoted(kLogColumnName) + ", " +
                                    quoted(kTargetTokenColumnName) + ", " + quoted(kTargetKeyColumnName) + ", " +
                                    quoted(kPriorityColumnName) + ") VALUES (?, ?, ?, ?, ?, ?)";
    DAVDBStatement statement(fresh, insertQuery);
    if (statement.prepared() != SQLITE_OK) return 0;
    auto textOrNull = [](const Foundation::Value& value) { return value.isNull() || value.stringOrNull(); };
    std::size_t added = 0;
    sqlite3_exec(fresh, "BEGIN", nullptr, nullptr, nullptr);
    pages.forEachRow([&](const DAVDBPageRow& row) {
        const std::vector<Foundation::Value>& columns = row.columns;
        if (columns.size() != 6 || row.rowId <= 0 || !columns[0].isNull()) return;
        const std::string* group = columns[1].stringOrNull();
        const std::string* text = columns[2].stringOrNull();
        if (!group || group->empty() || !text || !textOrNull(columns[3]) || !textOrNull(columns[4])) return;
        if (!columns[5].isNull() && !columns[5].isInt()) return;
        const auto data = Foundation::base64DecodeLenient(*text);
        if (!data) return;
        const Foundation::Value object = DAVUtility::unarchiveKeyedData(*data);
        if (!object.isObject() || !std::dynamic_pointer_cast<DAVLog>(object.asObject())) return;
        sqlite3_stmt* insert = statement.get();
        sqlite3_reset(insert);
        sqlite3_bind_int64(insert, 1, row.rowId);
        bindText(insert, 2, group);
        bindText(insert, 3, text);
        bindText(insert, 4, columns[3].stringOrNull());
        bindText(insert, 5, columns[4].stringOrNull());
        if (auto priority = columns[5].integerValue())
            sqlite3_bind_int64(insert, 6, *priority);
        else
            sqlite3_bind_null(insert, 6);
        if (sqlite3_step(insert) == SQLITE_DONE && sqlite3_changes(fresh) > 0) ++added;
    });
    statement.finalize();
    sqlite3_exec(fresh, "COMMIT", nullptr, nullptr, nullptr);
    return added;
}

void DAVLogDBStorage::deleteLogFromDBWithId(std::int64_t id) {
    deleteLogsFromDBWithColumnValue(Foundation::Value(id), kIdColumnName);
}

void DAVLogDBStorage::deleteLogsFromDBWithColumnValue(const Foundation::Value& value, const std::string& columnName) {
    deleteLogsFromDBWithColumnValues({value}, columnName);
}

void DAVLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<Foundation::Value>& values,
                                                       const std::string& columnName) {
    executeQueryUsingBlock([&](sqlite3* db) { return deleteLogsFromDBWithColumnValues(values, columnName, db); });
}

int DAVLogDBStorage::deleteLogsFromDBWithColumnValues(const std::vector<Foundation::Value>& values,
                                                      const std::string& columnName, sqlite3* db) {
    if (values.empty()) return SQLITE_OK;
    const std::string trace = "Deletion of log(s) by " + columnName + " with value(s) '" + joined(values, "','") + "'";
    int result = SQLITE_OK;
    // The values are bound, never written into the statement.
    for (std::size_t start = 0; start < values.size() && result == SQLITE_OK; start += kDeleteChunkSize) {
        const std::size_t count = std::min(kDeleteChunkSize, values.size() - start);
        DAVStorageBindableArray bound;
        for (std::size_t i = start; i < start + count; ++i) {
            if (const std::string* text = values[i].stringOrNull())
                bound.addString(*text);
            else
                bound.addNumber(values[i].integerValue().value_or(0));
        }
        result = executeNonSelectionQuery("DELETE FROM " + quoted(kTableName) + " WHERE " + quoted(columnName) +
                                              " IN " + buildKeyFormatWithCount(count),
                                          db, &bound);
    }
    if (result == SQLITE_OK)
        DAVLogVerbose(kTag, "%s succeeded.", trace.c_str());
    else
        DAVLogError(kTag, "%s failed.", trace.c_str());
    return result;
}
