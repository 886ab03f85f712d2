#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "DerAvedur/DerAvedur/Internals/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVUtility.h"
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
        if (const std::string* s = values[i].stringOrNull()) text += *s;
        else if (auto n = values[i].integerValue()) text += std::to_string(*n);
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

bool DAVLogDBStorage::saveLog(const std::shared_ptr<DAVLog>& log, const std::string& groupId, DAVFlags flags) {
    if (!log) return false;
    auto object = std::dynamic_pointer_cast<Foundation::Coding>(log);
    if (!object) {
        DAVLogError(kTag, "Log of type '%s' cannot be archived.", log->type().value_or("").c_str());
        return false;
    }
    auto archive = DAVUtility::archiveKeyedData(Foundation::Value(object));
    if (!archive) return false;
    const std::string base64 = Foundation::base64Encode(*archive);
    const std::int64_t priority = static_cast<std::int64_t>(flags & DAVFlagsPersistenceMask);

    DAVStorageBindableArray values;
    std::string query;
    values.addString(groupId);
    values.addString(base64);
    if (std::dynamic_pointer_cast<DAVCommonSchemaLog>(log)) {
        std::set<std::string> tokens = log->transmissionTargetTokens();
        std::optional<std::string> encryptedToken;
        std::optional<std::string> targetKey;
        if (!tokens.empty()) {
            const std::string& token = *tokens.begin();
            // Never store the token in plain text: without a cipher the log is not stored.
            encryptedToken = targetTokenEncrypter_.encryptString(token);
            if (!encryptedToken) {
                DAVLogError(kTag, "Failed to encrypt the target token; the log is not stored.");
                return false;
            }
            targetKey = DAVUtility::targetKeyFromTargetToken(token);
        }
        query = "INSERT INTO " + quoted(kTableName) + " (" + quoted(kGroupIdColumnName) + ", " +
                quoted(kLogColumnName) + ", " + quoted(kTargetTokenColumnName) + ", " + quoted(kTargetKeyColumnName) +
                ", " + quoted(kPriorityColumnName) + ") VALUES (?, ?, ?, ?, ?)";
        values.addString(encryptedToken);
        values.addString(targetKey);
    } else {
        query = "INSERT INTO " + quoted(kTableName) + " (" + quoted(kGroupIdColumnName) + ", " +
                quoted(kLogColumnName) + ", " + quoted(kPriorityColumnName) + ") VALUES (?, ?, ?)";
    }
    values.addNumber(priority);

    int result = executeQueryUsingBlock([&](sqlite3* db) {
        const std::int64_t maxSize = getMaxPageCountInOpenedDatabase(db) * pageSize();
        if (static_cast<std::int64_t>(base64.size()) >= maxSize) {
            DAVLogError(kTag,
                        "Log is too large (%zu bytes) to store in database. Current maximum database size is %lld bytes.",
                        base64.size(), static_cast<long long>(maxSize));
            return SQLITE_ERROR;
        }
        int code = executeNonSelectionQuery(query, db, &values);
        if (code == SQLITE_FULL) {
            // Make room: equal or lower priority only, lowest priority first, then oldest.
            DAVStorageBindableArray candidateValues;
            candidateValues.addNumber(priority);
            std::vector<DAVDBRow> candidates = executeSelectionQuery(
                "SELECT " + quoted(kIdColumnName) + " FROM " + quoted(kTableName) + " WHERE " +
                    quoted(kPriorityColumnName) + " <= ? ORDER BY " + quoted(kPriorityColumnName) + " ASC, " +
                    quoted(kIdColumnName) + " ASC",
                db, &candidateValues);
            long deleted = 0;
            for (const DAVDBRow& candidate : candidates) {
                const Foundation::Value& id = candidate.front();
                int deleteResult = deleteLogsFromDBWithColumnValues({id}, kIdColumnName, db);
                if (deleteResult != SQLITE_OK) {
                    code = deleteResult;
                    break;
                }
                DAVLogDebug(kTag, "Deleted a log with id %lld to store a new log.",
                            static_cast<long long>(id.integerValue().value_or(0)));
                ++deleted;
                code = executeNonSelectionQuery(query, db, &values);
                if (code != SQLITE_FULL) break;
            }
            if (deleted > 0)
                DAVLogDebug(kTag, "Log storage was over capacity, %ld oldest log(s) with equal or lower priority deleted.",
                            deleted);
            if (code == SQLITE_FULL)
                DAVLogError(kTag, "Storage is full and no logs with equal or lower priority exist; discarding the log.");
        }
        if (code == SQLITE_OK)
            DAVLogVerbose(kTag, "Log is stored with id: '%lld'", static_cast<long long>(sqlite3_last_insert_rowid(db)));
        return code;
    });
    return result == SQLITE_OK;
}

