#pragma once
// Internal: the in-memory object graph behind a store instance, queries,
// notifiers and the SQLite file. Not for use outside Platform/ObjectStore.

#include <sqlite3.h>

#include <algorithm>
#include <deque>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Platform/Foundation/WeakList.h"
#include "Platform/ObjectStore/Realm.h"

namespace ObjectStore::detail {

using Foundation::Value;
// A record's values: usually on the heap, in a RecordBlock for records loaded
// in bulk.
using ValueRow = std::pmr::vector<Value>;

inline bool sameValues(const ValueRow& a, const std::vector<Value>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

// One object's values. Managed: `graph` is set, links hold the target's key
// (an integer), lists an array of values or keys. Unmanaged: links hold the
// target's handle. Linking-objects slots stay null.
struct Record {
    SchemaRef schema;
    Graph* graph = nullptr;
    std::int64_t key = 0;
    bool invalidated = false;
    ValueRow values;
    // Where this record's entry in the undo log of the open write transaction
    // is: valid while `undoWrite` is that transaction's number (numbers are
    // never reused), so finding it needs no lookup.
    std::uint64_t undoWrite = 0;
    std::size_t undoSlot = 0;
};

// Memory for the records of one bulk load: the records and their value rows
// in a few large blocks (on huge pages where the system offers them), so a
// first open neither allocates per row nor faults in a page per few rows.
// Each record handed out keeps the whole block alive; the block is freed when
// the last of them goes.
class RecordBlock : public std::pmr::memory_resource {
public:
    // `records` is how many will be made; more still work, from smaller blocks.
    RecordBlock(std::size_t records, std::size_t valuesPerRecord);
    ~RecordBlock() override;
    RecordBlock(const RecordBlock&) = delete;
    RecordBlock& operator=(const RecordBlock&) = delete;

    // A record in the block whose value row is in the block too.
    static std::shared_ptr<Record> make(const std::shared_ptr<RecordBlock>& block);

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void*, std::size_t, std::size_t) override {}
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
    void addChunk(std::size_t bytes);

    struct Chunk {
        void* base;
        std::size_t size;
        bool mapped;
    };
    std::vector<Chunk> chunks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
    std::vector<Record*> records_;
};

// The rows of a table by key, in key order (the natural order). Keys only
// grow as objects are added, so adding one is an append; a removed row
// leaves a hole that lookups and iteration skip, squeezed out once holes are
// as many as rows. The interface is the part of std::map the store uses.
class RowMap {
public:
    using Entry = std::pair<const std::int64_t, std::shared_ptr<Record>>;

    template <class E>
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using pointer = E*;
        using reference = E&;
        Iterator(E* at, E* end) : at_(at), end_(end) { skip(); }
        E& operator*() const { return *at_; }
        E* operator->() const { return at_; }
        Iterator& operator++() {
            ++at_;
            skip();
            return *this;
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.at_ == b.at_; }
        E* position() const { return at_; }

    private:
        void skip() {
            while (at_ != end_ && !at_->second) ++at_;
        }
        E* at_;
        E* end_;
    };
    using iterator = Iterator<Entry>;
    using const_iterator = Iterator<const Entry>;

    iterator begin() { return iterator(data(), data() + entries_.size()); }
    iterator end() { return iterator(data() + entries_.size(), data() + entries_.size()); }
    const_iterator begin() const { return const_iterator(data(), data() + entries_.size()); }
    const_iterator end() const { return const_iterator(data() + entries_.size(), data() + entries_.size()); }

    std::size_t size() const { return live_; }
    bool empty() const { return live_ == 0; }
    void reserve(std::size_t n) { entries_.reserve(n); }

    iterator find(std::int64_t key);
    const_iterator find(std::int64_t key) const;
    // Throws std::out_of_range for a key that is not there.
    const std::shared_ptr<Record>& at(std::int64_t key) const;
    // Adds the row unless the key is there; false then, as std::map.
    std::pair<iterator, bool> emplace(std::int64_t key, std::shared_ptr<Record> record);
    std::size_t erase(std::int64_t key);
    // Leaves holes in place, so iterators stay valid; the next one is returned.
    iterator erase(iterator it);
    // The largest key; the map must not be empty.
    std::int64_t lastKey() const;

private:
    Entry* data() { return entries_.data(); }
    const Entry* data() const { return entries_.data(); }
    // Position of the first entry (hole or row) whose key is not below `key`.
    std::size_t lowerBound(std::int64_t key) const;
    // Rebuilds the entries without holes, with `extra` (when given) in its place.
    void rebuild(const Entry* extra);

