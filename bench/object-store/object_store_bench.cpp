// The object store beside raw SQLite doing the same work on the same data in
// the same run, at N colour items (1,000, 10,000 and 100,000):
//
//   insert/N   N items added in one write transaction, on a fresh file
//   query/N    live filter (not deleted, order >= N/2) and sort by colour,
//              reading every colour of the result
//   reopen/N   opening the file afresh and reading every item
//   cycle/N    the three in a row (the old benchmark's whole run)
//   first_open/N  the first open in a fresh process, as a launch pays it:
//              each iteration starts this program twice as a child (once
//              per side, taking turns), which opens the file and reads every
//              item; the child times only that, and reports it with its
//              minor page faults and peak memory (first_open_faults,
//              first_open_peak_MB for the store, sqlite_... for the raw side;
//              the peak is the whole child's, the program's own start included)
//
// Before timing, both sides' results are compared value by value and in
// order: every column of every item after reopening, the colours of the
// query. The raw side reads all seven columns the store loads (key and six
// properties) into a row of C++ values, as the store does; it skips the
// store's own bookkeeping (schema check, primary-key index, handles).
// first_open/N (at 10,000 and 100,000) compares a digest of every column of
// every item that the two children read, in every iteration.
//
// Where a comparison could still favour one side: the raw side reads with
// one prepared statement and keeps nothing else, while the store also builds
// its live records and a handle per item (as every caller of the store
// pays); the insert of the raw side keeps no primary-key index. Both files
// are in the page cache for every side and iteration (written by the parent).
// insert, query, reopen and cycle repeat in one process, so each side reuses
// memory it freed in earlier iterations (the store keeps its large blocks for
// that, as malloc keeps the raw side's): first_open shows a fresh process.
//
// Counters: items/s of the store, sqlite_items/s of the raw loop, and
// time_ratio = store time / raw time (below 1: the store is faster).
// Equal items/s across N shows linear growth.

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Foundation/Directories.h"
#include "Platform/ObjectStore/Realm.h"
#include "bench/support/SideBySide.h"

namespace {

using namespace ObjectStore;

bool gFailed = false;

// One item as both sides write and read it.
struct Row {
    std::string id, color;
    double created = 0;
    std::string colorName;
    bool isDeleted = false;
    std::int64_t order = 0;
    bool operator==(const Row&) const = default;
};

// Colours of different lengths with many ties, names on some items, an order
// that is not the insertion order: so both values and order show.
Row rowFor(int i) {
    char color[24];
    unsigned v = static_cast<unsigned>(i) * 2654435761u;
    if (i % 3 == 0)
        std::snprintf(color, sizeof color, "#%06x", v >> 8);
    else
        std::snprintf(color, sizeof color, "#%08x", v % 4096u);
    return {"id-" + std::to_string(i),
            color,
            1.7e9 + i,
            i % 7 == 0 ? "Named " + std::to_string(i) : std::string(),
            i % 10 == 0,
            std::int64_t{(i * 7919) % 100003}};
}

// The shape of a library colour item.
class Swatch : public Object {
public:
    enum { kId, kColor, kCreated, kColorName, kIsDeleted, kOrder };
    static SchemaRef objectSchema() {
        static SchemaRef s = [] {
            auto o = std::make_shared<ObjectSchema>();
            o->className = "Swatch";
            o->primaryKey = "id";
            o->properties = {
                Property::make("id", PropertyType::String),      Property::make("color", PropertyType::String),
                Property::make("created", PropertyType::Date),   Property::make("colorName", PropertyType::String),
                Property::make("isDeleted", PropertyType::Bool), Property::make("order", PropertyType::Int)};
            return o;
        }();
        return s;
    }
    Swatch() : Object(objectSchema()) {}
    explicit Swatch(Binding b) : Object(std::move(b)) {}
    void fill(const Row& r) {
        set(kId, r.id);
        set(kColor, r.color);
        set(kCreated, Foundation::Date{r.created});
        set(kColorName, r.colorName);
        set(kIsDeleted, r.isDeleted);
        set(kOrder, r.order);
    }
    std::string color() const { return getString(kColor); }
    Row row() const {
        return {getString(kId),        getString(kColor),   getDate(kCreated).secondsSince1970,
                getString(kColorName), getBool(kIsDeleted), getInt(kOrder)};
    }
};
ObjectTypeRegistration<Swatch> registration;

void check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

std::string text(sqlite3_stmt* q, int col) {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(q, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(q, col))) : std::string();
}

