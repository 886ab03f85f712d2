#include "Platform/Foundation/UserDefaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <vector>

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/FileWriting.h"
#include "Platform/Foundation/PropertyList.h"

namespace Foundation {
namespace {

namespace fs = std::filesystem;

// Through the diagnostics seam: a line on standard error that tests capture.
void diagnose(const std::string& message) { systemLog(message); }

// --- coercions ------------------------------------------------------------------

std::string_view skipSpace(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    return text;
}

// The platform's text-to-Boolean reading: after white space, an optional sign
// and leading zeros, "Y", "y", "T", "t" or a digit 1-9 means true.
bool boolFromText(std::string_view text) {
    text = skipSpace(text);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
    while (!text.empty() && text.front() == '0') text.remove_prefix(1);
    if (text.empty()) return false;
    char c = text.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

// Leading white space, an optional sign, then decimal digits up to the first
// other character; out-of-range values stop at the int64 limits.
std::int64_t integerFromText(std::string_view text) {
    text = skipSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (negative)
        return magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                                     : -static_cast<std::int64_t>(magnitude);
    return static_cast<std::int64_t>(magnitude);
}

// Decimal text in the "C" locale whatever the process locale; 0 when none.
double doubleFromText(std::string_view text) {
    text = skipSpace(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double result = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), result);
    (void)end;
    return ec == std::errc() ? result : 0.0;
}

std::int64_t integerFromDouble(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775807.0) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

// The shortest text that reads back as the same double ("0.1", "3", "1e+20").
std::string decimalText(double d) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    return ec == std::errc() ? std::string(buffer, end) : std::string();
}

// Creates the preferences folder on first use, then replaces the file whole.
bool writeAtomically(const std::string& path, const Data& bytes, std::string* failure) {
    std::error_code ec;
    fs::path target(path);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    Error error;
    if (writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &error))
        return true;
    *failure = error.description;
    return false;
}

}  // namespace

// --- state --------------------------------------------------------------------------

struct UserDefaults::Impl {
    struct ObserverEntry {
        ObserverId id;
        std::string key;
        std::shared_ptr<Observer> observer;
    };
    struct Change {
        std::string key;
        Value oldValue;
        Value newValue;
    };

    std::string path;

    mutable std::mutex mutex;  // guards everything below
    Dictionary standard;
    Dictionary registration;
    std::vector<ObserverEntry> observers;
    ObserverId nextObserverId = 1;
    std::uint64_t generation = 0;  // bumped by every change of `standard`

    std::mutex writeMutex;                // serialises file writes
    std::uint64_t writtenGeneration = 0;  // guarded by writeMutex

    const Value& effective(const std::string& key) const {
        if (const Value* value = standard.find(key)) return *value;
        return registration[key];
    }

    void load();
    bool write(const Dictionary& snapshot, std::uint64_t snapshotGeneration);
    void notify(const std::vector<Change>& changes);
};

void UserDefaults::Impl::load() {
    std::error_code ec;
    if (!fs::exists(path, ec)) return;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        diagnose("UserDefaults: cannot read " + path + "; starting with empty defaults");
        return;
    }
    Data bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    Error error;
    auto value = valueFromPropertyList(bytes, &error);
    if (value && value->isDictionary()) {
        standard = value->asDictionary();
        return;
    }
    std::string reason = value ? "it holds no dictionary" : error.description;
    if (const auto aside = setFileAside(path)) {
        diagnose("UserDefaults: the preferences file " + path + " is corrupt (" + reason + "); moved it to " + *aside +
                 " and starting with empty defaults");
    } else {
        diagnose("UserDefaults: the preferences file " + path + " is corrupt (" + reason +
                 ") and could not be moved aside (" + std::strerror(errno) + "); starting with empty defaults");
    }
}

bool UserDefaults::Impl::write(const Dictionary& snapshot, std::uint64_t snapshotGeneration) {
    std::lock_guard<std::mutex> lock(writeMutex);
    if (snapshotGeneration < writtenGeneration) return true;  // a newer state is already on disk
    Error error;
    Data bytes = propertyListData(Value(snapshot), PropertyListFormat::Binary, &error);
    if (bytes.empty()) {
        diagnose("UserDefaults: cannot encode " + path + ": " + error.description);
        return false;
    }
    std::string failure;
    if (!writeAtomically(path, bytes, &failure)) {
        diagnose("UserDefaults: " + failure);
        return false;
    }
    writtenGeneration = snapshotGeneration;
    return true;
}

void UserDefaults::Impl::notify(const std::vector<Change>& changes) {
    for (const auto& change : changes) {
        std::vector<std::shared_ptr<Observer>> targets;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (const auto& entry : observers)
                if (entry.key == change.key) targets.push_back(entry.observer);
        }
        for (const auto& observer : targets) (*observer)(change.oldValue, change.newValue);
    }
}

// --- the standard instance ---------------------------------------------------------------

namespace {
std::mutex standardMutex;
std::unique_ptr<UserDefaults> standardInstance;
// Instances forgotten by resetStandard() stay alive: references handed out earlier stay valid.
std::vector<std::unique_ptr<UserDefaults>> retiredInstances;
}  // namespace

