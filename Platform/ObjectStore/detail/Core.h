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
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Platform/Foundation/WeakList.h"
#include "Platform/ObjectStore/Realm.h"

namespace ObjectStore::detail {

using Foundation::Value;
// A record's values, one per property of its schema, in one block after its
// length (one pointer in the record).
class ValueRow {
public:
    ValueRow() = default;
    // `size` null values.
    explicit ValueRow(std::size_t size);
    ~ValueRow() { reset(); }
    ValueRow(ValueRow&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    ValueRow& operator=(ValueRow&& other) noexcept {
        if (this != &other) {
            reset();
            data_ = std::exchange(other.data_, nullptr);
        }
        return *this;
    }
    ValueRow(const ValueRow&) = delete;
    ValueRow& operator=(const ValueRow&) = delete;

    std::size_t size() const { return data_ ? reinterpret_cast<const std::size_t*>(data_)[-1] : 0; }
    Value& operator[](std::size_t i) { return data_[i]; }
    const Value& operator[](std::size_t i) const { return data_[i]; }
    Value* begin() { return data_; }
    Value* end() { return data_ + size(); }
    const Value* begin() const { return data_; }
    const Value* end() const { return data_ + size(); }

private:
    void reset();
    Value* data_ = nullptr;
};

// --- large blocks ---------------------------------------------------------

// Memory for large arrays (a load's records and columns, row arrays, result
// lists, indexes): mapped on its own and offered huge pages, so that a first
// touch faults in 2 MB at once rather than 4 KB; small requests come from the
// heap. Throws std::bad_alloc.
void* allocateLarge(std::size_t bytes);
void freeLarge(void* memory, std::size_t bytes);

template <class T>
struct LargeAllocator {
    using value_type = T;
    LargeAllocator() = default;
    template <class U>
    LargeAllocator(const LargeAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocateLarge(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) { freeLarge(p, n * sizeof(T)); }
    friend bool operator==(const LargeAllocator&, const LargeAllocator&) { return true; }
};

// --- records --------------------------------------------------------------

class ColumnSet;
class RecordBlock;
class Statement;

// One object's values. Managed: `graph` is set, links hold the target's key
// (an integer), lists an array of values or keys. Unmanaged: links hold the
// target's handle. Linking-objects slots stay null.
//
// A record that a load read keeps its values in the load's columns until it
// needs them as a list (a change, the undo log, `Object::get`); reads of one
// value (`value`, `text`, the typed reads of handles, queries, sorts) take it
// from the columns without making the others.
struct Record {
    SchemaRef schema;
    Graph* graph = nullptr;
    std::int64_t key = 0;
    // Where this record's entry in the undo log of the open write transaction
    // is: valid while `undoWrite` is that transaction's number (numbers are
    // never reused), so finding it needs no lookup.
    std::uint64_t undoWrite = 0;

private:
    mutable ValueRow values_;
    // The load whose columns hold the values, until they are made.
    mutable const RecordBlock* block_ = nullptr;

public:
    std::uint32_t undoSlot = 0;
    bool invalidated = false;

    Record() = default;
    Record(SchemaRef schema, Graph* graph, std::int64_t key, const RecordBlock* block)
        : schema(std::move(schema)), graph(graph), key(key), block_(block) {}
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    // Every value (taken from the columns first, for a record not yet read so).
    ValueRow& values() {
        if (block_) materialise();
        return values_;
    }
    const ValueRow& values() const {
        if (block_) materialise();
        return values_;
    }
    // Replaces every value.
    void assign(const std::vector<Value>& values);
    void assign(std::vector<Value>&& values);
    // One value, as `values()[index]` would give it.
    Value value(std::size_t index) const;
    // The text of a text value without a copy; nothing for any other value.
    std::optional<std::string_view> text(std::size_t index) const;
    // The values are still in a load's columns.
    bool inColumns() const { return block_ != nullptr; }

private:
    void materialise() const;
};

// Equal values, property by property.
bool sameValues(const Record& record, const std::vector<Value>& values);

// The values of a class's rows as one load read them: an array per stored
// property (integers, Booleans, numbers, text positions), the text of every
// row in one area, so a load makes no value and no allocation per row. A null
// a property cannot hold reads as the property's default.
class ColumnSet {
public:
    // The fixed arrays take their room from `memory` (moved past them); the
    // text starts in `textCapacity` bytes at `text`, which stay the caller's.
    ColumnSet(SchemaRef schema, std::size_t rows, char*& memory, char* text, std::size_t textCapacity);
    ~ColumnSet();
    ColumnSet(const ColumnSet&) = delete;
    ColumnSet& operator=(const ColumnSet&) = delete;

