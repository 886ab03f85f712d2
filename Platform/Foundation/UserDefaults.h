#pragma once
// The user defaults: a persisted standard domain (a property-list file written
// atomically) over an in-memory registration domain, with the platform's
// coercions in the typed getters. Safe to use from several threads.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Platform/Foundation/Value.h"

namespace Foundation {

class UserDefaults {
public:
    using ObserverId = std::uint64_t;
    // Called with the old and the new value (null when absent). The first call
    // happens at registration with the current value as both when `initial`.
    using Observer = std::function<void(const Value& oldValue, const Value& newValue)>;

    // The process-wide standard defaults, stored in
    // <preferences>/<bundle identifier>.plist.
    static UserDefaults& standard();
    // Forget the standard instance so the next call re-reads its file (tests).
    static void resetStandard();

    explicit UserDefaults(std::string plistPath);
    ~UserDefaults();

    // Registered values answer when the standard domain has none.
    void registerDefaults(const Dictionary& defaults);

    // The effective value (standard domain, then registration), or null.
    Value objectForKey(const std::string& key) const;
    // Absent or not a number/bool gives 0 / false; text is parsed as the
    // platform does ("12" gives 12, "YES"/"true" gives true).
    bool boolForKey(const std::string& key) const;
    std::int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // Text as is; a number gives its decimal text; anything else nothing.
    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<Data> dataForKey(const std::string& key) const;
    std::optional<Array> arrayForKey(const std::string& key) const;
    std::optional<Dictionary> dictionaryForKey(const std::string& key) const;

    // Setting null removes the key.
    void set(const std::string& key, Value value);
    void removeObjectForKey(const std::string& key);
    // Writes the standard domain now (every set also schedules a write).
    bool synchronize();

    ObserverId addObserver(const std::string& key, Observer observer, bool initial = false);
    void removeObserver(ObserverId id);

    // The standard domain only (what the file holds).
    Dictionary persistentDomain() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Foundation
