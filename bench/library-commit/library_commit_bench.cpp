// Single-colour commits as a pick makes them, beside raw SQLite writing the
// same rows in the same transactions, in the same run, taking turns.
//
// Ours, per pick: `ZNLColorsLibrary::addColor` into a folder of N colours
// (its own write transaction), with the library's cloud sync running against
// an in-process server on the manual clock: the change notice reaches the
// colours' sync object, the engine records the new record as sent (the
// per-record sync state, a second commit), sends it and records the server's
// acknowledgement (a third commit). The pick is timed until all of that has
// run.
//
// Raw SQLite, per pick, on a file with the store's settings (write-ahead log,
// synchronous=FULL): the colour's row in one transaction, the sync-state row
// in a second and its acknowledged form in a third, each a prepared statement.
//
// The N earlier colours are added in one write on both sides (and pushed
// once on ours). Before timing, a round of picks is made on both: both must then hold the
// same colours in the same order with the same order numbers, and a state
// per colour with the server's change tag.
//
// Where the comparison still favours one side: raw SQLite is given the sync
// state's text made beforehand and does none of the duplicate check, the
// record encoding, the notification or the (in-process) server round trip,
// all of which the store's side pays as the application does.
//
// Counters: items/s are picks per second of ours, sqlite_items/s the raw
// loop's, time_ratio = our time / raw time (below 1: ours is faster).

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Nimbus/RecordState.h"
#include "Nimbus/SyncEngine.h"
#include "Platform/CloudKit/Container.h"
#include "Platform/CloudKit/Server.h"
#include "Platform/CloudKit/Transport.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/UserDefaults.h"
#include "bench/support/SideBySide.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/LibrarySync/LibrarySync.h"

namespace {

bool gFailed = false;
constexpr int kCheckRound = 20;

std::string hexFor(int i) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06x", (static_cast<unsigned>(i) * 2654435761u) >> 8 & 0xffffffu);
    return text;
}

bool fail(benchmark::State& state, const std::string& why) {
    std::fprintf(stderr, "library commit: %s\n", why.c_str());
    gFailed = true;
    state.SkipWithError(why.c_str());
    return false;
}

// --- ours: the library with its cloud sync --------------------------------------------

struct Library {
    std::unique_ptr<Foundation::TestExecutor> exec = Foundation::TestExecutor::install();
    std::shared_ptr<CloudKit::CloudServer> server = std::make_shared<CloudKit::CloudServer>();
    std::shared_ptr<Foundation::UserDefaults> defaults;
    std::shared_ptr<ObjectStore::Realm> realm;
    std::shared_ptr<Nimbus::SyncEngine> engine;
    std::shared_ptr<ZNLColorFolder> folder;
    int next = 0;

    explicit Library(const std::string& dir) {
        defaults = std::make_shared<Foundation::UserDefaults>(dir + "/preferences.plist");
        ObjectStore::Configuration config;
        config.path = dir + "/default.realm";
        config.schemaVersion = kLibrarySchemaVersion;
        config.migrationBlock = libraryMigration;
        ObjectStore::Configuration::setDefaultConfiguration(config);
        realm = ObjectStore::Realm::open();
        folder = std::make_shared<ZNLColorFolder>();
        folder->setFolderName("Picks");
        folder->setFolderId(1);
        realm->write([&] { realm->add(folder); });
        Nimbus::SyncEnvironment environment{defaults, std::make_shared<Foundation::NotificationCenter>(),
                                            Foundation::DispatchQueue::main()};
        auto container =
            CloudKit::CKContainer::make(std::make_shared<CloudKit::InProcessTransport>(server, "user", "bench"));
        auto objects = librarysync::makeSyncObjects(realm, environment);
        engine = Nimbus::SyncEngine::make({objects.folders, objects.items}, container, realm, environment);
        engine->start();
        settle();
    }
    ~Library() {
        engine.reset();
        exec->drain();
    }
    // Runs everything that is due, the pushes and their replies included.
    void settle() {
        while (exec->drain() > 0) {
        }
    }
    // The library's earlier colours, added in one write and pushed once.
    void fill(int count) {
        realm->write([&] {
            for (int i = 0; i < count; ++i) {
                auto item = std::make_shared<ZNLColorItem>();
                item->setColor(hexFor(next++));
                realm->add(item);
                libraryservice::placeInFolder(folder, *item);
            }
        });
        settle();
    }
    bool pick() {
        bool added = ZNLColorsLibrary::shared().addColor(hexFor(next++), folder) != nullptr;
        settle();
        return added;
    }
    // The colours by order, each "<hex> <order>", and how many are acknowledged.
    std::vector<std::string> colours(std::size_t& acknowledged) const {
        std::vector<std::string> out;
        acknowledged = 0;
        for (auto& item : realm->objects<ZNLColorItem>().sorted("order").objects()) {
            out.push_back(item->color() + " " + std::to_string(item->order()));
            auto state = Nimbus::recordState(*realm, "ZNLColorItem", item->id());
            auto record = state ? state->record() : std::nullopt;
            if (record && record->recordChangeTag()) ++acknowledged;
        }
        return out;
    }
};