// --- the store ------------------------------------------------------------------

Configuration configuration(const std::string& path) {
    Configuration config;
    config.path = path;
    config.schemaVersion = 1;
    config.objectTypes = Schema{Swatch::objectSchema()};
    return config;
}

void storeInsert(Realm& realm, int n) {
    realm.beginWrite();
    for (int i = 0; i < n; ++i) {
        auto s = std::make_shared<Swatch>();
        s->fill(rowFor(i));
        realm.add(s);
    }
    realm.commitWrite();
}

void storeInsert(const std::string& path, int n) { storeInsert(*Realm::open(configuration(path)), n); }

std::vector<std::string> storeQuery(const Realm& realm, int n) {
    std::vector<std::string> colors;
    auto results =
        realm.objects<Swatch>().filter(Predicate("isDeleted == false AND order >= %d", {n / 2})).sorted("color");
    for (auto& s : results.objects()) colors.push_back(s->color());
    return colors;
}

// Both sides collect into a vector made for the expected count, so its
// growth is not part of either side's time.
std::vector<Row> storeReopen(const std::string& path, int expected) {
    auto realm = Realm::open(configuration(path));
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(expected));
    for (auto& s : realm->objects<Swatch>().objects()) rows.push_back(s->row());
    return rows;
}

// --- raw SQLite -----------------------------------------------------------------

sqlite3* openRaw(const std::string& path) {
    sqlite3* db = nullptr;
    check(sqlite3_open(path.c_str(), &db), db);
    check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr), db);
    return db;
}