    // Bytes of the fixed arrays `rows` rows need (given to the constructor).
    static std::size_t arrayBytes(const ObjectSchema& schema, std::size_t rows);

    std::size_t size() const { return size_; }
    // Appends the statement's row; `columnOf` gives each property's result
    // column (-1: none).
    void append(const Statement& statement, const std::vector<int>& columnOf);
    // Appends a list element to a row's list property.
    void appendListValue(std::size_t row, std::size_t property, Value value);

    Value value(std::size_t row, std::size_t property) const;
    std::optional<std::string_view> text(std::size_t row, std::size_t property) const;

private:
    enum class Kind : std::uint8_t { None, Int, Bool, Real, Date, Text, Data, List };
    struct Column {
        Kind kind = Kind::None;
        void* cells = nullptr;                  // int64, uint8, double or text offsets
        std::unique_ptr<std::uint8_t[]> nulls;  // made at the first null
        std::vector<Value> lists;
    };
    std::string_view bytesAt(std::uint64_t offset) const;
    void setNull(Column& column, std::size_t row);
    // Text room for at least `bytes` (moved to a larger area of its own).
    void growText(std::size_t bytes);

    SchemaRef schema_;
    std::size_t capacity_ = 0, size_ = 0;
    std::vector<Column> columns_;
    char* text_ = nullptr;
    std::size_t textUsed_ = 0, textCapacity_ = 0;
    bool textOwned_ = false;
};

// The records one load read of a class, made in one block with their
// columns: no allocation per row. Each record keeps the block alive; the
// block goes with the last of them (records added later are allocated one
// by one).
class RecordBlock {
public:
    // Room for `rows` records and their columns, and `textBytes` of text
    // (reserved: only what the text fills is touched).
    RecordBlock(SchemaRef schema, std::size_t rows, std::size_t textBytes);
    ~RecordBlock();
    RecordBlock(const RecordBlock&) = delete;
    RecordBlock& operator=(const RecordBlock&) = delete;

    ColumnSet& columns() { return *columns_; }
    const ColumnSet& columns() const { return *columns_; }
    // The row of the columns that holds a record's values.
    std::size_t rowOf(const Record& record) const { return static_cast<std::size_t>(&record - records_); }
    // A record for the next row of the columns (the block holds `rows` of them).
    static std::shared_ptr<Record> make(const std::shared_ptr<RecordBlock>& block, Graph* graph, std::int64_t key);
    std::size_t size() const { return made_; }
    Record& at(std::size_t i) { return records_[i]; }

private:
    SchemaRef schema_;
    std::size_t bytes_ = 0, capacity_ = 0, made_ = 0;
    char* memory_ = nullptr;
    Record* records_ = nullptr;
    std::optional<ColumnSet> columns_;
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
    // Without holes the rows are the entries themselves, in order.
    bool dense() const { return live_ == entries_.size(); }
    const Entry* entries() const { return data(); }

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

