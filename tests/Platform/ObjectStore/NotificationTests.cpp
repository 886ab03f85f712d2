#include <gmock/gmock.h>
#include <sqlite3.h>

#include "StoreTestSupport.h"

namespace storetest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Kind = AnyCollectionChange::Kind;

struct Recorder {
    std::vector<AnyCollectionChange> changes;
    std::function<void(const AnyCollectionChange&)> block() {
        return [this](const AnyCollectionChange& c) { changes.push_back(c); };
    }
    const AnyCollectionChange& last() const { return changes.back(); }
};

class NotificationTest : public StoreTest {};

TEST_F(NotificationTest, InitialDeliveryComesFromTheRunLoopThenUpdatesWithIndexes) {
    auto realm = open();
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}, {"c", 3}});
    Recorder rec;
    auto token = realm->objects("Book").sorted("rank").observe(rec.block());
    EXPECT_THAT(rec.changes, IsEmpty());
    executor->drain();
    ASSERT_EQ(rec.changes.size(), 1u);
    EXPECT_EQ(rec.last().kind, Kind::Initial);
    EXPECT_EQ(rec.last().results->count(), 3u);

    // insertion
    addBooks(*realm, {{"d", 0}});
    executor->drain();
    ASSERT_EQ(rec.changes.size(), 2u);
    EXPECT_EQ(rec.last().kind, Kind::Update);
    EXPECT_THAT(rec.last().insertions, ElementsAre(0));
    EXPECT_THAT(rec.last().deletions, IsEmpty());
    EXPECT_THAT(rec.last().modifications, IsEmpty());

    // modification in place (new positions)
    realm->write([&] { books[1]->setTitle("B"); });
    executor->drain();
    EXPECT_THAT(rec.last().modifications, ElementsAre(2));
    EXPECT_THAT(rec.last().insertions, IsEmpty());

    // deletion (old positions)
    realm->write([&] { realm->remove(books[0]); });
    executor->drain();
    EXPECT_THAT(rec.last().deletions, ElementsAre(1));
    EXPECT_THAT(rec.last().insertions, IsEmpty());
    EXPECT_THAT(rec.last().modifications, IsEmpty());
    EXPECT_EQ(rec.changes.size(), 4u);
}

TEST_F(NotificationTest, CommitsBeforeTheRunLoopTurnsAreCoalesced) {
    auto realm = open();
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}});
    Recorder rec;
    auto token = realm->objects("Book").observe(rec.block());
    executor->drain();
    // Two commits without a drain in between: the second beginWrite hands the
    // first change over synchronously, so each arrives once and in order.
    realm->write([&] { books[0]->setRank(5); });
    realm->write([&] { realm->add(std::make_shared<Book>("c", 3)); });
    executor->drain();
    ASSERT_EQ(rec.changes.size(), 3u);
    EXPECT_THAT(rec.changes[1].modifications, ElementsAre(0));
    EXPECT_THAT(rec.changes[2].insertions, ElementsAre(2));
}

TEST_F(NotificationTest, ChangesInPlaceAndAdditionsAtTheEndComeInOneUpdate) {
    auto realm = open();
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}, {"c", 3}});
    Recorder rec;
    auto token = realm->objects("Book").observe(rec.block());
    executor->drain();
    realm->write([&] {
        books[2]->setTitle("C");
        books[0]->setTitle("A");
        realm->add(std::make_shared<Book>("d", 4));
        realm->add(std::make_shared<Book>("e", 5));
    });
    executor->drain();
    ASSERT_EQ(rec.changes.size(), 2u);
    EXPECT_THAT(rec.last().modifications, ElementsAre(0, 2));
    EXPECT_THAT(rec.last().insertions, ElementsAre(3, 4));
    EXPECT_THAT(rec.last().deletions, IsEmpty());
}

TEST_F(NotificationTest, AnObjectMovedByItsSortKeyIsADeletionAndAnInsertion) {
    auto realm = open();
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}, {"c", 3}});
    Recorder rec;
    auto token = realm->objects("Book").sorted("rank").observe(rec.block());
    executor->drain();
    realm->write([&] { books[0]->setRank(10); });
    executor->drain();
    ASSERT_EQ(rec.changes.size(), 2u);
    EXPECT_THAT(rec.last().deletions, ElementsAre(0));
    EXPECT_THAT(rec.last().insertions, ElementsAre(2));
    EXPECT_THAT(rec.last().modifications, IsEmpty());
}

