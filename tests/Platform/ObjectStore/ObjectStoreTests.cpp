#include <gmock/gmock.h>

#include "StoreTestSupport.h"

namespace storetest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

TEST_F(StoreTest, CommittedObjectsReadBackWithEveryPropertyKindAfterReopening) {
    std::string bookId, shelfId;
    {
        auto realm = open();
        realm->write([&] {
            auto shelf = std::make_shared<Shelf>("kitchen");
            auto book = std::make_shared<Book>("Soup", 7);
            book->setRead(true);
            book->setValue("added", Foundation::Date{1234.5});
            book->setValue("cover", Foundation::Data{0, 1, 255});
            book->setValue("note", "spicy");
            book->setValue("price", 9.25);
            book->setShelf(shelf);  // adds the shelf along with the book
            realm->add(book);
            shelf->books().append(book);
            bookId = book->id();
            shelfId = shelf->id();
        });
    }
    auto realm = open();
    auto book = realm->object<Book>(bookId);
    ASSERT_TRUE(book);
    EXPECT_EQ(book->title(), "Soup");
    EXPECT_EQ(book->rank(), 7);
    EXPECT_TRUE(book->read());
    EXPECT_EQ(book->value("added"), Value(Foundation::Date{1234.5}));
    EXPECT_EQ(book->value("cover"), Value(Foundation::Data{0, 1, 255}));
    EXPECT_EQ(book->value("note"), Value("spicy"));
    EXPECT_EQ(book->value("price"), Value(9.25));
    ASSERT_TRUE(book->shelf());
    EXPECT_EQ(book->shelf()->name(), "kitchen");
    auto shelf = realm->object<Shelf>(shelfId);
    ASSERT_EQ(shelf->books().count(), 1u);
    EXPECT_TRUE(shelf->books().at<Book>(0)->isSameObject(*book));
    EXPECT_EQ(shelf->holds().count(), 1u);
}

TEST_F(StoreTest, NewObjectsTakeSchemaDefaultsAndHandlesOfOneObjectAreLive) {
    auto realm = open();
    auto book = std::make_shared<Book>();
    EXPECT_EQ(book->title(), "untitled");
    EXPECT_EQ(book->value("note"), Value());
    EXPECT_FALSE(book->isManaged());
    realm->write([&] { realm->add(book); });
    EXPECT_TRUE(book->isManaged());
    auto other = realm->objects<Book>().first();
    realm->write([&] { other->setTitle("changed"); });
    EXPECT_EQ(book->title(), "changed");
}

TEST_F(StoreTest, PlainAddOfATakenPrimaryKeyIsAnErrorAndAddsNothing) {
    auto realm = open();
    auto first = addBooks(*realm, {{"a", 1}})[0];
    auto copy = std::make_shared<Book>("b", 2);
    copy->setId(first->id());
    realm->beginWrite();
    try {
        realm->add(copy);
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::primaryKeyExists);
        EXPECT_NE(e.error().description.find(first->id()), std::string::npos);
    }
    realm->cancelWrite();
    EXPECT_EQ(realm->objects<Book>().count(), 1u);
    EXPECT_EQ(first->title(), "a");
    EXPECT_FALSE(copy->isManaged());
}

TEST_F(StoreTest, AddOrUpdateOverwritesEveryStoredPropertyOfTheExistingObject) {
    auto realm = open();
    auto stored = addBooks(*realm, {{"old", 1}})[0];
    auto incoming = std::make_shared<Book>("new", 5);
    incoming->setId(stored->id());
    realm->write([&] { realm->add(incoming, UpdatePolicy::modified); });
    EXPECT_EQ(realm->objects<Book>().count(), 1u);
    EXPECT_EQ(stored->title(), "new");
    EXPECT_EQ(stored->rank(), 5);
    EXPECT_TRUE(incoming->isSameObject(*stored));
}