// --- raw SQLite ---------------------------------------------------------------------

struct Raw {
    sqlite3* db = nullptr;
    sqlite3_stmt *item = nullptr, *state = nullptr, *ack = nullptr;
    std::string sent, acknowledged;  // the state's text, made beforehand
    std::int64_t order = 0;
    int next = 0;
    bool ok = false;

    Raw(const std::string& path, std::string sentText, std::string acknowledgedText)
        : sent(std::move(sentText)), acknowledged(std::move(acknowledgedText)) {
        ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
             exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                  "CREATE TABLE item(_key INTEGER PRIMARY KEY, id TEXT, color TEXT, selectedShade TEXT, created REAL,"
                  " colorName TEXT, isDeleted INTEGER, owner INTEGER, \"order\" INTEGER);"
                  "CREATE TABLE state(_key INTEGER PRIMARY KEY, id TEXT, recordType TEXT, recordName TEXT,"
                  " record TEXT, tombstone INTEGER, deletePending INTEGER);") &&
             prepare("INSERT INTO item(id, color, selectedShade, created, colorName, isDeleted, owner, \"order\")"
                     " VALUES (?, ?, '#ffffff', ?, '', 0, 1, ?)",
                     item) &&
             prepare("INSERT INTO state(id, recordType, recordName, record, tombstone, deletePending)"
                     " VALUES (?, 'ZNLColorItem', ?, ?, 0, 0)",
                     state) &&
             prepare("UPDATE state SET record = ?, tombstone = 0, deletePending = 0 WHERE _key = ?", ack);
    }
    ~Raw() {
        for (auto* st : {item, state, ack}) sqlite3_finalize(st);
        sqlite3_close(db);
    }
    bool exec(const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
    bool prepare(const char* sql, sqlite3_stmt*& st) {
        return sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK;
    }
    static bool run(sqlite3_stmt* st) {
        bool done = sqlite3_step(st) == SQLITE_DONE;
        sqlite3_reset(st);
        return done;
    }
    bool fill(int count) {
        bool done = exec("BEGIN IMMEDIATE");
        for (int i = 0; i < count; ++i) {
            const std::string id = Foundation::makeUUIDString(), hex = hexFor(next++);
            const std::string key = "ZNLColorItem/" + id;
            sqlite3_bind_text(item, 1, id.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(item, 2, hex.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_double(item, 3, 1.7e9);
            sqlite3_bind_int64(item, 4, ++order);
            sqlite3_bind_text(state, 1, key.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(state, 2, id.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_text(state, 3, acknowledged.c_str(), static_cast<int>(acknowledged.size()), SQLITE_STATIC);
            done = run(item) && run(state) && done;
        }
        return exec("COMMIT") && done;
    }
    bool pick() {
        const std::string id = Foundation::makeUUIDString(), hex = hexFor(next++);
        const std::string key = "ZNLColorItem/" + id;
        bool done = exec("BEGIN IMMEDIATE");
        sqlite3_bind_text(item, 1, id.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(item, 2, hex.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_double(item, 3, 1.7e9);
        sqlite3_bind_int64(item, 4, ++order);
        done = run(item) && exec("COMMIT") && done;
        done = exec("BEGIN IMMEDIATE") && done;
        sqlite3_bind_text(state, 1, key.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(state, 2, id.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(state, 3, sent.c_str(), static_cast<int>(sent.size()), SQLITE_STATIC);
        done = run(state) && exec("COMMIT") && done;
        const std::int64_t stateKey = sqlite3_last_insert_rowid(db);
        done = exec("BEGIN IMMEDIATE") && done;
        sqlite3_bind_text(ack, 1, acknowledged.c_str(), static_cast<int>(acknowledged.size()), SQLITE_STATIC);
        sqlite3_bind_int64(ack, 2, stateKey);
        return run(ack) && exec("COMMIT") && done;
    }
    std::vector<std::string> colours(std::size_t& acknowledgedCount) const {
        std::vector<std::string> out;
        sqlite3_stmt* q = nullptr;
        sqlite3_prepare_v2(db, "SELECT color, \"order\" FROM item ORDER BY \"order\", _key", -1, &q, nullptr);
        while (sqlite3_step(q) == SQLITE_ROW)
            out.push_back(reinterpret_cast<const char*>(sqlite3_column_text(q, 0)) + std::string(" ") +
                          std::to_string(sqlite3_column_int64(q, 1)));
        sqlite3_finalize(q);
        sqlite3_prepare_v2(db, "SELECT count(*) FROM state WHERE record = ?", -1, &q, nullptr);
        sqlite3_bind_text(q, 1, acknowledged.c_str(), -1, SQLITE_STATIC);
        acknowledgedCount = sqlite3_step(q) == SQLITE_ROW ? static_cast<std::size_t>(sqlite3_column_int64(q, 0)) : 0;
        sqlite3_finalize(q);
        return out;
    }
};

// The state texts of the latest pick, as the store holds them: sent
// (no change tag) and acknowledged.
std::pair<std::string, std::string> stateTexts(Library& library) {
    auto items = library.realm->objects<ZNLColorItem>().sorted("order");
    auto last = items.last();
    auto state = last ? Nimbus::recordState(*library.realm, "ZNLColorItem", last->id()) : nullptr;
    auto record = state ? state->record() : std::nullopt;
    if (!record) return {};
    std::string acknowledged = state->value("record").asString();
    CloudKit::CKRecord sent = *record;
    sent.setServerState(std::nullopt, std::nullopt, std::nullopt);
    auto copy = std::make_shared<Nimbus::NimbusRecordState>();
    copy->setRecord(sent);
    return {copy->value("record").asString(), acknowledged};
}

void commits(benchmark::State& state) {
    const int existing = static_cast<int>(state.range(0));
    const std::string dir = Foundation::temporaryDirectory();
    {
        Library library(dir);
        library.fill(existing);
        for (int i = 0; i < kCheckRound; ++i)
            if (!library.pick()) return (void)fail(state, "a colour was not stored");
        auto [sent, acknowledged] = stateTexts(library);
        if (sent.empty()) return (void)fail(state, "the pick left no sync state");
        Raw raw(dir + "/raw.sqlite", sent, acknowledged);
        if (!raw.ok) return (void)fail(state, "the raw file could not be made");
        if (!raw.fill(existing)) return (void)fail(state, "the raw file could not be filled");
        for (int i = 0; i < kCheckRound; ++i)
            if (!raw.pick()) return (void)fail(state, "a raw pick failed");
        std::size_t ourAcks = 0, rawAcks = 0;
        auto ours = library.colours(ourAcks);
        auto theirs = raw.colours(rawAcks);
        if (ours != theirs) return (void)fail(state, "the two sides hold different colours");
        if (ourAcks != ours.size() || rawAcks != theirs.size())
            return (void)fail(state, "not every colour has its acknowledged state (" + std::to_string(ourAcks) +
                                         ", " + std::to_string(rawAcks) + " of " + std::to_string(ours.size()) + ")");
        bench::SideBySide sides(state);
        bool stored = true;
        for (auto _ : state) sides.iteration([&] { stored = library.pick() && stored; }, [&] { stored = raw.pick() && stored; });
        if (!stored) return (void)fail(state, "a pick failed");
        sides.report(1, "sqlite", true);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    std::string scratch;
    if (!std::getenv("VEXIL_HOME")) {
        scratch = std::filesystem::temp_directory_path() / ("bench-library-commit-" + Foundation::makeUUIDString());
        std::filesystem::create_directories(scratch);
        ::setenv("VEXIL_HOME", scratch.c_str(), 1);
    }
    benchmark::RegisterBenchmark("pick_commit", commits)->Arg(100)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(
        benchmark::kMillisecond);
    int status = bench::runBenchmarks(argc, argv, gFailed);
    if (!scratch.empty()) std::filesystem::remove_all(scratch);
    return status;
}
