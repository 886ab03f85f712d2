#pragma once
// Live query results and change notifications.
//
// A result set names a class, optional filters and an optional sort; it is
// evaluated against the store's current state whenever it is read, so it
// reflects later writes (and, inside a write transaction, the uncommitted
// ones). Without a sort the objects come in the store's natural order, the
// order in which they were first added. A sort is stable: objects whose sort
// keys are equal keep their natural order, ascending or descending.
//
// Observing a result set delivers, on the given queue (the main queue, drained
// by the main run loop, by default):
//   - once, the initial delivery, after the call returns;
//   - after each later commit that changed the result set, an update with
//     `deletions` (positions in the previous result set), `insertions` and
//     `modifications` (positions in the new result set), each ascending. An
//     object that moves because its sort key changed is reported as deleted
//     at its old position and inserted at its new one;
//   - an error, when the store can no longer be read; nothing follows it.
// Commits before the delivery runs are coalesced into one update. Beginning a
// write transaction first delivers, synchronously, every update still pending
// on that thread, so a commit that skips a token never hides other changes
// from it. A commit that names a token in its list of tokens to skip delivers
// nothing to that observer for that commit. Releasing (or invalidating) the
// token stops delivery.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/Object.h"
#include "Platform/ObjectStore/Predicate.h"

namespace ObjectStore {

namespace detail {
struct Query;
struct Notifier;
}  // namespace detail

struct SortDescriptor {
    std::string keyPath;
    bool ascending = true;
};

class NotificationToken {
public:
    explicit NotificationToken(std::shared_ptr<detail::Notifier> notifier);
    ~NotificationToken();
    NotificationToken(const NotificationToken&) = delete;
    NotificationToken& operator=(const NotificationToken&) = delete;

    void invalidate();
    bool isValid() const { return notifier_ != nullptr; }
    const std::shared_ptr<detail::Notifier>& notifier() const { return notifier_; }

private:
    std::shared_ptr<detail::Notifier> notifier_;
};

using NotificationTokenRef = std::shared_ptr<NotificationToken>;

class AnyResults;

struct AnyCollectionChange {
    enum class Kind { Initial, Update, Error };
    Kind kind = Kind::Initial;
    std::shared_ptr<AnyResults> results;  // live; null for an error
    std::vector<std::size_t> deletions;
    std::vector<std::size_t> insertions;
    std::vector<std::size_t> modifications;
    std::optional<Foundation::Error> error;
};

class AnyResults {
public:
    explicit AnyResults(std::shared_ptr<detail::Query> query);

    const std::string& className() const;
    const ObjectSchema& objectSchema() const;
    std::shared_ptr<Realm> realm() const;

    std::size_t count() const;
    bool empty() const { return count() == 0; }
    std::shared_ptr<Object> at(std::size_t index) const;
    std::shared_ptr<Object> first() const;
    std::shared_ptr<Object> last() const;
    std::vector<std::shared_ptr<Object>> objects() const;
    // Position of the object, or nothing.
    std::optional<std::size_t> indexOf(const Object& object) const;
    // The value of a property (or key path through links) of every object,
    // in order, read without making an object for each. Throws
    // `InvalidPredicate` for a key the class does not have.
    Foundation::Array valueForKey(const std::string& keyPath) const;

    // New result sets over the same base.
    AnyResults filter(const Predicate& predicate) const;
    AnyResults sorted(const std::string& keyPath, bool ascending = true) const;
    AnyResults sorted(std::vector<SortDescriptor> descriptors) const;

    NotificationTokenRef observe(std::function<void(const AnyCollectionChange&)> block,
                                 std::shared_ptr<Foundation::DispatchQueue> queue = nullptr) const;

    const std::shared_ptr<detail::Query>& query() const { return query_; }

private:
    std::shared_ptr<detail::Query> query_;
};

template <class T>
class Results;

template <class T>
struct CollectionChange {
    using Kind = AnyCollectionChange::Kind;
    Kind kind = Kind::Initial;
    std::optional<Results<T>> results;
    std::vector<std::size_t> deletions;
    std::vector<std::size_t> insertions;
    std::vector<std::size_t> modifications;
    std::optional<Foundation::Error> error;
};

// Typed view of a result set. T is the model class (or `Object`).
template <class T>
class Results {
public:
    explicit Results(AnyResults any) : any_(std::move(any)) {}

    std::size_t count() const { return any_.count(); }
    bool empty() const { return any_.empty(); }
    std::shared_ptr<T> at(std::size_t index) const { return cast(any_.at(index)); }
    std::shared_ptr<T> operator[](std::size_t index) const { return at(index); }
    std::shared_ptr<T> first() const { return cast(any_.first()); }
    std::shared_ptr<T> last() const { return cast(any_.last()); }
    std::vector<std::shared_ptr<T>> objects() const {
        // Straight into the typed list: no list of untyped handles first.
        const std::size_t n = any_.count();
        std::vector<std::shared_ptr<T>> out;
        out.reserve(n);
        detail::prefault(out.data(), n * sizeof(std::shared_ptr<T>));
        for (std::size_t i = 0; i < n; ++i) out.push_back(cast(any_.at(i)));
        return out;
    }
    std::optional<std::size_t> indexOf(const Object& object) const { return any_.indexOf(object); }

    Results filter(const Predicate& predicate) const { return Results(any_.filter(predicate)); }
    Results sorted(const std::string& keyPath, bool ascending = true) const {
        return Results(any_.sorted(keyPath, ascending));
    }
    Results sorted(std::vector<SortDescriptor> descriptors) const {
        return Results(any_.sorted(std::move(descriptors)));
    }

    NotificationTokenRef observe(std::function<void(const CollectionChange<T>&)> block,
                                 std::shared_ptr<Foundation::DispatchQueue> queue = nullptr) const {
        return any_.observe(
            [block = std::move(block)](const AnyCollectionChange& c) {
                CollectionChange<T> typed;
                typed.kind = c.kind;
                if (c.results) typed.results.emplace(*c.results);
                typed.deletions = c.deletions;
                typed.insertions = c.insertions;
                typed.modifications = c.modifications;
                typed.error = c.error;
                block(typed);
            },
            std::move(queue));
    }

    const AnyResults& any() const { return any_; }

private:
    static std::shared_ptr<T> cast(std::shared_ptr<Object> o) {
        // Handles are mostly of exactly T: a type check is cheaper than a cast.
        if (!o) return nullptr;
        const Object& held = *o;
        if (typeid(held) == typeid(T)) return std::static_pointer_cast<T>(std::move(o));
        return std::dynamic_pointer_cast<T>(std::move(o));
    }
    AnyResults any_;
};

}  // namespace ObjectStore
