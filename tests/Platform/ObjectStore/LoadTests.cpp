// Objects an open reads from the file keep their values in the load's columns
// until they change. Every way of reading them must give what the objects
// written gave: before their first change, after it, after a cancelled one,
// and after the file changed underneath.

#include <gmock/gmock.h>
#include <sqlite3.h>

#include "StoreTestSupport.h"

namespace storetest {
namespace {

using ::testing::ElementsAre;

class LoadTest : public StoreTest {
protected:
    // Shelves "s0" and "s1" and twelve books "b0".."b11" with every property
    // kind, some left at none or at their defaults, links and a list.
    void writeLibrary(Realm& realm) {
        realm.write([&] {
            std::vector<std::shared_ptr<Shelf>> shelves;
            for (int s = 0; s < 2; ++s) {
                auto shelf = std::make_shared<Shelf>("shelf " + std::to_string(s));
                shelf->setValue("id", "s" + std::to_string(s));
                realm.add(shelf);
                shelves.push_back(shelf);
            }
            for (int i = 0; i < 12; ++i) {
                auto book = std::make_shared<Book>("title " + std::to_string((i * 5) % 12), i % 4);
                book->setId("b" + std::to_string(i));
                book->setRead(i % 3 == 0);
                if (i % 2) book->setValue("added", Foundation::Date{1000.0 + i});
                if (i % 5) book->setValue("cover", Foundation::Data(static_cast<std::size_t>(i), 7));
                if (i % 4 == 1) book->setValue("note", "note " + std::to_string(i));
                if (i % 3) book->setShelf(shelves[static_cast<std::size_t>(i % 2)]);
                book->setValue("price", i * 0.5);
                realm.add(book);
                if (i % 4 != 3) shelves[static_cast<std::size_t>(i % 2)]->books().append(book);
            }
        });
    }

    // The same changes on any store written by writeLibrary: a commit that
    // changes, links, removes and adds; a cancelled one; a removal that
    // clears links and list entries.
    void change(Realm& realm) {
        realm.write([&] {
            realm.object<Book>("b3")->setTitle("changed");
            realm.object<Book>("b5")->setShelf(realm.object<Shelf>("s0"));
            realm.remove(realm.object<Book>("b7"));
            auto added = std::make_shared<Book>("added", 9);
            added->setId("b12");
            realm.add(added);
        });
        realm.beginWrite();
        realm.object<Book>("b4")->setRank(40);
        realm.object<Book>("b1")->setValue("note", Value());
        realm.remove(realm.object<Book>("b8"));
        realm.cancelWrite();
        realm.write([&] { realm.remove(realm.object<Shelf>("s1")); });
    }

    // Everything the store answers about its objects, as text: every
    // property of every object by name and through the typed reads, lookups
    // by primary key, filters, sorts, lists and linking objects.
    static std::vector<std::string> describe(const Realm& realm) {
        std::vector<std::string> out;
        std::function<std::string(const Value&)> text = [&](const Value& v) -> std::string {
            if (v.isObject()) return "-> " + std::dynamic_pointer_cast<Object>(v.asObject())->value("id").asString();
            if (v.isData()) return "data(" + std::to_string(v.asData().size()) + ")";
            if (v.isDate()) return "date(" + std::to_string(v.asDate().secondsSince1970) + ")";
            if (v.isArray()) {
                std::string list = "[";
                for (auto& e : v.asArray()) list += text(e) + ",";
                return list + "]";
            }
            return v.debugDescription();
        };
        for (auto& b : realm.objects<Book>().objects()) {
            std::string line = b->id() + ": " + b->title() + " " + std::to_string(b->rank()) + (b->read() ? " read" : "");
            for (auto& p : Book::objectSchema()->properties) line += " " + p.name + "=" + text(b->value(p.name));
            out.push_back(line);
            auto found = realm.object<Book>(b->id());
            out.push_back(found && found->isSameObject(*b) ? "found" : "not found");
        }
        for (auto& s : realm.objects<Shelf>().objects()) {
            std::string line = s->id() + ": " + s->name() + " books";
            for (std::size_t i = 0; i < s->books().count(); ++i) line += " " + s->books().at<Book>(i)->id();
            line += " holds";
            for (auto& b : s->holds().objects()) line += " " + b->id();
            out.push_back(line);
        }
        for (const char* format : {"read == false", "rank >= 2 AND note == nil", "shelf.name == 'shelf 0'",
                                   "price > 2.5", "title == 'title 5'", "cover == nil"}) {
            std::string line = format;
            for (auto& b : realm.objects<Book>().filter(Predicate(format)).objects()) line += " " + b->id();
            out.push_back(line);
        }
        for (const char* key : {"title", "rank", "added", "price"})
            for (bool ascending : {true, false}) {
                std::string line = std::string("sorted ") + key;
                for (auto& b : realm.objects<Book>().sorted(key, ascending).objects()) line += " " + b->id();
                out.push_back(line);
            }
        return out;
    }

