#include <algorithm>
#include <stdexcept>

#include "Platform/ObjectStore/detail/Core.h"

namespace ObjectStore {

using detail::Record;

// --- Query ------------------------------------------------------------------------

detail::RowView detail::Query::evaluate() const {
    auto view = [this] { return RowView(cache_.data(), cache_.size(), sizeof(std::shared_ptr<Record>)); };
    if (!graph) {
        cache_.clear();
        return view();
    }
    // Every object of a class, unsorted, is the table's rows as they are.
    if (!backlinkTarget && filters.empty() && sort.empty()) {
        if (!table_) table_ = graph->table(schema->className);
        const Table* t = table_;
        if (!t || t->rows.empty()) return RowView();
        if (t->rows.dense()) {
            cache_.clear();
            cachedVersion_ = UINT64_MAX;
            return RowView(&t->rows.entries()->second, t->rows.size(), sizeof(RowMap::Entry));
        }
    }
    if (cachedVersion_ == graph->version()) return view();
    cache_.clear();
    auto keep = [&](const std::shared_ptr<Record>& r) {
        for (auto& f : filters)
            if (!evaluatePredicate(*f, *r, *graph)) return;
        cache_.push_back(r);
    };
    if (backlinkTarget) {
        for (auto& r : graph->backlinks(*backlinkTarget, schema->className, backlinkProperty)) keep(r);
    } else if (const Table* t = graph->table(schema->className)) {
        cache_.reserve(t->rows.size());
        for (auto& [key, r] : t->rows) keep(r);
    }
    if (!sort.empty()) {
        // Sort keys read once per object, in one flat array.
        const std::size_t k = sort.size(), n = cache_.size();
        std::vector<Foundation::Value, LargeAllocator<Foundation::Value>> keys;
        keys.reserve(n * k);
        for (auto& r : cache_)
            for (auto& [path, asc] : sort) keys.push_back(valueAtKeyPath(path, *r, *graph));
        std::vector<std::size_t, LargeAllocator<std::size_t>> order(n);
        for (std::size_t i = 0; i < n; ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            for (std::size_t i = 0; i < k; ++i) {
                int c = compareValues(keys[a * k + i], keys[b * k + i]);
                if (c != 0) return sort[i].second ? c < 0 : c > 0;
            }
            return false;
        });
        decltype(cache_) sorted;
        sorted.reserve(n);
        for (auto i : order) sorted.push_back(std::move(cache_[i]));
        cache_ = std::move(sorted);
    }
    cachedVersion_ = graph->version();
    return view();
}

// --- AnyResults -------------------------------------------------------------------

AnyResults::AnyResults(std::shared_ptr<detail::Query> query) : query_(std::move(query)) {}

const std::string& AnyResults::className() const { return query_->schema->className; }
const ObjectSchema& AnyResults::objectSchema() const { return *query_->schema; }

std::shared_ptr<Realm> AnyResults::realm() const {
    auto core = std::dynamic_pointer_cast<detail::RealmCore>(query_->graph);
    return core ? std::make_shared<Realm>(core) : nullptr;
}

std::size_t AnyResults::count() const { return query_->evaluate().size(); }

std::shared_ptr<Object> AnyResults::at(std::size_t index) const {
    const auto rows = query_->evaluate();
    if (index >= rows.size()) throw std::out_of_range("Results index out of range.");
    return query_->graph->handle(rows[index]);
}

std::shared_ptr<Object> AnyResults::first() const {
    const auto rows = query_->evaluate();
    return rows.empty() ? nullptr : query_->graph->handle(rows.front());
}

std::shared_ptr<Object> AnyResults::last() const {
    const auto rows = query_->evaluate();
    return rows.empty() ? nullptr : query_->graph->handle(rows.back());
}

std::vector<std::shared_ptr<Object>> AnyResults::objects() const {
    const auto rows = query_->evaluate();
    std::vector<std::shared_ptr<Object>> out;
    out.reserve(rows.size());
    detail::prefault(out.data(), rows.size() * sizeof(std::shared_ptr<Object>));
    for (auto& r : rows) out.push_back(query_->graph->handle(r));
    return out;
}

std::optional<std::size_t> AnyResults::indexOf(const Object& object) const {
    const auto rows = query_->evaluate();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i] == object.record()) return i;
    return std::nullopt;
}

AnyResults AnyResults::filter(const Predicate& predicate) const {
    auto q = std::make_shared<detail::Query>();
    q->graph = query_->graph;
    q->schema = query_->schema;
    q->backlinkTarget = query_->backlinkTarget;
    q->backlinkProperty = query_->backlinkProperty;
    q->filters = query_->filters;
    q->sort = query_->sort;
    if (q->graph) q->filters.push_back(detail::compilePredicate(predicate, *q->graph, *q->schema));
    return AnyResults(q);
}

AnyResults AnyResults::sorted(const std::string& keyPath, bool ascending) const {
    return sorted(std::vector<SortDescriptor>{{keyPath, ascending}});
}

AnyResults AnyResults::sorted(std::vector<SortDescriptor> descriptors) const {
    auto q = std::make_shared<detail::Query>();
    q->graph = query_->graph;
    q->schema = query_->schema;
    q->backlinkTarget = query_->backlinkTarget;
    q->backlinkProperty = query_->backlinkProperty;
    q->filters = query_->filters;
    if (q->graph)
        for (auto& d : descriptors)
            q->sort.emplace_back(detail::resolveKeyPath(*q->graph, *q->schema, d.keyPath), d.ascending);
    return AnyResults(q);
}