    std::vector<Entry, LargeAllocator<Entry>> entries_;
    std::size_t live_ = 0;
};

// Primary key text -> record, open addressing with linear probing over one
// array (no allocation per key). Entries hold the record itself, which the
// table's rows keep alive while it is indexed.
class PrimaryKeyIndex {
public:
    PrimaryKeyIndex(const PrimaryKeyIndex&) = delete;
    PrimaryKeyIndex& operator=(const PrimaryKeyIndex&) = delete;
    explicit PrimaryKeyIndex(int property = -1) : property_(property) {}

    std::size_t size() const { return size_; }
    void clear();
    void reserve(std::size_t count);
    Record* find(std::string_view text) const;
    // Indexes the record under `text` unless the text is taken; the record
    // indexed under it is returned then.
    Record* insert(std::string_view text, Record* record);
    // Removes the entry of that record (when it is indexed under `text`).
    void erase(std::string_view text, const Record* record);

private:
    struct Slot {
        std::uint64_t hash = 0;
        Record* record = nullptr;
    };
    static std::uint64_t hashOf(std::string_view text);
    bool keyIs(const Record& record, std::string_view text) const;
    void grow();

    int property_;
    std::vector<Slot, LargeAllocator<Slot>> slots_;
    std::size_t size_ = 0;
};

struct Table {
    SchemaRef schema;
    RowMap rows;  // natural order
    std::int64_t nextKey = 1;
    // Makes handles: the registered C++ type when it has this stored form.
    std::function<std::shared_ptr<Object>(Binding)> wrap;
    std::function<std::shared_ptr<Object>()> makeDefault;

    // Primary key text -> record. Made from the rows on first use (opening a
    // store does not need it) and kept up to date from then on.
    PrimaryKeyIndex& byPrimaryKey() const;
    bool hasPrimaryKeyIndex() const { return primaryKeys_ != nullptr; }
    // The next use makes the index again from the rows.
    void dropPrimaryKeyIndex() const { primaryKeys_.reset(); }

private:
    mutable std::unique_ptr<PrimaryKeyIndex> primaryKeys_;
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

// The records of a result set, in order: the query's own list, or the rows
// of a table without holes (every object of a class, unsorted) read in place.
class RowView {
public:
    RowView() = default;
    RowView(const std::shared_ptr<Record>* first, std::size_t size, std::size_t stride)
        : first_(reinterpret_cast<const char*>(first)), size_(size), stride_(stride) {}

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const std::shared_ptr<Record>& operator[](std::size_t i) const {
        return *reinterpret_cast<const std::shared_ptr<Record>*>(first_ + i * stride_);
    }
    const std::shared_ptr<Record>& front() const { return (*this)[0]; }
    const std::shared_ptr<Record>& back() const { return (*this)[size_ - 1]; }

    class iterator {
    public:
        iterator(const RowView* view, std::size_t i) : view_(view), i_(i) {}
        const std::shared_ptr<Record>& operator*() const { return (*view_)[i_]; }
        iterator& operator++() {
            ++i_;
            return *this;
        }
        friend bool operator==(const iterator& a, const iterator& b) { return a.i_ == b.i_; }

    private:
        const RowView* view_;
        std::size_t i_;
    };
    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, size_); }

private:
    const char* first_ = nullptr;
    std::size_t size_ = 0;
    std::size_t stride_ = sizeof(std::shared_ptr<Record>);
};

struct Query {
    std::shared_ptr<Graph> graph;
    SchemaRef schema;
    // Linking objects: the objects whose link `backlinkProperty` points at this record.
    std::shared_ptr<Record> backlinkTarget;
    int backlinkProperty = -1;
    std::vector<PredicateRef> filters;
    std::vector<std::pair<KeyPath, bool>> sort;

    // Valid until the next change of the graph.
    RowView evaluate() const;

private:
    mutable std::uint64_t cachedVersion_ = UINT64_MAX;
    mutable std::vector<std::shared_ptr<Record>, LargeAllocator<std::shared_ptr<Record>>> cache_;
    mutable const Table* table_ = nullptr;
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