void rawInsert(sqlite3* db, int n) {
    check(sqlite3_exec(db,
                       "CREATE TABLE swatch(key INTEGER PRIMARY KEY, id TEXT NOT NULL, color TEXT, created REAL,"
                       " colorName TEXT, isDeleted INTEGER, \"order\" INTEGER); BEGIN IMMEDIATE;",
                       nullptr, nullptr, nullptr),
          db);
    sqlite3_stmt* ins = nullptr;
    check(sqlite3_prepare_v2(
              db, "INSERT INTO swatch(id, color, created, colorName, isDeleted, \"order\") VALUES (?,?,?,?,?,?)", -1,
              &ins, nullptr),
          db);
    for (int i = 0; i < n; ++i) {
        Row r = rowFor(i);
        sqlite3_bind_text(ins, 1, r.id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, r.color.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(ins, 3, r.created);
        sqlite3_bind_text(ins, 4, r.colorName.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(ins, 5, r.isDeleted);
        sqlite3_bind_int64(ins, 6, r.order);
        check(sqlite3_step(ins), db);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
}

void rawInsert(const std::string& path, int n) {
    sqlite3* db = openRaw(path);
    rawInsert(db, n);
    sqlite3_close(db);
}

std::vector<std::string> rawQuery(sqlite3* db, int n) {
    sqlite3_stmt* q = nullptr;
    check(sqlite3_prepare_v2(db, "SELECT color FROM swatch WHERE isDeleted = 0 AND \"order\" >= ? ORDER BY color, key",
                             -1, &q, nullptr),
          db);
    sqlite3_bind_int(q, 1, n / 2);
    std::vector<std::string> colors;
    while (sqlite3_step(q) == SQLITE_ROW) colors.push_back(text(q, 0));
    sqlite3_finalize(q);
    return colors;
}

std::vector<Row> rawReopen(const std::string& path, int expected) {
    sqlite3* db = openRaw(path);
    sqlite3_stmt* q = nullptr;
    check(sqlite3_prepare_v2(db,
                             "SELECT key, id, color, created, colorName, isDeleted, \"order\" FROM swatch ORDER BY key",
                             -1, &q, nullptr),
          db);
    std::vector<Row> rows;
    rows.reserve(static_cast<size_t>(expected));
    while (sqlite3_step(q) == SQLITE_ROW) {
        Row r;
        (void)sqlite3_column_int64(q, 0);
        r.id = text(q, 1);
        r.color = text(q, 2);
        r.created = sqlite3_column_double(q, 3);
        r.colorName = text(q, 4);
        r.isDeleted = sqlite3_column_int(q, 5) != 0;
        r.order = sqlite3_column_int64(q, 6);
        rows.push_back(std::move(r));
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    return rows;
}

// --- the benchmarks ---------------------------------------------------------------

// A scratch directory with the two files of one size, written once.
struct Files {
    std::string dir, store, raw;
    explicit Files(int n)
        : dir(Foundation::temporaryDirectory()), store(dir + "/store.realm"), raw(dir + "/raw.sqlite") {
        storeInsert(store, n);
        rawInsert(raw, n);
    }
    ~Files() { std::filesystem::remove_all(dir); }
};

template <class T>
bool same(benchmark::State& state, const T& a, const T& b, const char* what) {
    if (a == b) return true;
    std::fprintf(stderr, "%lld items: the store and raw SQLite read different %s (%zu vs %zu)\n",
                 static_cast<long long>(state.range(0)), what, a.size(), b.size());
    gFailed = true;
    state.SkipWithError("the two sides disagree");
    return false;
}

void removeFiles(const std::string& dir) {
    std::error_code ec;
    for (auto& entry : std::filesystem::directory_iterator(dir, ec)) std::filesystem::remove(entry.path(), ec);
}

void insert(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Files files(n);
    if (!same(state, storeReopen(files.store, n), rawReopen(files.raw, n), "items")) return;
    bench::SideBySide sides(state);
    for (auto _ : state) {
        removeFiles(files.dir);
        sides.iteration([&] { storeInsert(files.store, n); }, [&] { rawInsert(files.raw, n); });
    }
    sides.report(n, "sqlite", true);
}

void query(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Files files(n);
    auto realm = Realm::open(configuration(files.store));
    sqlite3* db = openRaw(files.raw);
    if (same(state, storeQuery(*realm, n), rawQuery(db, n), "query results")) {
        bench::SideBySide sides(state);
        for (auto _ : state)
            sides.iteration([&] { benchmark::DoNotOptimize(storeQuery(*realm, n)); },
                            [&] { benchmark::DoNotOptimize(rawQuery(db, n)); });
        sides.report(n, "sqlite", true);
    }
    sqlite3_close(db);
}

void reopen(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Files files(n);
    if (!same(state, storeReopen(files.store, n), rawReopen(files.raw, n), "items")) return;
    bench::SideBySide sides(state);
    for (auto _ : state)
        sides.iteration([&] { benchmark::DoNotOptimize(storeReopen(files.store, n)); },
                        [&] { benchmark::DoNotOptimize(rawReopen(files.raw, n)); });
    sides.report(n, "sqlite", true);
}

// Insert and query on one opened store, close, reopen and read (as the old
// single-run benchmark did).
void cycle(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Files files(n);
    bench::SideBySide sides(state);
    for (auto _ : state) {
        removeFiles(files.dir);
        sides.iteration(
            [&] {
                {
                    auto realm = Realm::open(configuration(files.store));
                    storeInsert(*realm, n);
                    benchmark::DoNotOptimize(storeQuery(*realm, n));
                }
                benchmark::DoNotOptimize(storeReopen(files.store, n));
            },
            [&] {
                sqlite3* db = openRaw(files.raw);
                rawInsert(db, n);
                benchmark::DoNotOptimize(rawQuery(db, n));
                sqlite3_close(db);
                benchmark::DoNotOptimize(rawReopen(files.raw, n));
            });
    }
    sides.report(n, "sqlite", true);
}

// --- the first open, in a fresh process --------------------------------------------

// What a child reports: the time of its open and read, the minor page faults
// they took, its peak memory, and a digest of every item read.
struct ChildReport {
    double seconds = 0;
    long faults = 0, peakKB = 0;
    std::uint64_t digest = 0;
    long items = 0;
};

// FNV-1a over every column of the items, in order.
struct Digest {
    std::uint64_t h = 1469598103934665603ull;
    long items = 0;
    void mix(const void* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) h = (h ^ static_cast<const unsigned char*>(p)[i]) * 1099511628211ull;
    }
    void add(const Row& r) {
        for (const std::string* t : {&r.id, &r.color, &r.colorName}) mix(t->c_str(), t->size() + 1);
        mix(&r.created, sizeof r.created);
        mix(&r.isDeleted, sizeof r.isDeleted);
        mix(&r.order, sizeof r.order);
        ++items;
    }
};

// Both sides read every column of every item, as reopen/N does, but keep
// nothing: the digest is all that is left.
Digest storeFirstOpen(const std::string& path) {
    Digest d;
    auto realm = Realm::open(configuration(path));
    for (auto& s : realm->objects<Swatch>().objects()) d.add(s->row());
    return d;
}

Digest rawFirstOpen(const std::string& path) {
    Digest d;
    sqlite3* db = openRaw(path);
    sqlite3_stmt* q = nullptr;
    check(sqlite3_prepare_v2(db,
                             "SELECT key, id, color, created, colorName, isDeleted, \"order\" FROM swatch ORDER BY key",
                             -1, &q, nullptr),
          db);
    while (sqlite3_step(q) == SQLITE_ROW) {
        Row r;
        (void)sqlite3_column_int64(q, 0);
        r.id = text(q, 1);
        r.color = text(q, 2);
        r.created = sqlite3_column_double(q, 3);
        r.colorName = text(q, 4);
        r.isDeleted = sqlite3_column_int(q, 5) != 0;
        r.order = sqlite3_column_int64(q, 6);
        d.add(r);
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    return d;
}

// The child: opens the file on one side, reads every item, prints a report.
int firstOpenChild(const std::string& side, const std::string& path) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    Digest digest = side == "store" ? storeFirstOpen(path) : rawFirstOpen(path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    // The peak of this process's own memory (getrusage's would carry the
    // parent's over the exec).
    long peakKB = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %ld kB", &peakKB) == 1) break;
        std::fclose(status);
    }
    std::printf("%.9f %ld %ld %llu %ld\n", seconds, after.ru_minflt - before.ru_minflt, peakKB,
                static_cast<unsigned long long>(digest.h), digest.items);
    return 0;
}

constexpr const char* kChildFlag = "--first-open-child";

bool runChild(const std::string& side, const std::string& path, ChildReport& report) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", "bench_object_store", kChildFlag, side.c_str(), path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(got));
    close(fds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    unsigned long long digest = 0;
    if (std::sscanf(out.c_str(), "%lf %ld %ld %llu %ld", &report.seconds, &report.faults, &report.peakKB, &digest,
                    &report.items) != 5)
        return false;
    report.digest = digest;
    return true;
}

void firstOpen(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Files files(n);
    ChildReport store, raw;
    long storeFaults = 0, rawFaults = 0, storePeak = 0, rawPeak = 0;
    bench::SideBySide sides(state);
    for (auto _ : state) {
        auto side = [&](const char* name, const std::string& path, ChildReport& report) {
            return runChild(name, path, report) ? report.seconds : -1.0;
        };
        if (!sides.measuredIteration([&] { return side("store", files.store, store); },
                                     [&] { return side("raw", files.raw, raw); })) {
            gFailed = true;
            state.SkipWithError("a child could not open the file");
            return;
        }
        if (store.digest != raw.digest || store.items != n || raw.items != n) {
            std::fprintf(stderr, "%d items: the first open read different items (%ld vs %ld)\n", n, store.items,
                         raw.items);
            gFailed = true;
            state.SkipWithError("the two sides disagree");
            return;
        }
        storeFaults = std::max(storeFaults, store.faults);
        rawFaults = std::max(rawFaults, raw.faults);
        storePeak = std::max(storePeak, store.peakKB);
        rawPeak = std::max(rawPeak, raw.peakKB);
    }
    sides.report(n, "sqlite", true);
    state.counters["first_open_faults"] = benchmark::Counter(static_cast<double>(storeFaults));
    state.counters["sqlite_faults"] = benchmark::Counter(static_cast<double>(rawFaults));
    state.counters["first_open_peak_MB"] = benchmark::Counter(static_cast<double>(storePeak) / 1024.0);
    state.counters["sqlite_peak_MB"] = benchmark::Counter(static_cast<double>(rawPeak) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kChildFlag) == 0) {
        if (argc != 4 || (std::strcmp(argv[2], "store") != 0 && std::strcmp(argv[2], "raw") != 0)) {
            std::fprintf(stderr, "%s: usage: %s store|raw <file>\n", argv[0], kChildFlag);
            return 2;
        }
        return firstOpenChild(argv[2], argv[3]);
    }
    using Run = void (*)(benchmark::State&);
    for (auto [name, run] :
         {std::pair<const char*, Run>{"insert", insert}, std::pair<const char*, Run>{"query", query},
          std::pair<const char*, Run>{"reopen", reopen}, std::pair<const char*, Run>{"cycle", cycle}})
        benchmark::RegisterBenchmark(name, run)->Arg(1000)->Arg(10000)->Arg(100000)->UseManualTime()->Unit(
            benchmark::kMillisecond);
    benchmark::RegisterBenchmark("first_open", firstOpen)
        ->Arg(10000)
        ->Arg(100000)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    return bench::runBenchmarks(argc, argv, gFailed);
}
