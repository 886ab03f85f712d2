#include "Platform/ObjectStore/Realm.h"

#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "Platform/Foundation/Directories.h"
#include "Platform/ObjectStore/detail/Core.h"
#include "Platform/ObjectStore/detail/Sqlite.h"

namespace ObjectStore {

RealmError::RealmError(ErrorCode code, const std::string& description)
    : RealmError(Foundation::Error{ErrorDomain, static_cast<long>(code), description, {}}) {}

// --- configuration ------------------------------------------------------------

namespace {
std::mutex gDefaultMutex;
Configuration& defaultSlot() {
    static Configuration c;
    return c;
}

// The instances open on this thread, by file; a forked child starts afresh.
struct ThreadCache {
    pid_t pid = 0;
    std::unordered_map<std::string, std::weak_ptr<detail::RealmCore>> cores;
};
thread_local ThreadCache tCache;

std::string canonicalPath(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    if (ec) return path;
    auto dir = std::filesystem::weakly_canonical(abs.parent_path(), ec);
    return ec ? abs.string() : (dir / abs.filename()).string();
}
}  // namespace

std::string Configuration::defaultPath(const std::string& fileName) {
    return Foundation::applicationSupportDirectory() + "/" + fileName;
}

Configuration Configuration::defaultConfiguration() {
    std::lock_guard lock(gDefaultMutex);
    return defaultSlot();
}

void Configuration::setDefaultConfiguration(Configuration configuration) {
    std::lock_guard lock(gDefaultMutex);
    defaultSlot() = std::move(configuration);
}

// --- Realm --------------------------------------------------------------------

Realm::Realm(std::shared_ptr<detail::RealmCore> core) : core_(std::move(core)) {}

std::shared_ptr<Realm> Realm::open() { return open(Configuration::defaultConfiguration()); }

std::shared_ptr<Realm> Realm::open(const Configuration& configuration) {
    Configuration config = configuration;
    config.path = canonicalPath(configuration.resolvedPath());
    if (tCache.pid != getpid()) {
        tCache.cores.clear();
        tCache.pid = getpid();
    }
    if (auto core = tCache.cores[config.path].lock()) {
        if (core->configuration().schemaVersion != config.schemaVersion)
            detail::fail(ErrorCode::schemaMismatch, "The store '" + config.path +
                                                        "' is already open with schema version " +
                                                        std::to_string(core->configuration().schemaVersion) + ".");
        core->refresh();
        return std::make_shared<Realm>(core);
    }
    auto core = detail::RealmCore::open(config);
    tCache.cores[config.path] = core;
    return std::make_shared<Realm>(core);
}

const Configuration& Realm::configuration() const { return core_->configuration(); }
const Schema& Realm::schema() const { return core_->schema(); }
SchemaRef Realm::objectSchema(const std::string& className) const { return core_->objectSchema(className); }

std::optional<std::uint64_t> Realm::schemaVersionAtPath(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return std::nullopt;
    sqlite3* db = nullptr;
    if (int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr); rc != SQLITE_OK) {
        std::string reason = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        detail::fail(ErrorCode::fileAccess, "Unable to open the store at '" + path + "': " + reason);
    }
    std::optional<std::uint64_t> version;
    try {
        detail::Statement st(db, "SELECT value FROM _vexil_meta WHERE key='schemaVersion'");
        if (st.step()) version = static_cast<std::uint64_t>(st.integer(0));
    } catch (const detail::SqlError&) {
        sqlite3_close(db);
        detail::fail(ErrorCode::invalidDatabase, "The file '" + path + "' is not a store file this program can read.");
    }
    sqlite3_close(db);
    if (!version)
        detail::fail(ErrorCode::invalidDatabase, "The file '" + path + "' is not a store file this program can read.");
    return version;
}

void Realm::beginWrite() { core_->beginWrite(); }
void Realm::commitWrite(const std::vector<NotificationTokenRef>& withoutNotifying) {
    core_->commitWrite(withoutNotifying);
}
void Realm::cancelWrite() { core_->cancelWrite(); }
bool Realm::isInWriteTransaction() const { return core_->inWriteTransaction(); }

void Realm::write(const std::function<void()>& block, const std::vector<NotificationTokenRef>& withoutNotifying) {
    beginWrite();
    try {
        block();
    } catch (...) {
        if (isInWriteTransaction()) cancelWrite();
        throw;
    }
    if (isInWriteTransaction()) commitWrite(withoutNotifying);
}

void Realm::add(const std::shared_ptr<Object>& object, UpdatePolicy policy) {
    if (!object) throw std::invalid_argument("Cannot add a null object.");
    if (!core_->inWriteTransaction())
        detail::fail(ErrorCode::notInWriteTransaction, "Cannot change the store outside of a write transaction.");
    core_->insert(object, policy);
}

std::shared_ptr<Object> Realm::create(const std::string& className, const Foundation::Dictionary& values,
                                      UpdatePolicy policy) {
    auto object = core_->makeUnmanaged(className);
    for (auto& [key, value] : values) object->setValue(key, value);
    add(object, policy);
    return object;
}

void Realm::remove(const std::shared_ptr<Object>& object) {
    if (!object) throw std::invalid_argument("Cannot delete a null object.");
    if (object->record()->graph != core_.get() || object->isInvalidated())
        detail::fail(ErrorCode::invalidObject,
                     "Object has been deleted or invalidated, or is not managed by this store.");
    core_->remove(object->record());
}

void Realm::remove(const AnyResults& results) {
    const auto view = results.query()->evaluate();
    // A copy: removing changes the result set.
    std::vector<std::shared_ptr<detail::Record>> rows;
    rows.reserve(view.size());
    for (auto& r : view) rows.push_back(r);
    for (auto& r : rows)
        if (!r->invalidated) core_->remove(r);
}

void Realm::removeAll() {
    for (auto& name : core_->classOrder()) remove(objects(name));
}

AnyResults Realm::objects(const std::string& className) const {
    auto schema = core_->objectSchema(className);
    if (!schema) detail::fail(ErrorCode::invalidObject, "Class '" + className + "' is not in the store's schema.");
    auto q = std::make_shared<detail::Query>();
    q->graph = core_;
    q->schema = schema;
    return AnyResults(q);
}

std::shared_ptr<Object> Realm::object(const std::string& className, const Foundation::Value& primaryKey) const {
    if (!core_->objectSchema(className))
        detail::fail(ErrorCode::invalidObject, "Class '" + className + "' is not in the store's schema.");
    return core_->handle(core_->lookupPrimaryKey(className, primaryKey));
}

bool Realm::refresh() { return core_->refresh(); }

}  // namespace ObjectStore
