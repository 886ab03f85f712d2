#pragma once
// The object database: a store file opened per thread, write transactions,
// queries and migrations. The file is SQLite (see docs/architecture.md,
// "Object store", for its layout).
//
// - `Realm::open` gives the thread's instance for the file: opening the same
//   file again on the same thread, while an instance is alive, gives the same
//   instance (so objects read on a thread are live for every caller there),
//   brought up to date with commits made by other connections.
// - A write transaction is one SQLite transaction: a committed write survives
//   a killed process; a cancelled or failed one leaves no trace, in the file
//   or in memory.
// - Store failures throw `RealmError`, which carries a `Foundation::Error`.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/Object.h"
#include "Platform/ObjectStore/Results.h"
#include "Platform/ObjectStore/Schema.h"

namespace ObjectStore {

inline constexpr const char* ErrorDomain = "ObjectStore";

enum class ErrorCode : long {
    fail = 1,
    fileAccess = 2,             // the file or its directory cannot be opened or created
    invalidDatabase = 3,        // the file is not a store this program can read
    schemaVersionNewer = 4,     // the file was written by a newer schema version
    schemaMismatch = 5,         // the schema changed without a new schema version
    migrationFailed = 6,        // the migration block failed or left the store inconsistent
    primaryKeyExists = 7,       // a plain add of an object whose primary key is taken
    invalidObject = 8,          // a deleted object, or one of another store
    notInWriteTransaction = 9,  // a change outside a write transaction
    alreadyInWriteTransaction = 10,
    commitFailed = 11,  // the file could not be written
    wrongThread = 12,
    invalidValue = 13,  // a missing or malformed primary key
};

class RealmError : public std::runtime_error {
public:
    explicit RealmError(Foundation::Error error) : std::runtime_error(error.description), error_(std::move(error)) {}
    RealmError(ErrorCode code, const std::string& description);

    const Foundation::Error& error() const { return error_; }
    ErrorCode code() const { return static_cast<ErrorCode>(error_.code); }

private:
    Foundation::Error error_;
};

class Migration;
using MigrationBlock = std::function<void(Migration& migration, std::uint64_t oldSchemaVersion)>;

struct Configuration {
    // The store file; empty means the default path for "default.realm".
    std::string path;
    std::uint64_t schemaVersion = 0;
    MigrationBlock migrationBlock;
    // The classes of the store; nothing means every registered type.
    std::optional<Schema> objectTypes;

    // <application support>/<fileName>.
    static std::string defaultPath(const std::string& fileName = "default.realm");
    // The process-wide default configuration (a default path and schema
    // version 0 until one is installed).
    static Configuration defaultConfiguration();
    static void setDefaultConfiguration(Configuration configuration);

    std::string resolvedPath() const { return path.empty() ? defaultPath() : path; }
};

enum class UpdatePolicy {
    error,     // an existing primary key is an error
    modified,  // add or update: an existing object gets every stored property
};

namespace detail {
class RealmCore;
}

class Realm {
public:
    // The default configuration. Throws RealmError.
    static std::shared_ptr<Realm> open();
    static std::shared_ptr<Realm> open(const Configuration& configuration);

    explicit Realm(std::shared_ptr<detail::RealmCore> core);

    const Configuration& configuration() const;
    const Schema& schema() const;
    SchemaRef objectSchema(const std::string& className) const;

    // The schema version stored in the file at `path`, or nothing when there
    // is no store there. Throws RealmError for a file it cannot read.
    static std::optional<std::uint64_t> schemaVersionAtPath(const std::string& path);

    // --- write transactions ---
    void beginWrite();
    // Throws RealmError when the file cannot be written; the transaction is
    // then rolled back.
    void commitWrite(const std::vector<NotificationTokenRef>& withoutNotifying = {});
    void cancelWrite();
    bool isInWriteTransaction() const;
    // Begins, runs the block and commits; an exception from the block cancels
    // the transaction and propagates.
    void write(const std::function<void()>& block, const std::vector<NotificationTokenRef>& withoutNotifying = {});

    // --- objects ---
    // Adds an unmanaged object (and the unmanaged objects it links to). With
    // `UpdatePolicy::error` an existing primary key throws RealmError
    // (primaryKeyExists) and nothing is added; with `modified` the stored
    // object takes every stored property of the given one, and the given
    // handle becomes a handle of the stored object.
    void add(const std::shared_ptr<Object>& object, UpdatePolicy policy = UpdatePolicy::error);
    // A new stored object of a class from property values by name (missing
    // properties take their defaults).
    std::shared_ptr<Object> create(const std::string& className, const Foundation::Dictionary& values,
                                   UpdatePolicy policy = UpdatePolicy::error);
    void remove(const std::shared_ptr<Object>& object);
    void remove(const AnyResults& results);
    void removeAll();

    AnyResults objects(const std::string& className) const;
    template <class T>
    Results<T> objects() const {
        return Results<T>(objects(T::objectSchema()->className));
    }
    // The object with that primary key, or nullptr.
    std::shared_ptr<Object> object(const std::string& className, const Foundation::Value& primaryKey) const;
    template <class T>
    std::shared_ptr<T> object(const Foundation::Value& primaryKey) const {
        return std::dynamic_pointer_cast<T>(object(T::objectSchema()->className, primaryKey));
    }

    // Brings the instance up to date with commits of other connections;
    // true when something changed. Throws RealmError.
    bool refresh();

    const std::shared_ptr<detail::RealmCore>& core() const { return core_; }

private:
    std::shared_ptr<detail::RealmCore> core_;
};

// Given to the migration block: every object of the file in its old form
// (read only; properties the new schema no longer has can still be read) and
// its new form (the values of the properties both forms share, the new
// schema's defaults for the others).
class Migration {
public:
    using EnumerateBlock =
        std::function<void(const std::shared_ptr<Object>& oldObject, const std::shared_ptr<Object>& newObject)>;
    virtual ~Migration() = default;
    virtual const Schema& oldSchema() const = 0;
    virtual const Schema& newSchema() const = 0;
    // Visits each object of the class in the store's natural order. A class
    // only one of the forms has gives a null object for the other.
    virtual void enumerateObjects(const std::string& className, const EnumerateBlock& block) = 0;
    // A new object in the new form.
    virtual std::shared_ptr<Object> create(const std::string& className, const Foundation::Dictionary& values) = 0;
    // Deletes an object of the new form.
    virtual void deleteObject(const std::shared_ptr<Object>& newObject) = 0;
};

namespace testing {
// Makes the next `count` commits on this process fail as a full disk would
// (the transaction is rolled back). 0 turns it off.
void failNextCommits(int count);
}  // namespace testing

}  // namespace ObjectStore
