// Usage: bench_object_store [items] [rounds]
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Platform/Foundation/Directories.h"
#include "Platform/ObjectStore/Realm.h"

namespace {

using namespace ObjectStore;

// The shape of a library colour item.
class Swatch : public Object {
public:
    enum { kId, kColor, kCreated, kColorName, kIsDeleted, kOrder };
    static SchemaRef objectSchema() {
        static SchemaRef s = [] {
            auto o = std::make_shared<ObjectSchema>();
            o->className = "Swatch";
            o->primaryKey = "id";
            o->properties = {Property::make("id", PropertyType::String), Property::make("color", PropertyType::String),
                             Property::make("created", PropertyType::Date), Property::make("colorName", PropertyType::String),
                             Property::make("isDeleted", PropertyType::Bool), Property::make("order", PropertyType::Int)};
            return o;
        }();
        return s;
    }
    Swatch() : Object(objectSchema()) {}
    explicit Swatch(Binding b) : Object(std::move(b)) {}
    void fill(int i) {
        set(kId, "id-" + std::to_string(i));
        set(kColor, colorText(i));
        set(kCreated, Foundation::Date{1.7e9 + i});
        set(kColorName, "");
        set(kIsDeleted, i % 10 == 0);
        set(kOrder, std::int64_t{i});
    }
    std::string color() const { return getString(kColor); }
    static std::string colorText(int i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "#%08x", static_cast<unsigned>(i) * 2654435761u);
        return buf;
    }
};
ObjectTypeRegistration<Swatch> registration;

using Clock = std::chrono::steady_clock;
double since(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

struct Times {
    double insert = 0, query = 0, reopen = 0;
    double total() const { return insert + query + reopen; }
};

Times runStore(const std::string& path, int n, std::size_t& checksum) {
    Times t;
    Configuration config;
    config.path = path;
    config.schemaVersion = 1;
    config.objectTypes = Schema{Swatch::objectSchema()};
    {
        auto start = Clock::now();
        auto realm = Realm::open(config);
        realm->beginWrite();
        for (int i = 0; i < n; ++i) {
            auto s = std::make_shared<Swatch>();
            s->fill(i);
            realm->add(s);
        }
        realm->commitWrite();
        t.insert = since(start);

        start = Clock::now();
        auto results = realm->objects<Swatch>().filter(Predicate("isDeleted == false AND order >= %d", {n / 2})).sorted("color");
        for (auto& s : results.objects()) checksum += s->color().size();
        t.query = since(start);
    }
    auto start = Clock::now();
    auto realm = Realm::open(config);
    for (auto& s : realm->objects<Swatch>().objects()) checksum += s->color().size();
    t.reopen = since(start);
    return t;
}

void check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

sqlite3* openRaw(const std::string& path) {
    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db), db);
    check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr), db);
    return db;
}

Times runRaw(const std::string& path, int n, std::size_t& checksum) {
    Times t;
    auto start = Clock::now();
    sqlite3* db = openRaw(path);
    check(sqlite3_exec(db,
                       "CREATE TABLE swatch(key INTEGER PRIMARY KEY, id TEXT UNIQUE NOT NULL, color TEXT, created REAL,"
                       " colorName TEXT, isDeleted INTEGER, \"order\" INTEGER); BEGIN IMMEDIATE;",
                       nullptr, nullptr, nullptr),
          db);
    sqlite3_stmt* ins = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO swatch(id, color, created, colorName, isDeleted, \"order\") VALUES (?,?,?,?,?,?)", -1, &ins,
                             nullptr),
          db);
    for (int i = 0; i < n; ++i) {
        std::string id = "id-" + std::to_string(i), color = Swatch::colorText(i);
        sqlite3_bind_text(ins, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, color.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(ins, 3, 1.7e9 + i);
        sqlite3_bind_text(ins, 4, "", -1, SQLITE_STATIC);
        sqlite3_bind_int(ins, 5, i % 10 == 0);
        sqlite3_bind_int64(ins, 6, i);
        check(sqlite3_step(ins), db);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    t.insert = since(start);

    start = Clock::now();
    sqlite3_stmt* q = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT color FROM swatch WHERE isDeleted = 0 AND \"order\" >= ? ORDER BY color, key", -1, &q, nullptr), db);
    sqlite3_bind_int(q, 1, n / 2);
    std::vector<std::string> colors;
    while (sqlite3_step(q) == SQLITE_ROW) colors.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)));
    sqlite3_finalize(q);
    for (auto& c : colors) checksum += c.size();
    t.query = since(start);
    sqlite3_close(db);

    start = Clock::now();
    db = openRaw(path);
    check(sqlite3_prepare_v2(db, "SELECT key, id, color, created, colorName, isDeleted, \"order\" FROM swatch ORDER BY key", -1, &q,
                             nullptr),
          db);
    std::vector<std::string> all;
    while (sqlite3_step(q) == SQLITE_ROW) all.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 2)));
    sqlite3_finalize(q);
    for (auto& c : all) checksum += c.size();
    sqlite3_close(db);
    t.reopen = since(start);
    return t;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::string dir = Foundation::temporaryDirectory();
    std::vector<Times> store, raw;
    std::size_t storeSum = 0, rawSum = 0;
    for (int r = 0; r < rounds; ++r) {
        std::string a = dir + "/store-" + std::to_string(r) + ".realm", b = dir + "/raw-" + std::to_string(r) + ".sqlite";
        store.push_back(runStore(a, n, storeSum));
        raw.push_back(runRaw(b, n, rawSum));
    }
    std::filesystem::remove_all(dir);
    if (storeSum != rawSum) {
        std::fprintf(stderr, "the two runs read different data (%zu vs %zu)\n", storeSum, rawSum);
        return 1;
    }
    auto col = [](const std::vector<Times>& ts, double Times::*f) {
        std::vector<double> v;
        for (auto& t : ts) v.push_back(t.*f);
        return median(v);
    };
    auto tot = [](const std::vector<Times>& ts) {
        std::vector<double> v;
        for (auto& t : ts) v.push_back(t.total());
        return median(v);
    };
    std::printf("object store vs raw SQLite, %d items, median of %d rounds (ms)\n", n, rounds);
    std::printf("%-22s %10s %10s %8s\n", "step", "store", "sqlite", "ratio");
    struct Row {
        const char* name;
        double Times::*field;
    } rows[] = {{"insert (1 transaction)", &Times::insert}, {"filter + sort + read", &Times::query}, {"reopen + read all", &Times::reopen}};
    for (auto& row : rows) {
        double s = col(store, row.field), q = col(raw, row.field);
        std::printf("%-22s %10.2f %10.2f %7.2fx\n", row.name, s, q, s / q);
    }
    double s = tot(store), q = tot(raw);
    std::printf("%-22s %10.2f %10.2f %7.2fx\n", "all", s, q, s / q);
    return 0;
}