    // Runs SQL on the store file through a connection of its own.
    void sql(const std::string& statement) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(config.path.c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
        sqlite3_free(error);
        sqlite3_close(db);
    }
};

TEST_F(LoadTest, AReopenedStoreAnswersAsTheStoreThatWroteItBeforeAndAfterChanges) {
    // Two files with the same objects: one changed as written, the other
    // changed after a reopen (every object read from the file first).
    Configuration written = config;
    written.path = dir + "/written.realm";
    auto reference = Realm::open(written);
    writeLibrary(*reference);
    {
        auto realm = open();
        writeLibrary(*realm);
        EXPECT_EQ(describe(*realm), describe(*reference));
    }
    auto realm = open();
    EXPECT_EQ(describe(*realm), describe(*reference));

    change(*reference);
    change(*realm);
    EXPECT_EQ(describe(*realm), describe(*reference));
    EXPECT_EQ(realm->object<Book>("b4")->rank(), 0);
    EXPECT_EQ(realm->object<Book>("b1")->value("note"), Value("note 1"));

    realm.reset();
    reference.reset();
    EXPECT_EQ(describe(*open()), describe(*Realm::open(written)));
}

TEST_F(LoadTest, ANoneStoredForAPropertyThatCannotHoldOneReadsAsItsDefault) {
    writeLibrary(*open());
    sql("UPDATE \"class_Book\" SET title = NULL, rank = NULL, added = NULL, cover = NULL WHERE id = 'b1'");
    auto realm = open();
    auto book = realm->object<Book>("b1");
    ASSERT_TRUE(book);
    auto expectDefaults = [&] {
        EXPECT_EQ(book->title(), "untitled");
        EXPECT_EQ(book->rank(), 0);
        EXPECT_EQ(book->value("title"), Value("untitled"));
        EXPECT_EQ(book->value("added"), Value(Foundation::Date{}));
        EXPECT_EQ(book->value("cover"), Value(Foundation::Data{}));
        EXPECT_EQ(book->value("note"), Value("note 1"));
    };
    expectDefaults();
    EXPECT_THAT(titles(realm->objects<Book>().filter("title == 'untitled'")), ElementsAre("untitled"));
    // A change makes the record's values from the columns: the same defaults.
    realm->write([&] { book->setRead(true); });
    expectDefaults();
}

TEST_F(LoadTest, AFileChangedUnderneathIsReadAgainAndOnlyItsChangesAreReported) {
    writeLibrary(*open());
    auto realm = open();
    auto all = realm->objects<Book>();
    auto changed = realm->object<Book>("b2");
    auto removed = realm->object<Book>("b6");
    std::vector<AnyCollectionChange> changes;
    auto token = all.any().observe([&](const AnyCollectionChange& c) { changes.push_back(c); });
    executor->drain();

    sql("UPDATE \"class_Book\" SET title = 'theirs' WHERE id = 'b2'; DELETE FROM \"class_Book\" WHERE id = 'b6'");
    EXPECT_TRUE(realm->refresh());
    EXPECT_EQ(changed->title(), "theirs");
    EXPECT_TRUE(removed->isInvalidated());
    EXPECT_EQ(realm->object<Book>("b6"), nullptr);
    EXPECT_EQ(realm->object<Book>("b3")->title(), "title 3");
    executor->drain();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_THAT(changes[1].deletions, ElementsAre(6));
    EXPECT_TRUE(changes[1].insertions.empty());
    EXPECT_THAT(changes[1].modifications, ElementsAre(2));
}

TEST_F(LoadTest, EveryTextReadsBackHoweverManyEmptyOnesTheRowsHave) {
    // Empty texts take almost no room in the file: read back, they outgrow
    // the room a load first gives a class's text.
    auto notes = std::make_shared<ObjectSchema>();
    notes->className = "Notes";
    notes->primaryKey = "id";
    notes->properties.push_back(Property::make("id", PropertyType::String));
    for (int i = 0; i < 12; ++i) notes->properties.push_back(Property::make("t" + std::to_string(i), PropertyType::String));
    config.objectTypes = Schema{notes};
    const int rows = 3000;
    {
        auto realm = open();
        realm->write([&] {
            for (int r = 0; r < rows; ++r)
                realm->create("Notes", {{"id", std::to_string(r)}, {"t11", r % 500 ? "" : "last " + std::to_string(r)}});
        });
    }
    auto realm = open();
    auto all = realm->objects("Notes");
    ASSERT_EQ(all.count(), static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        auto note = all.at(static_cast<std::size_t>(r));
        ASSERT_EQ(note->value("id"), Value(std::to_string(r)));
        ASSERT_EQ(note->value("t0"), Value(""));
        ASSERT_EQ(note->value("t11"), Value(r % 500 ? std::string() : "last " + std::to_string(r)));
    }
}

}  // namespace
}  // namespace storetest