TEST_F(StoreTest, ChangesOutsideAWriteTransactionAreRefused) {
    auto realm = open();
    auto book = addBooks(*realm, {{"a", 1}})[0];
    EXPECT_THROW(book->setTitle("x"), RealmError);
    EXPECT_THROW(realm->add(std::make_shared<Book>()), RealmError);
    EXPECT_THROW(realm->remove(book), RealmError);
    EXPECT_EQ(book->title(), "a");
}

TEST_F(StoreTest, ACancelledWriteRestoresTheValuesTheLastCommittedWriteLeft) {
    auto realm = open();
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}, {"c", 3}});
    realm->write([&] {
        books[0]->setTitle("a1");
        books[2]->setTitle("c1");
    });
    // Changed in another order than before, some twice: each goes back to
    // what the committed write left, none to what the one before it had.
    realm->beginWrite();
    books[2]->setTitle("c2");
    books[1]->setTitle("b2");
    books[0]->setTitle("a2");
    books[2]->setTitle("c3");
    realm->add(std::make_shared<Book>("d", 4));
    realm->cancelWrite();
    EXPECT_THAT(titles(realm->objects<Book>()), ElementsAre("a1", "b", "c1"));
    realm->write([&] { books[1]->setTitle("b3"); });
    books.clear();
    realm.reset();
    EXPECT_THAT(titles(open()->objects<Book>()), ElementsAre("a1", "b3", "c1"));
}

TEST_F(StoreTest, CancelledWriteLeavesNoTraceInMemoryOrFile) {
    auto realm = open();
    auto books = addBooks(*realm, {{"keep", 1}, {"gone", 2}});
    realm->beginWrite();
    auto added = std::make_shared<Book>("added", 3);
    realm->add(added);
    books[0]->setTitle("renamed");
    realm->remove(books[1]);
    realm->cancelWrite();

    EXPECT_TRUE(added->isInvalidated());
    EXPECT_EQ(books[0]->title(), "keep");
    EXPECT_FALSE(books[1]->isInvalidated());
    EXPECT_THAT(titles(realm->objects<Book>()), ElementsAre("keep", "gone"));
    books.clear();
    added.reset();
    realm.reset();
    EXPECT_THAT(titles(open()->objects<Book>()), ElementsAre("keep", "gone"));
}

TEST_F(StoreTest, FailedCommitIsRolledBackAndReported) {
    auto realm = open();
    auto book = addBooks(*realm, {{"a", 1}})[0];
    ObjectStore::testing::failNextCommits(1);
    realm->beginWrite();
    book->setTitle("b");
    realm->add(std::make_shared<Book>("c", 2));
    try {
        realm->commitWrite();
        FAIL() << "expected an error";
    } catch (const RealmError& e) {
        EXPECT_EQ(e.code(), ErrorCode::commitFailed);
    }
    EXPECT_FALSE(realm->isInWriteTransaction());
    EXPECT_EQ(book->title(), "a");
    EXPECT_EQ(realm->objects<Book>().count(), 1u);
    book.reset();
    realm.reset();
    EXPECT_THAT(titles(open()->objects<Book>()), ElementsAre("a"));
}

TEST_F(StoreTest, DeletingAnObjectClearsLinksAndListEntriesToIt) {
    auto realm = open();
    auto shelf = std::make_shared<Shelf>("s");
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}});
    realm->write([&] {
        realm->add(shelf);
        for (auto& b : books) {
            b->setShelf(shelf);
            shelf->books().append(b);
        }
    });
    realm->write([&] { realm->remove(books[0]); });
    EXPECT_TRUE(books[0]->isInvalidated());
    EXPECT_EQ(shelf->books().count(), 1u);
    EXPECT_EQ(shelf->holds().count(), 1u);
    realm->write([&] { realm->remove(shelf); });
    EXPECT_EQ(books[1]->shelf(), nullptr);
    books.clear();
    shelf.reset();
    realm.reset();
    auto reopened = open();
    EXPECT_EQ(reopened->objects<Book>().first()->shelf(), nullptr);
    EXPECT_EQ(reopened->objects<Shelf>().count(), 0u);
}

