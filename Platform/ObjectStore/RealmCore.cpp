// The store instance: refreshing from the file and write transactions with an
// undo log. The file's format, its schema and opening it are in
// RealmCoreFile.cpp, migration in RealmCoreMigration.cpp, change notifications
// in RealmCoreNotifications.cpp.

#include <algorithm>
#include <atomic>

#include "Platform/ObjectStore/detail/Core.h"
#include "Platform/ObjectStore/detail/RealmFile.h"
#include "Platform/ObjectStore/detail/Sqlite.h"

namespace ObjectStore {

namespace {
std::atomic<int> gFailCommits{0};
// Numbers write transactions across all instances, so a record's undo slot
// can never be taken for one of another transaction.
std::atomic<std::uint64_t> gWriteNumbers{0};
}  // namespace

void testing::failNextCommits(int count) { gFailCommits = count; }

namespace detail {

// --- refresh -----------------------------------------------------------------------

// Must run inside a transaction of this connection.
bool RealmCore::reloadIfChanged() {
    std::int64_t dv = readDataVersion();
    if (dv == dataVersion_) return false;
    FileState state = readFileState(db_, path_);
    if (state.version != configuration_.schemaVersion)
        fail(ErrorCode::schemaMismatch, "The store '" + path_ + "' was changed by another program (schema version " +
                                            std::to_string(state.version) + ").");
    std::unordered_map<std::string, std::unordered_set<std::int64_t>> modified;
    for (auto& cls : schema_) {
        Table& t = *table(cls->className);
        auto rows = readRows(db_, *cls);
        std::unordered_map<std::int64_t, LoadedRow*> fresh;
        for (auto& row : rows) fresh.emplace(row.key, &row);
        for (auto it = t.rows.begin(); it != t.rows.end();) {
            if (!fresh.count(it->first)) {
                it->second->invalidated = true;
                it = t.rows.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& row : rows) {
            auto it = t.rows.find(row.key);
            if (it != t.rows.end()) {
                // A record still reading a load's columns compares them
                // value by value, and keeps them when nothing changed.
                if (!sameValues(*it->second, row.values)) {
                    it->second->assign(std::move(row.values));
                    modified[cls->className].insert(row.key);
                }
            } else {
                auto r = std::allocate_shared<Record>(SmallAllocator<Record>());
                r->schema = cls;
                r->graph = this;
                r->key = row.key;
                r->assign(std::move(row.values));
                t.rows.emplace(r->key, r);
            }
        }
        t.dropPrimaryKeyIndex();
        t.nextKey = std::max(t.nextKey, state.nextKeys[cls->className]);
        if (!t.rows.empty()) t.nextKey = std::max(t.nextKey, t.rows.lastKey() + 1);
    }
    dataVersion_ = dv;
    bumpVersion();
    markChanged(modified, {});
    return true;
}

bool RealmCore::refresh() {
    if (inWrite_) return false;
    try {
        exec(db_, "BEGIN");
        bool changed = reloadIfChanged();
        exec(db_, "COMMIT");
        return changed;
    } catch (const std::exception& e) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        Foundation::Error error;
        if (auto* re = dynamic_cast<const RealmError*>(&e))
            error = re->error();
        else
            error = Foundation::Error{ErrorDomain, static_cast<long>(ErrorCode::invalidDatabase), notAStore(path_), {}};
        for (const auto& n : notifiers_.snapshot())
            if (!n->dead) {
                std::weak_ptr<Notifier> wn = n;
                n->queue->async([wn, error] {
                    if (auto s = wn.lock()) s->deliverError(error);
                });
            }
        throw RealmError(error);
    }
}

// --- write transactions ----------------------------------------------------------------

void RealmCore::requireThread() const {
    if (std::this_thread::get_id() != thread_) fail(ErrorCode::wrongThread, "The store was opened on another thread.");
}

void RealmCore::beginWrite() {
    requireThread();
    if (inWrite_) fail(ErrorCode::alreadyInWriteTransaction, "The store is already in a write transaction.");
    // Pending updates first, so that the commit's skip list hides only its own changes.
    for (int round = 0; round < 8; ++round) {
        bool any = false;
        for (const auto& n : notifiers_.snapshot())
            if (!n->dead && n->dirty && n->initialDelivered && !n->delivering && deliverableHere(*n)) {
                any = true;
                n->deliverUpdate();
            }
        if (!any) break;
    }
    if (inWrite_) fail(ErrorCode::alreadyInWriteTransaction, "The store is already in a write transaction.");
    try {
        exec(db_, "BEGIN IMMEDIATE");
    } catch (const SqlError& e) {
        fail(ErrorCode::fileAccess, "The store '" + path_ + "' cannot be written: " + e.what());
    }
    try {
        reloadIfChanged();
    } catch (const SqlError& e) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        fail(codeForSql(e.code()), "The store '" + path_ + "' cannot be read: " + e.what());
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    inWrite_ = true;
    undo_.clear();
    writeNumber_ = ++gWriteNumbers;
    nextKeysAtBegin_.clear();
    for (auto& name : order_) nextKeysAtBegin_[name] = tables_.at(name).nextKey;
}

RealmCore::Undo& RealmCore::undoFor(const std::shared_ptr<Record>& record) {
    if (Undo* u = existingUndo(*record)) return *u;
    record->undoWrite = writeNumber_;
    record->undoSlot = static_cast<std::uint32_t>(undo_.size());
    undo_.emplace_back().record = record;
    return undo_.back();
}

void RealmCore::checkWritable() {
    if (!inWrite_) fail(ErrorCode::notInWriteTransaction, "Cannot change the store outside of a write transaction.");
}

void RealmCore::willModify(Record& record) {
    checkWritable();
    Undo* u = nullptr;
    if (Undo* found = existingUndo(record)) {
        u = found;
    } else {
        auto shared = lookup(record.schema->className, record.key);
        if (!shared || shared.get() != &record) return;
        u = &undoFor(shared);
    }
    if (!u->inserted && !u->oldValues)
        u->oldValues = std::make_unique<std::vector<Value>>(record.values().begin(), record.values().end());
}

void RealmCore::didInsert(const std::shared_ptr<Record>& record) { undoFor(record).inserted = true; }

void RealmCore::willRemove(const std::shared_ptr<Record>& record) {
    Undo& u = undoFor(record);
    if (!u.inserted && !u.oldValues)
        u.oldValues = std::make_unique<std::vector<Value>>(record->values().begin(), record->values().end());
    u.removed = true;
}

void RealmCore::writeChanges() {
    std::map<std::string, std::unique_ptr<RowWriter>> writers;
    auto writer = [&](const Record& r) -> RowWriter& {
        auto& w = writers[r.schema->className];
        if (!w) w = std::make_unique<RowWriter>(db_, *r.schema);
        return *w;
    };
    for (const Undo& u : undo_) {
        const Record& r = *u.record;
        if (u.inserted && u.removed) continue;
        if (u.removed)
            writer(r).erase(r.key);
        else if (u.inserted)
            writer(r).write(r, nullptr);
        else if (u.oldValues && !sameValues(r, *u.oldValues))
            writer(r).write(r, &*u.oldValues);
    }
    Statement next(db_, "UPDATE _vexil_class SET nextKey=? WHERE name=?");
    for (auto& name : order_) {
        std::int64_t k = tables_.at(name).nextKey;
        if (k != nextKeysAtBegin_[name]) {
            next.bind(1, static_cast<sqlite3_int64>(k));
            next.bind(2, name);
            next.run();
        }
    }
}

void RealmCore::commitWrite(const std::vector<NotificationTokenRef>& skip) {
    requireThread();
    if (!inWrite_) fail(ErrorCode::notInWriteTransaction, "There is no write transaction to commit.");
    try {
        if (gFailCommits > 0) {
            --gFailCommits;
            throw SqlError(SQLITE_FULL, "database or disk is full");
        }
        writeChanges();
        exec(db_, "COMMIT");
    } catch (const SqlError& e) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        rollbackMemory();
        fail(ErrorCode::commitFailed, "The store '" + path_ + "' could not be written: " + e.what() + ".");
    }
    // Our own commit leaves data_version as it is for this connection.
    std::unordered_map<std::string, std::unordered_set<std::int64_t>> modified;
    for (const Undo& u : undo_)
        if (!u.inserted && !u.removed && u.oldValues) modified[u.record->schema->className].insert(u.record->key);
    inWrite_ = false;
    undo_.clear();
    writeNumber_ = 0;
    markChanged(modified, skip);
}

void RealmCore::cancelWrite() {
    requireThread();
    if (!inWrite_) fail(ErrorCode::notInWriteTransaction, "There is no write transaction to cancel.");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    rollbackMemory();
}

void RealmCore::rollbackMemory() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
        Undo& u = *it;
        Record& r = *u.record;
        Table& t = *table(r.schema->className);
        int pk = r.schema->primaryKeyIndex();
        if (u.oldValues) r.assign(*u.oldValues);
        if (u.inserted) {
            t.rows.erase(r.key);
            if (pk >= 0 && t.hasPrimaryKeyIndex())
                t.byPrimaryKey().erase(primaryKeyText(r.value(static_cast<std::size_t>(pk))), &r);
            r.invalidated = true;
        } else if (u.removed) {
            t.rows.emplace(r.key, u.record);
            if (pk >= 0 && t.hasPrimaryKeyIndex()) {
                auto& index = t.byPrimaryKey();
                const std::string text = primaryKeyText(r.value(static_cast<std::size_t>(pk)));
                if (Record* taken = index.insert(text, &r); taken != &r) {
                    index.erase(text, taken);
                    index.insert(text, &r);
                }
            }
            r.invalidated = false;
        }
    }
    for (auto& [name, key] : nextKeysAtBegin_)
        if (Table* t = table(name)) t->nextKey = key;
    undo_.clear();
    writeNumber_ = 0;
    inWrite_ = false;
    bumpVersion();
}

}  // namespace detail
}  // namespace ObjectStore