NotificationTokenRef AnyResults::observe(std::function<void(const AnyCollectionChange&)> block,
                                         std::shared_ptr<Foundation::DispatchQueue> queue) const {
    auto core = std::dynamic_pointer_cast<detail::RealmCore>(query_->graph);
    if (!core) throw std::logic_error("Only result sets of a store can be observed.");
    if (core->inWriteTransaction())
        detail::fail(ErrorCode::alreadyInWriteTransaction, "Cannot observe changes from inside a write transaction.");
    auto n = std::make_shared<detail::Notifier>();
    n->results = std::make_shared<AnyResults>(*this);
    n->block = std::move(block);
    n->queue = queue ? std::move(queue) : Foundation::DispatchQueue::main();
    core->addNotifier(n);
    std::weak_ptr<detail::Notifier> weak = n;
    n->queue->async([weak] {
        if (auto s = weak.lock()) s->deliverInitial();
    });
    return std::make_shared<NotificationToken>(n);
}

// --- tokens and notifiers ---------------------------------------------------------------

NotificationToken::NotificationToken(std::shared_ptr<detail::Notifier> notifier) : notifier_(std::move(notifier)) {}
NotificationToken::~NotificationToken() { invalidate(); }

void NotificationToken::invalidate() {
    if (notifier_) notifier_->dead = true;
    notifier_.reset();
}

namespace detail {

std::vector<std::int64_t> Notifier::currentKeys() const {
    std::vector<std::int64_t> keys;
    const auto rows = results->query()->evaluate();
    keys.reserve(rows.size());
    for (auto& r : rows) keys.push_back(r->key);
    return keys;
}

namespace {
// Positions (into `seq`) of one longest strictly increasing subsequence.
std::vector<bool> longestIncreasing(const std::vector<std::size_t>& seq) {
    std::vector<std::size_t> tails;  // positions in seq
    std::vector<std::ptrdiff_t> prev(seq.size(), -1);
    for (std::size_t i = 0; i < seq.size(); ++i) {
        auto it = std::lower_bound(tails.begin(), tails.end(), seq[i],
                                   [&](std::size_t pos, std::size_t value) { return seq[pos] < value; });
        if (it != tails.begin()) prev[i] = static_cast<std::ptrdiff_t>(*(it - 1));
        if (it == tails.end())
            tails.push_back(i);
        else
            *it = i;
    }
    std::vector<bool> keep(seq.size(), false);
    std::ptrdiff_t p = tails.empty() ? -1 : static_cast<std::ptrdiff_t>(tails.back());
    while (p >= 0) {
        keep[static_cast<std::size_t>(p)] = true;
        p = prev[static_cast<std::size_t>(p)];
    }
    return keep;
}

void computeChange(const std::vector<std::int64_t>& before, const std::vector<std::int64_t>& after,
                   const std::unordered_set<std::int64_t>& modified, AnyCollectionChange& change) {
    // Most commits add at the end or change objects in place: the old keys
    // are then the start of the new ones, and nothing needs matching up.
    if (after.size() >= before.size() && std::equal(before.begin(), before.end(), after.begin())) {
        if (!modified.empty())
            for (std::size_t i = 0; i < before.size(); ++i)
                if (modified.count(before[i])) change.modifications.push_back(i);
        for (std::size_t j = before.size(); j < after.size(); ++j) change.insertions.push_back(j);
        return;
    }
    std::unordered_map<std::int64_t, std::size_t> oldPos;
    for (std::size_t i = 0; i < before.size(); ++i) oldPos.emplace(before[i], i);
    std::unordered_set<std::int64_t> present(after.begin(), after.end());
    for (std::size_t i = 0; i < before.size(); ++i)
        if (!present.count(before[i])) change.deletions.push_back(i);
    std::vector<std::size_t> newIdx, oldIdx;
    for (std::size_t j = 0; j < after.size(); ++j) {
        auto it = oldPos.find(after[j]);
        if (it == oldPos.end()) {
            change.insertions.push_back(j);
        } else {
            newIdx.push_back(j);
            oldIdx.push_back(it->second);
        }
    }
    auto stay = longestIncreasing(oldIdx);
    for (std::size_t r = 0; r < newIdx.size(); ++r) {
        if (!stay[r]) {
            change.deletions.push_back(oldIdx[r]);
            change.insertions.push_back(newIdx[r]);
        } else if (modified.count(after[newIdx[r]])) {
            change.modifications.push_back(newIdx[r]);
        }
    }
    std::sort(change.deletions.begin(), change.deletions.end());
    std::sort(change.insertions.begin(), change.insertions.end());
    std::sort(change.modifications.begin(), change.modifications.end());
}
}  // namespace

void Notifier::deliverInitial() {
    if (dead || initialDelivered) return;
    baseline = currentKeys();
    modified.clear();
    dirty = false;
    initialDelivered = true;
    AnyCollectionChange change;
    change.kind = AnyCollectionChange::Kind::Initial;
    change.results = results;
    auto keepAlive = block;
    keepAlive(change);
}

void Notifier::deliverUpdate() {
    if (dead || !initialDelivered || !dirty || delivering) return;
    dirty = false;
    auto now = currentKeys();
    AnyCollectionChange change;
    change.kind = AnyCollectionChange::Kind::Update;
    change.results = results;
    computeChange(baseline, now, modified, change);
    baseline = std::move(now);
    modified.clear();
    if (change.deletions.empty() && change.insertions.empty() && change.modifications.empty()) return;
    delivering = true;
    auto keepAlive = block;
    try {
        keepAlive(change);
    } catch (...) {
        delivering = false;
        throw;
    }
    delivering = false;
}

void Notifier::deliverError(const Foundation::Error& error) {
    if (dead) return;
    dead = true;
    AnyCollectionChange change;
    change.kind = AnyCollectionChange::Kind::Error;
    change.error = error;
    auto keepAlive = block;
    keepAlive(change);
}

}  // namespace detail
}  // namespace ObjectStore