TEST_F(StoreTest, NaturalOrderIsInsertionOrderAndKeysAreNotReused) {
    auto realm = open();
    auto books = addBooks(*realm, {{"a", 0}, {"b", 0}, {"c", 0}});
    realm->write([&] { realm->remove(books[0]); });
    addBooks(*realm, {{"d", 0}});
    EXPECT_THAT(titles(realm->objects<Book>()), ElementsAre("b", "c", "d"));
    books.clear();
    realm.reset();
    EXPECT_THAT(titles(open()->objects<Book>()), ElementsAre("b", "c", "d"));
}

TEST_F(StoreTest, OrderAndPrimaryKeysHoldThroughManyDeletionsAndAReopen) {
    std::vector<std::string> kept, removed;
    {
        auto realm = open();
        std::vector<std::pair<std::string, std::int64_t>> items;
        for (int i = 0; i < 150; ++i) items.emplace_back("t" + std::to_string(i), i);
        auto books = addBooks(*realm, items);
        realm->write([&] {
            for (int i = 0; i < 150; ++i)
                if (i % 3 != 0) realm->remove(books[static_cast<std::size_t>(i)]);
        });
        for (int i = 0; i < 150; ++i) (i % 3 ? removed : kept).push_back(books[static_cast<std::size_t>(i)]->id());
        // A cancelled deletion puts the object back in its place.
        realm->beginWrite();
        realm->remove(realm->object<Book>(kept[1]));
        EXPECT_EQ(realm->object<Book>(kept[1]), nullptr);
        realm->cancelWrite();
        ASSERT_NE(realm->object<Book>(kept[1]), nullptr);
        addBooks(*realm, {{"last", 999}});
    }
    auto realm = open();
    auto all = realm->objects<Book>();
    ASSERT_EQ(all.count(), kept.size() + 1);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(all[i]->id(), kept[i]);
        EXPECT_EQ(all[i]->rank(), static_cast<std::int64_t>(3 * i));
        EXPECT_TRUE(realm->object<Book>(kept[i])->isSameObject(*all[i]));
    }
    EXPECT_EQ(all.last()->title(), "last");
    for (auto& id : removed) EXPECT_EQ(realm->object<Book>(id), nullptr);
    auto copy = std::make_shared<Book>("copy", 1);
    copy->setId(kept[2]);
    realm->beginWrite();
    EXPECT_THROW(realm->add(copy), RealmError);
    realm->cancelWrite();
}

struct FilterCase {
    const char* format;
    Foundation::Array arguments;
    std::vector<std::string> expected;
};

TEST_F(StoreTest, FiltersMatchThePredicateForms) {
    auto realm = open();
    auto shelf = std::make_shared<Shelf>("top");
    auto books = addBooks(*realm, {{"History", 0}, {"history", 1}, {"Atlas", 2}, {"Poems", 3}});
    realm->write([&] {
        books[1]->setRead(true);
        books[3]->setRead(true);
        books[2]->setShelf(shelf);
        books[3]->setValue("note", "n");
    });
    std::vector<FilterCase> cases = {
        {"read == false", {}, {"History", "Atlas"}},
        {"read == NO", {}, {"History", "Atlas"}},
        {"read = 1", {}, {"history", "Poems"}},
        {"title == %@", {"History"}, {"History"}},
        {"title != %@", {"History"}, {"history", "Atlas", "Poems"}},
        {"rank == %d", {2}, {"Atlas"}},
        {"rank >= 1 AND rank < 3", {}, {"history", "Atlas"}},
        {"read == false && rank == %d", {2}, {"Atlas"}},
        {"rank == 0 OR rank == 3", {}, {"History", "Poems"}},
        {"NOT (rank > 0)", {}, {"History"}},
        {"%@ == title", {"Poems"}, {"Poems"}},
        {"2 < rank", {}, {"Poems"}},
        {"note == nil", {}, {"History", "history", "Atlas"}},
        {"note != NULL", {}, {"Poems"}},
        {"shelf.name == 'top'", {}, {"Atlas"}},
        {"shelf == %@", {Value(shelf)}, {"Atlas"}},
        {"price == 0", {}, {"History", "history", "Atlas", "Poems"}},
        {"%K == %d", {"rank", 1}, {"history"}},
    };
    for (auto& c : cases)
        EXPECT_THAT(titles(realm->objects<Book>().filter(Predicate(c.format, c.arguments))),
                    ElementsAreArray(c.expected))
            << c.format;
}

