#pragma once
// Two small persistent types and a fixture with a fresh store file and the
// manual executor (change notifications arrive when the test drains it).

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Platform/ObjectStore/Realm.h"

namespace storetest {

using namespace ObjectStore;
using Foundation::Value;

class Shelf;

class Book : public Object {
public:
    enum { kId, kTitle, kRank, kRead, kAdded, kCover, kNote, kShelf, kPrice };
    static SchemaRef objectSchema() {
        static SchemaRef s = [] {
            auto o = std::make_shared<ObjectSchema>();
            o->className = "Book";
            o->primaryKey = "id";
            o->properties = {Property::make("id", PropertyType::String),
                             Property::make("title", PropertyType::String, "untitled"),
                             Property::make("rank", PropertyType::Int),
                             Property::make("read", PropertyType::Bool),
                             Property::make("added", PropertyType::Date),
                             Property::make("cover", PropertyType::Data),
                             Property::makeOptional("note", PropertyType::String),
                             Property::makeLink("shelf", "Shelf"),
                             Property::make("price", PropertyType::Double)};
            return o;
        }();
        return s;
    }
    Book() : Object(objectSchema()) { set(kId, Foundation::makeUUIDString()); }
    explicit Book(Binding b) : Object(std::move(b)) {}
    Book(std::string title, std::int64_t rank) : Book() {
        setTitle(std::move(title));
        setRank(rank);
    }

    std::string id() const { return getString(kId); }
    void setId(std::string v) { set(kId, std::move(v)); }
    std::string title() const { return getString(kTitle); }
    void setTitle(std::string v) { set(kTitle, std::move(v)); }
    std::int64_t rank() const { return getInt(kRank); }
    void setRank(std::int64_t v) { set(kRank, v); }
    bool read() const { return getBool(kRead); }
    void setRead(bool v) { set(kRead, v); }
    std::shared_ptr<Shelf> shelf() const;
    void setShelf(const std::shared_ptr<Shelf>& s);
};

class Shelf : public Object {
public:
    enum { kId, kName, kBooks, kHolds };
    static SchemaRef objectSchema() {
        static SchemaRef s = [] {
            auto o = std::make_shared<ObjectSchema>();
            o->className = "Shelf";
            o->primaryKey = "id";
            o->properties = {Property::make("id", PropertyType::String), Property::make("name", PropertyType::String),
                             Property::makeList("books", PropertyType::Object, "Book"),
                             Property::makeLinkingObjects("holds", "Book", "shelf")};
            return o;
        }();
        return s;
    }
    Shelf() : Object(objectSchema()) { set(kId, Foundation::makeUUIDString()); }
    explicit Shelf(Binding b) : Object(std::move(b)) {}
    explicit Shelf(std::string name) : Shelf() { set(kName, std::move(name)); }

    std::string id() const { return getString(kId); }
    std::string name() const { return getString(kName); }
    void setName(std::string v) { set(kName, std::move(v)); }
    List books() const { return getList(kBooks); }
    Results<Book> holds() const { return Results<Book>(getLinkingObjects(kHolds)); }
};

inline std::shared_ptr<Shelf> Book::shelf() const { return std::dynamic_pointer_cast<Shelf>(getLink(kShelf)); }
inline void Book::setShelf(const std::shared_ptr<Shelf>& s) { setLink(kShelf, s); }

inline ObjectTypeRegistration<Book> bookRegistration;
inline ObjectTypeRegistration<Shelf> shelfRegistration;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        executor = Foundation::TestExecutor::install();
        dir = Foundation::temporaryDirectory();
        config.path = dir + "/default.realm";
        config.schemaVersion = 1;
        config.objectTypes = Schema{Book::objectSchema(), Shelf::objectSchema()};
    }
    void TearDown() override {
        ObjectStore::testing::failNextCommits(0);
        executor.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    std::shared_ptr<Realm> open() { return Realm::open(config); }

    // Adds books in one transaction.
    std::vector<std::shared_ptr<Book>> addBooks(Realm& realm, std::vector<std::pair<std::string, std::int64_t>> books) {
        std::vector<std::shared_ptr<Book>> out;
        realm.write([&] {
            for (auto& [title, rank] : books) {
                auto b = std::make_shared<Book>(title, rank);
                realm.add(b);
                out.push_back(b);
            }
        });
        return out;
    }

    static std::vector<std::string> titles(const Results<Book>& results) {
        std::vector<std::string> out;
        for (auto& b : results.objects()) out.push_back(b->title());
        return out;
    }

    std::unique_ptr<Foundation::TestExecutor> executor;
    std::string dir;
    Configuration config;
};

}  // namespace storetest