UserDefaults& UserDefaults::standard() {
    std::lock_guard<std::mutex> lock(standardMutex);
    if (!standardInstance)
        standardInstance =
            std::make_unique<UserDefaults>(preferencesDirectory() + "/" + Bundle::main().bundleIdentifier() + ".plist");
    return *standardInstance;
}

void UserDefaults::resetStandard() {
    std::lock_guard<std::mutex> lock(standardMutex);
    if (standardInstance) retiredInstances.push_back(std::move(standardInstance));
}

UserDefaults::UserDefaults(std::string plistPath) : impl_(std::make_unique<Impl>()) {
    impl_->path = std::move(plistPath);
    impl_->load();
}

UserDefaults::~UserDefaults() = default;

const std::string& UserDefaults::path() const { return impl_->path; }

void UserDefaults::registerDefaults(const Dictionary& defaults) {
    std::vector<Impl::Change> changes;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        for (const auto& [key, value] : defaults) {
            Value oldValue = impl_->effective(key);
            impl_->registration.set(key, value);
            const Value& newValue = impl_->effective(key);
            if (oldValue != newValue) changes.push_back({key, std::move(oldValue), newValue});
        }
    }
    impl_->notify(changes);
}

Value UserDefaults::objectForKey(const std::string& key) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->effective(key);
}

bool UserDefaults::boolForKey(const std::string& key) const {
    Value value = objectForKey(key);
    if (auto number = value.numberValue()) return *number != 0;
    if (const auto* text = value.stringOrNull()) return boolFromText(*text);
    return false;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const {
    Value value = objectForKey(key);
    if (value.isDouble()) return integerFromDouble(value.asDouble());
    if (auto integer = value.integerValue()) return *integer;
    if (const auto* text = value.stringOrNull()) return integerFromText(*text);
    return 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
    Value value = objectForKey(key);
    if (auto number = value.numberValue()) return *number;
    if (const auto* text = value.stringOrNull()) return doubleFromText(*text);
    return 0.0;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    Value value = objectForKey(key);
    switch (value.type()) {
        case Value::Type::String:
            return value.asString();
        case Value::Type::Bool:
            return std::string(value.asBool() ? "1" : "0");
        case Value::Type::Int:
            return std::to_string(value.asInt());
        case Value::Type::Double:
            return decimalText(value.asDouble());
        default:
            return std::nullopt;
    }
}

std::optional<Data> UserDefaults::dataForKey(const std::string& key) const {
    Value value = objectForKey(key);
    if (!value.isData()) return std::nullopt;
    return value.asData();
}

std::optional<Array> UserDefaults::arrayForKey(const std::string& key) const {
    Value value = objectForKey(key);
    if (!value.isArray()) return std::nullopt;
    return value.asArray();
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
    Value value = objectForKey(key);
    if (!value.isDictionary()) return std::nullopt;
    return value.asDictionary();
}

void UserDefaults::set(const std::string& key, Value value) {
    if (!value.isNull()) {
        Error error;
        if (propertyListData(value, PropertyListFormat::Binary, &error).empty()) {
            diagnose("UserDefaults: not storing \"" + key + "\": " + error.description);
            return;
        }
    }
    std::vector<Impl::Change> changes;
    Dictionary snapshot;
    std::uint64_t snapshotGeneration = 0;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        Value oldValue = impl_->effective(key);
        bool stored = impl_->standard.contains(key);
        if (value.isNull())
            impl_->standard.erase(key);
        else
            impl_->standard.set(key, std::move(value));
        if (!stored && !impl_->standard.contains(key)) return;  // removing an absent key changes nothing
        snapshot = impl_->standard;
        snapshotGeneration = ++impl_->generation;
        const Value& newValue = impl_->effective(key);
        if (oldValue != newValue) changes.push_back({key, std::move(oldValue), newValue});
    }
    impl_->write(snapshot, snapshotGeneration);
    impl_->notify(changes);
}

void UserDefaults::removeObjectForKey(const std::string& key) { set(key, Value()); }

bool UserDefaults::synchronize() {
    Dictionary snapshot;
    std::uint64_t snapshotGeneration = 0;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        snapshot = impl_->standard;
        snapshotGeneration = impl_->generation;
    }
    return impl_->write(snapshot, snapshotGeneration);
}

UserDefaults::ObserverId UserDefaults::addObserver(const std::string& key, Observer observer, bool initial) {
    auto shared = std::make_shared<Observer>(std::move(observer));
    ObserverId id = 0;
    Value current;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        id = impl_->nextObserverId++;
        impl_->observers.push_back({id, key, shared});
        current = impl_->effective(key);
    }
    if (initial) (*shared)(current, current);
    return id;
}

void UserDefaults::removeObserver(ObserverId id) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    std::erase_if(impl_->observers, [id](const Impl::ObserverEntry& entry) { return entry.id == id; });
}

Dictionary UserDefaults::persistentDomain() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->standard;
}

}  // namespace Foundation