TEST_F(StoreTest, MalformedOrMismatchedPredicatesAreRefused) {
    auto realm = open();
    for (auto [format, args] : std::vector<std::pair<const char*, Foundation::Array>>{
             {"nope == 1", {}},
             {"title == %@", {}},
             {"title == 3", {}},
             {"rank == %d", {"3"}},
             {"title < 'b'", {}},
             {"rank == ", {}},
             {"(rank == 1", {}},
             {"rank == 1 garbage", {}},
             {"books.title == 'a'", {}},
         })
        EXPECT_THROW(realm->objects<Shelf>().filter(Predicate(format, args)).count(), InvalidPredicate) << format;
}

TEST_F(StoreTest, SortsAreStableInBothDirectionsAndResultsStayLive) {
    auto realm = open();
    addBooks(*realm, {{"b1", 2}, {"a1", 1}, {"b2", 2}, {"c", 3}, {"a2", 1}});
    auto ascending = realm->objects<Book>().sorted("rank");
    auto descending = realm->objects<Book>().sorted("rank", false);
    EXPECT_THAT(titles(ascending), ElementsAre("a1", "a2", "b1", "b2", "c"));
    EXPECT_THAT(titles(descending), ElementsAre("c", "b1", "b2", "a1", "a2"));
    auto live = realm->objects<Book>().filter("rank == 2").sorted("title", false);
    EXPECT_THAT(titles(live), ElementsAre("b2", "b1"));
    addBooks(*realm, {{"b3", 2}});
    EXPECT_THAT(titles(live), ElementsAre("b3", "b2", "b1"));
    realm->beginWrite();
    realm->objects<Book>().filter("title == 'b2'").first()->setRank(9);
    EXPECT_THAT(titles(live), ElementsAre("b3", "b1"));  // uncommitted changes show inside the transaction
    realm->cancelWrite();
    EXPECT_THAT(titles(live), ElementsAre("b3", "b2", "b1"));
}

TEST_F(StoreTest, ValueForKeyReadsAPropertyOfEveryObjectInTheResultsOrder) {
    auto realm = open();
    auto books = addBooks(*realm, {{"b", 2}, {"a", 1}, {"c", 3}});
    auto shelf = std::make_shared<Shelf>("Top");
    realm->write([&] {
        realm->add(shelf);
        books[2]->setShelf(shelf);
    });
    auto byRank = realm->objects<Book>().sorted("rank").any();
    EXPECT_THAT(byRank.valueForKey("title"), ElementsAre(Value("a"), Value("b"), Value("c")));
    EXPECT_THAT(byRank.valueForKey("shelf.name"), ElementsAre(Value(), Value(), Value("Top")));
    EXPECT_THAT(shelf->holds().any().valueForKey("rank"), ElementsAre(Value(std::int64_t{3})));
    EXPECT_THAT(realm->objects<Book>().filter("rank > 5").any().valueForKey("title"), IsEmpty());
    EXPECT_THROW(byRank.valueForKey("colour"), InvalidPredicate);
}

TEST_F(StoreTest, TheSameFileOnTheSameThreadIsOneInstance) {
    auto a = open();
    auto b = open();
    EXPECT_EQ(a->core(), b->core());
    Configuration other = config;
    other.schemaVersion = 2;
    EXPECT_THROW(Realm::open(other), RealmError);
}

}  // namespace
}  // namespace storetest