    std::vector<Entry> entries_;
    std::size_t live_ = 0;
};

struct Table {
    SchemaRef schema;
    RowMap rows;  // natural order
    std::int64_t nextKey = 1;
    // Makes handles: the registered C++ type when it has this stored form.
    std::function<std::shared_ptr<Object>(Binding)> wrap;
    std::function<std::shared_ptr<Object>()> makeDefault;

    // Primary key text -> object key. Made from the rows on first use (opening
    // a store does not need it) and kept up to date from then on.
    std::unordered_map<std::string, std::int64_t>& byPrimaryKey() const;
    bool hasPrimaryKeyIndex() const { return primaryKeysIndexed_; }
    // The next use makes the index again from the rows.
    void dropPrimaryKeyIndex() const {
        primaryKeys_.clear();
        primaryKeysIndexed_ = false;
    }

private:
    mutable std::unordered_map<std::string, std::int64_t> primaryKeys_;
    mutable bool primaryKeysIndexed_ = false;
};

// Text under which a primary key value is indexed.
std::string primaryKeyText(const Value& value);
// The zero value (or the declared default) of a property.
Value defaultValueFor(const Property& property);
// Checks and normalises a user value for a property (numbers widen to
// double; an integer 0/1 is not a Boolean). Throws std::invalid_argument.
Value checkedUserValue(const ObjectSchema& schema, const Property& property, Value value);

class Graph : public std::enable_shared_from_this<Graph> {
public:
    virtual ~Graph();

    Table* table(std::string_view className);
    const Table* table(std::string_view className) const;
    Table& addTable(SchemaRef schema);
    const std::vector<std::string>& classOrder() const { return order_; }

    std::shared_ptr<Record> lookup(std::string_view className, std::int64_t key) const;
    std::shared_ptr<Record> lookupPrimaryKey(std::string_view className, const Value& primaryKey) const;
    // A handle of the graph's record: the registered C++ type when its schema
    // has the stored form of the record's class, else a dynamic object.
    std::shared_ptr<Object> handle(const std::shared_ptr<Record>& record);

    // User-facing value of a stored one, and back.
    Value userValue(const Property& property, const Value& stored);
    Value storedValue(const Property& property, const Value& user);

    // Changes that go through the graph (so transactions can record them).
    void setValue(Record& record, int index, Value stored);
    // Inserts an unmanaged object and the unmanaged objects it links to.
    std::shared_ptr<Record> insert(const std::shared_ptr<Object>& object, UpdatePolicy policy);
    // A new unmanaged handle of the class with its defaults.
    std::shared_ptr<Object> makeUnmanaged(std::string_view className);
    void remove(const std::shared_ptr<Record>& record);

    // A stored object's primary key is fixed, except while a migration
    // builds the new form of the objects.
    virtual bool primaryKeysFixed() const { return false; }

    // Bumped on every change; queries cache their result per version.
    std::uint64_t version() const { return version_; }
    void bumpVersion() { ++version_; }

    // The records whose link property `propertyIndex` of `originClass`
    // points at `target`, in natural order.
    std::vector<std::shared_ptr<Record>> backlinks(const Record& target, const std::string& originClass,
                                                   int propertyIndex) const;

protected:
    // Hooks for transactions: called before any change, before a record
    // changes, after one is added, before one is removed.
    virtual void checkWritable();
    virtual void willModify(Record& record);
    virtual void didInsert(const std::shared_ptr<Record>& record);
    virtual void willRemove(const std::shared_ptr<Record>& record);

public:
    // Where a new object of the class takes its initial values from.
    std::vector<Value> defaultValues(const Table& table);

protected:
    std::unordered_map<std::string, Table> tables_;
    std::vector<std::string> order_;
    std::uint64_t version_ = 0;

private:
    const Table* lastHandleTable_ = nullptr;
};

// --- predicates -----------------------------------------------------------

struct PredicateNode;
using PredicateRef = std::shared_ptr<const PredicateNode>;
// Parses and binds a predicate to a class; throws InvalidPredicate.
PredicateRef compilePredicate(const Predicate& predicate, const Graph& graph, const ObjectSchema& schema);
bool evaluatePredicate(const PredicateNode& node, const Record& record, const Graph& graph);
// A key path resolved against a schema: property positions, following links.
struct KeyPath {
    std::vector<std::pair<SchemaRef, int>> steps;
};
KeyPath resolveKeyPath(const Graph& graph, const ObjectSchema& schema, const std::string& path);
Value valueAtKeyPath(const KeyPath& keyPath, const Record& record, const Graph& graph);
// Total order of stored values of one property kind (null first).
int compareValues(const Value& a, const Value& b);

