#pragma once
// The user defaults: a persisted standard domain (a property-list file written
// atomically) over an in-memory registration domain, with the platform's
// coercions in the typed getters. Safe to use from several threads.
//
// The file is a binary property list holding one dictionary. It is read once,
// when the instance is made; a missing file means empty defaults; a file that
// is not a property-list dictionary is renamed "<file>.corrupt-<UTC time>"
// with a message on the system log (Diagnostics.h: standard error), and the
// defaults start empty. Every change is
// written at once: to "<file>.tmp-<pid>-<n>" beside it, then renamed over it,
// so the file always holds a complete state (no fsync: a power cut may lose
// the latest change, a normal or abnormal exit does not).
//
// Values must be property-list values (no null inside containers, no
// objects); others are refused with a message on the system log and not stored.
//
// Observers run on the setter's thread, outside the lock, after the write,
// whenever a set, a removal or a registration changes the key's effective
// value (not when the new value equals the old).

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

    // The property-list file of the standard domain.
    const std::string& path() const;

    // Registered values answer when the standard domain has none.
    void registerDefaults(const Dictionary& defaults);

    // The effective value (standard domain, then registration), or null.
    Value objectForKey(const std::string& key) const;
    // Absent or not a number/bool gives 0 / false; text is parsed as the
    // platform does ("12" gives 12, "YES"/"true" gives true).
    // Bool: a number is true when non-zero; text is true when, after white
    // space, a sign and leading zeros, it starts with Y, y, T, t or 1-9.
    // Integer: a Double is truncated (clamped to the int64 range); text gives
    // its leading decimal integer ("12abc" gives 12, "abc" gives 0).
    // Double: text is read as a decimal number in the "C" locale.
    bool boolForKey(const std::string& key) const;
    std::int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // Text as is; a number gives its decimal text (12 gives "12", 0.5 gives
    // "0.5", true gives "1"); anything else nothing.
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