TEST_F(NotificationTest, FilteredResultsReportObjectsEnteringAndLeaving) {
    auto realm = open();
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}});
    Recorder rec;
    auto token = realm->objects("Book").filter("read == false").observe(rec.block());
    executor->drain();
    realm->write([&] { books[0]->setRead(true); });
    executor->drain();
    EXPECT_THAT(rec.last().deletions, ElementsAre(0));
    realm->write([&] { books[0]->setRead(false); });
    executor->drain();
    EXPECT_THAT(rec.last().insertions, ElementsAre(0));
    // A change to an object outside the result set delivers nothing.
    auto before = rec.changes.size();
    realm->write([&] { books[0]->setRead(true); });
    executor->drain();
    realm->write([&] { books[0]->setTitle("still read"); });
    executor->drain();
    EXPECT_EQ(rec.changes.size(), before + 1);
}

TEST_F(NotificationTest, CommitSkippingATokenHidesOnlyThatCommitFromThatObserver) {
    auto realm = open();
    Recorder skipped, other;
    auto skippedToken = realm->objects("Book").observe(skipped.block());
    auto otherToken = realm->objects("Book").observe(other.block());
    executor->drain();

    realm->beginWrite();
    realm->add(std::make_shared<Book>("quiet", 1));
    realm->commitWrite({skippedToken});
    executor->drain();
    EXPECT_EQ(skipped.changes.size(), 1u);
    ASSERT_EQ(other.changes.size(), 2u);
    EXPECT_THAT(other.last().insertions, ElementsAre(0));

    // A later, unskipped commit is reported relative to the skipped state.
    addBooks(*realm, {{"loud", 2}});
    executor->drain();
    ASSERT_EQ(skipped.changes.size(), 2u);
    EXPECT_THAT(skipped.last().insertions, ElementsAre(1));

    // A change still pending when a skipping write begins is delivered first.
    addBooks(*realm, {{"pending", 3}});
    realm->beginWrite();
    EXPECT_EQ(skipped.changes.size(), 3u);
    EXPECT_THAT(skipped.last().insertions, ElementsAre(2));
    realm->add(std::make_shared<Book>("quiet too", 4));
    realm->commitWrite({skippedToken});
    executor->drain();
    EXPECT_EQ(skipped.changes.size(), 3u);
}

TEST_F(NotificationTest, ReleasingTheTokenStopsDelivery) {
    auto realm = open();
    Recorder rec;
    auto token = realm->objects("Book").observe(rec.block());
    executor->drain();
    token.reset();
    addBooks(*realm, {{"a", 1}});
    executor->drain();
    EXPECT_EQ(rec.changes.size(), 1u);

    Recorder never;
    auto dropped = realm->objects("Book").observe(never.block());
    dropped->invalidate();
    executor->drain();
    EXPECT_THAT(never.changes, IsEmpty());
}

TEST_F(NotificationTest, LinkingObjectsAreObservable) {
    auto realm = open();
    auto shelf = std::make_shared<Shelf>("s");
    auto books = addBooks(*realm, {{"a", 1}, {"b", 2}});
    realm->write([&] { realm->add(shelf); });
    Recorder rec;
    auto token = shelf->holds().observe([&](const CollectionChange<Book>& c) {
        AnyCollectionChange any;
        any.kind = c.kind;
        any.insertions = c.insertions;
        rec.changes.push_back(any);
    });
    executor->drain();
    realm->write([&] { books[1]->setShelf(shelf); });
    executor->drain();
    ASSERT_EQ(rec.changes.size(), 2u);
    EXPECT_THAT(rec.last().insertions, ElementsAre(0));
}

TEST_F(NotificationTest, AStoreThatCanNoLongerBeReadDeliversAnErrorAndThenNothing) {
    auto realm = open();
    Recorder rec;
    auto token = realm->objects("Book").observe(rec.block());
    executor->drain();
    // Another program moves the file to a schema this instance does not know.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(config.path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE _vexil_meta SET value=9 WHERE key='schemaVersion'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_THROW(realm->refresh(), RealmError);
    executor->drain();
    ASSERT_EQ(rec.changes.size(), 2u);
    EXPECT_EQ(rec.last().kind, Kind::Error);
    ASSERT_TRUE(rec.last().error);
    EXPECT_EQ(rec.last().error->code, static_cast<long>(ErrorCode::schemaMismatch));
}

}  // namespace
}  // namespace storetest