// --- queries --------------------------------------------------------------

struct Query {
    std::shared_ptr<Graph> graph;
    SchemaRef schema;
    // Linking objects: the objects whose link `backlinkProperty` points at this record.
    std::shared_ptr<Record> backlinkTarget;
    int backlinkProperty = -1;
    std::vector<PredicateRef> filters;
    std::vector<std::pair<KeyPath, bool>> sort;

    const std::vector<std::shared_ptr<Record>>& evaluate() const;

private:
    mutable std::uint64_t cachedVersion_ = UINT64_MAX;
    mutable std::vector<std::shared_ptr<Record>> cache_;
};

// --- notifications --------------------------------------------------------

class RealmCore;

struct Notifier {
    std::shared_ptr<AnyResults> results;
    std::function<void(const AnyCollectionChange&)> block;
    std::shared_ptr<Foundation::DispatchQueue> queue;
    bool initialDelivered = false;
    bool dirty = false;
    bool dead = false;
    bool delivering = false;
    std::vector<std::int64_t> baseline;         // keys as last delivered
    std::unordered_set<std::int64_t> modified;  // keys changed since

    std::vector<std::int64_t> currentKeys() const;
    void deliverInitial();
    // Delivers the change since the baseline, when there is one.
    void deliverUpdate();
    void deliverError(const Foundation::Error& error);
};

// --- the store instance -----------------------------------------------------

class RealmCore : public Graph {
public:
    static std::shared_ptr<RealmCore> open(const Configuration& configuration);
    ~RealmCore() override;

    const Configuration& configuration() const { return configuration_; }
    const Schema& schema() const { return schema_; }
    SchemaRef objectSchema(std::string_view className) const;
    const std::string& path() const { return path_; }

    void beginWrite();
    void commitWrite(const std::vector<NotificationTokenRef>& skip);
    void cancelWrite();
    bool inWriteTransaction() const { return inWrite_; }

    bool refresh();
    bool primaryKeysFixed() const override { return true; }

    void addNotifier(const std::shared_ptr<Notifier>& notifier);
    void scheduleDelivery(const std::shared_ptr<Foundation::DispatchQueue>& queue);
    void deliverPending();

protected:
    void checkWritable() override;
    void willModify(Record& record) override;
    void didInsert(const std::shared_ptr<Record>& record) override;
    void willRemove(const std::shared_ptr<Record>& record) override;

private:
    struct Undo {
        std::shared_ptr<Record> record;
        bool inserted = false;
        bool removed = false;
        // Values before the first change; most entries (additions) have none.
        std::unique_ptr<std::vector<Value>> oldValues;
    };

    RealmCore() = default;
    void openFile();
    void prepareSchema();
    void migrate(const Schema& target);
    void loadAll();
    bool reloadIfChanged();
    std::int64_t readDataVersion();
    void writeChanges();
    void rollbackMemory();
    void deliverPendingOn(const std::shared_ptr<Foundation::DispatchQueue>& queue);
    bool deliverableHere(const Notifier& notifier) const;
    void markChanged(const std::unordered_map<std::string, std::unordered_set<std::int64_t>>& modified,
                     const std::vector<NotificationTokenRef>& skip);
    void requireThread() const;
    Undo& undoFor(const std::shared_ptr<Record>& record);
    Undo* existingUndo(const Record& record) {
        return record.undoWrite == writeNumber_ && record.undoSlot < undo_.size() &&
                       undo_[record.undoSlot].record.get() == &record
                   ? &undo_[record.undoSlot]
                   : nullptr;
    }

    Configuration configuration_;
    std::string path_;
    Schema schema_;
    sqlite3* db_ = nullptr;
    std::int64_t dataVersion_ = 0;
    std::thread::id thread_;

    bool inWrite_ = false;
    // Undo log of the open write transaction, in the order of first change
    // (a deque: growing it moves no entry).
    std::deque<Undo> undo_;
    std::uint64_t writeNumber_ = 0;
    std::unordered_map<std::string, std::int64_t> nextKeysAtBegin_;

    Foundation::WeakList<Notifier> notifiers_;
    std::vector<std::shared_ptr<Foundation::DispatchQueue>> scheduled_;
};

// Throws RealmError with the code and text.
[[noreturn]] void fail(ErrorCode code, const std::string& description);

}  // namespace ObjectStore::detail
