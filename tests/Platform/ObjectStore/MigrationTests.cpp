#include <gmock/gmock.h>
#include <sqlite3.h>

#include <filesystem>

#include <fstream>
#include <sstream>

#include "StoreTestSupport.h"

namespace storetest {
namespace {

using ::testing::ElementsAre;

// A class "Thing" whose older form had "legacyRank" and no primary key.
SchemaRef thingV1() {
    auto s = std::make_shared<ObjectSchema>();
    s->className = "Thing";
    s->properties = {Property::make("name", PropertyType::String), Property::make("legacyRank", PropertyType::Int),
                     Property::makeOptional("tag", PropertyType::String)};
    return s;
}

SchemaRef thingV2() {
    auto s = std::make_shared<ObjectSchema>();
    s->className = "Thing";
    s->primaryKey = "name";
    s->properties = {Property::make("name", PropertyType::String), Property::make("rank", PropertyType::Int),
                     Property::make("tag", PropertyType::String, "none"),
                     Property::make("kind", PropertyType::String, "plain")};
    return s;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class MigrationTest : public StoreTest {
protected:
    void makeV1(std::vector<std::pair<std::string, std::int64_t>> things) {
        Configuration v1;
        v1.path = config.path;
        v1.schemaVersion = 1;
        v1.objectTypes = Schema{thingV1()};
        auto realm = Realm::open(v1);
        realm->write([&] {
            for (auto& [name, rank] : things) {
                Foundation::Dictionary values{{"name", name}, {"legacyRank", rank}};
                if (rank % 2) values.set("tag", "odd");
                realm->create("Thing", values);
            }
        });
    }
    Configuration v2(MigrationBlock block) {
        Configuration c;
        c.path = config.path;
        c.schemaVersion = 2;
        c.objectTypes = Schema{thingV2()};
        c.migrationBlock = std::move(block);
        return c;
    }
};

TEST_F(MigrationTest, TheBlockSeesOldAndNewFormsAndSharedPropertiesCarryOver) {
    makeV1({{"a", 1}, {"b", 2}});
    std::uint64_t seenVersion = 0;
    std::vector<std::string> order;
    auto realm = Realm::open(v2([&](Migration& m, std::uint64_t old) {
        seenVersion = old;
        m.enumerateObjects("Thing",
                           [&](const std::shared_ptr<Object>& oldObject, const std::shared_ptr<Object>& newObject) {
                               order.push_back(oldObject->value("name").asString());
                               EXPECT_EQ(newObject->value("rank"), Value(0));  // new property: default
                               newObject->setValue("rank", oldObject->value("legacyRank").asInt() * 10);
                               EXPECT_THROW(oldObject->setValue("name", "x"), std::logic_error);
                           });
    }));
    EXPECT_EQ(seenVersion, 1u);
    EXPECT_THAT(order, ElementsAre("a", "b"));
    auto things = realm->objects("Thing");
    ASSERT_EQ(things.count(), 2u);
    EXPECT_EQ(things.at(0)->value("rank"), Value(10));
    EXPECT_EQ(things.at(0)->value("tag"), Value("odd"));   // carried over
    EXPECT_EQ(things.at(1)->value("tag"), Value("none"));  // none into a required property: the default
    EXPECT_EQ(things.at(1)->value("kind"), Value("plain"));
    EXPECT_TRUE(realm->object("Thing", "b"));  // the new primary key is indexed
    EXPECT_EQ(Realm::schemaVersionAtPath(config.path), 2u);
}

TEST_F(MigrationTest, AFailedMigrationLeavesTheFileAsItWas) {
    makeV1({{"same", 1}, {"same", 2}});
    std::string before = fileBytes(config.path);
    try {
        Realm::open(v2(nullptr));  // two objects would share the new primary key
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::migrationFailed);
    }
    try {
        Realm::open(v2([](Migration&, std::uint64_t) { throw std::runtime_error("boom"); }));
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::migrationFailed);
        EXPECT_NE(e.error().description.find("boom"), std::string::npos);
    }
    EXPECT_EQ(fileBytes(config.path), before);
    EXPECT_EQ(Realm::schemaVersionAtPath(config.path), 1u);
}

TEST_F(MigrationTest, DeletingAndCreatingDuringTheMigration) {
    makeV1({{"a", 1}, {"b", 2}});
    auto realm = Realm::open(v2([](Migration& m, std::uint64_t) {
        m.enumerateObjects("Thing",
                           [&](const std::shared_ptr<Object>& oldObject, const std::shared_ptr<Object>& newObject) {
                               if (oldObject->value("name") == Value("a")) m.deleteObject(newObject);
                           });
        m.create("Thing", {{"name", "c"}, {"rank", 3}});
    }));
    auto things = realm->objects("Thing");
    ASSERT_EQ(things.count(), 2u);
    EXPECT_EQ(things.at(0)->value("name"), Value("b"));
    EXPECT_EQ(things.at(1)->value("name"), Value("c"));
}

TEST_F(MigrationTest, NewerOrForeignFilesAreReportedAndNeverTouched) {
    makeV1({{"a", 1}});
    std::string before = fileBytes(config.path);
    Configuration older;
    older.path = config.path;
    older.schemaVersion = 0;
    older.objectTypes = Schema{thingV1()};
    try {
        Realm::open(older);
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::schemaVersionNewer);
    }
    // Same version, different schema: a migration is required.
    Configuration sameVersion = v2(nullptr);
    sameVersion.schemaVersion = 1;
    try {
        Realm::open(sameVersion);
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::schemaMismatch);
        EXPECT_NE(e.error().description.find("Thing.rank"), std::string::npos);
    }
    EXPECT_EQ(fileBytes(config.path), before);

    for (std::string garbage : {std::string("this is not a database at all, just text"), std::string(8192, '\x7f')}) {
        std::string path = dir + "/foreign.realm";
        std::ofstream(path, std::ios::binary) << garbage;
        Configuration foreign = config;
        foreign.path = path;
        try {
            Realm::open(foreign);
            FAIL() << "expected an error";
        } catch (const RealmError& e) {
            EXPECT_EQ(e.code(), ErrorCode::invalidDatabase);
        }
        EXPECT_EQ(fileBytes(path), garbage);
    }

    // Another program's SQLite file, and one that only looks like ours: refused
    // before anything is written, the journal mode included.
    for (const char* schemaSql :
         {"CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT); INSERT INTO notes VALUES (1, 'x');",
          "CREATE TABLE _vexil_meta(key TEXT PRIMARY KEY, value); INSERT INTO _vexil_meta VALUES "
          "('format', 'someone-else');"}) {
        std::string path = dir + "/other.sqlite";
        std::filesystem::remove(path);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, schemaSql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        std::string original = fileBytes(path);
        Configuration other = config;
        other.path = path;
        try {
            Realm::open(other);
            FAIL() << "expected an error";
        } catch (const RealmError& e) {
            EXPECT_EQ(e.code(), ErrorCode::invalidDatabase);
        }
        EXPECT_EQ(fileBytes(path), original) << schemaSql;
        EXPECT_FALSE(std::filesystem::exists(path + "-wal")) << schemaSql;
    }

    Configuration missingDir = config;
    missingDir.path = dir + "/no/such/dir/default.realm";
    try {
        Realm::open(missingDir);
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::fileAccess);
    }
}

// The user sees why a store cannot be opened, SQLite's own reason included.
TEST_F(MigrationTest, AStoreThatCannotBeOpenedSaysWhy) {
    const std::string folder = dir + "/folder.realm";
    std::filesystem::create_directories(folder);
    try {
        Realm::schemaVersionAtPath(folder);
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::fileAccess);
        // SQLite's reason follows ("disk I/O error" for a folder).
        const std::string prefix = "Unable to open the store at '" + folder + "': ";
        EXPECT_THAT(e.error().description, ::testing::StartsWith(prefix));
        EXPECT_GT(e.error().description.size(), prefix.size() + 3) << e.error().description;
    }
}

TEST_F(MigrationTest, NewClassesJoinWithoutAMigration) {
    makeV1({{"a", 1}});
    Configuration more;
    more.path = config.path;
    more.schemaVersion = 1;
    more.objectTypes = Schema{thingV1(), Book::objectSchema(), Shelf::objectSchema()};
    auto realm = Realm::open(more);
    EXPECT_EQ(realm->objects("Thing").count(), 1u);
    addBooks(*realm, {{"x", 1}});
    EXPECT_EQ(realm->objects<Book>().count(), 1u);
}

}  // namespace
}  // namespace storetest