bool DAVLogDBStorage::loadLogsWithGroupId(const std::string& groupId, std::size_t limit,
                                          const std::optional<std::vector<std::string>>& excludedTargetKeys,
                                          const DAVLoadDataCompletionHandler& completionHandler) {
    // Logs of batches in flight of this very group (never of another group
    // whose id merely begins the same way).
    std::set<std::int64_t> handedOut;
    for (const auto& [key, ids] : batches_)
        if (key.first == groupId) handedOut.insert(ids.begin(), ids.end());

    DAVStorageBindableArray values;
    std::string condition = quoted(kGroupIdColumnName) + " = ?";
    values.addString(groupId);
    if (excludedTargetKeys && !excludedTargetKeys->empty()) {
        condition += " AND " + quoted(kTargetKeyColumnName) + " NOT IN " + buildKeyFormatWithCount(excludedTargetKeys->size());
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

    std::vector<LoadedLog> loaded =
        logsWithCondition(condition, values, bindIds ? nullptr : &handedOut, static_cast<std::size_t>(wanted));
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

        std::shared_ptr<DAVLog> log;
        if (const std::string* text = row[logColumnIndex_].stringOrNull()) {
            if (auto data = Foundation::base64DecodeLenient(*text)) {
                Foundation::Value object = DAVUtility::unarchiveKeyedData(*data);
                if (object.isObject()) log = std::dynamic_pointer_cast<DAVLog>(object.asObject());
            }
        }
        if (!log) {
            DAVLogError(kTag, "Deserialization failed for log with Id %lld", static_cast<long long>(id));
            deleteLogFromDBWithId(id);
            continue;
        }
        if (const std::string* token = row[targetTokenColumnIndex_].stringOrNull()) {
            if (token->empty()) {
                DAVLogError(kTag, "Unexpected empty target token for log with Id %lld.", static_cast<long long>(id));
            } else if (auto decrypted = targetTokenEncrypter_.decryptString(*token)) {
                log->addTransmissionTargetToken(*decrypted);
            } else {
                DAVLogError(kTag, "Failed to decrypt the target token for log with Id %lld.", static_cast<long long>(id));
            }
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
    deleteLogsFromDBWithColumnValues(ids, kIdColumnName);
    batches_.erase(batch);
}

std::vector<std::shared_ptr<DAVLog>> DAVLogDBStorage::deleteLogsWithGroupId(const std::string& groupId) {
    std::vector<std::shared_ptr<DAVLog>> logs = logsFromDBWithGroupId(groupId);
    deleteLogsFromDBWithColumnValue(Foundation::Value(groupId), kGroupIdColumnName);
    for (auto it = batches_.begin(); it != batches_.end();) {
        if (it->first.first == groupId) it = batches_.erase(it);
        else ++it;
    }
    return logs;
}

std::size_t DAVLogDBStorage::countLogs() { return countEntriesForTable(kTableName, std::nullopt); }

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
            if (const std::string* text = values[i].stringOrNull()) bound.addString(*text);
            else bound.addNumber(values[i].integerValue().value_or(0));
        }
        result = executeNonSelectionQuery("DELETE FROM " + quoted(kTableName) + " WHERE " + quoted(columnName) +
                                              " IN " + buildKeyFormatWithCount(count),
                                          db, &bound);
    }
    if (result == SQLITE_OK) DAVLogVerbose(kTag, "%s succeeded.", trace.c_str());
    else DAVLogError(kTag, "%s failed.", trace.c_str());
    return result;
}
