#pragma once
// Loads and stores a context's history (an archived array) in the SDK's user defaults.

#include <memory>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"

namespace DAVContextHistory {

// At most this many entries are kept; the oldest go first.
inline constexpr std::size_t kMaxEntries = 5;

template <class T>
std::vector<std::shared_ptr<T>> load(const std::string& key) {
    std::vector<std::shared_ptr<T>> history;
    Foundation::Value stored = DAVDerAvedurUserDefaults::shared().objectForKey(key);
    if (!stored.isData()) return history;
    Foundation::Value root = DAVUtility::unarchiveKeyedData(stored.asData());
    if (const auto* array = root.arrayOrNull())
        for (const auto& entry : *array)
            if (entry.isObject())
                if (auto info = std::dynamic_pointer_cast<T>(entry.asObject())) history.push_back(info);
    return history;
}

template <class T>
void store(const std::string& key, std::vector<std::shared_ptr<T>>& history) {
    while (history.size() > kMaxEntries) history.erase(history.begin());
    Foundation::Array array;
    for (const auto& info : history) array.emplace_back(info);
    if (auto data = DAVUtility::archiveKeyedData(Foundation::Value(std::move(array))))
        DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value(*data), key);
}

// The last entry stamped at or before `date`.
template <class T>
std::shared_ptr<T> entryAt(const std::vector<std::shared_ptr<T>>& history, Foundation::Date date) {
    std::shared_ptr<T> found;
    for (const auto& info : history)
        if (info->timestamp <= date) found = info;
    return found;
}

}  // namespace DAVContextHistory
