// Reading one property across a result set.

#include "Platform/ObjectStore/detail/Core.h"

namespace ObjectStore {

Foundation::Array AnyResults::valueForKey(const std::string& keyPath) const {
    const auto& rows = query_->evaluate();
    Foundation::Array values;
    if (rows.size() == 0) return values;
    const detail::KeyPath path = detail::resolveKeyPath(*query_->graph, *query_->schema, keyPath);
    values.reserve(rows.size());
    for (const auto& row : rows) values.push_back(detail::valueAtKeyPath(path, *row, *query_->graph));
    return values;
}

}  // namespace ObjectStore
