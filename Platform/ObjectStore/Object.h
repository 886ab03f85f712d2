#pragma once
// Persistent objects. An `Object` is a handle: unmanaged it holds its own
// values; once added to a store every handle of the same stored object shares
// one record, so a change made through one handle is seen through all of them
// (objects are live). Model classes derive from `Object` and read and write
// their properties by position; sync and migrations use the by-name access.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Value.h"
#include "Platform/ObjectStore/Schema.h"

namespace ObjectStore {

namespace detail {
struct Record;
class Graph;

// Memory for handles and records: blocks of a few sizes carved from large
// pages, kept by the thread that frees them for its next ones (any thread
// may free any block). Larger requests go to the heap.
void* allocateSmall(std::size_t bytes);
void freeSmall(void* memory, std::size_t bytes) noexcept;
// Faults in the pages of fresh memory about to be filled in one request
// rather than one fault per page (nothing where the system cannot).
void prefault(void* memory, std::size_t bytes) noexcept;

template <class T>
struct SmallAllocator {
    using value_type = T;
    SmallAllocator() = default;
    template <class U>
    SmallAllocator(const SmallAllocator<U>&) {}
    // Blocks are aligned to 8 bytes; a type that needs more comes from the heap.
    T* allocate(std::size_t n) {
        if constexpr (alignof(T) > 8)
            return std::allocator<T>().allocate(n);
        else
            return static_cast<T*>(allocateSmall(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if constexpr (alignof(T) > 8)
            std::allocator<T>().deallocate(p, n);
        else
            freeSmall(p, n * sizeof(T));
    }
    friend bool operator==(const SmallAllocator&, const SmallAllocator&) { return true; }
};
}  // namespace detail

class Realm;
class List;
class AnyResults;

// A stored object as the store hands it to a model class's constructor.
struct Binding {
    std::shared_ptr<detail::Graph> graph;
    std::shared_ptr<detail::Record> record;
};

// `static ObjectStore::ObjectTypeRegistration<MyType> registration;` in the
// type's source file. T needs `static SchemaRef objectSchema()`, a default
// constructor and a constructor from `Binding`.
template <class T>
struct ObjectTypeRegistration {
    ObjectTypeRegistration() {
        registerObjectType(ObjectType{
            T::objectSchema(), [] { return std::shared_ptr<Object>(std::make_shared<T>()); },
            [](Binding b) {
                return std::shared_ptr<Object>(std::allocate_shared<T>(detail::SmallAllocator<T>(), std::move(b)));
            }});
    }
};

class Object : public Foundation::Object {
public:
    ~Object() override;

    // Foundation::Object: key-value reads (templates, diagnostics).
    std::string className() const override;
    Foundation::Value valueForKey(const std::string& key) const override;
    std::vector<std::string> fieldNames() const override;

    const ObjectSchema& objectSchema() const;
    const SchemaRef& schemaRef() const;
    bool isManaged() const;
    // Deleted from its store, or added in a write transaction that was cancelled.
    bool isInvalidated() const;
    // The store that manages the object (nullptr when unmanaged, or when the
    // object belongs to a migration).
    std::shared_ptr<Realm> realm() const;
    // Two handles of the same stored object (or the same unmanaged object).
    bool isSameObject(const Object& other) const;

    // By-name access. Links read as the linked object, lists as an array of
    // values or objects, linking objects as an array of objects. Unknown names
    // throw std::invalid_argument; a value of the wrong type throws too.
    Foundation::Value value(std::string_view key) const;
    void setValue(std::string_view key, Foundation::Value value);
    std::shared_ptr<Object> linkedObject(std::string_view key) const;
    List list(std::string_view key) const;
    AnyResults linkingObjects(std::string_view key) const;

    // Internal: the shared record and the graph that manages it.
    const std::shared_ptr<detail::Record>& record() const { return record_; }
    const std::shared_ptr<detail::Graph>& graph() const { return graph_; }
    void bind(std::shared_ptr<detail::Graph> graph, std::shared_ptr<detail::Record> record) {
        graph_ = std::move(graph);
        record_ = std::move(record);
    }

protected:
    // Unmanaged, with the schema's default values.
    explicit Object(SchemaRef schema);
    explicit Object(Binding binding);

    // Typed access by property position, for model classes.
    const Foundation::Value& get(int index) const;
    void set(int index, Foundation::Value value);
    std::string getString(int index) const;
    std::optional<std::string> getOptionalString(int index) const;
    std::int64_t getInt(int index) const;
    bool getBool(int index) const;
    double getDouble(int index) const;
    Foundation::Date getDate(int index) const;
    std::shared_ptr<Object> getLink(int index) const;
    void setLink(int index, const std::shared_ptr<Object>& target);
    List getList(int index) const;
    AnyResults getLinkingObjects(int index) const;

private:
    std::shared_ptr<detail::Graph> graph_;
    std::shared_ptr<detail::Record> record_;
};

// An object handled by name only: a class without a C++ type, or a stored
// form that differs from the C++ type's (old forms during a migration).
class DynamicObject final : public Object {
public:
    explicit DynamicObject(SchemaRef schema) : Object(std::move(schema)) {}
    explicit DynamicObject(Binding binding) : Object(std::move(binding)) {}
};

// A list property of one object: values, or objects of the linked class.
class List {
public:
    List(std::shared_ptr<detail::Graph> graph, std::shared_ptr<detail::Record> record, int index);

    std::size_t count() const;
    bool empty() const { return count() == 0; }
    // A value, or the object at that position for a list of objects.
    Foundation::Value at(std::size_t index) const;
    std::shared_ptr<Object> objectAt(std::size_t index) const;
    template <class T>
    std::shared_ptr<T> at(std::size_t index) const {
        return std::dynamic_pointer_cast<T>(objectAt(index));
    }

    void append(Foundation::Value value);
    void insert(std::size_t index, Foundation::Value value);
    void remove(std::size_t index);
    void removeAll();

private:
    Foundation::Array current() const;
    void store(Foundation::Array values);

    std::shared_ptr<detail::Graph> graph_;
    std::shared_ptr<detail::Record> record_;
    int index_;
};

}  // namespace ObjectStore
